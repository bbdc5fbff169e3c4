// The main dialog as a model: every control's state, the file list, the
// field relations and the batch run. The windows and the headless batch
// only bind to it: they pass on the user's edits and clicks and show what
// it sets. All values live as the fields' texts, read as atoi/atof do.
#pragma once

#include "controls.h"
#include "dialog_view.h"
#include "image_cache.h"
#include "metadata.h"

#include <ORVIX_0500.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace tolvane {

// What converting one list position will do, worked out before any pixel
// is read: the source, the output name and the output's size.
struct FilePlan {
    int position = 0;
    std::string source;
    std::string output;
    char format = 'T';    // first letter of the format text: 'T', 'J', 'B', 'P' or 'W'
    double factor = 1.0;  // exact: TIFF, PNG and WebP outputs are scaled by it
    int width = 0;        // exact: JPEG and BMP outputs are subsampled to it
    int outWidth = 0;     // the output's size
    int outHeight = 0;
    int orientation = 1;  // the source's EXIF orientation
    bool smooth = false;  // resampled from its own pixels at its own size
    int filter = FILTER_LANCZOS3;
    bool unscaled = false;      // the source is written as it is
    bool reduceOnLoad = false;  // a JPEG decoded for its output size, never cached
};

class ScaleDialogModel {
public:
    static constexpr int kTimerId = 10;
    static constexpr int kBatchPeriod = 100;   // ms between two files
    static constexpr int kSelectionLoad = 50;  // ms before a background load
    // The open-file dialog's filter: "All Images" first, then each format.
    static const std::string kFileFilter;

    ScaleDialogModel(DialogView& view, std::string processorPath);
    ~ScaleDialogModel();
    ScaleDialogModel(const ScaleDialogModel&) = delete;
    ScaleDialogModel& operator=(const ScaleDialogModel&) = delete;

    // ---- What the windows show ----
    const Control& Get(int id) const { return controls_.at(id); }
    const FileList& List() const { return list_; }
    int ProgressRange() const { return progressRange_; }
    int ProgressPosition() const { return progressPos_; }
    const std::string& SourceFolder() const { return sourceFolder_; }
    // The destination folder, with its separator, or "".
    std::string Destination() const;
    void SetDestination(const std::string& folder) { destination_ = folder; }
    // The filter of smooth resizing (FILTER_*); Lanczos3 at start.
    int Filter() const { return filter_; }
    void SetFilter(int filter) { filter_ = filter; }
    const std::string& ProcessorPath() const { return processorPath_; }
    bool Closed() const { return closed_; }
    int TimerMode() const { return timerMode_; }
    // Whether a run is under way: Process All, Select Image and the list's
    // changes are refused until it ends.
    bool Running() const { return running_; }
    // "" or why the size in the fields cannot be made: more pixels than
    // the image library holds. A run is refused for it before it starts.
    std::string OutputLimitWords() const;
    int BatchIndex() const { return batchIndex_; }
    bool WaitCursor() const { return waitCursor_; }
    const std::string& HeaderPath() const { return headerPath_; }
    const IMAGE_HDR& Header() const { return header_; }
    // The outcome of each file of the last run, in the order converted.
    const std::vector<FileOutcome>& Outcomes() const { return outcomes_; }
    int FailedCount() const;
    // Converted files whose source had missing or corrupt data.
    int WarnedCount() const;
    // What the list of the run's troubles shows of an outcome: its failure
    // or its warning; "" for a file that went well.
    static std::string TroubleOf(const FileOutcome& o);
    // The button that opens that list: "" when there is nothing to show.
    std::string TroubleButtonText() const;
    ImageCache& Cache() { return cache_; }
    PendingLoads& Pending() { return pending_; }
    // The cache entry last found or added; "" for none.
    const std::string& CurrentImage() const { return currentImage_; }

    // ---- The user's edits and clicks ----
    // Typing into an edit field; only the output resolution reacts at once.
    void SetText(int id, const std::string& text);
    // A button or check box (a check box toggles first).
    void Click(int id);
    void FieldLeft(int id);
    int SpinDelta(int id, int delta);
    void SelectListItem(int index);
    void ListDoubleClicked() { RefreshSelection(); }
    // The row the user sees at the top of the list; the selection's
    // scrolling steps from it.
    void ListScrolled(int topRow) { list_.SetTop(topRow); }
    void TimerTick(int id);

    // Select Image once the open-file dialog has answered; also for files
    // dropped on the dialog or named on the command line.
    void ListFiles(const std::vector<std::string>& selection);

    // ---- Operations other windows call ----
    void RefreshSelection();
    // A background load asked for by the preview window.
    void RequestPreviewLoad(const std::string& path);
    // Finds or adds path in the image cache and reads its pixels now, as a
    // batch file is loaded (with "Limit  Memory Usage" checked they stay
    // unread); null when the path cannot be cached.
    ImgClass* LoadNow(const std::string& path) { return LoadIntoCache(path, 0); }
    // The source path of list position i (source folder + its name); "" off the list.
    std::string ItemPath(int i) const;
    void SetWaitCursor(bool on) { SetWait(on); }
    void ResetProgress() { SetProgressPosition(0); }
    // Routes the library's progress to this model's bar.
    void InstallProgress();
    static void ProgressCallback(int total, int done);

    // ---- For the headless batch ----
    // Only positions for which keep is true are converted (all without one).
    void SetPositionFilter(std::function<bool(int)> keep) { keep_ = std::move(keep); }
    // Whether converted files' pixels stay cached for the preview; a
    // headless run has no preview and keeps none.
    void SetKeepSources(bool keep) { keepSources_ = keep; }
    // Whether files that cannot be read are listed too (a run with no
    // window, where every name keeps its place and gets its outcome).
    void SetListEveryName(bool every) { listEveryName_ = every; }
    // Whether a source read with a warning (missing or corrupt data) fails
    // instead of being converted as far as it goes.
    void SetStrict(bool strict) { strict_ = strict; }
    // Works out position i as a run would, writing nothing; false when the
    // file's header cannot be made.
    bool PlanFile(int i, FilePlan& plan, std::string& reason);

private:
    // Part of the dialog (scale_dialog.cpp)
    void SetControlText(int id, const std::string& text);
    void SetVisible(int id, bool visible);
    void SetEnabled(int id, bool enabled);
    void SetChecked(int id, bool checked);
    const std::string& Text(int id) const { return controls_.at(id).text; }
    bool Checked(int id) const { return controls_.at(id).checked; }
    bool PixelMode() const { return Checked(kScaleMode); }
    void SetWait(bool on);
    void SetRunning(bool on);
    bool RestoreIfNotPositive(int id);
    bool OutputBeyondLimit();
    void SetProgress(int range, int position);
    void SetProgressPosition(int position);
    void ListChanged() { view_.ListChanged(); }

    void SelectImage();
    void ClearForSelection();
    std::vector<std::string> StageSelection(const std::vector<std::string>& selection);
    bool HeaderReadable(const std::string& path) const;
    bool ShowImageInfo(int index, const std::string& path);
    void SetInputResolution(double xres, int unit);
    void ShowInputResolution(int width, int height, double xres, int unit);
    void FillOutputResolution();
    void RecalcOutputSize();
    void RecalcPhysicalSize();
    void ShowUncompressedSize();
    void ScaleModeClicked();
    void ToggleInputUnit();
    void ToggleOutputUnit();
    int FormatSpin(int delta);
    void ShowFormat(int index);
    void FixOutputExtension();
    void ShowOutputName(int position, const std::string& source);
    void WidthEdited();
    void HeightEdited();
    void SizeXEdited();
    void SizeYEdited();
    void ScaleEdited();
    void RemoveFromList();
    void PreviewImageClicked();
    void SelectDestination();
    void RefreshThumbnails();
    void ApplyFitMode(bool reapply);
    std::string SourcePath(const std::string& itemText) const;
    std::string DisplayNameFor(const std::string& name) const;
    std::string ResolveRawImage(const std::string& path) const;
    bool MakeHeader(const std::string& path);
    double UprightAspect() const;

    // Part of the batch run (batch_run.cpp)
    void ProcessAll();
    void BatchTick();
    void BackgroundLoadTick();
    void ConvertPosition(int i);
    FileOutcome ProcessFile(int i);
    bool PrepareFile(int i, FilePlan& plan, FileOutcome& outcome, bool runProcessor);
    void ConvertFile(const FilePlan& plan, FileOutcome& outcome);
    bool WriteFile(const FilePlan& plan, FileOutcome& outcome);
    void SetOutputResolution(ImgStruct& o) const;
    ImgClass* ReadReduced(const FilePlan& plan, uint64_t expectedBytes, ImgClass& reduced);
    void PlanSize(FilePlan& plan, int width, int height);
    bool WriteOutput(const FilePlan& plan, ImgClass& source, ImgClass& output, FileOutcome& outcome);
    bool WriteSmooth(const FilePlan& plan, ImgClass& source, ImgClass& output, FileOutcome& outcome);
    bool ResampleAndWrite(const FilePlan& plan, ImgClass& source, ImgClass& output, const char*& fallback);
    bool WriteAsFormat(const FilePlan& plan, ImgClass& image);
    bool KeepMetadata(const FilePlan& plan, const ImgStruct& written, FileOutcome& outcome);
    bool WriteSourceAs(const FilePlan& plan, ImgClass& source);
    int OutputQuality();
    ImgClass* LoadIntoCache(const std::string& path, uint64_t expectedBytes);
    // Reads img upright, for an output of width x height when both are > 0
    // (a JPEG is then decoded reduced), evicting the largest cached image
    // after each failure; false when nothing is left to evict.
    void NoteReadWarning(const std::string& path);
    void HeaderResolution(double& xres, int& unit) const;
    bool ReadEvicting(ImgClass& img, int width = 0, int height = 0);
    void RequestSelectionLoad(const std::string& path);
    void Cancel();

    DialogView& view_;
    std::map<int, Control> controls_;
    FileList list_;
    std::vector<std::string> staging_;
    std::string sourceFolder_;
    std::string destination_;
    std::string processorPath_;
    std::string headerPath_;
    IMAGE_HDR header_{};
    double inDpi_ = 0, inLpmm_ = 0, outDpi_ = 0, outLpmm_ = 0;
    double aspect_ = 0;
    int orientation_ = 1;  // the EXIF orientation of the header's image
    PhotoFacts photo_;     // what the header image's EXIF says
    int filter_ = FILTER_LANCZOS3;
    int formatIndex_ = 0;
    bool waitCursor_ = false;
    int progressRange_ = 100;
    int progressPos_ = 0;

    ImageCache cache_;
    PendingLoads pending_;
    std::string currentImage_;
    std::string loadName_;
    int closeGuard_ = 0;
    int timerMode_ = 0;
    int batchIndex_ = -1;
    bool busy_ = false;
    bool running_ = false;
    // What an edited field held before the user's typing began, by id.
    std::map<int, std::string> beforeEdit_;
    // The list position and file name that 1011 names; "" when it names
    // no file of the list.
    int namePosition_ = 0;
    std::string nameFile_;
    bool closed_ = false;
    std::function<bool(int)> keep_;
    bool keepSources_ = true;
    bool listEveryName_ = false;
    bool strict_ = false;
    // The reader's warning of each source read, by path ("" when clean).
    std::map<std::string, std::string> readWarnings_;
    std::vector<FileOutcome> outcomes_;
};

}  // namespace tolvane
