#pragma once
// Shared pieces of the programdata tests: a reporter that records, a temporary directory,
// target descriptions and record builders.
#include <cstdint>
#include <string>
#include <vector>

#include "brindlex/target_info.h"
#include "programdata/reporter.h"

namespace pdtest {

struct Reported {
    int id;
    std::string fileName;
    programdata::MessageIcon icon;
};

class RecordingReporter : public programdata::ProgramDataReporter {
  public:
    void Report(int messageId, const std::string& fileName,
                programdata::MessageIcon icon) override {
        messages.push_back({messageId, fileName, icon});
    }
    std::vector<int> ids() const;
    void Clear() { messages.clear(); }
    std::vector<Reported> messages;
};

// A fresh directory under the system's temporary directory, removed with its files.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    // Writes content to a file in the directory and returns its full path.
    std::string Write(const std::string& name, const std::string& content) const;
    std::string Write(const std::string& name, const std::vector<uint8_t>& content) const;

  private:
    std::string path_;
};

std::string ReadFileText(const std::string& path);

// A description with bit 30 of targetId00 set: block size 2048 shifted by blockCode (4-bit
// exponent), blockCount blocks, and the 3-bit size codes of the bits-10 and test area sizes
// (3 means none).
CTargetInfo MakeTarget(const std::vector<TargetArea>& areas, uint8_t blockCode = 0,
                       uint8_t blockCount = 0, uint8_t code10 = 3, uint8_t code13 = 3);

// Records with their checksums. HexRecord(type, address16, data), SRecord(type, address, data).
std::string HexRecord(uint8_t type, uint16_t address, const std::vector<uint8_t>& data);
std::string SRecord(int type, uint32_t address, const std::vector<uint8_t>& data);

}  // namespace pdtest
