// Colour operations checked against values worked out by hand from their
// formulas.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "support/test_support.h"

using namespace testing_support;

namespace {

using Pixel = std::array<uint8_t, 3>;

// A one-line colour image holding the given pixels.
void MakeLine(ImgClass& img, const std::vector<Pixel>& pixels) {
    MakeImage(img, static_cast<uint32_t>(pixels.size()), 1, 3);
    for (size_t j = 0; j < pixels.size(); ++j)
        for (int c = 0; c < 3; ++c) img.ImgStruct.ImgData[j * 3 + c] = pixels[j][c];
}

Pixel PixelAt(const ImgClass& img, uint32_t x, uint32_t y = 0) {
    return {At(img, x, y, 0), At(img, x, y, 1), At(img, x, y, 2)};
}

class ColourTest : public ::testing::Test {
protected:
    void SetUp() override { Post_Error(""); }
    void TearDown() override { Post_Error(""); }
};

TEST_F(ColourTest, SwapExchangesFirstAndThirdSamples) {
    ImgClass img;
    MakeImage(img, 5, 3, 3, 4);
    ASSERT_FALSE(Swap_RGB(&img));
    EXPECT_EQ(img.ImgStruct.BgrOrder, 1);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x) {
            EXPECT_EQ(At(img, x, y, 0), PatternSample(x, y, 2, 4));
            EXPECT_EQ(At(img, x, y, 1), PatternSample(x, y, 1, 4));
            EXPECT_EQ(At(img, x, y, 2), PatternSample(x, y, 0, 4));
        }
    // Padding is not touched.
    EXPECT_EQ(img.ImgStruct.ImgData[15], 0);
    ASSERT_FALSE(Swap_RGB(&img));
    EXPECT_EQ(img.ImgStruct.BgrOrder, 0);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(At(img, x, y, c), PatternSample(x, y, c, 4));
}

TEST_F(ColourTest, SwapLeavesGreyAndEmptyImagesAlone) {
    ImgClass grey;
    MakeImage(grey, 5, 3, 1, 4);
    EXPECT_FALSE(Swap_RGB(&grey));
    EXPECT_EQ(grey.ImgStruct.BgrOrder, 0);
    for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(At(grey, x, 1), PatternSample(x, 1, 0, 4));

    ImgClass empty;
    empty.ImgStruct.Samples = 3;
    EXPECT_TRUE(Swap_RGB(&empty));
    EXPECT_EQ(empty.ImgStruct.BgrOrder, 0);
    EXPECT_TRUE(Swap_RGB(nullptr));
    EXPECT_STREQ(Get_Last_Error(), "");
}

TEST_F(ColourTest, RgbToYccMatchesHandComputedValues) {
    ImgClass img;
    MakeLine(img, {{128, 128, 128}, {255, 0, 0}, {0, 0, 255}, {0, 255, 0},
                   {255, 255, 255}, {0, 0, 0}, {10, 200, 30}});
    ASSERT_FALSE(RGBtoYCC(&img));
    EXPECT_EQ(PixelAt(img, 0), (Pixel{128, 128, 128}));
    // Red: y = 0.299 * 255 - 128 = -51.755 -> 77; Cb = 128 + trunc(0.564 * -76.245) = 85;
    // Cr = 128 + trunc(0.713 * 178.755) = 255.
    EXPECT_EQ(PixelAt(img, 1), (Pixel{77, 85, 255}));
    // Blue: y = 0.114 * 255 - 128 = -98.93 -> 30; Cb = 128 + trunc(127.42) = 255;
    // Cr = 128 + trunc(-20.73) = 108.
    EXPECT_EQ(PixelAt(img, 2), (Pixel{30, 255, 108}));
    // Green: y = 127 - 0.413 * 255 = 21.685 -> 149; Cb = 128 + trunc(-84.42) = 44;
    // Cr = 128 + trunc(-106.72) = 22.
    EXPECT_EQ(PixelAt(img, 3), (Pixel{149, 44, 22}));
    EXPECT_EQ(PixelAt(img, 4), (Pixel{255, 128, 128}));
    EXPECT_EQ(PixelAt(img, 5), (Pixel{0, 128, 128}));
    // y = 0.299 * -190 + 0.114 * -170 + 72 = -4.19 -> 124; Cb = 128 + trunc(-52.91) = 76;
    // Cr = 128 + trunc(-81.15) = 47.
    EXPECT_EQ(PixelAt(img, 6), (Pixel{124, 76, 47}));
}

TEST_F(ColourTest, YccToRgbMatchesHandComputedValuesAndWraps) {
    ImgClass img;
    MakeLine(img, {{128, 128, 128}, {77, 85, 255}, {255, 128, 255}, {0, 255, 255},
                   {255, 255, 0}, {0, 0, 0}});
    ASSERT_FALSE(YCCtoRGB(&img));
    EXPECT_EQ(PixelAt(img, 0), (Pixel{128, 128, 128}));
    // R = 77 + 127 = 204; G = 128 + trunc(-51 + 14.37 - 90.70) = 1; B = 128 + trunc(-127.19) = 1.
    EXPECT_EQ(PixelAt(img, 1), (Pixel{204, 1, 1}));
    // R = 255 + 127 = 382 -> 126; G = 128 + trunc(36.30) = 164; B = 255.
    EXPECT_EQ(PixelAt(img, 2), (Pixel{126, 164, 255}));
    // G = 128 + trunc(-128 - 42.43 - 90.70) = -133 -> 123; B = 128 + trunc(97.02) = 225.
    EXPECT_EQ(PixelAt(img, 3), (Pixel{127, 123, 225}));
    // G = 128 + trunc(127 - 42.43 + 91.42) = 303 -> 47; B = 128 + trunc(352.02) = 480 -> 224.
    EXPECT_EQ(PixelAt(img, 4), (Pixel{127, 47, 224}));
    // R = 0 - 128 -> 128; G = 128 + trunc(6.18) = 134; B = 128 + trunc(-354.79) = -226 -> 30.
    EXPECT_EQ(PixelAt(img, 5), (Pixel{128, 134, 30}));
}

TEST_F(ColourTest, YccConversionsCoverEveryLineButNotThePadding) {
    ImgClass img;
    MakeImage(img, 5, 3, 3);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c)
                img.ImgStruct.ImgData[y * img.ImgStruct.LineSize + x * 3 + c] = c == 0 ? 255 : 0;
    ASSERT_FALSE(RGBtoYCC(&img));
    for (uint32_t y = 0; y < 3; ++y) {
        for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(PixelAt(img, x, y), (Pixel{77, 85, 255}));
        EXPECT_EQ(img.ImgStruct.ImgData[y * img.ImgStruct.LineSize + 15], 0);
    }
    ASSERT_FALSE(YCCtoRGB(&img));
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(PixelAt(img, x, y), (Pixel{204, 1, 1}));
}

TEST_F(ColourTest, YccConversionsRefuseEmptyAndGreyImages) {
    ImgClass empty;
    empty.ImgStruct.Samples = 3;
    EXPECT_TRUE(RGBtoYCC(&empty));
    EXPECT_STREQ(Get_Last_Error(), "RGBtoYCC  Image is NULL\n");
    Post_Error("");
    EXPECT_TRUE(YCCtoRGB(nullptr));
    EXPECT_STREQ(Get_Last_Error(), "YCCtoRGB  Image is NULL\n");
    Post_Error("");

    ImgClass grey;
    MakeImage(grey, 3, 3, 1);
    EXPECT_TRUE(RGBtoYCC(&grey));
    EXPECT_STREQ(Get_Last_Error(), "RGBtoYCC  Image is BW\n");
    Post_Error("");
    EXPECT_TRUE(YCCtoRGB(&grey));
    EXPECT_STREQ(Get_Last_Error(), "YCCtoRGB  Image is BW\n");
    EXPECT_EQ(At(grey, 2, 2), PatternSample(2, 2, 0, 1));
}

TEST_F(ColourTest, GreyConversionMatchesHandComputedValues) {
    ImgClass img;
    MakeImage(img, 5, 2, 3);
    const Pixel line0[5] = {{100, 200, 50}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {50, 200, 100}};
    const Pixel line1[5] = {{0, 0, 0}, {255, 255, 255}, {77, 77, 77}, {1, 2, 3}, {200, 100, 0}};
    const uint32_t line = img.ImgStruct.LineSize;
    ASSERT_EQ(line, 16u);
    for (int j = 0; j < 5; ++j)
        for (int c = 0; c < 3; ++c) {
            img.ImgStruct.ImgData[j * 3 + c] = line0[j][c];
            img.ImgStruct.ImgData[line + j * 3 + c] = line1[j][c];
        }
    ASSERT_FALSE(RGB_to_BW(&img));
    EXPECT_EQ(img.ImgStruct.Samples, 1);
    EXPECT_EQ(img.ImgStruct.LineSize, 16u);
    EXPECT_EQ(img.ImgStruct.Width, 5u);
    // 33 + 100 + 8.5 = 141.5; 84.15; 127.5; 43.35; samples weigh by memory order: 16.5 + 100 + 17.
    const uint8_t expect0[5] = {141, 84, 127, 43, 133};
    // 0; 255; 77; 0.33 + 1 + 0.51 = 1.84; 66 + 50 = 116.
    const uint8_t expect1[5] = {0, 255, 77, 1, 116};
    for (int j = 0; j < 5; ++j) {
        EXPECT_EQ(img.ImgStruct.ImgData[j], expect0[j]) << j;
        EXPECT_EQ(img.ImgStruct.ImgData[line + j], expect1[j]) << j;
    }
}

TEST_F(ColourTest, GreyLevelsSurviveGreyConversion) {
    ImgClass img;
    MakeImage(img, 256, 1, 3);
    for (int v = 0; v < 256; ++v)
        for (int c = 0; c < 3; ++c) img.ImgStruct.ImgData[v * 3 + c] = static_cast<uint8_t>(v);
    ASSERT_FALSE(RGB_to_BW(&img));
    for (int v = 0; v < 256; ++v) EXPECT_EQ(img.ImgStruct.ImgData[v], v);
}

TEST_F(ColourTest, GreyConversionOfGreyAndEmptyImages) {
    ImgClass grey;
    MakeImage(grey, 3, 2, 1);
    EXPECT_FALSE(RGB_to_BW(&grey));
    EXPECT_EQ(grey.ImgStruct.Samples, 1);
    EXPECT_EQ(At(grey, 2, 1), PatternSample(2, 1, 0, 1));

    ImgClass empty;
    EXPECT_TRUE(RGB_to_BW(&empty));
    EXPECT_STREQ(Get_Last_Error(), "RGB_to_BW Img->ImgStruct.ImgData = NULL\n");
}

TEST_F(ColourTest, SingleColourPlanes) {
    ImgClass in;
    MakeImage(in, 5, 3, 3, 9);
    in.ImgStruct.Bits = 8;
    for (int c = 0; c < 3; ++c) {
        SCOPED_TRACE(c);
        ImgClass out;
        ASSERT_FALSE(GetSingleColor(&in, &out, c));
        EXPECT_EQ(out.ImgStruct.Width, 5u);
        EXPECT_EQ(out.ImgStruct.Height, 3u);
        EXPECT_EQ(out.ImgStruct.Samples, 1);
        EXPECT_EQ(out.ImgStruct.Bits, 8);
        EXPECT_EQ(out.ImgStruct.LineSize, 8u);
        for (uint32_t y = 0; y < 3; ++y)
            for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(At(out, x, y), PatternSample(x, y, c, 9));
    }

    // A grey image gives its only plane; an output that held pixels is refilled.
    ImgClass grey, out;
    MakeImage(grey, 7, 2, 1, 3);
    MakeImage(out, 2, 2, 3);
    ASSERT_FALSE(GetSingleColor(&grey, &out, 0));
    EXPECT_EQ(out.ImgStruct.Width, 7u);
    EXPECT_EQ(out.ImgStruct.LineSize, 8u);
    for (uint32_t x = 0; x < 7; ++x) EXPECT_EQ(At(out, x, 1), PatternSample(x, 1, 0, 3));
}

TEST_F(ColourTest, SingleColourChecksInOrder) {
    ImgClass colour, grey, empty, out;
    MakeImage(colour, 2, 2, 3);
    MakeImage(grey, 2, 2, 1);
    const struct {
        ImgClass* in;
        ImgClass* out;
        int c;
        const char* message;
    } cases[] = {
        {nullptr, nullptr, 5, "GetSingleColor::ImgClass::In is NULL\n"},
        {&colour, nullptr, 5, "GetSingleColor ImgClass::Out is NULL\n"},
        {&empty, &out, 3, "GetSingleColor:: color out of range [0,1,2]\n"},
        {&colour, &out, -1, "GetSingleColor:: color out of range [0,1,2]\n"},
        {&empty, &out, 1, "GetSingleColor:: In->ImgData = NULL\n"},
        {&grey, &out, 1, "GetSingleColor:: Can't Get 1 color out of B/W image\n"},
        {&grey, &out, 2, "GetSingleColor:: Can't Get 2 color out of B/W image\n"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.message);
        Post_Error("");
        EXPECT_TRUE(GetSingleColor(k.in, k.out, k.c));
        EXPECT_STREQ(Get_Last_Error(), k.message);
    }
}

TEST_F(ColourTest, HistogramCountsEachSamplePlane) {
    GetHistogram(nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(R_Hist, nullptr);
    ASSERT_NE(G_Hist, nullptr);
    ASSERT_NE(B_Hist, nullptr);

    ImgClass img;
    MakeImage(img, 5, 3, 3);  // lines padded to 16 bytes: the padding is not counted
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x) {
            uint8_t* p = img.ImgStruct.ImgData + y * 16 + x * 3;
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(10 + y);
            p[2] = 200;
        }
    GetHistogram(&img, nullptr, nullptr, nullptr);
    for (int v = 0; v < 5; ++v) EXPECT_EQ(R_Hist[v], 3u) << v;
    for (int v = 10; v < 13; ++v) EXPECT_EQ(G_Hist[v], 5u) << v;
    EXPECT_EQ(B_Hist[200], 15u);
    uint32_t r = 0, g = 0, b = 0;
    for (int v = 0; v < 256; ++v) {
        r += R_Hist[v];
        g += G_Hist[v];
        b += B_Hist[v];
    }
    EXPECT_EQ(r, 15u);
    EXPECT_EQ(g, 15u);
    EXPECT_EQ(b, 15u);

    // A grey image counts into the first table only; all three start from zero.
    ImgClass grey;
    MakeImage(grey, 3, 2, 1);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 3; ++x) grey.ImgStruct.ImgData[y * 4 + x] = 7;
    GetHistogram(&grey, nullptr, nullptr, nullptr);
    EXPECT_EQ(R_Hist[7], 6u);
    EXPECT_EQ(R_Hist[0], 0u);
    for (int v = 0; v < 256; ++v) {
        EXPECT_EQ(G_Hist[v], 0u);
        EXPECT_EQ(B_Hist[v], 0u);
    }

    // An image without pixels leaves the tables as they were.
    ImgClass empty;
    GetHistogram(&empty, nullptr, nullptr, nullptr);
    EXPECT_EQ(R_Hist[7], 6u);
}

TEST_F(ColourTest, GammaTables) {
    std::vector<int> table(256, -1);
    Set_Gamma(1.0, table.data(), 256);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(table[i], i);

    // trunc(255 * sqrt(i / 255) + 0.5)
    Set_Gamma(2.0, table.data(), 256);
    EXPECT_EQ(table[0], 0);
    EXPECT_EQ(table[1], 16);
    EXPECT_EQ(table[2], 23);
    EXPECT_EQ(table[64], 128);
    EXPECT_EQ(table[128], 181);
    EXPECT_EQ(table[200], 226);
    EXPECT_EQ(table[254], 254);
    EXPECT_EQ(table[255], 255);

    std::vector<int> small(11, -1);
    Set_Gamma(2.2, small.data(), 11);
    EXPECT_EQ(small, (std::vector<int>{0, 4, 5, 6, 7, 7, 8, 9, 9, 10, 10}));

    std::vector<int> five(5, -1);
    Set_Gamma(0.5, five.data(), 5);  // 4 * (i / 4)^2 + 0.5
    EXPECT_EQ(five, (std::vector<int>{0, 0, 1, 2, 4}));
}

TEST_F(ColourTest, GammaTablesOfNoOrOneEntry) {
    std::vector<int> table(3, -1);
    Set_Gamma(2.0, table.data(), 0);
    Set_Gamma(2.0, table.data(), -4);
    EXPECT_EQ(table, (std::vector<int>{-1, -1, -1}));
    Set_Gamma(2.0, table.data(), 1);
    EXPECT_EQ(table, (std::vector<int>{0, -1, -1}));
}

TEST_F(ColourTest, DifferenceOfTwoImages) {
    ImgClass a, b, out;
    MakeImage(a, 5, 3, 3, 1);
    MakeImage(b, 5, 3, 3, 1);
    MakeImage(out, 5, 3, 3, 7);
    EXPECT_FALSE(Image_Diff(&a, &b, &out));
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(At(out, x, y, c), 0);

    a.ImgStruct.ImgData[16 + 4] = 5;   // line 1, pixel 1, sample 1
    b.ImgStruct.ImgData[16 + 4] = 10;
    b.ImgStruct.ImgData[2 * 16 + 14] = 1;
    a.ImgStruct.ImgData[2 * 16 + 14] = 0;
    EXPECT_TRUE(Image_Diff(&a, &b, &out));
    EXPECT_EQ(At(out, 1, 1, 1), 251);  // 5 - 10 modulo 256
    EXPECT_EQ(At(out, 4, 2, 2), 255);
    EXPECT_EQ(At(out, 0, 0, 0), 0);
    EXPECT_EQ(out.ImgStruct.Width, 5u);
    EXPECT_EQ(out.ImgStruct.Samples, 3);
}

TEST_F(ColourTest, DifferenceIgnoresPaddingAndFillsAnEmptyOutput) {
    ImgClass a, b, out;
    MakeImage(a, 5, 3, 1, 2);
    MakeImage(b, 5, 3, 1, 2);
    b.ImgStruct.ImgData[6] = 99;  // padding of line 0
    EXPECT_FALSE(Image_Diff(&a, &b, &out));
    ASSERT_NE(out.ImgStruct.ImgData, nullptr);
    EXPECT_EQ(out.ImgStruct.Width, 5u);
    EXPECT_EQ(out.ImgStruct.Height, 3u);
    EXPECT_EQ(out.ImgStruct.LineSize, a.ImgStruct.LineSize);
    EXPECT_EQ(At(out, 4, 2), 0);

    // An output too small for the inputs gets a buffer of their size.
    ImgClass small;
    MakeImage(small, 1, 1, 1);
    b.ImgStruct.ImgData[2 * 8 + 4] = 0;
    a.ImgStruct.ImgData[2 * 8 + 4] = 3;
    EXPECT_TRUE(Image_Diff(&a, &b, &small));
    EXPECT_EQ(small.ImgStruct.Height, 3u);
    EXPECT_EQ(At(small, 4, 2), 3);
}

TEST_F(ColourTest, DifferenceOfIncomparableImages) {
    ImgClass a, b, out;
    MakeImage(a, 5, 3, 3);
    MakeImage(b, 5, 4, 3);
    MakeImage(out, 5, 3, 3);
    EXPECT_TRUE(Image_Diff(&a, &b, &out));
    EXPECT_EQ(out.ImgStruct.ImgData, nullptr);

    ImgClass c, d;
    MakeImage(c, 5, 3, 1);
    MakeImage(out, 5, 3, 1);
    EXPECT_TRUE(Image_Diff(&a, &c, &out));  // samples differ
    EXPECT_EQ(out.ImgStruct.ImgData, nullptr);

    MakeImage(out, 5, 3, 3);
    d.ImgStruct.Width = 5;
    d.ImgStruct.Height = 3;
    d.ImgStruct.Samples = 3;
    EXPECT_TRUE(Image_Diff(&a, &d, &out));  // no pixels to compare
    EXPECT_EQ(out.ImgStruct.ImgData, nullptr);
    EXPECT_TRUE(Image_Diff(nullptr, &a, &out));
}

}  // namespace

TEST_F(ColourTest, SingleColourIntoItselfAndGammaBelowZeroStaySafe) {
    ImgClass img;
    MakeImage(img, 4, 2, 3);
    EXPECT_TRUE(GetSingleColor(&img, &img, 1));
    EXPECT_NE(img.ImgStruct.ImgData, nullptr);  // the input keeps its pixels
    EXPECT_NE(std::string(Get_Last_Error()).find("same image"), std::string::npos);

    for (double gamma : {0.0, -1.0, -2.5}) {
        std::array<int, 16> table{};
        Set_Gamma(gamma, table.data(), 16);
        for (int v : table) {
            EXPECT_GE(v, 0);
            EXPECT_LE(v, 15);
        }
    }
}
