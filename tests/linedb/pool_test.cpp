// The line's serial pool on a real server: created by line init, numbers taken in one
// transaction and never twice, its end asked about as with the settings file, and a setting
// that does not fit refused with its own message. (Racing stations, unreachable servers and
// secrets in messages: tests/e2e/line_stations_test.py.)
#include <gtest/gtest.h>

#include "linedb/line_client.h"
#include "programdata/string_table.h"
#include "support/pg_server.h"

namespace {

std::array<uint8_t, kByteFieldSize> Number(const std::string& hex, uint16_t length = 4) {
    std::array<uint8_t, kByteFieldSize> bytes{};
    uint32_t parsed = length;
    EXPECT_TRUE(ParseHexBytes(hex, bytes, parsed)) << hex;
    return bytes;
}

linedb::InitRequest Init(const LineSettings& line, const std::string& start) {
    linedb::InitRequest request;
    request.line = line;
    request.start = Number(start);
    request.increment = Number("00000001");
    return request;
}

WriterSettings Station(const LineSettings& line) {
    WriterSettings settings;
    settings.serialOn = 1;
    settings.line = line;
    return settings;
}

SerialRequest Boards(int count, const std::string& run = "run-a") {
    SerialRequest request;
    for (int n = 1; n <= count; ++n)
        request.boards.push_back({n, "/dev/vexil-0" + std::to_string(n)});
    request.run = request.cycle = run;
    return request;
}

std::string Hex(const std::array<uint8_t, kByteFieldSize>& bytes) {
    return FormatHexBytes(bytes, 4);
}

// The tables: missing until line init makes them, which can run again and again; a pool from
// the settings file's number; numbers one transaction each, recorded with their boards; and
// the same rule as the settings file for a pool that reaches its end.
TEST(LinePoolTest, NumbersComeFromThePoolOnceAndItsEndAsksLikeTheSettingsFile) {
    REQUIRE_PG_SERVER();
    const std::string db = PgServer::Get().NewDatabase();
    linedb::LineClient client;
    const LineSettings line = Line(db);
    EXPECT_EQ(client.Open(line, "").messageId, uint32_t(IDS_LINE_NO_SCHEMA));

    linedb::InitReport report;
    ASSERT_FALSE(linedb::InitLine(Init(line, "00000010"), report)) << "first init";
    EXPECT_EQ(report.fromVersion, 0);
    EXPECT_TRUE(report.poolCreated);
    ASSERT_FALSE(linedb::InitLine(Init(line, "00000099"), report)) << "again";
    EXPECT_EQ(report.fromVersion, report.toVersion);
    EXPECT_FALSE(report.poolCreated);
    EXPECT_EQ(report.pool.next, "00000010") << "an existing pool keeps its number";

    WriterSettings settings = Station(line);
    ASSERT_FALSE(client.Open(line, ""));
    SerialGrant grant = client.Pool().Take(settings, Boards(3));
    ASSERT_EQ(grant.outcome, SerialGrant::Outcome::Taken) << grant.detail;
    EXPECT_EQ(Hex(grant.first), "00000010");
    EXPECT_EQ(Hex(grant.next), "00000013");
    EXPECT_EQ(Sql(db,
                  "SELECT number, station, target, device_path, run FROM "
                  "quorvel_serial_number ORDER BY number"),
              (SqlRows{{"00000010", "st1", "1", "/dev/vexil-01", "run-a"},
                       {"00000011", "st1", "2", "/dev/vexil-02", "run-a"},
                       {"00000012", "st1", "3", "/dev/vexil-03", "run-a"}}));
    EXPECT_EQ(Hex(client.Pool().Take(settings, Boards(2, "run-b")).first), "00000013");

    // The settings must fit the pool, and the pool must be there.
    settings.serialLength = 2;
    grant = client.Pool().Take(settings, Boards(1));
    EXPECT_EQ(grant.messageId, uint32_t(IDS_LINE_POOL_MISMATCH)) << grant.detail;
    settings = Station(Line(db, "st1", "nowhere"));
    EXPECT_EQ(client.Pool().Take(settings, Boards(1)).messageId, uint32_t(IDS_LINE_NO_POOL));

    // Near the end: a board that would get a wrapped number takes nothing; the last number
    // itself is taken and the wrap remembered, so the next Write asks.
    settings = Station(line);
    linedb::InitRequest move = Init(line, "00000000");
    move.move = Number("FFFFFFFE");
    ASSERT_FALSE(linedb::InitLine(move, report));
    EXPECT_EQ(client.Pool().Take(settings, Boards(3)).outcome, SerialGrant::Outcome::Overflow);
    EXPECT_EQ(SqlValue(db, "SELECT next_number FROM quorvel_serial_pool"), "FFFFFFFE");
    grant = client.Pool().Take(settings, Boards(2));
    ASSERT_EQ(grant.outcome, SerialGrant::Outcome::Taken);
    EXPECT_TRUE(grant.nextWrapped);
    EXPECT_EQ(client.Pool().Take(settings, Boards(1)).outcome, SerialGrant::Outcome::Overflow);
    // Not moved on from a wrap unless asked; then the mark is gone and numbers flow again.
    move.move = Number("00000100");
    LineProblem refused = linedb::InitLine(move, report);
    EXPECT_EQ(refused.messageId, uint32_t(IDS_LINE_POOL_NOT_MOVED));
    EXPECT_NE(refused.detail.find("\"QX16A064\" has wrapped around"), std::string::npos)
        << refused.detail;
    move.rewind = true;
    ASSERT_FALSE(linedb::InitLine(move, report));
    EXPECT_FALSE(report.pool.overflowed);
    EXPECT_EQ(Hex(client.Pool().Take(settings, Boards(1)).first), "00000100");
    move.move = Number("00000050");
    move.rewind = false;
    refused = linedb::InitLine(move, report);
    EXPECT_EQ(refused.messageId, uint32_t(IDS_LINE_POOL_NOT_MOVED));
    EXPECT_NE(refused.detail.find("below the pool's next number"), std::string::npos)
        << refused.detail;
    move.rewind = true;
    // A pool set back onto numbers handed out refuses them: the table remembers every one.
    move.move = Number("00000011");
    ASSERT_FALSE(linedb::InitLine(move, report));
    grant = client.Pool().Take(settings, Boards(1));
    EXPECT_EQ(grant.messageId, uint32_t(IDS_LINE_REFUSED)) << grant.detail;
}

}  // namespace
