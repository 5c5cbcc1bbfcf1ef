#include "programdata/status_texts.h"

#include <cstdio>

#include <vector>

#include "programdata/error_messages.h"
#include "programdata/targets.h"

namespace programdata {

std::string_view OperationName(int op) {
    switch (op) {
        case kOperationPlug:
            return "Plug";
        case kOperationWrite:
            return "Write";
        case kOperationVerify:
            return "Verify";
        case kOperationErase:
            return "Erase";
        case kOperationUnplug:
            return "Unplug";
        default:
            return {};
    }
}

std::string_view ProgressLabel(int op) {
    switch (op) {
        case kOperationPlug:
            return "Plugging";
        case kOperationWrite:
            return "Writing";
        case kOperationVerify:
            return "Verifying";
        case kOperationErase:
            return "Erasing";
        default:
            return {};
    }
}

namespace {

std::string_view StatusPrefix(int op, bool simpleMode) {
    switch (op) {
        case kOperationPlug:
            return simpleMode ? "" : "Plug ";
        case kOperationWrite:
            return "Write ";
        case kOperationVerify:
            return "Verify ";
        case kOperationErase:
            return "Erase ";
        case kOperationSave:
            return "Save ";
        default:
            return {};
    }
}

}  // namespace

std::string TargetStatusText(int op, uint32_t status, bool simpleMode) {
    std::string text(StatusPrefix(op, simpleMode));
    if (status == 0) {
        text += GetErrorMessage(0);
    } else if (status >= 0x2002 && status <= 0x2006) {
        text += "Error: ";
        text += GetErrorMessage(status);
    } else {
        char code[16];
        std::snprintf(code, sizeof code, "%04X", unsigned(status));
        text += "Error: 0x";
        text += code;
    }
    return text;
}

ResultCode EvaluateOperationOutcome(int op, std::span<const TargetState> states) {
    const bool everyTarget =
        op == kOperationPlug || op == kOperationUnplug || op == kOperationConnectionCheck;
    ResultCode outcome = kResultSuccess;
    for (const TargetState& t : states) {
        if (t.status != 0 && (everyTarget || t.enabled))
            return kResultFailure;
        if (!everyTarget && !t.enabled)
            outcome = kResultPartialSuccess;
    }
    return outcome;
}

ResultCode EvaluateOperationOutcome(int op) {
    std::vector<TargetState> states;
    for (int n : targets::All())
        states.push_back({targets::Enabled(n), targets::Status(n)});
    return EvaluateOperationOutcome(op, states);
}

OperationResultDisplay OperationResultText(int op, ResultCode outcome, bool simpleMode,
                                           bool cancelled) {
    // Save Memory has no log of its own, so no log name; its result still names it.
    const std::string_view name = op == kOperationSave ? "Save" : OperationName(op);
    OperationResultDisplay result{simpleMode ? std::string() : std::string(name), outcome};
    if (cancelled) {
        result.text += simpleMode ? "STOP" : " STOP";
        result.code = kResultStopped;
        return result;
    }
    if (simpleMode) {
        // The operator in simple mode only tells pass from fail; the colour still shows partial.
        result.text = outcome == kResultSuccess ? "SUCCESS" : "FAILURE";
        return result;
    }
    switch (outcome) {
        case kResultSuccess:
            result.text += " SUCCESS";
            break;
        case kResultPartialSuccess:
            result.text += " PARTIAL SUCCESS";
            break;
        default:
            result.text += " FAILURE";
            result.code = kResultFailure;
            break;
    }
    return result;
}

}  // namespace programdata
