#!/usr/bin/env python3
"""Compares two 8-bit RGB(A) PNG pictures of the same size (the browser's and the native
program's frame at one show time): prints the mean absolute difference per channel (0..255) and
the share of pixels differing by more than a threshold, and fails above the given limits.
   compare_png.py A.png B.png [--mean 4.0] [--share 0.05] [--threshold 32]"""
import argparse
import struct
import sys
import zlib


def read_png(path):
    with open(path, 'rb') as f:
        data = f.read()
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise ValueError(path + ': not a PNG file')
    pos, idat, width = 8, b'', 0
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        pos += 12 + length
        if kind == b'IHDR':
            width, height, depth, color, _, _, interlace = struct.unpack('>IIBBBBB', body)
            if depth != 8 or color not in (2, 6) or interlace:
                raise ValueError(path + ': only 8-bit RGB/RGBA, not interlaced')
            bpp = 4 if color == 6 else 3
        elif kind == b'IDAT':
            idat += body
        elif kind == b'IEND':
            break
    raw = zlib.decompress(idat)
    stride = width * bpp
    rows, prev = [], bytearray(stride)
    for y in range(height):
        ft = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - bpp] if i >= bpp else 0
            b = prev[i]
            c = prev[i - bpp] if i >= bpp else 0
            if ft == 1:
                line[i] = (line[i] + a) & 255
            elif ft == 2:
                line[i] = (line[i] + b) & 255
            elif ft == 3:
                line[i] = (line[i] + ((a + b) >> 1)) & 255
            elif ft == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append(line)
        prev = line
    rgb = bytearray()
    for line in rows:
        if bpp == 3:
            rgb += line
        else:
            for i in range(0, stride, 4):
                rgb += line[i:i + 3]
    return width, height, rgb


def main():
    p = argparse.ArgumentParser()
    p.add_argument('a')
    p.add_argument('b')
    p.add_argument('--mean', type=float, default=4.0)
    p.add_argument('--share', type=float, default=0.05)
    p.add_argument('--threshold', type=int, default=32)
    o = p.parse_args()
    wa, ha, a = read_png(o.a)
    wb, hb, b = read_png(o.b)
    if (wa, ha) != (wb, hb):
        print('%s: %dx%d against %dx%d' % (o.a, wa, ha, wb, hb))
        return 1
    total = sum(abs(x - y) for x, y in zip(a, b))
    mean = total / len(a)
    far = sum(1 for i in range(0, len(a), 3)
              if max(abs(a[i] - b[i]), abs(a[i + 1] - b[i + 1]), abs(a[i + 2] - b[i + 2])) > o.threshold)
    share = far / (wa * ha)
    ok = mean <= o.mean and share <= o.share
    print('%s: mean difference %.2f (limit %.2f), %.2f%% of pixels differ by more than %d (limit %.2f%%): %s'
          % (o.a, mean, o.mean, 100 * share, o.threshold, 100 * o.share, 'ok' if ok else 'TOO DIFFERENT'))
    return 0 if ok else 1


if __name__ == '__main__':
    sys.exit(main())
