#include "platform/locked_file.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/win32_types.h"
#include "support/temp_dir.h"
#ifdef _WIN32
#include "platform/device_io.h"
#include "platform/kernel_object.h"
#endif

namespace {

class LockedFileTest : public ::testing::Test {
  protected:
    void SetUp() override {
        dir = temp.path();
        path = temp / "prog.hex";
        Write(path, "first content\n");
    }

    static void Write(const std::string& p, const std::string& content) {
        std::ofstream(p, std::ios::binary | std::ios::trunc) << content;
    }
    static std::string Text(const std::vector<char>& v) { return std::string(v.begin(), v.end()); }

    testing_support::TempDir temp;
    std::string dir;
    std::string path;
};

// Another program writing the file: a cooperating writer's lock on POSIX, a handle with write
// access on Windows. Null when it cannot get the file.
std::shared_ptr<void> OpenAsWriter(const std::string& p) {
#ifdef _WIN32
    plat::HANDLE h = plat::CreateFileA(p.c_str(), plat::GENERIC_WRITE,
                                       plat::FILE_SHARE_READ | plat::FILE_SHARE_WRITE, nullptr,
                                       plat::OPEN_EXISTING, 0, nullptr);
    if (h == plat::INVALID_HANDLE_VALUE)
        return nullptr;
    return std::shared_ptr<void>(h, [](void* handle) { plat::CloseHandle(handle); });
#else
    int fd = ::open(p.c_str(), O_RDWR);
    if (fd < 0)
        return nullptr;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::shared_ptr<void>(new int(fd), [](void* f) {
        ::close(*static_cast<int*>(f));
        delete static_cast<int*>(f);
    });
#endif
}

bool WriterCanLock(const std::string& p) {
    return OpenAsWriter(p) != nullptr;
}

TEST_F(LockedFileTest, HoldsTheFileAndItsContentUntilClosed) {
    plat::LockedFile file;
    std::vector<char> content;
    ASSERT_TRUE(file.Open(path, content));
    EXPECT_EQ(Text(content), "first content\n");
    EXPECT_EQ(file.size(), 14u);
    EXPECT_FALSE(WriterCanLock(path));

    // Repeated reads give the same content.
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(file.ReadAll(content));
        EXPECT_EQ(Text(content), "first content\n");
    }

    plat::LockedFile second;
    ASSERT_TRUE(second.Open(path));
    EXPECT_TRUE(second.SameAs(file));

    plat::LockedFile moved(std::move(file));
    EXPECT_FALSE(file.IsOpen());
    EXPECT_TRUE(moved.ReadAll(content));
    moved.Close();
    second.Close();
    EXPECT_TRUE(WriterCanLock(path));
    EXPECT_FALSE(moved.ReadAll(content));
}

TEST_F(LockedFileTest, RefusesWhatCannotBeHeld) {
    plat::LockedFile file;
    EXPECT_FALSE(file.Open(temp / "missing.hex"));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(file.Open(dir));
    EXPECT_FALSE(file.Open(""));
#ifndef _WIN32
    ASSERT_EQ(::mkfifo((dir + "/fifo").c_str(), 0600), 0);
    EXPECT_FALSE(file.Open(dir + "/fifo"));  // and does not hang
#endif

    {
        auto writer = OpenAsWriter(path);  // a writer holds it
        ASSERT_NE(writer, nullptr);
        EXPECT_FALSE(file.Open(path));
        EXPECT_EQ(plat::GetLastError(), plat::ERROR_SHARING_VIOLATION);
    }
    EXPECT_TRUE(file.Open(path));

    // Larger than any program file: refused before anything is read (a sparse file).
    const std::string huge = temp / "huge.hex";
    Write(huge, "");
    std::filesystem::resize_file(huge, plat::kMaxLockedFileSize + 1);
    EXPECT_FALSE(file.Open(huge));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_NOT_ENOUGH_MEMORY);
}

TEST_F(LockedFileTest, AFileTheProgramWritesIsRefusedWhileItIsHeld) {
    plat::LockedFile held;
    ASSERT_TRUE(held.Open(path));
    EXPECT_EQ(plat::OpenForAppend(path), nullptr);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_SHARING_VIOLATION);
    held.Close();

    std::FILE* file = plat::OpenForAppend(path);
    ASSERT_NE(file, nullptr);
    EXPECT_FALSE(held.Open(path)) << "nor can it be registered while being written";
    ASSERT_GE(std::fputs("more\n", file), 0);
    std::fclose(file);
    std::vector<char> content;
    ASSERT_TRUE(held.Open(path, content));
    EXPECT_EQ(Text(content), "first content\nmore\n");
}

#ifdef _WIN32
TEST_F(LockedFileTest, NoChangeIsPossibleWhileHeld) {
    // Windows keeps writers, renames and deletions away from the held file altogether.
    plat::LockedFile file;
    ASSERT_TRUE(file.Open(path));
    EXPECT_FALSE(std::ofstream(path, std::ios::binary | std::ios::app).is_open());
    const std::string other = temp / "other.hex";
    Write(other, "other content\n");
    EXPECT_NE(std::rename(other.c_str(), path.c_str()), 0);
    EXPECT_NE(std::remove(path.c_str()), 0);
    std::vector<char> content;
    ASSERT_TRUE(file.ReadAll(content));
    EXPECT_EQ(Text(content), "first content\n");
}
#else
TEST_F(LockedFileTest, AnyChangeAfterOpeningIsDetected) {
    std::vector<char> content;
    {
        plat::LockedFile file;
        ASSERT_TRUE(file.Open(path));
        // Same size and time stamps, other bytes.
        struct stat st {};
        ASSERT_EQ(::stat(path.c_str(), &st), 0);
        {
            std::fstream out(path, std::ios::binary | std::ios::in | std::ios::out);
            out << "FIRST";
        }
        decltype(st.st_mtim) times[2] = {st.st_atim, st.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        EXPECT_FALSE(file.ReadAll(content));
        EXPECT_TRUE(content.empty());
    }
    {
        plat::LockedFile file;
        ASSERT_TRUE(file.Open(path));
        std::ofstream(path, std::ios::binary | std::ios::app) << "more";
        EXPECT_FALSE(file.ReadAll(content));
    }
    {
        plat::LockedFile file;
        ASSERT_TRUE(file.Open(path));
        std::string other = dir + "/other.hex";
        Write(other, "other content\n");
        ASSERT_EQ(::rename(other.c_str(), path.c_str()), 0);
        EXPECT_FALSE(file.ReadAll(content));
    }
    {
        plat::LockedFile file;
        ASSERT_TRUE(file.Open(path));
        ASSERT_EQ(::unlink(path.c_str()), 0);
        EXPECT_FALSE(file.ReadAll(content));
    }
}
#endif

TEST(Fingerprint, EveryByteAndTheLengthCount) {
    std::vector<unsigned char> data(1000);
    for (size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<unsigned char>(i * 31);
    const uint64_t base = plat::FingerprintBytes(data.data(), data.size());
    for (size_t i : {0u, 7u, 31u, 32u, 995u, 999u}) {
        data[i] ^= 1;
        EXPECT_NE(plat::FingerprintBytes(data.data(), data.size()), base) << i;
        data[i] ^= 1;
    }
    EXPECT_NE(plat::FingerprintBytes(data.data(), data.size() - 1), base);
    EXPECT_EQ(plat::FingerprintBytes(data.data(), data.size()), base);
}

}  // namespace
