#include "target_info_file.h"

#include <sys/stat.h>
#include <unistd.h>

bool ReadTargetInfoFileAt(const std::string& path, CTargetInfo& entry, std::string& error) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        ::access(path.c_str(), R_OK) != 0) {
        error = "cannot read " + path;
        return false;
    }
    entry = CTargetInfo{};
    if (!ReadTargetFile(path.c_str(), 0xFF, entry)) {
        error = path + " is not a usable target description (is VEXILDEBUG=ENABLE set?)";
        return false;
    }
    return true;
}
