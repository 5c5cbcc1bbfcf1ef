#pragma once
// CQuorvelApi: the multi-target service over the connection list, and the TRG reader.
// Its single instance is the exported global ApiObj.
#include <cstdint>
#include <string>

#include "brindlex/export.h"
#include "brindlex/flash_status.h"
#include "brindlex/target_info.h"

class CTrgConnectCtrl;
class CFlashApi;
struct CQuorvelApiTestAccess;

class BRINDLEX_API CQuorvelApi {
  public:
    CQuorvelApi();
    CQuorvelApi(const CQuorvelApi&) = default;             // copies the list pointer
    CQuorvelApi& operator=(const CQuorvelApi&) = default;  // copies the list pointer

    CTrgConnectCtrl* GetTrgConnect();
    void SetTrgConnect(CTrgConnectCtrl* connect);

    // Target description files.
    TRGINFO* ReadTargetInfoFile(uint8_t maxIdBits, uint16_t& foundCount);
    int DeleteTargetInfoSet(TRGINFO** set);

    // Plug-time checks and resets.
    int SysResetPlug(int n);
    int SysReset(int n);
    int SysResetAll();
    int CheckFirm(int n);
    int CheckTargetName(int n, const TRGINFO* set, const std::string& name);
    int IsTargetProtected(int n, uint16_t& protect);
    int SetSecID(int n, uint8_t length, const uint16_t* id, uint16_t& protect);
    int GetSecType(int n, uint16_t& type);

    // All-target flash operations.
    int ChipEraseAll();
    int FlashEraseBlockAll(uint32_t address);
    int FlashWriteAll(uint32_t first, uint32_t last, uint32_t destination, const uint8_t* image);
    int FlashWriteAllWithSN(uint32_t first, uint32_t last, uint32_t destination,
                            const uint8_t* image, uint32_t serialAddress);
    int FlashRead(int n, uint32_t size, uint32_t& count, uint8_t* buffer);

    // Per-target state.
    int GetEnableFlg(int n, int& flag);
    int SetEnableFlg(int n, int flag);
    int GetTargetStatus(int n, int& status);
    int SetTargetStatus(int n, int status);
    int GetTargetPlugSuccess(int n, int& flag);
    int GetTargetPlugStatus(int n, PlugStatus& plugStatus);
    int SetTargetPlugStatus(int n, PlugStatus plugStatus);
    int GetFirmVerStr(int n, char* buffer, uint32_t size, uint32_t& needed);
    // The chip name the adapter reports, NUL-terminated within size bytes; the target's status
    // stays as it was, whatever the exchange gives.
    int GetChipName(int n, char* buffer, uint32_t size);
    int UpdateErrorTargetLED(int n);
    int ErrorTargetLED(int n);
    int GetSerialNumber(int n, uint8_t* buffer, uint32_t size, uint32_t& length);
    int SetSerialNumber(int n, const uint8_t* bytes, uint32_t length);

  private:
    friend struct CQuorvelApiTestAccess;
    int AdrsToNum(const char* text, uint32_t& value);
    uint32_t Calc2BitShift(uint32_t value, uint8_t code, int width);
    // The adapter object of target n, or null when there is no list or n is out of range.
    CFlashApi* Target(int n);

    CTrgConnectCtrl* trgConnect;
};

extern BRINDLEX_API CQuorvelApi ApiObj;
