#pragma once
// The in-process device provider: devices implemented by objects in the calling process,
// registered under a path "\\?\inproc#..." so that the code above device_io.h reaches them
// exactly as it would reach a driver's device. Tests use it to stand in for adapters.
//
// Everything runs on the thread that does the I/O: a pending transfer asks its device again
// whenever a wait on its event drives it. A device that answers "never" makes such a wait
// expire at once, and the provider records the time-out that was asked for, so time-outs
// are tested without sleeping.
#include <cstdint>
#include <memory>
#include <string>

#include "platform/device_provider.h"
#include "platform/win32_types.h"

namespace plat {

// Paths of in-process devices begin with this (case-insensitive).
constexpr char kInprocPathPrefix[] = "\\\\?\\inproc#";

// What a device answers to a read or a write.
struct InprocIo {
    enum Kind {
        kNow,     // done: bytes moved
        kNotYet,  // not yet: ask again when the device calls InprocNotify or a wait ends
        kNever,   // will not complete while the caller waits: a wait expires at once
        kFail,    // failed with error
    } kind = kNever;
    uint32_t bytes = 0;
    uint32_t error = ERROR_SUCCESS;

    static InprocIo Now(uint32_t n) { return {kNow, n, ERROR_SUCCESS}; }
    static InprocIo NotYet() { return {kNotYet, 0, ERROR_SUCCESS}; }
    static InprocIo Never() { return {kNever, 0, ERROR_SUCCESS}; }
    static InprocIo Fail(uint32_t e) { return {kFail, 0, e}; }
};

// A simulated device. Pipe 0 carries host-to-device data, pipe 1 device-to-host data; pipe
// kDeviceItself (-1, see device_provider.h) is the device object. Calls come from the thread
// doing the I/O, one at a time per device.
class InprocDevice {
  public:
    virtual ~InprocDevice() = default;
    // Opening the device or a pipe: ERROR_SUCCESS, or the error the open fails with.
    virtual uint32_t Open(int pipe) { return ERROR_SUCCESS; }
    virtual void Close(int pipe) {}
    // Host writes on pipe 0.
    virtual InprocIo Write(const uint8_t* data, uint32_t length) = 0;
    // Host reads on pipe 1; bytes moved must not exceed length.
    virtual InprocIo Read(uint8_t* buffer, uint32_t length) = 0;
    // A control request on the device or a pipe: ERROR_SUCCESS or the failure.
    virtual uint32_t Control(int pipe, uint32_t code, const uint8_t* in, uint32_t inSize,
                             uint8_t* out, uint32_t outSize, uint32_t& returned) {
        returned = 0;
        return ERROR_SUCCESS;
    }
    // False once the device is unplugged: it is no longer listed, opens fail with
    // ERROR_FILE_NOT_FOUND and I/O on open handles fails with ERROR_DEVICE_NOT_CONNECTED.
    virtual bool IsConnected() { return true; }
};

// Registers a device under a path that begins with kInprocPathPrefix. With a class, the
// device is listed only for that interface class; without one, for every class. Returns
// false for a path of another form or one already registered.
bool InprocRegister(const std::string& path, std::shared_ptr<InprocDevice> device,
                    const GUID* interfaceClass = nullptr);
// Removes the device; handles still open on it fail with ERROR_DEVICE_NOT_CONNECTED.
bool InprocUnregister(const std::string& path);
void InprocClear();

// Per-device test switches.
struct InprocSwitches {
    bool pendingReads = false;     // reads never complete at once, only through a wait
    bool pendingWrites = false;    // likewise for writes
    bool failDetailQuery = false;  // enumeration lists the device but its path cannot be fetched
};
bool InprocSetSwitches(const std::string& path, const InprocSwitches& switches);

// What the provider observed on one device.
struct InprocStats {
    uint32_t lastReadWaitMs = 0;   // time-out asked for by the last wait on a pending read
    uint32_t lastWriteWaitMs = 0;  // likewise for writes
    uint32_t readWaits = 0;        // waits that drove a pending read
    uint32_t writeWaits = 0;
    uint32_t expiredReadWaits = 0;  // of those, the ones that ended without completion
    uint32_t expiredWriteWaits = 0;
    uint32_t cancelled = 0;    // pending transfers cancelled (CancelIo or close)
    uint32_t openHandles = 0;  // device and pipe handles open now
    uint32_t opens = 0;        // successful opens of the device itself
};
bool InprocGetStats(const std::string& path, InprocStats& stats);

// A device whose Read or Write answered "not yet" calls this when it may have progressed,
// waking waits that are driving its transfers (from any thread).
void InprocNotify();

}  // namespace plat
