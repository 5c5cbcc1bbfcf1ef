// The writer's controller on a line, against vexil-sim and a real server: its Writes take the
// pool's numbers and increment once a plug session, the settings file shows where the pool
// stands, and a program without the line client refuses a settings file that names one.
// (Refusals before anything is erased: tests/e2e/line_stations_test.py.)
#include <gtest/gtest.h>

#include <cstdio>

#include "app/control_ids.h"
#include "linedb/line_client.h"
#include "support/pg_server.h"
#include "support/writer_rig.h"

namespace {

using namespace e2e;

void RunDialog(WriterRig& rig, FakeDialogView& view, LineServices* line,
               const std::function<void(CQuorvelDlg&, DialogEvents&)>& body) {
    CQuorvelDlg dialog(view, "Quorvel", rig.env.lock);
    dialog.SetLineServices(line);
    view.actions.push_back([&](DialogEvents& e) { body(dialog, e); });
    dialog.DoModal();
}

TEST(LineWriterTest, WritesTakeThePoolsNumbersOnceASessionAndOnlyWithTheLineClient) {
    REQUIRE_PG_SERVER();
    const std::string db = PgServer::Get().NewDatabase();
    WriterRig rig;
    const std::string file = rig.env.WriteFile("p.hex", HexFile(0x10, {0x12}));
    rig.env.WriteIni("[Settings]\r\nTRGNAME=QX16A064\r\nMODE=1\r\nFILENUM=1\r\nFILENAME0=" + file +
                     "\r\nOFFSET0= 00000H\r\nSERIALNUMFLG=1\r\nSERIALNUM=00000001\r\n"
                     "SERIALNUMINC=00000001\r\nSERIALNUMLEN=4\r\nSERIALNUMINCLEN=4\r\n"
                     "SERIALNUMADDR=0x08000\r\nSTATION=bench7\r\nLINEDB=" +
                     db + "\r\n");
    std::string error;
    ASSERT_TRUE(
        rig.Start("[DEFAULTS]\nLATENCY_US=0\nERASE_BLOCK_US=0\nWRITE_BYTE_NS=0\n"
                  "[ADAPTER1]\nTRG=QX16A064\nCOUNT=3\n",
                  1, error))
        << error;
    FakeDialogView view;
    // A build without the line client does not work on a line's boards as a station alone.
    RunDialog(rig, view, nullptr, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        EXPECT_TRUE(view.Shows(2120));
        EXPECT_FALSE(dialog.IsPlugged());
    });

    linedb::LineClient client;
    view.messages.clear();
    RunDialog(rig, view, &client, [&](CQuorvelDlg& dialog, DialogEvents& e) {
        e.OnCommand(IDC_PLUG);
        EXPECT_TRUE(view.Shows(2123)) << "no tables yet";
        EXPECT_FALSE(dialog.IsPlugged());
        linedb::InitRequest init;
        init.line = dialog.Settings().line;
        init.start = {0, 0, 1, 0};
        init.increment = {0, 0, 0, 2};
        linedb::InitReport report;
        ASSERT_FALSE(linedb::InitLine(init, report));

        // The pool's numbers and increment, taken once for the session; the settings file
        // shows where the pool stands.
        view.messages.clear();
        e.OnCommand(IDC_PLUG);
        e.OnCommand(IDC_WRITE);
        EXPECT_EQ(HeldAt(rig, 1, 0x8000), "00000100");
        EXPECT_EQ(HeldAt(rig, 3, 0x8000), "00000104");
        EXPECT_EQ(rig.env.Key("SERIALNUM"), "00000106");
        e.OnCommand(IDC_WRITE);
        EXPECT_EQ(HeldAt(rig, 3, 0x8000), "00000104") << "the same board, the same number";
        EXPECT_EQ(Sql(db, "SELECT number, station, target FROM quorvel_serial_number ORDER BY 1"),
                  (SqlRows{{"00000100", "bench7", "1"},
                           {"00000102", "bench7", "2"},
                           {"00000104", "bench7", "3"}}));
        e.OnCommand(IDC_PLUG);
    });
    EXPECT_EQ(SqlValue(db,
                       "SELECT count(*) FROM quorvel_record WHERE station = 'bench7' AND "
                       "operation = 'Write' AND status = 0"),
              "6")
        << "two Writes of three boards";
}

}  // namespace
