// The resampler's vector passes. All arithmetic is exact integer work:
// pmaddwd multiplies 16-bit values by 16-bit weights and adds pairs into
// 32 bits, the sums stay far inside 32 bits (the plan chooses the weight
// bits so), and the rounding shift and the saturating packs are those of
// the portable pass. So every kernel set gives the same bytes.
#include "processing/resample_simd.h"

#include <algorithm>
#include <cstring>

#include "processing/cpu.h"

#if defined(__x86_64__) || defined(__i386__)
#define ORVIX_RESAMPLE_X86 1
#include <immintrin.h>
#endif

namespace orvix::simd {

#if ORVIX_RESAMPLE_X86
namespace {

using AxisPlan = CResample::AxisPlan;


// Two neighbouring 16-bit weights as one pmaddwd operand: w[0] weighs the
// first value of each pair, w[1] the second.
inline int32_t WeightPair(const int16_t* w) {
    int32_t v;
    std::memcpy(&v, w, 4);
    return v;
}

ORVIX_AVX2 inline void Store12(void* out, __m128i v) {
    _mm_storel_epi64(static_cast<__m128i*>(out), v);
    const int32_t last = _mm_extract_epi32(v, 2);
    std::memcpy(static_cast<char*>(out) + 8, &last, 4);
}

// ---- AVX2 ---------------------------------------------------------------------------

ORVIX_AVX2 inline __m256i RoundShift(__m256i sum, __m256i half, __m128i shift) {
    return _mm256_sra_epi32(_mm256_add_epi32(sum, half), shift);
}

// Sixteen values of a row from r as 16-bit values.
ORVIX_AVX2 inline __m256i Load16(const unsigned char* r) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r)));
}
ORVIX_AVX2 inline __m256i Load16(const int16_t* r) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r)); }

// 32 values from their sums as 16-bit words, lo (values 0-15) and hi (16-31).
ORVIX_AVX2 inline void Store32(int16_t* out, __m256i lo, __m256i hi) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), lo);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16), hi);
}
ORVIX_AVX2 inline void Store32(unsigned char* out, __m256i lo, __m256i hi) {
    // packus interleaves the two halves by lane: put the 8-byte runs in order.
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8));
}

// Values [from, returned) of a vertical pass, 32 at a time: rows t and t+1
// unpacked into pairs for one pmaddwd with weights w[t] and w[t+1].
template <typename In, typename Out>
ORVIX_AVX2 size_t VerticalAvx2(const In* const* rows, const int16_t* w, int taps, int shift, size_t from,
                               size_t count, Out* out) {
    const __m256i half = _mm256_set1_epi32(1 << (shift - 1));
    const __m128i bits = _mm_cvtsi32_si128(shift);
    size_t i = from;
    for (; i + 32 <= count; i += 32) {
        __m256i a0 = _mm256_setzero_si256(), a1 = a0, a2 = a0, a3 = a0;
        for (int t = 0; t < taps; t += 2) {
            const __m256i wp = _mm256_set1_epi32(WeightPair(w + t));
            const In* r0 = rows[t] + i;
            const In* r1 = rows[t + 1] + i;
            __m256i x = Load16(r0), y = Load16(r1);
            a0 = _mm256_add_epi32(a0, _mm256_madd_epi16(_mm256_unpacklo_epi16(x, y), wp));
            a1 = _mm256_add_epi32(a1, _mm256_madd_epi16(_mm256_unpackhi_epi16(x, y), wp));
            x = Load16(r0 + 16);
            y = Load16(r1 + 16);
            a2 = _mm256_add_epi32(a2, _mm256_madd_epi16(_mm256_unpacklo_epi16(x, y), wp));
            a3 = _mm256_add_epi32(a3, _mm256_madd_epi16(_mm256_unpackhi_epi16(x, y), wp));
        }
        // unpack and packs both work within 128-bit lanes, so the values
        // come back in order.
        Store32(out + i, _mm256_packs_epi32(RoundShift(a0, half, bits), RoundShift(a1, half, bits)),
                _mm256_packs_epi32(RoundShift(a2, half, bits), RoundShift(a3, half, bits)));
    }
    return i;
}

// Bytes widened to 16 bits: values [0, returned).
ORVIX_AVX2 size_t WidenAvx2(const unsigned char* in, size_t count, int16_t* out) {
    size_t i = 0;
    for (; i + 16 <= count; i += 16)
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i))));
    return i;
}

// Taps t and t+1 of a colour output as 16-bit pairs R, G, B and a zero
// pair, from the 8 values that start at tap t.
ORVIX_AVX2 inline __m256i ColourPairs() {
    return _mm256_setr_epi8(0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1,
                            0, 1, 6, 7, 2, 3, 8, 9, 4, 5, 10, 11, -1, -1, -1, -1);
}

ORVIX_AVX2 inline __m256i LoadPair(const int16_t* a, const int16_t* b) {
    const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a));
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
}

// Four colour outputs whose sums are R, G, B, 0 in 32-bit lanes: outputs
// k and k+1 in the lanes of s01, k+2 and k+3 in those of s23.
template <bool kBytes>
ORVIX_AVX2 inline void FinishColour4(__m256i s01, __m256i s23, int shift, void* out) {
    const __m256i half = _mm256_set1_epi32(1 << (shift - 1));
    const __m128i bits = _mm_cvtsi32_si128(shift);
    // Lane 0 holds k and k+2, lane 1 holds k+1 and k+3.
    const __m256i words = _mm256_packs_epi32(RoundShift(s01, half, bits), RoundShift(s23, half, bits));
    if constexpr (kBytes) {
        const __m256i bytes = _mm256_packus_epi16(words, words);
        const __m256i order = _mm256_permutevar8x32_epi32(bytes, _mm256_setr_epi32(0, 4, 1, 5, 0, 0, 0, 0));
        const __m128i compact = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
        Store12(out, _mm_shuffle_epi8(_mm256_castsi256_si128(order), compact));
    } else {
        const __m256i order = _mm256_permute4x64_epi64(words, 0xD8);
        const __m256i compact = _mm256_setr_epi8(0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1,
                                                 0, 1, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, -1, -1, -1, -1);
        const __m256i packed = _mm256_shuffle_epi8(order, compact);
        Store12(out, _mm256_castsi256_si128(packed));
        Store12(static_cast<char*>(out) + 12, _mm256_extracti128_si256(packed, 1));
    }
}

// Where the first taps of colour outputs k to k+3 start.
inline void FirstTaps(const int16_t* in, const AxisPlan& plan, size_t k, const int16_t*& a, const int16_t*& b,
                      const int16_t*& c, const int16_t*& d) {
    const int32_t* first = plan.first.data() + k;
    a = in + size_t(first[0]) * 3;
    b = in + size_t(first[1]) * 3;
    c = in + size_t(first[2]) * 3;
    d = in + size_t(first[3]) * 3;
}

template <bool kBytes>
ORVIX_AVX2 size_t HorizontalColourAvx2(const int16_t* in, const AxisPlan& plan, int shift, void* out) {
    const size_t pairs = size_t(plan.taps) / 2;
    const size_t covered = plan.groups * 2;  // outputs with lane weights
    const __m256i take = ColourPairs();
    const size_t outBytes = kBytes ? 3 : 6;
    size_t k = 0;
    for (; k + 4 <= covered; k += 4) {
        const int16_t *a, *b, *c, *d;
        FirstTaps(in, plan, k, a, b, c, d);
        const int16_t* w01 = plan.laneWeights.data() + k / 2 * pairs * 16;
        const int16_t* w23 = w01 + pairs * 16;
        __m256i s01 = _mm256_setzero_si256(), s23 = s01;
        for (size_t p = 0; p < pairs; ++p) {
            const __m256i x = _mm256_shuffle_epi8(LoadPair(a + 6 * p, b + 6 * p), take);
            const __m256i y = _mm256_shuffle_epi8(LoadPair(c + 6 * p, d + 6 * p), take);
            s01 = _mm256_add_epi32(
                s01, _mm256_madd_epi16(x, _mm256_load_si256(reinterpret_cast<const __m256i*>(w01 + 16 * p))));
            s23 = _mm256_add_epi32(
                s23, _mm256_madd_epi16(y, _mm256_load_si256(reinterpret_cast<const __m256i*>(w23 + 16 * p))));
        }
        FinishColour4<kBytes>(s01, s23, shift, static_cast<char*>(out) + k * outBytes);
    }
    return k;
}

// Grey outputs: eight at a time, one per 128-bit lane of four sums whose
// eight taps are neighbours; a tree of horizontal adds gathers them.
template <bool kBytes>
ORVIX_AVX2 size_t HorizontalGreyAvx2(const int16_t* in, const AxisPlan& plan, int shift, void* out) {
    const size_t n = size_t(plan.outputs);
    const size_t taps = size_t(plan.taps);
    const int32_t* first = plan.first.data();
    const int16_t* weights = plan.weights.data();
    const __m256i half = _mm256_set1_epi32(1 << (shift - 1));
    const __m128i bits = _mm_cvtsi32_si128(shift);
    size_t k = 0;
    for (; k + 8 <= n; k += 8) {
        __m256i s[4];
        for (int o = 0; o < 4; ++o) {
            const int16_t* lo = in + first[k + size_t(o)];
            const int16_t* hi = in + first[k + size_t(o) + 4];
            const int16_t* wlo = weights + (k + size_t(o)) * taps;
            const int16_t* whi = weights + (k + size_t(o) + 4) * taps;
            __m256i sum = _mm256_setzero_si256();
            for (size_t t = 0; t < taps; t += 8)
                sum = _mm256_add_epi32(sum, _mm256_madd_epi16(LoadPair(lo + t, hi + t), LoadPair(wlo + t, whi + t)));
            s[o] = sum;
        }
        // Lane 0: outputs k..k+3; lane 1: k+4..k+7.
        const __m256i all = _mm256_hadd_epi32(_mm256_hadd_epi32(s[0], s[1]), _mm256_hadd_epi32(s[2], s[3]));
        const __m256i v = RoundShift(all, half, bits);
        const __m256i words = _mm256_packs_epi32(v, v);
        if constexpr (kBytes) {
            const __m256i bytes = _mm256_packus_epi16(words, words);
            unsigned char* o = static_cast<unsigned char*>(out) + k;
            const int32_t lo = _mm256_extract_epi32(bytes, 0), hi = _mm256_extract_epi32(bytes, 4);
            std::memcpy(o, &lo, 4);
            std::memcpy(o + 4, &hi, 4);
        } else {
            int16_t* o = static_cast<int16_t*>(out) + k;
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o), _mm256_castsi256_si128(words));
            _mm_storel_epi64(reinterpret_cast<__m128i*>(o + 4), _mm256_extracti128_si256(words, 1));
        }
    }
    return k;
}

// ---- AVX-512 ----------------------------------------------------------------------------
// The same arithmetic on twice the lanes.

ORVIX_AVX512_KERNELS_BEGIN

ORVIX_AVX512 inline __m512i RoundShift512(__m512i sum, __m512i half, __m128i shift) {
    return _mm512_sra_epi32(_mm512_add_epi32(sum, half), shift);
}

ORVIX_AVX512 inline __m512i Load32(const unsigned char* r) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r)));
}
ORVIX_AVX512 inline __m512i Load32(const int16_t* r) { return _mm512_loadu_si512(r); }

// 64 values from their sums as 16-bit words, lo (values 0-31) and hi (32-63).
ORVIX_AVX512 inline void Store64(int16_t* out, __m512i lo, __m512i hi) {
    _mm512_storeu_si512(out, lo);
    _mm512_storeu_si512(out + 32, hi);
}
ORVIX_AVX512 inline void Store64(unsigned char* out, __m512i lo, __m512i hi) {
    // packus works within 128-bit lanes: put the 8-byte runs in order.
    const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
    _mm512_storeu_si512(out, _mm512_permutexvar_epi64(order, _mm512_packus_epi16(lo, hi)));
}

// Values [0, returned) of a vertical pass: 64 at a time, then AVX2's.
template <typename In, typename Out>
ORVIX_AVX512 size_t VerticalAvx512(const In* const* rows, const int16_t* w, int taps, int shift, size_t count,
                                   Out* out) {
    const __m512i half = _mm512_set1_epi32(1 << (shift - 1));
    const __m128i bits = _mm_cvtsi32_si128(shift);
    size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        __m512i a0 = _mm512_setzero_si512(), a1 = a0, a2 = a0, a3 = a0;
        for (int t = 0; t < taps; t += 2) {
            const __m512i wp = _mm512_set1_epi32(WeightPair(w + t));
            const In* r0 = rows[t] + i;
            const In* r1 = rows[t + 1] + i;
            __m512i x = Load32(r0), y = Load32(r1);
            a0 = _mm512_add_epi32(a0, _mm512_madd_epi16(_mm512_unpacklo_epi16(x, y), wp));
            a1 = _mm512_add_epi32(a1, _mm512_madd_epi16(_mm512_unpackhi_epi16(x, y), wp));
            x = Load32(r0 + 32);
            y = Load32(r1 + 32);
            a2 = _mm512_add_epi32(a2, _mm512_madd_epi16(_mm512_unpacklo_epi16(x, y), wp));
            a3 = _mm512_add_epi32(a3, _mm512_madd_epi16(_mm512_unpackhi_epi16(x, y), wp));
        }
        Store64(out + i, _mm512_packs_epi32(RoundShift512(a0, half, bits), RoundShift512(a1, half, bits)),
                _mm512_packs_epi32(RoundShift512(a2, half, bits), RoundShift512(a3, half, bits)));
    }
    return VerticalAvx2(rows, w, taps, shift, i, count, out);
}

ORVIX_AVX512 inline __m512i ColourPairs512() {
    const __m256i lane = ColourPairs();
    return _mm512_inserti64x4(_mm512_castsi256_si512(lane), lane, 1);
}

// The sums (R, G, B, 0 per 128-bit lane) of colour outputs k to k+3, each
// output's taps loaded into its own lane.
ORVIX_AVX512 inline __m512i ColourGroup512(const int16_t* in, const AxisPlan& plan, size_t k, __m512i take) {
    const size_t pairs = size_t(plan.taps) / 2;
    const int16_t* w = plan.laneWeights.data() + k / 4 * pairs * 32;
    const int16_t *a, *b, *c, *d;
    FirstTaps(in, plan, k, a, b, c, d);
    __m512i sum = _mm512_setzero_si512();
    for (size_t p = 0; p < pairs; ++p) {
        __m512i x = _mm512_castsi128_si512(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 6 * p)));
        x = _mm512_inserti32x4(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 6 * p)), 1);
        x = _mm512_inserti32x4(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 6 * p)), 2);
        x = _mm512_inserti32x4(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 6 * p)), 3);
        sum = _mm512_add_epi32(sum, _mm512_madd_epi16(_mm512_shuffle_epi8(x, take), _mm512_load_si512(w + 32 * p)));
    }
    return sum;
}

// Eight colour outputs from the sums of k to k+3 (s0) and k+4 to k+7 (s1).
template <bool kBytes>
ORVIX_AVX512 inline void FinishColour8(__m512i s0, __m512i s1, int shift, void* out) {
    const __m512i half = _mm512_set1_epi32(1 << (shift - 1));
    const __m128i bits = _mm_cvtsi32_si128(shift);
    // Lane l of the words holds output k+l, then k+4+l, each R, G, B, 0;
    // the permute takes R, G, B of k to k+7 in turn.
    alignas(64) static constexpr uint16_t kOrder[32] = {0, 1, 2, 8,  9,  10, 16, 17, 18, 24, 25, 26,
                                                        4, 5, 6, 12, 13, 14, 20, 21, 22, 28, 29, 30};
    const __m512i words = _mm512_packs_epi32(RoundShift512(s0, half, bits), RoundShift512(s1, half, bits));
    const __m512i rgb = _mm512_permutexvar_epi16(_mm512_load_si512(kOrder), words);
    if constexpr (kBytes)
        _mm512_mask_cvtusepi16_storeu_epi8(out, 0xFFFFFF, _mm512_max_epi16(rgb, _mm512_setzero_si512()));
    else
        _mm512_mask_storeu_epi16(out, 0xFFFFFF, rgb);
}

// The 32 values from p, or only the first 16 (the rest undefined) when the
// permute reads no others: a load that crosses fewer cache lines.
template <bool kNarrow>
ORVIX_AVX512 inline __m512i LoadTaps(const int16_t* p) {
    if constexpr (kNarrow) return _mm512_castsi256_si512(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)));
    return _mm512_loadu_si512(p);
}

// Two groups of four colour outputs that fit the permute, k to k+3 into s0
// and k+4 to k+7 into s1, in one loop so that their work overlaps: one load
// holds a pair's taps of all four outputs of a group, and a permute lays
// them into the lanes.
template <bool kNarrow>
ORVIX_AVX512 inline void FittingGroups512(const int16_t* in, const AxisPlan& plan, size_t k, __m512i& s0,
                                          __m512i& s1) {
    const size_t pairs = size_t(plan.taps) / 2;
    const int16_t* a0 = in + size_t(plan.first[k]) * 3;
    const int16_t* a1 = in + size_t(plan.first[k + 4]) * 3;
    const int16_t* w0 = plan.laneWeights.data() + k / 4 * pairs * 32;
    const int16_t* w1 = w0 + pairs * 32;
    const __m512i index0 = _mm512_loadu_si512(plan.laneIndex.data() + k / 4 * 32);
    const __m512i index1 = _mm512_loadu_si512(plan.laneIndex.data() + k / 4 * 32 + 32);
    s0 = _mm512_setzero_si512();
    s1 = _mm512_setzero_si512();
    for (size_t p = 0; p < pairs; ++p, a0 += 6, a1 += 6, w0 += 32, w1 += 32) {
        const __m512i x0 = _mm512_permutexvar_epi16(index0, LoadTaps<kNarrow>(a0));
        const __m512i x1 = _mm512_permutexvar_epi16(index1, LoadTaps<kNarrow>(a1));
        s0 = _mm512_add_epi32(s0, _mm512_madd_epi16(x0, _mm512_load_si512(w0)));
        s1 = _mm512_add_epi32(s1, _mm512_madd_epi16(x1, _mm512_load_si512(w1)));
    }
}

// The sums of colour outputs k to k+7, as the fastest way for their groups gives them.
ORVIX_AVX512 inline void Colour8(const int16_t* in, const AxisPlan& plan, size_t k, __m512i take, __m512i& s0,
                                 __m512i& s1) {
    const int fits = std::min(plan.groupFits[k / 4], plan.groupFits[k / 4 + 1]);
    if (fits == 2) {
        FittingGroups512<true>(in, plan, k, s0, s1);
    } else if (fits == 1) {
        FittingGroups512<false>(in, plan, k, s0, s1);
    } else {
        s0 = ColourGroup512(in, plan, k, take);
        s1 = ColourGroup512(in, plan, k + 4, take);
    }
}

// Colour outputs, one per 128-bit lane: eight per step.
template <bool kBytes>
ORVIX_AVX512 size_t HorizontalColourAvx512(const int16_t* in, const AxisPlan& plan, int shift, void* out) {
    const size_t covered = plan.groups * 4;
    const __m512i take = ColourPairs512();
    const size_t outBytes = kBytes ? 3 : 6;
    size_t k = 0;
    for (; k + 8 <= covered; k += 8) {
        __m512i s0, s1;
        Colour8(in, plan, k, take, s0, s1);
        FinishColour8<kBytes>(s0, s1, shift, static_cast<char*>(out) + k * outBytes);
    }
    if (k + 4 <= covered) {
        const __m512i sum = ColourGroup512(in, plan, k, take);
        FinishColour4<kBytes>(_mm512_castsi512_si256(sum), _mm512_extracti64x4_epi64(sum, 1), shift,
                              static_cast<char*>(out) + k * outBytes);
        k += 4;
    }
    return k;
}

ORVIX_AVX512_KERNELS_END

template <bool kBytes>
size_t Horizontal(Kernels kernels, const int16_t* in, const AxisPlan& plan, int samples, int shift, void* out) {
    if (kernels == Kernels::Portable) return 0;
    if (samples == 1) return HorizontalGreyAvx2<kBytes>(in, plan, shift, out);
    if (samples != 3 || plan.lanes == 0) return 0;
    if (kernels == Kernels::Avx512 && plan.lanes == 4) return HorizontalColourAvx512<kBytes>(in, plan, shift, out);
    if (plan.lanes == 2) return HorizontalColourAvx2<kBytes>(in, plan, shift, out);
    return 0;
}

}  // namespace


int ColourLanes(Kernels kernels) {
    switch (kernels) {
    case Kernels::Avx2: return 2;
    case Kernels::Avx512: return 4;
    default: return 0;
    }
}

template <typename In, typename Out>
size_t Vertical(Kernels kernels, const In* const* rows, const int16_t* w, int taps, int shift, size_t count,
                Out* out) {
    if (kernels == Kernels::Avx512) return VerticalAvx512(rows, w, taps, shift, count, out);
    if (kernels == Kernels::Avx2) return VerticalAvx2(rows, w, taps, shift, 0, count, out);
    return 0;
}

size_t VerticalBytes(Kernels kernels, const unsigned char* const* rows, const int16_t* w, int taps, int shift,
                     size_t count, int16_t* out) {
    return Vertical(kernels, rows, w, taps, shift, count, out);
}

size_t VerticalWide(Kernels kernels, const int16_t* const* rows, const int16_t* w, int taps, int shift,
                    size_t count, unsigned char* out) {
    return Vertical(kernels, rows, w, taps, shift, count, out);
}

size_t Widen(Kernels kernels, const unsigned char* in, size_t count, int16_t* out) {
    return kernels == Kernels::Portable ? 0 : WidenAvx2(in, count, out);
}

size_t HorizontalToBytes(Kernels kernels, const int16_t* in, const AxisPlan& plan, int samples, int shift,
                         unsigned char* out) {
    return Horizontal<true>(kernels, in, plan, samples, shift, out);
}

size_t HorizontalToWide(Kernels kernels, const int16_t* in, const AxisPlan& plan, int samples, int shift,
                        int16_t* out) {
    return Horizontal<false>(kernels, in, plan, samples, shift, out);
}

#else  // no vector kernels on this machine

int ColourLanes(Kernels) { return 0; }
size_t VerticalBytes(Kernels, const unsigned char* const*, const int16_t*, int, int, size_t, int16_t*) { return 0; }
size_t VerticalWide(Kernels, const int16_t* const*, const int16_t*, int, int, size_t, unsigned char*) { return 0; }
size_t HorizontalToBytes(Kernels, const int16_t*, const CResample::AxisPlan&, int, int, unsigned char*) { return 0; }
size_t HorizontalToWide(Kernels, const int16_t*, const CResample::AxisPlan&, int, int, int16_t*) { return 0; }
size_t Widen(Kernels, const unsigned char*, size_t, int16_t*) { return 0; }

#endif

}  // namespace orvix::simd
