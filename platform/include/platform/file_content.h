#pragma once
// File helpers shared by the services that keep their data in files.
#include <cstdint>
#include <string>
#include <string_view>

namespace plat {

// The Win32 error code closest to a POSIX errno value.
uint32_t Win32ErrorFromErrno(int err);

enum class ReadOutcome { Read, Missing, Failed };

// Reads a whole regular file. Missing: no such file, or not a regular file. Failed: it exists
// but could not be read (error receives the Win32 code).
ReadOutcome ReadWholeFile(const std::string& path, std::string& content, uint32_t& error);

// Replaces the file's content atomically: a temporary file beside it is written, synced and
// renamed over it, keeping the old file's permission bits (and owner where allowed). A
// symbolic link is followed so that the link stays. On failure the old file is untouched, the
// temporary file is gone and error receives the Win32 code. The directory must exist.
// failedStep, when given, tells which step failed, for callers that report each differently.
enum class ReplaceStep { Create, Write, Close, Rename };
bool ReplaceFileContent(const std::string& path, std::string_view content, uint32_t& error,
                        ReplaceStep* failedStep = nullptr);
// The same for a file only its owner should read: a file it creates gets mode 0600 (less the
// umask) in place of 0666; an existing file keeps its mode.
bool ReplacePrivateFileContent(const std::string& path, std::string_view content, uint32_t& error);

// Creates a file that must not exist yet with this content, whole or not at all: a temporary
// file beside it is written, synced and then put in its place only if the name is still free
// (error ERROR_FILE_EXISTS otherwise; an existing file is never touched). privateFile: mode
// 0600 (less the umask) in place of 0666; on Windows the folder's permissions apply.
bool CreateNewFile(const std::string& path, std::string_view content, bool privateFile,
                   uint32_t& error);

// Makes the last rename of path durable: the directory that holds it (for a symbolic link,
// the one that holds its target, where the replacement renamed) is flushed to disk (a no-op on
// Windows, which has no such flush). Replacements leave this out to stay cheap; a write that
// must survive a power cut, such as serial numbers taken, asks for it.
bool SyncDirectoryOf(const std::string& path);

// Creates a directory and its missing parents with the given mode.
bool MakeDirectories(const std::string& path, unsigned mode, uint32_t& error);

// Whether dir is a directory (not a link to one) owned by this user that group and others
// cannot write to: no other user can have planted it or put files into it. Otherwise why
// receives the reason, or stays empty when dir does not exist.
bool IsPrivateDirectory(const std::string& dir, std::string& why);

}  // namespace plat
