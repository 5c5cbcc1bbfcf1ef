// Write, Verify and Erase Memory on every plugged and enabled target, and the Cancel button.
#include <algorithm>
#include <array>
#include <vector>

#include "app/control_ids.h"
#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "brindlex/quorvel_api.h"
#include "brindlex/target_info.h"
#include "operation_run.h"
#include "programdata/status_texts.h"
#include "programdata/string_table.h"
#include "target_cells.h"

using namespace programdata;

namespace {

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
    // Every byte of the number must reach the chip: inside a memory area (not in a gap or a
    // read-only range between areas), outside the test data area.
    const TargetGeometry& g = programData_.geometry();
    const uint64_t first = settings_.serialAddress;
    const uint64_t last = first + settings_.serialLength - 1;
    const bool inFlash = g.imageSize != 0 && last <= g.flashLimit &&
                         g.IsFlashRange(uint32_t(first), uint32_t(last)) &&
                         !g.TouchesTestArea(uint32_t(first), uint32_t(last));
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

CQuorvelDlg::Ending CQuorvelDlg::Refused() {
    lastEnding_ = Ending::Failed;
    return Ending::Failed;
}

void CQuorvelDlg::FocusAfter(int op) {
    switch (op) {
        case kOperationWrite:
        case kOperationVerify:
        case kOperationErase:
        case kOperationProgram:
            view_.SetFocus(settings_.mode == 1 ? IDC_PROGRAM : IDC_PLUG);
            break;
        case kOperationPlug:
            if (settings_.mode != 1)
                view_.SetFocus(programData_.rowCount() > 0 ? IDC_WRITE : IDC_FILE_BROWSE);
            break;
        case kOperationUnplug:
            if (settings_.mode != 1)
                view_.SetFocus(IDC_PLUG);
            break;
        default:
            break;
    }
}

void CQuorvelDlg::WriteFileLogLines(size_t row) {
    WriteLogText("File Name: " + programData_.columnText(row, kColumnFileName) + "\n");
    WriteLogText("Offset   : " + programData_.columnText(row, kColumnOffset) + "\n");
}

void CQuorvelDlg::OnCancelOperation() {
    if (AskOkCancel(IDS_CONFIRM_CANCEL))
        RequestCancel();
}

// ---------------------------------------------------------------------------------------------
// Write

bool CQuorvelDlg::LoadWriteImage(bool logged) {
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
        if (logged)
            WriteFileLogLines(i);
        ReadResult read;
        if (!programData_.ReadProgramRow(i, offset, programData_.writeImage(), read))
            return false;
    }
    // Two files must never claim the same byte.
    return programData_.CheckFileListDuplicates();
}

CQuorvelDlg::SerialSession CQuorvelDlg::FreshSerialSession() const {
    return {settings_.serialNumber, false, settings_.increment, settings_.incrementLength};
}

SerialGrant CQuorvelDlg::TakeSerialNumbers(const OperationRun& run) {
    SerialGrant grant;
    std::vector<SerialBoard> boards;
    for (int n : targets::PluggedOnes())
        boards.push_back({n, targets::DevicePath(n).value_or("")});
    // A repeated Write of the session: the same boards get the same numbers.
    if (serialSession_.taken) {
        grant.first = serialSession_.start;
        grant.outcome = PlanSerialNumbers(grant.first, boards.size(), settings_.serialLength,
                                          serialSession_.increment, serialSession_.incrementLength,
                                          grant.next, grant.nextWrapped)
                            ? SerialGrant::Outcome::Taken
                            : SerialGrant::Outcome::Overflow;
        return grant;
    }
    // The --serial of a console run starts its first Write.
    const bool chosen = runOverrides_ && runOverrides_->startSerial;
    if (chosen)
        serialSession_.start = *runOverrides_->startSerial;
    SerialSource* source = &localSerials_;
    if (settings_.line.On()) {
        // Never the local numbers instead: another station may be handing them out.
        if (line_ == nullptr) {
            grant.messageId = IDS_LINE_NOT_BUILT;
            return grant;
        }
        source = &line_->Pool();
    }
    const bool rewind = chosen && runOverrides_->serialRewind;
    grant = source->Take(settings_, {.first = serialSession_.start,
                                     .chosen = chosen,
                                     .rewind = rewind,
                                     .boards = boards,
                                     .run = run.id(),
                                     .cycle = run.cycleId()});
    if (grant.outcome != SerialGrant::Outcome::Taken)
        return grant;
    // The settings file shows the number after the last one the pool gave this station.
    if (source != &localSerials_ &&
        !settingsFile_.StoreNextSerial(settings_, grant.next, grant.nextWrapped)) {
        grant.outcome = SerialGrant::Outcome::Failed;
        grant.messageId = IDS_INI_WRITE_FAILED;
        grant.detail = settingsFile_.Path();
        return grant;
    }
    serialSession_ = {grant.first, true, grant.increment, grant.incrementLength};
    if (chosen)
        runOverrides_->startSerial.reset();
    return grant;
}

void CQuorvelDlg::HandOutSerialNumbers() {
    std::array<uint8_t, kByteFieldSize> working = serialSession_.start;
    for (int n : targets::PluggedOnes()) {
        ApiSetSerialNumber(n, working.data(), settings_.serialLength);
        AddSerialIncrement(working, settings_.serialLength, serialSession_.increment,
                           serialSession_.incrementLength);
    }
}

bool CQuorvelDlg::WriteBlocks(OperationRun& run, const CTargetInfo& target) {
    const std::vector<WriteBlock> blocks =
        PlanWriteBlocks(target, programData_.geometry(), programData_.writeImage().size());
    const uint8_t* image = programData_.writeImage().data();
    for (size_t b = 0; b < blocks.size(); ++b) {
        if (run.Cancelled())
            return false;
        const std::vector<TargetArea>& pieces = blocks[b].pieces;
        if (!pieces.empty())
            ApiFlashEraseBlockAll(pieces.front().start);
        for (const TargetArea& piece : pieces) {
            if (settings_.serialOn != 0)
                ApiFlashWriteAllWithSN(piece.start, piece.end, piece.start, image,
                                       settings_.serialAddress);
            else
                ApiFlashWriteAll(piece.start, piece.end, piece.start, image);
        }
        run.Progress(uint32_t(b + 1), uint32_t(blocks.size()));
    }
    return !run.CancelRequested();
}

void CQuorvelDlg::ShowHeldSerialNumbers() {
    for (int n : targets::PluggedOnes()) {
        const std::string text = FormatHexBytes(HeldSerialNumber(n), settings_.serialLength);
        SetTargetCells(n, kConnectionSerialColumn, Rightmost(text, kConnectionSerialDigits),
                       kCheckListSerialColumn, Rightmost(text, kCheckListSerialDigits));
    }
}

CQuorvelDlg::Ending CQuorvelDlg::RunWrite() {
    // 1. to 4. Checks, the log, busy.
    if (!EnabledTargetCheck())
        return Refused();
    settingsFile_.ReadSerialSettings(settings_);
    const CTargetInfo* target = SelectedDescription();
    if (!SerialAreaCheck() || !OpenOperationLog())
        return Refused();
    OperationRun run(*this, kOperationWrite);
    run.IdleAfterwards(IdleState::AfterWriteVerify);
    UpdateData(true);
    WriteLogHeader(kOperationWrite);
    SetBusyState(BusyKind::WriteVerify);
    // A description without a usable block size cannot be written block by block.
    if (target == nullptr || target->blockSize <= 0 || programData_.writeImage().size() == 0) {
        ShowError(IDS_TARGET_NOT_SUPPORTED);
        return run.Finish(Ending::Failed);
    }
    // 5. to 9. The image: the fill, then every file; the checksum and fill in the log.
    const bool flashContent = programData_.PrepareBaseImage(programData_.writeImage(), true);
    if (!LoadWriteImage())
        return run.Finish(Ending::Failed);
    WriteLogText("Checksum : " + checksumText_ + "\n");
    // The log names the fill that was used, also when the flash could not be read.
    WriteLogText(std::string("Filling Data: ") +
                 (flashContent              ? "Content of Flash Memory\n"
                  : settings_.fillType == 1 ? "0xFF (the flash content could not be read)\n"
                                            : "0xFF\n"));
    // 10. Each plugged target's number, taken for good before anything is erased; one that
    // would repeat a number asks first.
    SerialGrant taken;
    taken.outcome = SerialGrant::Outcome::Taken;
    if (settings_.serialOn != 0)
        taken = TakeSerialNumbers(run);
    if (taken.outcome == SerialGrant::Outcome::Failed) {
        ShowFileError(taken.messageId, taken.detail);
        return run.Finish(Ending::Failed);
    }
    if (taken.outcome == SerialGrant::Outcome::Overflow) {
        const bool openDialog = AskOkCancel(IDS_SERIAL_OVERFLOW);
        run.Finish(Ending::Failed);
        if (openDialog)
            OnSerialization();
        else if (settings_.mode != 1)
            Unplug();
        run.IdleAfterwards(plugged_ != 0 ? IdleState::AfterWriteVerify : IdleState::Unplugged);
        return Ending::Failed;
    }
    if (settings_.serialOn != 0)
        HandOutSerialNumbers();
    // 11. to 14. Block by block; a Cancel stops at the next block. The result.
    ShowProgressStatus(kOperationWrite);
    const bool completed = WriteBlocks(run, *target);
    run.Finish(completed ? Ending::Completed : Ending::Stopped);
    // 16. The number reached (taken already); show what each target got.
    if (settings_.serialOn != 0) {
        settings_.serialNumber = taken.next;
        serialText_ = FormatHexBytes(taken.next, settings_.serialLength);
        ShowHeldSerialNumbers();
    }
    // 17. Verify follows in detail mode when asked for.
    if (completed && writeWithVerify_ != 0 && settings_.mode != 1)
        RunVerify();
    // 18. Idle as the run ends.
    return run.Overall();
}

// ---------------------------------------------------------------------------------------------
// Verify

CQuorvelDlg::VerifyStep CQuorvelDlg::VerifyTarget(OperationRun& run, int target,
                                                  const std::vector<uint8_t>& flash, uint32_t read,
                                                  VerifyProgress& progress) {
    ProgramData& data = programData_;
    const TargetGeometry& g = data.geometry();
    // A target whose read failed has its status: nothing to compare.
    if (targets::Status(target) != 0)
        return VerifyStep::Next;
    // Bytes no file supplies compare equal: the write image starts as the flash content.
    data.flashImage().Fill(0xFF);
    data.UnpackFlashContent(flash.data(), std::min<uint32_t>(read, uint32_t(flash.size())),
                            data.flashImage());
    const uint32_t copied = std::min(data.flashImage().size(), g.flashLimit + 1);
    std::copy_n(data.flashImage().data(), copied, data.writeImage().data());

    for (size_t i = 0; i < data.rowCount(); ++i) {
        run.Progress(progress.done + uint32_t(i), progress.total, target,
                     data.columnText(i, kColumnFileName), uint32_t(i + 1),
                     uint32_t(data.rowCount()));
        if (run.Cancelled())
            return VerifyStep::Cancelled;
        uint32_t start = 0, end = 0;
        int32_t offset = 0;
        int failed = 0;
        ReadResult result;
        // A file that cannot be compared fails the target: it was not verified.
        if (!data.RowValues(i, start, end, offset, &failed)) {
            ShowError(uint32_t(failed));
            targets::SetStatus(target, FLASH_VERIFY_DIFFERENCE);
            return VerifyStep::Failed;
        }
        if (!data.ReadProgramRow(i, offset, data.writeImage(), result)) {
            targets::SetStatus(target, FLASH_VERIFY_DIFFERENCE);
            return VerifyStep::Failed;
        }
        if (settings_.serialOn != 0) {
            const auto serial = HeldSerialNumber(target);
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
            targets::SetStatus(target, FLASH_VERIFY_DIFFERENCE);
        if (run.CancelRequested())
            return VerifyStep::Cancelled;
    }
    return VerifyStep::Next;
}

CQuorvelDlg::Ending CQuorvelDlg::RunVerify() {
    // 1. and 2. Checks, the log, busy.
    if (!EnabledTargetCheck() || !SerialAreaCheck() || !OpenOperationLog())
        return Refused();
    OperationRun run(*this, kOperationVerify);
    run.IdleAfterwards(IdleState::AfterWriteVerify);
    SetBusyState(BusyKind::WriteVerify);
    ShowProgressStatus(kOperationVerify);
    WriteLogHeader(kOperationVerify);
    // 3. The files and the checksum.
    for (size_t i = 0; i < programData_.rowCount(); ++i)
        WriteFileLogLines(i);
    WriteLogText("Checksum : " + checksumText_ + "\n");
    // 4. Every enabled target's flash read at once (a Cancel is seen between blocks), then the
    // targets compared one after another.
    const int count = targets::Count();
    const uint32_t size = programData_.packedSize();
    std::vector<std::vector<uint8_t>> flash(size_t(std::max(count, 0)));
    std::vector<uint8_t*> buffers(flash.size(), nullptr);
    std::vector<uint32_t> read(flash.size(), 0);
    for (int n : targets::EnabledOnes()) {
        flash[size_t(n - 1)].resize(size);
        buffers[size_t(n - 1)] = flash[size_t(n - 1)].data();
    }
    struct ReadPhase {
        OperationRun& run;
        static int Progress(void* context, uint32_t done, uint32_t total) {
            ReadPhase& phase = *static_cast<ReadPhase*>(context);
            phase.run.Progress(done, total);
            return phase.run.Cancelled() ? 0 : 1;
        }
    } phase{run};
    run.Progress(0, 1);
    ApiObj.FlashReadAll(size, buffers.data(), read.data(), count, &ReadPhase::Progress, &phase);
    const uint32_t files = uint32_t(programData_.rowCount());
    VerifyProgress progress;
    for ([[maybe_unused]] int n : targets::EnabledOnes())
        progress.total += files;
    VerifyStep step = run.CancelRequested() ? VerifyStep::Cancelled : VerifyStep::Next;
    for (int n : targets::EnabledOnes()) {
        if (step != VerifyStep::Next)
            break;
        const OperationClock::time_point targetStart = now_();
        step = VerifyTarget(run, n, flash[size_t(n - 1)], read[size_t(n - 1)], progress);
        progress.done += files;
        if (step != VerifyStep::Cancelled)
            run.CloseTarget(
                n,
                uint32_t(std::chrono::duration_cast<std::chrono::milliseconds>(now_() - targetStart)
                             .count()));
        // The compared target's flash is no longer needed.
        std::vector<uint8_t>().swap(flash[size_t(n - 1)]);
    }
    // 5. and 6. The result.
    if (step == VerifyStep::Cancelled || run.CancelRequested())
        return run.Finish(Ending::Stopped);
    return run.Finish(step == VerifyStep::Failed ? Ending::Failed : Ending::Completed);
}

// ---------------------------------------------------------------------------------------------
// Erase Memory

CQuorvelDlg::Ending CQuorvelDlg::RunErase() {
    if (!EnabledTargetCheck() || !OpenOperationLog())
        return Refused();
    OperationRun run(*this, kOperationErase);
    run.IdleAfterwards(IdleState::AfterEraseSave);
    SetBusyState(BusyKind::EraseSave);
    ShowProgressStatus(kOperationErase);
    WriteLogHeader(kOperationErase);
    run.Progress(0, 1);
    // Erase cannot be interrupted, but a confirmed Cancel still ends a Program cycle.
    run.Cancelled();
    ApiChipEraseAll();
    return run.Finish(run.CancelRequested() ? Ending::Stopped : Ending::Completed,
                      OperationRun::Targets::Worked);
}
