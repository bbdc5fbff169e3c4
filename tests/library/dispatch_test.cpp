// Rectangles read through the header made for the file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

using namespace testing_support;

TEST(DispatchRectangle, PgmRectangleAfterHeaderGivesThePixels) {
    TempDir dir;
    const int w = 6, h = 5;
    const std::string img = dir.File("r.pgm");
    const std::string head = "P5\n6 5\n255\n";
    std::vector<uint8_t> bytes(head.begin(), head.end());
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) bytes.push_back(static_cast<uint8_t>(y * 16 + x));
    WriteBytes(img, bytes);
    ASSERT_FALSE(Make_Local_Header(img.c_str(), nullptr)) << Get_Last_Error();

    ImgClass out;
    CRect rect{1, 2, 4, 4};
    ASSERT_FALSE(GetImageRectangle(img.c_str(), rect, &out)) << Get_Last_Error();
    ASSERT_EQ(out.ImgStruct.Width, 3u);
    ASSERT_EQ(out.ImgStruct.Height, 2u);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 3; ++x)
            EXPECT_EQ(At(out, x, y), (y + 2) * 16 + x + 1) << x << "," << y;
    out.FreeData();

    CRect inverted{4, 2, 1, 4};
    ImgClass none;
    EXPECT_TRUE(GetImageRectangle(img.c_str(), inverted, &none));
    EXPECT_STRNE(Get_Last_Error(), "");
}
