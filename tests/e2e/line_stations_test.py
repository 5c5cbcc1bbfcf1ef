#!/usr/bin/env python3
"""A line of stations sharing one serial pool and one production record in a real PostgreSQL
server (a scratch server of this test's own):

1. what cannot work (a bad connection string, no tables, an unreachable server, a pool at its
   end) is one clear message and exit status 2, and nothing is erased;
2. four stations (four quorvel-cli runs, each with its own vexil-sim and settings file) run
   Program cycles at once: no number on two boards in any flash dump, the number table holds
   exactly what the flashes hold, the record table one row per board and operation;
3. the server stopped in the middle of two stations' cycles: their Writes refuse and erase
   nothing, no number reaches two boards, and once it is back the next run of each station
   delivers its outbox: every record row is there once.

Usage: line_stations_test.py SOURCE_DIR BIN_DIR WORK_DIR [CYCLES]
Exit status 77 (skipped) when the PostgreSQL server binaries are missing.
"""
import collections
import os
import shutil
import sys
import threading

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import line_rig  # noqa: E402

source, bindir, work = sys.argv[1:4]
cycles = int(sys.argv[4]) if len(sys.argv) > 4 else 25
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
failures = []


def check(condition, text):
    if not condition:
        failures.append(text)
    return condition


try:
    server = line_rig.Server(source, work)
except line_rig.Skip as skip:
    print("line_stations_test: skipped: %s" % skip)
    sys.exit(line_rig.SKIP)
stations = []
try:
    server.sql("postgres", "CREATE DATABASE line")
    line = server.connection("line")

    # 1. Refusals: each one message, exit 2, every board as blank as before.
    st = line_rig.Station("st0", source, bindir, work, line)
    stations.append(st)
    cases = [("a bad connection string", {"LINEDB": "host=/nowhere password=Sekrit dbname"}, [],
              "2121"),
             ("no tables", {}, [], "2123"),
             ("an unreachable server",
              {"LINEDB": "host=/nonexistent/pg port=5999 dbname=x password=Sekrit"}, [], "2122"),
             ("a pool at its end", {"SERIALPOOL": "edge"},
              ["line", "init", "--serial", "FFFFFFFE"], "2066")]
    for what, keys, before, message in cases:
        st.write_settings(**dict({"LINEDB": line, "SERIALPOOL": "line"}, **keys))
        if before:
            prepared = st.cli(*before)
            check(prepared.returncode == 0, "%s: line init: %s" % (what, prepared.stderr))
        run = st.cli("write")
        check(run.returncode == 2, "%s: exit %d, not 2" % (what, run.returncode))
        shown = [l for l in run.stderr.splitlines() if "error %s" % message in l or
                 "question %s" % message in l]
        check(len(shown) == 1, "%s: message %s shown %d times: %s" %
              (what, message, len(shown), run.stderr))
        check("Sekrit" not in run.stderr, "%s: a password in a message" % what)
        blank = all(f[:0x100] == b"\xff" * 0x100 for f in st.dump().values())
        check(blank, "%s: a board was erased or written" % what)
    st.write_settings(SERIALPOOL="line")
    check(st.cli("line", "init").returncode == 0, "line init")

    # 2. Four stations at once.
    four = [line_rig.Station("st%d" % k, source, bindir, work, line) for k in range(1, 5)]
    stations += four
    held = collections.defaultdict(list)  # number -> [(station, cycle, device)]
    lock = threading.Lock()

    def after_cycle(station, index, lines):
        for device, flash in station.dump().items():
            number = line_rig.serial_of(flash)
            with lock:
                held[number].append((station.name, index, device))

    results = line_rig.run_stations(four, cycles, after_cycle)
    for name, (status, done) in sorted(results.items()):
        check(status == 0 and len(done) == cycles,
              "%s: exit %d after %d cycles" % (name, status, len(done)))
    twice = {n: h for n, h in held.items() if len(set(h)) > 1 or n is None}
    check(not twice, "numbers on two boards or none: %s" % list(twice.items())[:3])
    check(len(held) == 4 * cycles * 4, "%d numbers on boards, not %d" % (len(held), 16 * cycles))
    table = server.sql("line", "SELECT number, station, device_path FROM quorvel_serial_number "
                               "WHERE pool = 'line'")
    in_flash = {(n, h[0][0], h[0][2]) for n, h in held.items()}
    check({tuple(r) for r in table} == in_flash and len(table) == len(in_flash),
          "the number table (%d) is not what the flashes hold (%d)" % (len(table), len(in_flash)))
    rows = server.sql("line", "SELECT station, cycle, target, operation, count(*) FROM "
                              "quorvel_record GROUP BY 1, 2, 3, 4")
    per_board = collections.Counter((r[0], r[3]) for r in rows if r[4] == "1")
    for st in four:
        for operation in ("Write", "Verify", "Program"):
            check(per_board[(st.name, operation)] == cycles * 4,
                  "%s: %d %s rows, not one per board" %
                  (st.name, per_board[(st.name, operation)], operation))
        check(st.outbox() == "", "%s: rows left in the outbox" % st.name)
    check(len(rows) == sum(per_board.values()), "a board with two rows for one operation")

    # 3. The server stopped while two stations run their cycles, and started again.
    two, stopped = four[:2], threading.Event()
    refused = collections.Counter()
    previous = {st.name: st.dump() for st in two}
    csv_before = {st.name: len(st.record_rows()) for st in two}
    finished = [0]

    def around_stop(station, index, lines):
        flash = station.dump()
        wrote = any(l["type"] == "target" and l["operation"] == "write" for l in lines)
        with lock:
            finished[0] += 1
            if finished[0] == 3:
                server.control("stop")
                stopped.set()
            elif finished[0] == 9:
                server.control("restart")
            if not wrote:
                refused[station.name] += 1
                check(flash == previous[station.name],
                      "%s cycle %d: refused, but a board changed" % (station.name, index))
                passed = [l for l in lines if l["type"] == "target" and
                          l["operation"] == "program" and l["status"] == 0]
                check(not passed, "%s cycle %d: refused, but a board passed: %s" %
                      (station.name, index, passed))
            for device, f in flash.items():
                held[line_rig.serial_of(f)].append((station.name, 100 + index, device))
        previous[station.name] = flash

    results = line_rig.run_stations(two, 8, around_stop)
    for name, (status, done) in sorted(results.items()):
        check(len(done) == 8, "%s: %d cycles of 8" % (name, len(done)))
        check(status != 0 or refused[name] == 0,
              "%s: %d cycles refused, but the run exited 0" % (name, refused[name]))
    # Each station's next run reaches the server again, whenever its last cycle ended.
    for st in two:
        status, done = st.cycles(1, lambda index, lines, st=st: around_stop(st, 8, lines))
        check(status == 0, "%s: the cycle after the restart failed (%d)" % (st.name, status))
    check(sum(refused.values()) >= 2, "Writes refused while the server was away: %s" % refused)
    refusals = sum(open(st.err).read().count("error 2122") for st in two)
    check(refusals >= sum(refused.values()), "%d refusals said so, %d refused" %
          (refusals, sum(refused.values())))
    for number, h in held.items():
        check(len({(s, d) for s, _, d in h}) == 1 or number is None,
              "number %s on two boards: %s" % (number, h))
    for st in two:
        check(st.outbox() == "", "%s: the outbox was not delivered" % st.name)
        in_csv = len(st.record_rows())
        in_db = int(server.sql("line", "SELECT count(*) FROM quorvel_record WHERE station = '%s'"
                                       % st.name)[0][0])
        check(in_db == in_csv, "%s: %d record rows in the CSV, %d in the line's record" %
              (st.name, in_csv, in_db))
        check(in_csv > csv_before[st.name], "%s: no rows during the stop" % st.name)
    table = {r[0] for r in server.sql("line", "SELECT number FROM quorvel_serial_number")}
    check(all(n in table for n in held if n is not None), "a board's number is not in the table")
    print("line_stations_test: %d stations x %d cycles, %d numbers on boards; during the stop "
          "%d cycles refused, %d numbers taken but never written" %
          (len(four), cycles, len(held), sum(refused.values()),
           len(table - set(held))), flush=True)
finally:
    for st in stations:
        st.close()
    server.destroy()

for f in failures[:20]:
    print("FAILED: " + f)
if failures:
    sys.exit(1)
shutil.rmtree(work, ignore_errors=True)
