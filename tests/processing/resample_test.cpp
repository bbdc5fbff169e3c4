// The antialiasing resampler: every filter against a plain double-precision
// sum, the vector kernels against the portable ones, the row-streaming form
// against the in-memory one, refusals, and a zone plate that the cubic
// scaler aliases and the resampler must not.
#include "processing/resample.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <csignal>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "library.h"
#include "support/test_support.h"

using namespace testing_support;
using orvix::CResample;
namespace fs = std::filesystem;

namespace {

// ---- Reference: one double sum over each output pixel's 2-D window ----------------

constexpr double kPi = 3.14159265358979323846;
const int kFilters[] = {FILTER_LANCZOS3, FILTER_MITCHELL, FILTER_CATMULL_ROM, FILTER_BOX};

double Sinc(double x) { return x == 0.0 ? 1.0 : std::sin(kPi * x) / (kPi * x); }

double Kernel(int filter, double x) {
    const double t = std::fabs(x);
    switch (filter) {
    case FILTER_LANCZOS3: return t < 3.0 ? Sinc(x) * Sinc(x / 3.0) : 0.0;
    case FILTER_MITCHELL:  // B = C = 1/3, multiplied out
        if (t < 1.0) return (7.0 * t * t * t - 12.0 * t * t + 16.0 / 3.0) / 6.0;
        if (t < 2.0) return (-7.0 / 3.0 * t * t * t + 12.0 * t * t - 20.0 * t + 32.0 / 3.0) / 6.0;
        return 0.0;
    case FILTER_CATMULL_ROM:
        if (t < 1.0) return 1.5 * t * t * t - 2.5 * t * t + 1.0;
        if (t < 2.0) return -0.5 * t * t * t + 2.5 * t * t - 4.0 * t + 2.0;
        return 0.0;
    default: return 1.0;  // box: every tap of the window counts fully
    }
}

// Taps of output j on an axis of n samples made m, weights not yet normalised.
struct Taps {
    int first = 0;
    std::vector<double> w;
    double sum = 0.0;
};

int64_t FloorDiv(int64_t p, int64_t q) { return p >= 0 ? p / q : -((q - 1 - p) / q); }

Taps AxisTaps(int n, int m, int j, int filter) {
    // The window's ends c -+ R + 1/2 in exact fractions over 2m, so that a
    // tap on an edge falls where the formula puts it, not where rounding does.
    const int64_t twiceA = filter == FILTER_LANCZOS3 ? 6 : filter == FILTER_BOX ? 1 : 4;
    const int64_t centre = (2 * int64_t{j} + 1) * n + m, reach = twiceA * std::max(n, m);
    Taps t;
    t.first = int(std::max<int64_t>(0, FloorDiv(centre - reach, 2 * int64_t{m})));
    const int end = int(std::min<int64_t>(n, FloorDiv(centre + reach, 2 * int64_t{m})));
    const double c = (j + 0.5) * n / m, f = std::max(double(n) / m, 1.0);
    for (int i = t.first; i < end; ++i) {
        t.w.push_back(Kernel(filter, (i + 0.5 - c) / f));
        t.sum += t.w.back();
    }
    return t;
}

// Output bytes of an R,G,B or grey source, rows packed.
std::vector<uint8_t> Reference(const ImgClass& src, int ow, int oh, int filter) {
    const ImgStruct& s = src.ImgStruct;
    const int n = s.Samples;
    std::vector<uint8_t> out;
    for (int y = 0; y < oh; ++y)
        for (int x = 0; x < ow; ++x) {
            const Taps tx = AxisTaps(int(s.Width), ow, x, filter), ty = AxisTaps(int(s.Height), oh, y, filter);
            for (int c = 0; c < n; ++c) {
                double v = 0.0;
                for (size_t k = 0; k < ty.w.size(); ++k)
                    for (size_t i = 0; i < tx.w.size(); ++i)
                        v += tx.w[i] * ty.w[k] * At(src, uint32_t(tx.first + int(i)), uint32_t(ty.first + int(k)), c);
                v /= tx.sum * ty.sum;
                out.push_back(uint8_t(std::clamp(std::floor(v + 0.5), 0.0, 255.0)));
            }
        }
    return out;
}

// Noise, hard 0/255 blocks, smooth ramps.
void Content(ImgClass& img, uint32_t w, uint32_t h, int samples, int mode, std::mt19937& rng) {
    MakeImage(img, w, h, samples);
    ImgStruct& s = img.ImgStruct;
    s.Resolution = 123.5;
    s.ResUnit = 3;
    std::vector<uint8_t> blocks(64);
    for (auto& b : blocks) b = rng() & 1 ? 255 : 0;
    for (uint32_t y = 0; y < h; ++y)
        for (uint32_t x = 0; x < w; ++x)
            for (int c = 0; c < samples; ++c) {
                int v = int(rng() & 0xFF);
                if (mode == 1) v = blocks[(x / 2 + y / 3 * 5 + uint32_t(c) * 3) % 64];
                if (mode == 2) v = int(128 + 100 * std::sin(0.11 * x + 0.07 * y + c));
                s.ImgData[size_t{y} * s.LineSize + size_t{x} * samples + size_t(c)] = uint8_t(v);
            }
}

std::vector<uint8_t> Packed(const ImgClass& img) {
    const ImgStruct& s = img.ImgStruct;
    std::vector<uint8_t> out;
    for (uint32_t y = 0; y < s.Height; ++y)
        out.insert(out.end(), s.ImgData + size_t{y} * s.LineSize,
                   s.ImgData + size_t{y} * s.LineSize + size_t{s.Width} * s.Samples);
    return out;
}

std::string Name(uint32_t w, uint32_t h, int samples, int ow, int oh, int filter) {
    return std::to_string(w) + "x" + std::to_string(h) + "x" + std::to_string(samples) + " to " +
           std::to_string(ow) + "x" + std::to_string(oh) + " filter " + std::to_string(filter);
}

struct Geometry {
    uint32_t w, h;
    int ow, oh;
};

}  // namespace

// ---- Against the reference ----------------------------------------------------------

TEST(Resample, EveryFilterMatchesTheDoubleSum) {
    const Geometry cases[] = {
        {1, 1, 1, 1},     {1, 1, 5, 3},     {1, 17, 1, 6},    {1, 17, 3, 51},  // single pixel, 1 x N
        {23, 1, 7, 1},    {23, 1, 46, 1},   {29, 31, 1, 1},   {31, 29, 1, 29},  // N x 1
        {40, 30, 20, 15}, {41, 37, 14, 12}, {39, 33, 13, 11}, {97, 89, 24, 22},  // 0.5, ~1/3, 1/3, ~0.25
        {44, 36, 11, 9},  {101, 53, 10, 5}, {1000, 3, 999, 3}, {3, 1000, 3, 999}, // 0.25, 0.1, 0.999
        {18, 14, 27, 21}, {19, 11, 38, 22}, {13, 7, 39, 21},                     // 1.5, 2, 3
        {60, 7, 15, 21},  {7, 60, 21, 6},   {53, 47, 80, 16},                    // mixed axes
    };
    std::mt19937 rng(17);
    size_t bytes = 0, offByOne = 0;
    for (size_t k = 0; k < std::size(cases); ++k) {
        const Geometry& g = cases[k];
        for (const int samples : {1, 3})
            for (const int filter : kFilters) {
                const std::string what = Name(g.w, g.h, samples, g.ow, g.oh, filter);
                SCOPED_TRACE(what);
                ImgClass src, dst;
                Content(src, g.w, g.h, samples, int(k + size_t(filter)) % 3, rng);
                ASSERT_FALSE(ResampleImage(&src, &dst, g.ow, g.oh, filter)) << Get_Last_Error();
                const ImgStruct& d = dst.ImgStruct;
                ASSERT_EQ(d.Width, uint32_t(g.ow));
                ASSERT_EQ(d.Height, uint32_t(g.oh));
                ASSERT_EQ(d.Samples, samples);
                EXPECT_EQ(d.Bits, 8);
                EXPECT_EQ(d.LineSize, (uint32_t(g.ow) * uint32_t(samples) + 3u) & ~3u);
                EXPECT_EQ(d.Resolution, 123.5);
                EXPECT_EQ(d.ResUnit, 3);
                EXPECT_EQ(d.BgrOrder, 0);
                const std::vector<uint8_t> got = Packed(dst), want = Reference(src, g.ow, g.oh, filter);
                for (size_t i = 0; i < want.size(); ++i) {
                    offByOne += got[i] != want[i];
                    if (std::abs(int(got[i]) - int(want[i])) > 1) {
                        ADD_FAILURE() << "pixel " << i / samples << " sample " << i % samples << ": got "
                                      << int(got[i]) << ", want " << int(want[i]);
                        break;
                    }
                }
                bytes += want.size();

                if (samples == 3) {
                    // The same picture held as B,G,R gives the same R,G,B bytes.
                    Swap_RGB(&src);
                    ASSERT_EQ(src.ImgStruct.BgrOrder, 1);
                    ImgClass bgr;
                    ASSERT_FALSE(ResampleImage(&src, &bgr, g.ow, g.oh, filter)) << Get_Last_Error();
                    EXPECT_EQ(bgr.ImgStruct.BgrOrder, 0);
                    EXPECT_EQ(Packed(bgr), got);
                }
            }
    }
    // Rounded, not truncated: a difference of one is the rare case of a
    // value next to a half.
    EXPECT_LT(double(offByOne), 0.05 * double(bytes)) << offByOne << " of " << bytes;
}

TEST(Resample, OneSideTakesTheOthersAspectRatio) {
    struct Case {
        uint32_t w, h;
        int askW, askH, wantW, wantH;
    } const cases[] = {
        {301, 200, 100, 0, 100, 66}, {301, 200, -1, 7, 11, 7}, {1000, 3, 10, -4, 10, 1}, {3, 1000, 0, 10, 1, 10},
    };
    for (const Case& c : cases) {
        ImgClass src, dst, explicitSize;
        MakeImage(src, c.w, c.h, 1);
        ASSERT_FALSE(ResampleImage(&src, &dst, c.askW, c.askH, FILTER_MITCHELL)) << Get_Last_Error();
        EXPECT_EQ(dst.ImgStruct.Width, uint32_t(c.wantW)) << c.w << "x" << c.h;
        EXPECT_EQ(dst.ImgStruct.Height, uint32_t(c.wantH)) << c.w << "x" << c.h;
        ASSERT_FALSE(ResampleImage(&src, &explicitSize, c.wantW, c.wantH, FILTER_MITCHELL));
        EXPECT_EQ(Packed(dst), Packed(explicitSize));
    }
}

TEST(Resample, SourceWithoutPixelsIsReadFromItsFile) {
    TempDir dir;
    ImgClass made, fromFile, dst, want;
    MakeImage(made, 31, 17, 3, 6);
    SetName(made, dir.File("src.ppm"));
    ASSERT_FALSE(Write_8BitPPM(&made)) << Get_Last_Error();
    SetName(fromFile, dir.File("src.ppm"));
    ASSERT_FALSE(ResampleImage(&fromFile, &dst, 12, 0, FILTER_LANCZOS3)) << Get_Last_Error();
    ASSERT_FALSE(ResampleImage(&made, &want, 12, 0, FILTER_LANCZOS3));
    EXPECT_EQ(dst.ImgStruct.Height, 7u);
    EXPECT_EQ(Packed(dst), Packed(want));
}

// ---- Kernel sets --------------------------------------------------------------------

class ResampleKernels : public ::testing::TestWithParam<CResample::Kernels> {
protected:
    void SetUp() override {
        const CResample::Kernels got = orvix::Resampler().UseKernels(GetParam());
        if (GetParam() != CResample::Kernels::Best && got != GetParam())
            GTEST_SKIP() << "the machine does not run these kernels";
    }
    void TearDown() override { orvix::Resampler().UseKernels(CResample::Kernels::Best); }
};

TEST_P(ResampleKernels, SameBytesAsPortable) {
    // Rows long enough for every vector block and its tail, in both row
    // orders (taller output or not).
    const Geometry cases[] = {{517, 23, 203, 11}, {517, 23, 1031, 47}, {389, 19, 131, 41},
                              {389, 19, 779, 7},  {263, 40, 263, 40},  {301, 5, 29, 97}};
    std::mt19937 rng(29);
    for (const Geometry& g : cases)
        for (const int samples : {1, 3})
            for (const int filter : kFilters) {
                SCOPED_TRACE(Name(g.w, g.h, samples, g.ow, g.oh, filter));
                ImgClass src, fast, portable;
                Content(src, g.w, g.h, samples, filter % 3, rng);
                ASSERT_FALSE(ResampleImage(&src, &fast, g.ow, g.oh, filter));
                orvix::Resampler().UseKernels(CResample::Kernels::Portable);
                ASSERT_FALSE(ResampleImage(&src, &portable, g.ow, g.oh, filter));
                orvix::Resampler().UseKernels(GetParam());
                ASSERT_EQ(Packed(fast), Packed(portable));
            }
}

INSTANTIATE_TEST_SUITE_P(Kernels, ResampleKernels,
                         ::testing::Values(CResample::Kernels::Avx2, CResample::Kernels::Avx512,
                                           CResample::Kernels::Best),
                         [](const auto& info) {
                             switch (info.param) {
                             case CResample::Kernels::Avx2: return std::string("Avx2");
                             case CResample::Kernels::Avx512: return std::string("Avx512");
                             default: return std::string("Best");
                             }
                         });

// ---- Row by row into a TIFF file ------------------------------------------------------

TEST(LowMemoryResample, SameFileAsResampleThenWriteTiff) {
    struct Case {
        Geometry g;
        int samples, filter;
        bool lzw, bgr;
    } const cases[] = {
        {{131, 97, 50, 37}, 1, FILTER_LANCZOS3, true, false},
        {{45, 31, 101, 77}, 3, FILTER_MITCHELL, false, false},
        {{97, 20, 40, 53}, 3, FILTER_CATMULL_ROM, true, true},
        {{30, 80, 71, 19}, 1, FILTER_BOX, false, false},
        {{64, 48, 16, 12}, 3, FILTER_BOX, false, true},
    };
    TempDir dir;
    std::mt19937 rng(3);
    for (const Case& c : cases) {
        SCOPED_TRACE(Name(c.g.w, c.g.h, c.samples, c.g.ow, c.g.oh, c.filter) + (c.lzw ? " lzw" : ""));
        ImgClass src, mem;
        Content(src, c.g.w, c.g.h, c.samples, 0, rng);
        if (c.bgr) Swap_RGB(&src);
        const std::string low = dir.File("low.tif"), whole = dir.File("whole.tif");
        fs::remove(low);
        fs::remove(whole);
        ASSERT_FALSE(Low_Memory_ResampleImage(c.lzw, &src, const_cast<char*>(low.c_str()), c.g.ow, c.g.oh, c.filter))
            << Get_Last_Error();
        mem.ImgStruct.Planar = 1;  // left from an earlier use: the output is plain all the same
        ASSERT_FALSE(ResampleImage(&src, &mem, c.g.ow, c.g.oh, c.filter));
        SetName(mem, whole);
        ASSERT_FALSE(WriteTIFF(c.lzw, false, &mem)) << Get_Last_Error();
        const std::vector<uint8_t> a = ReadBytes(low), b = ReadBytes(whole);
        ASSERT_FALSE(a.empty());
        EXPECT_TRUE(a == b) << a.size() << " and " << b.size() << " bytes";
    }
}

TEST(LowMemoryResample, FailedWriteLeavesNoFile) {
    TempDir dir;
    const std::string out = dir.File("cut.tif");
    // A file size limit stops the rows half way; in a child, so the limit
    // stays there.
    const int status = RunInChild([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{64 * 1024, 64 * 1024};
        if (setrlimit(RLIMIT_FSIZE, &limit)) return 2;
        ImgClass src;
        MakeImage(src, 300, 200, 3);
        const bool failed = Low_Memory_ResampleImage(false, &src, const_cast<char*>(out.c_str()), 600, 400,
                                                     FILTER_LANCZOS3);
        if (!failed) return 3;
        if (!*Get_Last_Error()) return 4;
        return fs::exists(out) ? 5 : 0;
    });
    EXPECT_EQ(status, 0) << "2 no limit, 3 no failure, 4 no words, 5 file left";
}

// ---- Refusals -------------------------------------------------------------------------

TEST(Resample, RefusesWithWords) {
    TempDir dir;
    const std::string out = dir.File("never.tif");
    char* outName = const_cast<char*>(out.c_str());
    // Each refusal through both exports: true, words, and no file written.
    const auto refused = [&](ImgClass* src, int w, int h, int filter, const std::string& what) {
        ImgClass dst;
        EXPECT_TRUE(ResampleImage(src, &dst, w, h, filter)) << what;
        EXPECT_STRNE(Get_Last_Error(), "") << what;
        EXPECT_EQ(dst.ImgStruct.ImgData, nullptr) << what;
        EXPECT_TRUE(Low_Memory_ResampleImage(false, src, outName, w, h, filter)) << what;
        EXPECT_STRNE(Get_Last_Error(), "") << what;
        EXPECT_FALSE(fs::exists(out)) << what;
    };
    ImgClass good;
    MakeImage(good, 10, 10, 3);
    refused(nullptr, 5, 5, FILTER_BOX, "no source");
    EXPECT_TRUE(ResampleImage(&good, nullptr, 5, 5, FILTER_BOX));
    EXPECT_STRNE(Get_Last_Error(), "");
    for (const int samples : {5, 8}) {
        ImgClass odd;
        MakeImage(odd, 10, 10, samples);
        refused(&odd, 5, 5, FILTER_BOX, std::to_string(samples) + " samples");
    }
    ImgClass deep;
    MakeImage(deep, 10, 10, 1);
    deep.ImgStruct.Bits = 16;
    refused(&deep, 5, 5, FILTER_BOX, "16 bits");
    refused(&good, 5, 5, -1, "filter -1");
    refused(&good, 5, 5, 4, "filter 4");
    refused(&good, 0, 0, FILTER_BOX, "0 x 0");
    refused(&good, -3, -1, FILTER_BOX, "-3 x -1");
    ImgClass missing;
    SetName(missing, dir.File("absent.ppm"));
    refused(&missing, 5, 5, FILTER_BOX, "missing source file");

    // The output counts against the pixel limit, the source's size aside.
    uint64_t& limit = orvix::Lib().maxPixels;
    const uint64_t saved = limit;
    limit = 1000;
    refused(&good, 41, 25, FILTER_LANCZOS3, "1025 pixels over a limit of 1000");
    ImgClass atLimit;
    EXPECT_FALSE(ResampleImage(&good, &atLimit, 40, 25, FILTER_LANCZOS3)) << Get_Last_Error();
    limit = saved;
}

// ---- Aliasing -------------------------------------------------------------------------

TEST(Resample, ZonePlateShowsNoFalseRings) {
    // 400 x 400 rings whose frequency r / 400 cycles per pixel reaches the
    // source's Nyquist limit at the inscribed circle. At a quarter the size,
    // rings from r = 110 to 190 lie 2 to 3.8 times beyond the new limit: the
    // true picture there is flat grey.
    const int n = 400, m = 100;
    ImgClass src;
    MakeImage(src, n, n, 1);
    for (int y = 0; y < n; ++y)
        for (int x = 0; x < n; ++x) {
            const double dx = x + 0.5 - n / 2.0, dy = y + 0.5 - n / 2.0;
            src.ImgStruct.ImgData[size_t(y) * src.ImgStruct.LineSize + size_t(x)] =
                uint8_t(std::lround(128 + 127 * std::sin(kPi * (dx * dx + dy * dy) / n)));
        }
    ImgClass exact, smooth;
    ASSERT_FALSE(ScaleImage(&src, 0.25, -1.0, &exact)) << Get_Last_Error();
    ASSERT_EQ(exact.ImgStruct.Width, uint32_t(m));
    for (const int filter : {FILTER_LANCZOS3, FILTER_MITCHELL, FILTER_CATMULL_ROM}) {
        ASSERT_FALSE(ResampleImage(&src, &smooth, m, m, filter)) << Get_Last_Error();
        const std::vector<uint8_t> want = Reference(src, m, m, filter);
        double exactErr = 0, smoothErr = 0, flatErr = 0;
        int count = 0;
        for (int y = 0; y < m; ++y)
            for (int x = 0; x < m; ++x) {
                const double r = std::hypot((x + 0.5) * 4 - n / 2.0, (y + 0.5) * 4 - n / 2.0);
                if (r < 110 || r > 190) continue;
                const double w = want[size_t(y) * m + size_t(x)];
                exactErr += std::pow(At(exact, x, y) - w, 2);
                smoothErr += std::pow(At(smooth, x, y) - w, 2);
                flatErr += std::pow(w - 128, 2);
                ++count;
            }
        SCOPED_TRACE("filter " + std::to_string(filter));
        ASSERT_GT(count, 1000);
        EXPECT_LT(std::sqrt(flatErr / count), 3.0);     // the reference itself is grey there
        EXPECT_GT(std::sqrt(exactErr / count), 30.0);   // point sampling folds the rings back
        EXPECT_LT(std::sqrt(smoothErr / count), 1.0);
    }
}
