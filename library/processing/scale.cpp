// The cubic scaling engine and its two exports, ScaleImage and ScaleLineClr.
//
// Exactness. The weights at q/511 are integer numerators over D = 6 * 511^3,
// so an interpolated sample is an integer numerator over D. The portable
// code evaluates that numerator in 64-bit integers. The vector code splits
// each numerator as hi * 2^15 + lo with both parts in 16 bits, so that
// pmaddwd gives A = sum(hi * s) and B = sum(lo * s) exactly in 32 bits (the
// value is (A * 2^15 + B) / D); it then estimates the quotient from A in
// single precision, which is off by at most one, and corrects it with the
// exact 32-bit remainder. Both give the same bytes on every machine.
#include "processing/scale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <new>
#include <string>

#include "codecs/hdr.h"
#include "image_ops.h"
#include "codecs/tiff.h"
#include "library.h"
#include "processing/cpu.h"
#include "progress.h"
#include "utility.h"

#if defined(__x86_64__) || defined(__i386__)
#define ORVIX_SCALE_X86 1
#include <immintrin.h>
#endif

namespace orvix {
namespace {

using Floor = CScaleImage::Floor;
using LinePlan = CScaleImage::LinePlan;

constexpr int64_t kD = CScaleImage::kDenominator;
// The vector kernels hold kD and remainders below 2 * kD in 32-bit lanes.
static_assert(2 * kD < (int64_t{1} << 31));

// Outputs per block of a row's vector pass (a multiple of every kernel's step).
constexpr size_t kRowBlock = 64;
// How far ahead of the outputs being made the input is prefetched.
constexpr size_t kPrefetchBytes = 4096;

// ---- Portable kernels ---------------------------------------------------------

void VerticalPortable(const unsigned char* const rows[4], const int32_t n[4], size_t from,
                      size_t bytes, unsigned char* out, Floor floor) {
    const unsigned char* r0 = rows[0];
    const unsigned char* r1 = rows[1];
    const unsigned char* r2 = rows[2];
    const unsigned char* r3 = rows[3];
    const int64_t n0 = n[0], n1 = n[1], n2 = n[2], n3 = n[3];
    for (size_t i = from; i < bytes; ++i) {
        const int64_t v = n0 * r0[i] + n1 * r1[i] + n2 * r2[i] + n3 * r3[i];
        out[i] = CScaleImage::ToByte(v, floor);
    }
}

// Outputs [from, to) of a planned line, with the edge pixels repeated.
void HorizontalPortable(const LinePlan& plan, const int32_t (*numerators)[4],
                        const unsigned char* in, unsigned char* out, size_t from, size_t to) {
    const int last = plan.inputs - 1;
    const size_t samples = static_cast<size_t>(plan.samples);
    for (size_t k = from; k < to; ++k) {
        const int32_t* w = numerators[plan.q[k]];
        const int f = plan.first[k];
        const size_t i0 = static_cast<size_t>(std::clamp(f, 0, last)) * samples;
        const size_t i1 = static_cast<size_t>(std::clamp(f + 1, 0, last)) * samples;
        const size_t i2 = static_cast<size_t>(std::clamp(f + 2, 0, last)) * samples;
        const size_t i3 = static_cast<size_t>(std::clamp(f + 3, 0, last)) * samples;
        unsigned char* o = out + k * samples;
        for (size_t c = 0; c < samples; ++c) {
            const int64_t v = int64_t{w[0]} * in[i0 + c] + int64_t{w[1]} * in[i1 + c] +
                              int64_t{w[2]} * in[i2 + c] + int64_t{w[3]} * in[i3 + c];
            o[c] = CScaleImage::ToByte(v, Floor::One);
        }
    }
}

#if ORVIX_SCALE_X86

// ---- AVX2 kernels -------------------------------------------------------------------


// floor((A * 2^15 + B) / D) for each lane, where A and B are the exact
// partial sums of the high and low weight halves.
template <bool kHalfFloor>
ORVIX_AVX2 inline __m256i Quotient(__m256i a, __m256i b) {
    const __m256 scale = _mm256_set1_ps(static_cast<float>(32768.0 / static_cast<double>(kD)));
    // B / D is below 0.05, so this estimate is within one of the quotient.
    __m256i k = _mm256_cvttps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(a), scale));
    // The remainder numerator - k * D is below 2 * D in magnitude, so it
    // fits 32 bits and comes out right from arithmetic modulo 2^32: fewer
    // instructions than taking k * D apart, in a loop bound by their number.
    const __m256i n = _mm256_add_epi32(_mm256_slli_epi32(a, 15), b);
    const __m256i r = _mm256_sub_epi32(n, _mm256_mullo_epi32(k, _mm256_set1_epi32(static_cast<int32_t>(kD))));
    const __m256i below = _mm256_srai_epi32(r, 31);
    const __m256i above = _mm256_cmpgt_epi32(r, _mm256_set1_epi32(static_cast<int32_t>(kD - 1)));
    k = _mm256_sub_epi32(_mm256_add_epi32(k, below), above);
    if constexpr (kHalfFloor) {
        // Values from 1.0 up to 1.5: quotient 1 with a remainder below D / 2.
        const __m256i d = _mm256_set1_epi32(static_cast<int32_t>(kD));
        const __m256i rem = _mm256_sub_epi32(_mm256_add_epi32(r, _mm256_and_si256(below, d)),
                                             _mm256_and_si256(above, d));
        const __m256i low = _mm256_and_si256(
            _mm256_cmpeq_epi32(k, _mm256_set1_epi32(1)),
            _mm256_cmpgt_epi32(_mm256_set1_epi32(static_cast<int32_t>(kD / 2)), rem));
        k = _mm256_andnot_si256(low, k);
    }
    return k;
}

// Interpolates 16 samples; returns them as 16-bit values in order.
template <bool kHalfFloor>
ORVIX_AVX2 inline __m256i Vertical16(const unsigned char* p0, const unsigned char* p1,
                                     const unsigned char* p2, const unsigned char* p3,
                                     __m256i h01, __m256i h23, __m256i l01, __m256i l23) {
    const __m256i a = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p0)));
    const __m256i b = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p1)));
    const __m256i c = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p2)));
    const __m256i d = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p3)));
    const __m256i ab0 = _mm256_unpacklo_epi16(a, b);
    const __m256i ab1 = _mm256_unpackhi_epi16(a, b);
    const __m256i cd0 = _mm256_unpacklo_epi16(c, d);
    const __m256i cd1 = _mm256_unpackhi_epi16(c, d);
    const __m256i k0 = Quotient<kHalfFloor>(
        _mm256_add_epi32(_mm256_madd_epi16(ab0, h01), _mm256_madd_epi16(cd0, h23)),
        _mm256_add_epi32(_mm256_madd_epi16(ab0, l01), _mm256_madd_epi16(cd0, l23)));
    const __m256i k1 = Quotient<kHalfFloor>(
        _mm256_add_epi32(_mm256_madd_epi16(ab1, h01), _mm256_madd_epi16(cd1, h23)),
        _mm256_add_epi32(_mm256_madd_epi16(ab1, l01), _mm256_madd_epi16(cd1, l23)));
    // unpacklo/hi and packs both work within 128-bit lanes, so the order
    // comes back as it was.
    return _mm256_packs_epi32(k0, k1);
}

template <bool kHalfFloor>
ORVIX_AVX2 size_t VerticalAvx2(const unsigned char* const rows[4], const int32_t pairs[4],
                               size_t bytes, unsigned char* out) {
    const __m256i h01 = _mm256_set1_epi32(pairs[0]);
    const __m256i h23 = _mm256_set1_epi32(pairs[1]);
    const __m256i l01 = _mm256_set1_epi32(pairs[2]);
    const __m256i l23 = _mm256_set1_epi32(pairs[3]);
    const unsigned char* r0 = rows[0];
    const unsigned char* r1 = rows[1];
    const unsigned char* r2 = rows[2];
    const unsigned char* r3 = rows[3];
    size_t i = 0;
    for (; i + 32 <= bytes; i += 32) {
        const __m256i lo = Vertical16<kHalfFloor>(r0 + i, r1 + i, r2 + i, r3 + i, h01, h23, l01, l23);
        const __m256i hi = Vertical16<kHalfFloor>(r0 + i + 16, r1 + i + 16, r2 + i + 16, r3 + i + 16,
                                                  h01, h23, l01, l23);
        const __m256i v = _mm256_permute4x64_epi64(_mm256_packus_epi16(lo, hi), 0xD8);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), v);
    }
    if (i + 16 <= bytes) {
        const __m256i lo = Vertical16<kHalfFloor>(r0 + i, r1 + i, r2 + i, r3 + i, h01, h23, l01, l23);
        const __m128i v = _mm_packus_epi16(_mm256_castsi256_si128(lo), _mm256_extracti128_si256(lo, 1));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
        i += 16;
    }
    return i;
}

inline int32_t Load4(const unsigned char* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

ORVIX_AVX2 inline __m256i Load8(const int32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Grey line: each output's four taps are four consecutive bytes. Makes the
// inner outputs [from, to) in blocks of 8; returns where it stopped.
ORVIX_AVX2 size_t HorizontalGreyAvx2(const LinePlan& plan, size_t from, size_t to, const unsigned char* in,
                                   unsigned char* out) {
    const size_t n = plan.Outputs();
    const int32_t* first = plan.first.data();
    const int32_t* h01 = plan.pairs.data();
    const int32_t* h23 = h01 + n;
    const int32_t* l01 = h23 + n;
    const int32_t* l23 = l01 + n;
    // Bytes 0,1 and 2,3 of each 32-bit lane as 16-bit pairs.
    const __m256i take01 = _mm256_setr_epi8(0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1,
                                            0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1);
    const __m256i take23 = _mm256_setr_epi8(2, -1, 3, -1, 6, -1, 7, -1, 10, -1, 11, -1, 14, -1, 15, -1,
                                            2, -1, 3, -1, 6, -1, 7, -1, 10, -1, 11, -1, 14, -1, 15, -1);
    size_t k = from;
    for (; k + 8 <= to; k += 8) {
        // Eight 4-byte loads beat a gather instruction on the machines
        // measured.
        const __m256i taps = _mm256_setr_epi32(Load4(in + first[k]), Load4(in + first[k + 1]),
                                               Load4(in + first[k + 2]), Load4(in + first[k + 3]),
                                               Load4(in + first[k + 4]), Load4(in + first[k + 5]),
                                               Load4(in + first[k + 6]), Load4(in + first[k + 7]));
        const __m256i x01 = _mm256_shuffle_epi8(taps, take01);
        const __m256i x23 = _mm256_shuffle_epi8(taps, take23);
        const __m256i a = _mm256_add_epi32(_mm256_madd_epi16(x01, Load8(h01 + k)),
                                           _mm256_madd_epi16(x23, Load8(h23 + k)));
        const __m256i b = _mm256_add_epi32(_mm256_madd_epi16(x01, Load8(l01 + k)),
                                           _mm256_madd_epi16(x23, Load8(l23 + k)));
        const __m256i q = Quotient<false>(a, b);
        const __m128i words = _mm_packs_epi32(_mm256_castsi256_si128(q), _mm256_extracti128_si256(q, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), _mm_packus_epi16(words, words));
    }
    return k;
}

// Outputs k0 and k1 of a colour line, one per 128-bit lane: R, G, B, 0; w
// holds their weight pairs (k0's in the low lane).
ORVIX_AVX2 inline __m256i ColourPair(const unsigned char* in, const int32_t* first, __m256i w,
                                     size_t k0, size_t k1, __m256i take01, __m256i take23) {
    const __m128i t0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + size_t(first[k0]) * 3));
    const __m128i t1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + size_t(first[k1]) * 3));
    const __m256i taps = _mm256_inserti128_si256(_mm256_castsi128_si256(t0), t1, 1);
    const __m256i x01 = _mm256_shuffle_epi8(taps, take01);
    const __m256i x23 = _mm256_shuffle_epi8(taps, take23);
    const __m256i a = _mm256_add_epi32(_mm256_madd_epi16(x01, _mm256_shuffle_epi32(w, 0x00)),
                                       _mm256_madd_epi16(x23, _mm256_shuffle_epi32(w, 0x55)));
    const __m256i b = _mm256_add_epi32(_mm256_madd_epi16(x01, _mm256_shuffle_epi32(w, 0xAA)),
                                       _mm256_madd_epi16(x23, _mm256_shuffle_epi32(w, 0xFF)));
    return Quotient<false>(a, b);
}

ORVIX_AVX2 inline __m256i PairWeights(const int32_t* pairs, size_t k0, size_t k1) {
    const __m128i w0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 4 * k0));
    const __m128i w1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(pairs + 4 * k1));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(w0), w1, 1);
}

// The pixel an output at q = 0 gives (weights 0, 1, 0, 0) as the low four
// bytes; its fourth byte is not used.
inline __m128i PixelAt(const unsigned char* in, const int32_t* first, size_t k) {
    return _mm_cvtsi32_si128(Load4(in + (size_t(first[k]) + 1) * 3));
}

// Colour line: one output per 128-bit lane; its 12 tap bytes come from one
// 16-byte load. Makes the inner outputs [from, to) in blocks of 4; returns
// where it stopped.
ORVIX_AVX2 size_t HorizontalColourAvx2(const LinePlan& plan, size_t from, size_t to, const unsigned char* in,
                                       unsigned char* out) {
    const int32_t* first = plan.first.data();
    const int32_t* pairs = plan.pairs.data();
    const uint16_t* q = plan.q.data();
    // R,G,B of taps 0,1 and of taps 2,3 as 16-bit pairs; the fourth lane is 0.
    const __m256i take01 = _mm256_setr_epi8(0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1, -1,
                                            0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1, -1);
    const __m256i take23 = _mm256_setr_epi8(6, -1, 9, -1, 7, -1, 10, -1, 8, -1, 11, -1, -1, -1, -1, -1,
                                            6, -1, 9, -1, 7, -1, 10, -1, 8, -1, 11, -1, -1, -1, -1, -1);
    // Outputs k, k+2, k+1, k+3 (four bytes each, the last unused) in order.
    const __m128i compact = _mm_setr_epi8(0, 1, 2, 8, 9, 10, 4, 5, 6, 12, 13, 14, -1, -1, -1, -1);
    // Outputs k to k+3 in order.
    const __m128i inOrder = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    size_t k = from;
    for (; k + 4 <= to; k += 4) {
        __m128i bytes;
        if ((q[k] | q[k + 2]) == 0 || (q[k + 1] | q[k + 3]) == 0) {
            // Every other output lies on a pixel, as in an enlargement by
            // two: those are that pixel exactly, and only the other two are
            // interpolated.
            const size_t c = q[k] == 0 ? k + 1 : k;
            const size_t p = c == k ? k + 1 : k;
            const __m256i v = ColourPair(in, first, PairWeights(pairs, c, c + 2), c, c + 2, take01, take23);
            const __m256i b = _mm256_packus_epi16(_mm256_packs_epi32(v, v), _mm256_packs_epi32(v, v));
            const __m128i c0 = _mm256_castsi256_si128(b);
            const __m128i c1 = _mm256_extracti128_si256(b, 1);
            const __m128i p0 = PixelAt(in, first, p);
            const __m128i p1 = PixelAt(in, first, p + 2);
            const __m128i all = c == k ? _mm_unpacklo_epi64(_mm_unpacklo_epi32(c0, p0), _mm_unpacklo_epi32(c1, p1))
                                       : _mm_unpacklo_epi64(_mm_unpacklo_epi32(p0, c0), _mm_unpacklo_epi32(p1, c1));
            bytes = _mm_shuffle_epi8(all, inOrder);
        } else {
            const __m256i words = _mm256_packs_epi32(
                ColourPair(in, first, Load8(pairs + 4 * k), k, k + 1, take01, take23),
                ColourPair(in, first, Load8(pairs + 4 * (k + 2)), k + 2, k + 3, take01, take23));
            bytes = _mm_packus_epi16(_mm256_castsi256_si128(words), _mm256_extracti128_si256(words, 1));
            bytes = _mm_shuffle_epi8(bytes, compact);
        }
        unsigned char* o = out + k * 3;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o), bytes);
        const int32_t last = _mm_extract_epi32(bytes, 2);
        std::memcpy(o + 8, &last, 4);
    }
    return k;
}

// ---- AVX-512 kernels ------------------------------------------------------------
// The same arithmetic as the AVX2 kernels on twice the lanes.

ORVIX_AVX512_KERNELS_BEGIN


// A byte shuffle pattern repeated in each 128-bit lane.
ORVIX_AVX512 inline __m512i Repeat4(char b0, char b1, char b2, char b3, char b4, char b5, char b6,
                                    char b7, char b8, char b9, char b10, char b11, char b12,
                                    char b13, char b14, char b15) {
    const __m128i lane = _mm_setr_epi8(b0, b1, b2, b3, b4, b5, b6, b7, b8, b9, b10, b11, b12, b13, b14, b15);
    const __m512i v = _mm512_castsi128_si512(lane);
    return _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 1, 0, 1, 0, 1, 0, 1), v);
}

// The 16 bytes from colour pixel `pixel` on.
inline __m128i Load16(const unsigned char* in, int32_t pixel) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + size_t(pixel) * 3));
}

template <bool kHalfFloor>
ORVIX_AVX512 inline __m512i Quotient512(__m512i a, __m512i b) {
    const __m512 scale = _mm512_set1_ps(static_cast<float>(32768.0 / static_cast<double>(kD)));
    const __m512i one = _mm512_set1_epi32(1);
    __m512i k = _mm512_cvttps_epi32(_mm512_mul_ps(_mm512_cvtepi32_ps(a), scale));
    const __m512i n = _mm512_add_epi32(_mm512_slli_epi32(a, 15), b);
    const __m512i r = _mm512_sub_epi32(n, _mm512_mullo_epi32(k, _mm512_set1_epi32(static_cast<int32_t>(kD))));
    const __mmask16 below = _mm512_cmplt_epi32_mask(r, _mm512_setzero_si512());
    const __mmask16 above = _mm512_cmpgt_epi32_mask(r, _mm512_set1_epi32(static_cast<int32_t>(kD - 1)));
    k = _mm512_mask_sub_epi32(k, below, k, one);
    k = _mm512_mask_add_epi32(k, above, k, one);
    if constexpr (kHalfFloor) {
        const __m512i d = _mm512_set1_epi32(static_cast<int32_t>(kD));
        __m512i rem = _mm512_mask_add_epi32(r, below, r, d);
        rem = _mm512_mask_sub_epi32(rem, above, rem, d);
        const __mmask16 low = _mm512_cmpeq_epi32_mask(k, one) &
                              _mm512_cmplt_epi32_mask(rem, _mm512_set1_epi32(static_cast<int32_t>(kD / 2)));
        k = _mm512_mask_mov_epi32(k, low, _mm512_setzero_si512());
    }
    return k;
}

// 32 samples as 16-bit values in order.
template <bool kHalfFloor>
ORVIX_AVX512 inline __m512i Vertical32(const unsigned char* p0, const unsigned char* p1,
                                       const unsigned char* p2, const unsigned char* p3,
                                       __m512i h01, __m512i h23, __m512i l01, __m512i l23) {
    const __m512i a = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p0)));
    const __m512i b = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p1)));
    const __m512i c = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p2)));
    const __m512i d = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p3)));
    const __m512i ab0 = _mm512_unpacklo_epi16(a, b);
    const __m512i ab1 = _mm512_unpackhi_epi16(a, b);
    const __m512i cd0 = _mm512_unpacklo_epi16(c, d);
    const __m512i cd1 = _mm512_unpackhi_epi16(c, d);
    const __m512i k0 = Quotient512<kHalfFloor>(
        _mm512_add_epi32(_mm512_madd_epi16(ab0, h01), _mm512_madd_epi16(cd0, h23)),
        _mm512_add_epi32(_mm512_madd_epi16(ab0, l01), _mm512_madd_epi16(cd0, l23)));
    const __m512i k1 = Quotient512<kHalfFloor>(
        _mm512_add_epi32(_mm512_madd_epi16(ab1, h01), _mm512_madd_epi16(cd1, h23)),
        _mm512_add_epi32(_mm512_madd_epi16(ab1, l01), _mm512_madd_epi16(cd1, l23)));
    return _mm512_packs_epi32(k0, k1);
}

template <bool kHalfFloor>
ORVIX_AVX512 size_t VerticalAvx512(const unsigned char* const rows[4], const int32_t pairs[4],
                                   size_t bytes, unsigned char* out) {
    const __m512i h01 = _mm512_set1_epi32(pairs[0]);
    const __m512i h23 = _mm512_set1_epi32(pairs[1]);
    const __m512i l01 = _mm512_set1_epi32(pairs[2]);
    const __m512i l23 = _mm512_set1_epi32(pairs[3]);
    const __m512i order = _mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7);
    const unsigned char* r0 = rows[0];
    const unsigned char* r1 = rows[1];
    const unsigned char* r2 = rows[2];
    const unsigned char* r3 = rows[3];
    size_t i = 0;
    for (; i + 64 <= bytes; i += 64) {
        const __m512i lo = Vertical32<kHalfFloor>(r0 + i, r1 + i, r2 + i, r3 + i, h01, h23, l01, l23);
        const __m512i hi = Vertical32<kHalfFloor>(r0 + i + 32, r1 + i + 32, r2 + i + 32, r3 + i + 32,
                                                  h01, h23, l01, l23);
        // packus works within 128-bit lanes: put the 8-byte runs in order.
        const __m512i v = _mm512_permutexvar_epi64(order, _mm512_packus_epi16(lo, hi));
        _mm512_storeu_si512(out + i, v);
    }
    const unsigned char* rest[4] = {r0 + i, r1 + i, r2 + i, r3 + i};
    return i + VerticalAvx2<kHalfFloor>(rest, pairs, bytes - i, out + i);
}

ORVIX_AVX512 size_t HorizontalGreyAvx512(const LinePlan& plan, size_t from, size_t to, const unsigned char* in,
                                         unsigned char* out) {
    const size_t n = plan.Outputs();
    const int32_t* first = plan.first.data();
    const int32_t* h01 = plan.pairs.data();
    const int32_t* h23 = h01 + n;
    const int32_t* l01 = h23 + n;
    const int32_t* l23 = l01 + n;
    const __m512i take01 = Repeat4(0, -1, 1, -1, 4, -1, 5, -1, 8, -1, 9, -1, 12, -1, 13, -1);
    const __m512i take23 = Repeat4(2, -1, 3, -1, 6, -1, 7, -1, 10, -1, 11, -1, 14, -1, 15, -1);
    size_t k = from;
    for (; k + 16 <= to; k += 16) {
        const int32_t* f = first + k;
        const __m512i taps = _mm512_setr_epi32(
            Load4(in + f[0]), Load4(in + f[1]), Load4(in + f[2]), Load4(in + f[3]), Load4(in + f[4]),
            Load4(in + f[5]), Load4(in + f[6]), Load4(in + f[7]), Load4(in + f[8]), Load4(in + f[9]),
            Load4(in + f[10]), Load4(in + f[11]), Load4(in + f[12]), Load4(in + f[13]),
            Load4(in + f[14]), Load4(in + f[15]));
        const __m512i x01 = _mm512_shuffle_epi8(taps, take01);
        const __m512i x23 = _mm512_shuffle_epi8(taps, take23);
        const __m512i a = _mm512_add_epi32(_mm512_madd_epi16(x01, _mm512_loadu_si512(h01 + k)),
                                           _mm512_madd_epi16(x23, _mm512_loadu_si512(h23 + k)));
        const __m512i b = _mm512_add_epi32(_mm512_madd_epi16(x01, _mm512_loadu_si512(l01 + k)),
                                           _mm512_madd_epi16(x23, _mm512_loadu_si512(l23 + k)));
        const __m512i q = _mm512_max_epi32(Quotient512<false>(a, b), _mm512_setzero_si512());
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + k), _mm512_cvtusepi32_epi8(q));
    }
    return k;
}

// Colour line: four outputs per vector, one per 128-bit lane.
ORVIX_AVX512 size_t HorizontalColourAvx512(const LinePlan& plan, size_t from, size_t to, const unsigned char* in,
                                           unsigned char* out) {
    const int32_t* first = plan.first.data();
    const int32_t* pairs = plan.pairs.data();
    const __m512i take01 = Repeat4(0, -1, 3, -1, 1, -1, 4, -1, 2, -1, 5, -1, -1, -1, -1, -1);
    const __m512i take23 = Repeat4(6, -1, 9, -1, 7, -1, 10, -1, 8, -1, 11, -1, -1, -1, -1, -1);
    // Spreads weight pair j of each lane's output over that lane.
    const __m512i spread0 = _mm512_setr_epi32(0, 0, 0, 0, 4, 4, 4, 4, 8, 8, 8, 8, 12, 12, 12, 12);
    const __m512i spread1 = _mm512_add_epi32(spread0, _mm512_set1_epi32(1));
    const __m512i spread2 = _mm512_add_epi32(spread0, _mm512_set1_epi32(2));
    const __m512i spread3 = _mm512_add_epi32(spread0, _mm512_set1_epi32(3));
    const __m128i compact = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    size_t k = from;
    for (; k + 4 <= to; k += 4) {
        __m512i taps = _mm512_castsi128_si512(Load16(in, first[k]));
        taps = _mm512_inserti32x4(taps, Load16(in, first[k + 1]), 1);
        taps = _mm512_inserti32x4(taps, Load16(in, first[k + 2]), 2);
        taps = _mm512_inserti32x4(taps, Load16(in, first[k + 3]), 3);
        const __m512i x01 = _mm512_shuffle_epi8(taps, take01);
        const __m512i x23 = _mm512_shuffle_epi8(taps, take23);
        const __m512i w = _mm512_loadu_si512(pairs + 4 * k);
        const __m512i a = _mm512_add_epi32(_mm512_madd_epi16(x01, _mm512_permutexvar_epi32(spread0, w)),
                                           _mm512_madd_epi16(x23, _mm512_permutexvar_epi32(spread1, w)));
        const __m512i b = _mm512_add_epi32(_mm512_madd_epi16(x01, _mm512_permutexvar_epi32(spread2, w)),
                                           _mm512_madd_epi16(x23, _mm512_permutexvar_epi32(spread3, w)));
        const __m512i q = _mm512_max_epi32(Quotient512<false>(a, b), _mm512_setzero_si512());
        const __m128i bytes = _mm_shuffle_epi8(_mm512_cvtusepi32_epi8(q), compact);
        unsigned char* o = out + k * 3;
        _mm_storel_epi64(reinterpret_cast<__m128i*>(o), bytes);
        const int32_t last = _mm_extract_epi32(bytes, 2);
        std::memcpy(o + 8, &last, 4);
    }
    return k;
}

ORVIX_AVX512_KERNELS_END

#endif  // ORVIX_SCALE_X86

// The TIFF codec's handle, should one still be open when a scaling ends.
void CloseOpenTiffOutput() {
    TIFFClass& tiff = *Lib().tiff;
    if (tiff.IsOpen()) tiff.CloseTiff();
}

// Restores a colour source to B,G,R order on every exit of a scaling that
// swapped it to R,G,B, and closes any TIFF output left open.
class ScalingExit {
public:
    explicit ScalingExit(ImgClass& img) : img_(img) {
        const ImgStruct& s = img.ImgStruct;
        if (s.Samples == 3 && s.BgrOrder && s.ImgData) swapped_ = !Swap_RGB(&img);
    }
    ~ScalingExit() {
        CloseOpenTiffOutput();
        if (swapped_) Swap_RGB(&img_);
    }
    ScalingExit(const ScalingExit&) = delete;
    ScalingExit& operator=(const ScalingExit&) = delete;

private:
    ImgClass& img_;
    bool swapped_ = false;
};

// Loads a source without pixels from the file of the current header record,
// under that name; the image keeps its own name.
bool LoadSource(ImgClass& img) {
    ImgStruct& s = img.ImgStruct;
    const IMAGE_HDR& hdr = Lib().hdr->Header();
    const std::string name(hdr.FileName, strnlen(hdr.FileName, sizeof hdr.FileName));
    const std::string own(s.FileName, strnlen(s.FileName, sizeof s.FileName));
    if (!CopyName(s.FileName, name.c_str())) return true;
    const bool failed = ReadImage(false, &img);
    CopyName(s.FileName, own.c_str());
    return failed || !s.ImgData;
}

}  // namespace

// ---- Weights and the sample rule ------------------------------------------------

CScaleImage::CScaleImage() {
    constexpr int64_t a = 511;
    for (int q = 0; q < kSteps; ++q) {
        const int64_t x = q;
        // The Lagrange basis for the nodes -1, 0, 1 and 2 at x = q/511,
        // times 6 * 511^3.
        const int64_t n[4] = {
            -x * (x - a) * (x - 2 * a),
            3 * (x + a) * (x - a) * (x - 2 * a),
            -3 * (x + a) * x * (x - 2 * a),
            (x + a) * x * (x - a),
        };
        int32_t hi[4], lo[4];
        for (int i = 0; i < 4; ++i) {
            numerators_[q][i] = static_cast<int32_t>(n[i]);
            hi[i] = numerators_[q][i] >> 15;
            lo[i] = numerators_[q][i] & 0x7FFF;
        }
        auto pack = [](int32_t first, int32_t second) {
            return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint16_t>(first)) |
                                        static_cast<uint32_t>(static_cast<uint16_t>(second)) << 16);
        };
        pairs_[q][0] = pack(hi[0], hi[1]);
        pairs_[q][1] = pack(hi[2], hi[3]);
        pairs_[q][2] = pack(lo[0], lo[1]);
        pairs_[q][3] = pack(lo[2], lo[3]);
    }
    UseKernels(Kernels::Best);
}

int CScaleImage::Quantise(double f) {
    const double v = f * 511.0 + 0.5;
    if (!(v >= 0.0)) return 0;
    if (v >= 511.0) return 511;
    return static_cast<int>(v);
}

unsigned char CScaleImage::ToByte(int64_t numerator, Floor floor) {
    if (numerator > 255 * kDenominator) return 255;
    const int64_t least = floor == Floor::One ? kDenominator : kDenominator * 3 / 2;
    if (numerator < least) return 0;
    return static_cast<unsigned char>(numerator / kDenominator);
}

CScaleImage::Kernels CScaleImage::UseKernels(Kernels wanted) {
    kernels_ = WidestKernels(wanted);
    return kernels_;
}

// ---- Line interpolation ----------------------------------------------------------

void CScaleImage::PlanLine(int inputs, int samples, double factor, size_t limit,
                           LineCursor& cursor, LinePlan& plan) const {
    plan.inputs = inputs;
    plan.samples = samples;
    plan.first.clear();
    plan.q.clear();
    const double step = 1.0 / factor;
    const double expected = std::ceil(double(inputs - cursor.pixel) * factor) + 2.0;
    const size_t reserve = expected < double(limit) ? static_cast<size_t>(expected) : limit;
    plan.first.reserve(reserve);
    plan.q.reserve(reserve);
    // Output positions advance by step within an input pixel, and by -1.0
    // from one pixel to the next, exactly as the interpolator always has.
    while (!cursor.Done(inputs) && plan.q.size() < limit) {
        if (cursor.t < 1.0) {
            plan.first.push_back(cursor.pixel - 1);
            plan.q.push_back(static_cast<uint16_t>(Quantise(cursor.t)));
            cursor.t += step;
        } else {
            cursor.t -= 1.0;
            ++cursor.pixel;
        }
    }
    PreparePlan(plan);
}

void CScaleImage::PlanLine(int inputs, int samples, double factor, size_t limit,
                           LinePlan& plan) const {
    LineCursor cursor;
    PlanLine(inputs, samples, factor, limit, cursor, plan);
}

void CScaleImage::PreparePlan(LinePlan& plan) const {
    const size_t n = plan.Outputs();
    plan.pairs.resize(4 * n);
    if (plan.samples == 1) {
        // Four arrays: every output's hi01, then hi23, lo01, lo23.
        for (size_t k = 0; k < n; ++k)
            for (size_t j = 0; j < 4; ++j) plan.pairs[j * n + k] = pairs_[plan.q[k]][j];
    } else {
        for (size_t k = 0; k < n; ++k)
            std::memcpy(&plan.pairs[4 * k], pairs_[plan.q[k]], sizeof pairs_[0]);
    }
    // Outputs whose taps need no edge repetition and whose vector load (4
    // bytes for grey, 16 for colour) stays inside the line. Taps only move
    // right, so they form one run.
    const int64_t lineBytes = int64_t{plan.inputs} * plan.samples;
    const int64_t loadBytes = plan.samples == 1 ? 4 : 16;
    size_t k = 0;
    while (k < n && plan.first[k] < 0) ++k;
    plan.innerBegin = k;
    while (k < n && int64_t{plan.first[k]} * plan.samples + loadBytes <= lineBytes) ++k;
    plan.innerEnd = k;
}

void CScaleImage::ScaleRow(const LinePlan& plan, const unsigned char* in,
                           unsigned char* out) const {
    size_t done = 0;
#if ORVIX_SCALE_X86
    if (kernels_ != Kernels::Portable) {
        HorizontalPortable(plan, numerators_, in, out, 0, plan.innerBegin);
        done = plan.innerBegin;
        const bool grey = plan.samples == 1;
        const size_t samples = static_cast<size_t>(plan.samples);
        // When a reduction leaves little work per input byte, the kernels
        // outrun the hardware prefetcher on rows that come from memory; so
        // before each block of outputs the input lines a fixed distance
        // ahead are asked for, each line once.
        size_t asked =
            done < plan.innerEnd ? (size_t(plan.first[done]) * samples) & ~size_t{63} : 0;
        while (done < plan.innerEnd) {
            const size_t to = std::min(done + kRowBlock, plan.innerEnd);
            const size_t wanted = (size_t(plan.first[to - 1]) + 4) * samples + kPrefetchBytes;
            for (; asked < wanted; asked += 64) _mm_prefetch(reinterpret_cast<const char*>(in + asked), _MM_HINT_T0);
            size_t k = done;
            if (kernels_ == Kernels::Avx512)
                k = grey ? HorizontalGreyAvx512(plan, k, to, in, out)
                         : HorizontalColourAvx512(plan, k, to, in, out);
            k = grey ? HorizontalGreyAvx2(plan, k, to, in, out) : HorizontalColourAvx2(plan, k, to, in, out);
            HorizontalPortable(plan, numerators_, in, out, k, to);
            done = to;
        }
    }
#endif
    HorizontalPortable(plan, numerators_, in, out, done, plan.Outputs());
}

int CScaleImage::ScaleLine(bool bw, int count, double factor, const unsigned char* in,
                           unsigned char* out) const {
    if (!in || !out || count <= 0 || !(factor > 0.0) || !std::isfinite(factor)) return 0;
    // The output count is about count * factor, plus one at most.
    if (double(count) * factor > double(std::numeric_limits<int>::max() - 2)) return 0;
    const int samples = bw ? 1 : 3;
    constexpr size_t kChunk = 4096;
    LinePlan plan;
    LineCursor cursor;
    size_t written = 0;
    while (!cursor.Done(count)) {
        PlanLine(count, samples, factor, kChunk, cursor, plan);
        ScaleRow(plan, in, out + written * samples);
        written += plan.Outputs();
    }
    return static_cast<int>(written);
}

// ---- Vertical interpolation and the ring ---------------------------------------------

void CScaleImage::InterpolateRows(const unsigned char* const rows[4], int q, size_t bytes,
                                  unsigned char* out, Floor floor) const {
    if (q == 0 && floor == Floor::One) {
        // Weights (0, 1, 0, 0): the row itself (a 1.5 floor would drop 1s).
        std::memcpy(out, rows[1], bytes);
        return;
    }
    size_t done = 0;
#if ORVIX_SCALE_X86
    const bool one = floor == Floor::One;
    if (kernels_ == Kernels::Avx512)
        done = one ? VerticalAvx512<false>(rows, pairs_[q], bytes, out)
                   : VerticalAvx512<true>(rows, pairs_[q], bytes, out);
    else if (kernels_ == Kernels::Avx2)
        done = one ? VerticalAvx2<false>(rows, pairs_[q], bytes, out)
                   : VerticalAvx2<true>(rows, pairs_[q], bytes, out);
#endif
    VerticalPortable(rows, numerators_[q], done, bytes, out, floor);
}

bool CScaleImage::MakeWorkImage(ImgClass& work, uint32_t width, int samples) {
    ImgStruct& w = work.ImgStruct;
    const uint64_t line = Utility::RoundUp4(uint64_t{width} * static_cast<uint64_t>(samples)) + 256;
    if (line > UINT32_MAX) return true;
    w.Width = width;
    w.Height = 5;
    w.Samples = samples;
    w.Bits = 8;
    w.LineSize = static_cast<uint32_t>(line);
    return work.AllocData() || !w.ImgData;
}

CScaleImage::RingEnd CScaleImage::RunRing(const ImgClass& src, const LinePlan& plan,
                                          double yFactor, uint32_t outHeight, ImgClass& work,
                                          Floor floor, RowSink& sink) const {
    const ImgStruct& s = src.ImgStruct;
    const ImgStruct& w = work.ImgStruct;
    const size_t bytes = size_t{w.Width} * static_cast<size_t>(s.Samples);
    unsigned char* slot[4];
    for (int i = 0; i < 4; ++i) slot[i] = w.ImgData + size_t(i) * w.LineSize;
    // Source row held by each work row, so that the repeated edge rows are
    // copied rather than scaled again.
    int64_t held[4] = {-1, -1, -1, -1};
    auto load = [&](int to, uint64_t row) {
        row = std::min<uint64_t>(row, s.Height - 1);
        for (int i = 0; i < 4; ++i) {
            if (i != to && held[i] == int64_t(row)) {
                std::memcpy(slot[to], slot[i], bytes);
                held[to] = held[i];
                return;
            }
        }
        ScaleRow(plan, s.ImgData + row * s.LineSize, slot[to]);
        held[to] = int64_t(row);
    };
    load(0, 0);
    load(1, 0);
    load(2, 1);
    load(3, 2);

    int r[4] = {0, 1, 2, 3};
    const double step = 1.0 / yFactor;
    double t = 0.0;
    uint32_t line = 0;
    Progress progress(WriteProgress(), static_cast<int>(s.Height));
    progress.Start();
    for (uint32_t j = 0; j < s.Height; ++j) {
        while (t < 1.0) {
            const unsigned char* rows[4] = {slot[r[0]], slot[r[1]], slot[r[2]], slot[r[3]]};
            InterpolateRows(rows, Quantise(t), bytes, sink.Row(line), floor);
            if (sink.Written(line)) return RingEnd::SinkFailed;
            if (++line >= outHeight) {
                PostError("CScaleImage ERROR writing TIFF line %d", static_cast<int>(outHeight - 1));
                return RingEnd::Complete;
            }
            t += step;
        }
        for (int& i : r) i = (i + 1) & 3;
        t -= 1.0;
        load(r[3], uint64_t{j} + 3);
        if (plan.Outputs() == 0) {
            std::printf("EXIT  line = %d\n", static_cast<int>(line));
            return RingEnd::EmptyRow;
        }
        progress.Line(static_cast<int>(j));
    }
    return RingEnd::SourceEnded;
}

// ---- Whole image ------------------------------------------------------------------------

bool CScaleImage::OutputLength(uint32_t length, double factor, uint64_t most, uint32_t& out) {
    const double v = double(length) * factor + 0.5;
    if (!(v >= 1.0) || v >= double(most) + 1.0) return false;
    out = static_cast<uint32_t>(v);
    return true;
}

bool CScaleImage::ScaleImage(ImgClass* src, double xFactor, double yFactor, ImgClass* dst) const {
    if (!src || !dst) return PostError("ScaleImage(..) Image is NULL");
    if (src == dst) return PostError("ScaleImage(..) source and destination are the same image");
    ImgStruct& s = src->ImgStruct;
    if (!s.ImgData && LoadSource(*src)) return true;

    const ScalingExit exit(*src);
    if (s.Width == 0 || s.Height == 0)
        return PostError("0010\tScaleImage(..) %d %d Err exit\n", static_cast<int>(s.Width),
                         static_cast<int>(s.Height));
    // The cubic scaler would blend colour across transparent pixels.
    if (HasAlpha(s)) return RefuseAlpha("ScaleImage", s);
    if ((s.Samples != 1 && s.Samples != 3) || s.Bits != 8)
        return PostError("ScaleImage(..) %d samples of %d bits: only 8-bit grey and RGB images are scaled",
                         s.Samples, s.Bits);
    if (uint64_t{s.LineSize} < uint64_t{s.Width} * static_cast<uint64_t>(s.Samples) ||
        s.Width > static_cast<uint32_t>(std::numeric_limits<int>::max()) ||
        s.Height > static_cast<uint32_t>(std::numeric_limits<int>::max()))
        return PostError("ScaleImage(..) line size %u does not hold %u pixels", s.LineSize, s.Width);

    if (yFactor < 0.0) yFactor = xFactor;
    if (xFactor == 1.0 && yFactor == 1.0) {
        PostError("Scale is 1.0 No Action");
        return dst->ImgStruct.ImgData == nullptr;
    }

    ImgStruct& d = dst->ImgStruct;
    const uint64_t samples = static_cast<uint64_t>(s.Samples);
    uint32_t width = 0, height = 0;
    if (!OutputLength(s.Width, xFactor, (UINT32_MAX - 1024) / samples, width) ||
        !OutputLength(s.Height, yFactor, uint64_t(std::numeric_limits<int>::max()) - 2, height)) {
        dst->FreeData();
        return PostError("ScaleImage(..) %u x %u at %g x %g gives no image", s.Width, s.Height,
                         xFactor, yFactor);
    }
    d.Width = width;
    d.Height = height;
    d.Samples = s.Samples;
    d.Bits = s.Bits;
    d.Resolution = s.Resolution;
    d.ResUnit = s.ResUnit;
    d.LineSize = Utility::RoundUp4(static_cast<uint32_t>(width * samples));
    ImgClass work;
    if (AllocWithSpare(*dst, 2) || MakeWorkImage(work, width, s.Samples)) {
        dst->FreeData();
        return PostError("ScaleImage(..) memory allocation failed for %u x %u", width, height);
    }

    LinePlan plan;
    PlanLine(static_cast<int>(s.Width), s.Samples, xFactor, width, plan);
    ImageRows sink(d);
    RunRing(*src, plan, yFactor, height, work, Floor::One, sink);
    return d.ImgData == nullptr;
}

bool CScaleImage::LowMemoryScaleImage(bool lzw, ImgClass* src, const char* out, double xFactor,
                                      double yFactor) const {
    if (!src) return PostError("Low_Memory_ScaleImage(..) Image is NULL");
    if (!out || !*out) return PostError("Low_Memory_ScaleImage(..) no output file named");
    ImgStruct& s = src->ImgStruct;
    if (!s.ImgData && LoadSource(*src)) return true;
    const ScalingExit exit(*src);
    // The rows stream into a handle of their own: whatever the progress
    // receiver does with the library's TIFF codec leaves this file open.
    TIFFClass tiff;
    if (s.Width == 0 || s.Height == 0)
        return PostError("0010\tCScaleImage(..) %d %d Err exit\n", static_cast<int>(s.Width),
                         static_cast<int>(s.Height));
    // The cubic scaler would blend colour across transparent pixels.
    if (HasAlpha(s)) return RefuseAlpha("Low_Memory_ScaleImage", s);
    if ((s.Samples != 1 && s.Samples != 3) || s.Bits != 8)
        return PostError("Low_Memory_ScaleImage(..) %d samples of %d bits: only 8-bit grey and RGB images are scaled",
                         s.Samples, s.Bits);
    if (uint64_t{s.LineSize} < uint64_t{s.Width} * static_cast<uint64_t>(s.Samples) ||
        s.Width > static_cast<uint32_t>(std::numeric_limits<int>::max()) ||
        s.Height > static_cast<uint32_t>(std::numeric_limits<int>::max()))
        return PostError("Low_Memory_ScaleImage(..) line size %u does not hold %u pixels", s.LineSize, s.Width);

    if (yFactor < 0.0) yFactor = xFactor;
    if (xFactor == 1.0 && yFactor == 1.0) {
        // Nothing to resample: the source is written as it is.
        std::string name(s.FileName);
        if (!CopyName(s.FileName, out)) return PostError("Low_Memory_ScaleImage(..) output name too long");
        const bool failed = tiff.WriteTIFF(lzw, false, src);
        CopyName(s.FileName, name.c_str());
        return failed;
    }

    const uint64_t samples = static_cast<uint64_t>(s.Samples);
    uint32_t width = 0, height = 0;
    if (!OutputLength(s.Width, xFactor, (UINT32_MAX - 1024) / samples, width) ||
        !OutputLength(s.Height, yFactor, uint64_t(std::numeric_limits<int>::max()) - 2, height))
        return PostError("Low_Memory_ScaleImage(..) %u x %u at %g x %g gives no image", s.Width,
                         s.Height, xFactor, yFactor);

    // The work image first describes the output file, then holds the ring.
    ImgClass work;
    ImgStruct& w = work.ImgStruct;
    if (!CopyName(w.FileName, out)) return PostError("Low_Memory_ScaleImage(..) output name too long");
    w.Width = width;
    w.Height = height;
    w.LineSize = Utility::RoundUp4(static_cast<uint32_t>(width * samples));
    w.Samples = s.Samples;
    w.Bits = s.Bits;
    w.Resolution = s.Resolution;
    w.ResUnit = s.ResUnit;
    w.Planar = 0;
    if (!tiff.Open_Write_Tiff(lzw, &work))
        return PostError("0030\tCScaleImage(..) pTIFFClass->Open_Write_Tiff(..)\tFAILED\n");
    if (MakeWorkImage(work, width, s.Samples)) {
        tiff.CloseTiff();
        return PostError("Low_Memory_ScaleImage(..) memory allocation failed for %u pixels", width);
    }

    LinePlan plan;
    PlanLine(static_cast<int>(s.Width), s.Samples, xFactor, width, plan);
    // Each row is interpolated into the work image's spare row.
    TiffRows sink(tiff, w.ImgData + size_t{4} * w.LineSize);
    const RingEnd end = RunRing(*src, plan, yFactor, height, work, Floor::OneAndHalf, sink);
    const bool closeFailed = tiff.CloseTiff();
    // A file with fewer rows than it declares is no image.
    return end != RingEnd::Complete || closeFailed;
}

}  // namespace orvix

using namespace orvix;

extern "C" {

ORVIX_API bool Low_Memory_ScaleImage(bool lzw, ImgClass* src, char* out, double xFactor,
                                     double yFactor) {
    ClearError();
    try {
        return Scaler().LowMemoryScaleImage(lzw, src, out, xFactor, yFactor);
    } catch (const std::bad_alloc&) {
        Lib().tiff->CloseTiff();
        return PostError("Low_Memory_ScaleImage(..) memory allocation failed");
    }
}

ORVIX_API bool ScaleImage(ImgClass* src, double xFactor, double yFactor, ImgClass* dst) {
    ClearError();
    try {
        return Scaler().ScaleImage(src, xFactor, yFactor, dst);
    } catch (const std::bad_alloc&) {
        if (dst) dst->FreeData();
        return PostError("ScaleImage(..) memory allocation failed");
    }
}

ORVIX_API int ScaleLineClr(bool bw, int /*reserved*/, int count, double factor, unsigned char* in,
                           unsigned char* out) {
    try {
        return Scaler().ScaleLine(bw, count, factor, in, out);
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

}  // extern "C"
