#pragma once
// Points the current user's settings at a private place for the life of the object, so that
// tests running in parallel never see each other's registry values: on POSIX the registry
// stand-in's XDG_CONFIG_HOME, on Windows HKEY_CURRENT_USER itself (redirected to a key of its
// own, which is deleted afterwards).
#include <string>

namespace testing_support {

class PrivateUserSettings {
  public:
    // configDir: the POSIX stand-in's config directory (unused on Windows).
    explicit PrivateUserSettings(const std::string& configDir);
    ~PrivateUserSettings();
    PrivateUserSettings(const PrivateUserSettings&) = delete;
    PrivateUserSettings& operator=(const PrivateUserSettings&) = delete;

  private:
    std::string saved_;
    bool hadSaved_ = false;
    std::string key_;
};

}  // namespace testing_support
