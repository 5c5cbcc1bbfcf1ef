#pragma once
// FlashReadCursor: the read of one target's flash areas from address 0 (CFlashApi::FlashReadCont)
// taken one read-flash command at a time, in send and receive halves, so that the all-target
// read can keep every adapter busy: its requests all go out before the first reply is read.
// Internal to the library; a friend of CFlashApi.
#include <cstdint>
#include <memory>

#include "brindlex/target_info.h"

class CFlashApi;

// The address just past the block that holds the highest area end; 0 without areas or block
// size, so that only a read of nothing fits.
uint64_t FlashSize(const CTargetInfo& info);

// An area that stops exactly the reserved size short of the end of the top block is read up to
// that end, so the reserved bytes come along.
bool ReachesTopBlockEnd(const CTargetInfo& info, uint8_t lastBlock, const TargetArea& area);

// The bytes of the block that holds address which lie in the flash areas, area by area, at most
// limit of them: copied from block (the whole block as read) to destination, or only counted
// when destination is null. Returns their number. The block size must not be 0.
uint32_t PackBlock(const CTargetInfo& info, uint8_t lastBlock, uint32_t address,
                   const uint8_t* block, uint8_t* destination, uint32_t limit);

class FlashReadCursor {
  public:
    // Reads as FlashReadCont(size, count, destination): count grows by each block's in-area
    // bytes, never past size; a failure leaves its code in the target's status.
    FlashReadCursor(CFlashApi& target, uint32_t size, uint32_t& count, uint8_t* destination);
    FlashReadCursor(const FlashReadCursor&) = delete;
    FlashReadCursor& operator=(const FlashReadCursor&) = delete;

    // Clears the status and count, checks the size against the flash and takes the block
    // buffer. False when nothing is to be read: a read of 0 bytes, or a failure.
    bool Begin();
    bool reading() const { return reading_; }
    // True while the block being read has bytes left to ask for.
    bool inBlock() const { return reading_ && done_ != 0; }
    // The next read-flash command's halves; 0 when the target failed (the read then ends). The
    // receive half packs a finished block behind the bytes before it.
    int Send();
    int Receive();
    uint32_t blocksDone() const { return blocksDone_; }
    // Blocks the read takes when nothing fails.
    uint32_t blockCount() const { return blockCount_; }

  private:
    int Fail(uint32_t status);

    CFlashApi& target_;
    uint32_t size_;
    uint32_t& count_;
    uint8_t* destination_;
    uint64_t flashSize_ = 0;
    uint32_t blockSize_ = 0;
    uint64_t blockAddress_ = 0;
    uint32_t done_ = 0;   // bytes of the current block read
    uint32_t chunk_ = 0;  // bytes the command in flight asks for
    std::unique_ptr<uint8_t[]> block_;
    uint32_t blocksDone_ = 0;
    uint32_t blockCount_ = 0;
    bool reading_ = false;
};
