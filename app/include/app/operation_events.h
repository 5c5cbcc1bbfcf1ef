#pragma once
// What the controller tells about a running operation beyond the described window: each
// target's result, the operation's outcome and its progress. The console view prints them,
// the production record stores them, the window shows the progress; none of them decides
// anything.
#include <cstdint>
#include <string>

// One target after Plug, Unplug, Write, Verify, Erase or a whole Program cycle.
struct TargetResult {
    int operation = 0;  // programdata::OperationCode
    int target = 0;
    std::string devicePath;
    std::string serialNumber;  // as the log shows it; empty without serialization
    // A Program cycle's result carries the first failure of the target in the cycle (0 when
    // every operation left it without error), not only its last operation's status.
    uint32_t status = 0;
    std::string message;  // the status's text, as the log shows it
    uint32_t durationMs = 0;
    std::string targetName;  // the selected target type
    std::string chipName;    // as the adapter reported it when the target was plugged
    std::string checksum;    // the checksum text of the program files
    // The run of this operation and the outermost run holding it (a Program cycle, or the
    // operation itself): names that no other run of any station shares.
    std::string run;
    std::string cycle;
};

// The end of an operation: the result text as the window shows it (also in simple mode, where
// the window shows none for single operations), and the enabled targets that passed or failed.
struct OperationSummary {
    int operation = 0;
    std::string resultText;
    int resultCode = 0;  // programdata::ResultCode
    int passed = 0;
    int failed = 0;
    bool cancelled = false;
    uint32_t durationMs = 0;
};

// Progress of Write (block done of total), Verify (first the read of every target: target 0,
// blocks done of total; then the target and file being compared, done and total counting the
// comparisons of all enabled targets) and Erase.
struct OperationProgress {
    int operation = 0;
    uint32_t done = 0;
    uint32_t total = 0;
    int target = 0;           // Verify: the target being compared
    std::string file;         // Verify: the file being compared
    uint32_t fileNumber = 0;  // Verify: which of the target's files, from 1
    uint32_t fileCount = 0;   // Verify: the files each target is compared with
    uint32_t elapsedMs = 0;
};

class OperationObserver {
  public:
    virtual ~OperationObserver() = default;
    virtual void OnOperationStart(int operation) {}
    virtual void OnTargetResult(const TargetResult& result) {}
    virtual void OnOperationEnd(const OperationSummary& summary) {}
    virtual void OnProgress(const OperationProgress& progress) {}
    // The window went idle: progress shown during the operation goes away.
    virtual void OnIdle() {}
};
