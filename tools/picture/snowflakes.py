#!/usr/bin/python3
"""Writes the card's snowflake sprite sheet: 12 x 3 RGBA, four 3 x 3 flakes
side by side (flake k in columns 3k..3k+2).  The colour is plain white; the
shape is carried by the alpha channel only, so the card can tint and fade
the flakes freely.

  0  a soft dot
  1  a plus
  2  a cross (x)
  3  a soft round blob
"""

import sys

import numpy as np
from PIL import Image

FLAKES = [
    [[0, 64, 0],
     [64, 255, 64],
     [0, 64, 0]],
    [[0, 176, 0],
     [176, 255, 176],
     [0, 176, 0]],
    [[168, 40, 168],
     [40, 255, 40],
     [168, 40, 168]],
    [[112, 188, 112],
     [188, 240, 188],
     [112, 188, 112]],
]


def sheet():
    alpha = np.concatenate([np.array(f, np.uint8) for f in FLAKES], axis=1)   # 3 x 12
    rgba = np.empty((3, 12, 4), np.uint8)
    rgba[..., :3] = 255
    rgba[..., 3] = alpha
    return rgba


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: snowflakes.py OUT.png')
    Image.fromarray(sheet(), 'RGBA').save(sys.argv[1], optimize=True)


if __name__ == '__main__':
    main()
