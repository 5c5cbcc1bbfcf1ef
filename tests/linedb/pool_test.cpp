// The line's serial pool on a real server: created by line init, numbers taken in one
// transaction and never twice, overflow asked about as with the settings file, and every setting
// that cannot work refused with its own message and no secret in it.
#include <gtest/gtest.h>

#include <set>
#include <thread>

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
    EXPECT_EQ(linedb::InitLine(move, report).messageId, uint32_t(IDS_LINE_REFUSED));
    move.rewind = true;
    ASSERT_FALSE(linedb::InitLine(move, report));
    EXPECT_FALSE(report.pool.overflowed);
    EXPECT_EQ(Hex(client.Pool().Take(settings, Boards(1)).first), "00000100");
    move.move = Number("00000050");
    move.rewind = false;
    EXPECT_EQ(linedb::InitLine(move, report).messageId, uint32_t(IDS_LINE_REFUSED))
        << "below the next number";
    move.rewind = true;
    // A pool set back onto numbers handed out refuses them: the table remembers every one.
    move.move = Number("00000011");
    ASSERT_FALSE(linedb::InitLine(move, report));
    grant = client.Pool().Take(settings, Boards(1));
    EXPECT_EQ(grant.messageId, uint32_t(IDS_LINE_REFUSED)) << grant.detail;
}

// Four stations, each with its client, take numbers at once: every number once, none skipped.
TEST(LinePoolTest, StationsRacingForThePoolNeverShareANumber) {
    REQUIRE_PG_SERVER();
    const std::string db = PgServer::Get().NewDatabase();
    linedb::InitReport report;
    ASSERT_FALSE(linedb::InitLine(Init(Line(db), "00000001"), report));
    constexpr int kStations = 4, kWrites = 25, kBoards = 8;
    std::vector<std::vector<std::string>> taken(kStations);
    std::vector<std::thread> stations;
    for (int s = 0; s < kStations; ++s) {
        stations.emplace_back([&, s] {
            linedb::LineClient client;
            const WriterSettings settings = Station(Line(db, "st" + std::to_string(s)));
            for (int w = 0; w < kWrites; ++w) {
                const SerialGrant grant = client.Pool().Take(settings, Boards(kBoards));
                if (grant.outcome != SerialGrant::Outcome::Taken) {
                    taken[size_t(s)].push_back("refused: " + grant.detail);
                    continue;
                }
                std::array<uint8_t, kByteFieldSize> n = grant.first;
                for (int b = 0; b < kBoards; ++b) {
                    taken[size_t(s)].push_back(Hex(n));
                    AddSerialIncrement(n, 4, grant.increment, 4);
                }
            }
        });
    }
    for (std::thread& t : stations)
        t.join();
    std::set<std::string> all;
    for (const auto& numbers : taken)
        for (const std::string& n : numbers)
            EXPECT_TRUE(all.insert(n).second) << n << " twice";
    ASSERT_EQ(all.size(), size_t(kStations * kWrites * kBoards));
    EXPECT_EQ(*all.begin(), "00000001");
    EXPECT_EQ(*all.rbegin(), "00000320") << "no gap";
    EXPECT_EQ(SqlValue(db, "SELECT count(*) FROM quorvel_serial_number"), "800");
}

// What cannot work says so, each in its own words, and no password is ever in them; a server
// that went away and came back is connected to again without the program being restarted.
TEST(LineConnectionTest, SettingsThatCannotWorkAreToldApartAndARestartedServerIsFoundAgain) {
    REQUIRE_PG_SERVER();
    linedb::LineClient client;
    const WriterSettings settings = Station(Line("host=/tmp dbname password Sekrit1"));
    SerialGrant grant = client.Pool().Take(settings, Boards(1));
    EXPECT_EQ(grant.messageId, uint32_t(IDS_LINE_BAD_SETTING));
    EXPECT_EQ(grant.detail.find("Sekrit1"), std::string::npos) << grant.detail;
    const LineSettings nowhere = Line("host=/nonexistent/quorvel port=5999 password=Sekrit2");
    const LineProblem problem = client.Open(nowhere, "");
    EXPECT_EQ(problem.messageId, uint32_t(IDS_LINE_UNREACHABLE));
    EXPECT_NE(problem.detail.find("/nonexistent/quorvel"), std::string::npos) << problem.detail;
    EXPECT_EQ(problem.detail.find("Sekrit2"), std::string::npos) << problem.detail;

    const std::string db = PgServer::Get().NewDatabase();
    linedb::InitReport report;
    ASSERT_FALSE(linedb::InitLine(Init(Line(db), "00000001"), report));
    const WriterSettings station = Station(Line(db));
    ASSERT_EQ(client.Pool().Take(station, Boards(2)).outcome, SerialGrant::Outcome::Taken);
    ASSERT_TRUE(PgServer::Get().Stop());
    grant = client.Pool().Take(station, Boards(2));
    EXPECT_EQ(grant.messageId, uint32_t(IDS_LINE_UNREACHABLE)) << grant.detail;
    ASSERT_TRUE(PgServer::Get().Restart());
    grant = client.Pool().Take(station, Boards(2));
    ASSERT_EQ(grant.outcome, SerialGrant::Outcome::Taken) << grant.detail;
    EXPECT_EQ(Hex(grant.first), "00000003") << "the refused Write took nothing";
}

}  // namespace
