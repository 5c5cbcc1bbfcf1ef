#include "platform/kernel_object.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(KernelObject, ClosingAStaleOrForeignHandleFailsInsteadOfCrashing) {
    plat::HANDLE h = plat::CreateEventA(nullptr, true, false, nullptr);
    ASSERT_TRUE(plat::IsOpenHandle(h));
    EXPECT_TRUE(plat::CloseHandle(h));
    EXPECT_FALSE(plat::CloseHandle(h));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_HANDLE);
    int notAnObject = 0;
    EXPECT_FALSE(plat::CloseHandle(&notAnObject));
    EXPECT_FALSE(plat::CloseHandle(nullptr));
    EXPECT_FALSE(plat::CloseHandle(plat::INVALID_HANDLE_VALUE));
    EXPECT_EQ(plat::WaitForSingleObject(h, 0), plat::WAIT_FAILED);
}

TEST(KernelObject, ManualResetEventStaysSignalledAutoResetEventClears) {
    plat::HANDLE manual = plat::CreateEventA(nullptr, true, false, nullptr);
    plat::HANDLE automatic = plat::CreateEventA(nullptr, false, true, nullptr);
    EXPECT_EQ(plat::WaitForSingleObject(manual, 0), plat::WAIT_TIMEOUT);
    ASSERT_TRUE(plat::SetEvent(manual));
    EXPECT_EQ(plat::WaitForSingleObject(manual, 0), plat::WAIT_OBJECT_0);
    EXPECT_EQ(plat::WaitForSingleObject(manual, 0), plat::WAIT_OBJECT_0);
    ASSERT_TRUE(plat::ResetEvent(manual));
    EXPECT_EQ(plat::WaitForSingleObject(manual, 0), plat::WAIT_TIMEOUT);

    EXPECT_EQ(plat::WaitForSingleObject(automatic, 0), plat::WAIT_OBJECT_0);
    EXPECT_EQ(plat::WaitForSingleObject(automatic, 0), plat::WAIT_TIMEOUT);
    plat::CloseHandle(manual);
    plat::CloseHandle(automatic);
}

TEST(KernelObject, EventSetByAnotherThreadEndsTheWait) {
    plat::HANDLE h = plat::CreateEventA(nullptr, true, false, nullptr);
    std::thread setter([h] { plat::SetEvent(h); });
    EXPECT_EQ(plat::WaitForSingleObject(h, plat::INFINITE), plat::WAIT_OBJECT_0);
    setter.join();
    plat::CloseHandle(h);
}

TEST(KernelObject, NamedEventsAreRefused) {
    EXPECT_EQ(plat::CreateEventA(nullptr, true, false, "x"), nullptr);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_PARAMETER);
}

}  // namespace
