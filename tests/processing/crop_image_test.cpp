// Crops cut from image files, and the zoom that works from an image's name:
// the rectangles they settle on and the pixels they deliver, compared with
// the file's own pixels.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <filesystem>
#include <regex>
#include <string>

#include "library.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Every pixel of a colour image names its own position: R and the low half
// of G hold the column, B and the high half of G the row.
uint8_t Coded(uint32_t x, uint32_t y, int c) {
    switch (c) {
    case 0: return static_cast<uint8_t>(x);
    case 1: return static_cast<uint8_t>(((x >> 8) & 15) | (((y >> 8) & 15) << 4));
    default: return static_cast<uint8_t>(y);
    }
}

void WriteCodedPpm(const std::string& path, uint32_t w, uint32_t h) {
    ImgClass img;
    MakeImage(img, w, h, 3);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                img.ImgStruct.ImgData[size_t{y} * img.ImgStruct.LineSize + size_t{x} * 3 + c] = Coded(x, y, c);
    SetName(img, path);
    ASSERT_FALSE(Write_8BitPPM(&img)) << Get_Last_Error();
}

// out's pixel (x, y) is the coded pixel (col(x), row(y)) for rows below
// `rows`.
template <class Col, class Row>
::testing::AssertionResult Shows(const ImgClass& out, uint32_t w, uint32_t h, uint32_t rows, Col col, Row row) {
    const ImgStruct& s = out.ImgStruct;
    if (!s.ImgData || s.Width != w || s.Height != h || s.Samples != 3)
        return ::testing::AssertionFailure() << "image " << s.Width << "x" << s.Height << "x" << s.Samples
                                             << ", want " << w << "x" << h << "x3";
    for (uint32_t y = 0; y < rows; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                if (At(out, x, y, c) != Coded(col(x), row(y), c))
                    return ::testing::AssertionFailure()
                           << "pixel (" << x << "," << y << ") sample " << c << " is " << int(At(out, x, y, c))
                           << ", want that of (" << col(x) << "," << row(y) << ")";
    return ::testing::AssertionSuccess();
}

void ExpectRect(const CRect& r, int l, int t, int rr, int b) {
    EXPECT_EQ(r.left, l);
    EXPECT_EQ(r.top, t);
    EXPECT_EQ(r.right, rr);
    EXPECT_EQ(r.bottom, b);
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

// ---- GetCropImage -------------------------------------------------------------------------

class CropFromFile : public ::testing::Test {
protected:
    void SetUp() override {
        image = dir.File("photo.ppm");
        WriteCodedPpm(image, 300, 200);
    }
    TempDir dir;
    std::string image;
};

TEST_F(CropFromFile, SameWidthCopiesTheRectanglePixelForPixel) {
    CRect rect{17, 23, 140, 91};  // 123 x 68: odd rows of 369 bytes
    ImgClass out;
    Post_Error("stale");
    ASSERT_FALSE(GetCropImage(123, &rect, image.data(), &out)) << Get_Last_Error();
    EXPECT_EQ(out.ImgStruct.LineSize, 372u);
    EXPECT_TRUE(Shows(out, 123, 68, 68, [](uint32_t x) { return 17 + x; }, [](uint32_t y) { return 23 + y; }));
    ExpectRect(rect, 17, 23, 140, 91);  // the caller's rectangle is left alone
    // The call starts with a clean last-error text.
    EXPECT_STREQ(Get_Last_Error(), "");

    // A header file names the same image.
    const std::string header = dir.File("photo.hdr");
    ASSERT_FALSE(Make_Local_Header(image.c_str(), header.c_str())) << Get_Last_Error();
    ImgClass viaHeader;
    ASSERT_FALSE(GetCropImage(123, &rect, const_cast<char*>(header.c_str()), &viaHeader)) << Get_Last_Error();
    EXPECT_TRUE(Shows(viaHeader, 123, 68, 68, [](uint32_t x) { return 17 + x; },
                      [](uint32_t y) { return 23 + y; }));

    // The whole image.
    CRect whole{0, 0, 300, 200};
    ImgClass all;
    ASSERT_FALSE(GetCropImage(300, &whole, image.data(), &all));
    EXPECT_TRUE(Shows(all, 300, 200, 200, [](uint32_t x) { return x; }, [](uint32_t y) { return y; }));
}

TEST_F(CropFromFile, OtherWidthsKeepTheRectangleAspect) {
    CRect rect{17, 23, 140, 91};
    ImgClass third;
    ASSERT_FALSE(GetCropImage(41, &rect, image.data(), &third)) << Get_Last_Error();
    // Step 3 in both directions: trunc(68 / 3) rows.
    EXPECT_TRUE(Shows(third, 41, 22, 22, [](uint32_t x) { return 17 + 3 * x; },
                      [](uint32_t y) { return 23 + 3 * y; }));

    ImgClass twice;
    ASSERT_FALSE(GetCropImage(246, &rect, image.data(), &twice)) << Get_Last_Error();
    EXPECT_TRUE(Shows(twice, 246, 136, 136, [](uint32_t x) { return 17 + x / 2; },
                      [](uint32_t y) { return 23 + y / 2; }));
}

TEST_F(CropFromFile, RepeatedRequestsUseTheDecodedImage) {
    CRect rect{0, 0, 60, 40};
    ImgClass first;
    ASSERT_FALSE(GetCropImage(60, &rect, image.data(), &first));
    // The file changes under the same name; the image held from the first
    // request is cut again.
    ImgClass other;
    MakeImage(other, 300, 200, 3, 77);
    SetName(other, image);
    ASSERT_FALSE(Write_8BitPPM(&other));
    ImgClass second;
    ASSERT_FALSE(GetCropImage(60, &rect, image.data(), &second));
    EXPECT_TRUE(Shows(second, 60, 40, 40, [](uint32_t x) { return x; }, [](uint32_t y) { return y; }));

    // Another name is read afresh.
    const std::string copy = dir.File("copy.ppm");
    fs::copy_file(image, copy);
    ImgClass third;
    ASSERT_FALSE(GetCropImage(60, &rect, const_cast<char*>(copy.c_str()), &third));
    EXPECT_EQ(At(third, 5, 7, 1), At(other, 5, 7, 1));
    EXPECT_EQ(At(third, 59, 39, 2), At(other, 59, 39, 2));
}

TEST_F(CropFromFile, Refusals) {
    CRect rect{0, 0, 60, 40};
    ImgClass out;

    const std::string text = dir.File("notes.ppm");
    WriteText(text, "not an image at all\n");
    Post_Error("stale");
    EXPECT_TRUE(GetCropImage(60, &rect, const_cast<char*>(text.c_str()), &out));
    EXPECT_EQ(out.ImgStruct.ImgData, nullptr);
    const std::string error = Get_Last_Error();
    EXPECT_NE(error.find("Unrecognized Image type\n"), std::string::npos) << error;
    EXPECT_EQ(error.find("stale"), std::string::npos) << error;

    const std::string absent = dir.File("absent.ppm");
    EXPECT_TRUE(GetCropImage(60, &rect, const_cast<char*>(absent.c_str()), &out));
    EXPECT_EQ(out.ImgStruct.ImgData, nullptr);

    EXPECT_TRUE(GetCropImage(60, nullptr, image.data(), &out));
    EXPECT_TRUE(GetCropImage(60, &rect, nullptr, &out));
    EXPECT_TRUE(GetCropImage(60, &rect, image.data(), nullptr));
    EXPECT_EQ(out.ImgStruct.ImgData, nullptr);

    // The image is still served after the refusals.
    ASSERT_FALSE(GetCropImage(60, &rect, image.data(), &out)) << Get_Last_Error();
    EXPECT_TRUE(Shows(out, 60, 40, 40, [](uint32_t x) { return x; }, [](uint32_t y) { return y; }));
}

// ---- ZoomImageLocal by name ---------------------------------------------------------------

class ZoomByName : public ::testing::Test {
protected:
    void SetUp() override {
        savedTemp = Get_Temp_Path();
        Set_Temp_Path(dir.path().c_str());
        image = dir.File("scene.ppm");
        WriteCodedPpm(image, 1000, 800);
        // As the viewer does: the image's header is current before a zoom.
        ASSERT_FALSE(Make_Local_Header(image.c_str(), dir.File("scene.hdr").c_str())) << Get_Last_Error();
        ASSERT_FALSE(Reset_TarnDb());
    }
    void TearDown() override {
        Set_Temp_Path(savedTemp.c_str());
        orvix::Lib().maxPixels = savedLimit;
    }

    // Reads a zoom result back.
    bool Result(const char* name, ImgClass& img) {
        img.FreeData();
        SetName(img, name);
        return ReadImage(false, &img);
    }

    TempDir dir;
    std::string image, savedTemp;
    uint64_t savedLimit = orvix::Lib().maxPixels;
};

TEST_F(ZoomByName, ZoomsInAndReportsTheCrop) {
    CRect shown{};
    const std::string first = ZoomImageLocal(200, 160, 400, 320, &shown, 2.0, 0, image.data());
    ASSERT_NE(first, "") << Get_Last_Error();
    EXPECT_TRUE(std::regex_match(first, std::regex(dir.path().string() + "/plate_00_ftp_0000_[0-9a-f]+_Plom\\.str")))
        << first;
    ASSERT_FALSE(GetCropRect(&shown));
    ExpectRect(shown, 250, 200, 750, 600);
    // The command file is gone; the result is an LZW TIFF.
    EXPECT_FALSE(fs::exists(orvix::Lib().zoom.commandFile));
    TIFF* tif = TIFFOpen(first.c_str(), "r");
    ASSERT_NE(tif, nullptr);
    uint16_t compression = 0;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFClose(tif);
    EXPECT_EQ(compression, COMPRESSION_LZW);

    ImgClass out;
    ASSERT_FALSE(Result(first.c_str(), out)) << Get_Last_Error();
    // 500 x 400 shown in 400 x 320: a step of 1.25; the last line is zero.
    EXPECT_TRUE(Shows(out, 400, 320, 319, [](uint32_t x) { return 250 + uint32_t(x * 1.25); },
                      [](uint32_t y) { return 200 + uint32_t(y * 1.25); }));
    for (uint32_t x = 0; x < 400; ++x)
        for (int c = 0; c < 3; ++c) ASSERT_EQ(At(out, x, 319, c), 0) << x;

    // Again around the frame's centre with the reported crop, as a viewer
    // does; the name in other letter case is the same image.
    const std::string second =
        ZoomImageLocal(200, 160, 400, 320, &shown, 2.0, 0, const_cast<char*>(Upper(image).c_str()));
    ASSERT_NE(second, "") << Get_Last_Error();
    ASSERT_FALSE(GetCropRect(&shown));
    ExpectRect(shown, 375, 300, 625, 500);
    ASSERT_FALSE(Result(second.c_str(), out)) << Get_Last_Error();
    EXPECT_TRUE(Shows(out, 400, 320, 319, [](uint32_t x) { return 375 + uint32_t(x * 0.625); },
                      [](uint32_t y) { return 300 + uint32_t(y * 0.625); }));

    // A JPEG result for a quality above 0, and back out to the first crop.
    const std::string third = ZoomImageLocal(200, 160, 400, 320, &shown, -2.0, 85, image.data());
    ASSERT_NE(third, "") << Get_Last_Error();
    EXPECT_EQ(Get_File_Type(third.c_str()), IMG_TYPE_JPEG);
    ASSERT_FALSE(GetCropRect(&shown));
    ExpectRect(shown, 250, 200, 750, 600);
    ASSERT_FALSE(Result(third.c_str(), out));
    EXPECT_EQ(out.ImgStruct.Width, 400u);
    EXPECT_EQ(out.ImgStruct.Height, 320u);
}

TEST_F(ZoomByName, ReadsOnlyTheCropWhenTheImageCannotBeHeld) {
    // A TIFF over the reader's limit whose crop is within it: the TIFF
    // rectangle reader converts only the crop's rows.
    ImgClass whole;
    ASSERT_FALSE(Result(image.c_str(), whole));
    const std::string tiff = dir.File("scene.tif");
    SetName(whole, tiff);
    ASSERT_FALSE(WriteTIFF(false, false, &whole));
    ASSERT_FALSE(Make_Local_Header(tiff.c_str(), dir.File("scene-tif.hdr").c_str())) << Get_Last_Error();
    orvix::Lib().maxPixels = 300000;
    CRect shown{};
    const std::string name = ZoomImageLocal(200, 160, 400, 320, &shown, 2.0, 0, const_cast<char*>(tiff.c_str()));
    ASSERT_NE(name, "") << Get_Last_Error();
    ASSERT_FALSE(GetCropRect(&shown));
    ExpectRect(shown, 250, 200, 750, 600);
    ImgClass out;
    ASSERT_FALSE(Result(name.c_str(), out)) << Get_Last_Error();
    // Sampled to exactly the frame, the last line included.
    EXPECT_TRUE(Shows(out, 400, 320, 320, [](uint32_t x) { return 250 + uint32_t(x * 1.25); },
                      [](uint32_t y) { return 200 + uint32_t(y * 1.25); }));
}

TEST_F(ZoomByName, Refusals) {
    CRect none{};
    ASSERT_NE(std::string(ZoomImageLocal(200, 160, 400, 320, &none, 2.0, 0, image.data())), "");
    for (const double m : {0.5, -0.5}) {
        EXPECT_STREQ(ZoomImageLocal(200, 160, 400, 320, &none, m, 0, image.data()), "");
        EXPECT_STREQ(Get_Last_Error(), "ZoomImage_Local: Magnification < 1.0 CropRect was reset\n");
        CRect r;
        EXPECT_TRUE(GetCropRect(&r));
    }
    char empty[] = "";
    EXPECT_STREQ(ZoomImageLocal(200, 160, 400, 320, &none, 2.0, 0, empty), "");
    EXPECT_STREQ(Get_Last_Error(), "ZoomImage_Local: InImg is empty\n");
    EXPECT_STREQ(ZoomImageLocal(200, 160, 400, 320, &none, 2.0, 0, static_cast<char*>(nullptr)), "");
    EXPECT_STREQ(Get_Last_Error(), "ZoomImage_Local: InImg is empty\n");

    // Zooming in until the crop would be under 30 pixels wide.
    CRect small{100, 100, 150, 150};
    EXPECT_STREQ(ZoomImageLocal(10, 10, 400, 320, &small, 2.0, 0, image.data()), "");
    EXPECT_STREQ(Get_Last_Error(), "ZoomImage_Local: CropRct is empty\n");
    CRect r;
    EXPECT_TRUE(GetCropRect(&r));
}
