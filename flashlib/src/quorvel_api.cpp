#include "brindlex/quorvel_api.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

#include "brindlex/flash_api.h"
#include "brindlex/trg_connect_ctrl.h"
#include "flash_read_cursor.h"
#include "target_info_file.h"
#include "transfer_wait.h"

CQuorvelApi ApiObj;

namespace {

constexpr uint32_t kChunk = 1000;
constexpr uint32_t kIdentityMask = 0xFF00FFFFu;
constexpr uint32_t kFirmTextSize = 11;
constexpr uint32_t kChipNameSize = 64;
constexpr uint32_t kMaxSerialLength = 256;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool Enabled(CFlashApi* t) {
    return t->getEnableFlg() == 1 && t->getStatus() == FLASH_OK;
}

bool Plugged(CFlashApi* t) {
    PlugStatus p = t->getPlugStatus();
    return p == PLUG_IDENTIFIED || p == PLUG_READY;
}

bool ReadyForFlash(CFlashApi* t) {
    return Enabled(t) && t->getPlugStatus() == PLUG_READY;
}

// A protected target of security type 0 may be chip-erased: the erase clears its protection.
bool ChipErasable(CFlashApi* t) {
    if (!Enabled(t)) {
        return false;
    }
    PlugStatus p = t->getPlugStatus();
    return p == PLUG_READY || (p == PLUG_IDENTIFIED && t->getSecType() == 0);
}

// The target description's minimum firmware version, read as the TRG reader reads it; as an
// unsigned number a negative minimum is one that no firmware reaches.
uint32_t RequiredFirmVersion(const CTargetInfo& info) {
    return static_cast<uint32_t>(VersionNumber(info.version, sizeof info.version));
}

std::string DigitsOf(const char* text, size_t size) {
    std::string digits;
    for (size_t i = 0; i < size && text[i] != '\0'; ++i) {
        if (IsDigit(text[i])) {
            digits.push_back(text[i]);
        }
    }
    return digits;
}

const CTargetInfo* FindEntry(const TRGINFO* set, const std::string& name) {
    if (set == nullptr || set->entries == nullptr) {
        return nullptr;
    }
    for (uint32_t i = 0; i < set->count; ++i) {
        const CTargetInfo& e = set->entries[i];
        if (std::string_view(e.name, strnlen(e.name, sizeof e.name)) == name) {
            return &e;
        }
    }
    return nullptr;
}

// Every adapter object in list order.
std::vector<CFlashApi*> AllTargets(CTrgConnectCtrl* list) {
    std::vector<CFlashApi*> all;
    DEVPOSITION pos = list->GetHeadPositionDevObj();
    while (pos != nullptr) {
        all.push_back(list->GetNextDevObj(pos));
    }
    return all;
}

// Reads the protection word and moves the target to PLUG_READY or back to PLUG_IDENTIFIED.
void ApplyProtection(CFlashApi* t, uint16_t& protect) {
    uint16_t word = 1;
    if (!t->FlashReadProtect(word)) {
        return;
    }
    protect = word;
    if (word != 0) {
        t->setPlugStatus(PLUG_IDENTIFIED);
        t->setStatus(FLASH_PROTECTED);
    } else {
        t->setPlugStatus(PLUG_READY);
    }
}

}  // namespace

CQuorvelApi::CQuorvelApi() : trgConnect(nullptr) {}

CTrgConnectCtrl* CQuorvelApi::GetTrgConnect() {
    return trgConnect;
}

void CQuorvelApi::SetTrgConnect(CTrgConnectCtrl* connect) {
    trgConnect = connect;
}

CFlashApi* CQuorvelApi::Target(int n) {
    if (trgConnect == nullptr || n < 1 || n > trgConnect->GetSizeDevObj()) {
        return nullptr;
    }
    return trgConnect->GetIndexDevObj(n);
}

int CQuorvelApi::SysResetPlug(int n) {
    CFlashApi* t = Target(n);
    if (t == nullptr) {
        return 0;
    }
    if (t->getStatus() != FLASH_OK) {
        return 1;
    }
    uint8_t reply = 0;
    if (!t->TargetSystemReset(0, reply) && t->getStatus() == FLASH_POWER_ON_STATE) {
        t->VexilRemovePowerOnState(reply);
    }
    if ((reply & 0x03) != 0x03 && t->getStatus() == FLASH_OK) {
        t->TargetSystemReset(1, reply);
    }
    return 1;
}

int CQuorvelApi::SysReset(int n) {
    CFlashApi* t = Target(n);
    if (t == nullptr) {
        return 0;
    }
    uint8_t reply = 0;
    t->TargetSystemReset(0, reply);
    if (t->getStatus() == FLASH_POWER_ON_STATE) {
        t->setStatus(FLASH_OK);
    }
    return 1;
}

int CQuorvelApi::SysResetAll() {
    if (trgConnect == nullptr) {
        return 0;
    }
    std::vector<CFlashApi*> sent;
    for (CFlashApi* t : AllTargets(trgConnect)) {
        if (t->TargetSystemReset_trans(0)) {
            sent.push_back(t);
        }
    }
    // No reply is awaited from an adapter whose request never went out.
    for (CFlashApi* t : sent) {
        uint8_t reply = 0;
        t->TargetSystemReset_receive(reply);
        if (t->getStatus() == FLASH_POWER_ON_STATE) {
            t->setStatus(FLASH_OK);
        }
    }
    return 1;
}

int CQuorvelApi::CheckFirm(int n) {
    CFlashApi* t = Target(n);
    if (t == nullptr) {
        return 0;
    }
    if (!Enabled(t)) {
        return 1;
    }
    char text[kFirmTextSize] = {};
    if (!t->GetFirmVersion(text, sizeof text)) {
        return 1;
    }
    if (strnlen(text, sizeof text) != 4 || !IsDigit(text[0]) || text[1] != '.' ||
        !IsDigit(text[2]) || !IsDigit(text[3])) {
        t->setStatus(FLASH_FIRM_TEXT);
        return 1;
    }
    uint32_t firm =
        static_cast<uint32_t>((text[0] - '0') * 100 + (text[2] - '0') * 10 + (text[3] - '0'));
    t->setFirmVer(firm);
    if (firm < RequiredFirmVersion(*t->getTargetInfo())) {
        t->setStatus(FLASH_FIRM_TOO_OLD);
    }
    return 1;
}

int CQuorvelApi::CheckTargetName(int n, const TRGINFO* set, const std::string& name) {
    CFlashApi* t = Target(n);
    if (t == nullptr) {
        return 0;
    }
    if (!Enabled(t)) {
        return 1;
    }
    const CTargetInfo* entry = FindEntry(set, name);
    if (entry == nullptr) {
        t->setStatus(FLASH_WRONG_TARGET);
        return 1;
    }

    uint32_t id[4] = {};
    int read =
        entry->targetIdBitNum == 64 ? t->TargetReadProductID(id) : t->TargetReadProductID128(id);
    if (!read) {
        return 1;
    }
    if (entry->targetId00 != 0 && entry->targetId32 != 0) {
        // Bits 16-23 vary between revisions of one chip type.
        if ((id[0] & kIdentityMask) != (entry->targetId00 & kIdentityMask)) {
            t->setStatus(FLASH_WRONG_TARGET);
            return 1;
        }
    } else {
        char chipName[kChipNameSize] = {};
        if (!t->GetChipName(chipName, sizeof chipName)) {
            return 1;
        }
        std::string_view chip(chipName, strnlen(chipName, sizeof chipName));
        if (DigitsOf(entry->name, sizeof entry->name) != chip) {
            t->setStatus(FLASH_WRONG_TARGET);
            return 1;
        }
    }

    t->setTargetInfo(*entry);

    const uint32_t id00 = entry->targetId00;
    const uint32_t id32 = entry->targetId32;
    const uint32_t id64 = entry->targetId64;
    const uint8_t sizeCode = static_cast<uint8_t>((id32 >> 16) & 0x0F);
    uint32_t blockSize;
    uint32_t blockCount;
    uint32_t bits10Size;
    uint32_t reservedSize;
    if ((id00 & (1u << 30)) == 0) {
        blockSize = sizeCode * 2048u;
        blockCount = (id32 >> 8) & 0x0F;
        bits10Size = 512;
        reservedSize = 512;
    } else {
        blockSize = Calc2BitShift(2048, sizeCode, 4);
        blockCount = (id64 & 0xF0) | ((id32 >> 8) & 0x0F);
        const uint8_t c10 = static_cast<uint8_t>((id64 >> 10) & 0x07);
        const uint8_t c13 = static_cast<uint8_t>((id64 >> 13) & 0x07);
        bits10Size = c10 == 3 ? 0 : Calc2BitShift(512, c10, 3);
        reservedSize = c13 == 3 ? 0 : Calc2BitShift(512, c13, 3);
    }
    const uint32_t address =
        blockCount != 0 && bits10Size != 0 ? blockCount * blockSize - reservedSize - 16 : 0;
    t->VexilSetTargetInfo(static_cast<uint16_t>(entry->romWinStart),
                          static_cast<uint16_t>(entry->romWinEnd), address);
    return 1;
}

int CQuorvelApi::IsTargetProtected(int n, uint16_t& protect) {
    protect = 1;
    CFlashApi* t = Target(n);
    if (t == nullptr || !Plugged(t)) {
        return 0;
    }
    if (Enabled(t)) {
        ApplyProtection(t, protect);
    }
    return 1;
}

int CQuorvelApi::SetSecID(int n, uint8_t length, const uint16_t* id, uint16_t& protect) {
    protect = 1;
    CFlashApi* t = Target(n);
    if (t == nullptr || !Plugged(t) || (id == nullptr && length != 0)) {
        return 0;
    }
    if (Enabled(t) && t->FlashUnlockProtect(length, id)) {
        ApplyProtection(t, protect);
    }
    return 1;
}

int CQuorvelApi::GetSecType(int n, uint16_t& type) {
    type = 0;
    CFlashApi* t = Target(n);
    if (t == nullptr || !Plugged(t)) {
        return 0;
    }
    if (Enabled(t)) {
        type = static_cast<uint16_t>((t->getTargetInfo()->targetId32 >> 23) & 1);
    }
    return 1;
}

int CQuorvelApi::ChipEraseAll() {
    if (trgConnect == nullptr) {
        return 0;
    }
    std::vector<CFlashApi*> sent;
    for (CFlashApi* t : AllTargets(trgConnect)) {
        if (ChipErasable(t) && t->FlashEraseChip_trans()) {
            sent.push_back(t);
        }
    }
    for (CFlashApi* t : sent) {
        if (!ChipErasable(t)) {
            continue;
        }
        t->FlashEraseChip_receive();
        if (t->getPlugStatus() == PLUG_IDENTIFIED && t->getStatus() == FLASH_OK) {
            t->setPlugStatus(PLUG_READY);
        }
    }
    return 1;
}

int CQuorvelApi::FlashEraseBlockAll(uint32_t address) {
    if (trgConnect == nullptr) {
        return 0;
    }
    std::vector<CFlashApi*> sent;
    for (CFlashApi* t : AllTargets(trgConnect)) {
        if (ReadyForFlash(t) && t->FlashEraseBlock_trans(address)) {
            sent.push_back(t);
        }
    }
    for (CFlashApi* t : sent) {
        if (ReadyForFlash(t)) {
            t->FlashEraseBlock_receive();
        }
    }
    return 1;
}

namespace {

// Sends each chunk to every eligible target before reading any reply, so that all adapters
// program at once; a target that fails drops out of the later chunks.
void WriteAllChunks(CTrgConnectCtrl* list, uint32_t first, uint32_t last, uint32_t destination,
                    const uint8_t* image, bool withSerial, uint32_t serialAddress) {
    const uint32_t count = last - first + 1;
    const std::vector<CFlashApi*> all = AllTargets(list);
    std::vector<CFlashApi*> sent;
    sent.reserve(all.size());
    for (uint32_t offset = 0; offset < count;) {
        const uint32_t length = count - offset < kChunk ? count - offset : kChunk;
        const uint8_t* data = image + first + offset;
        sent.clear();
        for (CFlashApi* t : all) {
            if (!ReadyForFlash(t)) {
                continue;
            }
            uint32_t written = 0;
            int ok = withSerial ? t->FlashWrite_trans_WithSN(destination + offset, length, data,
                                                             written, serialAddress)
                                : t->FlashWrite_trans(destination + offset, length, data, written);
            if (ok) {
                sent.push_back(t);
            }
        }
        if (sent.empty()) {
            return;  // nobody left to write to
        }
        for (CFlashApi* t : sent) {
            if (ReadyForFlash(t)) {
                t->FlashWrite_receive();
            }
        }
        offset += length;
    }
}

int WriteAll(CTrgConnectCtrl* list, uint32_t first, uint32_t last, uint32_t destination,
             const uint8_t* image, bool withSerial, uint32_t serialAddress) {
    if (list == nullptr) {
        return 0;
    }
    // last below first would wrap to a count of gigabytes: nothing to write.
    if (last < first || last - first + 1 == 0) {
        return 1;
    }
    if (image == nullptr) {
        return 0;
    }
    WriteAllChunks(list, first, last, destination, image, withSerial, serialAddress);
    return 1;
}

}  // namespace

int CQuorvelApi::FlashWriteAll(uint32_t first, uint32_t last, uint32_t destination,
                               const uint8_t* image) {
    return WriteAll(trgConnect, first, last, destination, image, false, 0);
}

int CQuorvelApi::FlashWriteAllWithSN(uint32_t first, uint32_t last, uint32_t destination,
                                     const uint8_t* image, uint32_t serialAddress) {
    return WriteAll(trgConnect, first, last, destination, image, true, serialAddress);
}

int CQuorvelApi::FlashRead(int n, uint32_t size, uint32_t& count, uint8_t* buffer) {
    count = 0;
    CFlashApi* t = Target(n);
    if (t == nullptr || t->getPlugStatus() != PLUG_READY) {
        return 0;
    }
    if (Enabled(t)) {
        if (buffer == nullptr && size != 0) {
            return 0;
        }
        t->FlashReadCont(size, count, buffer);
    }
    return 1;
}

int CQuorvelApi::FlashReadAll(uint32_t size, uint8_t* const* buffers, uint32_t* counts,
                              int bufferCount, FlashReadAllProgress progress, void* context) {
    if (trgConnect == nullptr || bufferCount < 0 ||
        (bufferCount > 0 && (buffers == nullptr || counts == nullptr))) {
        return 0;
    }
    const std::vector<CFlashApi*> all = AllTargets(trgConnect);
    const size_t targets = std::min(all.size(), static_cast<size_t>(bufferCount));
    std::vector<std::unique_ptr<FlashReadCursor>> cursors;
    uint32_t blockCount = 0;
    for (size_t i = 0; i < targets; ++i) {
        counts[i] = 0;
        // The targets FlashRead reads, and no others.
        if (!ReadyForFlash(all[i]) || (buffers[i] == nullptr && size != 0)) {
            continue;
        }
        auto cursor = std::make_unique<FlashReadCursor>(*all[i], size, counts[i], buffers[i]);
        if (cursor->Begin()) {
            blockCount = std::max(blockCount, cursor->blockCount());
            cursors.push_back(std::move(cursor));
        }
    }
    // A block starts with a request to every target still reading before the first reply is
    // read; within it each reply is followed at once by that target's next request, so that no
    // adapter idles while the others' replies are collected. Between blocks none is in flight.
    std::vector<FlashReadCursor*> waiting;
    waiting.reserve(cursors.size());
    uint32_t blocksDone = 0;
    for (;;) {
        waiting.clear();
        for (auto& c : cursors) {
            if (c->reading() && c->Send()) {
                waiting.push_back(c.get());
            }
        }
        if (waiting.empty()) {
            return 1;
        }
        while (!waiting.empty()) {
            size_t kept = 0;
            for (FlashReadCursor* c : waiting) {
                if (c->Receive() && c->inBlock() && c->Send()) {
                    waiting[kept++] = c;
                }
            }
            waiting.resize(kept);
        }
        uint32_t furthest = 0;
        for (auto& c : cursors) {
            furthest = std::max(furthest, c->blocksDone());
        }
        if (furthest > blocksDone) {
            blocksDone = furthest;
            if (progress != nullptr && progress(context, blocksDone, blockCount) == 0) {
                return 1;
            }
        }
    }
}

void CQuorvelApi::SetExchangeWaitHook(ExchangeWaitHook hook, void* context) {
    SetTransferWaitHook(hook, context);
}

int CQuorvelApi::GetEnableFlg(int n, int& flag) {
    flag = 0;
    CFlashApi* t = Target(n);
    if (t == nullptr) {
        return 0;
    }
    flag = t->getEnableFlg() != 0 ? 1 : 0;
    return 1;
}

int CQuorvelApi::SetEnableFlg(int n, int flag) {
    CFlashApi* t = Target(n);
    if (t == nullptr) {
        return 0;
    }
    t->setEnableFlg(flag != 0 ? 1 : 0);
    return 1;
}

int CQuorvelApi::GetTargetStatus(int n, int& status) {
    status = 0;
    CFlashApi* t = Target(n);
    if (t == nullptr) {
        return 0;
    }
    status = static_cast<int>(t->getStatus());
    return 1;
}

int CQuorvelApi::SetTargetStatus(int n, int status) {
    CFlashApi* t = Target(n);
    if (t == nullptr) {
        return 0;
    }
    t->setStatus(static_cast<FlashStatus>(static_cast<uint32_t>(status)));
    return 1;
}

int CQuorvelApi::GetTargetPlugSuccess(int n, int& flag) {
    flag = 0;
    CFlashApi* t = Target(n);
    if (t == nullptr) {
        return 0;
    }
    flag = t->getPlugStatus() == PLUG_READY ? 1 : 0;
    return 1;
}

int CQuorvelApi::GetTargetPlugStatus(int n, PlugStatus& plugStatus) {
    plugStatus = PLUG_NONE;
    CFlashApi* t = Target(n);
    if (t == nullptr) {
        return 0;
    }
    plugStatus = t->getPlugStatus();
    return 1;
}

int CQuorvelApi::SetTargetPlugStatus(int n, PlugStatus plugStatus) {
    CFlashApi* t = Target(n);
    if (t == nullptr) {
        return 0;
    }
    t->setPlugStatus(plugStatus);
    return 1;
}

int CQuorvelApi::GetFirmVerStr(int n, char* buffer, uint32_t size, uint32_t& needed) {
    CFlashApi* t = Target(n);
    if (t == nullptr || t->getPlugStatus() == PLUG_NONE || t->getFirmVer() == 0) {
        return 0;
    }
    const uint32_t version = t->getFirmVer();
    char text[32];
    int length = std::snprintf(text, sizeof text, "%u.%02u", version / 100, version % 100);
    needed = static_cast<uint32_t>(length) + 1;
    if (buffer != nullptr && size >= needed) {
        std::memcpy(buffer, text, needed);
    }
    return 1;
}

int CQuorvelApi::GetChipName(int n, char* buffer, uint32_t size) {
    CFlashApi* t = Target(n);
    if (t == nullptr || buffer == nullptr || size == 0) {
        return 0;
    }
    const FlashStatus status = t->getStatus();
    const int read = t->GetChipName(buffer, size);
    t->setStatus(status);
    buffer[size - 1] = '\0';
    return read;
}

int CQuorvelApi::UpdateErrorTargetLED(int n) {
    CFlashApi* t = Target(n);
    if (t == nullptr) {
        return 0;
    }
    if (t->getEnableFlg() == 1 && t->getStatus() != FLASH_OK) {
        t->ErrorFunction();
    }
    return 1;
}

int CQuorvelApi::ErrorTargetLED(int n) {
    CFlashApi* t = Target(n);
    if (t == nullptr) {
        return 0;
    }
    t->ErrorFunction();
    return 1;
}

int CQuorvelApi::GetSerialNumber(int n, uint8_t* buffer, uint32_t size, uint32_t& length) {
    length = 0;
    CFlashApi* t = Target(n);
    if (t == nullptr) {
        return 0;
    }
    t->getSN(buffer, size, length);
    return 1;
}

int CQuorvelApi::SetSerialNumber(int n, const uint8_t* bytes, uint32_t length) {
    CFlashApi* t = Target(n);
    if (t == nullptr || bytes == nullptr || length < 1 || length > kMaxSerialLength) {
        return 0;
    }
    t->setSN(bytes, length);
    return 1;
}
