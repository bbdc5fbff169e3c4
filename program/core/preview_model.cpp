#include "preview_model.h"

#include "app_settings.h"
#include "naming.h"
#include "platform.h"
#include "resizing.h"
#include "text.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace tolvane {

namespace {

bool Contains(const CRect& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

void SetFileName(ImgClass& img, const std::string& name) {
    char* field = img.ImgStruct.FileName;
    const size_t n = std::min(name.size(), sizeof img.ImgStruct.FileName - 1);
    std::memcpy(field, name.data(), n);
    field[n] = '\0';
}

std::vector<char> Writable(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return buffer;
}

// The grey of the checkerboard under transparent pixels at (x, y).
uint8_t CheckerGrey(int x, int y) {
    return ((x / kCheckerSquare + y / kCheckerSquare) & 1) ? kCheckerDark : kCheckerLight;
}

uint8_t Over(uint8_t colour, uint8_t alpha, uint8_t under) {
    return uint8_t((colour * alpha + under * (255 - alpha) + 127) / 255);
}

// Row y of the picture in B,G,R; colour rows (3 samples) arrive as B,G,R
// already, rows with alpha in the order bgr says.
void CopyRow(const unsigned char* from, uint8_t* to, int width, int samples, bool bgr, int y) {
    if (samples == 3) {
        std::memcpy(to, from, size_t(width) * 3);
        return;
    }
    for (int x = 0; x < width; ++x, from += samples, to += 3) {
        if (samples == 1) {
            to[0] = to[1] = to[2] = from[0];
            continue;
        }
        const uint8_t under = CheckerGrey(x, y), alpha = from[samples - 1];
        if (samples == 2) {
            to[0] = to[1] = to[2] = Over(from[0], alpha, under);
            continue;
        }
        to[0] = Over(from[bgr ? 0 : 2], alpha, under);
        to[1] = Over(from[1], alpha, under);
        to[2] = Over(from[bgr ? 2 : 0], alpha, under);
    }
}

// The dialog's wait cursor for one scope.
class WaitCursor {
public:
    explicit WaitCursor(ScaleDialogModel& dialog) : dialog_(dialog) { dialog_.SetWaitCursor(true); }
    ~WaitCursor() { dialog_.SetWaitCursor(false); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    ScaleDialogModel& dialog_;
};

}  // namespace

bool BuildBitmap(ImgClass& img, Bitmap& out, bool zoomed) {
    if (!out.Empty()) return false;
    const ImgStruct& s = img.ImgStruct;
    const int samples = s.Samples;
    // Sizes a row index or stride cannot hold are refused with the odd layouts.
    if (!s.ImgData || s.Width == 0 || s.Height == 0 || s.Width > (1u << 28) || s.Height > (1u << 28) ||
        samples < 1 || samples > 4 || s.LineSize < s.Width * uint32_t(samples))
        return false;
    if (samples == 3 && !s.BgrOrder) Swap_RGB(&img);
    out.width = int(s.Width);
    out.height = int(s.Height);
    out.stride = (out.width * 3 + 3) & ~3;
    out.bytes.assign(size_t(out.stride) * size_t(out.height), 0);
    // The zoom leaves its last line unset, so it is not shown.
    const int rows = zoomed ? out.height - 1 : out.height;
    for (int y = 0; y < rows; ++y)
        CopyRow(s.ImgData + size_t(y) * s.LineSize, out.bytes.data() + size_t(y) * size_t(out.stride),
                out.width, samples, s.BgrOrder != 0, y);
    if (zoomed) out.bytes[0] = out.bytes[1] = out.bytes[2] = 192;
    return true;
}

PreviewModel::PreviewModel(ScaleDialogModel& dialog) : dialog_(dialog) { dialog_.InstallProgress(); }

// ---- Geometry ------------------------------------------------------------------

CRect PreviewModel::FitIntoFrame(const CRect& frame, int w, int h) {
    if (w <= 0 || h <= 0 || frame.IsRectEmpty()) return CRect{};
    const int fw = frame.Width(), fh = frame.Height();
    const double s = std::min(double(fw) / w, double(fh) / h);
    const int hw = int(std::trunc(s * w)) / 2;
    const int hh = int(std::trunc(s * h)) / 2;
    const int cx = frame.left + fw / 2, cy = frame.top + fh / 2;
    return CRect{cx - hw, cy - hh, cx + hw, cy + hh};
}

CRect PreviewModel::Displayed() const {
    const CRect c = crop_.IsRectEmpty() ? WholeImage() : crop_;
    return FitIntoFrame(frame_, c.Width(), c.Height());
}

std::string PreviewModel::ThumbnailPath() const {
    return dialog_.HeaderPath().empty() ? "" : ReplaceExtension(dialog_.HeaderPath(), "tnl");
}

// The image's size and the scale that fits it into the frame: from the
// record's pixels, else from the dialog's header.
bool PreviewModel::Measure(ImgClass* record) {
    if (record && record->ImgStruct.ImgData) {
        imageWidth_ = int(record->ImgStruct.Width);
        imageHeight_ = int(record->ImgStruct.Height);
    } else {
        imageWidth_ = dialog_.Header().Width;
        imageHeight_ = dialog_.Header().Height;
    }
    if (imageWidth_ <= 0 || imageHeight_ <= 0 || frame_.IsRectEmpty()) {
        imageWidth_ = imageHeight_ = 0;
        scale_ = 0;
        return false;
    }
    scale_ = std::min(double(frame_.Height()) / imageHeight_, double(frame_.Width()) / imageWidth_);
    return true;
}

// ---- The image records ------------------------------------------------------------

ImgClass* PreviewModel::CurrentRecord() {
    const std::string& name = dialog_.CurrentImage();
    return name.empty() ? nullptr : dialog_.Cache().Find(name);
}

// The record of the header's image, read now unless memory is limited.
ImgClass* PreviewModel::SourceRecord() {
    const std::string path = dialog_.Header().FileName;
    return path.empty() ? nullptr : dialog_.LoadNow(path);
}

// The thumbnail window reads other images' headers into the library's
// current header, which the thumbnail maker and the by-name zoom rely on.
bool PreviewModel::SelectHeader() {
    IMAGE_HDR record{};
    return !dialog_.HeaderPath().empty() && !Read_Hdr(dialog_.HeaderPath().c_str(), &record);
}

void PreviewModel::ResetProgress() { ScaleDialogModel::ProgressCallback(0, 0); }

// ---- The whole-image view ---------------------------------------------------------------

int PreviewModel::DisplayWidth(double aspect, bool rounded) const {
    if (aspect > 1) return int(std::trunc(imageWidth_ * scale_ + (rounded ? 0.5 : 0.0)));
    return int(std::trunc(aspect * frame_.Height()));
}

bool PreviewModel::MakeDisplayImage(double aspect) {
    ImgClass* source = SourceRecord();
    if (source && source->ImgStruct.ImgData) {
        SubsampleLocalImage(source, &display_, DisplayWidth(aspect, true), -1);
        if (display_.ImgStruct.ImgData) return true;
        display_.FreeData();
        return false;
    }
    if (!SelectHeader()) return false;
    const int samples = dialog_.Header().Samples;
    if (HasAlpha(samples)) return SampleFromFile(DisplayWidth(aspect, false));
    std::vector<char> header = Writable(dialog_.HeaderPath());
    std::vector<char> thumbnail = Writable(ThumbnailPath());
    return !Make_Local_Tnl(kThumbnailQuality, DisplayWidth(aspect, false), header.data(),
                           thumbnail.data());
}

// The display image of a picture with transparency whose pixels are not
// held: read once and point-sampled, as a thumbnail file would be a JPEG,
// which lays the transparency on white.
bool PreviewModel::SampleFromFile(int width) {
    ImgClass whole;
    SetFileName(whole, dialog_.Header().FileName);
    const bool failed = ReadImageForSize(false, &whole, width, -1, nullptr);
    ResetProgress();
    if (failed) return false;
    SubsampleLocalImage(&whole, &display_, width, -1);
    return display_.ImgStruct.ImgData != nullptr;
}

void PreviewModel::PrepareWholeView() {
    const int selected = dialog_.List().Selected();
    if (selected < 0) return;
    const std::string path = dialog_.ItemPath(selected);
    SetFileName(display_, path);
    if (display_.ImgStruct.ImgData) return;
    ImgClass* record = CurrentRecord();
    if (!record) return;
    WaitCursor wait(dialog_);
    const bool held = record->ImgStruct.ImgData != nullptr;
    const double aspect = held ? double(record->ImgStruct.Width) / record->ImgStruct.Height
                               : Get_Aspect(dialog_.HeaderPath().c_str());
    if (!Measure(record)) return;
    const std::string thumbnail = ThumbnailPath();
    if (!platform::FileExists(thumbnail) && !MakeDisplayImage(aspect)) return;
    if (!display_.ImgStruct.ImgData) {
        SetFileName(display_, thumbnail);
        if (ReadImage(false, &display_)) {
            display_.FreeData();
            return;
        }
        ResetProgress();
    }
    caption_ = Format("%s  %s X=%d [ pixels ] Y=%d [ lines ]", "Preview", path.c_str(), imageWidth_,
                      imageHeight_);
    BuildBitmap(display_, wholeBitmap_, false);
}

PreviewPicture PreviewModel::Paint() {
    PreviewPicture picture;
    if (sizing_ || positioning_) return picture;
    picture.paint = true;
    picture.frame = frame_;
    picture.fill = kFrameFill;
    if (zoomBitmap_.Empty() && zoomImage_.ImgStruct.ImgData) BuildBitmap(zoomImage_, zoomBitmap_, true);
    if (zoomBitmap_.Empty()) {
        PrepareWholeView();
        BuildBitmap(display_, wholeBitmap_, false);
    }
    if (!Measure(CurrentRecord())) return picture;
    picture.bitmap = !zoomBitmap_.Empty() ? &zoomBitmap_ : !wholeBitmap_.Empty() ? &wholeBitmap_ : nullptr;
    const int w = int(std::trunc(imageWidth_ * scale_));
    const int h = int(std::trunc(imageHeight_ * scale_));
    const int left = frame_.left + (frame_.Width() - w) / 2;
    const int top = frame_.top + (frame_.Height() - h) / 2;
    picture.target = CRect{left, top, left + w, top + h};
    return picture;
}

// ---- Zoom ------------------------------------------------------------------------------

void PreviewModel::StartFromWholeImage() {
    crop_ = WholeImage();
    zoom_ = kZoomStep;
}

const char* PreviewModel::CallZoom(ImgClass* record, const CRect& shown, int x, int y, double m,
                                   int quality) {
    const int px = x - shown.left, py = y - shown.top;
    CRect rect = crop_;
    if (record->ImgStruct.ImgData)
        return ZoomImageLocal(px, py, shown.Width(), shown.Height(), &rect, m, quality, record,
                              &zoomImage_);
    if (!SelectHeader()) return "";
    std::vector<char> name = Writable(FileNamePart(dialog_.HeaderPath()));
    return ZoomImageLocal(px, py, shown.Width(), shown.Height(), &rect, m, quality, name.data());
}

PreviewModel::ZoomOutcome PreviewModel::ZoomOnce(const CRect& shown, int x, int y, double m,
                                                 int quality) {
    Reset_TarnDb();
    zoomImage_.FreeData();
    ImgClass* record = SourceRecord();
    if (!record) return ZoomOutcome::NoImage;
    const std::string result = CallZoom(record, shown, x, y, m, quality);
    if (result.empty()) return ZoomOutcome::Empty;
    lastResult_ = result;
    GetCropRect(&crop_);
    zoom_ *= kZoomStep;
    SetFileName(zoomImage_, result);
    if (!zoomImage_.ImgStruct.ImgData && ReadImage(false, &zoomImage_)) {
        zoomImage_.FreeData();
        return ZoomOutcome::NoImage;
    }
    ResetProgress();
    zoomInFailed_ = false;
    zoomBitmap_.Clear();
    return ZoomOutcome::Zoomed;
}

PreviewReply PreviewModel::ZoomIn(int x, int y) {
    if (!Measure(CurrentRecord())) return PreviewReply::Nothing;
    if (crop_.IsRectEmpty()) StartFromWholeImage();
    const CRect shown = Displayed();
    if (!Contains(shown, x, y)) {
        crop_ = CRect{};
        zoomBitmap_.Clear();
        zoomImage_.FreeData();
        return PreviewReply::Repaint;
    }
    if (zoom_ < kZoomStep) zoom_ = kZoomStep;
    switch (ZoomOnce(shown, x, y, kZoomStep, kZoomInQuality)) {
    case ZoomOutcome::Zoomed: return PreviewReply::Repaint;
    case ZoomOutcome::Empty: return ZoomInFailedOnce();
    case ZoomOutcome::NoImage: break;
    }
    crop_ = CRect{};
    zoomBitmap_.Clear();
    return PreviewReply::Repaint;
}

// A zoom that fails once leaves the view as it was; twice in a row it goes
// back to the whole image.
PreviewReply PreviewModel::ZoomInFailedOnce() {
    if (!zoomInFailed_) {
        zoomInFailed_ = true;
        return PreviewReply::Nothing;
    }
    ClearZoom();
    return PreviewReply::Repaint;
}

PreviewReply PreviewModel::ZoomOut(int x, int y) {
    const bool empty = crop_.IsRectEmpty();
    if (empty && rightClickEmpty_) return PreviewReply::Nothing;
    rightClickEmpty_ = empty;
    zoomBitmap_.Clear();
    zoomInFailed_ = false;
    WaitCursor wait(dialog_);
    if (!Measure(CurrentRecord())) return PreviewReply::Repaint;
    if (empty) StartFromWholeImage();
    const CRect shown = Displayed();
    if (!Contains(shown, x, y)) crop_ = CRect{};
    if (zoom_ >= kZoomStep) {
        if (ZoomOnce(shown, x, y, -kZoomStep, kZoomOutQuality) != ZoomOutcome::Zoomed) {
            lastResult_.clear();
            crop_ = CRect{};
        }
    } else {
        ClearZoom();
    }
    return PreviewReply::Repaint;
}

void PreviewModel::ClearZoom() {
    zoomBitmap_.Clear();
    zoomImage_.FreeData();
    crop_ = CRect{};
    zoom_ = 0;
    zoomInFailed_ = false;
    lastResult_.clear();
}

// ---- Events -----------------------------------------------------------------------------

PreviewReply PreviewModel::LeftRelease(int x, int y) {
    // The release that ends a double-click is part of it, not a new zoom.
    if (std::exchange(afterDoubleClick_, false)) return PreviewReply::Nothing;
    if (sizing_ || positioning_) {
        const bool positioned = positioning_;
        sizing_ = positioning_ = false;
        if (positioned) dialog_.RefreshSelection();
        return PreviewReply::Repaint;
    }
    if (!Contains(frame_, x, y)) return PreviewReply::Nothing;
    WaitCursor wait(dialog_);
    return ZoomIn(x, y);
}

PreviewReply PreviewModel::RightRelease(int x, int y) {
    if (!Contains(frame_, x, y)) return PreviewReply::Nothing;
    return ZoomOut(x, y);
}

// The crop goes with the zoom, so the next click zooms from the picture shown.
PreviewReply PreviewModel::DoubleClick() {
    ClearZoom();
    afterDoubleClick_ = true;
    return PreviewReply::Repaint;
}

PreviewReply PreviewModel::Wheel() {
    ClearZoom();
    return PreviewReply::HideWindow;
}

PreviewReply PreviewModel::Hide() {
    ReleaseImage();
    zoomBitmap_.Clear();
    zoom_ = 0;
    // Unticking "Preview Image" also brings the thumbnail window into step.
    if (dialog_.Get(kPreviewImage).checked) dialog_.Click(kPreviewImage);
    return PreviewReply::HideWindow;
}

PreviewReply PreviewModel::Enter() {
    ReleaseImage();
    return PreviewReply::HideWindow;
}

PreviewReply PreviewModel::Step(int delta) {
    const int selected = dialog_.List().Selected();
    const int target = selected + delta;
    if (selected < 0 || target < 0 || target >= dialog_.List().Count()) return PreviewReply::Nothing;
    dialog_.SelectListItem(target);
    return PreviewReply::Repaint;
}

PreviewReply PreviewModel::Next() { return Step(1); }
PreviewReply PreviewModel::Previous() { return Step(-1); }

PreviewReply PreviewModel::RemoveFromList() {
    dialog_.Click(kRemoveFromList);
    return PreviewReply::Repaint;
}

// ---- Sizing ------------------------------------------------------------------------------

PreviewReply PreviewModel::SizeChanged() {
    if (!sizeSeen_) {
        sizeSeen_ = true;
        return PreviewReply::Nothing;
    }
    sizing_ = true;
    wholeBitmap_.Clear();
    zoomBitmap_.Clear();
    // The preview thumbnail has the old frame's size.
    const std::string thumbnail = ThumbnailPath();
    if (!thumbnail.empty()) platform::RemoveFile(thumbnail);
    if (!dialog_.Get(kPreviewImage).checked)
        dialog_.Click(kPreviewImage);
    else
        dialog_.RefreshSelection();
    return PreviewReply::Nothing;
}

PreviewReply PreviewModel::SizingEnded() {
    if (!sizing_ && !positioning_) return PreviewReply::Nothing;
    wholeBitmap_.Clear();
    zoomBitmap_.Clear();
    lastResult_.clear();
    crop_ = CRect{};
    sizing_ = positioning_ = false;
    DeleteWorkingFiles(Get_Temp_Path(), ".tnl");
    dialog_.RefreshSelection();
    return PreviewReply::Repaint;
}

// ---- From the main dialog ------------------------------------------------------------------

void PreviewModel::ReleaseImage() {
    display_.FreeData();
    wholeBitmap_.Clear();
}

void PreviewModel::ResetView() {
    ReleaseImage();
    ClearZoom();
}

}  // namespace tolvane
