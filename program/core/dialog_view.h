// What the main dialog's model asks of the window that shows it: the
// dialogs it opens, the timer, the cursor, and the preview and thumbnail
// windows. The Qt dialog implements it; tests and the headless batch
// implement it without a window.
#pragma once

#include <string>
#include <vector>

namespace tolvane {

// How one file of a batch run ended.
struct FileOutcome {
    enum class Status { Converted, Failed, Skipped, Interrupted };
    int position = 0;
    std::string source;
    std::string output;
    Status status = Status::Failed;
    std::string reason;  // the library's last-error text, or the program's words
    std::string note;    // of a converted file: what of its metadata could not be kept
    std::string warning; // of a converted file: what its source lacked (a damaged file)
    int width = 0;       // of the output written
    int height = 0;
    double milliseconds = 0;
};

const char* StatusName(FileOutcome::Status status);

class DialogView {
public:
    virtual ~DialogView() = default;

    // The open-file dialog with multiple selection. Its result is the
    // selection buffer's strings: the folder and then the chosen names, or a
    // whole path alone for a single file; empty when the user cancels.
    virtual std::vector<std::string> ChooseFiles(const std::string& folder,
                                                 const std::string& filter) = 0;
    // A modal message box with an OK button.
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
    // The folder dialog; true when the user chose folder.
    virtual bool ChooseFolder(std::string& folder) = 0;
    virtual void StartTimer(int id, int milliseconds) = 0;
    virtual void StopTimer(int id) = 0;

    virtual void SetWaitCursor(bool /*on*/) {}
    // The state of control id, or the list box's items or selection, changed.
    virtual void ControlChanged(int /*id*/) {}
    virtual void ListChanged() {}
    // The progress bar moved: repaint it now, during the blocking call.
    virtual void ProgressMoved() {}
    virtual void CloseDialog() {}
    virtual void ShowVersionBox() {}
    virtual void ShowNormal() {}
    virtual void FileFinished(const FileOutcome& /*outcome*/) {}

    // The image preview window; these do nothing while there is none.
    virtual bool PreviewExists() const { return false; }
    virtual bool PreviewVisible() const { return false; }
    virtual void PreviewHide() {}
    virtual void PreviewShowFocused() {}
    virtual void PreviewDismiss() {}
    virtual void PreviewReleaseImage() {}
    virtual void PreviewResetView() {}
    virtual void PreviewRepaint() {}
    virtual void ListTakeFocus() {}

    // The thumbnail window.
    virtual bool ThumbnailsVisible() const { return false; }
    virtual void ThumbnailsHide() {}
    virtual void ThumbnailsForgetAll() {}
    virtual void ThumbnailsShowAround(int /*index*/) {}
    virtual void ThumbnailsSelect(int /*index*/) {}
};

}  // namespace tolvane
