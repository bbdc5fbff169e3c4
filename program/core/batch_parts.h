// The headless run's parts beside its options: the view that stands in for
// the window, the tally and report of the files' outcomes, and the worker
// processes of "-j N". Only the batch command's own files include this.
#pragma once

#include "dialog_view.h"
#include "scale_dialog.h"

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace tolvane {

// Which places of the list a run converts, and which worker takes each.
struct Share {
    int jobs = 1;
    int shard = 0, shards = 1;

    bool Kept(int i) const { return i % shards == shard; }
    bool Takes(int worker, int i) const { return Kept(i) && (i / shards) % jobs == worker; }
    int CountKept(int n) const;
};

class HeadlessView final : public DialogView {
public:
    std::vector<std::string> selection;
    std::string message;
    bool timerRunning = false;
    bool bar = false;
    int total = 0;
    std::function<void(const FileOutcome&)> finished;
    ScaleDialogModel* model = nullptr;

    std::vector<std::string> ChooseFiles(const std::string&, const std::string&) override { return selection; }
    void ShowMessage(const std::string& text, const std::string&) override;
    bool ChooseFolder(std::string&) override { return false; }
    void StartTimer(int, int) override { timerRunning = true; }
    void StopTimer(int) override { timerRunning = false; }
    void FileFinished(const FileOutcome& outcome) override;
    void ProgressMoved() override;

    static void DrawBar(int done, int total, double part);
    static void ClearBar();

private:
    int done_ = 0;
    std::chrono::steady_clock::time_point lastDraw_{};
};

// Every file's line of the report, and the counts of the summary.
struct Tally {
    int converted = 0, warned = 0, failed = 0, skipped = 0, interrupted = 0;
    bool workerLost = false;
    std::vector<std::pair<int, std::string>> lines;  // position, JSON line

    // warned: converted, with a warning about its source.
    void Add(int position, const std::string& status, bool warned, std::string line);
    void Add(const FileOutcome& outcome);
    // A line for each place worker (all of them for -1) was to convert and
    // no line speaks of; sources holds the list's paths.
    void AccountMissing(const Share& share, const std::vector<std::string>& sources, int worker,
                        FileOutcome::Status status, const std::string& reason);
};

std::string JsonLine(const FileOutcome& r);
// The lines in the order of the list; false when the file cannot be written.
bool WriteReport(const std::string& path, Tally& tally);

// Runs the model's batch in this process until it ends or is asked to stop.
void RunModel(ScaleDialogModel& m, HeadlessView& view);
// The list's paths, by place.
std::vector<std::string> ListedSources(const ScaleDialogModel& m);

// Converts the share with share.jobs worker processes, each with its own
// copy of the model; a worker that dies has its places reported failed.
void RunWorkers(ScaleDialogModel& m, HeadlessView& view, const Share& share, bool quiet, Tally& tally);

}  // namespace tolvane
