// Speed of reading and writing the batch program's formats, and of the point
// sampler behind thumbnails, on a 3000 x 2000 photo.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "photo.h"

using bench::Photo;

namespace {

// The files the read benchmarks decode, written once into the temporary
// folder and removed at exit.
class Files {
public:
    static Files& Get() {
        static Files files;
        return files;
    }
    std::string Path(const std::string& name) const { return folder_ + name; }

    // Name of a file holding the colour photo in the given form, written on first use.
    const std::string& Written(const std::string& name, bool (*write)(ImgClass*)) {
        for (const std::string& done : written_)
            if (done == Path(name)) return done;
        ImgClass& img = Photo(3);
        const std::string path = Path(name);
        std::snprintf(img.ImgStruct.FileName, sizeof img.ImgStruct.FileName, "%s", path.c_str());
        if (write(&img)) std::fprintf(stderr, "cannot write %s: %s\n", path.c_str(), Get_Last_Error());
        written_.push_back(path);
        return written_.back();
    }

    ~Files() {
        if (!keep_)
            for (const std::string& path : written_) std::remove(path.c_str());
        for (const char* out : {"out.tif", "out.jpg", "out.png", "out.webp"}) std::remove(Path(out).c_str());
    }

private:
    // ORVIX_BENCH_FILES names a folder (ending in "/") where the files are
    // written and kept, so that other programs can be timed on them.
    Files()
        : keep_(std::getenv("ORVIX_BENCH_FILES") != nullptr),
          folder_(keep_ ? std::string(std::getenv("ORVIX_BENCH_FILES"))
                        : std::string(Get_Temp_Path()) + "orvix_bench_" + std::to_string(getpid()) + "_") {}
    bool keep_;
    std::string folder_;
    std::vector<std::string> written_;
};

bool WritePlainTiff(ImgClass* img) { return WriteTIFF(false, false, img); }
bool WriteLzwTiff(ImgClass* img) { return WriteTIFF(true, false, img); }
bool WriteJpeg90(ImgClass* img) { return WriteJPEG(90, img); }
bool WritePng6(ImgClass* img) { return WritePNG(6, img); }
bool WriteWebp75(ImgClass* img) { return WriteWEBP(75, false, img); }
bool WriteWebpLossless(ImgClass* img) { return WriteWEBP(100, true, img); }

void SetPixelCounter(benchmark::State& state) {
    state.counters["Mpx/s"] = benchmark::Counter(double(bench::kWidth) * bench::kHeight / 1e6,
                                                 benchmark::Counter::kIsIterationInvariantRate);
}

// Arg: samples. A 400-pixel-wide thumbnail, as the thumbnail maker asks.
void BM_SubsampleLocalImage(benchmark::State& state) {
    ImgClass& src = Photo(int(state.range(0)));
    for (auto _ : state) {
        ImgClass thumb;
        SubsampleLocalImage(&src, &thumb, 400, -1);
        if (!thumb.ImgStruct.ImgData) state.SkipWithError("no thumbnail");
        benchmark::DoNotOptimize(thumb.ImgStruct.ImgData);
    }
}
BENCHMARK(BM_SubsampleLocalImage)->ArgName("samples")->Arg(1)->Arg(3);

void ReadEach(benchmark::State& state, const std::string& path) {
    for (auto _ : state) {
        ImgClass img;
        std::snprintf(img.ImgStruct.FileName, sizeof img.ImgStruct.FileName, "%s", path.c_str());
        if (ReadImage(false, &img)) state.SkipWithError(Get_Last_Error());
        benchmark::DoNotOptimize(img.ImgStruct.ImgData);
    }
    SetPixelCounter(state);
}

void BM_ReadImage_Jpeg(benchmark::State& state) {
    ReadEach(state, Files::Get().Written("q90.jpg", WriteJpeg90));
}
BENCHMARK(BM_ReadImage_Jpeg)->Unit(benchmark::kMillisecond);

// Arg: 1 for LZW.
void BM_ReadImage_Tiff(benchmark::State& state) {
    ReadEach(state, state.range(0) ? Files::Get().Written("lzw.tif", WriteLzwTiff)
                                   : Files::Get().Written("plain.tif", WritePlainTiff));
}
BENCHMARK(BM_ReadImage_Tiff)->ArgName("lzw")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Arg: 1 for LZW.
void BM_WriteTIFF(benchmark::State& state) {
    ImgClass& img = Photo(3);
    const std::string path = Files::Get().Path("out.tif");
    std::snprintf(img.ImgStruct.FileName, sizeof img.ImgStruct.FileName, "%s", path.c_str());
    for (auto _ : state)
        if (WriteTIFF(state.range(0) != 0, false, &img)) state.SkipWithError(Get_Last_Error());
    SetPixelCounter(state);
}
BENCHMARK(BM_WriteTIFF)->ArgName("lzw")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Arg: quality.
void BM_WriteJPEG(benchmark::State& state) {
    ImgClass& img = Photo(3);
    const std::string path = Files::Get().Path("out.jpg");
    std::snprintf(img.ImgStruct.FileName, sizeof img.ImgStruct.FileName, "%s", path.c_str());
    for (auto _ : state)
        if (WriteJPEG(int(state.range(0)), &img)) state.SkipWithError(Get_Last_Error());
    SetPixelCounter(state);
}
BENCHMARK(BM_WriteJPEG)->ArgName("quality")->Arg(75)->Arg(90)->Unit(benchmark::kMillisecond);

void BM_ReadImage_Png(benchmark::State& state) {
    ReadEach(state, Files::Get().Written("level6.png", WritePng6));
}
BENCHMARK(BM_ReadImage_Png)->Unit(benchmark::kMillisecond);

// Arg: 1 for lossless.
void BM_ReadImage_Webp(benchmark::State& state) {
    ReadEach(state, state.range(0) ? Files::Get().Written("lossless.webp", WriteWebpLossless)
                                   : Files::Get().Written("q75.webp", WriteWebp75));
}
BENCHMARK(BM_ReadImage_Webp)->ArgName("lossless")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Arg: zlib level.
void BM_WritePNG(benchmark::State& state) {
    ImgClass& img = Photo(3);
    const std::string path = Files::Get().Path("out.png");
    std::snprintf(img.ImgStruct.FileName, sizeof img.ImgStruct.FileName, "%s", path.c_str());
    for (auto _ : state)
        if (WritePNG(int(state.range(0)), &img)) state.SkipWithError(Get_Last_Error());
    SetPixelCounter(state);
}
BENCHMARK(BM_WritePNG)->ArgName("level")->Arg(1)->Arg(6)->Unit(benchmark::kMillisecond);

// Arg: quality; 100 is lossless.
void BM_WriteWEBP(benchmark::State& state) {
    ImgClass& img = Photo(3);
    const std::string path = Files::Get().Path("out.webp");
    std::snprintf(img.ImgStruct.FileName, sizeof img.ImgStruct.FileName, "%s", path.c_str());
    for (auto _ : state)
        if (WriteWEBP(int(state.range(0)), false, &img)) state.SkipWithError(Get_Last_Error());
    SetPixelCounter(state);
}
BENCHMARK(BM_WriteWEBP)->ArgName("quality")->Arg(75)->Arg(100)->Unit(benchmark::kMillisecond);

}  // namespace
