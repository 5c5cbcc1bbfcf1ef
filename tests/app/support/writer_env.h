#pragma once
// A writer "installation" for controller tests: a temporary directory whose bin/ holds the
// executable's path, its TRG files and its settings file, plus small builders for TRG and
// program files.
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "support/app_fixtures.h"

struct TrgContent {
    std::string name;
    uint32_t id00 = 0x1C083032;  // bit 30 clear
    uint32_t id32 = 0x60010000;  // G = 1 (block size 2048), no block count
    uint32_t id64 = 0;
    std::vector<std::pair<uint32_t, uint32_t>> areas = {{0, 0x7FFF}};
};

class WriterEnv {
  public:
    // Creates the directory for the running test and points the executable path into it.
    WriterEnv();
    ~WriterEnv();
    WriterEnv(const WriterEnv&) = delete;
    WriterEnv& operator=(const WriterEnv&) = delete;

    void WriteTrg(const TrgContent& content) const;
    void WriteIni(const std::string& content) const;
    std::string IniPath() const;
    std::string IniContent() const;
    // A key of section "Settings", or "<missing>".
    std::string Key(const char* key) const;
    // Writes a file under the directory and answers its full path.
    std::string WriteFile(const std::string& name, const std::string& content) const;

    std::filesystem::path root, bin;
    FreeLock lock;
};

// One Intel HEX record of type 00 (or another type) with its checksum, ending in "\n".
std::string HexRecord(uint16_t address, std::initializer_list<uint8_t> data, uint8_t type = 0);
// A HEX file: one data record and the end record.
std::string HexFile(uint16_t address, std::initializer_list<uint8_t> data);
