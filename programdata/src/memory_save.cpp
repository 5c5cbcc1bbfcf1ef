#include "programdata/memory_save.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "platform/file_content.h"

namespace programdata {

namespace {

constexpr uint8_t kDataRecord = 0x00;
constexpr uint8_t kEndRecord = 0x01;
constexpr uint8_t kSegmentRecord = 0x02;
constexpr uint8_t kLinearRecord = 0x04;
constexpr uint32_t kRecordBytes = 16;
// Segment values are 16 bits: bank 15 (0xF000) is the last one they can name.
constexpr uint32_t kSegmentBanks = 16;

class HexRecords {
  public:
    explicit HexRecords(std::string& out) : out_(out) {}

    void Record(uint8_t type, uint16_t address, const uint8_t* data, uint32_t count) {
        uint8_t sum = uint8_t(count + (address >> 8) + address + type);
        out_ += ':';
        Byte(uint8_t(count));
        Byte(uint8_t(address >> 8));
        Byte(uint8_t(address));
        Byte(type);
        for (uint32_t i = 0; i < count; ++i) {
            Byte(data[i]);
            sum = uint8_t(sum + data[i]);
        }
        Byte(uint8_t(-sum));
        out_ += "\r\n";
    }

    // Readers add the segment base and the linear base, so the one not in use is set back to 0
    // when the other takes over.
    void SelectBank(uint32_t bank) {
        const uint32_t segment = bank < kSegmentBanks ? bank : 0;
        const uint32_t linear = bank < kSegmentBanks ? 0 : bank;
        if (segment != segmentBank_) {
            const uint8_t value[2] = {uint8_t(segment << 4), 0};
            Record(kSegmentRecord, 0, value, 2);
            segmentBank_ = segment;
        }
        if (linear != linearBank_) {
            const uint8_t value[2] = {uint8_t(linear >> 8), uint8_t(linear)};
            Record(kLinearRecord, 0, value, 2);
            linearBank_ = linear;
        }
    }

  private:
    void Byte(uint8_t b) {
        static constexpr char kDigits[] = "0123456789ABCDEF";
        out_ += kDigits[b >> 4];
        out_ += kDigits[b & 0xF];
    }

    std::string& out_;
    uint32_t segmentBank_ = 0;
    uint32_t linearBank_ = 0;
};

// An existing file must be a regular file that may be read and written; a missing one is
// created by the replace, which reports what stops it.
bool MayReplace(const std::string& path) {
    if (path.empty())
        return false;
    std::error_code ec;
    const std::filesystem::file_status st = std::filesystem::status(path, ec);
    if (ec || !std::filesystem::exists(st))
        return true;
    if (!std::filesystem::is_regular_file(st))
        return false;
    std::FILE* probe = std::fopen(path.c_str(), "r+b");
    if (probe == nullptr)
        return false;
    std::fclose(probe);
    return true;
}

}  // namespace

std::string FormatMemoryHex(const TargetGeometry& geometry, const uint8_t* packed,
                            uint32_t packedSize) {
    std::string out;
    // 16 data bytes take 45 characters.
    out.reserve(size_t(packedSize) / kRecordBytes * 45 + 64);
    HexRecords hex(out);
    uint64_t cursor = 0;
    for (const TargetArea& area : geometry.areas) {
        if (area.start > area.end)
            continue;
        const uint32_t firstBank = area.start >> 16;
        const uint32_t lastBank = area.end >> 16;
        for (uint32_t bank = firstBank; bank <= lastBank && cursor < packedSize; ++bank) {
            uint32_t from = bank == firstBank ? area.start & 0xFFFF : 0;
            const uint32_t to = bank == lastBank ? area.end & 0xFFFF : 0xFFFF;
            hex.SelectBank(bank);
            while (from <= to && cursor < packedSize) {
                uint32_t count = std::min(kRecordBytes - (from % kRecordBytes), to - from + 1);
                count = uint32_t(std::min<uint64_t>(count, packedSize - cursor));
                hex.Record(kDataRecord, uint16_t(from), packed + cursor, count);
                from += count;
                cursor += count;
            }
        }
        // The test data area's bytes are in the content but never in the file.
        if (geometry.holdsAnchor(area))
            cursor += geometry.testAreaSize;
    }
    hex.Record(kEndRecord, 0, nullptr, 0);
    return out;
}

bool SaveMemoryHexFile(const std::string& path, const TargetGeometry& geometry,
                       const uint8_t* packed, uint32_t packedSize, ProgramDataReporter& reporter) {
    if (!MayReplace(path)) {
        reporter.Report(IDS_HEX_OPEN_FAILED, std::string(), MessageIcon::Error);
        return false;
    }
    uint32_t error = 0;
    plat::ReplaceStep failed = plat::ReplaceStep::Create;
    if (plat::ReplaceFileContent(path, FormatMemoryHex(geometry, packed, packedSize), error,
                                 &failed))
        return true;
    const int id = failed == plat::ReplaceStep::Create  ? IDS_HEX_OPEN_FAILED
                   : failed == plat::ReplaceStep::Close ? IDS_HEX_CLOSE_FAILED
                                                        : IDS_HEX_WRITE_FAILED;
    reporter.Report(id, std::string(), MessageIcon::Error);
    return false;
}

}  // namespace programdata
