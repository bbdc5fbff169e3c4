// The batch run: Process All, the timer's ticks, converting one file, the
// image cache loads and Cancel.
#include "scale_dialog.h"

#include "metadata.h"
#include "naming.h"
#include "output_file.h"
#include "platform.h"
#include "resizing.h"
#include "text.h"

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <chrono>
#include <cmath>

namespace tolvane {

namespace {
// The library's words for a failure on one line, or the program's own when
// the library left none.
std::string LibraryReason(const char* fallback) {
    const std::string text = OneLine(Get_Last_Error());
    return text.empty() ? fallback : text;
}

// Paths are never cut: one that does not fit is refused.
bool CopyName(char (&field)[ORVIX_MAX_PATH], const std::string& name) {
    if (name.size() >= sizeof field) return false;
    name.copy(field, name.size());
    field[name.size()] = '\0';
    return true;
}

// The output length the scaler makes of length at factor.
int RoundedLength(uint32_t length, double factor) {
    const double v = double(length) * factor + 0.5;
    return v >= 1.0 && v < 2147483647.0 ? static_cast<int>(v) : 0;
}

constexpr int kPngLevel = 6;  // zlib's default: near the smallest, several times faster than 9

// The cubic scaler and the row-by-row TIFF engine take 1 or 3 samples
// only: a source with transparency goes to them flattened onto white, the
// background its JPEG and BMP outputs get too, so no file fails for it.
// The flattening works on a copy, as the cached source keeps its alpha for
// the preview and for smooth resizing; source itself when it has none.
ImgClass& Opaque(ImgClass& source, ImgClass& copy) {
    const ImgStruct& s = source.ImgStruct;
    if (!s.ImgData || !HasAlpha(s.Samples)) return source;
    ImgStruct& c = copy.ImgStruct;
    unsigned char* keep = c.ImgData;
    c = s;
    c.ImgData = keep;
    if (copy.AllocData() || !c.ImgData) return source;  // the scaler's refusal then says why
    std::memcpy(c.ImgData, s.ImgData, size_t(s.LineSize) * s.Height);
    if (FlattenImage(&copy, 255, 255, 255)) return source;
    return copy;
}
}  // namespace

const char* StatusName(FileOutcome::Status status) {
    switch (status) {
    case FileOutcome::Status::Converted: return "converted";
    case FileOutcome::Status::Skipped: return "skipped";
    case FileOutcome::Status::Interrupted: return "interrupted";
    default: return "failed";
    }
}

int ScaleDialogModel::FailedCount() const {
    return int(std::count_if(outcomes_.begin(), outcomes_.end(), [](const FileOutcome& o) {
        return o.status == FileOutcome::Status::Failed;
    }));
}

int ScaleDialogModel::WarnedCount() const {
    return int(std::count_if(outcomes_.begin(), outcomes_.end(), [](const FileOutcome& o) {
        return o.status == FileOutcome::Status::Converted && !o.warning.empty();
    }));
}

std::string ScaleDialogModel::TroubleOf(const FileOutcome& o) {
    if (o.status == FileOutcome::Status::Failed) return o.reason;
    if (o.status == FileOutcome::Status::Converted && !o.warning.empty()) return "converted, but: " + o.warning;
    return "";
}

std::string ScaleDialogModel::TroubleButtonText() const {
    const int failed = FailedCount(), warned = WarnedCount();
    if (warned == 0) return failed > 0 ? Format("%d failed…", failed) : "";
    return Format("%d failed, %d with warnings…", failed, warned);
}

void ScaleDialogModel::ProcessAll() {
    // A click queued while a file converts must not start a second run.
    if (running_ || OutputBeyondLimit()) return;
    SetVisible(kDone, false);
    const int n = list_.Count();
    if (destination_.empty()) destination_ = sourceFolder_;
    timerMode_ = 0;
    outcomes_.clear();
    if (n == 0) return;
    SetRunning(true);
    // What a killed run of this host left half-written goes first.
    RemoveLeftovers(destination_, kPartialPrefix);
    ConvertPosition(0);
    if (n == 1) {
        SetRunning(false);
        SetVisible(kDone, true);
        SetWait(false);
        closeGuard_ = 1;
    } else {
        view_.StartTimer(kTimerId, kBatchPeriod);
        SetProgressPosition(0);
        closeGuard_ = 1;
        SetWait(false);
    }
}

std::string ScaleDialogModel::OutputLimitWords() const {
    const int width = TextToInt(Text(kOutWidth)), height = TextToInt(Text(kOutHeight));
    if (!BeyondPixelLimit(width, height)) return "";
    return Format("An output of %d x %d pixels is larger than the image library can make "
                  "(at most %llu pixels). Choose a smaller size.",
                  width, height, static_cast<unsigned long long>(LibraryPixelLimit()));
}

// The size in the fields is refused before anything is written when the
// library could not hold an image of it; true when it was.
bool ScaleDialogModel::OutputBeyondLimit() {
    const std::string words = OutputLimitWords();
    if (!words.empty()) view_.ShowMessage(words, "Output too large");
    return !words.empty();
}

void ScaleDialogModel::TimerTick(int id) {
    if (id != kTimerId) return;
    view_.StopTimer(kTimerId);
    if (timerMode_ == 2)
        BackgroundLoadTick();
    else
        BatchTick();
}

void ScaleDialogModel::BatchTick() {
    const int n = list_.Count();
    if (n <= 1) {
        timerMode_ = 0;
        SetRunning(false);
        return;
    }
    if (busy_) {
        view_.StartTimer(kTimerId, kBatchPeriod);
        return;
    }
    if (platform::InterruptSignal()) {
        // Asked to stop: no further file is begun.
        batchIndex_ = -1;
        timerMode_ = 0;
        SetRunning(false);
        SetVisible(kDone, true);
        return;
    }
    if (batchIndex_ == -1) {
        batchIndex_ = 1;
        pending_.ClearFirst();
        SetVisible(kDone, false);
        SetProgress(n, progressPos_);
    }
    loadName_ = SourcePath(list_.Text(batchIndex_));
    timerMode_ = 1;
    busy_ = true;
    ConvertPosition(batchIndex_);
    ++batchIndex_;
    busy_ = false;
    // The load name marks the step only, so a background load asked for
    // between two files can run.
    loadName_.clear();
    timerMode_ = 0;
    if (batchIndex_ < n) {
        view_.StartTimer(kTimerId, kBatchPeriod);
    } else {
        batchIndex_ = -1;
        SetRunning(false);
        SetVisible(kDone, true);
    }
}

void ScaleDialogModel::BackgroundLoadTick() {
    if (!loadName_.empty()) {
        view_.StartTimer(kTimerId, kBatchPeriod);
        return;
    }
    loadName_ = pending_.First();
    if (loadName_.empty()) {
        timerMode_ = 0;
        view_.PreviewRepaint();
        // A run interrupted by the load goes on, also before its first tick.
        if (running_) view_.StartTimer(kTimerId, kBatchPeriod);
        return;
    }
    ImgClass* img = cache_.FindOrAdd(loadName_);
    currentImage_ = loadName_;
    SetWait(true);
    const bool loaded = img && (img->ImgStruct.ImgData || ReadEvicting(*img));
    if (loaded && img->ImgStruct.ImgData) SetProgressPosition(0);
    SetWait(false);
    if (loaded) view_.PreviewRepaint();
    pending_.Remove(loadName_);
    loadName_.clear();
    view_.StartTimer(kTimerId, kBatchPeriod);
}

void ScaleDialogModel::RequestSelectionLoad(const std::string& path) {
    ImgClass* img = cache_.FindOrAdd(path);
    currentImage_ = path;
    if (img && img->ImgStruct.ImgData) return;
    view_.StopTimer(kTimerId);
    timerMode_ = 2;
    pending_.Add(path);
    view_.StartTimer(kTimerId, kSelectionLoad);
}

void ScaleDialogModel::RequestPreviewLoad(const std::string& path) {
    if (timerMode_ == 0) {
        view_.StopTimer(kTimerId);
        pending_.Add(path);
        timerMode_ = 2;
        view_.StartTimer(kTimerId, kBatchPeriod);
    } else {
        LoadIntoCache(path, 0);
    }
}

void ScaleDialogModel::ConvertPosition(int i) {
    if (keep_ && !keep_(i)) return;
    outcomes_.push_back(ProcessFile(i));
    view_.FileFinished(outcomes_.back());
}

// ---- One file ------------------------------------------------------------------------

bool ScaleDialogModel::PlanFile(int i, FilePlan& plan, std::string& reason) {
    FileOutcome outcome;
    const bool ok = PrepareFile(i, plan, outcome, false);
    reason = outcome.reason;
    SetControlText(kWorkPath, "");
    SetWait(false);
    return ok;
}

FileOutcome ScaleDialogModel::ProcessFile(int i) {
    const auto start = std::chrono::steady_clock::now();
    FileOutcome outcome;
    outcome.position = i;
    // The reason of a failure is what the library says about this file.
    Post_Error("");
    FilePlan plan;
    if (PrepareFile(i, plan, outcome, true)) ConvertFile(plan, outcome);
    // A run that never shows the file again keeps none of its pixels.
    if (!keepSources_) cache_.Remove(cache_.IndexOf(plan.source));
    SetControlText(kWorkPath, "");
    SetWait(false);
    SetProgressPosition(0);
    view_.ShowNormal();
    outcome.milliseconds =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    return outcome;
}

// The output written under a temporary name of its own and, once complete,
// linked under its name without replacing anything. A run asked to stop
// keeps nothing of the file it was writing.
void ScaleDialogModel::ConvertFile(const FilePlan& plan, FileOutcome& outcome) {
    PendingOutput pending;
    const std::string words = pending.Create(plan.output);
    if (!words.empty()) {
        outcome.reason = "the output could not be made: " + words;
        return;
    }
    FilePlan writing = plan;
    writing.output = pending.Path();
    errno = 0;
    const bool written = WriteFile(writing, outcome);
    // The words name the file the user asked for, not its working name.
    for (size_t at; (at = outcome.reason.find(pending.Path())) != std::string::npos;)
        outcome.reason.replace(at, pending.Path().size(), plan.output);
    if (!written) {
        // A full disk or a vanished folder: the system's words say which.
        if (errno == ENOSPC || errno == EDQUOT || errno == EIO || errno == EROFS || errno == EFBIG)
            outcome.reason += " (" + platform::SystemWords(errno) + ")";
        return;
    }
    // A source with missing or corrupt data is converted as far as it goes,
    // and said to be; strictly, it fails and nothing is kept.
    const std::string warning = readWarnings_[plan.source];
    if (!warning.empty() && strict_) {
        outcome.reason = warning;
        return;
    }
    outcome.warning = warning;
    if (const int signal = platform::InterruptSignal()) {
        outcome.status = FileOutcome::Status::Interrupted;
        outcome.reason = "interrupted by " + platform::SignalName(signal);
        return;
    }
    std::string name = plan.output, why;
    if (!pending.Commit(name, why)) {
        outcome.reason = why;
        return;
    }
    outcome.output = name;
    outcome.status = FileOutcome::Status::Converted;
}

// The output image with the dialog's resolution, the source from the cache,
// and the output written under plan.output; false with the reason.
bool ScaleDialogModel::WriteFile(const FilePlan& plan, FileOutcome& outcome) {
    ImgClass output;
    ImgStruct& o = output.ImgStruct;
    if (!CopyName(o.FileName, plan.output)) {
        outcome.reason = "the output path is longer than a path holds";
        return false;
    }
    SetOutputResolution(o);
    o.Planar = 0;
    if (plan.smooth && (plan.outWidth <= 0 || plan.outHeight <= 0)) {
        outcome.reason = "the output would have no pixels";
        return false;
    }
    // No room is made for a source the library will refuse to read.
    const uint64_t expected = BeyondPixelLimit(header_.Width, header_.Height) ? 0 :
        uint64_t(std::max(header_.Width, 0)) * uint64_t(std::max(header_.Height, 0)) * uint64_t(std::max<int>(header_.Samples, 1));
    ImgClass reduced;
    ImgClass* source = plan.reduceOnLoad ? ReadReduced(plan, expected, reduced) : LoadIntoCache(plan.source, expected);
    if (!source) {
        outcome.reason = plan.reduceOnLoad ? LibraryReason("the image could not be read")
                                           : "the source path is longer than a path holds";
        return false;
    }
    source->ImgStruct.ResUnit = o.ResUnit;
    source->ImgStruct.Resolution = o.Resolution;
    // Smooth resizing reads a source that "Limit  Memory Usage" left unread.
    const bool lowMemoryTiff = plan.format == 'T' && Checked(kLimitMemory);
    if (!source->ImgStruct.ImgData && !lowMemoryTiff && !plan.smooth) {
        outcome.reason = Checked(kLimitMemory)
            ? "not read: \"Limit  Memory Usage\" is checked and the output is not TIFF"
            : LibraryReason("the image could not be read");
        return false;
    }
    return plan.smooth ? WriteSmooth(plan, *source, output, outcome) : WriteOutput(plan, *source, output, outcome);
}

// The dialog's output resolution. Unit 3 is per centimetre: ten times lines
// per mm. No resolution is written as none rather than as 0 dots per inch.
void ScaleDialogModel::SetOutputResolution(ImgStruct& o) const {
    const bool dpi = Contains(Text(kOutResLabel), "dpi");
    const double res = TextToDouble(Text(kOutRes));
    o.ResUnit = !(res > 0) ? 1 : dpi ? 2 : 3;
    o.Resolution = !(res > 0) ? 0.0 : res * (dpi ? 1.0 : 10.0);
}

// A JPEG decoded for its output into `reduced`: reduced where that fits,
// and never cached, since a run does not read it again (keeping each
// source's pixels made a 40-photo run half as fast again). The cache makes
// room for it first. Null when it cannot be read.
ImgClass* ScaleDialogModel::ReadReduced(const FilePlan& plan, uint64_t expectedBytes, ImgClass& reduced) {
    if (!CopyName(reduced.ImgStruct.FileName, plan.source)) {
        Post_Error("the source path is longer than a path holds");
        return nullptr;
    }
    cache_.MakeRoom(expectedBytes);
    return ReadEvicting(reduced, plan.outWidth, plan.outHeight) ? &reduced : nullptr;
}

// Steps of a file up to reading its pixels: the source path (a raw camera
// file stands for its converted sibling), the output name, the header and
// the dialog's values for this file.
bool ScaleDialogModel::PrepareFile(int i, FilePlan& plan, FileOutcome& outcome, bool runProcessor) {
    plan.position = i;
    std::string p = SourcePath(list_.Text(i));
    outcome.source = p;
    if (Get_File_Type(p.c_str()) == IMG_TYPE_RAW) {
        std::string converted = ReplaceExtension(p, "tif");
        // The processor converts a raw file the selection did not reach.
        if (runProcessor && !platform::FileExists(converted) && !processorPath_.empty())
            converted = ResolveRawImage(p);
        if (!platform::FileExists(converted)) converted = ReplaceExtension(p, "jpg");
        if (!platform::FileExists(converted)) {
            outcome.status = FileOutcome::Status::Skipped;
            outcome.reason = "raw camera file with no converted .tif or .jpg beside it";
            return false;
        }
        p = converted;
    }
    plan.source = outcome.source = p;
    SetWait(true);
    headerPath_ = HeaderPathFor(Get_Temp_Path(), p);
    ShowOutputName(i, p);
    if (MakeHeader(p) || Read_Hdr(headerPath_.c_str(), &header_)) {
        outcome.reason = LibraryReason("no header could be made for it");
        return false;
    }
    plan.orientation = orientation_;
    int uprightWidth = header_.Width, uprightHeight = header_.Height;
    ToUprightSize(plan.orientation, uprightWidth, uprightHeight);
    SetControlText(kInWidth, Format("%d", uprightWidth));
    SetControlText(kInHeight, Format("%d", uprightHeight));
    list_.Select(i);
    ListChanged();
    SetWait(false);
    double xres = 0;
    int unit = 1;
    HeaderResolution(xres, unit);
    SetInputResolution(xres, unit);
    ApplyFitMode(true);
    SetWait(true);

    plan.output = outcome.output = Text(kOutputName);
    plan.width = TextToInt(Text(kOutWidth));
    plan.factor = PixelMode() ? double(plan.width) / TextToInt(Text(kInWidth))
                              : TextToDouble(Text(kScale)) * 0.01;
    plan.format = Text(kFormat).empty() ? 'T' : Text(kFormat)[0];
    PlanSize(plan, uprightWidth, uprightHeight);
    if (BeyondPixelLimit(plan.outWidth, plan.outHeight)) {
        outcome.reason = Format("an output of %d x %d pixels is larger than the image library can make",
                                plan.outWidth, plan.outHeight);
        return false;
    }
    return true;
}

// The output's size, and whether the source goes out as it is.
void ScaleDialogModel::PlanSize(FilePlan& plan, int width, int height) {
    const uint32_t w = uint32_t(std::max(width, 0)), h = uint32_t(std::max(height, 0));
    plan.smooth = Checked(kSmoothResizing);
    plan.filter = filter_;
    if (plan.smooth) {
        SizeRequest request;
        if (!PixelMode()) {
            request.percent = TextToDouble(Text(kScale));
        } else if (Checked(kFit)) {
            request.mode = SizeRequest::Mode::Fit;
            request.fit = TextToInt(Text(kFitSize));
        } else {
            request.mode = SizeRequest::Mode::Width;
            request.width = plan.width;
        }
        SmoothSize(request, width, height, plan.outWidth, plan.outHeight);
        plan.unscaled = plan.outWidth == width && plan.outHeight == height;
        plan.reduceOnLoad = !plan.unscaled && header_.Type == IMG_TYPE_JPEG;
        return;
    }
    plan.unscaled = plan.factor == 1.0;
    if (plan.unscaled && !(plan.format == 'T' && Checked(kLimitMemory))) {
        plan.outWidth = int(w);
        plan.outHeight = int(h);
    } else if (ScaledByFactor(plan.format)) {
        plan.outWidth = RoundedLength(w, plan.factor);
        plan.outHeight = RoundedLength(h, plan.factor);
    } else if (plan.width > 0) {
        plan.outWidth = plan.width;
        plan.outHeight = int(std::trunc(h / (double(w) / plan.width)));
    }
}

// Step 10 of a file: scale or subsample, and write in the chosen format.
bool ScaleDialogModel::WriteOutput(const FilePlan& plan, ImgClass& source, ImgClass& output,
                                   FileOutcome& outcome) {
    const ImgStruct& s = source.ImgStruct;
    const ImgStruct& o = output.ImgStruct;
    const bool lzw = Checked(kLzw);
    bool failed = false;
    const char* fallback = "the output could not be written";
    if (plan.format == 'T' && Checked(kLimitMemory)) {
        std::string out = plan.output;
        const bool hadPixels = s.ImgData != nullptr;
        // The scaler reads a source without pixels as stored; one to be
        // turned, or with transparency to flatten, is read first, which
        // costs what its own read would.
        if (!hadPixels && (plan.orientation != 1 || HasAlpha(header_.Samples))) {
            failed = ReadImageUpright(false, source, plan.orientation);
            if (failed) fallback = "the image could not be read upright";
        }
        ImgClass flat;
        if (!failed) failed = Low_Memory_ScaleImage(lzw, &Opaque(source, flat), out.data(), plan.factor, -1.0);
        if (!failed) NoteReadWarning(plan.source);
        // The scaler reads the source whole; keeping it cached would undo
        // what the user limited.
        if (!hadPixels) source.FreeData();
        outcome.width = plan.outWidth;
        outcome.height = plan.outHeight;
    } else if (plan.unscaled) {
        failed = WriteSourceAs(plan, source);
        outcome.width = int(s.Width);
        outcome.height = int(s.Height);
    } else if (ScaledByFactor(plan.format)) {
        ImgClass flat;
        failed = ScaleImage(&Opaque(source, flat), plan.factor, -1.0, &output);
        fallback = "the image could not be scaled";
        if (!failed) {
            output.ImgStruct.Planar = 0;
            failed = WriteAsFormat(plan, output);
            fallback = "the output could not be written";
        }
    } else {
        SubsampleLocalImage(&source, &output, plan.width, -1);
        failed = o.ImgData == nullptr;
        fallback = "the image could not be subsampled";
        if (!failed) failed = plan.format == 'B' ? Write_BMP(&output) : WriteJPEG(OutputQuality(), &output);
    }
    if (!outcome.width) {
        outcome.width = int(o.Width);
        outcome.height = int(o.Height);
    }
    if (failed) {
        outcome.reason = LibraryReason(fallback);
        return false;
    }
    // Exiv2 rewrites a TIFF through memory: the written pixels go first.
    output.FreeData();
    return KeepMetadata(plan, o, outcome);
}

// Smooth resizing: each output resampled from its own source at its own
// size, whatever the format.
bool ScaleDialogModel::WriteSmooth(const FilePlan& plan, ImgClass& source, ImgClass& output,
                                   FileOutcome& outcome) {
    const bool hadPixels = source.ImgStruct.ImgData != nullptr;
    bool failed = false;
    const char* fallback = "the image could not be read upright";
    // A source not read yet (with "Limit  Memory Usage") is read here,
    // upright, and given the dialog's resolution as a cached one has.
    if (!hadPixels) {
        failed = ReadImageUpright(false, source, plan.orientation);
        if (!failed) NoteReadWarning(plan.source);
        source.ImgStruct.ResUnit = output.ImgStruct.ResUnit;
        source.ImgStruct.Resolution = output.ImgStruct.Resolution;
    }
    if (!failed) failed = ResampleAndWrite(plan, source, output, fallback);
    // Keeping a source read here in the cache would undo what the user limited.
    if (!hadPixels) source.FreeData();
    outcome.width = plan.outWidth;
    outcome.height = plan.outHeight;
    if (failed) {
        outcome.reason = LibraryReason(fallback);
        return false;
    }
    // Exiv2 rewrites a TIFF through memory: the written pixels go first.
    output.FreeData();
    return KeepMetadata(plan, output.ImgStruct, outcome);
}

bool ScaleDialogModel::ResampleAndWrite(const FilePlan& plan, ImgClass& source, ImgClass& output,
                                        const char*& fallback) {
    fallback = "the output could not be written";
    if (plan.unscaled) return WriteSourceAs(plan, source);
    if (plan.format == 'T' && Checked(kLimitMemory)) {
        std::string out = plan.output;
        return Low_Memory_ResampleImage(Checked(kLzw), &source, out.data(), plan.outWidth, plan.outHeight,
                                        plan.filter);
    }
    fallback = "the image could not be resampled";
    if (ResampleImage(&source, &output, plan.outWidth, plan.outHeight, plan.filter)) return true;
    fallback = "the output could not be written";
    return WriteAsFormat(plan, output);
}

// A scaled output in the chosen format: its pixels are in R,G,B order.
// JPEG and BMP flatten transparency onto white; the others keep it.
bool ScaleDialogModel::WriteAsFormat(const FilePlan& plan, ImgClass& image) {
    switch (plan.format) {
    case 'B': return Write_BMP(&image);
    case 'J': return WriteJPEG(OutputQuality(), &image);
    case 'P': return WritePNG(kPngLevel, &image);
    case 'W': return WriteWEBP(OutputQuality(), false, &image);  // 100 is lossless
    default: return WriteTIFF(Checked(kLzw), false, &image);
    }
}

// The photo's metadata carried into the written file (any format but BMP). False
// when the rewrite failed part way: the file can no longer be trusted.
bool ScaleDialogModel::KeepMetadata(const FilePlan& plan, const ImgStruct& written, FileOutcome& outcome) {
    if (plan.format == 'B' || !Checked(kKeepMetadata)) return true;
    bool damaged = false;
    outcome.note = CarryMetadata(plan.source, plan.output,
                                 {outcome.width, outcome.height, written.ResUnit, written.Resolution}, &damaged);
    if (!damaged) return true;
    outcome.reason = outcome.note;
    outcome.note.clear();
    return false;
}

// The JPEG or WebP quality: one that is not a whole number from 1 to 100
// becomes 75, in the field too.
int ScaleDialogModel::OutputQuality() {
    if (!IsWholeNumberIn(Text(kQuality), 1, 100)) SetControlText(kQuality, "75");
    return TextToInt(Text(kQuality));
}

// The cached source written as it is, under the output's name for the call.
bool ScaleDialogModel::WriteSourceAs(const FilePlan& plan, ImgClass& source) {
    ImgStruct& s = source.ImgStruct;
    const std::string name = s.FileName;
    CopyName(s.FileName, plan.output);
    bool failed = true;
    if (plan.format == 'B')
        failed = Write_BMP(&source);
    else if (plan.format == 'J')
        failed = WriteJPEG(75, &source);  // an unscaled JPEG is written at 75 whatever the field says
    else if (plan.format == 'P')
        failed = WritePNG(kPngLevel, &source);
    else if (plan.format == 'W')
        failed = WriteWEBP(OutputQuality(), false, &source);
    else
        failed = WriteTIFF(Checked(kLzw), s.BgrOrder != 0, &source);
    CopyName(s.FileName, name);
    return failed;
}

// ---- Image cache ------------------------------------------------------------------------

ImgClass* ScaleDialogModel::LoadIntoCache(const std::string& path, uint64_t expectedBytes) {
    if (path.empty()) {
        batchIndex_ = -1;
        return nullptr;
    }
    ImgClass* img = cache_.FindOrAdd(path);
    if (!img) return nullptr;
    currentImage_ = path;
    if (!img->ImgStruct.ImgData && !Checked(kLimitMemory)) {
        cache_.MakeRoom(expectedBytes, img);
        if (ReadEvicting(*img)) {
            cache_.MakeRoom(0, img);
        } else {
            pending_.Remove(path);
            SetWait(false);
        }
    }
    SetProgressPosition(0);
    return img;
}

// Reads img; a read that ran out of memory is tried again after the
// largest cached image goes, while one can go. Any other failure (a
// damaged file, a size beyond the library's limit) costs the cache
// nothing. The last-error text holds the last try's.
bool ScaleDialogModel::ReadEvicting(ImgClass& img, int width, int height) {
    const int orientation = ReadOrientation(img.ImgStruct.FileName);
    for (;;) {
        Post_Error("");
        errno = 0;
        if (!ReadImageUpright(false, img, orientation, width, height)) {
            NoteReadWarning(img.ImgStruct.FileName);
            return true;
        }
        const bool outOfMemory = ReadRanOutOfMemory(Get_Last_Error(), errno);
        img.FreeData();
        if (!outOfMemory || !cache_.EvictLargest(&img)) return false;
    }
}

void ScaleDialogModel::NoteReadWarning(const std::string& path) { readWarnings_[path] = Get_Last_Warning(); }

// ---- Cancel ------------------------------------------------------------------------------

void ScaleDialogModel::Cancel() {
    view_.StopTimer(kTimerId);
    SetRunning(false);
    if (!list_.Empty() && (timerMode_ == 1 || busy_ || closeGuard_ == 0)) {
        batchIndex_ = -1;
        SetVisible(kDone, true);
        timerMode_ = 0;
        ++closeGuard_;
        return;
    }
    cache_.Clear();
    closed_ = true;
    view_.CloseDialog();
}

}  // namespace tolvane
