// Header files: the eleven-line text format, reading it back, and the
// exported queries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "codecs/hdr.h"
#include "library.h"
#include "utility.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

IMAGE_HDR SampleHeader(const std::string& imagePath) {
    IMAGE_HDR h;
    std::memset(&h, 0, sizeof h);
    std::strcpy(h.FileName, imagePath.c_str());
    h.Type = IMG_TYPE_TIFF;
    h.Compression = 5;
    h.LineSize = 1204;
    h.Samples = 3;
    h.Bits = 8;
    h.Height = 300;
    h.Width = 401;
    h.ResUnit = 2;
    h.XRes = 72.5f;
    h.YRes = 300.0f;
    return h;
}

std::string Written(orvix::HdrClass& hdr, const std::string& path) {
    EXPECT_FALSE(hdr.WriteHeader(path.c_str()));
    const auto bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(HeaderFile, WrittenByteForByte) {
    TempDir dir;
    orvix::HdrClass hdr;
    hdr.Header() = SampleHeader("/img/a.tif");
    EXPECT_EQ(Written(hdr, dir.File("a.hdr")),
              "/img/a.tif\nTIFF\n401\t;WIDTH\n300\t;HEIGHT\n8\t;BITS\n2\t;PHOTOMETRIC\n"
              "5\t;COMPRESSION\n1204\t;LINESIZE\n2\t;RES_INCH\n72.500000\t;X_RES\n"
              "300.000000\t;Y_RES\n");
}

TEST(HeaderFile, UnitsTypesAndDerivedLineSize) {
    TempDir dir;
    orvix::HdrClass hdr;
    IMAGE_HDR h = SampleHeader("a.pgm");
    h.Type = IMG_TYPE_PGM;
    h.Samples = 1;
    h.LineSize = 0;  // written as the rounded-up line of Samples x Width
    h.ResUnit = 0;   // no unit: the RES_NONE line carries 1
    hdr.Header() = h;
    std::string text = Written(hdr, dir.File("a.hdr"));
    EXPECT_NE(text.find("PGM\n"), std::string::npos);
    EXPECT_NE(text.find("1\t;PHOTOMETRIC\n"), std::string::npos);
    EXPECT_NE(text.find("404\t;LINESIZE\n"), std::string::npos);
    EXPECT_NE(text.find("1\t;RES_NONE\n"), std::string::npos);

    h.ResUnit = 3;
    h.Type = IMG_TYPE_ZUL;  // has no line of its own
    hdr.Header() = h;
    text = Written(hdr, dir.File("b.hdr"));
    EXPECT_NE(text.find("\n???\n"), std::string::npos);
    EXPECT_NE(text.find("3\t;RES_CM\n"), std::string::npos);

    const struct { int type; const char* line; } types[] = {
        {IMG_TYPE_JPEG, "\nJPEG\n"}, {IMG_TYPE_PPM, "\nPPM\n"}, {IMG_TYPE_BMP, "\nBMP\n"},
        {IMG_TYPE_TARGA, "\nTARGA\n"}, {IMG_TYPE_UNKNOWN, "\n???\n"}};
    for (const auto& t : types) {
        h.Type = t.type;
        hdr.Header() = h;
        EXPECT_NE(Written(hdr, dir.File("c.hdr")).find(t.line), std::string::npos) << t.line;
    }
}

TEST(HeaderFile, ReadBackGivesTheSameFields) {
    TempDir dir;
    orvix::HdrClass hdr;
    const IMAGE_HDR h = SampleHeader("/photos/b.tif");
    hdr.Header() = h;
    ASSERT_FALSE(hdr.WriteHeader(dir.File("b.hdr").c_str()));
    hdr.Clear();
    ASSERT_FALSE(hdr.ReadHeader(dir.File("b.hdr").c_str()));
    const IMAGE_HDR& r = hdr.Header();
    EXPECT_STREQ(r.FileName, "/photos/b.tif");
    EXPECT_EQ(r.Type, IMG_TYPE_TIFF);
    EXPECT_EQ(r.Width, 401);
    EXPECT_EQ(r.Height, 300);
    EXPECT_EQ(r.Bits, 8);
    EXPECT_EQ(r.Samples, 3);
    EXPECT_EQ(r.Compression, 5);
    EXPECT_EQ(r.LineSize, 1204);
    EXPECT_EQ(r.ResUnit, 2);
    EXPECT_FLOAT_EQ(r.XRes, 72.5f);
    EXPECT_FLOAT_EQ(r.YRes, 300.0f);
}

TEST(HeaderFile, PlanarTypeAndMissingUnitReadBackAsTheFormatDefines) {
    TempDir dir;
    orvix::HdrClass hdr;
    IMAGE_HDR h = SampleHeader("z.tif");
    h.Type = IMG_TYPE_ZUL;
    h.ResUnit = 0;
    hdr.Header() = h;
    ASSERT_FALSE(hdr.WriteHeader(dir.File("z.hdr").c_str()));
    ASSERT_FALSE(hdr.ReadHeader(dir.File("z.hdr").c_str()));
    EXPECT_EQ(hdr.Header().Type, IMG_TYPE_TIFF);  // "???" matches no keyword
    EXPECT_EQ(hdr.Header().ResUnit, 1);
}

TEST(HeaderFile, ImagePathNamesTheHeaderBesideIt) {
    TempDir dir;
    orvix::HdrClass hdr;
    hdr.Header() = SampleHeader(dir.File("photo.tif"));
    ASSERT_FALSE(hdr.WriteHeader());  // no path: beside the image
    EXPECT_TRUE(orvix::Utility::FileExists(dir.File("photo.hdr")));
    IMAGE_HDR r;
    ASSERT_FALSE(Read_Hdr(dir.File("photo.tif").c_str(), &r));
    EXPECT_EQ(r.Width, 401);
    EXPECT_TRUE(Read_Hdr(dir.File("photo.tif").c_str(), nullptr));
}

TEST(HeaderFile, FailuresAndTheirMessages) {
    TempDir dir;
    orvix::HdrClass hdr;
    Post_Error("");
    EXPECT_TRUE(hdr.ReadHeader(""));
    EXPECT_STREQ(Get_Last_Error(), "HdrClass::ReadHeader(..) InputFile is empty\n");
    Post_Error("");
    EXPECT_TRUE(hdr.ReadHeader(dir.File("missing.hdr").c_str()));
    EXPECT_STREQ(Get_Last_Error(), "");  // a missing header fails silently
    Post_Error("");
    hdr.Header() = SampleHeader("x.tif");
    EXPECT_TRUE(hdr.WriteHeader(dir.File("no/such/folder/x.hdr").c_str()));
    EXPECT_NE(std::string(Get_Last_Error()).find("write open failed"), std::string::npos);
}

TEST(HeaderFile, LongLinesAreCutAndReadOn) {
    TempDir dir;
    // A line after the first is read 125 characters at a time: a keyword
    // past that point is read as a line of its own, with its number lost.
    const std::string padding(130, 'x');
    WriteText(dir.File("l.hdr"),
              "img.tif\nJPEG\n640\t;WIDTH\n" + padding + "480\t;HEIGHT\n8\t;BITS\n");
    orvix::HdrClass hdr;
    ASSERT_FALSE(hdr.ReadHeader(dir.File("l.hdr").c_str()));
    EXPECT_EQ(hdr.Header().Type, IMG_TYPE_JPEG);
    EXPECT_EQ(hdr.Header().Width, 640);
    EXPECT_EQ(hdr.Header().Height, 0);
    EXPECT_EQ(hdr.Header().Bits, 8);

    // The first line holds a path of any length the platform allows; past
    // that it is cut and the rest read as a further line.
    const std::string longPath = "/" + std::string(5000, 'p') + "WIDTH";
    WriteText(dir.File("m.hdr"), longPath + "\nTIFF\n7\t;HEIGHT\n");
    ASSERT_FALSE(hdr.ReadHeader(dir.File("m.hdr").c_str()));
    EXPECT_EQ(std::strlen(hdr.Header().FileName), size_t{ORVIX_MAX_PATH - 1});
    EXPECT_EQ(hdr.Header().Height, 7);
}

TEST(HeaderQueries, AspectResolutionAndFileName) {
    TempDir dir;
    orvix::HdrClass& hdr = *orvix::Lib().hdr;
    hdr.Header() = SampleHeader("/img/q.tif");
    ASSERT_FALSE(hdr.WriteHeader(dir.File("q.hdr").c_str()));
    EXPECT_DOUBLE_EQ(Get_Aspect(dir.File("q.hdr").c_str()), 401.0 / 300.0);

    double x = 0, y = 0;
    int unit = 0;
    EXPECT_FALSE(Get_Image_Res("ignored", &x, &y, &unit));
    EXPECT_DOUBLE_EQ(x, 72.5);
    EXPECT_DOUBLE_EQ(y, 300.0);
    EXPECT_EQ(unit, 2);

    EXPECT_STREQ(Get_FileName_From_HDR(dir.File("q.hdr").c_str()), "/img/q.tif");
    EXPECT_STREQ(Get_FileName_From_HDR(dir.File("none.hdr").c_str()), "");
    EXPECT_STREQ(Get_FileName_From_HDR(""), "");

    EXPECT_EQ(Get_Aspect(dir.File("none.hdr").c_str()), 0.0);
    EXPECT_STREQ(Get_Last_Error(), "Get_Aspect Height =  0\n");
    IMAGE_HDR flat = SampleHeader("/img/flat.tif");
    flat.Height = 0;
    hdr.Header() = flat;
    ASSERT_FALSE(hdr.WriteHeader(dir.File("flat.hdr").c_str()));
    EXPECT_EQ(Get_Aspect(dir.File("flat.hdr").c_str()), 0.0);
    EXPECT_STREQ(Get_Last_Error(), "Get_Aspect Height =  0\n");
}
