#pragma once
// A vexil-sim process for one test, in a private temporary directory: its device directory
// (also set as VEXIL_DEVICE_DIR for this process), its dump directory and its log. The
// daemon is stopped and reaped by the destructor on every path, also after a failed
// assertion, and it dies with the test process if that dies first.
#include <sys/types.h>

#include <string>
#include <vector>

#include "brindlex/target_info.h"

namespace e2e {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  private:
    std::string path_;
};

class SimProcess {
  public:
    // Starts vexil-sim on the setup file with extra options; Start() reports how that went.
    SimProcess(const TempDir& dir, const std::string& setupPath,
               std::vector<std::string> extraArgs = {});
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Waits (at most 30 s) for "ready"; false with the log in error otherwise.
    bool Start(std::string& error);
    // SIGUSR1, then waits (at most 30 s) for "dumped".
    bool Dump();
    // Sends the signal and waits (at most 30 s) for the exit; true when it exited.
    bool Stop(int signal, int& status);
    // Sends a signal without waiting.
    void Signal(int signal);
    bool running() const { return pid_ > 0; }

    const std::string& deviceDir() const { return deviceDir_; }
    std::string DumpPath(const std::string& adapterName) const;
    std::string Log() const;

  private:
    bool WaitForLine(const std::string& line, int ms);
    bool Reap(int ms, int& status);

    std::string deviceDir_;
    std::string dumpDir_;
    std::string logPath_;
    pid_t pid_ = -1;
    int out_ = -1;  // the daemon's standard output
    std::string pending_;
};

// The example TRG file of that name, read with the library's reader.
CTargetInfo ExampleTarget(const std::string& name);
std::string ExampleDir();
void WriteText(const std::string& path, const std::string& text);
std::vector<uint8_t> ReadBytes(const std::string& path);

// Target n's status and plug state through the flat API, -1 when it has none.
int Status(int n);
int PlugState(int n);

}  // namespace e2e
