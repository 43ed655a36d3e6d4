#!/usr/bin/env python3
"""Draws the desktop-menu icons from the window's own icon, app/resources/uavcontrol.ico.

The icon's first drawing is 32x32 with 16 colours; each size is scaled nearest-neighbour, so the pixels
stay crisp, and written as an RGBA PNG with the icon's AND mask as transparency. Standard library only.

    packaging/icons/make-icons.py            # rewrites packaging/icons/uavcontrol-{32,48,128}.png
"""
import os
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.join(HERE, "..", "..", "app", "resources", "uavcontrol.ico")
SIZES = (32, 48, 128)


def read_ico(path):
    """Returns (width, height, rows of (r, g, b, a)) of the first image in a paletted ICO file."""
    data = open(path, "rb").read()
    _, kind, count = struct.unpack_from("<HHH", data, 0)
    if kind != 1 or count < 1:
        sys.exit(f"{path}: not an icon file")
    _, _, _, _, _, _, _, offset = struct.unpack_from("<BBBBHHII", data, 6)
    (hdr, w, h2, _, bpp, comp, _, _, _, used, _) = struct.unpack_from("<IiiHHIIiiII", data, offset)
    h = h2 // 2  # the height counts the colour image and the mask
    if comp != 0 or bpp not in (1, 4, 8):
        sys.exit(f"{path}: only paletted, uncompressed icons are handled (found {bpp} bits, compression {comp})")
    colours = used or (1 << bpp)
    pal_at = offset + hdr
    palette = [struct.unpack_from("<BBBB", data, pal_at + 4 * i)[:3][::-1] for i in range(colours)]
    xor_at = pal_at + 4 * colours
    xor_stride = ((w * bpp + 31) // 32) * 4
    and_at = xor_at + xor_stride * h
    and_stride = ((w + 31) // 32) * 4
    rows = []
    for y in range(h):  # bottom-up in the file
        src = h - 1 - y
        row = []
        for x in range(w):
            bit = x * bpp
            byte = data[xor_at + src * xor_stride + bit // 8]
            index = (byte >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1)
            masked = (data[and_at + src * and_stride + x // 8] >> (7 - x % 8)) & 1
            r, g, b = palette[index]
            row.append((r, g, b, 0 if masked else 255))
        rows.append(row)
    return w, h, rows


def scale(w, h, rows, size):
    return [[rows[y * h // size][x * w // size] for x in range(size)] for y in range(size)]


def write_png(path, rows):
    size_y, size_x = len(rows), len(rows[0])
    raw = b"".join(b"\0" + bytes(c for px in row for c in px) for row in rows)

    def chunk(tag, body):
        return struct.pack(">I", len(body)) + tag + body + struct.pack(">I", zlib.crc32(tag + body))

    png = (b"\x89PNG\r\n\x1a\n"
           + chunk(b"IHDR", struct.pack(">IIBBBBB", size_x, size_y, 8, 6, 0, 0, 0))
           + chunk(b"IDAT", zlib.compress(raw, 9))
           + chunk(b"IEND", b""))
    with open(path, "wb") as f:
        f.write(png)


def main():
    w, h, rows = read_ico(SOURCE)
    for size in SIZES:
        out = os.path.join(HERE, f"uavcontrol-{size}.png")
        write_png(out, scale(w, h, rows, size))
        print(out)


if __name__ == "__main__":
    main()
