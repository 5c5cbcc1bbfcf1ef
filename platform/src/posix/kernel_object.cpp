#include "platform/kernel_object.h"

#include <chrono>
#include <mutex>
#include <unordered_set>

#include "event.h"

namespace plat {

namespace {

thread_local uint32_t lastError = ERROR_SUCCESS;

struct HandleTable {
    std::mutex mutex;
    std::unordered_set<KernelObject*> live;
};

HandleTable& Table() {
    static HandleTable* table = new HandleTable;  // lives past static destruction
    return *table;
}

}  // namespace

uint32_t GetLastError() {
    return lastError;
}
void SetLastError(uint32_t code) {
    lastError = code;
}

uint32_t KernelObject::Wait(uint32_t) {
    SetLastError(ERROR_INVALID_HANDLE);
    return WAIT_FAILED;
}

HANDLE RegisterHandle(KernelObject* object) {
    if (object == nullptr)
        return nullptr;
    auto& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    t.live.insert(object);
    return static_cast<HANDLE>(object);
}

KernelObject* LookupHandle(HANDLE h) {
    if (!IsOpenHandle(h)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto& t = Table();
    std::lock_guard<std::mutex> lock(t.mutex);
    auto* object = static_cast<KernelObject*>(h);
    if (t.live.count(object) == 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return object;
}

bool CloseHandle(HANDLE h) {
    if (!IsOpenHandle(h)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    auto* object = static_cast<KernelObject*>(h);
    {
        auto& t = Table();
        std::lock_guard<std::mutex> lock(t.mutex);
        if (t.live.erase(object) == 0) {
            SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
    }
    delete object;
    return true;
}

uint32_t WaitForSingleObject(HANDLE h, uint32_t ms) {
    KernelObject* object = LookupHandle(h);
    if (object == nullptr)
        return WAIT_FAILED;
    return object->Wait(ms);
}

Event::Event(bool manualReset, bool initialState)
    : manualReset_(manualReset), signalled_(initialState) {}

Event::~Event() = default;

void Event::Set() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        signalled_ = true;
    }
    changed_.notify_all();
}

void Event::Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    signalled_ = false;
}

bool Event::IsSet() {
    std::lock_guard<std::mutex> lock(mutex_);
    return signalled_;
}

void Event::SetPendingSource(PendingSource* source) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_ = source;
}

PendingSource* Event::GetPendingSource() {
    std::lock_guard<std::mutex> lock(mutex_);
    return pending_;
}

uint32_t Event::Wait(uint32_t ms) {
    PendingSource* source = GetPendingSource();
    if (source != nullptr && !IsSet()) {
        // The transfer signals the event itself when it completes.
        source->WaitFor(ms);
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (!signalled_ && source == nullptr) {
        if (ms == INFINITE) {
            changed_.wait(lock, [this] { return signalled_; });
        } else {
            changed_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return signalled_; });
        }
    }
    if (!signalled_)
        return WAIT_TIMEOUT;
    if (!manualReset_)
        signalled_ = false;
    return WAIT_OBJECT_0;
}

HANDLE CreateEventA(void*, bool manualReset, bool initialState, const char* name) {
    if (name != nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    SetLastError(ERROR_SUCCESS);
    return RegisterHandle(new Event(manualReset, initialState));
}

bool SetEvent(HANDLE h) {
    auto* event = LookupHandleAs<Event>(h);
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    event->Set();
    return true;
}

bool ResetEvent(HANDLE h) {
    auto* event = LookupHandleAs<Event>(h);
    if (event == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    event->Reset();
    return true;
}

}  // namespace plat
