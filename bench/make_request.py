#!/usr/bin/env python3
"""Writes a copy-job request file for the worker.

usage: make_request.py OUT --dest DIR --source ROOT [--source ROOT...]
                       [--workers N] [--verify none|sampled|crc32|sha256|full]
                       [--read-ahead] [--preserve] [--policy N] [--retries N]
"""
import argparse
import struct

MODES = {"none": 0, "sampled": 1, "crc32": 2, "sha256": 3, "full": 4}


def text(value):
    data = value.encode("utf-8", "surrogateescape")
    return struct.pack("<I", len(data)) + data


def main():
    p = argparse.ArgumentParser()
    p.add_argument("out")
    p.add_argument("--dest", required=True)
    p.add_argument("--source", action="append", default=[])
    p.add_argument("--workers", type=int, default=8)
    p.add_argument("--verify", choices=MODES, default="none")
    p.add_argument("--read-ahead", action="store_true")
    p.add_argument("--preserve", action="store_true")
    p.add_argument("--policy", type=int, default=0)
    p.add_argument("--retries", type=int, default=1)
    a = p.parse_args()
    flags = 0
    if a.preserve:
        flags |= 1 | 2
    if a.read_ahead:
        flags |= 16
    out = b"QVCWREQ1" + struct.pack("<I", 3)
    out += struct.pack("<BBBB", 0, a.policy, MODES[a.verify], 0)
    out += struct.pack("<9I", a.workers, 1, 0, 4194304, a.retries, flags,
                       262144, 128, 256)
    out += text(a.dest)
    out += struct.pack("<I", len(a.source)) + b"".join(text(s) for s in a.source)
    out += struct.pack("<I", 0) + struct.pack("<I", 0)
    with open(a.out, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main()
