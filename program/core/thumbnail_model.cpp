#include "thumbnail_model.h"

#include "metadata.h"
#include "naming.h"
#include "platform.h"
#include "resizing.h"
#include "text.h"

#include <algorithm>
#include <cmath>

namespace tolvane {

namespace {

bool Contains(const CRect& r, int x, int y) {
    return x >= r.left && x < r.right && y >= r.top && y < r.bottom;
}

std::vector<char> Writable(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back('\0');
    return buffer;
}

// A thumbnail file made at another size (or an image of its own) is brought
// within the cell keeping its aspect ratio.
void FitIntoCell(ImgClass& img) {
    const double w = img.ImgStruct.Width, h = img.ImgStruct.Height;
    const double cell = ThumbnailModel::kCellSize;
    if (w <= cell && h <= cell) return;
    const double u = std::max(w / cell, h / cell);
    ImgClass small;
    SubsampleLocalImage(&img, &small, std::max(1, int(w / u)), std::max(1, int(h / u)));
    if (!small.ImgStruct.ImgData) return;
    img.FreeData();
    std::swap(img.ImgStruct, small.ImgStruct);
}

// The thumbnail file of a JPEG, as the library's thumbnail maker would make
// it (width `size`, the height that point sampling gives, quality), from the
// picture decoded reduced rather than whole: several times faster for a
// photo, and each cell pixel stands for its block instead of one pixel.
// A picture with transparency gets a PNG instead (read back by its
// signature whatever its name), so its cell shows the checkerboard under it
// rather than the white a JPEG would lay there.
bool MakeOwnThumbnail(const std::string& image, int width, int height, const std::string& file, int size,
                      int quality, bool alpha) {
    ImgClass src, thumb;
    if (image.size() >= sizeof src.ImgStruct.FileName || file.size() >= sizeof thumb.ImgStruct.FileName)
        return true;
    image.copy(src.ImgStruct.FileName, image.size());
    if (width <= 0 || size <= 0) return true;
    const int rows = int(height / (double(width) / size));
    if (rows <= 0 || ReadImageForSize(false, &src, size, rows, nullptr)) return true;
    SubsampleLocalImage(&src, &thumb, size, rows);
    if (!thumb.ImgStruct.ImgData) return true;
    file.copy(thumb.ImgStruct.FileName, file.size());
    return alpha ? WritePNG(1, &thumb) : WriteJPEG(quality, &thumb);  // level 1: a small file, made fast
}

}  // namespace

ThumbnailModel::ThumbnailModel(ScaleDialogModel& dialog)
    : dialog_(dialog), entries_(kMaxItems), flags_(kMaxItems, false) {}

void ThumbnailModel::SetClientRect(const CRect& client) {
    const int a = client.right;
    textArea_ = CRect{0, client.top, a - 176, client.bottom};
    leftStrip_ = CRect{a - 176, client.top, a - 156, client.bottom};
    thumbnailArea_ = CRect{a - 156, client.top, a - 70, client.bottom};
    rightStrip_ = CRect{a - 70, client.top, a - 50, client.bottom};
    cellX_ = a - 70;
}

// ---- The table ----------------------------------------------------------------

const ThumbnailEntry* ThumbnailModel::Find(const std::string& name) const {
    if (name.empty()) return nullptr;
    for (const ThumbnailEntry& e : entries_)
        if (e.name == name) return &e;
    return nullptr;
}

ThumbnailEntry* ThumbnailModel::FindOrTake(const std::string& name) {
    if (const ThumbnailEntry* found = Find(name)) return const_cast<ThumbnailEntry*>(found);
    for (ThumbnailEntry& e : entries_) {
        if (!e.name.empty()) continue;
        e = ThumbnailEntry{};
        e.name = name;
        return &e;
    }
    return nullptr;
}

void ThumbnailModel::Release(int index) {
    if (index >= 0 && index < kMaxItems) {
        entries_[size_t(index)] = ThumbnailEntry{};
        return;
    }
    for (ThumbnailEntry& e : entries_) e = ThumbnailEntry{};
}

void ThumbnailModel::Release(const std::string& name) {
    if (const ThumbnailEntry* e = Find(name)) *const_cast<ThumbnailEntry*>(e) = ThumbnailEntry{};
}

void ThumbnailModel::ClearFlags() { std::fill(flags_.begin(), flags_.end(), false); }

bool ThumbnailModel::SelectedFlag(int index) const {
    return index >= 0 && index < kMaxItems && flags_[size_t(index)];
}

void ThumbnailModel::Select(int index) {
    ClearFlags();
    if (active_ && index >= 0 && index < kMaxItems) flags_[size_t(index)] = true;
}

// A new list may reuse names from another folder: no picture may outlive it.
void ThumbnailModel::Forget() {
    cells_.clear();
    Release(-1);
    scrollPos_ = 0;
    lastScrolled_ = -1;
}

// ---- Loading -------------------------------------------------------------------

bool ThumbnailModel::Refresh() {
    active_ = dialog_.Get(kPreviewThumbnails).checked;
    if (!active_) return false;
    const int selected = dialog_.List().Selected();
    if (selected >= 0) {
        Load();
        ScrollTo(selected);
        Select(selected);
    }
    return true;
}

void ThumbnailModel::Load() {
    if (!active_) return;
    const int count = dialog_.List().Count();
    pageSize_ = thumbnailArea_.bottom / kCellSize;
    scrollMax_ = count;
    dialog_.SetWaitCursor(true);
    if (cells_.empty()) {
        for (int i = 0; i < std::min(count, kMaxItems); ++i)
            cells_.push_back(CRect{CellLeft(), i * kPitch, CellLeft() + kCellSize, i * kPitch + kCellSize});
    }
    if (entries_[0].bitmap.Empty()) {
        for (int i = 0; i < count; ++i) MakeThumbnail(i);
        // Making them read every file's header into the library's current
        // header; the selected image's is wanted there.
        IMAGE_HDR record{};
        if (!dialog_.HeaderPath().empty()) Read_Hdr(dialog_.HeaderPath().c_str(), &record);
        dialog_.ResetProgress();  // the thumbnails' reads filled the bar
    }
    dialog_.SetWaitCursor(false);
}

int ThumbnailModel::MakeThumbnail(int position) {
    if (position < 0 || position >= kMaxItems || position >= dialog_.List().Count()) return -1;
    const std::string path = dialog_.ItemPath(position);
    if (Get_File_Type(path.c_str()) == IMG_TYPE_RAW) return -1;
    ThumbnailEntry* entry = FindOrTake(dialog_.List().Text(position));
    if (!entry) return -1;
    if (!entry->bitmap.Empty()) return position;
    const std::string header = HeaderPathFor(Get_Temp_Path(), path);
    if (Make_Local_Header(path.c_str(), header.c_str())) return -1;
    const double aspect = Get_Aspect(header.c_str());
    Get_Image_Dimension(header.c_str(), &entry->width, &entry->height);
    const int storedWidth = entry->width, storedHeight = entry->height;
    // The thumbnail file keeps the stored rows; the cell shows them upright.
    const int orientation = ReadOrientation(path);
    ToUprightSize(orientation, entry->width, entry->height);
    const std::string file = ReplaceExtension(header, "tn0");
    if (!platform::FileExists(file)) {
        dialog_.SetWaitCursor(true);
        const int size = aspect >= 1 ? kCellSize : int(std::trunc(kCellSize * aspect));
        std::vector<char> h = Writable(header), t = Writable(file);
        IMAGE_HDR record{};
        const bool alpha = !Read_Hdr(header.c_str(), &record) && HasAlpha(record.Samples);
        const bool failed = Get_File_Type(path.c_str()) == IMG_TYPE_JPEG || alpha
                                ? MakeOwnThumbnail(path, storedWidth, storedHeight, file, size, kQuality, alpha)
                                : Make_Local_Tnl(kQuality, size, h.data(), t.data());
        if (failed) return -1;
    }
    ImgClass img;
    if (file.size() >= sizeof img.ImgStruct.FileName) return -1;
    file.copy(img.ImgStruct.FileName, file.size());
    img.ImgStruct.FileName[file.size()] = '\0';
    if (ReadImageUpright(true, img, orientation)) return -1;
    FitIntoCell(img);
    entry->bitmap.Clear();
    BuildBitmap(img, entry->bitmap, false);
    return position;
}

// ---- Pages and scrolling ---------------------------------------------------------

// The page that starts at start, moved up to end at the list's end; never
// before the first position.
void ThumbnailModel::PageBounds(int start, int& first, int& last) const {
    const int count = dialog_.List().Count();
    first = start;
    last = first + pageSize_;
    if (count < last) {
        last = count;
        first = count - pageSize_;
    }
    first = std::max(first, 0);
}

void ThumbnailModel::ScrollTo(int index) {
    if (index == lastScrolled_) return;
    const int count = dialog_.List().Count();
    if (index == 0) {
        scrollPos_ = 0;
    } else if (index == count) {
        scrollPos_ = count - pageSize_;
    } else {
        scrollPos_ = pageSize_ > 0 ? pageSize_ * (index / pageSize_) : 0;
        if (scrollPos_ >= count) {
            scrollPos_ = count - pageSize_;
            lastScrolled_ = index;
        }
    }
    // A list shorter than a page starts at its first position.
    scrollPos_ = std::max(scrollPos_, 0);
}

int ThumbnailModel::HitTest(int x, int y) const {
    if (pageSize_ <= 0) return -1;
    int first = 0, last = 0;
    PageBounds(pageSize_ * (dialog_.List().Selected() / pageSize_), first, last);
    for (int i = first; i < last && i < int(cells_.size()); ++i) {
        CRect cell = cells_[size_t(i)];
        cell.top -= kPitch * first;
        cell.bottom -= kPitch * first;
        if (Contains(cell, x, y)) return i;
    }
    return -1;
}

void ThumbnailModel::VerticalScroll(int code, int thumbPosition) {
    const int s = dialog_.List().Selected();
    int next = s;
    switch (code) {
    case kLineUp: next = s - 1; break;
    case kLineDown: next = s + 1; break;
    case kPageUp: next = s - pageSize_; break;
    case kPageDown: next = s + pageSize_; break;
    case kThumbPosition: case kThumbTrack: next = thumbPosition; break;
    case kBottom: next = 0; break;  // the dialog has always sent "bottom" to the top
    default: return;
    }
    const int count = dialog_.List().Count();
    if (count == 0) return;
    // The last position, not one past it: that would select nothing.
    next = std::clamp(next, 0, count - 1);
    dialog_.SelectListItem(next);
    ScrollTo(next);
}

// ---- Drawing ------------------------------------------------------------------------

// The name position's cell shows; false when a raw camera file has no
// converted sibling, which ends the page.
bool ThumbnailModel::ShownName(int position, std::string& name) const {
    name = dialog_.List().Text(position);
    const std::string path = dialog_.ItemPath(position);
    if (Get_File_Type(path.c_str()) != IMG_TYPE_RAW) return true;
    const std::string sibling = ReplaceExtension(path, "tif");
    if (!platform::FileExists(sibling)) return false;
    name = FileNamePart(sibling);
    return true;
}

ThumbnailCell ThumbnailModel::CellAt(int position, int row, const ThumbnailEntry& entry) const {
    ThumbnailCell c;
    c.position = position;
    c.selected = SelectedFlag(position);
    const int x0 = CellLeft(), y0 = kPitch * row;
    c.cell = CRect{x0, y0, x0 + kCellSize, y0 + kCellSize};
    if (!entry.bitmap.Empty()) {
        c.bitmap = &entry.bitmap;
        const int left = x0 + std::max(0, (kCellSize - entry.bitmap.width) / 2);
        const int top = y0 + std::max(0, (kCellSize - entry.bitmap.height) / 2);
        c.picture = CRect{left, top, left + entry.bitmap.width, top + entry.bitmap.height};
    }
    c.caption = Format("%d  %d x %d", position + 1, entry.width, entry.height);
    c.name = entry.name;
    c.captionY = y0;
    c.nameY = y0 + 20;
    c.text = c.selected ? kSelectedText : kText;
    c.frame = c.selected ? kSelectedFrame : kFrame;
    return c;
}

ThumbnailPage ThumbnailModel::Page() const {
    ThumbnailPage page;
    page.background = kBackground;
    page.textArea = textArea_;
    page.leftStrip = leftStrip_;
    page.thumbnailArea = thumbnailArea_;
    page.rightStrip = rightStrip_;
    if (!active_) return page;
    PageBounds(scrollPos_, page.first, page.last);
    for (int i = page.first; i < page.last; ++i) {
        std::string name;
        if (!ShownName(i, name)) break;
        if (const ThumbnailEntry* entry = Find(name))
            page.cells.push_back(CellAt(i, i - page.first, *entry));
    }
    return page;
}

// ---- Events ------------------------------------------------------------------------------

void ThumbnailModel::LeftRelease(int x, int y) {
    const int hit = HitTest(x, y);
    if (hit < 0) {
        scrollMax_ = dialog_.List().Count();
        dialog_.RefreshSelection();
        return;
    }
    ClearFlags();
    flags_[size_t(hit)] = true;
    // Selecting in the list refreshes the main dialog for it.
    dialog_.SelectListItem(hit);
    ScrollTo(hit);
}

void ThumbnailModel::DoubleClick(int x, int y) {
    const int hit = HitTest(x, y);
    if (hit >= 0) flags_[size_t(hit)] = true;
    DisplaySelected();
}

void ThumbnailModel::RightRelease(int x, int y) {
    const int hit = HitTest(x, y);
    if (hit >= 0) flags_[size_t(hit)] = false;
}

void ThumbnailModel::DeleteFromList() {
    if (dialog_.List().Selected() >= 0) dialog_.Click(kRemoveFromList);
    Load();
}

void ThumbnailModel::DisplaySelected() {
    if (!dialog_.Get(kPreviewImage).checked)
        dialog_.Click(kPreviewImage);
    else
        dialog_.RefreshSelection();
}

}  // namespace tolvane
