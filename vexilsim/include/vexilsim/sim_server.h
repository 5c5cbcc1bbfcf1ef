#pragma once
// The server of vexil-sim: one listening Unix domain socket per adapter in the device
// directory, speaking the socket device messages (platform/socket_device.h). One event loop
// runs every adapter: a frame is executed when it arrives and its reply goes back once the
// adapter's timing model says the command is done, so commands sent to several adapters
// run at the same time while each adapter works through its own commands in order.
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32_types.h"
#include "vexilsim/sim_setup.h"

namespace vexilsim {

struct ServerOptions {
    std::string deviceDir;
    // Where DumpFlash writes; empty: no dumps.
    std::string dumpDir;
    // Frames are logged here when set.
    FILE* trace = nullptr;
    // The interface class the adapters announce to enumeration.
    plat::GUID interfaceClass{};
    // A signalfd: SIGINT and SIGTERM stop the server, SIGUSR1 dumps the flash. -1: none.
    int signalFd = -1;
    // Called with "dumped" after every dump asked for by SIGUSR1.
    std::function<void(const std::string&)> notify;
};

class SimServer {
  public:
    SimServer(std::vector<AdapterSetup> adapters, ServerOptions options);
    // Closes every socket and removes the socket files this server created.
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // Creates the device directory if needed and a listening socket per adapter. Refuses a
    // path served by a live daemon or taken by something that is not a socket; removes a
    // socket left behind by a daemon that died.
    bool Listen(std::string& error);
    // Serves until Stop() or a stop signal.
    void Run();
    // From any thread.
    void Stop();

    // Writes every chip's flash to <dumpDir>/<adapter name>.bin (byte i = flash address i),
    // each file replaced atomically. Only between runs or from the serving thread.
    bool DumpFlash(std::string& error);
    static std::string DumpFileName(const std::string& adapterName);

    const std::vector<AdapterSetup>& adapters() const { return adapters_; }
    std::string SocketPath(size_t index) const;

  private:
    struct Impl;
    std::vector<AdapterSetup> adapters_;
    ServerOptions options_;
    std::unique_ptr<Impl> impl_;
};

}  // namespace vexilsim
