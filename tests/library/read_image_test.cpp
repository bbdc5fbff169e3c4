// Reading any supported file through the one entry point.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/test_support.h"

using namespace testing_support;

namespace {

// A binary grey or colour map whose sample (x, y, c) is PatternSample(x, y, c, 3).
std::string WritePnm(const TempDir& dir, const std::string& name, uint32_t w, uint32_t h,
                     int samples) {
    std::string text = (samples == 1 ? "P5\n" : "P6\n") + std::to_string(w) + " " +
                       std::to_string(h) + "\n255\n";
    std::vector<uint8_t> bytes(text.begin(), text.end());
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < samples; ++c) bytes.push_back(PatternSample(x, y, c, 3));
    const std::string path = dir.File(name);
    WriteBytes(path, bytes);
    return path;
}

TEST(ReadImage, RefusesAnImageThatAlreadyHoldsPixels) {
    TempDir dir;
    const std::string path = WritePnm(dir, "g.pgm", 5, 3, 1);
    ImgClass img;
    MakeImage(img, 2, 2, 3, 9);
    SetName(img, path);
    unsigned char* before = img.ImgStruct.ImgData;
    const std::vector<uint8_t> pixels(before, before + 2 * img.ImgStruct.LineSize);

    Post_Error("");
    Post_Error("earlier");
    EXPECT_TRUE(ReadImage(false, &img));
    EXPECT_EQ(img.ImgStruct.ImgData, before);
    EXPECT_EQ(img.ImgStruct.Width, 2u);
    EXPECT_EQ(img.ImgStruct.Samples, 3);
    EXPECT_EQ(std::vector<uint8_t>(before, before + 2 * img.ImgStruct.LineSize), pixels);
    // The text is not cleared; the refusal is added to it.
    EXPECT_EQ(std::string(Get_Last_Error()),
              "earlier\nReadImage: " + path + ": the image already holds pixels\n");
    Post_Error("");
}

TEST(ReadImage, ReadsGreyAndColourMaps) {
    TempDir dir;
    ImgClass grey;
    SetName(grey, WritePnm(dir, "g.pgm", 5, 3, 1));
    ASSERT_FALSE(ReadImage(false, &grey));
    EXPECT_EQ(grey.ImgStruct.Type, IMG_TYPE_PGM);
    EXPECT_EQ(grey.ImgStruct.Samples, 1);
    EXPECT_EQ(At(grey, 4, 2), PatternSample(4, 2, 0, 3));

    ImgClass colour;
    SetName(colour, WritePnm(dir, "c.ppm", 5, 3, 3));
    ASSERT_FALSE(ReadImage(false, &colour));
    EXPECT_EQ(colour.ImgStruct.Type, IMG_TYPE_PPM);
    EXPECT_EQ(colour.ImgStruct.Samples, 3);
    EXPECT_EQ(colour.ImgStruct.BgrOrder, 0);
    EXPECT_EQ(At(colour, 4, 2, 0), PatternSample(4, 2, 0, 3));
    EXPECT_EQ(At(colour, 4, 2, 2), PatternSample(4, 2, 2, 3));
}

TEST(ReadImage, SwapDeliversColourInBgrOrder) {
    TempDir dir;
    ImgClass colour;
    SetName(colour, WritePnm(dir, "c.ppm", 5, 3, 3));
    ASSERT_FALSE(ReadImage(true, &colour));
    EXPECT_EQ(colour.ImgStruct.BgrOrder, 1);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x) {
            EXPECT_EQ(At(colour, x, y, 0), PatternSample(x, y, 2, 3));
            EXPECT_EQ(At(colour, x, y, 1), PatternSample(x, y, 1, 3));
            EXPECT_EQ(At(colour, x, y, 2), PatternSample(x, y, 0, 3));
        }

    // Grey images have no colour order to change.
    ImgClass grey;
    SetName(grey, WritePnm(dir, "g.pgm", 5, 3, 1));
    ASSERT_FALSE(ReadImage(true, &grey));
    EXPECT_EQ(grey.ImgStruct.BgrOrder, 0);
    EXPECT_EQ(At(grey, 1, 1), PatternSample(1, 1, 0, 3));
}

TEST(ReadImage, AppliesAPendingRotation) {
    TempDir dir;
    ImgClass img;
    SetName(img, WritePnm(dir, "g.pgm", 5, 3, 1));
    img.ImgStruct.Rotation = ROTATE_CW90;
    ASSERT_FALSE(ReadImage(false, &img));
    EXPECT_EQ(img.ImgStruct.Width, 3u);
    EXPECT_EQ(img.ImgStruct.Height, 5u);
    EXPECT_EQ(img.ImgStruct.Rotated, 1);
    EXPECT_EQ(img.ImgStruct.Rotation, ROTATE_CW90);
    // Clockwise: the old left column, read bottom to top, is the new top line.
    for (uint32_t y = 0; y < 5; ++y)
        for (uint32_t x = 0; x < 3; ++x)
            EXPECT_EQ(At(img, x, y), PatternSample(y, 2 - x, 0, 3)) << x << "," << y;

    ImgClass colour;
    SetName(colour, WritePnm(dir, "c.ppm", 5, 3, 3));
    colour.ImgStruct.Rotation = ROTATE_FLIP_VERTICAL;
    ASSERT_FALSE(ReadImage(true, &colour));
    EXPECT_EQ(colour.ImgStruct.Rotated, 1);
    EXPECT_EQ(colour.ImgStruct.BgrOrder, 1);
    EXPECT_EQ(At(colour, 0, 0, 0), PatternSample(0, 2, 2, 3));
    EXPECT_EQ(At(colour, 4, 2, 2), PatternSample(4, 0, 0, 3));
}

TEST(ReadImage, RotationAlreadyAppliedIsNotRepeated) {
    TempDir dir;
    ImgClass img;
    SetName(img, WritePnm(dir, "g.pgm", 5, 3, 1));
    img.ImgStruct.Rotation = ROTATE_CW90;
    img.ImgStruct.Rotated = 1;
    ASSERT_FALSE(ReadImage(false, &img));
    EXPECT_EQ(img.ImgStruct.Width, 5u);
    EXPECT_EQ(img.ImgStruct.Height, 3u);
    EXPECT_EQ(At(img, 4, 0), PatternSample(4, 0, 0, 3));
}

TEST(ReadImage, RawCameraUnknownAndMissingFilesFailWithTheirReasons) {
    TempDir dir;
    const auto failsNaming = [](ImgClass* img, const std::string& words) {
        Post_Error("");
        EXPECT_TRUE(ReadImage(false, img));
        if (img) {
            EXPECT_EQ(img->ImgStruct.ImgData, nullptr);
        }
        EXPECT_NE(std::string(Get_Last_Error()).find(words), std::string::npos) << Get_Last_Error();
    };
    // A raw camera file is never decoded, even when it holds a readable map.
    ImgClass raw;
    SetName(raw, WritePnm(dir, "shot.DcR", 2, 2, 1));
    failsNaming(&raw, dir.File("shot.DcR") + ": raw camera files are not decoded");

    ImgClass text;
    const std::string notes = dir.File("notes.txt");
    WriteText(notes, "hello");
    SetName(text, notes);
    failsNaming(&text, notes + ": not a supported image format");

    ImgClass missing;
    SetName(missing, dir.File("missing.pgm"));
    failsNaming(&missing, dir.File("missing.pgm") + ": cannot be opened");

    ImgClass unnamed;
    failsNaming(&unnamed, "no image file named");
    failsNaming(nullptr, "ReadImage: no image given");
    Post_Error("");
}

}  // namespace
