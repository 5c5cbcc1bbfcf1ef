#include "adapter_channel.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "brindlex/flash_status.h"
#include "brindlex/trg_connect_ctrl.h"
#include "brindlex/usb_pipe.h"
#include "brindlex/vexil_protocol.h"
#include "transfer_wait.h"

using namespace vexil;

namespace {

// Payload bytes that fit in one reply read.
constexpr uint32_t kMaxReplyPayload = kReplyBufferSize - kHeaderSize;
constexpr uint32_t kStatusSize = 2;

struct LockRegistry {
    std::mutex guard;
    std::weak_ptr<std::mutex> lock;
};

LockRegistry& Registry() {
    static auto* registry = new LockRegistry;  // channels may outlive static destruction
    return *registry;
}

// The one channelLock: created with the first channel, gone with the last.
std::shared_ptr<std::mutex> AcquireChannelLock() {
    auto& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.guard);
    std::shared_ptr<std::mutex> lock = registry.lock.lock();
    if (!lock) {
        lock = std::make_shared<std::mutex>();
        registry.lock = lock;
    }
    return lock;
}

// Write and read commands share their first eight bytes: prefix, K, address.
void PutFlashAccess(uint8_t* p, const uint8_t (&prefix)[3], uint32_t address) {
    std::memcpy(p, prefix, 3);
    p[3] = AddressKind(address);
    PutBE32(p + 4, address);
}

}  // namespace

AdapterChannel::AdapterChannel(const char* devicePath)
    : pipe(new CUsbPipe(VEXIL_INTERFACE_GUID, kChannelTransferSize)),
      sequence(0),
      notConnected(0),
      lastError(0),
      timeoutError(0),
      channelLock(AcquireChannelLock()) {
    if (!pipe->OpenDevice(devicePath))
        notConnected = 1;
}

AdapterChannel::~AdapterChannel() {
    delete pipe;
}

int AdapterChannel::SendFrame(const ReplyHeader& header, const uint8_t* payload,
                              uint32_t payloadLength, uint8_t sequenceNumber) {
    std::vector<uint8_t> frame(kHeaderSize + payloadLength);
    std::memcpy(frame.data() + kOffMagic, kRequestMagic, sizeof kRequestMagic);
    frame[kOffVersion] = kFrameVersion;
    frame[kOffSequence] = sequenceNumber;
    frame[kOffReserved] = 0;
    frame[kOffCommand] = header.command;
    PutLE16(frame.data() + kOffParameter, header.parameter);
    PutLE16(frame.data() + kOffMarker, header.marker);
    PutLE32(frame.data() + kOffLength, payloadLength);
    if (payloadLength != 0)
        std::memcpy(frame.data() + kHeaderSize, payload, payloadLength);

    if (!pipe->OpenPipe(kWritePipe, 0)) {
        notConnected = 1;
        lastError = FLASH_NOT_CONNECTED;
        return 0;
    }
    notConnected = 0;
    uint32_t written = 0;
    TakeTransferWaitEnd();
    int ok = pipe->WritePipe(frame.data(), static_cast<uint32_t>(frame.size()), written);
    if (ok && written == frame.size()) {
        pipe->ClosePipe();
        return 1;
    }
    // A frame taken only in part is not a request the adapter can run: fail it now like an
    // empty write, rather than wait out the reply's time-out.
    if (ok) {
        pipe->ClrFeature(kWritePipe);
        pipe->ClosePipe();
        pipe->CloseDevice();
    } else {
        pipe->BusReset();
        pipe->CloseDevice();
    }
    lastError = FLASH_SEND_FAILED;
    RememberTimeout(lastError);
    return 0;
}

int AdapterChannel::ReceiveFrame(ReplyHeader& header, uint8_t& replySequence) {
    uint8_t buffer[kReplyBufferSize];
    if (!pipe->OpenPipe(kReadPipe, 0)) {
        notConnected = 1;
        lastError = FLASH_NOT_CONNECTED;
        return 0;
    }
    notConnected = 0;
    uint32_t got = 0;
    TakeTransferWaitEnd();
    if (!pipe->ReadPipe(buffer, sizeof buffer, got)) {
        pipe->BusReset();
        pipe->CloseDevice();
        lastError = FLASH_RECEIVE_FAILED;
        RememberTimeout(lastError);
        return 0;
    }
    if (got == 0) {
        pipe->ClrFeature(kReadPipe);
        pipe->ClosePipe();
        pipe->CloseDevice();
        lastError = FLASH_EMPTY_REPLY;
        return 0;
    }
    // Too short for its own header, longer than the command accepts, or cut off: the
    // length is judged before the magic.
    uint32_t n = got >= kHeaderSize ? GetLE32(buffer + kOffLength) : 0;
    if (got < kHeaderSize || n > header.length || uint64_t{n} + kHeaderSize > got) {
        pipe->BusReset();
        pipe->CloseDevice();
        lastError = FLASH_RECEIVE_FAILED;
        return 0;
    }
    if (std::memcmp(buffer + kOffMagic, kReplyMagic, sizeof kReplyMagic) != 0 ||
        buffer[kOffVersion] != kFrameVersion) {
        pipe->BusReset();
        pipe->CloseDevice();
        lastError = FLASH_BAD_MAGIC;
        return 0;
    }
    replySequence = buffer[kOffSequence];
    header.command = buffer[kOffCommand];
    header.parameter = GetLE16(buffer + kOffParameter);
    header.marker = kMarker;
    header.length = n;
    if (n != 0)
        std::memcpy(header.data, buffer + kHeaderSize, n);
    pipe->ClosePipe();
    return 1;
}

int AdapterChannel::ReceiveLocked(uint8_t* reply, uint32_t capacity, uint32_t& replyLength) {
    ReplyHeader header;
    header.length = std::min(capacity, kMaxReplyPayload);
    header.data = reply;
    uint8_t replySequence = 0;
    int ok = ReceiveFrame(header, replySequence);
    if (ok && replySequence != sequence) {
        pipe->BusReset();
        lastError = FLASH_SEQUENCE;
        pipe->CloseDevice();
        ok = 0;
    }
    ++sequence;
    replyLength = ok ? header.length : 0;
    return ok;
}

bool AdapterChannel::FailsAtOnce() {
    // Asked for by the wait hook, in the middle of another exchange: refused untouched.
    if (InsideTransferWaitHook()) {
        lastError = FLASH_SEND_FAILED;
        return true;
    }
    if (timeoutError == 0)
        return false;
    // A failed exchange all the same: its number is spent.
    lastError = timeoutError;
    ++sequence;
    return true;
}

void AdapterChannel::RememberTimeout(uint32_t error) {
    if (TakeTransferWaitEnd() == TransferWaitEnd::kTimedOut)
        timeoutError = error;
}

int AdapterChannel::CheckStatus(int received, const uint8_t* reply, uint32_t replyLength,
                                uint32_t needed) {
    if (!received)
        return 0;
    // A reply without the bytes the command reads would hand out stale memory.
    if (replyLength < kStatusSize) {
        lastError = FLASH_RECEIVE_FAILED;
        return 0;
    }
    uint16_t status = GetBE16(reply);
    if (status != 0) {
        lastError = status;
        return 0;
    }
    if (replyLength < needed) {
        lastError = FLASH_RECEIVE_FAILED;
        return 0;
    }
    return 1;
}

int AdapterChannel::Exchange(const uint8_t* payload, uint32_t payloadLength, uint8_t* reply,
                             uint32_t capacity, uint32_t needed, uint32_t& replyLength) {
    replyLength = 0;
    if (FailsAtOnce())
        return 0;
    int ok;
    {
        std::lock_guard<std::mutex> lock(*channelLock);
        if (!SendFrame(ReplyHeader{}, payload, payloadLength, sequence)) {
            // The number is spent: the adapter may have seen part of the request.
            ++sequence;
            return 0;
        }
        ok = ReceiveLocked(reply, capacity, replyLength);
    }
    return CheckStatus(ok, reply, replyLength, needed);
}

int AdapterChannel::SendHalf(const uint8_t* payload, uint32_t payloadLength) {
    if (FailsAtOnce())
        return 0;
    std::lock_guard<std::mutex> lock(*channelLock);
    if (!SendFrame(ReplyHeader{}, payload, payloadLength, sequence)) {
        ++sequence;
        return 0;
    }
    return 1;
}

int AdapterChannel::ReceiveHalf(uint8_t* reply, uint32_t capacity, uint32_t needed,
                                uint32_t& replyLength) {
    replyLength = 0;
    if (FailsAtOnce())
        return 0;
    int ok;
    {
        std::lock_guard<std::mutex> lock(*channelLock);
        ok = ReceiveLocked(reply, capacity, replyLength);
    }
    return CheckStatus(ok, reply, replyLength, needed);
}

namespace {

std::vector<uint8_t> WritePayload(uint32_t address, uint16_t length, const uint8_t* data) {
    std::vector<uint8_t> payload(11 + size_t{length});
    PutFlashAccess(payload.data(), kCmdWriteFlash, address);
    payload[8] = kFlashFixed;
    PutBE16(payload.data() + 9, length);
    if (length != 0)
        std::memcpy(payload.data() + 11, data, length);
    return payload;
}

void ReadPayload(uint8_t (&payload)[11], uint32_t address, uint16_t length) {
    PutFlashAccess(payload, kCmdReadFlash, address);
    PutBE16(payload + 8, length);
    payload[10] = kFlashFixed;
}

}  // namespace

int AdapterChannel::FlashWrite(uint32_t address, uint16_t length, const uint8_t* data) {
    std::vector<uint8_t> payload = WritePayload(address, length, data);
    uint8_t reply[kReplyWriteFlash];
    uint32_t n = 0;
    return Exchange(payload.data(), static_cast<uint32_t>(payload.size()), reply, sizeof reply,
                    kStatusSize, n);
}

int AdapterChannel::FlashWrite_trans(uint32_t address, uint16_t length, const uint8_t* data) {
    std::vector<uint8_t> payload = WritePayload(address, length, data);
    return SendHalf(payload.data(), static_cast<uint32_t>(payload.size()));
}

int AdapterChannel::FlashWrite_receive() {
    uint8_t reply[kReplyWriteFlash];
    uint32_t n = 0;
    return ReceiveHalf(reply, sizeof reply, kStatusSize, n);
}

namespace {

// The data of a read-flash reply of n payload bytes: never more than asked for or than the
// reply holds, whatever its count field claims.
uint32_t TakeReadData(const std::vector<uint8_t>& reply, uint32_t n, uint16_t length,
                      uint8_t* destination) {
    const uint32_t c = std::min({uint32_t{GetBE16(reply.data() + 2)}, uint32_t{length}, n - 4});
    if (c != 0)
        std::memcpy(destination, reply.data() + 4, c);
    return c;
}

}  // namespace

int AdapterChannel::FlashReadBlock(uint32_t address, uint16_t length, uint8_t* destination,
                                   uint32_t& count) {
    count = 0;
    uint8_t payload[11];
    ReadPayload(payload, address, length);
    std::vector<uint8_t> reply(length + kReplyReadFlashExtra);
    uint32_t n = 0;
    if (!Exchange(payload, sizeof payload, reply.data(), static_cast<uint32_t>(reply.size()), 4, n))
        return 0;
    count = TakeReadData(reply, n, length, destination);
    return 1;
}

int AdapterChannel::FlashReadBlock_trans(uint32_t address, uint16_t length) {
    uint8_t payload[11];
    ReadPayload(payload, address, length);
    return SendHalf(payload, sizeof payload);
}

int AdapterChannel::FlashReadBlock_receive(uint16_t length, uint8_t* destination, uint32_t& count) {
    count = 0;
    std::vector<uint8_t> reply(length + kReplyReadFlashExtra);
    uint32_t n = 0;
    if (!ReceiveHalf(reply.data(), static_cast<uint32_t>(reply.size()), 4, n))
        return 0;
    count = TakeReadData(reply, n, length, destination);
    return 1;
}

int AdapterChannel::FlashReadRand(uint32_t address, uint16_t& value) {
    uint8_t payload[11];
    ReadPayload(payload, address, 2);
    uint8_t reply[kReplyReadWord];
    uint32_t n = 0;
    if (!Exchange(payload, sizeof payload, reply, sizeof reply, kReplyReadWord, n))
        return 0;
    value = static_cast<uint16_t>(reply[4] * 256 + reply[5]);
    return 1;
}

int AdapterChannel::FlashEraseChip() {
    uint8_t reply[kReplyEraseChip];
    uint32_t n = 0;
    return Exchange(kCmdEraseChip, sizeof kCmdEraseChip, reply, sizeof reply, kStatusSize, n);
}

int AdapterChannel::FlashEraseChip_trans() {
    return SendHalf(kCmdEraseChip, sizeof kCmdEraseChip);
}

int AdapterChannel::FlashEraseChip_receive() {
    uint8_t reply[kReplyEraseChip];
    uint32_t n = 0;
    return ReceiveHalf(reply, sizeof reply, kStatusSize, n);
}

namespace {
void EraseBlockPayload(uint8_t (&payload)[6], uint32_t blockStart) {
    std::memcpy(payload, kCmdEraseBlock, 2);
    PutBE32(payload + 2, blockStart);
}
}  // namespace

int AdapterChannel::FlashEraseBlock(uint32_t blockStart) {
    uint8_t payload[6];
    EraseBlockPayload(payload, blockStart);
    uint8_t reply[kReplyEraseBlock];
    uint32_t n = 0;
    return Exchange(payload, sizeof payload, reply, sizeof reply, kStatusSize, n);
}

int AdapterChannel::FlashEraseBlock_trans(uint32_t blockStart) {
    uint8_t payload[6];
    EraseBlockPayload(payload, blockStart);
    return SendHalf(payload, sizeof payload);
}

int AdapterChannel::FlashEraseBlock_receive() {
    uint8_t reply[kReplyEraseBlock];
    uint32_t n = 0;
    return ReceiveHalf(reply, sizeof reply, kStatusSize, n);
}

int AdapterChannel::FlashUnlockProtect(uint8_t wordCount, const uint16_t* words) {
    // The word part of the length is kept to 8 bits: past 127 words it wraps, and only as
    // many words as the wrapped length holds are sent, so nothing is read beyond the words.
    const uint32_t length = 2 + static_cast<uint8_t>(2 * wordCount);
    uint8_t payload[2 + 256] = {};
    std::memcpy(payload, kCmdUnlockProtect, 2);
    const uint32_t sendWords = (length - 2) / 2;
    for (uint32_t i = 0; i < sendWords && words != nullptr; ++i)
        PutBE16(payload + 2 + 2 * i, words[i]);
    uint8_t reply[kReplyUnlockProtect];
    uint32_t n = 0;
    return Exchange(payload, length, reply, sizeof reply, kStatusSize, n);
}

int AdapterChannel::FlashReadProtect(uint16_t& protect) {
    uint8_t reply[kReplyReadProtect];
    uint32_t n = 0;
    if (!Exchange(kCmdReadProtect, sizeof kCmdReadProtect, reply, sizeof reply, kReplyReadProtect,
                  n))
        return 0;
    protect = GetBE16(reply + 2);
    return 1;
}

int AdapterChannel::TargetChipReset() {
    uint8_t reply[kReplyChipReset];
    uint32_t n = 0;
    return Exchange(kCmdChipReset, sizeof kCmdChipReset, reply, sizeof reply, kStatusSize, n);
}

int AdapterChannel::TargetSystemReset(uint8_t mode, uint8_t& result) {
    const uint8_t payload[3] = {kCmdSystemReset[0], kCmdSystemReset[1], mode};
    uint8_t reply[kReplySystemReset];
    uint32_t n = 0;
    if (!Exchange(payload, sizeof payload, reply, sizeof reply, kReplySystemReset, n))
        return 0;
    result = reply[2];
    return 1;
}

int AdapterChannel::TargetSystemReset_trans(uint8_t mode) {
    const uint8_t payload[3] = {kCmdSystemReset[0], kCmdSystemReset[1], mode};
    return SendHalf(payload, sizeof payload);
}

int AdapterChannel::TargetSystemReset_receive(uint8_t& result) {
    uint8_t reply[kReplySystemReset];
    uint32_t n = 0;
    if (!ReceiveHalf(reply, sizeof reply, kReplySystemReset, n))
        return 0;
    result = reply[2];
    return 1;
}

int AdapterChannel::TargetReadProductID(uint32_t id[2]) {
    uint8_t reply[kReplyReadId64];
    uint32_t n = 0;
    if (!Exchange(kCmdReadId64, sizeof kCmdReadId64, reply, sizeof reply, kReplyReadId64, n))
        return 0;
    id[0] = GetBE32(reply + 6);
    id[1] = GetBE32(reply + 2);
    return 1;
}

int AdapterChannel::TargetReadProductID128(uint32_t id[4]) {
    uint8_t reply[kReplyReadId128];
    uint32_t n = 0;
    if (!Exchange(kCmdReadId128, sizeof kCmdReadId128, reply, sizeof reply, kReplyReadId128, n))
        return 0;
    for (int i = 0; i < 4; ++i)
        id[i] = GetBE32(reply + 14 - 4 * i);
    return 1;
}

int AdapterChannel::VexilSetTargetInfo(uint16_t windowStart, uint16_t windowEnd, uint32_t address) {
    uint8_t payload[11];
    std::memcpy(payload, kCmdSetTargetInfo, 2);
    PutBE16(payload + 2, windowStart);
    PutBE16(payload + 4, windowEnd);
    PutBE32(payload + 6, address);
    payload[10] = 0;
    uint8_t reply[kReplySetTargetInfo];
    uint32_t n = 0;
    return Exchange(payload, sizeof payload, reply, sizeof reply, kStatusSize, n);
}

int AdapterChannel::VexilRemovePowerOnState(uint8_t& result) {
    uint8_t reply[kReplyRemovePowerOn];
    uint32_t n = 0;
    if (!Exchange(kCmdRemovePowerOn, sizeof kCmdRemovePowerOn, reply, sizeof reply,
                  kReplyRemovePowerOn, n))
        return 0;
    result = reply[2];
    return 1;
}

int AdapterChannel::GetText(uint16_t textId, char* buffer, uint32_t size) {
    uint8_t payload[4];
    std::memcpy(payload, kCmdGetText, 2);
    PutBE16(payload + 2, textId);
    const uint32_t capacity = static_cast<uint32_t>(
        std::min<uint64_t>(uint64_t{size} + kReplyGetTextExtra, kMaxReplyPayload));
    std::vector<uint8_t> reply(capacity);
    uint32_t n = 0;
    if (!Exchange(payload, sizeof payload, reply.data(), capacity, 3, n))
        return 0;
    if (buffer != nullptr && size != 0) {
        // Never more than the reply holds, whatever its length byte claims.
        uint32_t t = std::min({uint32_t{reply[2]}, size - 1, n - 3});
        std::memcpy(buffer, reply.data() + 3, t);
        buffer[t] = '\0';
    }
    return 1;
}
