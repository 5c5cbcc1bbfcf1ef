#!/usr/bin/env python3
"""Quorvel.exe as an operator meets it, under Wine on a private X display: the installer runs
silently, the installed window plugs, writes and verifies three vexil-pipe-sim.exe adapters
through real key presses (one of them asks for its security ID, typed into the dialog), every
dialog and both view modes are grabbed to PNG, the installed quorvel-cli.exe runs a Program
cycle, and the uninstaller leaves only the user's files. Checks the flash dumps against the
program file byte for byte and the log against window_cycle.expected, which the Linux window
writes for the same run (time stamps and paths aside).

Usage: window_cycle_test.py SOURCE_DIR BUILD_DIR WORK_DIR WINE_RUN SETUP_EXE
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import time

source, build, work, wine_run, setup_exe = sys.argv[1:6]
prefix = os.path.join(work, "wineprefix")
shots = os.path.join(build, "screenshots")
failures = []
# Every wait has an upper bound: a window that never shows fails the test instead of hanging it.
WAIT_S = 60


wineserver = next(p for p in ("/usr/lib/wine/wineserver", shutil.which("wineserver") or "")
                  if p and os.access(p, os.X_OK))


def native(path):
    """A host path as the Windows programs name it (Wine shows the host's root as Z:)."""
    return "Z:" + path.replace("/", "\\")


def wine(args, **kw):
    return subprocess.run([wine_run, prefix] + args, **kw)


def wait_until(what, condition, timeout=WAIT_S):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    failures.append("waited in vain for " + what)
    return False


def read(path):
    return open(path, "rb").read().decode("latin-1") if os.path.exists(path) else ""


shutil.rmtree(work, ignore_errors=True)
os.makedirs(work)
os.makedirs(shots, exist_ok=True)

# A private display: the number Xvfb picks is one no other server holds.
read_end, write_end = os.pipe()
xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x880x24",
                         "-nolisten", "tcp"], pass_fds=[write_end], stdin=subprocess.DEVNULL,
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
os.close(write_end)
display = ":" + os.read(read_end, 16).decode().strip()
os.close(read_end)
env = dict(os.environ, WINE_RUN_DISPLAY=display, DISPLAY=display, WINEPREFIX=prefix,
           WINEDEBUG="-all")
sim = None
window = None


def xdo(*args):
    return subprocess.run(["xdotool"] + list(args), env=env, capture_output=True, text=True)


def grab():
    return subprocess.run(["import", "-window", "root", "rgb:-"], env=env,
                          capture_output=True).stdout


def settled_after(before):
    """Waits until the screen differs from before and has stopped changing."""
    state = {"last": None}

    def changed_and_still():
        now = grab()
        still = now == state["last"] and now != before
        state["last"] = now
        return still

    return wait_until("the screen to change", changed_and_still)


def shot(name):
    subprocess.run(["import", "-window", "root", os.path.join(shots, name)], env=env, check=False)


def keys(*names):
    """Key presses as the operator makes them: the screen is grabbed before, and the call
    returns once it has changed and settled."""
    before = grab()
    xdo("key", "--delay", "60", *names)
    settled_after(before)


try:
    # --- Install silently, per user -------------------------------------------------------
    installed = wine([setup_exe, "/S"], env=env, capture_output=True, timeout=300)
    if installed.returncode != 0:
        failures.append("the installer exited with %d" % installed.returncode)
    homes = glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Local",
                                   "Programs", "Quorvel"))
    if len(homes) != 1:
        raise OSError("the installer left no program folder")
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
                    capture_output=True, text=True).stdout
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
    devices = []
    for line in sim.stdout:
        if line.strip() == "ready":
            break
        devices.append(line.strip())
    else:
        raise OSError("the simulator ended before it was ready")
    env["VEXIL_PIPE_DEVICES"] = ";".join(devices)

    # --- The window, as a newcomer would work it -------------------------------------------
    hexfile = os.path.join(source, "examples", "programs", "demo-qx16a064.hex")
    settings = os.path.join(program_dir, "Quorvel.ini")
    open(settings, "w", newline="").write(
        "[Settings]\r\nTRGNAME=QX16A064\r\nMODE=0\r\nFILENUM=1\r\nFILENAME0=%s\r\n"
        "OFFSET0= 00000H\r\n" % native(hexfile))
    log = os.path.join(program_dir, "Quorvel.log")
    before = grab()
    window = subprocess.Popen([wine_run, prefix, "explorer", "/desktop=Quorvel,1024x880",
                               "C:\\users\\%s\\AppData\\Local\\Programs\\Quorvel\\Quorvel.exe"
                               % program_dir.split(os.sep)[-5]],
                              env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    wait_until("the Wine desktop", lambda: xdo("search", "--name", "Wine desktop").stdout)
    desktop = xdo("search", "--name", "Wine desktop").stdout.split()[0]

    def window_drawn():
        # The main window covers more than a third of the screen; the desktop is one colour.
        pixels = grab()
        samples = [pixels[i:i + 3] for i in range(0, len(pixels) - 3, 3 * 101)]
        return samples.count(samples[0]) < len(samples) * 2 // 3

    wait_until("the main window", window_drawn)
    settled_after(b"")
    xdo("windowfocus", "--sync", desktop)
    shot("win32_main_detail.png")

    # Plug: targets 1 and 2 plug, target 3 asks for its ID; the caret runs on by itself.
    keys("alt+p")
    shot("win32_security_id.png")
    before = grab()
    xdo("type", "--delay", "60", "123456789abcdef0")
    xdo("key", "Return")
    wait_until("the plug", lambda: "Target 3: Plug" in read(log))
    settled_after(before)
    shot("win32_main_plugged.png")

    keys("alt+s")
    shot("win32_serialization.png")
    keys("Escape")

    # Write, and Verify behind it ("Write with Verify" is ticked).
    keys("alt+w")
    wait_until("the verify", lambda: "Target 3: Verify" in read(log))
    keys("alt+k", "alt+k")  # All Check twice: the rows are ticked again, the window redrawn
    shot("win32_main_verified.png")
    keys("alt+p")
    wait_until("the unplug", lambda: "Target 3: Unplug" in read(log))

    keys("alt+u")
    shot("win32_about.png")
    keys("Return")
    keys("F10", "s", "t")
    shot("win32_select_target.png")
    keys("Escape")
    keys("F10", "f", "a")
    shot("win32_program_files.png")
    keys("Escape")
    keys("F10", "v", "s")
    shot("win32_main_simple.png")
    keys("alt+F4")
    shot("win32_exit_question.png")
    xdo("key", "Return")
    try:
        window.wait(WAIT_S)
    except subprocess.TimeoutExpired:
        failures.append("the window did not end after the exit question")
    if "MODE=1" not in read(settings):
        failures.append("the settings were not saved at exit:\n" + read(settings))

    # --- The flash: every chip holds the program and nothing else -------------------------
    sim.stdin.write("\n")
    sim.stdin.flush()
    for line in sim.stdout:
        if line.strip() == "dumped":
            break
    image = {}
    for line in open(hexfile):
        count, address = int(line[1:3], 16), int(line[3:7], 16)
        if line[7:9] == "00":
            image.update((address + i, int(line[9 + 2 * i:11 + 2 * i], 16)) for i in range(count))
    expected = bytes(image.get(a, 0xFF) for a in range(0xFE00))
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
               stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=300)
    if cli.returncode != 0 or "Program: SUCCESS, 3 passed, 0 failed" not in cli.stderr:
        failures.append("the installed quorvel-cli.exe: exit %d\n%s" % (cli.returncode, cli.stderr))
    # --- Uninstall: only the user's files stay ----------------------------------------------
    sim.stdin.close()
    sim.wait(120)
    sim = None
    wine([os.path.join(program_dir, "Uninstall.exe"), "/S"], env=env, capture_output=True,
         timeout=300)
    # The uninstaller runs on from a copy of itself: wait for the prefix's last program.
    subprocess.run([wineserver, "-w"], env=env, timeout=300)
    left = sorted(os.path.relpath(os.path.join(d, f), program_dir)
                  for d, _, files in os.walk(program_dir) for f in files)
    # The settings, the yield counters, the log and the production record are the user's.
    if left != ["Quorvel-record.csv", "Quorvel-yield.ini", "Quorvel.ini", "Quorvel.log"]:
        failures.append("the uninstaller left %s" % left)
    if glob.glob(os.path.join(prefix, "drive_c", "users", "*", "AppData", "Roaming", "Microsoft",
                              "Windows", "Start Menu", "Programs", "Quorvel")):
        failures.append("the Start menu entry stayed")
    if "TrgPath" in wine(["reg", "query", r"HKCU\Software\Ostrel\Zeph"], env=env,
                         capture_output=True, text=True).stdout:
        failures.append("the TRG path value stayed")
except (OSError, subprocess.SubprocessError, StopIteration) as error:
    failures.append("the run broke off: %r" % error)
finally:
    if sim is not None:
        sim.stdin.close()
        sim.kill()
    if window is not None and window.poll() is None:
        window.kill()
    subprocess.run([wineserver, "-k"], env=env, capture_output=True)
    xvfb.terminate()
    xvfb.wait()
print(*("FAILED: " + f for f in failures), sep="\n")
print("%d passed, %d failed" % (not failures, bool(failures)))
sys.exit(1 if failures else 0)
