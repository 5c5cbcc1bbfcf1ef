#include "target_info_file.h"

#include "platform/files.h"

bool ReadTargetInfoFileAt(const std::string& path, CTargetInfo& entry, std::string& error) {
    if (!plat::IsReadableFile(path.c_str())) {
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
