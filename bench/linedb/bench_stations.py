#!/usr/bin/env python3
"""Program cycle times of a line's stations: one station alone against four at once, each a
quorvel-cli run of CYCLES back-to-back cycles (WRITE, VERIFY) on its own vexil-sim with four
QX16A064 boards, numbers from one pool on a scratch PostgreSQL server; and, for reference, one
station alone without the line (numbers from its settings file). The four stations are four
processes of one user on one PC, so they share the "Vexil" mutex: their cycles interleave.

With "timed", the simulator's own timing model (200 us a command, 20 ms an erased block, 2 us
a written byte) instead of none, and a second between a station's cycles (the boards changed):
back to back, a station that just let go of the mutex takes it again before the others, which
poll for it, and a Plug that waits 3 s for it gives up.

Usage: bench_stations.py SOURCE_DIR BIN_DIR WORK_DIR [CYCLES [timed]]
"""
import os
import shutil
import statistics
import sys
import time

source, bindir, work = sys.argv[1:4]
cycles = int(sys.argv[4]) if len(sys.argv) > 4 else 20
timed = sys.argv[5:6] == ["timed"]
sys.path.insert(0, os.path.join(source, "tests", "e2e"))
import line_rig  # noqa: E402

shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
server = line_rig.Server(source, work)
stations = []


def run(name, count, line=None):
    group = [line_rig.Station("%s%d" % (name, k), source, bindir, work,
                              line if line is not None else server.connection("line"),
                              timed=timed)
             for k in range(count)]
    stations.extend(group)
    if line == "":
        for st in group:
            st.write_settings(LINEDB="")
    started = time.monotonic()
    results = line_rig.run_stations(group, cycles, interval=1 if timed else 0)
    wall = time.monotonic() - started - (cycles - 1) * (1 if timed else 0)
    durations = []
    for status, done in results.values():
        if status != 0 or len(done) != cycles:
            sys.exit("%s: exit %d after %d cycles" % (name, status, len(done)))
        durations += [lines[-1]["duration_ms"] for lines in done]
    print("%-28s %3d cycles  cycle mean %6.1f ms  median %6.1f ms  max %6.1f ms  "
          "wall %6.1f ms a cycle of a station (intervals aside)" %
          (name, len(durations), statistics.mean(durations), statistics.median(durations),
           max(durations), 1000 * wall / cycles), flush=True)


try:
    server.sql("postgres", "CREATE DATABASE line")
    probe = line_rig.Station("init", source, bindir, work, server.connection("line"))
    stations.append(probe)
    if probe.cli("line", "init").returncode != 0:
        sys.exit("line init failed")
    run("alone, settings file", 1, line="")
    run("alone, line pool", 1)
    run("four at once, line pool", 4)
finally:
    for st in stations:
        st.close()
    server.destroy()
shutil.rmtree(work, ignore_errors=True)
