#pragma once
// The library's flat exports: plain C linkage, undecorated names. Each returns 1 when the
// call was carried out and 0 when it was refused (no connection, bad target number or
// argument); ApiCreateConnect also returns -1 for more than 32 adapters. A target's own
// outcome is read afterwards with ApiGetTargetStatus.
#include <cstdint>

#include "brindlex/export.h"
#include "brindlex/target_info.h"

extern "C" {
BRINDLEX_API int ApiCreateConnect(void);
BRINDLEX_API int ApiDelConnect(void);
BRINDLEX_API int ApiGetTargetNum(int* count);

BRINDLEX_API int ApiSysResetPlug(int n);
BRINDLEX_API int ApiSysReset(int n);
BRINDLEX_API int ApiCheckFirm(int n);
BRINDLEX_API int ApiCheckTargetName(int n, TRGINFO* set, const char* name);
BRINDLEX_API int ApiGetSecType(int n, uint16_t* type);
BRINDLEX_API int ApiChipEraseAll(void);
BRINDLEX_API int ApiFlashEraseBlockAll(uint32_t address);
BRINDLEX_API int ApiFlashWriteAll(uint32_t first, uint32_t last, uint32_t destination,
                                  const uint8_t* image);
BRINDLEX_API int ApiFlashWriteAllWithSN(uint32_t first, uint32_t last, uint32_t destination,
                                        const uint8_t* image, uint32_t serialAddress);
BRINDLEX_API int ApiFlashRead(int n, uint32_t size, uint32_t* count, uint8_t* buffer);
BRINDLEX_API int ApiUpdateErrorTargetLED(int n);
BRINDLEX_API int ApiErrorTargetLED(int n);
BRINDLEX_API int ApiGetEnableFlg(int n, int* flag);
BRINDLEX_API int ApiSetEnableFlg(int n, int flag);
BRINDLEX_API int ApiGetTargetStatus(int n, int* status);
BRINDLEX_API int ApiSetTargetStatus(int n, int status);
BRINDLEX_API int ApiIsTargetPlugSuccess(int n, int* flag);
BRINDLEX_API int ApiGetTargetPlugStatus(int n, int* plugStatus);
BRINDLEX_API int ApiSetTargetPlugStatus(int n, int plugStatus);
BRINDLEX_API int ApiGetSerialNumber(int n, uint8_t* buffer, uint32_t size, uint32_t* length);
BRINDLEX_API int ApiSetSerialNumber(int n, const uint8_t* bytes, uint32_t length);
BRINDLEX_API int ApiGetDevicePathStr(int n, char* buffer, uint32_t size, uint32_t* needed);
}
