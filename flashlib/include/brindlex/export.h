#pragma once
/* Only what carries BRINDLEX_API leaves the library; everything else is hidden. The flat
   functions name their calling convention (BRINDLEX_CALL), so that code of any compiler calls
   them the same way. C and C++ alike read this header. */
#if defined(_WIN32)
#if defined(BRINDLEX_STATIC) && !defined(BRINDLEX_BUILDING)
/* Code linked with the library's objects (its tests, the simulator) imports nothing. */
#define BRINDLEX_API
#elif defined(BRINDLEX_BUILDING)
#define BRINDLEX_API __declspec(dllexport)
#else
#define BRINDLEX_API __declspec(dllimport)
#endif
#define BRINDLEX_CALL __cdecl
#else
#define BRINDLEX_API __attribute__((visibility("default")))
#define BRINDLEX_CALL
#endif
