#!/usr/bin/env python3
"""Writes the small seed files of the SGI, PCX and portable map fuzzer (run
from this folder): every layout each reader decodes, built byte by byte."""
import os
import struct

SEEDS = "seeds/sgi-pcx-ppm"


def write(name, data):
    os.makedirs(SEEDS, exist_ok=True)
    with open(os.path.join(SEEDS, name), "wb") as f:
        f.write(data)


def sample_bytes(values, size):
    return b"".join(struct.pack(">H" if size == 2 else ">B", v) for v in values)


def sgi_row(values, size):
    """One run-length row: a run of the first value, the rest as literals."""
    run = 1
    while run < len(values) and values[run] == values[0]:
        run += 1
    packed = sample_bytes([run, values[0]], size)
    rest = values[run:]
    if rest:
        packed += sample_bytes([0x80 | len(rest)] + rest, size)
    return packed + sample_bytes([0], size)


def sgi(width, height, channels, size, rle):
    maximum = 255 if size == 1 else 65535
    rows = [[(x * 40 + y * 90 + c * 70) % maximum if x > 1 else 7 for x in range(width)]
            for c in range(channels) for y in range(height)]
    header = struct.pack(">HBBHHHH", 474, 1 if rle else 0, size, 3, width, height, channels)
    header += bytes(512 - len(header))
    if not rle:
        return header + b"".join(sample_bytes(row, size) for row in rows)
    packed = [sgi_row(row, size) for row in rows]
    starts, at = [], 512 + 8 * len(rows)
    for row in packed:
        starts.append(at)
        at += len(row)
    tables = struct.pack(">%dI" % len(rows), *starts) + struct.pack(">%dI" % len(rows), *map(len, packed))
    return header + tables + b"".join(packed)


for channels in (1, 2, 3, 4):
    for size in (1, 2):
        write("sgi-%dc-%db-rle.sgi" % (channels, 8 * size), sgi(5, 3, channels, size, True))
write("sgi-3c-8b-raw.sgi", sgi(5, 3, 3, 1, False))
write("sgi-1c-16b-raw.sgi", sgi(4, 2, 1, 2, False))


def pcx_pack(line):
    out = b""
    x = 0
    while x < len(line):
        run = 1
        while x + run < len(line) and run < 63 and line[x + run] == line[x]:
            run += 1
        if run > 1 or line[x] >= 0xC0:
            out += bytes([0xC0 | run])
        out += bytes([line[x]])
        x += run
    return out


def pcx(width, height, bits, planes, file_id=10, version=5, rle=True, trailer=False, palette_type=1):
    per_line = (width * bits + 15) // 16 * 2
    colormap = bytes((i * 37) % 256 for i in range(48))
    header = struct.pack("<BBBBHHHHHH48sBBHH58s", file_id, version, 1 if rle else 0, bits, 0, 0, width - 1,
                         height - 1, 72, 72, colormap, 0, planes, per_line, palette_type, bytes(58))
    lines = [bytes((x * 13 + y * 5 + p * 50) % 256 if x > 1 else 0xC5 for x in range(per_line))
             for y in range(height) for p in range(planes)]
    data = b"".join(pcx_pack(line) if rle else line for line in lines)
    if trailer:
        data += b"\x0c" + bytes((i * 3) % 256 for i in range(768))
    return header + data


write("pcx-1bit.pcx", pcx(13, 3, 1, 1))
write("pcx-2bit.pcx", pcx(7, 3, 2, 1))
write("pcx-4bit.pcx", pcx(7, 3, 4, 1, version=3))
write("pcx-ega.pcx", pcx(13, 3, 1, 4))
write("pcx-3planes.pcx", pcx(13, 2, 1, 3, rle=False))
write("pcx-8bit.pcx", pcx(5, 3, 8, 1, trailer=True))
write("pcx-8bit-gray.pcx", pcx(5, 3, 8, 1, palette_type=2))
write("pcx-24bit.pcx", pcx(5, 3, 8, 3))
write("pcx-32bit.pcx", pcx(5, 2, 8, 4))
write("scr-8bit.scr", pcx(5, 3, 8, 1, file_id=205, rle=False))

write("p1.pbm", b"P1\n# bits\n5 2\n1 0 1 0 1\n01010\n")
write("p2.pgm", b"P2\n3 2\n15\n0 5 10\n15 3 9\n")
write("p2-16.pgm", b"P2\n3 1\n65535\n0 30000 65535\n")
write("p3.ppm", b"P3\r\n2 2\r\n255\r\n255 0 0 0 255 0\r\n0 0 255 9 9 9\r\n")
write("p4.pbm", b"P4\n10 2\n\xa5\x40\x5a\x80")
write("p5.pgm", b"P5\n4 2\n255\n" + bytes(range(0, 256, 32)))
write("p5-16.pgm", b"P5\n2 2\n1023\n" + struct.pack(">4H", 0, 100, 1000, 1023))
write("p6.ppm", b"P6 3 1 255\n" + bytes(range(9)))
write("p6-16.ppm", b"P6\n2 1\n65535\n" + struct.pack(">6H", 0, 1, 256, 65535, 4660, 22136))


def pam(width, height, depth, maximum, tuple_type, samples):
    header = "P7\nWIDTH %d\nHEIGHT %d\nDEPTH %d\nMAXVAL %d\n" % (width, height, depth, maximum)
    if tuple_type:
        header += "TUPLTYPE %s\n" % tuple_type
    return (header + "ENDHDR\n").encode() + sample_bytes(samples, 2 if maximum > 255 else 1)


write("p7-gray.pam", pam(3, 2, 1, 15, "GRAYSCALE", [0, 5, 10, 15, 3, 9]))
write("p7-graya-16.pam", pam(2, 1, 2, 65535, "GRAYSCALE_ALPHA", [0, 65535, 30000, 100]))
write("p7-rgb.pam", pam(2, 1, 3, 255, "", range(6)))
write("p7-rgba.pam", pam(2, 2, 4, 255, "RGB_ALPHA", range(0, 256, 16)))
