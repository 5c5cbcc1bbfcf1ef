// The lock programs take around a read-modify-write of a shared file: one holder at a time, a
// second one told that it timed out, and nothing but a plain file taken as the lock.
#include "platform/file_lock.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "platform/win32_types.h"
#include "support/temp_dir.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace {

using testing_support::TempDir;

TEST(FileLock, OneHolderAtATimeTheNextOnceItIsGoneAndOnlyAPlainFileServes) {
    TempDir dir;
    const std::string ini = dir / "Quorvel.ini";
    {
        plat::FileLock first, second;
        ASSERT_TRUE(first.Acquire(ini, 0));
        EXPECT_FALSE(second.Acquire(ini, 0));
        EXPECT_EQ(plat::GetLastError(), plat::ERROR_SHARING_VIOLATION);
    }
    plat::FileLock next;
    EXPECT_TRUE(next.Acquire(ini, 0)) << "the first holder is gone";

    // Where the companion cannot be made the system's reason comes back, not a time-out.
    plat::FileLock nowhere;
    EXPECT_FALSE(nowhere.Acquire((dir / "missing") + TempDir::kSeparator + "Quorvel.ini", 0));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_PATH_NOT_FOUND);

#ifndef _WIN32
    // Another process holds it, then dies without letting go.
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t holder = ::fork();
    ASSERT_GE(holder, 0);
    if (holder == 0) {
        plat::FileLock lock;
        const char held = lock.Acquire(dir / "Line.ini", 0) ? 1 : 0;
        if (::write(ready[1], &held, 1) != 1)
            ::_exit(1);
        ::pause();
        ::_exit(0);
    }
    char held = 0;
    const bool told = ::read(ready[0], &held, 1) == 1;
    ::close(ready[0]);
    ::close(ready[1]);
    plat::FileLock waiting;
    const bool excluded = !waiting.Acquire(dir / "Line.ini", 0);
    const uint32_t why = plat::GetLastError();
    ::kill(holder, SIGKILL);
    ASSERT_EQ(::waitpid(holder, nullptr, 0), holder);
    ASSERT_TRUE(told && held == 1);
    EXPECT_TRUE(excluded);
    EXPECT_EQ(why, plat::ERROR_SHARING_VIOLATION);
    EXPECT_TRUE(waiting.Acquire(dir / "Line.ini", 0)) << "its death released it";

    // A FIFO at the companion's name is refused, never waited on.
    ASSERT_EQ(::mkfifo((dir / "Fifo.ini.lock").c_str(), 0600), 0);
    plat::FileLock fifo;
    EXPECT_FALSE(fifo.Acquire(dir / "Fifo.ini", 0));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_ACCESS_DENIED);
#endif
    // So is a directory, and as what it is, not as a time-out.
    ASSERT_TRUE(std::filesystem::create_directory(dir / "Dir.ini.lock"));
    plat::FileLock directory;
    EXPECT_FALSE(directory.Acquire(dir / "Dir.ini", 0));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_ACCESS_DENIED);
}

}  // namespace
