#pragma once
// The Windows SDK headers for the Win32 forwarders. Include this after every platform/ header:
// <windows.h> defines ERROR_SUCCESS, INVALID_HANDLE_VALUE, MAX_PATH and friends as macros,
// which would rewrite the platform layer's own declarations of the same names.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
