#include "schema.h"

#include <algorithm>
#include <iterator>

#include "programdata/string_table.h"

namespace linedb {

namespace {

// Step n brings the tables from version n - 1 to n; a step once released is never changed.
const char* const kSteps[] = {
    // 1: the serial pools, the numbers they handed out, the production record.
    R"(
CREATE TABLE quorvel_serial_pool (
    name text PRIMARY KEY,
    next_number text NOT NULL,
    increment text NOT NULL,
    length integer NOT NULL CHECK (length BETWEEN 1 AND 256),
    overflowed boolean NOT NULL DEFAULT false,
    created_at timestamptz NOT NULL DEFAULT now(),
    updated_at timestamptz NOT NULL DEFAULT now()
);
CREATE TABLE quorvel_serial_number (
    pool text NOT NULL REFERENCES quorvel_serial_pool (name),
    number text NOT NULL,
    station text NOT NULL,
    target integer NOT NULL,
    device_path text NOT NULL,
    run text NOT NULL,
    cycle text NOT NULL,
    taken_at timestamptz NOT NULL DEFAULT now(),
    outcome bigint,
    PRIMARY KEY (pool, number)
);
CREATE INDEX quorvel_serial_number_cycle ON quorvel_serial_number (cycle, station, target);
CREATE TABLE quorvel_record (
    run text NOT NULL,
    operation text NOT NULL,
    target integer NOT NULL,
    cycle text NOT NULL,
    station text NOT NULL,
    pool text NOT NULL,
    recorded_at timestamptz,
    host text NOT NULL,
    device_path text NOT NULL,
    target_name text NOT NULL,
    chip_name text NOT NULL,
    serial_number text NOT NULL,
    checksum text NOT NULL,
    status bigint NOT NULL,
    message text NOT NULL,
    duration_ms bigint NOT NULL,
    received_at timestamptz NOT NULL DEFAULT now(),
    PRIMARY KEY (run, operation, target)
);
CREATE INDEX quorvel_record_station ON quorvel_record (station, target);
)",
};
static_assert(std::size(kSteps) == kSchemaVersion, "one step per schema version");

// Two stations running line init at once: the second waits and then finds the tables made.
constexpr const char* kInitLock = "SELECT pg_advisory_xact_lock(7419230561)";

}  // namespace

LineProblem UpgradeSchema(PgLink& link, const LineSettings& line, int& from, int& to) {
    from = to = 0;
    if (LineProblem problem = link.Connect(line, false))
        return problem;
    LineProblem problem;
    PgResult version;
    if (!(problem = link.Exec("BEGIN")) && !(problem = link.Exec(kInitLock)) &&
        !(problem = link.Exec("CREATE TABLE IF NOT EXISTS quorvel_schema (version integer "
                              "NOT NULL)")) &&
        !(problem = link.Exec("SELECT version FROM quorvel_schema", {}, &version))) {
        from = version.Rows() > 0 ? int(version.Number(0, 0)) : 0;
        if (version.Rows() == 0)
            problem = link.Exec("INSERT INTO quorvel_schema (version) VALUES (0)");
        if (!problem && from > kSchemaVersion)
            problem = {IDS_LINE_REFUSED, "its tables are of version " + std::to_string(from) +
                                             ", newer than this program's " +
                                             std::to_string(kSchemaVersion) + ": update Quorvel"};
        for (int step = from + 1; !problem && step <= kSchemaVersion; ++step)
            problem = link.Exec(kSteps[step - 1]);
        if (!problem && from < kSchemaVersion)
            problem = link.Exec("UPDATE quorvel_schema SET version = $1",
                                {std::to_string(kSchemaVersion)});
        if (!problem)
            problem = link.Exec("COMMIT");
    }
    if (problem) {
        link.Rollback();
        return problem;
    }
    to = std::max(from, kSchemaVersion);
    return {};
}

}  // namespace linedb
