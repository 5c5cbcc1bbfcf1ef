#!/usr/bin/env python3
"""Checks the JSON lines of one quorvel-cli run and prints a digest of them.

Every line must parse, carry schema 1, the run's one run_id, an ISO 8601 time with its offset
and the host, and hold exactly the fields of its type; the run line must come last, and its
counts must equal the boards told by the target lines (each board's last line of its cycle
among the command's board operations). The digest has one line per target, summary, adapter
and run line: "type operation target-or-result status-or-failed serial".

Usage: json_lines.py LINES [EXIT_CODE]
"""
import json
import re
import sys

STAMP = {"schema", "type", "run_id", "time", "host"}
FIELDS = {
    "target": {"operation", "target", "device_path", "serial_number", "status", "status_hex",
               "message", "duration_ms"},
    "summary": {"operation", "result", "outcome", "passed", "failed", "cancelled", "duration_ms",
                "record", "log"},
    "message": {"number", "icon", "text"},
    "adapter": {"target", "device_path", "firmware", "chip_name", "matches", "protection",
                "status", "status_hex", "message"},
    "check": {"target_type", "areas", "test_area", "block_size", "files", "erased_not_written",
              "checksum", "fill", "serial_numbers", "write_would_start"},
    "run": {"command", "cycles", "passed", "failed", "yield", "serial_first", "serial_last",
            "exit_code"},
}
OPTIONAL = {"message": {"answer", "file"}}
BOARDS = {"program": {"program"}, "write": {"write", "verify"}, "verify": {"verify"},
          "erase": {"erase"}, "save": {"save"}, "plug": {"plug"}}
TIME = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d([+-]\d\d:\d\d|Z)$")


def main():
    lines = [json.loads(line) for line in open(sys.argv[1], encoding="utf-8")]
    assert lines, "no JSON line"
    run_ids = {o["run_id"] for o in lines}
    assert len(run_ids) == 1, run_ids
    boards = {}
    for number, o in enumerate(lines):
        kind = o["type"]
        keys = set(o) - STAMP - {"cycle"}
        assert o["schema"] == 1 and TIME.match(o["time"]) and o["host"], o
        assert FIELDS[kind] <= keys <= FIELDS[kind] | OPTIONAL.get(kind, set()), o
        # Operations run within a cycle; the run line tells the whole run.
        assert kind != "run" or "cycle" not in o, o
        assert kind not in ("target", "summary") or o.get("cycle", 0) >= 1, o
        if kind == "target":
            assert o["status_hex"] == "0x%04X" % o["status"], o
            if o["operation"] in BOARDS.get(lines[-1].get("command"), ()):
                boards[(o.get("cycle"), o["target"])] = o["status"]
            print(kind, o["operation"], o["target"], o["status"], o["serial_number"])
        elif kind == "summary":
            print(kind, o["operation"], o["result"], o["failed"], "")
        elif kind == "adapter":
            print(kind, o["target"], o["chip_name"], o["status"], o["protection"])
        elif kind == "run":
            assert number == len(lines) - 1, "the run line comes last"
            passed = sum(1 for s in boards.values() if s == 0)
            assert (o["passed"], o["failed"]) == (passed, len(boards) - passed), (o, boards)
            if len(sys.argv) > 2:
                assert o["exit_code"] == int(sys.argv[2]), o
            print(kind, o["cycles"], o["passed"], o["failed"], o["exit_code"])
    assert lines[-1]["type"] == "run", "the last line is the run line"


main()
