// Base fill, flash content, checksum.
#include <gtest/gtest.h>

#include "programdata/program_data.h"
#include "support/fake_flat_api.h"
#include "support/test_support.h"

using namespace programdata;
using pdtest::HexRecord;

namespace {

const std::string kEnd = ":00000001FF\n";

TEST(Checksum, EmptyListIsBlankAndTheSingleByteExampleSumsTheArea) {
    pdtest::RecordingReporter reporter;
    pdtest::TempDir dir;
    ProgramData data(reporter);
    ASSERT_TRUE(data.SetTargetGeometry(pdtest::MakeTarget({{0, 0x7FFF}})));
    data.UpdateChecksumField();
    EXPECT_EQ(data.checksumText(), "");
    EXPECT_EQ(data.checksumValue(), 0u);

    ASSERT_TRUE(data.AddProgramFile(dir.Write("a.hex", HexRecord(0, 0, {0x12}) + kEnd), 0).ok);
    data.UpdateChecksumField();
    EXPECT_EQ(data.checksumValue(), 8355603u);
    EXPECT_EQ(data.checksumText(), "00007F7F13");
    EXPECT_TRUE(reporter.messages.empty());

    // Deleting the last row empties the field again.
    ASSERT_TRUE(data.DeleteProgramFile(0));
    data.UpdateChecksumField();
    EXPECT_EQ(data.checksumText(), "");
}

TEST(Checksum, OnlyAreaBytesCountAndTheTestAreaAddsAFixedAmount) {
    pdtest::RecordingReporter reporter;
    pdtest::TempDir dir;
    ProgramData data(reporter);
    // Two blocks of 2048 bytes with a 512-byte test data area at [0xE00, 0xFFF].
    ASSERT_TRUE(
        data.SetTargetGeometry(pdtest::MakeTarget({{0, 0xDFF}, {0x2000, 0x20FF}}, 0, 2, 0, 0)));
    const uint32_t erased = (0xE00 + 0x100) * 0xFF;

    // Bytes outside the areas (0x1800) never count.
    ASSERT_TRUE(data.AddProgramFile(dir.Write("out.hex", HexRecord(0, 0x1800, {0}) + kEnd), 0).ok);
    data.UpdateChecksumField();
    EXPECT_EQ(data.checksumValue(), erased);

    // A file in the test data area adds 512 * 0xFF whatever it holds there.
    for (uint8_t value : {0x00, 0x55}) {
        std::string name = "test" + std::to_string(value) + ".hex";
        AddFileResult added =
            data.AddProgramFile(dir.Write(name, HexRecord(0, 0xE00, {value}) + kEnd), 0);
        ASSERT_TRUE(added.ok);
        EXPECT_TRUE(added.warning);
        data.UpdateChecksumField();
        EXPECT_EQ(data.checksumValue(), erased + 512 * 0xFF);
        data.DeleteProgramFile(1);
    }
    EXPECT_EQ(data.ComputeImageChecksum(data.checksumImage(), false), erased);
}

class FlashFill : public ::testing::Test {
  protected:
    void SetUp() override {
        // Blocks of 2048, three of them: test data area [0x1600, 0x17FF], anchor 0x15F0 in
        // the second area, which ends right below the test data area.
        ASSERT_TRUE(data.SetTargetGeometry(
            pdtest::MakeTarget({{0, 0xFF}, {0x1000, 0x15FF}, {0x2000, 0x20FF}}, 0, 3, 0, 0)));
        ASSERT_EQ(data.geometry().testAreaAnchor, 0x15F0u);
        ASSERT_EQ(data.packedSize(), 0x100u + 0x600 + 0x200 + 0x100);
        fakeapi::FakeFlatApi& f = fakeapi::Connect(3);
        f.targets[0].enableFlg = 0;
        // The library may deliver up to one block more than asked for.
        for (uint32_t i = 0; i < data.packedSize() + 2048; ++i)
            f.targets[1].flash.push_back(uint8_t(i * 7 + 1));
        f.targets[2].flash.assign(data.packedSize(), 0xEE);
        data.SetFillType(kFillFlashContent);
    }

    uint8_t Packed(uint32_t k) { return uint8_t(k * 7 + 1); }

    pdtest::RecordingReporter reporter;
    ProgramData data{reporter};
};

TEST_F(FlashFill, FirstEnabledTargetIsUnpackedAreaByAreaWithTheTestAreaAfterTheAnchor) {
    ProgramImage& image = data.writeImage();
    image.Fill(0x77);
    data.PrepareBaseImage(image);
    EXPECT_EQ(fakeapi::Fake().lastReadTarget, 2);
    EXPECT_EQ(fakeapi::Fake().lastReadSize, data.packedSize());
    EXPECT_EQ(image[0], Packed(0));
    EXPECT_EQ(image[0xFF], Packed(0xFF));
    EXPECT_EQ(image[0x100], 0x77);  // outside the areas: kept
    EXPECT_EQ(image[0x1000], Packed(0x100));
    EXPECT_EQ(image[0x15FF], Packed(0x6FF));
    EXPECT_EQ(image[0x1600], Packed(0x700));  // test data area follows the anchor's area
    EXPECT_EQ(image[0x17FF], Packed(0x8FF));
    EXPECT_EQ(image[0x2000], Packed(0x900));
    EXPECT_EQ(image[0x20FF], Packed(0x9FF));
    EXPECT_EQ(image[0x2100], 0x77);

    // A short packed length stops the copy there.
    image.Fill(0x77);
    std::vector<uint8_t> packed(0x180, 0x5A);
    data.UnpackFlashContent(packed.data(), uint32_t(packed.size()), image);
    EXPECT_EQ(image[0], 0x5A);
    EXPECT_EQ(image[0x107F], 0x5A);
    EXPECT_EQ(image[0x1080], 0x77);
    EXPECT_EQ(image[0x2000], 0x77);
}

TEST_F(FlashFill, AnyFailedOrMissingReadFallsBackToErased) {
    ProgramImage& image = data.writeImage();
    auto allErased = [&image] {
        for (uint32_t a = 0; a < image.size(); ++a)
            if (image[a] != 0xFF)
                return false;
        return true;
    };
    fakeapi::FakeFlatApi& f = fakeapi::Fake();

    f.targets[1].statusAfterRead = 0x4001;
    image.Fill(0);
    data.PrepareBaseImage(image);
    EXPECT_TRUE(allErased());

    // Not plugged: the read is refused, delivers nothing and leaves the status at 0.
    f.targets[1].status = 0;
    f.targets[1].statusAfterRead = 0;
    f.targets[1].plugStatus = fakeapi::kPlugNone;
    image.Fill(0);
    data.PrepareBaseImage(image);
    EXPECT_TRUE(allErased());

    f.targets[1].enableFlg = 0;
    f.targets[2].enableFlg = 0;
    int reads = f.flashReads;
    image.Fill(0);
    data.PrepareBaseImage(image);
    EXPECT_TRUE(allErased());
    EXPECT_EQ(f.flashReads, reads);

    fakeapi::Reset();
    image.Fill(0);
    data.PrepareBaseImage(image);
    EXPECT_TRUE(allErased());
}

TEST_F(FlashFill, ChecksumIsTakenOverTheFlashContentWithTheFilesOnTop) {
    pdtest::TempDir dir;
    ASSERT_TRUE(data.AddProgramFile(dir.Write("a.hex", HexRecord(0, 0x10, {0}) + kEnd), 0).ok);
    data.UpdateChecksumField();
    uint32_t expected = 0;
    for (uint32_t k = 0; k < 0x100; ++k)
        expected += k == 0x10 ? 0 : Packed(k);
    for (uint32_t k = 0x100; k < 0x700; ++k)
        expected += Packed(k);
    for (uint32_t k = 0x900; k < 0xA00; ++k)
        expected += Packed(k);
    EXPECT_EQ(data.checksumValue(), expected);
}

}  // namespace
