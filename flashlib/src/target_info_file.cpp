#include "target_info_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "brindlex/quorvel_api.h"
#include "platform/files.h"

namespace {

// A private directory holding one copy of the file, removed on every path.
class CopyDir {
  public:
    ~CopyDir() {
        if (!file.empty())
            ::unlink(file.c_str());
        if (!dir.empty())
            ::rmdir(dir.c_str());
    }
    std::string dir;
    std::string file;
};

}  // namespace

bool ReadTargetInfoFileAt(const std::string& path, CTargetInfo& entry, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    struct stat st {};
    if (!in || ::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        error = "cannot read " + path;
        return false;
    }
    std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    // The reader searches the program's directory first, so a program directory that holds
    // only this file makes the search find exactly it, under its own name.
    CopyDir copy;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/trg-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        error = "cannot create a temporary directory for " + path;
        return false;
    }
    copy.dir = pattern;
    // The entry's name is the file name without its extension, whatever the extension was.
    size_t slash = path.rfind('/');
    std::string stem = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot != 0)
        stem.erase(dot);
    copy.file = copy.dir + "/" + stem + ".TRG";
    {
        std::ofstream out(copy.file, std::ios::binary | std::ios::trunc);
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        if (!out) {
            error = "cannot copy " + path;
            return false;
        }
    }

    plat::SetModuleFileNameOverrideForTesting(copy.dir + "/reader");
    CQuorvelApi reader;
    uint16_t found = 0;
    TRGINFO* set = reader.ReadTargetInfoFile(0xFF, found);
    plat::SetModuleFileNameOverrideForTesting("");
    if (set == nullptr || set->count == 0) {
        reader.DeleteTargetInfoSet(&set);
        error = path + " is not a usable target description (is VEXILDEBUG=ENABLE set?)";
        return false;
    }
    entry = set->entries[0];
    reader.DeleteTargetInfoSet(&set);
    return true;
}
