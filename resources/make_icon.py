#!/usr/bin/env python3
"""Draws the program icon -- a clipboard with a sheet of paper and an arrow leaving it -- at
every size a desktop asks for, each drawn for its size: outlines stay one device pixel at the
small sizes and grow with the large ones, edges fall on whole pixels, and the sheet carries as
many text lines as the size can show apart. Run by the build:

    make_icon.py OUTDIR

writes OUTDIR/zumelko.ico (16, 20, 24, 32, 40, 48, 64 and 256 pixels, 32-bit colour with
alpha, the 256-pixel image PNG-compressed), OUTDIR/zumelko-N.png for each size (the desktop's
icon theme) and OUTDIR/zumelko_icons.h (every size as PNG bytes, for the program's own tray
icon and windows)."""
import os
import struct
import sys
import zlib

SIZES = (16, 20, 24, 32, 40, 48, 64, 256)

OUTLINE = (0x00, 0x00, 0x00)
BOARD = (0x8B, 0x5A, 0x2B)
BOARD_LIGHT = (0xB0, 0x7A, 0x40)
PAPER = (0xFF, 0xFF, 0xFF)
CLIP = (0xC0, 0xC0, 0xC0)
CLIP_SHADOW = (0x80, 0x80, 0x80)
LINES = (0x00, 0x00, 0x80)
ARROW = (0xC0, 0x00, 0x00)
ARROW_LIGHT = (0xFF, 0x40, 0x40)


def draw(n):
    """The icon at n x n pixels: rows of (r, g, b, a)."""
    img = [[None] * n for _ in range(n)]
    unit = n / 32.0  # the drawing is laid out on a 32-unit grid
    line = max(1, round(n / 32))  # outline width in pixels

    def px(v):
        return int(v * unit + 0.5)

    def rect(x0, y0, x1, y1, c):  # half-open, in pixels
        for y in range(max(0, y0), min(n, y1)):
            for x in range(max(0, x0), min(n, x1)):
                img[y][x] = c

    def framed(x0, y0, x1, y1, fill):
        rect(x0, y0, x1, y1, OUTLINE)
        rect(x0 + line, y0 + line, x1 - line, y1 - line, fill)

    def polygon(points, c):
        # Pixels whose centre lies inside (even-odd rule).
        for y in range(n):
            cy = y + 0.5
            for x in range(n):
                cx = x + 0.5
                inside = False
                for (ax, ay), (bx, by) in zip(points, points[1:] + points[:1]):
                    if (ay > cy) != (by > cy) and cx < ax + (cy - ay) * (bx - ax) / (by - ay):
                        inside = not inside
                if inside:
                    img[y][x] = c

    # The board, with a lighter band at its top; at the smallest sizes wider around the sheet,
    # so that some of it still shows beside the sheet's outline.
    small = n < 24
    bx0, by0, bx1, by1 = (px(2), px(2), px(27), px(31)) if small else (px(3), px(3), px(25), px(31))
    framed(bx0, by0, bx1, by1, BOARD)
    if n >= 24:
        rect(bx0 + line, by0 + line, bx1 - line, by0 + line + max(1, px(2)), BOARD_LIGHT)
    # The sheet of paper.
    sx0, sy0, sx1, sy1 = (px(7), px(8), px(22), px(29)) if small else (px(6), px(7), px(22), px(29))
    framed(sx0, sy0, sx1, sy1, PAPER)
    # Text lines, as many as stay apart: a line, then at least one pixel of paper.
    inner_top, inner_bottom = sy0 + line + max(1, px(2)), sy1 - line - max(1, px(2))
    pitch = max(2 * line + 1, px(3))
    count = max(1, (inner_bottom - inner_top) // pitch)
    for i in range(count):
        y = inner_top + i * pitch
        short = i == count - 1 and count > 1
        rect(sx0 + line + max(1, px(1.5)), y, (px(16) if short else sx1 - line - max(1, px(1.5))), y + line, LINES)
    # The clip at the top; a shadow and a hole only where there are pixels for them.
    cx0, cy0, cx1, cy1 = px(9), px(1), px(19), px(7)
    framed(cx0, cy0, cx1, cy1, CLIP)
    if n >= 20:
        rect(cx0 + line, cy1 - line - max(1, px(2)), cx1 - line, cy1 - line, CLIP_SHADOW)
    if n >= 32:
        rect(px(12), px(2), px(16), px(4), OUTLINE)
    # The arrow leaving to the right: outline, body, and a light upper edge on larger sizes.
    arrow = [(17, 20.5), (23, 20.5), (23, 17), (31, 23.5), (23, 30), (23, 26.5), (17, 26.5)]
    polygon([(x * unit, y * unit) for x, y in arrow], OUTLINE)
    grow = line / unit  # the body lies one outline width inside
    body = [(17 + grow, 20.5 + grow), (23 + grow, 20.5 + grow), (23 + grow, 17 + 2.2 * grow),
            (31 - 2.2 * grow, 23.5), (23 + grow, 30 - 2.2 * grow), (23 + grow, 26.5 - grow),
            (17 + grow, 26.5 - grow)]
    polygon([(x * unit, y * unit) for x, y in body], ARROW)
    if n >= 24:
        for y in range(n):
            for x in range(n):
                if img[y][x] == ARROW and y > 0 and img[y - 1][x] == OUTLINE:
                    img[y][x] = ARROW_LIGHT
    return [[(c + (255,)) if c else (0, 0, 0, 0) for c in row] for row in img]


def png(rows):
    def chunk(kind, data):
        return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xFFFFFFFF)
    n = len(rows)
    raw = b''.join(b'\0' + b''.join(bytes(p) for p in row) for row in rows)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', n, n, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b''))


def dib(rows):
    """A 32-bit icon image: header (height doubled), BGRA rows bottom-up, then the AND mask."""
    n = len(rows)
    xor = b''.join(b''.join(bytes((p[2], p[1], p[0], p[3])) for p in row) for row in reversed(rows))
    stride = (n + 31) // 32 * 4
    mask = b''
    for row in reversed(rows):
        bits = 0
        for p in row:
            bits = (bits << 1) | (1 if p[3] == 0 else 0)
        bits <<= stride * 8 - n
        mask += bits.to_bytes(stride, 'big')
    header = struct.pack('<IiiHHIIiiII', 40, n, n * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + mask


def ico(images):
    out = struct.pack('<HHH', 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for n, data in images:
        out += struct.pack('<BBBBHHII', n % 256, n % 256, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    return out + b''.join(data for _, data in images)


def header(pngs):
    out = ['// Made by resources/make_icon.py: the program icon in every size, as PNG files.',
           '#pragma once', '#include <cstddef>', '', 'namespace zumelko::icons {', '']
    for n, data in pngs:
        out.append('inline constexpr unsigned char kPng%d[] = {' % n)
        for i in range(0, len(data), 20):
            out.append('    ' + ', '.join(str(b) for b in data[i:i + 20]) + ',')
        out.append('};')
    out.append('struct Image {')
    out.append('    int size;')
    out.append('    const unsigned char* data;')
    out.append('    std::size_t length;')
    out.append('};')
    out.append('inline constexpr Image kImages[] = {')
    for n, _ in pngs:
        out.append('    {%d, kPng%d, sizeof kPng%d},' % (n, n, n))
    out.append('};')
    out += ['', '}  // namespace zumelko::icons', '']
    return '\n'.join(out)


def main():
    outdir = sys.argv[1] if len(sys.argv) > 1 else '.'
    os.makedirs(outdir, exist_ok=True)
    drawn = {n: draw(n) for n in SIZES}
    for n, rows in drawn.items():
        with open(os.path.join(outdir, 'zumelko-%d.png' % n), 'wb') as f:
            f.write(png(rows))
    with open(os.path.join(outdir, 'zumelko.ico'), 'wb') as f:
        f.write(ico([(n, png(rows) if n >= 256 else dib(rows)) for n, rows in drawn.items()]))
    with open(os.path.join(outdir, 'zumelko_icons.h'), 'w') as f:
        f.write(header([(n, png(rows)) for n, rows in drawn.items()]))

if __name__ == '__main__':
    main()
