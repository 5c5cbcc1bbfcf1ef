#include "app/adapter_mutex.h"

#include <string>

#include "platform/kernel_object.h"
#include "platform/named_mutex.h"

namespace {

constexpr const char* kAdapterMutexName = "Vexil";

class NamedAdapterMutex : public AdapterLock {
  public:
    explicit NamedAdapterMutex(const char* name) : name_(name) { Open(); }
    ~NamedAdapterMutex() override {
        if (plat::IsOpenHandle(handle_))
            plat::CloseHandle(handle_);
    }

    bool Wait(uint32_t ms) override {
        // Opened again at every plug: a program that denied it may have ended meanwhile.
        if (!plat::IsOpenHandle(handle_) && !Open())
            return false;
        uint32_t result = plat::WaitForSingleObject(handle_, ms);
        // An abandoned mutex is ours now as well: its former owner died.
        return result == plat::WAIT_OBJECT_0 || result == plat::WAIT_ABANDONED;
    }

    void Release() override {
        if (plat::IsOpenHandle(handle_))
            plat::ReleaseMutex(handle_);
    }

    bool Denied() const override { return denied_; }

  private:
    bool Open() {
        handle_ = plat::CreateMutexA(nullptr, false, name_.c_str());
        denied_ = !plat::IsOpenHandle(handle_) && plat::GetLastError() == plat::ERROR_ACCESS_DENIED;
        return plat::IsOpenHandle(handle_);
    }

    std::string name_;
    plat::HANDLE handle_ = nullptr;
    bool denied_ = false;
};

}  // namespace

AdapterLock& ProcessAdapterMutex() {
    static NamedAdapterMutex mutex(kAdapterMutexName);
    return mutex;
}

std::unique_ptr<AdapterLock> MakeNamedAdapterLock(const char* name) {
    return std::make_unique<NamedAdapterMutex>(name);
}
