// The JPEG codec against independent encoders and decoders: cjpeg/djpeg,
// Python's PIL and ImageMagick make the fixtures and judge what we write.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "codecs/jpeg.h"
#include "library.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const char* kCjpeg = "/usr/bin/cjpeg";
const char* kDjpeg = "/usr/bin/djpeg";
const char* kPython = "/usr/bin/python3";
const char* kConvert = "/usr/bin/convert";

orvix::JPGClass& Jpg() { return *orvix::Lib().jpg; }

int Shell(const std::string& command) { return std::system((command + " 2>/dev/null").c_str()); }

// A decoded netpbm file (P5 or P6, 8-bit).
struct Pnm {
    uint32_t width = 0;
    uint32_t height = 0;
    int channels = 0;
    std::vector<uint8_t> pixels;
    uint8_t At(uint32_t x, uint32_t y, int c) const {
        return pixels[(size_t{y} * width + x) * channels + c];
    }
};

Pnm ReadPnm(const std::string& path) {
    const std::vector<uint8_t> bytes = ReadBytes(path);
    Pnm pnm;
    size_t pos = 0;
    auto number = [&]() {
        while (pos < bytes.size() && std::isspace(bytes[pos])) ++pos;
        unsigned long v = 0;
        while (pos < bytes.size() && std::isdigit(bytes[pos])) v = v * 10 + (bytes[pos++] - '0');
        return v;
    };
    if (bytes.size() < 2 || bytes[0] != 'P' || (bytes[1] != '5' && bytes[1] != '6')) return pnm;
    pnm.channels = bytes[1] == '6' ? 3 : 1;
    pos = 2;
    pnm.width = static_cast<uint32_t>(number());
    pnm.height = static_cast<uint32_t>(number());
    if (number() != 255) return Pnm{};
    ++pos;  // the single white-space character before the samples
    const size_t n = size_t{pnm.width} * pnm.height * pnm.channels;
    if (bytes.size() - pos < n) return Pnm{};
    pnm.pixels.assign(bytes.begin() + static_cast<long>(pos), bytes.begin() + static_cast<long>(pos + n));
    return pnm;
}

// djpeg's decoding of a file; empty when djpeg wrote nothing.
Pnm Djpeg(const TempDir& dir, const std::string& jpg) {
    const std::string out = dir.File("djpeg_out.pnm");
    std::remove(out.c_str());
    Shell(std::string(kDjpeg) + " -pnm -outfile '" + out + "' '" + jpg + "'");
    return ReadPnm(out);
}

// A P6 (or P5) file holding the test pattern with a pure black square at the
// top left, for cjpeg to encode.
void WritePatternPnm(const std::string& path, uint32_t w, uint32_t h, int channels) {
    std::ostringstream head;
    head << (channels == 3 ? "P6" : "P5") << "\n" << w << " " << h << "\n255\n";
    const std::string text = head.str();
    std::vector<uint8_t> bytes(text.begin(), text.end());
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < channels; ++c)
                bytes.push_back(x < 16 && y < 16 ? 0 : PatternSample(x, y, c, 3));
    WriteBytes(path, bytes);
}

// Every pixel equals djpeg's, except that colour (0,0,0) reads as (1,1,1).
// Returns the number of pixels the black rule changed.
int ExpectSameAsDjpeg(const ImgClass& img, const Pnm& ref) {
    const ImgStruct& s = img.ImgStruct;
    EXPECT_EQ(s.Width, ref.width);
    EXPECT_EQ(s.Height, ref.height);
    EXPECT_EQ(s.Samples, ref.channels);
    if (s.Width != ref.width || s.Height != ref.height || s.Samples != ref.channels) return 0;
    int lifted = 0;
    int mismatches = 0;
    for (uint32_t y = 0; y < s.Height; ++y) {
        for (uint32_t x = 0; x < s.Width; ++x) {
            const bool black = ref.channels == 3 && ref.At(x, y, 0) == 0 && ref.At(x, y, 1) == 0 &&
                               ref.At(x, y, 2) == 0;
            lifted += black;
            for (int c = 0; c < ref.channels; ++c) {
                const int want = black ? 1 : ref.At(x, y, c);
                if (At(img, x, y, c) != want && ++mismatches <= 5)
                    ADD_FAILURE() << "pixel (" << x << "," << y << ") sample " << c << ": "
                                  << int(At(img, x, y, c)) << " vs " << want;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
    return lifted;
}

bool ReadJpeg(const std::string& path, ImgClass& img) {
    SetName(img, path);
    return Jpg().ReadJPEGtoMem(&img);
}

// The bytes of a file with the marker segment starting at the first
// occurrence of FF <marker> changed by edit (given the segment's offset).
template <typename Edit>
void EditSegment(const std::string& path, uint8_t marker, Edit edit) {
    std::vector<uint8_t> bytes = ReadBytes(path);
    for (size_t i = 2; i + 1 < bytes.size(); ++i) {
        if (bytes[i] == 0xFF && bytes[i + 1] == marker) {
            edit(bytes, i);
            WriteBytes(path, bytes);
            return;
        }
    }
    ADD_FAILURE() << "marker " << int(marker) << " not found in " << path;
}

// JFIF APP0 fields of a written file: unit, X density, Y density.
struct Jfif {
    int unit = -1;
    int x = -1;
    int y = -1;
};
Jfif JfifOf(const std::string& path) {
    const std::vector<uint8_t> b = ReadBytes(path);
    Jfif j;
    if (b.size() > 18 && b[2] == 0xFF && b[3] == 0xE0 && std::memcmp(&b[6], "JFIF", 5) == 0) {
        j.unit = b[13];
        j.x = b[14] << 8 | b[15];
        j.y = b[16] << 8 | b[17];
    }
    return j;
}

// What PIL says about a file: "mode WxH dpi-or-none first-pixel".
std::string PilDescription(const TempDir& dir, const std::string& path) {
    const std::string out = dir.File("pil.txt");
    const std::string script =
        "from PIL import Image\n"
        "im = Image.open(r'" + path + "')\n"
        "im.load()\n"
        "u = im.info.get('jfif_unit'); d = im.info.get('jfif_density')\n"
        "open(r'" + out + "', 'w').write('%s %dx%d %s %s %s' % (im.mode, im.width, im.height,"
        " u, d, im.getpixel((0, 0))))\n";
    WriteText(dir.File("pil.py"), script);
    if (Shell(std::string(kPython) + " '" + dir.File("pil.py") + "'") != 0) return "PIL failed";
    const std::vector<uint8_t> b = ReadBytes(out);
    return std::string(b.begin(), b.end());
}

class JpegCodec : public ::testing::Test {
protected:
    void SetUp() override {
        for (const char* tool : {kCjpeg, kDjpeg, kPython, kConvert})
            if (!HaveProgram(tool)) GTEST_SKIP() << tool << " is not installed";
        ClearError();
        ImgClass& cache = orvix::ImageCache();
        cache.FreeData();
        cache.ImgStruct.FileName[0] = '\0';
    }
    static void ClearError() { Post_Error(""); }
    std::string Error() const { return Get_Last_Error(); }

    TempDir dir;
};

// ---- Reading -------------------------------------------------------------

TEST_F(JpegCodec, ReadsCjpegFilesWithLibjpegsOwnPixels) {
    WritePatternPnm(dir.File("src.ppm"), 37, 23, 3);
    WritePatternPnm(dir.File("src.pgm"), 37, 23, 1);
    struct Case {
        const char* name;
        const char* options;
        const char* source;
        int samples;
    } cases[] = {
        {"baseline.jpg", "-quality 90", "src.ppm", 3},
        {"progressive.jpg", "-progressive -quality 80", "src.ppm", 3},
        {"arithmetic.jpg", "-arithmetic", "src.ppm", 3},
        {"restart.jpg", "-restart 1 -quality 60", "src.ppm", 3},
        {"grey.jpg", "-quality 90", "src.pgm", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string jpg = dir.File(c.name);
        ASSERT_EQ(Shell(std::string(kCjpeg) + " " + c.options + " -outfile '" + jpg + "' '" +
                      dir.File(c.source) + "'"),
                  0);
        ImgClass img;
        ASSERT_FALSE(ReadJpeg(jpg, img)) << Error();
        const ImgStruct& s = img.ImgStruct;
        EXPECT_EQ(s.Samples, c.samples);
        EXPECT_EQ(s.LineSize, (37u * c.samples + 3u) & ~3u);
        EXPECT_EQ(s.Bits, 8);
        EXPECT_EQ(s.Type, IMG_TYPE_JPEG);
        EXPECT_EQ(s.BgrOrder, 0);
        const int lifted = ExpectSameAsDjpeg(img, Djpeg(dir, jpg));
        if (c.samples == 3) {
            EXPECT_GT(lifted, 0) << "the black square should meet the black-pixel rule";
        } else {
            EXPECT_EQ(At(img, 2, 2), 0) << "grey 0 stays 0";
        }
        EXPECT_EQ(Error(), "");
    }
}

TEST_F(JpegCodec, MapsJfifDensityUnits) {
    const std::string py = dir.File("make.py");
    WriteText(py,
              "from PIL import Image\n"
              "im = Image.new('RGB', (20, 10), (10, 200, 30))\n"
              "im.save(r'" + dir.File("dpi72.jpg") + "', dpi=(72, 72))\n"
              "im.save(r'" + dir.File("plain.jpg") + "')\n");
    ASSERT_EQ(Shell(std::string(kPython) + " '" + py + "'"), 0);
    ASSERT_EQ(Shell(std::string(kConvert) + " -size 12x9 xc:blue -units PixelsPerCentimeter "
                  "-density 40 '" + dir.File("cm.jpg") + "'"),
              0);
    struct Case {
        const char* name;
        int resUnit;
        double resolution;
    } cases[] = {{"dpi72.jpg", 2, 72.0}, {"plain.jpg", 1, 1.0}, {"cm.jpg", 3, 40.0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImgClass img;
        ASSERT_FALSE(ReadJpeg(dir.File(c.name), img)) << Error();
        EXPECT_EQ(img.ImgStruct.ResUnit, c.resUnit);
        EXPECT_DOUBLE_EQ(img.ImgStruct.Resolution, c.resolution);
        ExpectSameAsDjpeg(img, Djpeg(dir, dir.File(c.name)));
    }
}

TEST_F(JpegCodec, AdobeCmykAndYcckReadAsRgb) {
    const std::string py = dir.File("make.py");
    WriteText(py,
              "from PIL import Image\n"
              "im = Image.new('CMYK', (24, 16))\n"
              "for y in range(16):\n"
              "    for x in range(24):\n"
              "        im.putpixel((x, y), (x * 10, y * 15, (x * y) % 256, 0 if x < 8 else 255 if x > 20 else x * 9))\n"
              "im.save(r'" + dir.File("pil_cmyk.jpg") + "', quality=95)\n");
    ASSERT_EQ(Shell(std::string(kPython) + " '" + py + "'"), 0);
    ASSERT_EQ(Shell(std::string(kConvert) + " -size 24x16 gradient:red-yellow -colorspace CMYK "
                  "-quality 95 '" + dir.File("im_ycck.jpg") + "'"),
              0);
    for (const char* name : {"pil_cmyk.jpg", "im_ycck.jpg"}) {
        SCOPED_TRACE(name);
        orvix::JpegHeaderInfo info;
        ASSERT_FALSE(orvix::ReadJpegHeader(dir.File(name).c_str(), info)) << Error();
        EXPECT_EQ(info.components, 4);
        EXPECT_EQ(info.samples, 3);
        ImgClass img;
        ASSERT_FALSE(ReadJpeg(dir.File(name), img)) << Error();
        EXPECT_EQ(img.ImgStruct.Samples, 3);
        // djpeg turns Adobe's inverted CMYK into R,G,B the same way.
        ExpectSameAsDjpeg(img, Djpeg(dir, dir.File(name)));
    }
    // The full-black-ink columns of the PIL file come out black, lifted to 1.
    ImgClass img;
    ASSERT_FALSE(ReadJpeg(dir.File("pil_cmyk.jpg"), img));
    EXPECT_LT(At(img, 23, 8, 0), 8);
}

TEST_F(JpegCodec, CmykWithoutAdobeMarkerIsRefused) {
    const std::string py = dir.File("make.py");
    WriteText(py,
              "from PIL import Image\n"
              "Image.new('CMYK', (8, 8), (0, 255, 255, 0)).save(r'" + dir.File("c.jpg") + "')\n");
    ASSERT_EQ(Shell(std::string(kPython) + " '" + py + "'"), 0);
    // Without its APP14 segment nothing says whether the samples are inverted.
    EditSegment(dir.File("c.jpg"), 0xEE, [](std::vector<uint8_t>& b, size_t at) {
        const size_t length = size_t{b[at + 2]} << 8 | b[at + 3];
        b.erase(b.begin() + static_cast<long>(at), b.begin() + static_cast<long>(at + 2 + length));
    });
    ImgClass img;
    EXPECT_TRUE(ReadJpeg(dir.File("c.jpg"), img));
    EXPECT_NE(Error().find("CMYK without an Adobe marker"), std::string::npos) << Error();
    EXPECT_EQ(img.ImgStruct.ImgData, nullptr);
}

TEST_F(JpegCodec, CorruptFilesFailWithLibjpegsWords) {
    WritePatternPnm(dir.File("src.ppm"), 40, 40, 3);
    const std::string good = dir.File("good.jpg");
    ASSERT_EQ(Shell(std::string(kCjpeg) + " -outfile '" + good + "' '" + dir.File("src.ppm") + "'"), 0);
    const std::vector<uint8_t> bytes = ReadBytes(good);

    struct Case {
        const char* name;
        const char* words;  // expected in the last-error text
        bool buffer;        // the buffer made before the failure stays
    };
    auto expectFailure = [&](const Case& c) {
        SCOPED_TRACE(c.name);
        ClearError();
        ImgClass img;
        EXPECT_TRUE(ReadJpeg(dir.File(c.name), img));
        EXPECT_NE(Error().find(c.words), std::string::npos) << Error();
        EXPECT_EQ(img.ImgStruct.ImgData != nullptr, c.buffer);
    };

    WriteBytes(dir.File("header_cut.jpg"), std::vector<uint8_t>(bytes.begin(), bytes.begin() + 30));
    expectFailure({"header_cut.jpg", "JPEG datastream contains no image", false});

    WriteBytes(dir.File("garbage.jpg"), {0xFF, 0xD8, 0xFF, 0x12, 0x34, 0x56, 0x78, 0x9A, 0, 0, 0});
    expectFailure({"garbage.jpg", "Unsupported marker type", false});

    WriteBytes(dir.File("precision.jpg"), bytes);
    EditSegment(dir.File("precision.jpg"), 0xC0, [](std::vector<uint8_t>& b, size_t at) { b[at + 4] = 12; });
    expectFailure({"precision.jpg", "Unsupported JPEG data precision 12", false});

    WriteBytes(dir.File("wide.jpg"), bytes);
    EditSegment(dir.File("wide.jpg"), 0xC0, [](std::vector<uint8_t>& b, size_t at) {
        b[at + 7] = 0xFF;  // width 65535
        b[at + 8] = 0xFF;
    });
    expectFailure({"wide.jpg", "Maximum supported image dimension", false});

    // An undefined Huffman table is found only when decoding starts, after
    // the pixels were allocated: they stay with the image.
    WriteBytes(dir.File("table.jpg"), bytes);
    EditSegment(dir.File("table.jpg"), 0xDA, [](std::vector<uint8_t>& b, size_t at) { b[at + 6] = 0x33; });
    expectFailure({"table.jpg", "Huffman table 0x03 was not defined", true});

    ClearError();
    ImgClass missing;
    EXPECT_TRUE(ReadJpeg(dir.File("none.jpg"), missing));
    EXPECT_EQ(Error(), "JPGClass::ReadJPEGtoMem() " + dir.File("none.jpg") + " Open Failed\n");

    ClearError();
    EXPECT_TRUE(Jpg().ReadJPEGtoMem(nullptr));
    EXPECT_EQ(Error(), "JPGClass::ReadJPEGtoMem: EXIT 1 Imag is NULL\n");
}

TEST_F(JpegCodec, TruncatedScanReadsWithAWarning) {
    WritePatternPnm(dir.File("src.ppm"), 64, 64, 3);
    const std::string good = dir.File("good.jpg");
    ASSERT_EQ(Shell(std::string(kCjpeg) + " -outfile '" + good + "' '" + dir.File("src.ppm") + "'"), 0);
    std::vector<uint8_t> bytes = ReadBytes(good);
    bytes.resize(bytes.size() * 6 / 10);
    const std::string cut = dir.File("cut.jpg");
    WriteBytes(cut, bytes);

    ImgClass img;
    ASSERT_FALSE(ReadJpeg(cut, img)) << Error();
    EXPECT_NE(Error().find("Premature end of JPEG file"), std::string::npos) << Error();
    // djpeg fills the missing part the same way.
    ExpectSameAsDjpeg(img, Djpeg(dir, cut));
}

TEST_F(JpegCodec, ReadImageDispatchesAndSwaps) {
    WritePatternPnm(dir.File("src.ppm"), 30, 20, 3);
    WritePatternPnm(dir.File("src.pgm"), 30, 20, 1);
    for (const char* src : {"src.ppm", "src.pgm"}) {
        SCOPED_TRACE(src);
        const std::string jpg = dir.File(std::string(src) + ".jpg");
        ASSERT_EQ(Shell(std::string(kCjpeg) + " -outfile '" + jpg + "' '" + dir.File(src) + "'"), 0);
        ImgClass plain, swapped;
        SetName(plain, jpg);
        SetName(swapped, jpg);
        ASSERT_FALSE(ReadImage(false, &plain)) << Error();
        ASSERT_FALSE(ReadImage(true, &swapped)) << Error();
        const ImgStruct& s = plain.ImgStruct;
        EXPECT_EQ(swapped.ImgStruct.BgrOrder, s.Samples == 3 ? 1 : 0);
        int differences = 0;
        for (uint32_t y = 0; y < s.Height; ++y)
            for (uint32_t x = 0; x < s.Width; ++x)
                for (int c = 0; c < s.Samples; ++c)
                    differences += At(swapped, x, y, c) != At(plain, x, y, s.Samples == 3 ? 2 - c : c);
        EXPECT_EQ(differences, 0);
    }
}

TEST_F(JpegCodec, ReaderReportsProgressPerLine) {
    WritePatternPnm(dir.File("src.ppm"), 8, 250, 3);
    const std::string jpg = dir.File("tall.jpg");
    ASSERT_EQ(Shell(std::string(kCjpeg) + " -outfile '" + jpg + "' '" + dir.File("src.ppm") + "'"), 0);
    ProgressLog::calls.clear();
    SetRW_Progress(ProgressLog::Record, nullptr);
    ImgClass img;
    const bool failed = ReadJpeg(jpg, img);
    SetRW_Progress(nullptr, nullptr);
    ASSERT_FALSE(failed);
    // A mark every 2 lines (1% of 250), then the closing (250, 250).
    ASSERT_EQ(ProgressLog::calls.size(), 126u);
    EXPECT_EQ(ProgressLog::calls.front(), std::make_pair(250, 0));
    EXPECT_EQ(ProgressLog::calls[1], std::make_pair(250, 2));
    EXPECT_EQ(ProgressLog::calls.back(), std::make_pair(250, 250));
}

// ---- Header query --------------------------------------------------------

TEST_F(JpegCodec, HeaderQueryReadsNoPixels) {
    WritePatternPnm(dir.File("src.pgm"), 33, 17, 1);
    const std::string jpg = dir.File("grey.jpg");
    ASSERT_EQ(Shell(std::string(kCjpeg) + " -outfile '" + jpg + "' '" + dir.File("src.pgm") + "'"), 0);
    orvix::JpegHeaderInfo info;
    ASSERT_FALSE(orvix::ReadJpegHeader(jpg.c_str(), info)) << Error();
    EXPECT_TRUE(info.opened);
    EXPECT_EQ(info.width, 33u);
    EXPECT_EQ(info.height, 17u);
    EXPECT_EQ(info.components, 1);
    EXPECT_EQ(info.samples, 1);
    EXPECT_EQ(info.precision, 8);

    // Only the header is needed: a file cut after its frame header still answers.
    std::vector<uint8_t> bytes = ReadBytes(jpg);
    size_t sos = 0;
    for (size_t i = 2; i + 1 < bytes.size() && !sos; ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) sos = i;
    ASSERT_GT(sos, 0u);
    bytes.resize(sos + 12);
    WriteBytes(dir.File("cut.jpg"), bytes);
    EXPECT_FALSE(orvix::ReadJpegHeader(dir.File("cut.jpg").c_str(), info)) << Error();
    EXPECT_EQ(info.width, 33u);

    // Tables only: no image.
    ClearError();
    WriteBytes(dir.File("tables.jpg"), {0xFF, 0xD8, 0xFF, 0xD9});
    EXPECT_TRUE(orvix::ReadJpegHeader(dir.File("tables.jpg").c_str(), info));
    EXPECT_NE(Error().find("holds no image"), std::string::npos) << Error();

    ClearError();
    WriteBytes(dir.File("bad.jpg"), {0x00, 0x01, 0x02, 0x03});
    EXPECT_TRUE(orvix::ReadJpegHeader(dir.File("bad.jpg").c_str(), info));
    EXPECT_NE(Error().find("Not a JPEG file"), std::string::npos) << Error();

    ClearError();
    EXPECT_TRUE(orvix::ReadJpegHeader(dir.File("missing.jpg").c_str(), info));
    EXPECT_FALSE(info.opened);
    EXPECT_EQ(Error(), "");
}

// ---- Rectangles ----------------------------------------------------------

TEST_F(JpegCodec, RectanglesComeFromOneDecode) {
    WritePatternPnm(dir.File("src.ppm"), 50, 30, 3);
    const std::string jpg = dir.File("Photo.jpg");
    ASSERT_EQ(Shell(std::string(kCjpeg) + " -outfile '" + jpg + "' '" + dir.File("src.ppm") + "'"), 0);
    ImgClass whole;
    ASSERT_FALSE(ReadJpeg(jpg, whole));

    ImgClass rect;
    ASSERT_FALSE(Jpg().GetJPGImgRect(jpg.c_str(), 10, 5, 27, 30, &rect)) << Error();
    const ImgStruct& r = rect.ImgStruct;
    EXPECT_EQ(r.Width, 17u);
    EXPECT_EQ(r.Height, 25u);
    EXPECT_EQ(r.Samples, 3);
    EXPECT_EQ(r.LineSize, 51u) << "rectangle lines are not padded";
    int differences = 0;
    for (uint32_t y = 0; y < r.Height; ++y)
        for (uint32_t x = 0; x < r.Width; ++x)
            for (int c = 0; c < 3; ++c) differences += At(rect, x, y, c) != At(whole, 10 + x, 5 + y, c);
    EXPECT_EQ(differences, 0);

    // With the file gone, the same name in another letter case is served
    // from the cache: the file is not decoded again.
    ASSERT_EQ(std::remove(jpg.c_str()), 0);
    std::string upper = jpg;
    upper.replace(upper.size() - 9, 9, "PHOTO.JPG");
    ImgClass again;
    ASSERT_FALSE(Jpg().GetJPGImgRect(upper.c_str(), 0, 0, 50, 30, &again)) << Error();
    EXPECT_EQ(again.ImgStruct.Width, 50u);
    EXPECT_EQ(At(again, 49, 29, 2), At(whole, 49, 29, 2));
}

TEST_F(JpegCodec, RectangleAfterAFailedDecodeDecodesAgain) {
    const std::string jpg = dir.File("later.jpg");
    WriteBytes(jpg, {0xFF, 0xD8, 0xFF, 0xD9});
    ImgClass rect;
    EXPECT_TRUE(Jpg().GetJPGImgRect(jpg.c_str(), 0, 0, 4, 4, &rect));
    EXPECT_NE(Error().find("JPGClass::GetJPGImgRect(..) ReadJPEGtoMem(..) FAILED"), std::string::npos);
    EXPECT_EQ(orvix::ImageCache().ImgStruct.FileName[0], '\0');
    EXPECT_EQ(orvix::ImageCache().ImgStruct.ImgData, nullptr);

    WritePatternPnm(dir.File("src.ppm"), 8, 8, 3);
    ASSERT_EQ(Shell(std::string(kCjpeg) + " -outfile '" + jpg + "' '" + dir.File("src.ppm") + "'"), 0);
    EXPECT_FALSE(Jpg().GetJPGImgRect(jpg.c_str(), 0, 0, 4, 4, &rect)) << Error();
    EXPECT_EQ(rect.ImgStruct.Width, 4u);
}

TEST_F(JpegCodec, RectanglesOutsideTheImageAreRefused) {
    WritePatternPnm(dir.File("src.ppm"), 20, 10, 3);
    const std::string jpg = dir.File("r.jpg");
    ASSERT_EQ(Shell(std::string(kCjpeg) + " -outfile '" + jpg + "' '" + dir.File("src.ppm") + "'"), 0);
    const CRect bad[] = {{0, 0, 21, 10}, {0, 0, 20, 11}, {-1, 0, 5, 5}, {5, 5, 5, 8},
                         {8, 2, 4, 6},   {0, 9, 3, 2},   {20, 0, 25, 5}};
    for (const CRect& r : bad) {
        SCOPED_TRACE(::testing::Message() << r.left << "," << r.top << "," << r.right << "," << r.bottom);
        ImgClass out;
        EXPECT_TRUE(Jpg().GetJPGImgRect(jpg.c_str(), r.left, r.top, r.right, r.bottom, &out));
        EXPECT_NE(Error().find("is empty or lies outside the 20x10 image"), std::string::npos) << Error();
        EXPECT_EQ(out.ImgStruct.ImgData, nullptr);
    }
    // The reader adds to the text; only the exports clear it.
    ClearError();
    EXPECT_TRUE(Jpg().GetJPGImgRect(jpg.c_str(), 0, 0, 1, 1, nullptr));
    EXPECT_EQ(Error(), "EXIT BAD:\tJPGClass::GetJPGImgRect(..) Img = NULL\n");
    ImgClass out;
    ClearError();
    EXPECT_TRUE(Jpg().GetJPGImgRect("", 0, 0, 1, 1, &out));
    EXPECT_EQ(Error(), "EXIT BAD:\tJPGClass::GetJPGImgRect(..) No File\n");
}

// ---- Writing -------------------------------------------------------------

// Four solid 16x16 blocks (red, green, blue, white) in one 32x32 image,
// stored in R,G,B or B,G,R order.
void MakeBlocks(ImgClass& img, bool bgr) {
    MakeImage(img, 32, 32, 3);
    const uint8_t colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    ImgStruct& s = img.ImgStruct;
    for (uint32_t y = 0; y < 32; ++y)
        for (uint32_t x = 0; x < 32; ++x) {
            const uint8_t* c = colours[(y / 16) * 2 + x / 16];
            unsigned char* p = s.ImgData + size_t{y} * s.LineSize + x * 3;
            p[0] = bgr ? c[2] : c[0];
            p[1] = c[1];
            p[2] = bgr ? c[0] : c[2];
        }
    s.BgrOrder = bgr;
}

void ExpectBlocks(const Pnm& p) {
    ASSERT_EQ(p.width, 32u);
    ASSERT_EQ(p.channels, 3);
    const int colours[4][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}};
    for (int b = 0; b < 4; ++b)
        for (int c = 0; c < 3; ++c)
            EXPECT_NEAR(p.At(8 + 16 * (b % 2), 8 + 16 * (b / 2), c), colours[b][c], 3)
                << "block " << b << " sample " << c;
}

TEST_F(JpegCodec, WrittenFilesOpenElsewhereWithColoursAndDensity) {
    ImgClass img;
    MakeBlocks(img, false);
    SetName(img, dir.File("out.jpg"));
    img.ImgStruct.ResUnit = 2;
    img.ImgStruct.Resolution = 300.0;
    img.ImgStruct.Type = IMG_TYPE_BMP;
    ASSERT_FALSE(WriteJPEG(95, &img)) << Error();
    EXPECT_EQ(img.ImgStruct.Type, IMG_TYPE_JPEG);
    ExpectBlocks(Djpeg(dir, dir.File("out.jpg")));
    EXPECT_EQ(PilDescription(dir, dir.File("out.jpg")).substr(0, 23), "RGB 32x32 1 (300, 300) ");

    ImgClass back;
    ASSERT_FALSE(ReadJpeg(dir.File("out.jpg"), back));
    EXPECT_EQ(back.ImgStruct.ResUnit, 2);
    EXPECT_DOUBLE_EQ(back.ImgStruct.Resolution, 300.0);

    // Centimetres keep the whole part of the resolution; unit 0 keeps
    // libjpeg's defaults (aspect ratio 1:1).
    img.ImgStruct.ResUnit = 3;
    img.ImgStruct.Resolution = 47.9;
    ASSERT_FALSE(WriteJPEG(90, &img));
    Jfif j = JfifOf(dir.File("out.jpg"));
    EXPECT_EQ(j.unit, 2);
    EXPECT_EQ(j.x, 47);
    EXPECT_EQ(j.y, 47);
    img.ImgStruct.ResUnit = 0;
    ASSERT_FALSE(WriteJPEG(90, &img));
    j = JfifOf(dir.File("out.jpg"));
    EXPECT_EQ(j.unit, 0);
    EXPECT_EQ(j.x, 1);
    EXPECT_EQ(j.y, 1);
}

TEST_F(JpegCodec, GreyImagesWriteOneComponent) {
    ImgClass img;
    MakeImage(img, 21, 13, 1);
    SetName(img, dir.File("grey.jpg"));
    ASSERT_FALSE(WriteJPEG(100, &img)) << Error();
    const Pnm p = Djpeg(dir, dir.File("grey.jpg"));
    ASSERT_EQ(p.channels, 1);
    ASSERT_EQ(p.width, 21u);
    ASSERT_EQ(p.height, 13u);
    int worst = 0;
    for (uint32_t y = 0; y < 13; ++y)
        for (uint32_t x = 0; x < 21; ++x) worst = std::max(worst, std::abs(p.At(x, y, 0) - At(img, x, y)));
    EXPECT_LE(worst, 12);
}

TEST_F(JpegCodec, BgrImagesAreWrittenAsRgbAndLeftSo) {
    ImgClass img;
    MakeBlocks(img, true);
    SetName(img, dir.File("bgr.jpg"));
    ASSERT_FALSE(WriteJPEG(95, &img)) << Error();
    ExpectBlocks(Djpeg(dir, dir.File("bgr.jpg")));
    EXPECT_EQ(img.ImgStruct.BgrOrder, 0);
    EXPECT_EQ(At(img, 2, 2, 0), 255);  // the red block now stored R first
    EXPECT_EQ(At(img, 2, 2, 2), 0);
}

TEST_F(JpegCodec, QualityIsClampedAndBaselineForced) {
    ImgClass img;
    MakeImage(img, 40, 24, 3);
    auto write = [&](int quality) {
        SetName(img, dir.File("q" + std::to_string(quality) + ".jpg"));
        EXPECT_FALSE(WriteJPEG(quality, &img)) << Error();
        return ReadBytes(img.ImgStruct.FileName);
    };
    const std::vector<uint8_t> q100 = write(100);
    EXPECT_EQ(write(150), q100);
    EXPECT_NE(write(90), q100);
    // At low quality the quantiser values would exceed baseline's 8 bits
    // unless limited: the frame must still be a baseline one (SOF0).
    const std::vector<uint8_t> q5 = write(5);
    bool sof0 = false, other = false;
    for (size_t i = 2; i + 1 < q5.size(); ++i) {
        sof0 |= q5[i] == 0xFF && q5[i + 1] == 0xC0;
        other |= q5[i] == 0xFF && (q5[i + 1] == 0xC1 || q5[i + 1] == 0xC2);
    }
    EXPECT_TRUE(sof0);
    EXPECT_FALSE(other);
    EXPECT_EQ(Djpeg(dir, img.ImgStruct.FileName).width, 40u);
}

TEST_F(JpegCodec, WriterReportsProgressEveryTenthOfTheLines) {
    ImgClass img;
    MakeImage(img, 4, 100, 1);
    SetName(img, dir.File("p.jpg"));
    ProgressLog::calls.clear();
    SetRW_Progress(nullptr, ProgressLog::Record);
    const bool failed = WriteJPEG(75, &img);
    SetRW_Progress(nullptr, nullptr);
    ASSERT_FALSE(failed);
    const std::vector<std::pair<int, int>> want = {{100, 1},  {100, 11}, {100, 21}, {100, 31},
                                                   {100, 41}, {100, 51}, {100, 61}, {100, 71},
                                                   {100, 81}, {100, 91}};
    EXPECT_EQ(ProgressLog::calls, want);
}

TEST_F(JpegCodec, WriteFailuresAreReported) {
    ImgClass img;
    MakeImage(img, 64, 64, 3);
    // A full disk: libjpeg's write error ends the operation.
    SetName(img, "/dev/full");
    EXPECT_TRUE(WriteJPEG(90, &img));
    EXPECT_NE(Error().find("Output file write error"), std::string::npos) << Error();

    ClearError();
    SetName(img, dir.File("no/such/folder/x.jpg"));
    EXPECT_TRUE(WriteJPEG(90, &img));
    EXPECT_NE(Error().find("Open Failed"), std::string::npos) << Error();

    // Layouts the encoder cannot take are refused before a file is made.
    SetName(img, dir.File("refused.jpg"));
    img.ImgStruct.Samples = 4;
    EXPECT_TRUE(WriteJPEG(90, &img));
    img.ImgStruct.Samples = 3;
    img.ImgStruct.Bits = 16;
    EXPECT_TRUE(WriteJPEG(90, &img));
    img.ImgStruct.Bits = 8;
    img.ImgStruct.LineSize = 100;
    EXPECT_TRUE(WriteJPEG(90, &img));
    img.FreeData();
    img.ImgStruct.LineSize = 192;
    EXPECT_TRUE(WriteJPEG(90, &img));
    EXPECT_FALSE(std::filesystem::exists(dir.File("refused.jpg")));
    EXPECT_TRUE(WriteJPEG(90, nullptr));
}

}  // namespace
