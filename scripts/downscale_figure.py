#!/usr/bin/python3
"""Makes docs/downscale.png: a 1600 x 1600 zone plate (rings of
sin(pi r^2 / 1600), finer towards the edges) converted at 25 % by
Tolvane --batch, with --exact on the left and the default (smooth
resizing) on the right. At a quarter size only the rings near the centre
can be shown; the finer ones must become flat grey, not false rings.

    scripts/downscale_figure.py [TOLVANE] [OUTPUT]
"""
import os
import subprocess
import sys
import tempfile

import numpy as np
from PIL import Image, ImageDraw, ImageFont

root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
tolvane = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build/program/Tolvane")
output = sys.argv[2] if len(sys.argv) > 2 else os.path.join(root, "docs/downscale.png")

n = 1600
y, x = np.mgrid[0:n, 0:n] - n / 2 + 0.5
plate = (127.5 + 127.5 * np.sin(np.pi * (x * x + y * y) / 1600)).round().astype(np.uint8)

with tempfile.TemporaryDirectory() as work:
    src = os.path.join(work, "src")
    os.makedirs(src)
    Image.fromarray(plate).save(os.path.join(src, "zone_plate.tif"))
    panels = []
    for options in (["--exact"], []):
        dest = os.path.join(work, "exact" if options else "smooth")
        os.makedirs(dest)
        subprocess.run([tolvane, "--batch", "--quiet", "--percent", "25", "--dest", dest, *options, src],
                       check=True, stdout=subprocess.DEVNULL)
        panels.append((options, Image.open(os.path.join(dest, "A000_zone_plate.tif")).convert("L")))

font_path = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"
font = ImageFont.truetype(font_path, 18) if os.path.exists(font_path) else ImageFont.load_default()
side, gap, caption = panels[0][1].width, 16, 32
figure = Image.new("L", (2 * side + 3 * gap, side + caption + 2 * gap), 255)
draw = ImageDraw.Draw(figure)
for i, (options, panel) in enumerate(panels):
    left = gap + i * (side + gap)
    figure.paste(panel, (left, gap + caption))
    draw.text((left, gap), " ".join(["--percent 25", *options]), fill=0, font=font)
figure.save(output, optimize=True)
print(output)
