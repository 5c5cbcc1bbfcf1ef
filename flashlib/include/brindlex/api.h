#pragma once
/* The library's flat exports, for programs in C, C++ or any language that calls C: plain C
   linkage, undecorated names, the cdecl convention, C types only.

   Each returns 1 when the call was carried out and 0 when it was refused (no connection, a
   target number outside 1 to the count of ApiGetTargetNum, a null out-argument, a refused
   argument); a target's own outcome is read afterwards with ApiGetTargetStatus. A refused
   call sets its out-arguments that are not null to 0 (ApiGetDevicePathStr leaves needed as it
   was). No exception leaves a function: a
   failure inside the library (such as running out of memory) is a refusal as well. Every call
   comes from one thread at a time. */
#ifdef __cplusplus
#include <cstdint>

#include "brindlex/target_info.h"
#else
#include <stdint.h>
/* The set of target descriptions that CQuorvelApi::ReadTargetInfoFile returns; C code passes
   it on without looking inside. No flat function reads one: a C program gets it from C++ code. */
typedef struct TRGINFO TRGINFO;
#endif

#include "brindlex/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The connection list. ApiCreateConnect: 1 when adapters were found and connected; 0 when a
   list exists already (it is kept), when no adapter was found or the search failed; -1 when
   more than 32 adapters are present. ApiDelConnect: 1 when a list was destroyed, else 0.
   ApiGetTargetNum: count receives the number of targets. */
BRINDLEX_API int BRINDLEX_CALL ApiCreateConnect(void);
BRINDLEX_API int BRINDLEX_CALL ApiDelConnect(void);
BRINDLEX_API int BRINDLEX_CALL ApiGetTargetNum(int* count);

/* Adapter commands to one target. A failed command leaves its code in the target's status,
   also when the call returns 1. */
BRINDLEX_API int BRINDLEX_CALL ApiSysResetPlug(int n);
BRINDLEX_API int BRINDLEX_CALL ApiSysReset(int n);
BRINDLEX_API int BRINDLEX_CALL ApiCheckFirm(int n);
/* name: the selected target type's name in set. */
BRINDLEX_API int BRINDLEX_CALL ApiCheckTargetName(int n, TRGINFO* set, const char* name);
/* type: the security type of a plugged target. */
BRINDLEX_API int BRINDLEX_CALL ApiGetSecType(int n, uint16_t* type);

/* All-target operations: each works on every enabled, plugged target and records each
   target's outcome in its status. */
BRINDLEX_API int BRINDLEX_CALL ApiChipEraseAll(void);
BRINDLEX_API int BRINDLEX_CALL ApiFlashEraseBlockAll(uint32_t address);
BRINDLEX_API int BRINDLEX_CALL ApiFlashWriteAll(uint32_t first, uint32_t last, uint32_t destination,
                                                const uint8_t* image);
BRINDLEX_API int BRINDLEX_CALL ApiFlashWriteAllWithSN(uint32_t first, uint32_t last,
                                                      uint32_t destination, const uint8_t* image,
                                                      uint32_t serialAddress);
/* Reads size bytes of target n's flash into buffer; count receives the bytes read. */
BRINDLEX_API int BRINDLEX_CALL ApiFlashRead(int n, uint32_t size, uint32_t* count, uint8_t* buffer);
BRINDLEX_API int BRINDLEX_CALL ApiUpdateErrorTargetLED(int n);
BRINDLEX_API int BRINDLEX_CALL ApiErrorTargetLED(int n);

/* Per-target state. */
BRINDLEX_API int BRINDLEX_CALL ApiGetEnableFlg(int n, int* flag);
BRINDLEX_API int BRINDLEX_CALL ApiSetEnableFlg(int n, int flag);
BRINDLEX_API int BRINDLEX_CALL ApiGetTargetStatus(int n, int* status);
BRINDLEX_API int BRINDLEX_CALL ApiSetTargetStatus(int n, int status);
BRINDLEX_API int BRINDLEX_CALL ApiIsTargetPlugSuccess(int n, int* flag);
BRINDLEX_API int BRINDLEX_CALL ApiGetTargetPlugStatus(int n, int* plugStatus);
BRINDLEX_API int BRINDLEX_CALL ApiSetTargetPlugStatus(int n, int plugStatus);
/* The serial-number bytes merged into target n's writes. Get: length receives how many the
   target holds; they are copied only when buffer holds that many. Set: keeps a copy of 1 to
   256 bytes, replacing the previous ones. */
BRINDLEX_API int BRINDLEX_CALL ApiGetSerialNumber(int n, uint8_t* buffer, uint32_t size,
                                                  uint32_t* length);
BRINDLEX_API int BRINDLEX_CALL ApiSetSerialNumber(int n, const uint8_t* bytes, uint32_t length);
/* Target n's device path: needed receives its length with the NUL; it is copied only when
   buffer holds that many bytes (a null buffer only measures). */
BRINDLEX_API int BRINDLEX_CALL ApiGetDevicePathStr(int n, char* buffer, uint32_t size,
                                                   uint32_t* needed);

#ifdef __cplusplus
}
#endif
