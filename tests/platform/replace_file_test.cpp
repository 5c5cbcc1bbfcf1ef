// A file's content replaced in one step: what a reader finds afterwards, and what a failure
// leaves behind.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/locked_file.h"
#include "platform/file_content.h"
#include "platform/win32_types.h"
#include "support/temp_dir.h"
#ifdef _WIN32
#include "platform/wait_testing.h"
#endif

namespace {

using plat::ReplaceStep;
using testing_support::ListDir;
using testing_support::ReadBytes;
using testing_support::TempDir;

TEST(ReplaceFileContent, ReplacesWholeOrFailsAtANamedStepKeepingTheOldFileAndNoCopy) {
    TempDir dir;
    testing_support::WriteBytes(dir / "data.bin", std::string(100000, 'o'));
    const std::string content("new\r\n\0\xFF", 7);
    uint32_t error = 0;
    ASSERT_TRUE(plat::ReplaceFileContent(dir / "data.bin", content, error));
    EXPECT_EQ(ReadBytes(dir / "data.bin"), content);

    ReplaceStep step = ReplaceStep::Rename;
    EXPECT_FALSE(plat::ReplaceFileContent((dir / "missing") + TempDir::kSeparator + "out.bin", "x",
                                          error, &step));
    EXPECT_TRUE(step == ReplaceStep::Create && error == plat::ERROR_PATH_NOT_FOUND) << error;
    std::filesystem::create_directory(dir / "sub");
    EXPECT_FALSE(plat::ReplaceFileContent(dir / "sub", "x", error, &step));
    EXPECT_TRUE(step == ReplaceStep::Create && error == plat::ERROR_ACCESS_DENIED) << error;
#ifdef _WIN32
    // A registered program file denies renames over it: the last step fails, after the
    // retries (whose pauses the wait seam cuts short).
    {
        plat::LockedFile held;
        ASSERT_TRUE(held.Open(dir / "data.bin"));
        plat::SetWaitLimitForTesting(0);
        EXPECT_FALSE(plat::ReplaceFileContent(dir / "data.bin", "other", error, &step));
        plat::SetWaitLimitForTesting(plat::INFINITE);
        EXPECT_EQ(step, ReplaceStep::Rename);
    }
    // The system refuses to write a read-only file; so does the move (also for Wine as root).
    std::filesystem::permissions(dir / "data.bin", std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::remove);
    EXPECT_FALSE(plat::ReplaceFileContent(dir / "data.bin", "other", error, &step));
    EXPECT_EQ(error, plat::ERROR_ACCESS_DENIED);
    EXPECT_EQ(ReadBytes(dir / "data.bin"), content);
#endif
    EXPECT_EQ(ListDir(dir.path()), (std::vector<std::string>{"data.bin", "sub"}));
}

}  // namespace
