#!/usr/bin/env python3
"""Writes the seed inputs of the chipset-check fuzz target into corpus/.

Layout of an input: byte 0 failure flags (1 open, 2 close, 4 enumeration at
the index in byte 1), byte 1 that index, then names, each a 16-bit
little-endian length and that many UTF-16LE units.
"""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def name(units):
    if isinstance(units, str):
        data = units.encode("utf-16-le")
    else:
        data = b"".join(struct.pack("<H", u) for u in units)
    return struct.pack("<H", len(data) // 2) + data


def seed(flags, index, *names):
    return bytes([flags, index]) + b"".join(name(n) for n in names)


LISTED = ["1039:0530", "1039:0620", "10B9:0533", "10B9:1533", "1106:0596",
          "1106:0686", "1166:004F", "1166:0050", "8086:7110"]


def key(ids, rest="&SUBSYS_00000000&REV_01"):
    vendor, device = ids.split(":")
    return "VEN_%s&DEV_%s%s" % (vendor, device, rest)


SEEDS = {
    "ok-and-broken": seed(0, 0, key("1AF4:1041"), key("8086:7110")),
    "all-listed": seed(0, 0, *[key(i) for i in LISTED]),
    "near-misses": seed(0, 0, key("8086:7111"), key("1166:004f"),
                        key("1040:0530"), key("1039:0620", "")),
    "enum-fails-after-broken": seed(4, 1, key("8086:7110"), key("1AF4:1041")),
    "close-fails": seed(2, 0, key("8086:7110")),
    "open-fails": seed(1, 0, key("8086:7110")),
    "empty": seed(0, 0),
    "short-names": seed(0, 0, "", "VEN_", "VEN_8086&DEV_71", "VEN_8086&DEV_7110"),
    "long-names": seed(0, 0, key("8086:7110", "X" * 215), key("8086:7110", "Y" * 216)),
    "odd-characters": seed(0, 0, [0x56, 0x45, 0x4E, 0x5F, 0xE9, 0x0A, 0x1B, 0x7F],
                           [0xD83D, 0xDE00, 0x41, 0xDC00, 0xD800],
                           "VEN_8086\0DEV_7110"),
}

os.makedirs(os.path.join(HERE, "corpus"), exist_ok=True)
for label, data in SEEDS.items():
    with open(os.path.join(HERE, "corpus", label), "wb") as out:
        out.write(data)
