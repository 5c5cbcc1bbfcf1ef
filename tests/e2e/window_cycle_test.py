#!/usr/bin/env python3
"""Quorvel.exe as an operator meets it, under Wine on a private X display: the installer runs
silently, the installed window plugs, writes and verifies three vexil-pipe-sim.exe adapters
through real key presses (one of them asks for its security ID, typed into the dialog), every
dialog and both view modes are grabbed to PNG, the installed quorvel-cli.exe runs a Program
cycle, and the uninstaller leaves only the user's files. Checks the flash dumps against the
program file byte for byte and the log against window_cycle.expected, which the Linux window
writes for the same run (time stamps and paths aside).

Every step waits for what the next one uses: a key is pressed once window_probe.exe reports
the control it works enabled and its window active, a screenshot is taken once the screen has
stopped changing. Each wait has a generous limit (the test runs beside every other test on two
busy cores) and ends the run with what it waited for and what it saw instead.

Usage: window_cycle_test.py SOURCE_DIR BUILD_DIR WORK_DIR WINE_RUN SETUP_EXE PROBE_EXE
"""
import glob
import os
import queue
import re
import select
import shutil
import signal
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from hex_image import flash_image  # noqa: E402

source, build, work, wine_run, setup_exe, probe_exe = sys.argv[1:7]
prefix = os.path.join(work, "wineprefix")
shots = os.path.join(build, "screenshots")
failures = []
WAIT_S = 180
SCREEN = (1024, 880)
DESKTOP = "Quorvel"
MAIN = "Quorvel   Multiple Flash Writer"
SECURITY_ID = "Security ID checking (Target No.3)"

wineserver = next(p for p in ("/usr/lib/wine/wineserver", shutil.which("wineserver") or "")
                  if p and os.access(p, os.X_OK))


class Broken(Exception):
    """The run cannot go on: the message says what was awaited and what was seen."""


def wait_for(what, found, timeout=WAIT_S, seen=None):
    """Polls found() until it returns something true, and returns that."""
    deadline = time.monotonic() + timeout
    while True:
        value = found()
        if value:
            return value
        if time.monotonic() >= deadline:
            raise Broken("waited %d s in vain for %s%s" % (timeout, what,
                                                          "; saw " + seen() if seen else ""))
        time.sleep(0.2)


class Lines:
    """A child's standard output, read by a thread of its own so that every read has a limit."""

    def __init__(self, name, stream):
        self.name = name
        self.lines = queue.Queue()
        threading.Thread(target=self._read, args=(stream,), daemon=True).start()

    def _read(self, stream):
        for line in stream:
            self.lines.put(line.rstrip("\r\n"))
        self.lines.put(None)

    def until(self, marker, what, timeout=WAIT_S):
        """The lines before marker."""
        deadline = time.monotonic() + timeout
        before = []
        while True:
            try:
                line = self.lines.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise Broken("waited %d s in vain for %s (%s printed %r)"
                             % (timeout, what, self.name, before)) from None
            if line is None:
                raise Broken("%s ended before %s (it printed %r)" % (self.name, what, before))
            if line == marker:
                return before
            before.append(line)


def native(path):
    """A host path as the Windows programs name it (Wine shows the host's root as Z:)."""
    return "Z:" + path.replace("/", "\\")


def wine(args, **kw):
    return subprocess.run([wine_run, prefix] + args, **kw)


def read(path):
    return open(path, "rb").read().decode("latin-1") if os.path.exists(path) else ""


def start_display():
    """A private Xvfb display: the number it picks is one no other server holds."""
    errors = []
    for _ in range(3):
        read_end, write_end = os.pipe()
        log = open(os.path.join(work, "xvfb.log"), "w+")
        server = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0",
                                   "%dx%dx24" % SCREEN, "-nolisten", "tcp"],
                                  pass_fds=[write_end], stdin=subprocess.DEVNULL, stdout=log,
                                  stderr=subprocess.STDOUT)
        os.close(write_end)
        number = b""
        # The number comes once the server listens; end of file means it gave up.
        while not number.endswith(b"\n") and select.select([read_end], [], [], WAIT_S)[0]:
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        if number.strip():
            return server, ":" + number.decode().strip()
        server.kill()
        server.wait()
        log.seek(0)
        errors.append(log.read().strip())
    raise Broken("Xvfb did not start: %r" % errors)


# A stopped run (CTest's time limit) still cleans up behind itself.
signal.signal(signal.SIGTERM, lambda *_: sys.exit("window_cycle_test: stopped"))
shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
os.makedirs(shots, exist_ok=True)
for old in glob.glob(os.path.join(shots, "win32_*.png")):
    os.remove(old)

xvfb, sim, window, probe = None, None, None, None
env = dict(os.environ, WINEDEBUG="-all")


def xdo(*args):
    done = subprocess.run(["xdotool"] + list(args), env=env, capture_output=True, text=True,
                          timeout=WAIT_S)
    return done.stdout if done.returncode == 0 else ""


def press(*names):
    """Real key presses, to whatever has the keyboard focus on the display."""
    done = subprocess.run(["xdotool", "key", "--delay", "80"] + list(names), env=env,
                          capture_output=True, text=True, timeout=WAIT_S)
    if done.returncode != 0:
        raise Broken("xdotool key %s: %s" % (" ".join(names), done.stderr.strip()))


def grab():
    return subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:-"], env=env,
                          capture_output=True, timeout=WAIT_S).stdout


def shot(name):
    """Writes the screen once it has stopped changing."""
    last = [None]

    def still():
        now = grab()
        settled = len(now) == SCREEN[0] * SCREEN[1] * 3 and now == last[0]
        last[0] = now
        return now if settled else None

    pixels = wait_for("the screen to settle for " + name, still)
    subprocess.run(["convert", "-size", "%dx%d" % SCREEN, "-depth", "8", "rgb:-",
                    os.path.join(shots, name)], input=pixels, check=True, timeout=WAIT_S)


class Seen:
    """One answer of window_probe.exe (see there)."""

    def __init__(self, lines):
        self.tops, self.active, self.focus, self.controls, self.rows = [], "", 0, {}, {}
        self.foreground = ""
        for line in lines:
            kind, _, rest = line.partition("\t")
            fields = rest.split("\t")
            if kind == "top":
                self.tops.append(rest)
            elif kind == "active":
                self.active, self.focus = fields[0], int(fields[1])
            elif kind == "foreground":
                self.foreground = rest
            elif kind == "control":
                self.controls[int(fields[0])] = (fields[1] == "1", fields[2] == "1",
                                                 fields[3] == "1", "\t".join(fields[4:]))
            elif kind == "rows":
                self.rows[int(fields[0])] = fields[1]

    def usable(self, *ids):
        return all(self.controls.get(i, (False, False))[:2] == (True, True) for i in ids)

    def text(self, id):
        return self.controls.get(id, (False, False, False, ""))[3]

    def __str__(self):
        return "windows %r, foreground %r, active %r (focus on %d)" % (
            self.tops, self.foreground, self.active, self.focus)


class Probe:
    """window_probe.exe, in the window's desktop, asked about one window at a time."""

    def __init__(self):
        self.process = subprocess.Popen([wine_run, prefix, probe_exe, DESKTOP], env=env,
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.output = Lines("window_probe.exe", self.process.stdout)
        self.last = Seen([])

    def ask(self, title):
        self.process.stdin.write(title + "\n")
        self.process.stdin.flush()
        self.last = Seen(self.output.until("end", "the probe's answer"))
        return self.last

    def until(self, what, title, condition):
        """Waits until the window titled title takes the keys and condition holds for it."""
        def met():
            seen = self.ask(title)
            return seen if seen.foreground == seen.active == title and condition(seen) else None
        return wait_for(what, met, seen=lambda: str(self.last))

    def closed(self, what, title):
        """Waits until title has gone and the main window is active again; returns its state."""
        return self.until(what, MAIN, lambda seen: title not in seen.tops)

    def visit(self, keys, what, title, ready, picture, close):
        """Opens the dialog title with keys, waits until ready(seen), takes its picture, closes
        it with the key close and waits until it has gone."""
        press(*keys)
        self.until(what, title, ready)
        shot(picture)
        press(close)
        self.closed(what + " to close", title)


try:
    xvfb, display = start_display()
    env.update(WINE_RUN_DISPLAY=display, DISPLAY=display, WINEPREFIX=prefix)
    wait_for("display %s to take clients" % display, lambda: xdo("getdisplaygeometry"))

    # --- Install silently, per user -------------------------------------------------------
    installed = wine([setup_exe, "/S"], env=env, capture_output=True, timeout=600)
    if installed.returncode != 0:
        failures.append("the installer exited with %d" % installed.returncode)
    homes = glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Local",
                                   "Programs", "Quorvel"))
    if len(homes) != 1:
        raise Broken("the installer left no program folder")
    program_dir = homes[0]
    installed_files = sorted(os.path.relpath(os.path.join(d, f), program_dir)
                             for d, _, files in os.walk(program_dir) for f in files)
    for expected in ("Quorvel.exe", "quorvel-cli.exe", "Brindlex.dll", "Uninstall.exe",
                     "Write_Verify.cd8", "TRG/QX16A064.TRG", "examples/demo-qx16a064.hex"):
        if expected not in installed_files:
            failures.append("not installed: " + expected)
    menu = glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Roaming",
                                  "Microsoft", "Windows", "Start Menu", "Programs", "Quorvel",
                                  "Quorvel.lnk"))
    if not menu:
        failures.append("no Start menu entry")
    trg_path = wine(["reg", "query", r"HKCU\Software\Ostrel\Zeph", "/v", "TrgPath"], env=env,
                    capture_output=True, text=True, timeout=WAIT_S).stdout
    if not re.search(r"TrgPath\s+REG_SZ\s+C:\\users\\[^\\]+\\AppData\\Local\\Programs\\Quorvel"
                     r"\\TRG", trg_path):
        failures.append("the TRG path value is not set: " + trg_path)

    # --- Three adapters, the third locked by a security ID --------------------------------
    setup = os.path.join(work, "setup.ini")
    timing = "LATENCY_US=0\nERASE_BLOCK_US=0\nWRITE_BYTE_NS=0\n"
    open(setup, "w").write(
        "[SIMULATOR]\nADAPTERS=2\nTRGDIR=%s/examples/TRG\n[ADAPTER1]\nTRG=QX16A064\nCOUNT=2\n%s"
        "[ADAPTER2]\nNAME=locked\nTRG=QX16A064\nPROTECTED=1\nSECURITYID=1234 5678 9ABC DEF0\n%s"
        % (source, timing, timing))
    dump = os.path.join(work, "dump")
    sim = subprocess.Popen([wine_run, prefix, os.path.join(build, "bin", "vexil-pipe-sim.exe"),
                            "--prefix", "quorvel-window-%d" % os.getpid(), "--dump-dir",
                            native(dump), native(setup)],
                           env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    sim_output = Lines("vexil-pipe-sim.exe", sim.stdout)
    env["VEXIL_PIPE_DEVICES"] = ";".join(sim_output.until("ready", "the simulated adapters"))

    # --- The window, as a newcomer would work it -------------------------------------------
    hexfile = os.path.join(source, "examples", "programs", "demo-qx16a064.hex")
    settings = os.path.join(program_dir, "Quorvel.ini")
    open(settings, "w", newline="").write(
        "[Settings]\r\nTRGNAME=QX16A064\r\nMODE=0\r\nFILENUM=1\r\nFILENAME0=%s\r\n"
        "OFFSET0= 00000H\r\n" % native(hexfile))
    log = os.path.join(program_dir, "Quorvel.log")
    window = subprocess.Popen([wine_run, prefix, "explorer", "/desktop=%s,%dx%d" % ((DESKTOP,) +
                               SCREEN), "C:\\users\\%s\\AppData\\Local\\Programs\\Quorvel\\"
                               "Quorvel.exe" % program_dir.split(os.sep)[-5]],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Keys go to the desktop's X window, which hands them to the active window inside.
    desktop = wait_for("the Wine desktop window", lambda: xdo(
        "search", "--onlyvisible", "--name", "^%s - Wine desktop$" % DESKTOP).split())[0]
    xdo("windowfocus", desktop)
    wait_for("the keyboard focus on the Wine desktop",
             lambda: xdo("getwindowfocus").strip() == desktop)
    probe = Probe()
    probe.until("the main window, unplugged and idle", MAIN,
                lambda seen: MAIN in seen.tops and seen.usable(1000, 1036, 1038) and
                seen.text(1038) == "&Plug")
    # The About box first: the window shown before the desktop had the keyboard draws its
    # caption inactive until another window was active (Wine).
    probe.visit(["alt+u"], "the About box", "Quorvel version", lambda seen: seen.usable(1),
                "win32_about.png", "Return")
    shot("win32_main_detail.png")

    # Plug: targets 1 and 2 plug, target 3 asks for its ID; the caret runs on by itself.
    press("alt+p")
    probe.until("the security ID question", SECURITY_ID, lambda seen: seen.focus == 1350)
    shot("win32_security_id.png")
    press(*"123456789abcdef0")
    probe.until("the security ID in its fields", SECURITY_ID, lambda seen: [
        seen.text(i) for i in (1350, 1353, 1354, 1355)] == ["1234", "5678", "9ABC", "DEF0"])
    press("Return")
    probe.closed("the plug", SECURITY_ID)
    probe.until("the plugged window, idle", MAIN, lambda seen: "Target 3: Plug" in read(log) and
                seen.usable(1016, 1018, 1019) and seen.text(1038) == "Un&plug")
    shot("win32_main_plugged.png")

    probe.visit(["alt+s"], "the Serialization dialog", "Serialization",
                lambda seen: seen.usable(1157), "win32_serialization.png", "Escape")

    # Write, and Verify behind it ("Write with Verify" is ticked).
    press("alt+w")
    probe.until("the write and the verify", MAIN, lambda seen: "Target 3: Verify" in read(log)
                and seen.usable(1016, 1025) and "Verify SUCCESS" in seen.text(1008))
    # All Check clears every row's box, and again ticks those that plugged.
    press("alt+k")
    probe.until("every box cleared", MAIN, lambda seen: seen.rows.get(1148) == "000")
    press("alt+k")
    probe.until("every box ticked", MAIN, lambda seen: seen.rows.get(1148) == "111")
    shot("win32_main_verified.png")
    press("alt+p")
    probe.until("the unplug", MAIN, lambda seen: "Target 3: Unplug" in read(log) and
                seen.usable(1000, 1038) and seen.text(1038) == "&Plug")

    probe.visit(["F10", "s", "t"], "the Select Target dialog", "Select Target",
                lambda seen: seen.usable(1000), "win32_select_target.png", "Escape")
    probe.visit(["F10", "f", "a"], "the program file dialog", "Add/Delete Hex/S File",
                lambda seen: seen.usable(2), "win32_program_files.png", "Escape")
    press("F10", "v", "s")
    probe.until("simple mode", MAIN, lambda seen: seen.usable(1160) and
                not seen.controls.get(1038, (False,))[0])
    shot("win32_main_simple.png")
    press("alt+F4")
    probe.until("the exit question", "Quorvel", lambda seen: seen.usable(1, 2))
    shot("win32_exit_question.png")
    press("Return")
    wait_for("the window to close", lambda: not probe.ask(MAIN).tops, seen=lambda: str(probe.last))
    # The desktop ends with its last program, the probe among them.
    probe.process.stdin.close()
    probe.process.wait(WAIT_S)
    try:
        window.wait(WAIT_S)
    except subprocess.TimeoutExpired:
        raise Broken("the Wine desktop did not end within %d s of the window" % WAIT_S)
    if "MODE=1" not in read(settings):
        failures.append("the settings were not saved at exit:\n" + read(settings))

    # --- The flash: every chip holds the program and nothing else -------------------------
    sim.stdin.write("\n")
    sim.stdin.flush()
    sim_output.until("dumped", "the flash dumps")
    expected = flash_image(hexfile, 0xFE00)
    for name in ("vexil-01", "vexil-02", "locked"):
        path = os.path.join(dump, name + ".bin")
        if not os.path.exists(path) or open(path, "rb").read()[:0xFE00] != expected:
            failures.append("%s: the flash differs from the program file" % name)

    # --- The log, as the Linux window writes it --------------------------------------------
    text = read(log)
    if re.search(r"(?<!\r)\n", text):
        failures.append("the log has a line end without CR")
    text = re.sub(r"\d{4}/\d\d/\d\d \d\d:\d\d:\d\d", "<time>", text.replace("\r\n", "\n"))
    text = re.sub(r"USB Device Path: .*", "USB Device Path: <device path>",
                  text.replace(native(hexfile), "<program file>"))
    if text != open(os.path.join(os.path.dirname(__file__), "window_cycle.expected")).read():
        failures.append("the log differs from window_cycle.expected:\n" + text)

    # --- The installed console program: one Program cycle ---------------------------------
    cli_settings = os.path.join(work, "cli.ini")
    commands = os.path.join(work, "cycle.cd8")
    open(commands, "w").write("WRITE\nVERIFY\n")
    open(cli_settings, "w", newline="").write(
        "[Settings]\r\nTRGNAME=QX16A064\r\nMODE=1\r\nFILENUM=1\r\nFILENAME0=%s\r\n"
        "OFFSET0= 00000H\r\nCOMFILENAME=%s\r\nLOGFILENAME=%s\r\n"
        % (native(hexfile), native(commands), native(os.path.join(work, "cli.log"))))
    cli = wine([os.path.join(program_dir, "quorvel-cli.exe"), "program", "--settings",
                native(cli_settings), "--security-id", "1234 5678 9ABC DEF0"], env=env,
               stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=600)
    if cli.returncode != 0 or "Program: SUCCESS, 3 passed, 0 failed" not in cli.stderr:
        failures.append("the installed quorvel-cli.exe: exit %d\n%s" % (cli.returncode, cli.stderr))
    # --- Uninstall: only the user's files stay ----------------------------------------------
    sim.stdin.close()
    sim.wait(WAIT_S)
    sim = None
    wine([os.path.join(program_dir, "Uninstall.exe"), "/S"], env=env, capture_output=True,
         timeout=600)
    # The uninstaller runs on from a copy of itself: wait for the prefix's last program.
    subprocess.run([wineserver, "-w"], env=env, timeout=600)
    left = sorted(os.path.relpath(os.path.join(d, f), program_dir)
                  for d, _, files in os.walk(program_dir) for f in files)
    # The settings (with the lock file that guards them), the yield counters, the log and the
    # production record are the user's.
    if left != ["Quorvel-record.csv", "Quorvel-yield.ini", "Quorvel.ini", "Quorvel.ini.lock",
                "Quorvel.log"]:
        failures.append("the uninstaller left %s" % left)
    if glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Roaming", "Microsoft",
                              "Windows", "Start Menu", "Programs", "Quorvel")):
        failures.append("the Start menu entry stayed")
    if "TrgPath" in wine(["reg", "query", r"HKCU\Software\Ostrel\Zeph"], env=env,
                         capture_output=True, text=True, timeout=WAIT_S).stdout:
        failures.append("the TRG path value stayed")
except (Broken, OSError, subprocess.SubprocessError) as error:
    failures.append("the run broke off: %s" % error)
finally:
    for child in (probe.process if probe else None, sim, window):
        if child is not None and child.poll() is None:
            child.kill()
    if "WINEPREFIX" in env:
        subprocess.run([wineserver, "-k"], env=env, capture_output=True)
    if xvfb is not None:
        xvfb.terminate()
        xvfb.wait()
print(*("FAILED: " + f for f in failures), sep="\n")
print("%d passed, %d failed" % (not failures, bool(failures)))
sys.exit(1 if failures else 0)
