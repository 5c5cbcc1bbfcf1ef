#pragma once
// Simulated adapters as in-process devices, for tests: the library opens them through the
// ordinary device-I/O calls, by the paths that enumeration lists.
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/inproc_device.h"
#include "vexilsim/sim_adapter.h"

namespace vexilsim {

// One SimAdapter behind the in-process provider. Each write on pipe 0 is one request
// frame; replies queue up and are read from pipe 1 (a read shorter than the reply takes
// its first bytes, the next read the rest). With no reply queued a read will never
// complete, so a wait on it expires at once. A bus reset drops queued replies.
class SimUsbDevice : public plat::InprocDevice {
  public:
    explicit SimUsbDevice(std::shared_ptr<SimAdapter> adapter);

    SimAdapter& adapter() { return *adapter_; }
    size_t queuedReplies();

    uint32_t Open(int pipe) override;
    plat::InprocIo Write(const uint8_t* data, uint32_t length) override;
    plat::InprocIo Read(uint8_t* buffer, uint32_t length) override;
    uint32_t Control(int pipe, uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out,
                     uint32_t outSize, uint32_t& returned) override;
    bool IsConnected() override { return adapter_->connected(); }

  private:
    std::shared_ptr<SimAdapter> adapter_;
    std::mutex mutex_;
    std::deque<ReplyFrame> replies_;
    size_t readOffset_ = 0;  // bytes of the front reply already read
};

// Registers a SimAdapter under a path of the in-process provider; returns the device or
// null when the path is taken or not of the in-process form.
std::shared_ptr<SimUsbDevice> RegisterSimAdapter(const std::string& path,
                                                 std::shared_ptr<SimAdapter> adapter,
                                                 const plat::GUID* interfaceClass = nullptr);

// N adapters, each with a chip built from one target description, registered in order (so
// adapter i is target number i + 1 of a discovery) and unregistered on destruction.
class SimBench {
  public:
    SimBench(const CTargetInfo& info, int count, const plat::GUID* interfaceClass = nullptr);
    explicit SimBench(std::vector<SimChip> chips, const plat::GUID* interfaceClass = nullptr);
    ~SimBench();
    SimBench(const SimBench&) = delete;
    SimBench& operator=(const SimBench&) = delete;

    int size() const { return static_cast<int>(adapters_.size()); }
    // 0-based index.
    SimAdapter& adapter(int index) { return *adapters_.at(index); }
    SimChip& chip(int index) { return adapters_.at(index)->chip(); }
    SimUsbDevice& device(int index) { return *devices_.at(index); }
    const std::string& path(int index) const { return paths_.at(index); }
    // Every adapter's frames in the order they happened.
    std::vector<TraceEntry> trace() const;
    void ClearTraces();

  private:
    void Add(SimChip chip, const plat::GUID* interfaceClass);

    int serial_;
    std::vector<std::shared_ptr<SimAdapter>> adapters_;
    std::vector<std::shared_ptr<SimUsbDevice>> devices_;
    std::vector<std::string> paths_;
};

}  // namespace vexilsim
