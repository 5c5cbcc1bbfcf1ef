#!/usr/bin/env python3
"""One Program cycle of quorvel-cli (WRITE, then VERIFY) against two simulated QX16A064
adapters: vexil-sim on Linux, vexil-pipe-sim.exe under Wine on Windows. Checks the exit
status, each chip's flash against the program file and the operation log and result lines
against the committed program_cycle.expected, the same text for both builds.

Usage: program_cycle_test.py SOURCE_DIR BIN_DIR WORK_DIR [WINE_RUN PREFIX]
"""
import os
import re
import shutil
import subprocess
import sys
import threading

source, bindir, work = sys.argv[1:4]
wine = sys.argv[4:6]
windows = bool(wine)
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    return ok


def native(path):
    """A host path as the program under test names it (Wine shows the host's root as Z:)."""
    return "Z:" + path.replace("/", "\\") if windows else path


def program(name):
    return wine + [os.path.join(bindir, name + (".exe" if windows else ""))]


def read_hex(path):
    image = {}
    for line in open(path):
        line = line.strip()
        count, address, kind = int(line[1:3], 16), int(line[3:7], 16), int(line[7:9], 16)
        if kind == 0:
            for i in range(count):
                image[address + i] = int(line[9 + 2 * i : 11 + 2 * i], 16)
        elif kind not in (1, 3, 5):
            sys.exit("program_cycle_test: unexpected record type %d in %s" % (kind, path))
    return image


shutil.rmtree(work, ignore_errors=True)
os.makedirs(os.path.join(work, "dev"))
hexfile = os.path.join(source, "examples", "programs", "demo-qx16a064.hex")
settings, commands, log = (os.path.join(work, n) for n in ("cli.ini", "cycle.cd8", "cli.log"))
# The setup file's names are separated by '/' on both systems (Wine takes /work/... as
# Z:\work\... on the current drive).
setup = os.path.join(work, "setup.ini")
with open(setup, "w") as f:
    f.write("[SIMULATOR]\nADAPTERS=1\nTRGDIR=%s\n[ADAPTER1]\nTRG=QX16A064\nCOUNT=2\n"
            "LATENCY_US=0\nERASE_BLOCK_US=0\nWRITE_BYTE_NS=0\n"
            % os.path.join(source, "examples", "TRG"))
with open(commands, "w") as f:
    f.write("WRITE\nVERIFY\n")
with open(settings, "w", newline="") as f:
    f.write("[Settings]\r\nTRGNAME=QX16A064\r\nMODE=1\r\nFILENUM=1\r\nFILENAME0=%s\r\n"
            "OFFSET0= 00000H\r\nCOMFILENAME=%s\r\nLOGFILENAME=%s\r\n"
            % (native(hexfile), native(commands), native(log)))

dump = os.path.join(work, "dump")
env = dict(os.environ)
if windows:
    sim_args = ["--prefix", "quorvel-e2e-%d" % os.getpid(), "--dump-dir", native(dump)]
else:
    sim_args = ["--device-dir", os.path.join(work, "dev"), "--dump-dir", dump]
    env["VEXIL_DEVICE_DIR"] = os.path.join(work, "dev")
sim = subprocess.Popen(program("vexil-pipe-sim" if windows else "vexil-sim") + sim_args
                       + [setup],
                       stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
# The simulator prints its device paths (vexil-pipe-sim) and then "ready".
printed, ready = [], threading.Event()


def wait_ready():
    for line in sim.stdout:
        if line.strip() == "ready":
            ready.set()
            return
        printed.append(line.strip())


threading.Thread(target=wait_ready, daemon=True).start()
if not ready.wait(120):
    sim.kill()
    sys.exit("program_cycle_test: the simulator did not get ready")
if windows:
    env["VEXIL_PIPE_DEVICES"] = ";".join(printed)

try:
    cli = subprocess.run(program("quorvel-cli") + ["program", "--settings", native(settings)],
                         env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                         timeout=300)
finally:
    # End of input stops vexil-pipe-sim, SIGTERM vexil-sim; both dump the flash.
    if not windows:
        sim.terminate()
    sim.stdin.close()
    sim_code = sim.wait(120)
check(cli.returncode == 0, "quorvel-cli exited with %d" % cli.returncode)
check(sim_code == 0, "the simulator exited with %d" % sim_code)

# Both chips hold the program and nothing else in their flash area (0x00000 to 0x0FDFF).
image = read_hex(hexfile)
expected = bytes(image.get(a, 0xFF) for a in range(0xFE00))
for name in ("vexil-01", "vexil-02"):
    path = os.path.join(dump, name + ".bin")
    flash = open(path, "rb").read() if os.path.exists(path) else b""
    if check(len(flash) >= 0xFE00, "%s: no dump of the flash" % name):
        differ = [a for a in range(0xFE00) if flash[a] != expected[a]]
        check(not differ, "%s: %d bytes differ, the first at %05XH" % (
            name, len(differ), differ[0] if differ else 0))

# The log and the result lines, apart from times, durations, paths and device paths.
text = open(log, "rb").read().decode("latin-1") if os.path.exists(log) else ""
check(re.search(r"(?<!\r)\n", text) is None, "the log has a line end without CR")
text = re.sub(r"\d{4}/\d\d/\d\d \d\d:\d\d:\d\d", "<time>", text.replace("\r\n", "\n"))
text = text.replace(native(hexfile), "<program file>")
text = re.sub(r"USB Device Path: .*", "USB Device Path: <device path>", text)
results = [re.sub(r"\d+ ms", "<ms>", re.sub(r" \(.*\)$", "", line))
           for line in cli.stderr.splitlines() if re.search(r" target \d+: |passed", line)]
actual = text + "\n--- result lines on standard error\n" + "\n".join(results) + "\n"
wanted = open(os.path.join(os.path.dirname(os.path.abspath(__file__)),
                           "program_cycle.expected")).read()
if not check(actual == wanted, "log or result lines differ from program_cycle.expected"):
    print(actual)
if failures:
    print(cli.stderr)
    print("\n".join("FAILED: " + f for f in failures))
    print("0 passed, 1 failed")
    sys.exit(1)
print("1 passed, 0 failed")
