#!/usr/bin/python3
"""Mean luma SSIM of an animation against its frames: ssim_luma.py FRAMES_DIR ANIMATION...

The animation (GIF, WebP, APNG) is decoded by Pillow, every frame composed
as a viewer shows it, and compared with the folder's 000.bmp, 001.bmp, ... in
order: SSIM on BT.601 luma with an 11 x 11 Gaussian window (sigma 1.5),
K1 = 0.01, K2 = 0.03, over the window positions inside the picture. Prints
one mean (over all frames) per animation. Needs Pillow and NumPy.
"""
import os
import sys

import numpy as np
from PIL import Image, ImageSequence


def luma(image):
    rgb = np.asarray(image.convert("RGB"), dtype=np.float64)
    return rgb[..., 0] * 0.299 + rgb[..., 1] * 0.587 + rgb[..., 2] * 0.114


def gaussian_filter_valid(a):
    x = np.arange(11) - 5
    g = np.exp(-(x ** 2) / (2 * 1.5 ** 2))
    g /= g.sum()
    h, w = a.shape
    rows = sum(g[k] * a[:, k:w - 10 + k] for k in range(11))
    return sum(g[k] * rows[k:h - 10 + k, :] for k in range(11))


def ssim(a, b):
    c1, c2 = (0.01 * 255) ** 2, (0.03 * 255) ** 2
    mu_a, mu_b = gaussian_filter_valid(a), gaussian_filter_valid(b)
    aa = gaussian_filter_valid(a * a) - mu_a ** 2
    bb = gaussian_filter_valid(b * b) - mu_b ** 2
    ab = gaussian_filter_valid(a * b) - mu_a * mu_b
    m = ((2 * mu_a * mu_b + c1) * (2 * ab + c2)) / ((mu_a ** 2 + mu_b ** 2 + c1) * (aa + bb + c2))
    return float(m.mean())


def frames_of(path):
    with Image.open(path) as image:
        return [luma(f.copy()) for f in ImageSequence.Iterator(image)]


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip().splitlines()[0], file=sys.stderr)
        return 2
    folder = sys.argv[1]
    names = sorted(n for n in os.listdir(folder) if n.lower().endswith(".bmp"))
    refs = [luma(Image.open(os.path.join(folder, n))) for n in names]
    for path in sys.argv[2:]:
        got = frames_of(path)
        if len(got) != len(refs):
            print(f"{path}: {len(got)} frames where the folder has {len(refs)}", file=sys.stderr)
            return 1
        print(f"{sum(ssim(r, g) for r, g in zip(refs, got)) / len(refs):.4f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
