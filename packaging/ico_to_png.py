#!/usr/bin/env python3
"""Writes the images of a Windows .ico file as PNG files for the hicolor icon theme.

    packaging/ico_to_png.py <icon.ico> <out-dir> <name> <size>...

Writes <out-dir>/<size>x<size>/apps/<name>.png for each size asked for, from the image of
that size with the most colours; fails if the icon has no image of a size asked for, so that
the installed icons are always the ones the program shows. The same input gives the same
bytes. Reads the bitmap forms Windows icons use (1, 4, 8, 24 and 32 bits, with the AND mask
for transparency) and passes PNG-compressed images through.
"""
import os
import struct
import sys
import zlib

PNG_SIGNATURE = b"\x89PNG\r\n\x1a\n"


def directory(data):
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1 or count == 0:
        raise ValueError("not an icon file")
    entries = []
    for i in range(count):
        _, _, _, _, _, bpp, size, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
        entries.append((data[offset:offset + size], bpp))
    return entries


def image_size(blob):
    if blob.startswith(PNG_SIGNATURE):
        width, height = struct.unpack_from(">II", blob, 16)
        return width, height, 32
    _, width, height, _, bpp = struct.unpack_from("<IiiHH", blob, 0)
    return width, height // 2, bpp  # the height counts the XOR and the AND bitmaps


def rows_bottom_up(blob, offset, width, height, bpp):
    stride = ((width * bpp + 31) // 32) * 4
    return [blob[offset + (height - 1 - y) * stride:offset + (height - y) * stride]
            for y in range(height)], offset + height * stride


def bitmap_to_rgba(blob):
    header_size, width, height2, _, bpp, compression = struct.unpack_from("<IiiHHI", blob, 0)
    if compression != 0:
        raise ValueError("compressed icon bitmaps are not supported")
    height = height2 // 2
    colours = struct.unpack_from("<I", blob, 32)[0] or (1 << bpp if bpp <= 8 else 0)
    palette = [struct.unpack_from("<BBBx", blob, header_size + 4 * i) for i in range(colours)]
    xor_rows, mask_offset = rows_bottom_up(blob, header_size + 4 * colours, width, height, bpp)
    mask_rows, _ = rows_bottom_up(blob, mask_offset, width, height, 1)
    pixels = []
    for row, mask in zip(xor_rows, mask_rows):
        out = bytearray()
        for x in range(width):
            if bpp == 32:
                b, g, r, a = row[4 * x:4 * x + 4]
            else:
                if bpp == 24:
                    b, g, r = row[3 * x:3 * x + 3]
                else:
                    bit = x * bpp
                    index = (row[bit // 8] >> (8 - bpp - bit % 8)) & ((1 << bpp) - 1)
                    b, g, r = palette[index]
                transparent = (mask[x // 8] >> (7 - x % 8)) & 1
                a = 0 if transparent else 255
            out += bytes((r, g, b, a))
        pixels.append(bytes(out))
    return width, height, pixels


def png(width, height, rows):
    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))
    raw = b"".join(b"\x00" + row for row in rows)
    return (PNG_SIGNATURE
            + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(raw, 9))
            + chunk(b"IEND", b""))


def main(argv):
    if len(argv) < 5:
        sys.exit(__doc__.strip().splitlines()[2].strip())
    ico, out_dir, name, sizes = argv[1], argv[2], argv[3], [int(s) for s in argv[4:]]
    with open(ico, "rb") as f:
        entries = directory(f.read())
    for size in sizes:
        fitting = [(image_size(blob)[2], blob) for blob, _ in entries
                   if image_size(blob)[:2] == (size, size)]
        if not fitting:
            sys.exit("%s has no %dx%d image" % (ico, size, size))
        blob = max(fitting, key=lambda e: e[0])[1]
        data = blob if blob.startswith(PNG_SIGNATURE) else png(*bitmap_to_rgba(blob))
        path = os.path.join(out_dir, "%dx%d" % (size, size), "apps", name + ".png")
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main(sys.argv)
