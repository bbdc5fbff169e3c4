// The resampler's vector passes. All arithmetic is exact integer work:
// pmaddwd multiplies 16-bit values by 16-bit weights and adds pairs into
// 32 bits, the sums stay far inside 32 bits (the plan chooses the weight
// bits so), and the rounding shift and the saturating packs are those of
// the portable pass. So every kernel set gives the same bytes.
#include "processing/resample_simd.h"

#include <cstring>
#include <vector>

#include "processing/cpu.h"

#if defined(__x86_64__) || defined(__i386__)
#define ORVIX_RESAMPLE_X86 1
#include <immintrin.h>
#endif

namespace orvix::simd {

#if ORVIX_RESAMPLE_X86
namespace {

using AxisPlan = CResample::AxisPlan;

#define ORVIX_AVX2 __attribute__((target("avx2,fma")))
#define ORVIX_AVX512 __attribute__((target("avx2,fma,avx512f,avx512bw")))

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

// The weight pairs of a vertical pass as pmaddwd operands, made once per
// row rather than once per block of values.
class PairVectors {
public:
    PairVectors(const int16_t* w, int taps) : pairs_(size_t(taps / 2)) {
        for (size_t p = 0; p < pairs_.size(); ++p) pairs_[p] = WeightPair(w + 2 * p);
    }
    size_t Count() const { return pairs_.size(); }
    int32_t operator[](size_t p) const { return pairs_[p]; }

private:
    std::vector<int32_t> pairs_;
};

// Sixteen values of rows r0 and r1 from offset i, as 16-bit values.
ORVIX_AVX2 inline __m256i Load16(const unsigned char* r, size_t i) {
    return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(r + i)));
}
ORVIX_AVX2 inline __m256i Load16(const int16_t* r, size_t i) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + i));
}

// Adds w0 * r0[i + 16b + v] + w1 * r1[...] to the sums of `kBlocks` blocks
// of 16 values: a[2b] holds values 0-3 and 8-11 of block b, a[2b + 1]
// values 4-7 and 12-15 (pmaddwd works within 128-bit lanes).
template <int kBlocks, typename In>
ORVIX_AVX2 inline void AddPair(__m256i* a, const In* r0, const In* r1, size_t i, __m256i wp) {
#pragma GCC unroll 4
    for (int b = 0; b < kBlocks; ++b) {
        const __m256i x = Load16(r0, i + 16 * size_t(b));
        const __m256i y = Load16(r1, i + 16 * size_t(b));
        a[2 * b] = _mm256_add_epi32(a[2 * b], _mm256_madd_epi16(_mm256_unpacklo_epi16(x, y), wp));
        a[2 * b + 1] = _mm256_add_epi32(a[2 * b + 1], _mm256_madd_epi16(_mm256_unpackhi_epi16(x, y), wp));
    }
}

// The rounded sums of kBlocks blocks, saturated to 16 bits, in order.
template <int kBlocks>
ORVIX_AVX2 inline void Words(const __m256i* a, int shift, __m256i* words) {
    const __m256i half = _mm256_set1_epi32(1 << (shift - 1));
    const __m128i bits = _mm_cvtsi32_si128(shift);
#pragma GCC unroll 4
    for (int b = 0; b < kBlocks; ++b)
        words[b] = _mm256_packs_epi32(RoundShift(a[2 * b], half, bits), RoundShift(a[2 * b + 1], half, bits));
}

ORVIX_AVX2 inline void StoreValues(int16_t* out, const __m256i* words, int blocks) {
#pragma GCC unroll 4
    for (int b = 0; b < blocks; ++b) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16 * b), words[b]);
}

ORVIX_AVX2 inline void StoreValues(unsigned char* out, const __m256i* words, int blocks) {
#pragma GCC unroll 2
    for (int b = 0; b + 1 < blocks; b += 2) {
        // packus interleaves the two halves by lane: put the 8-byte runs in order.
        const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(words[b], words[b + 1]), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 16 * b), bytes);
    }
}

// Values [from, returned) of a vertical pass, 64 and then 32 at a time.
template <typename In, typename Out>
ORVIX_AVX2 size_t VerticalAvx2(const In* const* rows, const PairVectors& w, int shift, size_t from,
                               size_t count, Out* out) {
    size_t i = from;
    for (; i + 64 <= count; i += 64) {
        __m256i a[8];
#pragma GCC unroll 8
        for (__m256i& v : a) v = _mm256_setzero_si256();
        for (size_t p = 0; p < w.Count(); ++p)
            AddPair<4>(a, rows[2 * p], rows[2 * p + 1], i, _mm256_set1_epi32(w[p]));
        __m256i words[4];
        Words<4>(a, shift, words);
        StoreValues(out + i, words, 4);
    }
    for (; i + 32 <= count; i += 32) {
        __m256i a[4];
#pragma GCC unroll 4
        for (__m256i& v : a) v = _mm256_setzero_si256();
        for (size_t p = 0; p < w.Count(); ++p)
            AddPair<2>(a, rows[2 * p], rows[2 * p + 1], i, _mm256_set1_epi32(w[p]));
        __m256i words[2];
        Words<2>(a, shift, words);
        StoreValues(out + i, words, 2);
    }
    return i;
}

// Bytes widened to 16 bits: values [0, returned).
ORVIX_AVX2 size_t WidenAvx2(const unsigned char* in, size_t count, int16_t* out) {
    size_t i = 0;
    for (; i + 16 <= count; i += 16) _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), Load16(in, i));
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
    const size_t covered = plan.laneWeights.size() / (pairs * 16) * 2;  // outputs with lane weights
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
                s01, _mm256_madd_epi16(x, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w01 + 16 * p))));
            s23 = _mm256_add_epi32(
                s23, _mm256_madd_epi16(y, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(w23 + 16 * p))));
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

// GCC 12's AVX-512 headers fill unused operands with deliberately undefined
// values, which its own uninitialised-use checks then report.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

ORVIX_AVX512 inline __m512i RoundShift512(__m512i sum, __m512i half, __m128i shift) {
    return _mm512_sra_epi32(_mm512_add_epi32(sum, half), shift);
}

ORVIX_AVX512 inline __m512i Load32(const unsigned char* r, size_t i) {
    return _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(r + i)));
}
ORVIX_AVX512 inline __m512i Load32(const int16_t* r, size_t i) { return _mm512_loadu_si512(r + i); }

ORVIX_AVX512 inline void StoreValues512(int16_t* out, __m512i lo, __m512i hi) {
    _mm512_storeu_si512(out, lo);
    _mm512_storeu_si512(out + 32, hi);
}

ORVIX_AVX512 inline void StoreValues512(unsigned char* out, __m512i lo, __m512i hi) {
    // packus works within 128-bit lanes: put the 8-byte runs in order.
    const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
    _mm512_storeu_si512(out, _mm512_permutexvar_epi64(order, _mm512_packus_epi16(lo, hi)));
}

// Values [0, returned) of a vertical pass: 64 at a time, then AVX2's.
template <typename In, typename Out>
ORVIX_AVX512 size_t VerticalAvx512(const In* const* rows, const PairVectors& w, int shift, size_t count,
                                   Out* out) {
    const __m512i half = _mm512_set1_epi32(1 << (shift - 1));
    const __m128i bits = _mm_cvtsi32_si128(shift);
    size_t i = 0;
    for (; i + 64 <= count; i += 64) {
        __m512i a0 = _mm512_setzero_si512(), a1 = a0, a2 = a0, a3 = a0;
        for (size_t p = 0; p < w.Count(); ++p) {
            const __m512i wp = _mm512_set1_epi32(w[p]);
            const In* r0 = rows[2 * p];
            const In* r1 = rows[2 * p + 1];
            __m512i x = Load32(r0, i), y = Load32(r1, i);
            a0 = _mm512_add_epi32(a0, _mm512_madd_epi16(_mm512_unpacklo_epi16(x, y), wp));
            a1 = _mm512_add_epi32(a1, _mm512_madd_epi16(_mm512_unpackhi_epi16(x, y), wp));
            x = Load32(r0, i + 32);
            y = Load32(r1, i + 32);
            a2 = _mm512_add_epi32(a2, _mm512_madd_epi16(_mm512_unpacklo_epi16(x, y), wp));
            a3 = _mm512_add_epi32(a3, _mm512_madd_epi16(_mm512_unpackhi_epi16(x, y), wp));
        }
        StoreValues512(out + i, _mm512_packs_epi32(RoundShift512(a0, half, bits), RoundShift512(a1, half, bits)),
                       _mm512_packs_epi32(RoundShift512(a2, half, bits), RoundShift512(a3, half, bits)));
    }
    return VerticalAvx2(rows, w, shift, i, count, out);
}

ORVIX_AVX512 inline __m512i ColourPairs512() {
    const __m256i lane = ColourPairs();
    return _mm512_inserti64x4(_mm512_castsi256_si512(lane), lane, 1);
}

// Colour outputs, one per 128-bit lane: four per vector.
template <bool kBytes>
ORVIX_AVX512 size_t HorizontalColourAvx512(const int16_t* in, const AxisPlan& plan, int shift, void* out) {
    const size_t pairs = size_t(plan.taps) / 2;
    const size_t covered = plan.laneWeights.size() / (pairs * 32) * 4;
    const __m512i take = ColourPairs512();
    const size_t outBytes = kBytes ? 3 : 6;
    size_t k = 0;
    for (; k + 4 <= covered; k += 4) {
        const int16_t *a, *b, *c, *d;
        FirstTaps(in, plan, k, a, b, c, d);
        const int16_t* w = plan.laneWeights.data() + k / 4 * pairs * 32;
        __m512i sum = _mm512_setzero_si512();
        for (size_t p = 0; p < pairs; ++p) {
            __m512i x = _mm512_castsi128_si512(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + 6 * p)));
            x = _mm512_inserti32x4(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + 6 * p)), 1);
            x = _mm512_inserti32x4(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + 6 * p)), 2);
            x = _mm512_inserti32x4(x, _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + 6 * p)), 3);
            sum = _mm512_add_epi32(sum, _mm512_madd_epi16(_mm512_shuffle_epi8(x, take), _mm512_loadu_si512(w + 32 * p)));
        }
        FinishColour4<kBytes>(_mm512_castsi512_si256(sum), _mm512_extracti64x4_epi64(sum, 1), shift,
                              static_cast<char*>(out) + k * outBytes);
    }
    return k;
}

#pragma GCC diagnostic pop

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

Kernels Supported(Kernels wanted) {
    if (wanted == Kernels::Portable || !MachineHasAvx2()) return Kernels::Portable;
    if ((wanted == Kernels::Avx512 || wanted == Kernels::Best) && MachineHasAvx512()) return Kernels::Avx512;
    return Kernels::Avx2;
}

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
    if (kernels == Kernels::Portable) return 0;
    const PairVectors pairs(w, taps);
    if (kernels == Kernels::Avx512) return VerticalAvx512(rows, pairs, shift, count, out);
    return VerticalAvx2(rows, pairs, shift, 0, count, out);
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

Kernels Supported(Kernels) { return Kernels::Portable; }
int ColourLanes(Kernels) { return 0; }
size_t VerticalBytes(Kernels, const unsigned char* const*, const int16_t*, int, int, size_t, int16_t*) { return 0; }
size_t VerticalWide(Kernels, const int16_t* const*, const int16_t*, int, int, size_t, unsigned char*) { return 0; }
size_t HorizontalToBytes(Kernels, const int16_t*, const CResample::AxisPlan&, int, int, unsigned char*) { return 0; }
size_t HorizontalToWide(Kernels, const int16_t*, const CResample::AxisPlan&, int, int, int16_t*) { return 0; }
size_t Widen(Kernels, const unsigned char*, size_t, int16_t*) { return 0; }

#endif

}  // namespace orvix::simd
