#include "platform/private_profile.h"

#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "platform/file_content.h"
#include "platform/profile_text.h"
#include "platform/win32_types.h"

namespace plat {

namespace {

// Files are read afresh on every call: users and other code edit them between calls.
bool LoadProfile(const char* fileName, std::string& text) {
    if (fileName == nullptr)
        return false;
    uint32_t error = ERROR_SUCCESS;
    return ReadWholeFile(fileName, text, error) == ReadOutcome::Read;
}

uint32_t CopyBounded(std::string_view value, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    size_t n = value.size() < size - 1 ? value.size() : size - 1;
    if (n > 0)
        std::memcpy(buffer, value.data(), n);
    buffer[n] = '\0';
    return static_cast<uint32_t>(n);
}

std::string_view DefaultValue(const char* defaultValue) {
    std::string_view d = defaultValue == nullptr ? std::string_view() : defaultValue;
    size_t e = d.find_last_not_of(' ');
    return e == std::string_view::npos ? std::string_view() : d.substr(0, e + 1);
}

// A list of names, each NUL-terminated, with one more NUL at the end. When it does not fit,
// the last name is cut and followed by two NULs, and the result is size - 2.
class NameListWriter {
  public:
    NameListWriter(char* buffer, uint32_t size) : buffer_(buffer), size_(size) {}
    bool Add(std::string_view name) {
        // Room for the name, its NUL and the final NUL.
        if (used_ + name.size() + 2 > size_) {
            full_ = true;
            return false;
        }
        if (!name.empty())
            std::memcpy(buffer_ + used_, name.data(), name.size());
        used_ += static_cast<uint32_t>(name.size());
        buffer_[used_++] = '\0';
        return true;
    }
    uint32_t Finish(std::string_view cutName) {
        if (full_) {
            if (used_ < size_ - 2)
                std::memcpy(buffer_ + used_, cutName.data(), size_ - 2 - used_);
            buffer_[size_ - 2] = '\0';
            buffer_[size_ - 1] = '\0';
            return size_ - 2;
        }
        buffer_[used_] = '\0';
        return used_;
    }

  private:
    char* buffer_;
    uint32_t size_;
    uint32_t used_ = 0;
    bool full_ = false;
};

uint32_t ListNames(std::string_view text, const char* section, char* buffer, uint32_t size) {
    if (buffer == nullptr || size == 0)
        return 0;
    if (size == 1) {
        buffer[0] = '\0';
        return 0;
    }
    NameListWriter list(buffer, size);
    std::string_view cut;
    auto visit = [&](std::string_view name) {
        if (list.Add(name))
            return true;
        cut = name;
        return false;
    };
    if (section == nullptr) {
        profile::ForEachSectionName(text, visit);
    } else {
        profile::ForEachKeyName(text, profile::TrimCallerName(section), visit);
    }
    return list.Finish(cut);
}

uint32_t ParseProfileInt(std::string_view s) {
    size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t' || s[i] == '\v' || s[i] == '\f' ||
                            s[i] == '\r' || s[i] == '\n'))
        ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        negative = s[i++] == '-';
    uint32_t base = 10;
    if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    uint32_t value = 0;  // unsigned: wraps modulo 2^32 by definition
    for (; i < s.size(); ++i) {
        char c = s[i];
        uint32_t digit;
        if (c >= '0' && c <= '9') {
            digit = static_cast<uint32_t>(c - '0');
        } else if (base == 16 && c >= 'a' && c <= 'f') {
            digit = static_cast<uint32_t>(c - 'a' + 10);
        } else if (base == 16 && c >= 'A' && c <= 'F') {
            digit = static_cast<uint32_t>(c - 'A' + 10);
        } else {
            break;
        }
        value = value * base + digit;
    }
    return negative ? 0u - value : value;
}

std::mutex& WriteMutex() {
    static std::mutex m;
    return m;
}

}  // namespace

PrivateProfileSnapshot::PrivateProfileSnapshot(const char* fileName) {
    try {
        loaded_ = LoadProfile(fileName, text_);
    } catch (const std::bad_alloc&) {
        text_.clear();
        loaded_ = false;
    }
}

PrivateProfileSnapshot::~PrivateProfileSnapshot() = default;

uint32_t PrivateProfileSnapshot::GetString(const char* section, const char* key,
                                           const char* defaultValue, char* buffer,
                                           uint32_t size) const {
    try {
        if (section == nullptr || key == nullptr) {
            return ListNames(loaded_ ? std::string_view(text_) : std::string_view(), section,
                             buffer, size);
        }
        if (loaded_) {
            auto value = profile::FindValue(text_, profile::TrimCallerName(section),
                                            profile::TrimCallerName(key));
            if (value) {
                SetLastError(ERROR_SUCCESS);
                return CopyBounded(*value, buffer, size);
            }
        }
        SetLastError(ERROR_FILE_NOT_FOUND);
        return CopyBounded(DefaultValue(defaultValue), buffer, size);
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return CopyBounded(DefaultValue(defaultValue), buffer, size);
    }
}

uint32_t PrivateProfileSnapshot::GetInt(const char* section, const char* key,
                                        int defaultValue) const {
    uint32_t fallback = static_cast<uint32_t>(defaultValue);
    if (section == nullptr || key == nullptr || !loaded_)
        return fallback;
    auto value =
        profile::FindValue(text_, profile::TrimCallerName(section), profile::TrimCallerName(key));
    if (!value || value->empty())
        return fallback;
    return ParseProfileInt(*value);
}

uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                  char* buffer, uint32_t size, const char* fileName) {
    return PrivateProfileSnapshot(fileName).GetString(section, key, defaultValue, buffer, size);
}

uint32_t GetPrivateProfileIntA(const char* section, const char* key, int defaultValue,
                               const char* fileName) {
    if (section == nullptr || key == nullptr)
        return static_cast<uint32_t>(defaultValue);
    return PrivateProfileSnapshot(fileName).GetInt(section, key, defaultValue);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    if (fileName == nullptr || *fileName == '\0') {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    if (section == nullptr) {
        // All three null asks to flush a cache; nothing is cached here.
        if (key == nullptr && value == nullptr)
            return true;
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    std::string_view sectionName = profile::TrimCallerName(section);
    std::optional<std::string_view> keyName;
    std::optional<std::string_view> newValue;
    if (key != nullptr)
        keyName = profile::TrimCallerName(key);
    if (key != nullptr && value != nullptr)
        newValue = value;
    if (!profile::IsWritableSectionName(sectionName) ||
        (keyName && !profile::IsWritableKeyName(*keyName)) ||
        (newValue && !profile::IsWritableValue(*newValue))) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    try {
        // Serialises this process's read-modify-write cycles on the same file.
        std::lock_guard<std::mutex> lock(WriteMutex());
        std::string text;
        uint32_t error = ERROR_SUCCESS;
        ReadOutcome read = ReadWholeFile(fileName, text, error);
        if (read == ReadOutcome::Failed) {
            SetLastError(error);
            return false;
        }
        bool removing = !newValue;
        if (read == ReadOutcome::Missing && removing)
            return true;  // nothing to remove
        std::string edited = profile::EditText(text, sectionName, keyName, newValue);
        if (read == ReadOutcome::Read && edited == text)
            return true;
        // Settings files hold secrets (a security ID): a new one is its owner's alone.
        if (!ReplacePrivateFileContent(fileName, edited, error)) {
            SetLastError(error);
            return false;
        }
        SetLastError(ERROR_SUCCESS);
        return true;
    } catch (const std::bad_alloc&) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return false;
    }
}

}  // namespace plat
