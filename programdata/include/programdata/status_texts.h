#pragma once
// Operation codes shared by the log and the status texts, and the texts the target lists and
// the "Operation Result" field show while an operation runs and when it ends.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace programdata {

enum OperationCode : int {
    kOperationPlug = 0,
    kOperationWrite = 1,
    kOperationVerify = 2,
    kOperationErase = 3,
    kOperationUnplug = 5,
    kOperationSave = 6,             // status texts only
    kOperationProgram = 7,          // the Program button's whole cycle; result text only
    kOperationConnectionCheck = 8,  // result text only
};

// "Plug", "Write", "Verify", "Erase", "Unplug"; empty for every other code.
std::string_view OperationName(int op);

// "Plugging", "Writing", "Verifying", "Erasing" for Plug to Erase; empty otherwise.
std::string_view ProgressLabel(int op);

// The status cell after one target's operation: a prefix ("Plug " in detail mode only,
// "Write ", "Verify ", "Erase ", "Save "), then "OK", "Error: " with the message of codes 0x2002
// to 0x2006, or "Error: 0x" with the code in hexadecimal.
std::string TargetStatusText(int op, uint32_t status, bool simpleMode);

// Result display states of the "Operation Result" field; its colour follows them.
enum ResultCode : int {
    kResultSuccess = 0,
    kResultPartialSuccess = 1,
    kResultFailure = 2,
    kResultRunning = 3,
    kResultStopped = 10,
};

// One connected target as an operation's outcome counts it.
struct TargetState {
    bool enabled = false;
    uint32_t status = 0;
};

// The outcome over the connected targets (target n at n - 1): Plug, Unplug and the connection
// check fail on any non-zero status; the others fail on an enabled target with a non-zero
// status and are a partial success when some target is disabled.
ResultCode EvaluateOperationOutcome(int op, std::span<const TargetState> targets);
// The same over the targets as the library holds them now.
ResultCode EvaluateOperationOutcome(int op);

struct OperationResultDisplay {
    std::string text;
    ResultCode code;
};

// The field's text and state for an outcome (success, partial success or failure).
OperationResultDisplay OperationResultText(int op, ResultCode outcome, bool simpleMode,
                                           bool cancelled);

}  // namespace programdata
