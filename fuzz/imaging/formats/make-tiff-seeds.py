#!/usr/bin/env python3
"""Writes the seed files of fuzz_tiff (run from this folder).

Each seed is one byte that picks the wrapping (even: a TIFF file, odd: the
TIFF preview of an EPS file) and the stream (bit 1 set: one that is no
memory stream) followed by a small TIFF file. The files are
built byte by byte to cover byte orders, layouts and the built-in packings;
when libtiff's tiffcp is present it adds the LZW, fax and JPEG ones."""
import os
import struct
import subprocess
import tempfile
import zlib

TYPE_SIZE = {1: 1, 2: 1, 3: 2, 4: 4, 5: 8, 7: 1, 11: 4, 12: 8}


def tiff(directories, big=False, moved=None):
    """directories: list of (fields, chunks, tiled); fields: {tag: (type, [values])}.
    moved: {chunk index: offset} puts those chunks' offsets elsewhere."""
    order = ">" if big else "<"
    out = bytearray(b"MM" if big else b"II") + struct.pack(order + "HI", 42, 0)
    link = 4
    for fields, chunks, tiled in directories:
        fields = dict(fields)
        offsets = []
        for chunk in chunks:
            out += b"\0" * (len(out) % 2)
            offsets.append(len(out))
            out += chunk
        for index, offset in (moved or {}).items():
            offsets[index] = offset
        fields[324 if tiled else 273] = (4, offsets)
        fields[325 if tiled else 279] = (4, [len(c) for c in chunks])
        encoded = {}
        for tag, (kind, values) in sorted(fields.items()):
            code = {1: "B", 2: "B", 3: "H", 4: "I", 5: "I", 7: "B", 11: "f", 12: "d"}[kind]
            data = struct.pack(order + code * len(values), *values)
            if len(data) > 4:
                out += b"\0" * (len(out) % 2)
                encoded[tag] = (kind, len(values) // (2 if kind == 5 else 1), struct.pack(order + "I", len(out)))
                out += data
            else:
                encoded[tag] = (kind, len(values) // (2 if kind == 5 else 1), data.ljust(4, b"\0"))
        out += b"\0" * (len(out) % 2)
        out[link:link + 4] = struct.pack(order + "I", len(out))
        out += struct.pack(order + "H", len(encoded))
        for tag, (kind, count, value) in sorted(encoded.items()):
            out += struct.pack(order + "HHI", tag, kind, count) + value
        link = len(out)
        out += b"\0\0\0\0"
    return bytes(out)


def basics(width, height, samples, bits, photometric, compression, rows):
    return {256: (4, [width]), 257: (4, [height]), 258: (3, [bits] * samples), 259: (3, [compression]),
            262: (3, [photometric]), 277: (3, [samples]), 278: (4, [rows])}


def pattern(count, seed=1):
    state, out = seed, bytearray()
    for i in range(count):
        state = (state * 1103515245 + 12345) & 0xFFFFFFFF
        out.append((state >> 16) & 0xFF if i % 5 == 0 else (i // 7) & 0xFF)
    return bytes(out)


def packbits(data):
    out, i = bytearray(), 0
    while i < len(data):
        run = 1
        while i + run < len(data) and run < 128 and data[i + run] == data[i]:
            run += 1
        if run >= 3:
            out += bytes([257 - run, data[i]])
            i += run
        else:
            n = min(128, len(data) - i)
            out += bytes([n - 1]) + data[i:i + n]
            i += n
    return bytes(out)


def difference(row, samples):
    return bytes([row[i] if i < samples else (row[i] - row[i - samples]) & 0xFF for i in range(len(row))])


def strips(data, row_bytes, rows, pack=lambda d: d):
    return [pack(data[y * row_bytes:(y + rows) * row_bytes]) for y in range(0, len(data) // row_bytes, rows)]


def write(name, wrap, data):
    with open(os.path.join("seeds", "tiff", name), "wb") as f:
        f.write(bytes([wrap]) + data)


os.makedirs(os.path.join("seeds", "tiff"), exist_ok=True)
W, H = 12, 9
rgb = pattern(W * H * 3)
gray = pattern(W * H, 5)
write("gray8-none.tif", 0, tiff([(basics(W, H, 1, 8, 1, 1, H), [gray], False)]))
write("rgb8-packbits-mm.tif", 2, tiff([(basics(W, H, 3, 8, 2, 32773, 4), strips(rgb, W * 3, 4, packbits), False)], True))
pred = b"".join(difference(rgb[y * W * 3:(y + 1) * W * 3], 3) for y in range(H))
fields = basics(W, H, 3, 8, 2, 8, 4)
fields[317] = (3, [2])
write("rgb8-deflate-predictor.tif", 0, tiff([(fields, strips(pred, W * 3, 4, zlib.compress), False)]))
rgba16 = pattern(W * H * 8, 9)
fields = basics(W, H, 4, 16, 2, 8, H)
fields[338] = (3, [2])
write("rgba16-deflate-mm.tif", 0, tiff([(fields, [zlib.compress(rgba16)], False)], True))
fields = basics(W, H, 1, 4, 3, 1, H)
fields[320] = (3, [(i * 4111) & 0xFFFF for i in range(48)])
write("palette4.tif", 0, tiff([(fields, [pattern(W * H // 2, 3)], False)]))
write("bilevel-minwhite.tif", 0, tiff([(basics(W, H, 1, 1, 0, 1, H), [pattern(2 * H, 4)], False)]))
write("cmyk8.tif", 1, tiff([(basics(W, H, 4, 8, 5, 1, H), [pattern(W * H * 4, 6)], False)]))
fields = basics(W, H, 3, 8, 6, 32773, H)
fields[530] = (3, [2, 2])
fields[529] = (5, [299, 1000, 587, 1000, 114, 1000])
write("ycbcr22-packbits.tif", 0, tiff([(fields, [packbits(pattern(6 * 5 * 6, 8))], False)]))
fields = basics(W, H, 3, 8, 8, 1, H)
fields[282] = (11, [72.0])
fields[283] = (12, [72.0])
fields[296] = (3, [3])
write("lab8-float-resolution.tif", 1, tiff([(fields, [rgb], False)]))
fields = basics(20, 20, 3, 8, 2, 8, 20)
fields.update({322: (3, [16]), 323: (3, [16])})
tiles = [zlib.compress(pattern(16 * 16 * 3, t)) for t in range(4)]
write("tiles-deflate.tif", 2, tiff([(fields, tiles, True)]))
fields = basics(W, H, 3, 8, 2, 1, H)
fields[284] = (3, [2])
write("planar-rgb8.tif", 1, tiff([(fields, [rgb[:W * H], rgb[W * H:2 * W * H], rgb[2 * W * H:]], False)], True))
write("two-directories.tif", 0, tiff([(basics(W, H, 1, 8, 1, 1, H), [gray], False),
                                      (basics(W, H, 3, 8, 2, 1, H), [rgb], False)]))

# Hostile claims that must cost nothing: a deflate strip far outside a 10 KB
# file, and a Group 4 tile claimed 2^29 pixels wide (each row one bit).
fields = basics(64, 16, 1, 8, 1, 8, 8)
write("strip-outside.tif", 2, tiff([(fields, [zlib.compress(gray * 9) + bytes(10000), b"x"], False)],
                                   moved={1: 0xFFFFFFF0}))
fields = basics(16, 8, 1, 1, 0, 4, 8)
fields.update({322: (4, [1 << 29]), 323: (4, [8])})
write("g4-wide-tile.tif", 1, tiff([(fields, [bytes([0xFF, 0, 0x10, 0x01])], True)]))

# Packings only libtiff writes here: made from the uncompressed seeds.
try:
    with tempfile.TemporaryDirectory() as folder:
        sources = {"rgb": tiff([(basics(32, 24, 3, 8, 2, 1, 24), [pattern(32 * 24 * 3)], False)]),
                   "bilevel": tiff([(basics(64, 24, 1, 1, 0, 1, 24), [pattern(8 * 24, 4)], False)])}
        for name, data in sources.items():
            with open(os.path.join(folder, name + ".tif"), "wb") as f:
                f.write(data)
        for name, source, options in [("lzw", "rgb", ["-c", "lzw:2"]), ("jpeg", "rgb", ["-c", "jpeg", "-r", "16"]),
                                      ("jpeg-tiles", "rgb", ["-c", "jpeg", "-t", "-w", "16", "-l", "16"]),
                                      ("g3", "bilevel", ["-c", "g3"]), ("g3-2d", "bilevel", ["-c", "g3:2d"]),
                                      ("g4", "bilevel", ["-c", "g4"]), ("g4-lsb", "bilevel", ["-c", "g4", "-f", "lsb2msb"]),
                                      ("zip-lsb", "rgb", ["-c", "zip", "-f", "lsb2msb"]),
                                      ("bigtiff", "rgb", ["-8", "-c", "zip:2", "-r", "8"]),
                                      ("zstd", "rgb", ["-c", "zstd:2"]), ("lzma", "rgb", ["-c", "lzma"]),
                                      ("webp", "rgb", ["-c", "webp"]), ("jbig", "bilevel", ["-c", "jbig"])]:
            target = os.path.join(folder, name + ".tif")
            subprocess.run(["tiffcp"] + options + [os.path.join(folder, source + ".tif"), target], check=True)
            with open(target, "rb") as f:
                write(name + ".tif", 0, f.read())
except FileNotFoundError:
    print("tiffcp not found: the LZW, fax and JPEG seeds are left out")
