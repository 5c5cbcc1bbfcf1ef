#pragma once
// Only what carries BRINDLEX_API leaves the library; everything else is hidden.
#if defined(_WIN32)
#if defined(BRINDLEX_STATIC) && !defined(BRINDLEX_BUILDING)
// Code linked with the library's objects (its tests, the simulator) imports nothing.
#define BRINDLEX_API
#elif defined(BRINDLEX_BUILDING)
#define BRINDLEX_API __declspec(dllexport)
#else
#define BRINDLEX_API __declspec(dllimport)
#endif
#else
#define BRINDLEX_API __attribute__((visibility("default")))
#endif
