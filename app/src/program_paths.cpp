#include "app/program_paths.h"

#include <cstring>

#include "platform/files.h"

namespace {

struct ExecutableParts {
    char drive[3] = {};
    char dir[256] = {};
    char name[256] = {};
    char ext[256] = {};
    bool whole = false;
};

ExecutableParts SplitExecutablePath() {
    ExecutableParts parts;
    char path[plat::MAX_PATH] = {};
    const uint32_t length = plat::GetModuleFileNameA(nullptr, path, sizeof path);
    // A path the buffer cannot hold comes back cut, naming another directory and program.
    if (length == 0 || length >= sizeof path)
        return parts;
    plat::SplitPath(path, parts.drive, sizeof parts.drive, parts.dir, sizeof parts.dir, parts.name,
                    sizeof parts.name, parts.ext, sizeof parts.ext);
    // So can a part longer than its field.
    parts.whole = std::strlen(parts.drive) + std::strlen(parts.dir) + std::strlen(parts.name) +
                      std::strlen(parts.ext) ==
                  length;
    if (!parts.whole)
        parts = ExecutableParts{};
    return parts;
}

}  // namespace

bool ExecutablePathIsWhole() {
    return SplitExecutablePath().whole;
}

std::string ExecutableDirectory() {
    ExecutableParts parts = SplitExecutablePath();
    return std::string(parts.drive) + parts.dir;
}

std::string ProgramName() {
    return SplitExecutablePath().name;
}

std::string DirectoryOf(const std::string& path) {
    char drive[3] = {}, dir[plat::MAX_PATH] = {};
    plat::SplitPath(path.c_str(), drive, sizeof drive, dir, sizeof dir, nullptr, 0, nullptr, 0);
    return std::string(drive) + dir;
}
