#include "app/adapter_mutex.h"

#include "platform/kernel_object.h"
#include "platform/named_mutex.h"

namespace {

constexpr const char* kAdapterMutexName = "Vexil";

}  // namespace

NamedAdapterMutex::NamedAdapterMutex() {
    Open();
}

NamedAdapterMutex::~NamedAdapterMutex() {
    if (plat::IsOpenHandle(handle_))
        plat::CloseHandle(handle_);
}

bool NamedAdapterMutex::Open() {
    if (plat::IsOpenHandle(handle_))
        return true;
    handle_ = plat::CreateMutexA(nullptr, false, kAdapterMutexName);
    if (plat::IsOpenHandle(handle_)) {
        problem_.clear();
        return true;
    }
    const uint32_t error = plat::GetLastError();
    problem_ = plat::LockDirectoryProblem();
    if (problem_.empty())
        problem_ = "the \"Vexil\" mutex cannot be created (error " + std::to_string(error) + ")";
    else
        problem_ = "no lock directory for the \"Vexil\" mutex: " + problem_ +
                   " (it must belong to this user and be writable by nobody else)";
    return false;
}

bool NamedAdapterMutex::Wait(uint32_t ms) {
    if (!Open())
        return false;
    uint32_t result = plat::WaitForSingleObject(handle_, ms);
    // An abandoned mutex is ours now as well: its former owner died.
    return result == plat::WAIT_OBJECT_0 || result == plat::WAIT_ABANDONED;
}

void NamedAdapterMutex::Release() {
    if (plat::IsOpenHandle(handle_))
        plat::ReleaseMutex(handle_);
}

AdapterLock& ProcessAdapterMutex() {
    static NamedAdapterMutex mutex;
    return mutex;
}
