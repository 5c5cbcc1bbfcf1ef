// Files and paths on Windows: the module path, _splitpath and the system's directory search.
// The search is collected and sorted as NTFS lists a directory (by the names in upper case),
// since the target list is built in that order and FAT volumes, network shares and Wine list
// in an order of their own. The system also
// matches the pattern against the short 8.3 names, so "*.TRG" finds "QX.TRG_old" (short name
// QX~1.TRG); only names whose long form matches are kept, as on every other platform.
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "files_common.h"
#include "platform/files.h"
#include "platform/win32_types.h"
#include "wildcard.h"
// Win32 headers last (see win32_sys.h).
#include "win32_sys.h"

#include <stdlib.h>

namespace plat {

const char kPathSeparator = '\\';

namespace {

using Search = FoundList;

// Search handles are the addresses of live searches; anything else is refused.
struct Searches {
    std::mutex mutex;
    std::set<Search*> live;
};

Searches& LiveSearches() {
    static Searches* searches = new Searches;  // lives past static destruction
    return *searches;
}

// A name's sort key: its UTF-16 form, which the system compares as NTFS does.
std::wstring SortKey(const std::string& name) {
    const int n = ::MultiByteToWideChar(CP_ACP, 0, name.data(), int(name.size()), nullptr, 0);
    std::wstring key(size_t(n > 0 ? n : 0), L'\0');
    if (n > 0)
        ::MultiByteToWideChar(CP_ACP, 0, name.data(), int(name.size()), key.data(), n);
    return key;
}

// Names that differ only in letter case (possible on a case-sensitive folder) stay in byte order.
void SortAsListed(std::vector<FoundEntry>& entries) {
    std::vector<std::pair<std::wstring, FoundEntry>> keyed;
    keyed.reserve(entries.size());
    for (FoundEntry& e : entries)
        keyed.emplace_back(SortKey(e.name), std::move(e));
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        const int order = ::CompareStringOrdinal(a.first.data(), int(a.first.size()),
                                                 b.first.data(), int(b.first.size()), TRUE);
        return order != CSTR_EQUAL ? order == CSTR_LESS_THAN : a.second.name < b.second.name;
    });
    for (size_t i = 0; i < entries.size(); ++i)
        entries[i] = std::move(keyed[i].second);
}

Search* LookupSearch(HANDLE h) {
    auto& s = LiveSearches();
    std::lock_guard<std::mutex> lock(s.mutex);
    auto it = s.live.find(static_cast<Search*>(h));
    return it == s.live.end() ? nullptr : *it;
}

}  // namespace

uint32_t GetModuleFileNameA(void* module, char* buffer, uint32_t size) {
    std::string path;
    if (module == nullptr && ModuleFileNameOverride(path))
        return CopyModulePath(path, buffer, size);
    return ::GetModuleFileNameA(static_cast<HMODULE>(module), buffer, size);
}

void SplitPath(const char* path, char* drive, uint32_t driveSize, char* dir, uint32_t dirSize,
               char* name, uint32_t nameSize, char* ext, uint32_t extSize) {
    // _splitpath_s refuses parts longer than their buffers; the layer cuts them instead, so
    // every part gets a buffer as long as the whole path first.
    const std::string whole = path == nullptr ? std::string() : std::string(path);
    const size_t room = whole.size() + 1;
    std::vector<char> d(room > 3 ? room : 3), p(room), n(room), e(room);
    if (_splitpath_s(whole.c_str(), d.data(), d.size(), p.data(), p.size(), n.data(), n.size(),
                     e.data(), e.size()) != 0) {
        d[0] = p[0] = n[0] = e[0] = '\0';
    }
    CopyPart(d.data(), drive, driveSize);
    CopyPart(p.data(), dir, dirSize);
    CopyPart(n.data(), name, nameSize);
    CopyPart(e.data(), ext, extSize);
}

HANDLE FindFirstFileA(const char* pattern, WIN32_FIND_DATAA* data) {
    if (pattern == nullptr || data == nullptr) {
        ::SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    try {
        ::WIN32_FIND_DATAA found{};
        HANDLE h = ::FindFirstFileA(pattern, &found);
        if (h == INVALID_HANDLE_VALUE)
            return INVALID_HANDLE_VALUE;
        const std::string_view whole = pattern;
        const size_t cut = whole.find_last_of("\\/:");
        const std::string_view filePattern =
            cut == std::string_view::npos ? whole : whole.substr(cut + 1);
        std::vector<FoundEntry> entries;
        do {
            std::string_view name = found.cFileName;
            if (name == "." || name == ".." || !WildcardMatch(filePattern, name))
                continue;
            const bool isDir = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            entries.push_back(
                {std::string(name), static_cast<uint32_t>(found.dwFileAttributes),
                 isDir ? 0 : (uint64_t(found.nFileSizeHigh) << 32) | found.nFileSizeLow});
        } while (::FindNextFileA(h, &found));
        ::FindClose(h);
        if (entries.empty()) {
            ::SetLastError(ERROR_FILE_NOT_FOUND);
            return INVALID_HANDLE_VALUE;
        }
        SortAsListed(entries);
        Search::Fill(entries.front(), data);
        entries.erase(entries.begin());
        auto search = std::make_unique<Search>(std::move(entries));
        auto& s = LiveSearches();
        std::lock_guard<std::mutex> lock(s.mutex);
        s.live.insert(search.get());
        ::SetLastError(ERROR_SUCCESS);
        return search.release();
    } catch (const std::bad_alloc&) {
        ::SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return INVALID_HANDLE_VALUE;
    }
}

bool FindNextFileA(HANDLE search, WIN32_FIND_DATAA* data) {
    Search* s = LookupSearch(search);
    if (s == nullptr || data == nullptr) {
        ::SetLastError(s == nullptr ? ERROR_INVALID_HANDLE : ERROR_INVALID_PARAMETER);
        return false;
    }
    if (!s->Next(data)) {
        ::SetLastError(ERROR_NO_MORE_FILES);
        return false;
    }
    return true;
}

bool FindClose(HANDLE search) {
    auto& s = LiveSearches();
    std::unique_ptr<Search> owned;
    {
        std::lock_guard<std::mutex> lock(s.mutex);
        auto it = s.live.find(static_cast<Search*>(search));
        if (it == s.live.end()) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return false;
        }
        owned.reset(*it);
        s.live.erase(it);
    }
    return true;
}

bool FileExists(const char* path) {
    return path != nullptr && ::GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

bool IsReadableFile(const char* path) {
    if (path == nullptr)
        return false;
    const DWORD attributes = ::GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return false;
    HANDLE h = ::CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    ::CloseHandle(h);
    return true;
}

bool IsReadableByOthers(const char*) {
    return false;
}

}  // namespace plat
