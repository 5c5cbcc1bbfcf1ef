// Plug, Unplug, the connection check, the security ID check and serialization through the
// scripted view against in-process simulated adapters.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/brindlex.h"
#include "support/fake_dialog_view.h"
#include "support/writer_env.h"
#include "vexilsim/inproc_adapter.h"

namespace {

using vexilsim::CommandKind;

constexpr int kSecurityCheck = 0x2005;

// The chips of the installation's TRG files, read the way the program reads them.
std::vector<vexilsim::SimChip> Chips(const std::vector<std::string>& names) {
    uint16_t found = 0;
    TRGINFO* set = ApiObj.ReadTargetInfoFile(93, found);
    std::vector<vexilsim::SimChip> chips;
    for (const std::string& name : names)
        for (uint32_t i = 0; set != nullptr && i < set->count; ++i)
            if (name == set->entries[i].name)
                chips.emplace_back(set->entries[i]);
    ApiObj.DeleteTargetInfoSet(&set);
    return chips;
}

int PlugState(int n) {
    int state = -1;
    ApiGetTargetPlugStatus(n, &state);
    return state;
}

int Status(int n) {
    int status = -1;
    ApiGetTargetStatus(n, &status);
    return status;
}

std::array<std::string, 12> Fields(std::initializer_list<const char*> typed) {
    std::array<std::string, 12> fields;
    fields.fill("    ");
    size_t i = 0;
    for (const char* t : typed)
        fields[i++] = t;
    return fields;
}

SecurityIdResult Typed(std::initializer_list<const char*> typed) {
    return {IDOK, 0, Fields(typed)};
}

class PlugTest : public ::testing::Test {
  protected:
    void SetUp() override {
        env_.WriteTrg({"QX16A064"});
        // The same identity with the security type bit: its chip cannot be erased open.
        env_.WriteTrg({"QX16T064", 0x1C083032, 0x60810000});
    }
    void TearDown() override { ApiDelConnect(); }

    // count adapters of the named type, registered before the window starts.
    vexilsim::SimBench& Adapters(int count, const std::string& type = "QX16A064") {
        std::vector<vexilsim::SimChip> chips;
        for (int i = 0; i < count; ++i)
            chips.push_back(Chips({type}).at(0));
        bench_ = std::make_unique<vexilsim::SimBench>(chips, &VEXIL_INTERFACE_GUID);
        return *bench_;
    }
    void Protect(int index, std::vector<uint16_t> id) {
        bench_->chip(index).setProtected(true);
        bench_->chip(index).setSecurityId(std::move(id));
    }

    void Run(FakeDialogView& view, const std::function<void(CQuorvelDlg&, DialogEvents&)>& body) {
        CQuorvelDlg dialog(view, "Quorvel", env_.lock);
        view.actions.push_back([&](DialogEvents& e) { body(dialog, e); });
        dialog.DoModal();
    }

    std::vector<std::vector<uint8_t>> UnlockPayloads(int index) {
        std::vector<std::vector<uint8_t>> payloads;
        for (const auto& entry : bench_->adapter(index).trace())
            if (entry.kind == CommandKind::kUnlockProtect &&
                entry.direction == vexilsim::TraceEntry::kReceived)
                payloads.push_back(entry.payload());
        return payloads;
    }

    WriterEnv env_;
    std::unique_ptr<vexilsim::SimBench> bench_;
};

TEST_F(PlugTest, PlugTicksTheReadyTargetsAndUnplugResetsAndReleasesThem) {
    vexilsim::SimBench& bench = Adapters(3);
    bench.adapter(1).setFirmwareVersion("1.05");
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        ASSERT_TRUE(dialog.IsPlugged());
        EXPECT_EQ(view.Control(IDC_PLUG).text, "Un&plug");
        EXPECT_EQ(env_.lock.held, 1);
        auto& rows = view.Control(IDC_CONNECTION_LIST).rows;
        ASSERT_EQ(rows.size(), 3u);
        EXPECT_EQ(rows[0].cells[3], "Plug OK");
        EXPECT_EQ(rows[1].cells[3], "Plug Error: Different firmware version.");
        EXPECT_EQ(view.Control(IDC_CHECK_LIST_LOW).rows[1].cells[2], rows[1].cells[3]);
        EXPECT_TRUE(rows[0].checked && rows[2].checked);
        EXPECT_FALSE(rows[1].checked) << "a target that did not plug takes no part";
        EXPECT_EQ(PlugState(2), PLUG_IDENTIFIED);
        EXPECT_EQ(PlugState(3), PLUG_READY);
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "Plug FAILURE");
        EXPECT_TRUE(view.Control(IDC_FILE_BROWSE).focused) << "Write is disabled without files";
        EXPECT_GE(bench.adapter(1).errorIndications(), 1u);
        EXPECT_EQ(bench.adapter(0).errorIndications(), 0u);

        e.OnCommand(IDC_PLUG);
        EXPECT_FALSE(dialog.IsPlugged());
        EXPECT_EQ(view.Control(IDC_PLUG).text, "&Plug");
        EXPECT_EQ(env_.lock.held, 0) << "Unplug gives the adapters to other programs";
        EXPECT_TRUE(view.Control(IDC_CONNECTION_LIST).rows.empty());
        for (int n = 1; n <= 3; ++n)
            EXPECT_EQ(PlugState(n), PLUG_NONE) << n;
        EXPECT_EQ(bench.adapter(0).systemResetModes().back(), 0);
        EXPECT_EQ(env_.Key("SERIALNUMFLG"), "0") << "Unplug saves the serialization keys";
    });
}

TEST_F(PlugTest, APlugThatCannotConnectLeavesTheAdaptersToOtherPrograms) {
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        env_.lock.heldElsewhere = true;
        e.OnCommand(IDC_PLUG);
        EXPECT_TRUE(view.Shows(2039));
        env_.lock.heldElsewhere = false;

        e.OnCommand(IDC_PLUG);  // no adapter at all
        EXPECT_TRUE(view.Shows(193));
        EXPECT_EQ(env_.lock.held, 0);
        EXPECT_TRUE(dialog.OperationFailed());

        Adapters(33);
        e.OnCommand(IDC_PLUG);
        EXPECT_TRUE(view.Shows(2055));
        EXPECT_EQ(env_.lock.held, 0);
        EXPECT_FALSE(dialog.IsPlugged());
        EXPECT_EQ(view.Control(IDC_PLUG).text, "&Plug");
    });
}

TEST_F(PlugTest, RememberedOrTypedIdsUnlockAndOnlyAWorkingIdIsRemembered) {
    env_.WriteIni("[Settings]\r\nSECUREIDSIZE=4\r\nSECUREID=12345678\r\n");
    Adapters(3);
    Protect(1, {0x1234, 0x5678});  // the remembered ID opens it
    Protect(2, {0xABCD, 0x0EF0});
    FakeDialogView view;
    // A wrong ID, then one typed into fields 1 and 2 only.
    view.securityIdAnswers = {Typed({"ABCD", "0EF1"}), Typed({"abcd", "0EF0", "    ", "1234"})};
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        EXPECT_TRUE(dialog.IsPlugged());
        ASSERT_EQ(view.securityIdRequests.size(), 2u) << "only target 3 asks, once per try";
        EXPECT_EQ(view.securityIdRequests[1].target, 3);
        EXPECT_EQ(view.CountMessages(139), 1);
        for (int n = 1; n <= 3; ++n)
            EXPECT_EQ(PlugState(n), PLUG_READY) << n;
    });
    EXPECT_TRUE(UnlockPayloads(0).empty()) << "an unprotected target is never unlocked";
    EXPECT_EQ(UnlockPayloads(1).size(), 1u);
    const auto tries = UnlockPayloads(2);
    ASSERT_EQ(tries.size(), 3u);  // remembered, wrong, right
    const std::vector<uint8_t> right{0xAB, 0xCD, 0x0E, 0xF0};
    ASSERT_GE(tries[2].size(), right.size());
    EXPECT_TRUE(std::equal(right.begin(), right.end(), tries[2].end() - 4));
    EXPECT_EQ(tries[2].size(), tries[0].size()) << "two words: the blank field ends the ID";
    EXPECT_EQ(env_.Key("SECUREID"), "ABCD0EF0");
    EXPECT_EQ(env_.Key("SECUREIDSIZE"), "4");
}

TEST(TypedSecurityIdWords, PartWordsCountWithZerosAndAnUntouchedWordEndsTheId) {
    EXPECT_EQ(TypedSecurityIdWords(Fields({"1234", "5678", "9ABC", "DE  ", "    ", "0001"})),
              (std::vector<uint16_t>{0x1234, 0x5678, 0x9ABC, 0xDE00}));
    EXPECT_EQ(TypedSecurityIdWords(Fields({" 3 4", "  0f", "   1"})),
              (std::vector<uint16_t>{0x0304, 0x000F, 0x0001}));
    EXPECT_TRUE(TypedSecurityIdWords(Fields({})).empty()) << "nothing typed: no word";
    // Views that hand over empty or odd texts: the ID ends at the first that is no word.
    EXPECT_EQ(TypedSecurityIdWords(Fields({"00AA", "", "1111"})), std::vector<uint16_t>{0x00AA});
    for (const char* odd : {"12", "12345", "G123", "-123", "+123", "0x12"})
        EXPECT_TRUE(TypedSecurityIdWords(Fields({odd, "1111"})).empty()) << odd;
    std::array<std::string, 12> full;
    full.fill("FFFF");
    EXPECT_EQ(TypedSecurityIdWords(full).size(), 12u);
}

TEST_F(PlugTest, AWordTypedInPartUnlocksWithZerosInItsBlanks) {
    Adapters(1);
    Protect(0, {0xDE00, 0x0304});
    FakeDialogView view;
    view.securityIdAnswers = {Typed({"DE  ", " 3 4"})};
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        EXPECT_TRUE(dialog.IsPlugged());
        EXPECT_EQ(PlugState(1), PLUG_READY);
    });
    EXPECT_EQ(env_.Key("SECUREID"), "DE000304");
}

// Others can read the ID the settings file remembers: the log says so once a run.
TEST_F(PlugTest, ARememberedIdOthersCanReadIsWarnedAboutOnceARun) {
    env_.WriteIni("[Settings]\r\nSECUREIDSIZE=4\r\nSECUREID=12345678\r\n");
    std::filesystem::permissions(env_.IniPath(), std::filesystem::perms::others_read,
                                 std::filesystem::perm_options::add);
    Adapters(1);
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        for (int i = 0; i < 4; ++i)
            e.OnCommand(IDC_PLUG);  // plug, unplug, plug, unplug
    });
    std::ifstream in(env_.bin / "Quorvel.log", std::ios::binary);
    const std::string log{std::istreambuf_iterator<char>(in), {}};
    const std::string warning = "Warning: " + env_.IniPath() +
                                " holds the security ID and other users can read it; make it "
                                "readable by its owner only (chmod 600).\r\n";
    EXPECT_NE(log.find(warning), std::string::npos) << log;
    EXPECT_EQ(log.find(warning), log.rfind(warning)) << "once";
    EXPECT_NE(log.find("\r\nPlug  "), log.rfind("\r\nPlug  ")) << "two plugs";
}

TEST_F(PlugTest, SkipKeepsCheckingUnplugEndsThePlugInitializeErasesEveryChip) {
    Adapters(3);
    for (int i = 0; i < 3; ++i)
        Protect(i, {uint16_t(i + 1)});
    FakeDialogView view;
    // Plug 1: skip target 1, open 2, an all-blank ID for 3 (zero words, wrong), then skip.
    view.securityIdAnswers = {{IDSKIP}, Typed({"0002"}), Typed({}), {IDSKIP}};
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        ASSERT_TRUE(dialog.IsPlugged());
        EXPECT_EQ(Status(1), kSecurityCheck);
        EXPECT_EQ(PlugState(2), PLUG_READY);
        EXPECT_EQ(Status(3), kSecurityCheck);
        EXPECT_EQ(view.Control(IDC_CONNECTION_LIST).rows[0].cells[3],
                  "Plug Error: Security ID Check");
        const auto tries = UnlockPayloads(2);  // the remembered 0002, then no word at all
        ASSERT_EQ(tries.size(), 2u);
        EXPECT_EQ(tries[0].size(), tries[1].size() + 2);
        EXPECT_EQ(view.CountMessages(139), 1);
        e.OnCommand(IDC_PLUG);

        // Plug 2: Unplug on target 1 unplugs all three at once.
        view.securityIdRequests.clear();
        view.securityIdAnswers = {{IDUNPLUG}};
        e.OnCommand(IDC_PLUG);
        EXPECT_EQ(view.securityIdRequests.size(), 1u);
        EXPECT_FALSE(dialog.IsPlugged());
        EXPECT_TRUE(dialog.OperationFailed());
        EXPECT_EQ(env_.lock.held, 0);
        for (int n = 1; n <= 3; ++n)
            EXPECT_EQ(PlugState(n), PLUG_NONE) << n;

        // Plug 3: Initialize on target 1 erases every chip and their protection.
        view.securityIdRequests.clear();
        view.securityIdAnswers = {{IDOK, 1, Fields({})}};
        e.OnCommand(IDC_PLUG);
        EXPECT_TRUE(dialog.IsPlugged());
        EXPECT_EQ(view.securityIdRequests.size(), 1u);
        for (int n = 1; n <= 3; ++n)
            EXPECT_EQ(PlugState(n), PLUG_READY) << n;
    });
    EXPECT_EQ(env_.Key("SECUREIDSIZE"), "24");
    EXPECT_EQ(env_.Key("SECUREID"), std::string(48, 'F'));
}

TEST_F(PlugTest, InitializeIsNotOfferedForSecurityTypeOne) {
    Adapters(1, "QX16T064");
    Protect(0, {0x0001});
    FakeDialogView view;
    view.securityIdAnswers = {{IDSKIP}};
    Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        auto& combo = view.Control(IDC_TARGET_COMBO);
        combo.curSel = int(std::find(combo.items.begin(), combo.items.end(), "QX16T064") -
                           combo.items.begin());
        e.OnComboSelChange(IDC_TARGET_COMBO);
        e.OnCommand(IDC_PLUG);
    });
    ASSERT_EQ(view.securityIdRequests.size(), 1u);
    EXPECT_FALSE(view.securityIdRequests[0].initializeAllowed);
}

TEST(SerialIncrementTest, AddsAtTheLastByteAndReportsTheWrap) {
    std::array<uint8_t, 256> serial{0x00, 0xFF}, one{0x00, 0x01};
    EXPECT_FALSE(AddSerialIncrement(serial, 2, one, 2));
    EXPECT_EQ(FormatHexBytes(serial, 2), "0100");
    serial = {0xFF, 0xFF};
    EXPECT_TRUE(AddSerialIncrement(serial, 2, one, 2));
    EXPECT_EQ(FormatHexBytes(serial, 2), "0000");
    // Lengths that differ (an edited settings file): 0001 still adds one.
    serial = {0x00, 0x00, 0x00, 0x09};
    EXPECT_FALSE(AddSerialIncrement(serial, 4, one, 2));
    EXPECT_EQ(FormatHexBytes(serial, 4), "0000000A");
    std::array<uint8_t, 256> big{0x01, 0x00, 0x00};
    EXPECT_TRUE(AddSerialIncrement(serial, 2, big, 3)) << "an increment wider than the number";
}

TEST_F(PlugTest, SerializationDialogChecksStoresAndPreviewsTheNumbers) {
    Adapters(3);
    FakeDialogView view;
    view.serializationAnswers = {
        {IDOK, {true, "12345", "8000", "1", 2}},  // three bytes do not fit in two: 2062
        {IDOK, {true, "00FF", "8000", "0001", 2}},
        {IDOK, {false, "00FF", "8000", "0001", 2}},
    };
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        e.OnCommand(IDC_SERIALIZATION);
        EXPECT_EQ(view.CountMessages(2062), 1);
        EXPECT_EQ(view.Control(IDC_WRITE).text, "&Write with \nSerial No.");
        const auto& rows = view.Control(IDC_CONNECTION_LIST).rows;
        EXPECT_EQ(rows[0].cells[2], "00FF");
        EXPECT_EQ(rows[1].cells[2], "0100");
        EXPECT_EQ(rows[2].cells[2], "0101");
        std::array<uint8_t, 2> held{};
        uint32_t length = 0;
        ApiGetSerialNumber(3, held.data(), 2, &length);
        EXPECT_EQ(FormatHexBytes(held, length), "0101");
        EXPECT_EQ(FormatHexBytes(dialog.Settings().serialNumber, 2), "00FF") << "a preview only";
        EXPECT_EQ(view.Control(IDC_SERIAL_TEXT_EDIT).text, "00FF");
        const std::string ini = env_.IniContent();
        EXPECT_NE(ini.find("SERIALNUMFLG=1\r\nSERIALNUM=00FF\r\nSERIALNUMINC=0001\r\n"
                           "SERIALNUMLEN=2\r\nSERIALNUMINCLEN=2\r\nSERIALNUMADDR=0x08000\r\n"),
                  std::string::npos)
            << ini;

        e.OnCommand(ID_SETTING_SERIALIZATION);
        EXPECT_EQ(view.Control(IDC_WRITE).text, "&Write");
        EXPECT_EQ(rows[0].cells[2], "");
        EXPECT_EQ(view.Control(IDC_SERIAL_TEXT_EDIT).text, "");
    });
}

TEST_F(PlugTest, ALongSerialNumberShowsItsLast32Digits) {
    std::string digits;
    for (int i = 0; i < 256; ++i)
        digits += "0123456789ABCDEF"[i % 16] + std::string("F");
    env_.WriteIni("[Settings]\r\nSERIALNUMFLG=1\r\nSERIALNUMLEN=256\r\nSERIALNUM=" + digits +
                  "\r\n");
    Adapters(1);
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg&, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        EXPECT_EQ(view.Control(IDC_CONNECTION_LIST).rows[0].cells[2],
                  digits.substr(digits.size() - 32));
    });
}

TEST_F(PlugTest, ConnectionCheckEndsUnpluggedAndAPluggedSetSurvivesIdentifyAndShutdown) {
    env_.WriteIni("[Settings]\r\nMODE=1\r\nSERIALNUMFLG=1\r\n");
    vexilsim::SimBench& bench = Adapters(3);
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_CONNECTION_CHECK);
        EXPECT_FALSE(dialog.IsPlugged());
        EXPECT_EQ(env_.lock.held, 0);
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "SUCCESS");
        EXPECT_EQ(view.Control(IDC_CHECK_LIST_LOW).rows[2].cells[2], "OK");
        uint32_t length = 0;
        ApiGetSerialNumber(1, nullptr, 0, &length);
        EXPECT_EQ(length, 0u) << "a connection check hands out no serial numbers";

        e.OnCommand(IDC_PLUG);
        dialog.SetIdentifyWait([](uint32_t) {});
        e.OnListDoubleClick(IDC_CHECK_LIST_LOW, 1);
        EXPECT_GE(bench.adapter(1).errorIndications(), 1u);
        EXPECT_EQ(bench.adapter(0).errorIndications(), 0u);
        for (int n = 1; n <= 3; ++n)
            EXPECT_EQ(PlugState(n), PLUG_READY) << "identifying keeps the plugged set";
    });
    // Shutdown while plugged resets every target and closes the connection.
    EXPECT_EQ(bench.adapter(2).systemResetModes().back(), 0);
    int count = -1;
    EXPECT_EQ(ApiGetTargetNum(&count), 0);
    EXPECT_EQ(env_.lock.held, 0);
}

TEST_F(PlugTest, AConnectionCheckThatFindsNoAdapterFailsAndShowsNoEarlierRows) {
    env_.WriteIni("[Settings]\r\nMODE=1\r\n");
    Adapters(2);
    FakeDialogView view;
    Run(view, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_CONNECTION_CHECK);
        ASSERT_EQ(view.Control(IDC_CHECK_LIST_LOW).rows.size(), 2u);
        bench_.reset();
        e.OnCommand(IDC_CONNECTION_CHECK);
        EXPECT_TRUE(view.Shows(193));
        EXPECT_EQ(view.Control(IDC_RESULT_EDIT).text, "FAILURE");
        EXPECT_EQ(dialog.ResultDisplayState(), programdata::kResultFailure);
        EXPECT_TRUE(view.Control(IDC_CHECK_LIST_LOW).rows.empty());
        EXPECT_TRUE(view.Control(IDC_CONNECTION_LIST).rows.empty());
    });
}

}  // namespace
