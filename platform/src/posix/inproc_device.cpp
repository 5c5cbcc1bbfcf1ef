#include "platform/inproc_device.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>

#include "inproc_provider.h"
#include "platform/device_io.h"

namespace plat {

namespace {

std::string Lower(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

bool HasInprocForm(const std::string& path) {
    const std::string prefix = Lower(kInprocPathPrefix);
    return path.size() > prefix.size() && Lower(path.substr(0, prefix.size())) == prefix;
}

struct Entry {
    std::string path;
    std::string key;  // lower case
    std::shared_ptr<InprocDevice> device;
    bool hasClass = false;
    GUID interfaceClass{};
    bool registered = true;
    InprocSwitches switches;
    InprocStats stats;
};

struct Registry {
    std::mutex mutex;
    std::condition_variable progressed;
    uint64_t generation = 0;
    std::vector<std::shared_ptr<Entry>> entries;  // registration order

    std::shared_ptr<Entry> Find(const std::string& path) {
        std::string key = Lower(path);
        for (auto& e : entries)
            if (e->key == key)
                return e;
        return nullptr;
    }
};

Registry& Reg() {
    static Registry* r = new Registry;  // lives past static destruction
    return *r;
}

bool Connected(const std::shared_ptr<Entry>& e) {
    {
        std::lock_guard<std::mutex> lock(Reg().mutex);
        if (!e->registered)
            return false;
    }
    return e->device->IsConnected();
}

// Asks the device until it answers, the time runs out or it says "never".
class InprocTransfer : public PendingTransfer {
  public:
    InprocTransfer(std::shared_ptr<Entry> e, bool read, void* buffer, const void* data,
                   uint32_t length)
        : entry_(std::move(e)),
          read_(read),
          buffer_(static_cast<uint8_t*>(buffer)),
          length_(length) {
        if (!read_)
            data_.assign(static_cast<const uint8_t*>(data),
                         static_cast<const uint8_t*>(data) + length);
    }

    bool Drive(uint32_t ms, uint32_t& transferred, uint32_t& error) override {
        auto& reg = Reg();
        {
            std::lock_guard<std::mutex> lock(reg.mutex);
            auto& st = entry_->stats;
            if (read_) {
                st.lastReadWaitMs = ms;
                ++st.readWaits;
            } else {
                st.lastWriteWaitMs = ms;
                ++st.writeWaits;
            }
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            uint64_t seen;
            {
                std::lock_guard<std::mutex> lock(reg.mutex);
                seen = reg.generation;
            }
            if (!Connected(entry_)) {
                transferred = 0;
                error = ERROR_DEVICE_NOT_CONNECTED;
                return true;
            }
            InprocIo r = read_ ? entry_->device->Read(buffer_, length_)
                               : entry_->device->Write(data_.data(), length_);
            if (r.kind == InprocIo::kNow) {
                transferred = std::min(r.bytes, length_);
                error = ERROR_SUCCESS;
                return true;
            }
            if (r.kind == InprocIo::kFail) {
                transferred = 0;
                error = r.error;
                return true;
            }
            std::unique_lock<std::mutex> lock(reg.mutex);
            bool woke = false;
            if (r.kind == InprocIo::kNotYet && ms != 0) {
                auto changed = [&] { return reg.generation != seen; };
                if (ms == INFINITE) {
                    reg.progressed.wait(lock, changed);
                    woke = true;
                } else {
                    woke = reg.progressed.wait_until(lock, deadline, changed);
                }
            }
            if (!woke) {
                ++(read_ ? entry_->stats.expiredReadWaits : entry_->stats.expiredWriteWaits);
                return false;
            }
        }
    }

    void Cancel() override {
        std::lock_guard<std::mutex> lock(Reg().mutex);
        ++entry_->stats.cancelled;
    }

  private:
    std::shared_ptr<Entry> entry_;
    bool read_;
    uint8_t* buffer_;
    std::vector<uint8_t> data_;
    uint32_t length_;
};

class InprocFile : public DeviceFile {
  public:
    InprocFile(std::shared_ptr<Entry> e, int pipe, uint32_t access)
        : entry_(std::move(e)), pipe_(pipe), access_(access) {}

    ~InprocFile() override {
        entry_->device->Close(pipe_);
        std::lock_guard<std::mutex> lock(Reg().mutex);
        --entry_->stats.openHandles;
    }

    IoStart Read(void* buffer, uint32_t length) override {
        if (pipe_ != 1)
            return IoStart::Failed(ERROR_INVALID_PARAMETER);
        if ((access_ & GENERIC_READ) == 0)
            return IoStart::Failed(ERROR_ACCESS_DENIED);
        return Start(true, buffer, nullptr, length);
    }

    IoStart Write(const void* buffer, uint32_t length) override {
        if (pipe_ != 0)
            return IoStart::Failed(ERROR_INVALID_PARAMETER);
        if ((access_ & GENERIC_WRITE) == 0)
            return IoStart::Failed(ERROR_ACCESS_DENIED);
        return Start(false, nullptr, buffer, length);
    }

    uint32_t Control(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out,
                     uint32_t outSize, uint32_t& returned) override {
        returned = 0;
        if (!Connected(entry_))
            return ERROR_DEVICE_NOT_CONNECTED;
        uint32_t error = entry_->device->Control(pipe_, code, in, inSize, out, outSize, returned);
        returned = std::min(returned, outSize);
        return error;
    }

  private:
    IoStart Start(bool read, void* buffer, const void* data, uint32_t length) {
        if (!Connected(entry_))
            return IoStart::Failed(ERROR_DEVICE_NOT_CONNECTED);
        bool forcePending;
        {
            std::lock_guard<std::mutex> lock(Reg().mutex);
            forcePending = read ? entry_->switches.pendingReads : entry_->switches.pendingWrites;
        }
        if (!forcePending) {
            InprocIo r = read ? entry_->device->Read(static_cast<uint8_t*>(buffer), length)
                              : entry_->device->Write(static_cast<const uint8_t*>(data), length);
            if (r.kind == InprocIo::kNow)
                return IoStart::Done(std::min(r.bytes, length));
            if (r.kind == InprocIo::kFail)
                return IoStart::Failed(r.error);
        }
        return IoStart::Pending(
            std::make_unique<InprocTransfer>(entry_, read, buffer, data, length));
    }

    std::shared_ptr<Entry> entry_;
    int pipe_;
    uint32_t access_;
};

class Provider : public DeviceProvider {
  public:
    bool ClaimsPath(const std::string& devicePath) override { return HasInprocForm(devicePath); }

    std::unique_ptr<DeviceFile> Open(const std::string& devicePath, int pipe, uint32_t access,
                                     uint32_t& error) override {
        std::shared_ptr<Entry> e;
        {
            std::lock_guard<std::mutex> lock(Reg().mutex);
            e = Reg().Find(devicePath);
        }
        if (e == nullptr || !Connected(e) || pipe < kDeviceItself || pipe > 1) {
            error = ERROR_FILE_NOT_FOUND;
            return nullptr;
        }
        error = e->device->Open(pipe);
        if (error != ERROR_SUCCESS)
            return nullptr;
        {
            std::lock_guard<std::mutex> lock(Reg().mutex);
            ++e->stats.openHandles;
            if (pipe == kDeviceItself)
                ++e->stats.opens;
        }
        return std::make_unique<InprocFile>(e, pipe, access);
    }

    void ListInterfaces(const GUID& interfaceClass, std::vector<DeviceListing>& out) override {
        std::vector<std::shared_ptr<Entry>> snapshot;
        {
            std::lock_guard<std::mutex> lock(Reg().mutex);
            snapshot = Reg().entries;
        }
        for (auto& e : snapshot) {
            if (e->hasClass && !(e->interfaceClass == interfaceClass))
                continue;
            if (!Connected(e))
                continue;
            DeviceListing l;
            l.path = e->path;
            l.interfaceClass = interfaceClass;
            {
                std::lock_guard<std::mutex> lock(Reg().mutex);
                l.detailFails = e->switches.failDetailQuery;
            }
            out.push_back(std::move(l));
        }
    }
};

}  // namespace

DeviceProvider& InprocProvider() {
    static Provider* p = new Provider;  // lives past static destruction
    return *p;
}

bool InprocRegister(const std::string& path, std::shared_ptr<InprocDevice> device,
                    const GUID* interfaceClass) {
    if (device == nullptr || !HasInprocForm(path))
        return false;
    auto& reg = Reg();
    std::lock_guard<std::mutex> lock(reg.mutex);
    if (reg.Find(path) != nullptr)
        return false;
    auto e = std::make_shared<Entry>();
    e->path = path;
    e->key = Lower(path);
    e->device = std::move(device);
    if (interfaceClass != nullptr) {
        e->hasClass = true;
        e->interfaceClass = *interfaceClass;
    }
    reg.entries.push_back(std::move(e));
    return true;
}

bool InprocUnregister(const std::string& path) {
    auto& reg = Reg();
    {
        std::lock_guard<std::mutex> lock(reg.mutex);
        auto e = reg.Find(path);
        if (e == nullptr)
            return false;
        e->registered = false;
        std::erase(reg.entries, e);
        ++reg.generation;
    }
    reg.progressed.notify_all();
    return true;
}

void InprocClear() {
    auto& reg = Reg();
    {
        std::lock_guard<std::mutex> lock(reg.mutex);
        for (auto& e : reg.entries)
            e->registered = false;
        reg.entries.clear();
        ++reg.generation;
    }
    reg.progressed.notify_all();
}

bool InprocSetSwitches(const std::string& path, const InprocSwitches& switches) {
    std::lock_guard<std::mutex> lock(Reg().mutex);
    auto e = Reg().Find(path);
    if (e == nullptr)
        return false;
    e->switches = switches;
    return true;
}

bool InprocGetStats(const std::string& path, InprocStats& stats) {
    std::lock_guard<std::mutex> lock(Reg().mutex);
    auto e = Reg().Find(path);
    if (e == nullptr)
        return false;
    stats = e->stats;
    return true;
}

void InprocNotify() {
    auto& reg = Reg();
    {
        std::lock_guard<std::mutex> lock(reg.mutex);
        ++reg.generation;
    }
    reg.progressed.notify_all();
}

}  // namespace plat
