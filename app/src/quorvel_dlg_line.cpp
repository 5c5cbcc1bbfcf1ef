// For a production line: the adapters a plug finds, told one by one, and the checks of the next
// Write made without the adapters, with what that Write would do to the flash.
#include <algorithm>

#include "app/quorvel_dlg.h"
#include "brindlex/api.h"
#include "brindlex/quorvel_api.h"
#include "brindlex/target_info.h"
#include "platform/file_content.h"
#include "platform/files.h"
#include "programdata/error_messages.h"
#include "programdata/string_table.h"
#include "target_cells.h"

using namespace programdata;

namespace {

constexpr uint32_t kChipNameSize = 64;

// An adapter that failed in the transport answered nothing: asking it more costs time.
bool Answered(uint32_t status) {
    return status < FLASH_RECEIVE_FAILED || status > FLASH_NOT_CONNECTED;
}

LandedRange::Where Landing(TargetGeometry::Placement where) {
    switch (where) {
        case TargetGeometry::Placement::Area:
            return LandedRange::Where::Area;
        case TargetGeometry::Placement::TestArea:
            return LandedRange::Where::TestArea;
        case TargetGeometry::Placement::Gap:
            return LandedRange::Where::Gap;
        default:
            return LandedRange::Where::Beyond;
    }
}

}  // namespace

std::vector<AdapterListing> CQuorvelDlg::ListAdapters() {
    listing_ = true;
    const bool plugged = Plug();
    listing_ = false;
    std::vector<AdapterListing> list;
    if (!plugged)
        return list;
    for (int n : targets::All()) {
        AdapterListing a;
        a.target = n;
        a.devicePath = targets::DevicePath(n).value_or("");
        a.status = targets::Status(n);
        a.message = GetErrorMessage(a.status);
        while (!a.message.empty() && a.message.back() == '\n')
            a.message.pop_back();
        FirmwareVersionText(n, a.firmware);
        int state = PLUG_NONE;
        ApiGetTargetPlugStatus(n, &state);
        if (a.status == FLASH_WRONG_TARGET)
            a.matches = false;
        else if (state >= int(PLUG_IDENTIFIED))
            a.matches = true;
        // The chip name also of another chip: what sits in the fixture.
        char name[kChipNameSize] = {};
        if (state != PLUG_NONE && Answered(a.status) && ApiObj.GetChipName(n, name, sizeof name))
            a.chipName = name;
        a.protection = n <= kMaxTargets ? protection_[size_t(n)] : Protection::Unknown;
        list.push_back(std::move(a));
    }
    Unplug();
    return list;
}

void CQuorvelDlg::DescribeWrite(WriteCheck& check) {
    const TargetGeometry& g = programData_.geometry();
    for (size_t i = 0; i < programData_.rowCount(); ++i) {
        FileLanding file;
        file.fileName = programData_.columnText(i, kColumnFileName);
        file.offsetText = programData_.columnText(i, kColumnOffset);
        int32_t offset = 0;
        programData_.RowValues(i, file.start, file.end, offset);
        std::vector<TargetArea> ranges;
        programData_.RowRanges(i, ranges);
        for (const TargetArea& r : ranges) {
            for (const TargetGeometry::PlacedRange& p : g.Place(r.start, r.end)) {
                const uint64_t bytes = uint64_t(p.last) - p.first + 1;
                file.bytes += bytes;
                if (p.where == TargetGeometry::Placement::TestArea)
                    file.testAreaBytes += bytes;
                else if (p.where != TargetGeometry::Placement::Area)
                    file.outsideBytes += bytes;
                file.ranges.push_back({Landing(p.where), p.area + 1, p.first, p.last});
            }
        }
        check.files.push_back(std::move(file));
    }
    // A block is erased whole; what it holds outside the memory areas is not programmed again.
    const CTargetInfo* target = SelectedDescription();
    if (target == nullptr)
        return;
    const uint32_t chipLast = g.occupancyLimit();
    for (const WriteBlock& block : PlanWriteBlocks(*target, g, programData_.writeImage().size())) {
        if (block.pieces.empty())
            continue;
        uint64_t cur = block.first;
        const uint64_t last = std::min(block.last, chipLast);
        auto lose = [&](uint64_t first, uint64_t end) {
            if (first > end)
                return;
            for (const TargetGeometry::PlacedRange& p : g.Place(uint32_t(first), uint32_t(end)))
                check.erased.push_back({p.first, p.last, block.first, block.last,
                                        p.where == TargetGeometry::Placement::TestArea});
        };
        for (const TargetArea& piece : block.pieces) {
            if (piece.start > cur)
                lose(cur, std::min<uint64_t>(piece.start - 1, last));
            cur = std::max<uint64_t>(cur, uint64_t(piece.end) + 1);
        }
        lose(cur, last);
    }
}

WriteCheck CQuorvelDlg::CheckWrite(int boards) {
    WriteCheck check;
    const TargetGeometry& g = programData_.geometry();
    const CTargetInfo* target = SelectedDescription();
    check.targetName = settings_.targetName;
    check.areas = g.areas;
    if (g.hasTestArea())
        check.testArea = TargetArea{g.testAreaStart(), g.testAreaEnd()};
    check.blockSize = target != nullptr && target->blockSize > 0 ? uint32_t(target->blockSize) : 0;
    check.fill = fillText_;
    check.checksum = checksumText_;
    check.logFile = settings_.logFileName;

    // Write's own checks in its order, without the adapters and the log.
    settingsFile_.ReadSerialSettings(settings_);
    settingsFile_.ReadLineSettings(settings_);
    bool starts = SerialAreaCheck();
    if (starts && (check.blockSize == 0 || programData_.writeImage().size() == 0)) {
        ShowError(IDS_TARGET_NOT_SUPPORTED);
        starts = false;
    }
    if (starts) {
        // Without a connection the fill is 0xFF: the flash content is read by the Write.
        programData_.PrepareBaseImage(programData_.writeImage(), true);
        starts = LoadWriteImage(false);
    }
    DescribeWrite(check);

    if (settings_.serialOn != 0) {
        check.serialOn = true;
        check.serialAddress = settings_.serialAddress;
        check.serialLength = settings_.serialLength;
    }
    if (settings_.serialOn != 0 && settings_.line.On()) {
        // The pool decides at the Write; the local number and its wrap mark play no part.
        check.pool = settings_.line.pool;
    } else if (settings_.serialOn != 0) {
        std::array<uint8_t, kByteFieldSize> next{};
        bool nextWrapped = false;
        // The next plug starts from the stored number, or from the run's --serial.
        const std::array<uint8_t, kByteFieldSize> start =
            runOverrides_ && runOverrides_->startSerial ? *runOverrides_->startSerial
                                                        : settings_.serialNumber;
        check.wrapsAt = CountOffSerialNumbers(start, boards, settings_.serialLength,
                                              settings_.increment, settings_.incrementLength, next,
                                              nextWrapped, &check.serialNumbers);
        check.nextSerial = FormatHexBytes(next, settings_.serialLength);
        // A number that wrapped when it was taken is asked about before anything is erased,
        // unless the run chose its own start.
        const bool chosen = runOverrides_ && runOverrides_->startSerial;
        if (starts && ((settingsFile_.ReadSerialWrapped() && !chosen) ||
                       (check.wrapsAt != 0 && runOverrides_ && runOverrides_->expectedTargets))) {
            AskOkCancel(IDS_SERIAL_OVERFLOW);
            starts = false;
        }
    }
    check.writeWouldStart = starts;
    return check;
}

SettingsFile::Creation CQuorvelDlg::CreateSettingsFile() {
    WriterSettings created;
    created.targetName = settings_.targetName;
    created.programFiles = settings_.programFiles;
    // Detail mode's Write verifies by itself, and the default command file verifies again.
    created.mode = 1;
    const SettingsFile::Creation result = settingsFile_.CreateNew(created);
    if (result == SettingsFile::Creation::Failed)
        ShowFileError(IDS_INI_WRITE_FAILED, settingsFile_.Path());
    if (result != SettingsFile::Creation::Created)
        return result;
    const std::string commands = DefaultFileDirectory() + kDefaultCommandFileName;
    uint32_t error = 0;
    if (!plat::FileExists(commands.c_str()) &&
        !plat::CreateNewFile(commands, "WRITE\r\nVERIFY\r\n", false, error) &&
        error != plat::ERROR_FILE_EXISTS)
        ShowFileError(IDS_COMMAND_FILE_OPEN_FAILED, commands);
    return result;
}
