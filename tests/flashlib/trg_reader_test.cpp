#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "brindlex/quorvel_api.h"
#include "platform/files.h"
#include "support/quorvel_api_test_access.h"
#include "support/trg_places.h"

namespace {

// An accepted description; extra VEXIL keys come first so that they win over the defaults here.
std::string Trg(const std::string& vexil = "", const std::string& sections = "") {
    return "[VEXIL]\n" + vexil + "VEXILDEBUG=ENABLE\nTARGETID00=1H\n" + sections;
}

// A section of numbered entries; each entry is {kind, start, end}.
std::string Map(const std::string& section, const std::vector<std::vector<std::string>>& rows) {
    std::string s = "[" + section + "]\nNUMBER=" + std::to_string(rows.size()) + "\n";
    for (size_t i = 0; i < rows.size(); ++i) {
        const std::string n = std::to_string(i + 1);
        if (!rows[i][0].empty())
            s += "DEFAULT" + n + "=" + rows[i][0] + "\n";
        s += "STARTADRS" + n + "=" + rows[i][1] + "\nENDADRS" + n + "=" + rows[i][2] + "\n";
    }
    return s;
}

using Pairs = std::vector<std::pair<uint32_t, uint32_t>>;

Pairs Areas(const CTargetInfo& e) {
    Pairs areas;
    for (uint32_t i = 0; i < e.areaCount; ++i)
        areas.emplace_back(e.areas[i].start, e.areas[i].end);
    return areas;
}

std::vector<std::string> Names(const TRGINFO* set) {
    std::vector<std::string> names;
    for (uint32_t i = 0; set != nullptr && i < set->count; ++i)
        names.push_back(set->entries[i].name);
    return names;
}

class TrgReader : public ::testing::Test {
  protected:
    TrgSet Read(uint16_t& found, uint8_t maxIdBits = 93) {
        found = 0xBEEF;
        return TrgSet(ApiObj.ReadTargetInfoFile(maxIdBits, found));
    }
    // Reads content as the only file of the program directory; false when it was skipped.
    bool ReadOne(const std::string& content, CTargetInfo& entry) {
        TrgPlaces::Put(places.ProgramDir(), "ONE.TRG", content);
        uint16_t found = 0;
        TrgSet set = Read(found);
        EXPECT_EQ(found, 1);
        if (!set)
            return false;
        entry = set->entries[0];
        return true;
    }

    TrgPlaces places;
};

TEST_F(TrgReader, SkipRulesAndCountsOfFoundVersusAccepted) {
    const std::string dir = places.ProgramDir();
    TrgPlaces::Put(dir, "A_OK.TRG", Trg());
    TrgPlaces::Put(dir, "B_LOWER.TRG", Trg("VEXILDEBUG=enable\n"));
    TrgPlaces::Put(dir, "C_NOFLAG.TRG", "[VEXIL]\nTARGETID00=1H\n");
    TrgPlaces::Put(dir, "D_BITS93.TRG", Trg("TARGETID_BIT_NUM=93\n"));
    TrgPlaces::Put(dir, "E_BITS128.TRG", Trg("TARGETID_BIT_NUM=128\n"));
    TrgPlaces::Put(dir, "F_ZEROID.TRG",
                   Trg("TARGETID00=0H\nTARGETID32=0H\n", Map("MMAP", {{"SC", "0", "FFH"}})));
    TrgPlaces::Put(dir, "G_NOID.TRG", "[VEXIL]\nVEXILDEBUG=ENABLE\n");
    TrgPlaces::Put(dir, "H_HIGHONLY.TRG", Trg("TARGETID00=0H\nTARGETID32=5H\n"));
    TrgPlaces::Put(dir, "I_LONGVER.TRG", Trg("VEXIL_VERSION=1.10.0.123\n"));
    TrgPlaces::Put(dir, "J_NEGBITS.TRG", Trg("TARGETID_BIT_NUM=-1\n"));

    uint16_t found = 0;
    TrgSet set = Read(found);
    ASSERT_TRUE(set);
    EXPECT_EQ(found, 10);
    EXPECT_EQ(set->count, 3u);
    EXPECT_EQ(Names(set.get()), (std::vector<std::string>{"A_OK", "D_BITS93", "H_HIGHONLY"}));
    EXPECT_EQ(set->entries[1].targetIdBitNum, 93u);
    EXPECT_EQ(set->entries[0].targetIdBitNum, 64u);

    // A lower caller limit skips what 93 accepted; nothing accepted gives null but the count.
    set = Read(found, 63);
    EXPECT_FALSE(set);
    EXPECT_EQ(found, 10);
}

TEST_F(TrgReader, VersionFallsBackToOneTenWhenItReadsAsZero) {
    CTargetInfo e;
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"ABC", "1.10"},    {"0.00", "1.10"},           {"2.05", "2.05"}, {"", "1.10"},
        {"1.2.3", "1.2.3"}, {"123456789", "123456789"}, {".5", ".5"},     {"+2.05", "+2.05"},
        {"-1.00", "-1.00"}, {"+0.00", "1.10"}};
    for (const auto& [text, expected] : cases) {
        ASSERT_TRUE(ReadOne(Trg("VEXIL_VERSION=" + text + "\n"), e)) << text;
        EXPECT_STREQ(e.version, expected.c_str()) << text;
    }
    ASSERT_TRUE(ReadOne(Trg(), e));
    EXPECT_STREQ(e.version, "1.10");
    EXPECT_FALSE(ReadOne(Trg("VEXIL_VERSION=1234567890\n"), e));
}

TEST_F(TrgReader, IdentityTextsAndDefaults) {
    CTargetInfo e;
    ASSERT_TRUE(ReadOne(Trg("TARGETID00=0x4F321280\nTARGETID32=  52830800H\nTARGETID64=2800ZZ\n"
                            "TARGETID96=123456789H\n"),
                        e));
    EXPECT_EQ(e.targetId00, 0x4F321280u);
    EXPECT_EQ(e.targetId32, 0x52830800u);
    EXPECT_EQ(e.targetId64, 0x2800u);
    EXPECT_EQ(e.targetId96, 0xFFFFFFFFu);  // does not fit 32 bits
    EXPECT_EQ(e.targetIdBitNum, 64u);
    EXPECT_EQ(e.edit, 1u);
    EXPECT_EQ(e.memoryType, 2u);
    EXPECT_EQ(e.brkPointVal, 2u);
    EXPECT_EQ(e.romWinStart, 0u);
    EXPECT_EQ(e.romWinEnd, 0u);
    EXPECT_EQ(e.testStart, 0u);
    EXPECT_EQ(e.areaCount, 0u);
    EXPECT_STREQ(e.name, "ONE");
}

TEST_F(TrgReader, GeometryFollowsBit30OfTheLowIdentity) {
    struct Case {
        const char* id00;
        const char* id32;
        const char* id64;
        int32_t block, size10, size13;
    };
    const Case cases[] = {
        {"1H", "0H", "0FFFFH", 16384, 512, 512},  // G 0
        {"1H", "30000H", "0H", 6144, 512, 512},   // G 3, multiplied
        {"40000000H", "30000H", "2800H", 16384, 2048, 1024},
        {"40000000H", "70000H", "0C00H", 262144, 0, 512},  // code 3 means no area
        {"40000000H", "80000H", "8000H", 8, 512, 32},      // negative exponents
        {"40000000H", "0F0000H", "0FC00H", 1024, 256, 256},
    };
    for (const Case& c : cases) {
        CTargetInfo e;
        ASSERT_TRUE(ReadOne(Trg(std::string("TARGETID00=") + c.id00 + "\nTARGETID32=" + c.id32 +
                                "\nTARGETID64=" + c.id64 + "\n"),
                            e));
        EXPECT_EQ(e.blockSize, c.block) << c.id32;
        EXPECT_EQ(e.sizeFromBits10, c.size10) << c.id64;
        EXPECT_EQ(e.sizeFromBits13, c.size13) << c.id64;
    }
}

TEST_F(TrgReader, RangesMergeAndReadOnlyRangesCut) {
    CTargetInfo e;
    const std::string adjacent = Map("MMAP", {{"SC", "0", "0FFFH"}, {"UC", "1000H", "1FFFH"}});
    ASSERT_TRUE(ReadOne(Trg("", adjacent), e));
    EXPECT_EQ(Areas(e), (Pairs{{0, 0x1FFF}}));

    ASSERT_TRUE(ReadOne(Trg("", adjacent + Map("VEXIL_READONLY_AREA", {{"", "800H", "8FFH"}})), e));
    EXPECT_EQ(Areas(e), (Pairs{{0, 0x7FF}, {0x900, 0x1FFF}}));

    // Kinds, the GMAP start limit, reversed ranges, TEST and the first ROMWIN.
    ASSERT_TRUE(ReadOne(
        Trg("",
            Map("MMAP", {{"MO", "3:0000H", "3:00FFH"},
                         {"sc", "0", "FFH"},
                         {"TEST", "5000H", "X"},
                         {"SCD", "6000H", "60FFH"},
                         {"SCT", "300H", "200H"},
                         {"TEST", "7000H", ""}}) +
                Map("GMAP", {{"SCD", "7FFFFH", "80010H"},
                             {"UCD", "80000H", "80100H"},
                             {"UCT", "0x100", "01FFH"},
                             {"TEST", "100H", "200H"}}) +
                Map("VEXIL_READONLY_AREA", {{"", "30080H", "3FFFFH"}, {"", "180H", "17FH"}}) +
                Map("PMAP",
                    {{"NONE", "1H", "2H"}, {"ROMWIN", "8000H", "0FFFFH"}, {"ROMWIN", "1H", "2H"}})),
        e));
    EXPECT_EQ(Areas(e), (Pairs{{0x100, 0x1FF}, {0x30000, 0x3007F}, {0x7FFFF, 0x80010}}));
    EXPECT_EQ(e.testStart, 0x7000u);
    EXPECT_EQ(e.romWinStart, 0x8000u);
    EXPECT_EQ(e.romWinEnd, 0xFFFFu);
}

TEST_F(TrgReader, FilesBeyondTheRecordAreSkippedWhole) {
    auto many = [](const std::string& section, const std::string& kind, int count, int step) {
        std::vector<std::vector<std::string>> rows;
        char start[16], end[16];
        for (int i = 0; i < count; ++i) {
            snprintf(start, sizeof start, "%XH", i * step);
            snprintf(end, sizeof end, "%XH", i * step + 3);
            rows.push_back({kind, start, end});
        }
        return Map(section, rows);
    };
    CTargetInfo e;
    ASSERT_TRUE(ReadOne(Trg("", many("MMAP", "SC", 256, 16)), e));
    EXPECT_EQ(e.areaCount, 256u);
    EXPECT_EQ(e.areas[255].start, 255u * 16);
    EXPECT_FALSE(ReadOne(Trg("", many("MMAP", "SC", 200, 16) + many("GMAP", "UC", 57, 16)), e));
    // 256 ranges, one cut in two.
    EXPECT_FALSE(ReadOne(
        Trg("", many("MMAP", "SC", 256, 16) + Map("VEXIL_READONLY_AREA", {{"", "1H", "1H"}})), e));
    EXPECT_FALSE(ReadOne(Trg("", many("VEXIL_READONLY_AREA", "", 257, 16)), e));
    // Only the low 16 bits of the read-only count are used.
    EXPECT_TRUE(ReadOne(Trg("", "[VEXIL_READONLY_AREA]\nNUMBER=65536\n"), e));
    EXPECT_FALSE(ReadOne(Trg("", "[MMAP]\nNUMBER=-1\n"), e));
    // The ROM window scan ends at the first ROMWIN; an absurd PMAP count only bounds it.
    const std::string romWin = "DEFAULT2=ROMWIN\nSTARTADRS2=8000H\nENDADRS2=0FFFFH\n";
    for (const char* number : {"70000", "-1"}) {
        ASSERT_TRUE(ReadOne(Trg("", std::string("[PMAP]\nNUMBER=") + number + "\n" + romWin), e))
            << number;
        EXPECT_EQ(e.romWinStart, 0x8000u) << number;
        EXPECT_EQ(e.romWinEnd, 0xFFFFu) << number;
    }
    ASSERT_TRUE(ReadOne(Trg("", "[PMAP]\nNUMBER=-1\n"), e));
    EXPECT_EQ(e.romWinStart, 0u);
}

TEST_F(TrgReader, SearchTakesTheFirstPlaceThatHasFiles) {
    const std::string toolTrg = places.Root() + "/tools/TRG/";
    for (const char* n : {"A.TRG", "B.trg", "C.Trg", "D.TRG", "E.TRG"})
        TrgPlaces::Put(places.ProgramDir(), n, Trg());
    TrgPlaces::Put(toolTrg, "REG.TRG", Trg());
    TrgPlaces::Put(places.SiblingTrgDir(), "SIBLING.TRG", Trg());
    TrgPlaces::Put(places.ProgramDir(), "NOTE.TXT", Trg());
    TrgPlaces::SetTrgPath(toolTrg);

    uint16_t found = 0;
    TrgSet set = Read(found);
    ASSERT_TRUE(set);
    EXPECT_EQ(found, 5);
    EXPECT_EQ(Names(set.get()), (std::vector<std::string>{"A", "B", "C", "D", "E"}));

    for (const char* n : {"A.TRG", "B.trg", "C.Trg", "D.TRG", "E.TRG"})
        std::remove((places.ProgramDir() + n).c_str());
    set = Read(found);
    EXPECT_EQ(Names(set.get()), std::vector<std::string>{"REG"});
    EXPECT_EQ(found, 1);

    // The tool base is the parent of the program directory; Windows separators still work.
    TrgPlaces::Put(places.Root() + "/tools/OTHER/", "BASE.TRG", Trg());
    TrgPlaces::SetTrgPath("ignored%Q7TOOLBASE%\\tools\\OTHER");
    EXPECT_EQ(Names(Read(found).get()), std::vector<std::string>{"BASE"});
    TrgPlaces::SetTrgPath("%Q7TOOLBASE%/tools/TRG/");
    EXPECT_EQ(Names(Read(found).get()), std::vector<std::string>{"REG"});
    TrgPlaces::SetTrgPath("%q7toolbase%/tools/TRG");  // not the marker: a path of its own
    EXPECT_EQ(Names(Read(found).get()), std::vector<std::string>{"SIBLING"});

    // An empty registry path, or one without TRG files, falls through to ..\TRG.
    TrgPlaces::SetTrgPath("");
    EXPECT_EQ(Names(Read(found).get()), std::vector<std::string>{"SIBLING"});
    TrgPlaces::SetTrgPath(places.Root() + "/nowhere");
    EXPECT_EQ(Names(Read(found).get()), std::vector<std::string>{"SIBLING"});

    std::remove((places.SiblingTrgDir() + "SIBLING.TRG").c_str());
    set = Read(found);
    EXPECT_FALSE(set);
    EXPECT_EQ(found, 0);
}

// The target list comes in the order the system lists a folder in: on Windows as NTFS does,
// without regard to letter case, elsewhere by the names' bytes.
TEST_F(TrgReader, FilesComeInTheSystemsListingOrder) {
    for (const char* n : {"b1.TRG", "A2.TRG", "_3.TRG"})
        TrgPlaces::Put(places.ProgramDir(), n, Trg());
    uint16_t found = 0;
#ifdef _WIN32
    EXPECT_EQ(Names(Read(found).get()), (std::vector<std::string>{"A2", "b1", "_3"}));
#else
    EXPECT_EQ(Names(Read(found).get()), (std::vector<std::string>{"A2", "_3", "b1"}));
#endif
}

#ifdef _WIN32
// A TrgPath of type REG_EXPAND_SZ names environment variables; one of type REG_SZ does not.
TEST_F(TrgReader, ExpandableRegistryPathsHaveTheirVariablesExpanded) {
    TrgPlaces::Put(places.Root() + "\\tools\\TRG\\", "REG.TRG", Trg());
    TrgPlaces::Put(places.SiblingTrgDir(), "SIBLING.TRG", Trg());
    ASSERT_EQ(::_putenv_s("QUORVEL_TEST_TOOLS", (places.Root() + "\\tools").c_str()), 0);
    uint16_t found = 0;
    TrgPlaces::SetTrgPath("%QUORVEL_TEST_TOOLS%\\TRG", plat::REG_EXPAND_SZ);
    EXPECT_EQ(Names(Read(found).get()), std::vector<std::string>{"REG"});
    TrgPlaces::SetTrgPath("%QUORVEL_TEST_TOOLS%\\TRG", plat::REG_SZ);
    EXPECT_EQ(Names(Read(found).get()), std::vector<std::string>{"SIBLING"});
    // The program's own marker wins over a variable of its name.
    ASSERT_EQ(::_putenv_s("Q7TOOLBASE", "C:\\nowhere"), 0);
    TrgPlaces::SetTrgPath("%Q7TOOLBASE%\\tools\\TRG", plat::REG_EXPAND_SZ);
    EXPECT_EQ(Names(Read(found).get()), std::vector<std::string>{"REG"});
    ::_putenv_s("Q7TOOLBASE", "");
    ::_putenv_s("QUORVEL_TEST_TOOLS", "");
}
#endif

TEST_F(TrgReader, NoRegistryKeyFallsThroughAndTheSetIsFreedOnce) {
    TrgPlaces::Put(places.SiblingTrgDir(), "ONLY.TRG", Trg());
    uint16_t found = 0;
    TRGINFO* set = ApiObj.ReadTargetInfoFile(93, found);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(found, 1);
    EXPECT_STREQ(set->entries[0].name, "ONLY");

    CTargetInfo* entries = set->entries;
    set->entries = nullptr;
    EXPECT_EQ(ApiObj.DeleteTargetInfoSet(&set), 0);  // frees nothing
    ASSERT_NE(set, nullptr);
    set->entries = entries;
    EXPECT_EQ(ApiObj.DeleteTargetInfoSet(&set), 1);
    EXPECT_EQ(set, nullptr);
    EXPECT_EQ(ApiObj.DeleteTargetInfoSet(&set), 0);
    EXPECT_EQ(ApiObj.DeleteTargetInfoSet(nullptr), 0);
}

TEST_F(TrgReader, ExampleFilesDescribeConsistentChips) {
    plat::SetModuleFileNameOverrideForTesting(QUORVEL_SOURCE_DIR "/examples/TRG/Quorvel");
    uint16_t found = 0;
    TrgSet set = Read(found);
    ASSERT_TRUE(set);
    EXPECT_GE(found, 4);
    EXPECT_EQ(set->count, found);
    bool id64 = false, id128 = false, clear30 = false, set30 = false, test = false, window = false;
    for (uint32_t i = 0; i < set->count; ++i) {
        const CTargetInfo& e = set->entries[i];
        SCOPED_TRACE(e.name);
        ASSERT_GT(e.blockSize, 0);
        EXPECT_LE(e.blockSize, 65536);
        ASSERT_GT(e.areaCount, 0u);
        // The block count as the adapter object derives it; the top area stops just below the
        // reserved test area and TEST (when given) starts right there.
        const uint32_t blocks = e.targetIdBitNum == 64
                                    ? (e.targetId32 >> 8) & 0xF
                                    : (e.targetId64 & 0xF0) | ((e.targetId32 >> 8) & 0xF);
        const uint32_t flashSize = blocks * static_cast<uint32_t>(e.blockSize);
        EXPECT_LE(flashSize, 1u << 20);
        const uint32_t top = e.areas[e.areaCount - 1].end;
        EXPECT_EQ(top + 1 + static_cast<uint32_t>(e.sizeFromBits13), flashSize);
        EXPECT_TRUE(e.testStart == 0 || e.testStart == top + 1);
        EXPECT_LE(e.romWinStart, e.romWinEnd);
        EXPECT_LE(e.romWinEnd, 0xFFFFu);
        id64 |= e.targetIdBitNum == 64;
        id128 |= e.targetIdBitNum != 64;
        clear30 |= (e.targetId00 & (1u << 30)) == 0;
        set30 |= (e.targetId00 & (1u << 30)) != 0;
        test |= e.testStart != 0;
        window |= e.romWinEnd != 0;
    }
    EXPECT_TRUE(id64 && id128 && clear30 && set30 && test && window);
}

TEST(TrgAddressText, AdrsToNumExamplesAndFailureValues) {
    CQuorvelApi api;
    struct Case {
        const char* text;
        int result;
        uint32_t value;
    };
    const Case cases[] = {
        {"0FFFFH", 1, 0xFFFF},
        {"1:2000H", 1, 0x12000},
        {"0x1000", 1, 0x1000},
        {"1000", 1, 0x1000},
        {"1:", 1, 0x10000},
        {"12G", 0, 0},
        {" 0x1fh\t", 1, 0x1F},
        {"1H:2H", 1, 0x10002},
        {"FF:FFFFFF", 1, 0x1FEFFFF},
        {"100:0", 0, 0},
        {"1:1000000", 0, 0x10000},
        {"1:2:3", 0, 0x10000},
        {"12H3", 0, 0},
        {"", 0, 0},
        {"   ", 1, 0},
        {"0X", 1, 0},
        {"1 2", 0, 0},
        {"FFFFFFFFFFFFFFFFFFFF", 0, 0},
        {":10", 1, 0x10},
        {"2:H", 1, 0x20000},
    };
    for (const Case& c : cases) {
        uint32_t value = 0xDEAD;
        EXPECT_EQ(CQuorvelApiTestAccess::AdrsToNum(api, c.text, value), c.result) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(TrgAddressText, Calc2BitShiftReadsTheCodeAsASignedExponent) {
    CQuorvelApi api;
    auto shift = [&](uint32_t v, uint8_t code, int width) {
        return CQuorvelApiTestAccess::Calc2BitShift(api, v, code, width);
    };
    EXPECT_EQ(shift(2048, 0, 4), 2048u);
    EXPECT_EQ(shift(2048, 7, 4), 262144u);
    EXPECT_EQ(shift(2048, 8, 4), 8u);
    EXPECT_EQ(shift(2048, 15, 4), 1024u);
    EXPECT_EQ(shift(512, 3, 3), 4096u);
    EXPECT_EQ(shift(512, 4, 3), 32u);
    EXPECT_EQ(shift(512, 7, 3), 256u);
    EXPECT_EQ(shift(512, 2, 2), 128u);
    EXPECT_EQ(shift(512, 0xF1, 2), 1024u);  // only the low bits count
    EXPECT_EQ(shift(512, 1, 1), 0u);
    EXPECT_EQ(shift(512, 1, 5), 0u);
}

}  // namespace
