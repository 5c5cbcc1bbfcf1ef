#pragma once
// The line database client: a line's serial pool and production record in PostgreSQL, behind
// the controller's serial source and record sink. One per program; it keeps one connection
// while the line answers and connects anew when it stops answering.
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/line_services.h"

namespace linedb {

class PgLink;

// Where the rows for the line wait: beside the record file.
std::string OutboxPathFor(const std::string& recordPath);

class LineClient : public LineServices {
  public:
    LineClient();
    ~LineClient() override;
    LineClient(const LineClient&) = delete;
    LineClient& operator=(const LineClient&) = delete;

    LineProblem Open(const LineSettings& line, const std::string& recordPath) override;
    SerialSource& Pool() override { return pool_; }
    RecordSink& Record() override { return record_; }

  private:
    class PoolSource : public SerialSource {
      public:
        explicit PoolSource(LineClient& client) : client_(client) {}
        SerialGrant Take(const WriterSettings& settings, const SerialRequest& request) override;

      private:
        LineClient& client_;
    };
    class RecordDelivery : public RecordSink {
      public:
        explicit RecordDelivery(LineClient& client) : client_(client) {}
        LineProblem Deliver(const LineSettings& line, const std::string& recordPath,
                            const std::vector<LineRecordRow>& rows) override;

      private:
        LineClient& client_;
    };

    // The rows waiting in the outbox go to the line's record in one transaction, in order;
    // the outbox is emptied once the server has them. The caller holds the outbox's lock.
    // recordHeld_ follows the result.
    LineProblem SendOutbox(const LineSettings& line);
    LineProblem SendRows(const LineSettings& line);
    // Takes the outbox's lock and sends it.
    LineProblem SendOutboxLocked(const LineSettings& line);

    std::unique_ptr<PgLink> link_;
    std::string outbox_;  // of the record file named last
    // Record rows do not try a server that could not be reached again until a Plug or a
    // Write's serial numbers reach it.
    bool recordHeld_ = false;
    PoolSource pool_{*this};
    RecordDelivery record_{*this};
};

// "quorvel-cli line init": the tables created or brought up to date, and the station's pool
// created when missing, from start. An existing pool keeps its number unless move is given:
// then it goes there, only forwards unless rewind, and its overflow mark is cleared.
struct PoolState {
    std::string name;
    std::string next;
    std::string increment;
    int length = 0;
    bool overflowed = false;
    long long taken = 0;  // numbers handed out
};
struct InitRequest {
    LineSettings line;
    uint16_t length = 4;
    std::array<uint8_t, 256> start{};
    std::array<uint8_t, 256> increment{};
    uint16_t incrementLength = 4;
    std::optional<std::array<uint8_t, 256>> move;
    bool rewind = false;
};
struct InitReport {
    std::string server;
    int fromVersion = 0;
    int toVersion = 0;
    bool poolCreated = false;
    bool poolMoved = false;
    PoolState pool;
};
LineProblem InitLine(const InitRequest& request, InitReport& report);

// "quorvel-cli line status": the pools, and the yield per station and target of the boards
// the record counts (Program cycles, Writes started on their own; stopped boards aside).
struct YieldRow {
    std::string station;
    int target = 0;
    long long passed = 0;
    long long failed = 0;
};
struct LineStatus {
    std::string server;
    int schemaVersion = 0;
    std::vector<PoolState> pools;
    std::vector<YieldRow> yield;
};
LineProblem ReadLineStatus(const LineSettings& line, LineStatus& status);

// The rows waiting in the outbox of recordPath; false when it cannot be read.
bool CountOutbox(const std::string& recordPath, size_t& rows, size_t& unreadable);

}  // namespace linedb
