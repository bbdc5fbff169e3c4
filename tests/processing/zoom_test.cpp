// Zoom arithmetic, sampling, the zoom entry points and local command files.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "codecs/hdr.h"
#include "library.h"
#include "processing/zoom.h"
#include "remote/command_file.h"
#include "support/test_support.h"

using namespace testing_support;
using orvix::CalcCropRect;

namespace {

void ExpectRect(const CRect& r, int l, int t, int rr, int b) {
    EXPECT_EQ(r.left, l);
    EXPECT_EQ(r.top, t);
    EXPECT_EQ(r.right, rr);
    EXPECT_EQ(r.bottom, b);
}

const CRect kFrame{0, 0, 400, 320};
const CRect kWhole{0, 0, 1000, 800};

// Makes the library's current header describe a w x h image at path.
void SetCurrentHeader(const std::string& path, int w, int h) {
    IMAGE_HDR& hdr = orvix::Lib().hdr->Header();
    std::memset(&hdr, 0, sizeof hdr);
    std::strcpy(hdr.FileName, path.c_str());
    hdr.Width = w;
    hdr.Height = h;
    hdr.Samples = 3;
    hdr.Bits = 8;
}

}  // namespace

TEST(CropArithmetic, WorkedExamples) {
    // Click at the centre of a 400 x 320 frame showing the whole image, m = 2.
    ExpectRect(CalcCropRect(200, 160, kFrame, 2.0, kWhole, 1000, 800), 250, 200, 750, 600);
    // At the left edge the half-size crop is shifted inside the image.
    ExpectRect(CalcCropRect(0, 160, kFrame, 2.0, kWhole, 1000, 800), 0, 200, 500, 600);
    // At the bottom-right corner likewise.
    ExpectRect(CalcCropRect(399, 319, kFrame, 2.0, kWhole, 1000, 800), 500, 400, 1000, 800);
    // Zooming out of the whole image stays limited to the image.
    ExpectRect(CalcCropRect(200, 160, kFrame, -2.0, kWhole, 1000, 800), 0, 0, 1000, 800);
    // m = 1 keeps the size and only moves the centre.
    ExpectRect(CalcCropRect(300, 160, kFrame, 1.0, CRect{250, 200, 750, 600}, 1000, 800),
               375, 200, 875, 600);
}

TEST(CropArithmetic, InvalidMagnificationAndTheThirtyPixelFloor) {
    Post_Error("");
    EXPECT_TRUE(CalcCropRect(200, 160, kFrame, 0.5, kWhole, 1000, 800).IsRectEmpty());
    EXPECT_STREQ(Get_Last_Error(), "Tarn_FTP::CalcCropRect: (fabs) Zoom <= 1.0\n");
    // 59 wide halves to 29: under the floor.
    EXPECT_TRUE(CalcCropRect(200, 160, kFrame, 2.0, CRect{0, 0, 59, 800}, 1000, 800).IsRectEmpty());
    EXPECT_FALSE(CalcCropRect(200, 160, kFrame, 2.0, CRect{0, 0, 60, 800}, 1000, 800).IsRectEmpty());
}

TEST(ZoomSampling, NearestNeighbourWithAZeroLastLine) {
    ImgClass in, out;
    MakeImage(in, 100, 80, 3);
    CRect crop{10, 20, 60, 60};  // 50 x 40 into 25 x 20: every second pixel
    orvix::ZoomCrop(crop, in, out, 25, 20, 80);
    ASSERT_NE(out.ImgStruct.ImgData, nullptr);
    EXPECT_EQ(out.ImgStruct.Width, 25u);
    EXPECT_EQ(out.ImgStruct.Height, 20u);
    for (uint32_t y = 0; y < 19; ++y)
        for (uint32_t x = 0; x < 25; ++x)
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(At(out, x, y, c), At(in, 10 + 2 * x, 20 + 2 * y, c)) << x << "," << y;
    for (uint32_t x = 0; x < 25; ++x) EXPECT_EQ(At(out, x, 19, 0), 0);
}

TEST(ZoomEntryPoints, TwoImageFormWalksInAndOutLikeAViewer) {
    ImgClass in, out;
    MakeImage(in, 1000, 800, 3);
    SetName(in, "/photos/walk.tif");
    ASSERT_FALSE(Reset_TarnDb());

    CRect shown{};
    const char* name = ZoomImageLocal(200, 160, 400, 320, &shown, 2.0, 80, &in, &out);
    ASSERT_STRNE(name, "") << Get_Last_Error();
    EXPECT_STREQ(out.ImgStruct.FileName, name);
    EXPECT_TRUE(std::regex_search(name, std::regex("_Plom\\.str$")));
    ASSERT_FALSE(GetCropRect(&shown));
    ExpectRect(shown, 250, 200, 750, 600);
    EXPECT_EQ(out.ImgStruct.Width, 400u);
    EXPECT_EQ(out.ImgStruct.Height, 320u);
    EXPECT_EQ(At(out, 0, 0), At(in, 250, 200));

    // In again around the same point, then back out twice.
    out.FreeData();
    ASSERT_STRNE(ZoomImageLocal(200, 160, 400, 320, &shown, 2.0, 80, &in, &out), "");
    ASSERT_FALSE(GetCropRect(&shown));
    ExpectRect(shown, 375, 300, 625, 500);
    out.FreeData();
    ASSERT_STRNE(ZoomImageLocal(200, 160, 400, 320, &shown, -2.0, 80, &in, &out), "");
    ASSERT_FALSE(GetCropRect(&shown));
    ExpectRect(shown, 250, 200, 750, 600);
    out.FreeData();
    ASSERT_STRNE(ZoomImageLocal(200, 160, 400, 320, &shown, -2.0, 80, &in, &out), "");
    ASSERT_FALSE(GetCropRect(&shown));
    ExpectRect(shown, 0, 0, 1000, 800);
    // Nothing is left to zoom out to: no result, no message.
    out.FreeData();
    Post_Error("");
    EXPECT_STREQ(ZoomImageLocal(200, 160, 400, 320, &shown, -2.0, 80, &in, &out), "");
    EXPECT_STREQ(Get_Last_Error(), "");
}

TEST(ZoomEntryPoints, RefusalsLeaveTheCropEmpty) {
    ImgClass in, out;
    MakeImage(in, 1000, 800, 1);
    SetName(in, "/photos/refuse.tif");
    CRect none{};
    for (double m : {0.5, -0.5}) {
        EXPECT_STREQ(ZoomImageLocal(10, 10, 400, 320, &none, m, 0, &in, &out), "");
        EXPECT_STREQ(Get_Last_Error(), "ZoomImage_Local: Magnification < 1.0 CropRect was reset\n");
        CRect r;
        EXPECT_TRUE(GetCropRect(&r));
    }
    // Zooming in until the crop would be under 30 pixels.
    CRect small{0, 0, 50, 50};
    EXPECT_STREQ(ZoomImageLocal(10, 10, 400, 320, &small, 2.0, 0, &in, &out), "");
    EXPECT_STREQ(Get_Last_Error(), "ZoomImage_Local: CropRct is empty\n");
    // Frames without area and missing images are refused, not divided by.
    EXPECT_STREQ(ZoomImageLocal(10, 10, 0, 320, &none, 2.0, 0, &in, &out), "");
    EXPECT_NE(std::string(Get_Last_Error()).find("no area"), std::string::npos);
    EXPECT_STREQ(ZoomImageLocal(10, 10, 400, 320, &none, 2.0, 0, static_cast<ImgClass*>(nullptr)), "");
    EXPECT_STRNE(Get_Last_Error(), "");
}

TEST(CommandFiles, LocalFormLineByLine) {
    TempDir dir;
    Set_Temp_Path(dir.path().c_str());
    SetCurrentHeader("/photos/big.tif", 1000, 800);
    ASSERT_FALSE(orvix::GenerateLocalCmd(CRect{250, 200, 750, 600}, 400, 300, 150));
    const std::string command = orvix::Lib().zoom.commandFile;
    EXPECT_TRUE(std::regex_match(command, std::regex(dir.path().string() +
                                                     "/plate_00_ftp_0000_[0-9a-f]+_Plom\\.cmd")))
        << command;
    std::string result = command.substr(0, command.size() - 3) + "str";
    EXPECT_EQ(orvix::Lib().zoom.resultFile, result);
    const auto bytes = ReadBytes(command);
    EXPECT_EQ(std::string(bytes.begin(), bytes.end()),
              "FILE: /photos/big.tif\nCROP: 250,200,500,400\nSCL_IMG: 1\nFRAME: 400,300 ;W H\n"
              "STRM: " + orvix::PlainNamePart(result) + "\nRCT: 250,200,500,400,100\n");
    Set_Temp_Path("/tmp");
}

TEST(CommandFiles, RemoteFormOrderAndQualityFloor) {
    TempDir dir;
    Set_Temp_Path(dir.path().c_str());
    ASSERT_FALSE(orvix::GenerateRemoteCmd("/images/crop/scan.hdr", CRect{0, 0, 100, 50}, 640,
                                          480, -5));
    const std::string command = orvix::Lib().zoom.commandFile;
    EXPECT_TRUE(std::regex_match(command, std::regex(dir.path().string() +
                                                     "/plate_00_ftp_0000_[0-9a-f]+a_Plom\\.cmd")))
        << command;
    const auto bytes = ReadBytes(command);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_EQ(text, "FILE: crop/scan.hdr\nSCL_IMG: 1\nCROP: 0,0,100,50\nFRAME: 640,480 ;W H\nSTRM: " +
                        orvix::PlainNamePart(orvix::Lib().zoom.resultFile) +
                        "\nRCT: 0,0,100,50,0\n");
    Set_Temp_Path("/tmp");
}

TEST(CommandFiles, NameParts) {
    EXPECT_EQ(orvix::PlainNamePart("C:\\a\\b*c.str"), "c.str");
    EXPECT_EQ(orvix::PlainNamePart("/x/y/z.str"), "z.str");
    EXPECT_EQ(orvix::PlainNamePart("plain"), "plain");
    // A backslash is part of the name.
    EXPECT_EQ(orvix::PlainNamePart("/x/C:\\a\\b.str"), "C:\\a\\b.str");
    EXPECT_EQ(orvix::ImageNamePart("/a/crop/x.jpg"), "crop/x.jpg");
    EXPECT_EQ(orvix::ImageNamePart("D:\\a\\crop\\x.jpg"), "D:\\a\\crop\\x.jpg");
    EXPECT_EQ(orvix::ImageNamePart("/a/b/*x.jpg"), "x.jpg");
}

TEST(CropImage, CopiedOrScaledFromTheFile) {
    TempDir dir;
    ImgClass src;
    MakeImage(src, 120, 90, 1);
    SetName(src, dir.File("crop.pgm"));
    ASSERT_FALSE(Write_8BitPGM(&src));

    CRect rect{10, 20, 70, 50};
    ImgClass exact;
    ASSERT_FALSE(GetCropImage(60, &rect, src.ImgStruct.FileName, &exact)) << Get_Last_Error();
    EXPECT_EQ(exact.ImgStruct.Width, 60u);
    EXPECT_EQ(exact.ImgStruct.Height, 30u);
    EXPECT_EQ(At(exact, 0, 0), At(src, 10, 20));
    EXPECT_EQ(At(exact, 59, 29), At(src, 69, 49));

    ImgClass half;
    ASSERT_FALSE(GetCropImage(30, &rect, src.ImgStruct.FileName, &half));
    EXPECT_EQ(half.ImgStruct.Width, 30u);
    EXPECT_EQ(half.ImgStruct.Height, 15u);
    EXPECT_EQ(At(half, 1, 1), At(src, 12, 22));

    CRect outside{100, 0, 130, 10};
    ImgClass none;
    EXPECT_TRUE(GetCropImage(30, &outside, src.ImgStruct.FileName, &none));
    EXPECT_EQ(none.ImgStruct.ImgData, nullptr);
}
