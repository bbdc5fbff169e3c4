#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cstring>

#include "codecs/bmp.h"
#include "codecs/image_tools.h"
#include "support/test_support.h"

using namespace testing_support;
using image_tools::Raster;
using orvix::BmpClass;

namespace {

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.push_back(static_cast<uint8_t>(v));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// A bitmap built byte by byte.
struct BmpFile {
    int32_t width = 1;
    int32_t height = 1;
    uint16_t bpp = 24;
    uint32_t compression = 0;
    uint32_t colorsUsed = 0;
    uint32_t headerSize = 40;
    // Bit-field masks (red, green, blue, and alpha where the header has room):
    // after a 40-byte header, at offset 40 of a longer one.
    std::vector<uint32_t> masks;
    std::vector<std::array<uint8_t, 3>> palette;  // R, G, B
    std::vector<std::vector<uint8_t>> rows;       // as stored, unpadded
    int64_t pixelOffset = -1;                     // -1: right after the palette

    uint32_t MasksAfterHeader() const {
        return headerSize == 40 ? 4 * static_cast<uint32_t>(masks.size()) : 0;
    }

    std::vector<uint8_t> Bytes() const {
        const uint32_t offset = pixelOffset >= 0
                                    ? static_cast<uint32_t>(pixelOffset)
                                    : 14 + headerSize + MasksAfterHeader() +
                                          4 * static_cast<uint32_t>(palette.size());
        std::vector<uint8_t> b{'B', 'M'};
        Put32(b, 0);  // file size: readers do not rely on it
        Put32(b, 0);
        Put32(b, offset);
        Put32(b, headerSize);
        Put32(b, static_cast<uint32_t>(width));
        Put32(b, static_cast<uint32_t>(height));
        Put16(b, 1);
        Put16(b, bpp);
        Put32(b, compression);
        Put32(b, 0);
        Put32(b, 2835);
        Put32(b, 2835);
        Put32(b, colorsUsed);
        Put32(b, 0);
        b.resize(14 + headerSize, 0);
        if (headerSize == 40) {
            for (uint32_t m : masks) Put32(b, m);
        } else if (!masks.empty()) {
            std::vector<uint8_t> m;
            for (uint32_t v : masks) Put32(m, v);
            std::copy(m.begin(), m.end(), b.begin() + 14 + 40);
        }
        for (const auto& c : palette) b.insert(b.end(), {c[2], c[1], c[0], 0});
        b.resize(offset, 0);
        for (const auto& r : rows) {
            b.insert(b.end(), r.begin(), r.end());
            b.resize((b.size() - offset + 3) / 4 * 4 + offset, 0);
        }
        return b;
    }
};

class BmpTest : public ::testing::Test {
protected:
    void TearDown() override { SetRW_Progress(nullptr, nullptr); }

    // Writes the bytes and reads them with a fresh reader.
    bool Read(const std::vector<uint8_t>& bytes, ImgClass& img) {
        const std::string path = dir.File("in.bmp");
        WriteBytes(path, bytes);
        SetName(img, path);
        Post_Error("");
        return BmpClass().ReadBmp(&img);
    }

    static std::array<uint8_t, 3> Rgb(const ImgClass& img, uint32_t x, uint32_t y) {
        return {At(img, x, y, 0), At(img, x, y, 1), At(img, x, y, 2)};
    }

    TempDir dir;
};

using Px = std::array<uint8_t, 3>;

TEST_F(BmpTest, TwentyFourBitRowsAreStoredBottomUp) {
    BmpFile f;
    f.width = 1;
    f.height = 2;
    f.rows = {{30, 20, 10}, {60, 50, 40}};  // B,G,R of the bottom pixel, then the top
    ImgClass img;
    ASSERT_FALSE(Read(f.Bytes(), img)) << Get_Last_Error();
    const ImgStruct& s = img.ImgStruct;
    EXPECT_EQ(s.Width, 1u);
    EXPECT_EQ(s.Height, 2u);
    EXPECT_EQ(s.LineSize, 4u);
    EXPECT_EQ(s.Samples, 3);
    EXPECT_EQ(s.Bits, 8);
    EXPECT_EQ(s.Type, IMG_TYPE_BMP);
    EXPECT_EQ(s.BgrOrder, 0);
    EXPECT_EQ(Rgb(img, 0, 0), (Px{40, 50, 60}));
    EXPECT_EQ(Rgb(img, 0, 1), (Px{10, 20, 30}));
}

TEST_F(BmpTest, NegativeHeightMeansTopLineFirst) {
    BmpFile f;
    f.width = 2;
    f.height = -2;
    f.rows = {{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}};
    ImgClass img;
    ASSERT_FALSE(Read(f.Bytes(), img)) << Get_Last_Error();
    EXPECT_EQ(img.ImgStruct.Height, 2u);
    EXPECT_EQ(Rgb(img, 0, 0), (Px{3, 2, 1}));
    EXPECT_EQ(Rgb(img, 1, 0), (Px{6, 5, 4}));
    EXPECT_EQ(Rgb(img, 0, 1), (Px{9, 8, 7}));
    EXPECT_EQ(Rgb(img, 1, 1), (Px{12, 11, 10}));
}

TEST_F(BmpTest, ThirtyTwoBitPixelsDropTheirFourthByte) {
    BmpFile f;
    f.width = 2;
    f.height = 1;
    f.bpp = 32;
    f.rows = {{1, 2, 3, 200, 4, 5, 6, 100}};
    ImgClass img;
    ASSERT_FALSE(Read(f.Bytes(), img)) << Get_Last_Error();
    EXPECT_EQ(img.ImgStruct.LineSize, 8u);
    EXPECT_EQ(Rgb(img, 0, 0), (Px{3, 2, 1}));
    EXPECT_EQ(Rgb(img, 1, 0), (Px{6, 5, 4}));
}

TEST_F(BmpTest, EightBitPaletteComesFromTheGapWhenColoursUsedIsZero) {
    BmpFile f;
    f.width = 3;  // rows of 3 bytes padded to 4
    f.height = 2;
    f.bpp = 8;
    for (int i = 0; i < 256; ++i)
        f.palette.push_back({uint8_t(i), uint8_t(255 - i), uint8_t(i / 2)});
    f.rows = {{0, 255, 128}, {1, 2, 3}};
    ImgClass img;
    ASSERT_FALSE(Read(f.Bytes(), img)) << Get_Last_Error();
    EXPECT_EQ(img.ImgStruct.Samples, 3);
    EXPECT_EQ(Rgb(img, 0, 1), (Px{0, 255, 0}));
    EXPECT_EQ(Rgb(img, 1, 1), (Px{255, 0, 127}));
    EXPECT_EQ(Rgb(img, 2, 1), (Px{128, 127, 64}));
    EXPECT_EQ(Rgb(img, 2, 0), (Px{3, 252, 1}));
}

TEST_F(BmpTest, IndicesBeyondAShortPaletteAreBlack) {
    BmpFile f;
    f.width = 2;
    f.bpp = 8;
    f.colorsUsed = 2;
    f.palette = {{10, 20, 30}, {40, 50, 60}};
    f.rows = {{1, 7}};
    ImgClass img;
    ASSERT_FALSE(Read(f.Bytes(), img)) << Get_Last_Error();
    EXPECT_EQ(Rgb(img, 0, 0), (Px{40, 50, 60}));
    EXPECT_EQ(Rgb(img, 1, 0), (Px{0, 0, 0}));
}

TEST_F(BmpTest, OneAndFourBitPixelsAreDecodedToColour) {
    BmpFile one;
    one.width = 10;  // spills into a second byte
    one.height = 1;
    one.bpp = 1;
    one.palette = {{255, 0, 0}, {0, 0, 255}};
    one.rows = {{0b10110000, 0b01000000}};
    ImgClass a;
    ASSERT_FALSE(Read(one.Bytes(), a)) << Get_Last_Error();
    const int bits[10] = {1, 0, 1, 1, 0, 0, 0, 0, 0, 1};
    for (uint32_t x = 0; x < 10; ++x)
        EXPECT_EQ(Rgb(a, x, 0), bits[x] ? (Px{0, 0, 255}) : (Px{255, 0, 0})) << "x=" << x;

    BmpFile four;
    four.width = 3;
    four.height = 2;
    four.bpp = 4;
    four.colorsUsed = 16;
    for (int i = 0; i < 16; ++i) four.palette.push_back({uint8_t(i * 16), uint8_t(i), 7});
    four.rows = {{0x12, 0x30}, {0xFE, 0xD0}};  // bottom row, then top row
    ImgClass b;
    ASSERT_FALSE(Read(four.Bytes(), b)) << Get_Last_Error();
    EXPECT_EQ(Rgb(b, 0, 1), (Px{16, 1, 7}));
    EXPECT_EQ(Rgb(b, 1, 1), (Px{32, 2, 7}));
    EXPECT_EQ(Rgb(b, 2, 1), (Px{48, 3, 7}));
    EXPECT_EQ(Rgb(b, 0, 0), (Px{240, 15, 7}));
    EXPECT_EQ(Rgb(b, 1, 0), (Px{224, 14, 7}));
    EXPECT_EQ(Rgb(b, 2, 0), (Px{208, 13, 7}));
}

TEST_F(BmpTest, LaterHeaderVersionsPutThePaletteAfterTheirLongerHeader) {
    BmpFile f;
    f.headerSize = 124;
    f.width = 1;
    f.bpp = 8;
    f.colorsUsed = 2;
    f.palette = {{1, 2, 3}, {4, 5, 6}};
    f.rows = {{1}};
    ImgClass img;
    ASSERT_FALSE(Read(f.Bytes(), img)) << Get_Last_Error();
    EXPECT_EQ(Rgb(img, 0, 0), (Px{4, 5, 6}));
}

TEST_F(BmpTest, SixteenAndThirtyTwoBitPixelsAreCutByTheirMasks) {
    // Each expected sample is worked out from the stored field: narrower
    // fields repeat their bits (5 bits 10000 -> 10000100), wider ones keep
    // their top 8.
    struct Case {
        const char* name;
        uint32_t headerSize;
        uint16_t bpp;
        uint32_t compression;
        std::vector<uint32_t> masks;
        std::vector<uint32_t> pixels;
        std::vector<Px> want;
    };
    const std::vector<Case> cases = {
        {"5-6-5 after a 40-byte header", 40, 16, 3, {0xF800, 0x07E0, 0x001F},
         {0xF800, 0x07E0, 0x001F, 0x8410, 0x0000, 0xFFFF},
         {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {132, 130, 132}, {0, 0, 0}, {255, 255, 255}}},
        {"1-5-5-5 in a V4 header, alpha set", 108, 16, 3, {0x7C00, 0x03E0, 0x001F, 0x8000},
         {0xFC00, 0x83E0, 0x001F, 0x4210}, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {132, 132, 132}}},
        {"4-4-4-4 in a V5 header", 124, 16, 3, {0x0F00, 0x00F0, 0x000F, 0xF000},
         {0xF5A3, 0x0F0F}, {{0x55, 0xAA, 0x33}, {0xFF, 0x00, 0xFF}}},
        {"3-6-7 fields", 40, 16, 3, {0xE000, 0x1F80, 0x007F},
         {0xA000 | (33 << 7) | 65}, {{182, 134, 131}}},
        {"uncompressed 16 bits are 5-5-5", 40, 16, 0, {},
         {0x7C00, 0x03E0, 0x801F, 0x4210}, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {132, 132, 132}}},
        {"8-8-8-8 in a V5 header", 124, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF000000},
         {0x80112233, 0x00FFFFFF}, {{0x11, 0x22, 0x33}, {255, 255, 255}}},
        {"R,G,B,x bytes after a 40-byte header", 40, 32, 3, {0xFF, 0xFF00, 0xFF0000},
         {0xAA332211}, {{0x11, 0x22, 0x33}}},
        {"10-10-10 in a V4 header", 108, 32, 3, {0x3FF00000, 0x000FFC00, 0x000003FF, 0xC0000000},
         {(0x3FFu << 20) | (0x200u << 10) | 0x001u}, {{255, 128, 0}}},
    };
    for (const Case& c : cases) {
        BmpFile f;
        f.headerSize = c.headerSize;
        f.bpp = c.bpp;
        f.compression = c.compression;
        f.masks = c.masks;
        f.width = static_cast<int32_t>(c.pixels.size());
        std::vector<uint8_t> row;
        for (uint32_t v : c.pixels)
            c.bpp == 16 ? Put16(row, v) : Put32(row, v);
        f.rows = {row};
        ImgClass img;
        ASSERT_FALSE(Read(f.Bytes(), img)) << c.name << ": " << Get_Last_Error();
        EXPECT_EQ(img.ImgStruct.Samples, 3) << c.name;
        for (uint32_t x = 0; x < c.want.size(); ++x)
            EXPECT_EQ(Rgb(img, x, 0), c.want[x]) << c.name << ", pixel " << x;
    }
}

TEST_F(BmpTest, ReadProgressStartsAtRowZeroAndStepsByOnePercent) {
    SetRW_Progress(ProgressLog::Record, nullptr);
    BmpFile f;
    f.height = 250;
    f.rows.assign(250, {0, 0, 0});
    ProgressLog::calls.clear();
    ImgClass img;
    ASSERT_FALSE(Read(f.Bytes(), img));
    ASSERT_EQ(ProgressLog::calls.size(), 125u);  // rows 0, 2, 4, ... 248
    EXPECT_EQ(ProgressLog::calls.front(), std::make_pair(250, 0));
    EXPECT_EQ(ProgressLog::calls[1], std::make_pair(250, 2));
    EXPECT_EQ(ProgressLog::calls.back(), std::make_pair(250, 248));
}

TEST_F(BmpTest, UnsupportedAndHostileHeadersAreRefusedBeforeAllocating) {
    const std::string failed = "BmpClass::ReadBmp(Img) failed reading " + dir.File("in.bmp") + "\n";
    auto base = [] {
        BmpFile f;
        f.width = 2;
        f.height = 2;
        f.rows = {{1, 2, 3, 4, 5, 6}, {1, 2, 3, 4, 5, 6}};
        return f;
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::string message;
    };
    std::vector<Case> cases;
    {
        BmpFile f = base();
        f.compression = 1;
        cases.push_back({"run-length", f.Bytes(),
                         "HdrClass::ProcHdrBMP:\tCompressed Bitmaps are not implemented\n"});
        f.compression = 3;
        f.masks = {0xFF0000, 0xFF00, 0xFF};
        cases.push_back({"bit fields in 24 bits", f.Bytes(),
                         dir.File("in.bmp") + ": bit fields in a 24-bit bitmap, which has none\n" + failed});
    }
    {
        // Masks the reader cannot use, each with its words.
        struct Bad {
            const char* name;
            uint32_t headerSize;
            uint16_t bpp;
            std::vector<uint32_t> masks;
            std::string words;
        };
        const std::vector<Bad> bad = {
            {"empty green", 40, 16, {0xF800, 0, 0x1F}, "the green bit-field mask is empty"},
            {"overlap", 108, 32, {0xFF0000, 0x1FF00, 0xFF, 0}, "the red and green bit-field masks (00FF0000, 0001FF00) overlap"},
            {"gap", 124, 32, {0xFF0000, 0xF0F0, 0xFF, 0}, "the green bit-field mask 0000F0F0 is not one run of bits"},
            {"beyond 16 bits", 40, 16, {0x1F0000, 0x7E0, 0x1F}, "the red bit-field mask 001F0000 lies outside the 16-bit pixel"},
            {"OS/2 header", 64, 32, {0xFF0000, 0xFF00, 0xFF}, "a 64-byte information header does not hold bit-field masks"},
        };
        for (const Bad& b : bad) {
            BmpFile f = base();
            f.compression = 3;
            f.headerSize = b.headerSize;
            f.bpp = b.bpp;
            f.masks = b.masks;
            f.rows = {std::vector<uint8_t>(2u * b.bpp / 8, 1), std::vector<uint8_t>(2u * b.bpp / 8, 2)};
            cases.push_back({b.name, f.Bytes(), dir.File("in.bmp") + ": " + b.words + "\n" + failed});
        }
        BmpFile f = base();
        f.compression = 3;
        f.bpp = 16;
        f.masks = {0xF800, 0x7E0, 0x1F};
        f.pixelOffset = 54;  // the pixels where the masks should be
        cases.push_back({"pixels over the masks", f.Bytes(),
                         dir.File("in.bmp") + ": the pixels begin at 54, where the bit-field masks should be\n" + failed});
        f.headerSize = 124;
        f.pixelOffset = 138;
        auto cut = f.Bytes();
        cut.resize(60);  // headers read, masks cut
        cases.push_back({"file ends in the masks", cut,
                         dir.File("in.bmp") + ": the file ends before its bit-field masks\n" + failed});
    }
    {
        BmpFile f = base();
        f.width = 0;
        cases.push_back({"width 0", f.Bytes(), failed});
        f = base();
        f.height = 0;
        cases.push_back({"height 0", f.Bytes(), failed});
        f = base();
        f.width = -2;
        cases.push_back({"negative width", f.Bytes(), failed});
        f = base();
        f.height = INT32_MIN;
        cases.push_back({"height INT32_MIN", f.Bytes(), failed});
    }
    {
        BmpFile f = base();
        f.height = 100000;  // rows beyond the end of the file
        cases.push_back({"rows beyond the end", f.Bytes(), failed});
        f = base();
        f.width = 0x7FFFFFFF;  // a line size that does not fit 32 bits
        cases.push_back({"huge width", f.Bytes(), failed});
        f = base();
        f.width = 0x40000000;
        f.height = -0x7FFFFFFF;
        f.bpp = 32;
        cases.push_back({"huge width and height", f.Bytes(), failed});
    }
    {
        BmpFile f = base();
        f.bpp = 8;
        f.colorsUsed = 300;
        f.palette.assign(300, {1, 1, 1});
        cases.push_back({"palette of 300", f.Bytes(), failed});
        f = base();
        f.bpp = 8;
        f.colorsUsed = 256;  // the palette it names is not in the file
        f.rows.clear();
        auto bytes = f.Bytes();
        bytes.resize(60);
        cases.push_back({"palette beyond the end", bytes, failed});
    }
    {
        BmpFile f = base();
        f.headerSize = 12;
        cases.push_back({"core header", f.Bytes(), failed});
        f = base();
        f.pixelOffset = 20;  // pixels inside the headers
        cases.push_back({"pixel offset in header", f.Bytes(), failed});
        auto bytes = base().Bytes();
        bytes.resize(40);
        cases.push_back({"truncated headers", bytes, failed});
        bytes = base().Bytes();
        bytes.resize(54 + 8);  // half of the second row
        cases.push_back({"truncated rows", bytes, failed});
    }
    for (const Case& c : cases) {
        ImgClass img;
        EXPECT_TRUE(Read(c.bytes, img)) << c.name;
        EXPECT_EQ(std::string(Get_Last_Error()), c.message) << c.name;
        EXPECT_EQ(img.ImgStruct.ImgData, nullptr) << c.name;
    }
}

TEST_F(BmpTest, LastRowWithoutPaddingIsAccepted) {
    BmpFile f;
    f.width = 1;
    f.height = 2;
    f.rows = {{1, 2, 3}, {4, 5, 6}};
    auto bytes = f.Bytes();
    bytes.pop_back();  // the last row's padding byte
    ImgClass img;
    ASSERT_FALSE(Read(bytes, img)) << Get_Last_Error();
    EXPECT_EQ(Rgb(img, 0, 0), (Px{6, 5, 4}));
}

TEST_F(BmpTest, MissingFileFailsNamingIt) {
    ImgClass img;
    SetName(img, dir.File("none.bmp"));
    Post_Error("");
    EXPECT_TRUE(BmpClass().ReadBmp(&img));
    EXPECT_EQ(std::string(Get_Last_Error()),
              "BmpClass::ReadBmp: " + dir.File("none.bmp") + " cannot be opened (No such file or directory)\n");
}

TEST_F(BmpTest, ReadImageDeliversRgbWhateverSwapSays) {
    BmpFile f;
    f.rows = {{1, 2, 3}};
    WriteBytes(dir.File("a.bmp"), f.Bytes());
    for (bool swap : {false, true}) {
        ImgClass img;
        SetName(img, dir.File("a.bmp"));
        ASSERT_FALSE(ReadImage(swap, &img));
        EXPECT_EQ(Rgb(img, 0, 0), (Px{3, 2, 1})) << swap;
        EXPECT_EQ(img.ImgStruct.BgrOrder, 0);
        EXPECT_EQ(img.ImgStruct.Type, IMG_TYPE_BMP);
    }
}

// ---- Files made by independent tools ------------------------------------

TEST_F(BmpTest, ReadsBitmapsWrittenByPillow) {
    if (!image_tools::HavePillow()) GTEST_SKIP() << "no Pillow";
    const std::string src = dir.File("src.ppm");
    image_tools::WritePpm(src, image_tools::Pattern(13, 7));
    // Mode "1" gives 1-bit, "P" with 16 colours an 8-bit palette, "L" a grey
    // palette, "RGBA" 32 bits; a flipped copy checks orientation.
    const char* modes[] = {"1", "L", "P", "RGB", "RGBA"};
    for (const char* mode : modes) {
        const std::string out = dir.File(std::string("pil_") + mode + ".bmp");
        ASSERT_TRUE(image_tools::Pillow(
            dir.path().string(),
            "im = Image.open(sys.argv[1])\n"
            "m = sys.argv[3]\n"
            "im = im.quantize(16) if m == 'P' else im.convert(m)\n"
            "im.save(sys.argv[2])\n",
            {src, out, mode}))
            << mode;
        Raster want;
        ASSERT_TRUE(image_tools::PillowPixels(dir.path().string(), out, want)) << mode;
        ImgClass img;
        SetName(img, out);
        ASSERT_FALSE(BmpClass().ReadBmp(&img)) << mode << ": " << Get_Last_Error();
        EXPECT_TRUE(image_tools::SamePixels(want, image_tools::FromImage(img))) << mode;
    }
}

TEST_F(BmpTest, ReadsBitmapsWrittenByNetpbmAndImageMagick) {
    const std::string src = dir.File("src.ppm");
    const Raster colour = image_tools::Pattern(11, 6, 3);
    image_tools::WritePpm(src, colour);
    // Few colours, so that netpbm can write 1- and 4-bit palettes.
    Raster few{9, 5, {}};
    for (uint32_t i = 0; i < 9 * 5; ++i) {
        const uint8_t v = static_cast<uint8_t>((i * 7) % 3 * 100);
        few.rgb.insert(few.rgb.end(), {v, uint8_t(255 - v), uint8_t(v / 2)});
    }
    Raster two = few;
    for (size_t i = 0; i < two.rgb.size(); i += 3) {
        const uint8_t v = (i / 3) % 4 == 1 ? 255 : 0;
        two.rgb[i] = two.rgb[i + 1] = two.rgb[i + 2] = v;
    }
    image_tools::WritePpm(dir.File("few.ppm"), few);
    image_tools::WritePpm(dir.File("two.ppm"), two);
    // For 5-6-5, 5-5-5 and 4-4-4 fields: a source whose every sample is
    // v * 255 / max rounded up, which a writer stores as field v whether it
    // rounds, truncates or shifts, and the colours that field v reads as:
    // its bits repeated downwards.
    auto fieldColours = [this, &colour](const char* file, int r, int g, int b) {
        Raster source = colour, want = colour;
        const int bits[3] = {r, g, b};
        for (size_t i = 0; i < source.rgb.size(); ++i) {
            const int n = bits[i % 3];
            const unsigned v = colour.rgb[i] >> (8 - n), max = (1u << n) - 1;
            source.rgb[i] = static_cast<uint8_t>((v * 255 + max - 1) / max);
            unsigned repeated = 0;
            int filled = 0;
            for (; filled < 8; filled += n) repeated = (repeated << n) | v;
            want.rgb[i] = static_cast<uint8_t>(repeated >> (filled - 8));
        }
        image_tools::WritePpm(dir.File(file), source);
        return want;
    };
    const Raster f565 = fieldColours("565.ppm", 5, 6, 5), f555 = fieldColours("555.ppm", 5, 5, 5),
                 f444 = fieldColours("444.ppm", 4, 4, 4);

    struct Case {
        std::string tool;
        std::string command;
        const Raster* want;
        uint16_t bitFields = 0;  // the pixel size of a file with bit fields
    };
    const std::string q = image_tools::Quote(dir.path().string());
    const std::string convert = "/usr/bin/convert";
    const std::vector<Case> cases = {
        {"/usr/bin/ppmtobmp", "/usr/bin/ppmtobmp " + q + "/src.ppm", &colour},
        {"/usr/bin/ppmtobmp", "/usr/bin/ppmtobmp -bpp=4 " + q + "/few.ppm", &few},
        {"/usr/bin/ppmtobmp", "/usr/bin/ppmtobmp -bpp=1 " + q + "/two.ppm", &two},
        {convert, convert + " " + q + "/src.ppm bmp:-", &colour},
        {convert, convert + " " + q + "/few.ppm -type Palette bmp:-", &few},
        {convert, convert + " " + q + "/src.ppm -define bmp:format=bmp3 bmp:-", &colour},
        {convert, convert + " " + q + "/src.ppm -alpha set bmp:-", &colour, 32},
        {convert, convert + " " + q + "/565.ppm -define bmp:subtype=RGB565 bmp:-", &f565, 16},
        {convert, convert + " " + q + "/555.ppm -define bmp:subtype=RGB555 bmp:-", &f555, 16},
        {convert, convert + " " + q + "/444.ppm -alpha set -define bmp:subtype=ARGB4444 bmp:-", &f444, 16},
    };
    int ran = 0;
    for (const Case& c : cases) {
        if (!HaveProgram(c.tool)) continue;
        const std::string out = dir.File("tool.bmp");
        ASSERT_TRUE(image_tools::Run(c.command + " > " + image_tools::Quote(out) + " 2>/dev/null"))
            << c.command;
        if (c.bitFields != 0) {
            const auto bytes = ReadBytes(out);
            ASSERT_GE(bytes.size(), 54u) << c.command;
            EXPECT_EQ(bytes[28] | (bytes[29] << 8), c.bitFields) << c.command;
            EXPECT_EQ(bytes[30], 3) << c.command << ": no bit fields";
        }
        ImgClass img;
        SetName(img, out);
        ASSERT_FALSE(BmpClass().ReadBmp(&img)) << c.command << ": " << Get_Last_Error();
        EXPECT_TRUE(image_tools::SamePixels(*c.want, image_tools::FromImage(img))) << c.command;
        ++ran;
    }
    if (ran == 0) GTEST_SKIP() << "neither netpbm nor ImageMagick";
}

// ---- Writer ----------------------------------------------------------------

TEST_F(BmpTest, GreyImageIsWrittenWithEqualSamples) {
    ImgClass img;
    MakeImage(img, 3, 1, 1);
    SetName(img, dir.File("grey.bmp"));
    ASSERT_FALSE(Write_BMP(&img)) << Get_Last_Error();
    const auto bytes = ReadBytes(dir.File("grey.bmp"));
    ASSERT_EQ(bytes.size(), 66u);

    FILE* f = std::fopen(dir.File("grey.bmp").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    orvix::BmpHeaders h;
    EXPECT_FALSE(orvix::ReadBmpHeaders(f, h));
    std::fclose(f);
    EXPECT_EQ(h.magic[0], 'B');
    EXPECT_EQ(h.magic[1], 'M');
    EXPECT_EQ(h.fileSize, 66u);
    EXPECT_EQ(h.pixelOffset, 54u);
    EXPECT_EQ(h.headerSize, 40u);
    EXPECT_EQ(h.width, 3);
    EXPECT_EQ(h.height, 1);
    EXPECT_EQ(h.planes, 1);
    EXPECT_EQ(h.bitCount, 24);
    EXPECT_EQ(h.compression, 0u);
    EXPECT_EQ(h.xPelsPerMeter, 3780);
    EXPECT_EQ(h.yPelsPerMeter, 3780);
    EXPECT_EQ(h.colorsUsed, 0u);
    for (uint32_t x = 0; x < 3; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(bytes[54 + 3 * x + c], At(img, x, 0));
    for (size_t i = 63; i < 66; ++i) EXPECT_EQ(bytes[i], 0) << "padding";
}

TEST_F(BmpTest, WritingLeavesAColourImageInBgrOrder) {
    ImgClass img;
    MakeImage(img, 2, 2, 3);
    SetName(img, dir.File("c.bmp"));
    const Raster before = image_tools::FromImage(img);
    ASSERT_FALSE(Write_BMP(&img));
    EXPECT_EQ(img.ImgStruct.BgrOrder, 1);
    EXPECT_EQ(At(img, 1, 1, 0), PatternSample(1, 1, 2, 1));
    EXPECT_EQ(At(img, 1, 1, 2), PatternSample(1, 1, 0, 1));
    // Written again in B,G,R order, the file is the same.
    const auto first = ReadBytes(dir.File("c.bmp"));
    ASSERT_FALSE(Write_BMP(&img));
    EXPECT_EQ(ReadBytes(dir.File("c.bmp")), first);
    EXPECT_TRUE(image_tools::SamePixels(before, image_tools::FromImage(img)));
}

TEST_F(BmpTest, WrittenFilesReadBackEqualHereAndInOtherTools) {
    for (int samples : {3, 1}) {
        ImgClass img;
        MakeImage(img, 7, 5, samples, 9);  // 21-byte rows need padding
        const Raster want = image_tools::FromImage(img);
        const std::string path = dir.File("rt.bmp");
        SetName(img, path);
        ASSERT_FALSE(Write_BMP(&img)) << Get_Last_Error();

        ImgClass back;
        SetName(back, path);
        ASSERT_FALSE(BmpClass().ReadBmp(&back));
        EXPECT_TRUE(image_tools::SamePixels(want, image_tools::FromImage(back))) << samples;

        if (HaveProgram("/usr/bin/bmptopnm")) {
            const std::string ppm = dir.File("rt.ppm");
            ASSERT_TRUE(image_tools::Run("/usr/bin/bmptopnm " + image_tools::Quote(path) + " > " +
                                        image_tools::Quote(ppm) + " 2>/dev/null"));
            Raster got;
            ASSERT_TRUE(image_tools::ReadPpm(ppm, got));
            EXPECT_TRUE(image_tools::SamePixels(want, got)) << "bmptopnm, samples " << samples;
        }
        if (image_tools::HavePillow()) {
            Raster got;
            ASSERT_TRUE(image_tools::PillowPixels(dir.path().string(), path, got));
            EXPECT_TRUE(image_tools::SamePixels(want, got)) << "Pillow, samples " << samples;
        }
    }
}

TEST_F(BmpTest, SparePixelsBeyondTheRowAreNotWritten) {
    ImgClass img;
    ImgStruct& s = img.ImgStruct;
    s.Width = 2;
    s.Height = 2;
    s.Samples = 3;
    s.LineSize = 16;  // wider than the 8 bytes a file row takes
    ASSERT_FALSE(img.AllocData());
    std::memset(s.ImgData, 0xEE, 32);
    for (int i = 0; i < 6; ++i) s.ImgData[i] = s.ImgData[16 + i] = static_cast<uint8_t>(i + 1);
    SetName(img, dir.File("w.bmp"));
    ASSERT_FALSE(Write_BMP(&img));
    const auto bytes = ReadBytes(dir.File("w.bmp"));
    ASSERT_EQ(bytes.size(), 54u + 2 * 8);
    EXPECT_EQ(bytes[54 + 6], 0);
    EXPECT_EQ(bytes[54 + 7], 0);
}

TEST_F(BmpTest, WriteProgressIsCoarser) {
    SetRW_Progress(nullptr, ProgressLog::Record);
    ImgClass colour;
    MakeImage(colour, 2, 25, 3);
    SetName(colour, dir.File("p.bmp"));
    ProgressLog::calls.clear();
    ASSERT_FALSE(Write_BMP(&colour));
    // Step 2 (10% of 25): reported when the line index passes 0, 2, 4, ...
    std::vector<std::pair<int, int>> want;
    for (int i = 1; i < 25; i += 2) want.emplace_back(25, i);
    EXPECT_EQ(ProgressLog::calls, want);

    ImgClass grey;
    MakeImage(grey, 2, 4, 1);
    SetName(grey, dir.File("g.bmp"));
    ProgressLog::calls.clear();
    ASSERT_FALSE(Write_BMP(&grey));
    EXPECT_EQ(ProgressLog::calls, (std::vector<std::pair<int, int>>{{4, 1}, {4, 2}, {4, 3}}));
}

TEST_F(BmpTest, WriteFailuresPostTheirMessages) {
    ImgClass img;
    MakeImage(img, 2, 2, 3);
    Post_Error("");
    EXPECT_TRUE(Write_BMP(&img));
    EXPECT_STREQ(Get_Last_Error(), "BmpClass::WriteBmp: Image Name not specified\n");

    const std::string bad = dir.File("no/such/folder/x.bmp");
    SetName(img, bad);
    Post_Error("");
    EXPECT_TRUE(Write_BMP(&img));
    EXPECT_EQ(std::string(Get_Last_Error()), "BmpClass::WriteBmp: Can't open " + bad + " for writing\n");

    ImgClass empty;
    SetName(empty, dir.File("e.bmp"));
    EXPECT_TRUE(Write_BMP(&empty));
    EXPECT_FALSE(std::filesystem::exists(dir.File("e.bmp")));
}

}  // namespace
