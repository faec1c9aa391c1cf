#!/usr/bin/env python3
# Draws the desktop program's icon (a gold coin with a green check mark on a dark-blue
# tile: money amounts made sound) and writes it as a Windows .ico with 16, 24, 32, 48 and
# 256 pixel images. The 256 image is stored as PNG, the small ones as 32-bit bitmaps.
# With a second name, also the 256 pixel image alone as PNG (the Linux desktop entry's).
#   python3 scripts/make-icon.py src/gui-win32/kvfix207.ico packaging/kvfix207.png
import math, struct, sys, zlib

def pixel(x, y, n):
    # Coordinates in 0..1; 4x4 supersampling for smooth edges.
    acc = [0.0, 0.0, 0.0, 0.0]
    for sy in range(4):
        for sx in range(4):
            u = (x + (sx + 0.5) / 4) / n
            v = (y + (sy + 0.5) / 4) / n
            c = shade(u, v)
            if c is None:
                continue
            for i in range(4):
                acc[i] += c[i] / 16
    return acc

def shade(u, v):
    r = 0.16  # corner radius of the tile
    cx = min(max(u, r), 1 - r)
    cy = min(max(v, r), 1 - r)
    if math.hypot(u - cx, v - cy) > r:
        return None
    d = math.hypot(u - 0.5, v - 0.5)
    if d < 0.34:
        # The check mark: two thick strokes.
        def seg(px, py, ax, ay, bx, by):
            t = max(0, min(1, ((px - ax) * (bx - ax) + (py - ay) * (by - ay)) / ((bx - ax) ** 2 + (by - ay) ** 2)))
            return math.hypot(px - (ax + t * (bx - ax)), py - (ay + t * (by - ay)))
        if min(seg(u, v, 0.33, 0.52, 0.45, 0.64), seg(u, v, 0.45, 0.64, 0.68, 0.38)) < 0.055:
            return (30, 140, 60, 255)
        return (244, 196, 48, 255) if d < 0.30 else (190, 140, 20, 255)
    return (25, 55, 120, 255)

def image(n):
    return [[pixel(x, y, n) for x in range(n)] for y in range(n)]

def png(n):
    rows = b''.join(b'\x00' + bytes(int(round(c)) for p in row for c in p) for row in image(n))
    def chunk(t, d):
        return struct.pack('>I', len(d)) + t + d + struct.pack('>I', zlib.crc32(t + d) & 0xffffffff)
    return (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', n, n, 8, 6, 0, 0, 0)) +
            chunk(b'IDAT', zlib.compress(rows, 9)) + chunk(b'IEND', b''))

def bmp(n):
    img = image(n)
    header = struct.pack('<IiiHHIIiiII', 40, n, 2 * n, 1, 32, 0, n * n * 4, 0, 0, 0, 0)
    xor = b''.join(bytes((int(round(p[2])), int(round(p[1])), int(round(p[0])), int(round(p[3])))) for row in reversed(img) for p in row)
    stride = ((n + 31) // 32) * 4
    mask = b''
    for row in reversed(img):
        bits = bytearray(stride)
        for x, p in enumerate(row):
            if p[3] < 128:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bytes(bits)
    return header + xor + mask

sizes = [16, 24, 32, 48, 256]
blobs = [png(n) if n == 256 else bmp(n) for n in sizes]
out = struct.pack('<HHH', 0, 1, len(sizes))
offset = 6 + 16 * len(sizes)
for n, blob in zip(sizes, blobs):
    out += struct.pack('<BBBBHHII', n % 256, n % 256, 0, 0, 1, 32, len(blob), offset)
    offset += len(blob)
out += b''.join(blobs)
open(sys.argv[1], 'wb').write(out)
if len(sys.argv) > 2:
    open(sys.argv[2], 'wb').write(blobs[sizes.index(256)])
