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
