#include "support/test_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace pdtest {

std::vector<int> RecordingReporter::ids() const {
    std::vector<int> out;
    for (const Reported& r : messages)
        out.push_back(r.id);
    return out;
}

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pdtest-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::string& content) const {
    std::string full = path_ + "/" + name;
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << content;
    return full;
}

std::string TempDir::Write(const std::string& name, const std::vector<uint8_t>& content) const {
    return Write(name, std::string(content.begin(), content.end()));
}

std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

CTargetInfo MakeTarget(const std::vector<TargetArea>& areas, uint8_t blockCode, uint8_t blockCount,
                       uint8_t code10, uint8_t code13) {
    CTargetInfo t;
    std::snprintf(t.name, sizeof t.name, "TEST");
    t.targetId00 = 1u << 30;
    t.targetId32 = uint32_t(blockCode & 0xF) << 16 | uint32_t(blockCount & 0x0F) << 8;
    t.targetId64 =
        uint32_t(blockCount & 0xF0) | uint32_t(code10 & 7) << 10 | uint32_t(code13 & 7) << 13;
    t.areaCount = uint32_t(areas.size());
    for (size_t i = 0; i < areas.size() && i < 256; ++i)
        t.areas[i] = areas[i];
    return t;
}

namespace {

void AppendByte(std::string& s, uint8_t b) {
    char buf[3];
    std::snprintf(buf, sizeof buf, "%02X", b);
    s += buf;
}

}  // namespace

std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
    std::string s = ":";
    std::vector<uint8_t> bytes = {uint8_t(data.size()), uint8_t(address >> 8), uint8_t(address),
                                  type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : bytes) {
        AppendByte(s, b);
        sum = uint8_t(sum + b);
    }
    AppendByte(s, uint8_t(0x100 - sum));
    return s + "\n";
}

std::string SRecord(int type, uint32_t address, const std::vector<uint8_t>& data) {
    int addressBytes = type == 2 || type == 8 ? 3 : type == 3 || type == 7 ? 4 : 2;
    std::vector<uint8_t> bytes = {uint8_t(addressBytes + data.size() + 1)};
    for (int i = addressBytes - 1; i >= 0; --i)
        bytes.push_back(uint8_t(address >> (8 * i)));
    bytes.insert(bytes.end(), data.begin(), data.end());
    std::string s = "S" + std::to_string(type);
    uint8_t sum = 0;
    for (uint8_t b : bytes) {
        AppendByte(s, b);
        sum = uint8_t(sum + b);
    }
    AppendByte(s, uint8_t(0xFF - sum));
    return s + "\n";
}

}  // namespace pdtest
