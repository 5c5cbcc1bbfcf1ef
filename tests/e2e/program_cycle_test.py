#!/usr/bin/env python3
"""One Program cycle of quorvel-cli (WRITE, then VERIFY) against two simulated QX16A064
adapters: vexil-sim on Linux, vexil-pipe-sim.exe under Wine on Windows. Checks the exit
status, each chip's flash against the program file, and the operation log and result lines
against program_cycle.expected, the same text for both builds.

Usage: program_cycle_test.py SOURCE_DIR BIN_DIR WORK_DIR [WINE_RUN PREFIX]
"""
import os
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from hex_image import flash_image  # noqa: E402

source, bindir, work = sys.argv[1:4]
wine = sys.argv[4:6]


def native(path):
    """A host path as the Windows program names it (Wine shows the host's root as Z:)."""
    return "Z:" + path.replace("/", "\\") if wine else path


def program(name):
    return wine + [os.path.join(bindir, name + (".exe" if wine else ""))]


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
hexfile = os.path.join(source, "examples", "programs", "demo-qx16a064.hex")
setup, settings, commands, log, dump = (
    os.path.join(work, n) for n in ("setup.ini", "cli.ini", "cycle.cd8", "cli.log", "dump"))
# The setup file's names are separated by '/' in both builds (Wine takes /work/... as
# Z:\work\... on the current drive).
open(setup, "w").write("[SIMULATOR]\nADAPTERS=1\nTRGDIR=%s/examples/TRG\n[ADAPTER1]\n"
                       "TRG=QX16A064\nCOUNT=2\nLATENCY_US=0\nERASE_BLOCK_US=0\nWRITE_BYTE_NS=0\n"
                       % source)
open(commands, "w").write("WRITE\nVERIFY\n")
open(settings, "w", newline="").write(
    "[Settings]\r\nTRGNAME=QX16A064\r\nMODE=1\r\nFILENUM=1\r\nFILENAME0=%s\r\nOFFSET0= 00000H\r\n"
    "COMFILENAME=%s\r\nLOGFILENAME=%s\r\n" % (native(hexfile), native(commands), native(log)))

env = dict(os.environ)
if wine:
    sim_args = ["vexil-pipe-sim", "--prefix", "quorvel-e2e-%d" % os.getpid()]
else:
    sim_args = ["vexil-sim", "--device-dir", os.path.join(work, "dev")]
    env["VEXIL_DEVICE_DIR"] = os.path.join(work, "dev")
sim = subprocess.Popen(program(sim_args[0]) + sim_args[1:] + ["--dump-dir", native(dump), setup],
                       stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
# vexil-pipe-sim prints its device paths first; both print "ready" when they serve.
printed = []
for line in sim.stdout:
    if line.strip() == "ready":
        break
    printed.append(line.strip())
else:
    sys.exit("program_cycle_test: the simulator ended before it was ready")
env["VEXIL_PIPE_DEVICES"] = ";".join(printed)
try:
    cli = subprocess.run(program("quorvel-cli") + ["program", "--settings", native(settings)],
                         env=env, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                         timeout=300)
finally:
    # The end of its input stops vexil-pipe-sim, SIGTERM vexil-sim; both dump the flash.
    if wine:
        sim.stdin.close()
    else:
        sim.terminate()
    sim_code = sim.wait(120)
failures = ["quorvel-cli exited with %d" % cli.returncode] * (cli.returncode != 0)
failures += ["the simulator exited with %d" % sim_code] * (sim_code != 0)

# Both chips hold the program and nothing else in their flash area, 00000H to 0FDFFH.
expected = flash_image(hexfile, 0xFE00)
for name in ("vexil-01", "vexil-02"):
    path = os.path.join(dump, name + ".bin")
    if not os.path.exists(path) or open(path, "rb").read()[:0xFE00] != expected:
        failures.append("%s: the flash differs from the program file" % name)

# The log and the result lines, times, durations and paths aside.
text = open(log, "rb").read().decode("latin-1") if os.path.exists(log) else ""
if re.search(r"(?<!\r)\n", text):
    failures.append("the log has a line end without CR")
text = re.sub(r"\d{4}/\d\d/\d\d \d\d:\d\d:\d\d", "<time>", text.replace("\r\n", "\n"))
text = re.sub(r"USB Device Path: .*", "USB Device Path: <device path>",
              text.replace(native(hexfile), "<program file>"))
results = [re.sub(r"\d+ ms", "<ms>", re.sub(r" \(.*\)$", "", line))
           for line in cli.stderr.splitlines() if re.search(r" target \d+: |passed", line)]
actual = text + "\n--- result lines on standard error\n" + "\n".join(results) + "\n"
if actual != open(os.path.join(os.path.dirname(__file__), "program_cycle.expected")).read():
    failures.append("log or result lines differ from program_cycle.expected:\n" + actual)
print(cli.stderr if failures else "", *("FAILED: " + f for f in failures), sep="\n")
print("%d passed, %d failed" % (not failures, bool(failures)))
sys.exit(1 if failures else 0)
