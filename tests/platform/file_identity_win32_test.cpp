// Windows: a settings write or a replaced file content keeps the file what it was: who may
// write it and its other names; and it waits a moment for a program that holds the new copy.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/file_content.h"
#include "platform/private_profile.h"
#include "platform/replace_testing.h"
#include "support/temp_dir.h"
// Win32 headers last: they define ERROR_* and friends as macros.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h: they need its types.
#include <sddl.h>

namespace {

using testing_support::ListDir;
using testing_support::ReadBytes;
using testing_support::TempDir;

void SetAccess(const std::string& path, const char* sddl) {
    PSECURITY_DESCRIPTOR sd = nullptr;
    ::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &sd, nullptr);
    EXPECT_TRUE(::SetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, sd)) << path;
    ::LocalFree(sd);
}

// Whether the access list lets everyone write the file ("users may write Quorvel.ini").
bool EveryoneMayWrite(const std::string& path) {
    char sd[4096];
    DWORD size = 0;
    BOOL present = FALSE, defaulted = FALSE;
    PACL dacl = nullptr;
    ACCESS_ALLOWED_ACE* ace = nullptr;
    SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
    SID everyone{SID_REVISION, 1, world, {SECURITY_WORLD_RID}};
    ::GetFileSecurityA(path.c_str(), DACL_SECURITY_INFORMATION, sd, sizeof sd, &size);
    ::GetSecurityDescriptorDacl(sd, &present, &dacl, &defaulted);
    for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i)
        if (::GetAce(dacl, i, reinterpret_cast<void**>(&ace)) &&
            ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE && (ace->Mask & FILE_WRITE_DATA) &&
            ::EqualSid(reinterpret_cast<PSID>(&ace->SidStart), &everyone))
            return true;
    return false;
}

std::string Mode(const std::string& file) {
    char buf[8];
    return std::string(buf, plat::GetPrivateProfileStringA("S", "MODE", "", buf, 8, file.c_str()));
}

TEST(FileIdentity, SettingsWritesKeepTheAccessListTheOtherNamesAndWaitForAHolder) {
    TempDir dir;
    const std::string ini = dir / "Quorvel.ini", link = dir / "Line 3.ini";
    ASSERT_TRUE(plat::WritePrivateProfileStringA("S", "MODE", "0", ini.c_str()));
    ASSERT_FALSE(EveryoneMayWrite(ini));
    SetAccess(ini, "D:P(A;;FA;;;WD)");
    ASSERT_TRUE(EveryoneMayWrite(ini));

    // A program holds the new copy during the first attempt to put it in place.
    std::vector<int> attempts;
    HANDLE held = INVALID_HANDLE_VALUE;
    plat::SetReplaceAttemptHookForTesting([&](const std::string& copy, int attempt) {
        attempts.push_back(attempt);
        if (attempt == 0)
            held = ::CreateFileA(copy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        else
            ::CloseHandle(held);
    });
    EXPECT_TRUE(plat::WritePrivateProfileStringA("S", "MODE", "1", ini.c_str()));
    plat::SetReplaceAttemptHookForTesting({});
    EXPECT_EQ(attempts, (std::vector<int>{0, 1}));
    EXPECT_EQ(Mode(ini), "1");
    EXPECT_TRUE(EveryoneMayWrite(ini));
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"Quorvel.ini"});

    // A second name of the file sees every write, of settings and of whole contents.
    ASSERT_TRUE(::CreateHardLinkA(link.c_str(), ini.c_str(), nullptr));
    ASSERT_TRUE(plat::WritePrivateProfileStringA("S", "MODE", "2", ini.c_str()));
    EXPECT_EQ(Mode(link), "2");
    uint32_t error = 0;
    ASSERT_TRUE(plat::ReplaceFileContent(ini, "[S]\r\nMODE=3\r\n", error));
    EXPECT_EQ(ReadBytes(link), "[S]\r\nMODE=3\r\n");
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"Line 3.ini", "Quorvel.ini"}));
}

// Where the file, not its folder, may be written, the file is written in place.
TEST(FileIdentity, AFolderThatTakesNoNewFileGetsItsFileWrittenInPlace) {
    TempDir dir;
    const std::string ini = dir / "Quorvel.ini";
    ASSERT_TRUE(plat::WritePrivateProfileStringA("S", "MODE", "0", ini.c_str()));
    SetAccess(ini, "D:P(A;;FA;;;WD)");
    SetAccess(dir.path(), "D:P(A;;0x1200a9;;;WD)");  // list and read, add nothing
    const bool refused = !::CreateDirectoryA((dir / "probe").c_str(), nullptr);
    const bool written = plat::WritePrivateProfileStringA("S", "MODE", "1", ini.c_str());
    uint32_t error = 0;
    const bool replaced = plat::ReplaceFileContent(ini, "[S]\r\nMODE=2\r\n", error);
    SetAccess(dir.path(), "D:P(A;;FA;;;WD)");
    if (!refused)
        GTEST_SKIP() << "this user may add to any folder (Wine running as root)";
    EXPECT_TRUE(written);
    EXPECT_TRUE(replaced) << error;
    EXPECT_EQ(Mode(ini), "2");
    EXPECT_EQ(ListDir(dir.path()), std::vector<std::string>{"Quorvel.ini"});
}

}  // namespace
