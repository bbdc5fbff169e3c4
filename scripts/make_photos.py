#!/usr/bin/python3
"""Writes COUNT photo-like test pictures (smooth light, texture, shapes and
noise, each different) into FOLDER: JPEG at quality 90, with every fifth a
portrait, and one TIFF and one BMP among them. Deterministic.

usage: make_photos.py FOLDER [COUNT] [WIDTH] [HEIGHT]
"""
import os
import random
import sys

from PIL import Image, ImageDraw, ImageFilter


def photo(index, width, height):
    rnd = random.Random(index)
    small = (max(width // 8, 1), max(height // 8, 1))
    sky = Image.linear_gradient("L").rotate(rnd.uniform(-40, 40)).resize(small)
    sun = Image.radial_gradient("L").resize(small)
    grain = Image.effect_noise(small, 30 + index % 20)
    base = Image.merge("RGB", (sky, sun, grain)).resize((width, height), Image.BICUBIC)
    draw = ImageDraw.Draw(base)
    for _ in range(12):
        x, y = rnd.randrange(width), rnd.randrange(height)
        r = rnd.randrange(max(width, height) // 40 + 1, max(width, height) // 6 + 2)
        colour = tuple(rnd.randrange(256) for _ in range(3))
        if rnd.random() < 0.5:
            draw.ellipse((x - r, y - r, x + r, y + r), fill=colour)
        else:
            draw.rectangle((x - r, y - r // 2, x + r, y + r // 2), fill=colour)
    base = base.filter(ImageFilter.GaussianBlur(1.2))
    noise = Image.effect_noise((width, height), 12).convert("RGB")
    return Image.blend(base, noise, 0.08)


def main():
    folder = sys.argv[1]
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 12
    width = int(sys.argv[3]) if len(sys.argv) > 3 else 3000
    height = int(sys.argv[4]) if len(sys.argv) > 4 else 2000
    os.makedirs(folder, exist_ok=True)
    for i in range(count):
        w, h = (height, width) if i % 5 == 4 else (width, height)
        picture = photo(i, w, h)
        stem = os.path.join(folder, "photo_%03d" % i)
        if count > 2 and i == 1:
            picture.save(stem + ".tif", dpi=(300, 300))
        elif count > 2 and i == 2:
            picture.save(stem + ".bmp")
        else:
            picture.save(stem + ".jpg", quality=90, dpi=(300, 300))


if __name__ == "__main__":
    main()
