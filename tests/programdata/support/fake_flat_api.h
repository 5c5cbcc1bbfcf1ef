#pragma once
// A scriptable stand-in for the library's flat Api* functions that programdata calls. Tests
// set up targets here; the functions answer as the library does (0 without a connection or for
// a target number out of range, out-arguments set on entry).
#include <cstdint>
#include <string>
#include <vector>

namespace fakeapi {

constexpr int kPlugNone = 0;
constexpr int kPlugReady = 3;

struct FakeTarget {
    int enableFlg = 1;
    int status = 0;
    int plugStatus = kPlugReady;
    // What ApiFlashRead delivers, whole: the library reads block by block and may deliver
    // more than the size asked for, up to the end of the block in which it reaches it.
    std::vector<uint8_t> flash;
    int statusAfterRead = 0;  // a read sets this status (a failed adapter command)
    std::string devicePath;
    bool devicePathKnown = true;  // false: ApiGetDevicePathStr refuses, as for a lost path
    std::string firmwareText;     // for tests that stand in for ApiObj.GetFirmVerStr
    std::vector<uint8_t> serialNumber;
};

struct FakeFlatApi {
    bool connected = false;
    std::vector<FakeTarget> targets;  // target n is targets[n - 1]
    int flashReads = 0;
    int lastReadTarget = 0;
    uint32_t lastReadSize = 0;
};

// The state behind the fake functions; Reset() before each test.
FakeFlatApi& Fake();
void Reset();
// Connects with count default targets.
FakeFlatApi& Connect(int count);

}  // namespace fakeapi
