#pragma once
// The simulated Vexil adapter firmware: takes "CHRM" request frames, runs each command on its
// chip and builds the "CHPM" reply frames, with a timing model, fault injection and a trace
// of every frame. Transport-free: the in-process device (inproc_adapter.h) and the vexil-sim
// daemon move the bytes.
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "vexilsim/sim_chip.h"

namespace vexilsim {

enum class CommandKind : uint8_t {
    kInvalid,  // not a well-formed request frame
    kUnknown,  // well-formed frame, command not understood
    kWriteFlash,
    kReadFlash,
    kReadFlashWord,  // read flash of 2 bytes
    kEraseChip,
    kEraseBlock,
    kUnlockProtect,
    kReadProtect,
    kChipReset,
    kSystemReset,
    kReadId64,
    kReadId128,
    kSetTargetInfo,
    kGetChipName,      // get text 0x3F01
    kGetFirmVersion,   // get text 0x3F02
    kErrorIndication,  // get text 0x7FFF
    kGetTextOther,     // get text of another identifier
    kRemovePowerOnState,
};
const char* CommandKindName(CommandKind kind);
// The command of a request payload.
CommandKind DecodeCommand(const uint8_t* payload, size_t length);

// One frame an adapter received or sent, in the order of the whole process.
struct TraceEntry {
    enum Direction { kReceived, kSent };
    uint64_t order = 0;  // shared by every adapter in the process
    int adapter = 0;     // SimAdapter::id()
    Direction direction = kReceived;
    CommandKind kind = CommandKind::kInvalid;
    uint32_t frameNumber = 0;    // the adapter's request count this frame belongs to (1-based)
    std::vector<uint8_t> frame;  // the whole frame as it crossed the wire

    uint8_t sequence() const { return frame.size() > 5 ? frame[5] : 0; }
    // The bytes behind the 16-byte header.
    std::vector<uint8_t> payload() const;
    // The status word of a reply (first two payload bytes, big-endian), 0xFFFF if absent.
    uint16_t status() const;
};

// What an injected fault does to a reply.
enum class FaultKind {
    kNoReply,        // the request is dropped: not executed, not answered
    kWrongSequence,  // the reply echoes sequence - amount
    kBadMagic,       // the reply begins "CHPX"
    kBadVersion,     // byte 4 of the reply is not 0x01
    kShortReply,     // amount bytes fewer than the length field announces
    kOverlongReply,  // payload padded to amount bytes beyond what the command accepts
    kStatusWord,     // the command is not executed; the reply carries only status
    kRawPayload,     // the command runs, its reply payload is replaced by payload
    kDisconnect,     // the adapter unplugs on this request: no reply, I/O fails
};

struct Fault {
    FaultKind kind = FaultKind::kNoReply;
    uint16_t status = 0x6000;
    std::vector<uint8_t> payload;
    int amount = 1;
    // How many matching frames it hits; -1: all. At a frame number: that many frames from it on.
    int count = 1;

    static Fault Make(FaultKind kind, uint16_t status = 0x6000, std::vector<uint8_t> payload = {},
                      int amount = 1) {
        Fault f;
        f.kind = kind;
        f.status = status;
        f.payload = std::move(payload);
        f.amount = amount;
        return f;
    }
    static Fault NoReply() { return Make(FaultKind::kNoReply); }
    static Fault WrongSequence(int back = 1) {
        return Make(FaultKind::kWrongSequence, 0, {}, back);
    }
    static Fault BadMagic() { return Make(FaultKind::kBadMagic); }
    static Fault BadVersion() { return Make(FaultKind::kBadVersion); }
    static Fault ShortReply(int missing = 1) {
        return Make(FaultKind::kShortReply, 0, {}, missing);
    }
    static Fault OverlongReply(int extra = 1) {
        return Make(FaultKind::kOverlongReply, 0, {}, extra);
    }
    static Fault Status(uint16_t word) { return Make(FaultKind::kStatusWord, word); }
    static Fault Raw(std::vector<uint8_t> payload) {
        return Make(FaultKind::kRawPayload, 0, std::move(payload));
    }
    static Fault Disconnect() { return Make(FaultKind::kDisconnect); }
    Fault& times(int n) {
        count = n;
        return *this;
    }
};

// How long the adapter and its chip take; used by the daemon to pace replies.
struct SimTiming {
    uint32_t perCommandUs = 200;        // every command: transfer and firmware
    uint32_t perErasedBlockUs = 20000;  // each block erased (chip erase: every block)
    uint32_t perWrittenByteNs = 2000;   // each byte programmed
    uint32_t perReadByteNs = 0;         // each byte read back (a real adapter's USB moves ~1 MB/s)
};

// Most reply payload bytes the library accepts for the command (its reply capacity), for
// the over-long fault. Get-text capacities follow the library's buffers for each text.
uint32_t ReplyCapacity(CommandKind kind, const uint8_t* payload, size_t length);

// A reply ready to go to the host.
struct ReplyFrame {
    std::vector<uint8_t> bytes;
    CommandKind kind = CommandKind::kInvalid;
    uint32_t frameNumber = 0;
    uint64_t durationUs = 0;  // from the timing model
};

class SimAdapter {
  public:
    explicit SimAdapter(SimChip chip = SimChip());

    // Unique in the process; identifies the adapter in traces.
    int id() const { return id_; }
    SimChip& chip() { return chip_; }
    const SimChip& chip() const { return chip_; }

    // Firmware version text, any form (the chip's version, or "1.10" without one).
    const std::string& firmwareVersion() const { return firmware_; }
    void setFirmwareVersion(std::string text) { firmware_ = std::move(text); }
    // Result bytes of the system reset and remove-power-on-state replies.
    uint8_t systemResetResult = 0;
    uint8_t removePowerOnResult = 0;

    // What the adapter was told and did.
    struct TargetSetting {
        bool set = false;
        uint16_t windowStart = 0;
        uint16_t windowEnd = 0;
        uint32_t address = 0;
    };
    TargetSetting targetSetting() const;
    uint32_t errorIndications() const;
    std::vector<uint8_t> systemResetModes() const;  // every mode received, in order
    uint32_t chipResets() const;

    // Control requests on the device, counted by kind.
    struct ControlCounts {
        uint32_t busResets = 0;
        uint32_t clearFeatures = 0;
        uint32_t pipeResets = 0;
        uint32_t other = 0;
    };
    ControlCounts controlCounts() const;
    void NoteControl(uint32_t code);

    // Timing.
    SimTiming timing;
    uint64_t CommandDurationUs(CommandKind kind, const uint8_t* payload, size_t length) const;

    // Faults: by command kind, or by the adapter's request frame number (1-based; counted
    // over every request frame, also malformed ones) and the frames after it that its count
    // covers. A frame-number fault wins; of two, the one that starts later.
    void InjectFault(CommandKind kind, Fault fault);
    void InjectFaultAtFrame(uint32_t frameNumber, Fault fault);
    void ClearFaults();

    // Connection. A disconnected adapter is absent: opens fail, I/O fails.
    bool connected() const;
    void Disconnect();
    void Reconnect();
    // The next count opens (-1: all) are refused; with pipesToo, pipe opens count as well.
    void RefuseOpens(int count = -1, bool pipesToo = false);
    // Consumes one refusal for an open of the device (pipe false) or a pipe.
    bool TakeOpenRefusal(bool pipe);

    // The firmware: one request frame in, the reply (if any) out. Records the request.
    std::optional<ReplyFrame> HandleFrame(const uint8_t* frame, size_t length);
    // The host has read the first byte of the reply: records it as sent.
    void NoteReplyDelivered(const ReplyFrame& reply);

    std::vector<TraceEntry> trace() const;
    void ClearTrace();
    // On by default; long runs (the daemon, benchmarks) switch it off to bound memory.
    void setTraceEnabled(bool on);
    uint32_t framesReceived() const;

  private:
    std::vector<uint8_t> Execute(CommandKind kind, const uint8_t* p, size_t n);
    std::optional<Fault> TakeFault(CommandKind kind, uint32_t frameNumber);
    void Record(TraceEntry::Direction dir, CommandKind kind, uint32_t frameNumber,
                const uint8_t* frame, size_t length);

    mutable std::mutex mutex_;
    int id_;
    SimChip chip_;
    std::string firmware_;
    TargetSetting setting_;
    uint32_t errorIndications_ = 0;
    std::vector<uint8_t> resetModes_;
    uint32_t chipResets_ = 0;
    ControlCounts controls_;
    std::map<CommandKind, Fault> kindFaults_;
    std::map<uint32_t, Fault> frameFaults_;
    bool connected_ = true;
    int refusals_ = 0;
    bool refusePipes_ = false;
    uint32_t frames_ = 0;
    std::vector<TraceEntry> trace_;
    bool traceEnabled_ = true;
};

// The trace entries of several adapters in the order they happened.
std::vector<TraceEntry> MergeTraces(const std::vector<const SimAdapter*>& adapters);

}  // namespace vexilsim
