// The all-target read against several simulated adapters: every target reads what FlashRead
// would have read, with its requests out before the first reply of a round is collected; a
// target failing in the middle gets FlashRead's status while the others read on; and an
// adapter that stops answering costs one time-out, not one per operation.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "platform/inproc_device.h"
#include "support/multi_target_rig.h"

using mtrig::Bytes;
using mtrig::CommandKind;
using mtrig::Flash;
using mtrig::Pattern;
using mtrig::Rig;
using vexilsim::Fault;

namespace {

constexpr uint32_t kFlash = 0x4000;  // the sample target's areas read with their reserved top
constexpr uint32_t kBlock = 0x1000;

struct Progress {
    std::vector<std::pair<uint32_t, uint32_t>> calls;
    uint32_t stopAt = 0;  // answer 0 after this many blocks; 0: never

    static int Call(void* context, uint32_t done, uint32_t count) {
        auto* p = static_cast<Progress*>(context);
        p->calls.emplace_back(done, count);
        return p->stopAt == 0 || done < p->stopAt ? 1 : 0;
    }
};

// One buffer per target, filled with 0xEE to show what the read left alone.
struct Buffers {
    explicit Buffers(int targets) : data(targets, Bytes(kFlash, 0xEE)), counts(targets, 99) {
        for (Bytes& b : data)
            pointers.push_back(b.data());
    }
    int Read(uint32_t size, Progress* progress = nullptr) {
        return ApiObj.FlashReadAll(size, pointers.data(), counts.data(),
                                   static_cast<int>(pointers.size()),
                                   progress != nullptr ? Progress::Call : nullptr, progress);
    }
    std::vector<Bytes> data;
    std::vector<uint8_t*> pointers;
    std::vector<uint32_t> counts;
};

void LoadPatterns(Rig& rig) {
    for (int n = 1; n <= rig.bench().size(); ++n)
        rig.chip(n).Load(0, Pattern(kFlash, static_cast<uint8_t>(0x10 * n)));
}

// The read-flash frames of every adapter in the order they crossed: "q2" a request to target
// 2, "a2" its answer.
std::string ReadOrder(Rig& rig) {
    std::string out;
    for (const vexilsim::TraceEntry& e : rig.bench().trace()) {
        for (int n = 1; n <= rig.bench().size(); ++n) {
            if (e.kind == CommandKind::kReadFlash && e.adapter == rig.adapter(n).id())
                out += (e.direction == vexilsim::TraceEntry::kReceived ? "q" : "a") +
                       std::to_string(n) + " ";
        }
    }
    return out;
}

uint32_t Frames(Rig& rig, int n) {
    return rig.adapter(n).framesReceived();
}

TEST(MultiTargetRead, EveryReadyTargetReadsAtOnceWhatFlashReadReads) {
    Rig rig(5);
    rig.PlugAll();
    LoadPatterns(rig);
    ApiSetEnableFlg(3, 0);
    ApiSetTargetStatus(4, 0x2004);
    ApiSetTargetPlugStatus(5, PLUG_IDENTIFIED);
    Buffers b(5);
    Progress progress;
    EXPECT_EQ(b.Read(kFlash, &progress), 1);

    // Each block is five requests (1000, 1000, 1000, 1000, 96 bytes): the first goes to both
    // readers before a reply is read, each later one as soon as its reader's reply is in.
    std::string block = "q1 q2 ";
    for (int i = 0; i < 4; ++i)
        block += "a1 q1 a2 q2 ";
    block += "a1 a2 ";
    EXPECT_EQ(ReadOrder(rig), block + block + block + block);
    EXPECT_EQ(progress.calls,
              (std::vector<std::pair<uint32_t, uint32_t>>{{1, 4}, {2, 4}, {3, 4}, {4, 4}}));
    for (int n : {1, 2}) {
        EXPECT_EQ(b.data[n - 1], Flash(rig.chip(n), 0, kFlash)) << n;
        EXPECT_EQ(b.counts[n - 1], kFlash);
        EXPECT_EQ(rig.Status(n), 0);
    }
    for (int n : {3, 4, 5}) {
        EXPECT_TRUE(rig.adapter(n).trace().empty()) << n;
        EXPECT_EQ(b.counts[n - 1], 0u);
        EXPECT_EQ(b.data[n - 1], Bytes(kFlash, 0xEE));
    }
    EXPECT_EQ(rig.Status(3), 0);
    EXPECT_EQ(rig.Status(4), 0x2004);

    // A size that ends inside a block takes only the bytes asked for; one beyond the flash
    // fails every reader before anything is sent.
    rig.bench().ClearTraces();
    b = Buffers(2);
    EXPECT_EQ(b.Read(kBlock + 5), 1);
    EXPECT_EQ(b.counts[0], kBlock + 5);
    EXPECT_EQ(b.data[0][kBlock + 5], 0xEE);
    EXPECT_EQ(rig.Requests(1, CommandKind::kReadFlash).size(), 10u);
    rig.bench().ClearTraces();
    EXPECT_EQ(b.Read(kFlash + 1), 1);
    EXPECT_EQ(rig.Status(1), 0x4001);
    EXPECT_EQ(rig.Status(2), 0x4001);
    EXPECT_TRUE(rig.bench().trace().empty());
}

TEST(MultiTargetRead, AStoppedReadEndsBetweenBlocksWithNoReplyOutstanding) {
    Rig rig(2);
    rig.PlugAll();
    LoadPatterns(rig);
    Buffers b(2);
    Progress progress;
    progress.stopAt = 2;
    EXPECT_EQ(b.Read(kFlash, &progress), 1);
    EXPECT_EQ(progress.calls.size(), 2u);
    for (int n : {1, 2}) {
        EXPECT_EQ(b.counts[n - 1], 2 * kBlock);
        EXPECT_EQ(rig.Status(n), 0);
        EXPECT_EQ(rig.bench().device(n - 1).queuedReplies(), 0u);
        EXPECT_EQ(rig.Requests(n, CommandKind::kReadFlash).size(), 10u);
    }
    // The next exchange is answered in step.
    EXPECT_EQ(ApiSysReset(1), 1);
    EXPECT_EQ(rig.Status(1), 0);
}

TEST(MultiTargetRead, ATargetFailingInTheMiddleGetsFlashReadsStatusWhileTheOthersReadOn) {
    const struct {
        const char* what;
        Fault fault;
        int status;
    } cases[] = {
        {"no reply", Fault::NoReply(), 0x5000},
        {"wrong sequence", Fault::WrongSequence(), 0x5004},
        {"bad magic", Fault::BadMagic(), 0x5003},
        {"bad version", Fault::BadVersion(), 0x5003},
        {"short reply", Fault::ShortReply(), 0x5000},
        {"over-long reply", Fault::OverlongReply(), 0x5000},
        {"status word", Fault::Status(0x6305), 0x6305},
        {"raw payload", Fault::Raw({0x00, 0x00, 0x00, 0x05, 1, 2, 3, 4, 5}), 0x5000},
        {"disconnect", Fault::Disconnect(), 0x5005},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(3);
        rig.PlugAll();
        LoadPatterns(rig);
        // The seventh read request: the second of the second block.
        rig.adapter(2).InjectFaultAtFrame(Frames(rig, 2) + 7, c.fault);
        Buffers b(3);
        ASSERT_EQ(b.Read(kFlash), 1);
        for (int n : {1, 3}) {
            EXPECT_EQ(rig.Status(n), 0) << n;
            EXPECT_EQ(b.counts[n - 1], kFlash) << n;
            EXPECT_EQ(b.data[n - 1], Flash(rig.chip(n), 0, kFlash)) << n;
        }
        EXPECT_EQ(rig.Status(2), c.status);
        EXPECT_EQ(b.counts[1], kBlock);
        EXPECT_EQ(rig.Requests(2, CommandKind::kReadFlash).size(), 7u);

        // FlashRead of that target alone, under the same fault, ends the same way.
        rig.adapter(2).Reconnect();
        ApiSetTargetPlugStatus(2, PLUG_STARTED);
        ApiSetTargetPlugStatus(2, PLUG_READY);
        ApiSetTargetStatus(2, 0);
        rig.adapter(2).InjectFaultAtFrame(Frames(rig, 2) + 7, c.fault);
        Bytes alone(kFlash);
        uint32_t count = 0;
        ASSERT_EQ(ApiFlashRead(2, kFlash, &count, alone.data()), 1);
        EXPECT_EQ(rig.Status(2), c.status);
        EXPECT_EQ(count, kBlock);
    }
}

TEST(MultiTargetRead, AnAdapterThatStopsAnsweringCostsOneTimeoutPerPlug) {
    Rig rig(3);
    rig.PlugAll();
    auto expired = [&] {
        plat::InprocStats s;
        plat::InprocGetStats(rig.bench().path(1), s);
        return s.expiredReadWaits;
    };
    const uint32_t before = expired();
    EXPECT_EQ(ApiFlashEraseBlockAll(0), 1);
    // Target 2 answers the first write request and nothing after it.
    rig.adapter(2).InjectFaultAtFrame(Frames(rig, 2) + 2, Fault::NoReply().times(-1));
    const Bytes image = Pattern(3000, 0x21);
    EXPECT_EQ(ApiFlashWriteAll(0, 2999, 0, image.data()), 1);
    EXPECT_EQ(rig.Status(2), 0x5000);
    EXPECT_EQ(expired(), before + 1);
    const uint32_t silentAt = Frames(rig, 2);

    // What follows in a cycle fails at once with the same status: the error indication, the
    // read after the status was cleared, the reset of Unplug. The others go on unhindered.
    EXPECT_EQ(ApiUpdateErrorTargetLED(2), 1);
    ApiSetTargetStatus(2, 0);
    Buffers b(3);
    EXPECT_EQ(b.Read(kFlash), 1);
    EXPECT_EQ(rig.Status(2), 0x5000);
    EXPECT_EQ(b.counts[1], 0u);
    for (int n : {1, 3})
        EXPECT_EQ(Flash(rig.chip(n), 0, 3000), image) << n;
    EXPECT_EQ(b.counts[0], kFlash);
    EXPECT_EQ(ApiObj.SysResetAll(), 1);
    EXPECT_EQ(rig.Status(2), 0x5000);
    EXPECT_EQ(rig.Status(1), 0);
    EXPECT_EQ(Frames(rig, 2), silentAt);
    EXPECT_EQ(expired(), before + 1);

    // A new plug asks it again.
    ApiSetTargetPlugStatus(2, PLUG_STARTED);
    EXPECT_EQ(ApiSysReset(2), 1);
    EXPECT_EQ(Frames(rig, 2), silentAt + 1);
    EXPECT_EQ(expired(), before + 2);
}

}  // namespace
