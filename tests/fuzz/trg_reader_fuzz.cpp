// Arbitrary TRG files through CQuorvelApi::ReadTargetInfoFile, from a program directory of
// their own. The input holds up to three files, separated by the line "~~~"; they are read
// in name order as A.TRG, B.TRG and C.TRG. Whatever they hold, the set that comes back must
// fit its records: names and versions terminated, at most 256 areas, ascending, disjoint and
// not touching, addresses within what the address syntax can give.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "brindlex/quorvel_api.h"
#include "fuzz_support.h"
#include "platform/files.h"

namespace {

constexpr uint8_t kMaxIdBits = 93;  // what the writer passes
constexpr uint32_t kMaxAddress = 0x1FEFFFF;
constexpr std::string_view kSeparator = "\n~~~\n";
const char* const kNames[] = {"A", "B", "C"};

struct Place {
    fuzz::ScratchDir root;
    std::string bin;
    Place() : bin(root.path() + "/bin/") {
        std::filesystem::create_directories(bin);
        std::filesystem::create_directories(root.path() + "/config");
        // No registry value and no ..\TRG: only the program directory is searched.
        setenv("XDG_CONFIG_HOME", (root.path() + "/config").c_str(), 1);
        plat::SetModuleFileNameOverrideForTesting(bin + "Quorvel");
    }
};

Place& Here() {
    static Place place;
    return place;
}

bool Terminated(const char* text, size_t size) {
    return std::memchr(text, '\0', size) != nullptr;
}

void CheckEntry(const CTargetInfo& e, size_t& nextName, size_t files) {
    FUZZ_CHECK(Terminated(e.name, sizeof e.name));
    // Accepted files keep their order, each at most once.
    size_t i = nextName;
    while (i < files && std::strcmp(e.name, kNames[i]) != 0)
        ++i;
    FUZZ_CHECK(i < files);
    nextName = i + 1;

    FUZZ_CHECK(Terminated(e.version, sizeof e.version));
    FUZZ_CHECK(std::strlen(e.version) >= 1 && std::strlen(e.version) <= 9);
    FUZZ_CHECK(e.targetId00 != 0 || e.targetId32 != 0);
    FUZZ_CHECK(e.targetIdBitNum <= kMaxIdBits);
    FUZZ_CHECK(e.blockSize > 0);

    FUZZ_CHECK(e.areaCount <= 256);
    for (uint32_t a = 0; a < e.areaCount; ++a) {
        FUZZ_CHECK(e.areas[a].start <= e.areas[a].end);
        FUZZ_CHECK(e.areas[a].end <= kMaxAddress);
        if (a > 0) {
            // Merged: ascending, neither overlapping nor touching.
            FUZZ_CHECK(uint64_t{e.areas[a - 1].end} + 1 < e.areas[a].start);
        }
    }
    FUZZ_CHECK(e.romWinStart <= kMaxAddress && e.romWinEnd <= kMaxAddress);
    FUZZ_CHECK(e.testStart <= kMaxAddress);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Place& place = Here();
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> files;
    while (files.size() < 2) {
        const size_t cut = input.find(kSeparator);
        if (cut == std::string_view::npos)
            break;
        files.push_back(input.substr(0, cut));
        input.remove_prefix(cut + kSeparator.size());
    }
    files.push_back(input);

    for (size_t i = 0; i < 3; ++i) {
        const std::string path = place.bin + kNames[i] + ".TRG";
        if (i < files.size()) {
            fuzz::WriteFile(path, files[i]);
        } else {
            std::remove(path.c_str());
        }
    }

    uint16_t found = 0xFFFF;
    TRGINFO* set = ApiObj.ReadTargetInfoFile(kMaxIdBits, found);
    FUZZ_CHECK(found == files.size());
    if (set == nullptr)
        return 0;
    FUZZ_CHECK(set->entries != nullptr);
    FUZZ_CHECK(set->count >= 1 && set->count <= files.size());
    size_t nextName = 0;
    for (uint32_t i = 0; i < set->count; ++i)
        CheckEntry(set->entries[i], nextName, files.size());
    FUZZ_CHECK(ApiObj.DeleteTargetInfoSet(&set) == 1 && set == nullptr);
    return 0;
}
