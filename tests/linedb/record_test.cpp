// The line's production record on a real server: each row once whatever is sent again, rows
// kept in the outbox while the server is away and sent in order when it is back, a crash's
// torn line and unsendable bytes never holding back the rows after them.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "brindlex/flash_status.h"
#include "linedb/line_client.h"
#include "programdata/string_table.h"
#include "support/pg_server.h"
#include "support/sim_process.h"

namespace {

LineRecordRow Row(const std::string& operation, int target, uint32_t status, const std::string& run,
                  const std::string& cycle = "c1") {
    LineRecordRow r;
    r.row.time = "2026-12-08T09:15:02+01:00";
    r.row.host = "pc7";
    r.row.operation = operation;
    r.row.target = target;
    r.row.devicePath = "/dev/vexil-0" + std::to_string(target);
    r.row.targetName = "QX16A064";
    r.row.serialNumber = target == 1 ? "00000001" : "00000002";
    r.row.status = status;
    r.row.message = status == 0 ? "OK" : "Verify\tError";
    r.run = run;
    r.cycle = cycle;
    return r;
}

std::string FileText(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

// A new database holding the line's tables and a pool that counts from 1.
bool NewLine(std::string& db) {
    db = PgServer::Get().NewDatabase();
    linedb::InitRequest init;
    init.line = Line(db);
    init.start[3] = 1;
    init.increment[3] = 1;
    linedb::InitReport report;
    return !linedb::InitLine(init, report);
}

TEST(LineRecordTest, RowsReachTheRecordOnceAndWaitInOrderWhileTheServerIsAway) {
    REQUIRE_PG_SERVER();
    std::string db;
    ASSERT_TRUE(NewLine(db));
    const LineSettings line = Line(db);
    e2e::TempDir dir;
    const std::string record = dir / "record.csv";
    const std::string outbox = linedb::OutboxPathFor(record);
    linedb::LineClient client;
    ASSERT_FALSE(client.Open(line, record));
    WriterSettings station;
    station.line = line;
    SerialRequest boards;
    boards.boards = {{1, "/dev/vexil-01"}, {2, "/dev/vexil-02"}};
    boards.run = "w1";
    boards.cycle = "c1";
    ASSERT_EQ(client.Pool().Take(station, boards).outcome, SerialGrant::Outcome::Taken);

    const std::vector<LineRecordRow> written = {Row("Write", 1, 0, "w1"), Row("Write", 2, 0, "w1")};
    EXPECT_FALSE(client.Record().Deliver(line, record, written));
    EXPECT_FALSE(client.Record().Deliver(line, record, written)) << "sent again";
    EXPECT_EQ(SqlValue(db, "SELECT count(*) FROM quorvel_record"), "2") << "no second row";
    EXPECT_EQ(FileText(outbox), "");

    // Away: the rows wait, whole, in the order they came; a crash's torn line and a line of
    // another form are no rows.
    ASSERT_TRUE(PgServer::Get().Stop());
    EXPECT_FALSE(client.Record().Deliver(line, record,
                                         {Row("Verify", 1, 0, "v1"), Row("Verify", 2, 0, "v1")}));
    std::ofstream(outbox, std::ios::app) << "a line of another form\n";
    EXPECT_FALSE(client.Record().Deliver(
        line, record, {Row("Program", 1, 0, "c1"), Row("Program", 2, 0x2006, "c1")}));
    std::ofstream(outbox, std::ios::app) << "r1\tcut short by a cra";
    LineRecordRow erase = Row("Erase", 1, 0, "e1", "e1");
    erase.row.chipName = "QX\xFF\xFE";
    EXPECT_FALSE(client.Record().Deliver(line, record, {erase}));
    size_t waiting = 0, unreadable = 0;
    ASSERT_TRUE(linedb::CountOutbox(record, waiting, unreadable));
    EXPECT_EQ(waiting, 5u);
    EXPECT_EQ(unreadable, 1u);
    EXPECT_EQ(FileText(outbox).find("cut short"), std::string::npos);

    // Back: the next connection sends them, in order, so that the board's number carries what
    // its cycle's last row says.
    ASSERT_TRUE(PgServer::Get().Restart());
    EXPECT_FALSE(client.Open(line, record));
    EXPECT_EQ(FileText(outbox), "");
    EXPECT_EQ(FileText(outbox + ".unreadable"), "a line of another form\n");
    EXPECT_EQ(SqlValue(db, "SELECT count(*) FROM quorvel_record"), "7");
    EXPECT_EQ(Sql(db, "SELECT target, outcome FROM quorvel_serial_number ORDER BY target"),
              (SqlRows{{"1", "0"}, {"2", "8198"}}));
    EXPECT_EQ(SqlValue(db, "SELECT chip_name FROM quorvel_record WHERE operation = 'Erase'"),
              "QX\xEF\xBF\xBD\xEF\xBF\xBD");
    EXPECT_EQ(SqlValue(db, "SELECT message FROM quorvel_record WHERE status = 8198"),
              "Verify\tError");
    EXPECT_EQ(SqlValue(db,
                       "SELECT recorded_at = '2026-12-08 08:15:02+00' FROM quorvel_record "
                       "LIMIT 1"),
              "t");

    // A server restarted while the station was idle: its old connection is found dead at once
    // and a new one carries the rows.
    ASSERT_TRUE(PgServer::Get().Stop());
    ASSERT_TRUE(PgServer::Get().Restart());
    EXPECT_FALSE(client.Record().Deliver(line, record, {Row("Erase", 2, 0, "e2", "e2")}));
    EXPECT_EQ(FileText(outbox), "");
    EXPECT_EQ(SqlValue(db, "SELECT count(*) FROM quorvel_record"), "8");

    // Away at an operation's end, back for the next Write's numbers: the rows that waited go
    // then, and every later operation's at its end, not at the next Plug.
    ASSERT_TRUE(PgServer::Get().Stop());
    EXPECT_FALSE(client.Record().Deliver(line, record, {Row("Erase", 1, 0, "e3", "e3")}));
    ASSERT_TRUE(PgServer::Get().Restart());
    boards.run = "w5";
    boards.cycle = "w5";
    ASSERT_EQ(client.Pool().Take(station, boards).outcome, SerialGrant::Outcome::Taken);
    EXPECT_EQ(FileText(outbox), "");
    EXPECT_FALSE(client.Record().Deliver(line, record, {Row("Write", 1, 0, "w5", "w5")}));
    EXPECT_EQ(FileText(outbox), "");
    EXPECT_EQ(SqlValue(db, "SELECT count(*) FROM quorvel_record"), "10");
}

// Names the server cannot take are a setting to mend at Open; a row it refuses for its data is
// set aside, and neither holds back the rows after it.
TEST(LineRecordTest, ARefusedRowIsSetAsideAndBadNamesAreRefusedAtOpen) {
    REQUIRE_PG_SERVER();
    std::string db;
    ASSERT_TRUE(NewLine(db));
    const LineSettings line = Line(db);
    e2e::TempDir dir;
    const std::string record = dir / "record.csv";
    const std::string outbox = linedb::OutboxPathFor(record);
    linedb::LineClient client;
    for (const LineSettings& bad : {Line(db, "st\xFF"), Line(db, "st\x01"),
                                    Line(db, "st1", "QX\xC3"), Line(db, "st1", "QX\t")})
        EXPECT_EQ(client.Open(bad, record).messageId, uint32_t(IDS_LINE_BAD_SETTING))
            << bad.station << " " << bad.pool;
    ASSERT_FALSE(client.Open(line, record));

    LineRecordRow untimely = Row("Verify", 2, 0, "v1");
    untimely.row.time = "the 32nd of Smarch";
    const LineProblem problem = client.Record().Deliver(
        line, record, {Row("Write", 1, 0, "w1"), untimely, Row("Verify", 1, 0, "v1")});
    EXPECT_EQ(problem.messageId, uint32_t(IDS_LINE_RECORD_REFUSED));
    EXPECT_NE(problem.detail.find(outbox + ".unreadable"), std::string::npos) << problem.detail;
    EXPECT_EQ(SqlValue(db, "SELECT count(*) FROM quorvel_record"), "2") << "the rows around it";
    EXPECT_EQ(FileText(outbox), "");
    EXPECT_NE(FileText(outbox + ".unreadable").find("the 32nd of Smarch"), std::string::npos);
    EXPECT_FALSE(client.Record().Deliver(line, record, {Row("Erase", 1, 0, "e1", "e1")}));
    EXPECT_EQ(SqlValue(db, "SELECT count(*) FROM quorvel_record"), "3");
}

// The yield counts a board once per cycle by every row of its cycle: a Write that passed but
// whose own Verify failed is a failed board; a stop leaves a board out; a Verify started on its
// own is no cycle of the yield.
TEST(LineRecordTest, TheYieldJudgesABoardByEveryRowOfItsCycle) {
    REQUIRE_PG_SERVER();
    std::string db;
    ASSERT_TRUE(NewLine(db));
    const LineSettings line = Line(db);
    e2e::TempDir dir;
    const std::string record = dir / "record.csv";
    linedb::LineClient client;
    ASSERT_FALSE(client.Open(line, record));
    const uint32_t differs = FLASH_VERIFY_DIFFERENCE, stopped = FLASH_STOPPED;
    const std::vector<LineRecordRow> rows = {
        // A Write on its own and the Verify it holds.
        Row("Write", 1, 0, "w1", "w1"), Row("Write", 2, 0, "w1", "w1"),
        Row("Verify", 1, differs, "v1", "w1"), Row("Verify", 2, 0, "v1", "w1"),
        // Its Verify stopped: neither way.
        Row("Write", 1, 0, "w2", "w2"), Row("Verify", 1, stopped, "v2", "w2"),
        // A Program cycle stopped in its Verify, and one that failed its Write.
        Row("Write", 2, 0, "w3", "p3"), Row("Verify", 2, stopped, "v3", "p3"),
        Row("Program", 2, stopped, "p3", "p3"), Row("Write", 2, differs, "w4", "p4"),
        Row("Program", 2, differs, "p4", "p4"),
        // Not a cycle the yield counts.
        Row("Verify", 1, differs, "v5", "v5"), Row("Verify", 2, 0, "v6", "v6")};
    ASSERT_FALSE(client.Record().Deliver(line, record, rows));
    linedb::LineStatus status;
    ASSERT_FALSE(linedb::ReadLineStatus(line, status));
    ASSERT_EQ(status.yield.size(), 2u);
    EXPECT_EQ(status.yield[0].target, 1);
    EXPECT_EQ(status.yield[0].passed, 0) << "its Verify failed";
    EXPECT_EQ(status.yield[0].failed, 1);
    EXPECT_EQ(status.yield[1].target, 2);
    EXPECT_EQ(status.yield[1].passed, 1);
    EXPECT_EQ(status.yield[1].failed, 1);
}

}  // namespace
