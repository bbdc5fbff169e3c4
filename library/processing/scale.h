// The cubic scaling engine. Each source row is scaled horizontally into a
// ring of four work rows; each destination row is then interpolated
// vertically from the four ring rows. Both passes use four-tap cubic
// Lagrange weights looked up at 512 positions between two samples, and
// truncate the interpolated value to a byte.
//
// The arithmetic is exact: the weights at x = q/511 are kept as integer
// numerators over kDenominator, so every comparison and truncation applies
// to the exact value of the interpolation and a flat area stays flat.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ORVIX_0500.h"
#include "processing/row_sink.h"

namespace orvix {

class CScaleImage {
public:
    // Quantised positions between two samples.
    static constexpr int kSteps = 512;
    // Common denominator of the weights at x = q/511: 6 * 511^3.
    static constexpr int64_t kDenominator = 6LL * 511 * 511 * 511;

    // Interpolated values below the floor become 0: 1.0 for the in-memory
    // scaler, 1.5 for the low-memory one.
    enum class Floor { One, OneAndHalf };

    // Inner-loop implementations; Best picks the widest the machine runs.
    enum class Kernels { Portable, Avx2, Avx512, Best };

    CScaleImage();
    virtual ~CScaleImage() = default;
    CScaleImage(const CScaleImage&) = delete;
    CScaleImage& operator=(const CScaleImage&) = delete;

    // ---- Weights and the sample rule -------------------------------------
    // Numerators over kDenominator of the weights of the four taps (before
    // the left neighbour, left, right, after the right neighbour) at q/511.
    const int32_t* Weights(int q) const { return numerators_[q]; }
    // A fraction 0 <= f < 1 as a table index: trunc(f * 511 + 0.5) in 0..511.
    static int Quantise(double f);
    // The byte for an interpolated value numerator / kDenominator: 255 above
    // 255, 0 below the floor, else the value truncated.
    static unsigned char ToByte(int64_t numerator, Floor floor);

    // ---- Line interpolation ----------------------------------------------
    // Where the outputs of one line come from. Output k samples input
    // position k / factor: its taps start at pixel `first[k]` (the pixel
    // before its left neighbour; edge pixels repeat) with weights `q[k]`.
    // The positions follow from adding 1/factor and subtracting 1.0 pixel by
    // pixel in double precision, so their number may exceed count * factor
    // by one.
    struct LinePlan {
        int inputs = 0;   // pixels of the input line
        int samples = 1;  // bytes per pixel: 1 or 3
        std::vector<int32_t> first;
        std::vector<uint16_t> q;
        // Prepared for the vector kernels: weight pairs of each output and
        // the outputs [innerBegin, innerEnd) whose taps (and vector loads)
        // lie inside the line.
        std::vector<int32_t> pairs;
        size_t innerBegin = 0;
        size_t innerEnd = 0;
        size_t Outputs() const { return q.size(); }
    };

    // Where the line interpolator stands between two calls of PlanLine.
    struct LineCursor {
        int pixel = 0;   // input pixel whose outputs are being made
        double t = 0.0;  // position of the next output from that pixel
        bool Done(int inputs) const { return pixel >= inputs; }
    };

    // Plans at most `limit` further outputs of a line of `inputs` pixels
    // scaled by `factor` (finite and > 0), continuing from cursor. Throws
    // std::bad_alloc when the plan does not fit in memory.
    void PlanLine(int inputs, int samples, double factor, size_t limit,
                  LineCursor& cursor, LinePlan& plan) const;
    // Plans a whole line (at most limit outputs) from its start.
    void PlanLine(int inputs, int samples, double factor, size_t limit,
                  LinePlan& plan) const;

    // Makes the planned outputs of one line: plan.Outputs() pixels into out.
    void ScaleRow(const LinePlan& plan, const unsigned char* in, unsigned char* out) const;

    // `ScaleLineClr`: scales a line of count pixels (1 byte each when bw,
    // else 3) by factor into out and returns the number of pixels written.
    // A non-positive count or a factor that is not a positive number gives
    // 0, as does a line whose output count would not fit an int.
    int ScaleLine(bool bw, int count, double factor, const unsigned char* in,
                  unsigned char* out) const;

    // ---- Vertical interpolation and the ring -----------------------------
    // out[i] = interpolation of rows[0..3][i] at q/511, for i < bytes.
    void InterpolateRows(const unsigned char* const rows[4], int q, size_t bytes,
                         unsigned char* out, Floor floor) const;

    // Receives the rows of the vertical pass.
    using RowSink = orvix::RowSink;

    enum class RingEnd {
        Complete,     // outHeight rows made (posts the row-limit message)
        SourceEnded,  // every source row consumed first
        EmptyRow,     // a source row scaled to no pixel
        SinkFailed,   // the sink refused a row
    };

    // Makes `work` the five-row work image for output rows of `width`
    // pixels: rows 0 to 3 form the ring, row 4 may hold an output row.
    // True when it cannot be allocated.
    static bool MakeWorkImage(ImgClass& work, uint32_t width, int samples);

    // The vertical scheme over the whole source (8-bit, 1 or 3 samples,
    // pixels loaded): fills the ring with source rows 0, 0, 1 and 2 scaled
    // by `plan`, interpolates output rows while stepping 1/yFactor per
    // source row, and reports progress through the write callback.
    RingEnd RunRing(const ImgClass& src, const LinePlan& plan, double yFactor,
                    uint32_t outHeight, ImgClass& work, Floor floor, RowSink& sink) const;

    // ---- Whole image --------------------------------------------------------
    // `ScaleImage`: scales src by the two factors into dst (a negative
    // yFactor takes xFactor). True on failure.
    bool ScaleImage(ImgClass* src, double xFactor, double yFactor, ImgClass* dst) const;

    // `Low_Memory_ScaleImage`: the same resampling written row by row to
    // the TIFF file out (LZW when lzw), never holding the destination. The
    // 1.5 floor applies. True on failure.
    bool LowMemoryScaleImage(bool lzw, ImgClass* src, const char* out, double xFactor,
                             double yFactor) const;

    // The size an axis of `length` pixels takes at `factor`:
    // trunc(length * factor + 0.5). False when that is 0, not a number or
    // larger than `most`.
    static bool OutputLength(uint32_t length, double factor, uint64_t most, uint32_t& out);

    // ---- Kernel choice ------------------------------------------------------
    // Selects the inner loops, falling back to narrower ones the machine
    // runs (Avx512 to Avx2 to Portable); returns the ones now in use.
    Kernels UseKernels(Kernels wanted);
    Kernels ActiveKernels() const { return kernels_; }

private:
    void PreparePlan(LinePlan& plan) const;

    // Numerators over kDenominator of the four weights at each q.
    int32_t numerators_[kSteps][4];
    // The same split as hi * 2^15 + lo (lo in 0..32767) and packed as
    // 16-bit pairs for taps (0,1) and (2,3): hi01, hi23, lo01, lo23.
    int32_t pairs_[kSteps][4];
    Kernels kernels_ = Kernels::Portable;
};

}  // namespace orvix
