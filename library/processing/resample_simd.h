// The resampler's vector passes (AVX2 and AVX-512). Each makes a leading
// part of its row with exactly the integers of the portable pass and
// returns how far it got; the portable pass makes the rest.
#pragma once

#include <cstddef>
#include <cstdint>

#include "processing/resample.h"

namespace orvix::simd {

using Kernels = CResample::Kernels;

// Outputs per vector in the colour lane layout of AxisPlan::laneWeights;
// 0 when the kernels want none.
int ColourLanes(Kernels kernels);

// Values [0, returned) of the vertical passes (taps even).
size_t VerticalBytes(Kernels kernels, const unsigned char* const* rows, const int16_t* w, int taps,
                     int shift, size_t count, int16_t* out);
size_t VerticalWide(Kernels kernels, const int16_t* const* rows, const int16_t* w, int taps, int shift,
                    size_t count, unsigned char* out);

// Bytes widened to 16 bits: values [0, returned).
size_t Widen(Kernels kernels, const unsigned char* in, size_t count, int16_t* out);

// Outputs [0, returned) of the horizontal passes.
size_t HorizontalToBytes(Kernels kernels, const int16_t* in, const CResample::AxisPlan& plan, int samples,
                         int shift, unsigned char* out);
size_t HorizontalToWide(Kernels kernels, const int16_t* in, const CResample::AxisPlan& plan, int samples,
                        int shift, int16_t* out);

}  // namespace orvix::simd
