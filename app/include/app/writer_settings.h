#pragma once
// The settings file "Quorvel.ini" (section "Settings") and its in-memory image WriterSettings.
// The file is never held open: every read and write goes through the private-profile calls.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

constexpr const char* kSettingsFileName = "Quorvel.ini";
constexpr const char* kSettingsSection = "Settings";
constexpr const char* kDefaultLogFileName = "Quorvel.log";
constexpr const char* kDefaultCommandFileName = "Write_Verify.cd8";

// Serial numbers, increments and security IDs are byte fields of this size.
constexpr size_t kByteFieldSize = 256;
// Restoring stops here; a larger FILENUM can only come from a damaged file.
constexpr int32_t kMaxStoredProgramFiles = 65535;

// Text to a most-significant-first byte array. length: in, the requested length; out, the
// number of bytes parsed. A shorter result is right-aligned in a field of the requested length
// with zero bytes in front. Fails (field untouched) on an empty text, a character other than
// 0-9, A-F, ':' and 'H' (after upper-casing, trimming and dropping a leading "0X"), a pair that
// is not hexadecimal, or a result that does not fit the field.
bool ParseHexBytes(std::string_view text, std::span<uint8_t> field, uint32_t& length);

// The first length bytes as upper-case hexadecimal digits, first byte first. A length beyond
// the field is cut to the field.
std::string FormatHexBytes(std::span<const uint8_t> bytes, size_t length);

// Adds the increment to the serial number (both most significant byte first, lined up at
// their last byte) over serialLength bytes; the bytes beyond it become 0. True when the sum
// did not fit, so the number wrapped around.
bool AddSerialIncrement(std::span<uint8_t> serial, size_t serialLength,
                        std::span<const uint8_t> increment, size_t incrementLength);

// Compares two serial numbers over their first length bytes (most significant first): below
// zero when a comes before b.
int CompareSerialNumbers(std::span<const uint8_t> a, std::span<const uint8_t> b, size_t length);

// The numbers count boards get from first on, one increment apart, over length bytes. next
// receives the number after the last board and nextWrapped whether it wrapped around; numbers,
// when given, each board's number as text. Answers the first board (from 1) whose own number
// wrapped around, and so would repeat one handed out before; 0 when none did.
int CountOffSerialNumbers(std::span<const uint8_t> first, int count, uint16_t length,
                          std::span<const uint8_t> increment, uint16_t incrementLength,
                          std::array<uint8_t, kByteFieldSize>& next, bool& nextWrapped,
                          std::vector<std::string>* numbers = nullptr);

// One stored program file entry, kept as the file holds it.
struct StoredProgramFile {
    std::string fileName;    // FILENAME<i>
    std::string offsetText;  // OFFSET<i>
    bool operator==(const StoredProgramFile&) const = default;
};

// The line of stations this one belongs to; without a connection it works on its own.
struct LineSettings {
    std::string connection;  // LINEDB: a PostgreSQL connection string
    std::string station;     // STATION, the host name when missing
    std::string pool;        // SERIALPOOL, the target name when missing
    bool On() const { return !connection.empty(); }
};

// The part of the main dialog's state that the settings file persists. The initial values are
// the dialog's before any settings are read.
struct WriterSettings {
    std::string targetName;                       // TRGNAME
    std::vector<StoredProgramFile> programFiles;  // FILENUM, FILENAME<i>, OFFSET<i>
    std::string logFileName;                      // LOGFILENAME
    std::string commandFileName;                  // COMFILENAME
    int32_t mode = 0;                             // MODE: 1 simple, otherwise detail
    int32_t fillType = 0;                         // FILLTYPE: 1 keeps the flash content
    uint32_t serialOn = 0;                        // SERIALNUMFLG
    uint32_t serialAddress = 0;                   // SERIALNUMADDR
    uint16_t serialLength = 4;                    // SERIALNUMLEN, 1 to 256
    uint16_t incrementLength = 4;                 // SERIALNUMINCLEN, 1 to 256
    std::array<uint8_t, kByteFieldSize> serialNumber = {0, 0, 0, 1};  // SERIALNUM
    std::array<uint8_t, kByteFieldSize> increment = {0, 0, 0, 1};     // SERIALNUMINC
    // The production record: its file (empty: Quorvel-record.csv beside the log) and whether
    // it is written.
    std::string recordFileName;  // RECORDFILENAME
    uint32_t recordOn = 1;       // RECORDFLG: 0 off, anything else on
    LineSettings line;           // LINEDB, STATION, SERIALPOOL
};

// The production record's file: RECORDFILENAME, or Quorvel-record.csv beside the log; empty
// while the record is off.
std::string RecordFilePathOf(const WriterSettings& settings);

// Lengths outside 1..256 can only come from an edited file; they are limited to that range so
// that they never reach beyond the byte fields.
uint16_t LimitByteLength(uint32_t stored);

class SettingsFile {
  public:
    // The private-profile string writer (section, key, value, file); replaceable so that a
    // write can be made to fail at a chosen key.
    using Writer = std::function<bool(const char*, const char*, const char*, const char*)>;

    SettingsFile() = default;
    explicit SettingsFile(std::string path, Writer writer = {});

    // The executable's drive and directory joined with "Quorvel.ini".
    static SettingsFile BesideExecutable();

    const std::string& Path() const { return path_; }
    bool Exists() const;

    // Readers that test for the file first: they answer false and leave the value untouched
    // when it does not exist.
    bool ReadTargetName(std::string& name) const;
    bool ReadMode(int32_t& mode) const;
    bool ReadFillType(int32_t& fillType) const;
    bool ReadProgramFiles(std::vector<StoredProgramFile>& files) const;
    bool ReadSerialFlag(uint32_t& flag) const;
    // SERIALNUMOVF: the stored number wrapped around when it was taken, so the next Write asks
    // before it hands it out.
    bool ReadSerialWrapped() const;
    bool ReadSerialNumberText(std::string& text) const;

    // RECORDFILENAME and RECORDFLG; missing keys keep the defaults.
    void ReadRecordSettings(WriterSettings& settings) const;
    // Both keys; false at the first failed write.
    bool WriteRecordSettings(const WriterSettings& settings);

    // LINEDB, STATION and SERIALPOOL; the missing ones take their defaults (the pool's is
    // settings.targetName).
    void ReadLineSettings(WriterSettings& settings) const;

    // Raw LOGFILENAME and COMFILENAME; empty when missing.
    std::string ReadLogFileName() const;
    std::string ReadCommandFileName() const;

    // SERIALNUMFLG, SERIALNUMADDR, both lengths, SERIALNUM and SERIALNUMINC. Missing keys give
    // their defaults; an unusable byte string leaves the first bytes as they were.
    void ReadSerialSettings(WriterSettings& settings) const;

    // SECUREIDSIZE and SECUREID: false when no ID is stored (or it cannot be parsed); otherwise
    // the ID fills the front of field, the rest of it is zeroed, and size holds its byte count.
    bool ReadSecurityId(std::span<uint8_t> field, uint32_t& size) const;
    // Whether the file holds a security ID and users other than its owner can read it.
    bool SecurityIdReadableByOthers() const;

    bool WriteTargetName(const std::string& name);
    // The serialization keys in their order; stops at the first failed write and answers false.
    // Under the settings lock the stored number is read first and never moved backwards, unless
    // the operator chose the number (rewind): other programs share the file.
    bool WriteSerialSettings(const WriterSettings& settings, bool rewind = false);

    // The numbers of a plug session are taken before anything is written, so that no later
    // session can hand any of them out again, whatever becomes of this one. Under the settings
    // lock, for count boards from first on: first moves up to the stored number when another
    // program took numbers since, unless rewind; Wrapped when the stored number wrapped around
    // when it was taken (SERIALNUMOVF) and first was not chosen, or when a board's own number
    // would wrap. Otherwise the number after the boards is stored (next, nextWrapped) and the
    // answer is Taken, or Failed when it could not be stored.
    enum class Reservation { Taken, Wrapped, Failed };
    Reservation ReserveSerialNumbers(const WriterSettings& settings, int count, bool chosen,
                                     bool rewind, std::array<uint8_t, kByteFieldSize>& first,
                                     std::array<uint8_t, kByteFieldSize>& next, bool& nextWrapped);
    // Stores next as the number after the ones another source (a line's pool) handed out, so
    // that the file shows where numbering stands; false when it could not be stored.
    bool StoreNextSerial(const WriterSettings& settings, std::span<const uint8_t> next,
                         bool nextWrapped);
    // SECUREIDSIZE, then SECUREID unless the size is 0; false at the first failed write.
    bool WriteSecurityId(std::span<const uint8_t> bytes, uint32_t size);
    // A new file holding every key the window writes, with these values (an empty LOGFILENAME,
    // COMFILENAME and RECORDFILENAME stand for the defaults), readable by its owner only.
    // Never replaces a file: Exists then. Unreadable: a value that would read back as
    // something else (a line break in it).
    enum class Creation { Created, Exists, Unreadable, Failed };
    Creation CreateNew(const WriterSettings& settings) const;
    // FILENUM, the entries, LOGFILENAME, COMFILENAME, MODE and FILLTYPE. Answers false only
    // when FILENUM could not be written; the other keys are tried in any case.
    bool SaveAtShutdown(const WriterSettings& settings);

  private:
    std::string ReadText(const char* key, uint32_t bufferSize) const;
    // A byte-string key over length bytes; an unusable value leaves the first bytes as they were.
    void ReadSerialBytes(const char* key, std::array<uint8_t, kByteFieldSize>& field,
                         uint16_t length) const;
    // SERIALNUM as stored, over length bytes (0 when missing or unusable).
    std::array<uint8_t, kByteFieldSize> ReadStoredSerial(uint16_t length) const;
    uint32_t ReadInt(const char* key, int defaultValue) const;
    bool Write(const char* key, const std::string& value);
    bool Remove(const char* key);
    // Runs change under the settings lock (taken here unless held already): a write reads the
    // whole file and puts a new one in its place, which would undo numbers another program
    // reserved meanwhile. strict: no change without the lock; otherwise only a lock another
    // program holds stops it, since where none can be made no reservation can be either.
    template <typename Change>
    bool Locked(Change change, bool strict);
    // Stores next and its wrap mark, the mark set before the number and cleared after it, so
    // that a kill between the two never leaves a wrapped number unmarked; then flushes the
    // directory. Under the lock.
    bool StoreNextSerialLocked(const WriterSettings& settings, std::span<const uint8_t> next,
                               bool nextWrapped, bool storedWrapped);

    std::string path_;
    Writer writer_;
    bool locked_ = false;  // this object holds the settings lock
};
