// The multi-target service over three adapters, the middle one answering from the input
// (replies with arbitrary payloads for the plug-time parsers, broken frames, lost writes),
// the outer two simulated chips. The same script then runs again with a sound simulated
// adapter in the middle: targets 1 and 3 must see exactly the same frames, results, states
// and flash, so a broken adapter never disturbs the others. The broken target itself may
// only end with a known status or a status word it was sent.
//
// Input: the script comes from the back (FuzzedDataProvider), the rest feeds the replies.
#include <fuzzer/FuzzedDataProvider.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "brindlex/flash_api.h"
#include "brindlex/flash_status.h"
#include "brindlex/quorvel_api.h"
#include "brindlex/trg_connect_ctrl.h"
#include "brindlex/vexil_protocol.h"
#include "fuzz_support.h"
#include "platform/inproc_device.h"
#include "support/sample_target.h"
#include "vexilsim/inproc_adapter.h"

namespace {

using Bytes = std::vector<uint8_t>;
using namespace vexil;
using mtrig::Description;

constexpr uint32_t kImageSize = 0x4000;
const std::array<uint16_t, 4> kSecurityId = {0x1234, 0x5678, 0x9ABC, 0xDEF0};

// The same flash identified by its chip name only (128-bit identity read, name compared).
CTargetInfo ByChipName() {
    CTargetInfo t = Description();
    std::strcpy(t.name, "QX16A064N");
    t.targetId32 = 0;
    t.targetIdBitNum = 128;
    return t;
}

enum Op : uint8_t {
    kSetPlug,
    kResetPlug,
    kReset,
    kResetAll,
    kCheckName,
    kCheckFirm,
    kProtected,
    kSecId,
    kSecType,
    kChipEraseAll,
    kBlockEraseAll,
    kWriteAll,
    kWriteAllSN,
    kRead,
    kEnable,
    kSetStatus,
    kFirmText,
    kLedUpdate,
    kLed,
    kSerial,
    kPlug,  // the writer's whole plug sequence for one target
    kOpCount
};

struct Step {
    Op op;
    int n;  // target number; 0 and 4 lie outside the list
    uint32_t a;
    uint32_t b;
};

std::vector<Step> ReadScript(FuzzedDataProvider& in) {
    std::vector<Step> script(in.ConsumeIntegralInRange<size_t>(0, 32));
    for (Step& s : script) {
        s.op = Op(in.ConsumeIntegralInRange<int>(0, kOpCount - 1));
        s.n = in.ConsumeIntegralInRange<int>(0, 4);
        s.a = in.ConsumeIntegral<uint32_t>();
        s.b = in.ConsumeIntegral<uint32_t>();
    }
    return script;
}

// The broken adapter: every write and read is decided by the reply bytes.
class InputAdapter : public plat::InprocDevice {
  public:
    explicit InputAdapter(FuzzedDataProvider& in) : in_(in) {}

    std::set<uint32_t> statusWords;  // of every payload handed out

    uint32_t Open(int) override { return 0; }

    plat::InprocIo Write(const uint8_t* data, uint32_t length) override {
        FUZZ_CHECK(length >= kHeaderSize && std::memcmp(data, kRequestMagic, 4) == 0);
        sequence_ = data[kOffSequence];
        switch (in_.remaining_bytes() ? in_.ConsumeIntegralInRange(0, 15) : 15) {
            case 0:
                return plat::InprocIo::Fail(plat::ERROR_GEN_FAILURE);
            case 1:
                return plat::InprocIo::Now(0);
            case 2:
                return plat::InprocIo::Never();
            case 3:
                return plat::InprocIo::Now(length - 1);
            default:
                return plat::InprocIo::Now(length);
        }
    }

    plat::InprocIo Read(uint8_t* buffer, uint32_t length) override {
        if (in_.remaining_bytes() == 0)
            return plat::InprocIo::Never();
        const uint8_t mode = in_.ConsumeIntegral<uint8_t>();
        Bytes frame;
        switch (mode & 7) {
            case 0:
                return plat::InprocIo::Never();
            case 1:
                return plat::InprocIo::Fail(plat::ERROR_GEN_FAILURE);
            case 2:
                return plat::InprocIo::Now(0);
            case 3:  // raw bytes
                frame = in_.ConsumeBytes<uint8_t>(in_.ConsumeIntegralInRange<size_t>(0, 64));
                break;
            default: {  // a well-formed frame around an arbitrary payload
                const size_t most = (mode & 0x80) ? 2100 : 40;
                Bytes payload =
                    in_.ConsumeBytes<uint8_t>(in_.ConsumeIntegralInRange<size_t>(0, most));
                if ((mode & 0x08) && payload.size() >= 2)
                    payload[0] = payload[1] = 0;  // success, so the parsers get the rest
                frame.assign(kHeaderSize, 0);
                std::memcpy(frame.data(), kReplyMagic, 4);
                frame[kOffVersion] = kFrameVersion;
                frame[kOffSequence] = uint8_t(sequence_ - ((mode & 0x10) ? 1 : 0));
                PutLE32(frame.data() + kOffLength, uint32_t(payload.size()));
                frame.insert(frame.end(), payload.begin(), payload.end());
                break;
            }
        }
        if (frame.size() > length)
            frame.resize(length);
        if (frame.size() >= kHeaderSize + 2)
            statusWords.insert(GetBE16(frame.data() + kHeaderSize));
        if (!frame.empty())
            std::memcpy(buffer, frame.data(), frame.size());
        return plat::InprocIo::Now(uint32_t(frame.size()));
    }

    uint32_t Control(int, uint32_t, const uint8_t*, uint32_t, uint8_t*, uint32_t outSize,
                     uint32_t& returned) override {
        returned = outSize;
        return 0;
    }

  private:
    FuzzedDataProvider& in_;
    uint8_t sequence_ = 0;
};

// What one run shows of targets 1 and 3, to be compared between the two runs.
struct Observed {
    std::vector<uint64_t> values;
    std::vector<Bytes> frames[2];  // requests received by targets 1 and 3
    Bytes flash[2];

    void Add(uint64_t v) { values.push_back(v); }
    bool operator==(const Observed& o) const {
        return values == o.values && frames[0] == o.frames[0] && frames[1] == o.frames[1] &&
               flash[0] == o.flash[0] && flash[1] == o.flash[1];
    }
};

bool Outer(int n) {
    return n == 1 || n == 3;
}

uint64_t Hash(const uint8_t* p, size_t n) {
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < n; ++i)
        h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// What target 2 may hold: the codes the library sets, a status word it was sent, or a value
// the script stored.
bool KnownStatus(int status, const std::set<uint32_t>& words, const std::set<uint32_t>& stored) {
    const uint32_t s = uint32_t(status);
    return s == FLASH_OK || (s >= FLASH_WRONG_TARGET && s <= FLASH_PROTECTED) ||
           (s >= FLASH_WRITE_ADDRESS && s <= FLASH_TARGET_INFO && s != 0x4002) ||
           (s >= FLASH_RECEIVE_FAILED && s <= FLASH_NOT_CONNECTED) || words.count(s) != 0 ||
           stored.count(s) != 0;
}

const uint8_t* Image() {
    static const auto image = [] {
        auto* p = new uint8_t[kImageSize];
        for (uint32_t i = 0; i < kImageSize; ++i)
            p[i] = uint8_t(i * 7 + (i >> 8));
        return p;
    }();
    return image;
}

vexilsim::SimChip Chip(bool protectedChip) {
    vexilsim::SimChip chip(Description());
    if (protectedChip) {
        chip.setProtected(true);
        chip.setSecurityId(std::vector<uint16_t>(kSecurityId.begin(), kSecurityId.end()));
    }
    return chip;
}

// One run of the script. `broken` is the middle adapter, or null for a sound one.
Observed Run(const std::vector<Step>& script, InputAdapter* broken) {
    static const std::string paths[3] = {std::string(plat::kInprocPathPrefix) + "mt#1",
                                         std::string(plat::kInprocPathPrefix) + "mt#2",
                                         std::string(plat::kInprocPathPrefix) + "mt#3"};
    std::shared_ptr<vexilsim::SimAdapter> outer[2] = {
        std::make_shared<vexilsim::SimAdapter>(Chip(false)),
        std::make_shared<vexilsim::SimAdapter>(Chip(true))};
    std::shared_ptr<vexilsim::SimUsbDevice> outerDevices[2] = {
        vexilsim::RegisterSimAdapter(paths[0], outer[0], &VEXIL_INTERFACE_GUID), nullptr};
    if (broken != nullptr) {
        FUZZ_CHECK(plat::InprocRegister(
            paths[1], std::shared_ptr<InputAdapter>(broken, [](auto*) {}), &VEXIL_INTERFACE_GUID));
    } else {
        FUZZ_CHECK(vexilsim::RegisterSimAdapter(
            paths[1], std::make_shared<vexilsim::SimAdapter>(Chip(false)), &VEXIL_INTERFACE_GUID));
    }
    outerDevices[1] = vexilsim::RegisterSimAdapter(paths[2], outer[1], &VEXIL_INTERFACE_GUID);
    FUZZ_CHECK(outerDevices[0] && outerDevices[1]);

    Observed seen;
    std::set<uint32_t> stored;
    {
        CTrgConnectCtrl list;
        FUZZ_CHECK(list.GetUsbDevice() == 1 && list.CreateFlashApi() == 1);
        FUZZ_CHECK(list.GetSizeDevObj() == 3);
        CQuorvelApi api;
        api.SetTrgConnect(&list);
        CTargetInfo entries[2] = {Description(), ByChipName()};
        TRGINFO set{2, entries};
        const char* names[3] = {"QX16A064", "QX16A064N", "OTHER"};

        for (const Step& s : script) {
            const int n = s.n;
            int r = -1;
            uint64_t out = 0;
            switch (s.op) {
                case kPlug: {
                    api.SetTargetPlugStatus(n, PLUG_STARTED);
                    api.SysResetPlug(n);
                    api.CheckTargetName(n, &set, names[s.a % 3]);
                    api.SetTargetPlugStatus(n, PLUG_IDENTIFIED);
                    api.CheckFirm(n);
                    uint16_t protect = 7;
                    r = api.IsTargetProtected(n, protect);
                    out = protect;
                    break;
                }
                case kSetPlug:
                    r = api.SetTargetPlugStatus(n, PlugStatus(s.a % 4));
                    break;
                case kResetPlug:
                    r = api.SysResetPlug(n);
                    break;
                case kReset:
                    r = api.SysReset(n);
                    break;
                case kResetAll:
                    r = api.SysResetAll();
                    break;
                case kCheckName:
                    r = api.CheckTargetName(n, &set, names[s.a % 3]);
                    break;
                case kCheckFirm:
                    r = api.CheckFirm(n);
                    break;
                case kProtected: {
                    uint16_t protect = 7;
                    r = api.IsTargetProtected(n, protect);
                    out = protect;
                    break;
                }
                case kSecId: {
                    uint16_t id[8];
                    const uint8_t words = uint8_t(s.a % 9);
                    for (int i = 0; i < 8; ++i)
                        id[i] = (s.b & 1) && i < 4 ? kSecurityId[i] : uint16_t(s.b >> i);
                    uint16_t protect = 7;
                    r = api.SetSecID(n, words, id, protect);
                    out = protect;
                    break;
                }
                case kSecType: {
                    uint16_t type = 7;
                    r = api.GetSecType(n, type);
                    out = type;
                    break;
                }
                case kChipEraseAll:
                    r = api.ChipEraseAll();
                    break;
                case kBlockEraseAll:
                    r = api.FlashEraseBlockAll(s.a % 0x4400);
                    break;
                case kWriteAll:
                case kWriteAllSN: {
                    const uint32_t first = s.a % kImageSize;
                    // Mostly a range inside the image; now and then last below first.
                    uint32_t last = first + (s.a >> 16) % 0x1800;
                    if (last >= kImageSize)
                        last = kImageSize - 1;
                    if ((s.b & 0xF) == 0)
                        last = first - 1;
                    const uint32_t dest = (s.b >> 4) % 0x4400;
                    r = s.op == kWriteAll ? api.FlashWriteAll(first, last, dest, Image())
                                          : api.FlashWriteAllWithSN(first, last, dest, Image(),
                                                                    dest + (s.b >> 20) % 0x1000);
                    break;
                }
                case kRead: {
                    const uint32_t size = s.a % 0x4400;
                    Bytes buffer(size + 1, 0xEE);
                    uint32_t count = 0;
                    r = api.FlashRead(n, size, count, buffer.data());
                    FUZZ_CHECK(count <= size && buffer[size] == 0xEE);
                    out = Hash(buffer.data(), count) ^ count;
                    break;
                }
                case kEnable:
                    r = api.SetEnableFlg(n, int(s.a & 1));
                    break;
                case kSetStatus: {
                    const int status = (s.a & 1) ? int(s.b) : 0;
                    r = api.SetTargetStatus(n, status);
                    stored.insert(uint32_t(status));
                    break;
                }
                case kFirmText: {
                    char text[16];
                    std::memset(text, 'x', sizeof text);
                    const uint32_t size = s.a % 12;
                    uint32_t needed = 0;
                    r = api.GetFirmVerStr(n, text, size, needed);
                    // A version is d.dd; nothing lands beyond the buffer given.
                    if (r == 1) {
                        FUZZ_CHECK(needed == 5);
                        if (size >= needed)
                            FUZZ_CHECK(std::strlen(text) + 1 == needed);
                    }
                    for (uint32_t i = size; i < sizeof text; ++i)
                        FUZZ_CHECK(text[i] == 'x');
                    out = needed;
                    break;
                }
                case kLedUpdate:
                    r = api.UpdateErrorTargetLED(n);
                    break;
                case kLed:
                    r = api.ErrorTargetLED(n);
                    break;
                case kSerial: {
                    uint8_t number[300];
                    for (uint32_t i = 0; i < sizeof number; ++i)
                        number[i] = uint8_t(s.b + i);
                    r = api.SetSerialNumber(n, number, s.a % 300);
                    uint32_t length = 0;
                    uint8_t back[300];
                    api.GetSerialNumber(n, back, sizeof back, length);
                    out = Hash(back, std::min<uint32_t>(length, sizeof back)) ^ length;
                    break;
                }
                case kOpCount:
                    break;
            }
            FUZZ_CHECK(r == 0 || r == 1);
            const bool perTarget = s.op != kResetAll && s.op != kChipEraseAll &&
                                   s.op != kBlockEraseAll && s.op != kWriteAll &&
                                   s.op != kWriteAllSN;
            if (!perTarget || Outer(n)) {
                seen.Add(uint64_t(s.op) << 32 | uint32_t(r));
                seen.Add(out);
            }
            for (int t : {1, 3}) {
                int status = 0;
                int enable = 0;
                PlugStatus plug = PLUG_NONE;
                api.GetTargetStatus(t, status);
                api.GetEnableFlg(t, enable);
                api.GetTargetPlugStatus(t, plug);
                seen.Add(uint64_t(uint32_t(status)) << 8 | uint64_t(plug) << 1 | uint64_t(enable));
            }
            if (broken != nullptr) {
                int status = 0;
                PlugStatus plug = PLUG_NONE;
                api.GetTargetStatus(2, status);
                api.GetTargetPlugStatus(2, plug);
                FUZZ_CHECK(KnownStatus(status, broken->statusWords, stored));
                FUZZ_CHECK(plug <= PLUG_READY);
            }
        }
        // One more exchange with each outer target: it must still be in step with its adapter.
        for (int t : {1, 3}) {
            int status = -1;
            api.SetTargetStatus(t, FLASH_OK);
            api.SysReset(t);
            api.GetTargetStatus(t, status);
            seen.Add(uint32_t(status));
        }
    }
    for (int i = 0; i < 2; ++i) {
        for (const vexilsim::TraceEntry& e : outer[i]->trace()) {
            if (e.direction == vexilsim::TraceEntry::kReceived)
                seen.frames[i].push_back(e.frame);
        }
        seen.flash[i] = outer[i]->chip().contents();
        seen.Add(outer[i]->chip().isProtected());
        // A reply left unread would answer the next request in place of its own.
        seen.Add(outerDevices[i]->queuedReplies());
    }
    for (const std::string& p : paths)
        plat::InprocUnregister(p);
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::vector<Step> script = ReadScript(in);
    const Bytes replies = in.ConsumeRemainingBytes<uint8_t>();
    FuzzedDataProvider replyInput(replies.data(), replies.size());
    InputAdapter broken(replyInput);
    const Observed withBroken = Run(script, &broken);
    const Observed withSound = Run(script, nullptr);
    FUZZ_CHECK(withBroken == withSound);
    return 0;
}
