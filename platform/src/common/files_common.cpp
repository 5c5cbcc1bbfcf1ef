#include "files_common.h"

#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/files.h"
#include "platform/win32_types.h"

namespace plat {

namespace {

std::mutex& OverrideMutex() {
    static std::mutex m;
    return m;
}

std::string& ModuleOverride() {
    static std::string path;
    return path;
}

}  // namespace

void CopyPart(std::string_view part, char* out, uint32_t size) {
    if (out == nullptr || size == 0)
        return;
    size_t n = std::min<size_t>(part.size(), size - 1);
    if (n > 0)
        std::memcpy(out, part.data(), n);
    out[n] = '\0';
}

bool ModuleFileNameOverride(std::string& path) {
    std::lock_guard<std::mutex> lock(OverrideMutex());
    if (ModuleOverride().empty())
        return false;
    path = ModuleOverride();
    return true;
}

void SetModuleFileNameOverrideForTesting(const std::string& path) {
    std::lock_guard<std::mutex> lock(OverrideMutex());
    ModuleOverride() = path;
}

uint32_t CopyModulePath(const std::string& path, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    CopyPart(path, buffer, size);
    if (path.size() >= size) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    SetLastError(ERROR_SUCCESS);
    return static_cast<uint32_t>(path.size());
}

bool FoundList::Next(WIN32_FIND_DATAA* data) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (next_ >= entries_.size())
        return false;
    Fill(entries_[next_++], data);
    return true;
}

void FoundList::Fill(const FoundEntry& e, WIN32_FIND_DATAA* data) {
    data->dwFileAttributes = e.attributes;
    data->nFileSizeBytes = e.size;
    CopyPart(e.name, data->cFileName, MAX_PATH);
}

}  // namespace plat
