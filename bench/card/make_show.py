#!/usr/bin/env python3
"""Writes a KAVQ1 file of synthetic HD 1080p50 frame slots for the card
benchmarks: every slot carries a sound chunk header and a KVQ1 frame header
that the copy path accepts (size class 1, rate code 50, 768 sectors, frames
numbered from 0); the pictures themselves do not decode.
Usage: make_show.py OUT.kavq1 FRAMES"""
import struct
import sys

CLUSTER = 12288
SLOT = 33 * CLUSTER


def main():
    out, frames = sys.argv[1], int(sys.argv[2])
    body = bytearray(SLOT)
    for i in range(32, CLUSTER, 4):
        body[i:i + 4] = b"\x11\x22\x33\x44"
    for i in range(CLUSTER + 32, SLOT, 8):
        body[i:i + 8] = b"\x5a\xa5\x0f\xf0\x01\x02\x03\x04"
    body[0:4] = b"KAQ1"
    body[4] = 0x85
    struct.pack_into(">H", body, 12, (32 + 5760) // 4)  # the share of rate code 50
    body[CLUSTER:CLUSTER + 4] = b"KVQ1"
    body[CLUSTER + 4] = 1
    body[CLUSTER + 5] = 50
    struct.pack_into(">H", body, CLUSTER + 6, 768)
    with open(out, "wb") as f:
        for n in range(frames):
            struct.pack_into(">I", body, 8, n)
            struct.pack_into(">I", body, CLUSTER + 8, n)
            f.write(body)


if __name__ == "__main__":
    main()
