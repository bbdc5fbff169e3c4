// The main dialog's controls by id, and the state each one shows: its text,
// whether it is shown, enabled and checked. The windows show this state;
// the model changes it.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tolvane {

enum ControlId : int {
    kOk = 1,
    kCancel = 2,
    kOutWidth = 1000,
    kOutHeight = 1001,
    kOutRes = 1002,
    kOutResLabel = 1005,
    kOutUnitSpin = 1006,
    kOutSizeX = 1007,
    kOutSizeY = 1008,
    kOutSizeLabel = 1009,
    kWorkPath = 1010,
    kOutputName = 1011,
    kSelectImage = 1012,
    kInWidth = 1014,
    kInRes = 1016,
    kInResLabel = 1017,
    kInUnitSpin = 1018,
    kInHeight = 1019,
    kInSizeLabel = 1021,
    kInSizeX = 1022,
    kInSizeY = 1023,
    kScale = 1025,
    kProcessAll = 1027,
    kDone = 1028,
    kVersion = 1029,
    kPreviewImage = 1033,
    kUncompressedSize = 1034,
    kLzw = 1035,
    kPreviewThumbnails = 1036,
    kProgress = 1042,
    kFormat = 1049,
    kFormatSpin = 1050,
    kQuality = 1051,
    kQualityLabel = 1052,
    kFileList = 1053,
    kRemoveFromList = 1054,
    kLimitMemory = 1055,
    kFit = 1056,
    kFitSize = 1057,
    kSelectDestination = 1065,
    kRemoveAll = 1066,
    kScaleMode = 1078,
    kKeepMetadata = 1080,
    kSmoothResizing = 1081,
};

struct Control {
    std::string text;
    bool visible = true;
    bool enabled = true;
    bool checked = false;
};

// Every control of the dialog with its state at opening.
std::map<int, Control> InitialControls();

// The sorted list box: file names, the selection and the top row.
class FileList {
public:
    int Count() const { return static_cast<int>(items_.size()); }
    bool Empty() const { return items_.empty(); }
    const std::string& Text(int i) const { return items_[static_cast<size_t>(i)]; }
    const std::vector<std::string>& Items() const { return items_; }
    // Inserts in list-box order (after equal names); returns the position.
    int Add(const std::string& name);
    void Delete(int i);
    void Clear();
    int Selected() const { return selected_; }
    // -1 or a position outside the list selects nothing.
    void Select(int i) { selected_ = i >= 0 && i < Count() ? i : -1; }
    // The row the view shows at the top, as the view last reported it or
    // the selection's scrolling stepped it.
    int Top() const { return top_; }
    void SetTop(int t);

private:
    std::vector<std::string> items_;
    int selected_ = -1;
    int top_ = 0;
};

}  // namespace tolvane
