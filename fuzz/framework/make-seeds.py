#!/usr/bin/env python3
"""Writes the small seed files of the framework fuzzers (run from this folder).

Bitmaps and icons are built byte by byte to cover the header variants and
compressions; the JPEG seeds are made with ImageMagick's convert."""
import os
import struct
import subprocess


def dib(width, height, bits, pixels, compression=0, palette=b"", colors=0, header=40, masks=()):
    if header == 12:
        head = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        head = struct.pack("<IiiHHIIiiII", header, width, height, 1, bits, compression, len(pixels), 0, 0, colors, 0)
        extra = list(masks) + [0] * 4
        if header > 40:
            head += struct.pack("<4I", *extra[:4])[: header - 40 if header < 56 else 16]
            head += bytes(header - len(head))
        else:
            head += b"".join(struct.pack("<I", m) for m in masks)
    return head + palette + pixels


def bmp(body, pixel_bytes):
    return b"BM" + struct.pack("<IHHI", 14 + len(body), 0, 0, 14 + len(body) - pixel_bytes) + body


def write(folder, name, data):
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


gray16 = b"".join(bytes([i * 16, i * 16, i * 16, 0]) for i in range(16))
seeds = "seeds-bitmap"
write(seeds, "rgb24.bmp", bmp(dib(3, 2, 24, bytes(24)), 24))
write(seeds, "topdown32.bmp", bmp(dib(2, -2, 32, bytes(range(16))), 16))
write(seeds, "core8.bmp", bmp(dib(2, 2, 8, bytes([1, 2, 0, 0, 3, 4, 0, 0]), header=12,
                                  palette=b"".join(bytes([i, i, i]) for i in range(256))), 8))
write(seeds, "pal4.bmp", bmp(dib(3, 1, 4, bytes([0x12, 0xF0, 0, 0]), palette=gray16, colors=16), 4))
write(seeds, "mono.bmp", bmp(dib(9, 1, 1, bytes([0xAA, 0x80, 0, 0]), palette=bytes([0, 0, 0, 0, 255, 255, 255, 0])), 4))
rle8 = bytes([3, 5, 0, 3, 1, 2, 3, 0, 0, 0, 0, 2, 1, 1, 2, 7, 0, 1])
write(seeds, "rle8.bmp", bmp(dib(6, 3, 8, rle8, compression=1, palette=gray16, colors=16), len(rle8)))
rle4 = bytes([4, 0x12, 0, 3, 0xAB, 0xC0, 0, 0, 2, 0x33, 0, 1])
write(seeds, "rle4.bmp", bmp(dib(7, 2, 4, rle4, compression=2, palette=gray16, colors=16), len(rle4)))
write(seeds, "fields565.bmp", bmp(dib(2, 1, 16, bytes([0x1F, 0xF8, 0x41, 0x08]), compression=3,
                                      masks=(0xF800, 0x07E0, 0x001F)), 4))
write(seeds, "fields4444.bmp", bmp(dib(2, 1, 16, bytes([0x30, 0x8F, 0, 0]), compression=3, header=56,
                                       masks=(0x0F00, 0x00F0, 0x000F, 0xF000)), 4))
write(seeds, "v5alpha.bmp", bmp(dib(1, 1, 32, bytes([1, 2, 3, 4]), compression=3, header=124,
                                    masks=(0xFF0000, 0xFF00, 0xFF, 0xFF000000)), 4))


def ico(images):
    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for w, h, bits, body in images:
        data += struct.pack("<BBBBHHII", w, h, 0, 0, 1, bits, len(body), offset)
        offset += len(body)
    return data + b"".join(body for *_, body in images)


seeds = "seeds-icon"
icon24 = dib(2, 4, 24, bytes([9, 8, 7, 9, 8, 7, 0, 0] * 2) + bytes([0x40, 0, 0, 0, 0x80, 0, 0, 0]))
icon4 = dib(3, 4, 4, bytes([0x12, 0x30, 0, 0] * 2) + bytes([0xA0, 0, 0, 0] * 2), palette=gray16, colors=16)
icon32 = dib(1, 2, 32, bytes([1, 2, 3, 128]) + bytes(4))
write(seeds, "two.ico", ico([(2, 2, 24, icon24), (3, 2, 4, icon4)]))
write(seeds, "alpha.ico", ico([(1, 1, 32, icon32)]))
png = bytes([0x89]) + b"PNG\r\n\x1a\n" + struct.pack(">I", 13) + b"IHDR" + struct.pack(">IIBBBBB", 1, 1, 8, 6, 0, 0, 0)
write(seeds, "png.ico", ico([(1, 1, 32, png)]))

seeds = "seeds-jpeg"
os.makedirs(seeds, exist_ok=True)
for name, options in [("baseline.jpg", []), ("progressive.jpg", ["-interlace", "JPEG"]),
                      ("gray.jpg", ["-colorspace", "Gray"]), ("cmyk.jpg", ["-colorspace", "CMYK"])]:
    subprocess.run(["convert", "-size", "8x8", "gradient:red-blue", *options, "-quality", "80",
                    "-strip", os.path.join(seeds, name)], check=True)
