// Windows: a "Vexil" mutex that another program made with rights this one lacks (as a program
// run as administrator makes it) is denied, not held; once that program ended, Plug takes it.
#include <gtest/gtest.h>

#include <string>

#include "app/adapter_mutex.h"
// Win32 headers last: they define ERROR_* and friends as macros.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
// After windows.h: they need its types.
#include <sddl.h>

namespace {

TEST(AdapterMutex, AMutexThisProgramMayNotOpenIsDeniedUntilItsMakerEnds) {
    const std::string name = "quorvel-test-denied-" + std::to_string(::GetCurrentProcessId());
    PSECURITY_DESCRIPTOR sd = nullptr;  // an empty access list: no other opener gets it
    ASSERT_TRUE(::ConvertStringSecurityDescriptorToSecurityDescriptorA("D:P", SDDL_REVISION_1, &sd,
                                                                       nullptr));
    SECURITY_ATTRIBUTES sa{sizeof sa, sd, FALSE};
    HANDLE theirs = ::CreateMutexA(&sa, FALSE, name.c_str());
    ::LocalFree(sd);
    ASSERT_NE(theirs, nullptr);
    auto lock = MakeNamedAdapterLock(name.c_str());
    EXPECT_FALSE(lock->Wait(0));
    EXPECT_TRUE(lock->Denied());
    ::CloseHandle(theirs);
    EXPECT_TRUE(lock->Wait(0));
    EXPECT_FALSE(lock->Denied());
    lock->Release();
}

}  // namespace
