// The main window through the scripted view: busy and idle layouts, the two view modes, the
// target lists against simulated adapters, and the About box.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <set>
#include <span>
#include <vector>

#include "app/control_ids.h"
#include "app/main_window_layout.h"
#include "app/quorvel_dlg.h"
#include "brindlex/brindlex.h"
#include "support/fake_dialog_view.h"
#include "support/writer_env.h"
#include "vexilsim/inproc_adapter.h"

namespace {

const std::set<int> kMenuCommands = {32775, 32776, 32779, 32780, 32782, 32783, 32784};
// The controls every busy state disables.
const std::set<int> kOperationControls = {1000, 1038, 1036, 1148, 1019, 1008, 1018, 1002,
                                          1003, 1007, 1004, 1014, 1151, 1149, 1150, 1016,
                                          1025, 1017, 1156, 1026, 1021, 1160, 1162};

std::set<int> Union(std::set<int> a, const std::set<int>& b) {
    a.insert(b.begin(), b.end());
    return a;
}

// With 512 reserved bytes at the top.
CTargetInfo Description() {
    CTargetInfo t = SimulatedTarget();
    t.sizeFromBits10 = 512;
    t.sizeFromBits13 = 512;
    return t;
}

// Simulated adapters, disconnected before they go away.
struct Bench {
    explicit Bench(int count) : sim(Description(), count, &VEXIL_INTERFACE_GUID) {}
    ~Bench() { ApiDelConnect(); }
    vexilsim::SimBench sim;
};

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override { env_.WriteTrg({"QX16A064"}); }
    void WriteIni(const std::string& content) { env_.WriteIni(content); }

    // Runs the window and plays body once it is initialised.
    void Run(FakeDialogView& view, const std::function<void(CQuorvelDlg&, DialogEvents&)>& body) {
        CQuorvelDlg dialog(view, "Quorvel", lock_);
        view.actions.push_back([&](DialogEvents& e) { body(dialog, e); });
        dialog.DoModal();
    }

    static void SetAllControls(FakeDialogView& view, bool enabled) {
        for (const ControlSpec& c : MainWindowControls())
            view.Control(c.id).enabled = enabled;
        for (int command : kMenuCommands)
            view.menu[command].enabled = enabled;
    }
    static std::set<int> EnabledControls(FakeDialogView& view) {
        std::set<int> ids;
        for (const ControlSpec& c : MainWindowControls())
            if (view.Control(c.id).enabled)
                ids.insert(c.id);
        return ids;
    }
    static std::set<int> VisibleControls(FakeDialogView& view) {
        std::set<int> ids;
        for (const ControlSpec& c : MainWindowControls())
            if (view.Control(c.id).visible)
                ids.insert(c.id);
        return ids;
    }
    static std::set<int> EnabledMenus(FakeDialogView& view) {
        std::set<int> ids;
        for (int command : kMenuCommands)
            if (view.menu[command].enabled)
                ids.insert(command);
        return ids;
    }

    WriterEnv env_;
    FreeLock& lock_ = env_.lock;
};

TEST_F(MainWindowTest, BusyStatesDisableTheOperationControlsAndLeaveTheRest) {
    FakeDialogView view;
    CQuorvelDlg dialog(view, "Quorvel", lock_);
    const std::set<int> allMenus = kMenuCommands;
    for (int kind = 0; kind <= 4; ++kind) {
        SCOPED_TRACE("kind " + std::to_string(kind));
        std::set<int> stillUsable;
        if (kind == 0)
            stillUsable = {1017};
        if (kind == 2)
            stillUsable = {1160};

        // From a fully usable window: exactly the operation controls go, but the exception.
        SetAllControls(view, true);
        const int redraws = view.menuRedraws;
        dialog.SetBusyState(CQuorvelDlg::BusyKind(kind));
        EXPECT_TRUE(dialog.IsBusy());
        std::set<int> expected;
        for (const ControlSpec& c : MainWindowControls())
            if (!kOperationControls.count(c.id) || stillUsable.count(c.id))
                expected.insert(c.id);
        EXPECT_EQ(EnabledControls(view), expected);
        const std::map<int, std::set<int>> menusAfterEnabled = {
            {0, {}}, {1, {}}, {2, allMenus}, {3, {32779, 32780, 32782, 32784}}, {4, {}},
        };
        EXPECT_EQ(EnabledMenus(view), menusAfterEnabled.at(kind));
        EXPECT_EQ(view.menuRedraws, redraws + 1);

        // From a fully disabled window: only the exception comes back; kind 2 brings back every
        // menu command but Set Command File, kind 3 none.
        SetAllControls(view, false);
        dialog.SetBusyState(CQuorvelDlg::BusyKind(kind));
        EXPECT_EQ(EnabledControls(view), stillUsable);
        const std::set<int> menusAfterDisabled =
            kind == 2 ? std::set<int>{32775, 32776, 32779, 32780, 32783, 32784} : std::set<int>{};
        EXPECT_EQ(EnabledMenus(view), menusAfterDisabled);
    }
}

TEST_F(MainWindowTest, IdleStatesFollowPluggingFilesFileNameAndMode) {
    const std::set<int> always = {1038, 1036, 1002, 1003, 1007, 1014,
                                  1151, 1149, 1150, 1026, 1021, 1160};
    const std::set<int> pluggedOnly = {1148, 1019, 1008, 1018, 1156};
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        for (int mode : {0, 1}) {
            e.OnCommand(mode == 0 ? ID_VIEW_DETAIL_MODE : ID_VIEW_SIMPLE_MODE);
            for (int state = 0; state <= 4; ++state) {
                for (bool files : {false, true}) {
                    for (const char* name : {"", "/p/a.hex", "/p/b.hex\r\nsecond", "\r\n/p/c"}) {
                        SCOPED_TRACE("mode " + std::to_string(mode) + " state " +
                                     std::to_string(state) + " files " + std::to_string(files) +
                                     " name '" + name + "'");
                        view.ListDeleteAllRows(IDC_FILE_LIST);
                        if (files)
                            view.ListInsertRow(IDC_FILE_LIST, 0, "/p/a.hex");
                        view.SetControlText(IDC_FILE_NAME_EDIT, name);
                        SetAllControls(view, false);
                        dialog.SetBusyState(CQuorvelDlg::BusyKind(1));
                        dialog.SetIdleState(CQuorvelDlg::IdleState(state));
                        EXPECT_FALSE(dialog.IsBusy());

                        const bool plugged = state == 0 || state == 1 || state == 3;
                        std::set<int> expected = always;
                        if (plugged)
                            expected = Union(expected, pluggedOnly);
                        else
                            expected.insert(1000);
                        if (plugged && files)
                            expected = Union(expected, {1016, 1025});
                        const std::string typed = name;
                        if (!typed.empty() && typed[0] != '\r')
                            expected.insert(1004);
                        if (files)  // the command file name is set at start-up
                            expected.insert(1162);
                        EXPECT_EQ(EnabledControls(view), expected);

                        std::set<int> menus = {32779, 32780, 32784};
                        if (!plugged)
                            menus = Union(menus, {32775, 32776, 32783});
                        if (mode == 1)
                            menus.insert(32782);
                        EXPECT_EQ(EnabledMenus(view), menus);
                    }
                }
            }
        }
    });
}

TEST_F(MainWindowTest, ProgramNeedsACommandFileName) {
    // Before start-up restores it the command file name is empty.
    FakeDialogView view;
    CQuorvelDlg dialog(view, "Quorvel", lock_);
    view.ListInsertRow(IDC_FILE_LIST, 0, "/p/a.hex");
    dialog.SetIdleState(CQuorvelDlg::IdleState(4));
    EXPECT_FALSE(view.Control(IDC_PROGRAM).enabled);
    EXPECT_TRUE(view.Control(IDC_DELETE_FROM_LIST).enabled);
}

TEST_F(MainWindowTest, ViewModesShowHideAndPlaceTheirControls) {
    const std::set<int> simpleVisible = {1165, 1161, 1160, 1164, 1008, 1166, 1152, 1153, 1169, 1151,
                                         1174, 1173, 1181, 1180, 1177, 1176, 1171, 1005, 1162};
    const std::set<int> detailVisible = {
        1165, 1000, 1038, 1164, 1008, 1036, 1166, 1148, 1021, 1019, 1018, 1167, 1002, 1003, 1168,
        1007, 1004, 1014, 1169, 1151, 1181, 1180, 1170, 1149, 1150, 1016, 1025, 1017, 1026, 1156};
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        // Start-up without a stored mode: detail.
        EXPECT_EQ(VisibleControls(view), detailVisible);
        EXPECT_EQ(view.windowWidth, 704);
        EXPECT_EQ(view.windowHeight, 759);

        view.SetControlText(IDC_FILE_NAME_EDIT, "/typed/by/hand.hex");
        view.ListInsertRow(IDC_CONNECTION_LIST, 0, "");
        e.OnCommand(ID_VIEW_SIMPLE_MODE);
        EXPECT_EQ(VisibleControls(view), simpleVisible);
        for (const ControlSpec& c : MainWindowControls()) {
            if (c.simple) {
                EXPECT_EQ(view.Control(c.id).rect, c.simple) << c.id;
            }
        }
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).rect, (DlgRect{162, 16, 383, 52}));
        EXPECT_EQ(view.Control(IDC_PROGRAM).rect, (DlgRect{336, 346, 392, 387}));
        EXPECT_EQ(view.windowWidth, 704);
        EXPECT_EQ(view.windowHeight, 746);
        EXPECT_FALSE(view.menu[ID_VIEW_DETAIL_MODE].checked);
        EXPECT_TRUE(view.menu[ID_VIEW_SIMPLE_MODE].checked);
        EXPECT_TRUE(view.menu[ID_FILE_SET_COMMAND_FILE].enabled);
        EXPECT_EQ(dialog.Settings().mode, 1);
        EXPECT_EQ(view.ListRowCount(IDC_CONNECTION_LIST), 1) << "simple mode keeps the rows";
        EXPECT_TRUE(view.Control(IDC_TARGET_COMBO).enabled) << "not-plugged idle layout";
        EXPECT_FALSE(view.Control(IDC_CONNECTION_LIST).enabled);

        e.OnCommand(ID_VIEW_DETAIL_MODE);
        EXPECT_EQ(VisibleControls(view), detailVisible);
        for (const ControlSpec& c : MainWindowControls()) {
            if (c.detail) {
                EXPECT_EQ(view.Control(c.id).rect, c.detail) << c.id;
            }
        }
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).rect, (DlgRect{129, 16, 350, 48}));
        EXPECT_EQ(view.Control(IDC_FILE_LIST).rect, (DlgRect{7, 252, 392, 302}));
        EXPECT_EQ(view.windowHeight, 759);
        EXPECT_TRUE(view.menu[ID_VIEW_DETAIL_MODE].checked);
        EXPECT_FALSE(view.menu[ID_VIEW_SIMPLE_MODE].checked);
        EXPECT_FALSE(view.menu[ID_FILE_SET_COMMAND_FILE].enabled);
        EXPECT_EQ(dialog.Settings().mode, 0);
        EXPECT_EQ(view.ListRowCount(IDC_CONNECTION_LIST), 0) << "detail mode empties the list";
        EXPECT_EQ(view.Control(IDC_FILE_NAME_EDIT).text, "/typed/by/hand.hex");

        // While an operation runs, the View menu does nothing.
        dialog.SetBusyState(CQuorvelDlg::BusyKind(0));
        e.OnCommand(ID_VIEW_SIMPLE_MODE);
        EXPECT_EQ(dialog.Settings().mode, 0);
        dialog.SetIdleState(CQuorvelDlg::IdleState(2));
    });
}

TEST_F(MainWindowTest, StoredSimpleModeStartsInTheSimpleLayout) {
    WriteIni("[Settings]\r\nTRGNAME=QX16A064\r\nMODE=1\r\n");
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents&) {
        EXPECT_TRUE(view.Control(IDC_PROGRAM).visible);
        EXPECT_FALSE(view.Control(IDC_PLUG).visible);
        EXPECT_FALSE(view.Control(IDC_FILL_GROUP).visible);
        EXPECT_TRUE(view.menu[ID_FILE_SET_COMMAND_FILE].enabled);
        EXPECT_EQ(view.windowHeight, 746);
        EXPECT_FALSE(dialog.IsBusy());
    });
}

TEST_F(MainWindowTest, TwentyTargetsSplitOverTheSmallListsAndTakeTheirColours) {
    Bench rig(20);
    ASSERT_EQ(ApiCreateConnect(), 1);
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        dialog.BuildTargetRows();
        ASSERT_EQ(view.ListRowCount(IDC_CONNECTION_LIST), 20);
        ASSERT_EQ(view.ListRowCount(IDC_CHECK_LIST_LOW), 16);
        ASSERT_EQ(view.ListRowCount(IDC_CHECK_LIST_HIGH), 4);
        for (int n = 1; n <= 20; ++n) {
            EXPECT_EQ(view.ListGetCell(IDC_CONNECTION_LIST, n - 1, 0), "");
            EXPECT_EQ(view.ListGetCell(IDC_CONNECTION_LIST, n - 1, 1),
                      "Target" + std::to_string(n));
            EXPECT_FALSE(view.ListGetRowCheck(IDC_CONNECTION_LIST, n - 1));
            int flag = 0;
            EXPECT_EQ(ApiGetEnableFlg(n, &flag), 1);
            EXPECT_EQ(flag, 1) << n;
        }
        EXPECT_EQ(view.ListGetCell(IDC_CHECK_LIST_LOW, 15, 0), "16");
        for (int row = 0; row < 4; ++row)
            EXPECT_EQ(view.ListGetCell(IDC_CHECK_LIST_HIGH, row, 0), std::to_string(17 + row));

        // 17 failed after plugging, 18 and 20 failed to plug, 19 is fine; 1 to 16 mirror them
        // in reverse so that a list taking the wrong target shows it.
        const Rgb white{255, 255, 255}, red{255, 0, 0}, grey{128, 128, 128};
        auto set = [](int n, int status, PlugStatus plug) {
            ApiSetTargetStatus(n, status);
            ApiSetTargetPlugStatus(n, plug);
        };
        set(17, 0x6000, PLUG_READY);
        set(18, 0x5005, PLUG_NONE);
        set(19, 0, PLUG_NONE);
        set(20, 0x2002, PLUG_IDENTIFIED);
        set(1, 0, PLUG_READY);
        set(2, 0x2002, PLUG_IDENTIFIED);
        set(3, 0x6000, PLUG_READY);
        set(4, 0, PLUG_READY);
        const std::vector<Rgb> high = {red, grey, white, grey};
        const std::vector<Rgb> low = {white, grey, red, white};
        for (int row = 0; row < 4; ++row) {
            EXPECT_EQ(e.OnListRowColour(IDC_CHECK_LIST_HIGH, row), high[row]) << row;
            EXPECT_EQ(e.OnListRowColour(IDC_CONNECTION_LIST, 16 + row), high[row]) << row;
            EXPECT_EQ(e.OnListRowColour(IDC_CHECK_LIST_LOW, row), low[row]) << row;
            EXPECT_EQ(e.OnListRowColour(IDC_CONNECTION_LIST, row), low[row]) << row;
        }
        EXPECT_EQ(e.OnListRowColour(IDC_FILE_LIST, 0), std::nullopt);

        // Rebuilding starts from empty lists.
        dialog.BuildTargetRows();
        EXPECT_EQ(view.ListRowCount(IDC_CONNECTION_LIST), 20);
        EXPECT_EQ(view.ListRowCount(IDC_CHECK_LIST_HIGH), 4);
    });
}

TEST_F(MainWindowTest, CheckBoxesFollowPlugSuccessAndAllCheckToggles) {
    Bench rig(4);
    ASSERT_EQ(ApiCreateConnect(), 1);
    FakeDialogView view;
    auto enabled = [](int n) {
        int flag = -1;
        ApiGetEnableFlg(n, &flag);
        return flag;
    };
    auto checks = [&] {
        std::vector<bool> boxes;
        for (int row = 0; row < view.ListRowCount(IDC_CONNECTION_LIST); ++row)
            boxes.push_back(view.ListGetRowCheck(IDC_CONNECTION_LIST, row));
        return boxes;
    };
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        dialog.BuildTargetRows();
        for (int n : {1, 2, 4})
            ApiSetTargetPlugStatus(n, PLUG_READY);
        ApiSetTargetPlugStatus(3, PLUG_IDENTIFIED);

        // A successful plug checks every row; target 3 did not plug and bounces back.
        for (int row = 0; row < 4; ++row)
            view.ListSetRowCheck(IDC_CONNECTION_LIST, row, true);
        EXPECT_EQ(checks(), (std::vector<bool>{true, true, false, true}));
        EXPECT_EQ(enabled(1), 1);
        EXPECT_EQ(enabled(3), 0) << "a target that did not plug stays disabled";

        // The operator unticks and ticks again.
        view.ListSetRowCheck(IDC_CONNECTION_LIST, 1, false);
        EXPECT_EQ(enabled(2), 0);
        view.ListSetRowCheck(IDC_CONNECTION_LIST, 1, true);
        EXPECT_EQ(enabled(2), 1);

        // First press clears every box, the second ticks the plugged ones, the third clears.
        e.OnCommand(IDC_ALL_CHECK);
        EXPECT_EQ(checks(), (std::vector<bool>{false, false, false, false}));
        for (int n = 1; n <= 4; ++n)
            EXPECT_EQ(enabled(n), 0) << n;
        e.OnCommand(IDC_ALL_CHECK);
        EXPECT_EQ(checks(), (std::vector<bool>{true, true, false, true}));
        EXPECT_EQ(enabled(4), 1);
        EXPECT_EQ(enabled(3), 0);
        e.OnCommand(IDC_ALL_CHECK);
        EXPECT_EQ(checks(), (std::vector<bool>{false, false, false, false}));

        // Check boxes of the other lists are not the Connection List's.
        e.OnListCheckChanged(IDC_FILE_LIST, 0, true);
        EXPECT_EQ(enabled(1), 0);
    });
}

TEST_F(MainWindowTest, ContextMenuOnlyOnRowsWithSaveMemoryGrayedByItsRule) {
    Bench rig(4);
    ASSERT_EQ(ApiCreateConnect(), 1);
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        dialog.BuildTargetRows();
        for (int n = 1; n <= 4; ++n)
            ApiSetTargetPlugStatus(n, PLUG_READY);
        ApiSetTargetStatus(2, 0x6000);
        ApiSetTargetPlugStatus(3, PLUG_IDENTIFIED);
        ApiSetEnableFlg(4, 0);

        e.OnListRightClick(IDC_CONNECTION_LIST, -1);
        e.OnListRightClick(IDC_CONNECTION_LIST, 4);
        e.OnListRightClick(IDC_FILE_LIST, 0);
        EXPECT_TRUE(view.popupMenus.empty()) << "no menu below the rows or in other lists";

        for (int row = 0; row < 4; ++row)
            e.OnListRightClick(IDC_CONNECTION_LIST, row);
        ASSERT_EQ(view.popupMenus.size(), 4u);
        for (int row = 0; row < 4; ++row) {
            const auto& items = view.popupMenus[row];
            ASSERT_EQ(items.size(), 2u);
            EXPECT_EQ(items[0].command, ID_TARGET_SAVE_MEMORY);
            EXPECT_EQ(items[0].text, "Save Memory");
            EXPECT_EQ(items[0].grayed, row != 0) << row;
            EXPECT_EQ(items[1].command, ID_TARGET_PROPERTIES);
            EXPECT_EQ(items[1].text, "Properties");
            EXPECT_FALSE(items[1].grayed);
        }
        EXPECT_TRUE(view.messages.empty());
    });
}

TEST_F(MainWindowTest, PropertiesShowFirmwareAndDevicePath) {
    Bench rig(2);
    vexilsim::SimBench& bench = rig.sim;
    bench.adapter(1).setFirmwareVersion("2.05");
    ASSERT_EQ(ApiCreateConnect(), 1);
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        dialog.BuildTargetRows();
        ApiSetTargetPlugStatus(2, PLUG_IDENTIFIED);
        ASSERT_EQ(ApiCheckFirm(2), 1);
        view.popupAnswers = {ID_TARGET_PROPERTIES, ID_TARGET_PROPERTIES};
        e.OnListRightClick(IDC_CONNECTION_LIST, 1);
        e.OnListRightClick(IDC_CONNECTION_LIST, 0);
    });
    ASSERT_EQ(view.messages.size(), 2u);
    EXPECT_EQ(view.messages[0].text,
              "Target No.2\nFirmware Version: 2.05\nUSB Device Path: " + bench.path(1) + "\n\n");
    EXPECT_EQ(view.messages[0].icon, MsgIcon::Information);
    EXPECT_EQ(view.messages[0].caption, "Quorvel");
    // Target 1's firmware was never asked for.
    EXPECT_EQ(view.messages[1].text,
              "Target No.1\nFirmware Version: \nUSB Device Path: " + bench.path(0) + "\n\n");
}

TEST_F(MainWindowTest, DoubleClickLightsTheTargetForFiveSecondsWithoutSleeping) {
    Bench rig(20);
    vexilsim::SimBench& bench = rig.sim;
    ASSERT_EQ(ApiCreateConnect(), 1);
    FakeDialogView view;
    std::vector<uint32_t> waits;
    std::vector<uint32_t> lightsDuringWait;
    int lit = 1;  // the adapter index the wait looks at
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        dialog.SetIdentifyWait([&](uint32_t ms) {
            waits.push_back(ms);
            lightsDuringWait.push_back(bench.adapter(lit).errorIndications());
            EXPECT_TRUE(view.waitCursor);
        });
        dialog.BuildTargetRows();

        // Connection List row 1: target 2 lights, then its firmware is asked again.
        e.OnListDoubleClick(IDC_CONNECTION_LIST, 1);
        EXPECT_EQ(waits, (std::vector<uint32_t>{5000}));
        EXPECT_EQ(lightsDuringWait, (std::vector<uint32_t>{1}));
        const auto trace = bench.adapter(1).trace();
        ASSERT_FALSE(trace.empty());
        EXPECT_EQ(trace.back().kind, vexilsim::CommandKind::kGetFirmVersion);
        EXPECT_FALSE(view.waitCursor);
        int count = 0;
        EXPECT_EQ(ApiGetTargetNum(&count), 1) << "the connection stays";

        // Row 1 of the list for 17 and up: target 18, through a fresh connection.
        lit = 17;
        e.OnListDoubleClick(IDC_CHECK_LIST_HIGH, 1);
        EXPECT_EQ(waits.size(), 2u);
        EXPECT_EQ(lightsDuringWait.back(), 1u);
        for (int i = 0; i < 20; ++i)
            EXPECT_EQ(bench.adapter(i).errorIndications(), i == 1 || i == 17 ? 1u : 0u) << i;
        EXPECT_EQ(bench.adapter(17).trace().back().kind, vexilsim::CommandKind::kSystemReset);
        EXPECT_EQ(ApiGetTargetNum(&count), 0) << "that connection is dropped again";
        EXPECT_FALSE(view.waitCursor);

        // A target that does not answer its reset is not lit; the cursor comes back all the
        // same.
        bench.adapter(4).InjectFault(vexilsim::CommandKind::kSystemReset,
                                     vexilsim::Fault::NoReply());
        e.OnListDoubleClick(IDC_CHECK_LIST_LOW, 4);
        EXPECT_EQ(waits.size(), 2u);
        EXPECT_EQ(bench.adapter(4).errorIndications(), 0u);
        EXPECT_FALSE(view.waitCursor);
        EXPECT_EQ(view.waitCursorOn, 3);

        EXPECT_EQ(lock_.held, 0) << "the adapters are given back";

        // Not while another program holds the adapters: connecting would reset them.
        lock_.heldElsewhere = true;
        const size_t framesBefore = bench.adapter(0).trace().size();
        e.OnListDoubleClick(IDC_CHECK_LIST_LOW, 0);
        EXPECT_EQ(waits.size(), 2u);
        EXPECT_EQ(bench.adapter(0).errorIndications(), 0u);
        EXPECT_EQ(bench.adapter(0).trace().size(), framesBefore);
        ASSERT_FALSE(view.messages.empty());
        EXPECT_EQ(view.messages.back().text, "Vexil is not connected. Check the connection.");
        lock_.heldElsewhere = false;

        // Not while an operation runs: it would pull the connection from under it.
        dialog.SetBusyState(CQuorvelDlg::BusyKind(4));
        e.OnListDoubleClick(IDC_CHECK_LIST_LOW, 0);
        EXPECT_EQ(waits.size(), 2u);
        EXPECT_EQ(bench.adapter(0).errorIndications(), 0u);
        dialog.SetIdleState(CQuorvelDlg::IdleState(4));
    });
}

TEST_F(MainWindowTest, ResultFieldColourFollowsTheResultDisplayState) {
    FakeDialogView view;
    CQuorvelDlg dialog(view, "Quorvel", lock_);
    DialogEvents& e = dialog;
    const std::vector<std::pair<int, Rgb>> cases = {
        {0, {0, 255, 0}},     {1, {255, 255, 0}}, {2, {255, 0, 0}},
        {3, {255, 255, 255}}, {10, {0, 0, 255}},  {7, {255, 255, 255}},
    };
    EXPECT_EQ(e.OnControlColour(IDC_RESULT_EDIT), (Rgb{255, 255, 255})) << "3 at start";
    for (const auto& [state, colour] : cases) {
        dialog.SetResultDisplayState(programdata::ResultCode(state));
        EXPECT_EQ(e.OnControlColour(IDC_RESULT_EDIT), colour) << state;
    }
    EXPECT_EQ(e.OnControlColour(IDC_CHECKSUM_EDIT), std::nullopt);
}

TEST_F(MainWindowTest, AboutFromTheButtonAndTheSystemMenu) {
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        e.OnCommand(IDC_ABOUT);
        e.OnCommand(IDM_ABOUTBOX);
    });
    EXPECT_EQ(view.aboutShown, 2);
    EXPECT_THAT(view.about.versionLine,
                ::testing::MatchesRegex("Quorvel Version : [0-9]+\\.[0-9][0-9]"));
    EXPECT_FALSE(view.about.secondLine.empty());
}

// The band both windows place below their controls.
TEST(MainWindowLayout, BandSitsLowInItsRoomWithRowsHeldBetweenTheirLimits) {
    const PixelRect span{12, 0, 680, 1};
    // Plenty of room: full-height rows at the bottom, one gap above the client's edge.
    BandPlacement b = PlaceProductionBand(600, 700, span);
    EXPECT_EQ(b.yield, (PixelRect{12, 648, 374, 22}));
    EXPECT_EQ(b.fails, (PixelRect{390, 648, 302, 22}));
    EXPECT_EQ(b.progress, (PixelRect{12, 674, 680, 22}));
    EXPECT_EQ(b.fails.right(), span.right()) << "the texts share the span";
    // Just enough room for rows between the limits: the band fills it.
    b = PlaceProductionBand(650, 700, span);
    EXPECT_EQ(b.yield.top, 654);
    EXPECT_EQ(b.yield.height, 19);
    EXPECT_EQ(b.progress.bottom(), 696);
    // No room: the smallest rows, below the controls rather than over them.
    b = PlaceProductionBand(690, 700, span);
    EXPECT_EQ(b.yield.top, 694);
    EXPECT_EQ(b.progress.height, 12);
    // At 144 DPI gaps and row limits grow by half.
    b = PlaceProductionBand(0, 1000, span, 144);
    EXPECT_EQ(b.progress.height, 33);
    EXPECT_EQ(b.progress.bottom(), 994);
    EXPECT_EQ(b.fails.left, b.yield.right() + 6);
    EXPECT_EQ(PlaceProductionBand(990, 1000, span, 144).yield, (PixelRect{12, 996, 374, 18}));
}

TEST(MainWindowLayout, ALabelGrowsUpToTheNearestControlOnItsRows) {
    const PixelRect label{10, 20, 100, 16};
    EXPECT_EQ(LabelRoomRight(label, {}, 700, 4), 696) << "nothing beside it: the window's edge";
    const std::vector<PixelRect> around = {
        {200, 18, 80, 20},   // beside it, further away
        {60, 30, 50, 20},    // overlaps its last rows: the nearest
        {5, 20, 40, 16},     // starts left of it
        {10, 40, 300, 100},  // the list it names, below
        {30, 36, 20, 10},    // touches its bottom edge only
        {30, 0, 20, 20},     // touches its top edge only
    };
    EXPECT_EQ(LabelRoomRight(label, around, 700, 4), 56);
    EXPECT_EQ(LabelRoomRight(label, std::span(around).first(1), 700, 4), 196);
    EXPECT_EQ(LabelRoomRight(label, std::span(around).last(4), 700, 4), 696);
}

TEST(MainWindowLayout, TextStaysReadableAndAFailedYieldShowsBlackOnRed) {
    const Rgb white{255, 255, 255}, black{0, 0, 0};
    EXPECT_EQ(TextColourOn(Rgb{0, 0, 255}), white) << "the stopped result's blue";
    EXPECT_EQ(TextColourOn(Rgb{0, 255, 0}), black);
    EXPECT_EQ(TextColourOn(Rgb{255, 255, 0}), black);
    EXPECT_EQ(TextColourOn(Rgb{127, 127, 127}), white);
    EXPECT_EQ(TextColourOn(Rgb{128, 128, 128}), black);
    EXPECT_FALSE(YieldBandColours(false).has_value());
    const std::optional<FieldColours> failed = YieldBandColours(true);
    ASSERT_TRUE(failed.has_value());
    EXPECT_EQ(failed->background, (Rgb{255, 0, 0}));
    EXPECT_EQ(failed->text, black) << "both windows draw the failed yield alike";
}

}  // namespace
