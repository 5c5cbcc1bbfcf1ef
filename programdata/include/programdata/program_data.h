#pragma once
// The program data the main window owns: the selected target's geometry, the three images and
// the packed flash buffer, the fill setting, the file list with its open files, and the
// checksum. Every message goes through the reporter; the controller mirrors the file list into
// its list view (rows and column texts) and does the buttons, focus and enabling.
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "brindlex/target_info.h"
#include "platform/locked_file.h"
#include "programdata/program_image.h"
#include "programdata/program_reader.h"
#include "programdata/reporter.h"
#include "programdata/target_geometry.h"

namespace programdata {

enum FileListColumn {
    kColumnFileName = 0,
    kColumnStartAddress = 1,
    kColumnEndAddress = 2,
    kColumnOffset = 3,
    kColumnFlashStart = 4,
    kColumnCount = 5,
};

// One registered program file: owned by its row; its file stays open as long as the row.
struct ProgramFileEntry {
    std::string fileName;       // full path as entered; the row's key (case-sensitive)
    uint32_t startAddress = 0;  // lowest data record address on file
    uint32_t endAddress = 0;    // highest data byte address on file
    int32_t offset = 0;
    std::array<std::string, kColumnCount> columns;  // the texts the list shows and stores
    plat::LockedFile file;
};

class FileListObserver {
  public:
    virtual ~FileListObserver() = default;
    virtual void RowInserted(size_t row) = 0;  // the row's texts are ready
    virtual void RowRemoved(size_t row) = 0;
};

// Which field should take the input focus after a failed add.
enum class FocusField { None, FileName, Offset };

struct AddFileResult {
    bool ok = false;
    bool warning = false;  // registered, but some byte has no flash or lies in the test area
    FocusField focus = FocusField::None;
};

// One file-list entry as the settings file keeps it.
struct StoredFileEntry {
    std::string fileName;
    std::string offsetText;
};

constexpr int kFillErased = 0;        // FILLTYPE: every byte 0xFF
constexpr int kFillFlashContent = 1;  // FILLTYPE: content of the first enabled target

class ProgramData {
  public:
    explicit ProgramData(ProgramDataReporter& reporter);
    ~ProgramData();
    ProgramData(const ProgramData&) = delete;
    ProgramData& operator=(const ProgramData&) = delete;

    // --- target geometry and images ---
    // Computes the geometry and reallocates the images and the packed buffer. A block size
    // above 65536 reports 2079 and is still used; a block size of 0 (or an image too large to
    // hold) reports 2079 and leaves an empty geometry with no images: every file byte then
    // counts as outside flash and nothing is stored. Returns false in the latter case.
    bool SetTargetGeometry(const CTargetInfo& entry);
    // Allocates fresh images and packed buffer for the current geometry (Plug does this);
    // false for a refused target, which has none.
    bool AllocateImages();
    // Frees the images and the packed buffer (shutdown); the geometry stays.
    void ReleaseImages();
    const TargetGeometry& geometry() const { return geometry_; }
    bool IsFlashAddress(uint32_t address) const { return geometry_.IsFlashAddress(address); }
    bool IsTestAreaAddress(uint32_t address) const { return geometry_.IsTestAreaAddress(address); }
    ProgramImage& writeImage() { return writeImage_; }
    ProgramImage& flashImage() { return flashImage_; }
    ProgramImage& checksumImage() { return checksumImage_; }
    // The packed flash content for ApiFlashRead: pass packedSize() as the size. The buffer
    // holds one block more, since the library may read past the size up to the end of the
    // block in which it reaches it.
    uint8_t* packedBuffer() { return packed_.data(); }
    uint32_t packedSize() const { return geometry_.packedSize; }
    uint32_t packedCapacity() const { return uint32_t(packed_.size()); }

    // --- base fill, flash content, checksum ---
    void SetFillType(int fillType) { fillType_ = fillType; }
    int fillType() const { return fillType_; }
    // 0xFF everywhere, or for fill type 1 the flash of the first enabled target unpacked over
    // the image (other bytes keep their value); 0xFF when that read fails or no target is
    // enabled. True when the image holds the flash content. forWrite: the read belongs to a
    // Write, a new operation on the target, so a status an earlier operation left (a Verify's
    // differences) is cleared rather than keeping the library from reading.
    bool PrepareBaseImage(ProgramImage& image, bool forWrite = false);
    // Copies the packed content into the memory areas (and the test data area after the area
    // that holds the anchor) in table order, up to length bytes.
    void UnpackFlashContent(const uint8_t* packed, uint32_t length, ProgramImage& image) const;
    uint32_t ComputeImageChecksum(const ProgramImage& image, bool testAreaFlag) const;
    // Rebuilds the checksum image from the file list; value and text stay unchanged when a
    // file fails.
    void UpdateChecksumField();
    uint32_t checksumValue() const { return checksum_; }
    const std::string& checksumText() const { return checksumText_; }

    // --- reading open files (each pass re-reads the file and refuses it with 2013 when it
    // changed since it was opened) ---
    bool ReadProgramFile(plat::LockedFile& file, const std::string& fileName, int32_t offset,
                         ProgramImage& image, ReadResult& result);
    bool CheckProgramFileAddresses(plat::LockedFile& file, const std::string& fileName,
                                   int32_t offset, bool& noFlash, bool& testArea);
    MarkResult MarkProgramFileAddresses(plat::LockedFile& file, const std::string& fileName,
                                        uint32_t start, uint32_t end, int32_t offset,
                                        uint32_t mapLimit, std::vector<uint8_t>& map);
    // True when the file has no duplicate address (2023) and overlaps no registered file (163).
    bool CheckNewFileOverlap(plat::LockedFile& file, const std::string& fileName, uint32_t start,
                             uint32_t end, int32_t offset);
    // True when no two registered files, and no file with itself, share an address (2023).
    bool CheckFileListDuplicates();
    // The image ranges a registered row's data lands on, merged and ascending (its offset
    // applied); false after a message when the file cannot be read.
    bool RowRanges(size_t index, std::vector<TargetArea>& ranges);
    // Reads a registered row's open file into image at offset (Write, Verify, Save).
    bool ReadProgramRow(size_t index, int32_t offset, ProgramImage& image, ReadResult& result);

    // --- the file list ---
    void SetObserver(FileListObserver* observer) { observer_ = observer; }
    size_t rowCount() const { return rows_.size(); }
    const ProgramFileEntry& row(size_t index) const { return *rows_[index]; }
    ProgramFileEntry& row(size_t index) { return *rows_[index]; }
    const std::string& columnText(size_t index, int column) const {
        return rows_[index]->columns[size_t(column)];
    }
    // Reads a row's start, end and offset back from its column texts (ParseAddressColumn,
    // ParseOffsetColumn). On failure failedMessage receives the internal-error id of the
    // column: 2026 offset, 2024 start, 2025 end (checked in that order).
    bool RowValues(size_t index, uint32_t& start, uint32_t& end, int32_t& offset,
                   int* failedMessage = nullptr) const;

    // Opens, reads and checks the file and appends its row (107, 2013, the reader's and the
    // overlap messages). On success the caller clears its serial-overlap acceptance, and shows
    // 2080 when warning is set.
    AddFileResult AddProgramFile(const std::string& fileName, int32_t offset);
    // Closes the row's file and removes the row; false for an index out of range.
    bool DeleteProgramFile(size_t index);
    // After a target change: re-reads every row into the write image and re-checks it; stops
    // at the first failure; one 2080 at the end when any byte has no flash or lies in the test
    // area. True when every row passed.
    bool RecheckFileList();
    // Start-up: adds every stored entry (an empty name for a missing one) and shows one 2080
    // when any added file has bytes outside flash. The caller runs UpdateChecksumField after.
    void RestoreFileList(const std::vector<StoredFileEntry>& entries);

  private:
    bool LoadText(plat::LockedFile& file, const std::string& fileName, std::vector<char>& text);
    bool CheckNewFileOverlapText(std::string_view text, const std::string& fileName, uint32_t start,
                                 uint32_t end, int32_t offset);
    // Parses a row's columns and clamps its end to the flash limit; false (2024 to 2026) when
    // a column does not parse. mark is false when nothing of the file lies in flash.
    bool RowMarkRange(size_t index, uint32_t& start, uint32_t& end, int32_t& offset, bool& mark);
    bool AllocateOccupancyMap(std::vector<uint8_t>& map);

    ProgramDataReporter& reporter_;
    FileListObserver* observer_ = nullptr;
    TargetGeometry geometry_;
    ProgramImage writeImage_;
    ProgramImage flashImage_;
    ProgramImage checksumImage_;
    std::vector<uint8_t> packed_;
    int fillType_ = kFillErased;
    uint32_t checksum_ = 0;
    std::string checksumText_;
    std::vector<std::unique_ptr<ProgramFileEntry>> rows_;
    std::vector<char> text_;  // reused for each pass over a file
};

}  // namespace programdata
