#pragma once
// Small helpers shared by the fuzz targets.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

// Every target frees what each input built (multi_target six simulated adapters per input):
// ASan's default quarantine of freed memory (256 MB) alone would pass the runs' memory limit.
// Each target is one source file, so this definition is made once per program.
extern "C" const char* __asan_default_options() {
    return "quarantine_size_mb=32";
}

namespace fuzz {

// A finding: print what was violated and abort, so libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

#define FUZZ_CHECK(cond)                                         \
    do {                                                         \
        if (!(cond))                                             \
            ::fuzz::Fail(#cond " (" __FILE__ ":" FUZZ_LINE ")"); \
    } while (0)
#define FUZZ_STR(x) #x
#define FUZZ_XSTR(x) FUZZ_STR(x)
#define FUZZ_LINE FUZZ_XSTR(__LINE__)

// A private scratch directory for the whole run, on tmpfs when there is one: the readers go
// through real files, and a file per input should not cost a disk write. Removed at exit.
class ScratchDir {
  public:
    ScratchDir() {
        std::string base = "/dev/shm";
        if (access(base.c_str(), W_OK) != 0) {
            const char* tmp = std::getenv("TMPDIR");
            base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
        }
        std::string pattern = base + "/quorvel-fuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            Fail("cannot create a scratch directory");
        path_ = pattern;
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

inline void WriteFile(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        Fail("cannot write a scratch file");
}

}  // namespace fuzz
