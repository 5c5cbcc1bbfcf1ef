// "quorvel-cli line init" and "line status": the tables and pools, the outbox, the yield.
#include "brindlex/flash_status.h"
#include "linedb/line_client.h"
#include "outbox.h"
#include "pg_link.h"
#include "platform/file_lock.h"
#include "programdata/string_table.h"
#include "schema.h"

namespace linedb {

namespace {

constexpr const char* kPools =
    "SELECT p.name, p.next_number, p.increment, p.length, p.overflowed, "
    "(SELECT count(*) FROM quorvel_serial_number n WHERE n.pool = p.name) "
    "FROM quorvel_serial_pool p";
// A board counts once per cycle (a Program cycle, or a Write on its own with the Verify it
// holds): passed when every row of its cycle is 0, failed when one holds a failure. A board a
// stop left half done (and no failure before) is neither good nor bad.
constexpr const char* kYield =
    "WITH boards AS (SELECT r.station, r.cycle, r.target, "
    "bool_or(r.status NOT IN (0, $1)) AS failed, bool_or(r.status = $1) AS stopped "
    "FROM quorvel_record r WHERE EXISTS (SELECT 1 FROM quorvel_record c WHERE c.run = r.cycle "
    "AND c.cycle = r.cycle AND c.station = r.station AND c.operation IN ('Program', 'Write')) "
    "GROUP BY r.station, r.cycle, r.target) "
    "SELECT station, target, count(*) FILTER (WHERE NOT failed AND NOT stopped), "
    "count(*) FILTER (WHERE failed) FROM boards GROUP BY station, target "
    "ORDER BY station, target";

std::vector<PoolState> Pools(const PgResult& result) {
    std::vector<PoolState> pools;
    for (int row = 0; row < result.Rows(); ++row)
        pools.push_back({result.Text(row, 0), result.Text(row, 1), result.Text(row, 2),
                         int(result.Number(row, 3)), result.Flag(row, 4), result.Number(row, 5)});
    return pools;
}

}  // namespace

LineProblem InitLine(const InitRequest& request, InitReport& report) {
    report = {};
    PgLink link;
    const LineSettings& line = request.line;
    if (LineProblem problem = UpgradeSchema(link, line, report.fromVersion, report.toVersion))
        return problem;
    report.server = link.Describe();
    const uint16_t length = request.length;
    // The increment as the settings file adds it, lined up at its last byte, in the pool's
    // length.
    std::array<uint8_t, kByteFieldSize> increment{};
    uint32_t parsed = length;
    if (!ParseHexBytes(FormatHexBytes(request.increment, request.incrementLength), increment,
                       parsed) ||
        parsed > length)
        return {IDS_LINE_POOL_MISMATCH, "the increment does not fit SERIALNUMLEN bytes"};

    PgResult found;
    LineProblem problem = link.Exec("BEGIN");
    if (!problem)
        problem = link.Exec(std::string(kPools) + " WHERE p.name = $1 FOR UPDATE OF p", {line.pool},
                            &found);
    if (!problem && found.Rows() == 0) {
        problem = link.Exec(
            "INSERT INTO quorvel_serial_pool (name, next_number, increment, length) VALUES ($1, "
            "$2, $3, $4)",
            {line.pool, FormatHexBytes(request.move.value_or(request.start), length),
             FormatHexBytes(increment, length), std::to_string(length)});
        report.poolCreated = true;
    } else if (!problem && request.move) {
        const PoolState pool = Pools(found).front();
        std::array<uint8_t, kByteFieldSize> next{};
        parsed = uint32_t(pool.length);
        const bool readable = ParseHexBytes(pool.next, next, parsed);
        const std::string moved = FormatHexBytes(*request.move, size_t(pool.length));
        // After a wrap every number may be on a board already.
        if (!request.rewind && pool.overflowed)
            problem = {IDS_LINE_POOL_NOT_MOVED,
                       "the pool \"" + pool.name +
                           "\" has wrapped around: any number may be on a board (--serial-rewind "
                           "allows it)"};
        else if (readable && !request.rewind &&
                 CompareSerialNumbers(*request.move, next, size_t(pool.length)) < 0)
            problem = {
                IDS_LINE_POOL_NOT_MOVED,
                moved + " is below the pool's next number " + pool.next +
                    ": numbers up to it may be on boards already (--serial-rewind allows it)"};
        else
            problem = link.Exec(
                "UPDATE quorvel_serial_pool SET next_number = $2, overflowed = false, "
                "updated_at = now() WHERE name = $1",
                {line.pool, moved});
        report.poolMoved = !problem;
    }
    PgResult state;
    if (!problem)
        problem = link.Exec(std::string(kPools) + " WHERE p.name = $1", {line.pool}, &state);
    if (!problem)
        problem = link.Exec("COMMIT");
    if (problem) {
        link.Rollback();
        return problem;
    }
    if (state.Rows() > 0)
        report.pool = Pools(state).front();
    return {};
}

LineProblem ReadLineStatus(const LineSettings& line, LineStatus& status) {
    status = {};
    PgLink link;
    if (LineProblem problem = link.Connect(line, true))
        return problem;
    status.server = link.Describe();
    status.schemaVersion = link.SchemaVersion();
    PgResult pools, yield;
    if (LineProblem problem = link.Exec(std::string(kPools) + " ORDER BY p.name", {}, &pools))
        return problem;
    if (LineProblem problem = link.Exec(kYield, {std::to_string(FLASH_STOPPED)}, &yield))
        return problem;
    status.pools = Pools(pools);
    for (int row = 0; row < yield.Rows(); ++row)
        status.yield.push_back({yield.Text(row, 0), int(yield.Number(row, 1)), yield.Number(row, 2),
                                yield.Number(row, 3)});
    return {};
}

bool CountOutbox(const std::string& recordPath, size_t& rows, size_t& unreadable) {
    const std::string path = OutboxPathFor(recordPath);
    plat::FileLock lock;
    OutboxContent content;
    if (!lock.Acquire(path, kOutboxLockWaitMs) || !ReadOutbox(path, content))
        return false;
    rows = content.rows.size();
    unreadable = content.unreadable.size();
    return true;
}

}  // namespace linedb
