#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets into tests/fuzz/corpus/<target>/seed-*.

Seeds are the project's own examples (examples/TRG, the address and offset texts the window
shows, HEX and S files made here, valid reply frames of every command) laid out as each target
reads its input. Most targets take their selectors from the back of the input the way
FuzzedDataProvider does: the first integral consumed is the last byte, multi-byte integrals are
read most significant byte first from the end. Inputs found while fuzzing are kept next to the
seeds under other names; this script only rewrites seed-* files.

Run: python3 tests/fuzz/make_seeds.py
"""
import glob
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
CORPUS = os.path.join(HERE, "corpus")


class Input:
    """Front bytes (ConsumeBytes) and back integrals (ConsumeIntegral*), in consumption order."""

    def __init__(self):
        self.front = bytearray()
        self.back = bytearray()  # consumption order

    def bytes(self, b):
        self.front += b
        return self

    def integral(self, value, lo, hi):
        # The bytes FuzzedDataProvider pulls for the range, most significant first.
        rng = hi - lo
        v = value - lo
        n = 0
        while n < 8 and (rng >> (8 * n)) > 0:
            n += 1
        for i in reversed(range(n)):
            self.back.append((v >> (8 * i)) & 0xFF)
        return self

    def u8(self, v):
        return self.integral(v, 0, 0xFF)

    def data(self):
        return bytes(self.front) + bytes(reversed(self.back))


def write_seeds(target, seeds):
    d = os.path.join(CORPUS, target)
    os.makedirs(d, exist_ok=True)
    for old in glob.glob(os.path.join(d, "seed-*")):
        os.remove(old)
    for name, data in seeds:
        with open(os.path.join(d, "seed-" + name), "wb") as f:
            f.write(data)


def trg_files():
    files = sorted(glob.glob(os.path.join(ROOT, "examples", "TRG", "*.TRG")))
    return [(os.path.splitext(os.path.basename(f))[0], open(f, "rb").read()) for f in files]


# --- HEX and S files -----------------------------------------------------------------------

def hex_record(kind, address, data):
    body = bytes([len(data), (address >> 8) & 0xFF, address & 0xFF, kind]) + data
    return ":" + (body + bytes([(-sum(body)) & 0xFF])).hex().upper() + "\r\n"


def hex_file(chunks, linear=None):
    out = ""
    if linear is not None:
        out += hex_record(4, 0, struct.pack(">H", linear))
    for address, data in chunks:
        out += hex_record(0, address, data)
    return (out + ":00000001FF\r\n").encode()


def s_record(kind, address, data):
    width = {0: 2, 1: 2, 2: 3, 3: 4, 5: 2, 7: 4, 8: 3, 9: 2}[kind]
    body = bytes([width + len(data) + 1]) + address.to_bytes(width, "big") + data
    return "S%d" % kind + (body + bytes([0xFF - (sum(body) & 0xFF)])).hex().upper() + "\n"


def s_file(kind, chunks):
    out = s_record(0, 0, b"QUORVEL")
    for address, data in chunks:
        out += s_record(kind, address, data)
    return (out + s_record(10 - kind, 0, b"")).encode()


def program_seeds():
    ramp = bytes(range(32))
    files = [
        ("hex-small", hex_file([(0x0000, ramp), (0x0020, ramp), (0xFDF0, ramp[:16])])),
        ("hex-linear", hex_file([(0xF000, ramp), (0xFFF0, ramp)], linear=1)),
        ("hex-test-area", hex_file([(0xFC00, ramp), (0xFE00, ramp)], linear=1)),
        ("s1", s_file(1, [(0x0100, ramp), (0x0120, ramp)])),
        ("s2", s_file(2, [(0x01F000, ramp), (0x01F400, ramp)])),
        ("s3", s_file(3, [(0x00000000, ramp), (0x0001FBF0, ramp)])),
        ("hex-bad-end", hex_file([(0, ramp)]).replace(b":00000001FF", b":00000001ff ")),
    ]
    seeds = []
    for name, text in files:
        # Small target, offset 0; larger target, a small signed offset; larger, raw offset.
        seeds.append((name + "-small", Input().bytes(text).integral(0, 0, 2).integral(0, 0, 2).data()))
        seeds.append((name + "-large-offset",
                      Input().bytes(text).integral(1, 0, 2).integral(1, 0, 2)
                      .integral(-0x100 + 0x20000, 0, 0x40000).data()))
        seeds.append((name + "-large-raw",
                      Input().bytes(text).integral(1, 0, 2).integral(2, 0, 2)
                      .integral(0x80001000, 0, 0xFFFFFFFF).data()))
    return seeds


# --- reply frames --------------------------------------------------------------------------

FIX_ALL = 0x10 | 0x20 | 0x40  # magic, sequence and length set by the adapter stand-in
WRITE_TAKEN = 31


def reply(inp, payload, write=True):
    """One request answered: the write is taken, the read gets a fixed-up frame."""
    if write:
        inp.integral(WRITE_TAKEN, 0, 31)
    big = len(payload) > 24
    inp.u8(FIX_ALL | 3 | (0x80 if big else 0))
    inp.integral(len(payload), 0, 4200 if big else 24)
    inp.bytes(bytes(16) + payload)


def reply_seeds():
    seeds = []

    def step(name, command, args, payloads, halves=None):
        inp = Input()
        inp.u8(command)
        for value, lo, hi in args:
            inp.integral(value, lo, hi)
        for p in payloads:
            reply(inp, p)
        seeds.append((name, inp.data()))

    ok = b"\x00\x00"
    step("write", 0, [(16, 0, 1000), (0x1000, 0, 0xFFFFFFFF)], [ok])
    step("read-block", 3, [(8, 0, 1000), (0x20, 0, 0xFFFFFFFF)], [ok + b"\x00\x08" + bytes(range(8))])
    step("read-word", 4, [(0x100, 0, 0xFFFFFFFF)], [ok + b"\x00\x02\xAB\xCD"])
    step("erase-chip", 5, [], [ok])
    step("erase-block", 8, [(0x2000, 0, 0xFFFFFFFF)], [ok + b"\x00"])
    step("unlock", 11, [(4, 0, 255)], [ok])
    step("read-protect", 12, [], [ok + b"\x00\x01"])
    step("chip-reset", 13, [], [ok])
    step("system-reset", 14, [(2, 0, 255)], [ok + b"\x01"])
    step("id64", 17, [], [ok + bytes.fromhex("510408000A163064")])
    step("id128", 18, [], [ok + bytes.fromhex("00515A470000001313140000" + "6A475120")])
    step("set-target-info", 19, [(0, 0, 0xFFFF), (0x7FFF, 0, 0xFFFF), (0xFDF0, 0, 0xFFFFFFFF)], [ok])
    step("remove-power-on", 20, [], [ok + b"\x00"])
    step("adapter-status", 5, [], [b"\x63\x05"])

    # Get text: the firmware version into a 10-byte buffer (size drawn from the short range).
    inp = Input().u8(21).u8(1).integral(10, 0, 80).integral(0x3F02, 0, 0xFFFF)
    reply(inp, ok + b"\x04" + b"1.23")
    seeds.append(("get-text", inp.data()))

    # Split halves: erase block and system reset sent, then collected.
    inp = Input().u8(9).integral(0x4000, 0, 0xFFFFFFFF)
    inp.integral(WRITE_TAKEN, 0, 31)
    inp.u8(10)
    reply(inp, ok + b"\x00", write=False)
    inp.u8(15).u8(2)
    inp.integral(WRITE_TAKEN, 0, 31)
    inp.u8(16)
    reply(inp, ok + b"\x00", write=False)
    seeds.append(("halves", inp.data()))

    # CFlashApi: a block read of 2 KiB in chunks of 1000, 1000 and 48 bytes.
    inp = Input().u8(22).integral(0x800, 0, 0x2400)
    for n in (1000, 1000, 48):
        reply(inp, ok + struct.pack(">H", n) + bytes([0x5A]) * n)
    seeds.append(("api-read-block", inp.data()))

    # CFlashApi: a write of 1200 bytes over two chunks.
    inp = Input().u8(24).integral(1200, 1, 2500).integral(0x100, 0, 0x2000)
    reply(inp, ok)
    reply(inp, ok)
    seeds.append(("api-write", inp.data()))

    # Faults: no reply, a failed read, an empty reply, a wrong sequence number.
    for name, mode in (("no-reply", 0), ("read-fails", 1), ("empty", 2)):
        inp = Input().u8(13).integral(WRITE_TAKEN, 0, 31).u8(mode)
        seeds.append((name, inp.data()))
    inp = Input().u8(13).integral(WRITE_TAKEN, 0, 31).u8(0x10 | 0x40 | 3).integral(2, 0, 24)
    inp.bytes(b"CHPM\x01\x07" + bytes(10) + ok)
    seeds.append(("wrong-sequence", inp.data()))
    return seeds


# Multi-target script: each step is op, target, a, b from the back; the rest of the input feeds
# the middle adapter's replies.
MT_OPS = ["set-plug", "reset-plug", "reset", "reset-all", "check-name", "check-firm", "protected",
          "sec-id", "sec-type", "chip-erase-all", "block-erase-all", "write-all", "write-all-sn",
          "read", "enable", "set-status", "firm-text", "led-update", "led", "serial", "plug"]


def mt_input(steps, answers):
    """steps: (op name, n, a, b); answers: payloads the middle adapter gives, in order."""
    r = Input()
    for payload in answers:
        r.integral(15, 0, 15)  # the write is taken
        big = len(payload) > 40
        r.u8(4 | 0x80 if big else 4)
        r.integral(len(payload), 0, 2100 if big else 40)
        r.bytes(payload)
    m = Input().bytes(r.data())
    m.integral(len(steps), 0, 32)
    for op, n, a, b in steps:
        m.integral(MT_OPS.index(op), 0, len(MT_OPS) - 1)
        m.integral(n, 0, 4)
        m.integral(a, 0, 0xFFFFFFFF)
        m.integral(b, 0, 0xFFFFFFFF)
    return m.data()


def multi_target_seeds():
    ok = b"\x00\x00"
    plug = []
    for n in (1, 2, 3):
        plug += [("set-plug", n, 1, 0), ("reset-plug", n, 0, 0), ("check-name", n, 0, 0),
                 ("set-plug", n, 2, 0), ("check-firm", n, 0, 0), ("protected", n, 0, 0)]
    # The middle adapter answers its plug like a sound QX16A064 with firmware 1.10.
    plug_answers = [ok + b"\x03", ok + bytes.fromhex("0002040012345678"), ok,
                    ok + b"\x04" + b"1.10", ok + b"\x00\x00"]
    work = [("set-status", 3, 0, 0), ("sec-id", 3, 4, 1), ("chip-erase-all", 0, 0, 0),
            ("write-all", 0, 0x0FFF << 16, 0x11), ("read", 2, 0x1000, 0),
            ("firm-text", 2, 11, 0), ("serial", 2, 4, 0x30), ("write-all-sn", 0, 0x0010 << 16, 0x00100101)]
    work_answers = [ok] + [ok] * 5 + [ok + b"\x03\xE8" + bytes([0x5A]) * 1000] * 4 + \
                   [ok + b"\x00\x60" + bytes(0x60)] + [ok]
    whole_plug = [("plug", n, 0, 0) for n in (1, 2, 3)]
    seeds = [("plug-write-read", mt_input(plug + work, plug_answers + work_answers)),
             ("whole-plug-erase", mt_input(whole_plug + [("set-status", 3, 0, 0), ("sec-id", 3, 4, 1),
                                                         ("block-erase-all", 0, 0x1000, 0)],
                                           plug_answers + [ok])),
             ("plug-silent-middle", mt_input(plug + work, [])),
             ("chip-name", mt_input([("set-plug", 2, 1, 0), ("check-name", 2, 1, 0), ("check-firm", 2, 0, 0)],
                                    [ok + bytes(16), ok + b"\x05" + b"16064", ok + b"\x04" + b"2.00"])),
             ("bad-firm", mt_input([("set-plug", 2, 2, 0), ("check-firm", 2, 0, 0), ("firm-text", 2, 8, 0)],
                                   [ok + b"\x0A" + b"1.1a234567"])),
             ("reset-all", mt_input([("set-plug", 0, 0, 0), ("reset-all", 0, 0, 0), ("block-erase-all", 0, 0x1000, 0)],
                                    [b"\x00\x01", b"\x63\x05"]))]
    return seeds


# --- texts ---------------------------------------------------------------------------------

ADDRESSES = ["0FFFFH", "1:2000H", "0x1000", "1000", "1:", "12G", "0x1:2345H", "100:0", "FF:FFFFFFH",
             "1FEFFFFH", " 0:0000H ", "7F7FFH", "1:F3FFH", "0XFFH:FH", ":"]
OFFSETS = ["+00000H", " 00100H", "-1F", "x10", "+FFFFFH", "-01000H", "-1000000H", "+1FEFFFFH",
           "12345H", " 12345H", "-", "+0x10", "-0:1H"]
HEX_BYTES = ["1234", "0x12H", "12G4", "00001234", "0X:12", "ABCDEF0123456789", " 1 ", "H", ""]


def main():
    trgs = trg_files()
    write_seeds("trg_reader", [(n, d) for n, d in trgs] +
                [("three", b"\n~~~\n".join(d for _, d in trgs[:3]))])

    profile = []
    for name, content in trgs + [("settings", b"[Settings]\r\nTRGNAME=QX16A064\r\nFILENUM=1\r\n"
                                              b"FILENAME0=/tmp/a.hex\r\nOFFSET0=-01000H\r\n"
                                              b"SERIALNUM=00000001\r\nSERIALNUMLEN=4\r\n"),
                                 ("quirks", b"; c\r\n[ s ]\r\nk = \"v\" \r\nn=0x1F\r\n[s\rk=2\n[]\n=e\n")]:
        for op in (0, 2, 8, 12):
            inp = Input().bytes(b"NEWVALUE").bytes(b"Key").bytes(content)
            inp.u8(op).u8(1).u8(2).integral(5, 0, 40).integral(8, 0, 64).integral(3, 0, 16)
            profile.append(("%s-%d" % (name, op), inp.data()))
    write_seeds("profile", profile)

    write_seeds("adrs_to_num", [("%02d" % i, a.encode()) for i, a in enumerate(ADDRESSES)])
    write_seeds("address_text", [("%02d" % i, a.encode()) for i, a in enumerate(ADDRESSES)])
    write_seeds("offset_text", [("%02d" % i, a.encode()) for i, a in enumerate(OFFSETS + ADDRESSES)])
    hb = []
    for i, t in enumerate(HEX_BYTES):
        for requested in (4, 256):
            inp = Input().bytes(t.encode()).u8(1).integral(requested, 0, 320)
            hb.append(("%02d-%d" % (i, requested), inp.data()))
        inp = Input().bytes(t.encode()).u8(0).integral(3, 0, 300).integral(4, 0, 320)
        hb.append(("%02d-small-field" % i, inp.data()))
    write_seeds("hex_bytes", hb)
    write_seeds("program_reader", program_seeds())
    write_seeds("reply_frame", reply_seeds())
    write_seeds("multi_target", multi_target_seeds())


if __name__ == "__main__":
    main()
