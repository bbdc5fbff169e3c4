// Readers refuse images larger than the pixel limit before allocating them.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <string>
#include <vector>

#include "library.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

constexpr uint32_t kHuge = 40000;  // 40000 x 40000 is beyond the default limit

// A small real JPEG whose frame header is then made to claim the size.
std::vector<uint8_t> HugeJpeg(const TempDir& dir, uint32_t w, uint32_t h) {
    ImgClass img;
    MakeImage(img, 16, 16, 3, 1);
    SetName(img, dir.File("small.jpg"));
    EXPECT_FALSE(WriteJPEG(90, &img));
    std::vector<uint8_t> b = ReadBytes(dir.File("small.jpg"));
    for (size_t i = 2; i + 9 < b.size(); ++i) {
        if (b[i] == 0xFF && (b[i + 1] == 0xC0 || b[i + 1] == 0xC1)) {
            b[i + 5] = uint8_t(h >> 8);
            b[i + 6] = uint8_t(h);
            b[i + 7] = uint8_t(w >> 8);
            b[i + 8] = uint8_t(w);
            return b;
        }
    }
    ADD_FAILURE() << "no frame header in the written JPEG";
    return b;
}

// An LZW TIFF claiming the size with a single tiny strip: the file cannot
// show by its length that the claim is false.
void WriteHugeTiff(const std::string& path, uint32_t w, uint32_t h) {
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    ASSERT_NE(tif, nullptr);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, w);
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, h);
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, h);
    unsigned char code[4] = {0x80, 0x00, 0x40, 0x40};  // clear code, end of information
    TIFFWriteRawStrip(tif, 0, code, sizeof code);
    TIFFClose(tif);
}

std::string LastError() { return Get_Last_Error(); }

// Reads path through the one entry point; true when it failed.
bool Read(const std::string& path, ImgClass& img) {
    SetName(img, path);
    Post_Error("");
    return ReadImage(false, &img);
}

// Lowers the limit for one test and restores it after.
class PixelLimit : public ::testing::Test {
protected:
    void TearDown() override { orvix::Lib().maxPixels = saved_; }
    uint64_t saved_ = orvix::Lib().maxPixels;
};

// Compressed data cannot show by its length that a claimed size is false:
// the limit is what stands between such a file and a gigantic allocation.
TEST_F(PixelLimit, SmallCompressedFilesClaimingAGiganticImageAreRefused) {
    ASSERT_EQ(saved_, orvix::Library::kDefaultMaxPixels) << "ORVIX_MAX_PIXELS set for the tests?";
    TempDir dir;
    WriteBytes(dir.File("huge.jpg"), HugeJpeg(dir, kHuge, kHuge));
    WriteHugeTiff(dir.File("huge.tif"), kHuge, kHuge);

    for (const char* name : {"huge.jpg", "huge.tif"}) {
        SCOPED_TRACE(name);
        ImgClass img;
        EXPECT_TRUE(Read(dir.File(name), img));
        EXPECT_EQ(img.ImgStruct.ImgData, nullptr);
        EXPECT_NE(LastError().find("claims 40000 x 40000 pixels, more than the limit of " +
                                   std::to_string(orvix::Library::kDefaultMaxPixels)),
                  std::string::npos)
            << LastError();
        EXPECT_NE(LastError().find(dir.File(name)), std::string::npos) << LastError();
    }
}

TEST_F(PixelLimit, ALoweredLimitRefusesLargerImagesAndKeepsSmallerOnes) {
    TempDir dir;
    ImgClass big;
    MakeImage(big, 20, 10, 3, 7);  // 200 pixels
    ImgClass small;
    MakeImage(small, 10, 10, 1, 7);  // 100 pixels
    SetName(big, dir.File("big.tif"));
    ASSERT_FALSE(WriteTIFF(true, false, &big));
    SetName(big, dir.File("big.jpg"));
    ASSERT_FALSE(WriteJPEG(90, &big));
    SetName(big, dir.File("big.bmp"));
    ASSERT_FALSE(Write_BMP(&big));
    SetName(big, dir.File("big.ppm"));
    ASSERT_FALSE(Write_8BitPPM(&big));
    SetName(big, dir.File("big.tga"));
    ASSERT_FALSE(Convert_Image(dir.File("big.ppm").c_str(), dir.File("big.tga").c_str(),
                               IMG_TYPE_TARGA, 0));
    SetName(big, dir.File("big.pgm"));
    ASSERT_FALSE(Write_8BitPGM(&big));
    SetName(small, dir.File("small.tif"));
    ASSERT_FALSE(WriteTIFF(false, false, &small));
    SetName(small, dir.File("small.pgm"));
    ASSERT_FALSE(Write_8BitPGM(&small));

    orvix::Lib().maxPixels = 100;
    for (const char* name : {"big.tif", "big.jpg", "big.bmp", "big.ppm", "big.pgm", "big.tga"}) {
        SCOPED_TRACE(name);
        ImgClass img;
        EXPECT_TRUE(Read(dir.File(name), img));
        EXPECT_NE(LastError().find("claims 20 x 10 pixels, more than the limit of 100"),
                  std::string::npos)
            << LastError();
    }
    for (const char* name : {"small.tif", "small.pgm"}) {
        SCOPED_TRACE(name);
        ImgClass img;
        EXPECT_FALSE(Read(dir.File(name), img)) << LastError();
        EXPECT_EQ(At(img, 9, 9), At(small, 9, 9));
    }

    // A rectangle is held to the limit by its own size, not the file's. The
    // reader is the one of the current header's type, so the header is made
    // first.
    ASSERT_FALSE(Make_Local_Header(dir.File("big.tif").c_str(), dir.File("big.hdr").c_str()))
        << LastError();
    ImgClass rect;
    EXPECT_FALSE(GetImageRectangle(dir.File("big.tif").c_str(), CRect(0, 0, 10, 10), &rect))
        << LastError();
    EXPECT_EQ(rect.ImgStruct.Width, 10u);
    ImgClass wide;
    EXPECT_TRUE(GetImageRectangle(dir.File("big.tif").c_str(), CRect(0, 0, 20, 6), &wide));
    EXPECT_NE(LastError().find("claims 20 x 6 pixels"), std::string::npos) << LastError();
}

}  // namespace
