// The thumbnail column: thumbnail sizes, which positions a page shows, hits
// and the scroll bar, kept in step with the main list.
#include "preview_workspace.h"

#include "naming.h"
#include "text.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace {

using tolvane::ThumbnailModel;

class ThumbnailTest : public testing_support::PreviewWorkspace {
protected:
    // Names f00.tif .. f24.tif; the third is 3000 x 2000.
    void OpenColumn(int files, int clientHeight) {
        std::vector<std::string> names;
        for (int i = 0; i < files; ++i) {
            names.push_back(tolvane::Format("f%02d.tif", i));
            WriteImage(names.back(), i == 2 ? 3000 : 16, i == 2 ? 2000 : 12, 1, false);
        }
        List(names);
        thumbnails.SetClientRect(CRect{0, 0, 300, clientHeight});
        dialog.Click(tolvane::kPreviewThumbnails);
    }
    // Every file of folder listed, then "PreviewThumbnails" ticked.
    void OpenColumnOf(const std::string& folder) {
        std::vector<std::string> selection{folder};
        for (const auto& e : std::filesystem::directory_iterator(folder))
            if (e.is_regular_file()) selection.push_back(e.path().filename().string());
        std::sort(selection.begin() + 1, selection.end());
        dialog.ListFiles(selection);
        thumbnails.SetClientRect(CRect{0, 0, 300, 640});
        dialog.Click(tolvane::kPreviewThumbnails);
    }
    // The middle of the cell in row r of the page.
    static int RowY(int r) { return r * ThumbnailModel::kPitch + ThumbnailModel::kCellSize / 2; }
    static constexpr int kCellX = 300 - 70 - 43;
};

// A photo stored wide but tagged as turned a quarter is shown tall; its
// thumbnail file keeps the stored rows.
TEST_F(ThumbnailTest, WideImagesGetSize80AndTallOnesSizeByAspect) {
    WriteImage("wide.tif", 4000, 2000, 1, false);
    WriteImage("tall.tif", 2000, 4000, 1, false);
    WriteImage("turned.tif", 4000, 2000, 1, false);
    const std::string tag = "/usr/bin/exiv2 -M'set Exif.Image.Orientation 6' '" + Image("turned.tif") + "'";
    ASSERT_EQ(std::system(tag.c_str()), 0);
    List({"wide.tif", "tall.tif", "turned.tif"});
    thumbnails.SetClientRect(CRect{0, 0, 300, 640});
    dialog.Click(tolvane::kPreviewThumbnails);
    struct Case {
        const char* name;
        int width, height, thumbWidth, thumbHeight;
        bool turned;
    } const cases[] = {{"wide", 4000, 2000, 80, 40, false},
                       {"tall", 2000, 4000, 40, 80, false},
                       {"turned", 2000, 4000, 80, 40, true}};
    for (const Case& c : cases) {
        ImgClass tn0;
        testing_support::SetName(tn0, Working(std::string(c.name) + ".tn0"));
        ASSERT_FALSE(ReadImage(false, &tn0)) << Get_Last_Error();
        EXPECT_EQ(int(tn0.ImgStruct.Width), c.thumbWidth) << c.name;
        EXPECT_EQ(int(tn0.ImgStruct.Height), c.thumbHeight) << c.name;
        const tolvane::ThumbnailEntry* e = thumbnails.Find(std::string(c.name) + ".tif");
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->width, c.width);
        EXPECT_EQ(e->height, c.height);
        EXPECT_EQ(e->bitmap.width, c.turned ? c.thumbHeight : c.thumbWidth) << c.name;
        EXPECT_EQ(e->bitmap.height, c.turned ? c.thumbWidth : c.thumbHeight) << c.name;
    }
}

// A JPEG's thumbnail is decoded reduced but has the library thumbnail
// maker's size, and shows the picture: dark on the left, light on the right.
TEST_F(ThumbnailTest, JpegThumbnailsKeepTheThumbnailMakersSize) {
    const struct { const char* name; uint32_t w, h; int thumbWidth, thumbHeight; } cases[] = {
        {"wide.jpg", 1203, 601, 80, 39}, {"tall.jpg", 601, 1203, 39, 78}};
    std::vector<std::string> names;
    for (const auto& c : cases) {
        ImgClass img;
        testing_support::MakeImage(img, c.w, c.h, 3);
        for (uint32_t y = 0; y < c.h; ++y)
            std::memset(img.ImgStruct.ImgData + size_t{y} * img.ImgStruct.LineSize, 20, size_t{c.w / 2} * 3);
        for (uint32_t y = 0; y < c.h; ++y)
            std::memset(img.ImgStruct.ImgData + size_t{y} * img.ImgStruct.LineSize + size_t{c.w / 2} * 3, 230,
                        size_t{c.w - c.w / 2} * 3);
        testing_support::SetName(img, Image(c.name));
        ASSERT_FALSE(WriteJPEG(90, &img));
        names.push_back(c.name);
    }
    List(names);
    thumbnails.SetClientRect(CRect{0, 0, 300, 640});
    dialog.Click(tolvane::kPreviewThumbnails);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ImgClass tn0;
        testing_support::SetName(tn0, Working(tolvane::ReplaceExtension(c.name, "tn0")));
        ASSERT_FALSE(ReadImage(false, &tn0)) << Get_Last_Error();
        const ImgStruct& t = tn0.ImgStruct;
        EXPECT_EQ(int(t.Width), c.thumbWidth);
        EXPECT_EQ(int(t.Height), c.thumbHeight);
        const uint8_t* middle = t.ImgData + size_t{t.Height / 2} * t.LineSize;
        EXPECT_LT(middle[3], 40);
        EXPECT_GT(middle[(t.Width - 2) * 3], 210);
    }
}

// A picture with transparency is shown over the checkerboard in its cell,
// not over the white a JPEG thumbnail would give it nor over black.
TEST_F(ThumbnailTest, TransparentPicturesShowTheCheckerboard) {
    const struct { const char* name; int samples; uint8_t opaque[3]; } cases[] = {
        {"grey_alpha.png", 2, {40, 40, 40}}, {"rgba.png", 4, {200, 30, 10}}};
    std::vector<std::string> names;
    for (const auto& c : cases) {
        // 160 x 80: the left half fully transparent (and black beneath), the right half opaque.
        ImgClass img;
        ImgStruct& s = img.ImgStruct;
        s.Width = 160;
        s.Height = 80;
        s.Samples = c.samples;
        s.Bits = 8;
        s.LineSize = 160 * uint32_t(c.samples);
        ASSERT_FALSE(img.AllocData());
        for (uint32_t y = 0; y < s.Height; ++y)
            for (uint32_t x = 80; x < s.Width; ++x) {
                unsigned char* p = s.ImgData + size_t{y} * s.LineSize + size_t{x} * uint32_t(c.samples);
                std::memcpy(p, c.opaque, size_t(c.samples - 1));
                p[c.samples - 1] = 255;
            }
        testing_support::SetName(img, Image(c.name));
        ASSERT_FALSE(WritePNG(6, &img)) << Get_Last_Error();
        names.push_back(c.name);
    }
    List(names);
    thumbnails.SetClientRect(CRect{0, 0, 300, 640});
    dialog.Click(tolvane::kPreviewThumbnails);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const tolvane::ThumbnailEntry* e = thumbnails.Find(c.name);
        ASSERT_NE(e, nullptr);
        ASSERT_EQ(e->bitmap.width, 80);
        ASSERT_EQ(e->bitmap.height, 40);
        const uint8_t want[3] = {c.opaque[c.samples == 4 ? 2 : 0], c.opaque[1], c.opaque[0]};  // B,G,R
        for (int k = 0; k < 3; ++k) {
            EXPECT_EQ(e->bitmap.Pixel(1, 1)[k], tolvane::kCheckerLight) << "byte " << k;
            EXPECT_EQ(e->bitmap.Pixel(9, 1)[k], tolvane::kCheckerDark) << "byte " << k;
            EXPECT_EQ(e->bitmap.Pixel(60, 20)[k], want[k]) << "byte " << k;
        }
    }
}

struct PageCase {
    int clientHeight;  // 640: an 8-row page; 2400: longer than the list
    int selected;
    int first, last;
};

class ThumbnailPageTest : public ThumbnailTest, public ::testing::WithParamInterface<PageCase> {};

TEST_P(ThumbnailPageTest, PagesFollowTheSelectionAndStopAtTheListsEnd) {
    const PageCase c = GetParam();
    OpenColumn(25, c.clientHeight);
    dialog.SelectListItem(c.selected);
    const tolvane::ThumbnailPage page = thumbnails.Page();
    EXPECT_EQ(page.first, c.first);
    EXPECT_EQ(page.last, c.last);
    ASSERT_EQ(int(page.cells.size()), c.last - c.first);
    for (int r = 0; r < int(page.cells.size()); ++r) {
        const tolvane::ThumbnailCell& cell = page.cells[size_t(r)];
        EXPECT_EQ(cell.position, c.first + r);
        EXPECT_EQ(cell.selected, cell.position == c.selected);
        EXPECT_EQ(cell.text, cell.selected ? ThumbnailModel::kSelectedText : ThumbnailModel::kText);
        EXPECT_EQ(cell.frame, cell.selected ? ThumbnailModel::kSelectedFrame : ThumbnailModel::kFrame);
        EXPECT_EQ(thumbnails.HitTest(kCellX, RowY(r)), c.first + r);
        EXPECT_EQ(cell.name, tolvane::Format("f%02d.tif", cell.position));
        if (cell.position == 2) {
            EXPECT_EQ(cell.caption, "3  3000 x 2000");
        }
    }
    EXPECT_EQ(thumbnails.HitTest(10, RowY(0)), -1) << "the text area holds no cell";
    // The end of the list shows its last page, however short the list.
    thumbnails.ScrollTo(25);
    const int lastFirst = std::max(0, 25 - thumbnails.PageSize());
    EXPECT_EQ(thumbnails.ScrollPosition(), lastFirst);
    EXPECT_EQ(thumbnails.Page().first, lastFirst);
}

INSTANTIATE_TEST_SUITE_P(ThumbnailPages, ThumbnailPageTest,
                         ::testing::Values(PageCase{640, 0, 0, 8}, PageCase{640, 20, 16, 24},
                                           PageCase{640, 24, 17, 25}, PageCase{2400, 24, 0, 25}));

TEST_F(ThumbnailTest, ClickingACellSelectsItInTheList) {
    OpenColumn(5, 640);
    thumbnails.LeftRelease(kCellX, RowY(2));
    EXPECT_EQ(dialog.List().Selected(), 2);
    EXPECT_TRUE(thumbnails.SelectedFlag(2));
    EXPECT_FALSE(thumbnails.SelectedFlag(0));
    thumbnails.RightRelease(kCellX, RowY(2));
    EXPECT_FALSE(thumbnails.SelectedFlag(2));
    EXPECT_EQ(dialog.List().Selected(), 2);
}

// A second list, of the same names in another folder with other sizes,
// shows its own pictures and captions, not the first list's.
TEST_F(ThumbnailTest, ASecondListMakesItsOwnThumbnails) {
    const struct { const char* name; uint32_t first[2], second[2]; int bitmap[2]; } cases[] = {
        {"a.tif", {16, 12}, {3000, 2000}, {80, 53}}, {"b.tif", {3000, 2000}, {2000, 4000}, {40, 80}}};
    std::filesystem::create_directory(dir.path() / "img" / "other");
    for (const auto& c : cases) {
        WriteImage(c.name, c.first[0], c.first[1], 1, false);
        WriteImage(std::string("other/") + c.name, c.second[0], c.second[1], 1, false);
    }
    OpenColumnOf((dir.path() / "img").string());
    ASSERT_EQ(thumbnails.Page().cells.size(), 2u);
    OpenColumnOf((dir.path() / "img" / "other").string());
    const tolvane::ThumbnailPage page = thumbnails.Page();
    ASSERT_EQ(page.cells.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const auto& c = cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(page.cells[i].caption, tolvane::Format("%d  %u x %u", int(i) + 1, c.second[0], c.second[1]));
        ASSERT_NE(page.cells[i].bitmap, nullptr);
        EXPECT_EQ(page.cells[i].bitmap->width, c.bitmap[0]);
        EXPECT_EQ(page.cells[i].bitmap->height, c.bitmap[1]);
    }
}

struct ScrollCase {
    int from, code, thumb, to;
};

TEST_F(ThumbnailTest, ScrollCodesMoveTheSelection) {
    OpenColumn(25, 640);
    using namespace tolvane;
    const ScrollCase cases[] = {{10, kLineUp, 0, 9},     {10, kLineDown, 0, 11},  {10, kPageUp, 0, 2},
                                {10, kPageDown, 0, 18},  {10, kThumbTrack, 5, 5}, {10, kBottom, 0, 0},
                                {10, kTop, 0, 10}, {20, kPageDown, 0, 24},  {3, kPageUp, 0, 0}};
    for (const ScrollCase& c : cases) {
        dialog.SelectListItem(c.from);
        thumbnails.VerticalScroll(c.code, c.thumb);
        EXPECT_EQ(dialog.List().Selected(), c.to) << c.from << " code " << c.code;
        const ThumbnailPage page = thumbnails.Page();
        EXPECT_TRUE(page.first <= c.to && c.to < page.last) << c.from << " code " << c.code;
    }
}

}  // namespace
