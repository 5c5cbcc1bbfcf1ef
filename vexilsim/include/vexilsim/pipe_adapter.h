#pragma once
// Windows: an adapter of the simulator served over named pipes, to this process (tests) or to
// other programs (vexil-pipe-sim). The device path is a pipe name (\\.\pipe\...); the adapter's
// two bulk pipes are the pipes of that name with the \PIPE00 and \PIPE01 suffixes that
// CUsbPipe appends. Every connection to the device name counts as an open of the device.
// The pipes admit this process's user alone, who owns them (plat::PrivatePipeSecurity), so
// that no other user reads the replies and the program can tell who made them.
//
// Pipes carry no driver control codes: DeviceIoControl on these handles fails, so the
// adapter never sees a bus reset or clear-feature request. Replies go back as soon as a frame
// is handled (no timing model), and opens cannot be refused (a pipe client is connected before
// its server sees it). The in-process devices and vexil-sim of the POSIX build have all that.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "vexilsim/sim_adapter.h"

namespace vexilsim {

class PipeAdapter {
  public:
    // Serves the adapter at path, or at a name of this process's own when path is empty.
    explicit PipeAdapter(std::shared_ptr<SimAdapter> adapter, std::string path = {});
    ~PipeAdapter();
    PipeAdapter(const PipeAdapter&) = delete;
    PipeAdapter& operator=(const PipeAdapter&) = delete;

    // False when the pipes could not be created (for one, because another program serves a
    // pipe of that name); error() says which.
    bool serving() const;
    const std::string& error() const;

    const std::string& path() const;
    SimAdapter& adapter();
    // The chip's flash between two frames.
    std::vector<uint8_t> FlashContents() const;
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

}  // namespace vexilsim
