// Every failure of the exported readers, header maker, rectangle reader,
// converter and thumbnail maker says which file and why; the words of an
// inner step are not wiped by a later one.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "codecs/image_tools.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

std::string LastError() { return Get_Last_Error(); }

// The exported operations that fail on a file, each as one call.
struct Operation {
    const char* name;
    std::function<bool(const TempDir&, const std::string&)> run;
};

const Operation kOperations[] = {
    {"ReadImage",
     [](const TempDir&, const std::string& path) {
         ImgClass img;
         SetName(img, path);
         Post_Error("");  // ReadImage itself leaves the text as it finds it
         return ReadImage(false, &img);
     }},
    {"Make_Local_Header",
     [](const TempDir& dir, const std::string& path) {
         return Make_Local_Header(path.c_str(), dir.File("made.hdr").c_str());
     }},
    {"GetImageRectangle",
     [](const TempDir&, const std::string& path) {
         ImgClass img;
         return GetImageRectangle(path.c_str(), CRect(0, 0, 1, 1), &img);
     }},
    {"Convert_Image",
     [](const TempDir& dir, const std::string& path) {
         return Convert_Image(path.c_str(), dir.File("converted.bmp").c_str(), IMG_TYPE_BMP, 90);
     }},
};

// Runs op on path; it must fail with words that name path and contain
// reason.
void ExpectFailureWords(const Operation& op, const TempDir& dir, const std::string& path,
                        const std::string& reason) {
    SCOPED_TRACE(op.name);
    Post_Error("stale words of an earlier call");
    EXPECT_TRUE(op.run(dir, path));
    const std::string text = LastError();
    EXPECT_NE(text, "");
    EXPECT_NE(text.find(path), std::string::npos) << text;
    EXPECT_NE(text.find(reason), std::string::npos) << text;
    Post_Error("");
}

TEST(FailureWords, ZeroLengthFilesOfEveryFormat) {
    const struct {
        const char* ext;
        const char* headerType;
    } formats[] = {{"tif", "TIFF"}, {"jpg", "JPEG"}, {"ppm", "PPM"},
                   {"pgm", "PGM"},  {"bmp", "BMP"},  {"tga", "TARGA"}};
    for (const auto& f : formats) {
        SCOPED_TRACE(f.ext);
        TempDir dir;
        const std::string path = dir.File(std::string("empty.") + f.ext);
        WriteBytes(path, {});
        for (const Operation& op : kOperations) ExpectFailureWords(op, dir, path, path + ": empty file");

        // A header made before the file was emptied still leads the
        // thumbnail maker to it.
        const std::string header = dir.File(std::string("empty_") + f.ext + ".hdr");
        WriteText(header, path + "\n" + f.headerType + "\n8\t;WIDTH\n8\t;HEIGHT\n");
        const std::string thumb = dir.File("empty.tnl");
        EXPECT_TRUE(Make_Local_Tnl(85, 4, const_cast<char*>(header.c_str()),
                                   const_cast<char*>(thumb.c_str())));
        EXPECT_NE(LastError().find(path), std::string::npos) << LastError();
    }
}

TEST(FailureWords, PortableMapsTheLibraryDoesNotRead) {
    const struct {
        const char* name;
        std::string bytes;
        const char* reason;
        int type;  // what Get_File_Type keeps saying
    } cases[] = {
        {"plain.pgm", "P2\n2 1\n255\n0 255\n", "not a supported image format (ASCII PGM)", -1},
        {"plain.ppm", "P3\n1 1\n255\n1 2 3\n", "not a supported image format (ASCII PPM)", -1},
        {"bits.pbm", "P4\n8 1\nU", "not a supported image format (PBM)", -1},
        {"tuple.pam",
         "P7\nWIDTH 1\nHEIGHT 1\nDEPTH 3\nMAXVAL 255\nTUPLTYPE RGB\nENDHDR\n\x01\x02\x03",
         "not a supported image format (PAM)", -1},
        // A maximum value of 0 leaves the samples without meaning.
        {"zero.pgm", "P5\n2 1\n0\n\x07\x08", "declares a maximum value of 0", IMG_TYPE_PGM},
        {"zero.ppm", "P6\n1 1\n0\n\x07\x08\x09", "declares a maximum value of 0", IMG_TYPE_PPM},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const std::string path = dir.File(c.name);
        WriteBytes(path, std::vector<uint8_t>(c.bytes.begin(), c.bytes.end()));
        EXPECT_EQ(Get_File_Type(path.c_str()), c.type);
        for (const Operation& op : kOperations) {
            if (std::string(op.name) == "GetImageRectangle") continue;  // dispatches on the header
            ExpectFailureWords(op, dir, path, c.reason);
        }
    }
}

// A JPEG made by Pillow, cut after its scan header: with nothing after it,
// with an end marker straight after it, and within the scan's data.
TEST(FailureWords, JpegWithoutScanDataFailsAndATruncatedScanKeepsItsWarning) {
    if (!image_tools::HavePillow()) GTEST_SKIP() << "no python3-pil";
    TempDir dir;
    const std::string whole = dir.File("whole.jpg");
    ASSERT_TRUE(image_tools::Pillow(
        dir.path().string(),
        "im = Image.new('RGB', (64, 48))\n"
        "im.putdata([(x * 4, y * 5, (x * y) % 256) for y in range(48) for x in range(64)])\n"
        "im.save(sys.argv[1], quality=90)\n",
        {whole}));
    const std::vector<uint8_t> bytes = ReadBytes(whole);
    size_t scan = 0;  // the first byte after the scan header
    for (size_t i = 2; i + 3 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) {
            scan = i + 2 + (size_t{bytes[i + 2]} << 8 | bytes[i + 3]);
            break;
        }
    ASSERT_GT(scan, 0u);
    ASSERT_LT(scan + 100, bytes.size());

    const auto cut = [&](const char* name, size_t length, std::vector<uint8_t> tail) {
        std::vector<uint8_t> b(bytes.begin(), bytes.begin() + static_cast<long>(length));
        b.insert(b.end(), tail.begin(), tail.end());
        WriteBytes(dir.File(name), b);
        return dir.File(name);
    };
    for (const std::string& path :
         {cut("headers.jpg", scan, {}), cut("headers_end.jpg", scan, {0xFF, 0xD9})}) {
        SCOPED_TRACE(path);
        for (const Operation& op : kOperations) {
            if (std::string(op.name) == "Make_Local_Header") continue;  // the headers are whole
            if (std::string(op.name) == "GetImageRectangle") {
                ASSERT_FALSE(Make_Local_Header(path.c_str(), dir.File("headers.hdr").c_str()));
            }
            ExpectFailureWords(op, dir, path, "JPEG datastream contains no image");
        }
    }

    // Some of the scan is there: the image reads, and libjpeg's warning stays
    // in the text through the TIFF writer of a conversion.
    const std::string truncated = cut("truncated.jpg", scan + 100, {});
    ImgClass img;
    SetName(img, truncated);
    Post_Error("");
    ASSERT_FALSE(ReadImage(false, &img)) << LastError();
    EXPECT_EQ(img.ImgStruct.Width, 64u);
    EXPECT_NE(LastError().find("Premature end of JPEG file"), std::string::npos) << LastError();
    ASSERT_FALSE(Convert_Image(truncated.c_str(), dir.File("truncated.tif").c_str(), IMG_TYPE_TIFF, 0))
        << LastError();
    EXPECT_NE(LastError().find("Premature end of JPEG file"), std::string::npos) << LastError();
}

}  // namespace
