// The benchmark fills with 0xFF and never reaches a target; programdata's calls of the flat
// API answer here as the library does without a connection.
#include "brindlex/api.h"

extern "C" {
int ApiGetTargetNum(int* count) {
    if (count != nullptr)
        *count = 0;
    return 0;
}
int ApiGetEnableFlg(int, int* flag) {
    if (flag != nullptr)
        *flag = 0;
    return 0;
}
int ApiGetTargetStatus(int, int* status) {
    if (status != nullptr)
        *status = 0;
    return 0;
}
int ApiIsTargetPlugSuccess(int, int* flag) {
    if (flag != nullptr)
        *flag = 0;
    return 0;
}
int ApiSetTargetStatus(int, int) {
    return 0;
}
int ApiGetDevicePathStr(int, char*, uint32_t, uint32_t*) {
    return 0;
}
int ApiFlashRead(int, uint32_t, uint32_t* count, uint8_t*) {
    if (count != nullptr)
        *count = 0;
    return 0;
}
}
