#pragma once
// CUsbPipe: one adapter's kernel-driver device object and its two bulk pipes.
#include <cstdint>

#include "brindlex/export.h"
#include "platform/win32_types.h"

// Control transfer kinds of RequestControl; each must be 0 or 1.
enum REQ_TYPE : int { REQ_VENDOR = 0, REQ_CLASS = 1 };
enum DIRECT_TYPE : int { DIRECT_OUT = 0, DIRECT_IN = 1 };
enum DEST_TYPE : int { DEST_DEVICE = 0, DEST_INTERFACE = 1 };

class BRINDLEX_API CUsbPipe {
  public:
    CUsbPipe();
    CUsbPipe(const plat::GUID& guid, uint32_t transferSize);
    // Copies would share the device handle and close it twice.
    CUsbPipe(const CUsbPipe&) = delete;
    CUsbPipe& operator=(const CUsbPipe&) = delete;
    virtual ~CUsbPipe();

    plat::GUID& SetGuid(const plat::GUID& guid);
    plat::GUID& GetCurrentGuid();
    char* GetCompleteDeviceName();
    char* GetCompletePipeName();
    uint32_t SetMaximumTransferSize(uint32_t size);
    uint32_t GetMaximumTransferSize();
    uint32_t GetMaxPacketSize();

    int OpenDevice(const char* path);
    int CloseDevice();
    int OpenPipe(int pipeIndex, int unused);
    int ClosePipe();
    int TimeoutProc(plat::HANDLE handle);

    int WritePipe(const void* data, uint32_t length, uint32_t& written);
    int ReadPipe(void* buffer, uint32_t length, uint32_t& read);

    int BusReset();
    int GetConfigDesc(void* buffer, uint16_t size, uint16_t& returned);
    int GetDescriptor(uint8_t type, uint8_t index, uint16_t languageId, void* buffer,
                      uint16_t length, uint16_t& returned);
    int resetPipe(uint16_t pipeIndex);
    int ClrFeature(uint16_t pipeIndex);
    int RequestControl(REQ_TYPE kind, DIRECT_TYPE direction, DEST_TYPE recipient, uint8_t request,
                       uint16_t value, uint16_t index, uint16_t length, void* buffer,
                       uint16_t& returned);

  protected:
    plat::HANDLE OpenUsbDevice(const char* path);
    plat::HANDLE OpenOneDevice(const char* path);
    int AnalyzeDeviceDescriptor();
    int AnalyzeEndPointDescriptor(int pipeIndex);

  private:
    plat::GUID guid;
    plat::HANDLE hDevice;
    plat::HANDLE hPipe;
    char completeDeviceName[256];
    char completePipeName[256];
    uint32_t maximumTransferSize;
    uint32_t maxPacketSize;
    uint32_t timeout;
};
