#include "app/adapter_mutex.h"

#include "platform/kernel_object.h"
#include "platform/named_mutex.h"

NamedAdapterMutex::NamedAdapterMutex(const char* name) : name_(name) {
    Open();
}

NamedAdapterMutex::~NamedAdapterMutex() {
    if (plat::IsOpenHandle(handle_))
        plat::CloseHandle(handle_);
}

bool NamedAdapterMutex::Open() {
    if (plat::IsOpenHandle(handle_))
        return true;
    handle_ = plat::CreateMutexA(nullptr, false, name_.c_str());
    if (plat::IsOpenHandle(handle_)) {
        denied_ = false;
        problem_.clear();
        return true;
    }
    const uint32_t error = plat::GetLastError();
    problem_ = plat::LockDirectoryProblem();
    // Denied by the mutex's creator, not by a refused lock directory of our own.
    denied_ = error == plat::ERROR_ACCESS_DENIED && problem_.empty();
    if (problem_.empty())
        problem_ =
            "the \"" + name_ + "\" mutex cannot be created (error " + std::to_string(error) + ")";
    else
        problem_ = "no lock directory for the \"" + name_ + "\" mutex: " + problem_ +
                   " (it must belong to this user and be writable by nobody else)";
    return false;
}

bool NamedAdapterMutex::Wait(uint32_t ms) {
    // Opened again at every plug: what kept it from being created may have gone meanwhile.
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
    static NamedAdapterMutex mutex("Vexil");
    return mutex;
}

std::unique_ptr<AdapterLock> MakeNamedAdapterLock(const char* name) {
    return std::make_unique<NamedAdapterMutex>(name);
}
