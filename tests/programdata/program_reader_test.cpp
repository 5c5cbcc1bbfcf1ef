#include "programdata/program_reader.h"

#include <gtest/gtest.h>

#include <memory>

#include "support/test_support.h"

using namespace programdata;
using pdtest::HexRecord;
using pdtest::SRecord;

namespace {

class ReaderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ComputeTargetGeometry(pdtest::MakeTarget({{0, 0x7FFF}}), geometry),
                  GeometryVerdict::Supported);
        image.Allocate(geometry.imageSize);
        image.Fill(0xFF);
    }

    // The text lives in a heap block of exactly its size, so a read past its end is caught by
    // the address sanitizer.
    ReadResult Read(const std::string& text, int32_t offset = 0) {
        auto copy = std::make_unique<char[]>(text.size() + (text.empty() ? 1 : 0));
        std::copy(text.begin(), text.end(), copy.get());
        return ReadProgramText(std::string_view(copy.get(), text.size()), "f.hex", offset, geometry,
                               image, reporter);
    }

    TargetGeometry geometry;
    ProgramImage image;
    pdtest::RecordingReporter reporter;
};

const std::string kEnd = ":00000001FF\n";

TEST_F(ReaderTest, HexEndRecordIsComparedIgnoringCaseButExactlyOtherwise) {
    EXPECT_TRUE(Read(HexRecord(0, 0, {1}) + ":00000001ff\n").ok);
    EXPECT_TRUE(reporter.messages.empty());

    ReadResult r = Read(HexRecord(0, 0, {1}) + ":00000001FF  \n");
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_HEX_ILLEGAL_END_RECORD});
    EXPECT_EQ(reporter.messages[0].fileName, "f.hex");

    // Lines after the end record are never read, not even a broken one.
    reporter.Clear();
    EXPECT_TRUE(Read(HexRecord(0, 0, {1}) + kEnd + ":zz\n" + HexRecord(0, 0, {2})).ok);
    EXPECT_EQ(image[0], 1);
    EXPECT_TRUE(reporter.messages.empty());

    // Windows line ends read the same.
    EXPECT_TRUE(Read(":0100000001FE\r\n:00000001FF\r\n").ok);
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(ReaderTest, MissingOrMisplacedTerminationRecords) {
    EXPECT_FALSE(Read(HexRecord(0, 0, {1})).ok);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_NO_END_RECORD});

    reporter.Clear();
    EXPECT_FALSE(Read(SRecord(1, 0, {1})).ok);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_NO_END_RECORD});

    reporter.Clear();
    EXPECT_FALSE(Read(SRecord(2, 0, {1}) + SRecord(9, 0, {})).ok);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_S_INVALID_END_RECORD});

    // Each kind is closed by its own record, in any order.
    reporter.Clear();
    EXPECT_TRUE(Read(SRecord(3, 0x10, {3}) + SRecord(2, 0x20, {2}) + SRecord(1, 0x30, {1}) +
                     SRecord(9, 0, {}) + SRecord(8, 0, {}) + SRecord(7, 0, {}))
                    .ok);
    EXPECT_TRUE(reporter.messages.empty());
    EXPECT_EQ(image[0x10], 3);
    EXPECT_EQ(image[0x20], 2);
    EXPECT_EQ(image[0x30], 1);
}

TEST_F(ReaderTest, SeveralSGroupsAreReadAndEachNeedsItsTermination) {
    std::string groups = SRecord(0, 0, {'h', 'd', 'r'}) + SRecord(1, 0x100, {0xAA}) +
                         SRecord(9, 0, {}) + SRecord(5, 1, {}) + SRecord(1, 0x200, {0xBB}) +
                         SRecord(9, 0, {});
    ReadResult r = Read(groups);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(image[0x100], 0xAA);
    EXPECT_EQ(image[0x200], 0xBB);
    EXPECT_EQ(r.lowestAddress, 0x100u);
    EXPECT_EQ(r.highestAddress, 0x200u);

    EXPECT_FALSE(Read(groups + SRecord(1, 0x300, {0xCC})).ok);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_NO_END_RECORD});
    EXPECT_EQ(image[0x300], 0xCC);  // read before the end checks failed
}

TEST_F(ReaderTest, FileKindIsFixedByTheFirstRecordAndOnlyUpperCaseSCounts) {
    ReadResult r = Read(HexRecord(0, 0, {7}) + SRecord(1, 4, {8}) + kEnd);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_ILLEGAL_FORMAT});
    EXPECT_EQ(image[0], 7);
    EXPECT_EQ(image[4], 0xFF);

    reporter.Clear();
    EXPECT_FALSE(Read(SRecord(1, 0, {1}) + HexRecord(0, 0, {1})).ok);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_ILLEGAL_FORMAT});

    // Lines that are neither are skipped: lower-case 's', leading blanks, comments, empty.
    reporter.Clear();
    image.Fill(0xFF);
    EXPECT_TRUE(
        Read("s1 not a record\n ;comment\n\n  :0100000001FE\n" + HexRecord(0, 1, {2}) + kEnd).ok);
    EXPECT_TRUE(reporter.messages.empty());
    EXPECT_EQ(image[0], 0xFF);
    EXPECT_EQ(image[1], 2);
}

TEST_F(ReaderTest, RecordTypesAndChecksums) {
    for (uint8_t type : {0x03, 0x05, 0x06}) {
        reporter.Clear();
        EXPECT_FALSE(Read(HexRecord(type, 0, {0, 0, 0, 0}) + kEnd).ok);
        EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_ILLEGAL_FORMAT}) << int(type);
    }
    for (const char* line : {"S4030000FC\n", "S6030000FC\n", "SX030000FC\n", "S\n", "S"}) {
        reporter.Clear();
        EXPECT_FALSE(Read(line).ok);
        EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_ILLEGAL_FORMAT}) << line;
    }

    reporter.Clear();
    EXPECT_FALSE(Read(":0100000001FF\n" + kEnd).ok);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_HEX_CHECKSUM_ERROR});

    // S checksums cover S0 and S5 too; a line shorter than three characters always fails.
    for (const char* line : {"S0030000FB\n", "S5030000FB\n", "S1\n", "S9\n"}) {
        reporter.Clear();
        EXPECT_FALSE(Read(line).ok);
        EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_S_CHECKSUM_ERROR}) << line;
    }
}

TEST_F(ReaderTest, ExtendedAddressesAddUpAndRecordsContinueLinearly) {
    ASSERT_EQ(ComputeTargetGeometry(pdtest::MakeTarget({{0, 0x3FFFF}}), geometry),
              GeometryVerdict::Supported);
    image.Allocate(geometry.imageSize);
    // Linear 0x10000 plus segment 0x1000 * 16 = 0x20000; neither resets the other.
    std::string text = HexRecord(4, 0, {0x00, 0x01}) + HexRecord(2, 0, {0x10, 0x00}) +
                       HexRecord(0, 0x0010, {0x11}) + HexRecord(4, 0, {0x00, 0x00}) +
                       HexRecord(0, 0x0020, {0x22}) + HexRecord(2, 0, {0x00, 0x00}) +
                       HexRecord(0, 0xFFFE, {1, 2, 3, 4}) + kEnd;
    ReadResult r = Read(text);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(image[0x20010], 0x11);
    EXPECT_EQ(image[0x10020], 0x22);
    // 0xFFFE..0x10001: no wrap back to the start of the segment.
    EXPECT_EQ(image[0xFFFE], 1);
    EXPECT_EQ(image[0x10000], 3);
    EXPECT_EQ(image[0x10001], 4);
    EXPECT_EQ(image[0x0000], 0);
    EXPECT_EQ(r.lowestAddress, 0xFFFEu);
    EXPECT_EQ(r.highestAddress, 0x20010u);
}

TEST_F(ReaderTest, OffsetPlacesDataAndTheFlashLimitDropsButCounts) {
    ReadResult r =
        Read(HexRecord(0, 0x100, {0xAB}) + HexRecord(0, 0x7FFE, {1, 2, 3, 4}) + kEnd, -0x100);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(image[0], 0xAB);
    EXPECT_EQ(image[0x7EFE], 1);
    EXPECT_EQ(r.lowestAddress, 0x100u);  // on file, offset not applied
    EXPECT_EQ(r.highestAddress, 0x7F01u);

    image.Fill(0xFF);
    r = Read(HexRecord(0, 0x7FFE, {1, 2, 3, 4}) + kEnd);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(image[0x7FFF], 2);
    EXPECT_EQ(r.highestAddress, 0x8001u);  // dropped bytes still count
    EXPECT_EQ(image.size(), 0x8000u);

    // 32-bit arithmetic wraps: a record at the top of the address space continues at 0.
    image.Fill(0xFF);
    r = Read(SRecord(3, 0xFFFFFFFE, {9, 8, 7}) + SRecord(7, 0, {}));
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(image[0], 7);
    EXPECT_EQ(r.highestAddress, 0xFFFFFFFFu);
}

TEST_F(ReaderTest, NoDataRecordGives2012Once) {
    for (const std::string& text : {std::string(), std::string("; comment\n# more\n\n"), kEnd,
                                    SRecord(0, 0, {'x'}) + SRecord(5, 0, {})}) {
        reporter.Clear();
        EXPECT_FALSE(Read(text).ok);
        EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_NO_DATA_RECORD}) << text;
    }
    // A data record of count 0 is a data record.
    reporter.Clear();
    ReadResult r = Read(HexRecord(0, 0x40, {}) + kEnd);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lowestAddress, 0x40u);
    EXPECT_EQ(r.highestAddress, 0u);
}

TEST_F(ReaderTest, ShortLinesReadAsIfPaddedWithZeroDigits) {
    // Count 4, but the line ends after one data byte and the checksum byte: the bytes past
    // the end are 0, and nothing beyond the line is read.
    ReadResult r = Read(":0400000011EB\n" + kEnd);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(image[0], 0x11);
    EXPECT_EQ(image[1], 0xEB);
    EXPECT_EQ(image[2], 0x00);
    EXPECT_EQ(image[3], 0x00);
    EXPECT_EQ(r.highestAddress, 3u);

    // An S line of odd length: its last checksum byte takes a 0 as its low digit.
    r = Read("S103000CF\nS9030000FC");
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.lowestAddress, 0xCu);
    // Non-hexadecimal characters count as 0 (and usually fail the checksum).
    image.Fill(0xFF);
    EXPECT_TRUE(Read(":01000000zzFF\n" + kEnd).ok);
    EXPECT_EQ(image[0], 0x00);
    EXPECT_TRUE(reporter.messages.empty());
}

TEST_F(ReaderTest, ChecksAndMarksWalkTheSameRecords) {
    ASSERT_EQ(ComputeTargetGeometry(pdtest::MakeTarget({{0, 0x0FFF}, {0x2000, 0x2FFF}}, 0, 2, 0, 0),
                                    geometry),
              GeometryVerdict::Supported);
    // Test area of 512 bytes at the top of block 2: [0xE00, 0xFFF] sits in the first area.
    ASSERT_TRUE(geometry.hasTestArea());
    std::string text = HexRecord(0, 0x0F00, {1, 2}) + HexRecord(0, 0x1FFF, {3, 4}) + kEnd;
    AddressFlags f = CheckProgramTextAddresses(text, "f", 0, geometry, reporter);
    EXPECT_TRUE(f.ok);
    EXPECT_TRUE(f.noFlash);   // 0x1FFF lies in the gap
    EXPECT_TRUE(f.testArea);  // 0xF00 lies in the test data area
    f = CheckProgramTextAddresses(text, "f", 1, geometry, reporter);
    EXPECT_FALSE(f.noFlash);
    f = CheckProgramTextAddresses(text, "f", 0x1000, geometry, reporter);
    EXPECT_FALSE(f.testArea);

    std::vector<uint8_t> map(0x3000, 0);
    // Only file addresses in [start, end] are marked, and only up to the map limit.
    EXPECT_EQ(MarkProgramTextAddresses(text, "f", 0x0F01, 0x1FFF, 0, 0x1FFF, map, reporter),
              MarkResult::Marked);
    EXPECT_EQ(map[0xF00], 0);
    EXPECT_EQ(map[0xF01], 1);
    EXPECT_EQ(map[0x1FFF], 1);
    EXPECT_EQ(map[0x2000], 0);
    EXPECT_EQ(MarkProgramTextAddresses(text, "f", 0, 0xFFFF, 0, 0x2FFF, map, reporter),
              MarkResult::Collision);
    EXPECT_EQ(MarkProgramTextAddresses(":0100000001FF\n", "f", 0, 0xFFFF, 0, 0x2FFF, map, reporter),
              MarkResult::Failed);
    EXPECT_EQ(reporter.ids(), std::vector<int>{IDS_HEX_CHECKSUM_ERROR});
}

}  // namespace
