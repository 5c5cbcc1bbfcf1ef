#pragma once
// A private temporary directory per test, removed with everything in it, so that test
// processes running in parallel never share files.
#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(std::string_view name) const {
        return path_ + kSeparator + std::string(name);
    }

#ifdef _WIN32
    static constexpr char kSeparator = '\\';
#else
    static constexpr char kSeparator = '/';
#endif

  private:
    std::string path_;
};

void WriteBytes(const std::string& path, std::string_view bytes);
// The whole file; "<missing>" when it cannot be opened.
std::string ReadBytes(const std::string& path);
// Names in the directory, sorted, without "." and "..".
std::vector<std::string> ListDir(const std::string& path);

}  // namespace testing_support
