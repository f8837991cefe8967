#!/usr/bin/python3
"""The classic per-triangle morph with OpenCV, as a speed reference for our run.

For every frame t = k / (N - 1) and every triangle of the interpolated mesh:
the bounding rectangles of the start, end and interpolated triangles, an
affine warp (getAffineTransform + warpAffine) of each source rectangle onto
the interpolated one, the two warps blended by t, and the blend pasted under
a fillConvexPoly mask. Each frame is written as a BMP file, 000.bmp, ...

Usage: opencv_morph.py START END MESH.json FRAMES OUT_FOLDER
MESH.json is a tarnel-cli mesh or project file: rows, columns and the start
and end points row by row, the outer ring included. Points outside the
picture are moved onto its border, so the ring's triangles flatten away.
"""
import json
import os
import sys

import cv2
import numpy as np


def load_mesh(path, width, height):
    with open(path) as f:
        mesh = json.load(f)
    # Index j * across + i, i across the picture: rows + 2 points across,
    # columns + 2 down, as the files store them.
    across, down = mesh["rows"] + 2, mesh["columns"] + 2
    points = {}
    for name in ("start", "end"):
        pts = np.array(mesh[name], dtype=np.float32)
        pts[:, 0] = np.clip(pts[:, 0], 0, width - 1)
        pts[:, 1] = np.clip(pts[:, 1], 0, height - 1)
        points[name] = pts
    if len(points["start"]) != across * down or len(points["end"]) != across * down:
        sys.exit("%s: expected %d points per mesh" % (path, across * down))
    triangles = []
    for j in range(down - 1):
        for i in range(across - 1):
            a, b = j * across + i, j * across + i + 1
            c, d = (j + 1) * across + i, (j + 1) * across + i + 1
            triangles += [(a, b, d), (a, d, c)]
    return points["start"], points["end"], triangles


def warp_triangle(src, tri_src, tri_dst, rect_dst):
    x, y, w, h = cv2.boundingRect(tri_src)
    patch = src[y:y + h, x:x + w]
    shifted_src = tri_src - np.float32([x, y])
    shifted_dst = tri_dst - np.float32([rect_dst[0], rect_dst[1]])
    matrix = cv2.getAffineTransform(shifted_src, shifted_dst)
    return cv2.warpAffine(patch, matrix, (rect_dst[2], rect_dst[3]), None, flags=cv2.INTER_LINEAR,
                          borderMode=cv2.BORDER_REFLECT_101)


def morph_frame(img1, img2, pts1, pts2, triangles, t):
    mid = (1.0 - t) * pts1 + t * pts2
    out = np.zeros(img1.shape, dtype=np.float32)
    for (a, b, c) in triangles:
        t1 = pts1[[a, b, c]]
        t2 = pts2[[a, b, c]]
        tm = mid[[a, b, c]].astype(np.float32)
        rect = cv2.boundingRect(tm)
        x, y, w, h = rect
        area = abs(float(np.cross(tm[1] - tm[0], tm[2] - tm[0])))
        if w <= 0 or h <= 0 or area < 1e-3:
            continue
        if cv2.boundingRect(t1)[2] <= 0 or cv2.boundingRect(t2)[2] <= 0:
            continue
        warped1 = warp_triangle(img1, t1, tm, rect)
        warped2 = warp_triangle(img2, t2, tm, rect)
        blend = (1.0 - t) * warped1 + t * warped2
        mask = np.zeros((h, w, 3), dtype=np.float32)
        cv2.fillConvexPoly(mask, np.int32(np.round(tm - np.float32([x, y]))), (1.0, 1.0, 1.0), 16, 0)
        region = out[y:y + h, x:x + w]
        region[:] = region * (1.0 - mask) + blend * mask
    return out


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    start, end, mesh_path, frames, folder = sys.argv[1:]
    frames = int(frames)
    img1 = cv2.imread(start).astype(np.float32)
    img2 = cv2.imread(end).astype(np.float32)
    height, width = img1.shape[:2]
    pts1, pts2, triangles = load_mesh(mesh_path, width, height)
    os.makedirs(folder, exist_ok=True)
    for k in range(frames):
        t = k / (frames - 1)
        frame = morph_frame(img1, img2, pts1, pts2, triangles, t)
        cv2.imwrite(os.path.join(folder, "%03d.bmp" % k), np.uint8(np.clip(frame, 0, 255)))


if __name__ == "__main__":
    main()
