#include "linedb/line_client.h"

#include "outbox.h"
#include "pg_link.h"
#include "platform/append_file.h"
#include "platform/file_lock.h"
#include "programdata/string_table.h"
#include "text_utf8.h"

namespace linedb {

namespace {

constexpr const char* kTakePool =
    "SELECT next_number, increment, length, overflowed FROM quorvel_serial_pool "
    "WHERE name = $1 FOR UPDATE";
constexpr const char* kMovePool =
    "UPDATE quorvel_serial_pool SET next_number = $2, overflowed = $3, updated_at = now() "
    "WHERE name = $1";
constexpr const char* kInsertRecord =
    "INSERT INTO quorvel_record (run, operation, target, cycle, station, pool, recorded_at, "
    "host, device_path, target_name, chip_name, serial_number, checksum, status, message, "
    "duration_ms) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $14, $15, $16) "
    "ON CONFLICT (run, operation, target) DO NOTHING RETURNING 1";
// The board a number went to: what its cycle's last row says of it.
constexpr const char* kNumberOutcome =
    "UPDATE quorvel_serial_number SET outcome = $4 WHERE cycle = $1 AND station = $2 AND "
    "target = $3";

// One INSERT for every number of a Write: the pool, station, run and cycle once, then each
// board's number, target and device path.
std::string InsertNumbers(size_t boards) {
    std::string sql =
        "INSERT INTO quorvel_serial_number (pool, station, run, cycle, number, target, "
        "device_path) VALUES ";
    for (size_t i = 0; i < boards; ++i) {
        const size_t p = 5 + 3 * i;
        sql += (i > 0 ? ", " : "") + std::string("($1, $2, $3, $4, $") + std::to_string(p) + ", $" +
               std::to_string(p + 1) + ", $" + std::to_string(p + 2) + ")";
    }
    return sql;
}

// A pool's number as its length's bytes; false when the text is no such number.
bool PoolNumber(const std::string& text, uint16_t length,
                std::array<uint8_t, kByteFieldSize>& bytes) {
    bytes.fill(0);
    uint32_t parsed = length;
    return ParseHexBytes(text, bytes, parsed) && parsed <= length;
}

}  // namespace

std::string OutboxPathFor(const std::string& recordPath) {
    return recordPath + ".outbox";
}

LineClient::LineClient() : link_(std::make_unique<PgLink>()) {}

LineClient::~LineClient() = default;

LineProblem LineClient::Open(const LineSettings& line, const std::string& recordPath) {
    outbox_ = recordPath.empty() ? std::string() : OutboxPathFor(recordPath);
    recordHeld_ = false;
    LineProblem problem = link_->Connect(line, true);
    // Rows that waited since the line was last reached go first.
    if (!problem)
        problem = SendOutboxLocked(line);
    else
        recordHeld_ = problem.messageId == IDS_LINE_UNREACHABLE;
    return problem;
}

LineProblem LineClient::SendOutboxLocked(const LineSettings& line) {
    if (outbox_.empty())
        return {};
    plat::FileLock lock;
    if (!lock.Acquire(outbox_, kOutboxLockWaitMs))
        return {IDS_LINE_OUTBOX_FAILED, outbox_};
    return SendOutbox(line);
}

LineProblem LineClient::SendOutbox(const LineSettings& line) {
    const LineProblem problem = SendRows(line);
    // A server out of reach is not tried again for every operation (each try waits for the
    // connect time-out); one that refused is, so that the refusal is seen.
    recordHeld_ = problem.messageId == IDS_LINE_UNREACHABLE;
    return problem;
}

LineProblem LineClient::SendRows(const LineSettings& line) {
    OutboxContent content;
    if (!ReadOutbox(outbox_, content))
        return {IDS_LINE_OUTBOX_FAILED, outbox_};
    if (content.rows.empty() && content.unreadable.empty())
        return {};
    PgLink& link = *link_;
    // Each row behind a savepoint: a row the server refuses for its data is set aside with the
    // lines of another form, and the rows after it still go.
    std::vector<std::string> aside = std::move(content.unreadable);
    std::string refusal;
    LineProblem problem = link.Begin(line);
    for (size_t i = 0; i < content.rows.size() && !problem; ++i) {
        const OutboxRow& r = content.rows[i];
        const programdata::RecordRow& row = r.record.row;
        problem = link.Exec(i == 0 ? "SAVEPOINT row" : "RELEASE SAVEPOINT row; SAVEPOINT row");
        PgResult inserted;
        if (!problem)
            problem = link.Exec(
                kInsertRecord,
                {r.record.run, row.operation, std::to_string(row.target), r.record.cycle, r.station,
                 r.pool, row.time.empty() ? std::nullopt : std::optional<std::string>(row.time),
                 ValidUtf8(row.host), ValidUtf8(row.devicePath), ValidUtf8(row.targetName),
                 ValidUtf8(row.chipName), ValidUtf8(row.serialNumber), ValidUtf8(row.checksum),
                 std::to_string(row.status), ValidUtf8(row.message),
                 std::to_string(row.durationMs)},
                &inserted);
        // A row sent before is not news: the board's outcome stays as later rows left it.
        if (!problem && inserted.Rows() > 0 && !row.serialNumber.empty())
            problem =
                link.Exec(kNumberOutcome, {r.record.cycle, r.station, std::to_string(row.target),
                                           std::to_string(row.status)});
        if (problem && link.DataRefused() && !link.Exec("ROLLBACK TO SAVEPOINT row")) {
            if (refusal.empty())
                refusal = problem.detail;
            aside.push_back(EncodeOutboxRow(r));
            aside.back().pop_back();  // its line break
            problem = {};
        }
    }
    if (!problem)
        problem = link.Exec("COMMIT");
    if (problem) {
        link.Rollback();
        if (problem.messageId != IDS_LINE_UNREACHABLE) {
            problem.messageId = IDS_LINE_RECORD_REFUSED;
            problem.detail += "; the rows wait in the outbox";
        }
        return problem;
    }
    // What cannot be sent stays beside the outbox for a person to read.
    const std::string asidePath = outbox_ + ".unreadable";
    if (!aside.empty()) {
        std::string text;
        for (const std::string& l : aside)
            text += l + "\n";
        plat::AppendFile kept;
        if (!kept.Open(asidePath) || !kept.Append(text) || !kept.Flush())
            return {IDS_LINE_OUTBOX_FAILED, asidePath};
    }
    // Rows the server has: sent again after a failure here, they make no second row.
    if (!ClearOutbox(outbox_))
        return {IDS_LINE_OUTBOX_FAILED, outbox_};
    if (!refusal.empty())
        return {IDS_LINE_RECORD_REFUSED,
                refusal + "; the rows it refused are kept in " + asidePath};
    return {};
}

SerialGrant LineClient::PoolSource::Take(const WriterSettings& settings,
                                         const SerialRequest& request) {
    const LineSettings& line = settings.line;
    PgLink& link = *client_.link_;
    SerialGrant grant;
    auto refused = [&](LineProblem problem) {
        link.Rollback();
        grant.outcome = SerialGrant::Outcome::Failed;
        grant.messageId = problem.messageId;
        grant.detail = problem.detail;
        return grant;
    };
    bool fresh = false;
    PgResult pool;
    if (LineProblem problem = link.Begin(line, &fresh))
        return refused(problem);
    if (LineProblem problem = link.Exec(kTakePool, {line.pool}, &pool))
        return refused(problem);
    if (pool.Rows() == 0)
        return refused({IDS_LINE_NO_POOL, "\"" + line.pool + "\""});
    const long long length = pool.Number(0, 2);
    if (length != settings.serialLength)
        return refused(
            {IDS_LINE_POOL_MISMATCH, "the pool \"" + line.pool + "\" hands out numbers of " +
                                         std::to_string(length) + " bytes, SERIALNUMLEN is " +
                                         std::to_string(settings.serialLength)});
    if (!PoolNumber(pool.Text(0, 0), settings.serialLength, grant.first) ||
        !PoolNumber(pool.Text(0, 1), settings.serialLength, grant.increment))
        return refused(
            {IDS_LINE_REFUSED, "the pool \"" + line.pool + "\" holds no number of its length"});
    grant.incrementLength = settings.serialLength;
    // As locally: a wrapped number, or a board that would get one, asks before anything moves.
    if (pool.Flag(0, 3) ||
        !PlanSerialNumbers(grant.first, request.boards.size(), settings.serialLength,
                           grant.increment, grant.incrementLength, grant.next, grant.nextWrapped)) {
        link.Rollback();
        grant.outcome = SerialGrant::Outcome::Overflow;
        return grant;
    }
    PgParams numbers = {line.pool, line.station, request.run, request.cycle};
    std::array<uint8_t, kByteFieldSize> number = grant.first;
    for (const SerialBoard& board : request.boards) {
        numbers.insert(numbers.end(), {FormatHexBytes(number, settings.serialLength),
                                       std::to_string(board.target), ValidUtf8(board.devicePath)});
        AddSerialIncrement(number, settings.serialLength, grant.increment, grant.incrementLength);
    }
    LineProblem problem;
    if (!request.boards.empty())
        problem = link.Exec(InsertNumbers(request.boards.size()), numbers);
    if (!problem)
        problem =
            link.Exec(kMovePool, {line.pool, FormatHexBytes(grant.next, settings.serialLength),
                                  grant.nextWrapped ? "true" : "false"});
    // A commit whose answer was lost may have taken the numbers: they are never handed out
    // again, and this Write refuses all the same.
    if (!problem)
        problem = link.Exec("COMMIT");
    if (problem)
        return refused(problem);
    grant.outcome = SerialGrant::Outcome::Taken;
    // Reached again after a break: the rows that waited meanwhile go now, and the next
    // operations' rows after them.
    if (fresh || client_.recordHeld_)
        client_.SendOutboxLocked(line);
    return grant;
}

LineProblem LineClient::RecordDelivery::Deliver(const LineSettings& line,
                                                const std::string& recordPath,
                                                const std::vector<LineRecordRow>& rows) {
    client_.outbox_ = OutboxPathFor(recordPath);
    std::vector<OutboxRow> batch;
    for (const LineRecordRow& row : rows)
        batch.push_back({row, line.station, row.row.serialNumber.empty() ? "" : line.pool});
    plat::FileLock lock;
    if (!lock.Acquire(client_.outbox_, kOutboxLockWaitMs) || !AppendOutbox(client_.outbox_, batch))
        return {IDS_LINE_OUTBOX_FAILED, client_.outbox_};
    if (client_.recordHeld_)
        return {};
    const LineProblem problem = client_.SendOutbox(line);
    // A server out of reach is what the outbox is for; a refusal must be seen.
    return problem.messageId == IDS_LINE_RECORD_REFUSED ? problem : LineProblem{};
}

}  // namespace linedb
