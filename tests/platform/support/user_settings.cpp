#include "support/user_settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#ifdef _WIN32
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

namespace testing_support {

#ifdef _WIN32

namespace {
std::atomic<int> serial{0};
}

PrivateUserSettings::PrivateUserSettings(const std::string&) {
    key_ = "Software\\QuorvelTests\\" + std::to_string(::GetCurrentProcessId()) + "-" +
           std::to_string(++serial);
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, key_.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                          KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS) {
        ADD_FAILURE() << "cannot create " << key_;
        return;
    }
    if (::RegOverridePredefKey(HKEY_CURRENT_USER, key) != ERROR_SUCCESS)
        ADD_FAILURE() << "cannot redirect HKEY_CURRENT_USER";
    ::RegCloseKey(key);
}

PrivateUserSettings::~PrivateUserSettings() {
    ::RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    ::RegDeleteTreeA(HKEY_CURRENT_USER, key_.c_str());
    ::RegDeleteKeyA(HKEY_CURRENT_USER, key_.c_str());
}

#else

PrivateUserSettings::PrivateUserSettings(const std::string& configDir) {
    if (const char* home = std::getenv("XDG_CONFIG_HOME")) {
        hadSaved_ = true;
        saved_ = home;
    }
    ::setenv("XDG_CONFIG_HOME", configDir.c_str(), 1);
}

PrivateUserSettings::~PrivateUserSettings() {
    if (hadSaved_) {
        ::setenv("XDG_CONFIG_HOME", saved_.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
}

#endif

}  // namespace testing_support
