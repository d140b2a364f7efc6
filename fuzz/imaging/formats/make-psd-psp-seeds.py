#!/usr/bin/env python3
"""Writes the seed files of fuzz_psd_psp (run from this folder): small
Photoshop documents in each colour mode, raw and PackBits, and Paintshop Pro
files of versions 3 and 5 in each depth and compression."""
import os
import struct
import zlib

SEEDS = "seeds/psd-psp"


def write(name, data):
    os.makedirs(SEEDS, exist_ok=True)
    with open(os.path.join(SEEDS, name), "wb") as f:
        f.write(data)


def packbits(row):
    out = b""
    for i in range(0, len(row), 128):
        chunk = row[i:i + 128]
        if len(set(chunk)) == 1 and len(chunk) > 1:
            out += bytes([257 - len(chunk), chunk[0]])
        else:
            out += bytes([len(chunk) - 1]) + chunk
    return out


def psd(mode, channels, depth, width, height, compressed, color_data=b"", layers=b""):
    row = (width * depth + 7) // 8
    planes = [bytes((k * 50 + i * 7) % 256 for i in range(row)) for k in range(channels)]
    head = b"8BPS" + struct.pack(">H6xHIIHH", 1, channels, height, width, depth, mode)
    head += struct.pack(">I", len(color_data)) + color_data
    head += struct.pack(">I", 0) + struct.pack(">I", len(layers)) + layers
    if not compressed:
        return head + struct.pack(">H", 0) + b"".join(p * height for p in planes)
    packed = [packbits(p) for p in planes for _ in range(height)]
    return head + struct.pack(">H", 1) + b"".join(struct.pack(">H", len(p)) for p in packed) + b"".join(packed)


write("rgb-raw.psd", psd(3, 3, 8, 5, 3, False))
write("rgb-rle.psd", psd(3, 3, 8, 5, 3, True))
write("rgba-layers.psd", psd(3, 4, 8, 4, 2, True, layers=struct.pack(">I", 2) + b"\0\0" + struct.pack(">I", 0)))
write("rgb16.psd", psd(3, 3, 16, 3, 2, True))
write("gray16.psd", psd(1, 1, 16, 3, 2, False))
write("indexed.psd", psd(2, 1, 8, 4, 2, True, color_data=bytes(range(256)) * 3))
write("bitmap.psd", psd(0, 1, 1, 11, 2, True))
write("cmyk.psd", psd(4, 4, 8, 3, 2, True))
write("lab.psd", psd(9, 3, 8, 3, 2, False))


def block(major, block_id, data, initial=0):
    head = b"~BK\0" + struct.pack("<H", block_id)
    if major == 3:
        head += struct.pack("<I", initial)
    return head + struct.pack("<I", len(data)) + data


def chunk(major, data):
    return data if major == 3 else struct.pack("<I", len(data) + 4) + data


def psp(major, depth, compression, width, height, alpha=False):
    row = (width * (8 if depth == 24 else depth) + 7) // 8
    attributes = struct.pack("<IIdBHHHIBIIH", width, height, 72.0, 1, compression, depth, 1, 256, 0, 0, 0, 1)
    if major >= 4:
        attributes += struct.pack("<I", 0)
    out = b"Paint Shop Pro Image File\n\x1a".ljust(32, b"\0") + struct.pack("<HH", major, 0)
    out += block(major, 0, chunk(major, attributes))
    if depth != 24:
        out += block(major, 2, chunk(major, struct.pack("<I", 4)) + bytes(range(16)))
    types = [(0, 1), (0, 2), (0, 3)] if depth == 24 else [(0, 0)]
    if alpha:
        types.append((1, 0))
    channels = b""
    for bitmap_type, channel_type in types:
        rows = bytes((channel_type * 60 + i * 5) % 256 for i in range(row * height))
        packed = {0: rows, 1: bytes([len(rows)]) + rows if len(rows) < 128 else rows, 2: zlib.compress(rows)}[compression]
        head = struct.pack("<IIHH", len(packed), len(rows), bitmap_type, channel_type)
        channels += block(major, 5, chunk(major, head) + packed, 12)
    name = b"L".ljust(256, b"\0") if major == 3 else struct.pack("<H", 1) + b"L"
    info = bytes([0 if major == 3 else 1]) + bytes(114)
    layer = (name + info if major == 3 else chunk(major, name + info))
    layer += chunk(major, struct.pack("<HH", 1, len(types))) + channels
    return out + block(major, 3, block(major, 4, layer, 375))


write("v3-rgb-raw.psp", psp(3, 24, 0, 4, 2))
write("v3-rgb-runs.psp", psp(3, 24, 1, 4, 2))
write("v5-rgba-deflate.psp", psp(5, 24, 2, 4, 2, alpha=True))
write("v5-indexed8-runs.psp", psp(5, 8, 1, 5, 2))
write("v4-indexed4-raw.psp", psp(4, 4, 0, 5, 2))
write("v6-indexed1-deflate.psp", psp(6, 1, 2, 9, 2))
