#pragma once
// Windows: who may serve a simulated adapter's named pipes. The server creates its pipes with
// PrivatePipeSecurity; the program accepts a pipe only when the pipe object's own security
// descriptor shows that kind of server (PipeServerTrusted), whatever process holds it now.
#include "platform/win32_types.h"

namespace plat {

// Security attributes for CreateNamedPipe: this process's user owns the pipe and is the only
// one admitted, and the pipe carries this process's integrity level as its label.
class PrivatePipeSecurity {
  public:
    PrivatePipeSecurity();
    ~PrivatePipeSecurity();
    PrivatePipeSecurity(const PrivatePipeSecurity&) = delete;
    PrivatePipeSecurity& operator=(const PrivatePipeSecurity&) = delete;

    // A SECURITY_ATTRIBUTES record, or nullptr when the descriptor could not be made.
    void* attributes();

  private:
    void* descriptor_ = nullptr;
    void* attributes_ = nullptr;
};

// Whether the pipe (a connected handle opened with READ_CONTROL) is owned by this process's
// user and labelled no lower than this process's integrity level (no label counts as medium).
bool PipeServerTrusted(HANDLE pipe);

}  // namespace plat
