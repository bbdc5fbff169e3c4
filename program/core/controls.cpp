#include "controls.h"

#include "naming.h"

#include <algorithm>

namespace tolvane {

std::map<int, Control> InitialControls() {
    std::map<int, Control> c;
    const std::pair<int, const char*> texts[] = {
        {kSelectImage, "Select Image"},
        {kInResLabel, "Img Res dpi :"},
        {kInSizeLabel, "Image Size inches"},
        {kRemoveFromList, "Remove from List"},
        {kRemoveAll, "Remove All"},
        {kPreviewImage, "Preview Image"},
        {kPreviewThumbnails, "PreviewThumbnails"},
        {kFormat, "TIFF"},
        {kLzw, "LZW Compress"},
        {kQualityLabel, "Quality ( 1 to 100 )"},
        {kQuality, "75"},
        {kLimitMemory, "Limit  Memory Usage"},
        {kKeepMetadata, "Keep Metadata"},
        {kSmoothResizing, "Smooth Resizing"},
        {kDone, "DONE"},
        {kSelectDestination, "Select Destination Path"},
        {kScaleMode, "Scale Image  % :"},
        {kScale, "100.00"},
        {kOutResLabel, "Res   dpi :"},
        {kFit, "Fit Image to "},
        {kFitSize, "300"},
        {kOutSizeLabel, "Image Size inches :"},
        {kProcessAll, "Process All Files in the List"},
        {kVersion, "Version"},
        {kCancel, "Cancel"},
        {kOk, "OK"},
    };
    for (const auto& [id, text] : texts) c[id].text = text;
    for (int id : {kOutWidth, kOutHeight, kOutRes, kOutUnitSpin, kOutSizeX, kOutSizeY, kWorkPath,
                   kOutputName, kInWidth, kInRes, kInUnitSpin, kInHeight, kInSizeX, kInSizeY,
                   kUncompressedSize, kProgress, kFormatSpin, kFileList})
        c[id];
    for (int id : {kWorkPath, kDone, kOk, kQuality, kQualityLabel, kRemoveFromList})
        c[id].visible = false;
    c[kKeepMetadata].checked = true;
    c[kSmoothResizing].checked = true;
    return c;
}

int FileList::Add(const std::string& name) {
    const auto at = std::upper_bound(items_.begin(), items_.end(), name, ListBoxLess);
    const int position = static_cast<int>(at - items_.begin());
    items_.insert(at, name);
    if (selected_ >= position) ++selected_;
    return position;
}

void FileList::Delete(int i) {
    if (i < 0 || i >= Count()) return;
    items_.erase(items_.begin() + i);
    if (selected_ == i) selected_ = -1;
    else if (selected_ > i) --selected_;
    SetTop(top_);
}

void FileList::Clear() {
    items_.clear();
    selected_ = -1;
    top_ = 0;
}

void FileList::SetTop(int t) { top_ = std::clamp(t, 0, std::max(0, Count() - 1)); }

}  // namespace tolvane
