// Serial numbers and multi-area targets through the writer's controller against vexil-sim: a
// number is never handed out twice, and every byte the log says was written is on the chip.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>

#include "app/control_ids.h"
#include "platform/private_profile.h"
#include "support/writer_rig.h"

namespace {

using namespace e2e;

constexpr const char* kFast = "[DEFAULTS]\nLATENCY_US=0\nERASE_BLOCK_US=0\nWRITE_BYTE_NS=0\n";

std::string SerialKeys(const std::string& number, uint32_t address) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "SERIALNUMFLG=1\r\nSERIALNUM=%s\r\nSERIALNUMINC=00000001\r\nSERIALNUMLEN=4\r\n"
                  "SERIALNUMINCLEN=4\r\nSERIALNUMADDR=0x%05X\r\n",
                  number.c_str(), address);
    return text;
}

void SetKey(WriterRig& rig, const char* key, const char* value) {
    ASSERT_TRUE(plat::WritePrivateProfileStringA("Settings", key, value,
                                                 (rig.env.bin / "Quorvel.ini").c_str()));
}

// Two QX16A064 boards in simple mode, one program file, numbers from 00000001 at 8000H.
void StartTwoNumberedBoards(WriterRig& rig) {
    const std::string file = rig.env.WriteFile("p.hex", HexFile(0x10, {0x12}));
    rig.env.WriteIni("[Settings]\r\nTRGNAME=QX16A064\r\nMODE=1\r\nFILENUM=1\r\nFILENAME0=" + file +
                     "\r\nOFFSET0= 00000H\r\n" + SerialKeys("00000001", 0x8000));
    std::string error;
    ASSERT_TRUE(rig.Start(std::string(kFast) + "[ADAPTER1]\nTRG=QX16A064\nCOUNT=2\n", 1, error))
        << error;
}

// QX32F128: areas 0 to 1:EFFFH and 1:F400H to 1:FFFFH around a read-only range, the test data
// area at the top. A Write with Verify puts data on both sides of the read-only range and a
// number into each board; the numbers are taken before the first erase, and a second Write of
// the same plug gives the same boards the same numbers.
TEST(SerialE2eTest, NumbersAreTakenBeforeTheFirstEraseAndAMultiAreaWriteVerifies) {
    WriterRig rig;
    const std::string low = rig.env.WriteFile("low.hex", HexFile(0x100, {1, 2, 3, 4}));
    const std::string high = rig.env.WriteFile("high.hex", HexFile(0xF500, {5, 6}));
    rig.env.WriteIni("[Settings]\r\nTRGNAME=QX32F128\r\nFILENUM=2\r\nFILENAME0=" + low +
                     "\r\nOFFSET0= 00000H\r\nFILENAME1=" + high + "\r\nOFFSET1=+10000H\r\n" +
                     SerialKeys("00000001", 0x10000));
    std::string error;
    ASSERT_TRUE(rig.Start(std::string(kFast) + "[ADAPTER1]\nTRG=QX32F128\nCOUNT=3\n", 1, error))
        << error;
    FakeDialogView view;
    std::string storedAtFirstBlock;
    rig.Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        view.pumpActions = {[&](DialogEvents&) { storedAtFirstBlock = rig.env.Key("SERIALNUM"); }};
        e.OnCommand(IDC_WRITE);
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "Verify SUCCESS");
        for (int n = 1; n <= 3; ++n) {
            const auto flash = Dump(rig, n);
            ASSERT_EQ(flash.size(), 0x20000u);
            EXPECT_EQ(flash[0x100], 1);
            EXPECT_EQ(flash[0x1F501], 6) << "beyond the read-only range";
            EXPECT_EQ(flash[0x1F000], 0xFF) << "its block was erased: the range is not kept";
            EXPECT_EQ(HeldAt(rig, n, 0x10000), "0000000" + std::to_string(n));
        }
        e.OnCommand(IDC_WRITE);
        EXPECT_EQ(HeldAt(rig, 3, 0x10000), "00000003") << "the same board, the same number";
    });
    EXPECT_EQ(storedAtFirstBlock, "00000004") << "stored before anything was erased";
    EXPECT_EQ(rig.env.Key("SERIALNUM"), "00000004");
}

// QX64H1M0 (1 MiB): a number over the edge of an area into a read-only range, or in the range
// itself, would be logged as written while its bytes never reach the chip: refused with 2067.
// A number inside an area is written and verified.
TEST(SerialE2eTest, ANumberWhoseBytesDoNotAllReachTheChipIsRefused) {
    WriterRig rig;
    const std::string file = rig.env.WriteFile("p.hex", HexFile(0x4000, {0xA5}));
    rig.env.WriteIni("[Settings]\r\nTRGNAME=QX64H1M0\r\nFILENUM=1\r\nFILENAME0=" + file +
                     "\r\nOFFSET0= 00000H\r\n" + SerialKeys("00000001", 0xEFFFE));
    std::string error;
    ASSERT_TRUE(rig.Start(std::string(kFast) + "[ADAPTER1]\nTRG=QX64H1M0\nCOUNT=2\n", 1, error))
        << error;
    FakeDialogView view;
    rig.Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        for (const char* address : {"0xEFFFE", "0xF0800", "0xFFE00"}) {
            SetKey(rig, "SERIALNUMADDR", address);
            e.OnCommand(IDC_WRITE);
            EXPECT_EQ(view.CountMessages(2067), 1) << address;
            view.messages.clear();
        }
        EXPECT_EQ(Dump(rig, 1)[0x4000], 0xFF) << "nothing was written";
        SetKey(rig, "SERIALNUMADDR", "0xF1000");
        e.OnCommand(IDC_WRITE);
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "Verify SUCCESS");
        EXPECT_EQ(HeldAt(rig, 2, 0xF1000), "00000002");
        EXPECT_EQ(Dump(rig, 2)[0x4000], 0xA5);
    });
}

// The stored number moves only forwards: numbers another program took since the plug are not
// given again, an Unplug never stores an older number, and a number taken that wrapped around
// asks before the next Write erases anything. A number that cannot be stored writes nothing.
TEST(SerialE2eTest, TheStoredNumberNeverGoesBackAndAWrappedOneAsksFirst) {
    WriterRig rig;
    ASSERT_NO_FATAL_FAILURE(StartTwoNumberedBoards(rig));
    const std::string ini = (rig.env.bin / "Quorvel.ini").string();
    FakeDialogView view;
    rig.Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        SetKey(rig, "SERIALNUM", "00000050");  // another program took numbers meanwhile
        e.OnCommand(IDC_WRITE);
        EXPECT_EQ(HeldAt(rig, 1, 0x8000), "00000050");
        EXPECT_EQ(rig.env.Key("SERIALNUM"), "00000052");
        SetKey(rig, "SERIALNUM", "00000060");
        e.OnCommand(IDC_PLUG);
        EXPECT_EQ(rig.env.Key("SERIALNUM"), "00000060") << "an Unplug stores no older number";

        // Not stored, not written: here the settings lock cannot be had.
        e.OnCommand(IDC_PLUG);
        ::unlink((ini + ".lock").c_str());
        ASSERT_EQ(::mkdir((ini + ".lock").c_str(), 0700), 0);
        e.OnCommand(IDC_WRITE);
        ASSERT_EQ(::rmdir((ini + ".lock").c_str()), 0);
        EXPECT_TRUE(view.Shows(2072));
        EXPECT_EQ(HeldAt(rig, 2, 0x8000), "00000051") << "the boards are as they were";
        e.OnCommand(IDC_PLUG);

        // One byte, increment 80: 01 and 81 for the two boards; the next number wraps to 01.
        view.serializationAnswers = {{IDOK, {true, "01", "8000", "80", 1}}};
        e.OnCommand(IDC_SERIALIZATION);
        e.OnCommand(IDC_PLUG);
        e.OnCommand(IDC_WRITE);
        EXPECT_EQ(Dump(rig, 2)[0x8000], 0x81);
        EXPECT_EQ(rig.env.Key("SERIALNUMOVF"), "1");
        e.OnCommand(IDC_PLUG);
        e.OnCommand(IDC_PLUG);
        view.messages.clear();
        view.messageAnswers = {IDCANCEL};
        e.OnCommand(IDC_WRITE);
        EXPECT_TRUE(view.Shows(2066));
        EXPECT_TRUE(dialog.OperationFailed());
        EXPECT_EQ(Dump(rig, 2)[0x8000], 0x81) << "nothing was erased";
        // The operator's own start number is a fresh start.
        view.serializationAnswers = {{IDOK, {true, "05", "8000", "01", 1}}};
        e.OnCommand(IDC_SERIALIZATION);
    });
    EXPECT_EQ(rig.env.Key("SERIALNUMOVF"), "<missing>");
    EXPECT_EQ(rig.env.Key("SERIALNUM"), "05");
}

// A console run's --serial is the first Write's start: numbers another program took after the
// run was checked are still not handed out again, unless the run may go back (--serial-rewind).
TEST(SerialE2eTest, AChosenStartGoesBelowNumbersTakenSinceOnlyWithRewind) {
    WriterRig rig;
    ASSERT_NO_FATAL_FAILURE(StartTwoNumberedBoards(rig));
    CQuorvelDlg::RunOverrides overrides;
    overrides.startSerial = std::array<uint8_t, kByteFieldSize>{0, 0, 0, 0x10};
    for (const bool rewind : {false, true}) {
        overrides.serialRewind = rewind;
        FakeDialogView view;
        rig.Run(
            view,
            [&](CQuorvelDlg&, DialogEvents& e) {
                e.OnCommand(IDC_PLUG);
                SetKey(rig, "SERIALNUM", "00000050");  // another program took numbers meanwhile
                e.OnCommand(IDC_WRITE);
                e.OnCommand(IDC_PLUG);
            },
            overrides);
        EXPECT_EQ(HeldAt(rig, 1, 0x8000), rewind ? "00000010" : "00000050") << rewind;
        EXPECT_EQ(rig.env.Key("SERIALNUM"), rewind ? "00000012" : "00000052") << rewind;
    }
}

}  // namespace
