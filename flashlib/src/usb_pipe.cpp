#include "brindlex/usb_pipe.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "brindlex/vexil_protocol.h"
#include "platform/device_io.h"
#include "platform/kernel_object.h"
#include "transfer_wait.h"

using plat::HANDLE;
using plat::IsOpenHandle;

namespace {

constexpr uint32_t kWriteTimeoutMs = 5000;
constexpr uint32_t kReadTimeoutMs = 10000;
constexpr uint32_t kDefaultTransferSize = 4096;
constexpr uint32_t kPacketSize = 512;
constexpr size_t kNameSize = 256;
constexpr uint32_t kControlHeadSize = 7;

// One record per direction for the whole library: only one pipe is ever in transfer, which
// the channel lock guarantees. They start zeroed and belong to OpenPipe/ClosePipe alone, so
// constructing a pipe object never drops events another object created.
plat::OVERLAPPED writeTransfer{};
plat::OVERLAPPED readTransfer{};

void CopyName(char* to, const char* from) {
    if (to == from)
        return;
    if (from == nullptr)
        from = "";
    size_t n = strnlen(from, kNameSize - 1);
    std::memmove(to, from, n);
    to[n] = '\0';
}

void CloseEvent(plat::OVERLAPPED& transfer) {
    if (transfer.hEvent != nullptr) {
        plat::CloseHandle(transfer.hEvent);
        transfer.hEvent = nullptr;
    }
}

bool StartTransfer(plat::OVERLAPPED& transfer) {
    transfer = plat::OVERLAPPED{};
    transfer.hEvent = plat::CreateEventA(nullptr, true, false, nullptr);
    return transfer.hEvent != nullptr;
}

// A driver may still complete a cancelled transfer, into the caller's buffer and the shared
// record: neither may be released or reused before the transfer has ended.
void CancelAndWait(CUsbPipe& pipe, HANDLE handle, plat::OVERLAPPED& transfer) {
    pipe.TimeoutProc(handle);
    uint32_t ignored = 0;
    plat::GetOverlappedResult(handle, &transfer, &ignored, true);
}

// Endpoint of a pipe index in the first byte of a control buffer.
void FillEndpoint(uint8_t* buffer, uint16_t pipeIndex) {
    if (pipeIndex == vexil::kWritePipe)
        buffer[0] = vexil::kWriteEndpoint;
    if (pipeIndex == vexil::kReadPipe)
        buffer[0] = vexil::kReadEndpoint;
    buffer[1] = 0;
}

}  // namespace

CUsbPipe::CUsbPipe()
    : guid{},
      hDevice(nullptr),
      hPipe(nullptr),
      completeDeviceName{},
      completePipeName{},
      maximumTransferSize(kDefaultTransferSize),
      maxPacketSize(kPacketSize),
      timeout(0) {}

CUsbPipe::CUsbPipe(const plat::GUID& g, uint32_t transferSize) : CUsbPipe() {
    guid = g;
    maximumTransferSize = transferSize;
}

CUsbPipe::~CUsbPipe() {
    // A failed transfer leaves its pipe open until the next OpenPipe; do not leak it.
    if (IsOpenHandle(hPipe))
        ClosePipe();
    CloseDevice();
}

plat::GUID& CUsbPipe::SetGuid(const plat::GUID& g) {
    guid = g;
    return guid;
}

plat::GUID& CUsbPipe::GetCurrentGuid() {
    return guid;
}
char* CUsbPipe::GetCompleteDeviceName() {
    return completeDeviceName;
}
char* CUsbPipe::GetCompletePipeName() {
    return completePipeName;
}

uint32_t CUsbPipe::SetMaximumTransferSize(uint32_t size) {
    uint32_t previous = maximumTransferSize;
    maximumTransferSize = size;
    return previous;
}

uint32_t CUsbPipe::GetMaximumTransferSize() {
    return maximumTransferSize;
}
uint32_t CUsbPipe::GetMaxPacketSize() {
    return maxPacketSize;
}

int CUsbPipe::OpenDevice(const char* path) {
    CloseDevice();
    if (path != nullptr && strnlen(path, kNameSize) >= kNameSize) {
        // A cut-off path would reach some other device.
        completeDeviceName[0] = '\0';
        return 0;
    }
    CopyName(completeDeviceName, path);
    hDevice = OpenUsbDevice(completeDeviceName);
    if (!IsOpenHandle(hDevice))
        return 0;
    BusReset();
    AnalyzeDeviceDescriptor();
    return 1;
}

HANDLE CUsbPipe::OpenUsbDevice(const char* path) {
    return OpenOneDevice(path);
}

HANDLE CUsbPipe::OpenOneDevice(const char* path) {
    return plat::CreateFileA(path, plat::GENERIC_READ | plat::GENERIC_WRITE, 0, nullptr,
                             plat::OPEN_ALWAYS, 0, nullptr);
}

int CUsbPipe::CloseDevice() {
    int result = 1;
    if (IsOpenHandle(hDevice))
        result = plat::CloseHandle(hDevice) ? 1 : 0;
    hDevice = nullptr;
    return result;
}

int CUsbPipe::OpenPipe(int pipeIndex, int) {
    ClosePipe();
    if (!IsOpenHandle(hDevice) && !OpenDevice(completeDeviceName)) {
        hDevice = plat::INVALID_HANDLE_VALUE;
        return 0;
    }
    int n =
        std::snprintf(completePipeName, kNameSize, "%s\\PIPE%02d", completeDeviceName, pipeIndex);
    if (n < 0 || static_cast<size_t>(n) >= kNameSize) {
        // A cut-off name would reach some other file.
        completePipeName[0] = '\0';
        CloseDevice();
        return 0;
    }
    uint32_t access = plat::GENERIC_READ | plat::GENERIC_WRITE;
    uint32_t share = plat::FILE_SHARE_READ | plat::FILE_SHARE_WRITE;
    uint32_t flags = 0;
    if (pipeIndex == vexil::kWritePipe) {
        access = plat::GENERIC_WRITE;
        share = plat::FILE_SHARE_WRITE;
        flags = plat::FILE_FLAG_OVERLAPPED;
    } else if (pipeIndex == vexil::kReadPipe) {
        access = plat::GENERIC_READ;
        share = plat::FILE_SHARE_READ;
        flags = plat::FILE_FLAG_OVERLAPPED;
    }
    hPipe = plat::CreateFileA(completePipeName, access, share, nullptr, plat::OPEN_EXISTING, flags,
                              nullptr);
    if (!IsOpenHandle(hPipe)) {
        CloseDevice();
        return 0;
    }
    AnalyzeEndPointDescriptor(pipeIndex);
    if (!StartTransfer(readTransfer) || !StartTransfer(writeTransfer)) {
        ClosePipe();
        return 0;
    }
    return 1;
}

int CUsbPipe::ClosePipe() {
    int result = 1;
    if (IsOpenHandle(hPipe))
        result = plat::CloseHandle(hPipe) ? 1 : 0;
    hPipe = nullptr;
    CloseEvent(readTransfer);
    CloseEvent(writeTransfer);
    return result;
}

int CUsbPipe::TimeoutProc(HANDLE handle) {
    plat::CancelIo(handle);
    return 1;
}

int CUsbPipe::WritePipe(const void* data, uint32_t length, uint32_t& written) {
    timeout = kWriteTimeoutMs;
    written = 0;
    const auto* bytes = static_cast<const uint8_t*>(data);
    const uint32_t chunks = maximumTransferSize == 0 ? 0 : length / maximumTransferSize;
    const uint32_t rest = maximumTransferSize == 0 ? length : length % maximumTransferSize;
    int result = 1;
    HANDLE event = writeTransfer.hEvent;
    plat::ResetEvent(event);

    // One WriteFile of size bytes; remainder decides the clean-up on an outright failure.
    auto step = [&](uint32_t size, bool remainder) {
        uint32_t n = 0;
        if (plat::WriteFile(hPipe, bytes + written, size, &n, &writeTransfer)) {
            written += n;
            if (n != size)
                result = 0;
        } else if (plat::GetLastError() != plat::ERROR_IO_PENDING) {
            result = 0;
            if (remainder) {
                ClosePipe();
                CloseDevice();
                return;
            }
        } else {
            uint32_t wait = WaitForTransfer(event, timeout);
            if (wait == plat::WAIT_OBJECT_0) {
                result = plat::GetOverlappedResult(hPipe, &writeTransfer, &n, true) ? 1 : 0;
                written += n;
            } else {
                // Timed out, or the wait failed: the transfer is still the driver's.
                CancelAndWait(*this, hPipe, writeTransfer);
                result = 0;
            }
        }
        plat::ResetEvent(event);
    };

    for (uint32_t i = 0; i < chunks && result != 0; ++i)
        step(maximumTransferSize, false);
    if (rest != 0 && result != 0)
        step(rest, true);
    return result;
}

int CUsbPipe::ReadPipe(void* buffer, uint32_t length, uint32_t& read) {
    timeout = kReadTimeoutMs;
    read = 0;
    auto* bytes = static_cast<uint8_t*>(buffer);
    const uint32_t chunks = maximumTransferSize == 0 ? 0 : length / maximumTransferSize;
    const uint32_t rest = maximumTransferSize == 0 ? length : length % maximumTransferSize;
    int result = 1;
    bool more = true;
    HANDLE event = readTransfer.hEvent;
    plat::ResetEvent(event);

    auto step = [&](uint32_t size, bool remainder) {
        uint32_t n = 0;
        if (plat::ReadFile(hPipe, bytes + read, size, &n, &readTransfer)) {
            read += n;
            // A short packet is the normal end of a reply.
            if (n < size)
                more = false;
        } else if (plat::GetLastError() != plat::ERROR_IO_PENDING) {
            result = 0;
            if (remainder) {
                ClosePipe();
                CloseDevice();
                return;
            }
        } else {
            uint32_t wait = WaitForTransfer(event, timeout);
            if (wait == plat::WAIT_OBJECT_0) {
                result = plat::GetOverlappedResult(hPipe, &readTransfer, &n, true) ? 1 : 0;
                read += n;
                // Also when it arrives late: another full-chunk read would only wait for a
                // reply that will not come.
                if (n < size)
                    more = false;
            } else {
                CancelAndWait(*this, hPipe, readTransfer);
                result = 0;
            }
        }
        plat::ResetEvent(event);
    };

    for (uint32_t i = 0; i < chunks && result != 0 && more; ++i)
        step(maximumTransferSize, false);
    if (rest != 0 && result != 0 && more)
        step(rest, true);
    return result;
}

int CUsbPipe::BusReset() {
    if (!IsOpenHandle(hDevice))
        OpenDevice(completeDeviceName);
    if (!IsOpenHandle(hDevice))
        return 0;
    // The driver ignores the content.
    uint8_t buffer[vexil::kControlBufferSize] = {};
    uint32_t returned = 0;
    return plat::DeviceIoControl(hDevice, vexil::IOCTL_RESET_DEVICE, buffer, sizeof buffer, buffer,
                                 sizeof buffer, &returned, nullptr)
               ? 1
               : 0;
}

int CUsbPipe::GetConfigDesc(void* buffer, uint16_t size, uint16_t& returned) {
    returned = 0;
    if (!IsOpenHandle(hDevice))
        OpenDevice(completeDeviceName);
    if (!IsOpenHandle(hDevice))
        return 0;
    uint32_t n = 0;
    bool ok = plat::DeviceIoControl(hDevice, vexil::IOCTL_GET_CONFIG_DESCRIPTOR, buffer, size,
                                    buffer, size, &n, nullptr);
    returned = static_cast<uint16_t>(n);
    return ok ? 1 : 0;
}

int CUsbPipe::GetDescriptor(uint8_t type, uint8_t index, uint16_t languageId, void* buffer,
                            uint16_t length, uint16_t& returned) {
    returned = 0;
    if (!IsOpenHandle(hDevice))
        OpenDevice(completeDeviceName);
    if (!IsOpenHandle(hDevice))
        return 0;
    // The driver always exchanges 512 bytes; going through a buffer of that size keeps a
    // shorter caller's buffer intact beyond length.
    uint8_t exchange[vexil::kControlBufferSize] = {};
    exchange[0] = type;
    exchange[1] = index;
    vexil::PutLE16(exchange + 2, languageId);
    vexil::PutLE16(exchange + 4, length);
    uint32_t n = 0;
    bool ok = plat::DeviceIoControl(hDevice, vexil::IOCTL_GET_DESCRIPTOR, exchange, sizeof exchange,
                                    exchange, sizeof exchange, &n, nullptr);
    // Only what the driver returned and the caller has room for is copied, and reported.
    uint32_t copied = 0;
    if (buffer != nullptr) {
        copied = std::min<uint32_t>({n, length, uint32_t{sizeof exchange}});
        std::memcpy(buffer, exchange, copied);
    }
    returned = static_cast<uint16_t>(copied);
    return ok ? 1 : 0;
}

int CUsbPipe::resetPipe(uint16_t pipeIndex) {
    if (!IsOpenHandle(hDevice))
        OpenDevice(completeDeviceName);
    if (!IsOpenHandle(hDevice))
        return 0;
    uint8_t buffer[vexil::kControlBufferSize] = {};
    FillEndpoint(buffer, pipeIndex);
    uint32_t returned = 0;
    return plat::DeviceIoControl(hPipe, vexil::IOCTL_RESET_PIPE, buffer, sizeof buffer, buffer,
                                 sizeof buffer, &returned, nullptr)
               ? 1
               : 0;
}

int CUsbPipe::ClrFeature(uint16_t pipeIndex) {
    if (!IsOpenHandle(hDevice))
        OpenDevice(completeDeviceName);
    if (!IsOpenHandle(hDevice))
        return 0;
    uint8_t buffer[vexil::kControlBufferSize] = {};
    FillEndpoint(buffer, pipeIndex);
    uint32_t returned = 0;
    plat::DeviceIoControl(hDevice, vexil::IOCTL_CLEAR_FEATURE, buffer, sizeof buffer, buffer,
                          sizeof buffer, &returned, nullptr);
    FillEndpoint(buffer, pipeIndex);
    return plat::DeviceIoControl(hPipe, vexil::IOCTL_RESET_PIPE, buffer, sizeof buffer, buffer,
                                 sizeof buffer, &returned, nullptr)
               ? 1
               : 0;
}

int CUsbPipe::RequestControl(REQ_TYPE kind, DIRECT_TYPE direction, DEST_TYPE recipient,
                             uint8_t request, uint16_t value, uint16_t index, uint16_t length,
                             void* buffer, uint16_t& returned) {
    returned = 0;
    if (!IsOpenHandle(hDevice))
        OpenDevice(completeDeviceName);
    if (!IsOpenHandle(hDevice)) {
        CloseDevice();
        OpenDevice(completeDeviceName);
    }
    if (!IsOpenHandle(hDevice))
        return 0;
    auto valid = [](int v) { return v == 0 || v == 1; };
    if (!valid(kind) || !valid(direction) || !valid(recipient) || buffer == nullptr)
        return 0;

    uint32_t code = kind == 0 ? 0x220014 : 0x22001C;
    if (direction == 1)
        code -= 4;
    if (recipient == 1)
        code += 16;

    // The caller's buffer holds length + 7 bytes: the head goes in front of the data.
    auto* bytes = static_cast<uint8_t*>(buffer);
    std::memmove(bytes + kControlHeadSize, bytes, length);
    bytes[0] = request;
    vexil::PutLE16(bytes + 1, value);
    vexil::PutLE16(bytes + 3, index);
    vexil::PutLE16(bytes + 5, length);
    uint32_t n = 0;
    bool ok = plat::DeviceIoControl(hDevice, code, bytes, length + kControlHeadSize, bytes, 4, &n,
                                    nullptr);
    returned = static_cast<uint16_t>(n);
    if (!ok)
        CloseDevice();
    return ok ? 1 : 0;
}

int CUsbPipe::AnalyzeDeviceDescriptor() {
    maxPacketSize = kPacketSize;
    return 1;
}

int CUsbPipe::AnalyzeEndPointDescriptor(int) {
    maxPacketSize = kPacketSize;
    return 1;
}
