// Point sampling and thumbnails made through header files.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "library.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

TEST(Subsample, KeepsTheAspectAndPicksTopLeftAlignedPixels) {
    ImgClass src, dst;
    MakeImage(src, 1000, 750, 3);
    src.ImgStruct.BgrOrder = 1;
    EXPECT_FALSE(SubsampleLocalImage(&src, &dst, 400, -1));
    ASSERT_NE(dst.ImgStruct.ImgData, nullptr);
    EXPECT_EQ(dst.ImgStruct.Width, 400u);
    EXPECT_EQ(dst.ImgStruct.Height, 300u);
    EXPECT_EQ(dst.ImgStruct.LineSize, 1200u);
    EXPECT_EQ(dst.ImgStruct.BgrOrder, 1);
    for (uint32_t y : {0u, 1u, 7u, 299u})
        for (uint32_t x : {0u, 1u, 3u, 399u})
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(At(dst, x, y, c), At(src, uint32_t(x * 2.5), uint32_t(y * 2.5), c));

    ImgClass squeezed;
    SubsampleLocalImage(&src, &squeezed, 400, 100);
    EXPECT_EQ(squeezed.ImgStruct.Height, 100u);
    EXPECT_EQ(At(squeezed, 5, 3), At(src, 12, 22));  // yStep 7.5
}

TEST(Subsample, EnlargesGreyAndIgnoresWhatItCannotSample) {
    ImgClass src, dst;
    MakeImage(src, 3, 2, 1);
    SubsampleLocalImage(&src, &dst, 7, -1);
    ASSERT_NE(dst.ImgStruct.ImgData, nullptr);
    EXPECT_EQ(dst.ImgStruct.Width, 7u);
    EXPECT_EQ(dst.ImgStruct.Height, 4u);
    EXPECT_EQ(At(dst, 6, 3), At(src, 2, 1));

    ImgClass empty, out;
    EXPECT_FALSE(SubsampleLocalImage(&empty, &out, 10, -1));
    EXPECT_EQ(out.ImgStruct.ImgData, nullptr);
    EXPECT_FALSE(SubsampleLocalImage(&src, &out, 0, -1));
    EXPECT_EQ(out.ImgStruct.ImgData, nullptr);
    EXPECT_FALSE(SubsampleLocalImage(nullptr, &out, 10, -1));
}

class ThumbnailTest : public ::testing::Test {
protected:
    void SetUp() override {
        MakeImage(source, 120, 60, 1);
        image = dir.File("pic.pgm");
        header = dir.File("pic.hdr");
        SetName(source, image);
        ASSERT_FALSE(Write_8BitPGM(&source));
        ASSERT_FALSE(Make_Local_Header(image.c_str(), header.c_str())) << Get_Last_Error();
    }
    TempDir dir;
    ImgClass source;
    std::string image, header;
};

TEST_F(ThumbnailTest, FourArgumentFormWritesJpegAndReusesNothingStale) {
    const std::string thumb = dir.File("pic.tn0");
    ASSERT_FALSE(Make_Local_Tnl(75, 40, header.data(), const_cast<char*>(thumb.c_str())))
        << Get_Last_Error();
    EXPECT_EQ(Get_File_Type(thumb.c_str()), IMG_TYPE_JPEG);
    ImgClass back;
    SetName(back, thumb);
    ASSERT_FALSE(ReadImage(false, &back));
    EXPECT_EQ(back.ImgStruct.Width, 40u);
    EXPECT_EQ(back.ImgStruct.Height, 20u);
}

TEST_F(ThumbnailTest, FiveArgumentFormFromMemoryAndItsRefusals) {
    const std::string thumb = dir.File("mem.tnl");
    ImgClass img;
    SetName(img, image);
    ASSERT_FALSE(ReadImage(false, &img));
    ASSERT_FALSE(Make_Local_Tnl(85, 30, header.data(), const_cast<char*>(thumb.c_str()), &img));
    EXPECT_EQ(Get_File_Type(thumb.c_str()), IMG_TYPE_JPEG);  // JPEG whatever the extension

    // An existing thumbnail is reused as it is.
    const auto before = ReadBytes(thumb);
    ASSERT_FALSE(Make_Local_Tnl(85, 60, header.data(), const_cast<char*>(thumb.c_str()), &img));
    EXPECT_EQ(ReadBytes(thumb), before);

    const std::string other = dir.File("other.tnl");
    EXPECT_TRUE(Make_Local_Tnl(85, 0, header.data(), const_cast<char*>(other.c_str()), &img));
    // The fixed words, then the file they are about.
    EXPECT_EQ(std::string(Get_Last_Error()),
              "Make_Local_Tnl: Size <= 0\n\nMake_Local_Tnl(" + std::string(header.data()) + ") failed\n");
    EXPECT_FALSE(fs::exists(other));

    // Quality outside 1..100 writes an uncompressed TIFF.
    const std::string tiff = dir.File("other.tif");
    ASSERT_FALSE(Make_Local_Tnl(0, 30, header.data(), const_cast<char*>(tiff.c_str()), &img));
    EXPECT_EQ(Get_File_Type(tiff.c_str()), IMG_TYPE_TIFF);
}

TEST_F(ThumbnailTest, IntoImageModeLeavesTheThumbnailInMemory) {
    ImgClass thumb;
    char none[] = "";
    ASSERT_FALSE(Make_Local_Tnl(85, 24, header.data(), none, &thumb)) << Get_Last_Error();
    ASSERT_NE(thumb.ImgStruct.ImgData, nullptr);
    EXPECT_EQ(thumb.ImgStruct.Width, 24u);
    EXPECT_EQ(thumb.ImgStruct.Height, 12u);
    EXPECT_EQ(At(thumb, 3, 2), At(source, 15, 10));
    EXPECT_FALSE(fs::exists(dir.File("pic.tnl")));
}
