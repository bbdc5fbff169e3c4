// ResampleImage on arbitrary small images and sizes: the first bytes choose
// the source's shape, the output's size and the filter, the rest are the
// pixels. Every kernel set the machine runs must give the portable bytes.
#include <cstdlib>
#include <cstring>

#include "library.h"
#include "processing/resample.h"

namespace {

using orvix::CResample;

bool Resample(CResample::Kernels kernels, ImgClass& src, int width, int height, int filter, ImgClass& out) {
    orvix::Resampler().UseKernels(kernels);
    return ResampleImage(&src, &out, width, height, filter);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 7) return 0;
    ImgClass src;
    ImgStruct& s = src.ImgStruct;
    s.Width = 1 + data[0] % 96;
    s.Height = 1 + data[1] % 96;
    s.Samples = data[2] & 1 ? 3 : 1;
    s.Bits = 8;
    s.BgrOrder = (data[2] >> 1) & 1;
    s.LineSize = (s.Width * uint32_t(s.Samples) + 3u) & ~3u;
    const int width = 1 + data[3] % 200 - (data[2] & 4 ? 0 : 1);  // 0: from the aspect ratio
    const int height = 1 + data[4] % 200;
    const int filter = data[5] % 4;
    if (src.AllocData()) return 0;
    const size_t bytes = size_t{s.LineSize} * s.Height;
    for (size_t i = 0; i < bytes; ++i) s.ImgData[i] = data[6 + i % (size - 6)] ^ uint8_t(i * 37);

    ImgClass portable;
    if (Resample(CResample::Kernels::Portable, src, width, height, filter, portable)) std::abort();
    const ImgStruct& p = portable.ImgStruct;
    for (CResample::Kernels k : {CResample::Kernels::Avx2, CResample::Kernels::Avx512}) {
        ImgClass vector;
        if (Resample(k, src, width, height, filter, vector)) std::abort();
        const ImgStruct& v = vector.ImgStruct;
        if (v.Width != p.Width || v.Height != p.Height ||
            std::memcmp(v.ImgData, p.ImgData, size_t{p.LineSize} * p.Height) != 0)
            std::abort();
    }
    orvix::Resampler().UseKernels(CResample::Kernels::Best);
    return 0;
}
