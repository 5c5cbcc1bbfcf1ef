// The flat exports: the life of the connection list, the entry values every forwarder
// leaves when it is refused, null out-arguments, and the two-call size protocols.
#include <gtest/gtest.h>

#include <memory>

#include "support/multi_target_rig.h"

using mtrig::Rig;

namespace {

TEST(Exports, EveryForwarderWithoutConnectionIsRefusedWithItsEntryValues) {
    ASSERT_EQ(ApiObj.GetTrgConnect(), nullptr);
    int count = 7, flag = 7, status = 7, plug = 7;
    uint16_t type = 7, protect = 0;
    uint32_t read = 7, length = 7, needed = 7;
    uint8_t bytes[8] = {};
    char text[8] = "xxxxxxx";
    const uint16_t id[1] = {0};
    CTargetInfo info = mtrig::Description();
    TRGINFO set{1, &info};

    EXPECT_EQ(ApiDelConnect(), 0);
    EXPECT_EQ(ApiGetTargetNum(&count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(ApiSysResetPlug(1), 0);
    EXPECT_EQ(ApiSysReset(1), 0);
    EXPECT_EQ(ApiCheckFirm(1), 0);
    EXPECT_EQ(ApiCheckTargetName(1, &set, info.name), 0);
    EXPECT_EQ(ApiGetSecType(1, &type), 0);
    EXPECT_EQ(type, 0);
    EXPECT_EQ(ApiChipEraseAll(), 0);
    EXPECT_EQ(ApiFlashEraseBlockAll(0), 0);
    EXPECT_EQ(ApiFlashWriteAll(0, 7, 0, bytes), 0);
    EXPECT_EQ(ApiFlashWriteAllWithSN(0, 7, 0, bytes, 0), 0);
    EXPECT_EQ(ApiFlashRead(1, 8, &read, bytes), 0);
    EXPECT_EQ(read, 0u);
    EXPECT_EQ(ApiUpdateErrorTargetLED(1), 0);
    EXPECT_EQ(ApiErrorTargetLED(1), 0);
    EXPECT_EQ(ApiGetEnableFlg(1, &flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(ApiSetEnableFlg(1, 1), 0);
    EXPECT_EQ(ApiGetTargetStatus(1, &status), 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ApiSetTargetStatus(1, 0), 0);
    flag = 7;
    EXPECT_EQ(ApiIsTargetPlugSuccess(1, &flag), 0);
    EXPECT_EQ(flag, 0);
    EXPECT_EQ(ApiGetTargetPlugStatus(1, &plug), 0);
    EXPECT_EQ(plug, 0);
    EXPECT_EQ(ApiSetTargetPlugStatus(1, PLUG_READY), 0);
    EXPECT_EQ(ApiGetSerialNumber(1, bytes, sizeof bytes, &length), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(ApiSetSerialNumber(1, bytes, 4), 0);
    EXPECT_EQ(ApiGetDevicePathStr(1, text, sizeof text, &needed), 0);
    EXPECT_STREQ(text, "xxxxxxx");
    EXPECT_EQ(ApiObj.SysResetAll(), 0);
    EXPECT_EQ(ApiObj.IsTargetProtected(1, protect), 0);
    EXPECT_EQ(protect, 1);
    protect = 0;
    EXPECT_EQ(ApiObj.SetSecID(1, 1, id, protect), 0);
    EXPECT_EQ(protect, 1);
    EXPECT_EQ(ApiObj.GetFirmVerStr(1, text, sizeof text, needed), 0);
}

TEST(Exports, ConnectionListLivesFromCreateToDeleteAndASecondCreateKeepsIt) {
    {
        Rig rig(2);
        ASSERT_EQ(rig.connectResult(), 1);
        int count = 0;
        EXPECT_EQ(ApiGetTargetNum(&count), 1);
        EXPECT_EQ(count, 2);
        ApiSetTargetStatus(2, 0x2002);

        Rig more(1);  // a third adapter appears; the list is not searched again
        EXPECT_EQ(more.connectResult(), 0);
        EXPECT_EQ(ApiGetTargetNum(&count), 1);
        EXPECT_EQ(count, 2);
        EXPECT_EQ(rig.Status(2), 0x2002);
        EXPECT_EQ(ApiSetEnableFlg(0, 1), 0);
        EXPECT_EQ(ApiSetEnableFlg(3, 1), 0);

        EXPECT_EQ(ApiDelConnect(), 1);
        EXPECT_EQ(ApiGetTargetNum(&count), 0);
        EXPECT_EQ(ApiDelConnect(), 0);
    }
    EXPECT_EQ(ApiCreateConnect(), 0);  // no adapter present
    EXPECT_EQ(ApiObj.GetTrgConnect(), nullptr);
    {
        Rig tooMany(33);
        EXPECT_EQ(tooMany.connectResult(), -1);
        EXPECT_EQ(ApiObj.GetTrgConnect(), nullptr);
    }
    Rig full(32);
    EXPECT_EQ(full.connectResult(), 1);
}

TEST(Exports, NullOutArgumentsAreRefusedWhileConnected) {
    Rig rig(1);
    rig.PlugAll();
    uint8_t buffer[16] = {};
    EXPECT_EQ(ApiGetTargetNum(nullptr), 0);
    EXPECT_EQ(ApiGetSecType(1, nullptr), 0);
    EXPECT_EQ(ApiFlashRead(1, 16, nullptr, buffer), 0);
    EXPECT_EQ(ApiGetEnableFlg(1, nullptr), 0);
    EXPECT_EQ(ApiGetTargetStatus(1, nullptr), 0);
    EXPECT_EQ(ApiIsTargetPlugSuccess(1, nullptr), 0);
    EXPECT_EQ(ApiGetTargetPlugStatus(1, nullptr), 0);
    EXPECT_EQ(ApiGetSerialNumber(1, buffer, sizeof buffer, nullptr), 0);
    EXPECT_EQ(ApiGetDevicePathStr(1, nullptr, 0, nullptr), 0);
    EXPECT_EQ(ApiSetSerialNumber(1, nullptr, 4), 0);
    int flag = 0;
    EXPECT_EQ(ApiIsTargetPlugSuccess(1, &flag), 1);
    EXPECT_EQ(flag, 1);
}

TEST(Exports, DevicePathAndSerialNumberSizeProtocols) {
    Rig rig(2);
    const std::string& path = rig.bench().path(1);
    uint32_t needed = 0;
    EXPECT_EQ(ApiGetDevicePathStr(2, nullptr, 0, &needed), 1);
    EXPECT_EQ(needed, path.size() + 1);
    std::string text(needed, 'x');
    EXPECT_EQ(ApiGetDevicePathStr(2, text.data(), needed - 1, &needed), 1);
    EXPECT_EQ(text, std::string(needed, 'x'));
    EXPECT_EQ(ApiGetDevicePathStr(2, text.data(), needed, &needed), 1);
    EXPECT_STREQ(text.c_str(), path.c_str());
    EXPECT_EQ(ApiGetDevicePathStr(3, text.data(), needed, &needed), 0);

    const uint8_t first[3] = {1, 2, 3};
    const std::unique_ptr<uint8_t[]> big(new uint8_t[257]());
    ASSERT_EQ(ApiSetSerialNumber(1, first, 3), 1);
    EXPECT_EQ(ApiSetSerialNumber(1, first, 0), 0);
    EXPECT_EQ(ApiSetSerialNumber(1, big.get(), 257), 0);
    uint8_t out[4] = {9, 9, 9, 9};
    uint32_t length = 0;
    EXPECT_EQ(ApiGetSerialNumber(1, out, 2, &length), 1);  // too small: length only
    EXPECT_EQ(length, 3u);
    EXPECT_EQ(out[0], 9);
    EXPECT_EQ(ApiGetSerialNumber(1, out, sizeof out, &length), 1);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 3), std::vector<uint8_t>(first, first + 3));
    EXPECT_EQ(ApiSetSerialNumber(1, big.get(), 256), 1);
    EXPECT_EQ(ApiGetSerialNumber(1, nullptr, 0, &length), 1);
    EXPECT_EQ(length, 256u);
}

}  // namespace
