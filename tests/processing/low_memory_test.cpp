// The row-streaming scaler: its file against the in-memory scaler and the
// reference, its factor-1 and failure paths, and what it leaves behind.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "codecs/hdr.h"
#include "codecs/tiff.h"
#include "library.h"
#include "processing/scale_reference.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const char kOpenFailed[] = "0030\tCScaleImage(..) pTIFFClass->Open_Write_Tiff(..)\tFAILED\n";

// Noise, tiny values (the band between the two floors lives there), hard
// edges and ramps.
void RandomImage(ImgClass& img, uint32_t w, uint32_t h, int samples, int mode, std::mt19937& rng) {
    MakeImage(img, w, h, samples);
    ImgStruct& s = img.ImgStruct;
    s.Resolution = 150.0;
    s.ResUnit = 2;
    for (uint32_t y = 0; y < h; ++y)
        for (size_t i = 0; i < size_t{w} * samples; ++i) {
            int v = static_cast<int>(rng() & 0xFF);
            if (mode == 1) v &= 3;
            if (mode == 2) v = v < 128 ? 0 : 255;
            if (mode == 3) v = static_cast<int>((i / samples) * 7 + y * 3) & 255;
            s.ImgData[size_t{y} * s.LineSize + i] = static_cast<uint8_t>(v);
        }
}

bool ReadBack(const std::string& path, ImgClass& img) {
    img.FreeData();
    SetName(img, path);
    return ReadImage(false, &img);
}

::testing::AssertionResult SameAsReference(const ImgClass& got, const ref::Image& want) {
    const ImgStruct& g = got.ImgStruct;
    if (g.Width != want.width || g.Height != want.height || g.Samples != want.samples)
        return ::testing::AssertionFailure() << "size " << g.Width << "x" << g.Height << "x" << g.Samples
                                             << ", want " << want.width << "x" << want.height << "x"
                                             << want.samples;
    const size_t row = size_t{want.width} * want.samples;
    for (uint32_t y = 0; y < want.height; ++y)
        for (size_t i = 0; i < row; ++i) {
            const int a = g.ImgData[size_t{y} * g.LineSize + i], b = want.px[y * row + i];
            if (a != b)
                return ::testing::AssertionFailure() << "row " << y << " byte " << i << " is " << a
                                                     << ", want " << b;
        }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult SamePixels(const ImgClass& a, const ImgClass& b) {
    const ImgStruct &x = a.ImgStruct, &y = b.ImgStruct;
    if (x.Width != y.Width || x.Height != y.Height || x.Samples != y.Samples)
        return ::testing::AssertionFailure() << "sizes differ: " << x.Width << "x" << x.Height << "x"
                                             << x.Samples << " and " << y.Width << "x" << y.Height
                                             << "x" << y.Samples;
    const size_t row = size_t{x.Width} * x.Samples;
    for (uint32_t r = 0; r < x.Height; ++r)
        if (std::memcmp(x.ImgData + size_t{r} * x.LineSize, y.ImgData + size_t{r} * y.LineSize, row))
            return ::testing::AssertionFailure() << "row " << r << " differs";
    return ::testing::AssertionSuccess();
}

struct Case {
    uint32_t w, h;
    int samples;
    double xf, yf;
};

}  // namespace

class LowMemoryScale : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_FALSE(orvix::Lib().tiff->IsOpen()) << "the output was left open"; }
    TempDir dir;
};

TEST_F(LowMemoryScale, FileMatchesTheReferenceWithItsRaisedFloor) {
    const Case cases[] = {
        {40, 30, 1, 0.5, -1.0},  {40, 30, 3, 0.5, -1.0},  {37, 23, 1, 2.0, -1.0}, {37, 23, 3, 2.0, -1.0},
        {53, 41, 1, 1.7, 0.6},   {53, 41, 3, 0.3, 2.2},   {31, 29, 3, 3.14159, -1.0},
        {61, 17, 1, 0.77, 1.3},  {45, 33, 3, 1.0, 1.37}, {45, 33, 1, 2.5, 1.0},
        {1, 19, 1, 3.0, 1.5},    {1, 19, 3, 1.0, 0.5},    // one pixel wide
        {23, 1, 1, 1.6, 2.5},    {23, 1, 3, 0.5, 4.0},    // one row high
        {203, 9, 3, 0.9, 1.8},   {203, 9, 1, 0.25, 3.0},
    };
    std::mt19937 rng(21);
    int lowered = 0;
    for (const Case& c : cases) {
        for (int mode = 0; mode < 4; ++mode) {
            const std::string what = std::to_string(c.w) + "x" + std::to_string(c.h) + "x" +
                                     std::to_string(c.samples) + " by " + std::to_string(c.xf) + "," +
                                     std::to_string(c.yf) + " mode " + std::to_string(mode);
            SCOPED_TRACE(what);
            ImgClass src;
            RandomImage(src, c.w, c.h, c.samples, mode, rng);
            const std::string out = dir.File("low.tif");
            fs::remove(out);
            ASSERT_FALSE(Low_Memory_ScaleImage(mode % 2 == 0, &src, const_cast<char*>(out.c_str()), c.xf, c.yf))
                << Get_Last_Error();
            // The normal end is the row limit, and it says so.
            const ref::Image want = ref::Scale(src, c.xf, c.yf, 1.5);
            EXPECT_EQ(std::string(Get_Last_Error()),
                      "CScaleImage ERROR writing TIFF line " + std::to_string(want.height - 1) + "\n");
            ImgClass got;
            ASSERT_FALSE(ReadBack(out, got)) << Get_Last_Error();
            ASSERT_TRUE(SameAsReference(got, want));

            // Against the in-memory scaler: equal, except where the exact
            // value lies from 1.0 up to 1.5 (1 there, 0 here).
            ImgClass mem;
            ASSERT_FALSE(ScaleImage(&src, c.xf, c.yf, &mem)) << Get_Last_Error();
            const ref::Image plain = ref::Scale(src, c.xf, c.yf);
            ASSERT_TRUE(SameAsReference(mem, plain));
            const size_t row = size_t{want.width} * want.samples;
            for (uint32_t y = 0; y < want.height; ++y)
                for (size_t i = 0; i < row; ++i) {
                    const int a = got.ImgStruct.ImgData[size_t{y} * got.ImgStruct.LineSize + i];
                    const int b = mem.ImgStruct.ImgData[size_t{y} * mem.ImgStruct.LineSize + i];
                    if (a != b) {
                        ASSERT_EQ(b, 1) << "row " << y << " byte " << i;
                        ASSERT_EQ(a, 0) << "row " << y << " byte " << i;
                        ++lowered;
                    }
                }
        }
    }
    EXPECT_GT(lowered, 0) << "no value fell between the two floors";
}

TEST_F(LowMemoryScale, ColourFileTagsAndCompression) {
    std::mt19937 rng(4);
    ImgClass src;
    RandomImage(src, 400, 300, 3, 3, rng);
    src.ImgStruct.Resolution = 72.0;
    src.ImgStruct.ResUnit = 3;
    const std::string lzw = dir.File("lzw.tif"), plain = dir.File("plain.tif");
    ASSERT_FALSE(Low_Memory_ScaleImage(true, &src, const_cast<char*>(lzw.c_str()), 0.5, -1.0));
    ASSERT_FALSE(Low_Memory_ScaleImage(false, &src, const_cast<char*>(plain.c_str()), 0.5, -1.0));

    TiffTags t = ReadTiffTags(lzw);
    ASSERT_TRUE(t.opened);
    EXPECT_EQ(t.width, 200u);
    EXPECT_EQ(t.length, 150u);
    EXPECT_EQ(t.compression, COMPRESSION_LZW);
    EXPECT_EQ(t.photometric, PHOTOMETRIC_RGB);
    EXPECT_EQ(t.spp, 3);
    EXPECT_EQ(t.unit, 3);
    EXPECT_FLOAT_EQ(t.xres, 72.0f);
    EXPECT_FLOAT_EQ(t.yres, 72.0f);
    t = ReadTiffTags(plain);
    ASSERT_TRUE(t.opened);
    EXPECT_EQ(t.compression, COMPRESSION_NONE);

    ImgClass a, b;
    ASSERT_FALSE(ReadBack(lzw, a));
    ASSERT_FALSE(ReadBack(plain, b));
    EXPECT_TRUE(SamePixels(a, b));
    EXPECT_TRUE(SameAsReference(a, ref::Scale(src, 0.5, -1.0, 1.5)));
}

TEST_F(LowMemoryScale, GreySourceGivesBlackIsZeroFile) {
    std::mt19937 rng(8);
    ImgClass src;
    RandomImage(src, 75, 51, 1, 0, rng);
    const std::string out = dir.File("grey.tif");
    ASSERT_FALSE(Low_Memory_ScaleImage(true, &src, const_cast<char*>(out.c_str()), 1.3, 0.7));
    const TiffTags t = ReadTiffTags(out);
    ASSERT_TRUE(t.opened);
    EXPECT_EQ(t.photometric, PHOTOMETRIC_MINISBLACK);
    EXPECT_EQ(t.spp, 1);
    EXPECT_EQ(t.width, 98u);   // trunc(97.5 + 0.5)
    EXPECT_EQ(t.length, 36u);  // trunc(35.7 + 0.5)
    EXPECT_EQ(t.unit, 2);
    EXPECT_FLOAT_EQ(t.xres, 150.0f);
}

TEST_F(LowMemoryScale, FactorOneWritesTheSourceUnscaled) {
    for (const int samples : {1, 3}) {
        for (const double yf : {-1.0, 1.0}) {
            SCOPED_TRACE(std::to_string(samples) + " samples, vertical " + std::to_string(yf));
            ImgClass src;
            MakeImage(src, 33, 21, samples, 5);
            SetName(src, "/nowhere/source-name.tif");
            const std::string out = dir.File("same.tif");
            fs::remove(out);
            Post_Error("stale");
            ASSERT_FALSE(Low_Memory_ScaleImage(true, &src, const_cast<char*>(out.c_str()), 1.0, yf))
                << Get_Last_Error();
            EXPECT_STREQ(Get_Last_Error(), "");
            EXPECT_STREQ(src.ImgStruct.FileName, "/nowhere/source-name.tif");
            const TiffTags t = ReadTiffTags(out);
            ASSERT_TRUE(t.opened);
            EXPECT_EQ(t.compression, COMPRESSION_LZW);
            ImgClass back;
            ASSERT_FALSE(ReadBack(out, back));
            EXPECT_TRUE(SamePixels(back, src));
        }
    }
}

TEST_F(LowMemoryScale, OutputInAMissingFolderFails) {
    ImgClass src;
    MakeImage(src, 20, 10, 3);
    const std::string out = dir.File("absent/out.tif");
    EXPECT_TRUE(Low_Memory_ScaleImage(false, &src, const_cast<char*>(out.c_str()), 0.5, -1.0));
    // The scaler's own message comes last, after the codec's reason.
    const std::string error = Get_Last_Error();
    const std::string expected = std::string(kOpenFailed) + "\n";
    ASSERT_GE(error.size(), expected.size()) << error;
    EXPECT_EQ(error.substr(error.size() - expected.size()), expected) << error;
    EXPECT_NE(error.find(out), std::string::npos) << error;
    EXPECT_FALSE(fs::exists(out));
    // The codec is free again: the next TIFF operation works.
    const std::string next = dir.File("next.tif");
    SetName(src, next);
    ASSERT_FALSE(WriteTIFF(false, false, &src)) << Get_Last_Error();
    ImgClass back;
    ASSERT_FALSE(ReadBack(next, back)) << Get_Last_Error();
    EXPECT_TRUE(SamePixels(back, src));
}

TEST_F(LowMemoryScale, ZeroSizeSourceIsRefused) {
    ImgClass src;
    MakeImage(src, 4, 4, 1);
    src.ImgStruct.Width = 0;
    const std::string out = dir.File("zero.tif");
    EXPECT_TRUE(Low_Memory_ScaleImage(false, &src, const_cast<char*>(out.c_str()), 2.0, -1.0));
    EXPECT_STREQ(Get_Last_Error(), "0010\tCScaleImage(..) 0 4 Err exit\n\n");
    EXPECT_FALSE(fs::exists(out));
}

TEST_F(LowMemoryScale, BgrSourceIsWrittenRgbAndRestored) {
    ImgClass rgb;
    MakeImage(rgb, 29, 19, 3, 6);
    const std::string want = dir.File("want.tif"), got = dir.File("got.tif");
    ASSERT_FALSE(Low_Memory_ScaleImage(false, &rgb, const_cast<char*>(want.c_str()), 1.6, -1.0));

    ImgClass bgr;
    MakeImage(bgr, 29, 19, 3, 6);
    Swap_RGB(&bgr);
    ASSERT_EQ(bgr.ImgStruct.BgrOrder, 1);
    const std::vector<unsigned char> original(bgr.ImgStruct.ImgData,
                                              bgr.ImgStruct.ImgData + size_t{bgr.ImgStruct.LineSize} * 19);
    auto unchanged = [&] {
        EXPECT_EQ(bgr.ImgStruct.BgrOrder, 1);
        EXPECT_EQ(0, std::memcmp(bgr.ImgStruct.ImgData, original.data(), original.size()));
    };
    ASSERT_FALSE(Low_Memory_ScaleImage(false, &bgr, const_cast<char*>(got.c_str()), 1.6, -1.0));
    unchanged();
    ImgClass a, b;
    ASSERT_FALSE(ReadBack(want, a));
    ASSERT_FALSE(ReadBack(got, b));
    EXPECT_TRUE(SamePixels(a, b));

    // Unscaled, the file is in R,G,B order too.
    const std::string same = dir.File("same.tif");
    ASSERT_FALSE(Low_Memory_ScaleImage(false, &bgr, const_cast<char*>(same.c_str()), 1.0, -1.0));
    unchanged();
    ImgClass back;
    ASSERT_FALSE(ReadBack(same, back));
    EXPECT_TRUE(SamePixels(back, rgb));

    // And after a failure.
    const std::string bad = dir.File("absent/bad.tif");
    EXPECT_TRUE(Low_Memory_ScaleImage(false, &bgr, const_cast<char*>(bad.c_str()), 1.6, -1.0));
    unchanged();
    EXPECT_TRUE(Low_Memory_ScaleImage(false, &bgr, const_cast<char*>(bad.c_str()), 1.0, -1.0));
    unchanged();
}

TEST_F(LowMemoryScale, ClosesAFileTheCodecHadOpenAndItsOwn) {
    // A file left open for reading is closed first; the output is closed
    // on success, so a reader can open both at once afterwards.
    ImgClass src;
    MakeImage(src, 50, 40, 1);
    const std::string input = dir.File("input.tif");
    SetName(src, input);
    ASSERT_FALSE(WriteTIFF(false, false, &src));
    ASSERT_NE(orvix::Lib().tiff->OpenTiffFile(input.c_str()), nullptr);
    ASSERT_TRUE(orvix::Lib().tiff->IsOpen());

    const std::string out = dir.File("closed.tif");
    ASSERT_FALSE(Low_Memory_ScaleImage(true, &src, const_cast<char*>(out.c_str()), 0.8, -1.0));
    EXPECT_FALSE(orvix::Lib().tiff->IsOpen());
    ImgClass back, again;
    ASSERT_FALSE(ReadBack(out, back)) << Get_Last_Error();
    EXPECT_TRUE(SameAsReference(back, ref::Scale(src, 0.8, -1.0, 1.5)));
    ASSERT_FALSE(ReadBack(input, again)) << Get_Last_Error();
    EXPECT_TRUE(SamePixels(again, src));

    // The factor-1 path closes its file as well.
    const std::string copy = dir.File("copy.tif");
    ASSERT_FALSE(Low_Memory_ScaleImage(false, &src, const_cast<char*>(copy.c_str()), 1.0, -1.0));
    EXPECT_FALSE(orvix::Lib().tiff->IsOpen());
    ASSERT_FALSE(ReadBack(copy, back)) << Get_Last_Error();
    EXPECT_TRUE(SamePixels(back, src));
}

TEST_F(LowMemoryScale, LoadsAnEmptySourceFromTheCurrentHeader) {
    ImgClass file;
    MakeImage(file, 24, 18, 3, 9);
    const std::string path = dir.File("from-header.ppm");
    SetName(file, path);
    ASSERT_FALSE(Write_8BitPPM(&file));
    IMAGE_HDR& hdr = orvix::Lib().hdr->Header();
    const IMAGE_HDR saved = hdr;
    std::strcpy(hdr.FileName, path.c_str());

    ImgClass src;
    const std::string out = dir.File("loaded.tif");
    ASSERT_FALSE(Low_Memory_ScaleImage(false, &src, const_cast<char*>(out.c_str()), 1.5, -1.0))
        << Get_Last_Error();
    ASSERT_NE(src.ImgStruct.ImgData, nullptr);
    ImgClass back;
    ASSERT_FALSE(ReadBack(out, back));
    EXPECT_TRUE(SameAsReference(back, ref::Scale(file, 1.5, -1.0, 1.5)));

    // An unreadable file fails and writes nothing.
    std::strcpy(hdr.FileName, dir.File("absent.ppm").c_str());
    ImgClass missing;
    const std::string none = dir.File("none.tif");
    EXPECT_TRUE(Low_Memory_ScaleImage(false, &missing, const_cast<char*>(none.c_str()), 1.5, -1.0));
    EXPECT_FALSE(fs::exists(none));
    hdr = saved;
}
