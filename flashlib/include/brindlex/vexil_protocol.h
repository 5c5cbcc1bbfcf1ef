#pragma once
// The Vexil adapter's wire contract: frame layout, command payloads, reply capacities and the
// driver's control codes. The library speaks it and the simulator answers it; both take
// every constant from here. Header fields are little-endian, payload fields big-endian.
#include <cstddef>
#include <cstdint>

namespace vexil {

// Frame header (16 bytes), request "CHRM" on pipe 0, reply "CHPM" on pipe 1.
constexpr uint8_t kRequestMagic[4] = {'C', 'H', 'R', 'M'};
constexpr uint8_t kReplyMagic[4] = {'C', 'H', 'P', 'M'};
constexpr uint8_t kFrameVersion = 0x01;
constexpr size_t kHeaderSize = 16;
constexpr size_t kOffMagic = 0;      // 4 bytes
constexpr size_t kOffVersion = 4;    // 1 byte, 0x01
constexpr size_t kOffSequence = 5;   // 1 byte
constexpr size_t kOffReserved = 6;   // 1 byte, 0 in requests
constexpr size_t kOffCommand = 7;    // 1 byte, 0 in requests
constexpr size_t kOffParameter = 8;  // 2 bytes LE, 0 in requests
constexpr size_t kOffMarker = 10;    // 2 bytes LE, 0x0100 in requests
constexpr size_t kOffLength = 12;    // 4 bytes LE, payload length
constexpr uint16_t kMarker = 0x0100;

// The largest reply the library reads, and the pipe transfer size of the command channel.
constexpr uint32_t kReplyBufferSize = 4096;
constexpr uint32_t kChannelTransferSize = 16384;
// Flash data per command.
constexpr uint32_t kMaxFlashChunk = 1000;

// Pipes and their endpoints.
constexpr int kWritePipe = 0;
constexpr int kReadPipe = 1;
constexpr uint8_t kWriteEndpoint = 0x01;
constexpr uint8_t kReadEndpoint = 0x82;

// Driver control codes (device type 0x22, buffered, any access).
constexpr uint32_t IOCTL_GET_CONFIG_DESCRIPTOR = 0x220000;
constexpr uint32_t IOCTL_RESET_DEVICE = 0x220004;
constexpr uint32_t IOCTL_RESET_PIPE = 0x220008;
constexpr uint32_t IOCTL_GET_DESCRIPTOR = 0x22000C;
constexpr uint32_t IOCTL_CONTROL_FIRST = 0x220010;  // RequestControl: 0x220010 to 0x22002C
constexpr uint32_t IOCTL_CONTROL_LAST = 0x22002C;
constexpr uint32_t IOCTL_CLEAR_FEATURE = 0x220038;
constexpr uint32_t kControlBufferSize = 512;

// Command payload prefixes. Flash access commands continue with K (below), the address
// (4 bytes BE) and their own fields.
constexpr uint8_t kCmdWriteFlash[3] = {0x05, 0x00, 0x30};
constexpr uint8_t kCmdReadFlash[3] = {0x05, 0x10, 0x30};
constexpr uint8_t kFlashFixed = 0x02;
constexpr uint8_t kAddressKindLow = 0x27;   // address below 0x10000
constexpr uint8_t kAddressKindHigh = 0x2B;  // address 0x10000 and above
constexpr uint8_t kCmdEraseChip[2] = {0x12, 0x10};
constexpr uint8_t kCmdEraseBlock[2] = {0x12, 0x12};
constexpr uint8_t kCmdUnlockProtect[2] = {0x12, 0x30};
constexpr uint8_t kCmdReadProtect[2] = {0x12, 0x32};
constexpr uint8_t kCmdChipReset[2] = {0x07, 0x00};
constexpr uint8_t kCmdSystemReset[2] = {0x07, 0x06};
constexpr uint8_t kCmdReadId64[4] = {0x0A, 0x03, 0x3F, 0x09};
constexpr uint8_t kCmdReadId128[4] = {0x0A, 0x05, 0x3F, 0x09};
constexpr uint8_t kCmdSetTargetInfo[2] = {0x0A, 0x04};
constexpr uint8_t kCmdGetText[2] = {0x0A, 0x00};
constexpr uint8_t kCmdRemovePowerOn[2] = {0x00, 0xFD};

// Text identifiers of the get-text command.
constexpr uint16_t kTextChipName = 0x3F01;
constexpr uint16_t kTextFirmVersion = 0x3F02;
constexpr uint16_t kTextErrorIndication = 0x7FFF;

// Reply capacities: the most payload bytes each command accepts (status word included).
constexpr uint32_t kReplyWriteFlash = 2;
constexpr uint32_t kReplyReadFlashExtra = 4;  // L + 4
constexpr uint32_t kReplyReadWord = 6;
constexpr uint32_t kReplyEraseChip = 2;
constexpr uint32_t kReplyEraseBlock = 3;
constexpr uint32_t kReplyUnlockProtect = 2;
constexpr uint32_t kReplyReadProtect = 4;
constexpr uint32_t kReplyChipReset = 2;
constexpr uint32_t kReplySystemReset = 3;
constexpr uint32_t kReplyReadId64 = 10;
constexpr uint32_t kReplyReadId128 = 18;
constexpr uint32_t kReplySetTargetInfo = 2;
constexpr uint32_t kReplyGetTextExtra = 4;  // caller's buffer size + 4
constexpr uint32_t kReplyRemovePowerOn = 3;
constexpr uint32_t kErrorIndicationBuffer = 12;

inline uint8_t AddressKind(uint32_t address) {
    return address < 0x10000 ? kAddressKindLow : kAddressKindHigh;
}

inline void PutBE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}
inline void PutBE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    p[2] = static_cast<uint8_t>(v >> 8);
    p[3] = static_cast<uint8_t>(v);
}
inline uint16_t GetBE16(const uint8_t* p) {
    return static_cast<uint16_t>((p[0] << 8) | p[1]);
}
inline uint32_t GetBE32(const uint8_t* p) {
    return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
inline void PutLE16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLE32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}
inline uint16_t GetLE16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t GetLE32(const uint8_t* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

}  // namespace vexil
