// The thumbnail window as a model: a column of small pictures of the main
// dialog's files, one page at a time, with a caption and the file name
// beside each, kept in step with the list's selection. Thumbnails are made
// once per file and run as ".tn0" working files and kept as bitmaps. The Qt
// window passes on its size, clicks and scrolling and paints Page().
#pragma once

#include "preview_model.h"
#include "scale_dialog.h"

#include <ORVIX_0500.h>

#include <string>
#include <vector>

namespace tolvane {

struct ThumbnailEntry {
    std::string name;  // the list text; empty for a free entry
    int width = 0;     // of the image, from its header
    int height = 0;
    Bitmap bitmap;
};

// One shown list position: its cell, its picture copied unscaled into
// picture, and its two text lines drawn at (textX, captionY) and (textX, nameY).
struct ThumbnailCell {
    int position = 0;
    bool selected = false;
    CRect cell{};
    const Bitmap* bitmap = nullptr;  // null when the file has no picture
    CRect picture{};
    std::string caption;  // "<position + 1>  <width> x <height>"
    std::string name;
    int textX = 0;
    int captionY = 0;
    int nameY = 0;
    Rgb text{};
    Rgb frame{};  // a frame of frameWidth pixels around the cell
};

struct ThumbnailPage {
    Rgb background{};
    CRect textArea{};
    CRect leftStrip{};  // the two patterned strips
    CRect thumbnailArea{};
    CRect rightStrip{};
    int frameWidth = 3;
    int first = 0;  // positions first .. last - 1 are on the page
    int last = 0;
    std::vector<ThumbnailCell> cells;
};

// The vertical scroll bar's requests.
enum ScrollCode : int {
    kLineUp = 0,
    kLineDown = 1,
    kPageUp = 2,
    kPageDown = 3,
    kThumbPosition = 4,
    kThumbTrack = 5,
    kTop = 6,
    kBottom = 7,
    kEndScroll = 8,
};

class ThumbnailModel {
public:
    static constexpr int kCellSize = 80;
    static constexpr int kPitch = 88;  // trunc(80 x 1.1)
    static constexpr int kMaxItems = 1024;
    static constexpr int kQuality = 75;
    static constexpr Rgb kBackground{192, 192, 208};
    static constexpr Rgb kSelectedText{0, 255, 0};
    static constexpr Rgb kText{255, 0, 0};
    static constexpr Rgb kSelectedFrame{255, 0, 0};
    static constexpr Rgb kFrame{0, 0, 255};

    explicit ThumbnailModel(ScaleDialogModel& dialog);
    ThumbnailModel(const ThumbnailModel&) = delete;
    ThumbnailModel& operator=(const ThumbnailModel&) = delete;

    // The window's client rectangle at opening; the bands follow from it.
    void SetClientRect(const CRect& client);

    // ---- Called through the main dialog's view ----
    // Follows "PreviewThumbnails": when ticked the window turns active and
    // loads, scrolls to and marks the selected item. False: hide the window.
    bool Refresh();
    void Deactivate() { active_ = false; }
    bool Active() const { return active_; }
    void Select(int index);
    // Before a new file list: the cells are laid out again and every
    // thumbnail is made again at the next load.
    void Forget();
    // The bitmap and name of one entry; an index outside the table releases all.
    void Release(int index);
    void Release(const std::string& name);

    // ---- The window's events ----
    void LeftRelease(int x, int y);
    void DoubleClick(int x, int y);
    void RightRelease(int x, int y);
    void VerticalScroll(int code, int thumbPosition);
    void DeleteFromList();
    // "Display Selected": the selected image in the preview window.
    void DisplaySelected();

    // ---- The steps the events are made of ----
    // Page size, scroll range and the thumbnails of every list position.
    void Load();
    ThumbnailPage Page() const;
    // The list position whose cell holds the point, or -1.
    int HitTest(int x, int y) const;
    void ScrollTo(int index);
    // The thumbnail of list position i into the table; i, or -1 for none.
    int MakeThumbnail(int position);

    int PageSize() const { return pageSize_; }
    int ScrollPosition() const { return scrollPos_; }
    int ScrollMax() const { return scrollMax_; }  // the scroll bar runs 0 .. ScrollMax()
    bool SelectedFlag(int index) const;
    const ThumbnailEntry* Find(const std::string& name) const;

private:
    ThumbnailEntry* FindOrTake(const std::string& name);
    void ClearFlags();
    void PageBounds(int start, int& first, int& last) const;
    ThumbnailCell CellAt(int position, int row, const ThumbnailEntry& entry) const;
    bool ShownName(int position, std::string& name) const;
    int CellLeft() const { return cellX_ - kCellSize - 3; }

    ScaleDialogModel& dialog_;
    std::vector<ThumbnailEntry> entries_;
    std::vector<bool> flags_;
    std::vector<CRect> cells_;
    CRect textArea_{}, leftStrip_{}, thumbnailArea_{}, rightStrip_{};
    int cellX_ = 0;
    int pageSize_ = 0;
    int scrollPos_ = 0;
    int scrollMax_ = 0;
    int lastScrolled_ = -1;
    bool active_ = false;
};

}  // namespace tolvane
