// Orientation changes: every rotation code on odd-sized grey and colour
// images, and the rules around them.
#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "support/test_support.h"

using namespace testing_support;

namespace {

// Where output pixel (x, y) of a w x h source comes from, for each code.
std::pair<uint32_t, uint32_t> Source(int code, uint32_t x, uint32_t y, uint32_t w, uint32_t h) {
    switch (code) {
    case ROTATE_CW90: return {y, h - 1 - x};
    case ROTATE_CCW90: return {w - 1 - y, x};
    case ROTATE_180: return {w - 1 - x, h - 1 - y};
    case ROTATE_FLIP_VERTICAL: return {x, h - 1 - y};
    case ROTATE_MIRROR: return {w - 1 - x, y};
    default: return {x, y};
    }
}

uint32_t RoundUp4(uint32_t n) { return (n + 3) / 4 * 4; }

class EveryCode
    : public ::testing::TestWithParam<std::tuple<int, int, std::pair<uint32_t, uint32_t>>> {};

TEST_P(EveryCode, MovesEveryPixelWhole) {
    const auto [code, samples, size] = GetParam();
    const auto [w, h] = size;
    ImgClass img;
    MakeImage(img, w, h, samples, 5);
    img.ImgStruct.Resolution = 72.0;
    img.ImgStruct.ResUnit = 3;
    img.ImgStruct.Type = IMG_TYPE_PPM;
    const uint32_t oldLine = img.ImgStruct.LineSize;

    Post_Error("");
    ASSERT_FALSE(Rotate_Image(&img, code));
    const ImgStruct& s = img.ImgStruct;
    EXPECT_EQ(s.Rotation, code);
    EXPECT_EQ(s.Rotated, 1);
    EXPECT_EQ(s.Samples, samples);
    EXPECT_EQ(s.Bits, 8);
    EXPECT_DOUBLE_EQ(s.Resolution, 72.0);
    EXPECT_EQ(s.ResUnit, 3);
    EXPECT_EQ(s.Type, IMG_TYPE_PPM);
    EXPECT_EQ(s.BgrOrder, 0);
    EXPECT_STREQ(Get_Last_Error(), "");

    const bool quarter = code == ROTATE_CW90 || code == ROTATE_CCW90;
    const uint32_t nw = quarter ? h : w;
    const uint32_t nh = quarter ? w : h;
    ASSERT_EQ(s.Width, nw);
    ASSERT_EQ(s.Height, nh);
    // Quarter turns keep 16 spare pixels per line; the others keep the lines.
    EXPECT_EQ(s.LineSize, quarter ? RoundUp4((nw + 16) * samples) : oldLine);

    for (uint32_t y = 0; y < nh; ++y) {
        for (uint32_t x = 0; x < nw; ++x) {
            const auto [sx, sy] = Source(code, x, y, w, h);
            for (int c = 0; c < samples; ++c)
                ASSERT_EQ(At(img, x, y, c), PatternSample(sx, sy, c, 5))
                    << "pixel " << x << "," << y << " sample " << c;
        }
        // Padding stays zero.
        for (uint32_t k = nw * samples; k < s.LineSize; ++k)
            ASSERT_EQ(s.ImgData[size_t{y} * s.LineSize + k], 0) << "line " << y << " byte " << k;
    }
}

std::string CaseName(const ::testing::TestParamInfo<EveryCode::ParamType>& info) {
    const int code = std::get<0>(info.param);
    const int samples = std::get<1>(info.param);
    const auto size = std::get<2>(info.param);
    return "code" + std::to_string(code) + (samples == 1 ? "_grey_" : "_colour_") +
           std::to_string(size.first) + "x" + std::to_string(size.second);
}

INSTANTIATE_TEST_SUITE_P(
    Rotations, EveryCode,
    ::testing::Combine(::testing::Values(ROTATE_CW90, ROTATE_CCW90, ROTATE_180,
                                         ROTATE_FLIP_VERTICAL, ROTATE_MIRROR),
                       ::testing::Values(1, 3),
                       ::testing::Values(std::make_pair(5u, 3u), std::make_pair(7u, 5u),
                                         std::make_pair(3u, 2u), std::make_pair(7u, 1u),
                                         std::make_pair(1u, 7u), std::make_pair(1u, 1u))),
    CaseName);

TEST(Rotate, ClockwiseThreeByTwoColour) {
    ImgClass img;
    MakeImage(img, 3, 2, 3);
    ASSERT_FALSE(Rotate_Image(&img, ROTATE_CW90));
    EXPECT_EQ(img.ImgStruct.Width, 2u);
    EXPECT_EQ(img.ImgStruct.Height, 3u);
    EXPECT_EQ(img.ImgStruct.LineSize, 56u);
    // Two zero-filled spare lines follow the new image.
    for (size_t k = 3 * 56; k < 5 * 56; ++k) ASSERT_EQ(img.ImgStruct.ImgData[k], 0) << k;
    // First line: the old left column read bottom to top.
    for (int c = 0; c < 3; ++c) {
        EXPECT_EQ(At(img, 0, 0, c), PatternSample(0, 1, c, 1));
        EXPECT_EQ(At(img, 1, 0, c), PatternSample(0, 0, c, 1));
    }
}

TEST(Rotate, KeepsTheColourOrderOfBgrImages) {
    for (int code = ROTATE_CW90; code <= ROTATE_MIRROR; ++code) {
        SCOPED_TRACE(code);
        ImgClass img;
        MakeImage(img, 5, 3, 3, 2);
        ASSERT_FALSE(Swap_RGB(&img));
        ASSERT_FALSE(Rotate_Image(&img, code));
        EXPECT_EQ(img.ImgStruct.BgrOrder, 1);
        const auto [sx, sy] = Source(code, 0, 0, 5, 3);
        EXPECT_EQ(At(img, 0, 0, 0), PatternSample(sx, sy, 2, 2));
        EXPECT_EQ(At(img, 0, 0, 2), PatternSample(sx, sy, 0, 2));
    }
}

TEST(Rotate, CodeZeroChangesNothing) {
    ImgClass img;
    MakeImage(img, 5, 3, 1);
    unsigned char* before = img.ImgStruct.ImgData;
    EXPECT_FALSE(Rotate_Image(&img, ROTATE_NONE));
    EXPECT_EQ(img.ImgStruct.ImgData, before);
    EXPECT_EQ(img.ImgStruct.Width, 5u);
    EXPECT_EQ(img.ImgStruct.Rotated, 0);
    EXPECT_EQ(At(img, 4, 2), PatternSample(4, 2, 0, 1));
    // And the image may still be rotated afterwards.
    EXPECT_FALSE(Rotate_Image(&img, ROTATE_MIRROR));
}

TEST(Rotate, AnImageIsRotatedAtMostOnce) {
    ImgClass img;
    MakeImage(img, 5, 3, 3);
    ASSERT_FALSE(Rotate_Image(&img, ROTATE_FLIP_VERTICAL));
    EXPECT_TRUE(Rotate_Image(&img, ROTATE_FLIP_VERTICAL));
    EXPECT_TRUE(Rotate_Image(&img, ROTATE_CW90));
    EXPECT_TRUE(Rotate_Image(&img, ROTATE_NONE));
    EXPECT_EQ(img.ImgStruct.Rotation, ROTATE_FLIP_VERTICAL);
    // The refused rotations left the pixels as the first one made them.
    EXPECT_EQ(At(img, 1, 0, 1), PatternSample(1, 2, 1, 1));

    // A fresh object may be rotated again.
    ImgClass other;
    MakeImage(other, 5, 3, 3);
    EXPECT_FALSE(Rotate_Image(&other, ROTATE_CW90));
}

TEST(Rotate, UnknownCodesFail) {
    for (int code : {-1, 6, 7, 100}) {
        SCOPED_TRACE(code);
        ImgClass img;
        MakeImage(img, 3, 3, 1);
        EXPECT_TRUE(Rotate_Image(&img, code));
        EXPECT_EQ(img.ImgStruct.Rotated, 0);
        EXPECT_EQ(img.ImgStruct.Rotation, 0);
        EXPECT_EQ(At(img, 0, 0), PatternSample(0, 0, 0, 1));
    }
    EXPECT_TRUE(Rotate_Image(nullptr, ROTATE_CW90));
}

TEST(Rotate, ImageWithoutPixelsIsNamedByTheOperation) {
    const std::pair<int, const char*> cases[] = {
        {ROTATE_CW90, "FlipHorizontal Input is NULL\n"},
        {ROTATE_CCW90, "RotateLeft Input is NULL\n"},
        {ROTATE_180, "FlipHorizontal Input is NULL\n"},
        {ROTATE_FLIP_VERTICAL, "FlipVertical Input is NULL\n"},
        {ROTATE_MIRROR, "FlipHorizontal Input is NULL\n"},
    };
    for (const auto& [code, message] : cases) {
        SCOPED_TRACE(code);
        ImgClass img;
        img.ImgStruct.Width = 3;
        img.ImgStruct.Height = 2;
        img.ImgStruct.Samples = 1;
        img.ImgStruct.LineSize = 4;
        Post_Error("");
        EXPECT_TRUE(Rotate_Image(&img, code));
        EXPECT_STREQ(Get_Last_Error(), message);
        EXPECT_EQ(img.ImgStruct.Rotated, 0);
    }
    Post_Error("");
}

}  // namespace
