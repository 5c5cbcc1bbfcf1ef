// Plug, Unplug and the connection check through the writer's controller against vexil-sim.
#include <gtest/gtest.h>

#include "app/control_ids.h"
#include "brindlex/flash_status.h"
#include "support/writer_rig.h"

namespace {

using namespace e2e;

TEST(PlugE2eTest, SixteenTargetsFillTheFirstListAndTheSeventeenthStartsTheSecond) {
    for (int count : {16, 17}) {
        WriterRig rig;
        std::string error;
        ASSERT_TRUE(
            rig.Start("[ADAPTER1]\nTRG=QX16A064\nCOUNT=" + std::to_string(count) + "\n", 1, error))
            << error;
        FakeDialogView view;
        rig.Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
            e.OnCommand(IDC_PLUG);
            EXPECT_TRUE(dialog.IsPlugged());
            EXPECT_EQ(view.Control(IDC_CONNECTION_LIST).rows.size(), size_t(count));
            EXPECT_EQ(view.Control(IDC_CHECK_LIST_LOW).rows.size(), 16u);
            const auto& high = view.Control(IDC_CHECK_LIST_HIGH).rows;
            ASSERT_EQ(high.size(), size_t(count - 16));
            if (count == 17) {
                EXPECT_EQ(high[0].cells[0], "17");
                EXPECT_EQ(high[0].cells[2], "Plug OK");
            }
        });
    }
}

TEST(PlugE2eTest, ThirtyThreeAdaptersAreRefusedAndTheAdaptersStayFree) {
    WriterRig rig;
    std::string error;
    ASSERT_TRUE(rig.Start("[ADAPTER1]\nTRG=QX16A064\nCOUNT=33\n", 1, error)) << error;
    FakeDialogView view;
    rig.Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        EXPECT_TRUE(view.Shows(2055));
        EXPECT_FALSE(dialog.IsPlugged());
        EXPECT_EQ(rig.env.lock.held, 0);
    });
}

// One adapter of each outcome: good, another chip, old firmware, protected with the ID the
// settings remember.
TEST(PlugE2eTest, EachTargetShowsItsOwnOutcomeAndTheConnectionCheckEndsUnplugged) {
    WriterRig rig;
    rig.env.WriteIni(
        "[Settings]\r\nTRGNAME=QX16A064\r\nSECUREIDSIZE=8\r\n"
        "SECUREID=123456789ABCDEF0\r\n");
    std::string error;
    ASSERT_TRUE(
        rig.Start("[ADAPTER1]\nTRG=QX16A064\n"
                  "[ADAPTER2]\nTRG=QX08C032\n"
                  "[ADAPTER3]\nTRG=QX16A064\nFIRMWARE=1.05\n"
                  "[ADAPTER4]\nTRG=QX16A064\nPROTECTED=1\nSECURITYID=1234 5678 9ABC DEF0\n",
                  4, error))
        << error;
    FakeDialogView view;
    rig.Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        EXPECT_TRUE(dialog.IsPlugged());
        EXPECT_TRUE(view.securityIdRequests.empty()) << "the remembered ID unlocks target 4";
        const auto& rows = view.Control(IDC_CONNECTION_LIST).rows;
        ASSERT_EQ(rows.size(), 4u);
        EXPECT_EQ(rows[0].cells[3], "Plug OK");
        EXPECT_EQ(rows[1].cells[3], "Plug Error: Different target LSI.");
        EXPECT_EQ(rows[2].cells[3], "Plug Error: Different firmware version.");
        EXPECT_EQ(rows[3].cells[3], "Plug OK");
        EXPECT_EQ(PlugState(2), PLUG_STARTED);
        EXPECT_EQ(PlugState(3), PLUG_IDENTIFIED);
        EXPECT_EQ(PlugState(4), PLUG_READY);
        e.OnCommand(IDC_PLUG);

        e.OnCommand(IDC_CONNECTION_CHECK);
        EXPECT_FALSE(dialog.IsPlugged());
        EXPECT_EQ(rig.env.lock.held, 0);
        EXPECT_EQ(view.Control(IDC_PLUG).text, "&Plug");
    });
    const std::string log = rig.LogText();
    EXPECT_NE(log.find("\tTarget 3: Error:0x2004\r\nDifferent firmware version. Please update "
                       "New Firmware.  Firmware Version: 1.05\r\n\t\tUSB Device Path: "),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("\tTarget 2: Error:0x2002\r\nDifferent target LSI.\r\n"), std::string::npos);
}

// The fault showcase with QX32F128 selected: its protected adapter is of security type 1, so
// the dialog offers no Initialize; the ID the README names opens it.
TEST(PlugE2eTest, TheShowcasesSecurityTypeOneAdapterAsksWithoutInitialize) {
    WriterRig rig;
    rig.env.WriteIni("[Settings]\r\nTRGNAME=QX32F128\r\n");
    std::string error;
    ASSERT_TRUE(rig.StartSetup(ExampleDir() + "/sim/faults.ini", error)) << error;
    FakeDialogView view;
    view.securityIdAnswers = {{IDOK,
                               0,
                               {"CAFE", "F00D", "    ", "    ", "    ", "    ", "    ", "    ",
                                "    ", "    ", "    ", "    "}}};
    rig.Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        ASSERT_EQ(view.securityIdRequests.size(), 1u);
        EXPECT_EQ(view.securityIdRequests[0].target, 5);
        EXPECT_FALSE(view.securityIdRequests[0].initializeAllowed);
        EXPECT_EQ(PlugState(5), PLUG_READY);
    });
}

}  // namespace
