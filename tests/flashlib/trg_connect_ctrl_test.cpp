#include "brindlex/trg_connect_ctrl.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "brindlex/flash_api.h"
#include "platform/inproc_device.h"
#include "support/scripted_adapter.h"

using test::ScriptedAdapter;

namespace {

class TrgConnectCtrlTest : public ::testing::Test {
  protected:
    void TearDown() override { plat::InprocClear(); }

    // Registers n adapters named adapter00, adapter01, ... in that order.
    void AddAdapters(int n) {
        for (int i = 0; i < n; ++i) {
            char name[32];
            std::snprintf(name, sizeof name, "adapter%02d", i);
            devices.push_back(std::make_shared<ScriptedAdapter>());
            paths.push_back(test::RegisterAdapter(devices.back(), name));
        }
    }

    uint32_t OpenHandles(const std::string& path) {
        plat::InprocStats s;
        plat::InprocGetStats(path, s);
        return s.openHandles;
    }

    std::vector<std::shared_ptr<ScriptedAdapter>> devices;
    std::vector<std::string> paths;
};

TEST_F(TrgConnectCtrlTest, NoAdapters) {
    // A device of another interface class is not an adapter.
    const plat::GUID other = {1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}};
    plat::InprocRegister(std::string(plat::kInprocPathPrefix) + "other",
                         std::make_shared<ScriptedAdapter>(), &other);
    CTrgConnectCtrl list;
    EXPECT_EQ(list.GetUsbDevice(), 1);
    EXPECT_EQ(list.GetDevNum(), 0);
    EXPECT_EQ(list.CreateFlashApi(), 0);
    EXPECT_EQ(list.GetSizeDevObj(), 0);
    EXPECT_EQ(list.GetHeadDevObj(), nullptr);
    EXPECT_EQ(list.GetHeadPositionDevObj(), nullptr);
    uint32_t needed = 0;
    EXPECT_EQ(list.GetDevicePathStr(1, nullptr, 0, needed), 0);
}

TEST_F(TrgConnectCtrlTest, ThirtyTwoAdaptersInDiscoveryOrder) {
    AddAdapters(32);
    CTrgConnectCtrl list;
    ASSERT_EQ(list.GetUsbDevice(), 1);
    EXPECT_EQ(list.GetDevNum(), 32);
    ASSERT_EQ(list.CreateFlashApi(), 1);
    ASSERT_EQ(list.GetSizeDevObj(), 32);

    DEVPOSITION position = list.GetHeadPositionDevObj();
    for (int n = 1; n <= 32; ++n) {
        char buffer[256];
        uint32_t needed = 0;
        ASSERT_EQ(list.GetDevicePathStr(n, buffer, sizeof buffer, needed), 1);
        EXPECT_EQ(std::string(buffer), paths[n - 1]);
        CFlashApi* adapter = list.GetIndexDevObj(n);
        ASSERT_NE(adapter, nullptr);
        EXPECT_EQ(adapter->getStatus(), FLASH_OK);
        ASSERT_NE(position, nullptr);
        EXPECT_EQ(list.GetNextDevObj(position), adapter);
        // Each adapter's own device was opened for its object.
        EXPECT_EQ(OpenHandles(paths[n - 1]), 1u);
    }
    EXPECT_EQ(position, nullptr);
    EXPECT_EQ(list.GetHeadDevObj(), list.GetIndexDevObj(1));
    EXPECT_EQ(list.GetIndexDevObj(0), nullptr);
    EXPECT_EQ(list.GetIndexDevObj(33), nullptr);
}

TEST_F(TrgConnectCtrlTest, AThirtyThirdAdapterIsRefused) {
    AddAdapters(33);
    CTrgConnectCtrl list;
    EXPECT_EQ(list.GetUsbDevice(), -1);
    EXPECT_EQ(list.GetDevNum(), 33);
}

TEST_F(TrgConnectCtrlTest, AnInterfaceWithoutAReadablePathIsSkipped) {
    AddAdapters(3);
    plat::InprocSetSwitches(paths[1], {false, false, true});
    CTrgConnectCtrl list;
    ASSERT_EQ(list.GetUsbDevice(), 1);
    EXPECT_EQ(list.GetDevNum(), 3);
    ASSERT_EQ(list.CreateFlashApi(), 1);
    ASSERT_EQ(list.GetSizeDevObj(), 2);
    char buffer[256];
    uint32_t needed = 0;
    ASSERT_EQ(list.GetDevicePathStr(2, buffer, sizeof buffer, needed), 1);
    EXPECT_EQ(std::string(buffer), paths[2]);
    EXPECT_EQ(OpenHandles(paths[1]), 0u);
}

TEST_F(TrgConnectCtrlTest, DevicePathSizeProtocol) {
    AddAdapters(1);
    CTrgConnectCtrl list;
    ASSERT_EQ(list.GetUsbDevice(), 1);
    const uint32_t size = static_cast<uint32_t>(paths[0].size() + 1);

    uint32_t needed = 12345;
    EXPECT_EQ(list.GetDevicePathStr(0, nullptr, 0, needed), 0);
    EXPECT_EQ(list.GetDevicePathStr(2, nullptr, 0, needed), 0);
    EXPECT_EQ(needed, 12345u);

    EXPECT_EQ(list.GetDevicePathStr(1, nullptr, 0, needed), 1);
    EXPECT_EQ(needed, size);

    std::vector<char> buffer(size + 1, 'x');
    EXPECT_EQ(list.GetDevicePathStr(1, buffer.data(), size - 1, needed), 1);
    EXPECT_EQ(needed, size);
    EXPECT_EQ(buffer[0], 'x');

    EXPECT_EQ(list.GetDevicePathStr(1, buffer.data(), size, needed), 1);
    EXPECT_STREQ(buffer.data(), paths[0].c_str());
    EXPECT_EQ(buffer[size], 'x');
}

TEST_F(TrgConnectCtrlTest, AdaptersThatCouldNotBeOpenedAreKeptAndReleased) {
    AddAdapters(2);
    devices[1]->deviceOpenError = plat::ERROR_ACCESS_DENIED;
    {
        CTrgConnectCtrl list;
        ASSERT_EQ(list.GetUsbDevice(), 1);
        ASSERT_EQ(list.CreateFlashApi(), 1);
        ASSERT_EQ(list.GetSizeDevObj(), 2);
        EXPECT_EQ(list.GetIndexDevObj(1)->getStatus(), FLASH_OK);
        EXPECT_EQ(list.GetIndexDevObj(2)->getStatus(), FLASH_NOT_CONNECTED);
    }
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_TRUE(devices[i]->requests.empty());
        EXPECT_EQ(OpenHandles(paths[i]), 0u);
    }
}

TEST_F(TrgConnectCtrlTest, RemovedObjectsBelongToTheCaller) {
    AddAdapters(2);
    std::vector<CFlashApi*> taken;
    {
        CTrgConnectCtrl list;
        ASSERT_EQ(list.GetUsbDevice(), 1);
        ASSERT_EQ(list.CreateFlashApi(), 1);
        DEVPOSITION position = list.GetHeadPositionDevObj();
        while (position != nullptr)
            taken.push_back(list.GetNextDevObj(position));
        list.RemoveAllDevObj();
        EXPECT_EQ(list.GetSizeDevObj(), 0);
    }
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_EQ(OpenHandles(paths[0]), 1u);  // still alive
    for (CFlashApi* adapter : taken)
        delete adapter;
    EXPECT_EQ(OpenHandles(paths[0]), 0u);
}

}  // namespace
