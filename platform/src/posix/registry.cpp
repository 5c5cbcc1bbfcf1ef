// The registry of the current user, kept in one INI file:
//
//   $XDG_CONFIG_HOME/ostrel/registry.ini   (or $HOME/.config/ostrel/registry.ini)
//
// One section per key, named by the key's full path below HKEY_CURRENT_USER, and one entry per
// string value, for example
//
//   [Software\Ostrel\Zeph]
//   TrgPath=/opt/ostrel/TRG
//
// Key paths and value names match without regard to letter case. A key exists when its section
// exists or a section lies below it. Values are REG_SZ only; a value with leading or trailing
// blanks, or one enclosed in quotes, is stored inside one more pair of quotes so that it reads
// back exactly. The file is read afresh on every call, so users may edit it by hand.
#include "platform/registry.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "platform/file_content.h"
#include "platform/kernel_object.h"
#include "platform/profile_text.h"
#include "platform/win32_types.h"

namespace plat {

HKEY const HKEY_CURRENT_USER = reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u));

namespace {

constexpr uint32_t KEY_SET_VALUE = 0x0002;
constexpr uint32_t KEY_ALL_ACCESS = 0xF003F;

class RegKey : public KernelObject {
  public:
    RegKey(std::string path, uint32_t access) : path_(std::move(path)), access_(access) {}
    const std::string& path() const { return path_; }
    uint32_t access() const { return access_; }

  private:
    std::string path_;
    uint32_t access_;
};

std::string ConfigHome() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/')
        return xdg;  // relative values are to be ignored
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return std::string(home) + "/.config";
    struct passwd pw;
    struct passwd* found = nullptr;
    char buf[4096];
    if (::getpwuid_r(::getuid(), &pw, buf, sizeof buf, &found) == 0 && found != nullptr)
        return std::string(found->pw_dir) + "/.config";
    return "/tmp";
}

std::string RegistryDirectory() {
    return ConfigHome() + "/ostrel";
}
std::string RegistryFile() {
    return RegistryDirectory() + "/registry.ini";
}

std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

// The full path of root + subKey, with empty components ("a\\b", a leading or trailing '\')
// dropped. False when root is not a key.
bool JoinKeyPath(HKEY root, const char* subKey, std::string& path) {
    if (root == HKEY_CURRENT_USER) {
        path.clear();
    } else if (auto* key = LookupHandleAs<RegKey>(root)) {
        path = key->path();
    } else {
        return false;
    }
    std::string_view rest = subKey == nullptr ? std::string_view() : subKey;
    while (!rest.empty()) {
        size_t sep = rest.find('\\');
        std::string_view part = rest.substr(0, sep);
        if (!part.empty()) {
            if (!path.empty())
                path.push_back('\\');
            path.append(part);
        }
        if (sep == std::string_view::npos)
            break;
        rest.remove_prefix(sep + 1);
    }
    return true;
}

bool KeyExists(std::string_view text, const std::string& path) {
    if (path.empty())
        return true;
    bool found = false;
    profile::ForEachSectionName(text, [&](std::string_view name) {
        found = profile::NamesEqual(name, path) ||
                (name.size() > path.size() && name[path.size()] == '\\' &&
                 profile::NamesEqual(name.substr(0, path.size()), path));
        return !found;
    });
    return found;
}

long LoadRegistry(std::string& text) {
    uint32_t error = ERROR_SUCCESS;
    switch (ReadWholeFile(RegistryFile(), text, error)) {
        case ReadOutcome::Read:
            return ERROR_SUCCESS;
        case ReadOutcome::Missing:
            text.clear();
            return ERROR_SUCCESS;
        case ReadOutcome::Failed:
            break;
    }
    return static_cast<long>(error);
}

bool HasOuterBlank(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\v'; };
    return !s.empty() && (blank(s.front()) || blank(s.back()));
}

// The stored form that reads back as value through the INI reader's trimming and unquoting.
std::string EncodeValue(std::string_view value) {
    if (HasOuterBlank(value) || profile::Unquote(value).size() != value.size())
        return "\"" + std::string(value) + "\"";
    return std::string(value);
}

long StoreText(const std::string& text) {
    uint32_t error = ERROR_SUCCESS;
    // Created private to the user, as the configuration directory should be.
    if (!MakeDirectories(RegistryDirectory(), 0700, error))
        return static_cast<long>(error);
    if (!ReplaceFileContent(RegistryFile(), text, error))
        return static_cast<long>(error);
    return ERROR_SUCCESS;
}

long OpenKey(HKEY root, const char* subKey, uint32_t access, HKEY* result, bool create) {
    if (result == nullptr)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::string path;
    if (!JoinKeyPath(root, subKey, path))
        return ERROR_INVALID_HANDLE;
    std::lock_guard<std::mutex> lock(WriteMutex());
    std::string text;
    if (long err = LoadRegistry(text); err != ERROR_SUCCESS)
        return err;
    if (!KeyExists(text, path)) {
        if (!create)
            return ERROR_FILE_NOT_FOUND;
        if (!profile::IsWritableSectionName(path) || HasOuterBlank(path))
            return ERROR_INVALID_PARAMETER;
        if (long err = StoreText(profile::EnsureSection(text, path)); err != ERROR_SUCCESS)
            return err;
    }
    *result = RegisterHandle(new RegKey(std::move(path), access));
    return ERROR_SUCCESS;
}

}  // namespace

long RegOpenKeyExA(HKEY root, const char* subKey, uint32_t options, uint32_t access, HKEY* result) {
    try {
        return OpenKey(root, subKey, access, result, false);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

long RegCreateKeyExA(HKEY root, const char* subKey, HKEY* result) {
    try {
        return OpenKey(root, subKey, KEY_ALL_ACCESS, result, true);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

long RegQueryValueExA(HKEY key, const char* valueName, uint32_t* reserved, uint32_t* type,
                      uint8_t* data, uint32_t* size) {
    std::string path;
    if (!JoinKeyPath(key, nullptr, path))
        return ERROR_INVALID_HANDLE;
    if (data != nullptr && size == nullptr)
        return ERROR_INVALID_PARAMETER;
    try {
        std::string text;
        if (long err = LoadRegistry(text); err != ERROR_SUCCESS)
            return err;
        std::string_view name = valueName == nullptr ? std::string_view() : valueName;
        auto value = profile::FindValue(text, path, name);
        if (!value)
            return ERROR_FILE_NOT_FOUND;
        if (value->size() >= UINT32_MAX)
            return ERROR_MORE_DATA;
        uint32_t needed = static_cast<uint32_t>(value->size()) + 1;  // with the NUL
        if (type != nullptr)
            *type = REG_SZ;
        if (data == nullptr) {
            if (size != nullptr)
                *size = needed;
            return ERROR_SUCCESS;
        }
        if (*size < needed) {
            *size = needed;
            return ERROR_MORE_DATA;
        }
        if (!value->empty())
            std::memcpy(data, value->data(), value->size());
        data[value->size()] = '\0';
        *size = needed;
        return ERROR_SUCCESS;
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

long RegSetValueExA(HKEY key, const char* valueName, uint32_t reserved, uint32_t type,
                    const uint8_t* data, uint32_t size) {
    std::string path;
    if (!JoinKeyPath(key, nullptr, path))
        return ERROR_INVALID_HANDLE;
    if (key != HKEY_CURRENT_USER && (LookupHandleAs<RegKey>(key)->access() & KEY_SET_VALUE) == 0)
        return ERROR_ACCESS_DENIED;
    if (type != REG_SZ || (data == nullptr && size != 0))
        return ERROR_INVALID_PARAMETER;
    std::string_view name = valueName == nullptr ? std::string_view() : valueName;
    // The string ends at its first NUL or at size, whichever comes first.
    std::string_view raw(reinterpret_cast<const char*>(data), data == nullptr ? 0 : size);
    std::string_view value = raw.substr(0, raw.find('\0'));
    if (!profile::IsWritableKeyName(name) || HasOuterBlank(name) ||
        !profile::IsWritableValue(value) || !profile::IsWritableSectionName(path))
        return ERROR_INVALID_PARAMETER;
    try {
        std::lock_guard<std::mutex> lock(WriteMutex());
        std::string text;
        if (long err = LoadRegistry(text); err != ERROR_SUCCESS)
            return err;
        std::string edited = profile::EditText(text, path, name, EncodeValue(value));
        if (edited == text)
            return ERROR_SUCCESS;
        return StoreText(edited);
    } catch (const std::bad_alloc&) {
        return ERROR_NOT_ENOUGH_MEMORY;
    }
}

uint32_t ExpandEnvironmentStringsA(const char* source, char* destination, uint32_t size) {
    if (source == nullptr)
        return 0;
    std::string result;
    try {
        for (std::string_view rest = source; !rest.empty();) {
            const size_t open = rest.find('%');
            const size_t close = open == std::string_view::npos ? open : rest.find('%', open + 1);
            if (close == std::string_view::npos) {
                result.append(rest);
                break;
            }
            result.append(rest.substr(0, open));
            const std::string name(rest.substr(open + 1, close - open - 1));
            const char* value = name.empty() ? nullptr : std::getenv(name.c_str());
            if (value != nullptr) {
                result.append(value);
                rest.remove_prefix(close + 1);
            } else {
                // Not a variable: the first '%' stays, the second may open one.
                result.append(rest.substr(open, close - open));
                rest.remove_prefix(close);
            }
        }
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return 0;
    }
    const uint32_t needed = static_cast<uint32_t>(result.size() + 1);
    if (destination != nullptr && size >= needed)
        std::memcpy(destination, result.c_str(), needed);
    return needed;
}

long RegCloseKey(HKEY key) {
    if (key == HKEY_CURRENT_USER)
        return ERROR_SUCCESS;
    if (LookupHandleAs<RegKey>(key) == nullptr || !CloseHandle(key))
        return ERROR_INVALID_HANDLE;
    return ERROR_SUCCESS;
}

}  // namespace plat
