#include "programdata/program_data.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>

#include "brindlex/api.h"
#include "programdata/address_text.h"
#include "programdata/targets.h"

namespace programdata {

ProgramData::ProgramData(ProgramDataReporter& reporter) : reporter_(reporter) {}

ProgramData::~ProgramData() = default;

bool ProgramData::SetTargetGeometry(const CTargetInfo& entry) {
    ReleaseImages();
    GeometryVerdict verdict = ComputeTargetGeometry(entry, geometry_);
    if (verdict != GeometryVerdict::Supported)
        reporter_.Report(IDS_TARGET_NOT_SUPPORTED, std::string(), MessageIcon::Error);
    if (verdict == GeometryVerdict::Refused)
        return false;
    return AllocateImages();
}

bool ProgramData::AllocateImages() {
    ReleaseImages();
    if (geometry_.imageSize == 0)
        return false;
    try {
        writeImage_.Allocate(geometry_.imageSize);
        flashImage_.Allocate(geometry_.imageSize);
        checksumImage_.Allocate(geometry_.imageSize);
        packed_.assign(size_t(geometry_.packedSize) + geometry_.blockSize, 0);
    } catch (const std::exception&) {
        ReleaseImages();
        geometry_ = TargetGeometry{};
        reporter_.Report(IDS_TARGET_NOT_SUPPORTED, std::string(), MessageIcon::Error);
        return false;
    }
    return true;
}

void ProgramData::ReleaseImages() {
    writeImage_.Release();
    flashImage_.Release();
    checksumImage_.Release();
    std::vector<uint8_t>().swap(packed_);
}

bool ProgramData::PrepareBaseImage(ProgramImage& image, bool forWrite) {
    // A refused target has no image and no buffer to read into.
    if (fillType_ != kFillFlashContent || image.size() == 0 || packed_.empty()) {
        image.Fill(0xFF);
        return false;
    }
    const targets::Range enabled = targets::EnabledOnes();
    if (enabled.empty()) {  // no enabled target: the same base as a failed read
        image.Fill(0xFF);
        return false;
    }
    const int target = *enabled.begin();
    if (forWrite)
        targets::SetStatus(target, FLASH_OK);
    uint32_t got = 0;
    ApiFlashRead(target, geometry_.packedSize, &got, packed_.data());
    // A refused read (target not ready) leaves the status at 0 but delivers nothing: only a
    // full read may replace the base, never stale buffer content.
    if (targets::Status(target) == FLASH_OK && got >= geometry_.packedSize) {
        UnpackFlashContent(packed_.data(), geometry_.packedSize, image);
        return true;
    }
    image.Fill(0xFF);
    return false;
}

void ProgramData::UnpackFlashContent(const uint8_t* packed, uint32_t length,
                                     ProgramImage& image) const {
    uint64_t k = 0;
    const uint64_t imageSize = image.size();
    for (const TargetArea& area : geometry_.areas) {
        if (k >= length)
            return;
        if (area.start > area.end)
            continue;
        uint64_t end = area.end;
        if (geometry_.holdsAnchor(area))
            end += geometry_.testAreaSize;
        const uint64_t n = std::min<uint64_t>(end - area.start + 1, length - k);
        // Bytes for addresses beyond the image are consumed without being stored.
        if (area.start < imageSize) {
            const uint64_t stored = std::min<uint64_t>(n, imageSize - area.start);
            std::memcpy(image.data() + area.start, packed + k, size_t(stored));
        }
        k += n;
    }
}

uint32_t ProgramData::ComputeImageChecksum(const ProgramImage& image, bool testAreaFlag) const {
    uint32_t sum = 0;
    const uint8_t* bytes = image.data();
    for (const TargetArea& area : geometry_.areas) {
        if (area.start > area.end || area.start >= image.size())
            continue;
        const uint32_t last = std::min(area.end, image.size() - 1);
        for (const uint8_t *p = bytes + area.start, *e = bytes + last + 1; p != e; ++p)
            sum += *p;
    }
    if (testAreaFlag && geometry_.testAreaSize != 0)
        sum += uint32_t(geometry_.testAreaSize) * 0xFF;
    return sum;
}

void ProgramData::UpdateChecksumField() {
    PrepareBaseImage(checksumImage_);
    bool anyTestArea = false;
    for (auto& entry : rows_) {
        int32_t offset = 0;
        if (!ParseOffsetColumn(entry->columns[kColumnOffset], offset)) {
            reporter_.Report(IDS_INTERNAL_ERROR_OFFSET, std::string(), MessageIcon::Error);
            return;
        }
        if (!LoadText(entry->file, entry->fileName, text_))
            return;
        ReadResult read;
        AddressFlags flags;
        ReadAndCheckProgramText(std::string_view(text_.data(), text_.size()), entry->fileName,
                                offset, offset, geometry_, checksumImage_, reporter_, read, flags);
        if (!read.ok || !flags.ok)
            return;
        anyTestArea = anyTestArea || flags.testArea;
    }
    if (rows_.empty()) {
        checksum_ = 0;
        checksumText_.clear();
        return;
    }
    checksum_ = ComputeImageChecksum(checksumImage_, anyTestArea);
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%010X", unsigned(checksum_));
    checksumText_ = buffer;
}

bool ProgramData::LoadText(plat::LockedFile& file, const std::string& fileName,
                           std::vector<char>& text) {
    if (file.ReadAll(text))
        return true;
    reporter_.Report(IDS_FILE_OPEN_FAILED, fileName, MessageIcon::Error);
    return false;
}

bool ProgramData::ReadProgramFile(plat::LockedFile& file, const std::string& fileName,
                                  int32_t offset, ProgramImage& image, ReadResult& result) {
    result = ReadResult{};
    if (!LoadText(file, fileName, text_))
        return false;
    result = ReadProgramText(std::string_view(text_.data(), text_.size()), fileName, offset,
                             geometry_, image, reporter_);
    return result.ok;
}

bool ProgramData::ReadProgramRow(size_t index, int32_t offset, ProgramImage& image,
                                 ReadResult& result) {
    ProgramFileEntry& e = *rows_[index];
    return ReadProgramFile(e.file, e.fileName, offset, image, result);
}

bool ProgramData::RowRanges(size_t index, std::vector<TargetArea>& ranges) {
    ranges.clear();
    uint32_t start = 0, end = 0;
    int32_t offset = 0;
    int failed = 0;
    if (!RowValues(index, start, end, offset, &failed)) {
        reporter_.Report(failed, std::string(), MessageIcon::Error);
        return false;
    }
    ProgramFileEntry& e = *rows_[index];
    if (!LoadText(e.file, e.fileName, text_))
        return false;
    return CollectProgramTextRanges(std::string_view(text_.data(), text_.size()), e.fileName,
                                    offset, reporter_, ranges);
}

bool ProgramData::CheckProgramFileAddresses(plat::LockedFile& file, const std::string& fileName,
                                            int32_t offset, bool& noFlash, bool& testArea) {
    noFlash = testArea = false;
    if (!LoadText(file, fileName, text_))
        return false;
    AddressFlags flags = CheckProgramTextAddresses(std::string_view(text_.data(), text_.size()),
                                                   fileName, offset, geometry_, reporter_);
    noFlash = flags.noFlash;
    testArea = flags.testArea;
    return flags.ok;
}

MarkResult ProgramData::MarkProgramFileAddresses(plat::LockedFile& file,
                                                 const std::string& fileName, uint32_t start,
                                                 uint32_t end, int32_t offset, uint32_t mapLimit,
                                                 std::vector<uint8_t>& map) {
    if (!LoadText(file, fileName, text_))
        return MarkResult::Failed;
    return MarkProgramTextAddresses(std::string_view(text_.data(), text_.size()), fileName, start,
                                    end, offset, mapLimit, map, reporter_);
}

bool ProgramData::AllocateOccupancyMap(std::vector<uint8_t>& map) {
    try {
        map.assign(size_t(geometry_.occupancyLimit()) + 1, 0);
    } catch (const std::exception&) {
        // The flash is too large to map on this machine.
        reporter_.Report(IDS_TARGET_NOT_SUPPORTED, std::string(), MessageIcon::Error);
        return false;
    }
    return true;
}

bool ProgramData::RowValues(size_t index, uint32_t& start, uint32_t& end, int32_t& offset,
                            int* failedMessage) const {
    const ProgramFileEntry& e = *rows_[index];
    int failed = 0;
    if (!ParseOffsetColumn(e.columns[kColumnOffset], offset))
        failed = IDS_INTERNAL_ERROR_OFFSET;
    else if (!ParseAddressColumn(e.columns[kColumnStartAddress], start))
        failed = IDS_INTERNAL_ERROR_START;
    else if (!ParseAddressColumn(e.columns[kColumnEndAddress], end))
        failed = IDS_INTERNAL_ERROR_END;
    if (failedMessage != nullptr)
        *failedMessage = failed;
    return failed == 0;
}

bool ProgramData::RowMarkRange(size_t index, uint32_t& start, uint32_t& end, int32_t& offset,
                               bool& mark) {
    mark = false;
    int failed = 0;
    if (!RowValues(index, start, end, offset, &failed)) {
        reporter_.Report(failed, std::string(), MessageIcon::Error);
        return false;
    }
    // A registered file counts only up to the flash limit. The end is cut where its image
    // address reaches the limit, so that with a negative offset no byte that lands in flash
    // is left out of the check.
    const int64_t limitOnFile = int64_t(geometry_.flashLimit) - offset;
    if (int64_t(end) > limitOnFile) {
        if (limitOnFile < 0)
            return true;
        end = uint32_t(limitOnFile);
    }
    mark = end >= start;
    return true;
}

bool ProgramData::CheckNewFileOverlapText(std::string_view text, const std::string& fileName,
                                          uint32_t start, uint32_t end, int32_t offset) {
    std::vector<uint8_t> map;
    if (!AllocateOccupancyMap(map))
        return false;
    const uint32_t limit = geometry_.occupancyLimit();
    switch (MarkProgramTextAddresses(text, fileName, start, end, offset, limit, map, reporter_)) {
        case MarkResult::Marked:
            break;
        case MarkResult::Collision:
            reporter_.Report(IDS_DUPLICATE_ADDRESSES, fileName, MessageIcon::Error);
            return false;
        case MarkResult::Failed:
            return false;
    }
    std::vector<char> rowText;
    for (size_t i = 0; i < rows_.size(); ++i) {
        uint32_t rowStart = 0, rowEnd = 0;
        int32_t rowOffset = 0;
        bool mark = false;
        if (!RowMarkRange(i, rowStart, rowEnd, rowOffset, mark))
            return false;
        if (!mark)
            continue;
        ProgramFileEntry& e = *rows_[i];
        if (!LoadText(e.file, e.fileName, rowText))
            return false;
        switch (MarkProgramTextAddresses(std::string_view(rowText.data(), rowText.size()),
                                         e.fileName, rowStart, rowEnd, rowOffset, limit, map,
                                         reporter_)) {
            case MarkResult::Marked:
                break;
            case MarkResult::Collision:
                reporter_.Report(IDS_FILE_OVERLAPS_REGISTERED, std::string(), MessageIcon::Error);
                return false;
            case MarkResult::Failed:
                return false;
        }
    }
    return true;
}

bool ProgramData::CheckNewFileOverlap(plat::LockedFile& file, const std::string& fileName,
                                      uint32_t start, uint32_t end, int32_t offset) {
    std::vector<char> text;
    if (!LoadText(file, fileName, text))
        return false;
    return CheckNewFileOverlapText(std::string_view(text.data(), text.size()), fileName, start, end,
                                   offset);
}

bool ProgramData::CheckFileListDuplicates() {
    std::vector<uint8_t> map;
    if (!AllocateOccupancyMap(map))
        return false;
    const uint32_t limit = geometry_.occupancyLimit();
    for (size_t i = 0; i < rows_.size(); ++i) {
        uint32_t start = 0, end = 0;
        int32_t offset = 0;
        bool mark = false;
        if (!RowMarkRange(i, start, end, offset, mark))
            return false;
        if (!mark)
            continue;
        ProgramFileEntry& e = *rows_[i];
        if (!LoadText(e.file, e.fileName, text_))
            return false;
        switch (MarkProgramTextAddresses(std::string_view(text_.data(), text_.size()), e.fileName,
                                         start, end, offset, limit, map, reporter_)) {
            case MarkResult::Marked:
                break;
            case MarkResult::Collision:
                reporter_.Report(IDS_DUPLICATE_ADDRESSES, e.fileName, MessageIcon::Error);
                return false;
            case MarkResult::Failed:
                return false;
        }
    }
    return true;
}

}  // namespace programdata
