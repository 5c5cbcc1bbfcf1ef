#include "programdata/program_reader.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace programdata {

namespace {

// Value of a hexadecimal digit; every other character counts as 0.
constexpr std::array<uint8_t, 256> MakeDigitTable() {
    std::array<uint8_t, 256> t{};
    for (int c = '0'; c <= '9'; ++c)
        t[size_t(c)] = uint8_t(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        t[size_t(c)] = uint8_t(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c)
        t[size_t(c)] = uint8_t(c - 'a' + 10);
    return t;
}
constexpr std::array<uint8_t, 256> kDigit = MakeDigitTable();

inline uint8_t Digit(char c) {
    return kDigit[uint8_t(c)];
}

enum class FileKind { Unknown, Hex, S };

struct WalkState {
    FileKind kind = FileKind::Unknown;
    bool sawData = false;
    bool sawEnd = false;         // a HEX type 01 record, legal or not
    bool open[4] = {};           // S1, S2, S3 data not yet terminated
    int error = 0;               // message of the format error that ended the walk
    bool stoppedBySink = false;  // the sink asked to stop (a collision)
};

// The bytes of one line, decoded from character position `start` onward into buf. Byte k is
// made of the characters at start + 2k and start + 2k + 1; positions past the line's end read
// as the digit 0.
class LineBytes {
  public:
    LineBytes(const char* line, size_t length, size_t start, std::vector<uint8_t>& buf)
        : line_(line), length_(length), start_(start), buf_(buf) {}

    // Makes bytes [0, count) available and returns them.
    const uint8_t* Ensure(size_t count) {
        if (count <= decoded_)
            return buf_.data();
        if (buf_.size() < count)
            buf_.resize(std::max(count, buf_.size() * 2));
        uint8_t* out = buf_.data();
        const size_t full = length_ > start_ ? (length_ - start_) / 2 : 0;
        size_t k = decoded_;
        const size_t fullEnd = std::min(count, full);
        const char* p = line_ + start_ + 2 * k;
        for (; k < fullEnd; ++k, p += 2)
            out[k] = uint8_t(Digit(p[0]) << 4 | Digit(p[1]));
        for (; k < count; ++k) {
            size_t i = start_ + 2 * k;
            uint8_t hi = i < length_ ? Digit(line_[i]) : 0;
            uint8_t lo = i + 1 < length_ ? Digit(line_[i + 1]) : 0;
            out[k] = uint8_t(hi << 4 | lo);
        }
        decoded_ = count;
        return out;
    }

    uint8_t Sum(size_t count) {
        const uint8_t* b = Ensure(count);
        uint32_t sum = 0;
        for (size_t k = 0; k < count; ++k)
            sum += b[k];
        return uint8_t(sum);
    }

  private:
    const char* line_;
    size_t length_;
    size_t start_;
    std::vector<uint8_t>& buf_;
    size_t decoded_ = 0;
};

bool IsHexEndRecord(const char* line, size_t length) {
    static const char kEnd[] = ":00000001FF";
    if (length != sizeof kEnd - 1)
        return false;
    for (size_t i = 0; i < length; ++i) {
        char c = line[i];
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        if (c != kEnd[i])
            return false;
    }
    return true;
}

// One record line; returns false when the walk must stop.
template <class Sink>
bool HexLine(const char* line, size_t length, WalkState& st, Sink& sink, uint32_t& linear,
             uint32_t& segment, std::vector<uint8_t>& buf) {
    LineBytes bytes(line, length, 1, buf);
    // Every whole byte of the line, the checksum byte included, adds up to 0.
    if (bytes.Sum((length - 1) / 2) != 0) {
        st.error = IDS_HEX_CHECKSUM_ERROR;
        return false;
    }
    const uint8_t* b = bytes.Ensure(4);
    const uint32_t count = b[0];
    const uint32_t address = uint32_t(b[1]) << 8 | b[2];
    switch (b[3]) {
        case 0x00: {
            b = bytes.Ensure(4 + count);
            st.sawData = true;
            if (!sink.Data(address + linear + segment, b + 4, count)) {
                st.stoppedBySink = true;
                return false;
            }
            return true;
        }
        case 0x01:
            st.sawEnd = true;
            if (!IsHexEndRecord(line, length))
                st.error = IDS_HEX_ILLEGAL_END_RECORD;
            return false;
        case 0x02:
            b = bytes.Ensure(6);
            segment = (uint32_t(b[4]) << 8 | b[5]) * 16;
            return true;
        case 0x04:
            b = bytes.Ensure(6);
            linear = (uint32_t(b[4]) << 8 | b[5]) * 65536;
            return true;
        default:
            st.error = IDS_ILLEGAL_FORMAT;
            return false;
    }
}

template <class Sink>
bool SLine(const char* line, size_t length, WalkState& st, Sink& sink, std::vector<uint8_t>& buf) {
    // A missing type digit is no digit either.
    const char typeChar = length > 1 ? line[1] : '\0';
    if (typeChar < '0' || typeChar > '9' || typeChar == '4' || typeChar == '6') {
        st.error = IDS_ILLEGAL_FORMAT;
        return false;
    }
    LineBytes bytes(line, length, 2, buf);
    if (length < 3 || bytes.Sum((length - 1) / 2) != 0xFF) {
        st.error = IDS_S_CHECKSUM_ERROR;
        return false;
    }
    const int type = typeChar - '0';
    if (type == 0 || type == 5)
        return true;
    if (type >= 7) {
        const int closes = 10 - type;  // S9 closes S1, S8 S2, S7 S3
        if (!st.open[closes]) {
            st.error = IDS_S_INVALID_END_RECORD;
            return false;
        }
        st.open[closes] = false;
        return true;
    }
    const size_t addressBytes = size_t(type) + 1;  // S1: 2, S2: 3, S3: 4
    const uint8_t* b = bytes.Ensure(1 + addressBytes);
    uint32_t address = 0;
    for (size_t i = 1; i <= addressBytes; ++i)
        address = address << 8 | b[i];
    const uint32_t count = uint8_t(b[0] - addressBytes - 1);
    b = bytes.Ensure(1 + addressBytes + count);
    st.sawData = true;
    st.open[type] = true;
    if (!sink.Data(address, b + 1 + addressBytes, count)) {
        st.stoppedBySink = true;
        return false;
    }
    return true;
}

template <class Sink>
void Walk(std::string_view text, WalkState& st, Sink& sink) {
    std::vector<uint8_t> buf(64);
    uint32_t linear = 0, segment = 0;
    const char* p = text.data();
    const char* const end = p + text.size();
    while (p < end) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', size_t(end - p)));
        const char* lineEnd = nl != nullptr ? nl : end;
        size_t length = size_t(lineEnd - p);
        if (nl != nullptr && length != 0 && p[length - 1] == '\r')
            --length;
        const char first = length != 0 ? p[0] : '\0';
        bool goOn = true;
        if (first == ':') {
            if (st.kind == FileKind::S) {
                st.error = IDS_ILLEGAL_FORMAT;
                return;
            }
            st.kind = FileKind::Hex;
            goOn = HexLine(p, length, st, sink, linear, segment, buf);
        } else if (first == 'S') {
            if (st.kind == FileKind::Hex) {
                st.error = IDS_ILLEGAL_FORMAT;
                return;
            }
            st.kind = FileKind::S;
            goOn = SLine(p, length, st, sink, buf);
        }
        if (!goOn)
            return;
        p = nl != nullptr ? nl + 1 : end;
    }
}

// Stores data bytes into the image.
struct ReadSink {
    uint8_t* image = nullptr;
    uint32_t storeLimit = 0;  // highest address that may be stored
    int32_t offset = 0;
    uint32_t lowest = 0xFFFFFFFF;
    uint32_t highest = 0;

    ReadSink(const TargetGeometry& g, ProgramImage& img, int32_t off) : offset(off) {
        if (img.size() != 0) {
            image = img.data();
            storeLimit = std::min(g.flashLimit, img.size() - 1);
        }
    }

    bool Data(uint32_t base, const uint8_t* data, uint32_t count) {
        lowest = std::min(lowest, base);
        if (count == 0)
            return true;
        const uint32_t first = base + uint32_t(offset);
        const uint64_t last = uint64_t(first) + count - 1;
        highest = std::max(highest, last > 0xFFFFFFFF ? 0xFFFFFFFFu : uint32_t(last));
        if (image == nullptr)
            return true;
        if (last <= storeLimit) {
            std::memcpy(image + first, data, count);
        } else {
            for (uint32_t i = 0; i < count; ++i) {
                uint32_t a = first + i;
                if (a <= storeLimit)
                    image[a] = data[i];
            }
        }
        return true;
    }
};

// Raises the flags for the image range of each record.
struct CheckSink {
    const TargetGeometry& geometry;
    int32_t offset;
    bool noFlash = false;
    bool testArea = false;

    CheckSink(const TargetGeometry& g, int32_t off) : geometry(g), offset(off) {}

    void Range(uint32_t lo, uint32_t hi) {
        if (!noFlash && !geometry.IsFlashRange(lo, hi))
            noFlash = true;
        if (!testArea && geometry.TouchesTestArea(lo, hi))
            testArea = true;
    }

    bool Data(uint32_t base, const uint8_t*, uint32_t count) {
        if (count == 0 || (noFlash && testArea))
            return true;
        const uint32_t first = base + uint32_t(offset);
        const uint64_t last = uint64_t(first) + count - 1;
        if (last <= 0xFFFFFFFF) {
            Range(first, uint32_t(last));
        } else {  // the image address wraps past 0xFFFFFFFF to 0
            Range(first, 0xFFFFFFFF);
            Range(0, uint32_t(last - 0x100000000ull));
        }
        return true;
    }
};

struct ReadCheckSink {
    ReadSink read;
    CheckSink check;
    bool Data(uint32_t base, const uint8_t* data, uint32_t count) {
        read.Data(base, data, count);
        return check.Data(base, data, count);
    }
};

struct MarkSink {
    uint32_t start, end;
    int32_t offset;
    uint32_t limit;
    uint8_t* map;

    bool Data(uint32_t base, const uint8_t*, uint32_t count) {
        for (uint32_t i = 0; i < count; ++i) {
            const uint32_t fileAddress = base + i;
            if (fileAddress < start || fileAddress > end)
                continue;
            const uint32_t a = fileAddress + uint32_t(offset);
            if (a > limit)
                continue;
            if (map[a] != 0)
                return false;
            map[a] = 1;
        }
        return true;
    }
};

// Collects the image range of each record.
struct RangeSink {
    int32_t offset;
    std::vector<TargetArea>& ranges;

    bool Data(uint32_t base, const uint8_t*, uint32_t count) {
        if (count == 0)
            return true;
        const uint32_t first = base + uint32_t(offset);
        const uint64_t last = uint64_t(first) + count - 1;
        if (last <= 0xFFFFFFFF) {
            Add(first, uint32_t(last));
        } else {
            Add(first, 0xFFFFFFFF);
            Add(0, uint32_t(last - 0x100000000ull));
        }
        return true;
    }
    void Add(uint32_t first, uint32_t last) {
        // Records usually follow each other: extend the last range instead of adding one.
        if (!ranges.empty() && ranges.back().start <= first &&
            uint64_t(ranges.back().end) + 1 >= first) {
            ranges.back().end = std::max(ranges.back().end, last);
            return;
        }
        ranges.push_back({first, last});
    }
};

void ReportWalkError(const WalkState& st, const std::string& fileName,
                     ProgramDataReporter& reporter) {
    if (st.error != 0)
        reporter.Report(st.error, fileName, MessageIcon::Error);
}

// The checks after the last line or the HEX end record, in their order.
bool EndChecks(const WalkState& st, const std::string& fileName, ProgramDataReporter& reporter) {
    bool ok = st.error == 0;
    if (st.open[1] || st.open[2] || st.open[3]) {
        reporter.Report(IDS_NO_END_RECORD, fileName, MessageIcon::Error);
        ok = false;
    }
    if (!st.sawData && ok) {
        reporter.Report(IDS_NO_DATA_RECORD, fileName, MessageIcon::Error);
        return false;
    }
    if (st.kind == FileKind::Hex && !st.sawEnd) {
        reporter.Report(IDS_NO_END_RECORD, fileName, MessageIcon::Error);
        ok = false;
    }
    return ok;
}

// A format error met while walking ends the read at once; only a HEX end record (legal or
// not) and the end of the text lead to the end checks.
bool FinishRead(const WalkState& st, const std::string& fileName, ProgramDataReporter& reporter) {
    ReportWalkError(st, fileName, reporter);
    if (st.error != 0 && st.error != IDS_HEX_ILLEGAL_END_RECORD)
        return false;
    return EndChecks(st, fileName, reporter);
}

}  // namespace

ReadResult ReadProgramText(std::string_view text, const std::string& fileName, int32_t offset,
                           const TargetGeometry& geometry, ProgramImage& image,
                           ProgramDataReporter& reporter) {
    WalkState st;
    ReadSink sink(geometry, image, offset);
    Walk(text, st, sink);
    ReadResult result;
    result.lowestAddress = sink.lowest;
    result.highestAddress = sink.highest;
    result.ok = FinishRead(st, fileName, reporter);
    return result;
}

AddressFlags CheckProgramTextAddresses(std::string_view text, const std::string& fileName,
                                       int32_t offset, const TargetGeometry& geometry,
                                       ProgramDataReporter& reporter) {
    WalkState st;
    CheckSink sink(geometry, offset);
    Walk(text, st, sink);
    ReportWalkError(st, fileName, reporter);
    AddressFlags flags;
    flags.ok = st.error == 0;
    flags.noFlash = sink.noFlash;
    flags.testArea = sink.testArea;
    return flags;
}

void ReadAndCheckProgramText(std::string_view text, const std::string& fileName, int32_t readOffset,
                             int32_t checkOffset, const TargetGeometry& geometry,
                             ProgramImage& image, ProgramDataReporter& reporter, ReadResult& read,
                             AddressFlags& flags) {
    WalkState st;
    ReadCheckSink sink{ReadSink(geometry, image, readOffset), CheckSink(geometry, checkOffset)};
    Walk(text, st, sink);
    read.lowestAddress = sink.read.lowest;
    read.highestAddress = sink.read.highest;
    read.ok = FinishRead(st, fileName, reporter);
    flags.ok = st.error == 0;
    flags.noFlash = sink.check.noFlash;
    flags.testArea = sink.check.testArea;
}

bool CollectProgramTextRanges(std::string_view text, const std::string& fileName, int32_t offset,
                              ProgramDataReporter& reporter, std::vector<TargetArea>& ranges) {
    ranges.clear();
    WalkState st;
    RangeSink sink{offset, ranges};
    Walk(text, st, sink);
    ReportWalkError(st, fileName, reporter);
    std::sort(ranges.begin(), ranges.end(),
              [](const TargetArea& a, const TargetArea& b) { return a.start < b.start; });
    std::vector<TargetArea> merged;
    for (const TargetArea& r : ranges) {
        if (!merged.empty() && uint64_t(merged.back().end) + 1 >= r.start)
            merged.back().end = std::max(merged.back().end, r.end);
        else
            merged.push_back(r);
    }
    ranges = std::move(merged);
    return st.error == 0;
}

MarkResult MarkProgramTextAddresses(std::string_view text, const std::string& fileName,
                                    uint32_t start, uint32_t end, int32_t offset, uint32_t mapLimit,
                                    std::vector<uint8_t>& map, ProgramDataReporter& reporter) {
    if (map.empty())
        return MarkResult::Marked;
    WalkState st;
    const uint32_t limit = uint32_t(std::min<uint64_t>(mapLimit, map.size() - 1));
    MarkSink sink{start, end, offset, limit, map.data()};
    Walk(text, st, sink);
    if (st.stoppedBySink)
        return MarkResult::Collision;
    ReportWalkError(st, fileName, reporter);
    return st.error == 0 ? MarkResult::Marked : MarkResult::Failed;
}

}  // namespace programdata
