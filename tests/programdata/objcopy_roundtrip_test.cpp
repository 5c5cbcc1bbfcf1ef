// Files written by objcopy from a binary read back into exactly the binary's bytes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <random>

#include "platform/locked_file.h"
#include "programdata/program_data.h"
#include "support/test_support.h"

using namespace programdata;

namespace {

struct Format {
    const char* name;
    const char* options;
};

TEST(ObjcopyFiles, ReadIntoTheBinaryAtItsAddress) {
    ASSERT_EQ(std::system("objcopy --version > /dev/null 2>&1"), 0) << "objcopy is missing";
    pdtest::TempDir dir;
    std::vector<uint8_t> binary(5000);
    std::mt19937 random(7);
    for (uint8_t& b : binary)
        b = uint8_t(random());
    const std::string bin = dir.Write("in.bin", binary);

    pdtest::RecordingReporter reporter;
    ProgramData data(reporter);
    ASSERT_TRUE(data.SetTargetGeometry(pdtest::MakeTarget({{0, 0x1FFFFF}})));
    const Format formats[] = {
        {"ihex", "-O ihex"}, {"srec", "-O srec"}, {"srec3", "-O srec --srec-forceS3"}};
    // Offsets cross a 64 KiB boundary inside the data and need segment, linear, S2 and S3
    // addresses.
    for (uint32_t offset : {0x0u, 0x1234u, 0xFFF0u, 0x12345u, 0x123456u}) {
        for (const Format& f : formats) {
            std::string out = dir.path() + "/out." + f.name;
            char command[512];
            std::snprintf(command, sizeof command,
                          "objcopy -I binary %s --change-section-address .data+0x%X %s %s",
                          f.options, offset, bin.c_str(), out.c_str());
            ASSERT_EQ(std::system(command), 0) << command;

            ProgramImage& image = data.writeImage();
            image.Fill(0xFF);
            plat::LockedFile file;
            ASSERT_TRUE(file.Open(out));
            ReadResult r;
            ASSERT_TRUE(data.ReadProgramFile(file, out, 0, image, r)) << command;
            EXPECT_TRUE(reporter.messages.empty()) << command;
            EXPECT_EQ(r.lowestAddress, offset) << command;
            EXPECT_EQ(r.highestAddress, offset + binary.size() - 1) << command;
            EXPECT_TRUE(std::equal(binary.begin(), binary.end(), image.data() + offset)) << command;
            EXPECT_EQ(image[offset - 1 + (offset == 0 ? 1 + binary.size() : 0)], 0xFF) << command;
            EXPECT_EQ(image[offset + uint32_t(binary.size())], 0xFF) << command;
        }
    }
}

}  // namespace
