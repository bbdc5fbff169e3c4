// Files as common tools write them: Targa files from Pillow (what paint
// programs save), JPEG densities and bit-field bitmaps from Pillow and
// ImageMagick, and TIFF files whose colour is
// premultiplied by an associated alpha (ImageMagick, libtiff's tiffcp).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codecs/image_tools.h"
#include "support/test_support.h"

using namespace testing_support;
using image_tools::Raster;

namespace {

const char kConvert[] = "/usr/bin/convert";
const char kTiffcp[] = "/usr/bin/tiffcp";

std::string LastError() { return Get_Last_Error(); }

bool ReadWhole(const std::string& path, ImgClass& img) {
    SetName(img, path);
    Post_Error("");
    return ReadImage(false, &img);
}

TEST(ToolWrittenFiles, TargaFilesGetHeadersAndReadAsPillowDecodesThem) {
    if (!image_tools::HavePillow()) GTEST_SKIP() << "no python3-pil";
    const struct {
        const char* mode;
        const char* compression;
        const char* id;  // Pillow's identifier field
        int imageType;
        int bits;
        int samples;
    } cases[] = {{"P", "tga_rle", "", 9, 8, 3},      {"RGB", "tga_rle", "", 10, 24, 3},
                 {"RGBA", "tga_rle", "", 10, 32, 3}, {"L", "tga_rle", "", 11, 8, 1},
                 {"P", "", "Scanned at 300 dpi", 1, 8, 3},
                 {"P", "tga_rle", "x", 9, 8, 3},     {"RGB", "", "id", 2, 24, 3}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.mode) + " " + c.compression + " id '" + c.id + "'");
        TempDir dir;
        const std::string tga = dir.File("paint.tga");
        // Runs of equal pixels and stretches of differing ones, so that both
        // kinds of packet occur, some running on across rows.
        ASSERT_TRUE(image_tools::Pillow(
            dir.path().string(),
            "w, h = 37, 9\n"
            "im = Image.new('RGBA', (w, h))\n"
            "im.putdata([((x // 5) * 40 % 256, y * 25, 200, 255 - x) if (x + y) % 3 else (x * 7, y, x ^ y, 99)\n"
            "            for y in range(h) for x in range(w)])\n"
            "im = im.convert(sys.argv[2]) if sys.argv[2] != 'P' else im.convert('RGB').quantize(16)\n"
            "im.save(sys.argv[1], compression=sys.argv[3] or None, id_section=sys.argv[4].encode())\n",
            {tga, c.mode, c.compression, c.id}));
        const std::vector<uint8_t> bytes = ReadBytes(tga);
        ASSERT_GT(bytes.size(), 18u);
        ASSERT_EQ(bytes[0], std::strlen(c.id));
        ASSERT_EQ(bytes[2], c.imageType);

        const std::string header = dir.File("paint.hdr");
        Post_Error("");
        ASSERT_FALSE(Make_Local_Header(tga.c_str(), header.c_str())) << LastError();
        IMAGE_HDR h{};
        ASSERT_FALSE(Read_Hdr(header.c_str(), &h));
        EXPECT_EQ(h.Type, IMG_TYPE_TARGA);
        EXPECT_EQ(h.Width, 37);
        EXPECT_EQ(h.Height, 9);
        EXPECT_EQ(h.Bits, c.bits);
        EXPECT_EQ(h.Samples, c.samples);
        // Targa files carry no resolution.
        EXPECT_EQ(h.ResUnit, 1);
        EXPECT_EQ(h.XRes, 0.0f);
        EXPECT_EQ(h.YRes, 0.0f);

        ImgClass img;
        ASSERT_FALSE(ReadWhole(tga, img)) << LastError();
        Raster want;
        ASSERT_TRUE(image_tools::PillowPixels(dir.path().string(), tga, want));
        EXPECT_TRUE(image_tools::SamePixels(want, image_tools::FromImage(img)));
    }
}

TEST(ToolWrittenFiles, JpegDensityAndBitFieldBitmapsReachTheHeader) {
    if (!image_tools::HavePillow() || !HaveProgram(kConvert))
        GTEST_SKIP() << "needs python3-pil and ImageMagick";
    TempDir dir;
    const std::string src = dir.File("src.ppm");
    image_tools::WritePpm(src, image_tools::Pattern(17, 6));
    const std::string q = image_tools::Quote(src);
    struct Case {
        const char* name;
        std::string file;
        std::string command;  // writes the file
        int type, compression;
        int unit;  // as read back: a header without one says none
        float res;
    };
    const std::string pillow = std::string(image_tools::kPython) + " " + image_tools::Quote(dir.File("save.py")) + " " + q + " ";
    const std::vector<Case> cases = {
        {"Pillow JPEG at 300 dpi", "dpi.jpg", pillow + "dpi.jpg 300", IMG_TYPE_JPEG, 1, 2, 300},
        {"Pillow JPEG without density", "plain.jpg", pillow + "plain.jpg 0", IMG_TYPE_JPEG, 1, 1, 0},
        {"ImageMagick JPEG at 50 per cm", "cm.jpg",
         std::string(kConvert) + " " + q + " -units PixelsPerCentimeter -density 50 cm.jpg",
         IMG_TYPE_JPEG, 1, 3, 50},
        {"ImageMagick 32-bit bit fields", "alpha.bmp", std::string(kConvert) + " " + q + " -alpha set alpha.bmp",
         IMG_TYPE_BMP, 3, 1, 300},
        {"ImageMagick 5-6-5 bit fields", "565.bmp",
         std::string(kConvert) + " " + q + " -define bmp:subtype=RGB565 565.bmp", IMG_TYPE_BMP, 3, 1, 300},
    };
    WriteText(dir.File("save.py"),
              "import sys\nfrom PIL import Image\n"
              "d = int(sys.argv[3])\n"
              "Image.open(sys.argv[1]).save(sys.argv[2], **({'dpi': (d, d)} if d else {}))\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(image_tools::Run("cd " + image_tools::Quote(dir.path().string()) + " && " + c.command));
        const std::string image = dir.File(c.file), header = dir.File(c.file + ".hdr");
        Post_Error("");
        ASSERT_FALSE(Make_Local_Header(image.c_str(), header.c_str())) << LastError();
        IMAGE_HDR h{};
        ASSERT_FALSE(Read_Hdr(header.c_str(), &h));
        EXPECT_EQ(h.Type, c.type);
        EXPECT_EQ(h.Width, 17);
        EXPECT_EQ(h.Height, 6);
        EXPECT_EQ(h.Bits, 8);
        EXPECT_EQ(h.Samples, 3);
        EXPECT_EQ(h.Compression, c.compression);
        EXPECT_EQ(h.ResUnit, c.unit);
        EXPECT_EQ(h.XRes, c.res);
        EXPECT_EQ(h.YRes, c.res);
    }
}

TEST(ToolWrittenFiles, AssociatedAlphaTiffIsUnpremultipliedAsPillowDoes) {
    if (!image_tools::HavePillow() || !HaveProgram(kConvert) || !HaveProgram(kTiffcp))
        GTEST_SKIP() << "needs python3-pil, ImageMagick and libtiff-tools";
    TempDir dir;
    const std::string png = dir.File("alpha.png");
    // Every pixel its own colour; alpha from 0 (no colour left) through faint
    // (large factors) to opaque.
    ASSERT_TRUE(image_tools::Pillow(
        dir.path().string(),
        "w, h = 29, 11\n"
        "alphas = [0, 1, 3, 64, 127, 128, 200, 254, 255]\n"
        "im = Image.new('RGBA', (w, h))\n"
        "im.putdata([((x * 9) % 256, (y * 23) % 256, (x * y * 5) % 256, alphas[(x + 2 * y) % 9])\n"
        "            for y in range(h) for x in range(w)])\n"
        "im.save(sys.argv[1])\n",
        {png}));
    const std::string plain = dir.File("plain.tif");
    ASSERT_TRUE(image_tools::Run(std::string(kConvert) + " " + image_tools::Quote(png) +
                                 " -define tiff:alpha=associated -compress none " +
                                 image_tools::Quote(plain)));
    ASSERT_EQ(ReadTiffTags(plain).spp, 4);
    Raster want;
    ASSERT_TRUE(image_tools::PillowPixels(dir.path().string(), plain, want));

    // The same pixels copied by tiffcp as they are, LZW-compressed and as
    // separate planes (which Pillow does not read with associated alpha):
    // the plain file's decode stands for all.
    for (const char* options : {"", "-c lzw", "-p separate"}) {
        SCOPED_TRACE(options);
        const std::string path = dir.File("copy.tif");
        ASSERT_TRUE(image_tools::Run(std::string(kTiffcp) + " " + options + " " +
                                     image_tools::Quote(plain) + " " + image_tools::Quote(path)));
        ImgClass img;
        ASSERT_FALSE(ReadWhole(path, img)) << LastError();
        EXPECT_TRUE(image_tools::SamePixels(want, image_tools::FromImage(img)));
    }
}

}  // namespace
