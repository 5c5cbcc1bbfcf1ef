// Arbitrary adapter answers through the in-process device provider, for every command of the
// command channel (full exchanges, send and receive halves) and the CFlashApi operations
// that run several exchanges. Each channel command is checked against a model of the reply
// rules: its result and lastError must be exactly what the reply calls for, its sequence
// number must move as described, and what it hands out must come from inside the reply.
//
// Input: a series of steps. Each step picks a command and its arguments; every frame the
// channel writes is then answered from the following bytes: how the write goes, and whether
// the read gets nothing, an error, no bytes or a frame (whose header the input may leave as
// it is or fix up: magic, sequence number, length).
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "adapter_channel.h"
#include "brindlex/flash_api.h"
#include "brindlex/flash_status.h"
#include "brindlex/trg_connect_ctrl.h"
#include "brindlex/vexil_protocol.h"
#include "fuzz_support.h"
#include "platform/inproc_device.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace vexil;

constexpr uint32_t kMaxPayload = kReplyBufferSize - kHeaderSize;

// What the adapter did with the last request and its reply; read by the checks.
struct Trace {
    enum class Write { None, Taken, Failed, NoBytes, Never } write = Write::None;
    enum class Read { None, Never, Failed, NoBytes, Frame } read = Read::None;
    Bytes reply;                     // the bytes delivered by the last read
    std::set<uint32_t> statusWords;  // status words of every frame delivered in this step
    bool refuseOpens = false;        // every open fails during this step
    uint8_t sequence = 0;            // of the last request: what a fixed-up reply echoes
    uint32_t timedOut = 0;           // the channel's time-out status before this step
    int reads = 0;
    int writes = 0;
};

FuzzedDataProvider* gInput = nullptr;
Trace gTrace;

class FuzzAdapter : public plat::InprocDevice {
  public:
    uint32_t Open(int) override { return gTrace.refuseOpens ? plat::ERROR_ACCESS_DENIED : 0; }

    plat::InprocIo Write(const uint8_t* data, uint32_t length) override {
        ++gTrace.writes;
        // Every request is a well-formed frame.
        FUZZ_CHECK(length >= kHeaderSize);
        FUZZ_CHECK(std::memcmp(data, kRequestMagic, 4) == 0 && data[kOffVersion] == kFrameVersion);
        FUZZ_CHECK(GetLE32(data + kOffLength) == length - kHeaderSize);
        FUZZ_CHECK(GetLE16(data + kOffMarker) == kMarker);
        gTrace.sequence = data[kOffSequence];
        gTrace.read = Trace::Read::None;
        const int how = gInput->remaining_bytes() ? gInput->ConsumeIntegralInRange(0, 31) : 31;
        if (how == 0) {
            gTrace.write = Trace::Write::Failed;
            return plat::InprocIo::Fail(plat::ERROR_GEN_FAILURE);
        }
        if (how == 1) {
            gTrace.write = Trace::Write::NoBytes;
            return plat::InprocIo::Now(0);
        }
        if (how == 2) {
            gTrace.write = Trace::Write::Never;
            return plat::InprocIo::Never();
        }
        gTrace.write = Trace::Write::Taken;
        return plat::InprocIo::Now(length);
    }

    plat::InprocIo Read(uint8_t* buffer, uint32_t length) override {
        ++gTrace.reads;
        FuzzedDataProvider& in = *gInput;
        if (in.remaining_bytes() == 0) {
            gTrace.read = Trace::Read::Never;
            return plat::InprocIo::Never();
        }
        const uint8_t mode = in.ConsumeIntegral<uint8_t>();
        switch (mode % 16) {
            case 0:
                gTrace.read = Trace::Read::Never;
                return plat::InprocIo::Never();
            case 1:
                gTrace.read = Trace::Read::Failed;
                return plat::InprocIo::Fail(plat::ERROR_GEN_FAILURE);
            case 2:
                gTrace.read = Trace::Read::NoBytes;
                return plat::InprocIo::Now(0);
            default:
                break;
        }
        const bool fixHeader = mode & 0x10;
        const bool fixSequence = mode & 0x20;
        const bool fixLength = mode & 0x40;
        const size_t payload = (mode & 0x80) ? in.ConsumeIntegralInRange<size_t>(0, 4200)
                                             : in.ConsumeIntegralInRange<size_t>(0, 24);
        Bytes frame = in.ConsumeBytes<uint8_t>(kHeaderSize + payload);
        if (fixHeader && frame.size() >= kOffVersion + 1) {
            std::memcpy(frame.data(), kReplyMagic, 4);
            frame[kOffVersion] = kFrameVersion;
        } else if (fixHeader) {
            frame.assign(kReplyMagic, kReplyMagic + 4);
            frame.push_back(kFrameVersion);
        }
        if (fixSequence && frame.size() > kOffSequence)
            frame[kOffSequence] = gTrace.sequence;
        if (fixLength && frame.size() >= kHeaderSize)
            PutLE32(frame.data() + kOffLength, uint32_t(frame.size() - kHeaderSize));
        frame.resize(std::min<size_t>(frame.size(), length));
        gTrace.reply = frame;
        gTrace.read = Trace::Read::Frame;
        if (frame.size() >= kHeaderSize + 2)
            gTrace.statusWords.insert(GetBE16(frame.data() + kHeaderSize));
        if (!frame.empty())
            std::memcpy(buffer, frame.data(), frame.size());
        return plat::InprocIo::Now(uint32_t(frame.size()));
    }

    uint32_t Control(int, uint32_t, const uint8_t*, uint32_t, uint8_t*, uint32_t outSize,
                     uint32_t& returned) override {
        returned = outSize;
        return 0;
    }
};

const std::string& ChannelPath() {
    static const std::string path = [] {
        std::string p = std::string(plat::kInprocPathPrefix) + "fuzz-channel";
        plat::InprocRegister(p, std::make_shared<FuzzAdapter>(), &VEXIL_INTERFACE_GUID);
        return p;
    }();
    return path;
}

const std::string& ApiPath() {
    static const std::string path = [] {
        std::string p = std::string(plat::kInprocPathPrefix) + "fuzz-api";
        plat::InprocRegister(p, std::make_shared<FuzzAdapter>(), &VEXIL_INTERFACE_GUID);
        return p;
    }();
    return path;
}

// The outcome the reply rules give for the last exchange: 0 for success, else the code.
uint32_t Expected(uint32_t capacity, uint32_t needed, uint8_t sequence, bool sent = true) {
    if (gTrace.timedOut != 0)  // a silent adapter is not asked again
        return gTrace.timedOut;
    if (gTrace.refuseOpens)
        return FLASH_NOT_CONNECTED;
    if (sent && gTrace.write != Trace::Write::Taken)
        return FLASH_SEND_FAILED;
    switch (gTrace.read) {
        case Trace::Read::None:  // the channel did not read at all
            fuzz::Fail("a receive without a read");
        case Trace::Read::Never:
        case Trace::Read::Failed:
            return FLASH_RECEIVE_FAILED;
        case Trace::Read::NoBytes:
            return FLASH_EMPTY_REPLY;
        case Trace::Read::Frame:
            break;
    }
    const Bytes& r = gTrace.reply;
    if (r.empty())
        return FLASH_EMPTY_REPLY;
    if (r.size() < kHeaderSize)
        return FLASH_RECEIVE_FAILED;
    const uint32_t n = GetLE32(r.data() + kOffLength);
    if (n > std::min(capacity, kMaxPayload) || uint64_t{n} + kHeaderSize > r.size())
        return FLASH_RECEIVE_FAILED;
    if (std::memcmp(r.data(), kReplyMagic, 4) != 0 || r[kOffVersion] != kFrameVersion)
        return FLASH_BAD_MAGIC;
    if (r[kOffSequence] != sequence)
        return FLASH_SEQUENCE;
    if (n < 2)
        return FLASH_RECEIVE_FAILED;
    const uint16_t status = GetBE16(r.data() + kHeaderSize);
    if (status != 0)
        return status;
    if (n < needed)
        return FLASH_RECEIVE_FAILED;
    return 0;
}

// The payload of the accepted reply.
const uint8_t* Payload() {
    return gTrace.reply.data() + kHeaderSize;
}
uint32_t PayloadLength() {
    return GetLE32(gTrace.reply.data() + kOffLength);
}

// One exchange (or half) of the channel: result and lastError as the model says, and the
// sequence number moved by `advance`.
void CheckExchange(const AdapterChannel& channel, int result, uint32_t capacity, uint32_t needed,
                   uint8_t sequenceBefore, int advance, bool sent = true) {
    FUZZ_CHECK(result == 0 || result == 1);
    const uint32_t expected = Expected(capacity, needed, sequenceBefore, sent);
    if (expected == 0) {
        FUZZ_CHECK(result == 1);
    } else {
        FUZZ_CHECK(result == 0);
        FUZZ_CHECK(channel.getLastError() == expected);
    }
    FUZZ_CHECK(channel.getSequence() == uint8_t(sequenceBefore + advance));
}

// A send half: only the write matters; a failed one spends its sequence number.
void CheckSend(const AdapterChannel& channel, int result, uint8_t sequenceBefore) {
    FUZZ_CHECK(result == 0 || result == 1);
    const bool ok =
        gTrace.timedOut == 0 && !gTrace.refuseOpens && gTrace.write == Trace::Write::Taken;
    FUZZ_CHECK(result == (ok ? 1 : 0));
    if (!ok) {
        FUZZ_CHECK(channel.getLastError() == (gTrace.timedOut != 0 ? gTrace.timedOut
                                              : gTrace.refuseOpens ? FLASH_NOT_CONNECTED
                                                                   : FLASH_SEND_FAILED));
    }
    FUZZ_CHECK(channel.getSequence() == uint8_t(sequenceBefore + (ok ? 0 : 1)));
}

// A CFlashApi operation: a failure leaves a documented code, a success none.
void CheckApi(CFlashApi& api, int result) {
    FUZZ_CHECK(result == 0 || result == 1);
    const uint32_t s = api.getStatus();
    if (result == 1) {
        FUZZ_CHECK(s == FLASH_OK);
        return;
    }
    const bool known = s == FLASH_WRITE_ADDRESS || s == FLASH_READ_SIZE ||
                       s == FLASH_ERASE_ADDRESS || s == FLASH_READ_ADDRESS ||
                       s == FLASH_TARGET_INFO ||
                       (s >= FLASH_RECEIVE_FAILED && s <= FLASH_NOT_CONNECTED);
    FUZZ_CHECK(s != FLASH_OK);
    FUZZ_CHECK(known || gTrace.statusWords.count(s) != 0);
}

CTargetInfo ApiTarget() {
    // Four 2 KiB blocks with a gap, so that block reads cross areas.
    CTargetInfo t;
    std::strcpy(t.name, "FUZZ");
    t.targetId00 = 0x12345678;
    t.targetId32 = 0x00010400;
    t.targetIdBitNum = 64;
    t.areaCount = 2;
    t.areas[0] = {0x0000, 0x0FFF};
    t.areas[1] = {0x1400, 0x1DFF};
    t.blockSize = 2048;
    t.sizeFromBits13 = 512;
    std::strcpy(t.version, "1.10");
    return t;
}

template <class T>
std::unique_ptr<T[]> Exact(size_t n) {
    return std::unique_ptr<T[]>(new T[n == 0 ? 1 : n]);
}

void ChannelStep(AdapterChannel& ch, FuzzedDataProvider& in, int command) {
    const uint8_t seq = ch.getSequence();
    switch (command) {
        case 0: {
            const uint16_t len = in.ConsumeIntegralInRange<uint16_t>(0, 1000);
            auto data = Exact<uint8_t>(len);
            std::memset(data.get(), 0x3C, len);
            CheckExchange(ch, ch.FlashWrite(in.ConsumeIntegral<uint32_t>(), len, data.get()),
                          kReplyWriteFlash, 2, seq, 1);
            break;
        }
        case 1: {
            const uint16_t len = in.ConsumeIntegralInRange<uint16_t>(0, 1000);
            auto data = Exact<uint8_t>(len);
            std::memset(data.get(), 0x3C, len);
            CheckSend(ch, ch.FlashWrite_trans(in.ConsumeIntegral<uint32_t>(), len, data.get()),
                      seq);
            break;
        }
        case 2:
            CheckExchange(ch, ch.FlashWrite_receive(), kReplyWriteFlash, 2, seq, 1, false);
            break;
        case 3: {
            const uint16_t len = in.ConsumeIntegralInRange<uint16_t>(0, 1000);
            auto dest = Exact<uint8_t>(len);
            uint32_t count = 0xFFFF;
            const int r = ch.FlashReadBlock(in.ConsumeIntegral<uint32_t>(), len, dest.get(), count);
            CheckExchange(ch, r, len + kReplyReadFlashExtra, 4, seq, 1);
            if (r) {
                const uint32_t c =
                    std::min<uint32_t>({GetBE16(Payload() + 2), len, PayloadLength() - 4});
                FUZZ_CHECK(count == c);
                FUZZ_CHECK(std::memcmp(dest.get(), Payload() + 4, c) == 0);
            } else {
                FUZZ_CHECK(count == 0);
            }
            break;
        }
        case 4: {
            uint16_t value = 0;
            const int r = ch.FlashReadRand(in.ConsumeIntegral<uint32_t>(), value);
            CheckExchange(ch, r, kReplyReadWord, 6, seq, 1);
            if (r)
                FUZZ_CHECK(value == Payload()[4] * 256 + Payload()[5]);
            break;
        }
        case 5:
            CheckExchange(ch, ch.FlashEraseChip(), kReplyEraseChip, 2, seq, 1);
            break;
        case 6:
            CheckSend(ch, ch.FlashEraseChip_trans(), seq);
            break;
        case 7:
            CheckExchange(ch, ch.FlashEraseChip_receive(), kReplyEraseChip, 2, seq, 1, false);
            break;
        case 8:
            CheckExchange(ch, ch.FlashEraseBlock(in.ConsumeIntegral<uint32_t>()), kReplyEraseBlock,
                          2, seq, 1);
            break;
        case 9:
            CheckSend(ch, ch.FlashEraseBlock_trans(in.ConsumeIntegral<uint32_t>()), seq);
            break;
        case 10:
            CheckExchange(ch, ch.FlashEraseBlock_receive(), kReplyEraseBlock, 2, seq, 1, false);
            break;
        case 11: {
            const uint8_t words = in.ConsumeIntegral<uint8_t>();
            auto w = Exact<uint16_t>(words);
            for (uint8_t i = 0; i < words; ++i)
                w[i] = uint16_t(0x1111 * (i % 15));
            CheckExchange(ch, ch.FlashUnlockProtect(words, w.get()), kReplyUnlockProtect, 2, seq,
                          1);
            break;
        }
        case 12: {
            uint16_t protect = 0;
            const int r = ch.FlashReadProtect(protect);
            CheckExchange(ch, r, kReplyReadProtect, 4, seq, 1);
            if (r)
                FUZZ_CHECK(protect == GetBE16(Payload() + 2));
            break;
        }
        case 13:
            CheckExchange(ch, ch.TargetChipReset(), kReplyChipReset, 2, seq, 1);
            break;
        case 14: {
            uint8_t result = 0;
            const int r = ch.TargetSystemReset(in.ConsumeIntegral<uint8_t>(), result);
            CheckExchange(ch, r, kReplySystemReset, 3, seq, 1);
            if (r)
                FUZZ_CHECK(result == Payload()[2]);
            break;
        }
        case 15:
            CheckSend(ch, ch.TargetSystemReset_trans(in.ConsumeIntegral<uint8_t>()), seq);
            break;
        case 16: {
            uint8_t result = 0;
            const int r = ch.TargetSystemReset_receive(result);
            CheckExchange(ch, r, kReplySystemReset, 3, seq, 1, false);
            if (r)
                FUZZ_CHECK(result == Payload()[2]);
            break;
        }
        case 17: {
            uint32_t id[2] = {};
            const int r = ch.TargetReadProductID(id);
            CheckExchange(ch, r, kReplyReadId64, 10, seq, 1);
            if (r)
                FUZZ_CHECK(id[0] == GetBE32(Payload() + 6) && id[1] == GetBE32(Payload() + 2));
            break;
        }
        case 18: {
            uint32_t id[4] = {};
            const int r = ch.TargetReadProductID128(id);
            CheckExchange(ch, r, kReplyReadId128, 18, seq, 1);
            if (r) {
                for (int i = 0; i < 4; ++i)
                    FUZZ_CHECK(id[i] == GetBE32(Payload() + 14 - 4 * i));
            }
            break;
        }
        case 19: {
            const uint16_t s = in.ConsumeIntegral<uint16_t>();
            const uint16_t e = in.ConsumeIntegral<uint16_t>();
            CheckExchange(ch, ch.VexilSetTargetInfo(s, e, in.ConsumeIntegral<uint32_t>()),
                          kReplySetTargetInfo, 2, seq, 1);
            break;
        }
        case 20: {
            uint8_t result = 0;
            const int r = ch.VexilRemovePowerOnState(result);
            CheckExchange(ch, r, kReplyRemovePowerOn, 3, seq, 1);
            if (r)
                FUZZ_CHECK(result == Payload()[2]);
            break;
        }
        default: {
            const uint32_t size = in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, 80)
                                                   : in.ConsumeIntegralInRange<uint32_t>(0, 5000);
            auto text = Exact<char>(size);
            const int r = ch.GetText(in.ConsumeIntegral<uint16_t>(), text.get(), size);
            const uint32_t capacity = uint32_t(std::min<uint64_t>(uint64_t{size} + 4, kMaxPayload));
            CheckExchange(ch, r, capacity, 3, seq, 1);
            if (r && size != 0) {
                const uint32_t t =
                    std::min<uint32_t>({Payload()[2], size - 1, PayloadLength() - 3});
                FUZZ_CHECK(std::memcmp(text.get(), Payload() + 3, t) == 0 && text[t] == '\0');
            }
            break;
        }
    }
}

void ApiStep(CFlashApi& api, FuzzedDataProvider& in, int command) {
    const uint32_t blockSize = 2048;
    switch (command) {
        case 0: {
            auto dest = Exact<uint8_t>(blockSize);
            uint32_t count = 0;
            const int r = api.FlashReadBlock(in.ConsumeIntegralInRange<uint32_t>(0, 0x2400), count,
                                             dest.get());
            CheckApi(api, r);
            FUZZ_CHECK(count <= blockSize);
            break;
        }
        case 1: {
            const uint32_t size = in.ConsumeIntegralInRange<uint32_t>(0, 0x2400);
            auto dest = Exact<uint8_t>(size);
            uint32_t count = 0;
            const int r = api.FlashReadCont(size, count, dest.get());
            CheckApi(api, r);
            FUZZ_CHECK(count <= size);
            if (r)
                FUZZ_CHECK(count == size);
            break;
        }
        case 2: {
            // first..last inclusive: the empty range is first - 1, which index 0 cannot give.
            const uint32_t len = in.ConsumeIntegralInRange<uint32_t>(1, 2500);
            auto data = Exact<uint8_t>(len);
            std::memset(data.get(), 0x5A, len);
            const uint32_t address = in.ConsumeIntegralInRange<uint32_t>(0, 0x2000);
            CheckApi(api, api.FlashWrite(0, len - 1, address, data.get()));
            break;
        }
        case 3:
        case 4: {
            const uint32_t size = in.ConsumeIntegralInRange<uint32_t>(0, 300);
            auto text = Exact<char>(size);
            const int r = command == 3 ? api.GetFirmVersion(text.get(), size)
                                       : api.GetChipName(text.get(), size);
            CheckApi(api, r);
            if (r && size != 0)
                FUZZ_CHECK(std::memchr(text.get(), '\0', size) != nullptr);
            break;
        }
        case 5: {
            const int r = api.ErrorFunction();
            FUZZ_CHECK(r == 0 || r == 1);
            break;
        }
        default: {
            // A write half with the serial number merged, then its receive half.
            const uint32_t len = in.ConsumeIntegralInRange<uint32_t>(1, 1200);
            auto data = Exact<uint8_t>(len);
            std::memset(data.get(), 0x5A, len);
            uint32_t sent = 0;
            const int r = api.FlashWrite_trans_WithSN(
                in.ConsumeIntegralInRange<uint32_t>(0, 0x2000), len, data.get(), sent,
                in.ConsumeIntegralInRange<uint32_t>(0, 0x2000));
            CheckApi(api, r);
            if (r)
                CheckApi(api, api.FlashWrite_receive());
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    gInput = &in;
    gTrace = Trace{};
    AdapterChannel channel(ChannelPath().c_str());
    FUZZ_CHECK(!channel.getNotConnected());
    std::unique_ptr<CFlashApi> api;
    uint8_t serial[3] = {0xAB, 0xCD, 0xEF};

    for (int step = 0; step < 24 && in.remaining_bytes() > 0; ++step) {
        const uint8_t pick = in.ConsumeIntegral<uint8_t>();
        // A receive half answers the request its send half wrote in an earlier step.
        const uint8_t lastRequest = gTrace.sequence;
        gTrace = Trace{};
        gTrace.sequence = lastRequest;
        gTrace.refuseOpens = (pick & 0xE0) == 0xE0;
        const int command = (pick & 0x1F) % 29;
        if (command < 22) {
            gTrace.timedOut = channel.getTimeoutError();
            ChannelStep(channel, in, command);
            // A transfer that never completed leaves its status for every later exchange.
            const uint32_t timedOut = gTrace.timedOut != 0                  ? gTrace.timedOut
                                      : gTrace.write == Trace::Write::Never ? FLASH_SEND_FAILED
                                      : gTrace.read == Trace::Read::Never   ? FLASH_RECEIVE_FAILED
                                                                            : 0;
            FUZZ_CHECK(channel.getTimeoutError() == timedOut);
        } else {
            if (!api) {
                const bool refuse = gTrace.refuseOpens;
                gTrace.refuseOpens = false;
                api = std::make_unique<CFlashApi>(ApiPath().c_str());
                gTrace.refuseOpens = refuse;
                api->setTargetInfo(ApiTarget());
                api->setPlugStatus(PLUG_READY);
                api->setSN(serial, sizeof serial);
            }
            ApiStep(*api, in, command - 22);
        }
    }
    gInput = nullptr;
    return 0;
}
