#pragma once
// CTrgConnectCtrl: discovers the adapters present and owns one CFlashApi per adapter.
// The position in its lists is the target number (the first adapter found is target 1).
#include <cstdint>
#include <list>
#include <string>

#include "brindlex/export.h"
#include "platform/device_enum.h"
#include "platform/win32_types.h"

class CFlashApi;

// Position of an entry in the adapter list; null after the last entry.
using DEVPOSITION = void*;

// The adapter driver's device interface class.
extern BRINDLEX_API const plat::GUID VEXIL_INTERFACE_GUID;

class BRINDLEX_API CTrgConnectCtrl {
  public:
    static constexpr int kMaxAdapters = 32;

    CTrgConnectCtrl();
    CTrgConnectCtrl(const CTrgConnectCtrl&) = delete;
    CTrgConnectCtrl& operator=(const CTrgConnectCtrl&) = delete;
    ~CTrgConnectCtrl();

    // 1: done (0 to 32 adapters); 0: no device information set; -1: more than 32 adapters.
    int GetUsbDevice();
    int GetOneDevice(plat::HDEVINFO set, plat::SP_DEVICE_INTERFACE_DATA* interfaceData,
                     std::string& path);
    int CreateFlashApi();
    int GetDevNum();
    int GetSizeDevObj();
    CFlashApi* GetIndexDevObj(int targetNumber);
    CFlashApi* GetHeadDevObj();
    DEVPOSITION GetHeadPositionDevObj();
    CFlashApi* GetNextDevObj(DEVPOSITION& position);
    void RemoveAllDevObj();
    int GetDevicePathStr(int targetNumber, char* buffer, uint32_t bufferSize, uint32_t& needed);

  private:
    plat::GUID interfaceClass;
    std::list<std::string> devicePaths;
    int deviceCount;
    std::list<CFlashApi*> adapters;
};
