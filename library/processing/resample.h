// The antialiasing resampler behind ResampleImage and
// Low_Memory_ResampleImage: separable convolution with a filter sampled at
// pixel centres and widened by the reduction, so that a smaller picture is
// an average of its source rather than a selection of it.
//
// Arithmetic. Each axis's weights are integers over 2^bits that sum to
// exactly 2^bits; bits is as large as the 16-bit lanes and 32-bit sums allow
// (14 for enlargements; for strong reductions up to 22 on bytes, 15 on
// intermediate values). The first pass
// keeps its results in 16 bits as value x 2^6, unclipped, so a filter's
// overshoot survives into the second pass; only the final byte is rounded
// and clipped. Every kernel set computes exactly the same integers.
//
// Order. When the output is no taller than the source, each output row is
// made from a vertical pass over the source rows under its window, followed
// by a horizontal pass: the vertical pass, which vectorises best, carries
// the work done at source resolution. When it is taller, source rows are
// first resampled horizontally into a ring that holds the vertical window,
// and each output row is a vertical pass over the ring.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <vector>

#include "ORVIX_0500.h"
#include "processing/row_sink.h"

namespace orvix {

// Memory on 64-byte boundaries, so that a vector load of a whole lane set
// never straddles two cache lines.
template <typename T>
struct AlignedAllocator {
    using value_type = T;
    AlignedAllocator() = default;
    template <typename U>
    AlignedAllocator(const AlignedAllocator<U>&) {}
    T* allocate(size_t n) { return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(64))); }
    void deallocate(T* p, size_t) { ::operator delete(p, std::align_val_t(64)); }
    template <typename U>
    bool operator==(const AlignedAllocator<U>&) const { return true; }
};

class CResample {
public:
    // Fraction bits of the intermediate values.
    static constexpr int kFractionBits = 6;

    // Inner-loop implementations; Best picks the widest the machine runs.
    enum class Kernels { Portable, Avx2, Avx512, Best };

    struct Filter {
        double reach;             // a: the kernel is 0 outside (-a, a)
        double (*kernel)(double);
        // Every tap of the window weighs 1 (the box): its window is then
        // decided in exact arithmetic, as a tap on its edge counts fully.
        bool flat;
    };
    // The filter of a FILTER_* code; null for any other code.
    static const Filter* FilterFor(int code);

    // The weights of one axis: output j takes inputs first[j] to
    // first[j] + taps - 1 with weights[j * taps + t] / 2^bits. Taps past a
    // window's end weigh 0 (they may lie past the inputs: callers pad).
    struct AxisPlan {
        int inputs = 0;
        int outputs = 0;
        int taps = 0;  // a multiple of tapMultiple
        int bits = 14;
        std::vector<int32_t> first;
        std::vector<int16_t> weights;
        // The horizontal vector kernels' copy of the weights for colour
        // lines: per group of `lanes` outputs and tap pair, one 8-weight
        // lane per output holding (w[t], w[t+1]) three times and 0, 0.
        int lanes = 0;
        size_t groups = 0;  // groups of `lanes` outputs in laneWeights
        std::vector<int16_t, AlignedAllocator<int16_t>> laneWeights;
        // With four lanes, a group whose outputs' taps start within 8
        // pixels of its first output's (true when shrinking by up to about
        // 2.7) has all its taps of one pair in the 32 values from there:
        // laneIndex holds, per group, the 32 positions in those values
        // that fill its lanes (R, G, B of taps t and t+1), and groupFits
        // says which groups can be served so (2: from the first 16 values).
        std::vector<uint16_t> laneIndex;
        std::vector<uint8_t> groupFits;
    };

    // Plans an axis of `inputs` samples made `outputs` with filter. A
    // `wideInput` axis convolves intermediate values (x 2^6) rather than
    // bytes, which leaves fewer bits for the weights. The window of output
    // j is centred on c = (j + 0.5) * inputs / outputs: inputs from
    // max(0, floor(c - R + 0.5)) to min(inputs, floor(c + R + 0.5)) - 1, R
    // the filter's reach times max(inputs / outputs, 1). Throws
    // std::bad_alloc when the plan does not fit in memory.
    static void PlanAxis(int inputs, int outputs, const Filter& filter, bool wideInput,
                         int tapMultiple, AxisPlan& plan);

    // Whether the rows are resampled horizontally first (enlarging
    // vertically), as the Order note above says.
    static bool HorizontalFirst(uint32_t sourceHeight, uint32_t outputHeight) {
        return outputHeight > sourceHeight;
    }

    // ---- Passes, one row at a time -------------------------------------
    // out[i] = the rounded sum over t of plan's weights of output j times
    // rows[t][i], for i < count: bytes in, intermediate out.
    void VerticalBytes(const unsigned char* const* rows, const AxisPlan& plan, int j, size_t count,
                       int16_t* out) const;
    // The same from intermediate rows to bytes, rounded and clipped.
    void VerticalWide(const int16_t* const* rows, const AxisPlan& plan, int j, size_t count,
                      unsigned char* out) const;
    // Every output of a line of `samples` (1 or 3) interleaved channels;
    // in holds plan.inputs pixels and zeros for at least plan.taps + 8
    // pixels beyond. From intermediate values to bytes (shift bits + 6), or
    // from widened bytes to intermediate values (shift bits - 6).
    void HorizontalToBytes(const int16_t* in, const AxisPlan& plan, int samples,
                           unsigned char* out) const;
    void HorizontalToWide(const int16_t* in, const AxisPlan& plan, int samples, int16_t* out) const;
    // Padding, in pixels, that HorizontalTo* needs after a line's inputs.
    static size_t LinePadding(const AxisPlan& plan) { return size_t(plan.taps) + 8; }

    // ---- Whole images ----------------------------------------------------
    // ResampleImage. True on failure.
    bool Resample(ImgClass* src, ImgClass* dst, int width, int height, int filter) const;
    // Low_Memory_ResampleImage. True on failure.
    bool LowMemoryResample(bool lzw, ImgClass* src, const char* out, int width, int height,
                           int filter) const;

    // The output size for a source of w x h asked for width x height (<= 0
    // keeps the aspect ratio from the other side). False when none results.
    static bool OutputSize(uint32_t w, uint32_t h, int& width, int& height);

    // ---- Kernel choice ---------------------------------------------------
    // Selects the inner loops, falling back to narrower ones the machine
    // runs (Avx512 to Avx2 to Portable); returns the ones now in use.
    Kernels UseKernels(Kernels wanted);
    Kernels ActiveKernels() const { return kernels_; }

    CResample() { UseKernels(Kernels::Best); }

    // Receives the output rows in order.
    using RowSink = orvix::RowSink;
    // Resamples the loaded 8-bit source (1 to 4 samples) into the sink,
    // width x height, rows in order; true when the sink failed. Throws
    // std::bad_alloc when the work rows cannot be had.
    bool Run(const ImgStruct& src, int width, int height, const Filter& filter, RowSink& sink) const;

private:
    void PrepareLanes(AxisPlan& plan, int samples) const;
    static void IndexLanes(AxisPlan& plan, size_t groups);
    // Sources with alpha (2 or 4 samples): premultiplied, filtered in
    // floating point on the portable path, divided back; so transparent
    // pixels lend no colour to their neighbours. Output in R,G,B order.
    bool RunAlpha(const ImgStruct& s, int width, int height, const Filter& filter, RowSink& sink) const;
    bool RunVerticalFirst(const ImgStruct& s, const AxisPlan& h, const AxisPlan& v, RowSink& sink) const;
    bool RunHorizontalFirst(const ImgStruct& s, const AxisPlan& h, const AxisPlan& v, RowSink& sink) const;
    Kernels kernels_ = Kernels::Portable;
};

}  // namespace orvix
