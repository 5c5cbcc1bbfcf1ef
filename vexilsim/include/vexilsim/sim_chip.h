#pragma once
// A simulated target chip: identity, chip name, flash geometry and contents with NOR
// semantics, protection by security ID, and the power-on state.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "brindlex/target_info.h"

namespace vexilsim {

// Adapter status words the simulator answers with.
constexpr uint16_t kStatusOk = 0x0000;
constexpr uint16_t kStatusPowerOn = 0x0001;         // every command but remove-power-on-state
constexpr uint16_t kStatusUnknownCommand = 0x6001;  // command bytes not understood
constexpr uint16_t kStatusBadCommand = 0x6002;      // known command, malformed payload
constexpr uint16_t kStatusOutOfRange = 0x6302;      // address beyond the chip's flash
constexpr uint16_t kStatusProtected = 0x6307;       // flash protected by the security ID

// The largest flash the model allocates.
constexpr uint32_t kMaxFlashSize = 256u << 20;

class SimChip {
  public:
    // A chip without identity and without flash.
    SimChip() = default;
    // A chip that answers as the target description expects: identity words 0..3 =
    // targetId00, targetId32, targetId64, targetId96; identity width targetIdBitNum; chip
    // name = the digits of the description's name; areas, block size, reserved size and
    // block count (from the identity, as the library derives it); security type = bit 23
    // of targetId32; firmware version = the description's version. Flash erased, not
    // protected, not in the power-on state.
    explicit SimChip(const CTargetInfo& info);

    // Identity: word 0 is the least significant.
    const std::array<uint32_t, 4>& identity() const { return identity_; }
    void setIdentity(uint32_t w0, uint32_t w1, uint32_t w2 = 0, uint32_t w3 = 0);
    uint32_t idBits() const { return idBits_; }
    void setIdBits(uint32_t bits) { idBits_ = bits; }
    const std::string& chipName() const { return chipName_; }
    void setChipName(std::string name) { chipName_ = std::move(name); }
    // The firmware version that an adapter holding this chip reports unless told otherwise.
    const std::string& version() const { return version_; }
    void setVersion(std::string v) { version_ = std::move(v); }

    // Geometry. Changing it resizes the flash (new bytes erased).
    const std::vector<TargetArea>& areas() const { return areas_; }
    void setAreas(std::vector<TargetArea> areas);
    uint32_t blockSize() const { return blockSize_; }
    void setBlockSize(uint32_t size);
    uint32_t blockCount() const { return blockCount_; }
    void setBlockCount(uint32_t count);
    // Size of the reserved test area at the top of the flash.
    uint32_t reservedSize() const { return reservedSize_; }
    void setReservedSize(uint32_t size) { reservedSize_ = size; }
    uint32_t reservedStart() const;
    // The address space: block count x block size, extended (to a whole block) so that
    // every area lies inside it.
    uint32_t flashSize() const { return static_cast<uint32_t>(flash_.size()); }

    // Flash operations as the adapter runs them; each returns an adapter status word.
    uint16_t Read(uint32_t address, uint32_t length, uint8_t* out) const;
    // NOR programming: a byte can only lose bits (new = old AND data).
    uint16_t Program(uint32_t address, const uint8_t* data, uint32_t length);
    // Erases the block holding the address.
    uint16_t EraseBlock(uint32_t address);
    // Erases the whole flash and the security setting. A protected chip of security type 1
    // refuses (kStatusProtected) and keeps flash and protection.
    uint16_t EraseChip();

    // Direct access for tests, bypassing NOR semantics and protection.
    const std::vector<uint8_t>& contents() const { return flash_; }
    bool Load(uint32_t address, const std::vector<uint8_t>& bytes);
    uint8_t ByteAt(uint32_t address) const { return address < flash_.size() ? flash_[address] : 0; }

    // Protection: while protected, reads, writes and block erases fail with kStatusProtected.
    bool isProtected() const { return protected_; }
    void setProtected(bool p) { protected_ = p; }
    const std::vector<uint16_t>& securityId() const { return securityId_; }
    void setSecurityId(std::vector<uint16_t> id) { securityId_ = std::move(id); }
    // Security type 1: a chip erase cannot clear the protection.
    int securityType() const { return securityType_; }
    void setSecurityType(int type) { securityType_ = type; }
    // The exact security ID clears the protection; a wrong one leaves it (still status 0:
    // the protection read tells the outcome).
    uint16_t Unlock(const std::vector<uint16_t>& words);

    bool powerOnState() const { return powerOn_; }
    void setPowerOnState(bool on) { powerOn_ = on; }

  private:
    void Resize();
    bool InRange(uint32_t address, uint32_t length) const;

    std::array<uint32_t, 4> identity_{};
    uint32_t idBits_ = 64;
    std::string chipName_;
    std::string version_;
    std::vector<TargetArea> areas_;
    uint32_t blockSize_ = 0;
    uint32_t blockCount_ = 0;
    uint32_t reservedSize_ = 0;
    std::vector<uint8_t> flash_;
    bool protected_ = false;
    std::vector<uint16_t> securityId_;
    int securityType_ = 0;
    bool powerOn_ = false;
};

}  // namespace vexilsim
