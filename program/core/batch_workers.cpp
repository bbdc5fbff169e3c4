// The headless run's processes: the view that stands in for the window, the
// run in this process, and "-j N" worker processes that each convert their
// share and send a line per file through a pipe.
#include "batch_parts.h"

#include "output_file.h"
#include "platform.h"
#include "text.h"

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

namespace tolvane {

// ---- The view ------------------------------------------------------------------------

void HeadlessView::ShowMessage(const std::string& text, const std::string&) { message = OneLine(text); }

void HeadlessView::FileFinished(const FileOutcome& outcome) {
    ++done_;
    // A damaged source is said at once, beside the report's warning field.
    if (!outcome.warning.empty()) {
        if (bar) ClearBar();
        std::fprintf(stderr, "Tolvane: warning: %s: %s\n", outcome.source.c_str(), outcome.warning.c_str());
    }
    if (finished) finished(outcome);
}

void HeadlessView::ProgressMoved() {
    if (!bar || !model) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastDraw_ < std::chrono::milliseconds(50)) return;
    lastDraw_ = now;
    const int range = model->ProgressRange();
    const double part = range > 0 ? std::clamp(double(model->ProgressPosition()) / range, 0.0, 1.0) : 0;
    DrawBar(done_, total, part);
}

void HeadlessView::DrawBar(int done, int total, double part) {
    const int width = 30;
    const int filled = int(part * width);
    std::fprintf(stderr, "\r[%s%s] %3d%%  file %d of %d", std::string(filled, '#').c_str(),
                 std::string(width - filled, '.').c_str(), int(part * 100), std::min(done + 1, total), total);
    std::fflush(stderr);
}

void HeadlessView::ClearBar() {
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
}

// ---- Running ------------------------------------------------------------------------

void RunModel(ScaleDialogModel& m, HeadlessView& view) {
    m.Click(kProcessAll);
    // No window waits to be painted: the ticks run back to back.
    while (view.timerRunning) m.TimerTick(ScaleDialogModel::kTimerId);
}

namespace {

// A worker's line to the parent: position, status, whether it warned, and
// the JSON object.
std::string WorkerLine(const FileOutcome& r) {
    return Format("%d\t%s\t%d\t", r.position, StatusName(r.status), !r.warning.empty()) + JsonLine(r) + "\n";
}

void TakeWorkerLine(const std::string& line, Tally& tally) {
    const size_t a = line.find('\t');
    const size_t b = a == std::string::npos ? a : line.find('\t', a + 1);
    const size_t c = b == std::string::npos ? b : line.find('\t', b + 1);
    if (c == std::string::npos) return;
    tally.Add(std::atoi(line.c_str()), line.substr(a + 1, b - a - 1), line[b + 1] == '1', line.substr(c + 1));
}

[[noreturn]] void RunWorker(ScaleDialogModel& m, HeadlessView& view, const Share& share, int worker, int fd) {
    platform::SeparateChildInterrupts();
    m.SetPositionFilter([share, worker](int i) { return share.Takes(worker, i); });
    view.finished = [fd](const FileOutcome& r) {
        const std::string line = WorkerLine(r);
        for (size_t off = 0; off < line.size();) {
            const ssize_t n = write(fd, line.data() + off, line.size() - off);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) _exit(3);
            off += size_t(n);
        }
    };
    // Nothing may unwind into the parent's code (its working folder, its
    // report) in the child: a failure ends the worker, and the parent
    // accounts for its files.
    try {
        RunModel(m, view);
    } catch (...) {
        _exit(4);
    }
    // A worker told to stop says so in its status; the parent accounts for it.
    const int signal = platform::InterruptSignal();
    _exit(signal ? 128 + signal : 0);
}

// How a worker ended, for the places it left; "" when it finished.
std::string WorkerEnd(int status) {
    if (WIFSIGNALED(status)) return Format("worker ended by signal %d", WTERMSIG(status));
    if (!WIFEXITED(status) || WEXITSTATUS(status) == 0) return "";
    const int code = WEXITSTATUS(status);
    if (code > 128) return "worker stopped by " + platform::SignalName(code - 128);
    return Format("worker ended with status %d", code);
}

// Reads the workers' lines until every pipe is closed. The first stop signal
// this process catches is passed on to the workers.
void Collect(const std::vector<pid_t>& pids, std::vector<int> fds, int total, bool bar, Tally& tally) {
    std::vector<std::string> partial(fds.size());
    bool forwarded = false;
    for (size_t open = fds.size(); open > 0;) {
        if (!forwarded && platform::InterruptSignal()) {
            for (pid_t pid : pids) platform::SendSignal(pid, platform::InterruptSignal());
            forwarded = true;
        }
        std::vector<pollfd> polls;
        for (int fd : fds) polls.push_back({fd, POLLIN, 0});
        polls.push_back({forwarded ? -1 : platform::InterruptDescriptor(), POLLIN, 0});
        if (poll(polls.data(), polls.size(), -1) < 0) {
            if (errno == EINTR) continue;
            break;  // cannot wait: the workers' missing files are accounted for
        }
        if (polls.back().revents) platform::DrainInterrupts();
        for (size_t k = 0; k < fds.size(); ++k) {
            if (fds[k] < 0 || !(polls[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            const ssize_t n = read(fds[k], buffer, sizeof buffer);
            if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
            if (n <= 0) {
                close(fds[k]);
                fds[k] = -1;
                --open;
                continue;
            }
            partial[k].append(buffer, size_t(n));
            for (size_t nl; (nl = partial[k].find('\n')) != std::string::npos;) {
                TakeWorkerLine(partial[k].substr(0, nl), tally);
                partial[k].erase(0, nl + 1);
            }
            if (bar)
                HeadlessView::DrawBar(int(tally.lines.size()), total, double(tally.lines.size()) / std::max(total, 1));
        }
    }
}

}  // namespace

void RunWorkers(ScaleDialogModel& m, HeadlessView& view, const Share& share, bool quiet, Tally& tally) {
    std::vector<pid_t> pids;
    std::vector<int> fds;
    m.Cache().SetBudget(m.Cache().Budget() / uint64_t(share.jobs));
    view.bar = false;
    std::fflush(nullptr);
    for (int w = 0; w < share.jobs; ++w) {
        int p[2];
        if (pipe(p) != 0) throw std::runtime_error("no pipe for a worker");
        const pid_t pid = fork();
        if (pid < 0) throw std::runtime_error("no worker process");
        if (pid == 0) {
            close(p[0]);
            for (int fd : fds) close(fd);
            RunWorker(m, view, share, w, p[1]);
        }
        close(p[1]);
        pids.push_back(pid);
        fds.push_back(p[0]);
    }
    const std::vector<std::string> sources = ListedSources(m);
    Collect(pids, fds, share.CountKept(int(sources.size())), !quiet && platform::IsTerminal(2), tally);
    for (int w = 0; w < share.jobs; ++w) {
        int status = 0;
        pid_t reaped;
        while ((reaped = waitpid(pids[size_t(w)], &status, 0)) < 0 && errno == EINTR) {
        }
        const std::string end = reaped < 0 ? "worker lost" : WorkerEnd(status);
        // Stopping as this run was told to is no loss; anything else is.
        const int signal = platform::InterruptSignal();
        const bool stopped = signal && reaped >= 0 && WIFEXITED(status) && WEXITSTATUS(status) == 128 + signal;
        if (end.empty() || stopped) continue;
        std::fprintf(stderr, "Tolvane: %s; its files were not converted\n", end.c_str());
        tally.workerLost = true;
        tally.AccountMissing(share, sources, w, FileOutcome::Status::Failed, end);
    }
    // What a killed worker left half-written: its process is gone now.
    RemoveLeftovers(m.Destination(), kPartialPrefix);
}

}  // namespace tolvane
