// PNG, WebP, HEIC and AVIF: files written by Pillow, heif-enc and libheif
// read as those tools decode them (or as their sources were), round trips
// through the library's PNG and WebP writers, and damaged files.
#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/resource.h>

#include "codecs/image_tools.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const char kHeifEnc[] = "/usr/bin/heif-enc";

std::string LastError() { return Get_Last_Error(); }

bool ReadWhole(const std::string& path, ImgClass& img) {
    SetName(img, path);
    Post_Error("");
    return ReadImage(false, &img);
}

// Pixels with their samples per pixel, top line first, no padding.
struct Pixels {
    uint32_t width = 0, height = 0;
    int samples = 0;
    std::vector<uint8_t> data;
};

// The files the scripts write: "W H S\n" and the samples.
bool ReadPixels(const std::string& path, Pixels& p) {
    std::ifstream in(path, std::ios::binary);
    if (!(in >> p.width >> p.height >> p.samples)) return false;
    in.get();
    p.data.resize(size_t{p.width} * p.height * size_t(p.samples));
    in.read(reinterpret_cast<char*>(p.data.data()), std::streamsize(p.data.size()));
    return size_t(in.gcount()) == p.data.size();
}

Pixels FromImage(const ImgClass& img) {
    const ImgStruct& s = img.ImgStruct;
    Pixels p{s.Width, s.Height, s.Samples, {}};
    for (uint32_t y = 0; y < s.Height; ++y) {
        const uint8_t* row = s.ImgData + size_t{y} * s.LineSize;
        p.data.insert(p.data.end(), row, row + size_t{s.Width} * size_t(s.Samples));
    }
    return p;
}

// Same shape, no sample further than maxDiff from the wanted one and a mean
// distance of at most meanDiff.
::testing::AssertionResult Close(const Pixels& want, const Pixels& got, int maxDiff, double meanDiff) {
    if (want.width != got.width || want.height != got.height || want.samples != got.samples)
        return ::testing::AssertionFailure() << got.width << "x" << got.height << "x" << got.samples << ", want "
                                             << want.width << "x" << want.height << "x" << want.samples;
    double sum = 0;
    for (size_t i = 0; i < want.data.size(); ++i) {
        const int d = std::abs(int(want.data[i]) - int(got.data[i]));
        sum += d;
        if (d > maxDiff) {
            const size_t pixel = i / size_t(want.samples);
            return ::testing::AssertionFailure()
                   << "pixel (" << pixel % want.width << "," << pixel / want.width << ") sample "
                   << i % size_t(want.samples) << " is " << int(got.data[i]) << ", want " << int(want.data[i]);
        }
    }
    const double mean = want.data.empty() ? 0 : sum / double(want.data.size());
    if (mean > meanDiff) return ::testing::AssertionFailure() << "mean distance " << mean;
    return ::testing::AssertionSuccess();
}

// Writes every test input into argv[1] with its expected pixels beside it
// (NAME.want): Pillow's decoding, or for the hand-made PNGs (16-bit
// interlaced colour with alpha, 2-bit grey, an oversized header, a line of
// over a million pixels) the samples as libpng must deliver them.
const char kMakeInputs[] = R"PY(
import os, struct, zlib
out = sys.argv[1]
W, H = 23, 14

def path(name): return os.path.join(out, name)

def want(name, im):
    with open(path(name + ".want"), "wb") as f:
        f.write(b"%d %d %d\n" % (im.width, im.height, len(im.getbands())) + im.tobytes())

def picture(mode):
    im = Image.new("RGBA", (W, H))
    im.putdata([(x * 11 % 256, y * 18 % 256, (x * y * 7) % 256, 255 if (x + y) % 4 else (x * 40) % 256)
                for y in range(H) for x in range(W)])
    return im if mode == "RGBA" else im.convert(mode)

def smooth(alpha):
    im = Image.new("RGBA", (64, 48))
    im.putdata([(x * 4, y * 5, 128, (255 - x * 3) if alpha else 255) for y in range(48) for x in range(64)])
    return im if alpha else im.convert("RGB")

def chunk(kind, data):
    return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

ADAM7 = [(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4), (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]

def png(name, w, h, depth, colour, rows, interlace):
    # rows[y][x] is a tuple of samples; sub-byte depths are packed.
    def line(pixels):
        if depth == 16:
            return b"".join(struct.pack(">" + "H" * len(p), *p) for p in pixels)
        if depth == 8:
            return bytes(v for p in pixels for v in p)
        bits, acc, n = b"", 0, 0
        out = bytearray()
        for p in pixels:
            acc = (acc << depth) | p[0]; n += depth
            if n == 8: out.append(acc); acc, n = 0, 0
        if n: out.append(acc << (8 - n))
        return bytes(out)
    raw = b""
    if interlace:
        for x0, y0, dx, dy in ADAM7:
            xs = range(x0, w, dx)
            if not len(xs): continue
            for y in range(y0, h, dy): raw += b"\0" + line([rows[y][x] for x in xs])
    else:
        for y in range(len(rows)): raw += b"\0" + line(rows[y])
    ihdr = struct.pack(">IIBBBBB", w, h, depth, colour, 0, 0, 1 if interlace else 0)
    with open(path(name), "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b""))

picture("RGB").save(path("colour.png"), dpi=(300, 300)); want("colour.png", picture("RGB"))
grey16 = Image.new("I;16", (W, H)); grey16.putdata([(x * 2851 + y * 977) % 65536 for y in range(H) for x in range(W)])
grey16.save(path("grey16.png"))
want("grey16.png", Image.frombytes("L", (W, H), bytes(int(v / 257 + 0.5) for v in grey16.getdata())))
pal = picture("RGB").quantize(7); pal.info["transparency"] = bytes([0, 255, 128, 255, 255, 255, 40])
pal.save(path("palette.png"), transparency=pal.info["transparency"], dpi=(72, 72))
want("palette.png", Image.open(path("palette.png")).convert("RGBA"))
picture("LA").save(path("greyalpha.png")); want("greyalpha.png", picture("LA"))
rgba16 = [[((x * 3001) % 65536, (y * 4099) % 65536, (x * y * 263) % 65536, 65535 - x * 2000) for x in range(W)] for y in range(H)]
png("rgba16_interlaced.png", W, H, 16, 6, rgba16, True)
want("rgba16_interlaced.png", Image.frombytes("RGBA", (W, H), bytes(int(v / 257 + 0.5) for r in rgba16 for p in r for v in p)))
grey2 = [[((x + 2 * y) % 4,) for x in range(W)] for y in range(H)]
png("grey2_interlaced.png", W, H, 2, 0, grey2, True)
want("grey2_interlaced.png", Image.frombytes("L", (W, H), bytes(p[0] * 85 for r in grey2 for p in r)))
png("huge.png", 60000, 60000, 8, 0, [], False)
wide = [[((x // 7 + y) % 2,) for x in range(1000001)] for y in range(2)]
png("wide.png", 1000001, 2, 1, 0, wide, False)
want("wide.png", Image.frombytes("L", (1000001, 2), bytes(p[0] * 255 for r in wide for p in r)))
greytrns = picture("L"); greytrns.save(path("greytrns.png"), transparency=18)
want("greytrns.png", Image.frombytes("LA", (W, H), bytes(v for g in greytrns.getdata() for v in (g, 0 if g == 18 else 255))))

picture("RGB").save(path("lossy.webp"), quality=90); want("lossy.webp", Image.open(path("lossy.webp")).convert("RGB"))
picture("RGBA").save(path("lossless.webp"), lossless=True, exact=True); want("lossless.webp", picture("RGBA"))
picture("RGBA").save(path("alpha.webp"), quality=80); want("alpha.webp", Image.open(path("alpha.webp")).convert("RGBA"))
frames = [picture("RGB"), picture("RGB").transpose(Image.FLIP_LEFT_RIGHT)]
frames[0].save(path("animated.webp"), save_all=True, append_images=frames[1:], lossless=True, duration=100)
want("animated.webp", Image.open(path("animated.webp")).convert("RGBA"))
# The alpha chunk behind 5000 bytes of metadata, the extended header's alpha
# flag cleared: decoders take alpha from the chunk.
b = open(path("alpha.webp"), "rb").read()
assert b[12:16] == b"VP8X" and b[30:34] == b"ALPH"
late = b[:20] + bytes([b[20] & ~0x10]) + b[21:30] + b"XMP " + struct.pack("<I", 5000) + b" " * 5000 + b[30:]
open(path("latealpha.webp"), "wb").write(late[:4] + struct.pack("<I", len(late) - 8) + late[8:])
want("latealpha.webp", Image.open(path("alpha.webp")).convert("RGBA"))

smooth(False).save(path("smooth.png")); want("smooth.heic", smooth(False))
smooth(True).save(path("smooth_alpha.png")); want("smooth_alpha.avif", smooth(True))
)PY";

struct ReadCase {
    const char* file;
    int type;
    int bits;        // in the header: the file's own depth
    int maxDiff;     // from the wanted pixels
    double meanDiff;
    int resUnit;     // in the header and (unless 1) the image
    double res;
};

TEST(ModernFormats, ToolWrittenFilesReadAsTheToolsDecodeThemWithTheirHeaders) {
    if (!image_tools::HavePillow() || !HaveProgram(kHeifEnc)) GTEST_SKIP() << "needs python3-pil and heif-enc";
    TempDir dir;
    ASSERT_TRUE(image_tools::Pillow(dir.path().string(), kMakeInputs, {dir.path().string()}));
    const std::string q = image_tools::Quote(dir.path().string());
    ASSERT_TRUE(image_tools::Run("cd " + q + " && " + kHeifEnc + " -q 95 smooth.png -o smooth.heic >/dev/null &&" +
                                 kHeifEnc + " -q 95 smooth_alpha.png -o smooth_alpha.avif >/dev/null"));
    const ReadCase cases[] = {
        {"colour.png", IMG_TYPE_PNG, 8, 0, 0, 2, 300},
        {"grey16.png", IMG_TYPE_PNG, 16, 0, 0, 1, 0},
        {"palette.png", IMG_TYPE_PNG, 4, 0, 0, 2, 72},  // seven colours: 4-bit indices
        {"greyalpha.png", IMG_TYPE_PNG, 8, 0, 0, 1, 0},
        {"rgba16_interlaced.png", IMG_TYPE_PNG, 16, 0, 0, 1, 0},
        {"grey2_interlaced.png", IMG_TYPE_PNG, 2, 0, 0, 1, 0},
        {"wide.png", IMG_TYPE_PNG, 1, 0, 0, 1, 0},  // wider than libpng's own default limit
        {"greytrns.png", IMG_TYPE_PNG, 8, 0, 0, 1, 0},  // one grey level transparent
        // The same libwebp decodes for Pillow.
        {"lossy.webp", IMG_TYPE_WEBP, 8, 0, 0, 1, 0},
        {"lossless.webp", IMG_TYPE_WEBP, 8, 0, 0, 1, 0},
        {"alpha.webp", IMG_TYPE_WEBP, 8, 0, 0, 1, 0},
        {"animated.webp", IMG_TYPE_WEBP, 8, 0, 0, 1, 0},
        {"latealpha.webp", IMG_TYPE_WEBP, 8, 0, 0, 1, 0},
        // Lossy against the source; smooth pictures keep the error small.
        {"smooth.heic", IMG_TYPE_HEIF, 8, 24, 2.0, 1, 0},
        {"smooth_alpha.avif", IMG_TYPE_HEIF, 8, 24, 2.0, 1, 0},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.file);
        const std::string file = dir.File(c.file);
        Pixels want;
        ASSERT_TRUE(ReadPixels(file + ".want", want));
        EXPECT_EQ(Get_File_Type(file.c_str()), c.type);

        const std::string header = file + ".hdr";
        ASSERT_FALSE(Make_Local_Header(file.c_str(), header.c_str())) << LastError();
        IMAGE_HDR h{};
        ASSERT_FALSE(Read_Hdr(header.c_str(), &h));
        EXPECT_EQ(h.Type, c.type);
        EXPECT_EQ(uint32_t(h.Width), want.width);
        EXPECT_EQ(uint32_t(h.Height), want.height);
        EXPECT_EQ(h.Samples, want.samples);
        EXPECT_EQ(h.Bits, c.bits);
        EXPECT_EQ(h.ResUnit, c.resUnit);
        EXPECT_FLOAT_EQ(h.XRes, float(c.res));
        EXPECT_FLOAT_EQ(h.YRes, float(c.res));

        ImgClass img;
        ASSERT_FALSE(ReadWhole(file, img)) << LastError();
        EXPECT_EQ(img.ImgStruct.Type, c.type);
        EXPECT_EQ(img.ImgStruct.Bits, 8);
        EXPECT_EQ(img.ImgStruct.LineSize % 4, 0u);
        if (c.resUnit != 1) {
            EXPECT_EQ(img.ImgStruct.ResUnit, c.resUnit);
            EXPECT_DOUBLE_EQ(img.ImgStruct.Resolution, c.res);
        }
        EXPECT_TRUE(Close(want, FromImage(img), c.maxDiff, c.meanDiff));

        // For display: colour in B,G,R order, alpha still last; grey as it is.
        ImgClass swapped;
        SetName(swapped, file);
        ASSERT_FALSE(ReadImage(true, &swapped)) << LastError();
        EXPECT_EQ(swapped.ImgStruct.BgrOrder, want.samples >= 3);
        Pixels bgr = FromImage(swapped);
        if (want.samples >= 3)
            for (size_t i = 0; i < bgr.data.size(); i += size_t(bgr.samples)) std::swap(bgr.data[i], bgr.data[i + 2]);
        EXPECT_TRUE(Close(FromImage(img), bgr, 0, 0));
    }
}

// A pattern of the given samples whose colour runs along x and y
// differently, so that a turn or mirror shows.
void Gradient(ImgClass& img, uint32_t w, uint32_t h, int samples) {
    ImgStruct& s = img.ImgStruct;
    s.Width = w;
    s.Height = h;
    s.Samples = samples;
    s.LineSize = (w * uint32_t(samples) + 3) & ~3u;
    ASSERT_FALSE(img.AllocData());
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) {
            uint8_t* p = s.ImgData + size_t{y} * s.LineSize + size_t{x} * size_t(samples);
            const uint8_t v[4] = {uint8_t(x * 255 / (w - 1)), uint8_t(y * 255 / (h - 1)), 90, uint8_t(255 - x * 2)};
            for (int c = 0; c < samples; ++c) p[c] = v[c];
        }
}

// Writes img (3 samples) as a HEIC whose container turns it a quarter
// clockwise; 0 on success. Run in a child: the HEVC encoder's threads and
// pools would stay in the test process's address space.
int WriteTurnedHeic(const ImgClass& img, const std::string& file) {
    const ImgStruct& s = img.ImgStruct;
    heif_init(nullptr);
    heif_image* picture = nullptr;
    if (heif_image_create(int(s.Width), int(s.Height), heif_colorspace_RGB, heif_chroma_interleaved_RGB, &picture)
            .code != heif_error_Ok ||
        heif_image_add_plane(picture, heif_channel_interleaved, int(s.Width), int(s.Height), 8).code != heif_error_Ok)
        return 1;
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(picture, heif_channel_interleaved, &stride);
    for (uint32_t y = 0; y < s.Height; ++y)
        std::memcpy(plane + size_t{y} * size_t(stride), s.ImgData + size_t{y} * s.LineSize, size_t{s.Width} * 3);
    heif_context* ctx = heif_context_alloc();
    heif_encoder* encoder = nullptr;
    if (heif_context_get_encoder_for_format(ctx, heif_compression_HEVC, &encoder).code != heif_error_Ok) return 2;
    heif_encoder_set_lossy_quality(encoder, 95);
    heif_encoding_options* options = heif_encoding_options_alloc();
    options->image_orientation = heif_orientation_rotate_90_cw;
    if (heif_context_encode_image(ctx, picture, encoder, options, nullptr).code != heif_error_Ok) return 3;
    return heif_context_write_to_file(ctx, file.c_str()).code == heif_error_Ok ? 0 : 4;
}

// libheif's encoder can store a quarter turn in the container (heif-enc
// cannot): the reader must deliver the picture turned, once.
TEST(ModernFormats, HeicWithAContainerRotationReadsUpright) {
    TempDir dir;
    const uint32_t w = 64, h = 32;
    ImgClass source;
    Gradient(source, w, h, 3);
    const std::string file = dir.File("turned.heic");
    ASSERT_EQ(RunInChild([&] { return WriteTurnedHeic(source, file); }), 0);

    ASSERT_FALSE(Make_Local_Header(file.c_str(), (file + ".hdr").c_str())) << LastError();
    IMAGE_HDR hdr{};
    ASSERT_FALSE(Read_Hdr((file + ".hdr").c_str(), &hdr));
    EXPECT_EQ(hdr.Width, int(h));
    EXPECT_EQ(hdr.Height, int(w));
    ImgClass img;
    ASSERT_FALSE(ReadWhole(file, img)) << LastError();
    ASSERT_FALSE(Rotate_Image(&source, ROTATE_CW90));
    EXPECT_TRUE(Close(FromImage(source), FromImage(img), 24, 3.0));
}

struct RoundTrip {
    const char* name;
    int samples;
    bool bgr;
    bool png;
    int setting;  // PNG level or WebP quality
    bool lossless;
    int maxDiff;
};

// What a reader gives back for what was written: WebP has no grey, and
// B,G,R comes back as R,G,B.
Pixels Expected(const ImgClass& img, const RoundTrip& c) {
    Pixels p = FromImage(img);
    if (c.bgr)
        for (size_t i = 0; i < p.data.size(); i += size_t(p.samples)) std::swap(p.data[i], p.data[i + 2]);
    if (c.png || p.samples >= 3) return p;
    Pixels wide{p.width, p.height, p.samples + 2, {}};
    for (size_t i = 0; i < p.data.size(); i += size_t(p.samples)) {
        wide.data.insert(wide.data.end(), {p.data[i], p.data[i], p.data[i]});
        if (p.samples == 2) wide.data.push_back(p.data[i + 1]);
    }
    return wide;
}

// Written by the library, read back by the library and by Pillow (an
// independent decoder): exact for PNG and lossless WebP.
TEST(ModernFormats, PngAndWebpWritersRoundTrip) {
    const RoundTrip cases[] = {
        {"png grey", 1, false, true, 9, false, 0},
        {"png grey + alpha", 2, false, true, 0, false, 0},
        {"png colour", 3, false, true, 6, false, 0},
        {"png B,G,R + alpha", 4, true, true, 1, false, 0},
        {"webp lossless grey", 1, false, false, 50, true, 0},
        {"webp quality 100 grey + alpha", 2, false, false, 100, false, 0},
        {"webp lossless B,G,R", 3, true, false, 80, true, 0},
        {"webp lossless colour + alpha", 4, false, false, 100, true, 0},
        {"webp lossy colour + alpha", 4, false, false, 90, false, 40},
    };
    const bool pillow = image_tools::HavePillow();
    for (const RoundTrip& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string file = dir.File(c.png ? "out.png" : "out.webp");
        ImgClass img;
        Gradient(img, 29, 17, c.samples);
        img.ImgStruct.BgrOrder = c.bgr;
        img.ImgStruct.ResUnit = 3;
        img.ImgStruct.Resolution = 100;  // per centimetre: 254 per inch
        SetName(img, file);
        ASSERT_FALSE(c.png ? WritePNG(c.setting, &img) : WriteWEBP(c.setting, c.lossless, &img)) << LastError();
        const Pixels want = Expected(img, c);

        ImgClass back;
        ASSERT_FALSE(ReadWhole(file, back)) << LastError();
        EXPECT_TRUE(Close(want, FromImage(back), c.maxDiff, c.maxDiff / 4.0));
        if (c.png) {
            EXPECT_EQ(back.ImgStruct.ResUnit, 2);
            EXPECT_DOUBLE_EQ(back.ImgStruct.Resolution, 254.0);
        }
        if (!pillow) continue;
        const char* mode[] = {"", "L", "LA", "RGB", "RGBA"};
        ASSERT_TRUE(image_tools::Pillow(dir.path().string(),
                                        "im = Image.open(sys.argv[1]).convert(sys.argv[3])\n"
                                        "open(sys.argv[2], 'wb').write(b'%d %d %d\\n' % (im.width, im.height, "
                                        "len(im.getbands())) + im.tobytes())\n",
                                        {file, dir.File("pillow.want"), mode[want.samples]}));
        Pixels seen;
        ASSERT_TRUE(ReadPixels(dir.File("pillow.want"), seen));
        EXPECT_TRUE(Close(want, seen, c.maxDiff, c.maxDiff / 4.0));
    }
}

TEST(ModernFormats, WritersRefuseWhatTheyCannotWriteWithWords) {
    TempDir dir;
    ImgClass img;
    Gradient(img, 8, 4, 3);
    SetName(img, dir.File("x.png"));
    EXPECT_TRUE(WritePNG(10, &img));
    EXPECT_NE(LastError().find("level 10"), std::string::npos) << LastError();
    SetName(img, dir.File("x.webp"));
    EXPECT_TRUE(WriteWEBP(0, false, &img));
    EXPECT_NE(LastError().find("quality 0"), std::string::npos) << LastError();
    img.ImgStruct.Bits = 16;
    EXPECT_TRUE(WriteWEBP(80, false, &img));
    EXPECT_NE(LastError().find("16 bits"), std::string::npos) << LastError();
    // Refused before any file is made.
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.webp")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.png")));

    ImgClass wide;
    Gradient(wide, 16384, 2, 3);
    SetName(wide, dir.File("wide.webp"));
    EXPECT_TRUE(WriteWEBP(80, false, &wide));
    EXPECT_NE(LastError().find("16383"), std::string::npos) << LastError();
    EXPECT_FALSE(std::filesystem::exists(dir.File("wide.webp")));

    // A write the file system cuts short (here a file size limit) leaves no
    // file under the name. Noise, so that neither file compresses below it.
    ImgClass noise;
    Gradient(noise, 64, 64, 3);
    uint32_t seed = 1;
    for (size_t i = 0; i < size_t{noise.ImgStruct.LineSize} * 64; ++i) noise.ImgStruct.ImgData[i] = uint8_t((seed = seed * 1103515245u + 12345u) >> 24);
    for (const char* name : {"cut.png", "cut.webp"}) {
        SCOPED_TRACE(name);
        SetName(noise, dir.File(name));
        const bool png = std::string(name).ends_with(".png");
        EXPECT_EQ(RunInChild([&] {
                      signal(SIGXFSZ, SIG_IGN);
                      const rlimit limit{4096, 4096};
                      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) return 2;
                      return (png ? WritePNG(0, &noise) : WriteWEBP(100, true, &noise)) ? 0 : 1;
                  }),
                  0);
        EXPECT_FALSE(std::filesystem::exists(dir.File(name)));
    }
}

// Converting to the new types writes them; the WebP quality is Convert_Image's.
TEST(ModernFormats, ConvertImageWritesPngAndWebp) {
    TempDir dir;
    ImgClass img;
    Gradient(img, 31, 9, 3);
    const std::string source = dir.File("source.png");
    SetName(img, source);
    ASSERT_FALSE(WritePNG(6, &img)) << LastError();
    for (const auto& [name, type] : {std::pair{"copy.webp", IMG_TYPE_WEBP}, std::pair{"copy.png", IMG_TYPE_PNG}}) {
        SCOPED_TRACE(name);
        const std::string out = dir.File(name);
        ASSERT_FALSE(Convert_Image(source.c_str(), out.c_str(), type, 100)) << LastError();
        EXPECT_EQ(Get_File_Type(out.c_str()), type);
        ImgClass back;
        ASSERT_FALSE(ReadWhole(out, back)) << LastError();
        EXPECT_TRUE(Close(FromImage(img), FromImage(back), 0, 0));
    }
}

// Cut short or with a damaged header, every file fails with words that name
// it; none is read as a picture, and a damaged header makes no header file.
TEST(ModernFormats, DamagedFilesFailWithWords) {
    if (!image_tools::HavePillow() || !HaveProgram(kHeifEnc)) GTEST_SKIP() << "needs python3-pil and heif-enc";
    TempDir dir;
    ASSERT_TRUE(image_tools::Pillow(dir.path().string(), kMakeInputs, {dir.path().string()}));
    ASSERT_TRUE(image_tools::Run("cd " + image_tools::Quote(dir.path().string()) + " && " + kHeifEnc +
                                 " -q 50 smooth.png -o smooth.heic >/dev/null && " + kHeifEnc +
                                 " -q 50 smooth_alpha.png -o smooth.avif >/dev/null"));
    using Damage = std::vector<uint8_t> (*)(std::vector<uint8_t>);
    const struct {
        const char* file;
        const char* how;
        Damage damage;
        const char* words;  // expected in the message, or ""
        bool header;        // the damage reaches the header maker too
    } cases[] = {
        {"colour.png", "cut in its header", [](std::vector<uint8_t> b) { b.resize(20); return b; }, "", true},
        {"colour.png", "cut in its data", [](std::vector<uint8_t> b) { b.resize(b.size() / 2); return b; }, "", false},
        {"colour.png", "width 0", [](std::vector<uint8_t> b) { b[16] = b[17] = b[18] = b[19] = 0; return b; }, "", true},
        {"rgba16_interlaced.png", "cut in its data",
         [](std::vector<uint8_t> b) { b.resize(b.size() * 2 / 3); return b; }, "", false},
        {"huge.png", "60000 x 60000 pixels", [](std::vector<uint8_t> b) { return b; }, "ORVIX_MAX_PIXELS", false},
        {"lossy.webp", "cut in its header", [](std::vector<uint8_t> b) { b.resize(24); return b; }, "", true},
        {"lossy.webp", "cut in its data", [](std::vector<uint8_t> b) { b.resize(b.size() / 2); return b; },
         "ends before", false},
        {"lossless.webp", "damaged signature",
         [](std::vector<uint8_t> b) { b[12 + 3] = 'Q'; return b; }, "", true},
        {"alpha.webp", "cut in its data", [](std::vector<uint8_t> b) { b.resize(b.size() * 3 / 4); return b; }, "", false},
        {"smooth.heic", "cut in its boxes", [](std::vector<uint8_t> b) { b.resize(40); return b; }, "", true},
        {"smooth.heic", "cut in its data", [](std::vector<uint8_t> b) { b.resize(b.size() / 2); return b; }, "", false},
        {"smooth.avif", "cut in its data", [](std::vector<uint8_t> b) { b.resize(b.size() / 2); return b; }, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.file) + ", " + c.how);
        const std::string file = dir.File(std::string("damaged_") + c.file);
        WriteBytes(file, c.damage(ReadBytes(dir.File(c.file))));
        ImgClass img;
        EXPECT_TRUE(ReadWhole(file, img));
        EXPECT_EQ(img.ImgStruct.ImgData, nullptr) << "a failed read keeps pixels";
        const std::string words = LastError();
        EXPECT_NE(words.find(file), std::string::npos) << words;
        EXPECT_NE(words.find(c.words), std::string::npos) << words;
        if (!c.header) continue;
        EXPECT_TRUE(Make_Local_Header(file.c_str(), (file + ".hdr").c_str()));
        EXPECT_NE(LastError().find(file), std::string::npos) << LastError();
        EXPECT_FALSE(std::filesystem::exists(file + ".hdr")) << "a header file was made";
    }
}

}  // namespace
