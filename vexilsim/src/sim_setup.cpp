#include "vexilsim/sim_setup.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string_view>

#include "brindlex/trg_file.h"
#include "platform/file_content.h"
#include "platform/files.h"
#include "platform/private_profile.h"

namespace vexilsim {

namespace {

constexpr uint32_t kValueSize = 4096;
constexpr int kMaxAdapters = 256;
constexpr int kMaxFaults = 64;

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t\r\n");
    if (a == std::string::npos)
        return {};
    size_t b = s.find_last_not_of(" \t\r\n");
    return s.substr(a, b - a + 1);
}

std::string Upper(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::vector<std::string> Words(const std::string& s) {
    std::istringstream in(s);
    std::vector<std::string> out;
    for (std::string w; in >> w;)
        out.push_back(w);
    return out;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool ParseHexDigits(const std::string& s, uint64_t& v) {
    if (s.empty() || s.size() > 16)
        return false;
    v = 0;
    for (char c : s) {
        int d = HexValue(c);
        if (d < 0)
            return false;
        v = v * 16 + static_cast<uint64_t>(d);
    }
    return true;
}

// Decimal, "0x" hexadecimal, or hexadecimal with an "H" suffix (as in TRG files).
bool ParseNumber(const std::string& text, uint64_t& v) {
    std::string s = Trim(text);
    if (s.size() > 2 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X'))
        return ParseHexDigits(s.substr(2), v);
    if (s.size() > 1 && (s.back() == 'H' || s.back() == 'h'))
        return ParseHexDigits(s.substr(0, s.size() - 1), v);
    if (s.empty() || s.size() > 19)
        return false;
    v = 0;
    for (char c : s) {
        if (!std::isdigit(static_cast<unsigned char>(c)))
            return false;
        v = v * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

// Hex digits with blanks anywhere, two per byte.
bool ParseHexBytes(const std::string& text, std::vector<uint8_t>& out) {
    std::string digits;
    for (char c : text)
        if (!std::isspace(static_cast<unsigned char>(c)))
            digits += c;
    if (digits.size() % 2 != 0)
        return false;
    out.clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        int hi = HexValue(digits[i]), lo = HexValue(digits[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<uint8_t>(hi * 16 + lo));
    }
    return true;
}

std::string Directory(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : path.substr(0, slash == 0 ? 1 : slash);
}

std::string Resolve(const std::string& base, const std::string& path) {
    return !path.empty() && path[0] == '/' ? path : base + "/" + path;
}

bool ValidName(const std::string& n) {
    if (n.empty() || n.size() > 64 || n[0] == '.')
        return false;
    return std::all_of(n.begin(), n.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_' || c == '.';
    });
}

// Reads the keys of one [ADAPTERn] section, falling back to [DEFAULTS].
class Section {
  public:
    Section(std::string file, std::string name) : file_(std::move(file)), name_(std::move(name)) {}

    // Empty when the key is absent in both sections.
    std::string Get(const char* key) const {
        std::string v = Read(name_.c_str(), key);
        return v.empty() ? Read("DEFAULTS", key) : v;
    }

    std::string Where(const char* key) const { return file_ + ": [" + name_ + "] " + key + ": "; }

    bool Number(const char* key, uint64_t max, uint64_t& v, bool& present,
                std::string& error) const {
        std::string text = Get(key);
        present = !text.empty();
        if (!present)
            return true;
        if (!ParseNumber(text, v) || v > max) {
            error = Where(key) + "not a number up to " + std::to_string(max) + ": " + text;
            return false;
        }
        return true;
    }

  private:
    std::string Read(const char* section, const char* key) const {
        std::vector<char> buf(kValueSize);
        plat::GetPrivateProfileStringA(section, key, "", buf.data(), kValueSize, file_.c_str());
        return Trim(buf.data());
    }

    std::string file_;
    std::string name_;
};

bool FindTrg(const std::string& trgDir, const std::string& value, std::string& path) {
    // A value with a directory or a .TRG extension is a path; otherwise a name looked up in
    // the TRG directory without regard to letter case.
    std::string upper = Upper(value);
    if (value.find_first_of("*?") != std::string::npos)
        return false;  // a pattern would pick whichever file the search finds first
    if (value.find('/') != std::string::npos ||
        (upper.size() > 4 && upper.compare(upper.size() - 4, 4, ".TRG") == 0)) {
        path = Resolve(trgDir, value);
        return true;
    }
    plat::WIN32_FIND_DATAA data{};
    std::string pattern = trgDir + "/" + value + ".TRG";
    plat::HANDLE h = plat::FindFirstFileA(pattern.c_str(), &data);
    if (!plat::IsOpenHandle(h))
        return false;
    path = trgDir + "/" + data.cFileName;
    plat::FindClose(h);
    return true;
}

bool ParseAreas(const std::string& text, std::vector<TargetArea>& areas) {
    // start-end pairs separated by commas or blanks, inclusive ends.
    std::string s = text;
    std::replace(s.begin(), s.end(), ',', ' ');
    areas.clear();
    for (const std::string& w : Words(s)) {
        size_t dash = w.find('-');
        uint64_t a = 0, b = 0;
        if (dash == std::string::npos || !ParseNumber(w.substr(0, dash), a) ||
            !ParseNumber(w.substr(dash + 1), b) || a > b || b > 0xFFFFFFFFu)
            return false;
        areas.push_back({static_cast<uint32_t>(a), static_cast<uint32_t>(b)});
    }
    return !areas.empty() && areas.size() <= 256;
}

bool BuildAdapter(const Section& sec, const std::string& setupDir, const std::string& trgDir,
                  std::shared_ptr<SimAdapter>& out, std::string& error) {
    SimChip chip;
    std::string trg = sec.Get("TRG");
    if (!trg.empty()) {
        std::string path;
        if (!FindTrg(trgDir, trg, path)) {
            error = sec.Where("TRG") + "no " + trg + ".TRG in " + trgDir;
            return false;
        }
        CTargetInfo info;
        std::string why;
        if (!ReadTargetInfoFileAt(path, info, why)) {
            error = sec.Where("TRG") + why;
            return false;
        }
        chip = SimChip(info);
    }

    // Overrides of what the TRG file gave.
    uint64_t v = 0;
    bool present = false;
    std::array<uint32_t, 4> id = chip.identity();
    const char* idKeys[4] = {"TARGETID00", "TARGETID32", "TARGETID64", "TARGETID96"};
    for (int i = 0; i < 4; ++i) {
        std::string text = sec.Get(idKeys[i]);
        if (text.empty())
            continue;
        // Identity words are hexadecimal as in TRG files, with or without "H".
        std::string digits = Trim(text);
        if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X'))
            digits = digits.substr(2);
        if (!digits.empty() && (digits.back() == 'H' || digits.back() == 'h'))
            digits.pop_back();
        if (!ParseHexDigits(digits, v) || v > 0xFFFFFFFFu) {
            error = sec.Where(idKeys[i]) + "not a 32-bit hexadecimal number: " + text;
            return false;
        }
        id[i] = static_cast<uint32_t>(v);
    }
    chip.setIdentity(id[0], id[1], id[2], id[3]);
    if (!sec.Number("IDBITS", 128, v, present, error))
        return false;
    if (present) {
        if (v != 64 && v != 128) {
            error = sec.Where("IDBITS") + "must be 64 or 128";
            return false;
        }
        chip.setIdBits(static_cast<uint32_t>(v));
    }
    if (std::string name = sec.Get("CHIPNAME"); !name.empty())
        chip.setChipName(name);
    if (std::string text = sec.Get("AREAS"); !text.empty()) {
        std::vector<TargetArea> areas;
        if (!ParseAreas(text, areas)) {
            error = sec.Where("AREAS") + "expected START-END[,START-END...]: " + text;
            return false;
        }
        chip.setAreas(std::move(areas));
    }
    if (!sec.Number("BLOCKSIZE", kMaxFlashSize, v, present, error))
        return false;
    if (present)
        chip.setBlockSize(static_cast<uint32_t>(v));
    if (!sec.Number("BLOCKCOUNT", 0xFFFF, v, present, error))
        return false;
    if (present)
        chip.setBlockCount(static_cast<uint32_t>(v));
    if (!sec.Number("RESERVED", kMaxFlashSize, v, present, error))
        return false;
    if (present)
        chip.setReservedSize(static_cast<uint32_t>(v));
    if (trg.empty() && (chip.areas().empty() || chip.blockSize() == 0)) {
        error = sec.Where("TRG") + "needs a TRG file, or AREAS and BLOCKSIZE";
        return false;
    }
    // The chip caps its flash at kMaxFlashSize; a geometry beyond it would leave areas
    // reaching past the flash, and many such adapters would exhaust memory.
    uint64_t needed = uint64_t{chip.blockCount()} * chip.blockSize();
    for (const TargetArea& a : chip.areas())
        needed = std::max<uint64_t>(needed, uint64_t{a.end} + 1);
    if (needed > kMaxFlashSize) {
        error = sec.Where("AREAS") + "the flash would be larger than 256 MiB";
        return false;
    }
    if (chip.reservedSize() >= chip.flashSize()) {
        error = sec.Where("RESERVED") + "the reserved area must be smaller than the flash";
        return false;
    }
    if (chip.blockSize() != 0 && chip.flashSize() % chip.blockSize() != 0) {
        error = sec.Where("BLOCKSIZE") + "the flash is not a whole number of blocks";
        return false;
    }

    // Flash contents at start.
    std::string flash = sec.Get("FLASH");
    std::vector<std::string> fw = Words(flash);
    std::string kind = fw.empty() ? "ERASED" : Upper(fw[0]);
    if (kind == "ERASED" && fw.size() <= 1) {
        // erased already
    } else if (kind == "FILL" && fw.size() == 2) {
        uint64_t fill = 0;
        if (!ParseHexDigits(fw[1], fill) || fill > 0xFF) {
            error = sec.Where("FLASH") + "FILL takes one hexadecimal byte: " + flash;
            return false;
        }
        chip.Load(0, std::vector<uint8_t>(chip.flashSize(), static_cast<uint8_t>(fill)));
    } else if (kind == "HEX" && fw.size() >= 2) {
        // The file name is the rest of the value (it may contain blanks).
        std::string name = Trim(Trim(flash).substr(3));
        std::string why;
        if (!LoadIntelHex(Resolve(setupDir, name), chip, why)) {
            error = sec.Where("FLASH") + why;
            return false;
        }
    } else {
        error = sec.Where("FLASH") + "expected ERASED, FILL <byte> or HEX <file>: " + flash;
        return false;
    }

    // Protection.
    if (std::string text = sec.Get("SECURITYID"); !text.empty()) {
        std::vector<uint8_t> bytes;
        if (!ParseHexBytes(text, bytes) || bytes.size() % 2 != 0 || bytes.size() > 254) {
            error = sec.Where("SECURITYID") +
                    "expected up to 127 words of four hexadecimal digits: " + text;
            return false;
        }
        std::vector<uint16_t> words;
        for (size_t i = 0; i < bytes.size(); i += 2)
            words.push_back(static_cast<uint16_t>(bytes[i] << 8 | bytes[i + 1]));
        chip.setSecurityId(std::move(words));
    }
    if (!sec.Number("SECURITYTYPE", 1, v, present, error))
        return false;
    if (present)
        chip.setSecurityType(static_cast<int>(v));
    if (!sec.Number("PROTECTED", 1, v, present, error))
        return false;
    if (present)
        chip.setProtected(v == 1);
    if (!sec.Number("POWERON", 1, v, present, error))
        return false;
    if (present)
        chip.setPowerOnState(v == 1);

    auto adapter = std::make_shared<SimAdapter>(std::move(chip));
    if (std::string fwText = sec.Get("FIRMWARE"); !fwText.empty())
        adapter->setFirmwareVersion(fwText);
    if (!sec.Number("RESET_RESULT", 0xFF, v, present, error))
        return false;
    if (present)
        adapter->systemResetResult = static_cast<uint8_t>(v);

    // Timing.
    if (!sec.Number("LATENCY_US", 60000000, v, present, error))
        return false;
    if (present)
        adapter->timing.perCommandUs = static_cast<uint32_t>(v);
    if (!sec.Number("ERASE_BLOCK_US", 60000000, v, present, error))
        return false;
    if (present)
        adapter->timing.perErasedBlockUs = static_cast<uint32_t>(v);
    if (!sec.Number("WRITE_BYTE_NS", 60000000, v, present, error))
        return false;
    if (present)
        adapter->timing.perWrittenByteNs = static_cast<uint32_t>(v);
    if (!sec.Number("READ_BYTE_NS", 60000000, v, present, error))
        return false;
    if (present)
        adapter->timing.perReadByteNs = static_cast<uint32_t>(v);

    // Faults.
    if (std::string text = sec.Get("REFUSE_OPEN"); !text.empty()) {
        std::string t = Upper(Trim(text));
        if (t == "ALL") {
            adapter->RefuseOpens(-1);
        } else if (ParseNumber(t, v) && v <= 1000000) {
            if (v != 0)
                adapter->RefuseOpens(static_cast<int>(v));
        } else {
            error = sec.Where("REFUSE_OPEN") + "expected a count or ALL: " + text;
            return false;
        }
    }
    for (int i = 1; i <= kMaxFaults; ++i) {
        std::string key = "FAULT" + std::to_string(i);
        std::string text = sec.Get(key.c_str());
        if (text.empty())
            continue;
        FaultSetup f;
        std::string why;
        if (!ParseFault(text, f, why)) {
            error = sec.Where(key.c_str()) + why;
            return false;
        }
        if (f.atFrame)
            adapter->InjectFaultAtFrame(f.frame, f.fault);
        else
            adapter->InjectFault(f.command, f.fault);
    }
    adapter->setTraceEnabled(false);  // the daemon logs frames itself; keep memory bounded
    out = std::move(adapter);
    return true;
}

}  // namespace

CommandKind CommandKindFromName(const std::string& name) {
    std::string wanted = Upper(name);
    std::replace(wanted.begin(), wanted.end(), '_', '-');
    for (int k = static_cast<int>(CommandKind::kWriteFlash);
         k <= static_cast<int>(CommandKind::kRemovePowerOnState); ++k) {
        std::string n = Upper(CommandKindName(static_cast<CommandKind>(k)));
        std::replace(n.begin(), n.end(), ' ', '-');
        if (n == wanted)
            return static_cast<CommandKind>(k);
    }
    return CommandKind::kInvalid;
}

bool ParseFault(const std::string& text, FaultSetup& out, std::string& error) {
    std::vector<std::string> w = Words(text);
    size_t i = 0;
    auto next = [&]() -> std::string { return i < w.size() ? w[i++] : std::string(); };
    std::string kind = Upper(next());
    std::replace(kind.begin(), kind.end(), '_', '-');
    // An optional small count after kinds that take one.
    auto optionalAmount = [&](int& amount) -> bool {
        uint64_t v = 0;
        if (i < w.size() && ParseNumber(w[i], v)) {
            if (v == 0 || v > 65535) {
                error = "amount out of range: " + w[i];
                return false;
            }
            amount = static_cast<int>(v);
            ++i;
        }
        return true;
    };
    Fault f;
    if (kind == "NO-REPLY") {
        f = Fault::NoReply();
    } else if (kind == "WRONG-SEQUENCE") {
        f = Fault::WrongSequence();
        if (!optionalAmount(f.amount))
            return false;
    } else if (kind == "BAD-MAGIC") {
        f = Fault::BadMagic();
    } else if (kind == "BAD-VERSION") {
        f = Fault::BadVersion();
    } else if (kind == "SHORT-REPLY") {
        f = Fault::ShortReply();
        if (!optionalAmount(f.amount))
            return false;
    } else if (kind == "OVERLONG-REPLY") {
        f = Fault::OverlongReply();
        if (!optionalAmount(f.amount))
            return false;
    } else if (kind == "STATUS") {
        uint64_t v = 0;
        std::string word = next();
        if (!ParseHexDigits(word, v) || v > 0xFFFF) {
            error = "STATUS takes a hexadecimal status word: " + text;
            return false;
        }
        f = Fault::Status(static_cast<uint16_t>(v));
    } else if (kind == "RAW") {
        std::vector<uint8_t> bytes;
        if (!ParseHexBytes(next(), bytes)) {
            error = "RAW takes the reply payload as hexadecimal bytes without blanks: " + text;
            return false;
        }
        f = Fault::Raw(std::move(bytes));
    } else if (kind == "DISCONNECT") {
        f = Fault::Disconnect();
    } else {
        error = "unknown fault kind '" + kind +
                "' (NO-REPLY, WRONG-SEQUENCE, BAD-MAGIC, BAD-VERSION, SHORT-REPLY, "
                "OVERLONG-REPLY, STATUS, RAW, DISCONNECT)";
        return false;
    }

    std::string where = Upper(next());
    std::string what = next();
    if (where == "ON") {
        out.command = CommandKindFromName(what);
        if (out.command == CommandKind::kInvalid) {
            error = "unknown command '" + what + "' (for example write-flash, erase-block)";
            return false;
        }
        out.atFrame = false;
    } else if (where == "AT") {
        uint64_t v = 0;
        if (!ParseNumber(what, v) || v == 0 || v > 0xFFFFFFFFu) {
            error = "AT takes a frame number from 1: " + text;
            return false;
        }
        out.atFrame = true;
        out.frame = static_cast<uint32_t>(v);
    } else {
        error = "expected ON <command> or AT <frame number>: " + text;
        return false;
    }
    if (i < w.size()) {
        std::string times = Upper(next());
        std::string count = Upper(next());
        uint64_t v = 0;
        if (times != "TIMES" ||
            (count != "ALL" && (!ParseNumber(count, v) || v == 0 || v > 0x7FFFFFFF)) ||
            i < w.size()) {
            error = "expected TIMES <count> or TIMES ALL at the end: " + text;
            return false;
        }
        f.count = count == "ALL" ? -1 : static_cast<int>(v);
    }
    out.fault = std::move(f);
    return true;
}

bool WriteFlashDump(const std::string& path, const std::vector<uint8_t>& flash,
                    std::string& error) {
    uint32_t code = 0;
    if (plat::ReplaceFileContent(
            path, std::string_view(reinterpret_cast<const char*>(flash.data()), flash.size()),
            code))
        return true;
    error = "cannot write " + path + " (error " + std::to_string(code) + ")";
    return false;
}

bool LoadIntelHex(const std::string& path, SimChip& chip, std::string& error) {
    std::ifstream in(path);
    if (!in) {
        error = "cannot read " + path;
        return false;
    }
    uint32_t base = 0;
    int lineNo = 0;
    for (std::string line; std::getline(in, line);) {
        ++lineNo;
        line = Trim(line);
        if (line.empty())
            continue;
        std::string where = path + " line " + std::to_string(lineNo) + ": ";
        std::vector<uint8_t> rec;
        if (line[0] != ':' || !ParseHexBytes(line.substr(1), rec) || rec.size() < 5 ||
            rec.size() != 5u + rec[0]) {
            error = where + "not an Intel HEX record";
            return false;
        }
        uint8_t sum = 0;
        for (uint8_t b : rec)
            sum = static_cast<uint8_t>(sum + b);
        if (sum != 0) {
            error = where + "checksum mismatch";
            return false;
        }
        const uint8_t count = rec[0];
        const uint32_t offset = static_cast<uint32_t>(rec[1] << 8 | rec[2]);
        const uint8_t type = rec[3];
        const uint8_t* data = rec.data() + 4;
        switch (type) {
            case 0x00: {
                uint64_t address = uint64_t{base} + offset;
                if (address + count > chip.flashSize() ||
                    !chip.Load(static_cast<uint32_t>(address),
                               std::vector<uint8_t>(data, data + count))) {
                    char buf[64];
                    std::snprintf(buf, sizeof buf, "data at %05llXH lies outside the flash",
                                  static_cast<unsigned long long>(address));
                    error = where + buf;
                    return false;
                }
                break;
            }
            case 0x01:
                return true;
            case 0x02:
                if (count != 2) {
                    error = where + "bad extended segment address record";
                    return false;
                }
                base = static_cast<uint32_t>(data[0] << 8 | data[1]) << 4;
                break;
            case 0x04:
                if (count != 2) {
                    error = where + "bad extended linear address record";
                    return false;
                }
                base = static_cast<uint32_t>(data[0] << 8 | data[1]) << 16;
                break;
            case 0x03:
            case 0x05:
                break;  // start addresses mean nothing to a flash image
            default:
                error = where + "unknown record type";
                return false;
        }
    }
    return true;  // a missing end record is tolerated
}

bool LoadSetup(const std::string& path, std::vector<AdapterSetup>& adapters, std::string& error) {
    adapters.clear();
    if (!plat::FileExists(path.c_str())) {
        error = "cannot read the setup file " + path;
        return false;
    }
    const std::string setupDir = Directory(path);
    auto readSim = [&](const char* key) {
        std::vector<char> buf(kValueSize);
        plat::GetPrivateProfileStringA("SIMULATOR", key, "", buf.data(), kValueSize, path.c_str());
        return Trim(buf.data());
    };
    uint64_t count = 0;
    std::string countText = readSim("ADAPTERS");
    if (!ParseNumber(countText, count) || count == 0 || count > kMaxAdapters) {
        error = path + ": [SIMULATOR] ADAPTERS: expected the number of [ADAPTERn] sections (1 to " +
                std::to_string(kMaxAdapters) + ")";
        return false;
    }
    std::string trgDirText = readSim("TRGDIR");
    const std::string trgDir = trgDirText.empty() ? setupDir : Resolve(setupDir, trgDirText);

    std::set<std::string> names;
    for (uint64_t n = 1; n <= count; ++n) {
        Section sec(path, "ADAPTER" + std::to_string(n));
        uint64_t copies = 1;
        bool present = false;
        if (!sec.Number("COUNT", kMaxAdapters, copies, present, error))
            return false;
        if (present && copies == 0) {
            error = sec.Where("COUNT") + "must be at least 1";
            return false;
        }
        std::string base = Trim(sec.Get("NAME"));
        for (uint64_t k = 1; k <= copies; ++k) {
            std::string name;
            char buf[96];
            if (base.empty()) {
                std::snprintf(buf, sizeof buf, "vexil-%02zu", adapters.size() + 1);
                name = buf;
            } else if (copies > 1) {
                std::snprintf(buf, sizeof buf, "%s-%02llu", base.c_str(),
                              static_cast<unsigned long long>(k));
                name = buf;
            } else {
                name = base;
            }
            if (!ValidName(name)) {
                error =
                    sec.Where("NAME") +
                    "use letters, digits, '-', '_' and '.' (64 at most, no leading '.'): " + name;
                return false;
            }
            if (!names.insert(name).second) {
                error = sec.Where("NAME") + "the name " + name + " is used twice";
                return false;
            }
            if (adapters.size() >= static_cast<size_t>(kMaxAdapters)) {
                error = path + ": more than " + std::to_string(kMaxAdapters) + " adapters";
                return false;
            }
            std::shared_ptr<SimAdapter> adapter;
            if (!BuildAdapter(sec, setupDir, trgDir, adapter, error))
                return false;
            adapters.push_back({name, std::move(adapter)});
        }
    }
    return true;
}

}  // namespace vexilsim
