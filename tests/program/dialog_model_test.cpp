// The main dialog's model driven through the fake view: the texts its fields
// show for real image files, and the batch run's timer, Cancel and naming.
#include "program/fake_view.h"
#include "support/test_support.h"

#include "app_settings.h"
#include "controls.h"
#include "naming.h"
#include "scale_dialog.h"

#include <gtest/gtest.h>

#include <filesystem>
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
        // 4.8e9 bytes: more than 32 bits hold.
        {3, "40000", " 4578 Mb"},
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
        {-1, 0, "TIFF", "tif", true, false, true},  {1, 2, "BMP", "bmp", false, false, false},
        {1, 1, "JPEG", "jpg", false, true, false},  {1, 0, "TIFF", "tif", true, false, true},
    };
    for (const Step& s : steps) {
        EXPECT_EQ(model_.SpinDelta(kFormatSpin, s.delta), s.index);
        ExpectTexts(model_, {{kFormat, s.format}, {kOutputName, Src(std::string("A000_img1.") + s.ext)}}, s.format);
        ExpectFlag(model_, {kLzw}, &Control::visible, s.lzw, s.format);
        ExpectFlag(model_, {kQuality, kQualityLabel}, &Control::visible, s.quality, s.format);
        ExpectFlag(model_, {kLimitMemory}, &Control::visible, s.limit, s.format);
        ExpectFlag(model_, {kSmoothResizing}, &Control::visible, true, s.format);
    }
    // Choosing JPEG puts a quality outside 2..100 back to 75.
    const std::pair<const char*, const char*> quality[] = {
        {"1", "75"}, {"2", "2"}, {"100", "100"}, {"101", "75"}, {"abc", "75"}};
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
