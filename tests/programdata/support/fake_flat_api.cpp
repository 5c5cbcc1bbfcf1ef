#include "support/fake_flat_api.h"

#include <cstring>

#include "brindlex/api.h"

namespace fakeapi {

FakeFlatApi& Fake() {
    static FakeFlatApi state;
    return state;
}

void Reset() {
    Fake() = FakeFlatApi{};
}

FakeFlatApi& Connect(int count) {
    Reset();
    Fake().connected = true;
    Fake().targets.resize(size_t(count));
    return Fake();
}

namespace {

FakeTarget* Target(int n) {
    FakeFlatApi& f = Fake();
    if (!f.connected || n < 1 || size_t(n) > f.targets.size())
        return nullptr;
    return &f.targets[size_t(n) - 1];
}

}  // namespace

}  // namespace fakeapi

using fakeapi::Fake;
using fakeapi::Target;

extern "C" {

int ApiGetTargetNum(int* count) {
    if (count != nullptr)
        *count = 0;
    if (!Fake().connected)
        return 0;
    if (count != nullptr)
        *count = int(Fake().targets.size());
    return 1;
}

int ApiGetEnableFlg(int n, int* flag) {
    if (flag != nullptr)
        *flag = 0;
    fakeapi::FakeTarget* t = Target(n);
    if (t == nullptr)
        return 0;
    if (flag != nullptr)
        *flag = t->enableFlg != 0 ? 1 : 0;
    return 1;
}

int ApiGetTargetStatus(int n, int* status) {
    if (status != nullptr)
        *status = 0;
    fakeapi::FakeTarget* t = Target(n);
    if (t == nullptr)
        return 0;
    if (status != nullptr)
        *status = t->status;
    return 1;
}

int ApiSetTargetStatus(int n, int status) {
    fakeapi::FakeTarget* t = Target(n);
    if (t == nullptr)
        return 0;
    t->status = status;
    return 1;
}

int ApiIsTargetPlugSuccess(int n, int* flag) {
    if (flag != nullptr)
        *flag = 0;
    fakeapi::FakeTarget* t = Target(n);
    if (t == nullptr)
        return 0;
    if (flag != nullptr)
        *flag = t->plugStatus == fakeapi::kPlugReady ? 1 : 0;
    return 1;
}

int ApiGetDevicePathStr(int n, char* buffer, uint32_t size, uint32_t* needed) {
    fakeapi::FakeTarget* t = Target(n);
    if (t == nullptr || !t->devicePathKnown)
        return 0;
    uint32_t need = uint32_t(t->devicePath.size() + 1);
    if (needed != nullptr)
        *needed = need;
    if (buffer != nullptr && size >= need)
        std::memcpy(buffer, t->devicePath.c_str(), need);
    return 1;
}

int ApiFlashRead(int n, uint32_t size, uint32_t* count, uint8_t* buffer) {
    if (count != nullptr)
        *count = 0;
    fakeapi::FakeTarget* t = Target(n);
    if (t == nullptr || t->plugStatus != fakeapi::kPlugReady)
        return 0;
    Fake().flashReads++;
    Fake().lastReadTarget = n;
    Fake().lastReadSize = size;
    if (t->enableFlg == 1 && t->status == 0) {
        if (!t->flash.empty())
            std::memcpy(buffer, t->flash.data(), t->flash.size());
        if (count != nullptr)
            *count = uint32_t(t->flash.size());
        t->status = t->statusAfterRead;
    }
    return 1;
}

int ApiGetSerialNumber(int n, uint8_t* buffer, uint32_t size, uint32_t* length) {
    fakeapi::FakeTarget* t = Target(n);
    if (t == nullptr)
        return 0;
    uint32_t len = uint32_t(t->serialNumber.size());
    if (length != nullptr)
        *length = len;
    if (buffer != nullptr && size >= len && len != 0)
        std::memcpy(buffer, t->serialNumber.data(), len);
    return 1;
}

}  // extern "C"
