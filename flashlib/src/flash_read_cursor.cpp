#include "flash_read_cursor.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "adapter_channel.h"
#include "brindlex/flash_api.h"
#include "brindlex/vexil_protocol.h"

uint64_t FlashSize(const CTargetInfo& info) {
    if (info.areaCount == 0 || info.blockSize <= 0)
        return 0;
    uint32_t highest = 0;
    for (uint32_t i = 0; i < info.areaCount; ++i)
        highest = std::max(highest, info.areas[i].end);
    const uint64_t size = static_cast<uint32_t>(info.blockSize);
    return size * (highest / size + 1);
}

bool ReachesTopBlockEnd(const CTargetInfo& info, uint8_t lastBlock, const TargetArea& a) {
    const uint64_t size = static_cast<uint32_t>(info.blockSize);
    const uint64_t topEnd = size * (uint64_t{lastBlock} + 1) - 1;
    return a.end / size == lastBlock &&
           uint64_t{a.end} + static_cast<uint32_t>(info.sizeFromBits13) == topEnd;
}

uint32_t PackBlock(const CTargetInfo& info, uint8_t lastBlock, uint32_t address,
                   const uint8_t* block, uint8_t* destination, uint32_t limit) {
    const uint32_t size = static_cast<uint32_t>(info.blockSize);
    const uint32_t index = address / size;
    const uint64_t blockStart = uint64_t{index} * size;
    const uint64_t blockEnd = blockStart + size - 1;
    uint32_t copied = 0;
    for (uint32_t i = 0; i < info.areaCount && copied < limit; ++i) {
        const TargetArea& a = info.areas[i];
        uint64_t end = a.end;
        if (index == lastBlock && ReachesTopBlockEnd(info, lastBlock, a))
            end = blockEnd;
        if (a.start > blockEnd || end < blockStart)
            continue;
        const uint64_t from = std::max<uint64_t>(a.start, blockStart);
        const uint64_t to = std::min(end, blockEnd);
        // Overlapping areas must not push more than the limit into the destination.
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(to - from + 1, limit - copied));
        if (destination != nullptr)
            std::memcpy(destination + copied, block + (from - blockStart), n);
        copied += n;
    }
    return copied;
}

FlashReadCursor::FlashReadCursor(CFlashApi& target, uint32_t size, uint32_t& count,
                                 uint8_t* destination)
    : target_(target), size_(size), count_(count), destination_(destination) {}

bool FlashReadCursor::Begin() {
    target_.status = FLASH_OK;
    count_ = 0;
    const CTargetInfo& info = target_.targetInfo;
    flashSize_ = FlashSize(info);
    if (flashSize_ < size_) {
        Fail(FLASH_READ_SIZE);
        return false;
    }
    if (size_ == 0)
        return false;
    blockSize_ = static_cast<uint32_t>(info.blockSize);
    block_.reset(new (std::nothrow) uint8_t[blockSize_]);
    if (!block_) {
        Fail(FLASH_READ_SIZE);
        return false;
    }
    uint64_t planned = 0;
    for (uint64_t a = 0; planned < size_ && a < flashSize_; a += blockSize_) {
        planned += PackBlock(info, target_.lastBlockIndex, static_cast<uint32_t>(a), nullptr,
                             nullptr, static_cast<uint32_t>(size_ - planned));
        ++blockCount_;
    }
    reading_ = true;
    return true;
}

int FlashReadCursor::Send() {
    chunk_ = std::min(vexil::kMaxFlashChunk, blockSize_ - done_);
    if (!target_.channel->FlashReadBlock_trans(static_cast<uint32_t>(blockAddress_ + done_),
                                               static_cast<uint16_t>(chunk_)))
        return Fail(target_.channel->getLastError());
    return 1;
}

int FlashReadCursor::Receive() {
    uint32_t got = 0;
    if (!target_.channel->FlashReadBlock_receive(static_cast<uint16_t>(chunk_),
                                                 block_.get() + done_, got))
        return Fail(target_.channel->getLastError());
    // Fewer bytes than asked for would leave holes of stale memory in the block.
    if (got != chunk_)
        return Fail(FLASH_RECEIVE_FAILED);
    done_ += chunk_;
    if (done_ < blockSize_)
        return 1;
    count_ +=
        PackBlock(target_.targetInfo, target_.lastBlockIndex, static_cast<uint32_t>(blockAddress_),
                  block_.get(), destination_ + count_, size_ - count_);
    ++blocksDone_;
    blockAddress_ += blockSize_;
    done_ = 0;
    if (count_ >= size_) {
        reading_ = false;
        return 1;
    }
    // Never past the flash: its areas hold fewer bytes than asked for.
    if (blockAddress_ >= flashSize_)
        return Fail(FLASH_READ_SIZE);
    return 1;
}

int FlashReadCursor::Fail(uint32_t status) {
    target_.status = static_cast<FlashStatus>(status);
    reading_ = false;
    return 0;
}
