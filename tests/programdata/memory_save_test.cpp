// Save Memory's HEX file: record layout, what other tools read back, and failed saves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <random>

#include "platform/locked_file.h"
#include "programdata/memory_save.h"
#include "programdata/program_data.h"
#include "support/test_support.h"

using namespace programdata;
namespace fs = std::filesystem;

namespace {

TargetGeometry Geometry(const CTargetInfo& target) {
    TargetGeometry g;
    ComputeTargetGeometry(target, g);
    return g;
}

// The lines of a saved text; each must be upper-case hex, end in CR LF and sum to 0.
std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    for (size_t at = 0, end; at < text.size(); at = end + 2) {
        end = text.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "every line ends in CR LF";
        const std::string line = text.substr(at, end - at);
        EXPECT_EQ(line.find_first_not_of("0123456789ABCDEF", 1), std::string::npos) << line;
        unsigned sum = 0;
        for (size_t i = 1; i + 1 < line.size(); i += 2)
            sum += unsigned(std::stoul(line.substr(i, 2), nullptr, 16));
        EXPECT_EQ(sum % 256, 0u) << line;
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> Saved(const std::vector<TargetArea>& areas, uint8_t fill = 0x42) {
    const TargetGeometry g = Geometry(pdtest::MakeTarget(areas));
    const std::vector<uint8_t> packed(g.packedSize, fill);
    return Lines(FormatMemoryHex(g, packed.data(), g.packedSize));
}

TEST(MemorySaveRecords, AreasBanksAndRecordBoundaries) {
    auto lines = Saved({{0, 0x7FFF}});
    ASSERT_EQ(lines.size(), 2049u) << "2048 records of 16 bytes, no segment record";
    EXPECT_EQ(lines[0].substr(0, 9), ":10000000");
    EXPECT_EQ(lines[2047].substr(0, 9), ":107FF000");
    EXPECT_EQ(lines[2048], ":00000001FF");

    lines = Saved({{0x10000, 0x1FFFF}});
    ASSERT_EQ(lines.size(), 4098u);
    EXPECT_EQ(lines[0], ":020000021000EC");
    EXPECT_EQ(lines[1].substr(0, 9), ":10000000");
    EXPECT_EQ(lines[4096].substr(0, 9), ":10FFF000");

    // Records stop at every 16-byte boundary; an end at 0x1000 leaves one byte. Segment
    // records name banks up to 15; above 1 MiB a linear record takes over from a cleared one.
    lines = Saved({{0x0FF5, 0x1000}, {0x1FFFC, 0x20003}, {0xFFFFE, 0x100001}});
    EXPECT_EQ(lines, (std::vector<std::string>{
                         ":0B0FF50042424242424242424242421B", ":0110000042AD", ":020000021000EC",
                         ":04FFFC0042424242F9", ":020000022000DC", ":0400000042424242F4",
                         ":02000002F0000C", ":02FFFE0042427D", ":020000020000FC", ":020000040010EA",
                         ":0200000042427A", ":00000001FF"}));

    // Content shorter than the areas: records stop where it ends.
    const std::vector<uint8_t> three(3, 0x42);
    EXPECT_EQ(FormatMemoryHex(Geometry(pdtest::MakeTarget({{0, 0x7FFF}})), three.data(), 3),
              ":0300000042424237\r\n:00000001FF\r\n");
}

// The test data area follows the area that holds the anchor in the packed content and is left
// out; the areas after it keep their bytes: one in another bank whose end has the same low 16
// bits, one across 1 MiB.
TEST(MemorySaveFile, OtherReadersGetEveryAreaBackAndNeverTheTestArea) {
    ASSERT_EQ(std::system("srec_cat --version > /dev/null 2>&1"), 0) << "srec_cat is missing";
    const CTargetInfo target = pdtest::MakeTarget(
        {{0x0005, 0x7DFF}, {0x10000, 0x1FBFF}, {0x27D00, 0x27DFF}, {0xFFF00, 0x1000FF}}, 2, 4, 0,
        0);
    const TargetGeometry g = Geometry(target);
    ASSERT_EQ(g.anchorArea(), 0);
    // Area bytes are never 0, so a byte at a wrong address or in a hole shows.
    std::vector<uint8_t> image(0x100100, 0), packed;
    std::mt19937 random(11);
    for (const TargetArea& a : g.areas) {
        for (uint32_t x = a.start; x <= a.end; ++x)
            packed.push_back(image[x] = uint8_t(random() | 1));
        if (g.holdsAnchor(a))
            packed.insert(packed.end(), g.testAreaSize, 0xA5);
    }
    ASSERT_EQ(packed.size(), g.packedSize);
    pdtest::TempDir dir;
    const std::string hex = dir.Write("out.hex", "stale\n");
    pdtest::RecordingReporter reporter;
    ASSERT_TRUE(SaveMemoryHexFile(hex, g, packed.data(), g.packedSize, reporter));
    EXPECT_TRUE(reporter.messages.empty());

    // srec_cat places each byte at its address, objcopy from the lowest one on.
    const std::string bin = dir.path() + "/srec.bin", bin2 = dir.path() + "/objcopy.bin";
    ASSERT_EQ(std::system(("srec_cat " + hex + " -Intel -o " + bin + " -Binary").c_str()), 0);
    ASSERT_EQ(std::system(("objcopy -I ihex -O binary " + hex + " " + bin2).c_str()), 0);
    EXPECT_TRUE(pdtest::ReadFileText(bin) == std::string(image.begin(), image.end()));
    EXPECT_TRUE(pdtest::ReadFileText(bin2) == std::string(image.begin() + 5, image.end()));

    // The program's own reader adds the segment and the linear base.
    ProgramData data(reporter);
    ASSERT_TRUE(data.SetTargetGeometry(target));
    data.writeImage().Fill(0);
    plat::LockedFile file;
    ASSERT_TRUE(file.Open(hex));
    ReadResult read;
    ASSERT_TRUE(data.ReadProgramFile(file, hex, 0, data.writeImage(), read));
    EXPECT_TRUE(std::equal(image.begin(), image.end(), data.writeImage().data()));
}

TEST(MemorySaveFile, FailuresLeaveNoFileAndKeepTheOldOne) {
    const TargetGeometry g = Geometry(pdtest::MakeTarget({{0, 0x7FFF}}));
    const std::vector<uint8_t> packed(g.packedSize, 0x42);
    pdtest::TempDir dir;
    pdtest::RecordingReporter reporter;
    auto save = [&](const std::string& path) {
        return SaveMemoryHexFile(path, g, packed.data(), g.packedSize, reporter);
    };
    EXPECT_FALSE(save(dir.path() + "/missing/out.hex"));
    EXPECT_FALSE(save(dir.path()));
    EXPECT_EQ(reporter.ids(), (std::vector<int>{2058, 2058}));

    // Writes past a file size limit fail as on a full disk, for root too.
    const std::string old = dir.Write("old.hex", "old content\r\n");
    auto previous = signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool replaced = save(old);
    const bool created = save(dir.path() + "/new.hex");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, previous);
    EXPECT_FALSE(replaced);
    EXPECT_FALSE(created);
    EXPECT_EQ(reporter.ids(), (std::vector<int>{2058, 2058, 2059, 2059}));
    EXPECT_EQ(pdtest::ReadFileText(old), "old content\r\n");
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path()))
        names.push_back(entry.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"old.hex"}) << "no partial or temporary file";
}

}  // namespace
