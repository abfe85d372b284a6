#!/usr/bin/env python3
"""Draws the program icon (32 x 32, 16 colours) and writes it as XPM, which is C source too,
so the program carries it without a resource compiler, and as PNG for the desktop's icon theme.
It also writes the Windows icon resource (32-bit colour with its mask), which the Windows build
links in. Run again after changing the drawing: make_icon.py zumelko.xpm zumelko.png zumelko.ico"""
import struct
import sys
import zlib

W = H = 32
PALETTE = {
    ' ': 'None',     # transparent
    '.': '#000000',  # outline
    'b': '#8B5A2B',  # board
    'B': '#B07A40',  # board light
    'w': '#FFFFFF',  # paper
    'g': '#C0C0C0',  # clip
    'G': '#808080',  # clip shadow
    'l': '#000080',  # text lines
    'r': '#C00000',  # arrow
    'R': '#FF4040',  # arrow light
}

img = [[' '] * W for _ in range(H)]

def rect(x0, y0, x1, y1, c):
    for y in range(y0, y1 + 1):
        for x in range(x0, x1 + 1):
            img[y][x] = c

def frame(x0, y0, x1, y1, c):
    for x in range(x0, x1 + 1):
        img[y0][x] = img[y1][x] = c
    for y in range(y0, y1 + 1):
        img[y][x0] = img[y][x1] = c

# The board, the paper on it and the clip at the top.
rect(3, 3, 24, 30, 'b'); rect(4, 4, 23, 5, 'B'); frame(3, 3, 24, 30, '.')
rect(6, 7, 21, 28, 'w'); frame(6, 7, 21, 28, '.')
rect(9, 1, 18, 6, 'g'); rect(9, 5, 18, 6, 'G'); frame(9, 1, 18, 6, '.')
rect(12, 2, 15, 3, '.')
for y in (11, 14, 17, 20, 23):
    rect(8, y, 19 if y != 23 else 15, y, 'l')
# The arrow: the clipboard's content leaving for another desktop.
arrow = [
    "      ..    ",
    "      .R.   ",
    "......rR.   ",
    ".RRRRRrrR.  ",
    ".rrrrrrrrR. ",
    ".rrrrrrrrr. ",
    ".rrrrrrrr.  ",
    "......rr.   ",
    "      .r.   ",
    "      ..    ",
]
for dy, row in enumerate(arrow):
    for dx, c in enumerate(row):
        if c != ' ':
            img[18 + dy][20 + dx] = c

out = ['/* XPM */', 'static const char* const zumelko_xpm[] = {',
       '"%d %d %d 1",' % (W, H, len(PALETTE))]
out += ['"%s c %s",' % (k, v) for k, v in PALETTE.items()]
out += ['"%s"%s' % (''.join(r), ',' if i < H - 1 else '') for i, r in enumerate(img)]
out.append('};')
open(sys.argv[1] if len(sys.argv) > 1 else 'zumelko.xpm', 'w').write('\n'.join(out) + '\n')

def rgba(c):
    v = PALETTE[c]
    if v == 'None':
        return b'\0\0\0\0'
    return bytes(int(v[i:i + 2], 16) for i in (1, 3, 5)) + b'\xff'

def chunk(kind, data):
    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data) & 0xffffffff)

raw = b''.join(b'\0' + b''.join(rgba(c) for c in row) for row in img)
png = b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', W, H, 8, 6, 0, 0, 0)) + \
    chunk(b'IDAT', zlib.compress(raw, 9)) + chunk(b'IEND', b'')
open(sys.argv[2] if len(sys.argv) > 2 else 'zumelko.png', 'wb').write(png)

# The Windows icon: one 32 x 32 image, BGRA rows bottom-up, then the 1-bit mask (set where
# transparent), rows padded to 4 bytes.
xor = b''.join(b''.join(rgba(c)[2::-1] + rgba(c)[3:] for c in row) for row in reversed(img))
mask = b''
for row in reversed(img):
    bits = 0
    for c in row:
        bits = (bits << 1) | (1 if c == ' ' else 0)
    mask += struct.pack('>I', bits)
header = struct.pack('<IiiHHIIiiII', 40, W, H * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
image = header + xor + mask
ico = struct.pack('<HHH', 0, 1, 1) + struct.pack('<BBBBHHII', W, H, 0, 0, 1, 32, len(image), 6 + 16) + image
open(sys.argv[3] if len(sys.argv) > 3 else 'zumelko.ico', 'wb').write(ico)
