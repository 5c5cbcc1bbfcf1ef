#include <utility>

#include "programdata/address_text.h"
#include "programdata/limits.h"
#include "programdata/program_data.h"

namespace programdata {

AddFileResult ProgramData::AddProgramFile(const std::string& fileName, int32_t offset) {
    AddFileResult result;
    for (const auto& entry : rows_) {
        if (entry->fileName == fileName) {
            reporter_.Report(IDS_FILE_ALREADY_REGISTERED, fileName, MessageIcon::Error);
            return result;
        }
    }
    plat::LockedFile file;
    std::vector<char> text;
    // A name the settings file cannot give back whole would be lost at the next start.
    if (fileName.size() > kMaxStoredPath || !file.Open(fileName, text)) {
        reporter_.Report(IDS_FILE_OPEN_FAILED, fileName, MessageIcon::Error);
        return result;
    }
    const std::string_view view(text.data(), text.size());
    // The write image serves as scratch: the file is read at offset 0 for its own addresses
    // and checked at its offset in the same walk.
    ReadResult read;
    AddressFlags flags;
    ReadAndCheckProgramText(view, fileName, 0, offset, geometry_, writeImage_, reporter_, read,
                            flags);
    if (!read.ok) {
        result.focus = FocusField::FileName;
        return result;
    }
    if (!flags.ok) {
        result.focus = offset != 0 ? FocusField::Offset : FocusField::None;
        return result;
    }
    if (!CheckNewFileOverlapText(view, fileName, read.lowestAddress, read.highestAddress, offset))
        return result;

    auto entry = std::make_unique<ProgramFileEntry>();
    entry->fileName = fileName;
    entry->startAddress = read.lowestAddress;
    entry->endAddress = read.highestAddress;
    entry->offset = offset;
    entry->columns[kColumnFileName] = fileName;
    entry->columns[kColumnStartAddress] = FormatAddressColumn(read.lowestAddress);
    entry->columns[kColumnEndAddress] = FormatAddressColumn(read.highestAddress);
    entry->columns[kColumnOffset] = FormatOffsetColumn(offset);
    entry->columns[kColumnFlashStart] = FormatFlashStartColumn(read.lowestAddress, offset);
    entry->file = std::move(file);
    rows_.push_back(std::move(entry));
    if (observer_ != nullptr)
        observer_->RowInserted(rows_.size() - 1);
    result.ok = true;
    result.warning = flags.noFlash || flags.testArea;
    return result;
}

bool ProgramData::DeleteProgramFile(size_t index) {
    if (index >= rows_.size())
        return false;
    rows_.erase(rows_.begin() + std::ptrdiff_t(index));  // closes the file
    if (observer_ != nullptr)
        observer_->RowRemoved(index);
    return true;
}

bool ProgramData::RecheckFileList() {
    bool anyOutside = false;
    for (auto& entry : rows_) {
        int32_t offset = 0;
        if (!ParseOffsetColumn(entry->columns[kColumnOffset], offset)) {
            reporter_.Report(IDS_INTERNAL_ERROR_OFFSET, std::string(), MessageIcon::Error);
            return false;
        }
        // Opened afresh; it must still be the file that was registered, or the list would
        // show one content and write another.
        plat::LockedFile fresh;
        if (!fresh.Open(entry->fileName, text_) || !fresh.SameAs(entry->file)) {
            reporter_.Report(IDS_FILE_OPEN_FAILED, entry->fileName, MessageIcon::Error);
            return false;
        }
        ReadResult read;
        AddressFlags flags;
        ReadAndCheckProgramText(std::string_view(text_.data(), text_.size()), entry->fileName,
                                offset, offset, geometry_, writeImage_, reporter_, read, flags);
        if (!read.ok || !flags.ok)
            return false;
        anyOutside = anyOutside || flags.noFlash || flags.testArea;
    }
    if (anyOutside)
        reporter_.Report(IDS_DATA_OUTSIDE_FLASH, std::string(), MessageIcon::Information);
    return true;
}

void ProgramData::RestoreFileList(const std::vector<StoredFileEntry>& entries) {
    bool anyOutside = false;
    for (const StoredFileEntry& stored : entries) {
        AddFileResult added =
            AddProgramFile(stored.fileName, OffsetTextToNumber(stored.offsetText));
        anyOutside = anyOutside || (added.ok && added.warning);
    }
    if (anyOutside)
        reporter_.Report(IDS_DATA_OUTSIDE_FLASH, std::string(), MessageIcon::Information);
}

}  // namespace programdata
