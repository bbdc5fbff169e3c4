// TIFF codec: files from independent writers (libtiff's own C interface,
// tiffcp, python3-pil, ImageMagick) read with the right pixels; what the
// writers make reads right in independent readers.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "codecs/tiff.h"
#include "library.h"
#include "support/test_support.h"

using namespace testing_support;
using orvix::Lib;
using orvix::TIFFClass;
using orvix::TiffDescription;

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kConvert = "/usr/bin/convert";
constexpr const char* kTiffcp = "/usr/bin/tiffcp";

using SampleFn = std::function<uint32_t(uint32_t x, uint32_t y, int c)>;

// A file written through libtiff's C interface.
struct TiffLayout {
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t spp = 1;
    uint16_t bits = 8;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t sampleFormat = SAMPLEFORMAT_UINT;
    const char* mode = "w";  // "wb" and "wl" choose the byte order
    uint32_t rowsPerStrip = 0;
    uint32_t tile = 0;  // square tiles of this size
    uint16_t orientation = 0;  // none written when 0
    std::vector<uint16_t> map[3];
    std::string description;
};

// Packs the samples of one row (all samples for contig, one plane otherwise).
std::vector<uint8_t> PackRow(const TiffLayout& t, uint32_t y, int plane, const SampleFn& v) {
    const int perPixel = t.planar == PLANARCONFIG_CONTIG ? t.spp : 1;
    const uint64_t count = uint64_t{t.width} * perPixel;
    std::vector<uint8_t> row((count * t.bits + 7) / 8 + 8, 0);
    for (uint64_t i = 0; i < count; ++i) {
        const uint32_t x = static_cast<uint32_t>(i / perPixel);
        const int c = t.planar == PLANARCONFIG_CONTIG ? static_cast<int>(i % perPixel) : plane;
        const uint32_t s = v(x, y, c);
        if (t.bits == 8) {
            row[i] = static_cast<uint8_t>(s);
        } else if (t.bits == 16) {
            const uint16_t w = static_cast<uint16_t>(s);
            std::memcpy(&row[2 * i], &w, 2);
        } else if (t.bits == 32) {
            const float f = static_cast<float>(s);
            std::memcpy(&row[4 * i], &f, 4);
        } else {
            const uint64_t bit = i * t.bits;
            row[bit / 8] |= static_cast<uint8_t>((s & ((1u << t.bits) - 1)) << (8 - t.bits - bit % 8));
        }
    }
    return row;
}

void WriteWithLibtiff(const std::string& path, const TiffLayout& t, const SampleFn& v) {
    TIFF* tif = TIFFOpen(path.c_str(), t.mode);
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, t.width);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, t.height);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, t.spp);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, t.bits);
    TIFFSetField(tif, TIFFTAG_SAMPLEFORMAT, t.sampleFormat);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, t.planar);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, t.compression);
    if (t.compression == COMPRESSION_JPEG && t.photometric == PHOTOMETRIC_YCBCR) {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_YCBCR);
        TIFFSetField(tif, TIFFTAG_JPEGQUALITY, 95);
        TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    } else {
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, t.photometric);
    }
    if (t.spp == 4 && t.photometric == PHOTOMETRIC_RGB) {
        const uint16_t extra = EXTRASAMPLE_UNASSALPHA;
        TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    }
    if (!t.map[0].empty())
        TIFFSetField(tif, TIFFTAG_COLORMAP, t.map[0].data(), t.map[1].data(), t.map[2].data());
    if (!t.description.empty()) TIFFSetField(tif, TIFFTAG_IMAGEDESCRIPTION, t.description.c_str());
    if (t.orientation) TIFFSetField(tif, TIFFTAG_ORIENTATION, t.orientation);
    const int planes = t.planar == PLANARCONFIG_SEPARATE ? t.spp : 1;
    if (t.tile) {
        TIFFSetField(tif, TIFFTAG_TILEWIDTH, t.tile);
        TIFFSetField(tif, TIFFTAG_TILELENGTH, t.tile);
        const tmsize_t tileRow = TIFFTileRowSize(tif);
        std::vector<uint8_t> tileBuf(static_cast<size_t>(TIFFTileSize(tif)));
        for (int p = 0; p < planes; ++p) {
            std::vector<std::vector<uint8_t>> rows;
            for (uint32_t y = 0; y < t.height; ++y) rows.push_back(PackRow(t, y, p, v));
            for (uint32_t ty = 0; ty < t.height; ty += t.tile)
                for (uint32_t tx = 0; tx < t.width; tx += t.tile) {
                    std::fill(tileBuf.begin(), tileBuf.end(), 0);
                    const size_t offset = size_t{tx} * t.bits * (planes == 1 ? t.spp : 1) / 8;
                    for (uint32_t r = 0; r < t.tile && ty + r < t.height; ++r) {
                        const std::vector<uint8_t>& src = rows[ty + r];
                        const size_t n = std::min<size_t>(static_cast<size_t>(tileRow),
                                                          src.size() - 8 - offset);
                        std::memcpy(&tileBuf[r * tileRow], &src[offset], n);
                    }
                    ASSERT_GE(TIFFWriteTile(tif, tileBuf.data(), tx, ty, 0, static_cast<uint16_t>(p)), 0);
                }
        }
    } else {
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP,
                     t.rowsPerStrip ? t.rowsPerStrip : TIFFDefaultStripSize(tif, 0));
        for (int p = 0; p < planes; ++p)
            for (uint32_t y = 0; y < t.height; ++y) {
                std::vector<uint8_t> row = PackRow(t, y, p, v);
                ASSERT_GE(TIFFWriteScanline(tif, row.data(), y, static_cast<uint16_t>(p)), 0);
            }
    }
    TIFFClose(tif);
}

// Fixed test samples: 8-bit and 16-bit values that vary in x, y and channel.
uint32_t Pat8(uint32_t x, uint32_t y, int c) { return PatternSample(x, y, c, 3); }
uint32_t Pat16(uint32_t x, uint32_t y, int c) {
    return (uint32_t{PatternSample(x, y, c, 5)} << 8) | PatternSample(x, y, c, 9);
}
uint8_t Round16(uint32_t v) { return static_cast<uint8_t>(static_cast<int>(v / 257.0 + 0.5)); }

std::unique_ptr<ImgClass> Read(const std::string& path, bool swap = false) {
    auto img = std::make_unique<ImgClass>();
    SetName(*img, path);
    Post_Error("");
    if (ReadImage(swap, img.get())) return nullptr;
    return img;
}

// Compares every sample with the expectation; reports the first few misses.
void ExpectPixels(const ImgClass& img, uint32_t w, uint32_t h, int samples,
                  const std::function<int(uint32_t, uint32_t, int)>& expected, int tolerance = 0) {
    const ImgStruct& s = img.ImgStruct;
    ASSERT_EQ(s.Width, w);
    ASSERT_EQ(s.Height, h);
    ASSERT_EQ(s.Samples, samples);
    ASSERT_NE(s.ImgData, nullptr);
    int misses = 0;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < samples; ++c) {
                const int want = expected(x, y, c), got = At(img, x, y, c);
                if (std::abs(want - got) > tolerance && ++misses <= 5)
                    ADD_FAILURE() << "pixel (" << x << "," << y << ") sample " << c << ": got "
                                  << got << ", want " << want;
            }
    EXPECT_EQ(misses, 0);
}

int RunQuiet(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

std::string LastError() { return Get_Last_Error(); }

// A raw file of the pattern, as the independent tools' input.
void WriteRaw(const std::string& path, uint32_t w, uint32_t h, int samples) {
    std::vector<uint8_t> bytes;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < samples; ++c) bytes.push_back(static_cast<uint8_t>(Pat8(x, y, c)));
    WriteBytes(path, bytes);
}

// The pixel bytes python3-pil decodes from a file, and its view of the tags.
struct PilView {
    std::string mode;
    uint32_t w = 0, h = 0;
    std::vector<uint8_t> bytes;
    std::string compression;
    double dpiX = 0;
};

PilView ReadWithPil(const TempDir& dir, const std::string& path) {
    PilView v;
    const std::string out = dir.File("pil.raw"), info = dir.File("pil.txt");
    WriteText(dir.File("pil.py"),
              "import sys\nfrom PIL import Image\n"
              "im = Image.open(sys.argv[1])\n"
              "open(sys.argv[2], 'wb').write(im.tobytes())\n"
              "dpi = im.info.get('dpi', (0, 0))[0]\n"
              "open(sys.argv[3], 'w').write('%s %d %d %s %f\\n' % (im.mode, im.size[0], im.size[1], "
              "im.info.get('compression', 'none'), float(dpi)))\n");
    if (RunQuiet(std::string(kPython) + " " + dir.File("pil.py") + " " + path + " " + out + " " + info) != 0)
        return v;
    std::ifstream in(info);
    in >> v.mode >> v.w >> v.h >> v.compression >> v.dpiX;
    v.bytes = ReadBytes(out);
    return v;
}

class TiffRead : public ::testing::Test {
protected:
    TempDir dir;
};

// ---- libtiff-written files ------------------------------------------------------------

TEST_F(TiffRead, EightBitRgbAndGreyInEveryCompressionAndByteOrder) {
    const uint16_t compressions[] = {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_PACKBITS,
                                     COMPRESSION_ADOBE_DEFLATE};
    for (const char* mode : {"wl", "wb"})
        for (uint16_t comp : compressions)
            for (int spp : {1, 3}) {
                SCOPED_TRACE(std::string(mode) + " compression " + std::to_string(comp) +
                             " samples " + std::to_string(spp));
                TiffLayout t;
                t.width = 37;
                t.height = 23;
                t.spp = static_cast<uint16_t>(spp);
                t.photometric = spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
                t.compression = comp;
                t.mode = mode;
                t.rowsPerStrip = 5;
                const std::string path = dir.File("a.tif");
                WriteWithLibtiff(path, t, Pat8);
                EXPECT_EQ(Get_File_Type(path.c_str()), IMG_TYPE_TIFF);
                auto img = Read(path);
                ASSERT_NE(img, nullptr) << LastError();
                const ImgStruct& s = img->ImgStruct;
                EXPECT_EQ(s.LineSize, (37u * spp + 3) & ~3u);
                EXPECT_EQ(s.Bits, 8);
                EXPECT_EQ(s.Type, IMG_TYPE_TIFF);
                EXPECT_EQ(s.BgrOrder, 0);
                ExpectPixels(*img, 37, 23, spp, [](uint32_t x, uint32_t y, int c) { return Pat8(x, y, c); });
            }
}

TEST_F(TiffRead, SwapDeliversBgrWithTheFlagSet) {
    TiffLayout t;
    t.width = 9;
    t.height = 4;
    t.spp = 3;
    t.photometric = PHOTOMETRIC_RGB;
    const std::string path = dir.File("c.tif");
    WriteWithLibtiff(path, t, Pat8);
    auto img = Read(path, true);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->ImgStruct.BgrOrder, 1);
    ExpectPixels(*img, 9, 4, 3, [](uint32_t x, uint32_t y, int c) { return Pat8(x, y, 2 - c); });
}

TEST_F(TiffRead, GreyDepthsAndMinIsWhite) {
    struct Case {
        uint16_t bits;
        uint16_t photometric;
        std::function<int(uint32_t)> convert;  // stored sample -> 8-bit grey
    };
    const Case cases[] = {
        {1, PHOTOMETRIC_MINISWHITE, [](uint32_t v) { return v ? 0 : 255; }},
        {1, PHOTOMETRIC_MINISBLACK, [](uint32_t v) { return v ? 255 : 0; }},
        {8, PHOTOMETRIC_MINISWHITE, [](uint32_t v) { return 255 - static_cast<int>(v); }},
        {16, PHOTOMETRIC_MINISWHITE, [](uint32_t v) { return 255 - Round16(v); }},
        {16, PHOTOMETRIC_MINISBLACK, [](uint32_t v) { return Round16(v); }},
        {4, PHOTOMETRIC_MINISBLACK, [](uint32_t v) { return static_cast<int>(v * 17); }},
        {2, PHOTOMETRIC_MINISBLACK, [](uint32_t v) { return static_cast<int>(v * 85); }},
    };
    for (const Case& k : cases)
        for (const char* mode : {"wl", "wb"}) {
            SCOPED_TRACE(std::to_string(k.bits) + " bits, photometric " + std::to_string(k.photometric) +
                         " " + mode);
            TiffLayout t;
            t.width = 29;  // not a whole number of bytes at 1, 2 and 4 bits
            t.height = 7;
            t.bits = k.bits;
            t.photometric = k.photometric;
            t.compression = COMPRESSION_LZW;
            t.mode = mode;
            const uint32_t mask = k.bits == 16 ? 0xFFFF : (1u << k.bits) - 1;
            auto value = [mask](uint32_t x, uint32_t y, int) { return Pat16(x, y, 0) & mask; };
            const std::string path = dir.File("g.tif");
            WriteWithLibtiff(path, t, value);
            auto img = Read(path);
            ASSERT_NE(img, nullptr) << LastError();
            EXPECT_EQ(img->ImgStruct.Bits, 8);
            ExpectPixels(*img, 29, 7, 1,
                         [&](uint32_t x, uint32_t y, int) { return k.convert(value(x, y, 0)); });
        }
}

TEST_F(TiffRead, SixteenBitRgbComesOutUprightThroughTheRgbaPath) {
    TiffLayout t;
    t.width = 11;
    t.height = 6;
    t.spp = 3;
    t.bits = 16;
    t.photometric = PHOTOMETRIC_RGB;
    t.mode = "wb";
    // Multiples of 257 convert to the same byte by any correct 16-to-8 rule.
    auto value = [](uint32_t x, uint32_t y, int c) { return Pat8(x, y, c) * 257u; };
    const std::string path = dir.File("rgb16.tif");
    WriteWithLibtiff(path, t, value);
    auto img = Read(path);
    ASSERT_NE(img, nullptr) << LastError();
    EXPECT_EQ(img->ImgStruct.Bits, 8);
    EXPECT_EQ(img->ImgStruct.LineSize, 36u);
    ExpectPixels(*img, 11, 6, 3, [](uint32_t x, uint32_t y, int c) { return Pat8(x, y, c); });
}

TEST_F(TiffRead, PaletteMapsOfSixteenAndEightBitsAndSmallIndices) {
    for (bool wide : {true, false})
        for (uint16_t bits : {8, 4, 2, 1}) {
            SCOPED_TRACE(std::to_string(bits) + (wide ? " bits, 16-bit map" : " bits, 8-bit map"));
            TiffLayout t;
            t.width = 19;
            t.height = 5;
            t.bits = bits;
            t.photometric = PHOTOMETRIC_PALETTE;
            const size_t n = size_t{1} << bits;
            for (int c = 0; c < 3; ++c)
                for (size_t i = 0; i < n; ++i) {
                    const uint32_t v8 = (i * 53 + c * 97 + 11) % 256;
                    // Entry 0 of the red map is kept large so the 16-bit rule applies.
                    t.map[c].push_back(static_cast<uint16_t>(wide ? v8 * 257 + (i % 200) : v8));
                }
            const uint32_t mask = static_cast<uint32_t>(n - 1);
            auto index = [mask](uint32_t x, uint32_t y, int) { return Pat8(x, y, 0) & mask; };
            const std::string path = dir.File("p.tif");
            WriteWithLibtiff(path, t, index);
            auto img = Read(path);
            ASSERT_NE(img, nullptr) << LastError();
            ExpectPixels(*img, 19, 5, 3, [&](uint32_t x, uint32_t y, int c) {
                const uint32_t e = t.map[c][index(x, y, 0)];
                return static_cast<int>(wide ? e * 255 / 65535 : e);
            });
        }
}

TEST_F(TiffRead, PlanarSeparateAndRowsWiderThanTheOldFixedBuffer) {
    struct Case {
        uint32_t width;
        uint16_t planar;
        uint16_t compression;
        uint32_t rowsPerStrip;
    };
    // 40000 RGB pixels are 120,000 bytes a row, three planes 40,000 bytes each.
    const Case cases[] = {{21, PLANARCONFIG_SEPARATE, COMPRESSION_LZW, 4},
                          {21, PLANARCONFIG_SEPARATE, COMPRESSION_NONE, 1},
                          {40000, PLANARCONFIG_CONTIG, COMPRESSION_LZW, 2},
                          {40000, PLANARCONFIG_SEPARATE, COMPRESSION_ADOBE_DEFLATE, 3}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.width) + " wide, planar " + std::to_string(k.planar));
        TiffLayout t;
        t.width = k.width;
        t.height = 5;
        t.spp = 3;
        t.photometric = PHOTOMETRIC_RGB;
        t.planar = k.planar;
        t.compression = k.compression;
        t.rowsPerStrip = k.rowsPerStrip;
        const std::string path = dir.File("wide.tif");
        WriteWithLibtiff(path, t, Pat8);
        auto img = Read(path);
        ASSERT_NE(img, nullptr) << LastError();
        ExpectPixels(*img, k.width, 5, 3, [](uint32_t x, uint32_t y, int c) { return Pat8(x, y, c); });
    }
}

TEST_F(TiffRead, TiledFilesReadLikeStripedOnes) {
    struct Case {
        uint16_t spp, bits, planar, compression;
    };
    const Case cases[] = {{3, 8, PLANARCONFIG_CONTIG, COMPRESSION_LZW},
                          {1, 8, PLANARCONFIG_CONTIG, COMPRESSION_NONE},
                          {3, 8, PLANARCONFIG_SEPARATE, COMPRESSION_ADOBE_DEFLATE},
                          {1, 1, PLANARCONFIG_CONTIG, COMPRESSION_PACKBITS},
                          {3, 16, PLANARCONFIG_CONTIG, COMPRESSION_NONE}};
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.spp) + " x " + std::to_string(k.bits) + " bits, planar " +
                     std::to_string(k.planar));
        TiffLayout t;
        t.width = 37;  // tiles of 16 leave partial tiles at the right and bottom
        t.height = 21;
        t.spp = k.spp;
        t.bits = k.bits;
        t.photometric = k.spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
        t.planar = k.planar;
        t.compression = k.compression;
        t.tile = 16;
        auto value = [&](uint32_t x, uint32_t y, int c) -> uint32_t {
            if (k.bits == 1) return Pat8(x, y, c) & 1;
            return k.bits == 16 ? Pat8(x, y, c) * 257u : Pat8(x, y, c);
        };
        const std::string path = dir.File("tiled.tif");
        WriteWithLibtiff(path, t, value);
        auto img = Read(path);
        ASSERT_NE(img, nullptr) << LastError();
        ExpectPixels(*img, 37, 21, k.spp, [&](uint32_t x, uint32_t y, int c) {
            return k.bits == 1 ? (value(x, y, c) ? 255 : 0) : static_cast<int>(Pat8(x, y, c));
        });
    }
}

TEST_F(TiffRead, JpegCompressedYCbCrReadsAsRgb) {
    TiffLayout t;
    t.width = 48;
    t.height = 32;
    t.spp = 3;
    t.photometric = PHOTOMETRIC_YCBCR;
    t.compression = COMPRESSION_JPEG;
    t.rowsPerStrip = 16;
    // Smooth colours survive JPEG closely.
    auto value = [](uint32_t x, uint32_t y, int c) -> uint32_t {
        return c == 0 ? 40 + x * 3 : c == 1 ? 200 - y * 4 : 120;
    };
    const std::string path = dir.File("jpeg.tif");
    WriteWithLibtiff(path, t, value);
    auto img = Read(path);
    ASSERT_NE(img, nullptr) << LastError();
    ExpectPixels(*img, 48, 32, 3, [&](uint32_t x, uint32_t y, int c) { return static_cast<int>(value(x, y, c)); },
                 12);
}

TEST_F(TiffRead, CmykGoesThroughLibtiffsRgbaInterface) {
    TiffLayout t;
    t.width = 10;
    t.height = 3;
    t.spp = 4;
    t.photometric = PHOTOMETRIC_SEPARATED;
    // No black ink: each colour is the complement of its ink.
    auto value = [](uint32_t x, uint32_t y, int c) -> uint32_t { return c == 3 ? 0 : Pat8(x, y, c); };
    const std::string path = dir.File("cmyk.tif");
    WriteWithLibtiff(path, t, value);
    auto img = Read(path);
    ASSERT_NE(img, nullptr) << LastError();
    ExpectPixels(*img, 10, 3, 3, [](uint32_t x, uint32_t y, int c) { return 255 - static_cast<int>(Pat8(x, y, c)); });
}

TEST_F(TiffRead, RgbWithAlphaKeepsTheColourAndAlphaSamples) {
    TiffLayout t;
    t.width = 13;
    t.height = 4;
    t.spp = 4;
    t.photometric = PHOTOMETRIC_RGB;
    const std::string path = dir.File("rgba.tif");
    WriteWithLibtiff(path, t, Pat8);
    auto img = Read(path);
    ASSERT_NE(img, nullptr) << LastError();
    ExpectPixels(*img, 13, 4, 4, [](uint32_t x, uint32_t y, int c) { return Pat8(x, y, c); });
}

TEST_F(TiffRead, LayoutsWithoutAConversionFailWithAMessage) {
    TiffLayout t;
    t.width = 8;
    t.height = 2;
    t.bits = 32;
    t.sampleFormat = SAMPLEFORMAT_IEEEFP;
    const std::string path = dir.File("float.tif");
    WriteWithLibtiff(path, t, Pat8);
    auto img = std::make_unique<ImgClass>();
    SetName(*img, path);
    Post_Error("");
    EXPECT_TRUE(ReadImage(false, img.get()));
    EXPECT_EQ(img->ImgStruct.ImgData, nullptr);
    EXPECT_NE(LastError().find("cannot read 32-bit samples"), std::string::npos) << LastError();
}

TEST_F(TiffRead, FaxCompressionsAreRefused) {
    for (uint16_t comp : {COMPRESSION_CCITTFAX3, COMPRESSION_CCITTFAX4}) {
        TiffLayout t;
        t.width = 64;
        t.height = 8;
        t.bits = 1;
        t.photometric = PHOTOMETRIC_MINISWHITE;
        t.compression = comp;
        const std::string path = dir.File("fax.tif");
        WriteWithLibtiff(path, t, [](uint32_t x, uint32_t y, int) { return (x + y) % 3 == 0; });
        Post_Error("");
        EXPECT_EQ(Get_File_Type(path.c_str()), IMG_TYPE_UNKNOWN);
        auto img = std::make_unique<ImgClass>();
        SetName(*img, path);
        Post_Error("");
        EXPECT_TRUE(ReadImage(false, img.get()));
        EXPECT_EQ(LastError(), "TIFFClass::OpenTiffFile(" + path + ") illegal compression type\n");
    }
}

// ---- Damaged files ----------------------------------------------------------------

TEST_F(TiffRead, CorruptStripDataFailsWithLibtiffsMessage) {
    TiffLayout t;
    t.width = 64;
    t.height = 16;
    t.spp = 3;
    t.photometric = PHOTOMETRIC_RGB;
    t.compression = COMPRESSION_LZW;
    t.rowsPerStrip = 16;
    const std::string path = dir.File("bad.tif");
    WriteWithLibtiff(path, t, Pat8);
    // Overwrite the strip's code stream after its first bytes with codes
    // the decoder's table cannot hold yet.
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    uint64_t* offsets = nullptr;
    ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_STRIPOFFSETS, &offsets));
    const uint64_t start = offsets[0];
    TIFFClose(tif);
    std::vector<uint8_t> bytes = ReadBytes(path);
    for (size_t i = start + 4; i < start + 200 && i < bytes.size(); ++i) bytes[i] = 0xFF;
    WriteBytes(path, bytes);

    auto img = std::make_unique<ImgClass>();
    SetName(*img, path);
    Post_Error("");
    EXPECT_TRUE(ReadImage(false, img.get()));
    EXPECT_EQ(img->ImgStruct.ImgData, nullptr);
    // The reader adds nothing of its own to a failed line: the text is libtiff's.
    EXPECT_NE(LastError().find(path), std::string::npos) << LastError();
}

TEST_F(TiffRead, TruncatedAndDamagedFilesNeverCrash) {
    TiffLayout t;
    t.width = 20;
    t.height = 10;
    t.spp = 3;
    t.photometric = PHOTOMETRIC_RGB;
    t.compression = COMPRESSION_LZW;
    t.rowsPerStrip = 3;
    const std::string good = dir.File("good.tif");
    WriteWithLibtiff(good, t, Pat8);
    const std::vector<uint8_t> bytes = ReadBytes(good);
    const std::string path = dir.File("cut.tif");
    int failures = 0;
    for (size_t n = 0; n < bytes.size(); n += 7) {
        WriteBytes(path, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(n)));
        auto img = std::make_unique<ImgClass>();
        SetName(*img, path);
        Post_Error("");
        if (ReadImage(false, img.get())) {
            ++failures;
            EXPECT_EQ(img->ImgStruct.ImgData, nullptr);
            if (n >= 8) {
                EXPECT_FALSE(LastError().empty()) << "cut at " << n;
            }
        }
    }
    // libtiff puts the directory last: every cut loses it.
    EXPECT_EQ(failures, static_cast<int>((bytes.size() + 6) / 7));
    // Single damaged bytes anywhere: a read may fail or succeed, but it ends.
    for (size_t i = 0; i < bytes.size(); i += 3) {
        std::vector<uint8_t> damaged = bytes;
        damaged[i] ^= 0xA5;
        WriteBytes(path, damaged);
        Get_File_Type(path.c_str());
        auto img = std::make_unique<ImgClass>();
        SetName(*img, path);
        if (!ReadImage(false, img.get())) {
            EXPECT_NE(img->ImgStruct.ImgData, nullptr);
        }
    }
}

// Halves the byte count of the file's last strip or tile, as a writer that
// stopped part way through it leaves it. libtiff writes little-endian files
// here.
void HalveLastPiece(const std::string& path) {
    std::vector<uint8_t> b = ReadBytes(path);
    ASSERT_GE(b.size(), 8u);
    ASSERT_EQ(b[0], 'I');
    auto u16 = [&](size_t at) { return uint32_t{b[at]} | uint32_t{b[at + 1]} << 8; };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    const size_t ifd = u32(4);
    for (uint32_t i = 0, n = u16(ifd); i < n; ++i) {
        const size_t e = ifd + 2 + 12 * size_t{i};
        const uint32_t tag = u16(e), count = u32(e + 4);
        if (tag != TIFFTAG_STRIPBYTECOUNTS && tag != TIFFTAG_TILEBYTECOUNTS) continue;
        const size_t size = u16(e + 2) == TIFF_SHORT ? 2 : 4;
        const size_t at = (count * size <= 4 ? e + 8 : u32(e + 8)) + (count - 1) * size;
        const uint32_t half = (size == 2 ? u16(at) : u32(at)) / 2;
        for (size_t k = 0; k < size; ++k) b[at + k] = static_cast<uint8_t>(half >> (8 * k));
        WriteBytes(path, b);
        return;
    }
    ADD_FAILURE() << "no byte counts in " << path;
}

// A strip or tile cut short is left blank (or, in a JPEG strip, grey) while
// the rest reads, with libtiff's words as the read's warning; a clean read
// after it has none.
TEST_F(TiffRead, ShortStripsAndTilesReadWithAWarning) {
    auto layout = [](uint16_t spp, uint16_t compression, uint16_t planar, uint32_t tile) {
        TiffLayout t;
        t.width = 37;
        t.height = 21;
        t.spp = spp;
        t.photometric = spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
        t.compression = compression;
        t.planar = planar;
        t.rowsPerStrip = 4;
        t.tile = tile;
        return t;
    };
    TiffLayout deep = layout(3, COMPRESSION_LZW, PLANARCONFIG_CONTIG, 0);
    deep.bits = 16;  // read through libtiff's RGBA interface
    TiffLayout jpeg = layout(3, COMPRESSION_JPEG, PLANARCONFIG_CONTIG, 0);
    jpeg.photometric = PHOTOMETRIC_YCBCR;
    jpeg.width = 48;
    jpeg.height = 32;
    jpeg.rowsPerStrip = 16;
    const struct Case {
        const char* name;
        TiffLayout layout;
        bool damaged;
        const char* words;    // in the warning
        uint32_t intactRows;  // top rows as the undamaged file has them
        int blankFrom;        // the last pixel's samples from this one are 0; -1: none
    } cases[] = {
        {"lzw", layout(3, COMPRESSION_LZW, PLANARCONFIG_CONTIG, 0), false, "", 0, -1},
        {"lzw", layout(3, COMPRESSION_LZW, PLANARCONFIG_CONTIG, 0), true, "Strip 5 not terminated", 20, 0},
        {"packbits", layout(1, COMPRESSION_PACKBITS, PLANARCONFIG_CONTIG, 0), true, "lack of data", 20, 0},
        {"none", layout(1, COMPRESSION_NONE, PLANARCONFIG_CONTIG, 0), true, "Not enough data", 20, 0},
        // Separate planes: the last strip holds the blue plane's last rows.
        {"planes", layout(3, COMPRESSION_LZW, PLANARCONFIG_SEPARATE, 0), true, "Strip 17", 20, 2},
        {"tiles", layout(3, COMPRESSION_ADOBE_DEFLATE, PLANARCONFIG_CONTIG, 16), true, "ZLib error", 16, 0},
        {"deep", deep, true, "Strip 5 not terminated", 20, 0},
        {"jpeg", jpeg, true, "Premature end of JPEG", 16, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + (c.damaged ? " damaged" : " clean"));
        const std::string path = dir.File(std::string(c.name) + ".tif");
        const SampleFn value = c.layout.bits == 16 ? Pat16 : Pat8;
        WriteWithLibtiff(path, c.layout, value);
        auto clean = Read(path);
        ASSERT_NE(clean, nullptr) << LastError();
        if (c.damaged) HalveLastPiece(path);
        auto img = Read(path);
        ASSERT_NE(img, nullptr) << LastError();
        const std::string warning = Get_Last_Warning();
        if (c.damaged) {
            EXPECT_NE(warning.find(c.words), std::string::npos) << warning;
        } else {
            EXPECT_EQ(warning, "");
        }
        const ImgStruct& s = img->ImgStruct;
        ASSERT_EQ(s.Width, c.layout.width);
        ASSERT_EQ(s.Height, c.layout.height);
        ASSERT_EQ(s.LineSize, clean->ImgStruct.LineSize);
        EXPECT_EQ(std::memcmp(s.ImgData, clean->ImgStruct.ImgData, size_t{c.intactRows} * s.LineSize), 0);
        for (int k = 0; k < s.Samples; ++k)
            EXPECT_EQ(At(*img, s.Width - 1, s.Height - 1, k) == 0, c.blankFrom >= 0 && k >= c.blankFrom)
                << "sample " << k;

        WriteWithLibtiff(path, c.layout, value);
        ASSERT_NE(Read(path), nullptr);
        EXPECT_STREQ(Get_Last_Warning(), "");
    }
}

// Files libtiff's RGBA interface reads go a strip or a row of tiles at a
// time when they have several; the picture is the one a whole read gives,
// stored top or bottom row first.
TEST_F(TiffRead, RgbaBandsMatchTheWholeRead) {
    for (const uint16_t orientation : {ORIENTATION_TOPLEFT, ORIENTATION_BOTLEFT, ORIENTATION_BOTRIGHT})
        for (const uint32_t tile : {0u, 16u}) {
            SCOPED_TRACE("orientation " + std::to_string(orientation) + " tile " + std::to_string(tile));
            TiffLayout t;
            t.width = 37;
            t.height = 21;
            t.spp = 3;
            t.bits = 16;
            t.photometric = PHOTOMETRIC_RGB;
            t.orientation = orientation;
            t.rowsPerStrip = t.height;
            const std::string whole = dir.File("whole.tif"), banded = dir.File("banded.tif");
            WriteWithLibtiff(whole, t, Pat16);
            t.rowsPerStrip = 4;
            t.tile = tile;
            WriteWithLibtiff(banded, t, Pat16);
            auto a = Read(whole);
            auto b = Read(banded);
            ASSERT_NE(a, nullptr) << LastError();
            ASSERT_NE(b, nullptr) << LastError();
            ASSERT_EQ(b->ImgStruct.LineSize, a->ImgStruct.LineSize);
            ExpectPixels(*b, 37, 21, 3, [&](uint32_t x, uint32_t y, int c) { return At(*a, x, y, c); });
        }
}

// Bytes of a little-endian TIFF whose directory declares an image far larger
// than the file.
std::vector<uint8_t> HugeDeclaredTiff() {
    std::vector<uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&](uint16_t v) { b.push_back(v & 0xFF); b.push_back(v >> 8); };
    auto u32 = [&](uint32_t v) { for (int i = 0; i < 4; ++i) b.push_back((v >> (8 * i)) & 0xFF); };
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
        u16(tag);
        u16(type);
        u32(1);
        if (type == 3) { u16(static_cast<uint16_t>(value)); u16(0); } else u32(value);
    };
    u16(9);
    entry(256, 4, 100000);  // width
    entry(257, 4, 100000);  // length
    entry(258, 3, 8);
    entry(259, 3, 1);
    entry(262, 3, 1);
    entry(273, 4, 8 + 2 + 9 * 12 + 4);
    entry(277, 3, 1);
    entry(278, 4, 100000);
    entry(279, 4, 16);
    u32(0);
    for (int i = 0; i < 16; ++i) b.push_back(static_cast<uint8_t>(i));
    return b;
}

TEST_F(TiffRead, DeclaredSizesBeyondTheFileAreRefusedBeforeAllocating) {
    const std::string path = dir.File("huge.tif");
    WriteBytes(path, HugeDeclaredTiff());
    auto img = std::make_unique<ImgClass>();
    SetName(*img, path);
    Post_Error("");
    EXPECT_TRUE(ReadImage(false, img.get()));
    EXPECT_EQ(img->ImgStruct.ImgData, nullptr);
    EXPECT_NE(LastError().find("more than the file holds"), std::string::npos) << LastError();
}

TEST_F(TiffRead, MissingAndForeignFiles) {
    Post_Error("");
    EXPECT_EQ(Get_File_Type(dir.File("none.tif").c_str()), IMG_TYPE_UNKNOWN);
    // Starts like a TIFF but is not one: the codec refuses it.
    const std::string text = dir.File("text.tif");
    WriteText(text, "It is only text, not an image.");
    Post_Error("");
    EXPECT_EQ(Get_File_Type(text.c_str()), IMG_TYPE_UNKNOWN);
    EXPECT_NE(LastError().find("TIFFClass::OpenTiffFile(" + text + ") TIFFOpen(..) failed"),
              std::string::npos)
        << LastError();
    ImgClass img;
    EXPECT_EQ(Lib().tiff->ReadTIFFtoMem(false, &img), nullptr);  // no file name
}

// ---- Files from the independent tools -------------------------------------------

struct ToolCase {
    std::string name;
    int samples;          // of the raw source
    std::string command;  // {in} raw source, {out} the TIFF, {size} {w} {h}
    std::function<int(int)> map = nullptr;  // source sample -> expected byte, if not identity
};

std::string Fill(std::string s, const std::string& in, const std::string& out, uint32_t w,
                 uint32_t h) {
    auto put = [&](const std::string& key, const std::string& value) {
        for (size_t p; (p = s.find(key)) != std::string::npos;) s.replace(p, key.size(), value);
    };
    put("{in}", in);
    put("{out}", out);
    put("{size}", std::to_string(w) + "x" + std::to_string(h));
    put("{w}", std::to_string(w));
    put("{h}", std::to_string(h));
    return s;
}

void CheckToolCases(const TempDir& dir, const std::vector<ToolCase>& cases) {
    const uint32_t w = 45, h = 19;
    for (const ToolCase& k : cases) {
        SCOPED_TRACE(k.name);
        const std::string in = dir.File(k.samples == 3 ? "src_rgb.raw" : "src_grey.raw");
        WriteRaw(in, w, h, k.samples);
        const std::string out = dir.File("tool.tif");
        std::remove(out.c_str());
        ASSERT_EQ(RunQuiet(Fill(k.command, in, out, w, h)), 0) << Fill(k.command, in, out, w, h);
        EXPECT_EQ(Get_File_Type(out.c_str()), IMG_TYPE_TIFF);
        auto img = Read(out);
        ASSERT_NE(img, nullptr) << LastError();
        ExpectPixels(*img, w, h, k.samples, [&](uint32_t x, uint32_t y, int c) {
            const int v = static_cast<int>(Pat8(x, y, c));
            return k.map ? k.map(v) : v;
        });
    }
}

TEST_F(TiffRead, FilesWrittenByPil) {
    if (!HaveProgram(kPython) || RunQuiet(std::string(kPython) + " -c 'import PIL'") != 0)
        GTEST_SKIP() << "python3-pil is not installed";
    const std::string py = std::string(kPython) +
                           " -c \"import sys; from PIL import Image; "
                           "im = Image.frombytes('%MODE%', ({w}, {h}), open('{in}', 'rb').read()); %STEP%\"";
    auto script = [&](const std::string& mode, const std::string& step) {
        std::string s = py;
        s.replace(s.find("%MODE%"), 6, mode);
        s.replace(s.find("%STEP%"), 6, step);
        return s;
    };
    std::vector<ToolCase> cases;
    for (const char* comp : {"raw", "tiff_lzw", "packbits", "tiff_deflate"}) {
        cases.push_back({std::string("RGB ") + comp, 3,
                         script("RGB", std::string("im.save('{out}', compression='") + comp + "')")});
        cases.push_back({std::string("L ") + comp, 1,
                         script("L", std::string("im.save('{out}', compression='") + comp + "')")});
    }
    cases.push_back({"bilevel", 1,
                     script("L", "im.point(lambda v: 255 if v >= 128 else 0).convert('1', "
                                 "dither=Image.Dither.NONE).save('{out}')"),
                     [](int v) { return v >= 128 ? 255 : 0; }});
    // 16-bit grey, both byte orders: each 8-bit source value v becomes v * 257.
    for (const char* mode : {"I;16", "I;16B"})
        cases.push_back({mode, 1,
                         script("L", std::string("Image.frombytes('") + mode +
                                         "', im.size, bytes(b for v in im.tobytes() for b in "
                                         "(v, v))).save('{out}')")});
    CheckToolCases(dir, cases);
}

TEST_F(TiffRead, FilesWrittenByImageMagick) {
    if (!HaveProgram(kConvert)) GTEST_SKIP() << "ImageMagick is not installed";
    const std::string rgb = std::string(kConvert) + " -size {size} -depth 8 rgb:{in} ";
    const std::string grey = std::string(kConvert) + " -size {size} -depth 8 gray:{in} -type Grayscale ";
    std::vector<ToolCase> cases = {
        {"RGB none", 3, rgb + "-compress None {out}"},
        {"RGB LZW big-endian", 3, rgb + "-compress LZW -endian MSB {out}"},
        {"RGB Zip", 3, rgb + "-compress Zip {out}"},
        {"RGB PackBits", 3, rgb + "-compress RLE {out}"},
        {"RGB planar", 3, rgb + "-interlace Plane -compress LZW {out}"},
        {"RGB tiled", 3, rgb + "-define tiff:tile-geometry=16x16 -compress Zip {out}"},
        {"RGB 16-bit", 3, rgb + "-depth 16 -compress LZW {out}"},
        {"grey LZW", 1, grey + "-compress LZW {out}"},
        // The polarity define keeps the stored samples and flips their
        // meaning: every reader (ImageMagick's and PIL's too) sees 255 - v.
        {"grey min-is-white", 1, grey + "-define quantum:polarity=min-is-white -compress LZW {out}",
         [](int v) { return 255 - v; }},
        {"grey 16-bit min-is-white", 1, grey + "-depth 16 -define quantum:polarity=min-is-white {out}",
         [](int v) { return 255 - v; }},
        {"grey 1-bit min-is-white", 1,
         grey + "-threshold 50% -depth 1 -define quantum:polarity=min-is-white {out}",
         [](int v) { return v * 100 > 255 * 50 ? 255 : 0; }},
    };
    CheckToolCases(dir, cases);

    // A palette image (ImageMagick stores 16-bit maps); ImageMagick's own
    // decoding of it is the reference.
    const std::string pal = dir.File("pal.tif"), ppm = dir.File("pal.ppm");
    WriteRaw(dir.File("p.raw"), 45, 19, 3);
    ASSERT_EQ(RunQuiet(Fill(rgb + "-colors 16 -type Palette {out}", dir.File("p.raw"), pal, 45, 19)), 0);
    ASSERT_EQ(RunQuiet(std::string(kConvert) + " " + pal + " -depth 8 ppm:" + ppm), 0);
    EXPECT_EQ(ReadTiffTags(pal).photometric, PHOTOMETRIC_PALETTE);
    const std::vector<uint8_t> ref = ReadBytes(ppm);
    ASSERT_GT(ref.size(), size_t{45} * 19 * 3);
    const size_t offset = ref.size() - size_t{45} * 19 * 3;  // past the header
    auto img = Read(pal);
    ASSERT_NE(img, nullptr) << LastError();
    ExpectPixels(*img, 45, 19, 3, [&](uint32_t x, uint32_t y, int c) {
        return static_cast<int>(ref[offset + (size_t{y} * 45 + x) * 3 + c]);
    });

    // A fax coding is refused.
    const std::string fax = dir.File("fax.tif");
    ASSERT_EQ(RunQuiet(Fill(grey + "-threshold 50% -compress Fax {out}", dir.File("src_grey.raw"), fax, 45, 19)), 0);
    Post_Error("");
    EXPECT_EQ(Get_File_Type(fax.c_str()), IMG_TYPE_UNKNOWN);
    EXPECT_NE(LastError().find("illegal compression type"), std::string::npos);
}

TEST_F(TiffRead, FilesRewrittenByTiffcp) {
    if (!HaveProgram(kTiffcp)) GTEST_SKIP() << "tiffcp is not installed";
    TiffLayout t;
    t.width = 45;
    t.height = 19;
    t.spp = 3;
    t.photometric = PHOTOMETRIC_RGB;
    const std::string base = dir.File("base.tif");
    WriteWithLibtiff(base, t, Pat8);
    for (const char* options : {"-c lzw", "-c zip", "-c packbits", "-p separate -c lzw", "-B",
                                "-L -c lzw", "-t -w 16 -l 16 -c lzw", "-p separate -t -w 16 -l 16",
                                "-r 7 -c zip"}) {
        SCOPED_TRACE(options);
        const std::string out = dir.File("cp.tif");
        std::remove(out.c_str());
        ASSERT_EQ(RunQuiet(std::string(kTiffcp) + " " + options + " " + base + " " + out), 0);
        auto img = Read(out);
        ASSERT_NE(img, nullptr) << LastError();
        ExpectPixels(*img, 45, 19, 3, [](uint32_t x, uint32_t y, int c) { return Pat8(x, y, c); });
    }
}

// ---- Description, progress -----------------------------------------------------------

TEST_F(TiffRead, DescriptionCopiedOut) {
    TiffLayout t;
    t.width = 30;
    t.height = 12;
    t.spp = 3;
    t.photometric = PHOTOMETRIC_RGB;
    t.compression = COMPRESSION_PACKBITS;
    t.planar = PLANARCONFIG_SEPARATE;
    const std::string path = dir.File("d.tif");
    WriteWithLibtiff(path, t, Pat8);
    TIFF* tif = TIFFOpen(path.c_str(), "r+");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_RESOLUTIONUNIT, RESUNIT_CENTIMETER);
    TIFFSetField(tif, TIFFTAG_XRESOLUTION, 118.0);
    TIFFSetField(tif, TIFFTAG_YRESOLUTION, 59.0);
    TIFFRewriteDirectory(tif);
    TIFFClose(tif);

    TiffDescription d;
    ASSERT_FALSE(Lib().tiff->DescribeFile(path.c_str(), d)) << LastError();
    EXPECT_FALSE(Lib().tiff->IsOpen());
    EXPECT_EQ(d.imageWidth, 30u);
    EXPECT_EQ(d.imageLength, 12u);
    EXPECT_EQ(d.storedLength, 12u);
    EXPECT_EQ(d.bitsPerSample, 8);
    EXPECT_EQ(d.samplesPerPixel, 3);
    EXPECT_EQ(d.compression, COMPRESSION_PACKBITS);
    EXPECT_EQ(d.photometric, PHOTOMETRIC_RGB);
    EXPECT_EQ(d.planarConfig, PLANARCONFIG_SEPARATE);
    EXPECT_EQ(d.resolutionUnit, RESUNIT_CENTIMETER);
    EXPECT_FLOAT_EQ(d.xResolution, 118.0f);
    EXPECT_FLOAT_EQ(d.yResolution, 59.0f);
    EXPECT_EQ(d.scanlineSize, 30u);  // one plane's row
    EXPECT_FALSE(d.zul);
    EXPECT_EQ(d.samples, 3);

    auto img = Read(path);
    ASSERT_NE(img, nullptr);
    EXPECT_EQ(img->ImgStruct.ResUnit, 3);
    EXPECT_DOUBLE_EQ(img->ImgStruct.Resolution, 118.0);
}

TEST_F(TiffRead, ProgressStartsANewPassAndEndsAtTheLastLine) {
    TiffLayout t;
    t.width = 8;
    t.height = 250;
    const std::string path = dir.File("prog.tif");
    WriteWithLibtiff(path, t, Pat8);
    ProgressLog::calls.clear();
    SetRW_Progress(ProgressLog::Record, nullptr);
    auto img = Read(path);
    SetRW_Progress(nullptr, nullptr);
    ASSERT_NE(img, nullptr);
    ASSERT_GE(ProgressLog::calls.size(), 3u);
    EXPECT_EQ(ProgressLog::calls.front(), std::make_pair(0, 0));
    EXPECT_EQ(ProgressLog::calls[1], std::make_pair(250, 0));
    EXPECT_EQ(ProgressLog::calls[2], std::make_pair(250, 2));  // every 1% of 250 lines
    EXPECT_EQ(ProgressLog::calls.back(), std::make_pair(250, 250));
}

// ---- Rectangles -------------------------------------------------------------------

class TiffRect : public TiffRead {
protected:
    std::string MakeFile(uint16_t compression, int spp, uint32_t rowsPerStrip, uint32_t tile = 0) {
        TiffLayout t;
        t.width = 150;
        t.height = 100;
        t.spp = static_cast<uint16_t>(spp);
        t.photometric = spp == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISWHITE;
        t.compression = compression;
        t.rowsPerStrip = rowsPerStrip;
        t.tile = tile;
        const std::string path = dir.File("r.tif");
        WriteWithLibtiff(path, t, Pat8);
        return path;
    }
};

TEST_F(TiffRect, RectangleOfLzwUncompressedAndTiledFiles) {
    struct Case {
        uint16_t compression;
        int spp;
        uint32_t rowsPerStrip, tile;
    };
    const Case cases[] = {{COMPRESSION_LZW, 3, 8, 0},  {COMPRESSION_LZW, 1, 100, 0},
                          {COMPRESSION_NONE, 3, 7, 0}, {COMPRESSION_PACKBITS, 3, 1, 0},
                          {COMPRESSION_LZW, 3, 0, 16}};
    for (const Case& k : cases) {
        SCOPED_TRACE("compression " + std::to_string(k.compression) + ", " + std::to_string(k.spp) +
                     " samples, strips of " + std::to_string(k.rowsPerStrip));
        const std::string path = MakeFile(k.compression, k.spp, k.rowsPerStrip, k.tile);
        ImgClass out;
        Post_Error("");
        ASSERT_FALSE(Lib().tiff->GetTIFFImgRect(path.c_str(), 10, 20, 110, 70, &out)) << LastError();
        EXPECT_EQ(out.ImgStruct.LineSize, 100u * k.spp);
        EXPECT_EQ(std::string(out.ImgStruct.FileName), dir.File("r.rct"));
        EXPECT_FALSE(Lib().tiff->IsOpen());
        ExpectPixels(out, 100, 50, k.spp, [&](uint32_t x, uint32_t y, int c) {
            const int v = Pat8(x + 10, y + 20, c);
            return k.spp == 1 ? 255 - v : v;
        });
    }
}

TEST_F(TiffRect, BadRequestsFailWithAClearMessage) {
    const std::string path = MakeFile(COMPRESSION_LZW, 3, 8);
    struct Case {
        int l, t, r, b;
    };
    for (const Case& k : {Case{10, 20, 10, 70}, Case{50, 20, 10, 70}, Case{-1, 0, 10, 10},
                          Case{0, 0, 151, 10}, Case{0, 90, 10, 101}, Case{200, 200, 300, 300}}) {
        ImgClass out;
        Post_Error("");
        EXPECT_TRUE(Lib().tiff->GetTIFFImgRect(path.c_str(), k.l, k.t, k.r, k.b, &out));
        EXPECT_EQ(out.ImgStruct.ImgData, nullptr);
        EXPECT_NE(LastError().find("is empty or outside the 150 x 100 image"), std::string::npos)
            << LastError();
    }
    ImgClass out;
    Post_Error("");
    EXPECT_TRUE(Lib().tiff->GetTIFFImgRect("", 0, 0, 1, 1, &out));
    EXPECT_EQ(LastError(), "TIFFClass::GetTIFFImgRect() No file\n");
    Post_Error("");
    EXPECT_TRUE(Lib().tiff->GetTIFFImgRect(path.c_str(), 0, 0, 1, 1, nullptr));
    EXPECT_EQ(LastError(), "TIFFClass::GetTIFFImgRect() Img is NULL\n");
    const std::string missing = dir.File("missing.tif");
    Post_Error("");
    EXPECT_TRUE(Lib().tiff->GetTIFFImgRect(missing.c_str(), 0, 0, 1, 1, &out));
    EXPECT_NE(LastError().find("TIFFClass::GetTIFFImgRect() OpenTiffFile(" + missing + ") failed"),
              std::string::npos);

    const std::string deflate = MakeFile(COMPRESSION_ADOBE_DEFLATE, 3, 8);
    Post_Error("");
    EXPECT_TRUE(Lib().tiff->GetTIFFImgRect(deflate.c_str(), 0, 0, 1, 1, &out));
    EXPECT_EQ(LastError(), "TIFFClass::GetTIFFImgRect(..) " + deflate + " is not LZW compressed\n");
}

TEST_F(TiffRect, GetLineRefusesRowsAndColumnsOutsideTheImage) {
    const std::string path = MakeFile(COMPRESSION_NONE, 3, 1);
    TIFFClass& codec = *Lib().tiff;
    ASSERT_NE(codec.OpenTiffFile(path.c_str()), nullptr);
    ImgClass img;
    img.ImgStruct.Width = 10;
    img.ImgStruct.Height = 2;
    img.ImgStruct.Samples = 3;
    img.ImgStruct.LineSize = 30;
    ASSERT_FALSE(img.AllocData());
    EXPECT_FALSE(codec.GetLine(&img, 5, 1, 140, 150));
    EXPECT_EQ(At(img, 9, 1, 2), Pat8(149, 5, 2));
    EXPECT_TRUE(codec.GetLine(&img, 5, 1, 140, 151));  // past the row
    EXPECT_TRUE(codec.GetLine(&img, 5, 1, 100, 120));  // wider than the image row
    EXPECT_TRUE(codec.GetLine(&img, 100, 1, 0, 10));   // past the file
    EXPECT_TRUE(codec.GetLine(&img, 5, 2, 0, 10));     // past the image
    codec.CloseTiff();
    EXPECT_TRUE(codec.GetLine(&img, 5, 1, 0, 10));  // nothing open
}

// ---- Writing ------------------------------------------------------------------------

class TiffWrite : public TiffRead {};

TEST_F(TiffWrite, IndependentReadersSeeThePixelsTagsAndResolution) {
    for (int samples : {1, 3})
        for (bool lzw : {false, true}) {
            SCOPED_TRACE(std::to_string(samples) + " samples, lzw " + std::to_string(lzw));
            ImgClass img;
            MakeImage(img, 53, 21, samples, 4);
            const std::string path = dir.File("w.tif");
            SetName(img, path);
            img.ImgStruct.ResUnit = 3;
            img.ImgStruct.Resolution = 120.0;
            ASSERT_FALSE(WriteTIFF(lzw, false, &img)) << LastError();
            EXPECT_EQ(img.ImgStruct.Type, IMG_TYPE_TIFF);

            const TiffTags tags = ReadTiffTags(path);
            EXPECT_EQ(tags.width, 53u);
            EXPECT_EQ(tags.length, 21u);
            EXPECT_EQ(tags.spp, samples);
            EXPECT_EQ(tags.bits, 8);
            EXPECT_EQ(tags.compression, lzw ? COMPRESSION_LZW : COMPRESSION_NONE);
            EXPECT_EQ(tags.photometric, samples == 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK);
            EXPECT_EQ(tags.planar, PLANARCONFIG_CONTIG);
            EXPECT_EQ(tags.rowsPerStrip, 21u);
            EXPECT_EQ(tags.unit, RESUNIT_CENTIMETER);
            EXPECT_FLOAT_EQ(tags.xres, 120.0f);
            EXPECT_FLOAT_EQ(tags.yres, 120.0f);
            EXPECT_TRUE(tags.bigEndian);
            EXPECT_TRUE(tags.description.empty());

            if (HaveProgram(kPython)) {
                const PilView pil = ReadWithPil(dir, path);
                EXPECT_EQ(pil.mode, samples == 3 ? "RGB" : "L");
                ASSERT_EQ(pil.bytes.size(), size_t{53} * 21 * samples);
                size_t misses = 0;
                for (uint32_t y = 0; y < 21; ++y)
                    for (uint32_t x = 0; x < 53; ++x)
                        for (int c = 0; c < samples; ++c)
                            misses += pil.bytes[(size_t{y} * 53 + x) * samples + c] !=
                                      PatternSample(x, y, c, 4);
                EXPECT_EQ(misses, 0u);
                EXPECT_EQ(pil.compression, lzw ? "tiff_lzw" : "raw");
            }
        }
}

TEST_F(TiffWrite, BgrInputIsStoredAsRgbAndTheCallersPixelsStay) {
    ImgClass img;
    MakeImage(img, 17, 9, 3, 6);
    Swap_RGB(&img);  // B,G,R in memory, BgrOrder set
    const std::vector<uint8_t> before(img.ImgStruct.ImgData,
                                      img.ImgStruct.ImgData + img.ImgStruct.LineSize * 9);
    const std::string path = dir.File("bgr.tif");
    SetName(img, path);
    ASSERT_FALSE(WriteTIFF(true, true, &img));
    EXPECT_EQ(img.ImgStruct.BgrOrder, 1);
    EXPECT_EQ(0, std::memcmp(before.data(), img.ImgStruct.ImgData, before.size()));
    auto back = Read(path);
    ASSERT_NE(back, nullptr);
    ExpectPixels(*back, 17, 9, 3, [](uint32_t x, uint32_t y, int c) { return PatternSample(x, y, c, 6); });
}

TEST_F(TiffWrite, ResolutionDefaultsAndBilevelPackBits) {
    ImgClass img;
    MakeImage(img, 40, 6, 1, 2);  // 1-bit rows: 5 bytes of packed bits each
    img.ImgStruct.Bits = 1;
    img.ImgStruct.Resolution = 0.0;
    img.ImgStruct.ResUnit = 7;
    const std::string path = dir.File("bw.tif");
    SetName(img, path);
    ASSERT_FALSE(WriteTIFF(true, false, &img));
    EXPECT_EQ(img.ImgStruct.ResUnit, 1);
    TiffTags tags = ReadTiffTags(path);
    EXPECT_EQ(tags.compression, COMPRESSION_PACKBITS);
    EXPECT_EQ(tags.bits, 1);
    EXPECT_EQ(tags.unit, RESUNIT_NONE);
    EXPECT_FLOAT_EQ(tags.xres, 100.0f);
    EXPECT_FLOAT_EQ(tags.yres, 100.0f);
    auto back = Read(path);
    ASSERT_NE(back, nullptr) << LastError();
    ExpectPixels(*back, 40, 6, 1, [](uint32_t x, uint32_t y, int) {
        return (PatternSample(x / 8, y, 0, 2) >> (7 - x % 8)) & 1 ? 255 : 0;
    });

    ASSERT_FALSE(WriteTIFF(false, false, &img));
    EXPECT_EQ(ReadTiffTags(path).compression, COMPRESSION_NONE);
}

TEST_F(TiffWrite, ImagesTheWriterCannotHoldAreRefused) {
    ImgClass img;
    Post_Error("");
    EXPECT_TRUE(WriteTIFF(false, false, &img));  // no pixels
    EXPECT_TRUE(WriteTIFF(false, false, nullptr));
    MakeImage(img, 10, 4, 3, 1);
    SetName(img, dir.File("short.tif"));
    img.ImgStruct.LineSize = 20;  // shorter than 10 RGB pixels
    EXPECT_TRUE(WriteTIFF(false, false, &img));
    EXPECT_NE(LastError().find("do not fit lines of 20 bytes"), std::string::npos) << LastError();
    img.ImgStruct.LineSize = 32;
    SetName(img, dir.File("no/such/folder/x.tif"));
    EXPECT_TRUE(WriteTIFF(false, false, &img));
}

TEST_F(TiffWrite, WriterProgressBeginsAtRowOne) {
    ImgClass img;
    MakeImage(img, 4, 30, 1, 1);
    SetName(img, dir.File("p.tif"));
    ProgressLog::calls.clear();
    SetRW_Progress(nullptr, ProgressLog::Record);
    ASSERT_FALSE(WriteTIFF(false, false, &img));
    SetRW_Progress(nullptr, nullptr);
    ASSERT_FALSE(ProgressLog::calls.empty());
    EXPECT_EQ(ProgressLog::calls.front(), std::make_pair(30, 1));
    EXPECT_EQ(ProgressLog::calls[1], std::make_pair(30, 4));  // marks 3 rows apart
}

TEST_F(TiffWrite, RowsWrittenThroughTheOpenHandle) {
    ImgClass desc;
    desc.ImgStruct.Width = 6;
    desc.ImgStruct.Height = 4;
    desc.ImgStruct.Samples = 3;
    desc.ImgStruct.LineSize = 20;
    const std::string path = dir.File("rows.tif");
    SetName(desc, path);
    TIFFClass& codec = *Lib().tiff;
    ASSERT_NE(codec.Open_Write_Tiff(true, &desc), nullptr);
    for (uint32_t y = 0; y < 4; ++y) {
        uint8_t row[18];
        for (int i = 0; i < 18; ++i) row[i] = static_cast<uint8_t>(y * 40 + i);
        const std::vector<uint8_t> copy(row, row + 18);
        ASSERT_FALSE(codec.WriteScanline(row, y));
        EXPECT_EQ(0, std::memcmp(copy.data(), row, 18));
    }
    EXPECT_FALSE(codec.CloseTiff());
    EXPECT_TRUE(codec.WriteScanline(nullptr, 0));
    auto back = Read(path);
    ASSERT_NE(back, nullptr);
    ExpectPixels(*back, 6, 4, 3, [](uint32_t x, uint32_t y, int c) { return static_cast<int>(y * 40 + x * 3 + c); });
}

TEST_F(TiffWrite, SixteenBitGreyKeepsTheCallersSamples) {
    // A big-endian file swaps 16-bit samples on the way out.
    ImgClass img;
    img.ImgStruct.Width = 5;
    img.ImgStruct.Height = 3;
    img.ImgStruct.Samples = 1;
    img.ImgStruct.Bits = 16;
    img.ImgStruct.LineSize = 12;
    ASSERT_FALSE(img.AllocData());
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x) {
            const uint16_t v = static_cast<uint16_t>(Pat16(x, y, 0));
            std::memcpy(img.ImgStruct.ImgData + y * 12 + x * 2, &v, 2);
        }
    const std::vector<uint8_t> before(img.ImgStruct.ImgData, img.ImgStruct.ImgData + 36);
    const std::string path = dir.File("g16.tif");
    SetName(img, path);
    ASSERT_FALSE(WriteTIFF(false, false, &img));
    EXPECT_EQ(0, std::memcmp(before.data(), img.ImgStruct.ImgData, 36));
    auto back = Read(path);
    ASSERT_NE(back, nullptr);
    ExpectPixels(*back, 5, 3, 1, [](uint32_t x, uint32_t y, int) { return Round16(Pat16(x, y, 0)); });
}

// ---- The planar ZUL form --------------------------------------------------------------

TEST_F(TiffWrite, PlanarZulRoundTrip) {
    ImgClass img;
    MakeImage(img, 100, 50, 3, 8);
    const std::vector<uint8_t> before(img.ImgStruct.ImgData,
                                      img.ImgStruct.ImgData + img.ImgStruct.LineSize * 50);
    const std::string path = dir.File("zul.tif");
    SetName(img, path);
    ASSERT_FALSE(WriteZUL_TIFF(true, false, &img)) << LastError();
    EXPECT_EQ(img.ImgStruct.Planar, 1);
    EXPECT_EQ(0, std::memcmp(before.data(), img.ImgStruct.ImgData, before.size()));

    const TiffTags tags = ReadTiffTags(path);
    EXPECT_EQ(tags.width, 100u);
    EXPECT_EQ(tags.length, 150u);
    EXPECT_EQ(tags.spp, 1);
    EXPECT_EQ(tags.photometric, PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(tags.description, "ABCD");
    EXPECT_EQ(tags.rowsPerStrip, 50u);
    EXPECT_EQ(Get_File_Type(path.c_str()), IMG_TYPE_ZUL);

    TiffDescription d;
    ASSERT_FALSE(Lib().tiff->DescribeFile(path.c_str(), d));
    EXPECT_TRUE(d.zul);
    EXPECT_EQ(d.imageLength, 50u);
    EXPECT_EQ(d.storedLength, 150u);
    EXPECT_EQ(d.samples, 3);

    // Plane p of the file is sample p of the image's YCC form.
    ImgClass ycc;
    MakeImage(ycc, 100, 50, 3, 8);
    ASSERT_FALSE(RGBtoYCC(&ycc));
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    std::vector<uint8_t> row(100);
    size_t misses = 0;
    for (uint32_t r = 0; r < 150; ++r) {
        ASSERT_GE(TIFFReadScanline(tif, row.data(), r, 0), 0);
        for (uint32_t x = 0; x < 100; ++x) misses += row[x] != At(ycc, x, r % 50, static_cast<int>(r / 50));
    }
    TIFFClose(tif);
    EXPECT_EQ(misses, 0u);

    // The reader scatters the planes, exchanges the first and third and
    // converts back to R,G,B.
    auto back = Read(path);
    ASSERT_NE(back, nullptr) << LastError();
    EXPECT_EQ(back->ImgStruct.Type, IMG_TYPE_TIFF);
    EXPECT_EQ(back->ImgStruct.BgrOrder, 0);
    Swap_RGB(&ycc);
    YCCtoRGB(&ycc);
    ExpectPixels(*back, 100, 50, 3, [&](uint32_t x, uint32_t y, int c) { return At(ycc, x, y, c); });
}

TEST_F(TiffWrite, PlanarRequestOnAGreyImageWritesAPlainFile) {
    ImgClass img;
    MakeImage(img, 20, 9, 1, 3);
    const std::string path = dir.File("zulgrey.tif");
    SetName(img, path);
    ASSERT_FALSE(WriteZUL_TIFF(false, false, &img));
    EXPECT_EQ(LastError(), "RGBtoYCC  Image is BW\n");
    EXPECT_TRUE(ReadTiffTags(path).description.empty());
    EXPECT_EQ(Get_File_Type(path.c_str()), IMG_TYPE_TIFF);
    auto back = Read(path);
    ASSERT_NE(back, nullptr);
    ExpectPixels(*back, 20, 9, 1, [](uint32_t x, uint32_t y, int) { return PatternSample(x, y, 0, 3); });
}

TEST_F(TiffRead, ForeignPlanarFilesWithTooFewRowsFail) {
    // Photometric 15 marks the layout without dividing the height.
    TiffLayout t;
    t.width = 8;
    t.height = 6;
    t.photometric = 15;
    const std::string path = dir.File("p15.tif");
    WriteWithLibtiff(path, t, Pat8);
    EXPECT_EQ(Get_File_Type(path.c_str()), IMG_TYPE_ZUL);
    auto img = std::make_unique<ImgClass>();
    SetName(*img, path);
    Post_Error("");
    EXPECT_TRUE(ReadImage(false, img.get()));
    EXPECT_NE(LastError().find("fewer than the planar layout needs"), std::string::npos) << LastError();
}

}  // namespace

namespace {

// A 13 x 7 colour image in one tile that claims 17190928 rows (a multiple
// of 16, as tiles must be); only the image's 7 rows are stored.
[[maybe_unused]] void WriteTallTileTiff(const std::string& path, int planar) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 13u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 7u);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, planar);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE);
    TIFFSetField(tif, TIFFTAG_TILEWIDTH, 16u);
    TIFFSetField(tif, TIFFTAG_TILELENGTH, 17190928u);
    const int planes = planar == PLANARCONFIG_SEPARATE ? 3 : 1;
    const int perPixel = 3 / planes;
    for (int p = 0; p < planes; ++p) {
        std::vector<uint8_t> rows(16 * 7 * perPixel, 0);
        for (uint32_t y = 0; y < 7; ++y)
            for (uint32_t x = 0; x < 13; ++x)
                for (int c = 0; c < perPixel; ++c)
                    rows[(y * 16 + x) * perPixel + c] = PatternSample(x, y, p + c, 5);
        TIFFWriteRawTile(tif, static_cast<uint32_t>(p), rows.data(), static_cast<tmsize_t>(rows.size()));
    }
    TIFFClose(tif);
}

// Reads path whole and as a 6-pixel thumbnail in a child whose address
// space is limited to 256 MiB; the exit status names what failed.
[[maybe_unused]] int ReadUnderAddressLimit(const std::string& path) {
    const rlimit limit{256u << 20, 256u << 20};
    if (setrlimit(RLIMIT_AS, &limit) != 0) return 10;
    ImgClass img;
    SetName(img, path);
    if (ReadImage(false, &img)) return 11;
    for (uint32_t y = 0; y < 7; ++y)
        for (uint32_t x = 0; x < 13; ++x)
            for (int c = 0; c < 3; ++c)
                if (At(img, x, y, c) != PatternSample(x, y, c, 5)) return 12;
    ImgClass thumb;
    if (Lib().tiff->TiffmakeLocalThn(6, path.c_str(), &thumb) || thumb.ImgStruct.Width != 6) return 13;
    return 0;
}

// Found by fuzzing: band and tile buffers were sized by the tile's claimed
// height, so 680 bytes of file asked for nearly 2 GB.
TEST_F(TiffRead, TilesTallerThanTheImageCostOnlyTheImagesRows) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the checked heap needs more address space than the limit allows";
#else
    for (const int planar : {PLANARCONFIG_CONTIG, PLANARCONFIG_SEPARATE}) {
        SCOPED_TRACE(planar == PLANARCONFIG_CONTIG ? "contiguous" : "separate planes");
        const std::string path = dir.File("tall-tile.tif");
        WriteTallTileTiff(path, planar);
        EXPECT_EQ(RunInChild([&] { return ReadUnderAddressLimit(path); }), 0)
            << "-1 no normal exit, 10 no limit, 11 read failed, 12 wrong pixels, 13 no thumbnail";
    }
#endif
}

// The fuzzer's own input for that fault (after its first byte, which chose
// the thumbnail width 17): a damaged 13 x 7 file with four samples and
// tiles of 17190928 rows.
const uint8_t kTallTileInput[] = {
    0x49, 0x49, 0x2a, 0x00, 0x08, 0x00, 0x00, 0x00, 0x1a, 0x00, 0x00, 0x01, 0x04, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x0d, 0x00, 0x00, 0x00, 0x01, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x07, 0x00,
    0x00, 0x00, 0x02, 0x01, 0x03, 0x00, 0x04, 0x00, 0x00, 0x00, 0x86, 0x00, 0x00, 0x00, 0x03, 0x01,
    0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0x06, 0x01, 0x01, 0x00,
    0x00, 0x00, 0x05, 0x00, 0x00, 0x00, 0x11, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x8e, 0x00,
    0x00, 0x00, 0x15, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x16, 0x01,
    0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x17, 0x2a, 0x04, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x6c, 0x01, 0x00, 0x00, 0x1c, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x08, 0x00, 0x08, 0x00, 0x08, 0x00, 0xff, 0xfb,
    0x02, 0x14, 0x26, 0xbc, 0x7f, 0x00, 0x00, 0xff, 0xff, 0x00, 0x90, 0xff, 0xff, 0x00, 0x6b, 0xff,
    0xff, 0x00, 0x46, 0xff, 0xff, 0x00, 0x21, 0xff, 0xff, 0x00, 0xfc, 0xff, 0xff, 0x00, 0xd7, 0xff,
    0xff, 0x00, 0xb2, 0xff, 0xff, 0x00, 0x8d, 0xff, 0xff, 0x00, 0x68, 0xff, 0xff, 0x00, 0x43, 0x01,
    0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x10, 0x50, 0x06, 0x01, 0x01, 0x00, 0x00, 0x00, 0x05, 0x00,
    0x00, 0x00, 0x11, 0x01, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x8e, 0x00, 0x00, 0x00, 0x15, 0x01,
    0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x00, 0x00, 0x00, 0x16, 0x01, 0x04, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x17, 0x2a, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00, 0x6c, 0x01,
    0x00, 0x00, 0x1c, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x08, 0x00, 0x08, 0x00, 0x08, 0x00, 0x08, 0x00, 0xff, 0xfb, 0x02, 0x14, 0x26, 0xbc,
    0x7f, 0x00, 0x00, 0xff, 0xff, 0x00, 0x90, 0xff, 0xff, 0x00, 0x6b, 0xff, 0xff, 0x00, 0x46, 0xff,
    0xff, 0x00, 0x21, 0xff, 0xff, 0x00, 0xfc, 0xff, 0xff, 0x00, 0xd7, 0xff, 0xff, 0x00, 0xb2, 0xff,
    0xff, 0x00, 0x8d, 0xff, 0xff, 0x00, 0x68, 0xff, 0xff, 0x00, 0x43, 0x01, 0x04, 0x00, 0x01, 0x00,
    0x00, 0x00, 0x10, 0x50, 0x32, 0x0a, 0x31, 0x2d, 0x20, 0x37, 0x08, 0x35, 0x1a, 0x42, 0x8e, 0x35,
    0xaa, 0x58, 0x52, 0x45, 0x53, 0x41, 0x21, 0x71, 0x63, 0x00, 0xfc, 0x71, 0x49, 0x00, 0xd7, 0x71,
    0x2f, 0x00, 0xb2, 0x71, 0x15, 0x00, 0x8d, 0x71, 0xff, 0xff, 0x00, 0xff, 0xb8, 0xff, 0x00, 0xda,
    0xb8, 0xf2, 0x00, 0xb5, 0xb8, 0xe5, 0x00, 0x90, 0xb8, 0xd8, 0x01, 0x00, 0x00, 0x1c, 0x01, 0x03,
    0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x08,
    0x00, 0x08, 0x00, 0x08, 0x00, 0xff, 0xfb, 0x02, 0x14, 0x26, 0xff, 0x00, 0xfc, 0xff, 0xff, 0x00,
    0xd7, 0xff, 0xff, 0x00, 0xb2, 0xff, 0xff, 0x00, 0x8d, 0xff, 0xff, 0x00, 0x08, 0x00, 0x08, 0x00,
    0xff, 0x00, 0x00, 0xb8, 0x97, 0x00, 0xb2, 0xb8, 0x8a, 0x00, 0x8d, 0xb8, 0xa2, 0x7d, 0x00, 0x68,
    0xb8, 0x70, 0x00, 0x43, 0xb8, 0x63, 0x00, 0xff, 0x71, 0x31, 0xe2, 0x10, 0x1f, 0xbc, 0x7f, 0x00,
    0x00, 0xff, 0x00, 0x71, 0x7d, 0x00, 0x21, 0x71, 0x63, 0x00, 0xfc, 0x71, 0x49, 0x00, 0x00, 0xb2,
    0x55, 0x41, 0x00, 0x8d, 0x55, 0xf3, 0x00, 0x68, 0x55, 0xa5, 0x00, 0x43, 0x32, 0x0a, 0x31, 0x2d,
    0x20, 0x37, 0x08, 0x35, 0x1a, 0x42, 0x8e, 0x35, 0xaa, 0x58, 0x52, 0x45, 0x53, 0x41, 0x21, 0x71,
    0x63, 0x00, 0xfc, 0x71, 0x49, 0x00, 0xd7, 0x71, 0x2f, 0x00, 0xb2, 0x71, 0x15, 0x00, 0x8d, 0x71,
    0xff, 0xff, 0x00, 0xff, 0xb8, 0xff, 0x00, 0xda, 0xb8, 0xf2, 0x00, 0xb5, 0xb8, 0xe5, 0x00, 0x90,
    0xb8, 0xd8, 0x01, 0x00, 0x00, 0x1c, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x08, 0x00, 0x08, 0x00, 0x08, 0x00, 0x08, 0x00, 0xff, 0xfb, 0x02,
    0x14, 0x26, 0xff, 0x00, 0xfc, 0xff, 0xff, 0x00, 0xd7, 0xff, 0xff, 0x00, 0xb2, 0xff, 0xff, 0x00,
    0x8d, 0xff, 0xff, 0x00, 0x68, 0xb8, 0xcb, 0x03, 0x00, 0x00, 0x00, 0xb8, 0x97, 0x00, 0xb2, 0xb8,
    0x8a, 0x00, 0x8d, 0xb8, 0xa2, 0x7d, 0x00, 0x68, 0xb8, 0x70, 0x00, 0x43, 0xb8, 0x63, 0x00, 0xff,
    0x71, 0x31, 0xe2, 0x10, 0x1f, 0xbc, 0x7f, 0x00, 0x00, 0xff, 0x00, 0x71, 0x7d, 0x00, 0x21, 0x71,
    0x63, 0x00, 0xfc, 0x71, 0x49, 0x00, 0x00, 0xb2, 0x55, 0x41, 0x00, 0x8d, 0x55, 0xf3, 0x00, 0x68,
    0x55, 0xa5, 0x00, 0x43, 0x55, 0x57, 0x00,
};

[[maybe_unused]] int ThumbnailUnderAddressLimit(const std::string& image, const std::string& header,
                               const std::string& thumb) {
    const rlimit limit{256u << 20, 256u << 20};
    if (setrlimit(RLIMIT_AS, &limit) != 0) return 10;
    if (Make_Local_Header(image.c_str(), header.c_str())) return 0;  // refused: fine
    // The file is damaged, so either outcome is fine, but not for want of
    // memory: the thumbnail needs a few hundred bytes.
    const bool toFile =
        Make_Local_Tnl(75, 17, const_cast<char*>(header.c_str()), const_cast<char*>(thumb.c_str()));
    if (toFile && std::strstr(Get_Last_Error(), "no memory")) return 14;
    ImgClass in;
    const bool inMemory =
        Make_Local_Tnl(0, 17, const_cast<char*>(header.c_str()), const_cast<char*>(""), &in);
    if (inMemory && std::strstr(Get_Last_Error(), "no memory")) return 15;
    return 0;
}

TEST_F(TiffRead, FuzzedTallTileFileIsThumbnailedWithinBoundedMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the checked heap needs more address space than the limit allows";
#else
    const std::string image = dir.File("fuzzed.tif");
    WriteBytes(image, std::vector<uint8_t>(std::begin(kTallTileInput), std::end(kTallTileInput)));
    EXPECT_EQ(RunInChild([&] {
                  return ThumbnailUnderAddressLimit(image, dir.File("fuzzed.hdr"), dir.File("fuzzed.tnl"));
              }),
              0)
        << "-1 no normal exit, 10 no limit, 14/15 the file or memory thumbnail ran out of memory";
#endif
}

}  // namespace
