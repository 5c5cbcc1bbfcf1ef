#!/usr/bin/env python3
"""Program cycles of quorvel-cli with serialization, each on fresh boards (a fresh vexil-sim
with four QX16A064 adapters), each ended at a random moment by SIGKILL or by two interrupts,
or left to finish. Afterwards no serial number stands on two boards, the stored next number
never went back, and every record row that says OK matches its board's flash: the number it
names and the program file's bytes.

Usage: kill_cycles_test.py SOURCE_DIR BIN_DIR WORK_DIR [CYCLES [SEED]]
"""
import csv
import os
import random
import shutil
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from hex_image import hex_bytes  # noqa: E402

source, bindir, work = sys.argv[1:4]
cycles = int(sys.argv[4]) if len(sys.argv) > 4 else 300
seed = int(sys.argv[5]) if len(sys.argv) > 5 else int(time.time())
rnd = random.Random(seed)
print("kill_cycles_test: %d cycles, seed %d" % (cycles, seed), flush=True)

SERIAL_AT = 0x8000
BOARDS = 4
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
hexfile = os.path.join(source, "examples", "programs", "demo-qx16a064.hex")


program = hex_bytes(hexfile)
setup, settings, commands, log, record = (
    os.path.join(work, n) for n in ("setup.ini", "cli.ini", "cycle.cd8", "cli.log", "record.csv"))
# Slow enough that a random moment falls anywhere in the cycle.
open(setup, "w").write(
    "[SIMULATOR]\nADAPTERS=1\nTRGDIR=%s/examples/TRG\n[ADAPTER1]\nTRG=QX16A064\nCOUNT=%d\n"
    "LATENCY_US=100\nERASE_BLOCK_US=5000\nWRITE_BYTE_NS=1000\n" % (source, BOARDS))
open(commands, "w").write("WRITE\nVERIFY\n")
open(settings, "w", newline="").write(
    "[Settings]\r\nTRGNAME=QX16A064\r\nMODE=1\r\nFILENUM=1\r\nFILENAME0=%s\r\nOFFSET0= 00000H\r\n"
    "COMFILENAME=%s\r\nLOGFILENAME=%s\r\nRECORDFILENAME=%s\r\nSERIALNUMFLG=1\r\n"
    "SERIALNUM=00000001\r\nSERIALNUMINC=00000001\r\nSERIALNUMLEN=4\r\nSERIALNUMINCLEN=4\r\n"
    "SERIALNUMADDR=0x%05X\r\n" % (hexfile, commands, log, record, SERIAL_AT))


def stored_serial():
    for line in open(settings, encoding="latin-1"):
        if line.startswith("SERIALNUM="):
            return int(line.split("=", 1)[1].strip(), 16)
    return None


failures = []
boards = {}  # device path -> flash
holders = {}  # serial number -> the board that holds it
last_stored = stored_serial()
ends = {"kill": 0, "interrupts": 0, "finished": 0}
for cycle in range(cycles):
    dev, dump = os.path.join(work, "dev-%d" % cycle), os.path.join(work, "dump-%d" % cycle)
    env = dict(os.environ, VEXIL_DEVICE_DIR=dev)
    sim = subprocess.Popen([os.path.join(bindir, "vexil-sim"), "--device-dir", dev,
                            "--dump-dir", dump, setup],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True, env=env)
    if not any(line.strip() == "ready" for line in sim.stdout):
        sys.exit("kill_cycles_test: the simulator ended before it was ready")
    cli = subprocess.Popen([os.path.join(bindir, "quorvel-cli"), "program", "--settings",
                            settings], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, env=env)
    end = rnd.choice(["kill", "kill", "interrupts", "interrupts", "finished"])
    time.sleep(rnd.uniform(0.0, 0.6))
    if end == "kill":
        cli.send_signal(signal.SIGKILL)
    elif end == "interrupts":
        cli.send_signal(signal.SIGINT)
        time.sleep(rnd.uniform(0.0, 0.05))
        cli.send_signal(signal.SIGINT)
    try:
        cli.wait(timeout=60)
    except subprocess.TimeoutExpired:
        cli.kill()
        failures.append("cycle %d: quorvel-cli did not end" % cycle)
    ends[end] += 1
    sim.send_signal(signal.SIGTERM)  # the simulator dumps every chip and ends
    sim.wait(timeout=60)
    for n in range(1, BOARDS + 1):
        name = "vexil-%02d" % n
        flash = open(os.path.join(dump, name + ".bin"), "rb").read()
        path = os.path.join(dev, name)
        boards[path] = flash
        number = flash[SERIAL_AT:SERIAL_AT + 4]
        # A run that says it succeeded left every board programmed and numbered.
        if cli.returncode == 0:
            wrong = [a for a, b in program.items() if flash[a] != b]
            if number == b"\xff" * 4 or wrong:
                failures.append("cycle %d: exit 0, but %s holds %s and %d wrong program bytes" %
                                (cycle, name, number.hex(), len(wrong)))
        if number == b"\xff" * 4:
            continue
        if number in holders:
            failures.append("serial number %s on %s and %s" % (number.hex(), holders[number], path))
        holders[number] = path
    stored = stored_serial()
    if stored is None or stored < last_stored:
        failures.append("cycle %d: the stored number went from %s to %s" %
                        (cycle, last_stored, stored))
    last_stored = stored if stored is not None else last_stored

text = open(record, newline="", encoding="utf-8").read() if os.path.exists(record) else ""
# A line cut by the last kill is repaired only by the next append, which never came.
if text and not text.endswith("\r\n"):
    text = text[:text.rfind("\r\n") + 2]
rows = list(csv.reader(text.splitlines(keepends=True)))
checked = 0
for row in rows[1:]:
    if len(row) != 12:
        failures.append("a record row of %d fields: %r" % (len(row), row))
        continue
    operation, path, serial, status = row[2], row[4], row[7], row[9]
    if status != "0x0000" or operation not in ("Write", "Verify", "Program"):
        continue
    flash = boards.get(path)
    if flash is None:
        failures.append("an OK row for a board never seen: %r" % row)
        continue
    checked += 1
    if flash[SERIAL_AT:SERIAL_AT + 4].hex().upper() != serial:
        failures.append("%s says OK with %s, the board holds %s" %
                        (operation, serial, flash[SERIAL_AT:SERIAL_AT + 4].hex().upper()))
    wrong = [a for a, b in program.items() if flash[a] != b]
    if wrong:
        failures.append("%s says OK for %s, but %d program bytes differ (first at %05X)" %
                        (operation, path, len(wrong), wrong[0]))

print("kill_cycles_test: %s; %d boards hold a number, %d OK record rows checked; "
      "the stored number reached %08X" % (ends, len(holders), checked, last_stored), flush=True)
for f in failures[:20]:
    print("FAILED: " + f)
if failures:
    sys.exit(1)
shutil.rmtree(work, ignore_errors=True)
