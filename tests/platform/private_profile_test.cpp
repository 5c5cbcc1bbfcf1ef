#include "platform/private_profile.h"

#include <gtest/gtest.h>

#include <filesystem>

#ifndef _WIN32
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#else
#include "platform/device_io.h"
#include "platform/kernel_object.h"
#endif

#include <functional>
#include <string>
#include <vector>

#include "platform/win32_types.h"
#include "support/temp_dir.h"
#include "support/wine.h"

namespace {

using testing_support::KnownWineDifference;
using testing_support::ListDir;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

class PrivateProfile : public ::testing::Test {
  protected:
    std::string Ini(std::string_view content) {
        std::string path = dir_ / "test.ini";
        WriteBytes(path, content);
        return path;
    }
    // The string read with a generous buffer.
    std::string Get(const char* section, const char* key, const char* def,
                    const std::string& file) {
        char buf[256];
        uint32_t n =
            plat::GetPrivateProfileStringA(section, key, def, buf, sizeof buf, file.c_str());
        return std::string(buf, n);
    }
    bool Write(const char* section, const char* key, const char* value, const std::string& file) {
        return plat::WritePrivateProfileStringA(section, key, value, file.c_str());
    }

    TempDir dir_;
};

TEST_F(PrivateProfile, CopiesAtMostSizeMinusOneCharacters) {
    std::string f = Ini("[section1]\r\nname1=val1\r\n");
    char buf[8];
    EXPECT_EQ(plat::GetPrivateProfileStringA("section1", "name1", "", buf, 4, f.c_str()), 3u);
    EXPECT_STREQ(buf, "val");
    EXPECT_EQ(plat::GetPrivateProfileStringA("section1", "name1", "", buf, 5, f.c_str()), 4u);
    EXPECT_STREQ(buf, "val1");
    buf[0] = 'X';
    EXPECT_EQ(plat::GetPrivateProfileStringA("section1", "name1", "", buf, 0, f.c_str()), 0u);
    EXPECT_EQ(buf[0], 'X');
    // The default is cut the same way.
    EXPECT_EQ(plat::GetPrivateProfileStringA("section1", "nokey", "default", buf, 4, f.c_str()),
              3u);
    EXPECT_STREQ(buf, "def");
}

TEST_F(PrivateProfile, OuterMatchingQuotesAreRemovedOnce) {
    std::string f = Ini("[s]\nname2=\"val2\"\nk=  \"  v  \"  \nm=\"v'\nq='\"x\"'\none=\"\n");
    EXPECT_EQ(Get("s", "name2", "", f), "val2");
    EXPECT_EQ(Get("s", "k", "", f), "  v  ");
    EXPECT_EQ(Get("s", "m", "", f), "\"v'");
    EXPECT_EQ(Get("s", "q", "", f), "\"x\"");
    EXPECT_EQ(Get("s", "one", "", f), "\"");
}

TEST_F(PrivateProfile, NamesMatchInAnyLetterCaseAndCallerNamesAreTrimmedOfSpaces) {
    std::string f = Ini("[section1]\r\nname1=VaL1\r\n");
    EXPECT_EQ(Get("SECTION1", "NaMe1", "", f), "VaL1");
    EXPECT_EQ(Get("  section1 ", " name1  ", "", f), "VaL1");
    if (!KnownWineDifference("Wine trims tabs from the names a caller passes, not spaces only")) {
        EXPECT_EQ(Get("\tsection1", "name1", "none", f), "none");  // only spaces are trimmed
    }
}

TEST_F(PrivateProfile, DefaultLosesTrailingSpacesAndNullDefaultIsEmpty) {
    std::string f = Ini("[s]\r\nk=v\r\n");
    char buf[32];
    EXPECT_EQ(plat::GetPrivateProfileStringA("s", "missing", "default  ", buf, 32, f.c_str()), 7u);
    EXPECT_STREQ(buf, "default");
    EXPECT_EQ(plat::GetPrivateProfileStringA("s", "missing", nullptr, buf, 32, f.c_str()), 0u);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(Get("nosection", "k", "  lead", f), "  lead");
    std::string missing = dir_ / "missing.ini";
    EXPECT_EQ(Get("s", "k", "fallback", missing), "fallback");
    // An empty value is a value, not a missing key.
    EXPECT_EQ(Get("s", "k", "d", Ini("[s]\nk=\n")), "");
}

TEST_F(PrivateProfile, LineEndsAndWhiteSpaceDoNotChangeWhatIsRead) {
    for (std::string_view eol : {"\r\n", "\r", "\n"}) {
        std::string text = "[a]" + std::string(eol) + "x=1" + std::string(eol) + "[b]" +
                           std::string(eol) + "\t y \v=\t 2 \v" + std::string(eol) + "z=3";
        std::string f = Ini(text);
        SCOPED_TRACE(testing::PrintToString(std::string(eol)));
        EXPECT_EQ(Get("a", "x", "", f), "1");
        EXPECT_EQ(Get("b", "y", "", f), "2");
        EXPECT_EQ(Get("b", "z", "", f), "3");  // last line without a break
        EXPECT_EQ(Get("a", "y", "none", f), "none");
    }
}

TEST_F(PrivateProfile, FirstSectionAndFirstEntryWin) {
    std::string f = Ini("[s]\nk=1\nk=2\n[t]\n[t]\nk=v\n[s]\nk=3\nj=4\n");
    EXPECT_EQ(Get("s", "k", "", f), "1");
    EXPECT_EQ(Get("s", "j", "def", f), "def");
    EXPECT_EQ(Get("t", "k", "def", f), "def");
}

TEST_F(PrivateProfile, HeaderForms) {
    EXPECT_EQ(Get("s", "k", "", Ini("[ s ]\nk=v\n")), "v");
    EXPECT_EQ(Get("s", "k", "def", Ini("[s]k=v\n")), "def");
    if (KnownWineDifference("Wine ignores a header without ']', ends the name at the last ']' "
                            "and has no section named \"\""))
        return;
    EXPECT_EQ(Get("s", "k", "", Ini("[s\nk=v\n")), "v");
    EXPECT_EQ(Get("s", "k", "", Ini("[s] trailing ] text\nk=v\n")), "v");
    EXPECT_EQ(Get("", "k", "", Ini("[]\nk=v\n")), "v");
}

TEST_F(PrivateProfile, CommentsAndEntriesBeforeTheFirstHeader) {
    std::string f = Ini("k=early\n[s]\n ;k=v\n#h=1\nx=a;b\nnot an entry\n");
    EXPECT_EQ(Get("s", "k", "def", f), "def");
    EXPECT_EQ(Get("s", "#h", "", f), "1");
    EXPECT_EQ(Get("s", "x", "", f), "a;b");
    EXPECT_EQ(Get("s", "not an entry", "def", f), "def");
    if (!KnownWineDifference("Wine reads entries before the first header as section \"\"")) {
        EXPECT_EQ(Get("", "k", "def", f), "def");
    }
}

TEST_F(PrivateProfile, IntegerReadWrapsModulo2To32) {
    std::string f =
        Ini("[s]\nneg=-1\npos=+1\nbig=4294967296\nbig1=4294967297\nmixed=42A9\nletters=B4\n"
            "hex=0x1F\nHEX=0X1f\nquoted=\"7\"\nabc=102abc\nlead=007\nempty=\nnegbig=-4294967297\n"
            "sp=\" 12\"\nneghex=-0x10\n");
    auto Int = [&](const char* key, int def = -5) {
        return plat::GetPrivateProfileIntA("s", key, def, f.c_str());
    };
    EXPECT_EQ(Int("neg"), 0xFFFFFFFFu);
    EXPECT_EQ(Int("pos"), 1u);
    EXPECT_EQ(Int("big"), 0u);
    EXPECT_EQ(Int("big1"), 1u);
    EXPECT_EQ(Int("mixed"), 42u);
    EXPECT_EQ(Int("letters"), 0u);
    EXPECT_EQ(Int("hex"), 31u);
    EXPECT_EQ(Int("HEX"), 31u);
    EXPECT_EQ(Int("quoted"), 7u);
    EXPECT_EQ(Int("abc"), 102u);
    EXPECT_EQ(Int("lead"), 7u);  // not octal
    EXPECT_EQ(Int("empty", 9), 9u);
    EXPECT_EQ(Int("negbig"), 0xFFFFFFFFu);
    EXPECT_EQ(Int("sp"), 12u);
    EXPECT_EQ(Int("neghex"), 0xFFFFFFF0u);
    EXPECT_EQ(Int("missing", -2), 0xFFFFFFFEu);
    EXPECT_EQ(plat::GetPrivateProfileIntA("s", "k", 64, (dir_ / "none.ini").c_str()), 64u);
}

TEST_F(PrivateProfile, NullSectionOrKeyListsNames) {
    std::string f = Ini("[one]\na=1\nbb=2\n[two]\n[three]\n");
    char buf[64];
    uint32_t n = plat::GetPrivateProfileStringA(nullptr, nullptr, "", buf, sizeof buf, f.c_str());
    EXPECT_EQ(std::string(buf, n + 1), std::string("one\0two\0three\0\0", 15));
    n = plat::GetPrivateProfileStringA("ONE", nullptr, "", buf, sizeof buf, f.c_str());
    EXPECT_EQ(std::string(buf, n + 1), std::string("a\0bb\0\0", 6));
    // Too small: the last name is cut and followed by two NULs.
    n = plat::GetPrivateProfileStringA(nullptr, nullptr, "", buf, 7, f.c_str());
    EXPECT_EQ(n, 5u);
    if (!KnownWineDifference("Wine ends a cut name list with one NUL, Windows with two")) {
        EXPECT_EQ(std::string(buf, 7), std::string("one\0t\0\0", 7));
    }
}

TEST_F(PrivateProfile, WritesToANewFileGiveSectionsInOrderWithCrLf) {
    std::string f = dir_ / "new.ini";
    ASSERT_TRUE(Write("App1", "key1", "v1", f));
    ASSERT_TRUE(Write("App1", "key2", "v2", f));
    ASSERT_TRUE(Write("App1", "key3", "v3", f));
    ASSERT_TRUE(Write("App2", "key4", "v4", f));
    ASSERT_TRUE(Write("App3", "key5", "v5", f));
    EXPECT_EQ(ReadBytes(f),
              "[App1]\r\nkey1=v1\r\nkey2=v2\r\nkey3=v3\r\n[App2]\r\nkey4=v4\r\n[App3]\r\n"
              "key5=v5\r\n");
#ifndef _WIN32
    struct stat st;
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    mode_t mask = ::umask(0);
    ::umask(mask);
    EXPECT_EQ(st.st_mode & 0777, 0600 & ~mask) << "the owner's alone: it may hold secrets";
#endif
}

TEST_F(PrivateProfile, DeletingKeysAndSections) {
    std::string f = Ini("[a]\r\nk=1\r\n;note\r\nj=2\r\n[b]\r\nx=1\r\n");
    ASSERT_TRUE(Write("a", "K", nullptr, f));
    EXPECT_EQ(ReadBytes(f), "[a]\r\n;note\r\nj=2\r\n[b]\r\nx=1\r\n");
    ASSERT_TRUE(Write("a", "k", nullptr, f));
    ASSERT_TRUE(Write("nosuch", "k", nullptr, f));
    EXPECT_EQ(ReadBytes(f), "[a]\r\n;note\r\nj=2\r\n[b]\r\nx=1\r\n");
    ASSERT_TRUE(Write("A", nullptr, nullptr, f));
    EXPECT_EQ(ReadBytes(f), "[b]\r\nx=1\r\n");
    // Deleting from a missing file creates nothing.
    std::string none = dir_ / "none.ini";
    EXPECT_TRUE(Write("a", "k", nullptr, none.c_str()));
    EXPECT_TRUE(Write("a", nullptr, nullptr, none.c_str()));
    EXPECT_EQ(ReadBytes(none), "<missing>");
}

TEST_F(PrivateProfile, DeletingRemovesDuplicatesSoTheNameReadsAsMissing) {
    std::string f = Ini("[s]\nk=1\nk=2\n[t]\nk=3\n[s]\nk=4\n");
    if (KnownWineDifference("Wine removes only the first of duplicate keys and rewrites every "
                            "line with CR LF"))
        return;
    ASSERT_TRUE(Write("s", "k", nullptr, f));
    EXPECT_EQ(Get("s", "k", "gone", f), "gone");
    EXPECT_EQ(ReadBytes(f), "[s]\n[t]\nk=3\n[s]\nk=4\n");
    ASSERT_TRUE(Write("s", nullptr, nullptr, f));
    EXPECT_EQ(ReadBytes(f), "[t]\nk=3\n");
}

TEST_F(PrivateProfile, EditsInPlaceKeepingCommentsAndSpelling) {
    std::string f = Ini(";c0\r\n[S]\r\n;c1\r\nb=1\r\n;c2\r\na=1\r\n");
    ASSERT_TRUE(Write("s", "z", "", f));
    ASSERT_TRUE(Write("s", "y", "", f));
    ASSERT_TRUE(Write("s", "A", "", f));
    EXPECT_EQ(ReadBytes(f), ";c0\r\n[S]\r\n;c1\r\nb=1\r\n;c2\r\na=\r\nz=\r\ny=\r\n");

    // Wine keeps every line but ends each with CR LF: under Wine the lines untouched by the
    // edit are compared with their line ends made CR LF.
    const bool wine = KnownWineDifference("Wine rewrites every line of an edited file with CR LF");
    auto untouched = [wine](const std::string& lfText) {
        std::string text;
        for (char c : lfText)
            text += wine && c == '\n' ? std::string("\r\n") : std::string(1, c);
        return text;
    };
    f = Ini("[Sec]\n  TestKey = x");
    ASSERT_TRUE(Write("sec", "testkey", "y", f));
    EXPECT_EQ(ReadBytes(f), untouched("[Sec]\n") + "TestKey=y\r\n");

    // An unknown line kind, other sections and odd spacing stay as they were.
    f = Ini("junk line\n[a]\n\tk = old \n[b]\nq=1\n");
    ASSERT_TRUE(Write("a", "k", "new", f));
    EXPECT_EQ(ReadBytes(f), untouched("junk line\n[a]\n") + "k=new\r\n" + untouched("[b]\nq=1\n"));
}

TEST_F(PrivateProfile, ValuesAreWrittenAsGivenAndReadBackTrimmed) {
    std::string f = dir_ / "v.ini";
    ASSERT_TRUE(Write("s", "k", "  spaced  ", f));
    if (!KnownWineDifference("Wine drops the leading spaces of a value it writes")) {
        EXPECT_EQ(ReadBytes(f), "[s]\r\nk=  spaced  \r\n");
    }
    EXPECT_EQ(Get("s", "k", "", f), "spaced");
}

TEST_F(PrivateProfile, NewSectionAndNewKeyEndAnUnterminatedLastLineFirst) {
    std::string f = Ini("Data");
    ASSERT_TRUE(Write("s", "k", "v", f));
    EXPECT_EQ(ReadBytes(f), "Data\r\n[s]\r\nk=v\r\n");
    f = Ini("[s]");
    ASSERT_TRUE(Write("s", "k", "v", f));
    EXPECT_EQ(ReadBytes(f), "[s]\r\nk=v\r\n");
}

TEST_F(PrivateProfile, RefusesNamesAndValuesThatWouldNotReadBack) {
    std::string f = Ini("[s]\r\nk=v\r\n");
    EXPECT_FALSE(Write("s", "k", "a\r\n[t]\r\nx=1", f));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(Write("s]x", "k", "v", f));
    EXPECT_FALSE(Write("s", "a=b", "v", f));
    EXPECT_FALSE(Write("s", ";k", "v", f));
    // Names are found trimmed of tabs: one that keeps a tab at either end is never found.
    EXPECT_FALSE(Write("s\t", "k", "v", f));
    EXPECT_FALSE(Write("s", "\vk", "v", f));
    EXPECT_FALSE(Write("s", "k\t", nullptr, f));
    EXPECT_FALSE(Write("\ts", nullptr, nullptr, f));
    EXPECT_EQ(ReadBytes(f), "[s]\r\nk=v\r\n");
    EXPECT_TRUE(Write("s", "a\tb", "v", f));
    EXPECT_EQ(Get("s", "a\tb", "", f), "v");
}

TEST_F(PrivateProfile, WriteIntoAMissingDirectoryFailsAndCreatesNothing) {
    std::string f = dir_ / "nodir/test.ini";
    EXPECT_FALSE(Write("s", "k", "v", f));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_PATH_NOT_FOUND);
    EXPECT_TRUE(ListDir(dir_.path()).empty());
}

#ifndef _WIN32
TEST_F(PrivateProfile, KeepsPermissionBitsAndSymbolicLinks) {
    std::string f = Ini("[s]\r\nk=1\r\n");
    ASSERT_EQ(::chmod(f.c_str(), 0640), 0);
    std::string link = dir_ / "link.ini";
    ASSERT_EQ(::symlink("test.ini", link.c_str()), 0);
    ASSERT_TRUE(Write("s", "k", "2", link));
    struct stat st;
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(f.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadBytes(f), "[s]\r\nk=2\r\n");
    EXPECT_EQ(ListDir(dir_.path()), (std::vector<std::string>{"link.ini", "test.ini"}));
}

// Runs fn without root's right to ignore permissions (in a child when we are root); returns
// fn's result.
bool RunUnprivileged(const std::function<bool()>& fn) {
    if (::geteuid() != 0)
        return fn();
    pid_t pid = ::fork();
    if (pid == 0) {
        const gid_t nobodyGid = 65534;
        const uid_t nobodyUid = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobodyGid) != 0 || ::setuid(nobodyUid) != 0)
            ::_exit(2);
        ::_exit(fn() ? 1 : 0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << "could not drop privileges";
    return WIFEXITED(status) && WEXITSTATUS(status) == 1;
}

TEST_F(PrivateProfile, ReadOnlyDirectoryFailsAndLeavesTheFileAlone) {
    const std::string original = "[s]\r\nk=old\r\n";
    std::string f = Ini(original);
    // The file itself is writable: only the directory refuses the temporary file.
    ASSERT_EQ(::chmod(f.c_str(), 0666), 0);
    ASSERT_EQ(::chmod(dir_.path().c_str(), 0555), 0);
    bool failedCleanly = RunUnprivileged([&] {
        return !plat::WritePrivateProfileStringA("s", "k", "new", f.c_str()) &&
               plat::GetLastError() == plat::ERROR_ACCESS_DENIED;
    });
    EXPECT_TRUE(failedCleanly);
    EXPECT_EQ(ReadBytes(f), original);
    EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{"test.ini"});
}

// Makes every write past limit bytes fail the way a full disk does.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t limit) {
        ::getrlimit(RLIMIT_FSIZE, &saved_);
        oldHandler_ = ::signal(SIGXFSZ, SIG_IGN);
        rlimit r = saved_;
        r.rlim_cur = limit;
        ::setrlimit(RLIMIT_FSIZE, &r);
    }
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &saved_);
        ::signal(SIGXFSZ, oldHandler_);
    }

  private:
    rlimit saved_{};
    sighandler_t oldHandler_;
};

TEST_F(PrivateProfile, AFailedWriteLeavesTheOldFileByteForByte) {
    const std::string original = ";hand edited\n[s]\nk=old\n[t]\nx=1";
    std::string f = Ini(original);
    std::string big(8192, 'v');
    {
        FileSizeLimit limit(4096);
        EXPECT_FALSE(Write("s", "k", big.c_str(), f));
        EXPECT_EQ(plat::GetLastError(), plat::ERROR_DISK_FULL);
    }
    EXPECT_EQ(ReadBytes(f), original);
    EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{"test.ini"});
    EXPECT_TRUE(Write("s", "k", big.c_str(), f));
    EXPECT_EQ(Get("s", "k", "", f).size(), 255u);
}

#endif

#ifdef _WIN32
// The system edits a copy beside the file, which then replaces the file in one move: a write
// that fails at any step leaves the file as it was and no copy behind.
TEST_F(PrivateProfile, AFailedWriteLeavesTheOldFileByteForByte) {
    const std::string original = ";hand edited\n[s]\nk=old\n[t]\nx=1";
    std::string f = Ini(original);
    // Another program reads the file and refuses to share it further: no copy can be taken.
    // Then one that shares it for reading only: the copy is edited, but cannot replace it.
    for (uint32_t share : {0u, plat::FILE_SHARE_READ}) {
        plat::HANDLE other = plat::CreateFileA(f.c_str(), plat::GENERIC_READ, share, nullptr,
                                               plat::OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(other, plat::INVALID_HANDLE_VALUE);
        EXPECT_FALSE(Write("s", "k", "new", f)) << share;
        EXPECT_NE(plat::GetLastError(), plat::ERROR_SUCCESS);
        plat::CloseHandle(other);
        EXPECT_EQ(ReadBytes(f), original);
        EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{"test.ini"});
    }
    // A read-only file stays as it is.
    std::filesystem::permissions(f, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_FALSE(Write("s", "k", "new", f));
    EXPECT_EQ(ReadBytes(f), original);
    EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{"test.ini"});
    std::filesystem::permissions(f, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);
    EXPECT_TRUE(Write("s", "k", "new", f));
    EXPECT_EQ(Get("s", "k", "", f), "new");
    EXPECT_EQ(ListDir(dir_.path()), std::vector<std::string>{"test.ini"});
}
#endif

TEST_F(PrivateProfile, ArbitraryBytesReadSafely) {
    std::string junk("[s]\nk=a\0b\n", 10);
    for (int i = 0; i < 4096; ++i)
        junk.push_back(static_cast<char>((i * 7919) & 0xFF));
    junk += "\n[s2]\n" + std::string(1 << 20, 'x') + "=long\nz=" + std::string(1 << 16, 'y');
    std::string f = Ini(junk);
    // Wine decodes the file as text: a value ends at a NUL, and a key name of a megabyte is
    // not found. What matters on both is that the junk reads without harm.
    const bool wine =
        KnownWineDifference("Wine ends a value at a NUL byte and finds no megabyte-long key");
    if (!wine) {
        EXPECT_EQ(Get("s", "k", "", f), std::string("a\0b", 3));
        EXPECT_EQ(Get("s2", std::string(1 << 20, 'X').c_str(), "", f), "long");
    }
    EXPECT_EQ(Get("s2", "z", "", f).size(), 255u);
    EXPECT_TRUE(Write("s2", "z", "short", f));
    EXPECT_EQ(Get("s2", "z", "", f), "short");
    EXPECT_EQ(Get("s", "k", "", f), wine ? std::string("a") : std::string("a\0b", 3));
    // A directory where the file should be reads as missing and cannot be written.
    EXPECT_EQ(Get("s", "k", "def", dir_.path()), "def");
    EXPECT_FALSE(Write("s", "k", "v", dir_.path()));
#ifndef _WIN32
    // So does a FIFO, without waiting for a writer.
    std::string fifo = dir_ / "fifo.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(Get("s", "k", "def", fifo), "def");
#endif
}

}  // namespace

namespace {

TEST_F(PrivateProfile, SnapshotAnswersAsTheFileWasWhenLoaded) {
    std::string file = Ini("[s]\r\nk=  \"v\"  \r\nn=0x1F\r\n[t]\r\nk=2\r\n");
    plat::PrivateProfileSnapshot snapshot(file.c_str());
    char buf[8];
    EXPECT_EQ(snapshot.GetString("S", " k ", "d", buf, sizeof buf), 1u);
    EXPECT_STREQ(buf, "v");
    EXPECT_EQ(snapshot.GetString("s", "missing", "dflt  ", buf, 3), 2u);
    EXPECT_STREQ(buf, "df");
    EXPECT_EQ(snapshot.GetInt("s", "n", 7), 31u);
    EXPECT_EQ(snapshot.GetInt("t", "k", 7), 2u);
    EXPECT_EQ(snapshot.GetInt("t", "none", 7), 7u);

    // Later edits reach the read functions but not the snapshot taken before them.
    ASSERT_TRUE(Write("t", "k", "3", file));
    EXPECT_EQ(plat::GetPrivateProfileIntA("t", "k", 7, file.c_str()), 3u);
    EXPECT_EQ(snapshot.GetInt("t", "k", 7), 2u);

    plat::PrivateProfileSnapshot missing((dir_ / "absent.ini").c_str());
    EXPECT_EQ(missing.GetString("s", "k", "d", buf, sizeof buf), 1u);
    EXPECT_STREQ(buf, "d");
    EXPECT_EQ(missing.GetInt("s", "k", -1), 0xFFFFFFFFu);
}

}  // namespace
