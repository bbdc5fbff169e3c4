// Files as common tools write them: run-length Targa files from
// Pillow (what paint programs save), and TIFF files whose colour is
// premultiplied by an associated alpha (ImageMagick, libtiff's tiffcp).
#include <gtest/gtest.h>

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

TEST(ToolWrittenFiles, RunLengthTargaFilesGetHeadersAndReadAsPillowDecodesThem) {
    if (!image_tools::HavePillow()) GTEST_SKIP() << "no python3-pil";
    const struct {
        const char* mode;
        int imageType;
        int bits;
        int samples;
    } cases[] = {{"P", 9, 8, 1}, {"RGB", 10, 24, 3}, {"RGBA", 10, 32, 3}, {"L", 11, 8, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mode);
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
            "im.save(sys.argv[1], compression='tga_rle')\n",
            {tga, c.mode}));
        const std::vector<uint8_t> bytes = ReadBytes(tga);
        ASSERT_GT(bytes.size(), 18u);
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

        ImgClass img;
        ASSERT_FALSE(ReadWhole(tga, img)) << LastError();
        Raster want;
        ASSERT_TRUE(image_tools::PillowPixels(dir.path().string(), tga, want));
        EXPECT_TRUE(image_tools::SamePixels(want, image_tools::FromImage(img)));
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
