// A file's content replaced in one step: what a reader finds afterwards, and what a failure
// leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/locked_file.h"
#include "platform/posix_file.h"
#include "platform/win32_types.h"
#include "support/temp_dir.h"

namespace {

using plat::ReplaceStep;
using testing_support::ListDir;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;

TEST(ReplaceFileContent, ReplacesOrCreatesTheWholeFileAndLeavesNothingBeside) {
    TempDir dir;
    WriteBytes(dir / "data.bin", std::string(100000, 'o'));
    const std::string content("new\r\n\0\xFF", 7);
    uint32_t error = 0;
    ASSERT_TRUE(plat::ReplaceFileContent(dir / "data.bin", content, error));
    EXPECT_EQ(ReadBytes(dir / "data.bin"), content);
    ASSERT_TRUE(plat::ReplaceFileContent(dir / "new.txt", "", error));
    EXPECT_EQ(ReadBytes(dir / "new.txt"), "");
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"data.bin", "new.txt"}));
}

TEST(ReplaceFileContent, AFailureNamesItsStepKeepsTheOldFileAndLeavesNoCopy) {
    TempDir dir;
    uint32_t error = 0;
    ReplaceStep step = ReplaceStep::Rename;
    const std::string missing = (dir / "missing") + TempDir::kSeparator + "out.bin";
    EXPECT_FALSE(plat::ReplaceFileContent(missing, "x", error, &step));
    EXPECT_EQ(step, ReplaceStep::Create);
    EXPECT_EQ(error, plat::ERROR_PATH_NOT_FOUND);
    std::filesystem::create_directory(dir / "sub");
    error = 0;
    EXPECT_FALSE(plat::ReplaceFileContent(dir / "sub", "x", error, &step));
    EXPECT_EQ(step, ReplaceStep::Create);
    EXPECT_EQ(error, plat::ERROR_ACCESS_DENIED);
#ifdef _WIN32
    // A registered program file denies renames over it: the last step fails.
    WriteBytes(dir / "held.hex", "old");
    {
        plat::LockedFile held;
        ASSERT_TRUE(held.Open(dir / "held.hex"));
        EXPECT_FALSE(plat::ReplaceFileContent(dir / "held.hex", "new", error, &step));
        EXPECT_EQ(step, ReplaceStep::Rename);
        EXPECT_NE(error, 0u);
    }
    // The system refuses to write a read-only file; so does the move.
    std::filesystem::permissions(dir / "held.hex", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_FALSE(plat::ReplaceFileContent(dir / "held.hex", "new", error, &step));
    EXPECT_EQ(error, plat::ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadBytes(dir / "held.hex"), "old");
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"held.hex", "sub"}));
#else
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"sub"}));
#endif
}

}  // namespace
