// Transparency through the library: resampling with premultiplied alpha,
// flattening, the operations that refuse or keep alpha, TIFF's alpha sample
// and the writers of formats without one.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "codecs/targa.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const int kFilters[] = {FILTER_LANCZOS3, FILTER_MITCHELL, FILTER_CATMULL_ROM, FILTER_BOX};

std::string Error() { return Get_Last_Error(); }

uint8_t* Pixel(ImgClass& img, uint32_t x, uint32_t y) {
    ImgStruct& s = img.ImgStruct;
    return s.ImgData + size_t{y} * s.LineSize + size_t{x} * size_t(s.Samples);
}

// A size x size image of `samples` (2 or 4): an opaque square of `colour`
// with a half-transparent border a pixel wide, on pixels whose alpha is 0
// and whose colour is `under` (which must never show).
void MakeSquare(ImgClass& img, int samples, uint32_t size, const std::vector<uint8_t>& colour,
                const std::vector<uint8_t>& under) {
    MakeImage(img, size, size, samples);
    const uint32_t lo = size / 4, hi = size - size / 4;
    for (uint32_t y = 0; y < size; ++y)
        for (uint32_t x = 0; x < size; ++x) {
            const bool inside = x >= lo && x < hi && y >= lo && y < hi;
            const bool edge = inside && (x == lo || y == lo || x == hi - 1 || y == hi - 1);
            uint8_t* p = Pixel(img, x, y);
            for (int c = 0; c + 1 < samples; ++c) p[c] = inside ? colour[size_t(c)] : under[size_t(c)];
            p[samples - 1] = !inside ? 0 : edge ? 128 : 255;
        }
}

// The alpha plane of img as a grey image.
void AlphaPlane(ImgClass& img, ImgClass& plane) {
    const ImgStruct& s = img.ImgStruct;
    MakeImage(plane, s.Width, s.Height, 1);
    for (uint32_t y = 0; y < s.Height; ++y)
        for (uint32_t x = 0; x < s.Width; ++x) *Pixel(plane, x, y) = Pixel(img, x, y)[s.Samples - 1];
}

// ---- Resampling ---------------------------------------------------------------------

TEST(AlphaResample, PartlyTransparentPixelsKeepTheSquaresColour) {
    struct Case {
        const char* what;
        int samples;
        bool bgr;
        std::vector<uint8_t> stored, under, expected;
    };
    const Case cases[] = {
        {"red on transparent green", 4, false, {255, 0, 0}, {0, 255, 0}, {255, 0, 0}},
        {"red stored B,G,R", 4, true, {0, 0, 255}, {255, 255, 255}, {255, 0, 0}},
        {"white on transparent black", 2, false, {255}, {0}, {255}},
        {"grey on transparent white", 2, false, {90}, {255}, {90}},
    };
    const int sizes[][2] = {{20, 20}, {13, 13}, {7, 9}, {57, 31}};  // halved, reduced, enlarged
    for (const Case& k : cases) {
        ImgClass src;
        MakeSquare(src, k.samples, 40, k.stored, k.under);
        src.ImgStruct.BgrOrder = k.bgr;
        ImgClass plane, planeOut;
        AlphaPlane(src, plane);
        const size_t colours = size_t(k.samples) - 1;
        for (const int filter : kFilters)
            for (const auto& size : sizes) {
                const std::string what = std::string(k.what) + ", " + FilterName(filter) + " to " +
                                         std::to_string(size[0]) + " x " + std::to_string(size[1]);
                ImgClass out;
                ASSERT_FALSE(ResampleImage(&src, &out, size[0], size[1], filter)) << what << Error();
                ASSERT_EQ(out.ImgStruct.Samples, k.samples) << what;
                EXPECT_EQ(out.ImgStruct.BgrOrder, 0) << what;
                // Alpha is filtered as a grey image would be.
                ASSERT_FALSE(ResampleImage(&plane, &planeOut, size[0], size[1], filter)) << what;
                int seen = 0, fringe = 0;
                for (uint32_t y = 0; y < out.ImgStruct.Height; ++y)
                    for (uint32_t x = 0; x < out.ImgStruct.Width; ++x) {
                        const uint8_t* p = Pixel(out, x, y);
                        const int a = p[colours];
                        ASSERT_NEAR(a, *Pixel(planeOut, x, y), 1) << what << " at " << x << "," << y;
                        if (a == 0) continue;
                        ++seen;
                        fringe += a < 255;
                        for (size_t c = 0; c < colours; ++c)
                            ASSERT_NEAR(p[c], k.expected[c], 1) << what << " at " << x << "," << y;
                    }
                EXPECT_GT(seen, 0) << what;
                EXPECT_GT(fringe, 0) << what << ": no partly transparent pixel was checked";
            }
    }
}

TEST(AlphaResample, LowMemoryFileHoldsTheSameAlphaPixels) {
    TempDir dir;
    ImgClass src;
    MakeImage(src, 33, 21, 4, 7);
    ImgClass out;
    ASSERT_FALSE(ResampleImage(&src, &out, 16, 30, FILTER_LANCZOS3)) << Error();
    const std::string file = dir.File("low.tif");
    ASSERT_FALSE(Low_Memory_ResampleImage(true, &src, const_cast<char*>(file.c_str()), 16, 30,
                                          FILTER_LANCZOS3))
        << Error();
    ImgClass back;
    SetName(back, file);
    ASSERT_FALSE(ReadImage(false, &back)) << Error();
    ASSERT_EQ(back.ImgStruct.Samples, 4);
    for (uint32_t y = 0; y < 30; ++y)
        ASSERT_EQ(std::memcmp(Pixel(back, 0, y), Pixel(out, 0, y), 16 * 4), 0) << "row " << y;
}

// ---- Flattening ---------------------------------------------------------------------

TEST(FlattenImage, CompositesOverTheBackgroundRounded) {
    struct Case {
        int samples;
        bool bgr;
        std::vector<uint8_t> pixel;  // as stored, alpha last
        uint8_t r, g, b;
        std::vector<uint8_t> expected;  // as stored
    };
    const Case cases[] = {
        {4, false, {200, 100, 50, 255}, 0, 0, 0, {200, 100, 50}},
        {4, false, {200, 100, 50, 0}, 10, 20, 30, {10, 20, 30}},
        {4, false, {255, 0, 0, 128}, 255, 255, 255, {255, 127, 127}},
        {4, false, {255, 0, 0, 128}, 0, 0, 0, {128, 0, 0}},
        {4, false, {0, 100, 201, 77}, 255, 0, 100, {178, 30, 130}},
        {4, true, {50, 100, 200, 0}, 10, 20, 30, {30, 20, 10}},  // B,G,R stays B,G,R
        {2, false, {100, 128}, 255, 255, 255, {177}},
        {2, false, {100, 0}, 255, 0, 0, {76}},  // the luma of red
        {2, false, {100, 255}, 7, 7, 7, {100}},
    };
    for (const Case& k : cases) {
        const std::string what = std::to_string(k.samples) + " samples, alpha " +
                                 std::to_string(k.pixel.back()) + " over " + std::to_string(k.r) +
                                 "," + std::to_string(k.g) + "," + std::to_string(k.b);
        ImgClass img;
        MakeImage(img, 5, 3, k.samples);
        img.ImgStruct.BgrOrder = k.bgr;
        img.ImgStruct.Resolution = 72.0;
        for (uint32_t y = 0; y < 3; ++y)
            for (uint32_t x = 0; x < 5; ++x) std::memcpy(Pixel(img, x, y), k.pixel.data(), k.pixel.size());
        ASSERT_FALSE(FlattenImage(&img, k.r, k.g, k.b)) << what << Error();
        const ImgStruct& s = img.ImgStruct;
        ASSERT_EQ(s.Samples, k.samples - 1) << what;
        EXPECT_EQ(s.LineSize, (5u * uint32_t(s.Samples) + 3u) & ~3u) << what;
        EXPECT_EQ(s.BgrOrder, k.bgr) << what;
        EXPECT_EQ(s.Resolution, 72.0) << what;
        for (uint32_t y = 0; y < 3; ++y)
            for (uint32_t x = 0; x < 5; ++x)
                EXPECT_EQ(std::vector<uint8_t>(Pixel(img, x, y), Pixel(img, x, y) + s.Samples), k.expected)
                    << what << " at " << x << "," << y;
    }
    // Grey and colour are left as they are.
    for (const int samples : {1, 3}) {
        ImgClass img;
        MakeImage(img, 4, 4, samples);
        const uint8_t* before = img.ImgStruct.ImgData;
        EXPECT_FALSE(FlattenImage(&img, 1, 2, 3));
        EXPECT_EQ(img.ImgStruct.ImgData, before);
        EXPECT_EQ(img.ImgStruct.Samples, samples);
        EXPECT_EQ(At(img, 1, 1, 0), PatternSample(1, 1, 0, 1));
    }
    EXPECT_TRUE(FlattenImage(nullptr, 0, 0, 0));
    ImgClass empty;
    empty.ImgStruct.Samples = 4;
    EXPECT_TRUE(FlattenImage(&empty, 0, 0, 0));
    EXPECT_NE(Error().find("FlattenImage"), std::string::npos) << Error();
}

// ---- Operations that take no alpha, and those that keep it --------------------------------

TEST(AlphaOperations, GreyOrColourOnlyOperationsRefuseWithWords) {
    TempDir dir;
    const std::string file = dir.File("out.tif");
    struct Case {
        const char* name;
        int samples;
        std::function<bool(ImgClass&)> call;
    };
    const Case cases[] = {
        {"ScaleImage", 4, [](ImgClass& img) { ImgClass d; return ScaleImage(&img, 0.5, 0.5, &d); }},
        {"ScaleImage", 2, [](ImgClass& img) { ImgClass d; return ScaleImage(&img, 2.0, -1, &d); }},
        {"Low_Memory_ScaleImage", 4,
         [&](ImgClass& img) { return Low_Memory_ScaleImage(false, &img, const_cast<char*>(file.c_str()), 0.5, 0.5); }},
        {"Open_Write_Tiff", 4, [&](ImgClass& img) { SetName(img, file); return WriteZUL_TIFF(false, false, &img); }},
        {"RGBtoYCC", 2, [](ImgClass& img) { return RGBtoYCC(&img); }},
        {"YCCtoRGB", 2, [](ImgClass& img) { return YCCtoRGB(&img); }},
    };
    for (const Case& k : cases) {
        ImgClass img;
        MakeImage(img, 8, 6, k.samples);
        const std::vector<uint8_t> before(img.ImgStruct.ImgData, img.ImgStruct.ImgData + 6 * img.ImgStruct.LineSize);
        Post_Error("");
        EXPECT_TRUE(k.call(img)) << k.name;
        EXPECT_NE(Error().find(k.name), std::string::npos) << k.name << ": " << Error();
        EXPECT_EQ(img.ImgStruct.Samples, k.samples) << k.name;
        EXPECT_EQ(std::vector<uint8_t>(img.ImgStruct.ImgData, img.ImgStruct.ImgData + before.size()), before)
            << k.name;
        EXPECT_FALSE(fs::exists(file)) << k.name;
    }
}

TEST(AlphaOperations, WholePixelOperationsKeepAlpha) {
    // A 3 x 2 image of 4 samples: pixel (x, y) is (x, y, 9, 10 * x + y).
    const auto make = [](ImgClass& img) {
        MakeImage(img, 3, 2, 4);
        for (uint32_t y = 0; y < 2; ++y)
            for (uint32_t x = 0; x < 3; ++x) {
                const uint8_t p[4] = {uint8_t(x), uint8_t(y), 9, uint8_t(10 * x + y)};
                std::memcpy(Pixel(img, x, y), p, 4);
            }
    };
    ImgClass img;
    make(img);
    ASSERT_FALSE(Rotate_Image(&img, ROTATE_MIRROR));
    EXPECT_EQ(std::vector<uint8_t>(Pixel(img, 0, 1), Pixel(img, 0, 1) + 4), (std::vector<uint8_t>{2, 1, 9, 21}));
    ImgClass turned;
    make(turned);
    ASSERT_FALSE(Rotate_Image(&turned, ROTATE_CW90));
    ASSERT_EQ(turned.ImgStruct.Width, 2u);
    EXPECT_EQ(std::vector<uint8_t>(Pixel(turned, 0, 2), Pixel(turned, 0, 2) + 4), (std::vector<uint8_t>{2, 1, 9, 21}));
    ImgClass small;
    make(img);
    SubsampleLocalImage(&img, &small, 2, 1);
    ASSERT_EQ(small.ImgStruct.Samples, 4);
    EXPECT_EQ(std::vector<uint8_t>(Pixel(small, 1, 0), Pixel(small, 1, 0) + 4), (std::vector<uint8_t>{1, 0, 9, 10}));
    ASSERT_FALSE(Swap_RGB(&img));
    EXPECT_EQ(std::vector<uint8_t>(Pixel(img, 2, 1), Pixel(img, 2, 1) + 4), (std::vector<uint8_t>{9, 1, 2, 21}));
    ASSERT_FALSE(RGB_to_BW(&img));
    ASSERT_EQ(img.ImgStruct.Samples, 2);
    EXPECT_EQ(Pixel(img, 2, 1)[1], 21);
}

// ---- TIFF's alpha sample --------------------------------------------------------------

// Writes a 4 x 3 TIFF of spp 8-bit samples, photometric and the one extra
// sample `extra`, every pixel `pixel`, in one plane or in separate ones.
void WriteTiffWithExtra(const std::string& path, uint16_t spp, uint16_t photometric, uint16_t extra,
                        const std::vector<uint8_t>& pixel, bool separate) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 4u);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 3u);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, spp);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, photometric);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, separate ? PLANARCONFIG_SEPARATE : PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, &extra);
    for (uint16_t plane = 0; plane < (separate ? spp : 1); ++plane) {
        std::vector<uint8_t> row;
        for (int x = 0; x < 4; ++x)
            if (separate)
                row.push_back(pixel[plane]);
            else
                row.insert(row.end(), pixel.begin(), pixel.end());
        for (uint32_t y = 0; y < 3; ++y) ASSERT_GE(TIFFWriteScanline(tif, row.data(), y, plane), 0);
    }
    TIFFClose(tif);
}

TEST(TiffAlpha, ExtraSamplesAreReadAsAlphaOrDropped) {
    TempDir dir;
    struct Case {
        const char* what;
        uint16_t spp, photometric, extra;
        std::vector<uint8_t> stored, delivered;
        bool separate = false;
    };
    const Case cases[] = {
        {"colour, unassociated", 4, PHOTOMETRIC_RGB, EXTRASAMPLE_UNASSALPHA, {200, 100, 7, 60}, {200, 100, 7, 60}},
        {"colour, associated", 4, PHOTOMETRIC_RGB, EXTRASAMPLE_ASSOCALPHA, {40, 20, 10, 80}, {127, 63, 31, 80}},
        {"grey, unassociated", 2, PHOTOMETRIC_MINISBLACK, EXTRASAMPLE_UNASSALPHA, {33, 200}, {33, 200}},
        {"grey, associated", 2, PHOTOMETRIC_MINISBLACK, EXTRASAMPLE_ASSOCALPHA, {50, 100}, {127, 100}},
        {"colour, unspecified", 4, PHOTOMETRIC_RGB, EXTRASAMPLE_UNSPECIFIED, {200, 100, 7, 60}, {200, 100, 7}},
        {"planes, unassociated", 4, PHOTOMETRIC_RGB, EXTRASAMPLE_UNASSALPHA, {200, 100, 7, 60}, {200, 100, 7, 60}, true},
        {"planes, associated", 2, PHOTOMETRIC_MINISBLACK, EXTRASAMPLE_ASSOCALPHA, {50, 100}, {127, 100}, true},
    };
    for (const Case& k : cases) {
        const std::string file = dir.File(std::string(k.what).substr(0, 5) + std::to_string(k.extra) + ".tif");
        WriteTiffWithExtra(file, k.spp, k.photometric, k.extra, k.stored, k.separate);
        ImgClass img;
        SetName(img, file);
        ASSERT_FALSE(ReadImage(false, &img)) << k.what << Error();
        ASSERT_EQ(img.ImgStruct.Samples, int(k.delivered.size())) << k.what;
        EXPECT_EQ(std::vector<uint8_t>(Pixel(img, 3, 2), Pixel(img, 3, 2) + k.delivered.size()), k.delivered)
            << k.what;
        // A rectangle is read as the whole image is.
        ImgClass rect;
        ASSERT_FALSE(GetImageRectangle(file.c_str(), CRect{1, 1, 4, 3}, &rect)) << k.what << Error();
        ASSERT_EQ(rect.ImgStruct.Samples, int(k.delivered.size())) << k.what;
        EXPECT_EQ(std::vector<uint8_t>(Pixel(rect, 2, 1), Pixel(rect, 2, 1) + k.delivered.size()), k.delivered)
            << k.what;
    }
}

TEST(TiffAlpha, WrittenAlphaIsUnassociatedAndReadBackExactly) {
    TempDir dir;
    for (const int samples : {2, 4})
        for (const bool lzw : {false, true}) {
            const std::string what = std::to_string(samples) + (lzw ? " samples, LZW" : " samples");
            ImgClass img;
            MakeImage(img, 31, 17, samples, 5);
            SetName(img, dir.File(what + ".tif"));
            ASSERT_FALSE(WriteTIFF(lzw, false, &img)) << what << Error();
            TIFF* tif = TIFFOpen(img.ImgStruct.FileName, "r");
            ASSERT_NE(tif, nullptr) << what;
            uint16_t count = 0;
            uint16_t* types = nullptr;
            ASSERT_TRUE(TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &types)) << what;
            ASSERT_EQ(count, 1) << what;
            EXPECT_EQ(types[0], EXTRASAMPLE_UNASSALPHA) << what;
            TIFFClose(tif);
            ImgClass back;
            SetName(back, img.ImgStruct.FileName);
            ASSERT_FALSE(ReadImage(false, &back)) << what << Error();
            ASSERT_EQ(back.ImgStruct.Samples, samples) << what;
            for (uint32_t y = 0; y < 17; ++y)
                ASSERT_EQ(std::memcmp(Pixel(back, 0, y), Pixel(img, 0, y), 31 * size_t(samples)), 0)
                    << what << " row " << y;
        }
}

// ---- Writers of formats without alpha ----------------------------------------------------

TEST(AlphaWriters, FlattenOntoWhiteAndLeaveTheImageAlone) {
    TempDir dir;
    struct Case {
        const char* ext;
        int samples;
        int tolerance;
        std::function<bool(ImgClass&)> write;
    };
    const Case cases[] = {
        {"jpg", 4, 4, [](ImgClass& img) { return WriteJPEG(95, &img); }},
        {"jpg", 2, 4, [](ImgClass& img) { return WriteJPEG(95, &img); }},
        {"bmp", 4, 0, [](ImgClass& img) { return Write_BMP(&img); }},
        {"ppm", 4, 0, [](ImgClass& img) { return Write_8BitPPM(&img); }},
        {"pgm", 2, 0, [](ImgClass& img) { return Write_8BitPGM(&img); }},
        {"tga", 4, 0, [](ImgClass& img) { return orvix::TargaClass().WriteTarga(&img); }},
    };
    for (const Case& k : cases) {
        const std::string what = std::string(k.ext) + ", " + std::to_string(k.samples) + " samples";
        // Left half transparent black, right half opaque dark blue (or grey).
        ImgClass img;
        MakeImage(img, 32, 16, k.samples);
        for (uint32_t y = 0; y < 16; ++y)
            for (uint32_t x = 0; x < 32; ++x) {
                uint8_t* p = Pixel(img, x, y);
                std::memset(p, 0, size_t(k.samples));
                if (x >= 16) {
                    p[k.samples == 4 ? 2 : 0] = 120;
                    p[k.samples - 1] = 255;
                }
            }
        SetName(img, dir.File(std::to_string(k.samples) + "." + k.ext));
        const std::vector<uint8_t> before(img.ImgStruct.ImgData, img.ImgStruct.ImgData + 16 * img.ImgStruct.LineSize);
        ASSERT_FALSE(k.write(img)) << what << Error();
        EXPECT_EQ(img.ImgStruct.Samples, k.samples) << what;
        EXPECT_EQ(img.ImgStruct.BgrOrder, 0) << what;
        EXPECT_EQ(std::vector<uint8_t>(img.ImgStruct.ImgData, img.ImgStruct.ImgData + before.size()), before) << what;
        ImgClass back;
        SetName(back, img.ImgStruct.FileName);
        ASSERT_FALSE(ReadImage(false, &back)) << what << Error();
        const int colours = back.ImgStruct.Samples;
        for (const uint32_t x : {1u, 8u, 12u, 20u, 30u}) {
            const uint8_t* p = Pixel(back, x, 8);
            for (int c = 0; c < colours; ++c) {
                const int expected = x < 16 ? 255 : (c == colours - 1 ? 120 : 0);
                EXPECT_NEAR(p[c], expected, k.tolerance) << what << " at x " << x << " sample " << c;
            }
        }
    }
}

}  // namespace
