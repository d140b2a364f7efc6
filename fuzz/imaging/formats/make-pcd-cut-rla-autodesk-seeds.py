#!/usr/bin/env python3
"""Writes the seeds of fuzz_pcd_cut_rla_autodesk (run from this folder).

Each seed starts with the byte that chooses the reader: 0 Photo-CD, 4
Photo-CD padded to a whole image pack, 1 CUT, 5 CUT with a palette file in
front (its length first), 2 RLA, 3 Autodesk."""
import os
import struct

FOLDER = "seeds/pcd-cut-rla-autodesk"


def write(name, selector, data):
    os.makedirs(FOLDER, exist_ok=True)
    with open(os.path.join(FOLDER, name), "wb") as f:
        f.write(bytes([selector]) + data)


def pcd_header(overview, rotation):
    header = bytearray(3 * 2048)
    if overview:
        header[0:7] = b"PCD_OPA"
        header[10:12] = struct.pack(">H", 3)
    else:
        header[2048:2055] = b"PCD_IPI"
    header[3586] = rotation
    return bytes(header)


write("pcd-pack-turned.bin", 4, pcd_header(False, 1) + bytes(range(256)) * 8)
write("pcd-overview.bin", 0, pcd_header(True, 3))
write("pcd-truncated.bin", 0, pcd_header(False, 0) + bytes(64))


def runs(data, longest, shortest_repeat):
    """Splits data into (repeated, start, length) runs of at most longest
    bytes; repeats shorter than shortest_repeat go into literal runs."""
    x = 0
    while x < len(data):
        run = 1
        while x + run < len(data) and run < longest and data[x + run] == data[x]:
            run += 1
        repeated = run >= shortest_repeat
        if not repeated:
            run = 1
            while x + run < len(data) and run < longest and data[x + run] != data[x + run - 1]:
                run += 1
        yield repeated, x, run
        x += run


def cut_row(row):
    codes = bytearray()
    for repeated, x, run in runs(row, 127, 3):
        codes += bytes([0x80 | run, row[x]]) if repeated else bytes([run]) + bytes(row[x:x + run])
    codes.append(0)
    return struct.pack("<H", len(codes)) + codes


def cut(width, height):
    rows = [[(x // 5 + y) % 7 if x < width // 2 else (x * 31 + y) & 0xFF for x in range(width)]
            for y in range(height)]
    return struct.pack("<3H", width, height, 0) + b"".join(cut_row(r) for r in rows)


def halo_palette(count):
    data = bytearray(b"AH" + struct.pack("<HHBBHHH3H", 0xE3, 0, 10, 0, 0, 0, count - 1, 255, 255, 255))
    data += b"Dr. Halo".ljust(20, b"\0")
    offset = len(data)
    for i in range(count):
        if offset > 506:
            data += bytes(512 - offset)
            offset = 0
        data += struct.pack("<3H", 255 - i, i * 3 & 0xFF, i ^ 0x5A)
        offset += 6
    return bytes(data)


write("cut.bin", 1, cut(40, 4))
palette = halo_palette(100)
write("cut-palette.bin", 5, struct.pack("<H", len(palette)) + palette + cut(12, 3))


def rla_pack(data):
    out = bytearray()
    for repeated, x, run in runs(data, 128, 2):
        out += bytes([run - 1, data[x]]) if repeated else bytes([256 - run]) + bytes(data[x:x + run])
    return bytes(out)


def rla(width, height, bits, matte, gamma):
    header = bytearray(740)
    struct.pack_into(">4h", header, 8, 0, width - 1, 0, height - 1)
    struct.pack_into(">3hH", header, 20, 3, 1 if matte else 0, 0, 0xFFFE)
    header[28:28 + len(gamma)] = gamma
    header[580:583] = b"rgb"
    struct.pack_into(">h", header, 658, bits)
    struct.pack_into(">h", header, 662, bits)
    rows = []
    for y in range(height):
        record = b""
        for c in range(4 if matte else 3):
            samples = [((x * 37 + y * 11 + c * 50) * (257 if bits > 8 else 1)) & ((1 << bits) - 1)
                       for x in range(width)]
            planes = (bytes(s >> 8 for s in samples) if bits > 8 else b"") + bytes(s & 0xFF for s in samples)
            packed = rla_pack(planes)
            record += struct.pack(">H", len(packed)) + packed
        rows.append(record)
    offset = 740 + 4 * height
    table = b""
    for record in rows:
        table += struct.pack(">I", offset)
        offset += len(record)
    return bytes(header) + table + b"".join(rows)


write("rla-rgb.bin", 2, rla(6, 3, 8, False, b"1.0"))
write("rla-matte16.bin", 2, rla(5, 2, 16, True, b"2.2"))

autodesk = struct.pack("<5HBBI", 0x9119, 4, 3, 0, 0, 8, 0, 12) + bytes(16)
autodesk += bytes((i * 7) & 63 for i in range(768)) + bytes(range(12))
write("autodesk.bin", 3, autodesk)
