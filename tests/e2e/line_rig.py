"""Stations of a line, for the line tests and the stations benchmark: a PostgreSQL server of
their own (tests/linedb/pg_scratch.sh) and stations that each run quorvel-cli with their own
vexil-sim, device directory, settings file, log and production record."""
import csv
import glob
import json
import os
import shutil
import signal
import subprocess
import threading

SERIAL_AT = 0x8000
SKIP = 77


class Skip(Exception):
    pass


class Server:
    """A scratch server; sql() runs a query through psql and answers its rows."""

    def __init__(self, source, work):
        self.script = os.path.join(source, "tests", "linedb", "pg_scratch.sh")
        self.state = os.path.join(work, "pg.state")
        run = subprocess.run([self.script, "start", self.state], capture_output=True, text=True)
        if run.returncode == SKIP:
            raise Skip(run.stderr.strip())
        if run.returncode != 0:
            raise RuntimeError("pg_scratch.sh start: " + run.stderr)
        self.base = run.stdout.strip()
        found = [p for p in glob.glob("/usr/lib/postgresql/*/bin/psql")] + [shutil.which("psql")]
        self.psql = next(p for p in found if p)

    def connection(self, db):
        return self.base.replace("dbname=postgres", "dbname=" + db)

    def sql(self, db, query):
        run = subprocess.run([self.psql, "-X", "-q", "-At", "-F", "\t", "-v", "ON_ERROR_STOP=1",
                              "-d", self.connection(db), "-c", query],
                             capture_output=True, text=True)
        if run.returncode != 0:
            raise RuntimeError("psql: " + run.stderr)
        return [line.split("\t") for line in run.stdout.splitlines()]

    def control(self, command):
        subprocess.run([self.script, command, self.state], check=True)

    def destroy(self):
        subprocess.run([self.script, "destroy", self.state])


def settings_text(**keys):
    return "[Settings]\r\n" + "".join("%s=%s\r\n" % kv for kv in keys.items())


class Station:
    """One PC of the line: its simulator with `boards` QX16A064 adapters (no timing model
    unless timed: then the simulator's own) and its quorvel-cli settings."""

    def __init__(self, name, source, bindir, work, line, pool="line", boards=4, timed=False):
        self.name, self.bindir, self.boards = name, bindir, boards
        self.dir = os.path.join(work, name)
        os.makedirs(self.dir)
        self.dev, self.dumps = os.path.join(self.dir, "dev"), os.path.join(self.dir, "dump")
        self.settings = os.path.join(self.dir, "Quorvel.ini")
        self.record = os.path.join(self.dir, "record.csv")
        self.err = os.path.join(self.dir, "cli.err")
        self.hexfile = os.path.join(source, "examples", "programs", "demo-qx16a064.hex")
        setup = os.path.join(self.dir, "setup.ini")
        open(setup, "w").write(
            "[SIMULATOR]\nADAPTERS=1\nTRGDIR=%s/examples/TRG\n[ADAPTER1]\nTRG=QX16A064\n"
            "COUNT=%d\n%s" % (source, boards,
                               "" if timed else "LATENCY_US=0\nERASE_BLOCK_US=0\nWRITE_BYTE_NS=0\n"))
        commands = os.path.join(self.dir, "cycle.cd8")
        open(commands, "w").write("WRITE\nVERIFY\n")
        self.keys = dict(TRGNAME="QX16A064", MODE="1", FILENUM="1", FILENAME0=self.hexfile,
                         OFFSET0=" 00000H", COMFILENAME=commands,
                         LOGFILENAME=os.path.join(self.dir, "cli.log"),
                         RECORDFILENAME=self.record, SERIALNUMFLG="1", SERIALNUM="00000001",
                         SERIALNUMINC="00000001", SERIALNUMLEN="4", SERIALNUMINCLEN="4",
                         SERIALNUMADDR="0x%05X" % SERIAL_AT, LINEDB=line, STATION=name,
                         SERIALPOOL=pool)
        self.write_settings()
        self.env = dict(os.environ, VEXIL_DEVICE_DIR=self.dev)
        self.sim = subprocess.Popen([os.path.join(bindir, "vexil-sim"), "--device-dir", self.dev,
                                     "--dump-dir", self.dumps, setup],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                                    env=self.env)
        if not any(l.strip() == "ready" for l in self.sim.stdout):
            raise RuntimeError(name + ": the simulator ended before it was ready")

    def write_settings(self, **changes):
        self.keys.update(changes)
        open(self.settings, "w", newline="").write(settings_text(**self.keys))

    def device(self, n):
        return os.path.join(self.dev, "vexil-%02d" % n)

    def dump(self):
        """Every board's flash now, by device path."""
        self.sim.send_signal(signal.SIGUSR1)
        for line in self.sim.stdout:
            if line.strip() == "dumped":
                break
        return {self.device(n): open(os.path.join(self.dumps, "vexil-%02d.bin" % n), "rb").read()
                for n in range(1, self.boards + 1)}

    def cli(self, *args):
        return subprocess.run([os.path.join(self.bindir, "quorvel-cli")] + list(args) +
                              ["--settings", self.settings], env=self.env,
                              stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              timeout=300)

    def cycles(self, count, after_cycle=None, interval=None):
        """count Program cycles in one quorvel-cli run; after_cycle(index, lines) runs between
        them (the JSON lines of the cycle) before the next one starts. Answers the exit status
        and every cycle's JSON lines."""
        args = [os.path.join(self.bindir, "quorvel-cli"), "program", "--json", "--cycles",
                str(count), "--settings", self.settings]
        if interval is not None:
            args += ["--interval", str(interval)]
        cycles, lines = [], []
        with open(self.err, "a") as err:
            cli = subprocess.Popen(args, env=self.env, stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, stderr=err, text=True)
            for text in cli.stdout:
                line = json.loads(text)
                lines.append(line)
                if line["type"] == "summary" and line["operation"] == "program":
                    cycles.append(lines)
                    if after_cycle:
                        after_cycle(len(cycles) - 1, lines)
                    lines = []
                    if interval is None and len(cycles) < count:
                        cli.stdin.write("\n")
                        cli.stdin.flush()
            cli.stdin.close()
            return cli.wait(timeout=300), cycles

    def record_rows(self):
        if not os.path.exists(self.record):
            return []
        return list(csv.DictReader(open(self.record, newline="", encoding="utf-8")))

    def outbox(self):
        path = self.record + ".outbox"
        return open(path).read() if os.path.exists(path) else ""

    def close(self):
        self.sim.terminate()
        self.sim.wait(60)


def run_stations(stations, count, after_cycle=None, interval=None):
    """The stations' cycles at once, one thread each; answers {station: (status, cycles)}."""
    results = {}

    def one(station):
        hook = (lambda i, lines: after_cycle(station, i, lines)) if after_cycle else None
        results[station.name] = station.cycles(count, hook, interval)

    threads = [threading.Thread(target=one, args=(s,)) for s in stations]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    return results


def serial_of(flash):
    number = flash[SERIAL_AT:SERIAL_AT + 4]
    return None if number == b"\xff" * 4 else number.hex().upper()
