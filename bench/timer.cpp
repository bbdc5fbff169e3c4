// In-process timings for the peer comparisons: medians of RUNS runs in
// milliseconds, so that no process start or decode is counted where the
// peers' figures exclude them too.
//   timer scale FILE FACTOR [RUNS] [--kernels K] [--portable] [--verbose] [--out FILE.ppm]
//       ScaleImage in memory on a decoded PPM/PGM; prints "WxH ms min max"
//       (the median, fastest and slowest run). Every
//       run scales into a fresh output, made and released inside the timed
//       span, as callers do (and as cv::resize returns a new array). K is
//       portable, avx2 or avx512 (the widest the machine runs by default;
//       the kernels actually used go to stderr). --verbose prints each
//       run's time, page faults and the kernel's huge-page counters.
//   timer resample FILE FACTOR [RUNS] [--kernels K] [--out FILE.ppm]
//       ResampleImage with Lanczos3 in memory, to trunc(W f + 0.5) x
//       trunc(H f + 0.5), a fresh output per run; prints and chooses
//       kernels as scale does.
//   timer read FILE [RUNS]        ReadImage of the whole file; prints "ms".
//   timer thumb FILE SIZE [RUNS]  an in-memory thumbnail through its header
//                                 file, as the batch program makes them; prints "ms".
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "library.h"
#include "processing/resample.h"
#include "processing/scale.h"

namespace {

int Usage(const char* self) {
    std::fprintf(stderr,
                 "usage: %s scale FILE FACTOR [RUNS] [--portable] [--out FILE.ppm]\n"
                 "       %s resample FILE FACTOR [RUNS] [--kernels portable|avx2|avx512] [--out FILE.ppm]\n"
                 "       %s read FILE [RUNS]\n"
                 "       %s thumb FILE SIZE [RUNS]\n",
                 self, self, self, self);
    return 2;
}

void SetName(ImgClass& img, const char* name) {
    std::snprintf(img.ImgStruct.FileName, sizeof img.ImgStruct.FileName, "%s", name);
}

// Median milliseconds of runs calls of job; -1 when a call failed.
double MedianMs(int runs, const std::function<bool()>& job) {
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (job()) {
            std::fprintf(stderr, "failed: %s\n", Get_Last_Error());
            return -1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    return ms[ms.size() / 2];
}

// The huge-page counters of /proc/vmstat that tell how a fault was served.
struct VmCounters {
    long thpAlloc = 0, thpFallback = 0, compactStall = 0;
    static VmCounters Now() {
        VmCounters c;
        std::ifstream in("/proc/vmstat");
        std::string name;
        long value;
        while (in >> name >> value) {
            if (name == "thp_fault_alloc") c.thpAlloc = value;
            else if (name == "thp_fault_fallback") c.thpFallback = value;
            else if (name == "compact_stall") c.compactStall = value;
        }
        return c;
    }
};

long MinorFaults() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_minflt;
}

int Runs(int argc, char** argv, int at) { return at < argc ? std::max(1, std::atoi(argv[at])) : 5; }

// The options of the scale and resample modes.
struct TimerOptions {
    int runs = 5;
    bool verbose = false;
    const char* out = nullptr;
    std::string kernels = "best";  // portable, avx2, avx512 or best
    bool ok = true;
};

TimerOptions ParseOptions(int argc, char** argv, int from) {
    TimerOptions o;
    for (int i = from; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--portable") o.kernels = "portable";
        else if (a == "--kernels" && i + 1 < argc) o.kernels = argv[++i];
        else if (a == "--verbose") o.verbose = true;
        else if (a == "--out" && i + 1 < argc) o.out = argv[++i];
        else o.runs = std::max(1, std::atoi(argv[i]));
    }
    o.ok = o.kernels == "portable" || o.kernels == "avx2" || o.kernels == "avx512" || o.kernels == "best";
    return o;
}

// The kernel set of either engine by name, and the name of what it got.
template <typename K>
K KernelsNamed(const std::string& name) {
    return name == "portable" ? K::Portable : name == "avx2" ? K::Avx2 : name == "avx512" ? K::Avx512 : K::Best;
}
template <typename K>
const char* KernelName(K k) {
    return k == K::Avx512 ? "avx512" : k == K::Avx2 ? "avx2" : k == K::Portable ? "portable" : "best";
}

// Times o.runs calls of make, each into a fresh output made and released
// inside the timed span; prints "WxH median min max" and writes the last
// output to --out.
int TimeFresh(const TimerOptions& o, const std::function<bool(ImgClass&)>& make) {
    ImgClass dst;
    std::vector<double> times;
    for (int run = 0; run < o.runs; ++run) {
        const VmCounters vm = o.verbose ? VmCounters::Now() : VmCounters{};
        const long faults = MinorFaults();
        const auto start = std::chrono::steady_clock::now();
        bool failed;
        {
            ImgClass fresh;
            failed = make(fresh);
            // The last run's output is kept for --out and the size.
            if (run + 1 == o.runs) std::swap(fresh.ImgStruct, dst.ImgStruct);
        }
        const double t = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        if (failed) {
            std::fprintf(stderr, "failed: %s\n", Get_Last_Error());
            return 1;
        }
        times.push_back(t);
        if (o.verbose) {
            const VmCounters now = VmCounters::Now();
            std::fprintf(stderr, "run %d: %.2f ms, %ld minor faults, %ld huge pages, %ld fallbacks, %ld compaction stalls\n",
                         run, t, MinorFaults() - faults, now.thpAlloc - vm.thpAlloc,
                         now.thpFallback - vm.thpFallback, now.compactStall - vm.compactStall);
        }
    }
    std::sort(times.begin(), times.end());
    std::printf("%ux%u %.2f %.2f %.2f\n", dst.ImgStruct.Width, dst.ImgStruct.Height, times[times.size() / 2],
                times.front(), times.back());
    if (o.out) {
        SetName(dst, o.out);
        if ((dst.ImgStruct.Samples == 3 ? Write_8BitPPM(&dst) : Write_8BitPGM(&dst))) {
            std::fprintf(stderr, "cannot write %s: %s\n", o.out, Get_Last_Error());
            return 1;
        }
    }
    return 0;
}

bool ReadSource(const char* path, ImgClass& src) {
    SetName(src, path);
    if (!ReadImage(false, &src)) return true;
    std::fprintf(stderr, "cannot read %s: %s\n", path, Get_Last_Error());
    return false;
}

int Scale(int argc, char** argv) {
    const double factor = std::atof(argv[3]);
    const TimerOptions o = ParseOptions(argc, argv, 4);
    if (!o.ok) return Usage(argv[0]);
    using K = orvix::CScaleImage::Kernels;
    std::fprintf(stderr, "kernels: %s\n", KernelName(orvix::Scaler().UseKernels(KernelsNamed<K>(o.kernels))));
    ImgClass src;
    if (!ReadSource(argv[2], src)) return 1;
    return TimeFresh(o, [&](ImgClass& out) { return ScaleImage(&src, factor, -1.0, &out); });
}

int Resample(int argc, char** argv) {
    const double factor = std::atof(argv[3]);
    const TimerOptions o = ParseOptions(argc, argv, 4);
    if (!o.ok) return Usage(argv[0]);
    using K = orvix::CResample::Kernels;
    std::fprintf(stderr, "kernels: %s\n", KernelName(orvix::Resampler().UseKernels(KernelsNamed<K>(o.kernels))));
    ImgClass src;
    if (!ReadSource(argv[2], src)) return 1;
    // The size the orvix tool asks for at this factor.
    const int width = static_cast<int>(src.ImgStruct.Width * factor + 0.5);
    const int height = static_cast<int>(src.ImgStruct.Height * factor + 0.5);
    if (width < 1 || height < 1) {
        std::fprintf(stderr, "factor %g leaves no image\n", factor);
        return 1;
    }
    return TimeFresh(o, [&](ImgClass& out) { return ResampleImage(&src, &out, width, height, FILTER_LANCZOS3); });
}

int Read(int argc, char** argv) {
    const double ms = MedianMs(Runs(argc, argv, 3), [&] {
        ImgClass img;
        SetName(img, argv[2]);
        return ReadImage(false, &img);
    });
    if (ms < 0) return 1;
    std::printf("%.2f\n", ms);
    return 0;
}

int Thumb(int argc, char** argv) {
    const int size = std::atoi(argv[3]);
    std::string header = std::string(Get_Temp_Path()) + "orvix_timer_" + std::to_string(getpid()) + ".hdr";
    if (Make_Local_Header(argv[2], header.c_str())) {
        std::fprintf(stderr, "no header for %s: %s\n", argv[2], Get_Last_Error());
        return 1;
    }
    char none[1] = "";
    const double ms = MedianMs(Runs(argc, argv, 4), [&] {
        ImgClass thumb;
        return Make_Local_Tnl(90, size, header.data(), none, &thumb) || !thumb.ImgStruct.ImgData;
    });
    std::remove(header.c_str());
    if (ms < 0) return 1;
    std::printf("%.2f\n", ms);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 4 && !std::strcmp(argv[1], "scale")) return Scale(argc, argv);
    if (argc >= 4 && !std::strcmp(argv[1], "resample")) return Resample(argc, argv);
    if (argc >= 3 && !std::strcmp(argv[1], "read")) return Read(argc, argv);
    if (argc >= 4 && !std::strcmp(argv[1], "thumb")) return Thumb(argc, argv);
    return Usage(argv[0]);
}
