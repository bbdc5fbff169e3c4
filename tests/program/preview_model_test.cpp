// The preview's whole-image view, its zoom walk through the library and the
// clicks and buttons that move or reset it.
#include "preview_workspace.h"

#include <cstdlib>

namespace {

using testing_support::BlockSample;
using tolvane::Bitmap;
using tolvane::PreviewModel;
using tolvane::PreviewReply;

bool SameRect(const CRect& a, const CRect& b) {
    return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

::testing::AssertionResult PixelIs(const Bitmap& bmp, int x, int y, uint32_t ix, uint32_t iy,
                                   int samples, int tolerance) {
    const uint8_t* p = bmp.Pixel(x, y);
    for (int c = 0; c < 3; ++c) {
        // B, G, R from the image's R, G, B; a grey sample three times.
        const int want = BlockSample(ix, iy, samples == 1 ? 0 : 2 - c, samples);
        if (std::abs(p[c] - want) > tolerance)
            return ::testing::AssertionFailure()
                   << "byte " << c << " of (" << x << "," << y << ") is " << int(p[c]) << ", not " << want;
    }
    return ::testing::AssertionSuccess();
}

// A 2048 x 1024 image in a 400 x 300 frame at (10, 8): the picture is
// 400 x 200 at (10, 58), so every crop of aspect 2 shows there too, and
// 2048 and 1024 divide by 1.6 three times without remainder.
class PreviewTest : public testing_support::PreviewWorkspace {
protected:
    static constexpr int kCentreX = 210, kCentreY = 158;

    void Open(int samples, bool limitMemory) {
        WriteImage("walk.tif", 2048, 1024, samples, true);
        List({"walk.tif"});
        if (limitMemory) dialog.Click(tolvane::kLimitMemory);
        preview.SetFrame(CRect{10, 8, 410, 308});
        dialog.Click(tolvane::kPreviewImage);
    }
};

struct WalkCase {
    bool limitMemory;  // the record holds no pixels: the by-name zoom writes files
    int samples;
};

class PreviewWalkTest : public PreviewTest, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(PreviewWalkTest, ThreeInThreeOutRetracesTheLibrarysCrops) {
    const WalkCase wc = GetParam();
    Open(wc.samples, wc.limitMemory);
    const tolvane::PreviewPicture whole = preview.Paint();
    ASSERT_EQ(whole.bitmap, &preview.WholeBitmap());
    EXPECT_TRUE(SameRect(whole.target, CRect{10, 58, 410, 258}));
    EXPECT_EQ(preview.WholeBitmap().width, 400);
    EXPECT_EQ(preview.WholeBitmap().height, 200);
    // The thumbnail file behind a limited-memory view is a JPEG.
    EXPECT_TRUE(PixelIs(preview.WholeBitmap(), 200, 100, 1024, 512, wc.samples, wc.limitMemory ? 24 : 0));
    EXPECT_EQ(preview.Caption(), "Preview  " + Image("walk.tif") + " X=2048 [ pixels ] Y=1024 [ lines ]");

    std::vector<CRect> crops{CRect{0, 0, 2048, 1024}};
    int w = 2048, h = 1024;
    for (int k = 1; k <= 3; ++k) {
        w = w * 5 / 8;  // / 1.6, exact for these sizes
        h = h * 5 / 8;
        ASSERT_EQ(preview.LeftRelease(kCentreX, kCentreY), PreviewReply::Repaint) << "in " << k;
        CRect reported{};
        ASSERT_FALSE(GetCropRect(&reported));
        ASSERT_TRUE(SameRect(preview.Crop(), reported));
        EXPECT_TRUE(SameRect(reported, CRect{1024 - w / 2, 512 - h / 2, 1024 + w / 2, 512 + h / 2})) << k;
        crops.push_back(reported);
        EXPECT_EQ(Get_File_Type(preview.LastResult().c_str()), wc.limitMemory ? IMG_TYPE_TIFF : IMG_TYPE_UNKNOWN);

        ASSERT_EQ(preview.Paint().bitmap, &preview.ZoomBitmap());
        const Bitmap& z = preview.ZoomBitmap();
        ASSERT_EQ(z.width, 400);
        ASSERT_EQ(z.height, 200);
        EXPECT_TRUE(PixelIs(z, 200, 100, 1024, 512, wc.samples, 0));
        EXPECT_EQ(z.Pixel(0, 0)[0] + z.Pixel(0, 0)[1] + z.Pixel(0, 0)[2], 3 * 192);
    }
    for (int k = 2; k >= 0; --k) {
        ASSERT_EQ(preview.RightRelease(kCentreX, kCentreY), PreviewReply::Repaint);
        CRect reported{};
        GetCropRect(&reported);
        EXPECT_TRUE(SameRect(preview.Crop(), reported));
        EXPECT_TRUE(SameRect(reported, crops[size_t(k)])) << "out to " << k;
        EXPECT_EQ(Get_File_Type(preview.LastResult().c_str()), wc.limitMemory ? IMG_TYPE_JPEG : IMG_TYPE_UNKNOWN);
    }
}

INSTANTIATE_TEST_SUITE_P(PreviewForms, PreviewWalkTest,
                         ::testing::Values(WalkCase{false, 3}, WalkCase{false, 1}, WalkCase{true, 3}));

struct BitmapCase {
    int samples;
    bool bgr;
    bool zoomed;
};

TEST(PreviewBitmap, IsBgrTopDownPaddedAndMarkedWhenZoomed) {
    const BitmapCase cases[] = {{3, false, false}, {3, true, false}, {1, false, false}, {3, false, true},
                                {1, false, true}};
    for (const BitmapCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.samples << (c.bgr ? " bgr" : " rgb") << (c.zoomed ? " zoomed" : ""));
        ImgClass img;
        testing_support::MakeImage(img, 5, 4, c.samples);
        img.ImgStruct.BgrOrder = c.bgr;
        Bitmap bmp;
        ASSERT_TRUE(tolvane::BuildBitmap(img, bmp, c.zoomed));
        EXPECT_EQ(bmp.stride, 16);
        EXPECT_EQ(img.ImgStruct.BgrOrder, c.samples == 3);
        for (uint32_t y = 0; y < 4; ++y)
            for (uint32_t x = 0; x < 5; ++x)
                for (int k = 0; k < 3; ++k) {
                    const int source = c.samples == 1 ? 0 : c.bgr ? k : 2 - k;
                    int want = testing_support::PatternSample(x, y, source, 1);
                    if (c.zoomed && y == 3) want = 0;
                    if (c.zoomed && x == 0 && y == 0) want = 192;
                    ASSERT_EQ(bmp.Pixel(int(x), int(y))[k], want) << x << "," << y << " byte " << k;
                }
        EXPECT_FALSE(tolvane::BuildBitmap(img, bmp, c.zoomed)) << "a bitmap is built once";
    }
}

// Transparent sources are shown over a grey checkerboard of 8-pixel squares,
// opaque pixels as they are and partial alpha blended, in either sample order.
TEST(PreviewBitmap, AlphaIsShownOverACheckerboard) {
    struct Pixel { int x, y; uint8_t r, g, b, a; uint8_t wantB, wantG, wantR; };
    const Pixel pixels[] = {
        {0, 0, 10, 20, 30, 0, 204, 204, 204},      // light square, fully transparent
        {8, 0, 10, 20, 30, 0, 153, 153, 153},      // dark square beside it
        {9, 9, 10, 20, 30, 0, 204, 204, 204},      // light again diagonally
        {3, 12, 10, 20, 30, 255, 30, 20, 10},      // opaque: its own colour
        {2, 2, 255, 0, 0, 128, 102, 102, 230},     // half red over light grey
        {12, 4, 0, 0, 255, 128, 204, 76, 76},      // half blue over dark grey
    };
    for (const auto& [samples, bgr] : {std::pair{4, false}, std::pair{4, true}, std::pair{2, false}}) {
        SCOPED_TRACE(::testing::Message() << samples << (bgr ? " bgr" : " rgb"));
        ImgClass img;
        ImgStruct& s = img.ImgStruct;
        s.Width = s.Height = 16;
        s.Samples = samples;
        s.Bits = 8;
        s.LineSize = 16 * uint32_t(samples);
        s.BgrOrder = bgr;
        ASSERT_FALSE(img.AllocData());
        for (const Pixel& p : pixels) {
            unsigned char* at = s.ImgData + size_t(p.y) * s.LineSize + size_t(p.x) * samples;
            at[0] = samples == 2 ? p.g : bgr ? p.b : p.r;
            if (samples == 4) {
                at[1] = p.g;
                at[2] = bgr ? p.r : p.b;
            }
            at[samples - 1] = p.a;
        }
        Bitmap bmp;
        ASSERT_TRUE(tolvane::BuildBitmap(img, bmp, false));
        for (const Pixel& p : pixels) {
            const uint8_t* got = bmp.Pixel(p.x, p.y);
            // Grey + alpha carries only the green sample of each row above.
            const int want[3] = {samples == 2 ? p.wantG : p.wantB, p.wantG, samples == 2 ? p.wantG : p.wantR};
            for (int k = 0; k < 3; ++k) EXPECT_NEAR(got[k], want[k], 1) << p.x << "," << p.y << " byte " << k;
        }
    }
}

// A transparent PNG in the preview, whole and zoomed in on its transparent
// half, held in memory or not: over the checkerboard, never over black.
TEST_F(PreviewTest, TransparentPicturesShowTheCheckerboard) {
    for (bool limitMemory : {false, true}) {
        SCOPED_TRACE(limitMemory ? "limited memory" : "held in memory");
        // 2048 x 1024: the left half transparent over black, the right half opaque red.
        ImgClass img;
        ImgStruct& s = img.ImgStruct;
        s.Width = 2048;
        s.Height = 1024;
        s.Samples = 4;
        s.Bits = 8;
        s.LineSize = 2048 * 4;
        ASSERT_FALSE(img.AllocData());
        for (uint32_t y = 0; y < s.Height; ++y)
            for (uint32_t x = 1024; x < s.Width; ++x) {
                unsigned char* p = s.ImgData + size_t{y} * s.LineSize + size_t{x} * 4;
                p[0] = p[3] = 255;
            }
        const std::string name = limitMemory ? "limited.png" : "held.png";
        testing_support::SetName(img, Image(name));
        ASSERT_FALSE(WritePNG(1, &img)) << Get_Last_Error();
        List({name});
        if (limitMemory != dialog.Get(tolvane::kLimitMemory).checked) dialog.Click(tolvane::kLimitMemory);
        preview.SetFrame(CRect{10, 8, 410, 308});
        dialog.Click(tolvane::kPreviewImage);
        ASSERT_EQ(preview.Paint().bitmap, &preview.WholeBitmap());
        const uint8_t light = tolvane::kCheckerLight, dark = tolvane::kCheckerDark;
        const uint8_t red[3] = {0, 0, 255};
        const Bitmap& whole = preview.WholeBitmap();
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(whole.Pixel(1, 1)[k], light, 2) << "byte " << k;
            EXPECT_NEAR(whole.Pixel(9, 1)[k], dark, 2) << "byte " << k;
            EXPECT_NEAR(whole.Pixel(300, 100)[k], red[k], 2) << "byte " << k;
        }
        // Zoomed in on the transparent half.
        ASSERT_EQ(preview.LeftRelease(60, kCentreY), PreviewReply::Repaint);
        ASSERT_EQ(preview.Paint().bitmap, &preview.ZoomBitmap());
        const Bitmap& zoom = preview.ZoomBitmap();
        for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(zoom.Pixel(1, 1)[k], light, 2) << "byte " << k;
            EXPECT_NEAR(zoom.Pixel(9, 1)[k], dark, 2) << "byte " << k;
        }
    }
}

// Reset_TarnDb and every zoom clear the last-error text: a marker that stays
// there shows the library was not asked.
bool LibraryAsked() {
    const bool asked = std::string(Get_Last_Error()).find("marker") == std::string::npos;
    Post_Error("marker");
    return asked;
}

TEST_F(PreviewTest, MarginClickEmptiesTheCropWithoutZooming) {
    Open(3, false);
    preview.Paint();
    for (bool zoomedFirst : {false, true}) {
        if (zoomedFirst) {
            ASSERT_EQ(preview.LeftRelease(kCentreX, kCentreY), PreviewReply::Repaint);
        }
        ASSERT_EQ(preview.Crop().IsRectEmpty(), !zoomedFirst);
        LibraryAsked();
        EXPECT_EQ(preview.LeftRelease(kCentreX, 20), PreviewReply::Repaint);
        EXPECT_FALSE(LibraryAsked());
        EXPECT_TRUE(preview.Crop().IsRectEmpty());
        EXPECT_EQ(preview.Paint().bitmap, &preview.WholeBitmap());
    }
}

TEST_F(PreviewTest, SecondRightClickOnTheWholeImageDoesNothing) {
    Open(3, false);
    preview.Paint();
    LibraryAsked();
    const bool askedEachTime[] = {true, false, false};
    for (bool asked : askedEachTime) {
        preview.RightRelease(kCentreX, kCentreY);
        EXPECT_EQ(LibraryAsked(), asked);
        EXPECT_TRUE(preview.Crop().IsRectEmpty());
        EXPECT_TRUE(preview.RightClickFoundEmpty());
    }
    // A zoom in arms the zoom out again.
    preview.LeftRelease(kCentreX, kCentreY);
    preview.RightRelease(kCentreX, kCentreY);
    EXPECT_TRUE(LibraryAsked());
}

TEST_F(PreviewTest, ZoomInFailingOnceKeepsTheViewTwiceShowsTheWholeImage) {
    Open(3, false);
    preview.Paint();
    CRect before{};
    for (int clicks = 0; !preview.ZoomInFailed() && clicks < 20; ++clicks) {
        before = preview.Crop();
        preview.LeftRelease(kCentreX, kCentreY);
        preview.Paint();
    }
    ASSERT_TRUE(preview.ZoomInFailed());
    EXPECT_TRUE(SameRect(preview.Crop(), before));
    EXPECT_EQ(preview.Paint().bitmap, &preview.ZoomBitmap());
    EXPECT_EQ(preview.LeftRelease(kCentreX, kCentreY), PreviewReply::Repaint);
    EXPECT_FALSE(preview.ZoomInFailed());
    EXPECT_TRUE(preview.Crop().IsRectEmpty());
    EXPECT_EQ(preview.AccumulatedZoom(), 0);
    EXPECT_EQ(preview.Paint().bitmap, &preview.WholeBitmap());
}

struct StepCase {
    int start;
    bool next;
    int selected;
    bool refreshed;
};

TEST_F(PreviewTest, ArrowsStepThroughTheListAndStopAtItsEnds) {
    for (const char* name : {"a.tif", "b.tif", "c.tif"}) WriteImage(name, 256, 128, 3, false);
    List({"a.tif", "b.tif", "c.tif"});
    preview.SetFrame(CRect{10, 8, 410, 308});
    dialog.Click(tolvane::kPreviewImage);
    const StepCase cases[] = {{2, true, 2, false}, {0, false, 0, false}, {0, true, 1, true}, {2, false, 1, true}};
    for (const StepCase& c : cases) {
        dialog.SelectListItem(c.start);
        preview.Paint();
        preview.LeftRelease(kCentreX, kCentreY);
        ASSERT_FALSE(preview.Crop().IsRectEmpty());
        const int waits = view.waitOns;
        c.next ? preview.Next() : preview.Previous();
        EXPECT_EQ(dialog.List().Selected(), c.selected) << c.start << (c.next ? " >" : " <");
        EXPECT_EQ(view.waitOns > waits, c.refreshed) << c.start;
        // A new selection shows whole; staying keeps the zoom.
        EXPECT_EQ(preview.Crop().IsRectEmpty(), c.refreshed) << c.start;
    }
}

// A double-click arrives as press, release, double-click, release: whatever
// the zoom before it, it ends on the whole picture, and only the trailing
// release is swallowed.
TEST_F(PreviewTest, DoubleClickShowsTheWholePictureWhateverTheZoom) {
    Open(3, false);
    preview.Paint();
    for (int zoomsBefore : {0, 1, 3}) {
        for (int k = 0; k < zoomsBefore; ++k) preview.LeftRelease(kCentreX, kCentreY);
        preview.LeftRelease(kCentreX, kCentreY);  // the first click of the pair zooms
        EXPECT_EQ(preview.DoubleClick(), PreviewReply::Repaint);
        EXPECT_EQ(preview.LeftRelease(kCentreX, kCentreY), PreviewReply::Nothing) << zoomsBefore;
        EXPECT_TRUE(preview.Crop().IsRectEmpty()) << zoomsBefore;
        EXPECT_EQ(preview.AccumulatedZoom(), 0) << zoomsBefore;
        EXPECT_EQ(preview.Paint().bitmap, &preview.WholeBitmap()) << zoomsBefore;
        // The next single click zooms again.
        EXPECT_EQ(preview.LeftRelease(kCentreX, kCentreY), PreviewReply::Repaint);
        EXPECT_FALSE(preview.Crop().IsRectEmpty()) << zoomsBefore;
        preview.DoubleClick();
        preview.LeftRelease(kCentreX, kCentreY);
    }
}

TEST_F(PreviewTest, HideClearsPreviewImageAndTheViewWheelOnlyTheZoom) {
    Open(3, false);
    preview.Paint();
    preview.LeftRelease(kCentreX, kCentreY);
    EXPECT_EQ(preview.Wheel(), PreviewReply::HideWindow);
    EXPECT_TRUE(preview.Crop().IsRectEmpty());
    EXPECT_TRUE(dialog.Get(tolvane::kPreviewImage).checked);
    EXPECT_EQ(preview.Hide(), PreviewReply::HideWindow);
    EXPECT_FALSE(dialog.Get(tolvane::kPreviewImage).checked);
    EXPECT_TRUE(preview.WholeBitmap().Empty());
}

}  // namespace
