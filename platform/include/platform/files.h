#pragma once
// Files and paths: the running executable's path, path splitting, wildcard directory search.
#include <cstdint>
#include <string>

#include "platform/win32_types.h"

namespace plat {

constexpr uint32_t MAX_PATH = 260;
// Separator of directory components on this platform ("/" on POSIX, "\" on Windows).
extern const char kPathSeparator;

// Full path of the running executable (module null) into buffer; returns its length, or 0.
uint32_t GetModuleFileNameA(void* module, char* buffer, uint32_t size);
// Tests stand in for the executable: a non-empty path replaces what GetModuleFileNameA reports.
void SetModuleFileNameOverrideForTesting(const std::string& path);

// Splits path into drive ("C:" on Windows, always empty on POSIX), directory (with its trailing
// separator), file name and extension (with its dot). Any out-pointer may be null; each
// result is cut to its buffer size - 1 and NUL-terminated.
void SplitPath(const char* path, char* drive, uint32_t driveSize, char* dir, uint32_t dirSize,
               char* name, uint32_t nameSize, char* ext, uint32_t extSize);

struct WIN32_FIND_DATAA {
    uint32_t dwFileAttributes;
    uint64_t nFileSizeBytes;
    char cFileName[MAX_PATH];
};
constexpr uint32_t FILE_ATTRIBUTE_DIRECTORY = 0x10;
constexpr uint32_t FILE_ATTRIBUTE_NORMAL = 0x80;

// Wildcard search: pattern is a directory and a file pattern with '*' and '?', matched without
// regard to letter case ("*.TRG" finds a.trg and B.Trg). Only regular files and directories
// are listed ("." and ".." are not), in a stable order: on Windows as NTFS lists a folder (by
// the names in upper case: a.trg, B.Trg, c.TRG), on POSIX by the names' bytes. Returns
// INVALID_HANDLE_VALUE with ERROR_FILE_NOT_FOUND when nothing matches, ERROR_PATH_NOT_FOUND
// when the directory does not exist.
HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data);
bool FindNextFileA(HANDLE search, WIN32_FIND_DATAA* data);  // ERROR_NO_MORE_FILES at the end
bool FindClose(HANDLE search);

// Existence test (the access test of the settings file).
bool FileExists(const char* path);
// A file (not a directory or device) that this process may open for reading.
bool IsReadableFile(const char* path);
// Whether users other than the file's owner may read it (POSIX: its group or others read
// bit). Windows answers false: there the file's ACL decides, which is not examined.
bool IsReadableByOthers(const char* path);

}  // namespace plat
