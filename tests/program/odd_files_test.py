#!/usr/bin/python3
"""Tolvane --batch over a folder of bad and odd files, as common tools write
them: every listed file gets exactly one report line and one outcome, the
counts add up, the report is JSON, and a bad file never stops the others.
Then two shards over a folder holding an empty file convert each name once.

usage: odd_files_test.py TOLVANE
"""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile

from PIL import Image

TOLVANE = os.path.realpath(sys.argv[1])
failures = []


def fail(text):
    failures.append(text)
    print("FAIL: " + text)


def photo(size=(64, 48), seed=1):
    return Image.effect_noise(size, 30 + seed).convert("RGB")


def saved(fmt, **options):
    def make(path):
        photo().save(path, fmt, **options)
    return make


def raw(data):
    def make(path):
        with open(path, "wb") as f:
            f.write(data)
    return make


def truncated(fmt, **options):
    def make(path):
        photo((400, 300)).save(path, fmt, **options)
        data = open(path, "rb").read()
        open(path, "wb").write(data[: len(data) // 2])
    return make


def three_pages(path):
    pages = [photo(seed=k) for k in range(3)]
    pages[0].save(path, "TIFF", save_all=True, append_images=pages[1:])


def palette_targa(rle):
    def make(path):
        # Type 1 (9 with RLE): 8-bit indices into a 24-bit map of 4 entries.
        w, h = 4, 2
        header = struct.pack("<BBBHHBHHHHBB", 0, 1, 9 if rle else 1, 0, 4, 24, 0, 0, w, h, 8, 0)
        cmap = bytes([0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255])
        indices = bytes([0, 1, 2, 3, 3, 2, 1, 0])
        if rle:
            body = b"".join(bytes([0x03]) + indices[r * 4:(r + 1) * 4] for r in range(h))
        else:
            body = indices
        open(path, "wb").write(header + cmap + body)
    return make


def id_field_targa(path):
    w, h = 3, 2
    ident = b"made by a scanner"
    header = struct.pack("<BBBHHBHHHHBB", len(ident), 0, 2, 0, 0, 0, 0, 0, w, h, 24, 0)
    open(path, "wb").write(header + ident + bytes(range(w * h * 3)))


def bitfield_bmp(bits, info_size):
    def make(path):
        # Bottom-up, BI_BITFIELDS (3), masks for 5-6-5 or 8-8-8 in the
        # header (V4/V5) or after a 40-byte one.
        w, h = 3, 2
        masks = (0xF800, 0x07E0, 0x001F) if bits == 16 else (0xFF0000, 0x00FF00, 0x0000FF)
        row = bytearray()
        for x in range(w):
            row += (struct.pack("<H", [0xF800, 0x07E0, 0x001F][x]) if bits == 16
                    else struct.pack("<I", [0xFF0000, 0x00FF00, 0x0000FF][x]))
        row += bytes((-len(row)) % 4)
        pixels = bytes(row) * h
        info = struct.pack("<IiiHHIIiiII", info_size, w, h, 1, bits, 3, len(pixels), 2835, 2835, 0, 0)
        if info_size == 40:
            extra = struct.pack("<III", *masks)
        else:
            info += struct.pack("<IIII", *masks, 0) + bytes(info_size - 56)
            extra = b""
        offset = 14 + len(info) + len(extra)
        head = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
        open(path, "wb").write(head + info + extra + pixels)
    return make


def imagemagick_bmp(path):
    tmp = path + ".png"
    photo().save(tmp)
    subprocess.run(["/usr/bin/convert", tmp, "-alpha", "on", "-define", "bmp:format=bmp4", "BMP:" + path],
                   check=True)
    os.remove(tmp)


HUGE_BMP = b"BM" + struct.pack("<IHHI", 54, 0, 0, 54) + struct.pack(
    "<IiiHHIIiiII", 40, 100000, 100000, 1, 24, 0, 0, 0, 0, 0, 0)

# name, how it is made, the outcome, words the reason or warning holds.
ROWS = [
    ("00_empty.jpg", raw(b""), "failed", ""),
    ("png_named.jpg", saved("PNG"), "converted", ""),  # read by its signature
    ("sig_only.png", raw(b"\x89PNG\r\n\x1a\n" + bytes(40)), "failed", ""),
    ("sig_only.webp", raw(b"RIFF\x24\x00\x00\x00WEBPVP8 " + bytes(28)), "failed", ""),
    ("huge.bmp", raw(HUGE_BMP), "failed", ""),
    ("cut.tif", truncated("TIFF"), "converted", "Read error"),
    ("cut.bmp", truncated("BMP"), "failed", ""),
    ("cut.jpg", truncated("JPEG", quality=90), "converted", "Premature end of JPEG file"),
    ("cut.tga", truncated("TGA"), "failed", ""),
    ("huge.tga", raw(struct.pack("<BBBHHBHHHHBB", 0, 0, 2, 0, 0, 0, 0, 0, 65535, 65535, 24, 0)), "failed", ""),
    ("good.jpg", saved("JPEG"), "converted", ""),
    ("back\\slash.jpg", saved("JPEG"), "converted", ""),
    ("caf\udce9.jpg", saved("JPEG"), "converted", ""),
    ("x.dcr.jpg", saved("JPEG"), "converted", ""),
    ("pages.tif", three_pages, "converted", ""),
    ("palette.tga", palette_targa(False), "converted", ""),
    ("palette_rle.tga", palette_targa(True), "converted", ""),
    ("with_id.tga", id_field_targa, "converted", ""),
    ("v3_565.bmp", bitfield_bmp(16, 40), "converted", ""),
    ("v4_32.bmp", bitfield_bmp(32, 108), "converted", ""),
    ("v5_565.bmp", bitfield_bmp(16, 124), "converted", ""),
    ("magick.bmp", imagemagick_bmp, "converted", ""),
]
# How the report spells a name that is not UTF-8: each such byte as \u00XX.
SPELLED = {"caf\udce9.jpg": "caf\u00e9.jpg"}
# Not offered by the file filter: never listed.
UNLISTED = ["notes.txt", "photos.DCR.archive"]


def on_disk(path):
    """A report path as the file system holds it: where the report wrote a
    byte as \\u00XX, that byte."""
    return path if os.path.exists(path) else path.encode("latin-1")


def run(args, cwd):
    return subprocess.run([TOLVANE, "--batch", "--quiet"] + args, cwd=cwd, capture_output=True)


def odd_files(work):
    src, dest = os.path.join(work, "src"), os.path.join(work, "out")
    os.makedirs(src)
    os.makedirs(dest)
    for name, make, _, _ in ROWS:
        make(os.path.join(src, name))
    for name in UNLISTED:
        open(os.path.join(src, name), "w").write("not a picture")
    # A file this user may not read fails in its place; root reads anything.
    locked = os.path.join(src, "locked.jpg")
    saved("JPEG")(locked)
    os.chmod(locked, 0)
    rows = ROWS + ([("locked.jpg", None, "failed", "")] if os.geteuid() != 0 else [])
    if os.geteuid() == 0:
        print("SKIP unreadable file: running as root, which reads any file")
        os.remove(locked)
    report = os.path.join(work, "report.jsonl")
    done = run(["--dest", dest, "--report", report, src], work)
    if done.returncode != 1:
        fail("odd files: exit %d, expected 1 (files failed)" % done.returncode)
    lines = open(report, "rb").read().decode("utf-8").splitlines()
    try:
        records = [json.loads(line) for line in lines]
    except ValueError as e:
        fail("odd files: the report is not JSON Lines: %s" % e)
        return
    by_name = {}
    for r in records:
        name = os.path.basename(r["source"])
        if name in by_name:
            fail("odd files: two lines for " + name)
        by_name[name] = r
    expected = {SPELLED.get(name, name) for name, _, _, _ in rows}
    if set(by_name) != expected:
        fail("odd files: lines for %s, expected %s" % (sorted(set(by_name) ^ expected), "none of them"))
    for name, _, status, words in rows:
        r = by_name.get(SPELLED.get(name, name))
        if not r:
            continue
        said = r["reason"] + " " + r.get("warning", "")
        if r["status"] != status:
            fail("%r: %s (%s), expected %s" % (name, r["status"], said.strip(), status))
        elif status == "failed" and not r["reason"]:
            fail("%r failed without words" % name)
        elif words and words not in said:
            fail("%r: %r does not say %r" % (name, said.strip(), words))
        if r["status"] == "converted":
            out = Image.open(on_disk(r["output"]))
            out.load()
            if getattr(out, "n_frames", 1) != 1:
                fail("%r: %d pages written" % (name, out.n_frames))
    summary = done.stderr.decode("utf-8", "replace").strip().splitlines()[-1]
    counts = [int(w) for w in summary.replace(",", " ").split() if w.isdigit()]
    converted = sum(r["status"] == "converted" for r in records)
    warned = sum(bool(r.get("warning")) for r in records)
    failed = sum(r["status"] == "failed" for r in records)
    if counts[:4] != [converted, warned, failed, 0] or converted + failed != len(rows):
        fail("odd files: summary %r for %d converted (%d warned), %d failed of %d"
             % (summary, converted, warned, failed, len(rows)))
    # Names with odd bytes keep them in their outputs.
    for name in ["back\\slash.jpg", SPELLED["caf\udce9.jpg"]]:
        out = by_name.get(name, {}).get("output", "")
        if not out.endswith("_" + name[:-4] + ".tif"):
            fail("%r written as %r" % (name, out))


def shards_with_an_empty_file(work):
    src = os.path.join(work, "shard_src")
    os.makedirs(src)
    for k in "abcdef":
        saved("JPEG")(os.path.join(src, k + ".jpg"))
    open(os.path.join(src, "c.jpg"), "wb").close()  # still being copied
    dest = os.path.join(work, "shard_out")
    os.makedirs(dest)
    seen = []
    for shard in ("0/2", "1/2"):
        report = os.path.join(work, "shard%s.jsonl" % shard[0])
        run(["--shard", shard, "--dest", dest, "--report", report, src], work)
        seen += [json.loads(line) for line in open(report)]
    names = sorted(os.path.basename(r["source"]) for r in seen)
    if names != [k + ".jpg" for k in "abcdef"]:
        fail("shards: lines for %s" % names)
    positions = sorted(r["position"] for r in seen)
    if positions != list(range(6)):
        fail("shards: positions %s" % positions)
    written = sorted(os.listdir(dest))
    want = ["A%03d_%s.tif" % (i, k) for i, k in enumerate("abcdef") if k != "c"]
    if written != want:
        fail("shards wrote %s, expected %s" % (written, want))


def strict(work):
    """--strict: a damaged source fails and leaves nothing; a clean one converts."""
    src, dest = os.path.join(work, "strict_src"), os.path.join(work, "strict_out")
    os.makedirs(src)
    os.makedirs(dest)
    truncated("JPEG", quality=90)(os.path.join(src, "a_cut.jpg"))
    saved("JPEG")(os.path.join(src, "b_good.jpg"))
    report = os.path.join(work, "strict.jsonl")
    done = run(["--strict", "--dest", dest, "--report", report, src], work)
    got = {os.path.basename(r["source"]): r for r in map(json.loads, open(report))}
    cut = got.get("a_cut.jpg", {})
    if done.returncode != 1 or cut.get("status") != "failed" or "Premature end" not in cut.get("reason", ""):
        fail("--strict: exit %d, the cut file %s" % (done.returncode, cut))
    if sorted(os.listdir(dest)) != ["A001_b_good.tif"]:
        fail("--strict wrote %s" % sorted(os.listdir(dest)))


def exif_only_jpeg(path):
    exif = Image.Exif()
    exif[0x011A] = 240.0  # XResolution
    exif[0x011B] = 240.0
    exif[0x0128] = 2      # per inch
    photo().save(path, "JPEG", exif=exif)  # JFIF density unit 0


def resolutions(work):
    """The resolution a file's header gives, as the run's settings show it
    (the output's resolution starts as the first file's)."""
    rows = [
        ("jfif300.jpg", saved("JPEG", dpi=(300, 300)), "300 dpi"),
        ("jfif_unit0.jpg", saved("JPEG"), "none"),
        ("exif240.jpg", exif_only_jpeg, "240 dpi"),
        ("plain.tga", palette_targa(False), "none"),
        ("scan.tif", saved("TIFF", dpi=(600, 600)), "600 dpi"),
    ]
    for name, make, expected in rows:
        path = os.path.join(work, "res_" + name)
        make(path)
        shown = run(["--dry-run", path], work).stdout.decode().splitlines()
        said = [s.split(":", 1)[1].split() for s in shown if s.startswith("Resolution:")]
        # "Resolution:  300.000 dpi": the number as the field shows it.
        words = said[0] if len(said) == 1 else []
        if words and words[0] != "none":
            words[0] = "%g" % float(words[0])
        if " ".join(words) != expected:
            fail("%s: resolution %s, expected %r" % (name, said, expected))


def main():
    work = tempfile.mkdtemp()
    try:
        odd_files(work)
        shards_with_an_empty_file(work)
        resolutions(work)
        strict(work)
    finally:
        shutil.rmtree(work)
    if failures:
        print("%d checks failed" % len(failures))
        sys.exit(1)
    print("odd files: every file accounted for")


main()
