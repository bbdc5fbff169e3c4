// Reading any supported file through the one entry point.
#include <gtest/gtest.h>

#include <algorithm>
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

// A little-endian 8-bit grey TIFF with its directory first and its strips
// after it in order, as scanners write them: cutting the file short cuts the
// last strip. Sample (x, y) is PatternSample(x, y, 0, 3).
std::vector<uint8_t> DirectoryFirstTiff(uint32_t w, uint32_t h, uint32_t rowsPerStrip) {
    const uint32_t strips = (h + rowsPerStrip - 1) / rowsPerStrip;
    const uint32_t arrays = 8 + 2 + 9 * 12 + 4;
    const uint32_t data = arrays + 8 * strips;
    std::vector<uint8_t> b = {'I', 'I', 42, 0, 8, 0, 0, 0};
    auto u16 = [&](uint32_t v) { b.push_back(v & 0xFF); b.push_back((v >> 8) & 0xFF); };
    auto u32 = [&](uint32_t v) { u16(v & 0xFFFF); u16(v >> 16); };
    auto entry = [&](uint16_t tag, uint16_t type, uint32_t count, uint32_t value) {
        u16(tag);
        u16(type);
        u32(count);
        if (type == 3) { u16(value); u16(0); } else u32(value);
    };
    u16(9);
    entry(256, 4, 1, w);
    entry(257, 4, 1, h);
    entry(258, 3, 1, 8);
    entry(259, 3, 1, 1);
    entry(262, 3, 1, 1);
    entry(273, 4, strips, arrays);
    entry(277, 3, 1, 1);
    entry(278, 4, 1, rowsPerStrip);
    entry(279, 4, strips, arrays + 4 * strips);
    u32(0);
    for (uint32_t i = 0; i < strips; ++i) u32(data + i * rowsPerStrip * w);
    for (uint32_t i = 0; i < strips; ++i) u32(std::min(rowsPerStrip, h - i * rowsPerStrip) * w);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x) b.push_back(PatternSample(x, y, 0, 3));
    return b;
}

// Damaged files read with the decoder's words for what was lost, keeping the
// pixels before the damage; benign notices and clean files leave the warning
// empty, and so does every read after.
TEST(ReadImage, DamagedFilesReadWithTheDecodersWarning) {
    TempDir dir;
    ImgClass source;
    MakeImage(source, 64, 96, 3, 5);
    source.ImgStruct.Bits = 8;
    SetName(source, dir.File("clean.jpg"));
    ASSERT_FALSE(WriteJPEG(90, &source)) << Get_Last_Error();
    const std::vector<uint8_t> jpeg = ReadBytes(dir.File("clean.jpg"));
    size_t scan = 0;  // the first byte after the scan header
    for (size_t i = 2; i + 3 < jpeg.size() && !scan; ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) scan = i + 2 + (size_t{jpeg[i + 2]} << 8 | jpeg[i + 3]);
    ASSERT_GT(scan, 0u);
    ASSERT_EQ(jpeg[11], 1);  // JFIF major version

    std::vector<uint8_t> half(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2));
    std::vector<uint8_t> garbage = jpeg;
    std::fill_n(garbage.begin() + static_cast<long>((scan + jpeg.size()) / 2), 32, uint8_t{0});
    std::vector<uint8_t> revision = jpeg;
    revision[11] = 9;
    const std::vector<uint8_t> tiff = DirectoryFirstTiff(24, 20, 4);
    // Strips hold 96 bytes: cut in the middle of the last one, and of the third.
    const std::vector<uint8_t> tiffCut(tiff.begin(), tiff.end() - 48);
    const std::vector<uint8_t> tiffCutEarly(tiff.begin(), tiff.end() - 2 * 96 - 48);

    const struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        const char* clean;    // the same picture undamaged
        const char* words;    // in the warning; "" for none
        const char* posted;   // in the last-error text; "" for an empty text
        uint32_t intactRows;  // top rows equal to the clean file's
        bool lastRowBlank;
    } cases[] = {
        {"clean.jpg", jpeg, "clean.jpg", "", "", 0, false},
        // The damage lies in the picture's lower half.
        {"half.jpg", half, "clean.jpg", "Premature end of JPEG file", "Premature end", 24, false},
        {"garbage.jpg", garbage, "clean.jpg", "Corrupt JPEG data", "Corrupt JPEG data", 24, false},
        // A notice about the header: the pixels are whole.
        {"revision.jpg", revision, "clean.jpg", "", "unknown JFIF revision number 9.01", 96, false},
        {"clean.tif", tiff, "clean.tif", "", "", 0, false},
        {"cut.tif", tiffCut, "clean.tif", "Read error on strip 4", "Read error on strip 4", 16, true},
        {"cut_early.tif", tiffCutEarly, "clean.tif", "Read error on strip 2", "Read error on strip 2", 8, true},
    };
    for (const Case& c : cases) WriteBytes(dir.File(c.name), c.bytes);
    const auto read = [&](const char* name, ImgClass& img, bool forSize) {
        SetName(img, dir.File(name));
        int reduction = 0;
        return forSize ? ReadImageForSize(false, &img, 0, 0, &reduction) : ReadImage(false, &img);
    };
    for (const Case& c : cases)
        for (const bool forSize : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (forSize ? " for a size" : ""));
            Post_Error("");
            ImgClass clean, img;
            ASSERT_FALSE(read(c.clean, clean, false)) << Get_Last_Error();
            ASSERT_FALSE(read(c.name, img, forSize)) << Get_Last_Error();
            const std::string warning = Get_Last_Warning();
            const ImgStruct& s = img.ImgStruct;
            EXPECT_EQ(s.Width, clean.ImgStruct.Width);
            EXPECT_EQ(s.Height, clean.ImgStruct.Height);
            ASSERT_EQ(s.LineSize, clean.ImgStruct.LineSize);
            if (*c.words) {
                EXPECT_NE(warning.find(c.words), std::string::npos) << warning;
            } else {
                EXPECT_EQ(warning, "");
            }
            // The last-error text carries the words too, for a caller that
            // passes them on with a conversion.
            if (*c.posted) {
                EXPECT_NE(std::string(Get_Last_Error()).find(c.posted), std::string::npos) << Get_Last_Error();
            } else {
                EXPECT_STREQ(Get_Last_Error(), "");
            }
            const size_t intact = size_t{c.intactRows} * s.LineSize;
            EXPECT_EQ(std::memcmp(s.ImgData, clean.ImgStruct.ImgData, intact), 0);
            if (c.lastRowBlank) {
                const unsigned char* last = s.ImgData + size_t{s.Height - 1} * s.LineSize;
                const size_t n = size_t{s.Width} * static_cast<size_t>(s.Samples);
                EXPECT_EQ(static_cast<size_t>(std::count(last, last + n, 0)), n);
            }

            // A clean read after it has nothing to say, and neither has a
            // failed one.
            ImgClass again;
            ASSERT_FALSE(read(c.clean, again, !forSize));
            EXPECT_STREQ(Get_Last_Warning(), "");
            if (*c.words) {
                ImgClass damaged, missing;
                ASSERT_FALSE(read(c.name, damaged, forSize));
                ASSERT_STRNE(Get_Last_Warning(), "");
                EXPECT_TRUE(read("missing.jpg", missing, forSize));
                EXPECT_STREQ(Get_Last_Warning(), "");
            }
        }
    Post_Error("");
}

}  // namespace
