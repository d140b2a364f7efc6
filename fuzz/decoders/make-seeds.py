#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_decoders (run from this folder): for each
decoder a small valid packed block behind the six parameter bytes that
FuzzDecoders.cpp reads."""
import os
import struct

SEEDS = "seeds"


def seed(name, kind, packed, room, width=8, flags=0):
    os.makedirs(SEEDS, exist_ok=True)
    with open(os.path.join(SEEDS, name), "wb") as f:
        f.write(struct.pack("<BBHH", kind, flags, width, room) + bytes(packed))


seed("packbits", 0, [0x02, 1, 2, 3, 0xFE, 9, 0x80, 0x00, 7], 7)
seed("pcx", 1, [0xC3, 7, 0x41, 0xC0, 9, 0x42], 5)
seed("sgi8", 2, [0x83, 1, 2, 3, 0x02, 4, 0x00], 5)
seed("sgi16", 3, [0, 0x82, 1, 2, 3, 4, 0, 3, 9, 8, 0, 0], 10)
seed("cut", 4, [5, 0, 0x83, 5, 0x02, 1, 2, 0x00], 5)
seed("psp", 5, [0x83, 6, 0x02, 1, 2, 0x80, 0x99, 0x01, 3], 6)
seed("rla", 6, [0x02, 9, 0xFD, 1, 2, 3], 6)
