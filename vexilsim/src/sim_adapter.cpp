#include "vexilsim/sim_adapter.h"

#include <algorithm>
#include <atomic>
#include <cstring>

#include "brindlex/vexil_protocol.h"

namespace vexilsim {

namespace {

std::atomic<uint64_t> traceOrder{0};
std::atomic<int> adapterIds{0};

bool Starts(const uint8_t* p, size_t n, const uint8_t* prefix, size_t k) {
    return n >= k && std::memcmp(p, prefix, k) == 0;
}

std::vector<uint8_t> StatusOnly(uint16_t status) {
    std::vector<uint8_t> r(2);
    vexil::PutBE16(r.data(), status);
    return r;
}

void AppendBE32(std::vector<uint8_t>& v, uint32_t x) {
    uint8_t b[4];
    vexil::PutBE32(b, x);
    v.insert(v.end(), b, b + 4);
}

// Library buffer sizes of the three texts it asks for.
constexpr uint32_t kChipNameBuffer = 64;
constexpr uint32_t kFirmVersionBuffer = 11;

}  // namespace

const char* CommandKindName(CommandKind kind) {
    switch (kind) {
        case CommandKind::kInvalid:
            return "invalid";
        case CommandKind::kUnknown:
            return "unknown";
        case CommandKind::kWriteFlash:
            return "write flash";
        case CommandKind::kReadFlash:
            return "read flash";
        case CommandKind::kReadFlashWord:
            return "read flash word";
        case CommandKind::kEraseChip:
            return "erase chip";
        case CommandKind::kEraseBlock:
            return "erase block";
        case CommandKind::kUnlockProtect:
            return "unlock protection";
        case CommandKind::kReadProtect:
            return "read protection";
        case CommandKind::kChipReset:
            return "chip reset";
        case CommandKind::kSystemReset:
            return "system reset";
        case CommandKind::kReadId64:
            return "read identity 64";
        case CommandKind::kReadId128:
            return "read identity 128";
        case CommandKind::kSetTargetInfo:
            return "set target information";
        case CommandKind::kGetChipName:
            return "get chip name";
        case CommandKind::kGetFirmVersion:
            return "get firmware version";
        case CommandKind::kErrorIndication:
            return "error indication";
        case CommandKind::kGetTextOther:
            return "get text";
        case CommandKind::kRemovePowerOnState:
            return "remove power-on state";
    }
    return "?";
}

CommandKind DecodeCommand(const uint8_t* p, size_t n) {
    using namespace vexil;
    if (Starts(p, n, kCmdWriteFlash, 3))
        return CommandKind::kWriteFlash;
    if (Starts(p, n, kCmdReadFlash, 3))
        return n >= 10 && GetBE16(p + 8) == 2 ? CommandKind::kReadFlashWord
                                              : CommandKind::kReadFlash;
    if (Starts(p, n, kCmdEraseChip, 2))
        return CommandKind::kEraseChip;
    if (Starts(p, n, kCmdEraseBlock, 2))
        return CommandKind::kEraseBlock;
    if (Starts(p, n, kCmdUnlockProtect, 2))
        return CommandKind::kUnlockProtect;
    if (Starts(p, n, kCmdReadProtect, 2))
        return CommandKind::kReadProtect;
    if (Starts(p, n, kCmdChipReset, 2))
        return CommandKind::kChipReset;
    if (Starts(p, n, kCmdSystemReset, 2))
        return CommandKind::kSystemReset;
    if (Starts(p, n, kCmdReadId64, 4))
        return CommandKind::kReadId64;
    if (Starts(p, n, kCmdReadId128, 4))
        return CommandKind::kReadId128;
    if (Starts(p, n, kCmdSetTargetInfo, 2))
        return CommandKind::kSetTargetInfo;
    if (Starts(p, n, kCmdGetText, 2)) {
        if (n < 4)
            return CommandKind::kGetTextOther;
        switch (GetBE16(p + 2)) {
            case kTextChipName:
                return CommandKind::kGetChipName;
            case kTextFirmVersion:
                return CommandKind::kGetFirmVersion;
            case kTextErrorIndication:
                return CommandKind::kErrorIndication;
            default:
                return CommandKind::kGetTextOther;
        }
    }
    if (Starts(p, n, kCmdRemovePowerOn, 2))
        return CommandKind::kRemovePowerOnState;
    return CommandKind::kUnknown;
}

std::vector<uint8_t> TraceEntry::payload() const {
    if (frame.size() <= vexil::kHeaderSize)
        return {};
    return std::vector<uint8_t>(frame.begin() + vexil::kHeaderSize, frame.end());
}

uint16_t TraceEntry::status() const {
    if (frame.size() < vexil::kHeaderSize + 2)
        return 0xFFFF;
    return vexil::GetBE16(frame.data() + vexil::kHeaderSize);
}

uint32_t ReplyCapacity(CommandKind kind, const uint8_t* p, size_t n) {
    using namespace vexil;
    switch (kind) {
        case CommandKind::kWriteFlash:
            return kReplyWriteFlash;
        case CommandKind::kReadFlash:
            return (n >= 10 ? GetBE16(p + 8) : 0) + kReplyReadFlashExtra;
        case CommandKind::kReadFlashWord:
            return kReplyReadWord;
        case CommandKind::kEraseChip:
            return kReplyEraseChip;
        case CommandKind::kEraseBlock:
            return kReplyEraseBlock;
        case CommandKind::kUnlockProtect:
            return kReplyUnlockProtect;
        case CommandKind::kReadProtect:
            return kReplyReadProtect;
        case CommandKind::kChipReset:
            return kReplyChipReset;
        case CommandKind::kSystemReset:
            return kReplySystemReset;
        case CommandKind::kReadId64:
            return kReplyReadId64;
        case CommandKind::kReadId128:
            return kReplyReadId128;
        case CommandKind::kSetTargetInfo:
            return kReplySetTargetInfo;
        case CommandKind::kGetChipName:
            return kChipNameBuffer + kReplyGetTextExtra;
        case CommandKind::kGetFirmVersion:
            return kFirmVersionBuffer + kReplyGetTextExtra;
        case CommandKind::kErrorIndication:
            return kErrorIndicationBuffer + kReplyGetTextExtra;
        case CommandKind::kRemovePowerOnState:
            return kReplyRemovePowerOn;
        default:
            return 2;
    }
}

SimAdapter::SimAdapter(SimChip chip)
    : id_(++adapterIds),
      chip_(std::move(chip)),
      firmware_(chip_.version().empty() ? "1.10" : chip_.version()) {}

SimAdapter::TargetSetting SimAdapter::targetSetting() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return setting_;
}

uint32_t SimAdapter::errorIndications() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return errorIndications_;
}

std::vector<uint8_t> SimAdapter::systemResetModes() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return resetModes_;
}

uint32_t SimAdapter::chipResets() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return chipResets_;
}

SimAdapter::ControlCounts SimAdapter::controlCounts() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return controls_;
}

void SimAdapter::NoteControl(uint32_t code) {
    std::lock_guard<std::mutex> lock(mutex_);
    switch (code) {
        case vexil::IOCTL_RESET_DEVICE:
            ++controls_.busResets;
            break;
        case vexil::IOCTL_CLEAR_FEATURE:
            ++controls_.clearFeatures;
            break;
        case vexil::IOCTL_RESET_PIPE:
            ++controls_.pipeResets;
            break;
        default:
            ++controls_.other;
            break;
    }
}

uint64_t SimAdapter::CommandDurationUs(CommandKind kind, const uint8_t* p, size_t n) const {
    uint64_t us = timing.perCommandUs;
    if (kind == CommandKind::kEraseBlock)
        us += timing.perErasedBlockUs;
    if (kind == CommandKind::kEraseChip) {
        uint32_t blocks = chip_.blockSize() ? chip_.flashSize() / chip_.blockSize() : 0;
        us += uint64_t{blocks} * timing.perErasedBlockUs;
    }
    if (kind == CommandKind::kWriteFlash && n >= 11)
        us += uint64_t{vexil::GetBE16(p + 9)} * timing.perWrittenByteNs / 1000;
    if ((kind == CommandKind::kReadFlash || kind == CommandKind::kReadFlashWord) && n >= 10)
        us += uint64_t{vexil::GetBE16(p + 8)} * timing.perReadByteNs / 1000;
    return us;
}

void SimAdapter::InjectFault(CommandKind kind, Fault fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    kindFaults_[kind] = std::move(fault);
}

void SimAdapter::InjectFaultAtFrame(uint32_t frameNumber, Fault fault) {
    std::lock_guard<std::mutex> lock(mutex_);
    frameFaults_[frameNumber] = std::move(fault);
}

void SimAdapter::ClearFaults() {
    std::lock_guard<std::mutex> lock(mutex_);
    kindFaults_.clear();
    frameFaults_.clear();
}

bool SimAdapter::connected() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connected_;
}

void SimAdapter::Disconnect() {
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = false;
}

void SimAdapter::Reconnect() {
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = true;
}

void SimAdapter::RefuseOpens(int count, bool pipesToo) {
    std::lock_guard<std::mutex> lock(mutex_);
    refusals_ = count;
    refusePipes_ = pipesToo;
}

bool SimAdapter::TakeOpenRefusal(bool pipe) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (refusals_ == 0 || (pipe && !refusePipes_))
        return false;
    if (refusals_ > 0)
        --refusals_;
    return true;
}

std::optional<Fault> SimAdapter::TakeFault(CommandKind kind, uint32_t frameNumber) {
    // A frame fault covers count frames from its own on (all later ones for -1); the one
    // that starts latest wins.
    for (auto at = frameFaults_.upper_bound(frameNumber); at != frameFaults_.begin();) {
        --at;
        const Fault& f = at->second;
        if (f.count < 0 || uint64_t{frameNumber} < uint64_t{at->first} + f.count)
            return f;
    }
    auto it = kindFaults_.find(kind);
    if (it == kindFaults_.end())
        return std::nullopt;
    Fault f = it->second;
    if (it->second.count > 0 && --it->second.count == 0)
        kindFaults_.erase(it);
    return f;
}

void SimAdapter::Record(TraceEntry::Direction dir, CommandKind kind, uint32_t frameNumber,
                        const uint8_t* frame, size_t length) {
    if (!traceEnabled_)
        return;
    TraceEntry e;
    e.order = ++traceOrder;
    e.adapter = id_;
    e.direction = dir;
    e.kind = kind;
    e.frameNumber = frameNumber;
    e.frame.assign(frame, frame + length);
    trace_.push_back(std::move(e));
}

std::optional<ReplyFrame> SimAdapter::HandleFrame(const uint8_t* frame, size_t length) {
    using namespace vexil;
    std::lock_guard<std::mutex> lock(mutex_);
    uint32_t number = ++frames_;
    bool wellFormed = length >= kHeaderSize && std::memcmp(frame, kRequestMagic, 4) == 0 &&
                      frame[kOffVersion] == kFrameVersion &&
                      GetLE16(frame + kOffMarker) == kMarker &&
                      GetLE32(frame + kOffLength) == length - kHeaderSize;
    if (!wellFormed) {
        // Firmware ignores what it cannot frame; the host times out.
        Record(TraceEntry::kReceived, CommandKind::kInvalid, number, frame, length);
        return std::nullopt;
    }
    const uint8_t* p = frame + kHeaderSize;
    size_t n = length - kHeaderSize;
    CommandKind kind = DecodeCommand(p, n);
    Record(TraceEntry::kReceived, kind, number, frame, length);

    std::optional<Fault> fault = TakeFault(kind, number);
    if (fault && fault->kind == FaultKind::kDisconnect) {
        connected_ = false;
        return std::nullopt;
    }
    if (fault && fault->kind == FaultKind::kNoReply)
        return std::nullopt;

    std::vector<uint8_t> payload = fault && fault->kind == FaultKind::kStatusWord
                                       ? StatusOnly(fault->status)
                                       : Execute(kind, p, n);
    if (fault && fault->kind == FaultKind::kRawPayload)
        payload = fault->payload;
    if (fault && fault->kind == FaultKind::kOverlongReply) {
        size_t want = ReplyCapacity(kind, p, n) + std::max(fault->amount, 1);
        if (payload.size() < want)
            payload.resize(want, 0);
    }

    ReplyFrame reply;
    reply.kind = kind;
    reply.frameNumber = number;
    reply.durationUs = CommandDurationUs(kind, p, n);
    auto& r = reply.bytes;
    r.resize(kHeaderSize + payload.size());
    std::memcpy(r.data(), kReplyMagic, 4);
    r[kOffVersion] = kFrameVersion;
    r[kOffSequence] = frame[kOffSequence];
    PutLE16(&r[kOffMarker], kMarker);
    PutLE32(&r[kOffLength], static_cast<uint32_t>(payload.size()));
    std::copy(payload.begin(), payload.end(), r.begin() + kHeaderSize);
    if (fault) {
        switch (fault->kind) {
            case FaultKind::kWrongSequence:
                r[kOffSequence] = static_cast<uint8_t>(frame[kOffSequence] - fault->amount);
                break;
            case FaultKind::kBadMagic:
                r[3] = 'X';
                break;
            case FaultKind::kBadVersion:
                r[kOffVersion] = kFrameVersion + 1;
                break;
            case FaultKind::kShortReply:
                r.resize(r.size() - std::min<size_t>(r.size(), std::max(fault->amount, 1)));
                break;
            default:
                break;
        }
    }
    return reply;
}

void SimAdapter::NoteReplyDelivered(const ReplyFrame& reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    Record(TraceEntry::kSent, reply.kind, reply.frameNumber, reply.bytes.data(),
           reply.bytes.size());
}

std::vector<uint8_t> SimAdapter::Execute(CommandKind kind, const uint8_t* p, size_t n) {
    using namespace vexil;
    if (chip_.powerOnState() && kind != CommandKind::kRemovePowerOnState)
        return StatusOnly(kStatusPowerOn);
    switch (kind) {
        case CommandKind::kWriteFlash: {
            if (n < 11)
                return StatusOnly(kStatusBadCommand);
            uint32_t address = GetBE32(p + 4);
            uint32_t count = GetBE16(p + 9);
            if (p[3] != AddressKind(address) || p[8] != kFlashFixed || n != 11 + count ||
                count > kMaxFlashChunk)
                return StatusOnly(kStatusBadCommand);
            return StatusOnly(chip_.Program(address, p + 11, count));
        }
        case CommandKind::kReadFlash:
        case CommandKind::kReadFlashWord: {
            if (n != 11)
                return StatusOnly(kStatusBadCommand);
            uint32_t address = GetBE32(p + 4);
            uint32_t count = GetBE16(p + 8);
            if (p[3] != AddressKind(address) || p[10] != kFlashFixed || count > kMaxFlashChunk)
                return StatusOnly(kStatusBadCommand);
            std::vector<uint8_t> r(4 + count);
            uint16_t status = chip_.Read(address, count, r.data() + 4);
            if (status != kStatusOk)
                return StatusOnly(status);
            PutBE16(r.data(), kStatusOk);
            PutBE16(r.data() + 2, static_cast<uint16_t>(count));
            return r;
        }
        case CommandKind::kEraseChip:
            if (n != 2)
                return StatusOnly(kStatusBadCommand);
            return StatusOnly(chip_.EraseChip());
        case CommandKind::kEraseBlock: {
            if (n != 6)
                return StatusOnly(kStatusBadCommand);
            uint16_t status = chip_.EraseBlock(GetBE32(p + 2));
            if (status != kStatusOk)
                return StatusOnly(status);
            return {0, 0, 0};
        }
        case CommandKind::kUnlockProtect: {
            if (n % 2 != 0)
                return StatusOnly(kStatusBadCommand);
            std::vector<uint16_t> words;
            for (size_t i = 2; i + 1 < n; i += 2)
                words.push_back(GetBE16(p + i));
            return StatusOnly(chip_.Unlock(words));
        }
        case CommandKind::kReadProtect: {
            if (n != 2)
                return StatusOnly(kStatusBadCommand);
            return {0, 0, 0, static_cast<uint8_t>(chip_.isProtected() ? 1 : 0)};
        }
        case CommandKind::kChipReset:
            if (n != 2)
                return StatusOnly(kStatusBadCommand);
            ++chipResets_;
            return StatusOnly(kStatusOk);
        case CommandKind::kSystemReset:
            if (n != 3)
                return StatusOnly(kStatusBadCommand);
            resetModes_.push_back(p[2]);
            return {0, 0, systemResetResult};
        case CommandKind::kReadId64:
        case CommandKind::kReadId128: {
            if (n != 4)
                return StatusOnly(kStatusBadCommand);
            const auto& id = chip_.identity();
            std::vector<uint8_t> r = StatusOnly(kStatusOk);
            if (kind == CommandKind::kReadId128) {
                AppendBE32(r, id[3]);
                AppendBE32(r, id[2]);
            }
            AppendBE32(r, id[1]);
            AppendBE32(r, id[0]);
            return r;
        }
        case CommandKind::kSetTargetInfo:
            if (n != 11 || p[10] != 0)
                return StatusOnly(kStatusBadCommand);
            setting_ = {true, GetBE16(p + 2), GetBE16(p + 4), GetBE32(p + 6)};
            return StatusOnly(kStatusOk);
        case CommandKind::kGetChipName:
        case CommandKind::kGetFirmVersion:
        case CommandKind::kErrorIndication: {
            if (n != 4)
                return StatusOnly(kStatusBadCommand);
            std::string text;
            if (kind == CommandKind::kGetChipName)
                text = chip_.chipName();
            if (kind == CommandKind::kGetFirmVersion)
                text = firmware_;
            if (kind == CommandKind::kErrorIndication)
                ++errorIndications_;
            text.resize(std::min<size_t>(text.size(), 255));
            std::vector<uint8_t> r = StatusOnly(kStatusOk);
            r.push_back(static_cast<uint8_t>(text.size()));
            r.insert(r.end(), text.begin(), text.end());
            return r;
        }
        case CommandKind::kRemovePowerOnState:
            if (n != 2)
                return StatusOnly(kStatusBadCommand);
            chip_.setPowerOnState(false);
            return {0, 0, removePowerOnResult};
        default:
            return StatusOnly(kStatusUnknownCommand);
    }
}

std::vector<TraceEntry> SimAdapter::trace() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return trace_;
}

void SimAdapter::ClearTrace() {
    std::lock_guard<std::mutex> lock(mutex_);
    trace_.clear();
}

void SimAdapter::setTraceEnabled(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    traceEnabled_ = on;
}

uint32_t SimAdapter::framesReceived() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
}

std::vector<TraceEntry> MergeTraces(const std::vector<const SimAdapter*>& adapters) {
    std::vector<TraceEntry> all;
    for (const SimAdapter* a : adapters) {
        auto t = a->trace();
        all.insert(all.end(), std::make_move_iterator(t.begin()), std::make_move_iterator(t.end()));
    }
    std::sort(all.begin(), all.end(),
              [](const TraceEntry& a, const TraceEntry& b) { return a.order < b.order; });
    return all;
}

}  // namespace vexilsim
