#!/usr/bin/python3
"""Tolvane --batch over a folder mixing TIFF, JPEG, PNG, WebP, HEIC and AVIF
sources, with and without transparency, into every output format, smooth
and exact: every file converts under its A000_ name with the format's
extension, transparency is kept where the format holds it and white where it
does not or where the exact engine flattened it.

usage: formats_test.py TOLVANE
"""
import json
import os
import subprocess
import sys
import tempfile

from PIL import Image

TOLVANE = os.path.realpath(sys.argv[1])
RED, BLUE, GREY = (220, 30, 30), (30, 60, 220), 90
W, H = 64, 48
failures = []


def fail(text):
    failures.append(text)
    print("FAIL: " + text)


def cut_out(mode, colour):
    """A rectangle of colour in the middle, fully transparent (black) around it."""
    img = Image.new(mode, (W, H), 0)
    inner = Image.new(mode, (W // 2, H // 2), colour + (255,) if isinstance(colour, tuple) else (colour, 255))
    img.paste(inner, (W // 4, H // 4))
    return img


def heif_enc(source_maker, suffix, *options):
    def make(path):
        tmp = path + ".src" + suffix
        source_maker(tmp)
        subprocess.run(["/usr/bin/heif-enc", *options, "-o", path, tmp], check=True, capture_output=True)
        os.remove(tmp)
    return make


def exif_orientation(k):
    exif = Image.Exif()
    exif[0x0112] = k
    return exif.tobytes()


ORIENTATION_6 = exif_orientation(6)


def pillow(img, **options):
    return lambda path: img.save(path, **options)


# name, how it is made, the colour in the middle, transparent around it.
SOURCES = [
    ("a_rgba.png", pillow(cut_out("RGBA", RED)), RED, True),
    ("b_grey_alpha.png", pillow(cut_out("LA", GREY)), (GREY,) * 3, True),
    ("c_lossless.webp", pillow(cut_out("RGBA", RED), lossless=True), RED, True),
    ("d_lossy.webp", pillow(Image.new("RGB", (W, H), BLUE), quality=90), BLUE, False),
    ("e_alpha.tif", pillow(cut_out("RGBA", RED)), RED, True),
    ("f_photo.jpg", pillow(Image.new("RGB", (W, H), BLUE), quality=95), BLUE, False),
    # heif-enc keeps the JPEG's EXIF Orientation 6 beside pixels it does not
    # turn: libheif's decode is upright, so the output keeps its shape.
    ("g_phone.heic", heif_enc(pillow(Image.new("RGB", (W, H), BLUE), exif=ORIENTATION_6), ".jpg", "-q", "90"),
     BLUE, False),
    ("h_alpha.avif", heif_enc(pillow(cut_out("RGBA", RED)), ".png", "-q", "90"), RED, True),
]
EXTENSION = {"tiff": "tif", "jpeg": "jpg", "bmp": "bmp", "png": "png", "webp": "webp"}
KEEPS_ALPHA = {"tiff", "png", "webp"}  # when resized smoothly


def near(got, want, slack):
    return all(abs(g - w) <= slack for g, w in zip(got, want))


def check_output(what, path, colour, transparent, alpha_kept):
    img = Image.open(path)
    img.load()
    if img.size != (W // 2, H // 2):
        fail("%s: %s is %s, expected half size" % (what, path, img.size))
        return
    has_alpha = "A" in img.getbands()
    if has_alpha != (transparent and alpha_kept):
        fail("%s: %s has mode %s" % (what, path, img.mode))
    rgba = img.convert("RGBA")
    middle, corner = rgba.getpixel((W // 4, H // 4)), rgba.getpixel((1, 1))
    slack = 12 if path.endswith((".jpg", ".webp")) or "avif" in what or "heic" in what else 3
    if not near(middle[:3], colour, slack) or middle[3] < 250:
        fail("%s: middle %s, expected %s opaque" % (what, middle, colour))
    if not transparent:
        return
    if alpha_kept and corner[3] > 8:
        fail("%s: corner %s, expected transparent" % (what, corner))
    if not alpha_kept and not near(corner, (255, 255, 255, 255), slack):
        fail("%s: corner %s, expected white" % (what, corner))


def main():
    with tempfile.TemporaryDirectory() as work:
        src = os.path.join(work, "src")
        os.makedirs(src)
        for name, make, _, _ in SOURCES:
            make(os.path.join(src, name))
        for engine in ("smooth", "exact"):
            for fmt in EXTENSION:
                what = "%s %s" % (fmt, engine)
                dest, report = os.path.join(work, "out_" + what.replace(" ", "_")), os.path.join(work, "r.jsonl")
                args = [TOLVANE, "--batch", "--quiet", "--percent", "50", "--format", fmt, "--dest", dest,
                        "--report", report] + (["--exact"] if engine == "exact" else []) + [src]
                run = subprocess.run(args, cwd=work, capture_output=True, text=True, timeout=300)
                rows = [json.loads(line) for line in open(report)] if os.path.exists(report) else []
                summary = (run.stderr.strip().splitlines() or [""])[-1]
                if run.returncode != 0 or not summary.startswith("DONE: %d converted, 0" % len(SOURCES)):
                    fail("%s: exit %d, %r" % (what, run.returncode, summary))
                by_name = {os.path.basename(r["source"]): r for r in rows}
                if sorted(by_name) != sorted(name for name, _, _, _ in SOURCES):
                    fail("%s: report lines for %s" % (what, sorted(by_name)))
                    continue
                expected = ["A%03d_%s.%s" % (i, name.rsplit(".", 1)[0], EXTENSION[fmt])
                            for i, (name, _, _, _) in enumerate(SOURCES)]
                if sorted(os.listdir(dest)) != expected:
                    fail("%s: wrote %s, expected %s" % (what, sorted(os.listdir(dest)), expected))
                    continue
                for name, _, colour, transparent in SOURCES:
                    row = by_name[name]
                    if row["status"] != "converted":
                        fail("%s %s: %s" % (what, name, row))
                        continue
                    alpha_kept = engine == "smooth" and fmt in KEEPS_ALPHA
                    check_output("%s %s" % (what, name), row["output"], colour, transparent, alpha_kept)
                os.remove(report)
    if failures:
        sys.exit("%d failures" % len(failures))
    print("every source converts to every format, with transparency kept or white as the format holds it")


if __name__ == "__main__":
    main()
