#include "brindlex/flash_api.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "adapter_channel.h"
#include "brindlex/vexil_protocol.h"
#include "flash_read_cursor.h"

namespace {

constexpr uint32_t kChunk = vexil::kMaxFlashChunk;
constexpr uint32_t kNameSize = 256;
constexpr uint32_t kVersionSize = 10;

void CopyBounded(char* to, const char* from, uint32_t size) {
    uint32_t n = static_cast<uint32_t>(strnlen(from, size - 1));
    std::memcpy(to, from, n);
    std::memset(to + n, 0, size - n);
}

// Keeps the channel's reason when an adapter operation failed.
int Outcome(int result, FlashStatus& status, const AdapterChannel& channel) {
    if (!result)
        status = static_cast<FlashStatus>(channel.getLastError());
    return result;
}

}  // namespace

CFlashApi::CFlashApi(const char* devicePath)
    : channel(new AdapterChannel(devicePath)),
      targetInfo(),
      lastBlockIndex(0),
      status(FLASH_OK),
      plugStatus(PLUG_NONE),
      enableFlg(1),
      serialBytes(nullptr),
      serialLength(0),
      firmVer(0) {
    if (channel->getNotConnected())
        status = FLASH_NOT_CONNECTED;
}

CFlashApi::~CFlashApi() {
    delete[] serialBytes;
    delete channel;
}

CTargetInfo* CFlashApi::getTargetInfo() {
    return &targetInfo;
}
FlashStatus CFlashApi::getStatus() {
    return status;
}
void CFlashApi::setStatus(FlashStatus s) {
    status = s;
}
PlugStatus CFlashApi::getPlugStatus() {
    return plugStatus;
}
void CFlashApi::setPlugStatus(PlugStatus s) {
    plugStatus = s;
    // A plug that starts afresh asks an adapter that timed out before once more.
    if (s == PLUG_STARTED)
        channel->ForgetTimeout();
}
int CFlashApi::getEnableFlg() {
    return enableFlg;
}
void CFlashApi::setEnableFlg(int flag) {
    enableFlg = flag;
}
uint32_t CFlashApi::getFirmVer() {
    return firmVer;
}
void CFlashApi::setFirmVer(uint32_t version) {
    firmVer = version;
}
int CFlashApi::getSecType() {
    return (targetInfo.targetId32 >> 23) & 1;
}
uint8_t CFlashApi::getLastBlockIndex() {
    return lastBlockIndex;
}

void CFlashApi::setTargetInfo(CTargetInfo info) {
    CopyBounded(targetInfo.name, info.name, kNameSize);
    targetInfo.targetId32 = info.targetId32;
    targetInfo.targetId00 = info.targetId00;
    targetInfo.areaCount = std::min<uint32_t>(info.areaCount, 256);
    std::copy_n(info.areas, targetInfo.areaCount, targetInfo.areas);
    targetInfo.blockSize = info.blockSize;
    targetInfo.edit = info.edit;
    targetInfo.memoryType = info.memoryType;
    targetInfo.romWinStart = info.romWinStart;
    targetInfo.romWinEnd = info.romWinEnd;
    targetInfo.brkPointVal = info.brkPointVal;
    targetInfo.targetIdBitNum = info.targetIdBitNum;
    targetInfo.targetId96 = info.targetId96;
    targetInfo.targetId64 = info.targetId64;
    targetInfo.sizeFromBits10 = info.sizeFromBits10;
    targetInfo.sizeFromBits13 = info.sizeFromBits13;
    targetInfo.testStart = info.testStart;
    CopyBounded(targetInfo.version, info.version, kVersionSize);

    uint8_t blocks = (info.targetId32 >> 8) & 0x0F;
    if (info.targetIdBitNum != 64)
        blocks |= info.targetId64 & 0xF0;
    lastBlockIndex = static_cast<uint8_t>(blocks - 1);
}

void CFlashApi::setSN(const uint8_t* bytes, uint32_t length) {
    delete[] serialBytes;
    serialBytes = nullptr;
    serialLength = 0;
    if (bytes == nullptr || length == 0)
        return;
    serialBytes = new (std::nothrow) uint8_t[length];
    if (serialBytes == nullptr)
        return;
    std::memcpy(serialBytes, bytes, length);
    serialLength = length;
}

void CFlashApi::getSN(uint8_t* destination, uint32_t destinationSize, uint32_t& length) {
    length = serialLength;
    if (destination != nullptr && destinationSize >= serialLength && serialBytes != nullptr)
        std::memcpy(destination, serialBytes, serialLength);
}

int CFlashApi::checkSingleAddress(uint32_t address) {
    for (uint32_t i = 0; i < targetInfo.areaCount; ++i) {
        const TargetArea& a = targetInfo.areas[i];
        if (a.start <= address && address <= a.end)
            return 1;
    }
    return 0;
}

int CFlashApi::getEndAddrBlock(uint32_t address, uint32_t& end) {
    if (targetInfo.blockSize <= 0)
        return 0;
    for (uint32_t i = 0; i < targetInfo.areaCount; ++i) {
        const TargetArea& a = targetInfo.areas[i];
        if (a.start > address || address > a.end)
            continue;
        const uint64_t size = static_cast<uint32_t>(targetInfo.blockSize);
        const uint64_t blockEnd = size * (address / size + 1) - 1;
        if (a.end >= blockEnd)
            end = static_cast<uint32_t>(blockEnd);
        else if (ReachesTopBlockEnd(targetInfo, lastBlockIndex, a))
            end = static_cast<uint32_t>(blockEnd);
        else
            end = a.end;
        return 1;
    }
    return 0;
}

int CFlashApi::checkFlashSize(uint32_t size) {
    return FlashSize(targetInfo) >= size ? 1 : 0;
}

int CFlashApi::FlashWrite(uint32_t firstIndex, uint32_t lastIndex, uint32_t flashAddress,
                          const uint8_t* data) {
    status = FLASH_OK;
    if (!checkSingleAddress(flashAddress)) {
        status = FLASH_WRITE_ADDRESS;
        return 0;
    }
    // A last index below the first is a bad range, not an empty one; nor can a count of 2^32
    // (first 0, last 0xFFFFFFFF) be written: it would wrap to 0 and report success unwritten.
    const uint32_t count = lastIndex - firstIndex + 1;
    if (lastIndex < firstIndex || count == 0) {
        status = FLASH_WRITE_ADDRESS;
        return 0;
    }
    int result = 1;
    for (uint64_t offset = 0; offset < count; offset += kChunk) {
        const auto n = static_cast<uint16_t>(std::min<uint64_t>(kChunk, count - offset));
        result = channel->FlashWrite(static_cast<uint32_t>(flashAddress + offset), n,
                                     data + firstIndex + offset);
        if (!result) {
            status = static_cast<FlashStatus>(channel->getLastError());
            break;
        }
    }
    return result;
}

int CFlashApi::FlashWrite_trans(uint32_t flashAddress, uint32_t length, const uint8_t* data,
                                uint32_t& sent) {
    status = FLASH_OK;
    if (!checkSingleAddress(flashAddress)) {
        status = FLASH_WRITE_ADDRESS;
        return 0;
    }
    const auto n = static_cast<uint16_t>(std::min(length, kChunk));
    int result = channel->FlashWrite_trans(flashAddress, n, data);
    if (!result)
        status = static_cast<FlashStatus>(channel->getLastError());
    sent = n;
    return result;
}

int CFlashApi::FlashWrite_trans_WithSN(uint32_t flashAddress, uint32_t length, const uint8_t* data,
                                       uint32_t& sent, uint32_t serialAddress) {
    const uint32_t n = std::min(length, kChunk);
    const uint64_t chunkEnd = uint64_t{flashAddress} + n;  // exclusive
    const uint64_t serialEnd = uint64_t{serialAddress} + serialLength;
    const uint64_t from = std::max<uint64_t>(flashAddress, serialAddress);
    const uint64_t to = std::min(chunkEnd, serialEnd);
    if (serialBytes == nullptr || serialLength == 0 || from >= to)
        return FlashWrite_trans(flashAddress, length, data, sent);

    uint8_t merged[kChunk];
    std::memcpy(merged, data, n);
    for (uint64_t x = from; x < to; ++x)
        merged[x - flashAddress] = serialBytes[x - serialAddress];
    return FlashWrite_trans(flashAddress, n, merged, sent);
}

int CFlashApi::FlashWrite_receive() {
    int result = channel->FlashWrite_receive();
    if (!result)
        status = static_cast<FlashStatus>(channel->getLastError());
    return result;
}

int CFlashApi::FlashReadBlock(uint32_t address, uint32_t& count, uint8_t* destination) {
    status = FLASH_OK;
    count = 0;
    if (targetInfo.blockSize <= 0) {
        status = FLASH_READ_ADDRESS;
        return 0;
    }
    const uint32_t size = static_cast<uint32_t>(targetInfo.blockSize);
    const uint32_t block = address / size;
    const uint64_t blockStart = uint64_t{block} * size;

    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[size]);
    if (!buffer) {
        status = FLASH_READ_SIZE;
        return 0;
    }
    for (uint32_t done = 0; done < size;) {
        const auto n = static_cast<uint16_t>(std::min(kChunk, size - done));
        uint32_t got = 0;
        if (!channel->FlashReadBlock(static_cast<uint32_t>(blockStart + done), n,
                                     buffer.get() + done, got)) {
            status = static_cast<FlashStatus>(channel->getLastError());
            return 0;
        }
        if (got != n) {
            // Fewer bytes than asked for would leave holes of stale memory in the block.
            status = FLASH_RECEIVE_FAILED;
            return 0;
        }
        done += n;
    }

    count = PackBlock(targetInfo, lastBlockIndex, address, buffer.get(), destination, size);
    return 1;
}

int CFlashApi::FlashReadCont(uint32_t size, uint32_t& count, uint8_t* destination) {
    FlashReadCursor cursor(*this, size, count, destination);
    if (cursor.Begin()) {
        while (cursor.reading() && cursor.Send() && cursor.Receive()) {
        }
    }
    return status == FLASH_OK ? 1 : 0;
}

int CFlashApi::FlashReadRand(uint32_t address, uint16_t& value) {
    status = FLASH_OK;
    if (!checkSingleAddress(address)) {
        status = FLASH_READ_ADDRESS;
        return 0;
    }
    int result = channel->FlashReadRand(address, value);
    if (!result)
        status = static_cast<FlashStatus>(channel->getLastError());
    return result;
}

int CFlashApi::FlashEraseChip() {
    status = FLASH_OK;
    return Outcome(channel->FlashEraseChip(), status, *channel);
}
int CFlashApi::FlashEraseChip_trans() {
    status = FLASH_OK;
    return Outcome(channel->FlashEraseChip_trans(), status, *channel);
}
int CFlashApi::FlashEraseChip_receive() {
    return Outcome(channel->FlashEraseChip_receive(), status, *channel);
}

int CFlashApi::FlashEraseBlock(uint32_t address) {
    status = FLASH_OK;
    if (!checkSingleAddress(address) || targetInfo.blockSize <= 0) {
        status = FLASH_ERASE_ADDRESS;
        return 0;
    }
    const uint32_t size = static_cast<uint32_t>(targetInfo.blockSize);
    status = FLASH_OK;
    return Outcome(channel->FlashEraseBlock(size * (address / size)), status, *channel);
}

int CFlashApi::FlashEraseBlock_trans(uint32_t address) {
    status = FLASH_OK;
    if (!checkSingleAddress(address) || targetInfo.blockSize <= 0) {
        status = FLASH_ERASE_ADDRESS;
        return 0;
    }
    const uint32_t size = static_cast<uint32_t>(targetInfo.blockSize);
    status = FLASH_OK;
    return Outcome(channel->FlashEraseBlock_trans(size * (address / size)), status, *channel);
}

int CFlashApi::FlashEraseBlock_receive() {
    return Outcome(channel->FlashEraseBlock_receive(), status, *channel);
}

int CFlashApi::FlashUnlockProtect(uint8_t wordCount, const uint16_t* words) {
    status = FLASH_OK;
    return Outcome(channel->FlashUnlockProtect(wordCount, words), status, *channel);
}

int CFlashApi::FlashReadProtect(uint16_t& protect) {
    status = FLASH_OK;
    return Outcome(channel->FlashReadProtect(protect), status, *channel);
}
int CFlashApi::TargetChipReset() {
    status = FLASH_OK;
    return Outcome(channel->TargetChipReset(), status, *channel);
}

int CFlashApi::TargetSystemReset(uint8_t mode, uint8_t& result) {
    status = FLASH_OK;
    return Outcome(channel->TargetSystemReset(mode, result), status, *channel);
}

int CFlashApi::TargetSystemReset_trans(uint8_t mode) {
    status = FLASH_OK;
    return Outcome(channel->TargetSystemReset_trans(mode), status, *channel);
}

int CFlashApi::TargetSystemReset_receive(uint8_t& result) {
    return Outcome(channel->TargetSystemReset_receive(result), status, *channel);
}

int CFlashApi::TargetReadProductID(uint32_t id[2]) {
    status = FLASH_OK;
    return Outcome(channel->TargetReadProductID(id), status, *channel);
}

int CFlashApi::TargetReadProductID128(uint32_t id[4]) {
    status = FLASH_OK;
    return Outcome(channel->TargetReadProductID128(id), status, *channel);
}

int CFlashApi::VexilSetTargetInfo(uint16_t windowStart, uint16_t windowEnd, uint32_t address) {
    status = FLASH_OK;
    if (!checkSingleAddress(address) || windowStart > windowEnd) {
        status = FLASH_TARGET_INFO;
        return 0;
    }
    status = FLASH_OK;
    return Outcome(channel->VexilSetTargetInfo(windowStart, windowEnd, address), status, *channel);
}

int CFlashApi::VexilRemovePowerOnState(uint8_t& result) {
    status = FLASH_OK;
    return Outcome(channel->VexilRemovePowerOnState(result), status, *channel);
}

int CFlashApi::GetFirmVersion(char* buffer, uint32_t size) {
    status = FLASH_OK;
    return Outcome(channel->GetText(vexil::kTextFirmVersion, buffer, size), status, *channel);
}

int CFlashApi::GetChipName(char* buffer, uint32_t size) {
    status = FLASH_OK;
    return Outcome(channel->GetText(vexil::kTextChipName, buffer, size), status, *channel);
}

int CFlashApi::ErrorFunction() {
    char scratch[vexil::kErrorIndicationBuffer];
    return channel->GetText(vexil::kTextErrorIndication, scratch, sizeof scratch);
}
