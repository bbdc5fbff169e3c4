// A view without a window for the main dialog's model: it answers the
// dialogs with what the test set, runs the timer on demand and records what
// the model asked of it.
#pragma once

#include "dialog_view.h"
#include "scale_dialog.h"

#include <string>
#include <vector>

namespace testing_support {

class FakeView : public tolvane::DialogView {
public:
    std::vector<std::string> files;  // the open-file dialog's answer
    std::string folderAnswer;        // the folder dialog's answer; "" cancels
    std::vector<std::pair<std::string, std::string>> messages;  // text, caption
    std::vector<tolvane::FileOutcome> outcomes;
    std::vector<int> timerPeriods;  // each start of the timer
    bool timerRunning = false;
    bool closed = false;
    int progressMoves = 0;

    std::vector<std::string> ChooseFiles(const std::string&, const std::string&) override { return files; }
    void ShowMessage(const std::string& text, const std::string& caption) override {
        messages.emplace_back(text, caption);
    }
    bool ChooseFolder(std::string& folder) override {
        if (folderAnswer.empty()) return false;
        folder = folderAnswer;
        return true;
    }
    void StartTimer(int, int ms) override {
        timerRunning = true;
        timerPeriods.push_back(ms);
    }
    void StopTimer(int) override { timerRunning = false; }
    void ProgressMoved() override { ++progressMoves; }
    void CloseDialog() override { closed = true; }
    void FileFinished(const tolvane::FileOutcome& o) override { outcomes.push_back(o); }

    // Runs timer ticks while the timer is running, at most limit of them.
    int RunTimer(tolvane::ScaleDialogModel& model, int limit = 100000) {
        int ticks = 0;
        while (timerRunning && ticks < limit) {
            model.TimerTick(tolvane::ScaleDialogModel::kTimerId);
            ++ticks;
        }
        return ticks;
    }
};

}  // namespace testing_support
