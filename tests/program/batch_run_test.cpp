// Real batch runs through the main dialog's model: files written into a
// temporary folder, listed, edited and converted as the user would, and the
// outputs read back.
#include "program/fake_view.h"
#include "support/test_support.h"

#include "controls.h"
#include "scale_dialog.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace tolvane;
using testing_support::FakeView;
using testing_support::ReadBytes;
using testing_support::TempDir;
using Status = FileOutcome::Status;
namespace fs = std::filesystem;

struct Size {
    uint32_t w = 0, h = 0;
    bool operator==(const Size& o) const { return w == o.w && h == o.h; }
};
std::ostream& operator<<(std::ostream& os, const Size& s) { return os << s.w << " x " << s.h; }

// Writes a patterned colour image in the format its extension names.
void WriteSource(const std::string& path, uint32_t w, uint32_t h, uint32_t seed = 1) {
    ImgClass img;
    testing_support::MakeImage(img, w, h, 3, seed);
    img.ImgStruct.ResUnit = 2;
    img.ImgStruct.Resolution = 300.0;
    testing_support::SetName(img, path);
    const std::string ext = fs::path(path).extension().string();
    const bool failed = ext == ".jpg" ? WriteJPEG(90, &img) : ext == ".bmp" ? Write_BMP(&img)
                                                                           : WriteTIFF(false, false, &img);
    ASSERT_FALSE(failed) << path;
}

Size ImageSize(const std::string& path) {
    ImgClass img;
    testing_support::SetName(img, path);
    if (ReadImage(false, &img)) return {};
    return {img.ImgStruct.Width, img.ImgStruct.Height};
}

// The pixel rows of an image file, without padding; empty when unreadable.
std::vector<uint8_t> Pixels(const std::string& path) {
    ImgClass img;
    testing_support::SetName(img, path);
    if (ReadImage(false, &img)) return {};
    const ImgStruct& s = img.ImgStruct;
    std::vector<uint8_t> rows;
    for (uint32_t y = 0; y < s.Height; ++y) {
        const uint8_t* row = s.ImgData + size_t{y} * s.LineSize;
        rows.insert(rows.end(), row, row + size_t{s.Width} * size_t(s.Samples));
    }
    return rows;
}

// What the library makes of a source file at a size with Lanczos3, read
// as the smooth run reads it (a JPEG reduced for the size).
std::vector<uint8_t> Resampled(const std::string& source, int width, int height, const std::string& scratch) {
    ImgClass src, dst;
    testing_support::SetName(src, source);
    if (ReadImageForSize(false, &src, width, height, nullptr)) return {};
    if (ResampleImage(&src, &dst, width, height, FILTER_LANCZOS3)) return {};
    testing_support::SetName(dst, scratch);
    if (WriteTIFF(false, false, &dst)) return {};
    return Pixels(scratch);
}

// Offset of the first byte after marker segment `marker`'s header; 0 when
// there is none.
size_t AfterSegment(const std::vector<uint8_t>& b, uint8_t marker) {
    for (size_t i = 2; i + 4 <= b.size() && b[i] == 0xFF;) {
        const size_t length = size_t(b[i + 2]) << 8 | b[i + 3];
        if (b[i + 1] == marker) return i + 2 + length;
        if (b[i + 1] == 0xDA) break;
        i += 2 + length;
    }
    return 0;
}

// The quantisation table segments of a JPEG file: libjpeg derives them from
// the quality alone, so equal segments mean equal quality.
std::vector<uint8_t> QuantTables(const std::string& path) {
    const std::vector<uint8_t> b = ReadBytes(path);
    std::vector<uint8_t> tables;
    for (size_t i = 2; i + 4 <= b.size() && b[i] == 0xFF;) {
        const uint8_t marker = b[i + 1];
        const size_t length = size_t(b[i + 2]) << 8 | b[i + 3];
        if (marker == 0xDA) break;  // the scan starts: no more tables
        if (marker == 0xDB) tables.insert(tables.end(), b.begin() + i, b.begin() + std::min(b.size(), i + 2 + length));
        i += 2 + length;
    }
    return tables;
}

std::vector<std::string> FilesIn(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

class BatchRunTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Listing deletes working files in the library's temporary folder:
        // keep that inside the test's own folder.
        oldTemp_ = Get_Temp_Path();
        for (const std::string& d : {dir_.File("tmp"), src_, out_}) fs::create_directories(d);
        Set_Temp_Path(dir_.File("tmp").c_str());
        // These runs hold the original engine to its results; the smooth
        // tests check the box again.
        model_.Click(kSmoothResizing);
        ASSERT_FALSE(model_.Get(kSmoothResizing).checked);
    }
    void TearDown() override { Set_Temp_Path(oldTemp_.c_str()); }

    std::string Src(const std::string& name) const { return src_ + "/" + name; }
    std::string Out(const std::string& name) const { return out_ + "/" + name; }

    // Select Image answered with names in src_, and out_ as the destination.
    void List(ScaleDialogModel& model, FakeView& view, const std::vector<std::string>& names) {
        view.files = {src_};
        view.files.insert(view.files.end(), names.begin(), names.end());
        model.Click(kSelectImage);
        view.folderAnswer = out_;
        model.Click(kSelectDestination);
    }
    void List(const std::vector<std::string>& names) { List(model_, view_, names); }
    void Edit(int id, const std::string& text) {
        model_.SetText(id, text);
        model_.FieldLeft(id);
    }
    void ChooseFormat(const std::string& format) {
        for (int step = 0; step < 5 && model_.Get(kFormat).text != format; ++step)
            model_.SpinDelta(kFormatSpin, -1);
        ASSERT_EQ(model_.Get(kFormat).text, format);
    }
    // Process All and every tick it starts; the outcomes of this run.
    std::vector<FileOutcome> Run(ScaleDialogModel& model, FakeView& view) {
        view.outcomes.clear();
        model.Click(kProcessAll);
        view.RunTimer(model);
        EXPECT_TRUE(model.Get(kDone).visible);
        return view.outcomes;
    }
    std::vector<FileOutcome> Run() { return Run(model_, view_); }

    TempDir dir_;
    const std::string src_ = dir_.File("src");
    const std::string out_ = dir_.File("out");
    std::string oldTemp_;
    FakeView view_;
    ScaleDialogModel model_{view_, ""};
};

TEST_F(BatchRunTest, ThreeFormatsToJpegNamedByPositionThenNextLetter) {
    WriteSource(Src("a.jpg"), 40, 30);
    WriteSource(Src("b.tif"), 80, 40);
    WriteSource(Src("c.bmp"), 20, 40);
    List({"c.bmp", "a.jpg", "b.tif"});
    Edit(kScale, "50");
    ChooseFormat("JPEG");
    // Subsampled outputs all take the width the dialog shows for the first
    // file (20), whatever their own width.
    const struct { const char* name; Size size; } expected[] = {
        {"a.jpg", {20, 15}}, {"b.jpg", {20, 10}}, {"c.jpg", {20, 40}}};
    for (const char letter : {'A', 'B'}) {
        const std::vector<FileOutcome> outcomes = Run();
        ASSERT_EQ(outcomes.size(), 3u) << letter;
        for (int i = 0; i < 3; ++i) {
            const FileOutcome& o = outcomes[size_t(i)];
            const std::string name = std::string(1, letter) + "00" + std::to_string(i) + "_" + expected[i].name;
            SCOPED_TRACE(name);
            EXPECT_EQ(o.status, Status::Converted) << o.reason;
            EXPECT_EQ(o.position, i);
            EXPECT_EQ(o.output, Out(name));
            EXPECT_EQ(ImageSize(Out(name)), expected[i].size);
            EXPECT_EQ((Size{uint32_t(o.width), uint32_t(o.height)}), expected[i].size);
        }
    }
    EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"A000_a.jpg", "A001_b.jpg", "A002_c.jpg",
                                                       "B000_a.jpg", "B001_b.jpg", "B002_c.jpg"}));
}

// The unchecked box is the original engine, byte for byte: the cubic
// scaler for TIFF, point sampling to the first file's width for the others.
TEST_F(BatchRunTest, ExactRunsWriteWhatTheOriginalEngineWrites) {
    WriteSource(Src("a.tif"), 64, 48);
    WriteSource(Src("b.jpg"), 30, 50, 2);
    List({"a.tif", "b.jpg"});
    model_.Click(kKeepMetadata);
    Edit(kScale, "50");
    for (const char* format : {"TIFF", "JPEG", "BMP"}) {
        SCOPED_TRACE(format);
        ChooseFormat(format);
        const std::vector<FileOutcome> outcomes = Run();
        ASSERT_EQ(outcomes.size(), 2u);
        for (const FileOutcome& o : outcomes) {
            ASSERT_EQ(o.status, Status::Converted) << o.reason;
            ImgClass src, want;
            testing_support::SetName(src, o.source);
            ASSERT_FALSE(ReadImage(false, &src));
            src.ImgStruct.ResUnit = 2;  // the dialog's output resolution
            src.ImgStruct.Resolution = 300.0;
            if (format[0] == 'T')
                ASSERT_FALSE(ScaleImage(&src, 0.5, -1.0, &want));
            else
                SubsampleLocalImage(&src, &want, 32, -1);  // a.tif's width at 50 %
            testing_support::SetName(want, dir_.File(std::string("want.") + format));
            ASSERT_FALSE(format[0] == 'T' ? WriteTIFF(false, false, &want)
                         : format[0] == 'J' ? WriteJPEG(75, &want) : Write_BMP(&want));
            EXPECT_EQ(ReadBytes(o.output), ReadBytes(want.ImgStruct.FileName)) << o.output;
        }
    }
}

// Smooth runs size every file by its own shape and resample it from its own
// pixels, whatever the format.
TEST_F(BatchRunTest, SmoothRunsGiveEachFileItsOwnSize) {
    WriteSource(Src("land.jpg"), 240, 160);
    WriteSource(Src("port.tif"), 200, 300, 2);
    WriteSource(Src("square.bmp"), 90, 90, 3);
    List({"land.jpg", "port.tif", "square.bmp"});
    model_.Click(kSmoothResizing);
    // A JPEG decoded for its copy (reduced where that fits) is not cached;
    // one written as it is comes from the cache, as any source.
    struct Case { const char* what; const char* format; std::function<void()> ask; Size sizes[3]; bool jpegCached; };
    const Case cases[] = {
        // The first file's width (60) is no one else's.
        {"25 %", "JPEG", [this] { Edit(kScale, "25"); }, {{60, 40}, {50, 75}, {23, 23}}, false},
        {"100 %", "TIFF", [this] { Edit(kScale, "100"); }, {{240, 160}, {200, 300}, {90, 90}}, true},
        {"80 wide", "TIFF", [this] { Edit(kOutWidth, "80"); }, {{80, 53}, {80, 120}, {80, 80}}, false},
        // The longer side exactly 80: a 2:3 portrait is 53 x 80.
        {"fit 80", "BMP", [this] { Edit(kFitSize, "80"); model_.Click(kFit); }, {{80, 53}, {53, 80}, {80, 80}}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        model_.Cache().Clear();
        c.ask();
        ChooseFormat(c.format);
        const std::vector<FileOutcome> outcomes = Run();
        ASSERT_EQ(outcomes.size(), 3u);
        for (size_t i = 0; i < 3; ++i) {
            const FileOutcome& o = outcomes[i];
            ASSERT_EQ(o.status, Status::Converted) << o.reason;
            EXPECT_EQ(ImageSize(o.output), c.sizes[i]) << o.output;
            EXPECT_EQ((Size{uint32_t(o.width), uint32_t(o.height)}), c.sizes[i]);
        }
        const ImgClass* jpeg = model_.Cache().Find(Src("land.jpg"));
        EXPECT_EQ(jpeg && jpeg->ImgStruct.ImgData, c.jpegCached);
        // Lossless outputs hold exactly the library's resampling (or the
        // source itself at 100 %).
        if (c.format[0] != 'J') {
            for (size_t i = 0; i < 3; ++i) {
                const Size s = c.sizes[i];
                EXPECT_EQ(Pixels(outcomes[i].output),
                          Resampled(outcomes[i].source, int(s.w), int(s.h), dir_.File("want.tif")))
                    << outcomes[i].output;
            }
        }
    }
}

// With "Limit  Memory Usage" the rows stream into the file: the same file,
// at the dialog's resolution rather than the source's, also at 100 %; and
// JPEG outputs are made too (the source is read for them).
TEST_F(BatchRunTest, SmoothLimitedMemoryWritesTheSameFiles) {
    WriteSource(Src("a.jpg"), 200, 120);
    WriteSource(Src("b.tif"), 90, 150, 2);  // both 300 dpi
    List({"a.jpg", "b.tif"});
    model_.Click(kSmoothResizing);
    model_.SetText(kOutRes, "72");
    for (const char* percent : {"20", "100"}) {
        SCOPED_TRACE(percent);
        Edit(kScale, percent);
        model_.Cache().Clear();
        model_.Click(kLimitMemory);
        const std::vector<FileOutcome> streamed = Run();
        for (const FileOutcome& o : streamed) {
            const ImgClass* cached = model_.Cache().Find(o.source);
            EXPECT_FALSE(cached && cached->ImgStruct.ImgData) << "a limited run keeps no pixels: " << o.source;
        }
        model_.Click(kLimitMemory);
        const std::vector<FileOutcome> inMemory = Run();
        ASSERT_EQ(inMemory.size(), 2u);
        ASSERT_EQ(streamed.size(), 2u);
        for (size_t i = 0; i < 2; ++i) {
            ASSERT_EQ(streamed[i].status, Status::Converted) << streamed[i].reason;
            EXPECT_EQ(ReadBytes(streamed[i].output), ReadBytes(inMemory[i].output)) << streamed[i].output;
            EXPECT_FLOAT_EQ(testing_support::ReadTiffTags(streamed[i].output).xres, 72.0f) << streamed[i].output;
        }
    }
    model_.Cache().Clear();
    model_.Click(kLimitMemory);
    Edit(kScale, "20");
    ChooseFormat("JPEG");
    for (const FileOutcome& o : Run()) EXPECT_EQ(o.status, Status::Converted) << o.reason;
}

TEST_F(BatchRunTest, JpegQualityUsed) {
    WriteSource(Src("a.jpg"), 64, 48);
    WriteSource(Src("b.tif"), 64, 48, 2);
    // References written by the library itself at each quality.
    std::map<int, std::vector<uint8_t>> reference;
    for (int q : {75, 90}) {
        ImgClass img;
        testing_support::MakeImage(img, 16, 16, 3);
        testing_support::SetName(img, dir_.File("q" + std::to_string(q) + ".jpg"));
        ASSERT_FALSE(WriteJPEG(q, &img));
        reference[q] = QuantTables(img.ImgStruct.FileName);
        ASSERT_FALSE(reference[q].empty());
    }
    ASSERT_NE(reference[75], reference[90]);
    List({"a.jpg", "b.tif"});
    ChooseFormat("JPEG");
    const struct { const char* scale; const char* quality; int used; const char* shownAfter; Size size; } cases[] = {
        {"50", "90", 90, "90", {32, 24}},
        {"50", "150", 75, "75", {32, 24}},   // out of range: reset and used as 75
        {"50", "abc", 75, "75", {32, 24}},   // no number is no quality 0 either
        {"100", "90", 75, "90", {64, 48}},   // unscaled JPEG: always 75
        {"100", "150", 75, "150", {64, 48}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.scale) + " % at quality " + c.quality);
        Edit(kScale, c.scale);
        model_.SetText(kQuality, c.quality);
        const std::vector<FileOutcome> outcomes = Run();
        ASSERT_EQ(outcomes.size(), 2u);
        for (const FileOutcome& o : outcomes) {
            ASSERT_EQ(o.status, Status::Converted) << o.reason;
            EXPECT_EQ(QuantTables(o.output), reference[c.used]) << o.output;
            EXPECT_EQ(ImageSize(o.output), c.size) << o.output;
        }
        EXPECT_EQ(model_.Get(kQuality).text, c.shownAfter);
    }
}

TEST_F(BatchRunTest, FitModeSizesEachFileByItsShape) {
    WriteSource(Src("land.tif"), 80, 40);
    WriteSource(Src("port.tif"), 30, 60);
    WriteSource(Src("square.bmp"), 50, 50);
    List({"land.tif", "port.tif", "square.bmp"});
    Edit(kFitSize, "20");
    model_.Click(kFit);
    ASSERT_TRUE(model_.Get(kFit).checked);
    EXPECT_EQ(model_.Get(kFormat).text, "JPEG");
    const std::vector<FileOutcome> outcomes = Run();
    const struct { const char* output; Size size; } expected[] = {
        {"A000_land.jpg", {20, 10}}, {"A001_port.jpg", {10, 20}}, {"A002_square.jpg", {20, 20}}};
    ASSERT_EQ(outcomes.size(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(outcomes[i].status, Status::Converted) << outcomes[i].reason;
        EXPECT_EQ(outcomes[i].output, Out(expected[i].output));
        EXPECT_EQ(ImageSize(Out(expected[i].output)), expected[i].size) << expected[i].output;
    }
}

TEST_F(BatchRunTest, LimitMemoryWritesTiffOnlyAndLeavesPixelsUnread) {
    WriteSource(Src("a.tif"), 80, 40);
    WriteSource(Src("b.jpg"), 60, 90);
    List({"a.tif", "b.jpg"});
    Edit(kScale, "25");
    model_.Click(kLimitMemory);
    ASSERT_TRUE(model_.Get(kLimitMemory).checked);
    std::vector<FileOutcome> outcomes = Run();
    const struct { const char* output; Size size; } expected[] = {{"A000_a.tif", {20, 10}}, {"A001_b.tif", {15, 23}}};
    ASSERT_EQ(outcomes.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(outcomes[i].status, Status::Converted) << outcomes[i].reason;
        const testing_support::TiffTags tags = testing_support::ReadTiffTags(Out(expected[i].output));
        ASSERT_TRUE(tags.opened) << expected[i].output;
        EXPECT_EQ((Size{tags.width, tags.length}), expected[i].size) << expected[i].output;
        EXPECT_EQ((Size{uint32_t(outcomes[i].width), uint32_t(outcomes[i].height)}), expected[i].size);
    }
    // Left checked with JPEG chosen, nothing is read into the cache, so
    // nothing can be written.
    ChooseFormat("JPEG");
    outcomes = Run();
    ASSERT_EQ(outcomes.size(), 2u);
    for (const FileOutcome& o : outcomes) {
        EXPECT_EQ(o.status, Status::Failed) << o.output;
        EXPECT_FALSE(o.reason.empty());
        EXPECT_FALSE(fs::exists(o.output)) << o.output;
    }
    EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"A000_a.tif", "A001_b.tif"}));
}

TEST_F(BatchRunTest, DamagedFilesFailAndTheRunGoesOn) {
    WriteSource(Src("a.tif"), 40, 20);
    WriteSource(Src("d.bmp"), 40, 20);
    WriteSource(Src("full.jpg"), 40, 20);
    // Both are still recognised by type, so they stay on the list: b's
    // header is whole but its scan holds no data, c has no header at all.
    std::vector<uint8_t> cut = ReadBytes(Src("full.jpg"));
    const size_t scan = AfterSegment(cut, 0xDA);
    ASSERT_GT(scan, 0u);
    cut.resize(scan);
    testing_support::WriteBytes(Src("b.jpg"), cut);
    testing_support::WriteBytes(Src("c.bmp"), {'B', 'M', 0x10, 0x00, 0x00, 0x00, 0xFF, 0xFF});
    fs::remove(Src("full.jpg"));
    // Listed the headless way, every name in its place.
    model_.SetListEveryName(true);
    List({"a.tif", "b.jpg", "c.bmp", "d.bmp"});
    Edit(kScale, "50");
    const std::vector<FileOutcome> outcomes = Run();
    ASSERT_EQ(outcomes.size(), 4u);
    const Status expected[] = {Status::Converted, Status::Failed, Status::Failed, Status::Converted};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(outcomes[i].source);
        EXPECT_EQ(outcomes[i].status, expected[i]) << outcomes[i].reason;
        EXPECT_EQ(outcomes[i].reason.empty(), expected[i] == Status::Converted) << outcomes[i].reason;
        EXPECT_EQ(outcomes[i].reason.find('\n'), std::string::npos);
    }
    EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"A000_a.tif", "A003_d.tif"}));
    EXPECT_EQ(ImageSize(Out("A003_d.tif")), (Size{20, 10}));
    EXPECT_EQ(model_.FailedCount(), 2);
}

// A source cut short is converted as far as it goes and said to be: the
// outcome's warning, the window's list and its button; strictly, it fails
// and nothing is written.
TEST_F(BatchRunTest, CutSourcesConvertWithAWarningOrFailStrictly) {
    WriteSource(Src("full.jpg"), 64, 48);
    std::vector<uint8_t> bytes = ReadBytes(Src("full.jpg"));
    bytes.resize(bytes.size() * 2 / 3);
    testing_support::WriteBytes(Src("cut.jpg"), bytes);
    fs::remove(Src("full.jpg"));
    WriteSource(Src("good.tif"), 8, 4);
    List({"cut.jpg", "good.tif"});
    for (const bool strict : {false, true}) {
        SCOPED_TRACE(strict ? "strict" : "as far as it goes");
        fs::remove_all(out_);
        fs::create_directories(out_);
        model_.SetStrict(strict);
        const std::vector<FileOutcome> outcomes = Run();
        ASSERT_EQ(outcomes.size(), 2u);
        const FileOutcome& cut = outcomes[0];
        EXPECT_EQ(cut.status, strict ? Status::Failed : Status::Converted) << cut.reason;
        EXPECT_EQ(strict ? cut.reason : cut.warning, "Premature end of JPEG file");
        EXPECT_EQ(ScaleDialogModel::TroubleOf(cut),
                  strict ? "Premature end of JPEG file" : "converted, but: Premature end of JPEG file");
        EXPECT_EQ(ScaleDialogModel::TroubleOf(outcomes[1]), "");
        EXPECT_EQ(model_.TroubleButtonText(), strict ? "1 failed…" : "0 failed, 1 with warnings…");
        EXPECT_EQ(FilesIn(out_), strict ? std::vector<std::string>{"A001_good.tif"}
                                        : (std::vector<std::string>{"A000_cut.tif", "A001_good.tif"}));
    }
}

TEST_F(BatchRunTest, TwentySeventhRunFailsWithoutOverwriting) {
    WriteSource(Src("a.tif"), 8, 4);
    WriteSource(Src("b.tif"), 8, 4, 2);
    List({"a.tif", "b.tif"});
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const std::vector<FileOutcome> outcomes = Run();
        ASSERT_EQ(outcomes.size(), 2u);
        ASSERT_EQ(outcomes[0].output, Out(std::string(1, letter) + "000_a.tif"));
        ASSERT_EQ(outcomes[0].status, Status::Converted) << outcomes[0].reason;
    }
    // A marker a rewrite would destroy (the cached source would write the
    // same bytes again).
    testing_support::WriteText(Out("Z000_a.tif"), "earlier output");
    fs::remove(Out("Q001_b.tif"));  // b has a free name again
    const std::vector<FileOutcome> outcomes = Run();
    ASSERT_EQ(outcomes.size(), 2u);
    EXPECT_EQ(outcomes[0].status, Status::Failed);
    EXPECT_EQ(outcomes[0].reason, "no free output name");
    EXPECT_EQ(outcomes[1].status, Status::Converted) << outcomes[1].reason;
    EXPECT_EQ(outcomes[1].output, Out("Q001_b.tif"));
    const std::vector<uint8_t> marker = ReadBytes(Out("Z000_a.tif"));
    EXPECT_EQ(std::string(marker.begin(), marker.end()), "earlier output");
    EXPECT_EQ(FilesIn(out_).size(), 52u);
}

// A run that never shows a file again (the headless one) holds no pixels
// once a file is done, whichever engine read it; the window keeps them for
// the preview.
TEST_F(BatchRunTest, RunsWithoutPreviewKeepNoPixelsAfterEachFile) {
    struct CountingView : FakeView {
        ScaleDialogModel* model = nullptr;
        std::vector<uint64_t> held;
        void FileFinished(const FileOutcome& o) override {
            FakeView::FileFinished(o);
            held.push_back(model->Cache().PixelBytes());
        }
    };
    WriteSource(Src("a.tif"), 64, 48);
    WriteSource(Src("b.jpg"), 40, 30);
    WriteSource(Src("c.bmp"), 20, 40);
    const struct { bool keep, smooth; } rows[] = {{false, false}, {false, true}, {true, false}, {true, true}};
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.keep ? "kept" : "not kept") + (row.smooth ? ", smooth" : ", exact"));
        CountingView view;
        ScaleDialogModel model(view, "");
        view.model = &model;
        model.SetKeepSources(row.keep);
        if (!row.smooth) model.Click(kSmoothResizing);
        List(model, view, {"a.tif", "b.jpg", "c.bmp"});
        model.SetText(kScale, "50");
        model.FieldLeft(kScale);
        const std::vector<FileOutcome> outcomes = Run(model, view);
        ASSERT_EQ(outcomes.size(), 3u);
        for (const FileOutcome& o : outcomes) EXPECT_EQ(o.status, Status::Converted) << o.reason;
        ASSERT_EQ(view.held.size(), 3u);
        if (!row.keep) {
            EXPECT_EQ(view.held, (std::vector<uint64_t>{0, 0, 0}));
        } else {
            EXPECT_GT(view.held.back(), 0u);
        }
    }
}

TEST_F(BatchRunTest, RawFilesTakeTheProcessorsTiffOrTheJpegBeside) {
    WriteSource(Src("a.tif"), 40, 20);
    WriteSource(dir_.File("developed.tif"), 60, 40, 3);
    WriteSource(Src("w.jpg"), 30, 30);
    for (const char* raw : {"w.DCR", "x.DCR", "z.DCR"}) testing_support::WriteText(Src(raw), "raw sensor bytes");
    // The processor develops x only, and logs every call.
    const std::string processor = dir_.File("develop.sh");
    testing_support::WriteText(processor,
        "#!/bin/bash\n"
        "echo \"$#:$1\" >> '" + dir_.File("calls.log") + "'\n"
        "case \"$1\" in *x.DCR) cp '" + dir_.File("developed.tif") + "' \"${1%.*}.tif\" ;; esac\n");
    ASSERT_EQ(chmod(processor.c_str(), 0755), 0);
    FakeView view;
    ScaleDialogModel model(view, processor);
    List(model, view, {"a.tif", "w.DCR", "x.DCR", "z.DCR"});
    model.SetText(kScale, "50");
    model.FieldLeft(kScale);
    const std::vector<FileOutcome> outcomes = Run(model, view);
    const struct { Status status; const char* source; const char* output; Size size; } expected[] = {
        {Status::Converted, "a.tif", "A000_a.tif", {20, 10}},
        {Status::Converted, "w.jpg", "A001_w.tif", {15, 15}},
        {Status::Converted, "x.tif", "A002_x.tif", {30, 20}},
        {Status::Skipped, "z.DCR", "", {}},
    };
    ASSERT_EQ(outcomes.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(expected[i].source);
        EXPECT_EQ(outcomes[i].status, expected[i].status) << outcomes[i].reason;
        EXPECT_EQ(outcomes[i].source, Src(expected[i].source));
        if (*expected[i].output) {
            EXPECT_EQ(outcomes[i].output, Out(expected[i].output));
            EXPECT_EQ(ImageSize(Out(expected[i].output)), expected[i].size);
        }
    }
    EXPECT_EQ(FilesIn(out_), (std::vector<std::string>{"A000_a.tif", "A001_w.tif", "A002_x.tif"}));
    const std::vector<uint8_t> log = ReadBytes(dir_.File("calls.log"));
    EXPECT_EQ(std::string(log.begin(), log.end()),
              "1:" + Src("w.DCR") + "\n1:" + Src("x.DCR") + "\n1:" + Src("z.DCR") + "\n");
}

}  // namespace
