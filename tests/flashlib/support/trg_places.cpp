#include "support/trg_places.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

#include "brindlex/quorvel_api.h"
#include "platform/files.h"
#include "platform/registry.h"

TrgPlaces::TrgPlaces() {
    std::filesystem::create_directories(root / "bin");
    std::filesystem::create_directories(root / "config");
    plat::SetModuleFileNameOverrideForTesting(ProgramDir() + "Quorvel");
}

TrgPlaces::~TrgPlaces() {
    plat::SetModuleFileNameOverrideForTesting("");
}

void TrgPlaces::Put(const std::string& dir, const std::string& name, const std::string& content) {
    std::filesystem::create_directories(dir);
    std::ofstream out((std::filesystem::path(dir) / name).string(), std::ios::binary);
    out << content;
    if (!out)
        ADD_FAILURE() << "cannot write " << dir << "/" << name;
}

void TrgPlaces::SetTrgPath(const std::string& value, uint32_t type) {
    plat::HKEY key = nullptr;
    ASSERT_EQ(plat::RegCreateKeyExA(plat::HKEY_CURRENT_USER, "Software\\Ostrel\\Zeph", &key),
              static_cast<long>(plat::ERROR_SUCCESS));
    EXPECT_EQ(plat::RegSetValueExA(key, "TrgPath", 0, type,
                                   reinterpret_cast<const uint8_t*>(value.c_str()),
                                   static_cast<uint32_t>(value.size() + 1)),
              static_cast<long>(plat::ERROR_SUCCESS));
    plat::RegCloseKey(key);
}

void TrgSetDeleter::operator()(TRGINFO* set) const {
    ApiObj.DeleteTargetInfoSet(&set);
}
