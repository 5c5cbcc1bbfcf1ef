#pragma once
// AdapterChannel: the command conversation with one Vexil adapter. Every request travels in
// a "CHRM" frame on pipe 0 and is answered by a "CHPM" frame on pipe 1. Internal to the
// library. Operations return 1 for success and 0 for failure, with the reason in lastError.
#include <cstdint>
#include <memory>
#include <mutex>

class CUsbPipe;

// What a command expects of its reply and, after the receive, what the reply held.
struct ReplyHeader {
    uint8_t command = 0;
    uint16_t parameter = 0;
    uint16_t marker = 0x0100;
    uint32_t length = 0;      // before: reply capacity; after: payload length
    uint8_t* data = nullptr;  // at least `length` (capacity) bytes
};

class AdapterChannel {
  public:
    explicit AdapterChannel(const char* devicePath);
    // A copy would delete the same pipe twice.
    AdapterChannel(const AdapterChannel&) = delete;
    AdapterChannel& operator=(const AdapterChannel&) = delete;
    ~AdapterChannel();

    int SendFrame(const ReplyHeader& header, const uint8_t* payload, uint32_t payloadLength,
                  uint8_t sequenceNumber);
    int ReceiveFrame(ReplyHeader& header, uint8_t& replySequence);

    int FlashWrite(uint32_t address, uint16_t length, const uint8_t* data);
    int FlashWrite_trans(uint32_t address, uint16_t length, const uint8_t* data);
    int FlashWrite_receive();
    // count receives the data bytes delivered (at most length).
    int FlashReadBlock(uint32_t address, uint16_t length, uint8_t* destination, uint32_t& count);
    int FlashReadBlock_trans(uint32_t address, uint16_t length);
    int FlashReadBlock_receive(uint16_t length, uint8_t* destination, uint32_t& count);
    int FlashReadRand(uint32_t address, uint16_t& value);
    int FlashEraseChip();
    int FlashEraseChip_trans();
    int FlashEraseChip_receive();
    int FlashEraseBlock(uint32_t blockStart);
    int FlashEraseBlock_trans(uint32_t blockStart);
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
    int GetText(uint16_t textId, char* buffer, uint32_t size);

    uint8_t getSequence() const { return sequence; }
    int getNotConnected() const { return notConnected; }
    uint32_t getLastError() const { return lastError; }
    CUsbPipe* getPipe() { return pipe; }
    // Once a transfer has timed out, every later exchange fails at once with the status that
    // time-out left: a silent adapter costs one time-out, not one per command. A new plug
    // forgets it.
    uint32_t getTimeoutError() const { return timeoutError; }
    void ForgetTimeout() { timeoutError = 0; }

  private:
    // Full exchange: send, receive, sequence check, status word. On success `reply` holds
    // `replyLength` payload bytes, at least `needed` of them (capacity bytes of room).
    int Exchange(const uint8_t* payload, uint32_t payloadLength, uint8_t* reply, uint32_t capacity,
                 uint32_t needed, uint32_t& replyLength);
    int SendHalf(const uint8_t* payload, uint32_t payloadLength);
    int ReceiveHalf(uint8_t* reply, uint32_t capacity, uint32_t needed, uint32_t& replyLength);
    // Receive, sequence check and increment; the caller holds channelLock.
    int ReceiveLocked(uint8_t* reply, uint32_t capacity, uint32_t& replyLength);
    int CheckStatus(int received, const uint8_t* reply, uint32_t replyLength, uint32_t needed);
    // An exchange that must not start: the adapter timed out before (it fails with that
    // time-out's status), or the caller is the transfer wait's hook (0x5001).
    bool FailsAtOnce();
    void RememberTimeout(uint32_t error);

    CUsbPipe* pipe;
    uint8_t sequence;
    int notConnected;
    uint32_t lastError;
    uint32_t timeoutError;
    // Library-wide: exists while any channel does.
    std::shared_ptr<std::mutex> channelLock;
};
