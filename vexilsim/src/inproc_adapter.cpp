#include "vexilsim/inproc_adapter.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>

#include "brindlex/vexil_protocol.h"

namespace vexilsim {

SimUsbDevice::SimUsbDevice(std::shared_ptr<SimAdapter> adapter) : adapter_(std::move(adapter)) {}

size_t SimUsbDevice::queuedReplies() {
    std::lock_guard<std::mutex> lock(mutex_);
    return replies_.size();
}

uint32_t SimUsbDevice::Open(int pipe) {
    if (!adapter_->connected())
        return plat::ERROR_FILE_NOT_FOUND;
    if (adapter_->TakeOpenRefusal(pipe != plat::kDeviceItself))
        return plat::ERROR_ACCESS_DENIED;
    return plat::ERROR_SUCCESS;
}

plat::InprocIo SimUsbDevice::Write(const uint8_t* data, uint32_t length) {
    std::optional<ReplyFrame> reply = adapter_->HandleFrame(data, length);
    if (reply) {
        std::lock_guard<std::mutex> lock(mutex_);
        replies_.push_back(std::move(*reply));
    }
    return plat::InprocIo::Now(length);
}

plat::InprocIo SimUsbDevice::Read(uint8_t* buffer, uint32_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (replies_.empty())
        return plat::InprocIo::Never();
    ReplyFrame& front = replies_.front();
    // The reply counts as sent when the host first reads it, not when it was produced.
    if (readOffset_ == 0)
        adapter_->NoteReplyDelivered(front);
    size_t n = std::min<size_t>(length, front.bytes.size() - readOffset_);
    std::memcpy(buffer, front.bytes.data() + readOffset_, n);
    readOffset_ += n;
    if (readOffset_ >= front.bytes.size()) {
        replies_.pop_front();
        readOffset_ = 0;
    }
    return plat::InprocIo::Now(static_cast<uint32_t>(n));
}

uint32_t SimUsbDevice::Control(int pipe, uint32_t code, const uint8_t* in, uint32_t inSize,
                               uint8_t* out, uint32_t outSize, uint32_t& returned) {
    adapter_->NoteControl(code);
    returned = 0;
    if (code == vexil::IOCTL_RESET_DEVICE) {
        std::lock_guard<std::mutex> lock(mutex_);
        replies_.clear();
        readOffset_ = 0;
    }
    return plat::ERROR_SUCCESS;
}

std::shared_ptr<SimUsbDevice> RegisterSimAdapter(const std::string& path,
                                                 std::shared_ptr<SimAdapter> adapter,
                                                 const plat::GUID* interfaceClass) {
    auto device = std::make_shared<SimUsbDevice>(std::move(adapter));
    if (!plat::InprocRegister(path, device, interfaceClass))
        return nullptr;
    return device;
}

namespace {
std::atomic<int> benchSerial{0};
}

SimBench::SimBench(const CTargetInfo& info, int count, const plat::GUID* interfaceClass)
    : serial_(++benchSerial) {
    for (int i = 0; i < count; ++i)
        Add(SimChip(info), interfaceClass);
}

SimBench::SimBench(std::vector<SimChip> chips, const plat::GUID* interfaceClass)
    : serial_(++benchSerial) {
    for (auto& c : chips)
        Add(std::move(c), interfaceClass);
}

SimBench::~SimBench() {
    for (const auto& p : paths_)
        plat::InprocUnregister(p);
}

void SimBench::Add(SimChip chip, const plat::GUID* interfaceClass) {
    char path[64];
    std::snprintf(path, sizeof path, "\\\\?\\inproc#vexil-%d#%04d", serial_,
                  static_cast<int>(paths_.size()) + 1);
    auto adapter = std::make_shared<SimAdapter>(std::move(chip));
    auto device = RegisterSimAdapter(path, adapter, interfaceClass);
    if (device == nullptr)
        return;  // only a path taken by someone else; not expected
    adapters_.push_back(std::move(adapter));
    devices_.push_back(std::move(device));
    paths_.emplace_back(path);
}

std::vector<TraceEntry> SimBench::trace() const {
    std::vector<const SimAdapter*> all;
    for (const auto& a : adapters_)
        all.push_back(a.get());
    return MergeTraces(all);
}

void SimBench::ClearTraces() {
    for (auto& a : adapters_)
        a->ClearTrace();
}

}  // namespace vexilsim
