// Speed of the scaling engine: whole images at the factors the batch
// program uses, one line, and the two passes on their own.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "library.h"
#include "photo.h"
#include "processing/scale.h"

using bench::kWidth;
using bench::Photo;
using orvix::CScaleImage;

namespace {

// Kernel argument: 0 portable, 1 AVX2, 2 AVX-512 (each falling back to
// what the machine runs).
CScaleImage::Kernels KernelsOf(int64_t arg) {
    return arg == 0 ? CScaleImage::Kernels::Portable
                    : arg == 1 ? CScaleImage::Kernels::Avx2 : CScaleImage::Kernels::Avx512;
}

// Args: factor in thousandths, samples, kernels.
void BM_ScaleImage(benchmark::State& state) {
    const double factor = double(state.range(0)) / 1000.0;
    ImgClass& src = Photo(int(state.range(1)));
    orvix::Scaler().UseKernels(KernelsOf(state.range(2)));
    double pixels = 0;
    for (auto _ : state) {
        // A fresh output each time, as callers pass it: its first-touch page
        // faults and its release are part of the cost.
        ImgClass dst;
        if (ScaleImage(&src, factor, -1.0, &dst)) state.SkipWithError(Get_Last_Error());
        benchmark::DoNotOptimize(dst.ImgStruct.ImgData);
        pixels = double(dst.ImgStruct.Width) * dst.ImgStruct.Height;
    }
    orvix::Scaler().UseKernels(CScaleImage::Kernels::Best);
    state.counters["out_Mpx/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ScaleImage)
    ->ArgNames({"f1000", "samples", "simd"})
    ->ArgsProduct({{250, 500, 1700, 2000}, {3}, {2}})
    ->ArgsProduct({{250, 500, 1700, 2000}, {1}, {2}})
    ->ArgsProduct({{500, 2000}, {3}, {0, 1}})
    ->Unit(benchmark::kMillisecond);

// ResampleImage at the batch program's reductions: colour through the
// integer kernels beside colour with alpha, which is filtered premultiplied
// on the portable path. Args: factor in thousandths, samples.
void BM_ResampleImage(benchmark::State& state) {
    const double factor = double(state.range(0)) / 1000.0;
    const int samples = int(state.range(1));
    static ImgClass withAlpha;
    if (samples == 4 && !withAlpha.ImgStruct.ImgData) bench::MakePhoto(withAlpha, kWidth, bench::kHeight, 4);
    ImgClass& src = samples == 4 ? withAlpha : Photo(samples);
    const int width = int(kWidth * factor + 0.5);
    double pixels = 0;
    for (auto _ : state) {
        ImgClass dst;
        if (ResampleImage(&src, &dst, width, 0, FILTER_LANCZOS3)) state.SkipWithError(Get_Last_Error());
        benchmark::DoNotOptimize(dst.ImgStruct.ImgData);
        pixels = double(dst.ImgStruct.Width) * dst.ImgStruct.Height;
    }
    state.counters["out_Mpx/s"] = benchmark::Counter(pixels / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ResampleImage)
    ->ArgNames({"f1000", "samples"})
    ->ArgsProduct({{250, 500}, {3, 4}})
    ->Unit(benchmark::kMillisecond);

// One 3000-pixel line through the export.
void BM_ScaleLineClr(benchmark::State& state) {
    const double factor = double(state.range(0)) / 1000.0;
    const bool bw = state.range(1) == 1;
    const ImgStruct& s = Photo(bw ? 1 : 3).ImgStruct;
    std::vector<unsigned char> out(size_t(kWidth * factor + 8) * 3);
    int made = 0;
    for (auto _ : state) {
        made = ScaleLineClr(bw, 0, int(kWidth), factor, s.ImgData + 100 * size_t{s.LineSize}, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["out_px/s"] = benchmark::Counter(made, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_ScaleLineClr)->ArgNames({"f1000", "samples"})->ArgsProduct({{500, 2000}, {1, 3}});

// The horizontal pass alone: one source row (plan made beforehand, as in
// ScaleImage).
void BM_HorizontalRow(benchmark::State& state) {
    const double factor = double(state.range(0)) / 1000.0;
    const int samples = int(state.range(1));
    const ImgStruct& s = Photo(samples).ImgStruct;
    CScaleImage& engine = orvix::Scaler();
    engine.UseKernels(KernelsOf(state.range(2)));
    CScaleImage::LinePlan plan;
    const uint32_t width = uint32_t(kWidth * factor + 0.5);
    engine.PlanLine(int(kWidth), samples, factor, width, plan);
    std::vector<unsigned char> out(size_t{width} * samples + 64);
    for (auto _ : state) {
        engine.ScaleRow(plan, s.ImgData + 100 * size_t{s.LineSize}, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    engine.UseKernels(CScaleImage::Kernels::Best);
    state.counters["samples/s"] =
        benchmark::Counter(double(width) * samples, benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_HorizontalRow)
    ->ArgNames({"f1000", "samples", "simd"})
    ->ArgsProduct({{250, 500, 2000}, {1, 3}, {0, 1, 2}});

// The vertical pass alone: one output row of 6000 RGB pixels from four rows.
void BM_VerticalRow(benchmark::State& state) {
    CScaleImage& engine = orvix::Scaler();
    engine.UseKernels(KernelsOf(state.range(0)));
    const size_t bytes = 6000 * 3;
    const ImgStruct& s = Photo(3).ImgStruct;
    std::vector<unsigned char> out(bytes);
    const unsigned char* rows[4];
    std::vector<unsigned char> data(4 * bytes);
    for (size_t i = 0; i < data.size(); ++i) data[i] = s.ImgData[i % (size_t{s.LineSize} * 8)];
    for (int r = 0; r < 4; ++r) rows[r] = data.data() + r * bytes;
    for (auto _ : state) {
        engine.InterpolateRows(rows, 137, bytes, out.data(), CScaleImage::Floor::One);
        benchmark::DoNotOptimize(out.data());
    }
    engine.UseKernels(CScaleImage::Kernels::Best);
    state.counters["samples/s"] = benchmark::Counter(double(bytes), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_VerticalRow)->ArgNames({"simd"})->Arg(0)->Arg(1)->Arg(2);

}  // namespace
