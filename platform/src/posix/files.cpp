#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <string_view>
#include <vector>

#include "files_common.h"
#include "platform/file_content.h"
#include "platform/kernel_object.h"
#include "wildcard.h"

namespace plat {

const char kPathSeparator = '/';

namespace {

bool ExecutablePath(std::string& path) {
    if (ModuleFileNameOverride(path))
        return true;
    std::vector<char> buf(256);
    for (;;) {
        ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) {
            SetLastError(Win32ErrorFromErrno(errno));
            return false;
        }
        if (static_cast<size_t>(n) < buf.size()) {
            path.assign(buf.data(), static_cast<size_t>(n));
            return true;
        }
        buf.resize(buf.size() * 2);  // the link may have been cut; try a larger buffer
    }
}

class SearchObject : public KernelObject, public FoundList {
  public:
    using FoundList::FoundList;
};

// Reads the directory and keeps the regular files and directories whose names match.
bool Collect(const std::string& dir, std::string_view pattern, std::vector<FoundEntry>& found) {
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) {
        SetLastError(errno == ENOENT || errno == ENOTDIR ? ERROR_PATH_NOT_FOUND
                                                         : Win32ErrorFromErrno(errno));
        return false;
    }
    int dirFd = ::dirfd(d);
    while (dirent* e = ::readdir(d)) {
        std::string_view name = e->d_name;
        if (name == "." || name == "..")
            continue;
        if (name.size() >= MAX_PATH || !WildcardMatch(pattern, name))
            continue;
        struct stat st;
        // Links count as what they point to; dangling links, devices and sockets are skipped.
        if (::fstatat(dirFd, e->d_name, &st, 0) != 0)
            continue;
        if (S_ISREG(st.st_mode)) {
            found.push_back(
                {std::string(name), FILE_ATTRIBUTE_NORMAL, static_cast<uint64_t>(st.st_size)});
        } else if (S_ISDIR(st.st_mode)) {
            found.push_back({std::string(name), FILE_ATTRIBUTE_DIRECTORY, 0});
        }
    }
    ::closedir(d);
    std::sort(found.begin(), found.end(),
              [](const FoundEntry& a, const FoundEntry& b) { return a.name < b.name; });
    return true;
}

}  // namespace

uint32_t GetModuleFileNameA(void* module, char* buffer, uint32_t size) {
    if (module != nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);  // only the main executable is known
        return 0;
    }
    std::string path;
    try {
        if (!ExecutablePath(path))
            return 0;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    return CopyModulePath(path, buffer, size);
}

void SplitPath(const char* path, char* drive, uint32_t driveSize, char* dir, uint32_t dirSize,
               char* name, uint32_t nameSize, char* ext, uint32_t extSize) {
    std::string_view p = path == nullptr ? std::string_view() : path;
    size_t slash = p.rfind(kPathSeparator);
    size_t fileStart = slash == std::string_view::npos ? 0 : slash + 1;
    std::string_view file = p.substr(fileStart);
    size_t dot = file.rfind('.');
    // Dots that lead the name (".bashrc", "..") do not start an extension.
    if (dot != std::string_view::npos && file.find_first_not_of('.') >= dot) {
        dot = std::string_view::npos;
    }
    CopyPart({}, drive, driveSize);
    CopyPart(p.substr(0, fileStart), dir, dirSize);
    CopyPart(file.substr(0, dot), name, nameSize);
    CopyPart(dot == std::string_view::npos ? std::string_view() : file.substr(dot), ext, extSize);
}

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
    if (pattern == nullptr || data == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    std::string_view p = pattern;
    size_t slash = p.rfind(kPathSeparator);
    std::string dir = slash == std::string_view::npos ? "."
                      : slash == 0                    ? "/"
                                                      : std::string(p.substr(0, slash));
    std::string_view filePattern = slash == std::string_view::npos ? p : p.substr(slash + 1);
    try {
        std::vector<FoundEntry> found;
        if (!Collect(dir, filePattern, found))
            return INVALID_HANDLE_VALUE;
        if (filePattern.empty() || found.empty()) {
            SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        FoundList::Fill(found.front(), data);
        found.erase(found.begin());
        SetLastError(ERROR_SUCCESS);
        return RegisterHandle(new SearchObject(std::move(found)));
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

bool FindNextFileA(HANDLE search, WIN32_FIND_DATAA* data) {
    auto* object = LookupHandleAs<SearchObject>(search);
    if (object == nullptr || data == nullptr) {
        SetLastError(object == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!object->Next(data)) {
        SetLastError(ERROR_NO_MORE_FILES);
        return false;
    }
    return true;
}

bool FindClose(HANDLE search) {
    if (LookupHandleAs<SearchObject>(search) == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    return CloseHandle(search);
}

bool FileExists(const char* path) {
    return path != nullptr && ::access(path, F_OK) == 0;
}

bool IsReadableFile(const char* path) {
    struct stat st {};
    return path != nullptr && ::stat(path, &st) == 0 && S_ISREG(st.st_mode) &&
           ::access(path, R_OK) == 0;
}

bool IsReadableByOthers(const char* path) {
    struct stat st {};
    return path != nullptr && ::stat(path, &st) == 0 && (st.st_mode & (S_IRGRP | S_IROTH)) != 0;
}

}  // namespace plat
