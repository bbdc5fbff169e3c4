// The main dialog's model driven through the fake view: the texts its fields
// show for real image files, and the batch run's timer, Cancel and naming.
#include "program/fake_view.h"
#include "support/test_support.h"

#include "app_settings.h"
#include "controls.h"
#include "image_cache.h"
#include "naming.h"
#include "scale_dialog.h"

#include <gtest/gtest.h>

#include <tiffio.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using namespace tolvane;
using testing_support::FakeView;
using testing_support::TempDir;
namespace fs = std::filesystem;

// A zero-filled image: LZW keeps even a 4000 x 2000 file tiny, and only its
// header matters for the field texts.
void WriteBlankTiff(const std::string& path, uint32_t w, uint32_t h, int samples, int unit = 2,
                    double res = 300.0) {
    ImgClass img;
    ImgStruct& s = img.ImgStruct;
    s.Width = w;
    s.Height = h;
    s.Samples = samples;
    s.LineSize = (w * uint32_t(samples) + 3u) & ~3u;
    ASSERT_FALSE(img.AllocData());
    s.ResUnit = unit;
    s.Resolution = res;
    testing_support::SetName(img, path);
    ASSERT_FALSE(WriteTIFF(true, false, &img)) << path;
}

using Texts = std::vector<std::pair<int, std::string>>;

void ExpectTexts(const ScaleDialogModel& m, const Texts& want, const std::string& where) {
    for (const auto& [id, text] : want) EXPECT_EQ(m.Get(id).text, text) << where << ", control " << id;
}

void ExpectFlag(const ScaleDialogModel& m, std::initializer_list<int> ids, bool Control::*flag,
                bool value, const std::string& where = "") {
    for (int id : ids) EXPECT_EQ(m.Get(id).*flag, value) << where << ", control " << id;
}

class DialogModelTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Listing files deletes working files in the library's temporary
        // folder: keep that inside the test's own folder.
        oldTemp_ = Get_Temp_Path();
        fs::create_directories(dir_.File("tmp"));
        fs::create_directories(src_);
        fs::create_directories(out_);
        Set_Temp_Path(dir_.File("tmp").c_str());
    }
    void TearDown() override { Set_Temp_Path(oldTemp_.c_str()); }

    std::string Src(const std::string& name) const { return src_ + "/" + name; }
    std::string Out(const std::string& name) const { return out_ + "/" + name; }

    // Select Image answered with a multiple selection of names in src_.
    void ListNames(const std::vector<std::string>& names) {
        view_.files = {src_};
        view_.files.insert(view_.files.end(), names.begin(), names.end());
        model_.Click(kSelectImage);
    }
    void ListBlank(uint32_t w, uint32_t h, int samples = 1, int unit = 2, double res = 300.0) {
        const std::string name = "img" + std::to_string(++serial_) + ".tif";
        WriteBlankTiff(Src(name), w, h, samples, unit, res);
        ListNames({name});
    }
    // Small real images to convert.
    void WriteImages(const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            ImgClass img;
            testing_support::MakeImage(img, 16, 8, 3);
            testing_support::SetName(img, Src(name));
            const char ext = name.back();
            const bool failed = ext == 'g' ? WriteJPEG(90, &img) : ext == 'p' ? Write_BMP(&img)
                                                                              : WriteTIFF(false, false, &img);
            ASSERT_FALSE(failed) << name;
        }
    }
    const std::string& T(int id) const { return model_.Get(id).text; }

    TempDir dir_;
    std::string src_ = dir_.File("src"), out_ = dir_.File("out");
    std::string oldTemp_;
    int serial_ = 0;
    FakeView view_;
    ScaleDialogModel model_{view_, ""};
};

TEST_F(DialogModelTest, OpeningState) {
    ExpectTexts(model_, {{kSelectImage, "Select Image"}, {kInResLabel, "Img Res dpi :"},
                         {kInSizeLabel, "Image Size inches"}, {kFormat, "TIFF"}, {kQuality, "75"},
                         {kFitSize, "300"}, {kScale, "100.00"}, {kScaleMode, "Scale Image  % :"},
                         {kOutResLabel, "Res   dpi :"}, {kOutSizeLabel, "Image Size inches :"},
                         {kLimitMemory, "Limit  Memory Usage"}, {kSmoothResizing, "Smooth Resizing"},
                         {kOutRes, ""}},
                "at opening");
    ExpectFlag(model_, {kQuality, kQualityLabel, kDone, kRemoveFromList, kWorkPath}, &Control::visible, false);
    ExpectFlag(model_, {kLzw, kLimitMemory, kFit}, &Control::visible, true);
    ExpectFlag(model_, {kPreviewImage, kPreviewThumbnails, kLzw, kScaleMode, kFit}, &Control::checked, false);
    ExpectFlag(model_, {kKeepMetadata, kSmoothResizing}, &Control::checked, true);
    EXPECT_EQ(DialogTitle(),
              std::string("Tolvane Version: 2, 6, 7, 1   ORVIX_xxxx.dll version ") + GetDll_Version());
    EXPECT_EQ(model_.TimerMode(), 0);
    EXPECT_EQ(model_.BatchIndex(), -1);
}

TEST_F(DialogModelTest, PercentageSetsOutputSize) {
    ListBlank(3000, 2000);
    ASSERT_EQ(T(kInWidth), "3000");
    ASSERT_EQ(T(kInHeight), "2000");
    struct Row { const char* typed; const char* scale; const char* w; const char* h; const char* x; };
    const Row rows[] = {
        {"50", "50", "1500", "1000", "5.00"},
        {"0", "100.00", "3000", "2000", "10.00"},
        {"-5", "100.00", "3000", "2000", "10.00"},
        {"abc", "100.00", "3000", "2000", "10.00"},
    };
    for (const Row& r : rows) {
        model_.SetText(kScale, r.typed);
        model_.FieldLeft(kScale);
        // 1007 at 300 dpi
        ExpectTexts(model_, {{kScale, r.scale}, {kOutWidth, r.w}, {kOutHeight, r.h}, {kOutSizeX, r.x}}, r.typed);
    }
}

TEST_F(DialogModelTest, FitIntoSquare) {
    // Without an image there is nothing to fit.
    model_.Click(kFit);
    EXPECT_FALSE(model_.Get(kFit).checked);

    struct Row { uint32_t w, h; const char *outW, *outH, *scale; };
    const Row rows[] = {{2000, 4000, "150", "300", "150"}, {4000, 2000, "300", "150", "300"}};
    for (const Row& r : rows) {
        ListBlank(r.w, r.h);
        // The first click checks the box; the second image is fitted on
        // selection because the box stays checked.
        if (!model_.Get(kFit).checked) model_.Click(kFit);
        const std::string where = std::to_string(r.w) + "x" + std::to_string(r.h);
        ExpectTexts(model_, {{kOutWidth, r.outW}, {kOutHeight, r.outH}, {kScale, r.scale}, {kFormat, "JPEG"},
                             {kScaleMode, "Scale Image pixels :"}}, where);
        ExpectFlag(model_, {kQuality, kQualityLabel}, &Control::visible, true, where);
        ExpectFlag(model_, {kLzw, kLimitMemory}, &Control::visible, false, where);
        ExpectFlag(model_, {kOutSizeX, kOutSizeY, kOutWidth, kOutHeight, kScale}, &Control::enabled, false, where);
        EXPECT_TRUE(model_.Get(kScaleMode).checked);
        EXPECT_EQ(fs::path(T(kOutputName)).extension(), ".jpg");
    }
    model_.SetText(kFitSize, "200");
    model_.FieldLeft(kFitSize);
    EXPECT_EQ(T(kOutWidth), "200");
    EXPECT_EQ(T(kOutHeight), "100");

    model_.Click(kFit);
    EXPECT_FALSE(model_.Get(kFit).checked);
    ExpectFlag(model_, {kOutSizeX, kOutSizeY, kOutWidth, kOutHeight, kScale}, &Control::enabled, true);
}

TEST_F(DialogModelTest, UncompressedSizeText) {
    struct Row { int samples; const char* width; const char* shown; };
    const Row rows[] = {
        {3, "500", " 732 Kb"},
        {3, "1000", " 3 Mb"},
        {1, "1024", " 1 Mb"},
        // 2.7e9 bytes: more than a signed 32-bit product holds.
        {3, "30000", " 2575 Mb"},
        // 1.6e9 pixels: more than the library makes, so no byte count.
        {3, "40000", " too large"},
    };
    for (const Row& r : rows) {
        ListBlank(1024, 1024, r.samples);
        model_.SetText(kOutWidth, r.width);
        model_.FieldLeft(kOutWidth);
        EXPECT_EQ(T(kOutHeight), r.width) << r.width;
        EXPECT_EQ(T(kUncompressedSize), r.shown) << r.samples << " x " << r.width;
    }
}

TEST_F(DialogModelTest, InputResolutionByUnit) {
    // Each row: the file's unit and resolution, the texts on listing it
    // (1017, 1016, 1021, 1022, 1005, 1002), then after the input unit toggle
    // (1017, 1016, 1021, 1022).
    struct Row { int unit; double res; const char* shown[6]; const char* toggled[4]; };
    const Row rows[] = {
        {2, 300.0, {"Res dpi", " 300.000", "Image Size inches", "   1.000", "Res   dpi :", " 300.000"},
         {"Res lpmm", "  11.811", "Image Size mm", "  25.400"}},
        // Unit 3 counts per centimetre: 118.11 per cm is 11.81 per mm and 300 dpi.
        {3, 300.0 / 2.54, {"Res lpmm", " 11.81", "Image Size mm", "  25.400", "Res lpmm", "  11.811"},
         {"Res dpi", " 300.000", "Image Size inches", "   1.000"}},
        {1, 0.0, {"Res NONE", "", "??", "", "Res   dpi :", ""}, {"Res dpi", "   0.000", "Image Size inches", ""}},
    };
    for (const Row& r : rows) {
        ScaleDialogModel model(view_, "");
        WriteBlankTiff(Src("res.tif"), 300, 200, 1, r.unit, r.res);
        view_.files = {Src("res.tif")};
        model.Click(kSelectImage);
        const std::string where = "unit " + std::to_string(r.unit);
        ExpectTexts(model, {{kInResLabel, r.shown[0]}, {kInRes, r.shown[1]}, {kInSizeLabel, r.shown[2]},
                            {kInSizeX, r.shown[3]}, {kOutResLabel, r.shown[4]}, {kOutRes, r.shown[5]}}, where);
        EXPECT_EQ(model.SpinDelta(kInUnitSpin, -1), 0);
        ExpectTexts(model, {{kInResLabel, r.toggled[0]}, {kInRes, r.toggled[1]}, {kInSizeLabel, r.toggled[2]},
                            {kInSizeX, r.toggled[3]}}, where + " toggled");
    }
}

TEST_F(DialogModelTest, OutputUnitToggle) {
    ListBlank(3000, 2000);
    model_.SetText(kOutRes, "300");
    EXPECT_EQ(T(kOutSizeX), "10.00");
    struct Step { const char* typed; const char *res, *label, *sizeLabel, *sizeX; };
    const Step steps[] = {
        {nullptr, "  11.811", "Res lpmm", "Image Size mm", "254.00"},
        {nullptr, "300.00", "Res dpi", "Image Size inches", "10.00"},
        {nullptr, "  11.811", "Res lpmm", "Image Size mm", "254.00"},
        // A value typed in lines per mm makes the dpi value invalid, so the
        // way back computes it from the typed value.
        {"10", "254.00", "Res dpi", "Image Size inches", "11.81"},
    };
    for (const Step& s : steps) {
        if (s.typed) {
            model_.SetText(kOutRes, s.typed);
            EXPECT_EQ(T(kOutSizeX), "300.00");
        }
        EXPECT_EQ(model_.SpinDelta(kOutUnitSpin, 1), 0);
        ExpectTexts(model_, {{kOutRes, s.res}, {kOutResLabel, s.label}, {kOutSizeLabel, s.sizeLabel},
                             {kOutSizeX, s.sizeX}}, "toggle");
    }

    // An emptied field is filled from the next image in the unit shown.
    model_.SpinDelta(kOutUnitSpin, 1);
    ASSERT_EQ(T(kOutResLabel), "Res lpmm");
    model_.SetText(kOutRes, "");
    ListBlank(3000, 2000);
    EXPECT_EQ(T(kOutRes), "  11.811");
}

TEST_F(DialogModelTest, FormatSpinCyclesAndFixesExtension) {
    ListBlank(40, 20);
    ASSERT_EQ(T(kOutputName), Src("A000_img1.tif"));
    struct Step { int delta, index; const char *format, *ext; bool lzw, quality, limit; };
    const Step steps[] = {
        {-1, 1, "JPEG", "jpg", false, true, false}, {-1, 2, "BMP", "bmp", false, false, false},
        {-1, 3, "PNG", "png", false, false, false}, {-1, 4, "WebP", "webp", false, true, false},
        {-1, 0, "TIFF", "tif", true, false, true},  {1, 4, "WebP", "webp", false, true, false},
        {1, 3, "PNG", "png", false, false, false},  {1, 2, "BMP", "bmp", false, false, false},
        {1, 1, "JPEG", "jpg", false, true, false},  {1, 0, "TIFF", "tif", true, false, true},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(model_.SpinDelta(kFormatSpin, s.delta), s.index);
        ExpectTexts(model_, {{kFormat, s.format}, {kOutputName, Src(std::string("A000_img1.") + s.ext)}}, s.format);
        ExpectFlag(model_, {kLzw}, &Control::visible, s.lzw, s.format);
        ExpectFlag(model_, {kQuality, kQualityLabel}, &Control::visible, s.quality, s.format);
        ExpectFlag(model_, {kLimitMemory}, &Control::visible, s.limit, s.format);
        ExpectFlag(model_, {kSmoothResizing}, &Control::visible, true, s.format);
        ExpectFlag(model_, {kKeepMetadata}, &Control::enabled, std::string(s.format) != "BMP", s.format);
    }
    // Choosing JPEG puts a quality outside 1..100 back to 75, as leaving the field does.
    const std::pair<const char*, const char*> quality[] = {
        {"0", "75"}, {"1", "1"}, {"100", "100"}, {"101", "75"}, {"abc", "75"}};
    for (const auto& [typed, shown] : quality) {
        model_.SetText(kQuality, typed);
        model_.SpinDelta(kFormatSpin, -1);
        EXPECT_EQ(T(kQuality), shown) << typed;
        model_.SpinDelta(kFormatSpin, 1);
    }
}

TEST_F(DialogModelTest, SelectionScrollsTheList) {
    std::vector<std::string> names;
    for (int i = 0; i < 10; ++i) names.push_back("f" + std::to_string(i) + ".tif");
    for (const std::string& n : names) WriteBlankTiff(Src(n), 8, 4, 1);
    ListNames(names);
    ASSERT_EQ(model_.List().Count(), 10);
    // {selected row, top row afterwards}
    const std::pair<int, int> steps[] = {{6, 0}, {7, 1}, {8, 2}, {9, 3}, {3, 2}, {2, 1}, {5, 1}};
    for (const auto& [row, top] : steps) {
        model_.SelectListItem(row);
        EXPECT_EQ(model_.List().Top(), top) << "after selecting " << row;
        EXPECT_EQ(T(kOutputName), Src("A00" + std::to_string(row) + "_f" + std::to_string(row) + ".tif"));
    }
    // The steps start from the row the user scrolled to, not the model's own.
    // {scrolled to, selected row, top row afterwards}
    const int scrolled[][3] = {{5, 6, 5}, {5, 9, 5}, {2, 9, 3}, {5, 5, 4}, {8, 3, 7}, {0, 4, 0}};
    for (const auto& [scrolledTo, row, top] : scrolled) {
        model_.ListScrolled(scrolledTo);
        model_.SelectListItem(row);
        EXPECT_EQ(model_.List().Top(), top) << "scrolled to " << scrolledTo << ", selecting " << row;
    }
}

TEST_F(DialogModelTest, RemoveFromList) {
    const std::vector<std::string> names = {"a.tif", "b.tif", "c.tif", "d.tif"};
    for (const std::string& n : names) WriteBlankTiff(Src(n), 8, 4, 1);
    ListNames(names);
    model_.Cache().Add(Src("b.tif"));

    model_.SelectListItem(1);
    model_.Click(kRemoveFromList);
    EXPECT_EQ(model_.List().Items(), (std::vector<std::string>{"a.tif", "c.tif", "d.tif"}));
    EXPECT_EQ(model_.List().Selected(), 1);
    EXPECT_EQ(model_.Cache().IndexOf(Src("b.tif")), -1);
    EXPECT_TRUE(model_.Get(kRemoveFromList).visible);
    EXPECT_EQ(T(kOutputName), Src("A001_c.tif"));

    model_.SelectListItem(2);  // the last item: the selection moves up
    model_.Click(kRemoveFromList);
    EXPECT_EQ(model_.List().Items(), (std::vector<std::string>{"a.tif", "c.tif"}));
    EXPECT_EQ(model_.List().Selected(), 1);

    ListNames(names);
    model_.Click(kRemoveAll);
    model_.SelectListItem(2);
    model_.Click(kRemoveFromList);
    EXPECT_EQ(model_.List().Items(), (std::vector<std::string>{"c.tif"}));
    EXPECT_EQ(model_.List().Selected(), 0);
    EXPECT_EQ(T(kOutputName), Src("A000_c.tif"));
}

// The window lists the files it can read, before or after a bad one, and
// names the others in the box; the first readable file fills the fields.
TEST_F(DialogModelTest, UnreadableFilesAreNamedAndTheRestListed) {
    WriteBlankTiff(Src("b_good.tif"), 8, 4, 1);
    WriteBlankTiff(Src("d_good.tif"), 6, 4, 1);
    testing_support::WriteBytes(Src("a_bad.jpg"), {0xFF, 0xD8, 0xFF, 0x00, 0x01, 0x02, 0x03});
    testing_support::WriteBytes(Src("a_bad.bmp"), {'B', 'M', 0x01, 0x02});
    testing_support::WriteText(Src("a_raw.dcr"), "no processor is set for this");
    testing_support::WriteText(Src("c_text.tif"), "not a picture");
    for (const char* bad : {"a_bad.jpg", "a_bad.bmp", "a_raw.dcr"}) {
        view_.messages.clear();
        ListNames({bad, "b_good.tif", "c_text.tif", "d_good.tif"});
        const std::string text = "\t\tUnknown Image format\t\t\n" + std::string(bad) + "\nc_text.tif";
        const std::vector<std::pair<std::string, std::string>> box = {{text, "IMG ERROR"}};
        EXPECT_EQ(view_.messages, box) << bad;
        EXPECT_EQ(model_.List().Items(), (std::vector<std::string>{"b_good.tif", "d_good.tif"})) << bad;
        EXPECT_EQ(model_.List().Selected(), 0) << bad;
        EXPECT_EQ(T(kInWidth), "8") << bad;
    }
    // A listed file that turns unreadable leaves the list when selected,
    // without a message.
    view_.messages.clear();
    ListNames({"b_good.tif", "d_good.tif"});
    testing_support::WriteText(Src("d_good.tif"), "II* no longer an image");
    model_.SelectListItem(1);
    EXPECT_EQ(model_.List().Items(), std::vector<std::string>{"b_good.tif"});
    EXPECT_TRUE(view_.messages.empty());
}

// Cancel stops while the close guard is 0 (after a selection change) and
// closes at once after Process All, also between two files of a run.
TEST_F(DialogModelTest, CancelStopsOrCloses) {
    struct Row { bool run; int ticks; int selectBefore; bool closesFirst; size_t converted; };
    const Row rows[] = {
        {false, 0, 1, false, 0},
        {true, 0, -2, true, 1},
        {true, 1, -2, true, 2},
        {true, 1, 2, false, 2},  // a click on the list during the run
    };
    WriteImages({"a.tif", "b.tif", "c.tif"});
    for (const Row& r : rows) {
        FakeView view;
        ScaleDialogModel model(view, "");
        view.files = {src_, "a.tif", "b.tif", "c.tif"};
        model.Click(kSelectImage);
        if (r.run) {
            model.Click(kProcessAll);
            ASSERT_TRUE(view.timerRunning);
            EXPECT_EQ(view.timerPeriods.back(), ScaleDialogModel::kBatchPeriod);
        }
        for (int t = 0; t < r.ticks; ++t) model.TimerTick(ScaleDialogModel::kTimerId);
        EXPECT_EQ(model.TimerMode(), 0);
        if (r.selectBefore != -2) model.SelectListItem(r.selectBefore);
        model.Click(kCancel);
        EXPECT_EQ(view.closed, r.closesFirst) << "row " << (&r - rows);
        EXPECT_FALSE(view.timerRunning);
        EXPECT_EQ(view.outcomes.size(), r.converted);
        if (!r.closesFirst) {
            EXPECT_TRUE(model.Get(kDone).visible);
            EXPECT_EQ(model.BatchIndex(), -1);
            model.Click(kCancel);
            EXPECT_TRUE(view.closed);
        }
        EXPECT_TRUE(model.Closed());
        EXPECT_EQ(model.Cache().Count(), 0);  // closing frees the cached sources
        // Files after the cancelled point are never converted.
        EXPECT_FALSE(fs::exists(Src("A002_c.tif")));
        EXPECT_EQ(fs::exists(Src("A001_b.tif")), r.converted >= 2);
        for (const char* n : {"A000_a.tif", "A001_b.tif"}) fs::remove(Src(n));
    }
}

TEST_F(DialogModelTest, SingleFileIsConvertedAtOnce) {
    WriteImages({"one.tif"});
    view_.files = {Src("one.tif")};  // a lone path
    model_.Click(kSelectImage);
    EXPECT_EQ(model_.SourceFolder(), src_);
    model_.SetText(kScale, "50");
    model_.FieldLeft(kScale);
    // Lines per mm are stored per centimetre.
    ASSERT_EQ(T(kOutRes), " 300.000");
    model_.SpinDelta(kOutUnitSpin, 1);
    ASSERT_EQ(T(kOutRes), "  11.811");
    const size_t timersBefore = view_.timerPeriods.size();

    model_.Click(kProcessAll);
    ASSERT_EQ(view_.outcomes.size(), 1u);
    EXPECT_EQ(view_.outcomes[0].status, FileOutcome::Status::Converted) << view_.outcomes[0].reason;
    EXPECT_EQ(view_.outcomes[0].output, Src("A000_one.tif"));
    EXPECT_TRUE(model_.Get(kDone).visible);
    EXPECT_EQ(view_.timerPeriods.size(), timersBefore);
    EXPECT_FALSE(view_.timerRunning);
    const testing_support::TiffTags tags = testing_support::ReadTiffTags(Src("A000_one.tif"));
    ASSERT_TRUE(tags.opened);
    EXPECT_EQ(tags.width, 8u);
    EXPECT_EQ(tags.length, 4u);
    EXPECT_EQ(tags.unit, 3);
    EXPECT_NEAR(tags.xres, 118.11, 0.01);
}

TEST_F(DialogModelTest, RunNamesOutputsAndRenamesOnRerun) {
    WriteImages({"c.bmp", "a.jpg", "b.tif"});
    ListNames({"c.bmp", "a.jpg", "b.tif"});
    EXPECT_EQ(model_.List().Items(), (std::vector<std::string>{"a.jpg", "b.tif", "c.bmp"}));
    view_.folderAnswer = out_;
    model_.Click(kSelectDestination);
    model_.SpinDelta(kFormatSpin, -1);
    ASSERT_EQ(T(kFormat), "JPEG");
    EXPECT_EQ(T(kOutputName), Out("A000_a.jpg"));
    model_.SetText(kScale, "50");
    model_.FieldLeft(kScale);
    model_.SetText(kQuality, "150");  // out of range: used as 75

    for (char letter : {'A', 'B'}) {
        view_.outcomes.clear();
        model_.Click(kProcessAll);
        view_.RunTimer(model_);
        ASSERT_EQ(view_.outcomes.size(), 3u) << letter;
        EXPECT_TRUE(model_.Get(kDone).visible);
        EXPECT_EQ(model_.BatchIndex(), -1);
        const char* names[] = {"000_a.jpg", "001_b.jpg", "002_c.jpg"};
        for (int i = 0; i < 3; ++i) {
            const FileOutcome& o = view_.outcomes[size_t(i)];
            const std::string expected = Out(letter + std::string(names[i]));
            EXPECT_EQ(o.status, FileOutcome::Status::Converted) << expected << ": " << o.reason;
            EXPECT_EQ(o.output, expected);
            EXPECT_EQ(Get_File_Type(expected.c_str()), IMG_TYPE_JPEG) << expected;
            EXPECT_EQ(o.width, 8);
            EXPECT_EQ(o.height, 4);
        }
    }
    EXPECT_EQ(T(kQuality), "75");
    EXPECT_EQ(model_.FailedCount(), 0);
}

TEST_F(DialogModelTest, AllOutputNamesTakenFailsTheFile) {
    WriteImages({"x.tif"});
    for (char c = 'A'; c <= 'Z'; ++c) testing_support::WriteText(Out(c + std::string("000_x.tif")), "taken");
    model_.SetDestination(out_);
    ListNames({"x.tif"});
    EXPECT_EQ(T(kOutputName), Out("Z000_x.tif"));
    model_.Click(kProcessAll);
    ASSERT_EQ(view_.outcomes.size(), 1u);
    EXPECT_EQ(view_.outcomes[0].status, FileOutcome::Status::Failed);
    EXPECT_EQ(view_.outcomes[0].reason, "no free output name");
    const std::vector<uint8_t> kept = testing_support::ReadBytes(Out("Z000_x.tif"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), "taken");
}

}  // namespace

TEST_F(DialogModelTest, OutputResolutionKeepsItsMeaning) {
    // A per-centimetre image turns the output label to lpmm: the dpi value
    // already in the field turns with it rather than being read as 300 lpmm.
    ListBlank(300, 200, 1, 2, 300.0);
    ASSERT_EQ(T(kOutRes), " 300.000");
    ListBlank(300, 200, 1, 3, 300.0 / 2.54);
    EXPECT_EQ(T(kOutResLabel), "Res lpmm");
    EXPECT_EQ(T(kOutRes), "  11.811");

    // No resolution at all is written as none, not as 0 per centimetre.
    model_.SetText(kOutRes, "");
    model_.Click(kProcessAll);
    ASSERT_EQ(view_.outcomes.size(), 1u);
    ASSERT_EQ(view_.outcomes[0].status, FileOutcome::Status::Converted) << view_.outcomes[0].reason;
    const testing_support::TiffTags tags = testing_support::ReadTiffTags(view_.outcomes[0].output);
    ASSERT_TRUE(tags.opened);
    EXPECT_EQ(tags.unit, 1);
}

// A field left holding nonsense gets back what it held before the typing;
// a quality that is not a whole 1 to 100 becomes 75. Rows run in order on
// a 3000 x 2000 image at 300 dpi, in percent mode.
TEST_F(DialogModelTest, FieldsLeftWithNonsenseGetTheirValueBack) {
    ListBlank(3000, 2000);
    model_.SpinDelta(kFormatSpin, -1);  // JPEG shows the quality
    struct Row { int id; const char* typed; const char* shown; const char* outWidth; const char* sizeX; };
    const Row rows[] = {
        {kQuality, "abc", "75", "3000", "10.00"},  {kQuality, "0", "75", "3000", "10.00"},
        {kQuality, "150", "75", "3000", "10.00"},  {kQuality, "12.5", "75", "3000", "10.00"},
        {kQuality, " 50 ", " 50 ", "3000", "10.00"},
        {kOutHeight, "abc", "2000", "3000", "10.00"}, {kOutHeight, "0", "2000", "3000", "10.00"},
        {kOutHeight, "-5", "2000", "3000", "10.00"},  {kOutHeight, "", "2000", "3000", "10.00"},
        {kOutHeight, "1000", "1000", "1500", "5.00"},
        {kOutWidth, "-5", "1500", "1500", "5.00"},    {kOutWidth, "abc", "1500", "1500", "5.00"},
        {kOutWidth, "1e3", "1500", "1500", "5.00"},   {kOutWidth, "0x20", "1500", "1500", "5.00"},
        {kOutWidth, "750.5", "1500", "1500", "5.00"}, {kOutSizeX, "1e1", "5.00", "1500", "5.00"},
        {kOutSizeX, "abc", "5.00", "1500", "5.00"},   {kOutSizeY, "-1", "3.33", "1500", "5.00"},
        {kOutRes, "abc", " 300.000", "1500", "5.00"}, {kOutRes, "-5", " 300.000", "1500", "5.00"},
        {kFitSize, "-5", "300", "1500", "5.00"},      {kFitSize, "0", "300", "1500", "5.00"},
        {kScale, "abc", "100.00", "3000", "10.00"},
    };
    for (const Row& r : rows) {
        // Typing char by char: what the field held before the first one counts.
        std::string typing;
        for (char c : std::string(r.typed)) model_.SetText(r.id, typing += c);
        if (typing.empty()) model_.SetText(r.id, "");
        model_.FieldLeft(r.id);
        const std::string where = std::to_string(r.id) + " \"" + r.typed + "\"";
        ExpectTexts(model_, {{r.id, r.shown}, {kOutWidth, r.outWidth}, {kOutSizeX, r.sizeX}}, where);
    }
    // The run writes with the quality the field shows.
    model_.SetText(kQuality, "abc");
    WriteImages({"q.tif"});
    ListNames({"q.tif"});
    model_.SetText(kScale, "50");  // scaled: an unscaled JPEG is written at 75 anyway
    model_.FieldLeft(kScale);
    model_.Click(kProcessAll);
    ASSERT_EQ(view_.outcomes.size(), 1u);
    EXPECT_EQ(T(kQuality), "75");
}

// A size the library cannot hold shows no byte count and is refused, in
// words, before anything is written.
TEST_F(DialogModelTest, OutputBeyondThePixelLimitIsRefusedBeforeTheRun) {
    WriteImages({"big.tif"});
    ListNames({"big.tif"});
    model_.SetText(kOutWidth, "50000");  // 50000 x 25000: beyond 2^30 pixels
    model_.FieldLeft(kOutWidth);
    ASSERT_EQ(T(kOutHeight), "25000");
    EXPECT_EQ(T(kUncompressedSize), " too large");
    model_.Click(kProcessAll);
    ASSERT_EQ(view_.messages.size(), 1u);
    EXPECT_NE(view_.messages[0].first.find("50000 x 25000 pixels is larger than the image library can make"),
              std::string::npos) << view_.messages[0].first;
    EXPECT_TRUE(view_.outcomes.empty());
    EXPECT_FALSE(fs::exists(Src("A000_big.tif")));
    EXPECT_TRUE(model_.Get(kProcessAll).enabled);
}

// "Uncompressed Image Size" follows the output size whichever way it was
// set; a file without a resolution shows no print size of the last one.
TEST_F(DialogModelTest, UncompressedSizeFollowsEveryRouteToTheOutputSize) {
    ListBlank(3000, 2000, 3);
    struct Route { const char* name; std::vector<std::pair<int, std::string>> left; bool fit, pixels;
                   const char *w, *h, *shown; };
    const Route routes[] = {
        {"fit 800", {{kFitSize, "800"}}, true, false, "800", "533", " 1 Mb"},
        {"percent 50", {{kScale, "50"}}, false, true, "1500", "1000", " 4 Mb"},
        {"2 inches", {{kOutSizeX, "2"}}, false, false, "600", "400", " 703 Kb"},
        {"height 1200", {{kOutHeight, "1200"}}, false, false, "1800", "1200", " 6 Mb"},
        {"fit 2000", {{kFitSize, "2000"}}, true, false, "2000", "1333", " 8 Mb"},
    };
    for (const Route& r : routes) {
        if (r.fit) model_.Click(kFit);
        if (r.pixels) model_.Click(kScaleMode);  // back to percent after a fit
        for (const auto& [id, text] : r.left) {
            model_.SetText(id, text);
            model_.FieldLeft(id);
        }
        ExpectTexts(model_, {{kOutWidth, r.w}, {kOutHeight, r.h}, {kUncompressedSize, r.shown}}, r.name);
        if (r.fit) model_.Click(kFit);
    }
    ASSERT_EQ(T(kInSizeX), "  10.000");
    ListBlank(300, 200, 1, 1, 0.0);
    ExpectTexts(model_, {{kInResLabel, "Res NONE"}, {kInSizeX, ""}, {kInSizeY, ""}}, "no resolution");
}

// The output-name field shows the name the run then writes, whatever is
// already in the destination and however the format was chosen.
TEST_F(DialogModelTest, OutputNameShownIsTheNameWritten) {
    struct Row { std::vector<std::string> taken; int formatSpin; bool fit; const char* name; };
    const Row rows[] = {
        {{}, 0, false, "A001_b.tif"},
        {{"A001_b.tif"}, -1, false, "A001_b.jpg"},
        {{"A001_b.tif"}, 0, false, "B001_b.tif"},
        {{"A001_b.tif", "A001_b.jpg"}, -1, false, "B001_b.jpg"},
        {{"A001_b.tif"}, 0, true, "A001_b.jpg"},  // fit writes JPEG
        {{"A001_b.tif", "B001_b.tif"}, -2, false, "A001_b.bmp"},
    };
    WriteImages({"a.tif", "b.tif"});
    for (const Row& r : rows) {
        const std::string where = std::string("expecting ") + r.name;
        fs::remove_all(out_);
        fs::create_directories(out_);
        for (const std::string& t : r.taken) testing_support::WriteText(Out(t), "taken");
        FakeView view;
        ScaleDialogModel model(view, "");
        model.SetDestination(out_);
        view.files = {src_, "a.tif", "b.tif"};
        model.Click(kSelectImage);
        if (r.formatSpin) model.SpinDelta(kFormatSpin, r.formatSpin);
        if (r.fit) model.Click(kFit);
        model.SelectListItem(1);
        EXPECT_EQ(model.Get(kOutputName).text, Out(r.name)) << where;
        model.Click(kProcessAll);
        view.RunTimer(model);
        ASSERT_EQ(view.outcomes.size(), 2u) << where;
        EXPECT_EQ(view.outcomes[1].output, Out(r.name)) << where << ": " << view.outcomes[1].reason;
    }
}

// A view whose file hook clicks as a user would while a file converts.
class ImpatientView : public FakeView {
public:
    ScaleDialogModel* model = nullptr;
    std::vector<bool> processAllEnabled;
    void FileFinished(const FileOutcome& o) override {
        FakeView::FileFinished(o);
        processAllEnabled.push_back(model->Get(kProcessAll).enabled);
        for (int id : {kSelectImage, kRemoveFromList, kRemoveAll})
            EXPECT_FALSE(model->Get(id).enabled) << "control " << id << " during a run";
        EXPECT_TRUE(model->Running());
        model->Click(kProcessAll);
        model->Click(kRemoveFromList);
        model->ListFiles({model->SourceFolder(), "a.tif"});
        // A click on an entry that cannot be shown must not take it out of
        // the run, or the file after it would lose its place unreported.
        if (model->List().Count() > 1) model->SelectListItem(1);
    }
};

TEST_F(DialogModelTest, RunRefusesASecondRunAndListChanges) {
    WriteImages({"a.tif", "c.tif"});
    std::ofstream(Src("b.dcr")) << "II*raw without its converted copy";
    for (int files : {1, 3}) {
        fs::remove_all(out_);
        fs::create_directories(out_);
        ImpatientView view;
        ScaleDialogModel model(view, "");
        view.model = &model;
        model.SetDestination(out_);
        view.files = files == 1 ? std::vector<std::string>{Src("a.tif")}
                                : std::vector<std::string>{src_, "a.tif", "b.dcr", "c.tif"};
        model.Click(kSelectImage);
        model.Click(kProcessAll);
        // Clicks queued between two files are refused as well.
        if (view.timerRunning) model.Click(kProcessAll);
        view.RunTimer(model);
        EXPECT_EQ(view.outcomes.size(), size_t(files));
        EXPECT_EQ(view.processAllEnabled, std::vector<bool>(size_t(files), false));
        EXPECT_EQ(model.List().Count(), files);
        EXPECT_FALSE(model.Running());
        for (int id : {kProcessAll, kSelectImage, kRemoveFromList, kRemoveAll})
            EXPECT_TRUE(model.Get(id).enabled) << "control " << id << " after the run";
        for (const auto& entry : fs::directory_iterator(out_))
            EXPECT_EQ(entry.path().filename().string()[0], 'A') << entry.path();
    }
}

// A read that fails for any reason but memory costs the cache nothing: a
// TIFF whose header claims 40000 x 40000 leaves the other files' pixels.
TEST_F(DialogModelTest, OnlyAReadOutOfMemoryEvictsCachedImages) {
    WriteImages({"a.tif", "b.tif"});
    {
        TIFF* tif = TIFFOpen(Src("c_huge.tif").c_str(), "w");
        ASSERT_NE(tif, nullptr);
        TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, 40000u);
        TIFFSetField(tif, TIFFTAG_IMAGELENGTH, 40000u);
        TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 1);
        TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 40000u);
        unsigned char code[4] = {0x80, 0x00, 0x40, 0x40};  // clear code, end of information
        TIFFWriteRawStrip(tif, 0, code, sizeof code);
        TIFFClose(tif);
    }
    model_.SetDestination(out_);
    ListNames({"a.tif", "b.tif", "c_huge.tif"});
    ASSERT_EQ(model_.List().Count(), 3);
    model_.SetText(kScale, "50");
    model_.FieldLeft(kScale);
    model_.Click(kProcessAll);
    view_.RunTimer(model_);
    ASSERT_EQ(view_.outcomes.size(), 3u);
    EXPECT_EQ(view_.outcomes[2].status, FileOutcome::Status::Failed);
    EXPECT_NE(view_.outcomes[2].reason.find("limit"), std::string::npos) << view_.outcomes[2].reason;
    for (const char* name : {"a.tif", "b.tif"}) {
        const ImgClass* img = model_.Cache().Find(Src(name));
        EXPECT_TRUE(img && img->ImgStruct.ImgData) << name << " was evicted";
    }

    // Which failures count as out of memory: the library's words or the
    // system's error number.
    const std::pair<const char*, int> memory[] = {
        {"PpmClass::ReadPPM: no memory for the 5 x 5 pixels of x.ppm", 0},
        {"ReadTIFFtoMem: Memory allocation error", 0}, {"", ENOMEM}};
    const std::pair<const char*, int> other[] = {
        {"TIFFClass: x.tif claims 40000 x 40000 pixels, more than the limit of 1073741824", 0},
        {"HdrClass::ReadHeader x.hdr Open failed", ENOENT}, {"", 0}};
    for (const auto& [words, error] : memory) EXPECT_TRUE(ReadRanOutOfMemory(words, error)) << words;
    for (const auto& [words, error] : other) EXPECT_FALSE(ReadRanOutOfMemory(words, error)) << words;
}
