#pragma once
// Device providers: what stands behind a device path. device_io.h and device_enum.h route
// every path to the provider that claims its form (the in-process provider for tests, a
// socket provider for vexil-sim, later real USB); the providers only move bytes and answer
// control requests, while the overlapped-I/O bookkeeping (events, results, cancelling) is
// done once, in device_io.cpp.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32_types.h"

namespace plat {

// The device object itself, as opposed to one of its pipes.
constexpr int kDeviceItself = -1;

// A transfer that did not complete when it was started. Owned by the device-I/O layer,
// which destroys it once it finished or was cancelled; it must not touch the caller's
// buffer after Cancel or destruction.
class PendingTransfer {
  public:
    virtual ~PendingTransfer() = default;
    // Drives the transfer for at most ms milliseconds (INFINITE: no limit). Returns true
    // when it finished, with transferred and error (ERROR_SUCCESS or the failure) set;
    // false when the time ran out or the provider declared the wait expired.
    virtual bool Drive(uint32_t ms, uint32_t& transferred, uint32_t& error) = 0;
    // The transfer is being abandoned (CancelIo or closing its handle).
    virtual void Cancel() {}
};

// Result of starting a read or write.
struct IoStart {
    enum Kind { kDone, kPending, kFailed } kind = kFailed;
    uint32_t transferred = 0;
    uint32_t error = ERROR_GEN_FAILURE;
    std::unique_ptr<PendingTransfer> pending;

    static IoStart Done(uint32_t n) { return {kDone, n, ERROR_SUCCESS, nullptr}; }
    static IoStart Failed(uint32_t e) { return {kFailed, 0, e, nullptr}; }
    static IoStart Pending(std::unique_ptr<PendingTransfer> p) {
        return {kPending, 0, ERROR_IO_PENDING, std::move(p)};
    }
};

// One open file of a provider: a device (pipe kDeviceItself) or one of its pipes.
// Destroying it closes it.
class DeviceFile {
  public:
    virtual ~DeviceFile() = default;
    // The buffer stays valid until the transfer finished or was cancelled.
    virtual IoStart Read(void* buffer, uint32_t length) = 0;
    // The provider copies what it needs before returning a pending transfer.
    virtual IoStart Write(const void* buffer, uint32_t length) = 0;
    // A control request; returns ERROR_SUCCESS or the failure. in and out never overlap
    // (the caller copies the input first).
    virtual uint32_t Control(uint32_t code, const uint8_t* in, uint32_t inSize, uint8_t* out,
                             uint32_t outSize, uint32_t& returned) = 0;
};

// One present device interface, as enumeration lists it.
struct DeviceListing {
    std::string path;
    GUID interfaceClass{};
    // The detail query of this interface fails (a test switch of the in-process provider).
    bool detailFails = false;
};

class DeviceProvider {
  public:
    virtual ~DeviceProvider() = default;
    // Whether device paths of this form belong to this provider (pipe suffix removed).
    virtual bool ClaimsPath(const std::string& devicePath) = 0;
    // Opens the device (pipe kDeviceItself) or one of its pipes. On failure returns null
    // and sets error (ERROR_FILE_NOT_FOUND for an unknown device, or the device's refusal).
    virtual std::unique_ptr<DeviceFile> Open(const std::string& devicePath, int pipe,
                                             uint32_t access, uint32_t& error) = 0;
    // Appends the present interfaces of the class, in this provider's stable order.
    virtual void ListInterfaces(const GUID& interfaceClass, std::vector<DeviceListing>& out) = 0;
};

// Providers are consulted in ascending rank (equal ranks in registration order), both for
// claiming paths and for the order of enumeration. The in-process provider is built in with
// rank 0 and listed first. Not owned; unregister before destroying a provider.
void RegisterDeviceProvider(DeviceProvider* provider, int rank);
void UnregisterDeviceProvider(DeviceProvider* provider);
// The provider that claims the device path, or null.
DeviceProvider* FindDeviceProvider(const std::string& devicePath);
// Every provider, in rank order (a snapshot).
std::vector<DeviceProvider*> DeviceProviders();

// Splits "<device path>\PIPEnn" into the device path and the pipe index; a path without
// a pipe suffix is the device itself (pipe kDeviceItself).
void SplitPipePath(const std::string& path, std::string& devicePath, int& pipe);

}  // namespace plat
