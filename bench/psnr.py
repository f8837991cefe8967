#!/usr/bin/env python3
"""RGB PSNR in dB of each candidate picture against a reference: psnr.py REF CAND...

Only PIL is needed: the squared error comes from the histogram of the
absolute difference, channel by channel.
"""
import math
import sys

from PIL import Image, ImageChops


def load(path):
    image = Image.open(path)
    image.seek(0)
    return image.convert("RGB")


def psnr(ref, cand):
    diff = ImageChops.difference(ref, cand)
    counts = diff.histogram()  # 256 bins per channel, R then G then B
    squares = sum(count * (value % 256) ** 2 for value, count in enumerate(counts))
    mse = squares / (ref.width * ref.height * 3)
    return 99.0 if mse == 0 else 10 * math.log10(255.0 ** 2 / mse)


def main():
    if len(sys.argv) < 3:
        print(__doc__.strip().splitlines()[0], file=sys.stderr)
        return 2
    ref = load(sys.argv[1])
    for path in sys.argv[2:]:
        cand = load(path)
        if cand.size != ref.size:
            print(f"{path}: size differs", file=sys.stderr)
            return 1
        print(f"{psnr(ref, cand):.3f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
