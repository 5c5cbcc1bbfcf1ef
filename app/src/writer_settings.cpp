#include "app/writer_settings.h"

#include "programdata/limits.h"
#include "programdata/production_record.h"

#include <algorithm>
#include <cstdio>

#include "app/program_paths.h"
#include "platform/append_file.h"
#include "platform/file_content.h"
#include "platform/file_lock.h"
#include "platform/files.h"
#include "platform/private_profile.h"

namespace {

// Holders of the settings lock read and write a few keys of a small file.
constexpr uint32_t kSettingsLockWaitMs = 3000;

std::string Decimal(int64_t value) {
    return std::to_string(value);
}

// A connection string with its options and a password is longer than a path.
constexpr uint32_t kLineTextSize = 4096;
constexpr uint32_t kLineNameSize = 256;

}  // namespace

std::string RecordFilePathOf(const WriterSettings& s) {
    if (s.recordOn == 0)
        return {};
    if (!s.recordFileName.empty())
        return s.recordFileName;
    return DirectoryOf(s.logFileName) + programdata::kDefaultRecordFileName;
}

SettingsFile::SettingsFile(std::string path, Writer writer)
    : path_(std::move(path)), writer_(std::move(writer)) {
    if (!writer_)
        writer_ = plat::WritePrivateProfileStringA;
}

SettingsFile SettingsFile::BesideExecutable() {
    return SettingsFile(ExecutableDirectory() + kSettingsFileName);
}

bool SettingsFile::Exists() const {
    return !path_.empty() && plat::FileExists(path_.c_str());
}

std::string SettingsFile::ReadText(const char* key, uint32_t bufferSize) const {
    std::vector<char> buffer(bufferSize, '\0');
    uint32_t n = plat::GetPrivateProfileStringA(kSettingsSection, key, "", buffer.data(),
                                                bufferSize, path_.c_str());
    return std::string(buffer.data(), std::min(n, bufferSize - 1));
}

uint32_t SettingsFile::ReadInt(const char* key, int defaultValue) const {
    return plat::GetPrivateProfileIntA(kSettingsSection, key, defaultValue, path_.c_str());
}

template <typename Change>
bool SettingsFile::Locked(Change change, bool strict) {
    if (locked_)
        return change();
    plat::FileLock lock;
    const bool held = lock.Acquire(path_, kSettingsLockWaitMs);
    if (!held && (strict || plat::GetLastError() == plat::ERROR_SHARING_VIOLATION))
        return false;
    locked_ = held;
    const bool done = change();
    locked_ = false;
    return done;
}

bool SettingsFile::Write(const char* key, const std::string& value) {
    return Locked(
        [&] { return writer_ && writer_(kSettingsSection, key, value.c_str(), path_.c_str()); },
        false);
}

bool SettingsFile::Remove(const char* key) {
    return Locked(
        [&] {
            // Nothing to remove leaves the file as it is.
            return ReadText(key, 2).empty() ||
                   (writer_ && writer_(kSettingsSection, key, nullptr, path_.c_str()));
        },
        false);
}

bool SettingsFile::ReadTargetName(std::string& name) const {
    if (!Exists())
        return false;
    name = ReadText("TRGNAME", 256);
    return true;
}

bool SettingsFile::ReadMode(int32_t& mode) const {
    if (!Exists())
        return false;
    mode = ReadInt("MODE", 0) == 1 ? 1 : 0;
    return true;
}

bool SettingsFile::ReadFillType(int32_t& fillType) const {
    if (!Exists())
        return false;
    fillType = static_cast<int32_t>(ReadInt("FILLTYPE", 0));
    return true;
}

bool SettingsFile::ReadProgramFiles(std::vector<StoredProgramFile>& files) const {
    if (!Exists())
        return false;
    int32_t count = std::min(static_cast<int32_t>(ReadInt("FILENUM", 0)), kMaxStoredProgramFiles);
    files.clear();
    for (int32_t i = 0; i < count; ++i) {
        std::string nameKey = "FILENAME" + Decimal(i);
        std::string offsetKey = "OFFSET" + Decimal(i);
        files.push_back({ReadText(nameKey.c_str(), programdata::kMaxStoredPath + 1),
                         ReadText(offsetKey.c_str(), 16)});
    }
    return true;
}

bool SettingsFile::ReadSerialFlag(uint32_t& flag) const {
    if (!Exists())
        return false;
    flag = ReadInt("SERIALNUMFLG", 0);
    return true;
}

bool SettingsFile::ReadSerialWrapped() const {
    return ReadInt("SERIALNUMOVF", 0) != 0;
}

bool SettingsFile::ReadSerialNumberText(std::string& text) const {
    if (!Exists())
        return false;
    text = ReadText("SERIALNUM", 1024);
    return true;
}

std::string SettingsFile::ReadLogFileName() const {
    return ReadText("LOGFILENAME", programdata::kMaxStoredPath + 1);
}

std::string SettingsFile::ReadCommandFileName() const {
    return ReadText("COMFILENAME", programdata::kMaxStoredPath + 1);
}

void SettingsFile::ReadRecordSettings(WriterSettings& s) const {
    s.recordFileName = ReadText("RECORDFILENAME", programdata::kMaxStoredPath + 1);
    s.recordOn = ReadInt("RECORDFLG", 1) != 0 ? 1 : 0;
}

void SettingsFile::ReadLineSettings(WriterSettings& s) const {
    s.line.connection = ReadText("LINEDB", kLineTextSize);
    s.line.station = ReadText("STATION", kLineNameSize);
    if (s.line.station.empty())
        s.line.station = plat::HostName();
    s.line.pool = ReadText("SERIALPOOL", kLineNameSize);
    if (s.line.pool.empty())
        s.line.pool = s.targetName;
}

bool SettingsFile::WriteRecordSettings(const WriterSettings& s) {
    return Locked(
        [&] {
            return Write("RECORDFLG", s.recordOn != 0 ? "1" : "0") &&
                   Write("RECORDFILENAME", s.recordFileName);
        },
        false);
}

void SettingsFile::ReadSerialSettings(WriterSettings& s) const {
    s.serialOn = ReadInt("SERIALNUMFLG", 0);
    s.serialAddress = ReadInt("SERIALNUMADDR", 0);
    s.serialLength = LimitByteLength(ReadInt("SERIALNUMLEN", 4));
    s.incrementLength = LimitByteLength(ReadInt("SERIALNUMINCLEN", 4));

    ReadSerialBytes("SERIALNUM", s.serialNumber, s.serialLength);
    ReadSerialBytes("SERIALNUMINC", s.increment, s.incrementLength);
}

bool SettingsFile::ReadSecurityId(std::span<uint8_t> field, uint32_t& size) const {
    uint32_t storedSize = std::min<uint32_t>(ReadInt("SECUREIDSIZE", 0), field.size());
    std::string text = ReadText("SECUREID", 257);
    if (text.empty())
        return false;
    // Parse into a copy so that an unusable value leaves the caller's field as it was.
    std::vector<uint8_t> bytes(field.size(), 0);
    uint32_t length = storedSize;
    if (!ParseHexBytes(text, bytes, length))
        return false;
    std::fill(bytes.begin() + std::max(length, storedSize), bytes.end(), uint8_t{0});
    std::copy(bytes.begin(), bytes.end(), field.begin());
    size = storedSize;
    return true;
}

bool SettingsFile::SecurityIdReadableByOthers() const {
    return !ReadText("SECUREID", 257).empty() && plat::IsReadableByOthers(path_.c_str());
}

bool SettingsFile::WriteTargetName(const std::string& name) {
    return Write("TRGNAME", name);
}

void SettingsFile::ReadSerialBytes(const char* key, std::array<uint8_t, kByteFieldSize>& field,
                                   uint16_t length) const {
    uint32_t requested = length;
    ParseHexBytes(ReadText(key, 1024), field, requested);
    std::fill(field.begin() + length, field.end(), uint8_t{0});
}

std::array<uint8_t, kByteFieldSize> SettingsFile::ReadStoredSerial(uint16_t length) const {
    std::array<uint8_t, kByteFieldSize> bytes{};
    ReadSerialBytes("SERIALNUM", bytes, length);
    return bytes;
}

bool SettingsFile::WriteSerialSettings(const WriterSettings& s, bool rewind) {
    return Locked(
        [&] {
            std::array<uint8_t, kByteFieldSize> number = s.serialNumber;
            if (Exists() && !rewind) {
                const auto stored = ReadStoredSerial(s.serialLength);
                if (CompareSerialNumbers(stored, number, s.serialLength) > 0)
                    number = stored;
            }
            char address[16];
            std::snprintf(address, sizeof address, "0x%05X", s.serialAddress);
            // A number the operator chose is a fresh start: it has not wrapped. The mark goes
            // last, so that a failed write leaves it on the old number.
            return Write("SERIALNUMFLG", Decimal(s.serialOn)) &&
                   Write("SERIALNUM", FormatHexBytes(number, s.serialLength)) &&
                   Write("SERIALNUMINC", FormatHexBytes(s.increment, s.incrementLength)) &&
                   Write("SERIALNUMLEN", Decimal(s.serialLength)) &&
                   Write("SERIALNUMINCLEN", Decimal(s.incrementLength)) &&
                   Write("SERIALNUMADDR", address) && (!rewind || Remove("SERIALNUMOVF"));
        },
        true);
}

bool SettingsFile::StoreNextSerialLocked(const WriterSettings& s, std::span<const uint8_t> next,
                                         bool nextWrapped, bool storedWrapped) {
    if (nextWrapped && !storedWrapped && !Write("SERIALNUMOVF", "1"))
        return false;
    if (!Write("SERIALNUM", FormatHexBytes(next, s.serialLength)))
        return false;
    if (!nextWrapped && storedWrapped && !Remove("SERIALNUMOVF"))
        return false;
    // Boards get these numbers next: the file that says so must outlive a power cut.
    return plat::SyncDirectoryOf(path_);
}

SettingsFile::Reservation SettingsFile::ReserveSerialNumbers(
    const WriterSettings& s, int count, bool chosen, bool rewind,
    std::array<uint8_t, kByteFieldSize>& first, std::array<uint8_t, kByteFieldSize>& next,
    bool& nextWrapped) {
    Reservation answer = Reservation::Failed;
    Locked(
        [&] {
            const bool storedWrapped = ReadSerialWrapped();
            const auto stored = ReadStoredSerial(s.serialLength);
            // Numbers another program took since this session began are not taken again; a
            // start chosen below them no longer counts as chosen.
            if (!rewind && CompareSerialNumbers(stored, first, s.serialLength) > 0) {
                first = stored;
                chosen = false;
            }
            if ((storedWrapped && !chosen) ||
                CountOffSerialNumbers(first, count, s.serialLength, s.increment, s.incrementLength,
                                      next, nextWrapped) != 0) {
                answer = Reservation::Wrapped;
                return true;
            }
            if (StoreNextSerialLocked(s, next, nextWrapped, storedWrapped))
                answer = Reservation::Taken;
            return true;
        },
        true);
    return answer;
}

bool SettingsFile::StoreNextSerial(const WriterSettings& s, std::span<const uint8_t> next,
                                   bool nextWrapped) {
    return Locked([&] { return StoreNextSerialLocked(s, next, nextWrapped, ReadSerialWrapped()); },
                  true);
}

bool SettingsFile::WriteSecurityId(std::span<const uint8_t> bytes, uint32_t size) {
    size = std::min<uint32_t>(size, bytes.size());
    // Whole 16-bit words only, as the adapters take them.
    return Locked(
        [&] {
            return Write("SECUREIDSIZE", Decimal(size)) &&
                   (size == 0 || Write("SECUREID", FormatHexBytes(bytes, size / 2 * 2)));
        },
        false);
}

SettingsFile::Creation SettingsFile::CreateNew(const WriterSettings& s) const {
    std::vector<std::pair<std::string, std::string>> keys = {
        {"TRGNAME", s.targetName},
        {"FILENUM", Decimal(static_cast<int64_t>(s.programFiles.size()))}};
    for (size_t i = 0; i < s.programFiles.size(); ++i) {
        keys.emplace_back("FILENAME" + Decimal(int64_t(i)), s.programFiles[i].fileName);
        keys.emplace_back("OFFSET" + Decimal(int64_t(i)), s.programFiles[i].offsetText);
    }
    char address[16];
    std::snprintf(address, sizeof address, "0x%05X", s.serialAddress);
    keys.insert(keys.end(), {{"LOGFILENAME", s.logFileName},
                             {"COMFILENAME", s.commandFileName},
                             {"MODE", Decimal(s.mode == 1 ? 1 : 0)},
                             {"FILLTYPE", Decimal(s.fillType)},
                             {"SERIALNUMFLG", Decimal(s.serialOn)},
                             {"SERIALNUM", FormatHexBytes(s.serialNumber, s.serialLength)},
                             {"SERIALNUMINC", FormatHexBytes(s.increment, s.incrementLength)},
                             {"SERIALNUMLEN", Decimal(s.serialLength)},
                             {"SERIALNUMINCLEN", Decimal(s.incrementLength)},
                             {"SERIALNUMADDR", address},
                             {"SECUREIDSIZE", "0"},
                             {"RECORDFLG", s.recordOn != 0 ? "1" : "0"},
                             {"RECORDFILENAME", s.recordFileName}});
    // The same lines the profile writer makes, under a comment that says where the keys are told.
    std::string text = "; Quorvel settings. Every key: docs/settings.md\r\n[";
    text += kSettingsSection;
    text += "]\r\n";
    for (const auto& [key, value] : keys) {
        if (value.find_first_of("\r\n") != std::string::npos)
            return Creation::Unreadable;
        text += key + "=" + value + "\r\n";
    }
    uint32_t error = 0;
    if (plat::CreateNewFile(path_, text, true, error))
        return Creation::Created;
    return error == plat::ERROR_FILE_EXISTS ? Creation::Exists : Creation::Failed;
}

bool SettingsFile::SaveAtShutdown(const WriterSettings& s) {
    return Locked(
        [&] {
            const bool countWritten =
                Write("FILENUM", Decimal(static_cast<int64_t>(s.programFiles.size())));
            for (size_t i = 0; i < s.programFiles.size(); ++i) {
                Write(("FILENAME" + Decimal(int64_t(i))).c_str(), s.programFiles[i].fileName);
                Write(("OFFSET" + Decimal(int64_t(i))).c_str(), s.programFiles[i].offsetText);
            }
            Write("LOGFILENAME", s.logFileName);
            Write("COMFILENAME", s.commandFileName);
            Write("MODE", Decimal(s.mode == 1 ? 1 : 0));
            Write("FILLTYPE", Decimal(s.fillType));
            return countWritten;
        },
        false);
}
