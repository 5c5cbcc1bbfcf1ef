/* A C program that binds every flat function of Brindlex at load time and calls each without
   adapters: each refuses and sets its out-arguments to 0. Built as C99 by the build's own C
   compiler and, for Windows, by clang with Microsoft's conventions and no C runtime
   (CLIENT_WITHOUT_CRT), linked by lld-link against Brindlex.lib. The exit status is 0, or the
   line of the first check that failed. */
#include "brindlex/api.h"

#define CHECK(condition)     \
    do {                     \
        if (!(condition))    \
            return __LINE__; \
    } while (0)

static int Run(void) {
    static const uint8_t bytes[4] = {1, 2, 3, 4};
    uint8_t buffer[8];
    int value = 7, flag = 7, status = 7, plug = 7;
    uint16_t type = 7;
    uint32_t count = 7, length = 7, needed = 7;
    CHECK(ApiCreateConnect() == 0 && ApiDelConnect() == 0);
    CHECK(ApiGetTargetNum(&value) == 0 && value == 0 && ApiGetTargetNum(0) == 0);
    CHECK(ApiSysResetPlug(1) == 0 && ApiSysReset(1) == 0 && ApiCheckFirm(1) == 0);
    CHECK(ApiCheckTargetName(1, 0, "QX16A064") == 0);
    CHECK(ApiGetSecType(1, &type) == 0 && type == 0);
    CHECK(ApiChipEraseAll() == 0 && ApiFlashEraseBlockAll(0) == 0);
    CHECK(ApiFlashWriteAll(0, 3, 0, bytes) == 0 && ApiFlashWriteAllWithSN(0, 3, 0, bytes, 0) == 0);
    CHECK(ApiFlashRead(1, sizeof buffer, &count, buffer) == 0 && count == 0);
    CHECK(ApiUpdateErrorTargetLED(1) == 0 && ApiErrorTargetLED(1) == 0);
    CHECK(ApiGetEnableFlg(1, &flag) == 0 && flag == 0 && ApiSetEnableFlg(1, 1) == 0);
    CHECK(ApiGetTargetStatus(1, &status) == 0 && status == 0 && ApiSetTargetStatus(1, 5) == 0);
    flag = 7;
    CHECK(ApiIsTargetPlugSuccess(1, &flag) == 0 && flag == 0);
    CHECK(ApiGetTargetPlugStatus(1, &plug) == 0 && plug == 0 && ApiSetTargetPlugStatus(1, 1) == 0);
    CHECK(ApiGetSerialNumber(1, buffer, sizeof buffer, &length) == 0 && length == 0);
    CHECK(ApiSetSerialNumber(1, bytes, sizeof bytes) == 0);
    CHECK(ApiGetDevicePathStr(1, (char*)buffer, sizeof buffer, &needed) == 0 && needed == 7);
    return 0;
}

#ifdef CLIENT_WITHOUT_CRT
__declspec(dllimport) __declspec(noreturn) void __stdcall ExitProcess(unsigned int code);
void __cdecl ClientMain(void) {
    ExitProcess((unsigned int)Run());
}
#else
int main(void) {
    return Run();
}
#endif
