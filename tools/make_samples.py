#!/usr/bin/env python3
"""Draws the two demo images and the mesh that pairs their features.

start.bmp: an orange sun with a face on a night-blue sky; end.bmp: a magenta
gem on a teal sea. The mesh frames the sun in the start image and the gem in
the end image, so the morph moves and reshapes one into the other.
"""
import json
import math
import os
import struct

W, H = 320, 240
HERE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "resources", "samples")


def save_bmp(path, pixels):
    stride = (W * 3 + 3) // 4 * 4
    rows = []
    for y in range(H - 1, -1, -1):
        row = bytearray()
        for x in range(W):
            r, g, b = pixels[y][x]
            row += bytes((b, g, r))
        row += b"\0" * (stride - W * 3)
        rows.append(bytes(row))
    data = b"".join(rows)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(data), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(header + info + data)


def clamp(v):
    return max(0, min(255, int(round(v))))


def start_image():
    px = [[(0, 0, 0)] * W for _ in range(H)]
    cx, cy, r = 110, 120, 58
    for y in range(H):
        for x in range(W):
            d = math.hypot(x - 250, y - 40) / 300
            sky = (clamp(20 + 40 * d), clamp(30 + 50 * d), clamp(90 + 90 * (1 - d)))
            if ((x * 73856093) ^ (y * 19349663)) % 911 == 0:
                sky = (230, 230, 250)
            dist = math.hypot(x - cx, y - cy)
            if dist <= r:
                k = dist / r
                px[y][x] = (clamp(255 - 20 * k), clamp(190 - 90 * k), clamp(40 - 30 * k))
                for ex in (-20, 20):
                    if math.hypot(x - (cx + ex), y - (cy - 15)) <= 7:
                        px[y][x] = (60, 30, 10)
                if 18 <= math.hypot(x - cx, y - (cy + 2)) <= 26 and y > cy + 12:
                    px[y][x] = (120, 40, 10)
            elif dist <= r + 10:
                glow = 1 - (dist - r) / 10
                px[y][x] = tuple(clamp(s * (1 - glow) + c * glow) for s, c in zip(sky, (255, 170, 60)))
            else:
                px[y][x] = sky
    return px


def end_image():
    px = [[(0, 0, 0)] * W for _ in range(H)]
    cx, cy, r = 210, 120, 60
    for y in range(H):
        for x in range(W):
            wave = 0.5 + 0.5 * math.sin(x / 18.0 + y / 9.0)
            sea = (clamp(10 + 20 * wave), clamp(110 + 60 * wave), clamp(120 + 50 * wave))
            d = abs(x - cx) + abs(y - cy)
            if d <= r:
                k = d / r
                facet = 30 if (x - cx) * (y - cy) > 0 else -10
                px[y][x] = (clamp(220 - 60 * k + facet), clamp(40 + 30 * k), clamp(170 + 60 * (1 - k) + facet))
                if d <= 14:
                    px[y][x] = (255, 230, 255)
            else:
                px[y][x] = sea
    return px


def mesh():
    rows, columns = 4, 3
    sx, sy = W / rows, H / columns

    def grid():
        return {(i, j): [(i - 1) * sx, (j - 1) * sy] for j in range(columns + 2) for i in range(rows + 2)}

    start, end = grid(), grid()
    # Frame the sun in the start image and the gem in the end image.
    start.update({(2, 2): [50, 60], (3, 2): [170, 60], (2, 3): [50, 180], (3, 3): [170, 180],
                  (4, 2): [250, 80], (4, 3): [250, 160]})
    end.update({(2, 2): [150, 60], (3, 2): [270, 60], (2, 3): [150, 180], (3, 3): [270, 180],
                (4, 2): [295, 80], (4, 3): [295, 160]})

    def flat(points):
        return [points[(i, j)] for j in range(columns + 2) for i in range(rows + 2)]

    return {"rows": rows, "columns": columns, "start": flat(start), "end": flat(end)}


if __name__ == "__main__":
    os.makedirs(HERE, exist_ok=True)
    save_bmp(os.path.join(HERE, "start.bmp"), start_image())
    save_bmp(os.path.join(HERE, "end.bmp"), end_image())
    with open(os.path.join(HERE, "demo-mesh.json"), "w") as f:
        json.dump(mesh(), f, indent=1)
        f.write("\n")
