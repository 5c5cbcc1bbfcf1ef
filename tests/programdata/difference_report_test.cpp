// Verify's difference report: the table in the log, the addresses it skips, the chunked
// comparison against a plain byte-by-byte one, and cancelling.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <random>

#include "programdata/difference_report.h"
#include "support/test_support.h"

using namespace programdata;

namespace {

constexpr char kTable[] = "\tAddress   File      Flash\r\n\t==========================\r\n";

class DifferenceReport : public ::testing::Test {
  protected:
    // Areas out of order; the test data area [0x7E00, 0x7FFF] lies inside the first one and
    // [0x8000, 0x8FFF] in none.
    void SetUp() override { UseTarget(4); }
    void UseTarget(uint8_t blockCount) {
        ComputeTargetGeometry(
            pdtest::MakeTarget({{0x9000, 0x1FFFF}, {0, 0x7FFF}}, 2, blockCount, 0, 0), geometry);
        file.Allocate(geometry.imageSize);
        flash.Allocate(geometry.imageSize);
    }
    // One comparison; text receives what it added to the log.
    bool Run(uint32_t first, uint32_t last, const ComparePump& pump = {}) {
        const std::string path = dir.path() + "/verify.log";
        std::filesystem::remove(path);
        OperationLog log(reporter);
        EXPECT_TRUE(log.OpenOperationLog(path));
        const bool same = CompareImages(geometry, file, flash, first, last, log, pump, count);
        log.CloseOperationLog();
        text = pdtest::ReadFileText(path);
        return same;
    }

    pdtest::TempDir dir;
    pdtest::RecordingReporter reporter;
    TargetGeometry geometry;
    ProgramImage file, flash;
    uint32_t count = 99;
    std::string text;
};

TEST_F(DifferenceReport, TableLinesAndRanges) {
    EXPECT_TRUE(Run(0, 0xFFFFFFFF));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(text, "") << "no table when nothing differs";

    file[0x10] = 0x12;
    flash[0x10] = 0xFF;
    EXPECT_FALSE(Run(0, 0xFFFFFFFF));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(text, std::string(kTable) + "\t00010H    12H       FFH\r\n");

    EXPECT_TRUE(Run(0x11, 0x10)) << "empty range";
    EXPECT_TRUE(Run(0x20000, 0x20000)) << "above the flash limit";
    EXPECT_EQ(text, "");
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(DifferenceReport, SkipsTheTestDataAreaAndAddressesWithoutArea) {
    for (uint32_t a : {0x7DFFu, 0x7E00u, 0x7FFFu, 0x8000u, 0x8FFFu, 0x9000u, 0x1FFFFu})
        flash[a] = 0x5A;
    EXPECT_FALSE(Run(0, 0x1FFFF));
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(text, std::string(kTable) + "\t07DFFH    00H       5AH\r\n" +
                        "\t09000H    00H       5AH\r\n\t1FFFFH    00H       5AH\r\n");

    // Without blocks there is no test data area: its addresses are compared as area bytes.
    UseTarget(0);
    flash[0x7E00] = 0x5A;
    EXPECT_FALSE(Run(0x7E00, 0x7E00));
    EXPECT_EQ(text, std::string(kTable) + "\t07E00H    00H       5AH\r\n");
}

// What every address one by one gives: the reference for the chunked comparison.
std::string ByteByByte(const TargetGeometry& g, const ProgramImage& file, const ProgramImage& flash,
                       uint32_t first, uint32_t last) {
    std::string out;
    for (uint32_t a = first; a <= std::min(last, g.flashLimit); ++a) {
        bool inArea = false;
        for (const TargetArea& area : g.areas)
            inArea = inArea || (area.start <= a && a <= area.end);
        if (!inArea || g.IsTestAreaAddress(a) || file[a] == flash[a])
            continue;
        char line[64];
        std::snprintf(line, sizeof line, "\t%05XH    %02XH       %02XH\r\n", a, file[a], flash[a]);
        out += (out.empty() ? kTable : "") + std::string(line);
    }
    return out;
}

TEST_F(DifferenceReport, ChunkedResultEqualsByteByByteAndPumpsPerChunk) {
    std::mt19937 random(3);
    for (uint32_t a = 0; a < file.size(); ++a)
        file[a] = flash[a] = uint8_t(random());
    // Single bytes and runs of differences, some across chunk and area borders.
    for (int i = 0; i < 60; ++i) {
        const uint32_t at = random() % file.size();
        const uint32_t length = i % 3 == 0 ? 1 : random() % 40;
        for (uint32_t a = at; a < std::min<uint64_t>(file.size(), uint64_t(at) + length); ++a)
            flash[a] = uint8_t(~file[a]);
    }
    for (int i = 0; i < 25; ++i) {
        uint32_t first = random() % file.size(), last = random() % (file.size() + 0x100);
        if (i == 0)
            first = 0, last = 0xFFFFFFFF;
        int pumps = 0;
        const bool same = Run(first, last, [&] { return ++pumps, false; });
        const std::string expected = ByteByByte(geometry, file, flash, first, last);
        EXPECT_EQ(text, expected) << first << ".." << last;
        EXPECT_EQ(same, expected.empty());
        const uint64_t span = first <= std::min(last, geometry.flashLimit)
                                  ? std::min(last, geometry.flashLimit) - first + 1
                                  : 0;
        EXPECT_EQ(uint64_t(pumps), (span + kCompareChunk - 1) / kCompareChunk) << first;
    }
}

TEST_F(DifferenceReport, CancelStopsAndAnswersTrue) {
    flash[0x10] = 1;
    flash[0x1010] = 1;
    int pumps = 0;
    EXPECT_TRUE(Run(0, 0x1FFFF, [&] { return ++pumps == 2; }));
    EXPECT_EQ(pumps, 2);
    EXPECT_EQ(count, 1u) << "the first chunk's difference is listed, the rest never compared";
    EXPECT_EQ(text, std::string(kTable) + "\t00010H    00H       01H\r\n");
    EXPECT_TRUE(Run(0, 0x1FFFF, [] { return true; }));
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(text, "");
}

}  // namespace
