// Headers made from image files by the exported maker, and the dimension
// query that reads them back.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/test_support.h"

using namespace testing_support;

namespace {

void WritePgm(const std::string& path, int w, int h) {
    const std::string head = "P5\n" + std::to_string(w) + " " + std::to_string(h) + "\n255\n";
    std::vector<uint8_t> bytes(head.begin(), head.end());
    for (int i = 0; i < w * h; ++i) bytes.push_back(static_cast<uint8_t>(i * 7));
    WriteBytes(path, bytes);
}

std::string Text(const std::string& path) {
    const auto b = ReadBytes(path);
    return std::string(b.begin(), b.end());
}

void Put16(std::vector<uint8_t>& b, uint32_t v) {
    b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
}
void Put32(std::vector<uint8_t>& b, uint32_t v) {
    Put16(b, v & 0xFFFF);
    Put16(b, v >> 16);
}

// A 3 x 2 Targa file, top line first: header, identifier, map, pixels.
std::vector<uint8_t> Targa(uint8_t type, uint8_t mapBits, uint8_t pixelBits, const std::string& id,
                           const std::vector<uint8_t>& map, const std::vector<uint8_t>& pixels) {
    const uint8_t entries = mapBits == 0 ? 0 : static_cast<uint8_t>(map.size() / (mapBits / 8));
    std::vector<uint8_t> b = {static_cast<uint8_t>(id.size()), mapBits != 0, type, 2, 0,
                              entries, 0, mapBits, 0, 0, 0, 0, 3, 0, 2, 0, pixelBits, 0x20};
    for (char c : id) b.push_back(static_cast<uint8_t>(c));
    b.insert(b.end(), map.begin(), map.end());
    b.insert(b.end(), pixels.begin(), pixels.end());
    return b;
}

// A 2 x 2 bitmap with bit fields: the masks follow a 40-byte header or lie
// at offset 40 of a longer one.
std::vector<uint8_t> BitFieldBmp(uint32_t headerSize, uint16_t bpp, const std::vector<uint32_t>& masks) {
    const uint32_t offset = 14 + headerSize + (headerSize == 40 ? 12 : 0);
    std::vector<uint8_t> b = {'B', 'M'};
    for (uint32_t v : {0u, 0u, offset, headerSize, 2u, 2u}) Put32(b, v);
    Put16(b, 1);
    Put16(b, bpp);
    for (uint32_t v : {3u, 0u, 2835u, 2835u, 0u, 0u}) Put32(b, v);
    b.resize(54, 0);
    for (uint32_t m : masks) Put32(b, m);
    b.resize(offset, 0);
    b.resize(offset + 2 * 4 * (bpp / 16), 0x5A);  // two rows of 2 pixels, 4-byte aligned
    return b;
}

// A 3 x 2 JFIF file from the library's writer whose JFIF density fields are
// then set to unit, x and y.
std::vector<uint8_t> Jfif(const std::string& path, uint8_t unit, uint16_t x, uint16_t y) {
    ImgClass img;
    MakeImage(img, 3, 2, 3);
    SetName(img, path);
    EXPECT_FALSE(WriteJPEG(90, &img)) << Get_Last_Error();
    std::vector<uint8_t> b = ReadBytes(path);
    EXPECT_GE(b.size(), 18u);
    if (b.size() < 18) return b;
    EXPECT_EQ(std::string(b.begin() + 6, b.begin() + 11), std::string("JFIF\0", 5)) << "no JFIF marker";
    b[13] = unit;
    b[14] = uint8_t(x >> 8);
    b[15] = uint8_t(x);
    b[16] = uint8_t(y >> 8);
    b[17] = uint8_t(y);
    return b;
}

}  // namespace

TEST(HeaderMakers, PgmHeaderLinesAndDimensionQuery) {
    TempDir dir;
    const std::string img = dir.File("g.pgm"), hdr = dir.File("g.hdr");
    WritePgm(img, 5, 3);
    ASSERT_FALSE(Make_Local_Header(img.c_str(), hdr.c_str())) << Get_Last_Error();
    const std::string text = Text(hdr);
    EXPECT_EQ(text.rfind(img + "\nPGM\n5\t;WIDTH\n3\t;HEIGHT\n8\t;BITS\n1\t;PHOTOMETRIC\n", 0), 0u)
        << text;
    EXPECT_NE(text.find("\n8\t;LINESIZE\n"), std::string::npos) << text;
    EXPECT_NE(text.find("300.000000\t;X_RES\n300.000000\t;Y_RES\n"), std::string::npos) << text;
    int w = 0, h = 0;
    EXPECT_FALSE(Get_Image_Dimension(hdr.c_str(), &w, &h)) << Get_Last_Error();
    EXPECT_EQ(w, 5);
    EXPECT_EQ(h, 3);
}

TEST(HeaderMakers, ExistingNamedHeaderIsNeverOverwritten) {
    TempDir dir;
    const std::string img = dir.File("g.pgm"), hdr = dir.File("g.hdr");
    WritePgm(img, 4, 4);
    WriteText(hdr, "keep me\n");
    EXPECT_FALSE(Make_Local_Header(img.c_str(), hdr.c_str()));
    EXPECT_EQ(Text(hdr), "keep me\n");
}

TEST(HeaderMakers, CompressedBmpRefusedAndMissingHeaderFails) {
    TempDir dir;
    // 54-byte BMP header of a 2 x 2 8-bit image with compression 1 (RLE8).
    std::vector<uint8_t> b(54 + 1024 + 8, 0);
    b[0] = 'B'; b[1] = 'M';
    b[2] = static_cast<uint8_t>(b.size());
    b[10] = 54; b[11] = 4;  // pixel data at 1078
    b[14] = 40; b[18] = 2; b[22] = 2; b[26] = 1; b[28] = 8; b[30] = 1;
    const std::string img = dir.File("c.bmp");
    WriteBytes(img, b);
    EXPECT_TRUE(Make_Local_Header(img.c_str(), dir.File("c.hdr").c_str()));
    EXPECT_NE(std::string(Get_Last_Error())
                  .find("HdrClass::ProcHdrBMP:\tCompressed Bitmaps are not implemented"),
              std::string::npos)
        << Get_Last_Error();
    EXPECT_FALSE(std::filesystem::exists(dir.File("c.hdr")));

    int w = 9, h = 9;
    EXPECT_TRUE(Get_Image_Dimension(dir.File("none.hdr").c_str(), &w, &h));
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    EXPECT_NE(std::string(Get_Last_Error())
                  .find("Get_Image_Dimension::ReadHeader( HdrFile, &X, &Y) returned true"),
              std::string::npos);
}

TEST(HeaderMakers, MappedTargaBitFieldBmpAndJfifDensity) {
    TempDir dir;
    const std::vector<uint8_t> map24 = {30, 20, 10, 60, 50, 40};
    const std::vector<uint8_t> map32 = {30, 20, 10, 0, 60, 50, 40, 255};
    struct Case {
        const char* name;
        std::string file;
        std::vector<uint8_t> bytes;
        int type, width, height, bits, samples, compression;
        std::string resLines;  // the unit line and both resolutions
        int unit;
        double res;           // both ways
        int readerUnit = 0;   // ReadImage's, for a JPEG
    };
    const std::string none = "1\t;RES_NONE\n0.000000\t;X_RES\n0.000000\t;Y_RES\n";
    const std::vector<Case> cases = {
        {"Targa, mapped, 24-bit map, identifier", "m1.tga",
         Targa(1, 24, 8, "scan no. 7", map24, {2, 3, 2, 3, 2, 3}), IMG_TYPE_TARGA, 3, 2, 8, 3, 0,
         none, 1, 0},
        {"Targa, mapped run-length, 32-bit map, identifier", "m9.tga",
         Targa(9, 32, 8, "id", map32, {0x85, 3}), IMG_TYPE_TARGA, 3, 2, 8, 3, 0, none, 1, 0},
        {"Targa, true colour", "t2.tga", Targa(2, 0, 24, "", {}, std::vector<uint8_t>(18, 9)),
         IMG_TYPE_TARGA, 3, 2, 24, 3, 0, none, 1, 0},
        {"Targa, grey", "g3.tga", Targa(3, 0, 8, "", {}, std::vector<uint8_t>(6, 9)),
         IMG_TYPE_TARGA, 3, 2, 8, 1, 0, none, 1, 0},
        {"BMP, 5-6-5 after a 40-byte header", "v3.bmp", BitFieldBmp(40, 16, {0xF800, 0x7E0, 0x1F}),
         IMG_TYPE_BMP, 2, 2, 8, 3, 3, "", 0, 300},
        {"BMP, 32 bits, V4 header", "v4.bmp",
         BitFieldBmp(108, 32, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}), IMG_TYPE_BMP, 2, 2, 8, 3, 3, "",
         0, 300},
        {"BMP, 32 bits, V5 header", "v5.bmp",
         BitFieldBmp(124, 32, {0xFF, 0xFF00, 0xFF0000, 0}), IMG_TYPE_BMP, 2, 2, 8, 3, 3, "", 0, 300},
        {"JFIF, 300 dots per inch", "inch.jpg", Jfif(dir.File("inch.jpg"), 1, 300, 300),
         IMG_TYPE_JPEG, 3, 2, 8, 3, 1, "2\t;RES_INCH\n300.000000\t;X_RES\n300.000000\t;Y_RES\n", 2,
         300, 2},
        {"JFIF, 118 dots per cm", "cm.jpg", Jfif(dir.File("cm.jpg"), 2, 118, 118), IMG_TYPE_JPEG,
         3, 2, 8, 3, 1, "3\t;RES_CM\n118.000000\t;X_RES\n118.000000\t;Y_RES\n", 3, 118, 3},
        {"JFIF, unit 0 (aspect only)", "aspect.jpg", Jfif(dir.File("aspect.jpg"), 0, 1, 1),
         IMG_TYPE_JPEG, 3, 2, 8, 3, 1, none, 1, 0, 1},
        {"JFIF, inches of density 0", "zero.jpg", Jfif(dir.File("zero.jpg"), 1, 0, 0),
         IMG_TYPE_JPEG, 3, 2, 8, 3, 1, none, 1, 0, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string img = dir.File(c.file), hdr = dir.File(c.file + ".hdr");
        WriteBytes(img, c.bytes);
        ASSERT_FALSE(Make_Local_Header(img.c_str(), hdr.c_str())) << Get_Last_Error();
        // The current header is the one just made.
        double x = -1, y = -1;
        int unit = -1;
        EXPECT_FALSE(Get_Image_Res(hdr.c_str(), &x, &y, &unit));
        EXPECT_EQ(unit, c.unit);
        EXPECT_EQ(x, c.res);
        EXPECT_EQ(y, c.res);
        const std::string text = Text(hdr);
        if (!c.resLines.empty()) {
            ASSERT_GE(text.size(), c.resLines.size());
            EXPECT_EQ(text.substr(text.size() - c.resLines.size()), c.resLines) << text;
        }
        IMAGE_HDR h{};
        ASSERT_FALSE(Read_Hdr(hdr.c_str(), &h));
        EXPECT_EQ(h.Type, c.type);
        EXPECT_EQ(h.Width, c.width);
        EXPECT_EQ(h.Height, c.height);
        EXPECT_EQ(h.Bits, c.bits);
        EXPECT_EQ(h.Samples, c.samples);
        EXPECT_EQ(h.Compression, c.compression);
        EXPECT_EQ(h.XRes, c.res);
        EXPECT_EQ(h.YRes, c.res);
        // The reader gives a JPEG the same unit (but keeps a unit whose
        // density is 0), and where there is one the same resolution.
        if (c.type == IMG_TYPE_JPEG) {
            ImgClass read;
            SetName(read, img);
            ASSERT_FALSE(ReadImage(false, &read)) << Get_Last_Error();
            EXPECT_EQ(read.ImgStruct.ResUnit, c.readerUnit);
            if (c.unit != 1) {
                EXPECT_EQ(read.ImgStruct.Resolution, c.res);
            }
        }
    }
}

TEST(HeaderMakers, BitmapWithUnusableMasksGetsNoHeader) {
    TempDir dir;
    const std::string img = dir.File("bad.bmp"), hdr = dir.File("bad.hdr");
    WriteBytes(img, BitFieldBmp(124, 32, {0xFF0000, 0xFFFF00, 0xFF, 0}));
    Post_Error("");
    EXPECT_TRUE(Make_Local_Header(img.c_str(), hdr.c_str()));
    const std::string words = Get_Last_Error();
    EXPECT_NE(words.find(img + ": the red and green bit-field masks (00FF0000, 00FFFF00) overlap\n"
                         "HdrClass::ProcHdrBMP: " + img + " has unusable bit fields\n"),
              std::string::npos)
        << words;
    EXPECT_FALSE(std::filesystem::exists(hdr));
}
