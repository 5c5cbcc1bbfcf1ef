#include "platform/files.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>
#include <vector>

#include "platform/kernel_object.h"
#include "support/temp_dir.h"

namespace {

using testing_support::TempDir;
using testing_support::WriteBytes;

struct Parts {
    std::string drive, dir, name, ext;
};

Parts Split(const char* path) {
    char drive[8], dir[260], name[260], ext[260];
    plat::SplitPath(path, drive, sizeof drive, dir, sizeof dir, name, sizeof name, ext, sizeof ext);
    return {drive, dir, name, ext};
}

TEST(SplitPath, DirectoryKeepsItsSeparatorAndExtensionStartsAtTheLastDot) {
    auto p = Split("/opt/quorvel/bin/Quorvel");
    EXPECT_EQ(p.drive, "");
    EXPECT_EQ(p.dir, "/opt/quorvel/bin/");
    EXPECT_EQ(p.name, "Quorvel");
    EXPECT_EQ(p.ext, "");

    p = Split("/a.d/b.c.TRG");
    EXPECT_EQ(p.dir, "/a.d/");
    EXPECT_EQ(p.name, "b.c");
    EXPECT_EQ(p.ext, ".TRG");

    p = Split("plain.ini");
    EXPECT_EQ(p.dir, "");
    EXPECT_EQ(p.name, "plain");
    EXPECT_EQ(p.ext, ".ini");

#ifdef _WIN32
    // Windows splits at the last dot whatever leads the name.
    p = Split("/home/u/.bashrc");
    EXPECT_EQ(p.name, "");
    EXPECT_EQ(p.ext, ".bashrc");
    p = Split("C:\\Tools\\TRG\\QX08C032.TRG");
    EXPECT_EQ(p.drive, "C:");
    EXPECT_EQ(p.dir, "\\Tools\\TRG\\");
    EXPECT_EQ(p.name, "QX08C032");
    EXPECT_EQ(p.ext, ".TRG");
#else
    p = Split("/home/u/.bashrc");
    EXPECT_EQ(p.name, ".bashrc");
    EXPECT_EQ(p.ext, "");
    p = Split("/x/..");
    EXPECT_EQ(p.name, "..");
    EXPECT_EQ(p.ext, "");
#endif
    p = Split("/x/.config.old");
    EXPECT_EQ(p.name, ".config");
    EXPECT_EQ(p.ext, ".old");
    p = Split("trailing.");
    EXPECT_EQ(p.name, "trailing");
    EXPECT_EQ(p.ext, ".");

    p = Split("/dir/");
    EXPECT_EQ(p.dir, "/dir/");
    EXPECT_EQ(p.name, "");
    p = Split(nullptr);
    EXPECT_EQ(p.dir + p.name + p.ext, "");
}

TEST(SplitPath, EveryPartIsBoundedByItsBufferAndNullPartsAreSkipped) {
    char dir[5];
    char name[3];
    char ext[2] = {'X', 'X'};
    char untouched = 'U';
    plat::SplitPath("/opt/quorvel/Quorvel.ini", nullptr, 0, dir, sizeof dir, name, sizeof name, ext,
                    sizeof ext);
    EXPECT_STREQ(dir, "/opt");
    EXPECT_STREQ(name, "Qu");
    EXPECT_STREQ(ext, ".");
    plat::SplitPath("/a/b.c", &untouched, 0, nullptr, 0, nullptr, 0, nullptr, 0);
    EXPECT_EQ(untouched, 'U');
}

TEST(ModuleFileName, ReportsTheExecutableOrTheTestOverrideAndCutsToTheBuffer) {
    char buf[4096];
    uint32_t n = plat::GetModuleFileNameA(nullptr, buf, sizeof buf);
    ASSERT_GT(n, 0u);
    EXPECT_TRUE(std::filesystem::path(buf).is_absolute()) << buf;
    EXPECT_TRUE(plat::FileExists(buf));
    EXPECT_NE(std::string(buf).find("files_test"), std::string::npos);

    plat::SetModuleFileNameOverrideForTesting("/opt/q/bin/Quorvel");
    EXPECT_EQ(plat::GetModuleFileNameA(nullptr, buf, sizeof buf), 18u);
    EXPECT_STREQ(buf, "/opt/q/bin/Quorvel");
    char small[5];
    EXPECT_EQ(plat::GetModuleFileNameA(nullptr, small, sizeof small), 5u);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_STREQ(small, "/opt");
    plat::SetModuleFileNameOverrideForTesting("");
    EXPECT_EQ(plat::GetModuleFileNameA(nullptr, buf, sizeof buf), n);
    EXPECT_EQ(plat::GetModuleFileNameA(&n, buf, sizeof buf), 0u);  // not a module
}

class FindFiles : public ::testing::Test {
  protected:
    // Every name the search reports, in order; "!" marks directories.
    std::vector<std::string> Find(const std::string& pattern) {
        std::vector<std::string> names;
        plat::WIN32_FIND_DATAA data;
        plat::HANDLE h = plat::FindFirstFileA(pattern.c_str(), &data);
        if (h == plat::INVALID_HANDLE_VALUE)
            return names;
        do {
            bool isDir = data.dwFileAttributes & plat::FILE_ATTRIBUTE_DIRECTORY;
            names.push_back(std::string(data.cFileName) + (isDir ? "!" : ""));
        } while (plat::FindNextFileA(h, &data));
        EXPECT_EQ(plat::GetLastError(), plat::ERROR_NO_MORE_FILES);
        EXPECT_TRUE(plat::FindClose(h));
        return names;
    }
    TempDir dir_;
};

TEST_F(FindFiles, MatchesWithoutRegardToCaseInTheSystemsOrderOnlyFilesAndDirectories) {
    for (const char* name : {"c.TRG", "a.trg", "B.Trg", "d.txt", "e.trgx", "f.TRG.bak", ".g.trg"})
        WriteBytes(dir_ / name, "x");
    WriteBytes(dir_ / "sized.TRG", "12345");
    ASSERT_TRUE(std::filesystem::create_directory(dir_ / "sub.TRG"));
#ifdef _WIN32
    // e.trgx has the short name E~1.TRG, which the system's own search matches. The names
    // come as NTFS lists them, in upper case order.
    EXPECT_EQ(Find(dir_ / "*.TRG"), (std::vector<std::string>{".g.trg", "a.trg", "B.Trg", "c.TRG",
                                                              "sized.TRG", "sub.TRG!"}));
    EXPECT_EQ(Find(dir_ / "?.t*"), (std::vector<std::string>{"a.trg", "B.Trg", "c.TRG", "d.txt",
                                                             "e.trgx", "f.TRG.bak"}));
#else
    ASSERT_EQ(::mkfifo((dir_ / "pipe.TRG").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("a.trg", (dir_ / "link.TRG").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", (dir_ / "dangling.TRG").c_str()), 0);

    EXPECT_EQ(Find(dir_ / "*.TRG"),
              (std::vector<std::string>{".g.trg", "B.Trg", "a.trg", "c.TRG", "link.TRG",
                                        "sized.TRG", "sub.TRG!"}));
    EXPECT_EQ(Find(dir_ / "?.t*"), (std::vector<std::string>{"B.Trg", "a.trg", "c.TRG", "d.txt",
                                                             "e.trgx", "f.TRG.bak"}));
#endif
    EXPECT_EQ(Find(dir_ / "*.*.BAK"), (std::vector<std::string>{"f.TRG.bak"}));

    plat::WIN32_FIND_DATAA data;
    plat::HANDLE h = plat::FindFirstFileA((dir_ / "SIZED.trg").c_str(), &data);
    ASSERT_NE(h, plat::INVALID_HANDLE_VALUE);
    EXPECT_EQ(data.nFileSizeBytes, 5u);
    EXPECT_EQ(data.dwFileAttributes & plat::FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_FALSE(plat::FindNextFileA(h, &data));
    EXPECT_TRUE(plat::FindClose(h));
    EXPECT_FALSE(plat::FindClose(h));
}

TEST_F(FindFiles, StarDotStarMatchesNamesWithoutADotToo) {
    WriteBytes(dir_ / "README", "x");
    WriteBytes(dir_ / "x.y", "x");
    EXPECT_EQ(Find(dir_ / "*.*"), (std::vector<std::string>{"README", "x.y"}));
    EXPECT_EQ(Find(dir_ / "*"), (std::vector<std::string>{"README", "x.y"}));
    EXPECT_EQ(Find(dir_ / "READ*.*"), (std::vector<std::string>{"README"}));
}

TEST_F(FindFiles, NothingFoundAndBadHandles) {
    plat::WIN32_FIND_DATAA data;
    EXPECT_EQ(plat::FindFirstFileA((dir_ / "*.TRG").c_str(), &data), plat::INVALID_HANDLE_VALUE);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(plat::FindFirstFileA((dir_ / "nodir/*.TRG").c_str(), &data),
              plat::INVALID_HANDLE_VALUE);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_PATH_NOT_FOUND);
    WriteBytes(dir_ / "a.TRG", "x");
    EXPECT_EQ(plat::FindFirstFileA((dir_.path() + "/").c_str(), &data), plat::INVALID_HANDLE_VALUE);

    plat::HANDLE event = plat::CreateEventA(nullptr, true, false, nullptr);
    EXPECT_FALSE(plat::FindNextFileA(event, &data));
    EXPECT_FALSE(plat::FindClose(event));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_HANDLE);
    EXPECT_TRUE(plat::CloseHandle(event));
}

TEST_F(FindFiles, PatternWithoutDirectorySearchesTheWorkingDirectory) {
    WriteBytes(dir_ / "here.TRG", "x");
    const auto cwd = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
    auto names = Find("*.trg");
    std::filesystem::current_path(cwd);
    EXPECT_EQ(names, std::vector<std::string>{"here.TRG"});
    EXPECT_TRUE(plat::FileExists((dir_ / "here.TRG").c_str()));
    EXPECT_FALSE(plat::FileExists((dir_ / "there.TRG").c_str()));
    EXPECT_FALSE(plat::FileExists(nullptr));
}

TEST(Wildcards, PathologicalPatternsStayFast) {
    TempDir dir;
    std::string name(200, 'a');
    WriteBytes(dir / name, "x");
    std::string pattern;
    for (int i = 0; i < 40; ++i)
        pattern += "*a";
    pattern += "*b";
    plat::WIN32_FIND_DATAA data;
    EXPECT_EQ(plat::FindFirstFileA((dir / pattern).c_str(), &data), plat::INVALID_HANDLE_VALUE);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND);
}

}  // namespace
