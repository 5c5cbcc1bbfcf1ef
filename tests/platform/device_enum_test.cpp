#include "platform/device_enum.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/device_io.h"
#include "platform/device_provider.h"
#include "platform/inproc_device.h"
#include "support/test_device.h"

namespace {

using namespace plat;

const GUID kClassA = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 8}};
const GUID kClassB = {0x11111111, 0x2222, 0x3333, {1, 2, 3, 4, 5, 6, 7, 9}};

// Fetches every path of the set the way the library does: size query, then fetch.
std::vector<std::string> Paths(HDEVINFO set, const GUID& cls, uint32_t* lastError = nullptr) {
    std::vector<std::string> out;
    for (uint32_t i = 0;; ++i) {
        SP_DEVICE_INTERFACE_DATA data{};
        data.cbSize = sizeof data;
        if (!SetupDiEnumDeviceInterfaces(set, nullptr, &cls, i, &data)) {
            if (lastError)
                *lastError = GetLastError();
            break;
        }
        uint32_t required = 0;
        EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
        EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
        std::vector<uint8_t> buffer(required);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr))
            out.emplace_back(detail->DevicePath);
        else
            out.emplace_back("<failed>");
    }
    return out;
}

class DeviceEnum : public ::testing::Test {
  protected:
    void SetUp() override { InprocClear(); }
    void TearDown() override { InprocClear(); }
    std::shared_ptr<testdev::ScriptedDevice> Add(const std::string& path,
                                                 const GUID* cls = nullptr) {
        auto d = std::make_shared<testdev::ScriptedDevice>();
        EXPECT_TRUE(InprocRegister(path, d, cls));
        return d;
    }
};

TEST_F(DeviceEnum, ListsPresentDevicesOfTheClassInRegistrationOrderThenNoMoreItems) {
    Add("\\\\?\\inproc#vexil#0002", &kClassA);
    Add("\\\\?\\inproc#vexil#0001");  // no class: listed for every class
    Add("\\\\?\\inproc#other#0001", &kClassB);
    auto unplugged = Add("\\\\?\\inproc#vexil#0003", &kClassA);
    unplugged->connected = false;

    HDEVINFO set =
        SetupDiGetClassDevsA(&kClassA, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    ASSERT_NE(set, INVALID_HANDLE_VALUE);
    Add("\\\\?\\inproc#vexil#0004");  // after the snapshot: not in it
    uint32_t end = 0;
    EXPECT_EQ(Paths(set, kClassA, &end),
              (std::vector<std::string>{"\\\\?\\inproc#vexil#0002", "\\\\?\\inproc#vexil#0001"}));
    EXPECT_EQ(end, ERROR_NO_MORE_ITEMS);
    EXPECT_EQ(Paths(set, kClassB, &end).size(), 0u);  // the set holds class A only
    EXPECT_EQ(end, ERROR_NO_MORE_ITEMS);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    EXPECT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kClassA, 0, &data));
    EXPECT_TRUE(data.InterfaceClassGuid == kClassA);
    data.cbSize = 0;
    EXPECT_FALSE(SetupDiEnumDeviceInterfaces(set, nullptr, &kClassA, 0, &data));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    EXPECT_TRUE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_FALSE(SetupDiDestroyDeviceInfoList(set));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);

    set = SetupDiGetClassDevsA(&kClassB, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_EQ(Paths(set, kClassB).size(), 3u);
    SetupDiDestroyDeviceInfoList(set);

    EXPECT_EQ(SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_DEVICEINTERFACE),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(SetupDiGetClassDevsA(&kClassA, nullptr, nullptr, DIGCF_PRESENT),
              INVALID_HANDLE_VALUE);
}

TEST_F(DeviceEnum, DetailQueryFollowsTheSizeProtocol) {
    const std::string path = "\\\\?\\inproc#vexil#0001";
    Add(path);
    HDEVINFO set =
        SetupDiGetClassDevsA(&kClassA, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    // A record never filled by the enumeration is refused.
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    ASSERT_TRUE(SetupDiEnumDeviceInterfaces(set, nullptr, &kClassA, 0, &data));

    uint32_t required = 0;
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(required, 4 + path.size() + 1);

    std::vector<uint8_t> buffer(required, 0xEE);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    EXPECT_FALSE(
        SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required - 1, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(buffer[4], 0xEE);  // nothing written
    detail->cbSize = static_cast<uint32_t>(required);
    EXPECT_FALSE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    ASSERT_TRUE(SetupDiGetDeviceInterfaceDetailA(set, &data, detail, required, nullptr, nullptr));
    EXPECT_EQ(std::string(detail->DevicePath), path);
    EXPECT_EQ(buffer.back(), 0);

    // The path opens as a device.
    HANDLE dev = CreateFileA(detail->DevicePath, GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                             OPEN_ALWAYS, 0, nullptr);
    EXPECT_TRUE(IsOpenHandle(dev));
    CloseHandle(dev);
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(DeviceEnum, FailingDetailSwitchKeepsTheSizeQueryButFailsTheFetch) {
    Add("\\\\?\\inproc#vexil#0001");
    Add("\\\\?\\inproc#vexil#0002");
    InprocSwitches sw;
    sw.failDetailQuery = true;
    ASSERT_TRUE(InprocSetSwitches("\\\\?\\inproc#vexil#0001", sw));
    HDEVINFO set =
        SetupDiGetClassDevsA(&kClassA, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_EQ(Paths(set, kClassA),
              (std::vector<std::string>{"<failed>", "\\\\?\\inproc#vexil#0002"}));
    SetupDiDestroyDeviceInfoList(set);
}

// A provider of another path form, like the socket provider that lists vexil-sim's adapters.
class OtherProvider : public DeviceProvider {
  public:
    bool ClaimsPath(const std::string& p) override { return p.rfind("other:", 0) == 0; }
    std::unique_ptr<DeviceFile> Open(const std::string& p, int pipe, uint32_t,
                                     uint32_t& error) override {
        opened.push_back(p + "|" + std::to_string(pipe));
        error = ERROR_ACCESS_DENIED;
        return nullptr;
    }
    void ListInterfaces(const GUID& cls, std::vector<DeviceListing>& out) override {
        out.push_back({"other:b", cls, false});
    }
    std::vector<std::string> opened;
};

TEST_F(DeviceEnum, LaterProvidersAreListedAfterInProcessDevicesAndGetTheirPaths) {
    OtherProvider other;
    RegisterDeviceProvider(&other, 10);
    Add("\\\\?\\inproc#vexil#0001");
    HDEVINFO set =
        SetupDiGetClassDevsA(&kClassA, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_EQ(Paths(set, kClassA),
              (std::vector<std::string>{"\\\\?\\inproc#vexil#0001", "other:b"}));
    SetupDiDestroyDeviceInfoList(set);
    EXPECT_EQ(CreateFileA("other:b\\PIPE01", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
    EXPECT_EQ(other.opened, (std::vector<std::string>{"other:b|1"}));
    UnregisterDeviceProvider(&other);
    set = SetupDiGetClassDevsA(&kClassA, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    EXPECT_EQ(Paths(set, kClassA).size(), 1u);
    SetupDiDestroyDeviceInfoList(set);
}

TEST_F(DeviceEnum, RegistrationRefusesForeignPathFormsAndDuplicates) {
    auto d = std::make_shared<testdev::ScriptedDevice>();
    EXPECT_FALSE(InprocRegister("\\\\?\\usb#vexil", d));
    EXPECT_TRUE(InprocRegister("\\\\?\\inproc#x", d));
    EXPECT_FALSE(InprocRegister("\\\\?\\INPROC#X", d));
    EXPECT_FALSE(InprocRegister("\\\\?\\inproc#y", nullptr));
    EXPECT_TRUE(InprocUnregister("\\\\?\\inproc#X"));
    EXPECT_FALSE(InprocUnregister("\\\\?\\inproc#x"));
}

}  // namespace
