"""Pictures derived from the card's picture, drawn after it by build.sh:

  app/icons/snowcard-<N>.png  the card's icon at N = 48, 64, 128 and 256:
                              the church and its neighbours, cut square
  examples/assets/winter.jpg  the whole picture at 320x240, for the examples
  examples/assets/star.png    a 64x64 five-pointed star, white with a blue
                              rim on transparency, the examples' sprite

Usage: derived.py ROOT (the top of the tree).
"""
import math
import sys
from pathlib import Path

from PIL import Image, ImageDraw

ICON_SIZES = (48, 64, 128, 256)
# The square of the picture the icon shows: the church with a house on
# either side, from the top of the spire to the snow in front.
ICON_BOX = (300, 300, 660, 660)


def star_points(cx, cy, outer, inner, points=5):
    pts = []
    for i in range(points * 2):
        r = outer if i % 2 == 0 else inner
        a = -math.pi / 2 + i * math.pi / points
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts


def draw_star(size=64, scale=4):
    big = Image.new("RGBA", (size * scale, size * scale), (0, 0, 0, 0))
    d = ImageDraw.Draw(big)
    c = size * scale / 2
    d.polygon(star_points(c, c + 2 * scale, 30 * scale, 12 * scale), fill=(120, 170, 255, 255))
    d.polygon(star_points(c, c + 2 * scale, 26 * scale, 10 * scale), fill=(255, 255, 255, 255))
    return big.resize((size, size), Image.LANCZOS)


def main(root):
    root = Path(root)
    picture = Image.open(root / "app/assets/image.jpg").convert("RGB")
    icons = root / "app/icons"
    icons.mkdir(parents=True, exist_ok=True)
    square = picture.crop(ICON_BOX)
    for n in ICON_SIZES:
        square.resize((n, n), Image.LANCZOS).save(icons / f"snowcard-{n}.png", optimize=True)
    assets = root / "examples/assets"
    assets.mkdir(parents=True, exist_ok=True)
    picture.resize((320, 240), Image.LANCZOS).save(assets / "winter.jpg", quality=88)
    draw_star().save(assets / "star.png", optimize=True)


if __name__ == "__main__":
    main(sys.argv[1])
