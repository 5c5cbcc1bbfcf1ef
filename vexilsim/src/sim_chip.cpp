#include "vexilsim/sim_chip.h"

#include <algorithm>
#include <cctype>
#include <cstring>

namespace vexilsim {

SimChip::SimChip(const CTargetInfo& info) {
    identity_ = {info.targetId00, info.targetId32, info.targetId64, info.targetId96};
    idBits_ = info.targetIdBitNum == 64 ? 64 : 128;
    for (size_t i = 0; i < sizeof info.name && info.name[i] != '\0'; ++i)
        if (std::isdigit(static_cast<unsigned char>(info.name[i])))
            chipName_ += info.name[i];
    version_.assign(info.version, strnlen(info.version, sizeof info.version));
    uint32_t count = std::min<uint32_t>(info.areaCount, 256);
    areas_.assign(info.areas, info.areas + count);
    blockSize_ = info.blockSize > 0 ? static_cast<uint32_t>(info.blockSize) : 0;
    // The block count as the library derives it from the identity.
    uint32_t low = (info.targetId32 >> 8) & 0x0F;
    blockCount_ = info.targetIdBitNum == 64 ? low : ((info.targetId64 & 0xF0) | low);
    reservedSize_ = info.sizeFromBits13 > 0 ? static_cast<uint32_t>(info.sizeFromBits13) : 0;
    securityType_ = (info.targetId32 >> 23) & 1;
    Resize();
}

void SimChip::setIdentity(uint32_t w0, uint32_t w1, uint32_t w2, uint32_t w3) {
    identity_ = {w0, w1, w2, w3};
}

void SimChip::setAreas(std::vector<TargetArea> areas) {
    areas_ = std::move(areas);
    Resize();
}

void SimChip::setBlockSize(uint32_t size) {
    blockSize_ = size;
    Resize();
}

void SimChip::setBlockCount(uint32_t count) {
    blockCount_ = count;
    Resize();
}

uint32_t SimChip::reservedStart() const {
    return flashSize() > reservedSize_ ? flashSize() - reservedSize_ : 0;
}

void SimChip::Resize() {
    uint64_t size = uint64_t{blockCount_} * blockSize_;
    uint64_t highest = 0;
    for (const auto& a : areas_)
        highest = std::max<uint64_t>(highest, uint64_t{a.end} + 1);
    if (blockSize_ != 0)
        highest = (highest + blockSize_ - 1) / blockSize_ * blockSize_;
    size = std::min<uint64_t>(std::max(size, highest), kMaxFlashSize);
    flash_.resize(size, 0xFF);
}

bool SimChip::InRange(uint32_t address, uint32_t length) const {
    return uint64_t{address} + length <= flash_.size();
}

uint16_t SimChip::Read(uint32_t address, uint32_t length, uint8_t* out) const {
    if (protected_)
        return kStatusProtected;
    if (!InRange(address, length))
        return kStatusOutOfRange;
    std::memcpy(out, flash_.data() + address, length);
    return kStatusOk;
}

uint16_t SimChip::Program(uint32_t address, const uint8_t* data, uint32_t length) {
    if (protected_)
        return kStatusProtected;
    if (!InRange(address, length))
        return kStatusOutOfRange;
    for (uint32_t i = 0; i < length; ++i)
        flash_[address + i] &= data[i];
    return kStatusOk;
}

uint16_t SimChip::EraseBlock(uint32_t address) {
    if (protected_)
        return kStatusProtected;
    if (blockSize_ == 0 || address >= flash_.size())
        return kStatusOutOfRange;
    uint32_t start = address / blockSize_ * blockSize_;
    uint32_t end = std::min<uint32_t>(start + blockSize_, flashSize());
    std::fill(flash_.begin() + start, flash_.begin() + end, 0xFF);
    return kStatusOk;
}

uint16_t SimChip::EraseChip() {
    if (protected_ && securityType_ == 1)
        return kStatusProtected;
    std::fill(flash_.begin(), flash_.end(), 0xFF);
    // The security setting is erased with the flash: no protection, an erased ID.
    protected_ = false;
    std::fill(securityId_.begin(), securityId_.end(), 0xFFFF);
    return kStatusOk;
}

bool SimChip::Load(uint32_t address, const std::vector<uint8_t>& bytes) {
    if (!InRange(address, static_cast<uint32_t>(bytes.size())))
        return false;
    std::copy(bytes.begin(), bytes.end(), flash_.begin() + address);
    return true;
}

uint16_t SimChip::Unlock(const std::vector<uint16_t>& words) {
    if (protected_ && words == securityId_)
        protected_ = false;
    return kStatusOk;
}

}  // namespace vexilsim
