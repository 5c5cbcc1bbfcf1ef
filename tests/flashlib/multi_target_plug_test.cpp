// Plug-time checks of the multi-target service against simulated adapters: identity, chip
// name, flash geometry told to the adapter, firmware version, resets and protection.
#include <gtest/gtest.h>

#include <cstring>

#include "support/multi_target_rig.h"

using mtrig::CommandKind;
using mtrig::Rig;
using vexilsim::Fault;

namespace {

CFlashApi* Adapter(int n) {
    return ApiObj.GetTrgConnect()->GetIndexDevObj(n);
}

TEST(MultiTargetPlug, IdentityMatchesExceptRevisionBitsAndHandsOverTheDescription) {
    Rig rig(3);
    ASSERT_EQ(rig.connectResult(), 1);
    rig.chip(1).setIdentity(0x12AB5678, 0x00020400);  // bits 16-23 differ: same type
    rig.chip(2).setIdentity(0x13345678, 0x00020400);  // bit 24 differs: another type
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(ApiCheckTargetName(n, rig.set(), "QX16A064"), 1);
    }
    EXPECT_EQ(rig.Status(1), 0);
    EXPECT_EQ(rig.Status(2), 0x2002);
    EXPECT_EQ(rig.Status(3), 0);
    EXPECT_EQ(rig.Requests(1, CommandKind::kReadId64).size(), 1u);
    EXPECT_STREQ(Adapter(1)->getTargetInfo()->name, "QX16A064");
    EXPECT_STREQ(Adapter(2)->getTargetInfo()->name, "");

    // ROM window and the address 16 bytes below the reserved area: 4 x 4096 - 512 - 16.
    auto told = rig.adapter(1).targetSetting();
    EXPECT_TRUE(told.set);
    EXPECT_EQ(told.windowStart, 0x2000);
    EXPECT_EQ(told.windowEnd, 0x2FFF);
    EXPECT_EQ(told.address, 0x3DF0u);
    EXPECT_FALSE(rig.adapter(2).targetSetting().set);
}

TEST(MultiTargetPlug, WithoutFullIdentityTheChipNameMustEqualTheDigitsOfTheEntryName) {
    CTargetInfo info = mtrig::Description();
    std::strcpy(info.name, "XY12Z345");
    info.targetId32 = 0;
    info.targetIdBitNum = 93;  // anything but 64 reads the 128-bit identity
    Rig rig(3, info);
    rig.chip(2).setChipName("1234");
    rig.chip(3).setChipName("XY12Z345");
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(ApiCheckTargetName(n, rig.set(), "XY12Z345"), 1);
    }
    EXPECT_EQ(rig.chip(1).chipName(), "12345");
    EXPECT_EQ(rig.Status(1), 0);
    EXPECT_EQ(rig.Status(2), 0x2002);
    EXPECT_EQ(rig.Status(3), 0x2002);
    EXPECT_EQ(rig.Requests(1, CommandKind::kReadId128).size(), 1u);
    EXPECT_EQ(rig.Requests(1, CommandKind::kGetChipName).size(), 1u);
    EXPECT_EQ(rig.adapter(1).targetSetting().address, 0u);  // no block count: address 0
}

TEST(MultiTargetPlug, NameLookupStaysInsideTheSetAndSkipsIneligibleTargets) {
    Rig rig(4);
    CTargetInfo entries[2] = {mtrig::Description(), mtrig::Description()};
    std::strcpy(entries[0].name, "OTHER");
    TRGINFO oneEntry{1, entries};  // the second entry lies beyond count
    EXPECT_EQ(ApiCheckTargetName(1, &oneEntry, "QX16A064"), 1);
    EXPECT_EQ(rig.Status(1), 0x2002);
    EXPECT_EQ(ApiCheckTargetName(2, nullptr, "QX16A064"), 1);
    EXPECT_EQ(rig.Status(2), 0x2002);
    EXPECT_EQ(ApiCheckTargetName(3, rig.set(), "qx16a064"), 1);  // case matters
    EXPECT_EQ(rig.Status(3), 0x2002);

    ApiSetEnableFlg(4, 0);
    rig.chip(4).setIdentity(0x99999999, 0);
    EXPECT_EQ(ApiCheckTargetName(4, rig.set(), "QX16A064"), 1);
    EXPECT_EQ(rig.Status(4), 0);
    EXPECT_TRUE(rig.adapter(4).trace().empty());
    EXPECT_EQ(ApiCheckTargetName(1, rig.set(), nullptr), 0);
    EXPECT_EQ(ApiCheckTargetName(0, rig.set(), "QX16A064"), 0);
    EXPECT_EQ(ApiCheckTargetName(5, rig.set(), "QX16A064"), 0);
}

TEST(MultiTargetPlug, CodedGeometryGivesTheAddressAndARejectedAddressStaysInTheStatus) {
    CTargetInfo info = mtrig::Description();
    info.targetId00 = 0x40005678;  // bit 30: block size and sizes coded as shifts
    info.targetId32 = 0x00010200;  // block size 2048 << 1, two blocks
    info.targetId64 = 0x00002000;  // bits 13-15 = 1: reserved 1024; bits 10-12 = 0: 512
    info.areaCount = 1;
    info.areas[0] = {0x0000, 0x1FFF};
    {
        Rig rig(1, info);
        ApiCheckTargetName(1, rig.set(), "QX16A064");
        EXPECT_EQ(rig.Status(1), 0);
        EXPECT_EQ(rig.adapter(1).targetSetting().address, 2 * 4096u - 1024 - 16);
    }
    info.targetId64 = 0x00002C00;  // bits 10-12 = 3: no address
    {
        Rig rig(1, info);
        ApiCheckTargetName(1, rig.set(), "QX16A064");
        EXPECT_EQ(rig.adapter(1).targetSetting().address, 0u);
    }
    info.targetId64 = 0x00002010;  // high count bits: 18 blocks, beyond the only area
    {
        Rig rig(1, info);
        EXPECT_EQ(ApiCheckTargetName(1, rig.set(), "QX16A064"), 1);
        EXPECT_EQ(rig.Status(1), 0x4005);
        EXPECT_FALSE(rig.adapter(1).targetSetting().set);
    }
}

TEST(MultiTargetPlug, FirmwareVersionTextAndMinimum) {
    const char* texts[] = {"1.5", "1,23", "1.09", "1.10", "2.00", "12.3", "1.1a"};
    const int expected[] = {0x2003, 0x2003, 0x2004, 0, 0, 0x2003, 0x2003};
    Rig rig(7);  // the description asks for 1.10
    for (int n = 1; n <= 7; ++n) {
        rig.adapter(n).setFirmwareVersion(texts[n - 1]);
        ApiSetTargetPlugStatus(n, PLUG_STARTED);
        ApiCheckTargetName(n, rig.set(), "QX16A064");
        EXPECT_EQ(ApiCheckFirm(n), 1);
        EXPECT_EQ(rig.Status(n), expected[n - 1]) << texts[n - 1];
    }

    uint32_t needed = 0;
    EXPECT_EQ(ApiObj.GetFirmVerStr(1, nullptr, 0, needed), 0);  // never read
    EXPECT_EQ(ApiObj.GetFirmVerStr(3, nullptr, 0, needed), 1);
    EXPECT_EQ(needed, 5u);
    char text[8] = "xxxxxxx";
    EXPECT_EQ(ApiObj.GetFirmVerStr(3, text, 4, needed), 1);
    EXPECT_STREQ(text, "xxxxxxx");
    EXPECT_EQ(ApiObj.GetFirmVerStr(3, text, 5, needed), 1);
    EXPECT_STREQ(text, "1.09");
    ApiSetTargetPlugStatus(4, PLUG_NONE);
    EXPECT_EQ(ApiObj.GetFirmVerStr(4, text, sizeof text, needed), 0);

    // A disabled target is not asked and keeps its status.
    ApiSetTargetStatus(5, 0);
    ApiSetEnableFlg(5, 0);
    rig.bench().ClearTraces();
    rig.adapter(5).setFirmwareVersion("0.01");
    EXPECT_EQ(ApiCheckFirm(5), 1);
    EXPECT_EQ(rig.Status(5), 0);
    EXPECT_TRUE(rig.adapter(5).trace().empty());
}

// The TRG reader keeps a signed minimum; the check must read the same number from it, and,
// comparing unsigned, a negative one is a minimum no firmware reaches.
TEST(MultiTargetPlug, ASignedMinimumVersionIsTheNumberTheReaderKept) {
    const struct {
        const char *minimum, *firmware;
        int status;
    } cases[] = {{"+2.05", "2.04", 0x2004}, {"+2.05", "2.05", 0}, {"-1.00", "9.99", 0x2004}};
    CTargetInfo info = mtrig::Description();
    for (const auto& c : cases) {
        std::strcpy(info.version, c.minimum);
        Rig rig(1, info);
        rig.adapter(1).setFirmwareVersion(c.firmware);
        ApiSetTargetPlugStatus(1, PLUG_STARTED);
        ApiCheckTargetName(1, rig.set(), "QX16A064");
        ApiCheckFirm(1);
        EXPECT_EQ(rig.Status(1), c.status) << c.minimum << " " << c.firmware;
    }
}

TEST(MultiTargetPlug, PlugResetLeavesThePowerOnStateAndResetsAgainUnlessTheReplySaysDone) {
    Rig rig(4);
    rig.chip(1).setPowerOnState(true);
    rig.chip(2).setPowerOnState(true);
    rig.adapter(2).removePowerOnResult = 3;
    rig.adapter(3).systemResetResult = 3;
    rig.adapter(4).InjectFault(CommandKind::kSystemReset, Fault::Status(0x6000));
    for (int n = 1; n <= 4; ++n) {
        EXPECT_EQ(ApiSysResetPlug(n), 1);
    }
    auto modes = [&](int n) {
        std::string m;
        for (const auto& e : rig.Requests(n, CommandKind::kSystemReset)) {
            m += std::to_string(e.payload().at(2));
        }
        return m;
    };
    EXPECT_EQ(modes(1), "01");
    EXPECT_EQ(rig.Requests(1, CommandKind::kRemovePowerOnState).size(), 1u);
    EXPECT_EQ(rig.Status(1), 0);
    EXPECT_EQ(modes(2), "0");
    EXPECT_EQ(modes(3), "0");
    EXPECT_EQ(modes(4), "0");
    EXPECT_EQ(rig.Requests(4, CommandKind::kRemovePowerOnState).size(), 0u);
    EXPECT_EQ(rig.Status(4), 0x6000);
    EXPECT_EQ(ApiSysResetPlug(4), 1);  // a failed target is left alone
    EXPECT_EQ(modes(4), "0");
}

TEST(MultiTargetPlug, ResetAllSendsEveryRequestFirstAndClearsOnlyThePowerOnStatus) {
    Rig rig(3);
    rig.chip(2).setPowerOnState(true);
    rig.adapter(3).InjectFault(CommandKind::kSystemReset, Fault::Status(0x6000));
    EXPECT_EQ(ApiObj.SysResetAll(), 1);
    EXPECT_EQ(rig.Rounds(CommandKind::kSystemReset), "1,2,3>1,2,3");
    EXPECT_EQ(rig.Status(1), 0);
    EXPECT_EQ(rig.Status(2), 0);
    EXPECT_EQ(rig.Status(3), 0x6000);

    EXPECT_EQ(ApiSysReset(2), 1);
    EXPECT_EQ(rig.Status(2), 0);
    EXPECT_EQ(ApiSysReset(4), 0);
}

TEST(MultiTargetPlug, ProtectionIsReadOnlyOnceIdentifiedAndDecidesReadiness) {
    Rig rig(3);
    rig.chip(1).setProtected(true);
    rig.chip(1).setSecurityId({0x1111, 0x2222});
    for (int n = 1; n <= 3; ++n) {
        ApiCheckTargetName(n, rig.set(), "QX16A064");
    }
    uint16_t protect = 0;
    uint16_t type = 7;
    const uint16_t right[2] = {0x1111, 0x2222};
    const uint16_t wrong[2] = {0x1111, 0x2223};
    for (PlugStatus early : {PLUG_NONE, PLUG_STARTED}) {
        ApiSetTargetPlugStatus(1, early);
        EXPECT_EQ(ApiObj.IsTargetProtected(1, protect), 0);
        EXPECT_EQ(protect, 1);
        protect = 0;
        EXPECT_EQ(ApiObj.SetSecID(1, 2, right, protect), 0);
        EXPECT_EQ(protect, 1);
        EXPECT_EQ(ApiGetSecType(1, &type), 0);
        EXPECT_EQ(type, 0);
    }
    EXPECT_TRUE(rig.Requests(1, CommandKind::kReadProtect).empty());

    ApiSetTargetPlugStatus(1, PLUG_IDENTIFIED);
    EXPECT_EQ(ApiObj.IsTargetProtected(1, protect), 1);
    EXPECT_EQ(protect, 1);
    EXPECT_EQ(rig.Status(1), 0x2005);
    EXPECT_EQ(rig.PlugState(1), PLUG_IDENTIFIED);
    ApiSetTargetStatus(1, 0);
    EXPECT_EQ(ApiObj.SetSecID(1, 2, wrong, protect), 1);
    EXPECT_EQ(rig.Status(1), 0x2005);
    ApiSetTargetStatus(1, 0);
    EXPECT_EQ(ApiObj.SetSecID(1, 2, nullptr, protect), 0);
    EXPECT_EQ(ApiObj.SetSecID(1, 2, right, protect), 1);
    EXPECT_EQ(protect, 0);
    EXPECT_EQ(rig.Status(1), 0);
    EXPECT_EQ(rig.PlugState(1), PLUG_READY);
    EXPECT_EQ(ApiGetSecType(1, &type), 1);
    EXPECT_EQ(type, 0);

    // Unprotected: ready at once; protected again later: back to identified.
    ApiSetTargetPlugStatus(2, PLUG_IDENTIFIED);
    EXPECT_EQ(ApiObj.IsTargetProtected(2, protect), 1);
    EXPECT_EQ(protect, 0);
    EXPECT_EQ(rig.PlugState(2), PLUG_READY);
    rig.chip(2).setProtected(true);
    EXPECT_EQ(ApiObj.IsTargetProtected(2, protect), 1);
    EXPECT_EQ(rig.PlugState(2), PLUG_IDENTIFIED);
    EXPECT_EQ(rig.Status(2), 0x2005);

    // Disabled: carried out, nothing asked, nothing changed.
    ApiSetTargetPlugStatus(3, PLUG_IDENTIFIED);
    ApiSetEnableFlg(3, 0);
    EXPECT_EQ(ApiObj.IsTargetProtected(3, protect), 1);
    EXPECT_EQ(protect, 1);
    EXPECT_EQ(rig.PlugState(3), PLUG_IDENTIFIED);
    EXPECT_TRUE(rig.Requests(3, CommandKind::kReadProtect).empty());
}

}  // namespace
