#!/usr/bin/env python3
"""Draws the program's pictures (plain Python, no image library needed).

    python3 icons/make-icons.py      # rewrites icons/*.png

online.png / offline.png: 20 x 20 status marks (green tick / red cross);
lock.png: 20 x 20 padlock for an encrypted connection;
connect.png: 32 x 32 plug for the connection buttons;
orb-admin.png: 128 x 128 program icon for the desktop menu.
"""
import math
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
SS = 4  # supersampling per axis


def write_png(path, w, h, pixels):
    raw = b"".join(b"\0" + bytes(pixels[y * w * 4:(y + 1) * w * 4]) for y in range(h))

    def chunk(tag, data):
        return struct.pack(">I", len(data)) + tag + data + struct.pack(">I", zlib.crc32(tag + data) & 0xFFFFFFFF)

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 6, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def seg_dist(px, py, ax, ay, bx, by):
    dx, dy = bx - ax, by - ay
    t = max(0.0, min(1.0, ((px - ax) * dx + (py - ay) * dy) / (dx * dx + dy * dy)))
    return math.hypot(px - ax - t * dx, py - ay - t * dy)


def render(w, h, layers):
    """layers: list of (inside(x, y) -> bool, (r, g, b)) painted in order."""
    out = []
    for y in range(h):
        for x in range(w):
            acc = [0.0, 0.0, 0.0, 0.0]  # premultiplied
            for sy in range(SS):
                for sx in range(SS):
                    fx, fy = x + (sx + 0.5) / SS, y + (sy + 0.5) / SS
                    col = None
                    for inside, rgb in layers:
                        if inside(fx, fy):
                            col = rgb
                    if col:
                        acc[0] += col[0]; acc[1] += col[1]; acc[2] += col[2]; acc[3] += 1
            n = SS * SS
            a = acc[3] / n
            if acc[3]:
                out += [round(acc[0] / acc[3]), round(acc[1] / acc[3]), round(acc[2] / acc[3]), round(a * 255)]
            else:
                out += [0, 0, 0, 0]
    return out


def circle(cx, cy, r):
    return lambda x, y: math.hypot(x - cx, y - cy) <= r


def stroke(points, width):
    segs = list(zip(points, points[1:]))
    return lambda x, y: any(seg_dist(x, y, *a, *b) <= width / 2 for a, b in segs)


def rect(x0, y0, x1, y1, r=0.0):
    def inside(x, y):
        qx = max(x0 + r - x, 0, x - (x1 - r))
        qy = max(y0 + r - y, 0, y - (y1 - r))
        return math.hypot(qx, qy) <= r if r else (x0 <= x <= x1 and y0 <= y <= y1)
    return inside


def ring(cx, cy, rx, ry, width, angle):
    ca, sa = math.cos(angle), math.sin(angle)

    def inside(x, y):
        dx, dy = x - cx, y - cy
        u, v = dx * ca + dy * sa, -dx * sa + dy * ca
        k = math.hypot(u / rx, v / ry)
        return abs(k - 1) * min(rx, ry) <= width / 2
    return inside


WHITE = (255, 255, 255)
GREEN_DARK, GREEN = (27, 110, 32), (56, 170, 60)
RED_DARK, RED = (150, 20, 20), (215, 48, 39)
BLUE_DARK, BLUE = (30, 70, 140), (60, 120, 210)
GREY = (90, 90, 90)


def status(path, dark, light, mark):
    write_png(path, 20, 20, render(20, 20, [(circle(10, 10, 9.3), dark), (circle(10, 10, 8.2), light), (mark, WHITE)]))


def main():
    status(os.path.join(HERE, "online.png"), GREEN_DARK, GREEN, stroke([(5.6, 10.4), (8.6, 13.6), (14.4, 6.6)], 2.4))
    status(os.path.join(HERE, "offline.png"), RED_DARK, RED,
           lambda x, y: seg_dist(x, y, 6.5, 6.5, 13.5, 13.5) <= 1.2 or seg_dist(x, y, 13.5, 6.5, 6.5, 13.5) <= 1.2)
    # A padlock: the shackle's arc over a gold body with a keyhole.
    write_png(os.path.join(HERE, "lock.png"), 20, 20, render(20, 20, [
        (lambda x, y: y <= 10 and abs(math.hypot(x - 10, y - 8) - 4.2) <= 1.1, GREY),
        (lambda x, y: 10 <= y <= 11 and (abs(x - 5.8) <= 1.1 or abs(x - 14.2) <= 1.1), GREY),
        (rect(3.5, 9.5, 16.5, 18.5, 1.5), (160, 110, 20)),
        (rect(4.5, 10.5, 15.5, 17.5, 1), (235, 180, 50)),
        (circle(10, 13.2, 1.5), (90, 60, 10)), (rect(9.3, 13.5, 10.7, 16.2), (90, 60, 10)),
    ]))
    # A plug seen from the side: two prongs, the body, the cable bending down.
    write_png(os.path.join(HERE, "connect.png"), 32, 32, render(32, 32, [
        (rect(21, 9, 30, 12, 1.2), GREY), (rect(21, 20, 30, 23, 1.2), GREY),
        (rect(10, 5, 22, 27, 3), BLUE_DARK), (rect(11.5, 6.5, 20.5, 25.5, 2), BLUE),
        (rect(6, 13, 11, 19), BLUE_DARK),
        (stroke([(7, 16), (3, 16), (2, 20), (2, 31)], 3), GREY),
    ]))
    # Program icon: a dark tile, a globe with an orbit and a bright tracked point.
    cx = cy = 64
    write_png(os.path.join(HERE, "orb-admin.png"), 128, 128, render(128, 128, [
        (rect(4, 4, 124, 124, 22), (28, 44, 78)),
        (circle(cx, cy, 34), BLUE),
        (ring(cx, cy, 34, 14, 3, 0), (120, 170, 240)),
        (ring(cx, cy, 14, 34, 3, 0), (120, 170, 240)),
        (ring(cx, cy, 54, 18, 5, -0.45), (240, 200, 60)),
        (circle(cx + 47, cy - 22, 9), (240, 200, 60)),
        (circle(cx + 47, cy - 22, 4), WHITE),
    ]))


if __name__ == "__main__":
    main()
