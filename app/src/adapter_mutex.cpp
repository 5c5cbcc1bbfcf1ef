#include "app/adapter_mutex.h"

#include "platform/kernel_object.h"
#include "platform/named_mutex.h"

namespace {

constexpr const char* kAdapterMutexName = "Vexil";

class NamedAdapterMutex : public AdapterLock {
  public:
    NamedAdapterMutex() : handle_(plat::CreateMutexA(nullptr, false, kAdapterMutexName)) {}
    ~NamedAdapterMutex() override {
        if (plat::IsOpenHandle(handle_))
            plat::CloseHandle(handle_);
    }

    bool Wait(uint32_t ms) override {
        if (!plat::IsOpenHandle(handle_))
            return false;
        uint32_t result = plat::WaitForSingleObject(handle_, ms);
        // An abandoned mutex is ours now as well: its former owner died.
        return result == plat::WAIT_OBJECT_0 || result == plat::WAIT_ABANDONED;
    }

    void Release() override {
        if (plat::IsOpenHandle(handle_))
            plat::ReleaseMutex(handle_);
    }

  private:
    plat::HANDLE handle_;
};

}  // namespace

AdapterLock& ProcessAdapterMutex() {
    static NamedAdapterMutex mutex;
    return mutex;
}
