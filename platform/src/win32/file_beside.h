#pragma once
// The working copy that a Windows write prepares beside a file, and how it takes the file's
// place without taking away what the file is: its security, attributes, streams and names.
#include <string>
#include <string_view>

#include "platform/win32_types.h"

namespace plat {

// A name beside path for its working copy, unique within this process and across processes.
std::string WorkingCopyBeside(const std::string& path, const char* extension);
// Creates a new working copy beside path for writing, shared with nobody; its name in copy.
// INVALID_HANDLE_VALUE with the system's error when none can be made.
HANDLE CreateWorkingCopy(const std::string& path, std::string& copy);
// Deletes the copy and fails, keeping the error that made the caller give up.
bool FailRemoving(const std::string& copy);

// Writes every byte to h; false with the system's error (ERROR_DISK_FULL for a write of none).
bool WriteAll(HANDLE h, std::string_view content);
// Whether path is one of several hard links of one file.
bool HasOtherNames(const std::string& path);
// Writes content over the existing file path itself, so that the file stays what it was (its
// links, its security), and flushes it. The only way to change a file whose folder takes no
// new files; a crash during it can leave the file half written.
bool OverwriteInPlace(const std::string& path, std::string_view content);
// The file a symbolic link leads to (so that the link stays), else path itself.
std::string FinalPath(const std::string& path);
// Puts the flushed copy in the place of path: a new file is moved there; an existing one is
// replaced by ReplaceFile, which keeps its security, attributes and streams, with a short
// retry while another program (a virus scanner, an indexer, a backup) holds one of the two;
// a file with other names gets the copy's content in place. The copy is gone afterwards,
// also on failure, and the old file then unchanged.
bool PutCopyInPlace(const std::string& path, const std::string& copy);

}  // namespace plat
