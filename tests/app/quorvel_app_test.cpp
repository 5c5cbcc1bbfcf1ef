// The single-instance rule of CQuorvelApp, with a scripted view and raise channel.
#include "app/quorvel_app.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/files.h"
#include "platform/kernel_object.h"
#include "platform/named_mutex.h"
#include "programdata/string_table.h"
#include "support/fake_dialog_view.h"

namespace fs = std::filesystem;

namespace {

struct FakeChannel : InstanceChannel {
    bool answer = true;
    int raiseRequests = 0;
    std::function<void()> raise;
    bool RaiseRunningInstance() override {
        ++raiseRequests;
        return answer;
    }
    void ListenForRaiseRequests(std::function<void()> r) override { raise = std::move(r); }
};

class QuorvelAppTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Its own program name, so that no running copy or other test shares the lock.
        name_ = "QuorvelAppTest" + std::to_string(getpid());
        dir_ = fs::temp_directory_path() / name_;
        fs::create_directories(dir_ / "bin");
        fs::create_directories(dir_ / "config");
        setenv("XDG_CONFIG_HOME", (dir_ / "config").c_str(), 1);
        plat::SetModuleFileNameOverrideForTesting((dir_ / "bin" / name_).string());
    }
    void TearDown() override {
        plat::SetModuleFileNameOverrideForTesting("");
        fs::remove_all(dir_);
    }
    std::string name_;
    fs::path dir_;
};

TEST_F(QuorvelAppTest, ProgramNameIsTheExecutablesBaseName) {
    plat::SetModuleFileNameOverrideForTesting((dir_ / "bin" / "Quorvel.bin").string());
    EXPECT_EQ(CQuorvelApp().ProgramName(), "Quorvel");
}

TEST_F(QuorvelAppTest, FirstCopyRunsTheDialogAndAnswersRaiseRequests) {
    CQuorvelApp app;
    ASSERT_EQ(app.ProgramName(), name_);
    FakeDialogView view;
    FakeChannel channel;
    // No TRG file here: the dialog shows 165 and ends, which is enough to see that it ran.
    EXPECT_EQ(app.Run(view, channel), 0);
    EXPECT_FALSE(app.WasSecondInstance());
    EXPECT_TRUE(view.destroyed);
    ASSERT_EQ(view.messages.size(), 1u);
    EXPECT_EQ(view.messages[0].caption, name_);
    EXPECT_EQ(channel.raiseRequests, 0);
    ASSERT_TRUE(channel.raise);
    channel.raise();
    EXPECT_EQ(view.raised, 1);

    // The lock went with the dialog: a later start runs again.
    FakeDialogView next;
    EXPECT_EQ(app.Run(next, channel), 0);
    EXPECT_FALSE(app.WasSecondInstance());
}

TEST_F(QuorvelAppTest, AnExecutablePathThatCannotBeHeldWholeRefusesToStart) {
    // Too long for the path buffer, or for the directory field once split: either way the
    // settings would be looked for elsewhere and the name would come out garbled.
    const std::string base = (dir_ / "bin").string() + "/";
    for (const std::string& path : {base + std::string(300, 'd') + "/" + name_,
                                    base + std::string(257 - base.size(), 'd') + "/Q"}) {
        plat::SetModuleFileNameOverrideForTesting(path);
        CQuorvelApp app;
        FakeDialogView view;
        FakeChannel channel;
        EXPECT_EQ(app.Run(view, channel), 1) << path.size();
        EXPECT_FALSE(view.destroyed) << "no dialog ran";
        EXPECT_FALSE(channel.raise);
        ASSERT_EQ(view.messages.size(), 1u);
        EXPECT_EQ(view.messages[0].text, GetStringText(IDS_PROGRAM_PATH_TOO_LONG));
        EXPECT_EQ(view.messages[0].caption, "Quorvel");
        EXPECT_EQ(view.messages[0].icon, MsgIcon::Error);
    }
}

TEST_F(QuorvelAppTest, LaterCopyRaisesTheRunningOneAndShowsNothing) {
    plat::HANDLE running = plat::CreateMutexA(nullptr, true, name_.c_str());
    ASSERT_TRUE(plat::IsOpenHandle(running));

    CQuorvelApp app;
    FakeDialogView view;
    FakeChannel channel;
    EXPECT_EQ(app.Run(view, channel), 0);
    EXPECT_TRUE(app.WasSecondInstance());
    EXPECT_EQ(channel.raiseRequests, 1);
    EXPECT_FALSE(channel.raise) << "a later copy does not listen";
    EXPECT_FALSE(view.destroyed) << "no dialog ran";
    EXPECT_TRUE(view.messages.empty());

    channel.answer = false;
    EXPECT_EQ(app.Run(view, channel), 1) << "the running copy could not be reached";
    plat::CloseHandle(running);
}

}  // namespace
