#pragma once
// What the controller finds for a production line without writing anything: the adapters a
// plug finds (CQuorvelDlg::ListAdapters) and what the next Write would do with the program
// files, checked without the adapters (CQuorvelDlg::CheckWrite).
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "brindlex/target_info.h"

// A target's flash protection as the plug's security check left it.
enum class Protection {
    Unknown,      // not checked: the target failed before (another chip, no answer)
    None,         // not protected
    Unlocked,     // protected, and an ID unlocked it
    Locked,       // protected, and no ID given unlocked it: skipped
    Initialized,  // erased with its security setting
};

struct AdapterListing {
    int target = 0;
    std::string devicePath;
    std::string firmware;         // as the plug's firmware check read it; empty when it did not
    std::string chipName;         // as the adapter reports it; empty when it did not answer
    std::optional<bool> matches;  // the chip is the selected target type; unknown if unread
    Protection protection = Protection::Unknown;
    uint32_t status = 0;  // the plug result (0: plugged)
    std::string message;  // its text, as the log shows it
};

// One piece of a program file's data: where it lands on the target.
struct LandedRange {
    enum class Where { Area, TestArea, Gap, Beyond } where = Where::Area;
    int area = 0;  // 1-based memory area number for Area
    uint32_t first = 0;
    uint32_t last = 0;
};

struct FileLanding {
    std::string fileName;
    std::string offsetText;  // as the file list shows it
    uint32_t start = 0;      // the file's own lowest and highest data address
    uint32_t end = 0;
    std::vector<LandedRange> ranges;
    uint64_t bytes = 0;
    uint64_t outsideBytes = 0;   // in a gap or beyond the flash: not written
    uint64_t testAreaBytes = 0;  // in the test data area: not written
};

// Bytes a Write erases with their block but does not program: lost on every board.
struct ErasedRange {
    uint32_t first = 0;
    uint32_t last = 0;
    uint32_t blockFirst = 0;
    uint32_t blockLast = 0;
    bool testArea = false;  // in the test data area, else read-only (between the memory areas)
};

struct WriteCheck {
    std::string targetName;
    std::vector<TargetArea> areas;
    std::optional<TargetArea> testArea;
    uint32_t blockSize = 0;  // of the target description, as Write erases
    std::string fill;        // "0xFF" or "Content of Flash Memory"
    std::vector<FileLanding> files;
    std::vector<ErasedRange> erased;
    std::string checksum;  // as the window shows it
    std::string logFile;
    // Serialization: the numbers the next Write gives to boards 1 to N, and the number stored
    // after them; wrapsAt is the first board whose number would wrap around (0: none).
    bool serialOn = false;
    uint32_t serialAddress = 0;
    uint16_t serialLength = 0;
    std::vector<std::string> serialNumbers;
    std::string nextSerial;
    int wrapsAt = 0;
    // With a line set, the pool that gives the numbers when the Write starts (none counted).
    std::string pool;
    // Every check a Write makes before it erases passed (the messages tell the others).
    bool writeWouldStart = false;
};
