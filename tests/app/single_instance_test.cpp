// Starts the real program twice from a copy of the build laid out as an installation:
// tmp/bin/Quorvel<pid>, tmp/lib -> the build's libraries, tmp/TRG with target descriptions.
// The second start, from another session of the user, must end at once, after the first
// confirmed that it raised its window.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/named_mutex.h"

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// A started program; killed when the test leaves, however it leaves.
class Child {
  public:
    Child(const fs::path& program, const std::vector<std::string>& env) {
        std::vector<char*> envp;
        for (const std::string& e : env)
            envp.push_back(const_cast<char*>(e.c_str()));
        envp.push_back(nullptr);
        std::string path = program.string();
        char* argv[] = {path.data(), nullptr};
        if (posix_spawn(&pid_, path.c_str(), nullptr, nullptr, argv, envp.data()) != 0)
            pid_ = -1;
    }
    ~Child() {
        if (pid_ <= 0 || exited_)
            return;
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    bool Started() const { return pid_ > 0; }
    // The exit status once the child ended within the limit, else nothing.
    std::optional<int> WaitExit(std::chrono::milliseconds limit) {
        const auto deadline = Clock::now() + limit;
        while (!exited_) {
            int status = 0;
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                exited_ = true;
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (Clock::now() > deadline)
                return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return status_;
    }
    bool Running() { return !WaitExit(std::chrono::milliseconds(0)).has_value(); }

  private:
    pid_t pid_ = -1;
    bool exited_ = false;
    int status_ = -1;
};

class SingleInstanceTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const fs::path built = fs::path(QUORVEL_BINARY_DIR) / "bin" / "Quorvel";
        if (!fs::exists(built))
            GTEST_SKIP() << "the Qt program is not built";
        // Its own program name: the lock and the raise socket are the user's, shared with every
        // other copy and test run.
        name_ = "Quorvel" + std::to_string(getpid());
        root_ = fs::temp_directory_path() / ("quorvel_twice_" + std::to_string(getpid()));
        fs::remove_all(root_);
        for (const char* d : {"bin", "TRG", "config", "run", "tmp", "tmp2"})
            fs::create_directories(root_ / d);
        fs::permissions(root_ / "run", fs::perms::owner_all, fs::perm_options::replace);
        // A copy, not a link: the program finds its settings and TRG files from its own path.
        fs::copy_file(built, root_ / "bin" / name_);
        fs::create_directory_symlink(fs::path(QUORVEL_BINARY_DIR) / "lib", root_ / "lib");
        std::ofstream(root_ / "TRG" / "QX08C032.TRG")
            << "[VEXIL]\nVEXILDEBUG=ENABLE\nTARGETID00=1C083032H\nTARGETID32=60000200H\n"
            << "[MMAP]\nNUMBER=1\nDEFAULT1=SC\nSTARTADRS1=0H\nENDADRS1=7FFFH\n";
        env_ = {"QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + (root_ / "config").string(),
                "HOME=" + root_.string()};
        for (const char* keep : {"PATH", "LANG", "ASAN_OPTIONS", "UBSAN_OPTIONS"})
            if (const char* v = getenv(keep))
                env_.push_back(std::string(keep) + "=" + v);
    }
    void TearDown() override {
        if (root_.empty())
            return;
        fs::remove_all(root_);
        // A copy killed at the end leaves its lock files and raise socket behind.
        std::string locks;
        if (!plat::UserLockDirectory(locks))
            return;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(locks, ec))
            if (e.path().filename().string().rfind(name_ + ".", 0) == 0)
                fs::remove(e.path(), ec);
    }

    std::string name_;
    fs::path root_;
    std::vector<std::string> env_;
};

TEST_F(SingleInstanceTest, SecondStartFromAnotherSessionRaisesTheFirstAndEnds) {
    const fs::path program = root_ / "bin" / name_;
    // A desktop session, and an ssh session of the same user without a runtime directory and
    // with another temporary directory and user name.
    std::vector<std::string> desktop = env_, ssh = env_;
    desktop.insert(desktop.end(), {"XDG_RUNTIME_DIR=" + (root_ / "run").string(),
                                   "TMPDIR=" + (root_ / "tmp").string()});
    ssh.insert(ssh.end(), {"TMPDIR=" + (root_ / "tmp2").string(), "USER=quorvel-ssh"});
    Child first(program, desktop);
    ASSERT_TRUE(first.Started());

    // The first copy writes its settings file during start-up, after it began to listen.
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (!fs::exists(root_ / "bin" / "Quorvel.ini")) {
        ASSERT_TRUE(first.Running()) << "the first copy ended during start-up";
        ASSERT_LT(Clock::now(), deadline) << "the first copy did not start";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }

    Child second(program, ssh);
    ASSERT_TRUE(second.Started());
    std::optional<int> status = second.WaitExit(std::chrono::seconds(20));
    ASSERT_TRUE(status.has_value()) << "the second copy did not end";
    EXPECT_EQ(*status, 0) << "the first copy did not confirm the raise request";
    EXPECT_TRUE(first.Running()) << "the first copy must stay";
}

}  // namespace
