// Conversion between every pair of written formats, and the header made for
// each format, line for line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/test_support.h"

using namespace testing_support;

namespace {

struct Format {
    const char* ext;
    int type;
    bool lossy;
};

const Format kFormats[] = {
    {"tif", IMG_TYPE_TIFF, false}, {"jpg", IMG_TYPE_JPEG, true}, {"bmp", IMG_TYPE_BMP, false},
    {"ppm", IMG_TYPE_PPM, false},  {"pgm", IMG_TYPE_PGM, false}, {"tga", IMG_TYPE_TARGA, false},
};

// Smooth enough for JPEG to keep each sample within a few levels.
void MakeSmooth(ImgClass& img, uint32_t w, uint32_t h, int samples) {
    MakeImage(img, w, h, samples);
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < samples; ++c)
                img.ImgStruct.ImgData[size_t{y} * img.ImgStruct.LineSize + x * samples + c] =
                    static_cast<uint8_t>(40 + 3 * x + 2 * y + 20 * c);
}

// The grey level the grey writers derive from a colour pixel.
uint8_t Grey(const ImgClass& img, uint32_t x, uint32_t y) {
    return static_cast<uint8_t>(0.33 * At(img, x, y, 0) + 0.5 * At(img, x, y, 1) + 0.17 * At(img, x, y, 2));
}

std::string HeaderText(const std::string& image, const std::string& header) {
    EXPECT_FALSE(Make_Local_Header(image.c_str(), header.c_str())) << image << ": " << Get_Last_Error();
    const auto bytes = ReadBytes(header);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(Conversion, EveryPairOfWrittenFormats) {
    TempDir dir;
    for (int samples : {3, 1}) {
        ImgClass source;
        MakeSmooth(source, 21, 13, samples);
        const std::string base = dir.File(samples == 3 ? "colour" : "grey");
        SetName(source, base + ".ppm");
        ASSERT_FALSE(Write_8BitPPM(&source));
        for (const Format& from : kFormats) {
            const std::string input = base + "_src." + from.ext;
            std::filesystem::remove(input);
            ASSERT_FALSE(Convert_Image(source.ImgStruct.FileName, input.c_str(), from.type, 95))
                << from.ext << ": " << Get_Last_Error();
            for (const Format& to : kFormats) {
                const std::string output = base + "_" + from.ext + "_to." + to.ext;
                ASSERT_FALSE(Convert_Image(input.c_str(), output.c_str(), to.type, 95))
                    << from.ext << " -> " << to.ext << ": " << Get_Last_Error();
                EXPECT_EQ(Get_File_Type(output.c_str()), to.type);
                ImgClass back;
                SetName(back, output);
                ASSERT_FALSE(ReadImage(false, &back)) << output;
                ASSERT_EQ(back.ImgStruct.Width, 21u);
                ASSERT_EQ(back.ImgStruct.Height, 13u);
                // A colour source that passed through a grey map is grey from
                // then on; everything else keeps its samples.
                const bool greyed = samples == 3 && (from.type == IMG_TYPE_PGM || to.type == IMG_TYPE_PGM);
                // JPEG may move a sample a few levels, a little more once
                // rounded through the grey formula.
                const bool lossy = from.lossy || to.lossy;
                const int tolerance = lossy ? (greyed ? 8 : 6) : 0;
                for (uint32_t y = 0; y < 13; ++y)
                    for (uint32_t x = 0; x < 21; ++x)
                        for (int c = 0; c < back.ImgStruct.Samples; ++c) {
                            const int want = greyed ? Grey(source, x, y)
                                                    : At(source, x, y, samples == 3 ? c : 0);
                            ASSERT_LE(std::abs(At(back, x, y, c) - want), tolerance)
                                << from.ext << " -> " << to.ext << " at " << x << "," << y << "," << c;
                        }
            }
        }
    }
}

TEST(Conversion, NamedOutputIsNeverOverwrittenAndNoOutputMeansABitmapBeside) {
    TempDir dir;
    ImgClass source;
    MakeSmooth(source, 8, 4, 3);
    SetName(source, dir.File("in.ppm"));
    ASSERT_FALSE(Write_8BitPPM(&source));
    WriteText(dir.File("taken.tif"), "keep me");
    EXPECT_TRUE(Convert_Image(dir.File("in.ppm").c_str(), dir.File("taken.tif").c_str(), IMG_TYPE_TIFF, 0));
    EXPECT_EQ(std::string(Get_Last_Error()),
              "Last_Error,Convert_Image: File " + dir.File("taken.tif") + " Exists\n");
    const auto kept = ReadBytes(dir.File("taken.tif"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "keep me");

    ASSERT_FALSE(Convert_Image(dir.File("in.ppm").c_str(), nullptr, IMG_TYPE_JPEG, 80));
    EXPECT_EQ(Get_File_Type(dir.File("in.bmp").c_str()), IMG_TYPE_BMP);
    EXPECT_TRUE(Convert_Image(nullptr, nullptr, IMG_TYPE_BMP, 0));
    EXPECT_STREQ(Get_Last_Error(), "Convert_Image: Input Image is NULL\n");
    EXPECT_TRUE(Convert_Image("", nullptr, IMG_TYPE_BMP, 0));
    EXPECT_STREQ(Get_Last_Error(), "Convert_Image: Input Image not Specified\n");
}

TEST(HeaderMakers, EachFormatLineForLine) {
    TempDir dir;
    ImgClass colour, grey;
    MakeSmooth(colour, 13, 7, 3);
    MakeSmooth(grey, 13, 7, 1);
    const std::string tail300 = "300.000000\t;X_RES\n300.000000\t;Y_RES\n";

    SetName(colour, dir.File("c.tif"));
    ASSERT_FALSE(WriteTIFF(false, false, &colour));
    EXPECT_EQ(HeaderText(dir.File("c.tif"), dir.File("c_tif.hdr")),
              dir.File("c.tif") + "\nTIFF\n13\t;WIDTH\n7\t;HEIGHT\n8\t;BITS\n2\t;PHOTOMETRIC\n"
              "1\t;COMPRESSION\n39\t;LINESIZE\n2\t;RES_INCH\n" + tail300);

    SetName(colour, dir.File("z.tif"));
    ASSERT_FALSE(WriteZUL_TIFF(true, false, &colour));
    EXPECT_EQ(HeaderText(dir.File("z.tif"), dir.File("z_tif.hdr")),
              dir.File("z.tif") + "\n???\n13\t;WIDTH\n7\t;HEIGHT\n8\t;BITS\n2\t;PHOTOMETRIC\n"
              "5\t;COMPRESSION\n40\t;LINESIZE\n2\t;RES_INCH\n" + tail300);

    SetName(colour, dir.File("c.jpg"));
    ASSERT_FALSE(WriteJPEG(90, &colour));
    EXPECT_EQ(HeaderText(dir.File("c.jpg"), dir.File("c_jpg.hdr")),
              dir.File("c.jpg") + "\nJPEG\n13\t;WIDTH\n7\t;HEIGHT\n8\t;BITS\n2\t;PHOTOMETRIC\n"
              "1\t;COMPRESSION\n40\t;LINESIZE\n2\t;RES_INCH\n" + tail300);  // its JFIF density

    SetName(colour, dir.File("c.ppm"));
    ASSERT_FALSE(Write_8BitPPM(&colour));
    EXPECT_EQ(HeaderText(dir.File("c.ppm"), dir.File("c_ppm.hdr")),
              dir.File("c.ppm") + "\nPPM\n13\t;WIDTH\n7\t;HEIGHT\n8\t;BITS\n2\t;PHOTOMETRIC\n"
              "1\t;COMPRESSION\n40\t;LINESIZE\n1\t;RES_NONE\n" + tail300);

    SetName(grey, dir.File("g.pgm"));
    ASSERT_FALSE(Write_8BitPGM(&grey));
    EXPECT_EQ(HeaderText(dir.File("g.pgm"), dir.File("g_pgm.hdr")),
              dir.File("g.pgm") + "\nPGM\n13\t;WIDTH\n7\t;HEIGHT\n8\t;BITS\n1\t;PHOTOMETRIC\n"
              "1\t;COMPRESSION\n16\t;LINESIZE\n1\t;RES_NONE\n" + tail300);

    SetName(colour, dir.File("c.bmp"));
    ASSERT_FALSE(Write_BMP(&colour));
    EXPECT_EQ(HeaderText(dir.File("c.bmp"), dir.File("c_bmp.hdr")),
              dir.File("c.bmp") + "\nBMP\n13\t;WIDTH\n7\t;HEIGHT\n8\t;BITS\n2\t;PHOTOMETRIC\n"
              "0\t;COMPRESSION\n40\t;LINESIZE\n1\t;RES_NONE\n" + tail300);

    ASSERT_FALSE(Convert_Image(dir.File("c.ppm").c_str(), dir.File("c.tga").c_str(), IMG_TYPE_TARGA, 0));
    EXPECT_EQ(HeaderText(dir.File("c.tga"), dir.File("c_tga.hdr")),
              dir.File("c.tga") + "\nTARGA\n13\t;WIDTH\n7\t;HEIGHT\n24\t;BITS\n2\t;PHOTOMETRIC\n"
              "0\t;COMPRESSION\n40\t;LINESIZE\n1\t;RES_NONE\n0.000000\t;X_RES\n0.000000\t;Y_RES\n");  // none held
}
