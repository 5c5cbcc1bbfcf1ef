// Write, Verify and Erase through the writer's controller against vexil-sim, checked in the
// flash the simulator dumps.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <numeric>

#include "app/control_ids.h"
#include "platform/socket_device.h"
#include "support/writer_rig.h"

namespace {

using namespace e2e;

constexpr uint32_t kFlashSize = 0x10000;  // QX16A064
constexpr uint32_t kAreaEnd = 0xFDFF;     // its one writable area starts at 0
constexpr const char* kFast =
    "[DEFAULTS]\nTRG=QX16A064\nLATENCY_US=0\nERASE_BLOCK_US=0\nWRITE_BYTE_NS=0\n";

std::string Adapters(int count, const std::string& extra = "FLASH=FILL 00\n") {
    return std::string(kFast) + "[ADAPTER1]\nCOUNT=" + std::to_string(count) + "\n" + extra;
}

bool AreaHolds(const std::vector<uint8_t>& flash, const std::vector<uint8_t>& expected) {
    return flash.size() == kFlashSize &&
           std::equal(expected.begin(), expected.begin() + kAreaEnd + 1, flash.begin());
}

std::string Ini(const std::vector<std::pair<std::string, std::string>>& files,
                const std::string& extra = "") {
    std::string ini =
        "[Settings]\r\nTRGNAME=QX16A064\r\nFILENUM=" + std::to_string(files.size()) + "\r\n";
    for (size_t i = 0; i < files.size(); ++i)
        ini += "FILENAME" + std::to_string(i) + "=" + files[i].first + "\r\nOFFSET" +
               std::to_string(i) + "=" + files[i].second + "\r\n";
    return ini + extra;
}

void Shell(const std::string& command) {
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

TEST(WriteE2eTest, FilesFromIndependentToolsLandByteForByteWithEachTargetsSerialNumber) {
    WriterRig rig;
    // Three programs made by objcopy and srec_cat, placed with negative, positive and no offset.
    std::vector<uint8_t> a(0x300), b(0x180), c(0x1000);
    for (size_t i = 0; i < a.size(); ++i)
        a[i] = uint8_t(i * 13 + 1);
    for (size_t i = 0; i < b.size(); ++i)
        b[i] = uint8_t(i ^ 0x5A);
    for (size_t i = 0; i < c.size(); ++i)
        c[i] = uint8_t(i >> 3);
    WriteText(rig.dir / "a.bin", std::string(a.begin(), a.end()));
    WriteText(rig.dir / "b.bin", std::string(b.begin(), b.end()));
    WriteText(rig.dir / "c.bin", std::string(c.begin(), c.end()));
    Shell("objcopy -I binary -O ihex --change-section-address .data+0x1100 " + (rig.dir / "a.bin") +
          " " + (rig.dir / "a.hex"));
    Shell("srec_cat " + (rig.dir / "b.bin") +
          " -binary -offset 0x2000 -execution-start-address=0 -o " + (rig.dir / "b.s28") +
          " -motorola -address-length=3");
    Shell("objcopy -I binary -O srec --srec-forceS3 --change-section-address .data+0x6000 " +
          (rig.dir / "c.bin") + " " + (rig.dir / "c.s37"));
    std::vector<uint8_t> expected(kFlashSize, 0xFF);
    std::copy(a.begin(), a.end(), expected.begin() + 0x1000);
    std::copy(b.begin(), b.end(), expected.begin() + 0x3000);
    std::copy(c.begin(), c.end(), expected.begin() + 0x6000);
    const uint32_t checksum = std::accumulate(expected.begin(), expected.begin() + kAreaEnd + 1, 0u,
                                              [](uint32_t s, uint8_t v) { return s + v; });
    char checksumText[16];
    std::snprintf(checksumText, sizeof checksumText, "%010X", checksum);

    rig.env.WriteIni(Ini({{rig.dir / "a.hex", "-00100H"},
                          {rig.dir / "b.s28", "+01000H"},
                          {rig.dir / "c.s37", " 00000H"}},
                         "SERIALNUMFLG=1\r\nSERIALNUM=00000001\r\nSERIALNUMINC=00000001\r\n"
                         "SERIALNUMLEN=4\r\nSERIALNUMINCLEN=4\r\nSERIALNUMADDR=0x08000\r\n"));
    std::string error;
    ASSERT_TRUE(rig.Start(Adapters(3), 1, error)) << error;
    FakeDialogView view;
    rig.Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        EXPECT_EQ(view.Control(IDC_CHECKSUM_EDIT).text, checksumText);
        EXPECT_TRUE(view.messages.empty()) << view.messages[0].text;
        e.OnCommand(IDC_PLUG);
        e.OnCommand(IDC_WRITE);  // with Verify, as ticked by default
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "Verify SUCCESS");
        for (int n = 1; n <= 3; ++n) {
            std::vector<uint8_t> withSerial = expected;
            withSerial[0x8003] = uint8_t(n);
            std::fill_n(withSerial.begin() + 0x8000, 3, 0);
            EXPECT_TRUE(AreaHolds(Dump(rig, n), withSerial)) << "target " << n;
            EXPECT_EQ(view.Control(IDC_CHECK_LIST_LOW).rows[n - 1].cells[1],
                      "0000000" + std::to_string(n));
        }
        EXPECT_EQ(view.Control(IDC_SERIAL_TEXT_EDIT).text, "00000004");
        e.OnCommand(IDC_PLUG);
    });
    EXPECT_EQ(rig.env.Key("SERIALNUM"), "00000004") << "the next set goes on from here";
    const std::string log = rig.LogText();
    EXPECT_NE(log.find(std::string("Checksum : ") + checksumText + "\r\nFilling Data: 0xFF\r\n"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\tTarget 2: Write  OK\r\n\t\tSerial No: 0x00000002\r\n"),
              std::string::npos);
}

TEST(WriteE2eTest, AnOverflowingSerialNumberAsksBeforeAnythingIsErased) {
    WriterRig rig;
    rig.env.WriteIni(Ini({}, "SERIALNUMFLG=1\r\nSERIALNUM=FFFFFFFF\r\nSERIALNUMADDR=0x08000\r\n"));
    std::string error;
    ASSERT_TRUE(rig.Start(Adapters(2), 1, error)) << error;
    FakeDialogView view;
    rig.Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        view.messageAnswers = {IDCANCEL};  // 2066: unplug
        e.OnCommand(IDC_WRITE);
        EXPECT_TRUE(view.Shows(2066));
        EXPECT_FALSE(dialog.IsPlugged());
        EXPECT_TRUE(dialog.OperationFailed());
        for (int n = 1; n <= 2; ++n)
            EXPECT_TRUE(AreaHolds(Dump(rig, n), std::vector<uint8_t>(kFlashSize, 0))) << n;
    });
}

TEST(WriteE2eTest, AnEmptyFileListWritesTheFillAndVerifies) {
    WriterRig rig;
    std::string error;
    ASSERT_TRUE(rig.Start(Adapters(2), 1, error)) << error;
    FakeDialogView view;
    rig.Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        e.OnCommand(IDC_WRITE);
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "Verify SUCCESS");
        EXPECT_EQ(view.Control(IDC_CONNECTION_LIST).rows[1].cells[3], "Verify OK");
        for (int n = 1; n <= 2; ++n)
            EXPECT_TRUE(AreaHolds(Dump(rig, n), std::vector<uint8_t>(kFlashSize, 0xFF))) << n;
    });
}

TEST(WriteE2eTest, CancelStopsAtABlockBoundaryAndSaysSo) {
    WriterRig rig;
    rig.env.WriteIni(Ini({{rig.env.WriteFile("p.hex", HexFile(0x10, {0x12})), ""}}));
    std::string error;
    ASSERT_TRUE(rig.Start(Adapters(2), 1, error)) << error;
    FakeDialogView view;
    rig.Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        // The operator clicks Cancel while block 1 is written and confirms.
        view.pumpActions = {[](DialogEvents&) {},
                            [](DialogEvents& ev) { ev.OnCommand(IDC_CANCEL_OPERATION); }};
        e.OnCommand(IDC_WRITE);
        EXPECT_TRUE(view.Shows(211));
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "Write STOP");
        EXPECT_TRUE(dialog.OperationFailed());
        const auto flash = Dump(rig, 1);
        EXPECT_EQ(flash[0x10], 0x12);
        EXPECT_EQ(flash[0x1FFF], 0xFF) << "the block before the Cancel completes";
        EXPECT_EQ(flash[0x2000], 0x00) << "no block after it";
    });
    const std::string log = rig.LogText();
    EXPECT_NE(log.find("Filling Data: 0xFF\r\nProcessing has canceled!!\r\n"), std::string::npos)
        << log;
    EXPECT_EQ(log.find("Verify  "), std::string::npos);
}

// Verify reads every target at once: a read that fails in the middle fails its target only,
// and a Cancel during the reading ends the Verify at once.
TEST(WriteE2eTest, VerifyReadsEveryTargetAtOnceAndAFailedReadFailsOnlyItsTarget) {
    WriterRig rig;
    rig.env.WriteIni(Ini({{rig.env.WriteFile("p.hex", HexFile(0x10, {0x12})), ""}}));
    std::string error;
    ASSERT_TRUE(rig.Start(std::string(kFast) +
                              "[ADAPTER1]\nCOUNT=3\nFLASH=FILL 12\n[ADAPTER2]\nFLASH=FILL 12\n"
                              "FAULT1=STATUS 6300 AT 12 TIMES ALL\n",
                          2, error))
        << error;
    FakeDialogView view;
    rig.Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        e.OnCommand(IDC_VERIFY);
        const auto& rows = view.Control(IDC_CONNECTION_LIST).rows;
        for (int n : {0, 1, 2})
            EXPECT_EQ(rows[size_t(n)].cells[3], "Verify OK") << n;
        EXPECT_EQ(rows[3].cells[3], "Verify Error: 0x6300");
        // The operator cancels while the flash is being read.
        view.pumpActions = {[](DialogEvents& ev) { ev.OnCommand(IDC_CANCEL_OPERATION); }};
        e.OnCommand(IDC_VERIFY);
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "Verify STOP");
    });
    const std::string log = rig.LogText();
    EXPECT_NE(log.find("\tTarget 4: Error:0x6300"), std::string::npos) << log;
    EXPECT_NE(log.rfind("Processing has canceled!!\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("\tTarget 1: Verify  OK", log.rfind("Verify  ")), std::string::npos)
        << "no target is compared after the Cancel";
}

TEST(WriteE2eTest, FillFromTheFirstTargetEvenAfterItFailedAndTheLogNamesAFallback) {
    WriterRig rig;
    rig.env.WriteIni(
        Ini({{rig.env.WriteFile("p.hex", HexFile(0x10, {0x12})), ""}}, "FILLTYPE=1\r\nMODE=1\r\n"));
    std::string error;
    // The first adapter's first read fails, and so does its first erase (its flash stays 00).
    ASSERT_TRUE(rig.Start(std::string(kFast) +
                              "[ADAPTER1]\nFLASH=FILL 00\nFAULT1=STATUS 6300 ON read-flash\n"
                              "FAULT2=STATUS 6305 ON erase-block\n[ADAPTER2]\nFLASH=FILL 00\n",
                          2, error))
        << error;
    FakeDialogView view;
    rig.Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        e.OnCommand(IDC_WRITE);
        std::vector<uint8_t> expected(kFlashSize, 0xFF);
        expected[0x10] = 0x12;
        EXPECT_TRUE(AreaHolds(Dump(rig, 2), expected));
        EXPECT_NE(rig.LogText().find("Filling Data: 0xFF (the flash content could not be read)"),
                  std::string::npos);
        // The first target's failed erase leaves its status: the next Write still reads the
        // flash it says it fills from.
        e.OnCommand(IDC_WRITE);
        expected.assign(kFlashSize, 0x00);
        expected[0x10] = 0x12;
        EXPECT_TRUE(AreaHolds(Dump(rig, 2), expected));
    });
    EXPECT_NE(rig.LogText().find("Filling Data: Content of Flash Memory\r\n"), std::string::npos);
}

TEST(WriteE2eTest, VerifyListsEveryDifferingByteInTheLog) {
    WriterRig rig;
    rig.env.WriteIni(Ini({{rig.env.WriteFile("p.hex", HexFile(0x10, {0x12, 0xFF})), ""}}));
    std::string error;
    ASSERT_TRUE(rig.Start(Adapters(1, ""), 1, error)) << error;
    FakeDialogView view;
    rig.Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        e.OnCommand(IDC_VERIFY);
        EXPECT_EQ(view.Control(IDC_CONNECTION_LIST).rows[0].cells[3],
                  "Verify Error: differences were detected. ");
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "Verify FAILURE");
    });
    EXPECT_NE(rig.LogText().find("\tAddress   File      Flash\r\n\t==========================\r\n"
                                 "\t00010H    12H       FFH\r\n\tTarget 1: Error:0x2006\r\n"),
              std::string::npos)
        << rig.LogText();
}

// One faulty adapter of four during Write: its block names its code, the other three are
// written and verified byte for byte, and nothing waits beyond the one time-out of a silent
// adapter (whose real wait is cut short).
class WriteFault : public ::testing::TestWithParam<std::pair<const char*, int>> {};

TEST_P(WriteFault, OnlyTheFaultyTargetFails) {
    const auto [fault, code] = GetParam();
    WriterRig rig;
    std::vector<uint8_t> expected(kFlashSize, 0xFF);
    for (uint32_t i = 0; i < 0x4000; ++i)
        expected[i] = uint8_t(i * 7 + (i >> 8));
    std::string hex;
    for (uint32_t at = 0; at < 0x4000; at += 16) {
        std::string record = ":10";
        char field[8];
        std::snprintf(field, sizeof field, "%04X00", at);
        record += field;
        uint8_t sum = uint8_t(0x10 + (at >> 8) + at);
        for (uint32_t i = 0; i < 16; ++i) {
            std::snprintf(field, sizeof field, "%02X", expected[at + i]);
            record += field;
            sum = uint8_t(sum + expected[at + i]);
        }
        std::snprintf(field, sizeof field, "%02X", uint8_t(-sum));
        hex += record + field + "\n";
    }
    rig.env.WriteIni(Ini({{rig.env.WriteFile("p.hex", hex + ":00000001FF\n"), ""}}));
    std::string error;
    ASSERT_TRUE(rig.Start(std::string(kFast) + "[ADAPTER1]\nFLASH=FILL 00\n[ADAPTER2]\n" + fault +
                              "\n[ADAPTER3]\nFLASH=FILL 00\nCOUNT=2\n",
                          3, error))
        << error;
    plat::SetSocketWaitLimitForTesting(200);
    FakeDialogView view;
    rig.Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        e.OnCommand(IDC_WRITE);
        for (int n : {1, 3, 4}) {
            EXPECT_EQ(view.Control(IDC_CONNECTION_LIST).rows[n - 1].cells[3], "Verify OK") << n;
            EXPECT_TRUE(AreaHolds(Dump(rig, n), expected)) << n;
        }
    });
    plat::SetSocketWaitLimitForTesting(0);
    char block[48];
    std::snprintf(block, sizeof block, "\tTarget 2: Error:0x%04X\r\n", code);
    EXPECT_NE(rig.LogText().find(block), std::string::npos) << rig.LogText();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WriteFault,
    ::testing::Values(std::make_pair("FAULT1=NO-REPLY ON write-flash", 0x5000),
                      std::make_pair("FAULT1=WRONG-SEQUENCE ON write-flash", 0x5004),
                      std::make_pair("FAULT1=BAD-MAGIC ON write-flash", 0x5003),
                      std::make_pair("FAULT1=SHORT-REPLY ON write-flash", 0x5000),
                      std::make_pair("FAULT1=OVERLONG-REPLY ON write-flash", 0x5000),
                      std::make_pair("FAULT1=STATUS 6305 ON write-flash", 0x6305),
                      std::make_pair("FAULT1=STATUS 6302 ON erase-block", 0x6302),
                      std::make_pair("FAULT1=DISCONNECT ON write-flash", 0x5000)));

}  // namespace
