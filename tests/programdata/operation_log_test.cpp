// The operation log against the fake flat API: file handling, CR LF storage, the write-error
// rule, headers and every variant of a target's block.
#include "programdata/operation_log.h"

#include "platform/locked_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>

#include "programdata/error_messages.h"
#include "support/fake_flat_api.h"
#include "support/test_support.h"

using namespace programdata;

namespace {

// 2026/12/06 04:50:00
bool FixedTime(std::tm& out) {
    out = std::tm{};
    out.tm_year = 2026 - 1900;
    out.tm_mon = 11;
    out.tm_mday = 6;
    out.tm_hour = 4;
    out.tm_min = 50;
    out.tm_sec = 0;
    return true;
}

bool FakeFirmware(int target, std::string& text) {
    auto& targets = fakeapi::Fake().targets;
    if (target < 1 || size_t(target) > targets.size() || targets[target - 1].firmwareText.empty())
        return false;
    text = targets[target - 1].firmwareText;
    return true;
}

// The texts as the file stores them.
std::string Crlf(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += '\r';
        out += c;
    }
    return out;
}

class OperationLogTest : public ::testing::Test {
  protected:
    void SetUp() override { fakeapi::Connect(3); }
    void TearDown() override { fakeapi::Reset(); }

    std::string Path() const { return dir_.path() + "/Quorvel.log"; }
    // Runs one operation's writers and answers what it added to the file.
    std::string Logged(const std::function<void(OperationLog&)>& writers) {
        std::string before = pdtest::ReadFileText(Path());
        EXPECT_TRUE(log_.OpenOperationLog(Path()));
        writers(log_);
        EXPECT_TRUE(log_.CloseOperationLog());
        std::string after = pdtest::ReadFileText(Path());
        EXPECT_EQ(after.compare(0, before.size(), before), 0) << "earlier content changed";
        return after.substr(before.size());
    }

    pdtest::TempDir dir_;
    pdtest::RecordingReporter reporter_;
    OperationLog log_{reporter_, FixedTime, FakeFirmware};
};

TEST_F(OperationLogTest, MissingFileIsCreatedAndExistingOneAppendedByteForByte) {
    ASSERT_FALSE(std::filesystem::exists(Path()));
    EXPECT_EQ(Logged([](OperationLog& log) { log.WriteLogText("first\n"); }), "first\r\n");
    EXPECT_TRUE(std::filesystem::exists(Path()));

    // Content of any kind, bare line feeds and NULs included, stays exactly as it was.
    const std::string old("kept\nas\r\nit is\0\xff", 15);
    pdtest::TempDir other;
    std::string path = other.Write("old.log", old);
    ASSERT_TRUE(log_.OpenOperationLog(path));
    EXPECT_TRUE(log_.WriteLogText("a\nb"));
    EXPECT_TRUE(log_.WriteLogText("\tc\n"));
    EXPECT_TRUE(log_.CloseOperationLog());
    ASSERT_TRUE(log_.OpenOperationLog(path));
    EXPECT_TRUE(log_.WriteLogText("d\n"));
    EXPECT_TRUE(log_.CloseOperationLog());
    EXPECT_EQ(pdtest::ReadFileText(path), old + "a\r\nb\tc\r\nd\r\n");
    EXPECT_TRUE(reporter_.messages.empty());
}

TEST_F(OperationLogTest, UnusableNamesShow2056AndLeaveNothingOpen) {
    for (const std::string& name :
         {std::string(), dir_.path(), dir_.path() + "/missing/dir/Quorvel.log"}) {
        reporter_.Clear();
        EXPECT_FALSE(log_.OpenOperationLog(name)) << name;
        EXPECT_FALSE(log_.isOpen());
        EXPECT_EQ(reporter_.ids(), std::vector<int>{IDS_LOG_OPEN_FAILED}) << name;
        EXPECT_EQ(reporter_.messages[0].icon, MessageIcon::Error);
    }
    // A FIFO would hang the first write once its buffer is full.
    std::string fifo = dir_.path() + "/pipe.log";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    reporter_.Clear();
    EXPECT_FALSE(log_.OpenOperationLog(fifo));
    EXPECT_EQ(reporter_.ids(), std::vector<int>{IDS_LOG_OPEN_FAILED});
    // A registered program file is never written to, nor a name the settings file would
    // give back cut.
    std::string program = dir_.Write("app.hex", ":00000001FF\n");
    plat::LockedFile registered;
    ASSERT_TRUE(registered.Open(program));
    for (const std::string& name : {program, dir_.path() + "/" + std::string(260, 'L')}) {
        reporter_.Clear();
        EXPECT_FALSE(log_.OpenOperationLog(name)) << name;
        EXPECT_EQ(reporter_.ids(), std::vector<int>{IDS_LOG_OPEN_FAILED});
    }
    EXPECT_EQ(pdtest::ReadFileText(program), ":00000001FF\n");
    // Writers on a log that is not open fail like any failed write.
    reporter_.Clear();
    EXPECT_FALSE(log_.WriteLogText("x"));
    EXPECT_EQ(reporter_.ids(), std::vector<int>{IDS_LOG_WRITE_FAILED});
}

TEST_F(OperationLogTest, WriteFailuresShow2053OncePerOperationAndTheOperationGoesOn) {
    // Every write to /dev/full fails with "no space", while opening and seeking succeed.
    ASSERT_TRUE(log_.OpenOperationLog("/dev/full"));
    EXPECT_FALSE(log_.WriteLogHeader(kOperationWrite));
    EXPECT_FALSE(log_.WriteLogText("File Name: x\n"));
    EXPECT_FALSE(log_.WriteTargetLogBlock(kOperationWrite, 1));
    EXPECT_FALSE(log_.WriteTargetLogBlock(kOperationWrite, 2));
    EXPECT_EQ(reporter_.ids(), std::vector<int>{IDS_LOG_WRITE_FAILED});
    // Nothing was left buffered to fail again at closing.
    EXPECT_TRUE(log_.CloseOperationLog());
    EXPECT_EQ(reporter_.messages.size(), 1u);

    // The next operation reports its own first failure again.
    ASSERT_TRUE(log_.OpenOperationLog("/dev/full"));
    EXPECT_FALSE(log_.WriteLogHeader(kOperationVerify));
    EXPECT_FALSE(log_.WriteLogText("Checksum : 1234\n"));
    EXPECT_TRUE(log_.CloseOperationLog());
    EXPECT_EQ(reporter_.ids(), (std::vector<int>{IDS_LOG_WRITE_FAILED, IDS_LOG_WRITE_FAILED}));

    // And a good log after a bad one writes normally.
    reporter_.Clear();
    EXPECT_EQ(Logged([](OperationLog& log) { EXPECT_TRUE(log.WriteLogText("ok\n")); }), "ok\r\n");
    EXPECT_TRUE(reporter_.messages.empty());
}

TEST_F(OperationLogTest, HeaderCountsEnabledTargetsExceptForUnplug) {
    fakeapi::Fake().targets[1].enableFlg = 0;  // two of three enabled
    EXPECT_EQ(Logged([](OperationLog& log) { log.WriteLogHeader(kOperationWrite); }),
              "\r\nWrite  2026/12/06 04:50:00\r\nNumber of Target: 2\r\n");
    EXPECT_EQ(Logged([](OperationLog& log) { log.WriteLogHeader(kOperationUnplug); }),
              "\r\nUnplug  2026/12/06 04:50:00\r\nNumber of Target: 3\r\n");
    EXPECT_EQ(log_.LogHeaderText(kOperationPlug),
              "\nPlug  2026/12/06 04:50:00\nNumber of Target: 2\n");
    EXPECT_EQ(log_.LogHeaderText(kOperationVerify),
              "\nVerify  2026/12/06 04:50:00\nNumber of Target: 2\n");
    EXPECT_EQ(log_.LogHeaderText(kOperationErase),
              "\nErase  2026/12/06 04:50:00\nNumber of Target: 2\n");
    // No name for codes without one; no connection counts nothing.
    EXPECT_EQ(log_.LogHeaderText(kOperationSave), "\n2026/12/06 04:50:00\nNumber of Target: 2\n");
    fakeapi::Reset();
    EXPECT_EQ(log_.LogHeaderText(kOperationUnplug),
              "\nUnplug  2026/12/06 04:50:00\nNumber of Target: 0\n");

    // A local time that cannot be formed leaves the time empty.
    OperationLog noClock(reporter_, [](std::tm&) { return false; });
    EXPECT_EQ(noClock.LogHeaderText(kOperationErase), "\nErase  \nNumber of Target: 0\n");
}

TEST_F(OperationLogTest, DisabledTargetsHaveBlocksOnlyInPlugAndUnplug) {
    auto& t = fakeapi::Fake().targets;
    t[1].enableFlg = 0;
    t[1].devicePath = "/dev/vexil1";
    for (int op : {kOperationWrite, kOperationVerify, kOperationErase})
        EXPECT_EQ(Logged([op](OperationLog& log) { EXPECT_TRUE(log.WriteTargetLogBlock(op, 2)); }),
                  "")
            << op;
    EXPECT_EQ(Logged([](OperationLog& log) { log.WriteTargetLogBlock(kOperationUnplug, 2); }),
              "\tTarget 2: Unplug  OK\r\n");
    EXPECT_EQ(Logged([](OperationLog& log) { log.WriteTargetLogBlock(kOperationPlug, 2); }),
              "\tTarget 2: Plug  OK\r\n\t\tUSB Device Path: /dev/vexil1\r\n");
    // Enabled targets get theirs in every operation.
    EXPECT_EQ(Logged([](OperationLog& log) { log.WriteTargetLogBlock(kOperationErase, 1); }),
              "\tTarget 1: Erase  OK\r\n");
}

TEST_F(OperationLogTest, FailedTargetBlocksCarryCodeMessageAndHints) {
    auto& t = fakeapi::Fake().targets;
    t[2].status = 0x6300;
    EXPECT_EQ(log_.TargetLogBlockText(kOperationWrite, 3, std::nullopt),
              "\tTarget 3: Error:0x6300\n"
              "Failed to access the target LSI.\nCheck the user target system connected to the "
              "Vexil.\n\n");
    EXPECT_EQ(Logged([](OperationLog& log) { log.WriteTargetLogBlock(kOperationWrite, 3); }),
              Crlf(log_.TargetLogBlockText(kOperationWrite, 3, std::nullopt)));

    // Old firmware names the version the adapter has, or none when it cannot be read.
    t[0].status = 0x2004;
    t[0].firmwareText = "1.05";
    t[0].devicePath = "/dev/vexil0";
    EXPECT_EQ(log_.TargetLogBlockText(kOperationPlug, 1, std::nullopt),
              "\tTarget 1: Error:0x2004\nDifferent firmware version. Please update New "
              "Firmware.  Firmware Version: 1.05\n\t\tUSB Device Path: /dev/vexil0\n");
    t[0].firmwareText.clear();
    t[0].devicePathKnown = false;
    EXPECT_EQ(log_.TargetLogBlockText(kOperationPlug, 1, std::nullopt),
              "\tTarget 1: Error:0x2004\nDifferent firmware version. Please update New "
              "Firmware.  Firmware Version: \nUSB Device Path: \n");

    t[1].status = 0x2003;
    EXPECT_EQ(log_.TargetLogBlockText(kOperationErase, 2, std::nullopt),
              "\tTarget 2: Error:0x2003\nError acquiring firmware version.Please confirm "
              "connection to the target system.\n");
    // A code the table does not know gets the general text.
    t[1].status = 0x1234;
    EXPECT_EQ(log_.TargetLogBlockText(kOperationErase, 2, std::nullopt),
              "\tTarget 2: Error:0x1234\n" + GetErrorMessage(0xFFFF) + "\n");
    t[1].status = 0x2006;
    EXPECT_EQ(log_.TargetLogBlockText(kOperationVerify, 2, std::nullopt),
              "\tTarget 2: Error:0x2006\ndifferences were detected. \n");
}

TEST_F(OperationLogTest, SerialNumberLineOnlyForWriteWithSerialization) {
    auto& t = fakeapi::Fake().targets;
    EXPECT_EQ(log_.TargetLogBlockText(kOperationWrite, 1, "00000001"),
              "\tTarget 1: Write  OK\n\t\tSerial No: 0x00000001\n");
    t[1].status = 0x6100;
    EXPECT_EQ(log_.TargetLogBlockText(kOperationWrite, 2, "00000002"),
              "\tTarget 2: Error:0x6100\n" + GetErrorMessage(0x6100) +
                  "\n\t\tSerial No: 0x00000002 missing\n");
    // Other operations ignore the digits.
    EXPECT_EQ(log_.TargetLogBlockText(kOperationVerify, 1, "00000001"), "\tTarget 1: Verify  OK\n");
}

}  // namespace
