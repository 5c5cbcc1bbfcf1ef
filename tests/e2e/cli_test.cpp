// quorvel-cli against vexil-sim: the process (no display, no Qt linked) and its runner in this
// process.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <regex>

#include "app/control_ids.h"
#include "platform/kernel_object.h"
#include "platform/named_mutex.h"
#include "support/cli_capture.h"
#include "support/cli_process.h"
#include "support/writer_rig.h"

namespace {

using namespace e2e;

constexpr const char* kFast =
    "[DEFAULTS]\nTRG=QX16A064\nLATENCY_US=0\nERASE_BLOCK_US=0\n"
    "WRITE_BYTE_NS=0\nFLASH=FILL 00\n";

std::string ReadText(const std::string& path) {
    const auto bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::vector<uint8_t>> Dumps(WriterRig& rig, int count) {
    EXPECT_TRUE(rig.sim->Dump());
    std::vector<std::vector<uint8_t>> dumps;
    for (int n = 1; n <= count; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "vexil-%02d", n);
        dumps.push_back(ReadBytes(rig.sim->DumpPath(name)));
    }
    return dumps;
}

std::string WithoutTimes(const std::string& log) {
    static const std::regex stamp(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2})");
    return std::regex_replace(log, stamp, "<time>");
}

// What a command prints; a failing command fails the test.
std::string Output(const std::string& command) {
    std::string text;
    FILE* p = ::popen(command.c_str(), "r");
    for (char line[256]; p != nullptr && std::fgets(line, sizeof line, p) != nullptr;)
        text += line;
    EXPECT_TRUE(p != nullptr && ::pclose(p) == 0) << command;
    return text;
}

// A settings file for the command line beside the window's, with its own log.
std::string CliSettings(WriterRig& rig, const std::string& keys) {
    const std::string path = rig.dir / "cli.ini";
    WriteText(path, "[Settings]\r\nTRGNAME=QX16A064\r\nLOGFILENAME=" + (rig.dir / "cli.log") +
                        "\r\n" + keys);
    return path;
}

TEST(CliE2eTest, AProgramCycleLeavesTheSameLogAndFlashAsTheWindow) {
    WriterRig rig;
    const std::string a = rig.env.WriteFile("a.hex", HexFile(0x100, {1, 2, 3, 4, 5}));
    const std::string b = rig.env.WriteFile("b.hex", HexFile(0x20, {0xA5, 0x5A}));
    const std::string commands = rig.env.WriteFile("cycle.cd8", " write\n\nVerify\n");
    const std::string keys =
        "FILENUM=2\r\nFILENAME0=" + a + "\r\nOFFSET0=+01000H\r\nFILENAME1=" + b +
        "\r\nOFFSET1= 00000H\r\nCOMFILENAME=" + commands +
        "\r\nSERIALNUMFLG=1\r\nSERIALNUM=000000FE\r\nSERIALNUMADDR=0x08000\r\n";
    rig.env.WriteIni("[Settings]\r\nTRGNAME=QX16A064\r\n" + keys);
    const std::string settings = CliSettings(rig, keys);
    // Three good adapters and one whose firmware is too old.
    const std::string adapters =
        std::string(kFast) + "[ADAPTER1]\nCOUNT=3\n[ADAPTER2]\nFIRMWARE=1.05\n";
    std::string error;
    ASSERT_TRUE(rig.Start(adapters, 2, error)) << error;
    FakeDialogView view;
    rig.Run(view, [](CQuorvelDlg&, DialogEvents& e) { e.OnCommand(IDC_PROGRAM); });
    const auto window = Dumps(rig, 4);

    rig.sim.reset();
    ASSERT_TRUE(rig.Start(adapters, 2, error)) << error;
    const CliResult cli = RunCli({"program", "--settings", settings}, rig.dir.path());
    EXPECT_EQ(cli.code, 1) << cli.output;
    EXPECT_TRUE(Dumps(rig, 4) == window) << "the flash differs from the window's";
    EXPECT_EQ(window[2][0x1102], 0x03);
    EXPECT_NE(rig.LogText().find("\tTarget 3: Write  OK\r\n\t\tSerial No: 0x00000100\r\n"),
              std::string::npos)
        << rig.LogText();
    EXPECT_EQ(WithoutTimes(ReadText(rig.dir / "cli.log")), WithoutTimes(rig.LogText()));
    const std::string dynamic = Output("readelf -d " + CliPath());
    EXPECT_NE(dynamic.find("libbrindlex.so"), std::string::npos) << dynamic;
    EXPECT_EQ(dynamic.find("Qt"), std::string::npos) << "no Qt library is linked";
}

// The JSON lines of a run, checked against the documented schema (tests/e2e/json_lines.py),
// as "type operation target-or-result status-or-failed serial" lines.
std::string JsonDigest(const std::string& jsonLines, const TempDir& dir, int exitCode = -1) {
    WriteText(dir / "lines.json", jsonLines);
    return Output("python3 " + ExampleDir() + "/../tests/e2e/json_lines.py " +
                  (dir / "lines.json") + (exitCode >= 0 ? " " + std::to_string(exitCode) : ""));
}

TEST(CliE2eTest, JsonLinesAndTheExitStatusForGoodFaultyAndMissingAdapters) {
    WriterRig rig;
    rig.env.WriteIni(
        "[Settings]\r\nTRGNAME=QX08C032\r\nMODE=1\r\nSERIALNUMFLG=1\r\nSERIALNUM=00000001\r\n"
        "SERIALNUMADDR=0x08000\r\n");
    const std::vector<std::string> write = {
        "write",    "--json",
        "--target", "QX16A064",
        "--file",   rig.env.WriteFile("p.hex", HexFile(0x10, {0x12})) + "@0x100",
        "--log",    rig.dir / "run.log",
        "--serial", "10"};
    std::string error;
    ASSERT_TRUE(rig.Start(std::string(kFast) + "[ADAPTER1]\nCOUNT=2\n", 1, error)) << error;
    const CliCapture good = RunCliInProcess(write, rig.env.lock);
    EXPECT_EQ(good.code, 0) << good.err;
    EXPECT_EQ(JsonDigest(good.out, rig.dir, good.code),
              "target plug 1 0 \ntarget plug 2 0 \nsummary plug SUCCESS 0 \n"
              "target write 1 0 00000010\ntarget write 2 0 00000011\nsummary write SUCCESS 0 \n"
              "target unplug 1 0 \ntarget unplug 2 0 \nsummary unplug SUCCESS 0 \n"
              "run 1 2 0 0\n");
    EXPECT_NE(good.out.find("\"serial_first\":\"00000010\",\"serial_last\":\"00000011\""),
              std::string::npos)
        << good.out;
    // The run's target, file and log stay out of the settings; the serial number goes on.
    EXPECT_EQ(rig.env.Key("TRGNAME"), "QX08C032");
    EXPECT_EQ(rig.env.Key("FILENUM"), "<missing>");
    EXPECT_EQ(rig.env.Key("LOGFILENAME"), "<missing>");
    EXPECT_EQ(rig.env.Key("SERIALNUM"), "00000012");
    EXPECT_NE(ReadText(rig.dir / "run.log").find("Offset   : +00100H\r\n"), std::string::npos);
    // One target's flash to a file.
    const CliCapture saved = RunCliInProcess(
        {"save", "2", rig.dir / "t2.hex", "--json", "--target=QX16A064"}, rig.env.lock);
    EXPECT_EQ(saved.code, 0) << saved.err;
    EXPECT_NE(JsonDigest(saved.out, rig.dir).find("target save 2 0 \nsummary save Save SUCCESS 0"),
              std::string::npos);
    EXPECT_NE(ReadText(rig.dir / "t2.hex").find(":1001100012FFFFFF"), std::string::npos);

    // A start below the stored number could repeat numbers: refused, nothing stored.
    const CliCapture behind = RunCliInProcess(write, rig.env.lock);
    EXPECT_EQ(behind.code, 2) << behind.err;
    EXPECT_NE(behind.err.find("below the next stored number 00000012"), std::string::npos);
    EXPECT_EQ(rig.env.Key("SERIALNUM"), "00000012");

    rig.sim.reset();
    ASSERT_TRUE(rig.Start(
        std::string(kFast) + "[ADAPTER1]\nCOUNT=3\n[ADAPTER2]\nFAULT1=STATUS 6305 ON write-flash\n",
        2, error))
        << error;
    std::vector<std::string> onward(write.begin(), write.end() - 2);
    const CliCapture faulty = RunCliInProcess(onward, rig.env.lock);
    EXPECT_EQ(faulty.code, 1) << faulty.err;
    const std::string digest = JsonDigest(faulty.out, rig.dir, faulty.code);
    EXPECT_NE(digest.find("target write 4 25349 00000015\n"), std::string::npos) << digest;
    EXPECT_NE(digest.find("summary write FAILURE 1 \n"), std::string::npos) << digest;
    EXPECT_NE(digest.find("run 1 3 1 1\n"), std::string::npos) << digest;
    EXPECT_NE(faulty.out.find("\"status_hex\":\"0x6305\""), std::string::npos);

    // --serial is stored only when a Write takes its numbers: a run that cannot plug keeps it.
    rig.sim.reset();
    onward.insert(onward.end(), {"--serial", "20"});
    const CliCapture none = RunCliInProcess(onward, rig.env.lock);
    EXPECT_EQ(none.code, 2) << none.err;
    EXPECT_NE(none.err.find("Vexil is not connected."), std::string::npos) << none.err;
    EXPECT_EQ(rig.env.Key("SERIALNUM"), "00000016");
}

TEST(CliE2eTest, CyclesWaitForEnterAndEndWithTheInput) {
    WriterRig rig;
    const std::string settings = CliSettings(
        rig, "FILENUM=1\r\nFILENAME0=" + rig.env.WriteFile("p.hex", HexFile(0x10, {0x12})) +
                 "\r\nCOMFILENAME=" + rig.env.WriteFile("w.cd8", "WRITE\n") + "\r\n");
    std::string error;
    ASSERT_TRUE(rig.Start(std::string(kFast) + "[ADAPTER1]\n", 1, error)) << error;
    std::vector<bool> waits;  // whether each wait was for a line
    const CliCapture run = RunCliInProcess(
        {"program", "--settings", settings, "--cycles", "5"}, rig.env.lock,
        [&waits](bool readLine, uint32_t) {
            waits.push_back(readLine);
            return waits.size() < 2 ? plat::ConsoleWait::Line : plat::ConsoleWait::EndOfInput;
        });
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_EQ(waits, (std::vector<bool>{true, true}));
    EXPECT_NE(run.err.find("standard input ended while waiting for Enter, 2 of 5 cycles run"),
              std::string::npos)
        << run.err;
    const std::string log = ReadText(rig.dir / "cli.log");
    EXPECT_NE(log.find("\r\nWrite  "), log.rfind("\r\nWrite  ")) << "two cycles";
}

// Boards programmed without their record line cannot be accounted for: the run says so and
// stops after that cycle, unless told to go on.
TEST(CliE2eTest, ARecordThatCannotBeWrittenStopsTheCyclesUnlessKeepGoing) {
    WriterRig rig;
    const std::string settings = CliSettings(
        rig, "FILENUM=1\r\nFILENAME0=" + rig.env.WriteFile("p.hex", HexFile(0x10, {0x12})) +
                 "\r\nCOMFILENAME=" + rig.env.WriteFile("w.cd8", "WRITE\n") +
                 "\r\nRECORDFILENAME=" + rig.dir.path() + "\r\n");
    std::string error;
    ASSERT_TRUE(rig.Start(std::string(kFast) + "[ADAPTER1]\n", 1, error)) << error;
    for (bool keepGoing : {false, true}) {
        std::vector<std::string> args = {"program", "--settings", settings, "--cycles",
                                         "3",       "--interval", "0",      "--json"};
        if (keepGoing)
            args.push_back("--keep-going");
        const CliCapture run = RunCliInProcess(
            args, rig.env.lock, [](bool, uint32_t) { return plat::ConsoleWait::TimeUp; });
        EXPECT_EQ(run.code, 1) << run.err;
        EXPECT_NE(run.err.find("Program: SUCCESS, 1 passed, 0 failed"), std::string::npos);
        EXPECT_NE(run.err.find(", record not written"), std::string::npos) << run.err;
        EXPECT_NE(run.out.find("\"operation\":\"program\""), std::string::npos);
        EXPECT_NE(run.out.find("\"record\":\"failed\""), std::string::npos) << run.out;
        const std::string log = ReadText(rig.dir / "cli.log");
        int writes = 0;
        for (size_t at = log.find("\r\nWrite  "); at != std::string::npos;
             at = log.find("\r\nWrite  ", at + 1))
            ++writes;
        EXPECT_EQ(writes, keepGoing ? 4 : 1) << "the first run stops after its first cycle";
    }
}

TEST(CliE2eTest, AnInterruptStopsWriteAtABlockUnplugsAndTheAdaptersStayFree) {
    WriterRig rig;
    const std::string settings = CliSettings(
        rig,
        "FILENUM=1\r\nFILENAME0=" + rig.env.WriteFile("p.hex", HexFile(0x10, {0x12})) + "\r\n");
    std::string error;
    ASSERT_TRUE(
        rig.Start(std::string(kFast) + "[ADAPTER1]\nCOUNT=2\nERASE_BLOCK_US=400000\n", 1, error))
        << error;
    // One interrupt: Write stops at the next block and the targets are unplugged. Two: the
    // program ends at once. Either way the next run finds the adapters free.
    for (int signals : {1, 2}) {
        CliProcess cli({"write", "--settings", settings}, rig.dir.path());
        ASSERT_TRUE(cli.WaitFor("Write: block 1 of 8")) << cli.output();
        for (int i = 0; i < signals; ++i)
            cli.Signal(SIGINT);
        EXPECT_EQ(cli.Wait(), 1) << cli.output();
        if (signals == 1) {
            const std::string log = ReadText(rig.dir / "cli.log");
            EXPECT_NE(log.find("Filling Data: 0xFF\r\nProcessing has canceled!!\r\n\r\nUnplug  "),
                      std::string::npos)
                << log;
            EXPECT_NE(cli.output().find("Write: STOP"), std::string::npos) << cli.output();
            const auto flash = Dumps(rig, 1)[0];
            EXPECT_EQ(flash[0x10], 0x12);
            EXPECT_EQ(flash[0xE000], 0x00) << "the last block is never reached";
        }
        const CliResult next = RunCli({"plug", "--settings", settings}, rig.dir.path());
        EXPECT_EQ(next.code, 0) << next.output;
    }
}

TEST(CliE2eTest, WhileAnotherProgramHoldsTheAdaptersNothingRuns) {
    WriterRig rig;
    const std::string settings = CliSettings(rig, "");
    std::string error;
    ASSERT_TRUE(rig.Start(std::string(kFast) + "[ADAPTER1]\n", 1, error)) << error;
    // As the window holds it while plugged. Owned by waiting: another program may have the
    // name open (an idle window), and then creating it grants no ownership.
    plat::HANDLE held = plat::CreateMutexA(nullptr, false, "Vexil");
    ASSERT_NE(held, nullptr);
    const uint32_t owned = plat::WaitForSingleObject(held, 30000);
    ASSERT_TRUE(owned == plat::WAIT_OBJECT_0 || owned == plat::WAIT_ABANDONED) << owned;
    const CliResult blocked = RunCli({"plug", "--settings", settings}, rig.dir.path());
    EXPECT_EQ(blocked.code, 2);
    EXPECT_NE(blocked.output.find("another program holds the adapters"), std::string::npos)
        << blocked.output;
    // 193 shares its text: the line names the message that was shown.
    EXPECT_NE(blocked.output.find("error 2039: "), std::string::npos) << blocked.output;
    EXPECT_EQ(ReadText(rig.dir / "cli.log").find("Plug  "), std::string::npos);
    plat::ReleaseMutex(held);
    plat::CloseHandle(held);
    const CliResult free = RunCli({"plug", "--settings", settings}, rig.dir.path());
    EXPECT_EQ(free.code, 0) << free.output;
}

// A lock directory made first by someone else blocks no plug; with the home directory's refused
// as well, the run names both and why, and a directory put right counts at the next plug.
TEST(CliE2eTest, APlantedLockDirectoryBlocksNoPlugAndARefusedOneIsNamed) {
    WriterRig rig;
    const std::string settings = CliSettings(rig, "");
    std::string error;
    ASSERT_TRUE(rig.Start(std::string(kFast) + "[ADAPTER1]\n", 1, error)) << error;
    const std::string runtime = rig.dir / "run", home = rig.dir / "home";
    const std::string planted = runtime + "/quorvel-locks";
    for (const std::string& d : {runtime, home, planted})
        ASSERT_EQ(::mkdir(d.c_str(), 0700), 0) << d;
    ASSERT_EQ(::chmod(planted.c_str(), 0777), 0);
    // Another user's where the test may give it away (as root), open to everyone in any case.
    const bool root = ::geteuid() == 0 && ::chown(planted.c_str(), 65534, 65534) == 0;
    plat::SetLockDirectoryPlacesForTesting(runtime, home);
    {
        NamedAdapterMutex vexil;
        EXPECT_EQ(RunCliInProcess({"plug", "--settings", settings}, vexil).code, 0);
    }
    ASSERT_FALSE(std::filesystem::is_empty(home));
    const std::string made = std::filesystem::directory_iterator(home)->path().string();
    EXPECT_EQ(made.rfind(home + "/.quorvel-locks-", 0), 0u) << made;

    ASSERT_EQ(::chmod(made.c_str(), 0777), 0);
    NamedAdapterMutex vexil;
    const CliCapture refused = RunCliInProcess({"plug", "--settings", settings}, vexil);
    EXPECT_EQ(refused.code, 2);
    const std::string why = planted +
                            (root ? " belongs to user 65534" : " is writable by group or others") +
                            "; " + made + " is writable by group or others";
    EXPECT_NE(refused.err.find(why), std::string::npos) << refused.err;
    EXPECT_NE(ReadText(rig.dir / "cli.log").find(why), std::string::npos) << "the log says it too";
    ASSERT_EQ(::chmod(made.c_str(), 0700), 0);
    EXPECT_EQ(RunCliInProcess({"plug", "--settings", settings}, vexil).code, 0) << "no restart";
    plat::SetLockDirectoryPlacesForTesting("", "");
}

// list: every adapter with what the plug found; a protected target gets only an ID given for
// this run (not the one the settings remember), and nothing is erased or written.
TEST(CliE2eTest, ListTellsEachAdapterAndSendsOnlyAGivenSecurityId) {
    WriterRig rig;
    const std::string settings = CliSettings(rig, "SECUREIDSIZE=4\r\nSECUREID=12345678\r\n");
    std::string error;
    ASSERT_TRUE(rig.Start(std::string(kFast) +
                              "[ADAPTER1]\n[ADAPTER2]\nPROTECTED=1\nSECURITYID=1234 5678\n"
                              "[ADAPTER3]\nTRG=QX08C032\n[ADAPTER4]\nFIRMWARE=1.05\n",
                          4, error))
        << error;
    const auto flash = Dumps(rig, 4);
    const CliCapture locked =
        RunCliInProcess({"list", "--settings", settings, "--json"}, rig.env.lock);
    EXPECT_EQ(locked.code, 1) << "not every adapter plugged";
    const std::string digest = JsonDigest(locked.out, rig.dir, locked.code);
    EXPECT_NE(digest.find("adapter 1 16064 0 none\nadapter 2 16064 8197 locked\n"
                          "adapter 3 08032 8194 unknown\nadapter 4 16064 8196 unknown\n"),
              std::string::npos)
        << digest;
    EXPECT_NE(locked.out.find("\"firmware\":\"1.05\",\"chip_name\":\"16064\",\"matches\":true"),
              std::string::npos);
    EXPECT_NE(locked.out.find("\"firmware\":null,\"chip_name\":\"08032\",\"matches\":false"),
              std::string::npos);
    EXPECT_NE(locked.err.find("Adapter 3: " + rig.sim->deviceDir() + "/vexil-03"),
              std::string::npos)
        << locked.err;
    const CliCapture given = RunCliInProcess(
        {"list", "--settings", settings, "--security-id", "1234 5678"}, rig.env.lock);
    EXPECT_NE(given.err.find("protection unlocked, Plug OK"), std::string::npos) << given.err;
    EXPECT_TRUE(Dumps(rig, 4) == flash) << "list erases and writes nothing";
}

// A fixture with an adapter missing stops before anything is plugged: one line, a message
// event, exit 2, and the flash as it was.
TEST(CliE2eTest, ExpectTargetsStopsAFixtureWithAnAdapterMissing) {
    WriterRig rig;
    const std::string settings = CliSettings(
        rig, "FILENUM=1\r\nFILENAME0=" + rig.env.WriteFile("p.hex", HexFile(0x10, {0x12})) +
                 "\r\nCOMFILENAME=" + rig.env.WriteFile("w.cd8", "WRITE\n") + "\r\n");
    std::string error;
    ASSERT_TRUE(rig.Start(std::string(kFast) + "[ADAPTER1]\nCOUNT=3\n", 1, error)) << error;
    const CliCapture missing = RunCliInProcess(
        {"program", "--settings", settings, "--expect-targets", "4", "--json"}, rig.env.lock);
    EXPECT_EQ(missing.code, 2) << missing.err;
    EXPECT_NE(missing.err.find("error 2106: 3 Vexil adapters were found where 4 were expected."),
              std::string::npos)
        << missing.err;
    EXPECT_NE(missing.out.find("\"number\":2106,\"icon\":\"error\""), std::string::npos);
    EXPECT_NE(JsonDigest(missing.out, rig.dir, 2).find("run 1 0 0 2\n"), std::string::npos);
    EXPECT_EQ(Dumps(rig, 1)[0][0x10], 0x00) << "nothing was written";
    EXPECT_EQ(ReadText(rig.dir / "cli.log").find("Write  "), std::string::npos);
    const CliCapture whole =
        RunCliInProcess({"program", "--settings", settings, "--expect-targets", "3"}, rig.env.lock);
    EXPECT_EQ(whole.code, 0) << whole.err;
}

// The first run of scripts/run.sh: settings made by init, the demo's adapters, one Program:
// every board passes, and each is verified once.
TEST(CliE2eTest, TheDemosFirstProgramSucceedsAndVerifiesEachBoardOnce) {
    WriterRig rig;
    std::string error;
    ASSERT_TRUE(rig.StartSetup(ExampleDir() + "/sim/demo.ini", error)) << error;
    const std::string settings = rig.dir / "demo.ini";
    ASSERT_EQ(RunCliInProcess({"init", "--settings", settings, "--target", "QX16A064", "--file",
                               ExampleDir() + "/programs/demo-qx16a064.hex"},
                              rig.env.lock)
                  .code,
              0);
    const CliCapture run =
        RunCliInProcess({"program", "--settings", settings, "--json"}, rig.env.lock);
    EXPECT_EQ(run.code, 0) << run.err;
    const std::string digest = JsonDigest(run.out, rig.dir, 0);
    EXPECT_NE(digest.find("summary program SUCCESS 0"), std::string::npos) << digest;
    EXPECT_NE(digest.find("run 1 4 0 0\n"), std::string::npos) << digest;
    const std::string log = ReadText(rig.dir / "Quorvel.log");
    size_t verifies = 0;
    for (size_t at = log.find("\r\nVerify  "); at != std::string::npos;
         at = log.find("\r\nVerify  ", at + 1))
        ++verifies;
    EXPECT_EQ(verifies, 1u) << log;
}

}  // namespace
