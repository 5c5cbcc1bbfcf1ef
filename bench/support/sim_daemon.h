#pragma once
// A vexil-sim process for one benchmark, in a private directory that is also this process's
// VEXIL_DEVICE_DIR; stopped, and the directory removed, on destruction.
#include <sys/types.h>

#include <string>

class CTargetInfo;

namespace bench {

class SimDaemon {
  public:
    // adapters: the [ADAPTERn] sections (and [DEFAULTS]) of the setup; sections: their count.
    // Target types are looked up among the example TRG files. Throws when it does not start.
    SimDaemon(const std::string& adapters, int sections);
    ~SimDaemon();
    SimDaemon(const SimDaemon&) = delete;
    SimDaemon& operator=(const SimDaemon&) = delete;

    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
    pid_t pid_ = -1;
};

// The example TRG files' directory.
std::string ExampleTrgDir();

// The example TRG file of that name, read with the library's reader; throws when it cannot be.
CTargetInfo ExampleTarget(const std::string& name);

// The writer's plug sequence through the flat API on every connected adapter; false unless
// exactly expected targets are there and every one ends ready.
bool PlugAll(CTargetInfo& target, int expected);

}  // namespace bench
