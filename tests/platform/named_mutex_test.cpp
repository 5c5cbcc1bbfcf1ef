#include "platform/named_mutex.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#ifdef _WIN32
#include <process.h>
#else
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/win32_types.h"
#include "support/temp_dir.h"

namespace {

using testing_support::ListDir;
using testing_support::TempDir;
using Clock = std::chrono::steady_clock;

#ifdef _WIN32
int ProcessId() {
    return ::_getpid();
}
#else
int ProcessId() {
    return ::getpid();
}

// A forked child running body; the two sides step in turn through Signal and Await.
class Child {
  public:
    explicit Child(const std::function<int(Child&)>& body) {
        if (::pipe(toChild_) != 0 || ::pipe(toParent_) != 0)
            std::abort();
        pid_ = ::fork();
        if (pid_ == 0) {
            inChild_ = true;
            ::close(toChild_[1]);
            ::close(toParent_[0]);
            ::_exit(body(*this));
        }
        ::close(toChild_[0]);
        ::close(toParent_[1]);
    }
    ~Child() {
        if (pid_ > 0 && !waited_)
            Wait();
    }
    void Signal() {
        char c = 1;
        if (::write(inChild_ ? toParent_[1] : toChild_[1], &c, 1) != 1)
            std::abort();
    }
    bool Await() {
        char c;
        return ::read(inChild_ ? toChild_[0] : toParent_[0], &c, 1) == 1;
    }
    // The child's exit code (0 = every check in it passed).
    int Wait() {
        ::close(toChild_[1]);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        waited_ = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 100 + WTERMSIG(status);
    }

  private:
    int toChild_[2];
    int toParent_[2];
    pid_t pid_ = -1;
    bool inChild_ = false;
    bool waited_ = false;
};

// In a child, a failed check ends it with its line number as the exit code.
#define CHILD_CHECK(cond) \
    if (!(cond))          \
    return __LINE__ % 200 + 1
#endif

uint32_t WaitFromOtherThread(plat::HANDLE h, uint32_t ms) {
    uint32_t result = plat::WAIT_FAILED;
    std::thread t([&] {
        result = plat::WaitForSingleObject(h, ms);
        if (result == plat::WAIT_OBJECT_0)
            plat::ReleaseMutex(h);
    });
    t.join();
    return result;
}

#ifdef _WIN32
// Runs this test program as another process in the given probe mode (see NamedMutexProbe);
// returns its exit code.
int RunProbe(const std::string& mode, const std::string& name) {
    char self[plat::MAX_PATH];
    if (plat::GetModuleFileNameA(nullptr, self, sizeof self) == 0)
        return -1;
    ::_putenv_s("QUORVEL_MUTEX_PROBE", (mode + ":" + name).c_str());
    const intptr_t code =
        ::_spawnl(_P_WAIT, self, self, "--gtest_filter=NamedMutexProbe.*", nullptr);
    ::_putenv_s("QUORVEL_MUTEX_PROBE", "");
    return static_cast<int>(code);
}
#endif

class NamedMutex : public ::testing::Test {
  protected:
#ifndef _WIN32
    // runtime_ stands in for /run/user/<uid>, home_ for the home directory.
    void SetUp() override {
        plat::SetLockDirectoryPlacesForTesting(runtime_.path(), home_.path());
    }
    void TearDown() override {
        plat::SetLockDirectoryPlacesForTesting("", "");
    }
#endif
    std::string Name(const std::string& tag) {
        return "quorvel-test-" + std::to_string(ProcessId()) + "-" + tag;
    }
    TempDir runtime_;
    TempDir home_;
};

TEST_F(NamedMutex, AlreadyExistsInTheSameProcessAndInAnother) {
    std::string name = Name("exists");
    plat::HANDLE h1 = plat::CreateMutexA(nullptr, false, name.c_str());
    ASSERT_NE(h1, nullptr);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_SUCCESS);
    plat::HANDLE h2 = plat::CreateMutexA(nullptr, true, name.c_str());
    ASSERT_NE(h2, nullptr);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_ALREADY_EXISTS);
    // Asking for ownership of an existing mutex does not take it.
    EXPECT_EQ(WaitFromOtherThread(h1, 0), plat::WAIT_OBJECT_0);

#ifdef _WIN32
    // Another process holding it: the name exists there, and its timed waits fail.
    ASSERT_EQ(plat::WaitForSingleObject(h1, 0), plat::WAIT_OBJECT_0);
    EXPECT_EQ(RunProbe("exists", name), 0);
    EXPECT_TRUE(plat::ReleaseMutex(h1));
#else
    std::string fresh = Name("fresh");
    Child child([&](Child& self) {
        plat::HANDLE h = plat::CreateMutexA(nullptr, false, name.c_str());
        CHILD_CHECK(h != nullptr && plat::GetLastError() == plat::ERROR_ALREADY_EXISTS);
        plat::HANDLE f = plat::CreateMutexA(nullptr, false, fresh.c_str());
        CHILD_CHECK(f != nullptr && plat::GetLastError() == plat::ERROR_SUCCESS);
        self.Signal();
        self.Await();
        return 0;
    });
    ASSERT_TRUE(child.Await());
    plat::HANDLE f = plat::CreateMutexA(nullptr, false, fresh.c_str());
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_ALREADY_EXISTS);
    plat::CloseHandle(f);
    child.Signal();
    EXPECT_EQ(child.Wait(), 0);
    // The child is gone and this process had closed its handle: the name is new again.
    f = plat::CreateMutexA(nullptr, false, fresh.c_str());
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_SUCCESS);
    plat::CloseHandle(f);
#endif
    plat::CloseHandle(h1);
    plat::CloseHandle(h2);
}

#ifndef _WIN32
// A desktop session has a runtime directory, an ssh session of the same user may not: both
// must meet at one mutex, or both would drive the adapters.
TEST_F(NamedMutex, SessionsWithAndWithoutARuntimeDirectoryShareTheMutex) {
    std::string name = Name("sessions");
    Child desktop([&](Child& self) {
        ::setenv("XDG_RUNTIME_DIR", runtime_.path().c_str(), 1);
        plat::HANDLE h = plat::CreateMutexA(nullptr, true, name.c_str());
        CHILD_CHECK(h != nullptr && plat::GetLastError() == plat::ERROR_SUCCESS);
        self.Signal();
        self.Await();
        CHILD_CHECK(plat::CloseHandle(h));  // the last user removes the shared lock files
        return 0;
    });
    ASSERT_TRUE(desktop.Await());
    Child ssh([&](Child&) {
        ::unsetenv("XDG_RUNTIME_DIR");
        plat::HANDLE h = plat::CreateMutexA(nullptr, false, name.c_str());
        CHILD_CHECK(h != nullptr && plat::GetLastError() == plat::ERROR_ALREADY_EXISTS);
        CHILD_CHECK(plat::WaitForSingleObject(h, 0) == plat::WAIT_TIMEOUT);
        CHILD_CHECK(plat::CloseHandle(h));
        return 0;
    });
    EXPECT_EQ(ssh.Wait(), 0);
    desktop.Signal();
    EXPECT_EQ(desktop.Wait(), 0);
}

// A service of the same user started without a login session finds no runtime directory, and
// the last logout removes it under running programs: either way the programs still exclude
// each other, or two of them would drive the adapters.
TEST_F(NamedMutex, ProgramsWithAndWithoutARuntimeDirectoryExcludeEachOther) {
    const std::string name = Name("places");
    plat::HANDLE desktop = plat::CreateMutexA(nullptr, true, name.c_str());
    ASSERT_NE(desktop, nullptr);
    // Another program, with the given runtime directory, opens the name and may take it.
    const auto other = [&](const std::string& runtime, bool holds,
                           std::function<void()> meanwhile) {
        Child child([&](Child& self) {
            plat::SetLockDirectoryPlacesForTesting(runtime, home_.path());
            plat::HANDLE h = plat::CreateMutexA(nullptr, false, name.c_str());
            CHILD_CHECK(h != nullptr && plat::GetLastError() == plat::ERROR_ALREADY_EXISTS);
            CHILD_CHECK(plat::WaitForSingleObject(h, 0) ==
                        (holds ? plat::WAIT_OBJECT_0 : plat::WAIT_TIMEOUT));
            self.Signal();
            self.Await();
            return 0;
        });
        EXPECT_TRUE(child.Await());
        meanwhile();
        child.Signal();
        return child.Wait();
    };
    const std::string absent = runtime_ / "absent";
    EXPECT_EQ(other(absent, false, [] {}), 0) << "the service took it from the desktop program";
    std::filesystem::remove_all(runtime_ / "quorvel-locks");  // the last logout
    EXPECT_EQ(other(runtime_.path(), false, [] {}), 0) << "a new session took it";

    ASSERT_TRUE(plat::ReleaseMutex(desktop));
    EXPECT_EQ(other(absent, true,
                    [&] {
                        EXPECT_EQ(WaitFromOtherThread(desktop, 0), plat::WAIT_TIMEOUT)
                            << "the desktop program took it from the service";
                    }),
              0);
    EXPECT_EQ(plat::WaitForSingleObject(desktop, 0), plat::WAIT_OBJECT_0);
    EXPECT_TRUE(plat::ReleaseMutex(desktop));
    plat::CloseHandle(desktop);
}
#endif

TEST_F(NamedMutex, OwnerTakesItAgainAndMustReleaseAsOften) {
    std::string name = Name("recursive");
    plat::HANDLE h = plat::CreateMutexA(nullptr, true, name.c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(plat::WaitForSingleObject(h, 0), plat::WAIT_OBJECT_0);
    EXPECT_EQ(plat::WaitForSingleObject(h, 0), plat::WAIT_OBJECT_0);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(WaitFromOtherThread(h, 0), plat::WAIT_TIMEOUT) << i;
        EXPECT_TRUE(plat::ReleaseMutex(h)) << i;
    }
    EXPECT_FALSE(plat::ReleaseMutex(h));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_NOT_OWNER);

    // A thread that does not own it cannot release it.
    std::promise<void> taken, checked;
    std::thread owner([&] {
        EXPECT_EQ(plat::WaitForSingleObject(h, 0), plat::WAIT_OBJECT_0);
        taken.set_value();
        checked.get_future().wait();
        EXPECT_TRUE(plat::ReleaseMutex(h));
    });
    taken.get_future().wait();
    EXPECT_FALSE(plat::ReleaseMutex(h));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_NOT_OWNER);
    EXPECT_EQ(plat::WaitForSingleObject(h, 50), plat::WAIT_TIMEOUT);
    checked.set_value();
    owner.join();
    EXPECT_EQ(plat::WaitForSingleObject(h, 0), plat::WAIT_OBJECT_0);
    plat::CloseHandle(h);
}

TEST_F(NamedMutex, AThreadThatEndsReleasesWhatItOwns) {
    plat::HANDLE h = plat::CreateMutexA(nullptr, false, Name("thread").c_str());
    std::thread([h] { EXPECT_EQ(plat::WaitForSingleObject(h, 0), plat::WAIT_OBJECT_0); }).join();
#ifdef _WIN32
    // Windows tells the next owner that the last one ended without releasing it.
    EXPECT_EQ(plat::WaitForSingleObject(h, 0), plat::WAIT_ABANDONED);
#else
    EXPECT_EQ(plat::WaitForSingleObject(h, 0), plat::WAIT_OBJECT_0);
#endif
    EXPECT_TRUE(plat::ReleaseMutex(h));
    plat::CloseHandle(h);
}

#ifndef _WIN32
TEST_F(NamedMutex, AnotherProcessHoldingItMakesTimedWaitsFail) {
    std::string name = Name("timed");
    plat::HANDLE h = plat::CreateMutexA(nullptr, true, name.c_str());
    ASSERT_NE(h, nullptr);
    Child child([&](Child& self) {
        plat::HANDLE c = plat::CreateMutexA(nullptr, false, name.c_str());
        CHILD_CHECK(c != nullptr);
        auto start = Clock::now();
        CHILD_CHECK(plat::WaitForSingleObject(c, 50) == plat::WAIT_TIMEOUT);
        CHILD_CHECK(Clock::now() - start >= std::chrono::milliseconds(50));
        self.Signal();  // the parent releases now; a long wait ends as soon as it does
        CHILD_CHECK(plat::WaitForSingleObject(c, 20000) == plat::WAIT_OBJECT_0);
        self.Signal();
        self.Await();
        CHILD_CHECK(plat::ReleaseMutex(c));
        CHILD_CHECK(plat::WaitForSingleObject(c, 0) == plat::WAIT_OBJECT_0);
        self.Signal();
        self.Await();
        return 0;  // ends while owning it
    });
    ASSERT_TRUE(child.Await());
    EXPECT_TRUE(plat::ReleaseMutex(h));
    ASSERT_TRUE(child.Await());
    auto start = Clock::now();
    EXPECT_EQ(plat::WaitForSingleObject(h, 50), plat::WAIT_TIMEOUT);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(50));
    child.Signal();
    ASSERT_TRUE(child.Await());
    EXPECT_EQ(plat::WaitForSingleObject(h, 0), plat::WAIT_TIMEOUT);  // taken again
    child.Signal();
    EXPECT_EQ(child.Wait(), 0);
    // Its death released it.
    EXPECT_EQ(plat::WaitForSingleObject(h, 0), plat::WAIT_OBJECT_0);
    EXPECT_TRUE(plat::ReleaseMutex(h));
    plat::CloseHandle(h);
}

TEST_F(NamedMutex, ClosingTheLastHandleReleasesOwnershipAndTheName) {
    std::string name = Name("close");
    plat::HANDLE h1 = plat::CreateMutexA(nullptr, true, name.c_str());
    plat::HANDLE h2 = plat::CreateMutexA(nullptr, false, name.c_str());
    ASSERT_TRUE(plat::CloseHandle(h1));
    // The thread still owns it through the other handle.
    EXPECT_EQ(WaitFromOtherThread(h2, 0), plat::WAIT_TIMEOUT);
    Child holder([&](Child& self) {
        plat::HANDLE c = plat::CreateMutexA(nullptr, false, name.c_str());
        CHILD_CHECK(plat::WaitForSingleObject(c, 0) == plat::WAIT_TIMEOUT);
        self.Signal();
        return 0;
    });
    ASSERT_TRUE(holder.Await());
    EXPECT_EQ(holder.Wait(), 0);
    ASSERT_TRUE(plat::CloseHandle(h2));
    EXPECT_EQ(plat::WaitForSingleObject(h2, 0), plat::WAIT_FAILED);

    Child taker([&](Child&) {
        plat::HANDLE c = plat::CreateMutexA(nullptr, false, name.c_str());
        CHILD_CHECK(c != nullptr && plat::GetLastError() == plat::ERROR_SUCCESS);
        CHILD_CHECK(plat::WaitForSingleObject(c, 0) == plat::WAIT_OBJECT_0);
        plat::CloseHandle(c);
        return 0;
    });
    EXPECT_EQ(taker.Wait(), 0);
    // The last user of the name removed its lock files.
    EXPECT_EQ(ListDir(runtime_ / "quorvel-locks"), std::vector<std::string>{".guard"});
}

TEST_F(NamedMutex, ProcessesOpeningAndClosingTheNameNeverShareOwnership) {
    struct Shared {
        std::atomic<int> inside;
        std::atomic<int> overlaps;
        int total;  // unsynchronised on purpose: only the mutex protects it
    };
    void* mem =
        ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(mem, MAP_FAILED);
    auto* shared = new (mem) Shared{};
    std::string name = Name("stress");
    const int kProcesses = 4;
    const int kRounds = 100;
    std::vector<std::unique_ptr<Child>> children;
    for (int p = 0; p < kProcesses; ++p) {
        children.push_back(std::make_unique<Child>([&](Child&) {
            for (int i = 0; i < kRounds; ++i) {
                // A fresh open each round, so that lock files are removed and made again.
                plat::HANDLE h = plat::CreateMutexA(nullptr, false, name.c_str());
                CHILD_CHECK(h != nullptr);
                CHILD_CHECK(plat::WaitForSingleObject(h, plat::INFINITE) == plat::WAIT_OBJECT_0);
                if (shared->inside.fetch_add(1) != 0)
                    shared->overlaps.fetch_add(1);
                int seen = shared->total;
                sched_yield();
                shared->total = seen + 1;
                shared->inside.fetch_sub(1);
                CHILD_CHECK(plat::ReleaseMutex(h));
                CHILD_CHECK(plat::CloseHandle(h));
            }
            return 0;
        }));
    }
    for (auto& child : children)
        EXPECT_EQ(child->Wait(), 0);
    EXPECT_EQ(shared->overlaps.load(), 0);
    EXPECT_EQ(shared->total, kProcesses * kRounds);
    ::munmap(mem, sizeof(Shared));
}

TEST_F(NamedMutex, NamesUnsafeInFileNamesAreEncodedAndStayDistinct) {
    std::string longA(1000, 'a');
    std::string longB = longA + "b";
    const std::string names[] = {"a/b",    "a%2Fb",    "..",  ".",  "Global\\Vexil",
                                 "sp ace", "\xff\x01", longA, longB};
    std::vector<plat::HANDLE> handles;
    for (const std::string& name : names) {
        plat::HANDLE h = plat::CreateMutexA(nullptr, true, name.c_str());
        ASSERT_NE(h, nullptr) << name;
        EXPECT_EQ(plat::GetLastError(), plat::ERROR_SUCCESS) << name;
        handles.push_back(h);
    }
    for (const std::string& name : names) {
        plat::HANDLE again = plat::CreateMutexA(nullptr, false, name.c_str());
        EXPECT_EQ(plat::GetLastError(), plat::ERROR_ALREADY_EXISTS) << name;
        plat::CloseHandle(again);
    }
    // Everything stays flat inside the lock directory.
    std::string dir = runtime_ / "quorvel-locks";
    for (const std::string& file : ListDir(dir)) {
        struct stat st;
        ASSERT_EQ(::lstat((dir + "/" + file).c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode)) << file;
        EXPECT_LE(file.size(), 255u);
    }
    EXPECT_TRUE(ListDir(runtime_.path()) == std::vector<std::string>{"quorvel-locks"});
    for (plat::HANDLE h : handles)
        plat::CloseHandle(h);
}

#endif

TEST_F(NamedMutex, UnnamedMutexesArePrivateAndIndependent) {
    plat::HANDLE a = plat::CreateMutexA(nullptr, true, nullptr);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_SUCCESS);
    plat::HANDLE b = plat::CreateMutexA(nullptr, true, "");
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_SUCCESS);
    EXPECT_TRUE(plat::ReleaseMutex(b));
    EXPECT_EQ(WaitFromOtherThread(a, 0), plat::WAIT_TIMEOUT);
    EXPECT_EQ(WaitFromOtherThread(b, 0), plat::WAIT_OBJECT_0);
#ifndef _WIN32
    EXPECT_TRUE(ListDir(runtime_.path()).empty());
#endif
    plat::CloseHandle(a);
    plat::CloseHandle(b);
}

TEST_F(NamedMutex, RefusesForeignHandles) {
    plat::HANDLE event = plat::CreateEventA(nullptr, true, false, nullptr);
    EXPECT_FALSE(plat::ReleaseMutex(event));
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_INVALID_HANDLE);
    plat::CloseHandle(event);
}

#ifndef _WIN32
// Whoever could write the lock directory could hold "Vexil" for good or plant lock files: it is
// passed over for a private one in the home directory. (A directory of another user, and both
// refused: the end-to-end test of quorvel-cli.)
TEST_F(NamedMutex, ALockDirectoryOthersCouldWriteIsPassedOverForTheHomeDirectory) {
    const std::string loose = runtime_ / "quorvel-locks";
    ASSERT_EQ(::mkdir(loose.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(loose.c_str(), 0777), 0);
    plat::HANDLE h = plat::CreateMutexA(nullptr, true, Name("fallback").c_str());
    ASSERT_NE(h, nullptr);
    plat::CloseHandle(h);
    std::string dir, again;
    ASSERT_TRUE(plat::UserLockDirectory(dir));
    EXPECT_EQ(dir.rfind(home_.path() + "/.quorvel-locks-", 0), 0u) << dir;
    EXPECT_TRUE(ListDir(loose).empty());
    struct stat st {};
    EXPECT_TRUE(::stat(dir.c_str(), &st) == 0 && (st.st_mode & 0777) == 0700);
    // No runtime directory at all (a login without a session manager): the same, quietly.
    plat::SetLockDirectoryPlacesForTesting(runtime_ / "absent", home_.path());
    EXPECT_TRUE(plat::UserLockDirectory(again) && again == dir) << again;
}
#endif

#ifdef _WIN32
TEST_F(NamedMutex, AnOwnerProcessThatEndsLeavesItAbandoned) {
    std::string name = Name("abandoned");
    plat::HANDLE h = plat::CreateMutexA(nullptr, false, name.c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(RunProbe("take", name), 0);
    // The next owner is told; it owns the mutex all the same.
    EXPECT_EQ(plat::WaitForSingleObject(h, 0), plat::WAIT_ABANDONED);
    EXPECT_EQ(WaitFromOtherThread(h, 0), plat::WAIT_TIMEOUT);
    EXPECT_TRUE(plat::ReleaseMutex(h));
    plat::CloseHandle(h);
}

// The other process of the tests above: this program again, running only this test with
// QUORVEL_MUTEX_PROBE=<mode>:<name>. Its exit code is its verdict.
TEST(NamedMutexProbe, OtherProcess) {
    const char* probe = std::getenv("QUORVEL_MUTEX_PROBE");
    if (probe == nullptr || *probe == '\0')
        GTEST_SKIP() << "runs only as the other process of the named-mutex tests";
    const std::string arg = probe;
    const std::string mode = arg.substr(0, arg.find(':'));
    const std::string name = arg.substr(arg.find(':') + 1);
    plat::HANDLE h = plat::CreateMutexA(nullptr, false, name.c_str());
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(plat::GetLastError(), plat::ERROR_ALREADY_EXISTS);
    if (mode == "exists") {
        EXPECT_EQ(plat::WaitForSingleObject(h, 0), plat::WAIT_TIMEOUT);
        EXPECT_EQ(plat::WaitForSingleObject(h, 20), plat::WAIT_TIMEOUT);
        plat::CloseHandle(h);
    } else {
        // Taken and never released: the process ends as the owner.
        EXPECT_EQ(plat::WaitForSingleObject(h, 0), plat::WAIT_OBJECT_0);
    }
}
#endif

}  // namespace
