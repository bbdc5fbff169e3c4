#!/usr/bin/python3
"""Writes small valid files of every format and variant as fuzzing seeds.

Usage: make_seeds.py OUTDIR [ORVIX_TOOL]
Files come from an independent writer (PIL) and, when the orvix tool is
given, from the library's own writers.
"""
import os
import subprocess
import sys

from PIL import Image

out = sys.argv[1]
tool = sys.argv[2] if len(sys.argv) > 2 else None


def target(name):
    d = os.path.join(out, name)
    os.makedirs(d, exist_ok=True)
    return d


def picture(mode, size=(13, 7)):
    img = Image.new("RGB", size)
    img.putdata([((x * 37) % 256, (y * 71) % 256, (x * y * 13) % 256)
                 for y in range(size[1]) for x in range(size[0])])
    if mode == "I;16":  # PIL has no direct RGB -> I;16 conversion
        return img.convert("I").convert(mode)
    return img.convert(mode)


every = []  # (path) of every image seed, for the format-blind targets


def save(fmt_dir, name, img, **kw):
    path = os.path.join(target(fmt_dir), name)
    img.save(path, **kw)
    every.append(path)
    return path


save("read_pgm", "grey.pgm", picture("L"))
save("read_ppm", "colour.ppm", picture("RGB"))
save("read_bmp", "colour24.bmp", picture("RGB"))
save("read_bmp", "palette8.bmp", picture("P"))
save("read_bmp", "mono1.bmp", picture("1"))
save("read_bmp", "grey8.bmp", picture("L"))
save("read_tga", "colour.tga", picture("RGB"))
save("read_tga", "colour_rle.tga", picture("RGB"), compression="tga_rle")
save("read_tga", "rgba.tga", picture("RGBA"))
save("read_tga", "grey.tga", picture("L"))
save("read_tga", "palette.tga", picture("P"))
save("read_tga", "palette_id_rle.tga", picture("P"), compression="tga_rle", id_section=b"seed")


def raw(fmt_dir, name, data):
    path = os.path.join(target(fmt_dir), name)
    with open(path, "wb") as f:
        f.write(data)
    every.append(path)


def bitfield_bmp(header_size, bpp, masks, width=5, height=3):
    """Bit-field masks after a 40-byte header or inside a longer one."""
    import struct
    after = b"".join(struct.pack("<I", m) for m in masks) if header_size == 40 else b""
    offset = 14 + header_size + len(after)
    stride = (width * bpp // 8 + 3) // 4 * 4
    info = struct.pack("<IiiHHIIiiII", header_size, width, height, 1, bpp, 3,
                       stride * height, 2835, 2835, 0, 0)
    if header_size > 40:
        info += b"".join(struct.pack("<I", m) for m in masks)
    info = info.ljust(header_size, b"\0")
    pixels = bytes((i * 37) % 256 for i in range(stride * height))
    head = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    return head + info + after + pixels


raw("read_bmp", "bitfields565.bmp", bitfield_bmp(40, 16, (0xF800, 0x07E0, 0x001F)))
raw("read_bmp", "bitfields32_v4.bmp",
    bitfield_bmp(108, 32, (0xFF0000, 0xFF00, 0xFF, 0xFF000000)))
raw("read_bmp", "bitfields1010_v5.bmp",
    bitfield_bmp(124, 32, (0x3FF00000, 0xFFC00, 0x3FF, 0)))
for comp in ("raw", "tiff_lzw", "packbits", "tiff_adobe_deflate"):
    save("read_tiff", "rgb_%s.tif" % comp, picture("RGB"), compression=comp)
    save("read_tiff", "grey_%s.tif" % comp, picture("L"), compression=comp)
save("read_tiff", "palette.tif", picture("P"))
save("read_tiff", "mono.tif", picture("1"))
save("read_tiff", "grey16.tif", picture("I;16"))
save("read_tiff", "tiled.tif", picture("RGB", (40, 40)), tile=(16, 16))
save("read_tiff", "cmyk.tif", picture("CMYK"))
save("read_jpeg", "colour.jpg", picture("RGB"), quality=80)
save("read_jpeg", "grey.jpg", picture("L"), quality=80)
save("read_jpeg", "progressive.jpg", picture("RGB"), quality=80, progressive=True)
save("read_jpeg", "cmyk.jpg", picture("CMYK"), quality=80)
save("read_jpeg", "dpi.jpg", picture("RGB"), quality=80, dpi=(72, 72))
save("read_png", "colour.png", picture("RGB"), dpi=(300, 300))
save("read_png", "grey16.png", picture("I;16"))
save("read_png", "grey_alpha.png", picture("LA"))
save("read_png", "rgba.png", picture("RGBA"))
palette = picture("P")
save("read_png", "palette_trns.png", palette, transparency=bytes([0, 128] + [255] * 254))
save("read_png", "mono.png", picture("1"))
save("read_webp", "lossy.webp", picture("RGB"), quality=70)
save("read_webp", "lossless.webp", picture("RGBA"), lossless=True)
save("read_webp", "alpha.webp", picture("RGBA"), quality=70)
save("read_webp", "animated.webp", picture("RGB"), save_all=True,
     append_images=[picture("L").convert("RGB")], duration=50)


def interlaced_png(width, height):
    """An 8-bit grey Adam7 file, which PIL cannot write."""
    import struct
    import zlib
    passes = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
    raw = b""
    for x0, y0, dx, dy in passes:
        if x0 < width:
            for y in range(y0, height, dy):
                raw += b"\0" + bytes((x * 29 + y * 7) % 256 for x in range(x0, width, dx))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    ihdr = struct.pack(">IIBBBBB", width, height, 8, 0, 0, 0, 1)
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw))
            + chunk(b"IEND", b""))


raw("read_png", "interlaced.png", interlaced_png(13, 7))
# HEIC and AVIF from heif-enc, when it is installed.
heif_source = os.path.join(target("read_png"), "rgba.png")
for name in ("colour.heic", "colour.avif", "alpha.avif"):
    dest = os.path.join(target("read_heif"), name)
    args = ["/usr/bin/heif-enc", "-q", "30", heif_source, "-o", dest]
    if not name.startswith("alpha"):
        args.insert(1, "--no-alpha")
    try:
        subprocess.run(args, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        every.append(dest)
    except (OSError, subprocess.CalledProcessError):
        pass

if tool:
    src = os.path.join(target("read_ppm"), "colour.ppm")
    for kind, ext in (("tiff", "tif"), ("jpeg", "jpg"), ("bmp", "bmp"),
                      ("tga", "tga"), ("pgm", "pgm"), ("ppm", "ppm")):
        dest = os.path.join(target("read_" + ext.replace("tif", "tiff")
                                   .replace("jpg", "jpeg")), "ours." + ext)
        if os.path.exists(dest):
            os.unlink(dest)
        subprocess.run([tool, "convert", src, dest, "--type", kind],
                       check=False, stderr=subprocess.DEVNULL)
        if os.path.exists(dest):
            every.append(dest)

# Format-blind targets take every image.
for name in ("file_type", "thumbnail"):
    d = target(name)
    for i, path in enumerate(every):
        with open(path, "rb") as f:
            data = f.read()
        prefix = b"\x10" if name == "thumbnail" else b""
        with open(os.path.join(d, "%02d" % i), "wb") as f:
            f.write(prefix + data)
d = target("header")
for i, path in enumerate(every):
    with open(path, "rb") as f:
        data = f.read()
    with open(os.path.join(d, "%02d" % i), "wb") as f:
        f.write(bytes([1, 2, 5, 3, 0, 0, 0, 0]) + data)

# Resampling: shape, size and filter bytes, then pixels.
res = target("resample")
for i, head in enumerate((bytes([40, 30, 1, 9, 7, 0]), bytes([95, 2, 0, 199, 3, 3]),
                          bytes([0, 0, 5, 0, 0, 1]), bytes([63, 64, 3, 30, 90, 2]))):
    with open(os.path.join(res, "%02d" % i), "wb") as f:
        f.write(head + bytes((j * 53) % 256 for j in range(512)))

# Header files and server information texts.
hdr = target("read_hdr")
with open(os.path.join(hdr, "tiff.hdr"), "wb") as f:
    f.write(b"/img/a.tif\nTIFF\n401\t;WIDTH\n300\t;HEIGHT\n8\t;BITS\n2\t;PHOTOMETRIC\n"
            b"5\t;COMPRESSION\n1204\t;LINESIZE\n2\t;RES_INCH\n72.500000\t;X_RES\n"
            b"300.000000\t;Y_RES\n")
with open(os.path.join(hdr, "pgm.hdr"), "wb") as f:
    f.write(b"b.pgm\nPGM\n3\t;WIDTH\n2\t;HEIGHT\n16\t;BITS\n1\t;PHOTOMETRIC\n"
            b"1\t;COMPRESSION\n8\t;LINESIZE\n1\t;RES_NONE\n300.000000\t;X_RES\n"
            b"300.000000\t;Y_RES\n")
srv = target("server_info")
for i, text in enumerate((b"plate_01,localhost:2121,user,secret", b",,,", b"a,,b,",
                          b"", b"p" * 40 + b",h,u,p")):
    with open(os.path.join(srv, "%02d" % i), "wb") as f:
        f.write(text)
