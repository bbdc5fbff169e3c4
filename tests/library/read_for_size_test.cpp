// Reading for a target size: the JPEG reduction that still leaves twice the
// target, the reduced picture and resolution, and the formats read whole.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "support/test_support.h"

using namespace testing_support;

namespace {

// A smooth picture, so a reduced decode is close to block averages of the
// whole one.
void WriteSmoothJpeg(const std::string& path, uint32_t w, uint32_t h, int samples, int unit) {
    ImgClass img;
    MakeImage(img, w, h, samples);
    ImgStruct& s = img.ImgStruct;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < samples; ++c)
                s.ImgData[size_t{y} * s.LineSize + size_t{x} * samples + size_t(c)] =
                    uint8_t(128 + 100 * std::sin(x / 40.0 + c) * std::cos(y / 50.0));
    s.Resolution = 300.0;
    s.ResUnit = unit;
    SetName(img, path);
    ASSERT_FALSE(WriteJPEG(92, &img)) << Get_Last_Error();
}

// Sample c of (x, y) in R,G,B terms whatever the image's order.
int Rgb(const ImgClass& img, uint32_t x, uint32_t y, int c) {
    return At(img, x, y, img.ImgStruct.Samples == 3 && img.ImgStruct.BgrOrder ? 2 - c : c);
}

}  // namespace

TEST(ReadImageForSize, JpegReductionLeavesTwiceTheTarget) {
    struct Case {
        uint32_t w, h;
        int askW, askH, rotation, want;
    } const cases[] = {
        {800, 600, 100, 75, ROTATE_NONE, 4},   // 200 x 150 is exactly twice
        {800, 600, 101, 75, ROTATE_NONE, 2},   // width just short at 4
        {800, 600, 100, 76, ROTATE_NONE, 2},   // height just short at 4
        {808, 600, 50, 37, ROTATE_NONE, 8},    // 101 x 75
        {804, 600, 50, 37, ROTATE_NONE, 4},    // 8 does not divide 804
        {801, 601, 50, 38, ROTATE_NONE, 1},    // no reduction divides the sides
        {800, 600, 49, 0, ROTATE_NONE, 8},     // height 37 from the aspect ratio
        {800, 600, 50, 0, ROTATE_NONE, 4},     // height 38 wants 76 rows
        {800, 600, 0, 37, ROTATE_NONE, 8},     // width 49
        {800, 600, 0, 38, ROTATE_NONE, 4},     // width 51 wants 102 columns
        {800, 600, 200, 150, ROTATE_NONE, 2},
        {800, 600, 201, 150, ROTATE_NONE, 1},
        {800, 600, 800, 600, ROTATE_NONE, 1},
        {800, 600, 75, 100, ROTATE_CW90, 4},   // upright 600 x 800
        {800, 600, 0, 100, ROTATE_CCW90, 4},
        {800, 600, 75, 100, ROTATE_180, 2},
    };
    TempDir dir;
    for (size_t k = 0; k < std::size(cases); ++k) {
        const Case& c = cases[k];
        const int samples = k % 3 == 1 ? 1 : 3;
        const bool swap = k % 2 == 1;
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " for " + std::to_string(c.askW) + "x" +
                     std::to_string(c.askH) + " rotation " + std::to_string(c.rotation));
        const std::string path = dir.File("p" + std::to_string(k) + ".jpg");
        WriteSmoothJpeg(path, c.w, c.h, samples, 2);
        ImgClass img, whole;
        SetName(img, path);
        SetName(whole, path);
        img.ImgStruct.Rotation = whole.ImgStruct.Rotation = c.rotation;
        int r = 0;
        ASSERT_FALSE(ReadImageForSize(swap, &img, c.askW, c.askH, &r)) << Get_Last_Error();
        EXPECT_EQ(r, c.want);
        ASSERT_FALSE(ReadImage(false, &whole)) << Get_Last_Error();
        const ImgStruct& s = img.ImgStruct;
        const uint32_t rw = (c.w + uint32_t(r) - 1) / uint32_t(r), rh = (c.h + uint32_t(r) - 1) / uint32_t(r);
        const bool turned = c.rotation == ROTATE_CW90 || c.rotation == ROTATE_CCW90;
        EXPECT_EQ(s.Width, turned ? rh : rw);
        EXPECT_EQ(s.Height, turned ? rw : rh);
        EXPECT_EQ(s.Samples, samples);
        EXPECT_EQ(s.Type, IMG_TYPE_JPEG);
        EXPECT_DOUBLE_EQ(s.Resolution, 300.0 / r);
        EXPECT_EQ(s.ResUnit, 2);
        // Each reduced pixel is about the mean of its block of the whole read.
        double diff = 0;
        const ImgStruct& ws = whole.ImgStruct;
        for (uint32_t y = 0; y < s.Height; ++y)
            for (uint32_t x = 0; x < s.Width; ++x)
                for (int ch = 0; ch < samples; ++ch) {
                    double sum = 0;
                    int n = 0;
                    for (uint32_t v = y * uint32_t(r); v < std::min(ws.Height, (y + 1) * uint32_t(r)); ++v)
                        for (uint32_t u = x * uint32_t(r); u < std::min(ws.Width, (x + 1) * uint32_t(r)); ++u, ++n)
                            sum += Rgb(whole, u, v, ch);
                    diff += std::fabs(Rgb(img, x, y, ch) - sum / n);
                }
        EXPECT_LT(diff / (double(s.Width) * s.Height * samples), 3.0);
    }
}

TEST(ReadImageForSize, UnitlessDensityIsKept) {
    TempDir dir;
    const std::string path = dir.File("aspect.jpg");
    WriteSmoothJpeg(path, 160, 120, 3, 1);  // JFIF unit 0: an aspect ratio, not a resolution
    ImgClass img;
    SetName(img, path);
    int r = 0;
    ASSERT_FALSE(ReadImageForSize(false, &img, 20, 15, &r)) << Get_Last_Error();
    EXPECT_EQ(r, 4);
    EXPECT_EQ(img.ImgStruct.ResUnit, 1);
    EXPECT_DOUBLE_EQ(img.ImgStruct.Resolution, 300.0);
}

TEST(ReadImageForSize, OtherFormatsAreReadWhole) {
    TempDir dir;
    ImgClass made;
    MakeImage(made, 800, 600, 3, 4);
    made.ImgStruct.Resolution = 300.0;
    SetName(made, dir.File("p.tif"));
    ASSERT_FALSE(WriteTIFF(false, false, &made)) << Get_Last_Error();
    SetName(made, dir.File("p.bmp"));
    ASSERT_FALSE(Write_BMP(&made)) << Get_Last_Error();
    for (const char* name : {"p.tif", "p.bmp"}) {
        ImgClass img;
        SetName(img, dir.File(name));
        int r = 0;
        ASSERT_FALSE(ReadImageForSize(false, &img, 50, 38, &r)) << name << Get_Last_Error();
        EXPECT_EQ(r, 1) << name;
        EXPECT_EQ(img.ImgStruct.Width, 800u) << name;
        EXPECT_EQ(img.ImgStruct.Height, 600u) << name;
        EXPECT_EQ(Rgb(img, 799, 599, 2), PatternSample(799, 599, 2, 4)) << name;
    }
    ImgClass tiff;
    SetName(tiff, dir.File("p.tif"));
    ASSERT_FALSE(ReadImageForSize(false, &tiff, 50, 38, nullptr));
    EXPECT_DOUBLE_EQ(tiff.ImgStruct.Resolution, 300.0);
}

TEST(ReadImageForSize, MissingFileFailsWithItsName) {
    TempDir dir;
    const std::string path = dir.File("absent.jpg");
    ImgClass img;
    SetName(img, path);
    Post_Error("");
    int r = 0;
    EXPECT_TRUE(ReadImageForSize(false, &img, 10, 10, &r));
    EXPECT_NE(std::string(Get_Last_Error()).find(path), std::string::npos) << Get_Last_Error();
    EXPECT_EQ(img.ImgStruct.ImgData, nullptr);
    Post_Error("");
}
