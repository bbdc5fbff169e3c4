// TIFF thumbnails made by row selection: which file rows and columns end up
// in the thumbnail, stored against compressed files, in memory and as files,
// and the process-wide switch from JPEG to TIFF thumbnails.
#include <gtest/gtest.h>
#include <tiffio.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

#include "codecs/tiff.h"
#include "library.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Every row and column of a colour source is told apart by its pixel: R
// and the low half of G hold the row, B and the high half of G the
// column. Grey sources mix both into one byte, which still differs between
// neighbouring rows and columns.
uint8_t Coded(uint32_t row, uint32_t col, int c, int samples) {
    if (samples == 1) return static_cast<uint8_t>(row * 37 + col * 11);
    switch (c) {
    case 0: return static_cast<uint8_t>(row);
    case 1: return static_cast<uint8_t>(((row >> 8) & 15) | (((col >> 8) & 15) << 4));
    default: return static_cast<uint8_t>(col);
    }
}

void WriteCodedTiff(const std::string& path, uint32_t w, uint32_t h, int samples, bool lzw) {
    ImgClass img;
    MakeImage(img, w, h, samples);
    ImgStruct& s = img.ImgStruct;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < samples; ++c)
                s.ImgData[size_t{y} * s.LineSize + size_t{x} * samples + c] = Coded(y, x, c, samples);
    SetName(img, path);
    ASSERT_FALSE(WriteTIFF(lzw, false, &img)) << Get_Last_Error();
}

uint16_t Compression(const std::string& path) {
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return 0;
    uint16_t c = 0;
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &c);
    TIFFClose(tif);
    return c;
}

// The thumbnail's pixel (x, k) is the source's pixel (col(x), row(k)).
template <class Row, class Col>
::testing::AssertionResult Picks(const ImgClass& thumb, uint32_t w, uint32_t h, int samples, Row row,
                                 Col col) {
    const ImgStruct& t = thumb.ImgStruct;
    if (!t.ImgData || t.Width != w || t.Height != h || t.Samples != samples)
        return ::testing::AssertionFailure() << "thumbnail " << t.Width << "x" << t.Height << "x"
                                             << t.Samples << ", want " << w << "x" << h << "x" << samples;
    for (uint32_t k = 0; k < h; ++k)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < samples; ++c)
                if (At(thumb, x, k, c) != Coded(row(k), col(x), c, samples))
                    return ::testing::AssertionFailure()
                           << "pixel (" << x << "," << k << ") sample " << c << " is " << int(At(thumb, x, k, c))
                           << ", want that of file row " << row(k) << " column " << col(x);
    return ::testing::AssertionSuccess();
}

uint32_t Every5th(uint32_t i) { return 5 * i; }

// Keeps the process-wide thumbnail quality as the test found it.
class QualityGuard {
public:
    explicit QualityGuard(int quality) : saved_(orvix::Lib().thumbnails.quality) {
        orvix::Lib().thumbnails.quality = quality;
    }
    ~QualityGuard() { orvix::Lib().thumbnails.quality = saved_; }

private:
    int saved_;
};

}  // namespace

class TiffThumbnail : public ::testing::TestWithParam<int> {
protected:
    int Samples() const { return GetParam(); }
    TempDir dir;
};

TEST_P(TiffThumbnail, UncompressedFileGivesEveryFifthRowAndColumn) {
    const std::string file = dir.File("big.tif");
    WriteCodedTiff(file, 2000, 1000, Samples(), false);
    ASSERT_EQ(Compression(file), COMPRESSION_NONE);
    ImgClass thumb;
    thumb.ImgStruct.BgrOrder = 1;
    ASSERT_FALSE(orvix::Lib().tiff->TiffmakeLocalThn(400, file.c_str(), &thumb)) << Get_Last_Error();
    EXPECT_TRUE(Picks(thumb, 400, 200, Samples(), Every5th, Every5th));
    EXPECT_EQ(thumb.ImgStruct.BgrOrder, 0);
    EXPECT_FALSE(orvix::Lib().tiff->IsOpen());
}

TEST_P(TiffThumbnail, CompressedFileGivesTheSamePixels) {
    const std::string plain = dir.File("plain.tif"), lzw = dir.File("lzw.tif");
    WriteCodedTiff(plain, 2000, 1000, Samples(), false);
    WriteCodedTiff(lzw, 2000, 1000, Samples(), true);
    ASSERT_EQ(Compression(lzw), COMPRESSION_LZW);
    ImgClass a, b;
    ASSERT_FALSE(orvix::Lib().tiff->TiffmakeLocalThn(400, plain.c_str(), &a)) << Get_Last_Error();
    ASSERT_FALSE(orvix::Lib().tiff->TiffmakeLocalThn(400, lzw.c_str(), &b)) << Get_Last_Error();
    EXPECT_TRUE(Picks(b, 400, 200, Samples(), Every5th, Every5th));
    ASSERT_EQ(a.ImgStruct.LineSize, b.ImgStruct.LineSize);
    EXPECT_EQ(0, std::memcmp(a.ImgStruct.ImgData, b.ImgStruct.ImgData, size_t{a.ImgStruct.LineSize} * 200));
}

TEST_P(TiffThumbnail, FractionalStepSelectsByFileOrderWhenCompressed) {
    // Width 800 of 2000: a step of 2.5. Stored rows are picked directly at
    // trunc(2.5 k); compressed rows are decoded in order and thumbnail row k
    // is the first file row whose trunc(r / 2.5) is k, that is ceil(2.5 k).
    const std::string plain = dir.File("plain.tif"), lzw = dir.File("lzw.tif");
    WriteCodedTiff(plain, 2000, 1000, Samples(), false);
    WriteCodedTiff(lzw, 2000, 1000, Samples(), true);
    auto column = [](uint32_t x) { return static_cast<uint32_t>(x * 2.5); };
    ImgClass a, b;
    ASSERT_FALSE(orvix::Lib().tiff->TiffmakeLocalThn(800, plain.c_str(), &a)) << Get_Last_Error();
    EXPECT_TRUE(Picks(a, 800, 400, Samples(), [](uint32_t k) { return static_cast<uint32_t>(k * 2.5); },
                      column));
    ASSERT_FALSE(orvix::Lib().tiff->TiffmakeLocalThn(800, lzw.c_str(), &b)) << Get_Last_Error();
    EXPECT_TRUE(Picks(b, 800, 400, Samples(),
                      [](uint32_t k) { return static_cast<uint32_t>(std::ceil(k * 2.5)); }, column));
    EXPECT_EQ(orvix::Lib().thumbnails.width, 800);
}

TEST_P(TiffThumbnail, FileFormWritesWhatTheMemoryFormMakes) {
    const std::string file = dir.File("scan.tif");
    WriteCodedTiff(file, 2000, 1000, Samples(), false);
    ImgClass want;
    ASSERT_FALSE(orvix::Lib().tiff->TiffmakeLocalThn(400, file.c_str(), &want)) << Get_Last_Error();

    {
        // Quality 0: an uncompressed TIFF, by default beside the image.
        QualityGuard quality(0);
        const std::string named = dir.File("named.tn0");
        ASSERT_FALSE(orvix::Lib().tiff->TiffmakeLocalThnFile(400, file.c_str(), named.c_str()));
        ASSERT_FALSE(orvix::Lib().tiff->TiffmakeLocalThnFile(400, file.c_str(), ""));
        for (const std::string& made : {named, dir.File("scan.tnl")}) {
            SCOPED_TRACE(made);
            ASSERT_EQ(Get_File_Type(made.c_str()), IMG_TYPE_TIFF);
            EXPECT_EQ(Compression(made), COMPRESSION_NONE);
            ImgClass back;
            SetName(back, made);
            ASSERT_FALSE(ReadImage(false, &back)) << Get_Last_Error();
            EXPECT_TRUE(Picks(back, 400, 200, Samples(), Every5th, Every5th));
        }
    }
    {
        // Any other quality: a JPEG of the same size.
        QualityGuard quality(90);
        const std::string jpeg = dir.File("jpeg.tnl");
        ASSERT_FALSE(orvix::Lib().tiff->TiffmakeLocalThnFile(400, file.c_str(), jpeg.c_str()));
        ASSERT_EQ(Get_File_Type(jpeg.c_str()), IMG_TYPE_JPEG);
        ImgClass back;
        SetName(back, jpeg);
        ASSERT_FALSE(ReadImage(false, &back));
        EXPECT_EQ(back.ImgStruct.Width, 400u);
        EXPECT_EQ(back.ImgStruct.Height, 200u);
    }
    EXPECT_FALSE(orvix::Lib().tiff->IsOpen());
}

TEST_P(TiffThumbnail, FileFormEnlargesFromTheWholeImage) {
    // 100 rows at a step of 1/3 would want 300 of them: the file is read
    // whole and sampled keeping the aspect.
    const std::string file = dir.File("small.tif"), made = dir.File("small.tnl");
    WriteCodedTiff(file, 200, 100, Samples(), false);
    QualityGuard quality(0);
    ASSERT_FALSE(orvix::Lib().tiff->TiffmakeLocalThnFile(600, file.c_str(), made.c_str()));
    ImgClass back;
    SetName(back, made);
    ASSERT_FALSE(ReadImage(false, &back)) << Get_Last_Error();
    auto third = [](uint32_t i) { return static_cast<uint32_t>(i * (200.0 / 600)); };
    EXPECT_TRUE(Picks(back, 600, 300, Samples(), third, third));
}

INSTANTIATE_TEST_SUITE_P(Samples, TiffThumbnail, ::testing::Values(1, 3),
                         [](const auto& info) { return info.param == 1 ? "Grey" : "Colour"; });

TEST(TiffThumbnailRefusals, MissingImageOrFileAndBadSize) {
    TempDir dir;
    orvix::TIFFClass& tiff = *orvix::Lib().tiff;
    const std::string file = dir.File("small.tif");
    WriteCodedTiff(file, 100, 50, 1, false);

    EXPECT_TRUE(tiff.TiffmakeLocalThn(40, file.c_str(), nullptr));
    EXPECT_STREQ(Get_Last_Error(), "TIFFClass::TiffmakeLocalThn Thn is NULL\n");

    Post_Error("");
    ImgClass thumb;
    const std::string absent = dir.File("absent.tif");
    EXPECT_TRUE(tiff.TiffmakeLocalThn(40, absent.c_str(), &thumb));
    EXPECT_EQ(thumb.ImgStruct.ImgData, nullptr);
    const std::string want = "TIFFClass::TiffmakeLocalThn(" + absent + ")(..) FAILED OpenTiffFile(" +
                             absent + ") failed\n";
    const std::string text = Get_Last_Error();
    EXPECT_TRUE(text.size() >= want.size() && text.compare(text.size() - want.size(), want.size(), want) == 0)
        << text;

    EXPECT_TRUE(tiff.TiffmakeLocalThnFile(40, absent.c_str(), dir.File("none.tnl").c_str()));
    EXPECT_FALSE(fs::exists(dir.File("none.tnl")));
    EXPECT_TRUE(tiff.TiffmakeLocalThnFile(0, file.c_str(), dir.File("zero.tnl").c_str()));
    EXPECT_FALSE(fs::exists(dir.File("zero.tnl")));
    EXPECT_FALSE(tiff.IsOpen());
}

// Quality 0 switches JPEG thumbnails off for the rest of the process, so
// the case runs in a child process; the parent only reads its exit status.
namespace {

enum ChildFault {
    kOk = 0,
    kSetup = 10,
    kTiffCall,
    kTiffNotUncompressed,
    kTiffPixels,
    kStillOn,
    kGreyCall,
    kGreyNotLzw,
    kGreyPixels,
    kSecondCall,
    kSecondNotLzw,
    kTiffLaterCall,
    kTiffLaterNotJpeg,
};

const char* Describe(int code) {
    switch (code) {
    case kSetup: return "making the sources or their headers failed";
    case kTiffCall: return "Make_Local_Tnl(0, ...) on the TIFF failed";
    case kTiffNotUncompressed: return "the TIFF source's thumbnail is not an uncompressed TIFF";
    case kTiffPixels: return "the TIFF source's thumbnail has the wrong pixels";
    case kStillOn: return "quality 0 left JPEG thumbnails on";
    case kGreyCall: return "Make_Local_Tnl(85, ...) on the PGM failed";
    case kGreyNotLzw: return "a later PGM thumbnail at quality 85 is not an LZW TIFF";
    case kGreyPixels: return "the PGM thumbnail has the wrong pixels";
    case kSecondCall: return "Make_Local_Tnl(60, ...) on a second PGM failed";
    case kSecondNotLzw: return "a second later PGM thumbnail is not an LZW TIFF";
    case kTiffLaterCall: return "a later TIFF thumbnail at quality 85 failed";
    case kTiffLaterNotJpeg: return "a later TIFF thumbnail at quality 85 is not a JPEG";
    default: return "unexpected status";
    }
}

bool Header(const std::string& image, const std::string& header) {
    IMAGE_HDR record;
    // As the program does: the header is made, then read as the current one.
    return Make_Local_Header(image.c_str(), header.c_str()) || Read_Hdr(header.c_str(), &record);
}

int SwitchOffInChild(const TempDir& dir) {
    const std::string tif = dir.File("scan.tif"), tifHdr = dir.File("scan.hdr");
    const std::string pgm = dir.File("grey.pgm"), pgmHdr = dir.File("grey.hdr");
    const std::string pgm2 = dir.File("other.pgm"), pgm2Hdr = dir.File("other.hdr");
    {
        ImgClass img;
        MakeImage(img, 200, 100, 3);
        for (uint32_t y = 0; y < 100; ++y)
            for (uint32_t x = 0; x < 200; ++x)
                for (int c = 0; c < 3; ++c)
                    img.ImgStruct.ImgData[y * img.ImgStruct.LineSize + x * 3 + c] = Coded(y, x, c, 3);
        SetName(img, tif);
        if (WriteTIFF(false, false, &img)) return kSetup;
        ImgClass grey;
        MakeImage(grey, 120, 60, 1);
        SetName(grey, pgm);
        if (Write_8BitPGM(&grey)) return kSetup;
        SetName(grey, pgm2);
        if (Write_8BitPGM(&grey)) return kSetup;
    }

    if (Header(tif, tifHdr)) return kSetup;
    const std::string t0 = dir.File("scan.tn0");
    if (Make_Local_Tnl(0, 40, const_cast<char*>(tifHdr.c_str()), const_cast<char*>(t0.c_str())))
        return kTiffCall;
    if (Get_File_Type(t0.c_str()) != IMG_TYPE_TIFF || Compression(t0) != COMPRESSION_NONE)
        return kTiffNotUncompressed;
    {
        ImgClass back;
        SetName(back, t0);
        if (ReadImage(false, &back) || !Picks(back, 40, 20, 3, Every5th, Every5th)) return kTiffPixels;
    }
    if (orvix::Lib().thumbnails.jpegOn) return kStillOn;

    if (Header(pgm, pgmHdr)) return kSetup;
    const std::string t1 = dir.File("grey.tn0");
    if (Make_Local_Tnl(85, 40, const_cast<char*>(pgmHdr.c_str()), const_cast<char*>(t1.c_str())))
        return kGreyCall;
    if (Get_File_Type(t1.c_str()) != IMG_TYPE_TIFF || Compression(t1) != COMPRESSION_LZW) return kGreyNotLzw;
    {
        ImgClass source, back;
        SetName(source, pgm);
        SetName(back, t1);
        if (ReadImage(false, &source) || ReadImage(false, &back) || back.ImgStruct.Width != 40 ||
            back.ImgStruct.Height != 20 || At(back, 7, 5) != At(source, 21, 15))
            return kGreyPixels;
    }

    if (Header(pgm2, pgm2Hdr)) return kSetup;
    const std::string t2 = dir.File("other.tnl");
    if (Make_Local_Tnl(60, 30, const_cast<char*>(pgm2Hdr.c_str()), const_cast<char*>(t2.c_str())))
        return kSecondCall;
    if (Get_File_Type(t2.c_str()) != IMG_TYPE_TIFF || Compression(t2) != COMPRESSION_LZW)
        return kSecondNotLzw;
    if (orvix::Lib().thumbnails.jpegOn) return kStillOn;

    // The TIFF row reader's file form follows the quality of the call alone.
    if (Header(tif, tifHdr)) return kSetup;
    const std::string t3 = dir.File("scan-again.tn0");
    if (Make_Local_Tnl(85, 40, const_cast<char*>(tifHdr.c_str()), const_cast<char*>(t3.c_str())))
        return kTiffLaterCall;
    if (Get_File_Type(t3.c_str()) != IMG_TYPE_JPEG) return kTiffLaterNotJpeg;
    return kOk;
}

}  // namespace

TEST(ThumbnailSwitch, QualityZeroTurnsJpegThumbnailsOffForGood) {
    TempDir dir;
    const bool before = orvix::Lib().thumbnails.jpegOn;
    const int status = RunInChild([&] { return SwitchOffInChild(dir); });
    ASSERT_NE(status, -1) << "the child ended abnormally";
    EXPECT_EQ(status, kOk) << Describe(status);
    // The switch stayed in the child.
    EXPECT_EQ(orvix::Lib().thumbnails.jpegOn, before);
}
