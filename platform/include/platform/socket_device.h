#pragma once
// Adapters served over Unix domain sockets (by vexil-sim): one listening socket per adapter
// in the device directory, whose path is the adapter's device path. The socket provider
// (registered with the device-I/O layer, rank kSocketProviderRank) claims paths inside that
// directory, lists the sockets sorted by name, and keeps one connection per device path that
// the device handle and every pipe handle share, so opening a pipe costs no round trip. A
// device directory that another user owns or may write to is refused (no adapters, opens
// fail with ERROR_ACCESS_DENIED, and standard error says why once): its sockets could be
// anyone's.
//
// Both sides speak length-prefixed messages: a 4-byte little-endian length of what follows,
// one type byte, then the body.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/win32_types.h"

namespace plat {

constexpr int kSocketProviderRank = 10;

// $VEXIL_DEVICE_DIR, else $XDG_RUNTIME_DIR/vexil, else /tmp/vexil-<uid>; read at every call
// and without a trailing '/'.
std::string SocketDeviceDirectory();

// Tests: a transfer's real wait lasts at most limitMs (0: as long as the caller asked), and
// expires then as if its own time-out had passed, so time-outs are tested without sleeping
// through them. Every expired wait is counted with the time-out its caller asked for.
struct SocketWaitExpiries {
    uint32_t count = 0;
    uint32_t longestAskedMs = 0;
};
void SetSocketWaitLimitForTesting(uint32_t limitMs);
SocketWaitExpiries TakeSocketWaitExpiriesForTesting();

namespace sockdev {

constexpr size_t kLengthSize = 4;
constexpr size_t kHeadSize = kLengthSize + 1;
// Bodies are frames of at most a few KiB; anything far larger is a broken peer.
constexpr uint32_t kMaxMessage = 1u << 20;
// Limit of a round trip (open, control, probe): a peer that stays silent this long is gone.
constexpr uint32_t kRoundTripMs = 5000;

enum MessageType : uint8_t {
    kHello = 'H',       // host: which device are you? -> kHelloAck
    kHelloAck = 'h',    // interface class (16 bytes, as EncodeGuid), then the adapter's name
    kOpen = 'O',        // host: the device is opened, which resets it -> kOpenAck
    kOpenAck = 'o',     // error (u32 LE): ERROR_SUCCESS or why the device refuses to open
    kFrame = 'W',       // host: the bytes of one write on pipe 0; not answered
    kControl = 'C',     // host: code (u32 LE), output size (u32 LE), input bytes -> kControlAck
    kControlAck = 'c',  // error (u32 LE), output bytes
    kReply = 'R',       // device: the bytes of one transfer on pipe 1, sent when ready
};

struct Message {
    uint8_t type = 0;
    std::vector<uint8_t> body;
};

// Appends one message to out.
void AppendMessage(std::vector<uint8_t>& out, uint8_t type, const uint8_t* body, size_t size);
void AppendMessage(std::vector<uint8_t>& out, uint8_t type, const std::vector<uint8_t>& body);

// Takes the next complete message from data[start, end); advances start past it. Returns
// false when the message is not complete yet; sets bad for a length no peer of ours sends.
bool TakeMessage(const uint8_t* data, size_t end, size_t& start, Message& message, bool& bad);

void PutU32(std::vector<uint8_t>& out, uint32_t v);
uint32_t GetU32(const uint8_t* p);
void EncodeGuid(std::vector<uint8_t>& out, const GUID& guid);
GUID DecodeGuid(const uint8_t* p);  // 16 bytes

}  // namespace sockdev

}  // namespace plat
