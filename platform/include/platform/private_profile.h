#pragma once
// INI reading and writing with the observable behaviour of the Windows private-profile
// functions, so that Quorvel.ini and the TRG files behave the same on every platform.
// A write goes to a temporary file in the same directory that is renamed over the old one,
// so a crash or a full disk never leaves a half-written file.
#include <cstdint>
#include <string>

namespace plat {

// Copies at most size - 1 characters of the value (or of the default) and a NUL; returns the
// number of characters copied. Size 0 copies nothing. A null section lists the section names,
// a null key the keys of the section: each name NUL-terminated, then one more NUL (a list cut
// by the size ends in two NULs and gives size - 2). The file is read afresh on every call.
uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                  char* buffer, uint32_t size, const char* fileName);

// Integer read: decimal or "0x" hexadecimal, optional sign, modulo 2^32.
uint32_t GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                               const char* fileName);

// Writes key=value into section. A null value removes the key, a null key the section.
// Returns false (the old file untouched) when the file cannot be written. On POSIX a file the
// write creates is readable and writable by its owner only (0600); an existing file keeps its
// permissions.
bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);

// One profile file read once, answering exactly as the two read functions above would have
// answered for the file as it was when loaded. For readers that look up many keys of one file
// (the TRG reader), so that the file is not opened and parsed once per key.
class PrivateProfileSnapshot {
  public:
    explicit PrivateProfileSnapshot(const char* fileName);
    ~PrivateProfileSnapshot();
    PrivateProfileSnapshot(const PrivateProfileSnapshot&) = delete;
    PrivateProfileSnapshot& operator=(const PrivateProfileSnapshot&) = delete;
    uint32_t GetString(const char* section, const char* key, const char* defaultValue, char* buffer,
                       uint32_t size) const;
    uint32_t GetInt(const char* section, const char* key, int defaultValue) const;

  private:
    std::string text_;  // the file's bytes (Windows: the path of a private copy)
    bool loaded_ = false;
};

}  // namespace plat
