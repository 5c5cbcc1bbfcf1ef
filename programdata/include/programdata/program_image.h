#pragma once
// An address-indexed byte image of the target's flash, from address 0 to its size - 1. It
// keeps no record of which bytes came from a file.
#include <cstdint>
#include <cstring>
#include <vector>

namespace programdata {

class ProgramImage {
  public:
    // Reallocates for size bytes (old content freed); the new bytes are 0.
    void Allocate(uint32_t size) { std::vector<uint8_t>(size).swap(bytes_); }
    void Release() { std::vector<uint8_t>().swap(bytes_); }
    void Fill(uint8_t value) {
        if (!bytes_.empty())
            std::memset(bytes_.data(), value, bytes_.size());
    }
    uint32_t size() const { return uint32_t(bytes_.size()); }
    uint8_t* data() { return bytes_.data(); }
    const uint8_t* data() const { return bytes_.data(); }
    uint8_t& operator[](uint32_t address) { return bytes_[address]; }
    uint8_t operator[](uint32_t address) const { return bytes_[address]; }

  private:
    std::vector<uint8_t> bytes_;
};

}  // namespace programdata
