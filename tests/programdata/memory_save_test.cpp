// Save Memory's HEX file: record layout, what srec_cat reads back, and failed saves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "programdata/memory_save.h"
#include "support/test_support.h"

using namespace programdata;

namespace {

// 8 KiB blocks; with blocks, a 512-byte test data area below the top of the last one.
TargetGeometry Geometry(const std::vector<TargetArea>& areas, uint8_t blocks = 0) {
    TargetGeometry g;
    ComputeTargetGeometry(pdtest::MakeTarget(areas, 2, blocks, 0, 0), g);
    return g;
}

std::vector<std::string> Lines(const TargetGeometry& g) {
    const std::vector<uint8_t> packed(g.packedSize, 0x42);
    const std::string text = FormatMemoryHex(g, packed.data(), g.packedSize);
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

TEST(MemorySaveRecords, AreasBanksAndRecordBoundaries) {
    auto lines = Lines(Geometry({{0, 0x7FFF}}));
    ASSERT_EQ(lines.size(), 2049u) << "2048 records of 16 bytes, no segment record";
    EXPECT_EQ(lines[0].substr(0, 9), ":10000000");
    EXPECT_EQ(lines[2048], ":00000001FF");
    lines = Lines(Geometry({{0x10000, 0x1FFFF}}));
    ASSERT_EQ(lines.size(), 4098u);
    EXPECT_EQ(lines[0], ":020000021000EC");
    EXPECT_EQ(lines[4096].substr(0, 9), ":10FFF000");

    // Records stop at 16-byte boundaries, so an end at 0x1000 leaves one byte. Above 1 MiB a
    // linear record takes over from a segment record set back to 0 (readers add the two).
    EXPECT_EQ(Lines(Geometry({{0x0FF5, 0x1000}, {0x1FFFC, 0x20003}, {0xFFFFE, 0x100001}})),
              (std::vector<std::string>{":0B0FF50042424242424242424242421B", ":0110000042AD",
                                        ":020000021000EC", ":04FFFC0042424242F9", ":020000022000DC",
                                        ":0400000042424242F4", ":02000002F0000C", ":02FFFE0042427D",
                                        ":020000020000FC", ":020000040010EA", ":0200000042427A",
                                        ":00000001FF"}));
    // Content shorter than the areas is never read past.
    const std::vector<uint8_t> three(3, 0x42);
    EXPECT_EQ(FormatMemoryHex(Geometry({{0, 0x7FFF}}), three.data(), 3),
              ":0300000042424237\r\n:00000001FF\r\n");
}

// The test data area follows the anchor's area in the packed content and is left out; the
// areas after it keep their addresses, one of them with the same low 16 bits at its end.
TEST(MemorySaveFile, SrecCatReadsEveryAreaBackAndNeverTheTestArea) {
    const TargetGeometry g = Geometry({{5, 0x7DFF}, {0x10000, 0x17DFF}, {0xFFF00, 0x1000FF}}, 4);
    ASSERT_EQ(g.anchorArea(), 0);
    std::vector<uint8_t> image(0x100100, 0), packed;
    std::mt19937 random(11);
    for (const TargetArea& a : g.areas) {
        for (uint32_t x = a.start; x <= a.end; ++x)
            packed.push_back(image[x] = uint8_t(random() | 1));  // never 0, as holes read
        if (g.holdsAnchor(a))
            packed.insert(packed.end(), g.testAreaSize, 0xA5);
    }
    ASSERT_EQ(packed.size(), g.packedSize);
    pdtest::TempDir dir;
    const std::string hex = dir.Write("out.hex", "old\n"), bin = dir.path() + "/out.bin";
    pdtest::RecordingReporter reporter;
    ASSERT_TRUE(SaveMemoryHexFile(hex, g, packed.data(), g.packedSize, reporter));
    EXPECT_TRUE(reporter.messages.empty());
    ASSERT_EQ(std::system(("srec_cat " + hex + " -Intel -o " + bin + " -Binary").c_str()), 0);
    EXPECT_TRUE(pdtest::ReadFileText(bin) == std::string(image.begin(), image.end()));
}

TEST(MemorySaveFile, FailuresLeaveNoFileAndKeepTheOldOne) {
    const TargetGeometry g = Geometry({{0, 0x7FFF}});
    const std::vector<uint8_t> packed(g.packedSize, 0x42);
    pdtest::TempDir dir;
    pdtest::RecordingReporter reporter;
    auto save = [&](const std::string& path) {
        return SaveMemoryHexFile(path, g, packed.data(), g.packedSize, reporter);
    };
    EXPECT_FALSE(save(dir.path() + "/missing/out.hex"));
    EXPECT_FALSE(save(dir.path()));
    // Writes past a file size limit fail as on a full disk, for root too.
    const std::string old = dir.Write("old.hex", "old content\r\n");
    auto previous = signal(SIGXFSZ, SIG_IGN);
    rlimit saved{}, small{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    small = {4096, saved.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool replaced = save(old), created = save(dir.path() + "/new.hex");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_FALSE(replaced || created);
    EXPECT_EQ(reporter.ids(), (std::vector<int>{2058, 2058, 2059, 2059}));
    EXPECT_EQ(pdtest::ReadFileText(old), "old content\r\n");
    auto entries = std::filesystem::directory_iterator(dir.path());
    EXPECT_EQ(std::distance(begin(entries), end(entries)), 1) << "no partial or temporary file";
}

}  // namespace
