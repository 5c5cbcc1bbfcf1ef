#include "platform/registry.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <cstring>
#include <string>

#include "platform/win32_types.h"
#include "support/temp_dir.h"
#include "support/user_settings.h"

namespace {

using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

class Registry : public ::testing::Test {
  protected:
#ifndef _WIN32
    void SetUp() override {
        ASSERT_EQ(::setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1), 0);
    }
#endif
    std::string File() const {
        return config_ / "ostrel/registry.ini";
    }
    // The value read through the size protocol; "<error N>" when a call fails.
    std::string Query(plat::HKEY key, const char* name) {
        uint32_t size = 0;
        uint32_t type = 0;
        long err = plat::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size);
        if (err != plat::ERROR_SUCCESS)
            return "<error " + std::to_string(err) + ">";
        EXPECT_EQ(type, plat::REG_SZ);
        std::string buf(size, 'X');
        err = plat::RegQueryValueExA(key, name, nullptr, &type,
                                     reinterpret_cast<uint8_t*>(buf.data()), &size);
        if (err != plat::ERROR_SUCCESS)
            return "<error " + std::to_string(err) + ">";
        EXPECT_EQ(buf.back(), '\0');
        return buf.substr(0, size - 1);
    }
    long Set(plat::HKEY key, const char* name, const std::string& value) {
        return plat::RegSetValueExA(key, name, 0, plat::REG_SZ,
                                    reinterpret_cast<const uint8_t*>(value.c_str()),
                                    static_cast<uint32_t>(value.size() + 1));
    }
    TempDir config_;
#ifdef _WIN32
    testing_support::PrivateUserSettings settings_{config_.path()};
#endif
};

TEST_F(Registry, MissingFileOrKeyIsNotFound) {
    plat::HKEY key = nullptr;
    EXPECT_EQ(plat::RegOpenKeyExA(plat::HKEY_CURRENT_USER, "Software\\Ostrel\\Zeph", 0,
                                  plat::KEY_READ, &key),
              plat::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key, nullptr);
#ifndef _WIN32
    ::mkdir((config_ / "ostrel").c_str(), 0700);
    WriteBytes(File(), "[Software\\Other]\r\nTrgPath=x\r\n");
    EXPECT_EQ(plat::RegOpenKeyExA(plat::HKEY_CURRENT_USER, "Software\\Ostrel\\Zeph", 0,
                                  plat::KEY_READ, &key),
              plat::ERROR_FILE_NOT_FOUND);
#endif
}

TEST_F(Registry, CreateSetAndQueryRoundTripThroughTheIniFile) {
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegCreateKeyExA(plat::HKEY_CURRENT_USER, "Software\\Ostrel\\Zeph", &key),
              plat::ERROR_SUCCESS);
#ifndef _WIN32
    EXPECT_EQ(ReadBytes(File()), "[Software\\Ostrel\\Zeph]\r\n");
    struct stat st;
    ASSERT_EQ(::stat((config_ / "ostrel").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
#endif
    EXPECT_EQ(Query(key, "TrgPath"), "<error 2>");
    ASSERT_EQ(Set(key, "TrgPath", "/opt/ostrel/TRG"), plat::ERROR_SUCCESS);
#ifndef _WIN32
    EXPECT_EQ(ReadBytes(File()), "[Software\\Ostrel\\Zeph]\r\nTrgPath=/opt/ostrel/TRG\r\n");
#endif
    EXPECT_EQ(plat::RegCloseKey(key), plat::ERROR_SUCCESS);
    EXPECT_EQ(plat::RegCloseKey(key), plat::ERROR_INVALID_HANDLE);

    // Opened again in other letter case and through a parent key.
    plat::HKEY parent = nullptr;
    ASSERT_EQ(plat::RegOpenKeyExA(plat::HKEY_CURRENT_USER, "software\\ostrel", 0, plat::KEY_READ,
                                  &parent),
              plat::ERROR_SUCCESS);
    ASSERT_EQ(plat::RegOpenKeyExA(parent, "ZEPH", 0, plat::KEY_READ, &key), plat::ERROR_SUCCESS);
    EXPECT_EQ(Query(key, "trgpath"), "/opt/ostrel/TRG");
    // A key opened for reading refuses writes.
    EXPECT_EQ(Set(key, "TrgPath", "x"), plat::ERROR_ACCESS_DENIED);
    plat::RegCloseKey(key);
    plat::RegCloseKey(parent);
}

TEST_F(Registry, QuerySizeProtocol) {
#ifdef _WIN32
    plat::HKEY created = nullptr;
    ASSERT_EQ(plat::RegCreateKeyExA(plat::HKEY_CURRENT_USER, "Software\\Ostrel\\Zeph", &created),
              plat::ERROR_SUCCESS);
    ASSERT_EQ(Set(created, "TrgPath", "C:\\Tools\\TRG"), plat::ERROR_SUCCESS);
    plat::RegCloseKey(created);
#else
    ::mkdir((config_ / "ostrel").c_str(), 0700);
    WriteBytes(File(), "; edited by hand\n[Software\\Ostrel\\Zeph]\nTrgPath = C:\\Tools\\TRG \n");
#endif
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegOpenKeyExA(plat::HKEY_CURRENT_USER, "Software\\Ostrel\\Zeph", 0,
                                  plat::KEY_READ, &key),
              plat::ERROR_SUCCESS);
    uint32_t size = 0;
    EXPECT_EQ(plat::RegQueryValueExA(key, "TrgPath", nullptr, nullptr, nullptr, &size),
              plat::ERROR_SUCCESS);
    EXPECT_EQ(size, 13u);
    uint8_t buf[32];
    std::memset(buf, 'X', sizeof buf);
    size = 12;
    EXPECT_EQ(plat::RegQueryValueExA(key, "TrgPath", nullptr, nullptr, buf, &size),
              plat::ERROR_MORE_DATA);
    EXPECT_EQ(size, 13u);
    size = sizeof buf;
    EXPECT_EQ(plat::RegQueryValueExA(key, "TrgPath", nullptr, nullptr, buf, &size),
              plat::ERROR_SUCCESS);
    EXPECT_EQ(size, 13u);
    EXPECT_STREQ(reinterpret_cast<char*>(buf), "C:\\Tools\\TRG");
    EXPECT_EQ(plat::RegQueryValueExA(key, "TrgPath", nullptr, nullptr, buf, nullptr),
              plat::ERROR_INVALID_PARAMETER);
    plat::RegCloseKey(key);
}

#ifndef _WIN32
TEST_F(Registry, ValuesReadBackExactlyAndEditsKeepTheRestOfTheFile) {
    ::mkdir((config_ / "ostrel").c_str(), 0700);
    WriteBytes(File(), ";mine\n[Other]\nx=1\n");
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegCreateKeyExA(plat::HKEY_CURRENT_USER, "A\\B", &key), plat::ERROR_SUCCESS);
    for (std::string value : {"", "  padded  ", "\"quoted\"", "'x'", "a=b;c", "\"half"}) {
        ASSERT_EQ(Set(key, "v", value), plat::ERROR_SUCCESS);
        EXPECT_EQ(Query(key, "v"), value);
    }
    // The data ends at its first NUL or at size.
    const uint8_t raw[] = {'a', 'b', 0, 'c'};
    ASSERT_EQ(plat::RegSetValueExA(key, "n", 0, plat::REG_SZ, raw, 4), plat::ERROR_SUCCESS);
    EXPECT_EQ(Query(key, "n"), "ab");
    ASSERT_EQ(plat::RegSetValueExA(key, "n", 0, plat::REG_SZ, raw, 1), plat::ERROR_SUCCESS);
    EXPECT_EQ(Query(key, "n"), "a");

    EXPECT_EQ(Set(key, "v", "two\nlines"), plat::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(plat::RegSetValueExA(key, "v", 0, 4 /* REG_DWORD */, raw, 4),
              plat::ERROR_INVALID_PARAMETER);
    EXPECT_EQ(Query(key, "v"), "\"half");
    EXPECT_EQ(ReadBytes(File()), ";mine\n[Other]\nx=1\n[A\\B]\r\nv=\"half\r\nn=a\r\n");
    plat::RegCloseKey(key);
}

#endif

TEST_F(Registry, FallsBackToHomeAndRejectsForeignHandles) {
    plat::HKEY key = nullptr;
#ifndef _WIN32
    TempDir home;
    ASSERT_EQ(::unsetenv("XDG_CONFIG_HOME"), 0);
    const char* oldHome = std::getenv("HOME");
    std::string savedHome = oldHome == nullptr ? "" : oldHome;
    ASSERT_EQ(::setenv("HOME", home.path().c_str(), 1), 0);
    long err = plat::RegCreateKeyExA(plat::HKEY_CURRENT_USER, "K", &key);
    ::setenv("HOME", savedHome.c_str(), 1);
    ASSERT_EQ(err, plat::ERROR_SUCCESS);
    EXPECT_EQ(ReadBytes(home / ".config/ostrel/registry.ini"), "[K]\r\n");
    plat::RegCloseKey(key);
#endif

    int notAKey = 0;
    EXPECT_EQ(plat::RegOpenKeyExA(&notAKey, "K", 0, plat::KEY_READ, &key),
              plat::ERROR_INVALID_HANDLE);
    EXPECT_EQ(plat::RegCloseKey(&notAKey), plat::ERROR_INVALID_HANDLE);
    EXPECT_EQ(plat::RegCreateKeyExA(plat::HKEY_CURRENT_USER, "K", nullptr),
              plat::ERROR_INVALID_PARAMETER);
}

// What a REG_EXPAND_SZ value turns into: set variables replaced, others left as written, and
// the size it needs (NUL included) also when the buffer is too small.
TEST(ExpandEnvironmentStrings, ReplacesSetVariablesAndKeepsTheRest) {
#ifdef _WIN32
    ASSERT_EQ(::_putenv_s("QUORVEL_TEST_BASE", "C:\\base"), 0);
#else
    ASSERT_EQ(::setenv("QUORVEL_TEST_BASE", "C:\\base", 1), 0);
#endif
    char out[64];
    EXPECT_EQ(plat::ExpandEnvironmentStringsA("%QUORVEL_TEST_BASE%\\%NOT_SET_HERE%\\5%", out, 9),
              26u);
    EXPECT_EQ(
        plat::ExpandEnvironmentStringsA("%QUORVEL_TEST_BASE%\\%NOT_SET_HERE%\\5%", out, sizeof out),
        26u);
    EXPECT_STREQ(out, "C:\\base\\%NOT_SET_HERE%\\5%");
}

}  // namespace
