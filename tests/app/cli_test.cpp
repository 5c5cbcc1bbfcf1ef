// quorvel-cli without adapters: the command line, JSON strings, the console view's answers,
// the report's progress and exit status, and runs refused before anything is plugged.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "app/control_ids.h"
#include "cli_options.h"
#include "console_report.h"
#include "console_view.h"
#include "platform/file_content.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"
#include "support/cli_capture.h"
#include "support/writer_env.h"

namespace {

using namespace programdata;
using Clock = ConsoleReport::Clock;

TEST(CliOptionsTest, OffsetsInEitherFormBecomeTheFileListsText) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(ParseCliOptions(
        {"program", "--file", "a.hex@+01000H", "--file=b.hex@-0x100", "--file", "c.hex", "--loop",
         "--interval", "2.5", "--security-id", "1234 5678 9abc DEF0"},
        o, error))
        << error;
    ASSERT_EQ(o.files.size(), 3u);
    EXPECT_EQ(o.files[0].offsetText, "+01000H");
    EXPECT_EQ(o.files[1].offsetText, "-00100H");
    EXPECT_EQ(o.files[1].path, "b.hex");
    EXPECT_EQ(o.files[2].offsetText, " 00000H");
    EXPECT_EQ(o.intervalMs, 2500u);
    EXPECT_EQ(*o.securityId, (std::vector<uint16_t>{0x1234, 0x5678, 0x9ABC, 0xDEF0}));
}

// Each flag sets its own option and takes no value; --serial's number fits the serial length.
TEST(CliOptionsTest, FlagsSetTheirOwnOptionAndSerialNumbersFitTheirLength) {
    CliOptions o;
    std::string error;
    ASSERT_TRUE(ParseCliOptions(
        {"program", "--yes", "--json", "--allow-outside", "--cycles", "2", "--keep-going"}, o,
        error))
        << error;
    EXPECT_TRUE(o.yes && o.allowOutside && o.keepGoing);
    EXPECT_FALSE(o.allowInitialize || o.loop || o.serialRewind || o.force);
    ASSERT_TRUE(ParseCliOptions({"save", "1", "x.hex", "--force"}, o, error)) << error;
    EXPECT_TRUE(o.force && !o.yes);
    EXPECT_FALSE(ParseCliOptions({"write", "--allow-initialize=1"}, o, error));
    EXPECT_EQ(error, "--allow-initialize takes no value");

    std::array<uint8_t, kByteFieldSize> bytes{};
    bytes.fill(0xEE);
    ASSERT_TRUE(ParseSerialOption("1234", 4, bytes, error));
    EXPECT_EQ(FormatHexBytes(bytes, 5), "0000123400") << "right-aligned, the rest cleared";
    EXPECT_FALSE(ParseSerialOption("123456789A", 4, bytes, error));
    EXPECT_EQ(error, "--serial: \"123456789A\" is no hexadecimal number of at most 4 bytes");
    EXPECT_FALSE(ParseSerialOption("12G4", 4, bytes, error));
}

TEST(CliOptionsTest, BadCommandLinesAreRefusedWithTheirReason) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"write", "--bogus"}, "unknown option --bogus"},
        {{}, "no command"},
        {{"burn"}, "unknown command burn"},
        {{"write", "--file", "a.hex@12G"}, "offset \"12G\""},
        {{"write", "--file", "a.hex@+1000000H"}, "offset"},
        {{"save", "0", "x.hex"}, "target number from 1 to 32"},
        {{"write", "--cycles", "2"}, "program command only"},
        {{"program", "--interval", "3"}, "needs --cycles or --loop"},
        {{"program", "--security-id", "12 34 5"}, "--security-id needs"},
        {{"program", "--target"}, "--target needs a value"},
        {{"program", "--log", "a", "--log", "b"}, "given twice"},
        // The commands that write nothing take no option that could make them write.
        {{"list", "--allow-initialize"}, "--allow-initialize does not apply to list"},
        {{"list", "--file", "a.hex"}, "--file does not apply to list"},
        {{"check", "--security-id", "1234"}, "--security-id does not apply to check"},
        {{"init", "--yes"}, "--yes does not apply to init"},
        {{"write", "--force"}, "--force belongs to the save command"},
        {{"plug", "--expect-targets", "0"}, "--expect-targets needs a count from 1 to 32"},
        {{"plug", "--expect-targets", "33"}, "not \"33\""}};
    for (const auto& [args, reason] : cases) {
        CliOptions o;
        std::string error;
        EXPECT_FALSE(ParseCliOptions(args, o, error)) << reason;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

// The ID kept off the command line: from a file or the variable, an option before the variable,
// and a bad source refused without showing what it held.
TEST(CliOptionsTest, TheSecurityIdComesFromOneSourceAndABadOneIsRefusedUnseen) {
    WriterEnv env;
    const std::string file = env.WriteFile("id.txt", "1234 5678\r\n9abc DEF0\r\n");
    auto resolve = [](std::vector<std::string> args, std::string variable, CliOptions& o,
                      std::string& error) {
        args.insert(args.begin(), "plug");
        return ParseCliOptions(args, o, error) && ResolveSecurityId(o, variable, error);
    };
    CliOptions o;
    std::string error;
    const std::vector<uint16_t> id = {0x1234, 0x5678, 0x9ABC, 0xDEF0};
    EXPECT_TRUE(resolve({"--security-id-file", file}, "0000", o, error) && *o.securityId == id);
    EXPECT_TRUE(resolve({}, " 12345678\t9ABCdef0 ", o, error) && *o.securityId == id);
    EXPECT_EQ(o.securityIdSource, "QUORVEL_SECURITY_ID");
    EXPECT_TRUE(resolve({}, "", o, error) && !o.securityId) << "an empty variable: no ID";

    const std::string secret = "1234 5678 9ABC DEF";
    for (const auto& [args, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"--security-id-file", (env.root / "none").string()}, "none cannot be read"},
             {{"--security-id-file", env.root.string()}, "cannot be read"},
             {{"--security-id-file", env.WriteFile("s", secret)}, "s must hold 1 to 12 words"},
             {{"--security-id-file", env.WriteFile("b", std::string(5000, ' ') + "1234")},
              "b must"},
             {{"--security-id-file", file, "--security-id", "1234"}, "exclude each other"},
             {{}, "QUORVEL_SECURITY_ID must hold 1 to 12 words"}}) {
        EXPECT_FALSE(resolve(args, secret, o, error)) << reason;
        EXPECT_NE(error.find(reason), std::string::npos) << error;
        EXPECT_EQ(error.find("DEF"), std::string::npos) << error;
    }
}

TEST(JsonStringTest, EscapesWhatJsonForbidsAndReplacesBytesThatAreNotUtf8) {
    EXPECT_EQ(JsonString("a\"b\\c\n\t\x01\x1f"), R"("a\"b\\c\n\t\u0001\u001F")");
    EXPECT_EQ(JsonString("\xC3\xA9 \xF0\x9F\x98\x80"), "\"\xC3\xA9 \xF0\x9F\x98\x80\"");
    EXPECT_EQ(JsonString("\xFFx\xC3"), R"("\uFFFDx\uFFFD")");
    // Overlong, surrogate, beyond U+10FFFF: each byte stands alone.
    EXPECT_EQ(JsonString("\xC0\xAF"), R"("\uFFFD\uFFFD")");
    EXPECT_EQ(JsonString("\xED\xA0\x80"), R"("\uFFFD\uFFFD\uFFFD")");
    EXPECT_EQ(JsonString("\xF4\x90\x80\x80"), R"("\uFFFD\uFFFD\uFFFD\uFFFD")");
}

class ConsoleReportTest : public ::testing::Test {
  protected:
    std::FILE* err_ = std::tmpfile();
    std::FILE* screen_ = std::tmpfile();
    Clock::time_point now_{};
    ~ConsoleReportTest() override {
        std::fclose(err_);
        std::fclose(screen_);
    }
    static std::string Read(std::FILE* file) {
        std::string text(size_t(std::ftell(file)), '\0');
        std::rewind(file);
        text.resize(std::fread(text.data(), 1, text.size(), file));
        return text;
    }
    ConsoleReport Report(bool terminal) {
        return ConsoleReport(terminal ? screen_ : err_, nullptr, terminal, [this] { return now_; });
    }
    // A 20-second Write of 4000 blocks.
    void LongWrite(ConsoleReport& report) {
        for (uint32_t block = 1; block <= 4000; ++block) {
            now_ += std::chrono::milliseconds(5);
            report.OnProgress({.operation = kOperationWrite, .done = block, .total = 4000});
        }
    }
};

TEST_F(ConsoleReportTest, ALongWriteGivesALineATenthOrASecondOrOneRedrawnLine) {
    ConsoleReport plain = Report(false);
    LongWrite(plain);
    const std::string lines = Read(err_);
    const auto count = std::count(lines.begin(), lines.end(), '\n');
    EXPECT_GE(count, 10);
    EXPECT_LE(count, 31) << lines;
    EXPECT_NE(lines.find("Write: block 4000 of 4000 (100 %)"), std::string::npos);

    ConsoleReport terminal = Report(true);
    LongWrite(terminal);
    terminal.OnTargetResult(
        {.operation = kOperationWrite, .target = 1, .message = "OK", .durationMs = 20000});
    const std::string screen = Read(screen_);
    EXPECT_EQ(std::count(screen.begin(), screen.end(), '\n'), 1) << "only the result ends a line";
    EXPECT_NE(screen.find("\rWrite: block"), std::string::npos);
}

TEST_F(ConsoleReportTest, ExitStatusFollowsWhatReachedTheTargets) {
    ConsoleReport r = Report(false);
    EXPECT_EQ(r.ExitCode(), kExitNothingRan) << "no plug reached a target";
    r.OnTargetResult({.operation = kOperationPlug, .target = 1, .message = "OK", .durationMs = 1});
    r.Message("q", IDS_WRONG_SECURITY_ID, MsgIcon::Error, "", std::nullopt);
    EXPECT_EQ(r.ExitCode(), kExitSuccess) << "a wrong ID tried is no failure by itself";
    r.Message("q", IDS_DUPLICATE_ADDRESSES, MsgIcon::Error, "", std::nullopt);
    EXPECT_EQ(r.ExitCode(), kExitNothingRan) << "the files stopped Write before any block";
    r.OnTargetResult({.operation = kOperationWrite, .target = 1, .message = "OK", .durationMs = 1});
    EXPECT_EQ(r.ExitCode(), kExitFailed) << "a later command did not run";
}

TEST_F(ConsoleReportTest, VerifyProgressCountsTheFilesOfOneTarget) {
    ConsoleReport r = Report(false);
    // Target 2 of 3, second of its 2 files: 4 of 6 comparisons overall.
    OperationProgress p;
    p.operation = kOperationVerify;
    p.done = 3;
    p.total = 6;
    p.target = 2;
    p.file = "b.hex";
    p.fileNumber = 2;
    p.fileCount = 2;
    r.OnProgress(p);
    EXPECT_NE(Read(err_).find("target 2, file 2 of 2 b.hex (50 %)"), std::string::npos)
        << Read(err_);
}

// Every JSON line is stamped; messages keep their number, answer and file; the run line counts
// each board once, by its last board line in its cycle.
TEST_F(ConsoleReportTest, JsonLinesAreStampedAndTheRunLineCountsBoardsPerCycle) {
    ConsoleReport r(err_, screen_, false, [this] { return now_; },
                    {"id-1", "line7", [] { return std::string("2026-01-02T03:04:05+01:00"); }});
    r.SetCommand("write", {kOperationWrite, kOperationVerify});
    r.Message("q", IDS_INI_WRITE_FAILED, MsgIcon::Error, "Cannot write.", std::nullopt, "/s/q.ini");
    r.Message("q", IDS_SERIAL_AREA_OVERLAPS_FILES, MsgIcon::Question, "Continue?", IDCANCEL);
    r.Note("a note");
    auto result = [](int op, int target, uint32_t status, std::string serial = "") {
        TargetResult t;
        t.operation = op;
        t.target = target;
        t.serialNumber = serial;
        t.status = status;
        t.message = "m";
        return t;
    };
    OperationSummary verify;
    verify.operation = kOperationVerify;
    verify.resultText = "Verify FAILURE";
    verify.resultCode = kResultFailure;
    verify.failed = 1;
    r.BeginCycle(1);
    r.OnTargetResult(result(kOperationPlug, 1, 0));
    r.OnTargetResult(result(kOperationWrite, 1, 0, "0A"));
    r.OnTargetResult(result(kOperationWrite, 2, 0, "0B"));
    // Target 2 fails its Verify: its board fails although its Write passed.
    r.OnTargetResult(result(kOperationVerify, 1, 0));
    r.OnTargetResult(result(kOperationVerify, 2, 0x2006));
    r.OnOperationEnd({.operation = kOperationVerify,
                      .resultText = "Verify FAILURE",
                      .resultCode = kResultFailure,
                      .failed = 1});
    r.BeginCycle(2);
    r.OnTargetResult(result(kOperationWrite, 1, 0, "0C"));
    EXPECT_EQ(r.Finish(), kExitFailed);
    const std::string out = Read(screen_);
    EXPECT_NE(out.find("{\"schema\":1,\"type\":\"message\",\"run_id\":\"id-1\",\"time\":"
                       "\"2026-01-02T03:04:05+01:00\",\"host\":\"line7\",\"number\":2072,"
                       "\"icon\":\"error\",\"text\":\"Cannot write.\",\"file\":\"/s/q.ini\"}"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"number\":2069,\"icon\":\"question\",\"text\":\"Continue?\","
                       "\"answer\":\"cancel\"}"),
              std::string::npos);
    EXPECT_NE(out.find("\"number\":null,\"icon\":\"note\",\"text\":\"a note\""), std::string::npos);
    EXPECT_NE(out.find("\"cycle\":2,\"operation\":\"write\""), std::string::npos);
    EXPECT_NE(out.find("\"outcome\":\"failure\""), std::string::npos);
    EXPECT_NE(out.find("\"status\":8198,\"status_hex\":\"0x2006\""), std::string::npos);
    EXPECT_NE(out.find("\"type\":\"run\",\"run_id\":\"id-1\",\"time\":\"2026-01-02T03:04:05+"
                       "01:00\",\"host\":\"line7\",\"command\":\"write\",\"cycles\":2,"
                       "\"passed\":2,\"failed\":1,\"yield\":66.7,\"serial_first\":\"0A\","
                       "\"serial_last\":\"0C\",\"exit_code\":1}\n"),
              std::string::npos)
        << out;
    // The file is named on the line for a person too.
    EXPECT_NE(Read(err_).find("error 2072: Cannot write. (/s/q.ini)"), std::string::npos);
}

TEST(ConsoleViewTest, QuestionsAnswerCancelUnlessYesCoversThemAndLockedTargetsFollowTheFlags) {
    ConsoleReport report(std::tmpfile(), nullptr, false);
    auto question = [](uint32_t id) {
        return MessageBoxSpec{id, std::string(GetStringText(id)), "q", MsgIcon::Question,
                              MsgButtons::OkCancel};
    };
    ConsoleView plain({}, report);
    EXPECT_EQ(plain.MessageBox(question(IDS_SERIAL_AREA_OVERLAPS_FILES)), IDCANCEL);
    EXPECT_EQ(plain.RunSecurityIdDialog({1, true}).button, IDSKIP);
    ConsoleView yes({true, std::vector<uint16_t>{0x1234, 0xABCD}, true}, report);
    EXPECT_EQ(yes.MessageBox(question(IDS_SERIAL_AREA_OVERLAPS_FILES)), IDOK);
    EXPECT_EQ(yes.MessageBox(question(IDS_SERIAL_OVERFLOW)), IDCANCEL);

    // The given ID once per target and plug, then Initialize where the security type allows.
    SecurityIdResult r = yes.RunSecurityIdDialog({3, true});
    EXPECT_EQ(std::make_pair(r.button, r.choice), std::make_pair(IDOK, 0));
    EXPECT_EQ(r.fields[1] + r.fields[2], "ABCD    ");
    r = yes.RunSecurityIdDialog({3, true});
    EXPECT_EQ(std::make_pair(r.button, r.choice), std::make_pair(IDOK, 1));
    EXPECT_EQ(yes.RunSecurityIdDialog({4, false}).choice, 0);
    EXPECT_EQ(yes.RunSecurityIdDialog({4, false}).button, IDSKIP) << "security type 1";
    yes.OnOperationStart(kOperationPlug);
    EXPECT_EQ(yes.RunSecurityIdDialog({3, true}).choice, 0);
}

// Runs that must end before anything is plugged: exit 2 with one line telling why, and the
// settings file as it was.
class CliRefusalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        env_.WriteTrg({"QX16A064"});
        env_.WriteIni("[Settings]\r\nTRGNAME=QX16A064\r\n");
        good_ = env_.WriteFile("good.hex", HexFile(0x10, {1, 2, 3}));
    }
    // secret: a text that may appear on neither output.
    void ExpectRefused(const std::vector<std::string>& args, const std::string& reason,
                       const std::optional<std::string>& securityIdVariable = std::nullopt,
                       const std::string& secret = std::string()) {
        const std::string before = env_.IniContent();
        const CliCapture run = RunCliInProcess(args, env_.lock, nullptr, securityIdVariable);
        EXPECT_EQ(run.code, 2) << run.err;
        EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
        EXPECT_NE(run.err.find(reason), std::string::npos) << run.err;
        EXPECT_EQ(env_.IniContent(), before);
        EXPECT_EQ(env_.lock.held, 0);
        // With --json the same line is a message event, and the run line tells exit 2.
        std::vector<std::string> json = args;
        json.push_back("--json");
        const CliCapture lines = RunCliInProcess(json, env_.lock, nullptr, securityIdVariable);
        EXPECT_EQ(lines.code, 2);
        EXPECT_NE(lines.out.find("\"type\":\"message\""), std::string::npos) << reason;
        EXPECT_NE(lines.out.find("\"icon\":\"error\""), std::string::npos) << lines.out;
        EXPECT_NE(lines.out.rfind("\"exit_code\":2}\n"), std::string::npos) << lines.out;
        EXPECT_EQ(env_.IniContent(), before);
        if (!secret.empty()) {
            for (const std::string& text : {run.err, run.out, lines.err, lines.out})
                EXPECT_EQ(text.find(secret), std::string::npos) << text;
        }
    }
    WriterEnv env_;
    std::string good_;
};

TEST_F(CliRefusalTest, BadInputEndsWithOneLine) {
    ExpectRefused({"write", "--file", (env_.root / "missing.hex").string()},
                  "missing.hex could not be opened.");
    ExpectRefused({"write", "--file", env_.WriteFile("bad.hex", ":10ZZ\n")}, "bad.hex");
    ExpectRefused({"write", "--file", good_ + "@0x12G"}, "offset \"0x12G\"");
    ExpectRefused({"write", "--target", "QX99", "--file", good_},
                  "unknown target QX99 (the TRG files name: QX16A064)");
    ExpectRefused({"program", "--file", good_, "--command", (env_.root / "no.cd8").string()},
                  "no.cd8 could not be opened.");
    ExpectRefused({"verify"}, "no program file");
    ExpectRefused({"write", "--serial", "5"}, "serialization is off");
    ExpectRefused({"plug", "--settings", (env_.root / "none.ini").string()}, "cannot be read");
    ExpectRefused({"plug", "--security-id-file", (env_.root / "id").string()}, "cannot be read");
    ExpectRefused({"plug"}, "QUORVEL_SECURITY_ID must hold", "12G4", "12G4");
    ExpectRefused({"plug", "--security-id", "5A5A 12G4"}, "--security-id needs", std::nullopt,
                  "5A5A");
    // Data the flash cannot hold is no note to a line: refused unless it may be dropped.
    ExpectRefused({"write", "--file", good_ + "@0xFFF0"}, "error 2080: ");
    const CliCapture dropped =
        RunCliInProcess({"write", "--file", good_ + "@0xFFF0", "--allow-outside"}, env_.lock);
    EXPECT_NE(dropped.err.find("note 2080: "), std::string::npos) << dropped.err;
    EXPECT_NE(dropped.err.find("error 193: "), std::string::npos) << "it went on to plug";
}

TEST_F(CliRefusalTest, ARefusalIsAJsonMessageAndARunLineToo) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"write", "--json", "--bogus"}, {"save", "1", good_, "--json"}}) {
        const CliCapture run = RunCliInProcess(args, env_.lock);
        EXPECT_EQ(run.code, 2) << run.err;
        EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '\n'), 2) << run.out;
        EXPECT_NE(run.out.find("\"type\":\"message\""), std::string::npos) << run.out;
        EXPECT_NE(run.out.find("\"icon\":\"error\""), std::string::npos);
        EXPECT_NE(run.out.find("\"exit_code\":2}"), std::string::npos);
    }
    // save asks nothing: an existing file is replaced only when told.
    EXPECT_NE(RunCliInProcess({"save", "1", good_}, env_.lock).err.find("exists (--force"),
              std::string::npos);
    EXPECT_EQ(RunCliInProcess({"save", "1", good_, "--force"}, env_.lock).code, 2)
        << "on to the plug, which finds no adapter";
}

TEST_F(CliRefusalTest, ASettingsFileThatCannotBeWrittenIsRefused) {
    // Writes replace the file through one beside it; here that lies on a read-only system.
    const auto link = env_.root / "Quorvel.ini";
    std::filesystem::create_symlink("/proc/version", link);
    ExpectRefused({"plug", "--settings", link.string()}, "cannot be written");
}

}  // namespace

namespace {

// init and check work without adapters: the file they make, the report they give.
class CliFilesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        // Block size 2048; the areas leave 0-3FFH and 2000H-23FFH read-only.
        env_.WriteTrg({"QX16A064", 0x1C083032, 0x60010000, 0, {{0x400, 0x1FFF}, {0x2400, 0x7FFF}}});
        env_.WriteTrg({"QXOTHER", 0x1C083033, 0x60010000, 0, {{0, 0x7FFF}}});
    }
    CliCapture Run(std::vector<std::string> args) { return RunCliInProcess(args, env_.lock); }
    WriterEnv env_;
};

TEST_F(CliFilesTest, InitWritesEveryKeyOnceAndNeverReplacesAFile) {
    const std::string settings = (env_.root / "line" / "q.ini").string();
    std::filesystem::create_directory(env_.root / "line");
    const std::string hex = env_.WriteFile("p.hex", HexFile(0x500, {1, 2}));
    const CliCapture made =
        Run({"init", "--settings", settings, "--target", "qx16a064", "--file", hex + "@0x100"});
    ASSERT_EQ(made.code, 0) << made.err;
    std::string text;
    uint32_t error = 0;
    ASSERT_EQ(plat::ReadWholeFile(settings, text, error), plat::ReadOutcome::Read);
    EXPECT_EQ(
        text,
        "; Quorvel settings. Every key: docs/settings.md\r\n[Settings]\r\nTRGNAME=QX16A064\r\n"
        "FILENUM=1\r\nFILENAME0=" +
            hex +
            "\r\nOFFSET0=+00100H\r\nLOGFILENAME=\r\n"
            "COMFILENAME=\r\nMODE=1\r\nFILLTYPE=0\r\nSERIALNUMFLG=0\r\nSERIALNUM=00000001\r\n"
            "SERIALNUMINC=00000001\r\nSERIALNUMLEN=4\r\nSERIALNUMINCLEN=4\r\n"
            "SERIALNUMADDR=0x00000\r\nSECUREIDSIZE=0\r\nRECORDFLG=1\r\nRECORDFILENAME=\r\n");
    EXPECT_EQ(std::filesystem::status(settings).permissions() & std::filesystem::perms::group_read,
              std::filesystem::perms::none);
    ASSERT_EQ(plat::ReadWholeFile((env_.root / "line" / "Write_Verify.cd8").string(), text, error),
              plat::ReadOutcome::Read);
    EXPECT_EQ(text, "WRITE\r\nVERIFY\r\n");

    // The defaults lie beside that file: check names its log there.
    const CliCapture check = Run({"check", "--settings", settings});
    EXPECT_NE(check.err.find("log " + (env_.root / "line" / "Quorvel.log").string()),
              std::string::npos)
        << check.err;

    // An existing file, a bad program file, an unknown target: nothing is written.
    const std::string other = (env_.root / "line" / "r.ini").string();
    for (const auto& [args, reason] : std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"init", "--settings", settings}, "exists: init never replaces one"},
             {{"init", "--settings", other, "--file", hex + "x"}, "could not be opened"},
             {{"init", "--settings", other, "--target", "QX99"}, "unknown target QX99"}}) {
        const CliCapture refused = Run(args);
        EXPECT_EQ(refused.code, 2) << reason;
        EXPECT_NE(refused.err.find(reason), std::string::npos) << refused.err;
    }
    EXPECT_FALSE(std::filesystem::exists(other));
    ASSERT_EQ(plat::ReadWholeFile(settings, text, error), plat::ReadOutcome::Read);
    EXPECT_NE(text.find("OFFSET0=+00100H"), std::string::npos) << "left as it was";
}

TEST_F(CliFilesTest, CheckTellsWhereDataLandsWhatTheEraseLosesAndTheNextSerialNumbers) {
    env_.WriteIni(
        "[Settings]\r\nTRGNAME=QX16A064\r\nSERIALNUMFLG=1\r\nSERIALNUM=000000FE\r\n"
        "SERIALNUMADDR=0x07000\r\n");
    const std::string before = env_.IniContent();
    const std::string a = env_.WriteFile("a.hex", HexFile(0x500, {1, 2, 3, 4}));
    const CliCapture good = Run({"check", "--file", a, "--expect-targets", "3", "--json"});
    EXPECT_EQ(good.code, 0) << good.err;
    EXPECT_NE(good.err.find("00500H-00503H area 1"), std::string::npos) << good.err;
    EXPECT_NE(good.err.find("Write erases 00000H-003FFH (read-only) with block 00000H-007FFH"),
              std::string::npos);
    EXPECT_NE(good.err.find("Write erases 02000H-023FFH (read-only) with block 02000H-027FFH"),
              std::string::npos);
    EXPECT_NE(good.err.find("000000FE (board 1) to 00000100 (board 3), then 00000101 is stored"),
              std::string::npos);
    EXPECT_NE(good.out.find("\"boards\":[\"000000FE\",\"000000FF\",\"00000100\"]"),
              std::string::npos)
        << good.out;
    EXPECT_NE(good.out.find("\"write_would_start\":true"), std::string::npos);
    EXPECT_EQ(env_.IniContent(), before) << "check takes no serial number";

    // What a Write refuses, check refuses with the same message: data in a read-only range,
    // the serial number on a program file (a question answered Cancel), two files on one byte
    // (refused as the list takes them), a number that wrapped when it was taken.
    const std::string gap = env_.WriteFile("g.hex", HexFile(0x300, {1}));
    const std::string onSerial = env_.WriteFile("s.hex", HexFile(0x7000, {1}));
    const std::string twin = env_.WriteFile("t.hex", HexFile(0x502, {9}));
    for (const auto& [args, message] :
         std::vector<std::pair<std::vector<std::string>, std::string>>{
             {{"check", "--file", gap}, "error 2080: "},
             {{"check", "--file", onSerial}, "question 2069: "},
             {{"check", "--file", a, "--file", twin}, "error 163: "}}) {
        const CliCapture refused = Run(args);
        EXPECT_EQ(refused.code, 2) << message;
        EXPECT_NE(refused.err.find(message), std::string::npos) << refused.err;
        EXPECT_NE(refused.err.find("A Write would refuse"), std::string::npos) << refused.err;
    }
    EXPECT_EQ(Run({"check", "--file", gap, "--allow-outside"}).code, 0);
    EXPECT_EQ(Run({"check", "--file", onSerial, "--yes"}).code, 0);
    env_.WriteIni(before + "SERIALNUMOVF=1\r\n");
    EXPECT_NE(Run({"check", "--file", a}).err.find("question 2066: "), std::string::npos);
    // A start the run chooses is a fresh one.
    const CliCapture chosen = Run({"check", "--file", a, "--serial", "200"});
    EXPECT_EQ(chosen.code, 0) << chosen.err;
    EXPECT_NE(chosen.err.find(": 00000200 (board 1)"), std::string::npos) << chosen.err;
    // With a line, the pool gives the numbers: the local number and its mark do not count.
    env_.WriteIni(before + "SERIALNUMOVF=1\r\nLINEDB=host=/nowhere\r\nSERIALPOOL=main\r\n");
    const CliCapture line = Run({"check", "--file", a, "--json"});
    EXPECT_EQ(line.code, 0) << line.err;
    EXPECT_NE(line.err.find("from the line's pool \"main\""), std::string::npos) << line.err;
    EXPECT_NE(line.out.find("\"boards\":[],\"next\":null"), std::string::npos) << line.out;
}

}  // namespace
