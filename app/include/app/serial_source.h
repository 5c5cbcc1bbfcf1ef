#pragma once
// Where the serial numbers of a plug session come from. One station keeps its next number in
// its settings file; the stations of a line share a pool (linedb/). Either source takes the
// numbers for good before anything is erased, so that no later session anywhere hands any of
// them out again, whatever becomes of this one.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "app/writer_settings.h"

// One board that is to get a number.
struct SerialBoard {
    int target = 0;
    std::string devicePath;
};

struct SerialRequest {
    // The first number as this station knows it, and whether the operator chose it (a fresh
    // start, not asked about as wrapped) and may go below the stored number (rewind).
    std::array<uint8_t, kByteFieldSize> first{};
    bool chosen = false;
    bool rewind = false;
    std::vector<SerialBoard> boards;
    std::string run;    // the Write that takes them
    std::string cycle;  // the cycle that Write belongs to
};

struct SerialGrant {
    enum class Outcome { Taken, Overflow, Failed };
    Outcome outcome = Outcome::Failed;
    // Taken: the boards get first, first + increment, ... in their order; next follows the last.
    std::array<uint8_t, kByteFieldSize> first{};
    std::array<uint8_t, kByteFieldSize> next{};
    bool nextWrapped = false;
    std::array<uint8_t, kByteFieldSize> increment{};
    uint16_t incrementLength = 0;
    // Failed: the message to show; "%1" in it stands for detail.
    uint32_t messageId = 0;
    std::string detail;
};

class SerialSource {
  public:
    virtual ~SerialSource() = default;
    // One number per board of request; settings gives their length (and, for the settings
    // file, the increment).
    virtual SerialGrant Take(const WriterSettings& settings, const SerialRequest& request) = 0;
};

// The numbers count boards get from first on, one increment apart. next receives the number
// after the last board and nextWrapped whether it wrapped around. False when a board's own
// number would have wrapped: it would repeat one handed out before.
bool PlanSerialNumbers(const std::array<uint8_t, kByteFieldSize>& first, size_t count,
                       uint16_t length, const std::array<uint8_t, kByteFieldSize>& increment,
                       uint16_t incrementLength, std::array<uint8_t, kByteFieldSize>& next,
                       bool& nextWrapped);

// The settings file: the source of a station on its own.
class SettingsSerialSource : public SerialSource {
  public:
    explicit SettingsSerialSource(SettingsFile& file) : file_(file) {}
    SerialGrant Take(const WriterSettings& settings, const SerialRequest& request) override;

  private:
    SettingsFile& file_;
};
