#!/usr/bin/env python3
"""Converts an uncompressed 24- or 32-bit BMP file into an RGB PNG file.

    bmp_to_png.py INPUT.bmp OUTPUT.png

Python 3 standard library only (struct, zlib), so the demo needs no image
tools. Exits with 1 and a message on standard error for a file it cannot
read.
"""
import struct
import sys
import zlib


class BmpError(ValueError):
    pass


def read_bmp(data):
    """Returns (width, height, rows): rows top to bottom, each bytes RGB."""
    if len(data) < 54 or data[:2] != b"BM":
        raise BmpError("not a BMP file")
    (offset,) = struct.unpack_from("<I", data, 10)
    (header_size, width, height, planes, bits, compression) = struct.unpack_from(
        "<IiiHHI", data, 14)
    if header_size < 40:
        raise BmpError("unsupported BMP header of %d bytes" % header_size)
    if planes != 1 or bits not in (24, 32):
        raise BmpError("only 24- and 32-bit BMP files are supported")
    # BI_RGB; BI_BITFIELDS only with the standard BGRX masks of 32 bits.
    if compression == 3 and bits == 32 and header_size >= 52:
        masks = struct.unpack_from("<III", data, 54)
        if masks != (0xFF0000, 0xFF00, 0xFF):
            raise BmpError("unsupported colour masks")
    elif compression != 0:
        raise BmpError("compressed BMP files are not supported")
    if width <= 0 or height == 0:
        raise BmpError("empty image")
    top_down = height < 0
    height = abs(height)
    step = bits // 8
    row_bytes = (width * step + 3) & ~3
    if offset + row_bytes * height > len(data):
        raise BmpError("pixel data is cut short")
    rows = []
    for y in range(height):
        stored = y if top_down else height - 1 - y
        start = offset + stored * row_bytes
        row = data[start:start + width * step]
        rgb = bytearray(width * 3)
        rgb[0::3] = row[2::step]
        rgb[1::3] = row[1::step]
        rgb[2::3] = row[0::step]
        rows.append(bytes(rgb))
    return width, height, rows


def png_chunk(kind, payload):
    crc = zlib.crc32(kind + payload) & 0xFFFFFFFF
    return struct.pack(">I", len(payload)) + kind + payload + struct.pack(">I", crc)


def encode_png(width, height, rows):
    # Filter type 0 (none) on every row; zlib does the rest.
    raw = b"".join(b"\x00" + row for row in rows)
    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return (b"\x89PNG\r\n\x1a\n" + png_chunk(b"IHDR", header) +
            png_chunk(b"IDAT", zlib.compress(raw, 9)) + png_chunk(b"IEND", b""))


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: bmp_to_png.py INPUT.bmp OUTPUT.png\n")
        return 2
    try:
        with open(argv[1], "rb") as source:
            width, height, rows = read_bmp(source.read())
        with open(argv[2], "wb") as target:
            target.write(encode_png(width, height, rows))
    except (OSError, BmpError, struct.error) as error:
        sys.stderr.write("bmp_to_png: %s: %s\n" % (argv[1], error))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
