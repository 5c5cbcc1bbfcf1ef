#pragma once
// CFlashApi: one connected adapter and the target chip behind it.
#include <cstdint>

#include "brindlex/export.h"
#include "brindlex/flash_status.h"
#include "brindlex/target_info.h"

class AdapterChannel;
class FlashReadCursor;

class BRINDLEX_API CFlashApi {
  public:
    explicit CFlashApi(const char* devicePath);
    // A copy would share the channel and the serial bytes and free them twice.
    CFlashApi(const CFlashApi&) = delete;
    CFlashApi& operator=(const CFlashApi&) = delete;
    ~CFlashApi();

    CTargetInfo* getTargetInfo();
    void setTargetInfo(CTargetInfo info);
    FlashStatus getStatus();
    void setStatus(FlashStatus status);
    PlugStatus getPlugStatus();
    void setPlugStatus(PlugStatus status);
    int getEnableFlg();
    void setEnableFlg(int flag);
    uint32_t getFirmVer();
    void setFirmVer(uint32_t version);
    int getSecType();
    uint8_t getLastBlockIndex();
    void setSN(const uint8_t* bytes, uint32_t length);
    void getSN(uint8_t* destination, uint32_t destinationSize, uint32_t& length);

    int checkSingleAddress(uint32_t address);
    int getEndAddrBlock(uint32_t address, uint32_t& end);
    int checkFlashSize(uint32_t size);

    int FlashWrite(uint32_t firstIndex, uint32_t lastIndex, uint32_t flashAddress,
                   const uint8_t* data);
    int FlashWrite_trans(uint32_t flashAddress, uint32_t length, const uint8_t* data,
                         uint32_t& sent);
    int FlashWrite_trans_WithSN(uint32_t flashAddress, uint32_t length, const uint8_t* data,
                                uint32_t& sent, uint32_t serialAddress);
    int FlashWrite_receive();
    int FlashReadBlock(uint32_t address, uint32_t& count, uint8_t* destination);
    int FlashReadCont(uint32_t size, uint32_t& count, uint8_t* destination);
    int FlashReadRand(uint32_t address, uint16_t& value);
    int FlashEraseChip();
    int FlashEraseChip_trans();
    int FlashEraseChip_receive();
    int FlashEraseBlock(uint32_t address);
    int FlashEraseBlock_trans(uint32_t address);
    int FlashEraseBlock_receive();
    int FlashUnlockProtect(uint8_t wordCount, const uint16_t* words);
    int FlashReadProtect(uint16_t& protect);
    int TargetChipReset();
    int TargetSystemReset(uint8_t mode, uint8_t& result);
    int TargetSystemReset_trans(uint8_t mode);
    int TargetSystemReset_receive(uint8_t& result);
    int TargetReadProductID(uint32_t id[2]);
    int TargetReadProductID128(uint32_t id[4]);
    int VexilSetTargetInfo(uint16_t windowStart, uint16_t windowEnd, uint32_t address);
    int VexilRemovePowerOnState(uint8_t& result);
    int GetFirmVersion(char* buffer, uint32_t size);
    int GetChipName(char* buffer, uint32_t size);
    int ErrorFunction();

  private:
    friend class FlashReadCursor;  // FlashReadCont's read, one command at a time

    AdapterChannel* channel;
    CTargetInfo targetInfo;
    uint8_t lastBlockIndex;
    FlashStatus status;
    PlugStatus plugStatus;
    int enableFlg;
    uint8_t* serialBytes;
    uint32_t serialLength;
    uint32_t firmVer;
};
