#pragma once
// What the Qt tests share: one offscreen application for the process, and a writer directory
// (bin/ with the program's path pointed into it, config/ for the registry stand-in) that
// goes away with the test.
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/files.h"

namespace qttest {

// Created on first use; Qt allows one application per process.
void UseOffscreenApplication(const char* name);

class WriterDir {
  public:
    explicit WriterDir(const std::string& prefix)
        : root(std::filesystem::temp_directory_path() / (prefix + std::to_string(::getpid()))) {
        std::filesystem::create_directories(root / "bin");
        std::filesystem::create_directories(root / "config");
        setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
        plat::SetModuleFileNameOverrideForTesting((root / "bin" / "Quorvel").string());
    }
    ~WriterDir() {
        plat::SetModuleFileNameOverrideForTesting("");
        std::error_code ignored;
        std::filesystem::remove_all(root, ignored);
    }
    WriterDir(const WriterDir&) = delete;
    WriterDir& operator=(const WriterDir&) = delete;

    const std::filesystem::path root;
};

}  // namespace qttest
