// Status codes to messages, the per-target status cells and the operation result texts.
#include "programdata/status_texts.h"

#include <gtest/gtest.h>

#include <vector>

#include "programdata/error_messages.h"
#include "programdata/targets.h"
#include "support/fake_flat_api.h"

using namespace programdata;

namespace {

TEST(ErrorMessages, EveryPairFindsItsTextAndUnknownCodesTheGeneralOne) {
    for (const ErrorMessagePair& pair : ErrorMessageTable) {
        EXPECT_FALSE(GetStringText(pair.messageId).empty()) << "no text for " << pair.messageId;
        EXPECT_EQ(GetErrorMessage(pair.code), GetStringText(pair.messageId)) << pair.code;
    }
    for (uint32_t k = 0; k < 8; ++k)
        EXPECT_EQ(FindErrorMessage(0x4000 + k).messageId, 2040 + k);
    EXPECT_EQ(FindErrorMessage(0x0000).messageId, 155u);
    EXPECT_EQ(FindErrorMessage(0x6303).messageId, 2032u);
    EXPECT_EQ(FindErrorMessage(0x5005).messageId, 2039u);
    EXPECT_EQ(FindErrorMessage(0x2005).messageId, 2052u);
    EXPECT_EQ(GetErrorMessage(0), "OK");
    EXPECT_EQ(GetErrorMessage(0x2006), "differences were detected. ");
    EXPECT_EQ(GetErrorMessage(0x5005), "Vexil is not connected. Check the connection.");
    // Codes next to the known ones, and codes above 16 bits, fall to the terminator.
    for (uint32_t code : {0x6301u, 0x630Bu, 0x4008u, 0x5006u, 0x2001u, 0x2008u, 0x16300u}) {
        EXPECT_EQ(FindErrorMessage(code).messageId, 2050u) << code;
        EXPECT_EQ(FormatErrorMessageCode(code), "FFFF") << code;
    }
    EXPECT_EQ(FormatErrorMessageCode(0x630A), "630A");
    EXPECT_EQ(FormatErrorMessageCode(0x0001), "0001");
}

TEST(StatusTexts, TargetCellsNameTheOperationAndTheError) {
    EXPECT_EQ(TargetStatusText(kOperationWrite, 0, false), "Write OK");
    EXPECT_EQ(TargetStatusText(kOperationVerify, 0x2006, false),
              "Verify Error: differences were detected. ");
    EXPECT_EQ(TargetStatusText(kOperationPlug, 0x2002, false), "Plug Error: Different target LSI.");
    EXPECT_EQ(TargetStatusText(kOperationPlug, 0x2002, true), "Error: Different target LSI.");
    EXPECT_EQ(TargetStatusText(kOperationPlug, 0, true), "OK");
    EXPECT_EQ(TargetStatusText(kOperationErase, 0x2005, false), "Erase Error: Security ID Check");
    // Codes outside 0x2002 to 0x2006 show as numbers, table entry or not.
    EXPECT_EQ(TargetStatusText(kOperationErase, 0x6300, false), "Erase Error: 0x6300");
    EXPECT_EQ(TargetStatusText(kOperationSave, 0x0001, false), "Save Error: 0x0001");
    EXPECT_EQ(TargetStatusText(kOperationWrite, 0x2001, false), "Write Error: 0x2001");
    EXPECT_EQ(TargetStatusText(kOperationWrite, 0x2007, false), "Write Error: 0x2007");
    EXPECT_EQ(TargetStatusText(kOperationUnplug, 0x630C, false), "Error: 0x630C");
}

TEST(StatusTexts, ResultTextsInBothModes) {
    struct Case {
        int op;
        ResultCode outcome;
        bool simple, cancelled;
        const char* text;
        ResultCode code;
    };
    const Case cases[] = {
        {kOperationWrite, kResultSuccess, false, false, "Write SUCCESS", kResultSuccess},
        {kOperationVerify, kResultPartialSuccess, false, false, "Verify PARTIAL SUCCESS",
         kResultPartialSuccess},
        {kOperationErase, kResultFailure, false, false, "Erase FAILURE", kResultFailure},
        {kOperationWrite, kResultFailure, false, true, "Write STOP", kResultStopped},
        {kOperationUnplug, kResultSuccess, false, false, "Unplug SUCCESS", kResultSuccess},
        {kOperationConnectionCheck, kResultFailure, false, false, " FAILURE", kResultFailure},
        {kOperationProgram, kResultSuccess, false, true, " STOP", kResultStopped},
        {kOperationWrite, kResultSuccess, true, false, "SUCCESS", kResultSuccess},
        // Simple mode only tells pass from fail; the state keeps the partial success.
        {kOperationProgram, kResultPartialSuccess, true, false, "FAILURE", kResultPartialSuccess},
        {kOperationProgram, kResultFailure, true, false, "FAILURE", kResultFailure},
        {kOperationProgram, kResultSuccess, true, true, "STOP", kResultStopped},
    };
    for (const Case& c : cases) {
        OperationResultDisplay shown = OperationResultText(c.op, c.outcome, c.simple, c.cancelled);
        EXPECT_EQ(shown.text, c.text);
        EXPECT_EQ(shown.code, c.code) << c.text;
    }
}

TEST(StatusTexts, OutcomeOverTheTargets) {
    fakeapi::Connect(3);
    auto& t = fakeapi::Fake().targets;
    EXPECT_EQ(EvaluateOperationOutcome(kOperationWrite), kResultSuccess);
    t[0].enableFlg = 0;
    EXPECT_EQ(EvaluateOperationOutcome(kOperationWrite), kResultPartialSuccess);
    // A disabled target's old status does not count; an enabled failure after it does.
    t[0].status = 0x6300;
    EXPECT_EQ(EvaluateOperationOutcome(kOperationVerify), kResultPartialSuccess);
    t[2].status = 0x2006;
    EXPECT_EQ(EvaluateOperationOutcome(kOperationVerify), kResultFailure);
    // Plug, Unplug and the check look at every target's status, enabled or not.
    t[2].status = 0;
    EXPECT_EQ(EvaluateOperationOutcome(kOperationPlug), kResultFailure);
    EXPECT_EQ(EvaluateOperationOutcome(kOperationConnectionCheck), kResultFailure);
    t[0].status = 0;
    EXPECT_EQ(EvaluateOperationOutcome(kOperationUnplug), kResultSuccess);
    fakeapi::Reset();
    EXPECT_EQ(EvaluateOperationOutcome(kOperationErase), kResultSuccess);
}

TEST(Targets, RangesSkipWhatTheirFilterLeavesOutAndARefusedQueryCountsAsNo) {
    auto& t = fakeapi::Connect(4).targets;
    t[0].enableFlg = 0;
    t[1].plugStatus = fakeapi::kPlugNone;
    t[3].enableFlg = 0;
    auto listed = [](const targets::Range& range) {
        std::vector<int> numbers;
        for (int n : range)
            numbers.push_back(n);
        return numbers;
    };
    EXPECT_EQ(listed(targets::EnabledOnes()), (std::vector<int>{2, 3}));
    EXPECT_EQ(listed(targets::PluggedOnes()), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(listed(targets::All()), (std::vector<int>{1, 2, 3, 4}));
    t[2].enableFlg = 0;
    t[1].enableFlg = 0;
    EXPECT_TRUE(targets::EnabledOnes().empty());
    EXPECT_FALSE(targets::AnyEnabled());
    fakeapi::Reset();
    EXPECT_TRUE(targets::All().empty());
    EXPECT_EQ(targets::Status(1), FLASH_OK);
    EXPECT_FALSE(targets::Enabled(1));
    EXPECT_EQ(targets::DevicePath(1), std::nullopt);
}

}  // namespace
