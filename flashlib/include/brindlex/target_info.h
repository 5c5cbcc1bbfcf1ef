#pragma once
// One target type (one TRG file) and the set of them. Both deliverables share this layout:
// the program reads the fields directly and the library passes an entry by value.
#include <cstdint>

struct TargetArea {
    uint32_t start;  // inclusive
    uint32_t end;    // inclusive
};

class CTargetInfo {
  public:
    char name[256] = {};          // file name without directory and extension
    uint32_t targetId32 = 0;      // TARGETID32: high half of the 64-bit identity
    uint32_t targetId00 = 0;      // TARGETID00: low half of the 64-bit identity
    uint32_t areaCount = 0;       // valid pairs in areas (0 to 256)
    TargetArea areas[256] = {};   // merged writable flash ranges, ascending
    int32_t blockSize = 0;        // flash block size derived from the identity codes
    uint32_t edit = 0;            // EDIT
    uint32_t memoryType = 0;      // MEMORYTYPE
    uint32_t romWinStart = 0;     // PMAP ROMWIN start
    uint32_t romWinEnd = 0;       // PMAP ROMWIN end
    uint32_t brkPointVal = 0;     // BRKPOINTVAL
    uint32_t targetIdBitNum = 0;  // TARGETID_BIT_NUM: 64 selects the 64-bit identity read
    uint32_t targetId96 = 0;      // TARGETID96
    uint32_t targetId64 = 0;      // TARGETID64
    int32_t sizeFromBits10 = 0;   // size coded in bits 10-12 of targetId64
    int32_t sizeFromBits13 = 0;   // reserved test data area at the top of the flash
    uint32_t testStart = 0;       // start of the MMAP TEST entry, 0 when none
    char version[12] = {};        // VEXIL_VERSION, at most 9 characters
};

struct TRGINFO {
    uint32_t count;        // accepted entries, at least 1 in a returned set
    CTargetInfo* entries;  // room for one entry per file found; the first count are valid
};
