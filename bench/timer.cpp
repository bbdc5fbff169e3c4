// In-process timings for the peer comparisons: medians of RUNS runs in
// milliseconds, so that no process start or decode is counted where the
// peers' figures exclude them too.
//   timer scale FILE FACTOR [RUNS] [--portable] [--out FILE.ppm]
//       ScaleImage in memory on a decoded PPM/PGM; prints "WxH ms".
//   timer read FILE [RUNS]        ReadImage of the whole file; prints "ms".
//   timer thumb FILE SIZE [RUNS]  an in-memory thumbnail through its header
//                                 file, as the batch program makes them; prints "ms".
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "library.h"
#include "processing/scale.h"

namespace {

int Usage(const char* self) {
    std::fprintf(stderr,
                 "usage: %s scale FILE FACTOR [RUNS] [--portable] [--out FILE.ppm]\n"
                 "       %s read FILE [RUNS]\n"
                 "       %s thumb FILE SIZE [RUNS]\n",
                 self, self, self);
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

int Runs(int argc, char** argv, int at) { return at < argc ? std::max(1, std::atoi(argv[at])) : 5; }

int Scale(int argc, char** argv) {
    const double factor = std::atof(argv[3]);
    int runs = 5;
    const char* out = nullptr;
    for (int i = 4; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--portable")) orvix::Scaler().UseKernels(orvix::CScaleImage::Kernels::Portable);
        else if (!std::strcmp(argv[i], "--out") && i + 1 < argc) out = argv[++i];
        else runs = std::max(1, std::atoi(argv[i]));
    }
    ImgClass src, dst;
    SetName(src, argv[2]);
    if (ReadImage(false, &src)) {
        std::fprintf(stderr, "cannot read %s: %s\n", argv[2], Get_Last_Error());
        return 1;
    }
    const double ms = MedianMs(runs, [&] { return ScaleImage(&src, factor, -1.0, &dst); });
    if (ms < 0) return 1;
    std::printf("%ux%u %.2f\n", dst.ImgStruct.Width, dst.ImgStruct.Height, ms);
    if (out) {
        SetName(dst, out);
        if ((dst.ImgStruct.Samples == 3 ? Write_8BitPPM(&dst) : Write_8BitPGM(&dst))) {
            std::fprintf(stderr, "cannot write %s: %s\n", out, Get_Last_Error());
            return 1;
        }
    }
    return 0;
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
    if (argc >= 3 && !std::strcmp(argv[1], "read")) return Read(argc, argv);
    if (argc >= 4 && !std::strcmp(argv[1], "thumb")) return Thumb(argc, argv);
    return Usage(argv[0]);
}
