#!/usr/bin/python3
"""Tolvane --batch end to end: EXIF orientation turns pictures upright, and a
photo's metadata (EXIF, GPS, ICC profile) is kept, corrected or stripped.

Usage: metadata_test.py PATH_TO_TOLVANE
"""
import fractions
import json
import os
import random
import struct
import subprocess
import sys
import tempfile
import unittest

from PIL import Image, ImageCms, ImageOps

TOLVANE = None
T = Image.Transpose
# Stored pixels = INVERSE[k](upright), so that a viewer honouring orientation k
# shows the upright picture.
INVERSE = {1: None, 2: T.FLIP_LEFT_RIGHT, 3: T.ROTATE_180, 4: T.FLIP_TOP_BOTTOM,
           5: T.TRANSPOSE, 6: T.ROTATE_90, 7: T.TRANSVERSE, 8: T.ROTATE_270}
QUADRANTS = [(220, 30, 30), (30, 200, 40), (30, 40, 220), (230, 220, 30)]
ICC = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
GPS = {"Exif.GPSInfo.GPSLatitudeRef": "N", "Exif.GPSInfo.GPSLatitude": "52/1 22/1 3071/100",
       "Exif.GPSInfo.GPSLongitudeRef": "W", "Exif.GPSInfo.GPSLongitude": "4/1 53/1 3/5"}
EXTENSION = {"jpeg": ".jpg", "tiff": ".tif", "png": ".png", "webp": ".webp"}
KEPT = {"Exif.Image.Make": "Voltrac", "Exif.Image.Model": "VX-9 Mark II",
        "Exif.Photo.DateTimeOriginal": "2021:06:14 09:26:53", **GPS}


def upright(w, h):
    """Four coloured quadrants with a small gradient: every flip and turn differs."""
    img = Image.new("RGB", (w, h))
    img.putdata([tuple(min(255, c + (x + y) // 4) for c in QUADRANTS[(y >= h // 2) * 2 + (x >= w // 2)])
                 for y in range(h) for x in range(w)])
    return img


def stored(img, k):
    return img if INVERSE[k] is None else img.transpose(INVERSE[k])


def quadrant_means(img):
    img = img.convert("RGB")
    w, h = img.size
    means = []
    for fy in (0.25, 0.75):
        for fx in (0.25, 0.75):
            box = img.crop((int(w * (fx - 0.1)), int(h * (fy - 0.1)), int(w * (fx + 0.1)) + 1, int(h * (fy + 0.1)) + 1))
            px = list(box.getdata())
            means.append(tuple(sum(p[c] for p in px) / len(px) for c in range(3)))
    return means


def mean_abs_diff(a, b):
    a, b = a.convert("RGB"), b.convert("RGB")
    total = sum(abs(p - q) for pa, pb in zip(a.getdata(), b.getdata()) for p, q in zip(pa, pb))
    return total / (a.size[0] * a.size[1] * 3)


def load(path):
    """The decoded picture (Pillow turns a TIFF by its Orientation tag here)."""
    with Image.open(path) as img:
        img.load()
        return img


def exif_of(path):
    """Raw EXIF values by exiv2 key, e.g. {'Exif.Image.Make': 'Voltrac'}."""
    out = subprocess.run(["/usr/bin/exiv2", "-q", "-PEkv", path], capture_output=True, text=True).stdout
    return dict((line.split(None, 1) + [""])[:2] for line in out.splitlines() if line.strip())


def rationals(text):
    return [fractions.Fraction(part) for part in text.split()]


def exiv2_set(path, values):
    args = ["/usr/bin/exiv2"]
    for key, value in values.items():
        kind = "Rational" if "/" in value else "Long" if value.isdigit() and "Pixel" in key else "Ascii"
        kind = "Short" if key.endswith("Orientation") else kind
        args += ["-M", "set %s %s %s" % (key, kind, value)]
    subprocess.run(args + [path], check=True)


class Metadata(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.dir = self.tmp.name
        os.makedirs(os.path.join(self.dir, "cwd"))  # no processor file of the caller's is read
        self.addCleanup(self.tmp.cleanup)

    def folder(self, name):
        path = os.path.join(self.dir, name)
        os.makedirs(path, exist_ok=True)
        return path

    def batch(self, files, *options):
        """Runs one batch, expects exit 0 and returns the report's rows by source name."""
        dest, report = self.folder("out%d" % len(os.listdir(self.dir))), os.path.join(self.dir, "r.jsonl")
        cmd = [TOLVANE, "--batch", "--quiet", "--dest", dest, "--report", report, *options, *files]
        run = subprocess.run(cmd, cwd=os.path.join(self.dir, "cwd"), capture_output=True, text=True, timeout=300)
        self.assertEqual(run.returncode, 0, "%s\nexit %d: %s" % (" ".join(cmd), run.returncode, run.stderr))
        with open(report) as lines:
            rows = [json.loads(line) for line in lines]
        os.remove(report)
        by_name = {os.path.basename(r["source"]): r for r in rows}
        self.assertEqual(sorted(by_name), sorted(os.path.basename(f) for f in files), "report rows")
        for name, row in by_name.items():
            self.assertEqual(row["status"], "converted", "%s: %s" % (name, row))
            self.assertTrue(os.path.isfile(row["output"]), "%s: no output %s" % (name, row["output"]))
        return by_name

    def assert_upright(self, out, want, what):
        """The output's pixels show `want`, and no Orientation tag other than 1 is left
        (Pillow turns TIFFs by their tag when loading, which would hide stored pixels)."""
        orientation = exif_of(out).get("Exif.Image.Orientation", "1")
        self.assertEqual(orientation, "1", "%s: output Orientation" % what)
        img = load(out)
        self.assertEqual(img.size, want.size, "%s: output size" % what)
        for i, (got, exp) in enumerate(zip(quadrant_means(img), quadrant_means(want))):
            self.assertTrue(all(abs(g - e) < 30 for g, e in zip(got, exp)),
                            "%s: quadrant %d is %s, expected about %s" % (what, i, got, exp))
        return img

    def photo(self, folder, name, ext, k, size, metadata=True, thumbnail=False):
        """A photo of `size` stored pixels with orientation k, optionally carrying
        KEPT's fields, stored PixelX/YDimension, an ICC profile and an EXIF thumbnail."""
        pic = upright(*size) if k < 5 else upright(size[1], size[0])
        path = os.path.join(folder, name + "." + ext)
        extra = {"icc_profile": ICC} if metadata else {}
        if ext == "jpg":
            exif = Image.Exif()
            exif[0x0112] = k
            stored(pic, k).save(path, quality=97, exif=exif.tobytes(), **extra)
        else:
            stored(pic, k).save(path, tiffinfo={274: k}, **extra)
        if metadata:
            exiv2_set(path, {**KEPT, "Exif.Photo.PixelXDimension": str(size[0]),
                             "Exif.Photo.PixelYDimension": str(size[1]), "Exif.Image.Orientation": str(k)})
        if thumbnail:
            Image.new("RGB", (16, 10), (0, 0, 200)).save(os.path.join(folder, name + "-thumb.jpg"))
            subprocess.run(["/usr/bin/exiv2", "-it", path], check=True)
            os.remove(os.path.join(folder, name + "-thumb.jpg"))
        return path, pic

    def test_orientations_1_to_8_become_upright(self):
        src = self.folder("src")
        cases = [(ext, k) + self.photo(src, "%s%d" % (ext, k), ext, k, (64, 40), metadata=False)
                 for ext in ("jpg", "tif") for k in range(1, 9)]
        rows = self.batch([c[2] for c in cases], "--percent", "100")
        for ext, k, path, pic in cases:
            with self.subTest(source=os.path.basename(path)):
                out = self.assert_upright(rows[os.path.basename(path)]["output"], pic, os.path.basename(path))
                if ext == "tif":  # lossless end to end: exact
                    self.assertEqual(list(out.convert("RGB").getdata()), list(pic.getdata()), "%s: pixels" % path)
                else:
                    reference = ImageOps.exif_transpose(load(path))
                    self.assertLess(mean_abs_diff(reference, pic), 6, "test's own JPEG source is wrong")
                    self.assertLess(mean_abs_diff(out, reference), 6, "%s: pixels differ from the upright source" % path)

    def test_fit_uses_the_upright_shape(self):
        # Stored 120 x 80 with Orientation 6 is an 80 x 120 portrait: it must fit
        # exactly as the same portrait stored upright does, not as a landscape.
        src = self.folder("src")
        cases = [self.photo(src, "fit_" + ext, ext, 6, (120, 80), metadata=False) for ext in ("jpg", "tif")]
        control, _ = self.photo(src, "fit_plain", "tif", 1, (80, 120), metadata=False)
        rows = self.batch([path for path, _ in cases] + [control], "--fit", "100")
        want = load(rows["fit_plain.tif"]["output"]).size
        self.assertTrue(99 <= want[1] <= 100 and want[0] < want[1], "upright portrait fitted to %s" % (want,))
        for path, pic in cases:
            with self.subTest(source=path):
                out = rows[os.path.basename(path)]["output"]
                self.assertTrue(out.endswith(".jpg"), "--fit gives a JPEG: " + out)
                self.assert_upright(out, pic.resize(want), os.path.basename(path))

    def test_headline_orientation_6_with_gps(self):
        src = self.folder("src")
        path, pic = self.photo(src, "phone", "jpg", 6, (120, 80))
        out = self.batch([path])["phone.jpg"]["output"]
        self.assert_upright(out, pic, "phone.jpg")
        gps = exif_of(out)
        for key, value in GPS.items():
            self.assertIn(key, gps, "GPS field lost")
            got = gps[key] if key.endswith("Ref") else rationals(gps[key])
            self.assertEqual(got, value if key.endswith("Ref") else rationals(value), key)

    def test_metadata_kept_or_stripped(self):
        self.kept_or_stripped([("jpeg", False), ("tiff", False), ("png", False),
                               ("jpeg", True), ("tiff", True), ("webp", True)])

    def test_webp_keeps_metadata(self):
        self.kept_or_stripped([("webp", False)])

    def kept_or_stripped(self, cases):
        src = self.folder("src")
        sources = [self.photo(src, "cam_jpg", "jpg", 6, (120, 80), thumbnail=True),
                   self.photo(src, "cam_tif", "tif", 6, (120, 80))]
        self.assertIn("Exif.Thumbnail.JPEGInterchangeFormat", exif_of(sources[0][0]), "test's own source")
        for path, _ in sources:  # the sources really carry what is to be kept
            self.assertEqual(load(path).info.get("icc_profile"), ICC, "test's own source: ICC")
            self.assertTrue(set(KEPT) <= set(exif_of(path)), "test's own source: EXIF")
        for fmt, strip in cases:
            options = ["--format", fmt, "--percent", "50"] + (["--strip"] if strip else [])
            rows = self.batch([path for path, _ in sources], *options)
            for path, pic in sources:
                what = "%s %s" % (os.path.basename(path), " ".join(options))
                with self.subTest(case=what):
                    out = rows[os.path.basename(path)]["output"]
                    self.assertTrue(out.endswith(EXTENSION[fmt]), what + ": " + out)
                    img = self.assert_upright(out, pic.resize((40, 60)), what)
                    exif, icc = exif_of(out), img.info.get("icc_profile")
                    if strip:
                        self.assertTrue(icc is None, what + ": ICC profile of %d bytes left" % len(icc or b""))
                        # A TIFF's own structure tags read as Exif.Image.*; other formats have no EXIF at all.
                        left = [k for k in exif if fmt != "tiff" or k in KEPT
                                or k.split(".")[1] in ("Photo", "GPSInfo", "Thumbnail")]
                        self.assertEqual(left, [], what + ": EXIF left")
                        self.assertNotIn("exif", img.info, what + ": EXIF left")
                        continue
                    self.assertEqual(icc, ICC, what + ": ICC profile not kept byte for byte")
                    for key, value in KEPT.items():
                        self.assertIn(key, exif, what + ": lost")
                        if "/" in value:
                            self.assertEqual(rationals(exif[key]), rationals(value), what + ": " + key)
                        else:
                            self.assertEqual(exif[key], value, what + ": " + key)
                    self.assertEqual(exif.get("Exif.Image.Orientation"), "1", what + ": Orientation")
                    self.assertEqual((exif.get("Exif.Photo.PixelXDimension"), exif.get("Exif.Photo.PixelYDimension")),
                                     (str(img.size[0]), str(img.size[1])), what + ": PixelX/YDimension")
                    self.assertEqual([k for k in exif if k.startswith("Exif.Thumbnail.")], [], what + ": thumbnail left")

    def test_camera_fields_of_jpeg_and_heic_into_png_and_webp(self):
        # heif-enc carries a JPEG's EXIF into the HEIC it makes; the library
        # reads it back from there through libheif.
        src = self.folder("src")
        camera = {"Exif.Image.Make": "Voltrac", "Exif.Image.Model": "VX-9 Mark II"}
        jpg, _ = self.photo(src, "cam", "jpg", 1, (64, 40), metadata=False)
        exiv2_set(jpg, camera)
        heic = os.path.join(src, "phone.heic")
        subprocess.run(["/usr/bin/heif-enc", "-q", "90", "-o", heic, jpg], check=True, capture_output=True)
        with open(heic, "rb") as f:
            self.assertIn(b"Voltrac", f.read(), "test's own HEIC source carries no EXIF")
        for fmt in ("png", "webp"):
            rows = self.batch([jpg, heic], "--format", fmt, "--percent", "50")
            for name in ("cam.jpg", "phone.heic"):
                with self.subTest(source=name, format=fmt):
                    out = rows[name]["output"]
                    self.assertTrue(out.endswith(EXTENSION[fmt]), out)
                    exif = exif_of(out)
                    self.assertEqual({k: exif.get(k) for k in camera}, camera, out)
                    self.assertEqual(load(out).size, (32, 20), out)

    def test_damaged_exif_still_converts_with_a_note(self):
        src = self.folder("src")
        garbage = {  # name: the APP1 segment's body
            "far_ifd": b"Exif\x00\x00II*\x00" + struct.pack("<I", 0x7FFFFFF0),
            "short_ifd": b"Exif\x00\x00MM\x00*\x00\x00\x00\x08\xff\xff" + bytes(range(40)),
            "random": b"Exif\x00\x00" + random.Random(7).randbytes(300),
        }
        pic = upright(64, 40)
        for name, body in garbage.items():
            pic.save(os.path.join(src, name + ".jpg"), quality=97, exif=body)
        rows = self.batch([os.path.join(src, name + ".jpg") for name in garbage])
        for name in garbage:
            with self.subTest(source=name):
                row = rows[name + ".jpg"]
                img = load(row["output"])
                self.assertEqual(img.size, (64, 40), name + ": output size")
                self.assertLess(mean_abs_diff(img, pic), 6, name + ": output pixels")
                self.assertIn("metadata", str(row.get("note", "")).lower(), name + ": report note: %s" % row)


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit("usage: metadata_test.py PATH_TO_TOLVANE")
    TOLVANE = os.path.realpath(sys.argv[1])
    unittest.main(argv=[sys.argv[0], "-v"])
