// Write, Verify and Erase Memory on every plugged and enabled target, and the Cancel button.
#include <algorithm>
#include <array>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "brindlex/target_info.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"
#include "target_queries.h"

using namespace programdata;
using targets::Count;
using targets::Enabled;
using targets::PlugSucceeded;

namespace {

constexpr int kVerifyDifferences = 0x2006;
constexpr int kConnectionSerialColumn = 2;
constexpr int kCheckListSerialColumn = 1;
constexpr size_t kConnectionSerialDigits = 32;
constexpr size_t kCheckListSerialDigits = 16;

}  // namespace

// ---------------------------------------------------------------------------------------------
// Checks before an operation

bool CQuorvelDlg::EnabledTargetCheck() {
    if (targets::AnyEnabled())
        return true;
    ShowError(IDS_NO_ENABLED_TARGETS);
    return false;
}

bool CQuorvelDlg::SerialAreaCheck() {
    if (settings_.serialOn == 0)
        return true;
    const TargetGeometry& g = programData_.geometry();
    const uint64_t first = settings_.serialAddress;
    const uint64_t last = first + settings_.serialLength - 1;
    bool inFlash = first >= g.lowestAreaStart && last <= g.flashLimit && g.imageSize != 0;
    if (inFlash && g.testAreaSize != 0) {
        const uint64_t top = uint64_t(g.blockCount) * g.blockSize;
        const uint64_t testFirst = g.blockCount == 0 ? 0xFFFFFFFF : top - g.testAreaSize;
        const uint64_t testLast = g.blockCount == 0 ? 0xFFFFFFFF : top - 1;
        auto inTestArea = [&](uint64_t a) { return a >= testFirst && a <= testLast; };
        inFlash = !inTestArea(first) && !inTestArea(last);
    }
    if (!inFlash)
        ShowError(IDS_SERIAL_AREA_NOT_FLASH);
    return inFlash;
}

const CTargetInfo* CQuorvelDlg::SelectedDescription() const {
    if (targetSet_ == nullptr || targetSet_->entries == nullptr ||
        selectedTarget_ >= targetSet_->count)
        return nullptr;
    return &targetSet_->entries[selectedTarget_];
}

void CQuorvelDlg::EndOperation(int idleState) {
    SetIdleState(idleState);
    cancelRequested_ = 0;
    view_.SetFocus(settings_.mode == 1 ? IDC_PROGRAM : IDC_PLUG);
}

void CQuorvelDlg::WriteFileLogLines(size_t row) {
    WriteLogText("File Name: " + programData_.columnText(row, kColumnFileName) + "\n");
    WriteLogText("Offset   : " + programData_.columnText(row, kColumnOffset) + "\n");
}

bool CQuorvelDlg::PumpAndCheckCancel() {
    view_.PumpMessages();
    return cancelRequested_ != 0;
}

void CQuorvelDlg::OnCancelOperation() {
    if (AskOkCancel(IDS_CONFIRM_CANCEL))
        cancelRequested_ = 1;
}

// ---------------------------------------------------------------------------------------------
// Write

bool CQuorvelDlg::LoadWriteImage() {
    for (size_t i = 0; i < programData_.rowCount(); ++i) {
        uint32_t start = 0, end = 0;
        int32_t offset = 0;
        int failed = 0;
        if (!programData_.RowValues(i, start, end, offset, &failed)) {
            ShowError(uint32_t(failed));
            return false;
        }
        if (settings_.serialOn != 0 && serialOverlapConfirmed_ == 0) {
            const int64_t first = int64_t(start) + offset, last = int64_t(end) + offset;
            const int64_t serialFirst = settings_.serialAddress;
            const int64_t serialLast = serialFirst + settings_.serialLength - 1;
            if (first <= serialLast && serialFirst <= last) {
                if (!AskOkCancel(IDS_SERIAL_AREA_OVERLAPS_FILES))
                    return false;
                serialOverlapConfirmed_ = 1;
            }
        }
        WriteFileLogLines(i);
        ReadResult read;
        if (!programData_.ReadProgramRow(i, offset, programData_.writeImage(), read))
            return false;
    }
    // Two files must never claim the same byte.
    return programData_.CheckFileListDuplicates();
}

bool CQuorvelDlg::HandOutSerialNumbers(std::array<uint8_t, kByteFieldSize>& working) {
    bool overflowed = false;
    const int count = Count();
    for (int n = 1; n <= count; ++n) {
        if (!PlugSucceeded(n))
            continue;
        // A number that wrapped around would repeat one already given out.
        if (overflowed)
            return false;
        if (connectionCheckActive_ == 0)
            ApiSetSerialNumber(n, working.data(), settings_.serialLength);
        overflowed = AddSerialIncrement(working, settings_.serialLength, settings_.increment,
                                        settings_.incrementLength);
    }
    return true;
}

bool CQuorvelDlg::WriteBlocks(const CTargetInfo& target) {
    const uint32_t blockSize = uint32_t(target.blockSize);
    const uint32_t blocks = programData_.geometry().flashLimit / blockSize + 1;
    const uint8_t* image = programData_.writeImage().data();
    const uint32_t areaCount = std::min<uint32_t>(target.areaCount, 256);
    for (uint32_t b = 0; b < blocks; ++b) {
        if (PumpAndCheckCancel())
            return false;
        const uint64_t blockFirst = uint64_t(b) * blockSize;
        const uint64_t blockLast = blockFirst + blockSize - 1;
        bool erased = false;
        for (uint32_t a = 0; a < areaCount; ++a) {
            const TargetArea& area = target.areas[a];
            if (area.end < blockFirst || area.start > blockLast)
                continue;
            const uint32_t first = uint32_t(std::max<uint64_t>(blockFirst, area.start));
            const uint32_t last = uint32_t(std::min<uint64_t>(blockLast, area.end));
            // The image holds the areas only: nothing is programmed from beyond it.
            if (last >= programData_.writeImage().size())
                continue;
            if (!erased) {
                ApiFlashEraseBlockAll(first);
                erased = true;
            }
            if (settings_.serialOn != 0)
                ApiFlashWriteAllWithSN(first, last, first, image, settings_.serialAddress);
            else
                ApiFlashWriteAll(first, last, first, image);
        }
        ReportProgress(kOperationWrite, b + 1, blocks);
    }
    return cancelRequested_ == 0;
}

void CQuorvelDlg::ShowHeldSerialNumbers() {
    const int count = Count();
    for (int n = 1; n <= count; ++n) {
        if (!PlugSucceeded(n))
            continue;
        const std::string text =
            FormatHexBytes(targets::HeldSerialNumber(n), settings_.serialLength);
        SetTargetCells(n, kConnectionSerialColumn,
                       targets::Rightmost(text, kConnectionSerialDigits), kCheckListSerialColumn,
                       targets::Rightmost(text, kCheckListSerialDigits));
    }
}

void CQuorvelDlg::OnWrite() {
    // A Write of its own (with its Verify) is a cycle of boards; in a Program cycle it is one
    // step of the cycle.
    const bool ownCycle = !cycle_.open;
    if (ownCycle) {
        stoppedByCancel_ = false;
        OpenBoardCycle();
    }
    RunWrite();
    if (ownCycle)
        CloseBoardCycle();
}

void CQuorvelDlg::RunWrite() {
    // 1. to 4. Checks, the log, busy.
    if (!EnabledTargetCheck()) {
        operationFailed_ = 1;
        return;
    }
    settingsFile_.ReadSerialSettings(settings_);
    const CTargetInfo* target = SelectedDescription();
    if (!SerialAreaCheck() || !OpenOperationLog()) {
        operationFailed_ = 1;
        return;
    }
    BeginOperation(kOperationWrite);
    cancelRequested_ = 0;
    UpdateData(true);
    WriteLogHeader(kOperationWrite);
    SetBusyState(0);
    auto stop = [this] {
        CloseOperationLog();
        operationFailed_ = 1;
        ReportOperationFailure(kOperationWrite);
        EndOperation(0);
    };
    // A description without a usable block size cannot be written block by block.
    if (target == nullptr || target->blockSize <= 0 || programData_.writeImage().size() == 0) {
        ShowError(IDS_TARGET_NOT_SUPPORTED);
        return stop();
    }
    // 5. to 9. The image: the fill, then every file; the checksum and fill in the log.
    programData_.PrepareBaseImage(programData_.writeImage());
    std::array<uint8_t, kByteFieldSize> working = settings_.serialNumber;
    if (!LoadWriteImage())
        return stop();
    WriteLogText("Checksum : " + checksumText_ + "\n");
    WriteLogText(std::string("Filling Data: ") +
                 (settings_.fillType == 1 ? "Content of Flash Memory\n" : "0xFF\n"));
    // 10. Each plugged target's number; one that would repeat a number asks first.
    if (settings_.serialOn != 0 && !HandOutSerialNumbers(working)) {
        const bool openDialog = AskOkCancel(IDS_SERIAL_OVERFLOW);
        CloseOperationLog();
        operationFailed_ = 1;
        ReportOperationFailure(kOperationWrite);
        if (openDialog)
            OnSerialization();
        else if (settings_.mode != 1)
            Unplug();
        return EndOperation(plugged_ != 0 ? 0 : 2);
    }
    // 11. to 13. Block by block; a Cancel stops at the next block.
    cancelRequested_ = 0;
    ShowProgressStatus(kOperationWrite);
    const bool completed = WriteBlocks(*target);
    const int count = Count();
    if (!completed) {
        WriteLogText("Processing has canceled!!\n");
        operationFailed_ = 1;
        stoppedByCancel_ = true;
    } else {
        for (int n = 1; n <= count; ++n) {
            ShowTargetStatus(n, kOperationWrite);
            ApiUpdateErrorTargetLED(n);
            WriteTargetLogBlock(kOperationWrite, n);
        }
        ReportTargetResults(kOperationWrite, operationStart_);
    }
    // 14. Close; the result.
    CloseOperationLog();
    if (settings_.mode != 1)
        ShowOperationResult(kOperationWrite);
    if (completed)
        ReportOperationEnd(kOperationWrite, operationStart_);
    else
        ReportOperationFailure(kOperationWrite, true);
    // 16. The number reached stays in memory until Unplug; show what each target got.
    if (settings_.serialOn != 0) {
        settings_.serialNumber = working;
        serialText_ = FormatHexBytes(working, settings_.serialLength);
        ShowHeldSerialNumbers();
    }
    // 17. Verify follows in detail mode when asked for.
    if (completed && writeWithVerify_ != 0 && settings_.mode != 1)
        OnVerify();
    // 18. Idle.
    EndOperation(0);
}

// ---------------------------------------------------------------------------------------------
// Verify

CQuorvelDlg::VerifyStep CQuorvelDlg::VerifyTarget(int target) {
    ProgramData& data = programData_;
    const TargetGeometry& g = data.geometry();
    uint32_t read = 0;
    ApiFlashRead(target, data.packedSize(), &read, data.packedBuffer());
    if (targets::Status(target) != 0)
        return VerifyStep::Next;
    // Bytes no file supplies compare equal: the write image starts as the flash content.
    data.flashImage().Fill(0xFF);
    data.UnpackFlashContent(data.packedBuffer(), std::min(read, data.packedSize()),
                            data.flashImage());
    const uint32_t copied = std::min(data.flashImage().size(), g.flashLimit + 1);
    std::copy_n(data.flashImage().data(), copied, data.writeImage().data());

    for (size_t i = 0; i < data.rowCount(); ++i) {
        ReportProgress(kOperationVerify, verifyDone_ + uint32_t(i), verifyTotal_, target,
                       data.columnText(i, kColumnFileName));
        if (PumpAndCheckCancel())
            return VerifyStep::Cancelled;
        uint32_t start = 0, end = 0;
        int32_t offset = 0;
        int failed = 0;
        ReadResult result;
        // A file that cannot be compared fails the target: it was not verified.
        if (!data.RowValues(i, start, end, offset, &failed)) {
            ShowError(uint32_t(failed));
            ApiSetTargetStatus(target, kVerifyDifferences);
            return VerifyStep::Failed;
        }
        if (!data.ReadProgramRow(i, offset, data.writeImage(), result)) {
            ApiSetTargetStatus(target, kVerifyDifferences);
            return VerifyStep::Failed;
        }
        if (settings_.serialOn != 0) {
            const auto serial = targets::HeldSerialNumber(target);
            for (uint32_t k = 0; k < settings_.serialLength; ++k) {
                const uint64_t address = uint64_t(settings_.serialAddress) + k;
                if (address < data.writeImage().size())
                    data.writeImage()[uint32_t(address)] = serial[k];
            }
        }
        const int64_t first = std::max<int64_t>(int64_t(start) + offset, g.lowestAreaStart);
        const int64_t last = std::min<int64_t>(int64_t(end) + offset, g.flashLimit);
        uint32_t differences = 0;
        // A cancelled compare answers true, but what it listed before still counts.
        if (first <= last &&
            (!CompareImages(uint32_t(first), uint32_t(last), differences) || differences > 0))
            ApiSetTargetStatus(target, kVerifyDifferences);
        if (cancelRequested_ != 0)
            return VerifyStep::Cancelled;
    }
    return VerifyStep::Next;
}

void CQuorvelDlg::OnVerify() {
    // 1. and 2. Checks, the log, busy.
    if (!EnabledTargetCheck() || !SerialAreaCheck() || !OpenOperationLog()) {
        operationFailed_ = 1;
        return;
    }
    BeginOperation(kOperationVerify);
    cancelRequested_ = 0;
    SetBusyState(0);
    ShowProgressStatus(kOperationVerify);
    WriteLogHeader(kOperationVerify);
    // 3. The files and the checksum.
    for (size_t i = 0; i < programData_.rowCount(); ++i)
        WriteFileLogLines(i);
    WriteLogText("Checksum : " + checksumText_ + "\n");
    // 4. One target after another.
    const int count = Count();
    int enabled = 0;
    for (int n = 1; n <= count; ++n)
        enabled += Enabled(n) ? 1 : 0;
    verifyDone_ = 0;
    verifyTotal_ = uint32_t(enabled) * uint32_t(programData_.rowCount());
    VerifyStep step = VerifyStep::Next;
    for (int n = 1; n <= count && step == VerifyStep::Next; ++n) {
        if (!Enabled(n))
            continue;
        const OperationClock::time_point targetStart = OperationClock::now();
        step = VerifyTarget(n);
        verifyDone_ += uint32_t(programData_.rowCount());
        if (step == VerifyStep::Next || step == VerifyStep::Failed) {
            ShowTargetStatus(n, kOperationVerify);
            WriteTargetLogBlock(kOperationVerify, n);
            ReportTargetResult(kOperationVerify, n, MsSince(targetStart));
        }
    }
    // 5. and 6.
    if (step != VerifyStep::Next)
        operationFailed_ = 1;
    if (step == VerifyStep::Cancelled || cancelRequested_ != 0) {
        WriteLogText("Processing has canceled!!\n");
        stoppedByCancel_ = true;
    } else {
        for (int n = 1; n <= count; ++n)
            ApiUpdateErrorTargetLED(n);
    }
    CloseOperationLog();
    if (settings_.mode != 1)
        ShowOperationResult(kOperationVerify);
    if (step == VerifyStep::Next && cancelRequested_ == 0)
        ReportOperationEnd(kOperationVerify, operationStart_);
    else
        ReportOperationFailure(kOperationVerify, cancelRequested_ != 0);
    EndOperation(0);
}

// ---------------------------------------------------------------------------------------------
// Erase Memory

void CQuorvelDlg::OnEraseMemory() {
    if (!EnabledTargetCheck() || !OpenOperationLog()) {
        operationFailed_ = 1;
        return;
    }
    BeginOperation(kOperationErase);
    SetBusyState(1);
    ShowProgressStatus(kOperationErase);
    WriteLogHeader(kOperationErase);
    ReportProgress(kOperationErase, 0, 1);
    view_.PumpMessages();
    ApiChipEraseAll();
    const int count = Count();
    for (int n = 1; n <= count; ++n) {
        ShowTargetStatus(n, kOperationErase);
        ApiUpdateErrorTargetLED(n);
        WriteTargetLogBlock(kOperationErase, n);
    }
    ReportTargetResults(kOperationErase, operationStart_);
    CloseOperationLog();
    if (settings_.mode != 1)
        ShowOperationResult(kOperationErase);
    ReportOperationEnd(kOperationErase, operationStart_);
    // Erase cannot be interrupted, but a confirmed Cancel still ends a Program cycle.
    if (cancelRequested_ != 0) {
        operationFailed_ = 1;
        stoppedByCancel_ = true;
    }
    SetIdleState(1);
    view_.SetFocus(settings_.mode == 1 ? IDC_PROGRAM : IDC_PLUG);
}
