#!/usr/bin/env python3
"""Writes the seed inputs of fuzz_decoders (run from this folder): for each
decoder a small valid packed block behind the six parameter bytes that
FuzzDecoders.cpp reads. Fax and JPEG strips are cut out of TIFF files that
ImageMagick's convert and libtiff's tiffcp write."""
import os
import struct
import subprocess
import tempfile

SEEDS = "seeds"


def seed(name, kind, packed, room, width=8, flags=0):
    os.makedirs(SEEDS, exist_ok=True)
    with open(os.path.join(SEEDS, name), "wb") as f:
        f.write(struct.pack("<BBHH", kind, flags, width, room) + bytes(packed))


def lzw_old_style(data):
    """LZW codes of the old TIFF variant: least significant bit first, the
    code width growing at 512, 1024 and 2048 entries."""
    codes, table, w = [256], {}, None
    for c in data:
        if w is None:
            w = c
        elif (w, c) in table:
            w = table[(w, c)]
        else:
            codes.append(w)
            table[(w, c)] = 258 + len(table)
            w = c
    codes += [w, 257]
    out, buffer, count, width, entries = bytearray(), 0, 0, 9, 258
    for i, code in enumerate(codes):
        buffer |= code << count
        count += width
        while count >= 8:
            out.append(buffer & 0xFF)
            buffer >>= 8
            count -= 8
        if i >= 2:
            entries += 1
        if entries >= 1 << width and width < 12:
            width += 1
    if count:
        out.append(buffer & 0xFF)
    return bytes(out)


def first_strip(path):
    """The first strip and the JPEG tables (or b"") of a TIFF file."""
    data = open(path, "rb").read()
    order = "<" if data[:2] == b"II" else ">"
    (ifd,) = struct.unpack(order + "I", data[4:8])
    (count,) = struct.unpack(order + "H", data[ifd:ifd + 2])
    fields = {}
    for i in range(count):
        tag, kind, n, value = struct.unpack(order + "HHII", data[ifd + 2 + 12 * i:ifd + 14 + 12 * i])
        if kind == 3 and n == 1:
            value = struct.unpack(order + "H", data[ifd + 10 + 12 * i:ifd + 12 + 12 * i])[0]
        fields[tag] = (n, value)
    offset, size = fields[273][1], fields[279][1]
    tables = b""
    if 347 in fields:
        n, at = fields[347]
        tables = data[at:at + n]
    return data[offset:offset + size], tables


def tiff(source_args, compression, folder):
    plain = os.path.join(folder, "plain.tif")
    packed = os.path.join(folder, "packed.tif")
    subprocess.run(["/usr/bin/convert", *source_args, "-compress", "None", plain], check=True)
    subprocess.run(["tiffcp", "-c", compression, "-r", "1000", plain, packed], check=True)
    return first_strip(packed)


seed("packbits", 0, [0x02, 1, 2, 3, 0xFE, 9, 0x80, 0x00, 7], 7)
seed("pcx", 1, [0xC3, 7, 0x41, 0xC0, 9, 0x42], 5)
seed("sgi8", 2, [0x83, 1, 2, 3, 0x02, 4, 0x00], 5)
seed("sgi16", 3, [0, 0x82, 1, 2, 3, 4, 0, 3, 9, 8, 0, 0], 10)
seed("cut", 4, [5, 0, 0x83, 5, 0x02, 1, 2, 0x00], 5)
seed("psp", 5, [0x83, 6, 0x02, 1, 2, 0x80, 0x99, 0x01, 3], 6)
seed("rla", 6, [0x02, 9, 0xFD, 1, 2, 3], 6)
# ThunderScan: raw 7, a run of 2, deltas, raw 1; rows of 5 pixels.
seed("thunder", 9, [0xC7, 0x02, 0x5B, 0xC1, 0x43, 0x9D], 6, width=5)
# Modified Huffman rows of 8 pixels: white 2 black 3 white 3; black 8.
seed("mh", 8, [0x7A, 0x00, 0x35, 0x14], 2)

with tempfile.TemporaryDirectory() as folder:
    page = ["-size", "48x16", "pattern:checkerboard", "-monochrome", "-depth", "1"]
    for name, compression, flags in [("fax3", "g3:1d", 0), ("fax3-fill", "g3:1d:fill", 4 << 2),
                                     ("fax3-2d", "g3:2d", 1 << 2)]:
        strip, _ = tiff(page, compression, folder)
        seed(name, 7, strip, 6 * 16, width=48, flags=flags)
    strip, _ = tiff(page, "g4", folder)
    seed("fax4", 11, strip, 6 * 16, width=48)
    picture = ["-size", "16x16", "gradient:red-blue", "-depth", "8"]
    for name, compression, layout in [("jpeg-ycbcr", "jpeg", 2), ("jpeg-rgb", "jpeg:r", 1)]:
        strip, tables = tiff(picture, compression, folder)
        seed(name, 10, struct.pack("<H", len(tables)) + tables + strip, 16 * 16 * 3, width=16,
             flags=(layout << 2) | 16)
    for name, compression in [("lzw", "lzw"), ("lzw-predictor", "lzw:2")]:
        strip, _ = tiff(picture, compression, folder)
        seed(name, 12, strip, 16 * 16 * 3)
    seed("lzw-old", 12, lzw_old_style(b"TOBEORNOTTOBEORTOBEORNOT" * 40), 960)
    strip, tables = tiff(picture + ["-colorspace", "Gray"], "jpeg", folder)
    seed("jpeg-gray", 10, struct.pack("<H", len(tables)) + tables + strip, 16 * 16, width=16, flags=16)
