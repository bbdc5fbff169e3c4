// Reads a PPM or PGM file and times ScaleImage on it in memory: prints the
// output size and the median of the runs in milliseconds.
//   scale_timer FILE FACTOR [RUNS] [--portable] [--out FILE.ppm]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "library.h"
#include "processing/scale.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s FILE FACTOR [RUNS] [--portable] [--out FILE.ppm]\n", argv[0]);
        return 2;
    }
    const double factor = std::atof(argv[2]);
    int runs = 5;
    const char* out = nullptr;
    for (int i = 3; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--portable")) orvix::Scaler().UseKernels(orvix::CScaleImage::Kernels::Portable);
        else if (!std::strcmp(argv[i], "--out") && i + 1 < argc) out = argv[++i];
        else runs = std::max(1, std::atoi(argv[i]));
    }
    ImgClass src, dst;
    std::snprintf(src.ImgStruct.FileName, sizeof src.ImgStruct.FileName, "%s", argv[1]);
    if (ReadImage(false, &src)) {
        std::fprintf(stderr, "cannot read %s: %s\n", argv[1], Get_Last_Error());
        return 1;
    }
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        if (ScaleImage(&src, factor, -1.0, &dst)) {
            std::fprintf(stderr, "ScaleImage failed: %s\n", Get_Last_Error());
            return 1;
        }
        ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(ms.begin(), ms.end());
    std::printf("%ux%u %.2f\n", dst.ImgStruct.Width, dst.ImgStruct.Height, ms[ms.size() / 2]);
    if (out) {
        std::snprintf(dst.ImgStruct.FileName, sizeof dst.ImgStruct.FileName, "%s", out);
        if ((dst.ImgStruct.Samples == 3 ? Write_8BitPPM(&dst) : Write_8BitPGM(&dst))) {
            std::fprintf(stderr, "cannot write %s: %s\n", out, Get_Last_Error());
            return 1;
        }
    }
    return 0;
}
