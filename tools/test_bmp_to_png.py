#!/usr/bin/env python3
"""Checks bmp_to_png.py: pixels survive both row orders and both pixel sizes,
row padding is skipped, and files it cannot read are refused."""
import contextlib
import io
import os
import struct
import sys
import tempfile
import unittest
import zlib

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import bmp_to_png  # noqa: E402

# 3 x 2 pixels, top row first, as (r, g, b): a width whose 24-bit rows need
# padding.
PIXELS = [[(255, 0, 0), (0, 255, 0), (0, 0, 255)],
          [(1, 2, 3), (250, 251, 252), (128, 64, 32)]]


def make_bmp(pixels, bits=24, top_down=False, compression=0, masks=None):
    height = len(pixels)
    width = len(pixels[0])
    step = bits // 8
    row_bytes = (width * step + 3) & ~3
    rows = pixels if top_down else list(reversed(pixels))
    data = b""
    for row in rows:
        line = b"".join(bytes((b, g, r)) + (b"\x00" if step == 4 else b"")
                        for r, g, b in row)
        data += line + b"\x00" * (row_bytes - len(line))
    extra = struct.pack("<III", *masks) if masks else b""
    header_size = 40 + len(extra)
    offset = 14 + header_size
    info = struct.pack("<IiiHHIIiiII", header_size, width,
                       -height if top_down else height, 1, bits, compression,
                       len(data), 3780, 3780, 0, 0) + extra
    return (b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) +
            info + data)


def decode_png(data):
    """(width, height, rows of (r, g, b)) of an 8-bit RGB PNG, filter 0."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    position = 8
    chunks = {}
    while position < len(data):
        (length,) = struct.unpack_from(">I", data, position)
        kind = data[position + 4:position + 8]
        payload = data[position + 8:position + 8 + length]
        (crc,) = struct.unpack_from(">I", data, position + 8 + length)
        assert crc == zlib.crc32(kind + payload) & 0xFFFFFFFF, kind
        chunks[kind] = chunks.get(kind, b"") + payload
        position += 12 + length
    width, height, depth, colour = struct.unpack_from(">IIBB", chunks[b"IHDR"])
    assert (depth, colour) == (8, 2)
    raw = zlib.decompress(chunks[b"IDAT"])
    stride = 1 + width * 3
    rows = []
    for y in range(height):
        line = raw[y * stride:(y + 1) * stride]
        assert line[0] == 0
        rows.append([tuple(line[1 + x * 3:4 + x * 3]) for x in range(width)])
    assert b"IEND" in chunks
    return width, height, rows


class BmpToPngTest(unittest.TestCase):
    def convert(self, bmp_bytes):
        with tempfile.TemporaryDirectory() as folder:
            source = os.path.join(folder, "in.bmp")
            target = os.path.join(folder, "out.png")
            with open(source, "wb") as f:
                f.write(bmp_bytes)
            errors = io.StringIO()
            with contextlib.redirect_stderr(errors):
                code = bmp_to_png.main(["bmp_to_png.py", source, target])
            if code != 0:
                self.assertIn("bmp_to_png: ", errors.getvalue())
                return code, None
            with open(target, "rb") as f:
                return code, decode_png(f.read())

    def test_pixels_survive_every_supported_layout(self):
        layouts = [dict(bits=24), dict(bits=24, top_down=True),
                   dict(bits=32), dict(bits=32, top_down=True),
                   dict(bits=32, compression=3,
                        masks=(0xFF0000, 0xFF00, 0xFF))]
        for layout in layouts:
            with self.subTest(**{k: str(v) for k, v in layout.items()}):
                code, png = self.convert(make_bmp(PIXELS, **layout))
                self.assertEqual(code, 0)
                self.assertEqual(png, (3, 2, PIXELS))

    def test_refuses_what_it_cannot_read(self):
        good = make_bmp(PIXELS)
        bad = {
            "not a bmp": b"PK" + good[2:],
            "8-bit": make_bmp(PIXELS).replace(
                struct.pack("<HH", 1, 24), struct.pack("<HH", 1, 8), 1),
            "run-length": make_bmp(PIXELS, compression=1),
            "other masks": make_bmp(PIXELS, bits=32, compression=3,
                                    masks=(0xFF, 0xFF00, 0xFF0000)),
            "cut short": good[:-3],
            "header only": good[:20],
        }
        for name, data in bad.items():
            with self.subTest(name):
                code, _ = self.convert(data)
                self.assertEqual(code, 1)

    def test_missing_input_is_an_error_not_a_crash(self):
        with tempfile.TemporaryDirectory() as folder, \
                contextlib.redirect_stderr(io.StringIO()):
            code = bmp_to_png.main(["bmp_to_png.py",
                                    os.path.join(folder, "none.bmp"),
                                    os.path.join(folder, "out.png")])
        self.assertEqual(code, 1)


if __name__ == "__main__":
    unittest.main()
