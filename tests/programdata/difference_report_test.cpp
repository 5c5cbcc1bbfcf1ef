// Verify's difference report: the table in the log, the addresses it skips, cancelling, and
// the chunked comparison against a byte-by-byte one.
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
    // Areas out of order; the test data area [0x7E00, 0x7FFF] lies inside the second one and
    // [0x8000, 0x8FFF] in none.
    void SetUp() override { UseTarget(4); }
    void UseTarget(uint8_t blocks) {
        ComputeTargetGeometry(pdtest::MakeTarget({{0x9000, 0x1FFFF}, {0, 0x7FFF}}, 2, blocks, 0, 0),
                              geometry);
        file.Allocate(geometry.imageSize);
        flash.Allocate(geometry.imageSize);
    }
    // One comparison into a fresh log; text receives the log.
    bool Run(uint32_t first, uint32_t last, const ComparePump& pump = {}) {
        std::filesystem::remove(dir.path() + "/v.log");
        OperationLog log(reporter);
        EXPECT_TRUE(log.OpenOperationLog(dir.path() + "/v.log"));
        const bool same = CompareImages(geometry, file, flash, first, last, log, pump, count);
        log.CloseOperationLog();
        text = pdtest::ReadFileText(dir.path() + "/v.log");
        return same;
    }
    pdtest::TempDir dir;
    pdtest::RecordingReporter reporter;
    TargetGeometry geometry;
    ProgramImage file, flash;
    uint32_t count = 99;
    std::string text;
};

TEST_F(DifferenceReport, TableLinesSkippedAddressesAndCancel) {
    EXPECT_TRUE(Run(0, 0xFFFFFFFF));
    EXPECT_EQ(text + std::to_string(count), "0") << "no table when nothing differs";
    file[0x10] = 0x12;
    flash[0x10] = 0xFF;
    EXPECT_FALSE(Run(0, 0xFFFFFFFF));
    EXPECT_EQ(text + std::to_string(count), kTable + std::string("\t00010H    12H       FFH\r\n1"));
    EXPECT_TRUE(Run(0x11, 0x10) && Run(0x20000, 0x20000)) << "empty, above the flash limit";

    for (uint32_t a : {0x7DFFu, 0x7E00u, 0x7FFFu, 0x8000u, 0x8FFFu, 0x9000u, 0x1FFFFu})
        flash[a] = 0x5A;
    EXPECT_FALSE(Run(0x11, 0x1FFFF));
    EXPECT_EQ(text, std::string(kTable) + "\t07DFFH    00H       5AH\r\n" +
                        "\t09000H    00H       5AH\r\n\t1FFFFH    00H       5AH\r\n");
    UseTarget(0);  // no blocks, no test data area
    flash[0x7E00] = flash[0x9000] = 0x5A;
    EXPECT_FALSE(Run(0x7E00, 0x7E00));
    EXPECT_TRUE(reporter.messages.empty());

    // A cancel seen at the second pump: the first chunk's lines stay, the rest is never read.
    int pumps = 0;
    EXPECT_TRUE(Run(0x7E00, 0x9000, [&] { return ++pumps == 2; }));
    EXPECT_EQ(text + std::to_string(count), kTable + std::string("\t07E00H    00H       5AH\r\n1"));
    EXPECT_TRUE(Run(0x7E00, 0x9000, [] { return true; }));
    EXPECT_EQ(text + std::to_string(count), "0");
}

TEST_F(DifferenceReport, ChunkedResultEqualsByteByByteAndPumpsPerChunk) {
    std::mt19937 random(3);
    for (uint32_t a = 0; a < file.size(); ++a)
        file[a] = flash[a] = uint8_t(random());
    for (int i = 0; i < 60; ++i)  // single bytes and runs, some across chunk and area borders
        for (uint32_t a = random() % file.size(), n = i % 3 ? random() % 40 : 1; n-- > 0; ++a)
            flash[a % file.size()] = uint8_t(~file[a % file.size()]);
    for (int i = 0; i < 25; ++i) {
        const uint32_t first = i ? random() % file.size() : 0;
        const uint32_t last = i ? random() % (file.size() + 0x100) : 0xFFFFFFFF;
        const uint32_t end = std::min(last, geometry.flashLimit);
        std::string expected;
        for (uint32_t a = first; a <= end; ++a) {
            if (geometry.IsFlashAddress(a) && !geometry.IsTestAreaAddress(a) &&
                file[a] != flash[a]) {
                char line[64];
                std::snprintf(line, sizeof line, "\t%05XH    %02XH       %02XH\r\n", a, file[a],
                              flash[a]);
                expected += (expected.empty() ? kTable : "") + std::string(line);
            }
        }
        int pumps = 0;
        EXPECT_EQ(Run(first, last, [&] { return ++pumps, false; }), expected.empty());
        EXPECT_EQ(text, expected) << first << ".." << last;
        EXPECT_EQ(pumps, first <= end ? (end - first) / kCompareChunk + 1 : 0) << first;
    }
}

}  // namespace
