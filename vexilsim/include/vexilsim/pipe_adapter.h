#pragma once
// Windows build: an adapter of the simulator served over named pipes inside the test process,
// so that CUsbPipe's real overlapped I/O runs against it. The device path is a pipe name
// (\\.\pipe\...); the adapter's two bulk pipes are the pipes of that name with the \PIPE00 and
// \PIPE01 suffixes that CUsbPipe appends. Every connection to the device name counts as an
// open of the device.
//
// Pipes carry no driver control codes: DeviceIoControl on these handles fails, so the
// adapter never sees a bus reset or clear-feature request. The control-code tests stay with
// the in-process devices of the POSIX build.
#include <memory>
#include <string>

#include "vexilsim/sim_adapter.h"

namespace test {

class NamedPipeAdapter {
  public:
    explicit NamedPipeAdapter(std::shared_ptr<vexilsim::SimAdapter> adapter);
    ~NamedPipeAdapter();
    NamedPipeAdapter(const NamedPipeAdapter&) = delete;
    NamedPipeAdapter& operator=(const NamedPipeAdapter&) = delete;

    const std::string& path() const;
    vexilsim::SimAdapter& adapter();
    // Connections made to the device name so far.
    int deviceOpens() const;
    // The serving threads run behind the host: a host that gave up on an exchange may be
    // ahead of them. These wait (at most a few seconds) until the adapter has taken n frames
    // or seen n opens; false if it never does.
    bool WaitForFrames(uint32_t n);
    bool WaitForDeviceOpens(int n);
    // Replies produced and not yet read by the host.
    size_t queuedReplies() const;

  private:
    struct Server;
    std::unique_ptr<Server> server_;
};

}  // namespace test
