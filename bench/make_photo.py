#!/usr/bin/python3
"""Writes the benchmarks' 6000 x 4000 photo-like picture into FOLDER as
photo.ppm, photo.jpg (quality 90) and photo.tif (uncompressed): gradients in
two channels, noise in the third, and a blurred copy of noise laid over all
three.

    bench/make_photo.py FOLDER
"""
import sys

from PIL import Image, ImageChops, ImageFilter

w, h, out = 6000, 4000, sys.argv[1]
r = Image.linear_gradient("L").resize((w, h))
g = Image.radial_gradient("L").resize((w, h))
b = Image.effect_noise((w, h), 60)
texture = Image.effect_noise((w, h), 90).filter(ImageFilter.GaussianBlur(2))
rgb = Image.merge("RGB", [ImageChops.add(c, texture, 2.0) for c in (r, g, b)])
rgb.save(out + "/photo.ppm")
rgb.save(out + "/photo.jpg", quality=90)
rgb.save(out + "/photo.tif")
