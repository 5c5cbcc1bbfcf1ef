#include "support/writer_env.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "platform/files.h"
#include "platform/private_profile.h"

namespace fs = std::filesystem;

WriterEnv::WriterEnv() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    root = fs::temp_directory_path() / ("quorvel_env_" + std::to_string(getpid()) + "_" +
                                        info->test_suite_name() + "_" + info->name());
    fs::remove_all(root);
    bin = root / "bin";
    fs::create_directories(bin);
    fs::create_directories(root / "config");
    // No registry path of the user's leaks into the TRG search.
    setenv("XDG_CONFIG_HOME", (root / "config").c_str(), 1);
    plat::SetModuleFileNameOverrideForTesting((bin / "Quorvel").string());
}

WriterEnv::~WriterEnv() {
    plat::SetModuleFileNameOverrideForTesting("");
    std::error_code ignored;
    fs::remove_all(root, ignored);
}

void WriterEnv::WriteTrg(const TrgContent& trg) const {
    char ids[128];
    std::snprintf(ids, sizeof ids, "TARGETID00=%08XH\nTARGETID32=%08XH\nTARGETID64=%08XH\n",
                  unsigned(trg.id00), unsigned(trg.id32), unsigned(trg.id64));
    std::ostringstream out;
    out << "[VEXIL]\nVEXILDEBUG=ENABLE\n"
        << ids << "TARGETID_BIT_NUM=64\n[MMAP]\nNUMBER=" << trg.areas.size() << "\n";
    for (size_t i = 0; i < trg.areas.size(); ++i) {
        char area[96];
        std::snprintf(area, sizeof area, "DEFAULT%zu=SC\nSTARTADRS%zu=%XH\nENDADRS%zu=%XH\n", i + 1,
                      i + 1, unsigned(trg.areas[i].first), i + 1, unsigned(trg.areas[i].second));
        out << area;
    }
    std::ofstream(bin / (trg.name + ".TRG")) << out.str();
}

std::string WriterEnv::IniPath() const {
    return (bin / "Quorvel.ini").string();
}

void WriterEnv::WriteIni(const std::string& content) const {
    std::ofstream(IniPath(), std::ios::binary) << content;
}

std::string WriterEnv::IniContent() const {
    std::ifstream in(IniPath(), std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string WriterEnv::Key(const char* key) const {
    char buffer[1024] = {};
    plat::GetPrivateProfileStringA("Settings", key, "<missing>", buffer, sizeof buffer,
                                   IniPath().c_str());
    return buffer;
}

std::string WriterEnv::WriteFile(const std::string& name, const std::string& content) const {
    const fs::path path = root / name;
    std::ofstream(path, std::ios::binary) << content;
    return path.string();
}

std::string HexRecord(uint16_t address, std::initializer_list<uint8_t> data, uint8_t type) {
    std::vector<uint8_t> bytes = {uint8_t(data.size()), uint8_t(address >> 8), uint8_t(address),
                                  type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    uint8_t sum = 0;
    std::string line = ":";
    char hex[3];
    for (uint8_t b : bytes) {
        sum = uint8_t(sum + b);
        std::snprintf(hex, sizeof hex, "%02X", b);
        line += hex;
    }
    std::snprintf(hex, sizeof hex, "%02X", uint8_t(-sum));
    return line + hex + "\n";
}

std::string HexFile(uint16_t address, std::initializer_list<uint8_t> data) {
    return HexRecord(address, data) + ":00000001FF\n";
}
