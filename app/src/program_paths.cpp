#include "app/program_paths.h"

#include "platform/files.h"

namespace {

struct ExecutableParts {
    char drive[3] = {};
    char dir[256] = {};
    char name[256] = {};
};

ExecutableParts SplitExecutablePath() {
    ExecutableParts parts;
    char path[plat::MAX_PATH] = {};
    if (plat::GetModuleFileNameA(nullptr, path, sizeof path) == 0)
        return parts;
    plat::SplitPath(path, parts.drive, sizeof parts.drive, parts.dir, sizeof parts.dir, parts.name,
                    sizeof parts.name, nullptr, 0);
    return parts;
}

}  // namespace

std::string ExecutableDirectory() {
    ExecutableParts parts = SplitExecutablePath();
    return std::string(parts.drive) + parts.dir;
}

std::string ProgramName() {
    return SplitExecutablePath().name;
}
