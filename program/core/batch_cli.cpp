#include "batch_cli.h"

#include "app_settings.h"
#include "batch_parts.h"
#include "naming.h"
#include "platform.h"
#include "resizing.h"
#include "scale_dialog.h"
#include "selection.h"
#include "text.h"

#include <ORVIX_0500.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <utility>
#include <stdexcept>

namespace tolvane {

const char kBatchUsage[] =
    "usage: Tolvane --batch [OPTIONS] FILE... | FOLDER\n"
    "\n"
    "Converts every listed image into a scaled copy named A000_name, A001_name ...\n"
    "(first letter stepped B, C ... while the name exists). The files lie in one\n"
    "folder; a FOLDER lists its TIFF, JPEG, BMP, DCR, Targa, PNG, WebP, HEIC, HEIF\n"
    "and AVIF files. The list is sorted without regard to case, and a file's\n"
    "place in it is its number.\n"
    "\n"
    "  --dest DIR          destination folder (default: the source folder), made\n"
    "                      with its parents when missing\n"
    "Size, at most one of:\n"
    "  --percent P         P percent (default 100)\n"
    "  --width PX          PX pixels wide\n"
    "  --height PX         the first file's height PX sets the percentage\n"
    "  --fit N             into a square of N pixels (output JPEG unless --format)\n"
    "  --print-width X     X inches (or mm with --lpmm) wide at --res\n"
    "  --print-height Y    Y inches (or mm) high at --res\n"
    "Resolution:\n"
    "  --res R             output resolution (default: the first file's)\n"
    "  --lpmm              R and print sizes are in lines per mm and mm\n"
    "Format:\n"
    "  --format F          tiff (default), jpeg, bmp, png or webp; TIFF, PNG and\n"
    "                      WebP keep transparency, JPEG and BMP put it on white\n"
    "  --quality Q         JPEG or WebP quality 1 to 100 (75 when outside 1 to\n"
    "                      100; WebP at 100 is lossless)\n"
    "  --lzw               LZW-compressed TIFF\n"
    "  --low-memory        TIFF scaled row by row into the file\n"
    "  --strip             keep no metadata (by default all outputs but BMP carry\n"
    "                      the photo's EXIF, IPTC, XMP and colour profile)\n"
    "Resizing (smooth by default: every file resampled from its own pixels at its\n"
    "own size with an antialiasing filter, a JPEG decoded reduced where that\n"
    "leaves at least twice the size):\n"
    "  --filter F          lanczos3 (default), mitchell, catrom or box\n"
    "  --exact             the original engine instead: cubic interpolation for TIFF,\n"
    "                      PNG and WebP (transparency flattened onto white), JPEG\n"
    "                      and BMP point-sampled to the first file's width\n"
    "Run:\n"
    "  -j N                N worker processes (default 1)\n"
    "  --shard K/N         convert only the files at places i with i mod N = K\n"
    "  --report FILE       one JSON line per file: position, source, output,\n"
    "                      status, reason, warning, note, width, height, ms; the\n"
    "                      note says what of a photo's metadata could not be kept\n"
    "  --strict            a source read with missing or corrupt data fails (by\n"
    "                      default it is converted as far as it goes, with a warning)\n"
    "  --dry-run           print each file's output name and size; write nothing\n"
    "  --quiet             no progress bar\n"
    "  --help, --version\n"
    "\n"
    "Options are applied as edits of the dialog's fields, in this order:\n"
    "resolution, size, format and its options.\n"
    "Exit status: 0 when nothing failed, 1 when a file failed, 2 on a usage error,\n"
    "128 + the signal when SIGINT, SIGTERM or SIGHUP stopped the run.\n";

namespace {

struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class SizeKind { None, Percent, Width, Height, Fit, PrintWidth, PrintHeight };

struct Options {
    std::vector<std::string> inputs;
    std::string dest;
    SizeKind size = SizeKind::None;
    std::string sizeValue;
    std::string res;
    bool lpmm = false;
    std::string format;
    std::string quality;
    bool lzw = false;
    bool lowMemory = false;
    bool strip = false;
    bool exact = false;
    bool strict = false;
    std::string filter;
    Share share;
    std::string report;
    bool dryRun = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

double PositiveNumber(const std::string& option, const std::string& text) {
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end || !(v > 0) || v > 1e9)
        throw UsageError(option + " takes a positive number, not '" + text + "'");
    return v;
}

long WholeNumber(const std::string& option, const std::string& text, long low, long high) {
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end || v < low || v > high)
        throw UsageError(option + " takes a whole number from " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not '" + text + "'");
    return v;
}

void SetSize(Options& o, SizeKind kind, const std::string& option, const std::string& value) {
    if (o.size != SizeKind::None) throw UsageError("give at most one size option");
    if (kind == SizeKind::Percent || kind == SizeKind::PrintWidth || kind == SizeKind::PrintHeight)
        PositiveNumber(option, value);
    else
        WholeNumber(option, value, 1, 1000000);
    o.size = kind;
    o.sizeValue = value;
}

Options Parse(const std::vector<std::string>& args) {
    Options o;
    const std::pair<const char*, SizeKind> sizes[] = {
        {"--percent", SizeKind::Percent}, {"--width", SizeKind::Width},
        {"--height", SizeKind::Height},   {"--fit", SizeKind::Fit},
        {"--print-width", SizeKind::PrintWidth}, {"--print-height", SizeKind::PrintHeight}};
    for (size_t k = 0; k < args.size(); ++k) {
        const std::string& a = args[k];
        auto value = [&]() -> std::string {
            if (k + 1 >= args.size()) throw UsageError(a + " needs a value");
            return args[++k];
        };
        const auto size = std::find_if(std::begin(sizes), std::end(sizes),
                                       [&](const auto& s) { return a == s.first; });
        if (size != std::end(sizes)) {
            SetSize(o, size->second, a, value());
        } else if (a == "--dest") {
            o.dest = value();
        } else if (a == "--res") {
            o.res = value();
            PositiveNumber(a, o.res);
        } else if (a == "--lpmm") {
            o.lpmm = true;
        } else if (a == "--format") {
            o.format = value();
            if (o.format != "tiff" && o.format != "jpeg" && o.format != "bmp" && o.format != "png" &&
                o.format != "webp")
                throw UsageError("--format takes tiff, jpeg, bmp, png or webp, not '" + o.format + "'");
        } else if (a == "--quality") {
            o.quality = value();
            WholeNumber(a, o.quality, -1000000, 1000000);
        } else if (a == "--lzw") {
            o.lzw = true;
        } else if (a == "--low-memory") {
            o.lowMemory = true;
        } else if (a == "--strip") {
            o.strip = true;
        } else if (a == "--exact") {
            o.exact = true;
        } else if (a == "--strict") {
            o.strict = true;
        } else if (a == "--filter") {
            o.filter = value();
            if (FilterByName(o.filter.c_str()) < 0)
                throw UsageError("--filter takes lanczos3, mitchell, catrom or box, not '" + o.filter + "'");
        } else if (a == "-j" || a == "--jobs") {
            o.share.jobs = int(WholeNumber(a, value(), 1, 64));
        } else if (a == "--shard") {
            const std::string s = value();
            const size_t slash = s.find('/');
            if (slash == std::string::npos) throw UsageError("--shard takes K/N, not '" + s + "'");
            o.share.shards = int(WholeNumber("--shard's N", s.substr(slash + 1), 1, 1000000));
            o.share.shard = int(WholeNumber("--shard's K", s.substr(0, slash), 0, o.share.shards - 1));
        } else if (a == "--report") {
            o.report = value();
        } else if (a == "--dry-run") {
            o.dryRun = true;
        } else if (a == "--quiet" || a == "-q") {
            o.quiet = true;
        } else if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--version") {
            o.version = true;
        } else if (a.size() > 1 && a[0] == '-') {
            throw UsageError("unknown option " + a);
        } else {
            o.inputs.push_back(a);
        }
    }
    if (o.exact && !o.filter.empty()) throw UsageError("--filter does not go with --exact");
    if (!o.help && !o.version && o.inputs.empty()) throw UsageError("name the files or a folder");
    return o;
}

// ---- Options as edits of the dialog's fields ------------------------------------------------

void Edit(ScaleDialogModel& m, int id, const std::string& text) {
    m.SetText(id, text);
    m.FieldLeft(id);
}

void ApplyOptions(ScaleDialogModel& m, const Options& o) {
    if (o.lpmm) m.SpinDelta(kOutUnitSpin, 1);
    if (!o.res.empty()) m.SetText(kOutRes, o.res);
    switch (o.size) {
    case SizeKind::Percent: Edit(m, kScale, o.sizeValue); break;
    case SizeKind::Width: Edit(m, kOutWidth, o.sizeValue); break;
    case SizeKind::Height: Edit(m, kOutHeight, o.sizeValue); break;
    case SizeKind::PrintWidth: Edit(m, kOutSizeX, o.sizeValue); break;
    case SizeKind::PrintHeight: Edit(m, kOutSizeY, o.sizeValue); break;
    case SizeKind::Fit:
        Edit(m, kFitSize, o.sizeValue);
        m.Click(kFit);
        if (!m.Get(kFit).checked) throw UsageError("--fit: the first file's shape is unknown");
        break;
    case SizeKind::None: break;
    }
    if (!o.format.empty()) {
        // The spin shows "WebP": names compare without regard to case, and
        // the spin goes round once at most.
        auto lower = [](std::string t) {
            for (char& c : t) c = char(std::tolower(static_cast<unsigned char>(c)));
            return t;
        };
        const std::string first = m.Get(kFormat).text;
        while (lower(m.Get(kFormat).text) != o.format) {
            m.SpinDelta(kFormatSpin, -1);
            if (m.Get(kFormat).text == first) throw UsageError("--format: no " + o.format + " in the format spin");
        }
    }
    auto needShown = [&](int id, const char* option) {
        if (!m.Get(id).visible)
            throw UsageError(std::string(option) + " does not go with the " + m.Get(kFormat).text + " format");
    };
    if (!o.quality.empty()) {
        needShown(kQuality, "--quality");
        m.SetText(kQuality, o.quality);
    }
    if (o.lzw) {
        needShown(kLzw, "--lzw");
        m.Click(kLzw);
    }
    if (o.lowMemory) {
        needShown(kLimitMemory, "--low-memory");
        m.Click(kLimitMemory);
    }
    if (o.strip && m.Get(kKeepMetadata).checked) m.Click(kKeepMetadata);
    if (o.exact && m.Get(kSmoothResizing).checked) m.Click(kSmoothResizing);
    if (!o.filter.empty()) m.SetFilter(FilterByName(o.filter.c_str()));
}

std::string SizeText(const ScaleDialogModel& m) {
    if (!m.Get(kScaleMode).checked) {
        std::string text = OneLine(m.Get(kScale).text) + " %";
        // Exact subsampled outputs all take the width the dialog shows.
        const char f = m.Get(kFormat).text.empty() ? 'T' : m.Get(kFormat).text[0];
        if (!ScaledByFactor(f) && !m.Get(kSmoothResizing).checked)
            text += " (" + m.Get(kFormat).text + " outputs: all " + m.Get(kOutWidth).text + " pixels wide)";
        return text;
    }
    if (m.Get(kFit).checked) return "fit into " + m.Get(kFitSize).text + " pixels square";
    if (m.Get(kSmoothResizing).checked) return m.Get(kOutWidth).text + " pixels wide, heights in proportion";
    return m.Get(kOutWidth).text + " pixels wide";
}

std::string FormatText(const ScaleDialogModel& m) {
    const std::string& f = m.Get(kFormat).text;
    std::string text = f;
    if (m.Get(kQuality).visible) text += ", quality " + m.Get(kQuality).text;
    if (f == "WebP" && m.Get(kQuality).text == "100") text += " (lossless)";
    if (f == "TIFF" && m.Get(kLzw).checked) text += ", LZW";
    if (f == "TIFF" && m.Get(kLimitMemory).checked) text += ", low memory";
    if (f != "BMP") text += m.Get(kKeepMetadata).checked ? ", metadata kept" : ", metadata stripped";
    return text;
}

void PrintSettings(ScaleDialogModel& m, const Options& o, bool destinationMade) {
    const FileList& list = m.List();
    std::printf("Source: %s (%d files)\n", m.SourceFolder().c_str(), list.Count());
    const bool missing = !platform::IsDirectory(m.Destination());
    std::printf("Destination: %s%s\n", m.Destination().c_str(),
                destinationMade ? " (created)" : missing ? " (to be created)" : "");
    std::printf("Size: %s\n", SizeText(m).c_str());
    const std::string res = OneLine(m.Get(kOutRes).text);
    const char* unit = Contains(m.Get(kOutResLabel).text, "lpmm") ? "lpmm" : "dpi";
    std::printf("Resolution: %s\n", TextToDouble(res) > 0 ? (res + " " + unit).c_str() : "none");
    std::printf("Format: %s\n", FormatText(m).c_str());
    if (m.Get(kSmoothResizing).checked)
        std::printf("Resizing: smooth, %s filter\n", FilterName(m.Filter()));
    else
        std::printf("Resizing: exact (cubic interpolation for TIFF, PNG and WebP, transparency "
                    "flattened onto white; point sampling for JPEG and BMP)\n");
    FilePlan plan;
    std::string reason;
    // The first file as the run will name and size it.
    if (!list.Empty() && m.PlanFile(0, plan, reason))
        std::printf("First file: %s %s x %s -> %s %d x %d\n", list.Text(0).c_str(),
                    m.Get(kInWidth).text.c_str(), m.Get(kInHeight).text.c_str(),
                    FileNamePart(plan.output).c_str(), plan.outWidth, plan.outHeight);
    const Share& share = o.share;
    if (share.jobs > 1 || share.shards > 1)
        std::printf("Workers: %d, shard %d/%d\n", share.jobs, share.shard, share.shards);
    std::fflush(stdout);
}

void DryRun(ScaleDialogModel& m, const Options& o) {
    for (int i = 0; i < m.List().Count(); ++i) {
        if (!o.share.Kept(i)) continue;
        FilePlan plan;
        std::string reason;
        if (m.PlanFile(i, plan, reason))
            std::printf("%s -> %s %d x %d\n", plan.source.c_str(), plan.output.c_str(), plan.outWidth,
                        plan.outHeight);
        else
            std::printf("%s -> (%s)\n", JoinPath(m.SourceFolder(), m.List().Text(i)).c_str(), reason.c_str());
    }
}

// The files the run converts, in this process or in workers.
void Convert(ScaleDialogModel& model, HeadlessView& view, const Options& o, Tally& tally) {
    model.InstallProgress();
    view.total = o.share.CountKept(model.List().Count());
    view.bar = !o.quiet && platform::IsTerminal(2);
    if (o.share.jobs == 1) {
        model.SetPositionFilter([&o](int i) { return o.share.Takes(0, i); });
        view.finished = [&tally](const FileOutcome& r) { tally.Add(r); };
        RunModel(model, view);
    } else {
        RunWorkers(model, view, o.share, o.quiet, tally);
    }
    if (view.bar || (!o.quiet && platform::IsTerminal(2))) HeadlessView::ClearBar();
}

// The summary line, the report and the exit status. A run asked to stop
// accounts for every file it did not convert and ends as 128 + the signal.
int Finish(const Options& o, const std::vector<std::string>& sources, Tally& tally, double seconds) {
    const int signal = platform::InterruptSignal();
    if (signal)
        tally.AccountMissing(o.share, sources, -1, FileOutcome::Status::Interrupted,
                             "interrupted by " + platform::SignalName(signal));
    // A worker stopped on its own leaves a file interrupted: a failure of
    // the run.
    if (!signal) tally.failed += std::exchange(tally.interrupted, 0);
    int status = tally.failed > 0 || tally.workerLost ? 1 : 0;
    if (!o.report.empty() && !WriteReport(o.report, tally)) {
        std::fprintf(stderr, "Tolvane: the report %s could not be written\n", o.report.c_str());
        status = 1;
    }
    if (!signal) {
        std::fprintf(stderr, "DONE: %d converted, %d with warnings, %d failed, %d skipped in %.2f s\n",
                     tally.converted, tally.warned, tally.failed, tally.skipped, seconds);
        return status;
    }
    std::fprintf(stderr,
                 "INTERRUPTED by %s: %d converted, %d with warnings, %d failed, %d skipped, %d not converted in %.2f s\n",
                 platform::SignalName(signal).c_str(), tally.converted, tally.warned, tally.failed, tally.skipped,
                 tally.interrupted, seconds);
    return 128 + signal;
}

int Run(const Options& o) {
    const auto start = std::chrono::steady_clock::now();
    platform::CatchInterrupts();
    const WorkingFolder working;
    HeadlessView view;
    ScaleDialogModel model(view, ReadProcessorFile(kProcessorFile));
    view.model = &model;
    model.SetKeepSources(false);
    model.SetListEveryName(true);
    model.SetStrict(o.strict);
    if (!o.dest.empty()) model.SetDestination(platform::AbsolutePath(o.dest));
    std::string error;
    view.selection = SelectionFor(o.inputs, error);
    if (view.selection.empty()) throw UsageError(error);
    model.Click(kSelectImage);
    // Files that are not images keep their places and fail there.
    if (!view.message.empty()) std::fprintf(stderr, "Tolvane: %s\n", view.message.c_str());
    ApplyOptions(model, o);
    // The window's refusal of a size the library cannot make, as a usage error.
    if (const std::string words = model.OutputLimitWords(); !words.empty()) throw UsageError(words);
    // A missing destination is made, parents and all, once the options are
    // known to be right; a dry run makes nothing.
    bool made = false;
    if (!o.dest.empty() && !o.dryRun && !platform::IsDirectory(o.dest)) {
        const std::string words = platform::MakeFolders(o.dest);
        if (!words.empty()) throw UsageError("the destination " + o.dest + " cannot be made: " + words);
        made = true;
    }
    PrintSettings(model, o, made);
    if (o.dryRun) {
        DryRun(model, o);
        return 0;
    }
    Tally tally;
    Convert(model, view, o, tally);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return Finish(o, ListedSources(model), tally, seconds);
}

}  // namespace

int RunBatch(const std::vector<std::string>& args) {
    try {
        const Options o = Parse(args);
        if (o.help) {
            std::fputs(kBatchUsage, stdout);
            return 0;
        }
        if (o.version) {
            std::printf("%s\nORVIX_0500 library version %s\n", kProgramVersion, GetDll_Version());
            return 0;
        }
        return Run(o);
    } catch (const UsageError& e) {
        std::fprintf(stderr, "Tolvane: %s\nTry 'Tolvane --batch --help'.\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Tolvane: %s\n", e.what());
        return 1;
    }
}

}  // namespace tolvane
