#include "vexilsim/sim_setup.h"

#include <gtest/gtest.h>

#include "support/sim_fixtures.h"
#include "support/sim_temp_dir.h"

namespace {

using namespace vexilsim;
using simtest::TempDir;
using simtest::WriteText;

std::vector<AdapterSetup> Load(const TempDir& dir, const std::string& ini, std::string& error) {
    WriteText(dir / "setup.ini", ini);
    std::vector<AdapterSetup> adapters;
    if (!LoadSetup(dir / "setup.ini", adapters, error))
        adapters.clear();
    return adapters;
}

// The status word of the reply to one request.
uint16_t StatusOf(SimAdapter& a, const std::vector<uint8_t>& frame) {
    auto reply = a.HandleFrame(frame.data(), frame.size());
    return reply ? static_cast<uint16_t>(reply->bytes[16] << 8 | reply->bytes[17]) : 0xFFFF;
}

TEST(SimSetup, AdaptersTakeTheirChipFromTheTrgFileAndTheOverrides) {
    TempDir dir;
    // Data at 2000H and, through an extended linear address record, nothing else.
    WriteText(dir / "img.hex",
              ":020000040000FA\n"
              ":04200000DEADBEEFA4\n"
              ":00000001FF\n");
    std::string error;
    auto adapters = Load(dir,
                         "[SIMULATOR]\n"
                         "ADAPTERS=3\n"
                         "TRGDIR=" +
                             simtest::ExampleTrgDir() +
                             "\n"
                             "[DEFAULTS]\n"
                             "LATENCY_US=7\n"
                             "[ADAPTER1]\n"
                             "TRG=qx16a064\n"
                             "COUNT=2\n"
                             "FIRMWARE=1.05\n"
                             "FAULT1=status 6305 ON erase-block\n"
                             "[ADAPTER2]\n"
                             "NAME=locked\n"
                             "TRG=" +
                             simtest::ExampleTrgDir() +
                             "/QX32F128.TRG\n"
                             "PROTECTED=1\n"
                             "SECURITYID=0102 0304\n"
                             "SECURITYTYPE=1\n"
                             "FLASH=FILL A5\n"
                             "LATENCY_US=0\n"
                             "ERASE_BLOCK_US=20000\n"
                             "WRITE_BYTE_NS=10000\n"
                             "READ_BYTE_NS=1000\n"
                             "REFUSE_OPEN=2\n"
                             "[ADAPTER3]\n"
                             "NAME=bare\n"
                             "AREAS=0-0FFFH, 2000H-2FFFH\n"
                             "BLOCKSIZE=0x1000\n"
                             "CHIPNAME=777\n"
                             "TARGETID00=12345678H\n"
                             "TARGETID32=0x00010400\n"
                             "IDBITS=128\n"
                             "POWERON=1\n"
                             "FLASH=HEX img.hex\n",
                         error);
    ASSERT_EQ(adapters.size(), 4u) << error;
    EXPECT_EQ(adapters[0].name, "vexil-01");
    EXPECT_EQ(adapters[1].name, "vexil-02");
    EXPECT_EQ(adapters[2].name, "locked");
    EXPECT_EQ(adapters[3].name, "bare");

    // From QX16A064.TRG, found whatever the letter case of its name.
    SimAdapter& first = *adapters[0].adapter;
    EXPECT_EQ(first.chip().identity(), (std::array<uint32_t, 4>{0x0A163064, 0x51040800, 0, 0}));
    EXPECT_EQ(first.chip().idBits(), 64u);
    EXPECT_EQ(first.chip().flashSize(), 0x10000u);
    EXPECT_EQ(first.chip().chipName(), "16064");
    EXPECT_EQ(first.firmwareVersion(), "1.05");
    EXPECT_EQ(first.timing.perCommandUs, 7u);  // from [DEFAULTS]
    // The fault hits the first block erase only.
    EXPECT_EQ(StatusOf(first, simtest::Request(1, {0x12, 0x12, 0, 0, 0, 0})), 0x6305);
    EXPECT_EQ(StatusOf(first, simtest::Request(2, {0x12, 0x12, 0, 0, 0, 0})), 0x0000);
    // The copy has its own adapter with the same settings and a chip of its own.
    EXPECT_NE(adapters[1].adapter, adapters[0].adapter);
    EXPECT_EQ(adapters[1].adapter->firmwareVersion(), "1.05");
    EXPECT_EQ(StatusOf(*adapters[1].adapter, simtest::Request(1, {0x12, 0x12, 0, 0, 0, 0})),
              0x6305);

    SimAdapter& locked = *adapters[2].adapter;
    EXPECT_EQ(locked.firmwareVersion(), "1.20");  // the TRG file's VEXIL_VERSION
    EXPECT_TRUE(locked.chip().isProtected());
    EXPECT_EQ(locked.chip().securityId(), (std::vector<uint16_t>{0x0102, 0x0304}));
    EXPECT_EQ(locked.chip().securityType(), 1);
    EXPECT_EQ(locked.chip().flashSize(), 0x20000u);
    EXPECT_EQ(locked.chip().contents(), std::vector<uint8_t>(0x20000, 0xA5));
    EXPECT_EQ(locked.timing.perCommandUs, 0u);
    EXPECT_EQ(locked.timing.perErasedBlockUs, 20000u);
    EXPECT_EQ(locked.timing.perWrittenByteNs, 10000u);
    EXPECT_EQ(locked.timing.perReadByteNs, 1000u);
    EXPECT_EQ(adapters[0].adapter->timing.perReadByteNs, 0u);
    EXPECT_TRUE(locked.TakeOpenRefusal(false));
    EXPECT_TRUE(locked.TakeOpenRefusal(false));
    EXPECT_FALSE(locked.TakeOpenRefusal(false));

    SimChip& bare = adapters[3].adapter->chip();
    EXPECT_EQ(bare.identity(), (std::array<uint32_t, 4>{0x12345678, 0x00010400, 0, 0}));
    EXPECT_EQ(bare.idBits(), 128u);
    EXPECT_EQ(bare.chipName(), "777");
    ASSERT_EQ(bare.areas().size(), 2u);
    EXPECT_EQ(bare.areas()[1].start, 0x2000u);
    EXPECT_EQ(bare.areas()[1].end, 0x2FFFu);
    EXPECT_EQ(bare.flashSize(), 0x3000u);
    EXPECT_TRUE(bare.powerOnState());
    EXPECT_EQ(bare.ByteAt(0x1FFF), 0xFF);
    EXPECT_EQ(bare.ByteAt(0x2000), 0xDE);
    EXPECT_EQ(bare.ByteAt(0x2003), 0xEF);
    EXPECT_EQ(bare.ByteAt(0x2004), 0xFF);
}

TEST(SimSetup, MistakesAreRefusedWithTheSectionAndKeyNamed) {
    TempDir dir;
    WriteText(dir / "sum.hex", ":04200000DEADBEEFA5\n");
    WriteText(dir / "far.hex", ":020000040001F9\n:0100000000FF\n");
    const std::string head = "[SIMULATOR]\nADAPTERS=1\nTRGDIR=" + simtest::ExampleTrgDir() +
                             "\n[ADAPTER1]\nTRG=QX16A064\n";
    struct Case {
        std::string ini;
        std::string expected;
    } cases[] = {
        {"[SIMULATOR]\n[ADAPTER1]\nTRG=QX16A064\n", "[SIMULATOR] ADAPTERS"},
        {"[SIMULATOR]\nADAPTERS=1\n[ADAPTER1]\nTRG=NOPE\n", "[ADAPTER1] TRG: no NOPE.TRG"},
        {"[SIMULATOR]\nADAPTERS=1\n[ADAPTER1]\nCHIPNAME=1\n", "needs a TRG file"},
        {head + "FLASH=FILL 1FF\n", "[ADAPTER1] FLASH"},
        {head + "FLASH=ZERO\n", "[ADAPTER1] FLASH"},
        {head + "FLASH=HEX sum.hex\n", "checksum"},
        {head + "FLASH=HEX far.hex\n", "outside the flash"},
        {head + "FLASH=HEX missing.hex\n", "cannot read"},
        {head + "FAULT3=explode ON write-flash\n", "[ADAPTER1] FAULT3: unknown fault kind"},
        {head + "IDBITS=80\n", "[ADAPTER1] IDBITS"},
        {head + "LATENCY_US=fast\n", "[ADAPTER1] LATENCY_US"},
        {head + "SECURITYID=012\n", "[ADAPTER1] SECURITYID"},
        {head + "NAME=../escape\n", "[ADAPTER1] NAME"},
        {"[SIMULATOR]\nADAPTERS=1\nTRGDIR=" + simtest::ExampleTrgDir() + "\n[ADAPTER1]\nTRG=QX*\n",
         "[ADAPTER1] TRG: no QX*.TRG"},
        {head + "AREAS=0-0xFFFFFFFF\n", "larger than 256 MiB"},
        {head + "BLOCKCOUNT=65535\nBLOCKSIZE=65536\n", "larger than 256 MiB"},
        {head + "RESERVED=0x1000000\n", "[ADAPTER1] RESERVED"},
        {"[SIMULATOR]\nADAPTERS=2\nTRGDIR=" + simtest::ExampleTrgDir() +
             "\n[DEFAULTS]\nTRG=QX16A064\nNAME=same\n",
         "used twice"},
    };
    for (const Case& c : cases) {
        std::string error;
        EXPECT_TRUE(Load(dir, c.ini, error).empty()) << c.ini;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.ini << "\n-> " << error;
    }
    std::vector<AdapterSetup> adapters;
    std::string error;
    EXPECT_FALSE(LoadSetup(dir / "absent.ini", adapters, error));
    EXPECT_NE(error.find("absent.ini"), std::string::npos);
}

TEST(SimSetup, FaultLinesFollowTheirGrammar) {
    FaultSetup f;
    std::string error;
    ASSERT_TRUE(ParseFault("wrong-sequence 2 ON Write-Flash TIMES ALL", f, error)) << error;
    EXPECT_EQ(f.fault.kind, FaultKind::kWrongSequence);
    EXPECT_EQ(f.fault.amount, 2);
    EXPECT_EQ(f.fault.count, -1);
    EXPECT_FALSE(f.atFrame);
    EXPECT_EQ(f.command, CommandKind::kWriteFlash);

    ASSERT_TRUE(ParseFault("NO-REPLY AT 12", f, error)) << error;
    EXPECT_EQ(f.fault.kind, FaultKind::kNoReply);
    EXPECT_TRUE(f.atFrame);
    EXPECT_EQ(f.frame, 12u);
    EXPECT_EQ(f.fault.count, 1);

    ASSERT_TRUE(ParseFault("status 630c ON read-identity-64 TIMES 3", f, error)) << error;
    EXPECT_EQ(f.fault.status, 0x630C);
    EXPECT_EQ(f.fault.count, 3);
    EXPECT_EQ(f.command, CommandKind::kReadId64);

    ASSERT_TRUE(ParseFault("raw 0000FF ON system-reset", f, error)) << error;
    EXPECT_EQ(f.fault.payload, (std::vector<uint8_t>{0x00, 0x00, 0xFF}));
    ASSERT_TRUE(ParseFault("disconnect ON remove-power-on-state", f, error)) << error;
    EXPECT_EQ(f.command, CommandKind::kRemovePowerOnState);

    for (const char* bad : {"", "no-reply", "no-reply ON", "no-reply ON flash", "no-reply AT 0",
                            "status ON write-flash", "status 12345 ON write-flash",
                            "no-reply AT 3 TIMES 0", "no-reply AT 3 TIMES", "no-reply AT 3 x",
                            "short-reply 0 ON read-flash", "raw 0F0 ON read-flash"}) {
        EXPECT_FALSE(ParseFault(bad, f, error)) << bad;
        EXPECT_FALSE(error.empty()) << bad;
    }
}

}  // namespace
