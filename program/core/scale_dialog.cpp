// The main dialog's field relations: selecting files, showing an image's
// size and resolution, and keeping the output size, print size, unit and
// format fields in step.
#include "scale_dialog.h"

#include "app_settings.h"
#include "metadata.h"
#include "naming.h"
#include "platform.h"
#include "selection.h"
#include "text.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <iterator>
#include <limits>

namespace tolvane {

namespace {
constexpr double kInchPerMm = 0.03937007874015748;
constexpr double kMmPerInch = 25.4;
// The format spin's cycle; a format is known by its first letter.
constexpr const char* kFormatNames[] = {"TIFF", "JPEG", "BMP", "PNG", "WebP"};
constexpr int kFormatCount = int(std::size(kFormatNames));

// trunc() into an int; what no int can hold (infinite, not a number, out of
// range after a division by a zero field) becomes 0.
int TruncInt(double v) {
    if (!std::isfinite(v) || std::fabs(v) >= double(std::numeric_limits<int>::max())) return 0;
    return static_cast<int>(std::trunc(v));
}

ScaleDialogModel* g_progressTarget = nullptr;

constexpr char kFormatFilter[] =
    "TIFF Files (*.TIF;*.tif;*.TIFF;*.tiff)|*.tif;*.TIF;*.tiff;*.TIFF|"
    "JPG Files(*.JPG;*.jpg;*.jpeg;*.JPEG)|*.jpg;*.JPG;*.jpeg;*.JPEG|"
    "BMP Files(*.BMP;*.bmp)|*.bmp;*.BMP|DCR Files(*.DCR;*.dcr)|*.Dcr;*.DCR;*.dcr|"
    "Targa Files(*.tga;*.TGA)|*.tga;*.TGA|PNG Files(*.PNG;*.png)|*.png;*.PNG|"
    "WebP Files(*.WEBP;*.webp)|*.webp;*.WEBP|"
    "HEIF Files(*.HEIC;*.heic;*.HEIF;*.heif;*.AVIF;*.avif)|*.heic;*.HEIC;*.heif;*.HEIF;*.avif;*.AVIF|"
    "All files (*.*)|*.*||";

// "All Images" offers every pattern of the format entries, so a new format
// is offered there by being listed once.
std::string FilterWithAllImages() {
    std::string patterns;
    for (const FileFilter& f : ParseFileFilter(kFormatFilter))
        for (const std::string& p : f.patterns)
            if (p != "*.*") patterns += (patterns.empty() ? "" : ";") + p;
    return "All Images (" + patterns + ")|" + patterns + "|" + kFormatFilter;
}

// Fields in which only a number above 0 makes sense.
bool PositiveOnly(int id) {
    switch (id) {
    case kOutWidth: case kOutHeight: case kOutSizeX: case kOutSizeY: case kOutRes: case kFitSize: return true;
    default: return false;
    }
}
}  // namespace

const std::string ScaleDialogModel::kFileFilter = FilterWithAllImages();

ScaleDialogModel::ScaleDialogModel(DialogView& view, std::string processorPath)
    : view_(view),
      controls_(InitialControls()),
      processorPath_(std::move(processorPath)),
      cache_(ImageCache::DefaultBudget()) {}

ScaleDialogModel::~ScaleDialogModel() {
    if (g_progressTarget == this) {
        g_progressTarget = nullptr;
        SetRW_Progress(nullptr, nullptr);
    }
}

std::string ScaleDialogModel::Destination() const {
    return WithSeparator(destination_.empty() ? sourceFolder_ : destination_);
}

// ---- Control state ---------------------------------------------------------

void ScaleDialogModel::SetControlText(int id, const std::string& text) {
    controls_.at(id).text = text;
    // What the model writes is what a later edit falls back to.
    beforeEdit_.erase(id);
    view_.ControlChanged(id);
    // Writing the output resolution counts as a change of it, as typing does.
    if (id == kOutRes) RecalcPhysicalSize();
    // However the output size changes, its byte count follows.
    if (id == kOutWidth || id == kOutHeight) ShowUncompressedSize();
}

void ScaleDialogModel::SetVisible(int id, bool visible) {
    controls_.at(id).visible = visible;
    view_.ControlChanged(id);
}

void ScaleDialogModel::SetEnabled(int id, bool enabled) {
    controls_.at(id).enabled = enabled;
    view_.ControlChanged(id);
}

void ScaleDialogModel::SetChecked(int id, bool checked) {
    controls_.at(id).checked = checked;
    view_.ControlChanged(id);
}

void ScaleDialogModel::SetRunning(bool on) {
    running_ = on;
    for (int id : {kProcessAll, kSelectImage, kRemoveFromList, kRemoveAll}) SetEnabled(id, !on);
}

void ScaleDialogModel::SetWait(bool on) {
    waitCursor_ = on;
    view_.SetWaitCursor(on);
}

void ScaleDialogModel::SetProgress(int range, int position) {
    progressRange_ = range;
    progressPos_ = position;
    view_.ProgressMoved();
}

void ScaleDialogModel::SetProgressPosition(int position) { SetProgress(progressRange_, position); }

void ScaleDialogModel::InstallProgress() {
    g_progressTarget = this;
    SetRW_Progress(ProgressCallback, ProgressCallback);
}

void ScaleDialogModel::ProgressCallback(int total, int done) {
    ScaleDialogModel* model = g_progressTarget;
    if (!model) return;
    model->SetProgress(total != 0 ? total : model->progressRange_, done);
}

// ---- Events ------------------------------------------------------------------

void ScaleDialogModel::SetText(int id, const std::string& text) {
    beforeEdit_.try_emplace(id, controls_.at(id).text);
    controls_.at(id).text = text;
    if (id == kOutRes) RecalcPhysicalSize();
}

void ScaleDialogModel::Click(int id) {
    Control& c = controls_.at(id);
    switch (id) {
    case kLzw: case kLimitMemory: case kRemoveAll: case kPreviewImage: case kPreviewThumbnails:
    case kScaleMode: case kFit: case kKeepMetadata: case kSmoothResizing:
        SetChecked(id, !c.checked);
        break;
    default:
        break;
    }
    switch (id) {
    case kSelectImage: SelectImage(); break;
    case kRemoveFromList: RemoveFromList(); break;
    case kPreviewImage: PreviewImageClicked(); break;
    case kPreviewThumbnails: RefreshThumbnails(); break;
    case kSelectDestination: SelectDestination(); break;
    case kScaleMode: ScaleModeClicked(); break;
    case kFit: ApplyFitMode(false); break;
    case kProcessAll: ProcessAll(); break;
    case kVersion: view_.ShowVersionBox(); break;
    case kCancel: Cancel(); break;
    default: break;
    }
}

void ScaleDialogModel::FieldLeft(int id) {
    if (id == kQuality) OutputQuality();
    if (PositiveOnly(id) && RestoreIfNotPositive(id)) return;
    beforeEdit_.erase(id);
    switch (id) {
    case kFitSize: ApplyFitMode(true); break;
    case kOutWidth: WidthEdited(); break;
    case kOutHeight: HeightEdited(); break;
    case kOutSizeX: SizeXEdited(); break;
    case kOutSizeY: SizeYEdited(); break;
    case kScale: ScaleEdited(); break;
    default: break;
    }
}

// A field left holding something other than a number above 0 (a whole
// one for pixels) gets back what it held before the typing began; true
// when it did.
bool ScaleDialogModel::RestoreIfNotPositive(int id) {
    const auto before = beforeEdit_.find(id);
    const bool pixels = id == kOutWidth || id == kOutHeight || id == kFitSize;
    const bool valid = pixels ? IsWholeNumberIn(Text(id), 1, INT_MAX) : IsPositiveNumber(Text(id));
    if (valid || before == beforeEdit_.end()) return false;
    SetControlText(id, before->second);
    return true;
}

int ScaleDialogModel::SpinDelta(int id, int delta) {
    switch (id) {
    case kFormatSpin: return FormatSpin(delta);
    case kInUnitSpin: ToggleInputUnit(); return 0;
    case kOutUnitSpin: ToggleOutputUnit(); return 0;
    default: return 0;
    }
}

void ScaleDialogModel::SelectListItem(int index) {
    list_.Select(index);
    ListChanged();
    closeGuard_ = 0;
    RefreshSelection();
    RefreshThumbnails();
}

// ---- Select Image --------------------------------------------------------------

void ScaleDialogModel::SelectImage() {
    if (running_) return;
    ClearForSelection();
    if (sourceFolder_.empty()) sourceFolder_ = platform::PicturesFolder();
    const std::vector<std::string> selection = view_.ChooseFiles(sourceFolder_, kFileFilter);
    if (selection.empty()) return;
    ListFiles(selection);
}

void ScaleDialogModel::ClearForSelection() {
    if (view_.ThumbnailsVisible()) {
        view_.ThumbnailsHide();
        SetChecked(kPreviewThumbnails, false);
    }
    if (view_.PreviewExists()) view_.PreviewDismiss();
    list_.Clear();
    nameFile_.clear();
    ListChanged();
    SetVisible(kDone, false);
    SetProgress(100, 0);
}

void ScaleDialogModel::ListFiles(const std::vector<std::string>& selection) {
    // Files dropped during a run wait for its end: the run walks the list.
    if (selection.empty() || running_) return;
    ClearForSelection();
    view_.ThumbnailsForgetAll();
    DeleteWorkingFiles(Get_Temp_Path(), "");
    std::vector<std::string> unreadable = StageSelection(selection);
    for (const std::string& path : staging_) list_.Add(DisplayNameFor(FileNamePart(path)));
    // The first file that reads fills the fields; the window lists no file
    // it found it cannot read.
    int shown = -1;
    inDpi_ = inLpmm_ = outDpi_ = outLpmm_ = 0;
    for (int i = 0; i < list_.Count();) {
        if (ShowImageInfo(i, ResolveRawImage(SourcePath(list_.Text(i))))) {
            shown = i;
            break;
        }
        unreadable.push_back(list_.Text(i));
        if (listEveryName_) {
            ++i;
        } else {
            list_.Delete(i);
        }
    }
    if (!unreadable.empty()) {
        std::sort(unreadable.begin(), unreadable.end(), ListBoxLess);
        std::string text = "\t\tUnknown Image format\t\t";
        for (const std::string& name : unreadable) text += "\n" + name;
        view_.ShowMessage(text, "IMG ERROR");
    }
    list_.Select(std::max(shown, 0));
    ListChanged();
    if (shown < 0) return;
    // Every further name is listed; the staging list has no bound, so lists
    // of any length convert.
    for (size_t j = 1; j < staging_.size(); ++j) ShowOutputName(int(j), staging_[j]);
    list_.Select(shown);
    ListChanged();
    if (destination_.empty()) destination_ = sourceFolder_;
    RefreshSelection();
    RefreshThumbnails();
}

// The chosen paths into staging_, the source folder set. Which files can
// be read is known only by opening them: a run with no window lists every
// name without opening any, so each keeps the place its name gives it and
// fails there; the window lists those whose header it can make. Returns the
// names of those it cannot.
std::vector<std::string> ScaleDialogModel::StageSelection(const std::vector<std::string>& selection) {
    std::vector<std::string> chosen;
    if (selection.size() > 1) {
        sourceFolder_ = selection[0];
        for (size_t k = 1; k < selection.size(); ++k) chosen.push_back(JoinPath(sourceFolder_, selection[k]));
    } else {
        // A single file: the string is its whole path.
        const std::string name = FileNamePart(selection[0]);
        sourceFolder_ = selection[0].substr(0, selection[0].size() - name.size());
        while (sourceFolder_.size() > 1 && platform::IsSeparator(sourceFolder_.back())) sourceFolder_.pop_back();
        chosen.push_back(selection[0]);
    }
    std::vector<std::string> unreadable;
    staging_.clear();
    for (const std::string& path : chosen) {
        const bool readable = listEveryName_ || HeaderReadable(path);
        if (!readable) unreadable.push_back(FileNamePart(path));
        if (readable || listEveryName_) staging_.push_back(path);
    }
    return unreadable;
}

// Whether a header can be made for the file (a raw file counts: its
// processor runs only when it is needed). The scratch header goes at once.
bool ScaleDialogModel::HeaderReadable(const std::string& path) const {
    const int type = Get_File_Type(path.c_str());
    if (type == IMG_TYPE_RAW) return true;
    if (type == IMG_TYPE_UNKNOWN) return false;
    const std::string scratch = Get_Temp_Path() + std::string("listing-check.hdr");
    platform::RemoveFile(scratch);
    const bool made = !Make_Local_Header(path.c_str(), scratch.c_str());
    platform::RemoveFile(scratch);
    return made;
}

// ---- One image's values -------------------------------------------------------------

bool ScaleDialogModel::MakeHeader(const std::string& path) {
    platform::RemoveFile(headerPath_);
    photo_ = ReadPhotoFacts(path);
    orientation_ = photo_.orientation;
    return Make_Local_Header(path.c_str(), headerPath_.c_str());
}

// The header's resolution; a JPEG without a JFIF density shows what its
// EXIF says, when it says anything.
void ScaleDialogModel::HeaderResolution(double& xres, int& unit) const {
    double yres = 0;
    xres = 0;
    unit = 1;
    Get_Image_Res(headerPath_.c_str(), &xres, &yres, &unit);
    if ((unit == 2 || unit == 3) && xres > 0) return;
    if (header_.Type == IMG_TYPE_JPEG && photo_.resUnit != 1) {
        xres = photo_.resolution;
        unit = photo_.resUnit;
    }
}

// The header holds the stored rows; the fields show the photo upright.
double ScaleDialogModel::UprightAspect() const {
    const double stored = Get_Aspect(headerPath_.c_str());
    return SwapsSides(orientation_) && stored != 0 ? 1.0 / stored : stored;
}

bool ScaleDialogModel::ShowImageInfo(int index, const std::string& path) {
    headerPath_ = HeaderPathFor(Get_Temp_Path(), path);
    if (MakeHeader(path)) return false;
    Read_Hdr(headerPath_.c_str(), &header_);
    inDpi_ = inLpmm_ = 0;
    double xres = 0;
    int unit = 1;
    HeaderResolution(xres, unit);
    int w = 0, h = 0;
    if (Get_Image_Dimension(headerPath_.c_str(), &w, &h)) w = h = 1;
    ToUprightSize(orientation_, w, h);
    ShowInputResolution(w, h, xres, unit);
    SetControlText(kInWidth, Format("%d", w));
    SetControlText(kInHeight, Format("%d", h));
    if (PixelMode()) {
        WidthEdited();
    } else {
        double p = TextToDouble(Text(kScale));
        if (!(p > 0)) p = 100;
        SetControlText(kOutWidth, Format("%d", TruncInt(p * 0.01 * w)));
        RecalcOutputSize();
    }
    ShowOutputName(index, path);
    if (PixelMode()) {
        if (!(TextToDouble(Text(kScale)) > 0)) SetControlText(kScale, "100.00");
    } else {
        RecalcOutputSize();
    }
    aspect_ = UprightAspect();
    if (Checked(kPreviewImage)) {
        view_.PreviewHide();
        view_.PreviewReleaseImage();
        view_.PreviewShowFocused();
    }
    ShowUncompressedSize();
    return true;
}

// Input resolution values from a header's resolution and unit. Unit 3 is
// per centimetre: a tenth of it is lines per mm.
void ScaleDialogModel::SetInputResolution(double xres, int unit) {
    if (!(xres > 0)) unit = 1;
    if (unit == 2) {
        inDpi_ = xres;
        inLpmm_ = xres * kInchPerMm;
    } else if (unit == 3) {
        inLpmm_ = xres / 10.0;
        inDpi_ = inLpmm_ * kMmPerInch;
    } else {
        inDpi_ = inLpmm_ = 0;
    }
}

void ScaleDialogModel::ShowInputResolution(int width, int height, double xres, int unit) {
    SetInputResolution(xres, unit);
    if (!(xres > 0)) unit = 1;
    if (unit == 2) {
        SetControlText(kInResLabel, "Res dpi");
        SetControlText(kInRes, Format("%8.3f", inDpi_));
        FillOutputResolution();
        SetControlText(kInSizeLabel, "Image Size inches");
        SetControlText(kInSizeX, Format("%8.3f", width / inDpi_));
        SetControlText(kInSizeY, Format("%8.3f", height / inDpi_));
    } else if (unit == 3) {
        SetControlText(kInResLabel, "Res lpmm");
        // The output field follows its label into lines per mm.
        const bool wasDpi = Contains(Text(kOutResLabel), "dpi");
        SetControlText(kOutResLabel, "Res lpmm");
        if (wasDpi && !Text(kOutRes).empty())
            SetControlText(kOutRes, Format("%8.3f", TextToDouble(Text(kOutRes)) * kInchPerMm));
        SetControlText(kInRes, Format("%6.2f", inLpmm_));
        outLpmm_ = inLpmm_;
        outDpi_ = inDpi_;
        FillOutputResolution();
        SetControlText(kInSizeLabel, "Image Size mm");
        SetControlText(kInSizeX, Format("%8.3f", width / inLpmm_));
        SetControlText(kInSizeY, Format("%8.3f", height / inLpmm_));
    } else {
        SetControlText(kInResLabel, "Res NONE");
        SetControlText(kInRes, "");
        SetControlText(kInSizeLabel, "??");
        // Without a resolution there is no print size: none of the last file's.
        SetControlText(kInSizeX, "");
        SetControlText(kInSizeY, "");
    }
}

// An empty output resolution takes the input's, in the output field's unit.
void ScaleDialogModel::FillOutputResolution() {
    if (!Text(kOutRes).empty()) return;
    const bool lpmm = Contains(Text(kOutResLabel), "lpmm");
    SetControlText(kOutRes, Format("%8.3f", lpmm ? inLpmm_ : inDpi_));
}

void ScaleDialogModel::RecalcOutputSize() {
    const int w = TextToInt(Text(kInWidth));
    const int h = TextToInt(Text(kInHeight));
    if (w == 0) return;
    if (!PixelMode()) {
        double f = TextToDouble(Text(kScale)) * 0.01;
        if (!(f > 0)) {
            SetControlText(kScale, "100.00");
            f = 1.0;
        }
        const int width = TruncInt(f * w + 0.5);
        SetControlText(kOutWidth, Format("%d", width));
        SetControlText(kOutHeight, Format("%d", TruncInt(double(width) * h / w + 0.5)));
    } else if (Checked(kFit)) {
        const int n = TextToInt(Text(kFitSize));
        const double r = double(w) / h;
        if (r >= 1) {
            SetControlText(kOutWidth, Format("%d", n));
            SetControlText(kScale, Format("%d", n));
            SetControlText(kOutHeight, Format("%d", TruncInt(double(n) * h / w)));
        } else {
            const int width = TruncInt(n * r);
            SetControlText(kOutHeight, Format("%d", n));
            SetControlText(kOutWidth, Format("%d", width));
            SetControlText(kScale, Format("%d", width));
        }
    } else {
        const int width = TextToInt(Text(kOutWidth));
        SetControlText(kScale, Format("%d", width));
        SetControlText(kOutHeight, Format("%d", TruncInt(double(h) * width / w)));
    }
    RecalcPhysicalSize();
}

void ScaleDialogModel::RecalcPhysicalSize() {
    const double w = TextToDouble(Text(kOutWidth));
    const double h = TextToDouble(Text(kOutHeight));
    const double r = TextToDouble(Text(kOutRes));
    if (r != 0) {
        if (Contains(Text(kOutResLabel), "lpmm")) {
            outLpmm_ = r;
            outDpi_ = -1.0;
        } else {
            outDpi_ = r;
            outLpmm_ = -1.0;
        }
        SetControlText(kOutSizeX, Format("%.2f", w / r));
        SetControlText(kOutSizeY, Format("%.2f", h / r));
    } else {
        SetControlText(kOutSizeX, "??");
        SetControlText(kOutSizeY, "??");
    }
}

void ScaleDialogModel::ShowUncompressedSize() {
    const int width = TextToInt(Text(kOutWidth)), height = TextToInt(Text(kOutHeight));
    // A size the library refuses has no byte count worth showing.
    if (BeyondPixelLimit(width, height)) {
        SetControlText(kUncompressedSize, " too large");
        return;
    }
    // In 64 bits: a large image's byte count passes what 32 bits hold.
    const int64_t b = int64_t{width} * height * header_.Samples;
    if (b < 1048576)
        SetControlText(kUncompressedSize, Format(" %d Kb", TruncInt(b / 1024.0 + 0.5)));
    else
        SetControlText(kUncompressedSize, Format(" %d Mb", TruncInt(b / 1048576.0 + 0.5)));
}

// ---- Size, unit and format fields ----------------------------------------------------

void ScaleDialogModel::ScaleModeClicked() {
    if (Checked(kScaleMode)) {
        SetControlText(kScaleMode, "Scale Image pixels :");
        if (!(TextToInt(Text(kOutWidth)) > 0)) SetControlText(kOutWidth, Text(kInWidth));
        SetControlText(kScale, Text(kOutWidth));
    } else {
        SetControlText(kScaleMode, "Scale Image  % :");
        if (TextToInt(Text(kOutWidth)) == 0) return;
        SetControlText(kScale, Format("%8.3f", TextToDouble(Text(kOutWidth)) /
                                                   TextToDouble(Text(kInWidth)) * 100));
    }
    RecalcOutputSize();
}

void ScaleDialogModel::ToggleInputUnit() {
    double xres = 0;
    int unit = 1;
    HeaderResolution(xres, unit);
    SetInputResolution(xres, unit);
    const double w = TextToDouble(Text(kInWidth));
    const double h = TextToDouble(Text(kInHeight));
    const bool toMm = Contains(Text(kInResLabel), "dpi");
    const double res = toMm ? inLpmm_ : inDpi_;
    SetControlText(kInRes, Format("%8.3f", res));
    SetControlText(kInResLabel, toMm ? "Res lpmm" : "Res dpi");
    SetControlText(kInSizeX, res != 0 ? Format("%8.3f", w / res) : "");
    SetControlText(kInSizeY, res != 0 ? Format("%8.3f", h / res) : "");
    SetControlText(kInSizeLabel, toMm ? "Image Size mm" : "Image Size inches");
}

void ScaleDialogModel::ToggleOutputUnit() {
    const double r = TextToDouble(Text(kOutRes));
    if (Contains(Text(kOutResLabel), "dpi")) {
        SetControlText(kOutResLabel, "Res lpmm");
        outDpi_ = r;
        if (!(outLpmm_ > 0)) outLpmm_ = r * kInchPerMm;
        SetControlText(kOutRes, Format("%8.3f", outLpmm_));
        SetControlText(kOutSizeLabel, "Image Size mm");
    } else {
        SetControlText(kOutResLabel, "Res dpi");
        outLpmm_ = r;
        if (!(outDpi_ > 0)) outDpi_ = r * kMmPerInch;
        SetControlText(kOutRes, Format("%.2f", outDpi_));
        SetControlText(kOutSizeLabel, "Image Size inches");
    }
    RecalcPhysicalSize();
}

int ScaleDialogModel::FormatSpin(int delta) {
    // Steps from the format shown, which fit mode may have set.
    for (int k = 0; k < kFormatCount; ++k)
        if (Text(kFormat) == kFormatNames[k]) formatIndex_ = k;
    formatIndex_ = ((formatIndex_ - delta) % kFormatCount + kFormatCount) % kFormatCount;
    ShowFormat(formatIndex_);
    FixOutputExtension();
    return formatIndex_;
}

void ScaleDialogModel::ShowFormat(int index) {
    const char letter = kFormatNames[index][0];
    const bool quality = letter == 'J' || letter == 'W';  // WebP's 100 is lossless
    SetControlText(kFormat, kFormatNames[index]);
    SetVisible(kLzw, letter == 'T');
    SetVisible(kLimitMemory, letter == 'T');
    SetEnabled(kKeepMetadata, letter != 'B');  // BMP files carry none
    SetVisible(kQuality, quality);
    SetVisible(kQualityLabel, quality);
    if (quality) OutputQuality();
}

// The name of a listed file is made afresh by the run's rule, so that it
// is the name the run writes; other names only change their extension.
void ScaleDialogModel::FixOutputExtension() {
    const std::string& name = Text(kOutputName);
    if (!name.empty() && platform::IsSeparator(name.back())) return;
    const char letter = Text(kFormat).empty() ? 'T' : Text(kFormat)[0];
    if (!nameFile_.empty()) {
        SetControlText(kOutputName, RunOutputName(Destination(), namePosition_, nameFile_, letter));
        return;
    }
    SetControlText(kOutputName, MakeUniqueName(ReplaceExtension(name, FormatExtension(letter))));
}

void ScaleDialogModel::ShowOutputName(int position, const std::string& source) {
    namePosition_ = position;
    nameFile_ = FileNamePart(source);
    SetControlText(kOutputName, OutputNameFor(Destination(), position, nameFile_));
    FixOutputExtension();
}

void ScaleDialogModel::WidthEdited() {
    SetChecked(kScaleMode, true);
    ScaleModeClicked();
    RecalcPhysicalSize();
    ShowUncompressedSize();
}

void ScaleDialogModel::HeightEdited() {
    const int w = TextToInt(Text(kInWidth));
    const int h = TextToInt(Text(kInHeight));
    if (h == 0) return;
    const double f = TextToDouble(Text(kOutHeight)) / h;
    if (PixelMode())
        SetControlText(kOutWidth, Format("%d", TruncInt(w * f)));
    else
        SetControlText(kScale, Format("%.2f", f * 100));
    RecalcOutputSize();
}

void ScaleDialogModel::SizeXEdited() {
    const double x = TextToDouble(Text(kOutSizeX));
    const double r = TextToDouble(Text(kOutRes));
    const int w = TextToInt(Text(kInWidth));
    if (aspect_ != 0) SetControlText(kOutSizeY, Format("%8.2f", x / aspect_));
    const int width = TruncInt(r * x + 0.5);
    if (PixelMode())
        SetControlText(kOutWidth, Format("%d", width));
    else if (w != 0)
        SetControlText(kScale, Format("%8.3f", double(width) / w * 100));
    RecalcOutputSize();
}

void ScaleDialogModel::SizeYEdited() {
    const double y = TextToDouble(Text(kOutSizeY));
    const double r = TextToDouble(Text(kOutRes));
    SetControlText(kOutHeight, Format("%d", TruncInt(r * y + 0.5)));
    HeightEdited();
}

void ScaleDialogModel::ScaleEdited() {
    if (PixelMode()) {
        SetControlText(kOutWidth, TextToDouble(Text(kScale)) < 1 ? Text(kInWidth) : Text(kScale));
    } else {
        double f = TextToDouble(Text(kScale)) * 0.01;
        if (!(f > 0)) {
            f = 1.0;
            SetControlText(kScale, "100.00");
        }
        SetControlText(kOutWidth, Format("%d", TruncInt(TextToInt(Text(kInWidth)) * f)));
    }
    RecalcOutputSize();
    ShowUncompressedSize();
}

// ---- List and windows ----------------------------------------------------------------

void ScaleDialogModel::RemoveFromList() {
    const int sel = list_.Selected();
    if (sel < 0 || running_) return;
    if (Checked(kRemoveAll)) {
        const std::string keep = list_.Text(sel);
        list_.Clear();
        list_.Add(keep);
        list_.Select(0);
    } else {
        const std::string path = JoinPath(sourceFolder_, list_.Text(sel));
        cache_.Remove(cache_.IndexOf(path));
        if (currentImage_ == path) currentImage_.clear();
        list_.Delete(sel);
        SetVisible(kRemoveFromList, false);
        list_.Select(std::min(sel, list_.Count() - 1));
    }
    ListChanged();
    RefreshSelection();
    RefreshThumbnails();
    if (view_.PreviewVisible()) view_.PreviewShowFocused();
}

void ScaleDialogModel::PreviewImageClicked() {
    if (Checked(kPreviewImage)) {
        RefreshSelection();
        view_.PreviewShowFocused();
    } else {
        if (view_.PreviewVisible()) view_.PreviewHide();
        RefreshThumbnails();
    }
}

void ScaleDialogModel::SelectDestination() {
    const bool previewShown = view_.PreviewVisible();
    if (previewShown) view_.PreviewHide();
    std::string folder = destination_;
    if (view_.ChooseFolder(folder)) destination_ = folder;
    RefreshSelection();
    if (previewShown) view_.PreviewShowFocused();
}

void ScaleDialogModel::RefreshThumbnails() {
    if (Checked(kPreviewThumbnails) && list_.Selected() >= 0)
        view_.ThumbnailsShowAround(list_.Selected());
    else if (!Checked(kPreviewThumbnails))
        view_.ThumbnailsHide();
}

void ScaleDialogModel::RefreshSelection() {
    closeGuard_ = 0;
    SetWait(true);
    currentImage_.clear();
    view_.PreviewReleaseImage();
    const int i = list_.Selected();
    if (i < 0) {
        SetVisible(kRemoveFromList, false);
        view_.PreviewHide();
        SetWait(false);
        return;
    }
    SetVisible(kRemoveFromList, true);
    const std::string path = ResolveRawImage(SourcePath(list_.Text(i)));
    SetControlText(kWorkPath, path);
    if (!ShowImageInfo(i, path)) {
        // During a run the entry stays, so the run reaches it and says why
        // it fails; removed, a later file would lose its place unreported.
        if (!running_) list_.Delete(i);
        ListChanged();
        SetWait(false);
        return;
    }
    const int top = list_.Top();
    if (i - top > 6) list_.SetTop(top + 1);
    if (i - top < 1) list_.SetTop(top - 1);
    ListChanged();
    view_.PreviewResetView();
    ApplyFitMode(true);
    SetWait(false);
    if (Checked(kPreviewImage)) {
        view_.ListTakeFocus();
        if (currentImage_.empty()) RequestSelectionLoad(path);
        view_.PreviewRepaint();
        view_.PreviewShowFocused();
    }
    RecalcOutputSize();
    view_.ThumbnailsSelect(i);
    RefreshThumbnails();
}

void ScaleDialogModel::ApplyFitMode(bool reapply) {
    static constexpr int kSizeFields[] = {kOutSizeX, kOutSizeY, kOutWidth, kOutHeight, kScale};
    if (headerPath_.empty()) {
        SetChecked(kFit, false);
        return;
    }
    if (!Checked(kFit)) {
        for (int id : kSizeFields) SetEnabled(id, true);
        return;
    }
    aspect_ = UprightAspect();
    if (aspect_ == 0) {
        SetChecked(kFit, false);
        return;
    }
    if (!reapply) {
        SetControlText(kFormat, "JPEG");
        SetVisible(kLzw, false);
        SetEnabled(kKeepMetadata, true);
        SetVisible(kQuality, true);
        SetVisible(kQualityLabel, true);
    }
    if (nameFile_.empty()) {
        std::string name = Text(kOutputName);
        if (!FileNamePart(name).empty())
            name = ReplaceExtension(name, "jpg");
        else if (list_.Selected() >= 0)
            name += list_.Text(list_.Selected());
        else
            name = Destination();
        SetControlText(kOutputName, MakeUniqueName(name));
    }
    FixOutputExtension();
    SetVisible(kLimitMemory, false);
    SetChecked(kScaleMode, true);
    ScaleModeClicked();
    RecalcOutputSize();
    for (int id : kSizeFields) SetEnabled(id, false);
}

// ---- Paths ------------------------------------------------------------------------------

std::string ScaleDialogModel::ItemPath(int i) const {
    if (i < 0 || i >= list_.Count()) return "";
    return SourcePath(list_.Text(i));
}

std::string ScaleDialogModel::SourcePath(const std::string& itemText) const {
    return JoinPath(sourceFolder_, FileNamePart(itemText));
}

std::string ScaleDialogModel::DisplayNameFor(const std::string& name) const {
    const std::string path = JoinPath(sourceFolder_, name);
    if (Get_File_Type(path.c_str()) != IMG_TYPE_RAW) return name;
    const std::string sibling = ReplaceExtension(path, "tif");
    return platform::FileExists(sibling) ? FileNamePart(sibling) : name;
}

std::string ScaleDialogModel::ResolveRawImage(const std::string& path) const {
    if (Get_File_Type(path.c_str()) != IMG_TYPE_RAW) return path;
    if (processorPath_.empty()) return "";
    const std::string tif = ReplaceExtension(path, "tif");
    if (platform::FileExists(tif)) return tif;
    platform::RunAndWait(processorPath_, {path, path});
    return platform::FileExists(tif) ? tif : "";
}

}  // namespace tolvane
