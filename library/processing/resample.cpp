// The antialiasing resampler: filters, weight plans, the portable passes,
// the two row orders and the exports ResampleImage and
// Low_Memory_ResampleImage. The vector passes are in resample_simd.cpp.
#include "processing/resample.h"

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "codecs/tiff.h"
#include "image_ops.h"
#include "library.h"
#include "processing/cpu.h"
#include "processing/resample_simd.h"
#include "progress.h"
#include "utility.h"

namespace orvix {
namespace {

using AxisPlan = CResample::AxisPlan;
using Kernels = CResample::Kernels;

constexpr double kPi = 3.14159265358979323846;

double Sinc(double x) {
    if (x == 0.0) return 1.0;
    const double px = kPi * x;
    return std::sin(px) / px;
}

double Lanczos3(double x) { return std::fabs(x) < 3.0 ? Sinc(x) * Sinc(x / 3.0) : 0.0; }

// The Mitchell-Netravali family of cubics with parameters b and c.
double Cubic(double x, double b, double c) {
    x = std::fabs(x);
    if (x < 1.0)
        return ((12 - 9 * b - 6 * c) * x * x * x + (-18 + 12 * b + 6 * c) * x * x + (6 - 2 * b)) / 6.0;
    if (x < 2.0)
        return ((-b - 6 * c) * x * x * x + (6 * b + 30 * c) * x * x + (-12 * b - 48 * c) * x +
                (8 * b + 24 * c)) / 6.0;
    return 0.0;
}

double Mitchell(double x) { return Cubic(x, 1.0 / 3.0, 1.0 / 3.0); }
double CatmullRom(double x) { return Cubic(x, 0.0, 0.5); }
double Box(double) { return 1.0; }

const CResample::Filter kFilters[] = {
    {3.0, Lanczos3, false},  // in FILTER_* order
    {2.0, Mitchell, false},
    {2.0, CatmullRom, false},
    {0.5, Box, true},
};

// The box's window in integers: when shrinking, the inputs whose centres
// lie in (j n / m, (j + 1) n / m]; when enlarging, the input under the
// output's centre.
void FlatWindow(int64_t n, int64_t m, int64_t j, int& lo, int& hi) {
    if (n >= m) {
        lo = int((2 * j * n + m) / (2 * m));
        hi = int((2 * (j + 1) * n + m) / (2 * m));
    } else {
        lo = int(((2 * j + 1) * n) / (2 * m));
        hi = lo + 1;
    }
}

int16_t Saturate16(int32_t v) {
    return static_cast<int16_t>(std::clamp<int32_t>(v, INT16_MIN, INT16_MAX));
}

unsigned char SaturateByte(int32_t v) { return static_cast<unsigned char>(std::clamp<int32_t>(v, 0, 255)); }

int32_t Rounded(int32_t sum, int shift) { return (sum + (int32_t{1} << (shift - 1))) >> shift; }

// The largest number of weight bits (at most `most`) for which no weight
// leaves 16 bits and no sum of products with inputs up to `input` leaves 32.
int WeightBits(double largest, double absoluteSum, double input, int most) {
    int bits = most;
    while (bits > 1) {
        const double scale = std::ldexp(1.0, bits);
        if (largest * scale + 1.0 <= 32767.0 && (absoluteSum * scale + 64.0) * input < 2147483647.0)
            break;
        --bits;
    }
    return bits;
}

// ---- Portable passes --------------------------------------------------------------

template <typename In, typename Out>
void VerticalPortable(const In* const* rows, const int16_t* w, int taps, int shift, size_t from, size_t count,
                      Out* out) {
    for (size_t i = from; i < count; ++i) {
        int32_t sum = 0;
        for (int t = 0; t < taps; ++t) sum += int32_t{w[t]} * int32_t{rows[t][i]};
        const int32_t v = Rounded(sum, shift);
        if constexpr (sizeof(Out) == 1)
            out[i] = SaturateByte(v);
        else
            out[i] = Saturate16(v);
    }
}

template <typename Out>
void HorizontalPortable(const int16_t* in, const AxisPlan& plan, int samples, int shift, size_t from,
                        size_t to, Out* out) {
    const int taps = plan.taps;
    for (size_t k = from; k < to; ++k) {
        const int16_t* w = plan.weights.data() + k * size_t(taps);
        const int16_t* p = in + size_t(plan.first[k]) * size_t(samples);
        for (int c = 0; c < samples; ++c) {
            int32_t sum = 0;
            for (int t = 0; t < taps; ++t) sum += int32_t{w[t]} * int32_t{p[t * samples + c]};
            const int32_t v = Rounded(sum, shift);
            if constexpr (sizeof(Out) == 1)
                out[k * size_t(samples) + size_t(c)] = SaturateByte(v);
            else
                out[k * size_t(samples) + size_t(c)] = Saturate16(v);
        }
    }
}

// What both exports check of a source and a request before any work.
struct Request {
    const CResample::Filter* filter = nullptr;
    int width = 0;
    int height = 0;
};

bool CheckRequest(const char* who, ImgClass& src, int width, int height, int filter, Request& r) {
    ImgStruct& s = src.ImgStruct;
    if (!s.ImgData) {
        // The source's own file, read as it is.
        if (ReadImage(false, &src)) return true;
        if (!s.ImgData) return PostError("%s %s: no pixels were read", who, s.FileName);
    }
    if (s.Width == 0 || s.Height == 0)
        return PostError("%s the source is %u x %u pixels", who, s.Width, s.Height);
    if (s.Samples < 1 || s.Samples > 4 || s.Bits != 8)
        return PostError("%s %d samples of %d bits: only 8-bit grey and RGB images, with or without "
                         "alpha, are resampled",
                         who, s.Samples, s.Bits);
    if (uint64_t{s.LineSize} < uint64_t{s.Width} * uint64_t(s.Samples) ||
        s.Width > uint32_t(std::numeric_limits<int>::max()) || s.Height > uint32_t(std::numeric_limits<int>::max()))
        return PostError("%s line size %u does not hold %u pixels", who, s.LineSize, s.Width);
    r.filter = CResample::FilterFor(filter);
    if (!r.filter) return PostError("%s unknown filter %d", who, filter);
    r.width = width;
    r.height = height;
    if (!CResample::OutputSize(s.Width, s.Height, r.width, r.height))
        return PostError("%s %u x %u asked for %d x %d gives no image", who, s.Width, s.Height, width, height);
    const uint64_t pixels = uint64_t(r.width) * uint64_t(r.height);
    const uint64_t line = Utility::RoundUp4(uint64_t(r.width) * uint64_t(s.Samples));
    if (pixels > Lib().maxPixels || line > UINT32_MAX - 1024)
        return PostError("%s %d x %d pixels are more than the %llu the library makes", who, r.width, r.height,
                         static_cast<unsigned long long>(Lib().maxPixels));
    return false;
}

// The output's record: the size asked for, src's samples, resolution and
// unit, R,G,B order, plain.
void DescribeOutput(const ImgStruct& s, const Request& r, ImgStruct& d) {
    d.Width = uint32_t(r.width);
    d.Height = uint32_t(r.height);
    d.Samples = s.Samples;
    d.Bits = 8;
    d.Resolution = s.Resolution;
    d.ResUnit = s.ResUnit;
    d.BgrOrder = 0;
    d.XOrigin = d.YOrigin = 0;
    d.Planar = 0;
    d.LineSize = Utility::RoundUp4(uint32_t(r.width) * uint32_t(s.Samples));
}

}  // namespace

// ---- Filters and plans ------------------------------------------------------------------

const CResample::Filter* CResample::FilterFor(int code) {
    if (code < 0 || code >= int(std::size(kFilters))) return nullptr;
    return &kFilters[code];
}

void CResample::PlanAxis(int inputs, int outputs, const Filter& filter, bool wideInput, int tapMultiple,
                         AxisPlan& plan) {
    plan.inputs = inputs;
    plan.outputs = outputs;
    const double scale = double(inputs) / double(outputs);
    const double widen = std::max(scale, 1.0);
    const double reach = filter.reach * widen;

    // The windows and their exact weights, normalised to sum 1.
    struct Window {
        int lo, hi;
    };
    std::vector<Window> windows(static_cast<size_t>(outputs));
    std::vector<double> exact;
    std::vector<size_t> start(size_t(outputs) + 1);
    int widest = 1;
    double largest = 0.0, absoluteSum = 0.0;
    for (int j = 0; j < outputs; ++j) {
        const double c = (j + 0.5) * scale;
        // Clamped before the conversion: a window may reach past an int.
        int lo = int(std::clamp(std::floor(c - reach + 0.5), 0.0, double(inputs)));
        int hi = int(std::clamp(std::floor(c + reach + 0.5), 0.0, double(inputs)));
        if (filter.flat) FlatWindow(inputs, outputs, j, lo, hi);
        if (hi <= lo) {  // cannot happen for a centre inside the axis; kept safe
            lo = std::clamp(int(c), 0, inputs - 1);
            hi = lo + 1;
        }
        start[size_t(j)] = exact.size();
        double sum = 0.0;
        for (int i = lo; i < hi; ++i) {
            const double w = filter.kernel((i + 0.5 - c) / widen);
            exact.push_back(w);
            sum += w;
        }
        if (!(std::fabs(sum) > 1e-12)) {
            // No weight at all: the nearest sample.
            const int nearest = std::clamp(int(c), lo, hi - 1);
            for (int i = lo; i < hi; ++i) exact[start[size_t(j)] + size_t(i - lo)] = i == nearest ? 1.0 : 0.0;
            sum = 1.0;
        }
        double absolute = 0.0;
        for (size_t k = start[size_t(j)]; k < exact.size(); ++k) {
            exact[k] /= sum;
            largest = std::max(largest, std::fabs(exact[k]));
            absolute += std::fabs(exact[k]);
        }
        absoluteSum = std::max(absoluteSum, absolute);
        windows[size_t(j)] = {lo, hi};
        widest = std::max(widest, hi - lo);
    }
    start[size_t(outputs)] = exact.size();

    plan.taps = (widest + tapMultiple - 1) / tapMultiple * tapMultiple;
    const double input = wideInput ? 32768.0 : 255.0;
    plan.bits = WeightBits(largest, absoluteSum, input, wideInput ? 16 : 22);
    const double unit = std::ldexp(1.0, plan.bits);
    plan.first.assign(size_t(outputs), 0);
    plan.weights.assign(size_t(outputs) * size_t(plan.taps), 0);
    for (int j = 0; j < outputs; ++j) {
        plan.first[size_t(j)] = windows[size_t(j)].lo;
        // Each weight is the step of the rounded running sum, so the weights
        // sum to exactly 2^bits and no weight is off by a whole unit.
        int16_t* w = plan.weights.data() + size_t(j) * size_t(plan.taps);
        double running = 0.0;
        int64_t before = 0;
        const size_t from = start[size_t(j)], to = start[size_t(j) + 1];
        for (size_t k = from; k < to; ++k) {
            running += exact[k];
            const int64_t now = k + 1 == to ? int64_t(unit) : std::llround(running * unit);
            w[k - from] = static_cast<int16_t>(now - before);
            before = now;
        }
    }
}

bool CResample::OutputSize(uint32_t w, uint32_t h, int& width, int& height) {
    if (w == 0 || h == 0) return false;
    const double most = double(std::numeric_limits<int>::max());
    if (width <= 0 && height <= 0) return false;
    if (width <= 0) {
        const double v = std::trunc(double(w) * double(height) / double(h) + 0.5);
        if (!(v <= most)) return false;
        width = std::max(1, int(v));
    } else if (height <= 0) {
        const double v = std::trunc(double(h) * double(width) / double(w) + 0.5);
        if (!(v <= most)) return false;
        height = std::max(1, int(v));
    }
    return true;
}

void CResample::IndexLanes(AxisPlan& plan, size_t groups) {
    plan.laneIndex.assign(groups * 32, 0);
    plan.groupFits.assign(groups, 0);
    for (size_t g = 0; g < groups; ++g) {
        const int32_t* first = plan.first.data() + 4 * g;
        if (first[3] - first[0] > 8) continue;
        // 2: all within the first 16 values, which a half-width load holds.
        plan.groupFits[g] = first[3] - first[0] <= 3 ? 2 : 1;
        uint16_t* index = plan.laneIndex.data() + 32 * g;
        for (size_t l = 0; l < 4; ++l) {
            const int at = (first[l] - first[0]) * 3;
            // R, G, B of taps t and t+1 as pairs; the fourth pair weighs 0.
            const int lane[8] = {at, at + 3, at + 1, at + 4, at + 2, at + 5, at, at};
            for (size_t i = 0; i < 8; ++i) index[8 * l + i] = uint16_t(lane[i]);
        }
    }
}

void CResample::PrepareLanes(AxisPlan& plan, int samples) const {
    plan.lanes = 0;
    plan.groups = 0;
    plan.laneWeights.clear();
    plan.laneIndex.clear();
    plan.groupFits.clear();
    if (samples != 3) return;
    const int lanes = simd::ColourLanes(kernels_);
    if (lanes == 0) return;
    const size_t groups = size_t(plan.outputs) / size_t(lanes);
    const size_t pairs = size_t(plan.taps) / 2;
    plan.lanes = lanes;
    plan.groups = groups;
    if (lanes == 4) IndexLanes(plan, groups);
    plan.laneWeights.assign(groups * pairs * size_t(lanes) * 8, 0);
    for (size_t g = 0; g < groups; ++g)
        for (size_t p = 0; p < pairs; ++p)
            for (size_t l = 0; l < size_t(lanes); ++l) {
                const int16_t* w = plan.weights.data() + (g * size_t(lanes) + l) * size_t(plan.taps) + 2 * p;
                int16_t* lane = plan.laneWeights.data() + ((g * pairs + p) * size_t(lanes) + l) * 8;
                for (int c = 0; c < 3; ++c) {
                    lane[2 * c] = w[0];
                    lane[2 * c + 1] = w[1];
                }
            }
}

// ---- Passes --------------------------------------------------------------------------------

void CResample::VerticalBytes(const unsigned char* const* rows, const AxisPlan& plan, int j, size_t count,
                              int16_t* out) const {
    const int16_t* w = plan.weights.data() + size_t(j) * size_t(plan.taps);
    const int shift = plan.bits - kFractionBits;
    const size_t done = simd::VerticalBytes(kernels_, rows, w, plan.taps, shift, count, out);
    VerticalPortable(rows, w, plan.taps, shift, done, count, out);
}

void CResample::VerticalWide(const int16_t* const* rows, const AxisPlan& plan, int j, size_t count,
                             unsigned char* out) const {
    const int16_t* w = plan.weights.data() + size_t(j) * size_t(plan.taps);
    const int shift = plan.bits + kFractionBits;
    const size_t done = simd::VerticalWide(kernels_, rows, w, plan.taps, shift, count, out);
    VerticalPortable(rows, w, plan.taps, shift, done, count, out);
}

void CResample::HorizontalToBytes(const int16_t* in, const AxisPlan& plan, int samples,
                                  unsigned char* out) const {
    const int shift = plan.bits + kFractionBits;
    const size_t done = simd::HorizontalToBytes(kernels_, in, plan, samples, shift, out);
    HorizontalPortable(in, plan, samples, shift, done, size_t(plan.outputs), out);
}

void CResample::HorizontalToWide(const int16_t* in, const AxisPlan& plan, int samples, int16_t* out) const {
    const int shift = plan.bits - kFractionBits;
    const size_t done = simd::HorizontalToWide(kernels_, in, plan, samples, shift, out);
    HorizontalPortable(in, plan, samples, shift, done, size_t(plan.outputs), out);
}

// ---- Images with alpha --------------------------------------------------------------------

namespace {

// An axis plan's weights as fractions.
std::vector<float> FractionWeights(const AxisPlan& plan) {
    std::vector<float> w(plan.weights.size());
    const float unit = std::ldexp(1.0f, -plan.bits);
    for (size_t i = 0; i < w.size(); ++i) w[i] = float(plan.weights[i]) * unit;
    return w;
}

// One output pixel from its sums of alpha-weighted colour and of alpha:
// alpha rounded and clipped, colour divided back by the alpha sum (0 where
// nothing is left), in the output's sample order.
void FinishAlphaPixel(const float* sum, size_t colours, bool swap, unsigned char* out) {
    const float a = sum[colours];
    out[colours] = SaturateByte(int32_t(std::lround(std::clamp(a, 0.0f, 255.0f))));
    for (size_t c = 0; c < colours; ++c) {
        const float v = out[colours] == 0 ? 0.0f : std::clamp(sum[c] / a, 0.0f, 255.0f);
        out[swap && colours == 3 ? 2 - c : c] = static_cast<unsigned char>(std::lround(v));
    }
}

// Adds w times the alpha-weighted samples of a row of N-sample pixels
// (alpha last) to sum.
template <size_t N>
void AddAlphaRow(const unsigned char* p, uint32_t width, float w, float* sum) {
    for (uint32_t x = 0; x < width; ++x, p += N, sum += N) {
        const float wa = w * float(p[N - 1]);
        for (size_t c = 0; c + 1 < N; ++c) sum[c] += wa * float(p[c]);
        sum[N - 1] += wa;
    }
}

// The horizontal pass over a row of vertical sums, finishing each pixel.
template <size_t N>
void AlphaRowOut(const float* column, uint32_t inputs, const AxisPlan& h, const std::vector<float>& hw,
                 bool swap, unsigned char* out) {
    const size_t taps = size_t(h.taps);
    for (int k = 0; k < h.outputs; ++k) {
        float sum[N] = {};
        const size_t first = size_t(h.first[size_t(k)]);
        const size_t end = std::min(first + taps, size_t{inputs});
        const float* w = hw.data() + size_t(k) * taps;
        for (size_t x = first; x < end; ++x) {
            const float* from = column + x * N;
            for (size_t c = 0; c < N; ++c) sum[c] += w[x - first] * from[c];
        }
        FinishAlphaPixel(sum, N - 1, swap, out + size_t(k) * N);
    }
}

}  // namespace

bool CResample::RunAlpha(const ImgStruct& s, int width, int height, const Filter& filter,
                         RowSink& sink) const {
    AxisPlan h, v;
    PlanAxis(int(s.Width), width, filter, false, 1, h);
    PlanAxis(int(s.Height), height, filter, false, 1, v);
    const std::vector<float> hw = FractionWeights(h), vw = FractionWeights(v);
    const size_t n = size_t(s.Samples);
    const size_t vTaps = size_t(v.taps);
    const auto addRow = n == 2 ? AddAlphaRow<2> : AddAlphaRow<4>;
    const auto rowOut = n == 2 ? AlphaRowOut<2> : AlphaRowOut<4>;
    const bool swap = s.BgrOrder != 0;
    // Per source column, the vertical sums of alpha-weighted colour and of
    // alpha for the current output row.
    std::vector<float> column(size_t{s.Width} * n);
    Progress progress(WriteProgress(), v.outputs);
    progress.Start();
    for (int j = 0; j < v.outputs; ++j) {
        std::fill(column.begin(), column.end(), 0.0f);
        for (size_t t = 0; t < vTaps; ++t) {
            const float w = vw[size_t(j) * vTaps + t];
            const int64_t row = int64_t{v.first[size_t(j)]} + int64_t(t);
            if (w == 0.0f || row >= int64_t{s.Height}) continue;
            addRow(s.ImgData + size_t(row) * s.LineSize, s.Width, w, column.data());
        }
        rowOut(column.data(), s.Width, h, hw, swap, sink.Row(uint32_t(j)));
        if (sink.Written(uint32_t(j))) return true;
        progress.Line(j);
    }
    return false;
}

// ---- The two row orders ----------------------------------------------------------------------

bool CResample::Run(const ImgStruct& s, int width, int height, const Filter& filter, RowSink& sink) const {
    if (s.Samples == 2 || s.Samples == 4) return RunAlpha(s, width, height, filter, sink);
    const bool horizontalFirst = HorizontalFirst(s.Height, uint32_t(height));
    AxisPlan h, v;
    // The second pass convolves intermediate values, not bytes.
    PlanAxis(int(s.Width), width, filter, !horizontalFirst, s.Samples == 1 ? 8 : 2, h);
    PlanAxis(int(s.Height), height, filter, horizontalFirst, 2, v);
    PrepareLanes(h, s.Samples);
    return horizontalFirst ? RunHorizontalFirst(s, h, v, sink) : RunVerticalFirst(s, h, v, sink);
}

bool CResample::RunVerticalFirst(const ImgStruct& s, const AxisPlan& h, const AxisPlan& v, RowSink& sink) const {
    const size_t values = size_t{s.Width} * size_t(s.Samples);
    const size_t taps = size_t(v.taps);
    const int lastRow = int(s.Height) - 1;
    // A line for the horizontal pass, zero beyond its inputs.
    std::vector<int16_t> line((size_t{s.Width} + LinePadding(h)) * size_t(s.Samples), 0);
    std::vector<const unsigned char*> rows(taps);
    Progress progress(WriteProgress(), v.outputs);
    progress.Start();
    for (int j = 0; j < v.outputs; ++j) {
        // Taps past the window weigh 0; they read the last row.
        for (size_t t = 0; t < taps; ++t)
            rows[t] = s.ImgData + size_t(std::min(v.first[size_t(j)] + int(t), lastRow)) * s.LineSize;
        VerticalBytes(rows.data(), v, j, values, line.data());
        HorizontalToBytes(line.data(), h, s.Samples, sink.Row(uint32_t(j)));
        if (sink.Written(uint32_t(j))) return true;
        progress.Line(j);
    }
    return false;
}

bool CResample::RunHorizontalFirst(const ImgStruct& s, const AxisPlan& h, const AxisPlan& v,
                                   RowSink& sink) const {
    const size_t inValues = size_t{s.Width} * size_t(s.Samples);
    const size_t values = size_t(h.outputs) * size_t(s.Samples);
    const size_t taps = size_t(v.taps);
    const int lastRow = int(s.Height) - 1;
    std::vector<int16_t> line((size_t{s.Width} + LinePadding(h)) * size_t(s.Samples), 0);
    // Source rows resampled horizontally, in a ring as deep as the window:
    // row r lives in slot r mod taps while the windows need it.
    std::vector<int16_t, AlignedAllocator<int16_t>> ring(taps * values);
    std::vector<const int16_t*> rows(taps);
    Progress progress(WriteProgress(), v.outputs);
    progress.Start();
    int next = 0;
    for (int j = 0; j < v.outputs; ++j) {
        const int first = v.first[size_t(j)];
        const int end = std::min(first + int(taps), lastRow + 1);
        for (; next < end; ++next) {
            const unsigned char* src = s.ImgData + size_t(next) * s.LineSize;
            for (size_t i = simd::Widen(kernels_, src, inValues, line.data()); i < inValues; ++i) line[i] = src[i];
            HorizontalToWide(line.data(), h, s.Samples, ring.data() + size_t(next) % taps * values);
        }
        for (size_t t = 0; t < taps; ++t)
            rows[t] = ring.data() + size_t(std::min(first + int(t), end - 1)) % taps * values;
        VerticalWide(rows.data(), v, j, values, sink.Row(uint32_t(j)));
        if (sink.Written(uint32_t(j))) return true;
        progress.Line(j);
    }
    return false;
}

bool CResample::Resample(ImgClass* src, ImgClass* dst, int width, int height, int filter) const {
    const char* who = "ResampleImage(..)";
    if (!src || !dst) return PostError("%s Image is NULL", who);
    if (src == dst) return PostError("%s source and destination are the same image", who);
    Request r;
    if (CheckRequest(who, *src, width, height, filter, r)) return true;
    const ImgStruct& s = src->ImgStruct;
    ImgStruct& d = dst->ImgStruct;
    dst->FreeData();
    DescribeOutput(s, r, d);
    if (dst->AllocData() || !d.ImgData) {
        dst->FreeData();
        return PostError("%s memory allocation failed for %d x %d", who, r.width, r.height);
    }
    ImageRows sink(d, s.Samples == 3 && s.BgrOrder);
    Run(s, r.width, r.height, *r.filter, sink);
    return false;
}

bool CResample::LowMemoryResample(bool lzw, ImgClass* src, const char* out, int width, int height,
                                  int filter) const {
    const char* who = "Low_Memory_ResampleImage(..)";
    if (!src) return PostError("%s Image is NULL", who);
    if (!out || !*out) return PostError("%s no output file named", who);
    Request r;
    if (CheckRequest(who, *src, width, height, filter, r)) return true;
    const ImgStruct& s = src->ImgStruct;
    // The record that describes the output file to the TIFF writer.
    ImgClass file;
    ImgStruct& f = file.ImgStruct;
    if (!CopyName(f.FileName, out)) return PostError("%s output name too long", who);
    DescribeOutput(s, r, f);
    // A handle of its own, whatever a progress receiver does with the
    // library's TIFF codec.
    TIFFClass tiff;
    if (!tiff.Open_Write_Tiff(lzw, &file)) return PostError("%s the TIFF file %s cannot be made", who, out);
    bool failed;
    try {
        std::vector<unsigned char> row(size_t{f.Width} * size_t(s.Samples));
        TiffRows sink(tiff, row.data(), f.Width, s.Samples == 3 && s.BgrOrder);
        failed = Run(s, r.width, r.height, *r.filter, sink);
    } catch (const std::bad_alloc&) {
        failed = PostError("%s memory allocation failed", who);
    }
    if (tiff.CloseTiff()) failed = true;
    if (failed) {
        // A file with fewer rows than it declares is no image.
        unlink(out);
        PostError("%s writing %s failed", who, out);
    }
    return failed;
}

CResample::Kernels CResample::UseKernels(Kernels wanted) {
    kernels_ = WidestKernels(wanted);
    return kernels_;
}

}  // namespace orvix

using namespace orvix;

extern "C" {

ORVIX_API bool ResampleImage(ImgClass* src, ImgClass* dst, int width, int height, int filter) {
    ClearError();
    try {
        return Resampler().Resample(src, dst, width, height, filter);
    } catch (const std::bad_alloc&) {
        if (dst) dst->FreeData();
        return PostError("ResampleImage(..) memory allocation failed");
    }
}

ORVIX_API bool Low_Memory_ResampleImage(bool lzw, ImgClass* src, char* out, int width, int height,
                                        int filter) {
    ClearError();
    try {
        return Resampler().LowMemoryResample(lzw, src, out, width, height, filter);
    } catch (const std::bad_alloc&) {
        return PostError("Low_Memory_ResampleImage(..) memory allocation failed");
    }
}

}  // extern "C"
