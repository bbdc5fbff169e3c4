#include "support/test_support.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <random>

namespace testing_support {

std::vector<std::pair<int, int>> ProgressLog::calls;

int RunInChild(const std::function<int()>& fn) {
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child == -1) return -1;
    if (child == 0) _exit(fn());
    int status = 0;
    if (waitpid(child, &status, 0) != child || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TiffTags ReadTiffTags(const std::string& path) {
    TiffTags t;
    TIFF* tif = TIFFOpen(path.c_str(), "r");
    if (!tif) return t;
    t.opened = true;
    TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &t.width);
    TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &t.length);
    TIFFGetField(tif, TIFFTAG_ROWSPERSTRIP, &t.rowsPerStrip);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &t.bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &t.spp);
    TIFFGetField(tif, TIFFTAG_COMPRESSION, &t.compression);
    TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &t.photometric);
    TIFFGetField(tif, TIFFTAG_RESOLUTIONUNIT, &t.unit);
    TIFFGetField(tif, TIFFTAG_PLANARCONFIG, &t.planar);
    TIFFGetField(tif, TIFFTAG_XRESOLUTION, &t.xres);
    TIFFGetField(tif, TIFFTAG_YRESOLUTION, &t.yres);
    char* d = nullptr;
    if (TIFFGetField(tif, TIFFTAG_IMAGEDESCRIPTION, &d) && d) t.description = d;
    t.bigEndian = TIFFIsBigEndian(tif);
    TIFFClose(tif);
    return t;
}

TempDir::TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "orvix_test_XXXXXX").string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::vector<uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint8_t PatternSample(uint32_t x, uint32_t y, int channel, uint32_t seed) {
    return static_cast<uint8_t>((x * 37u + y * 91u + channel * 53u + seed * 17u) ^ (x * y + seed));
}

void MakeImage(ImgClass& img, uint32_t width, uint32_t height, int samples, uint32_t seed) {
    ImgStruct& s = img.ImgStruct;
    s.Width = width;
    s.Height = height;
    s.Samples = samples;
    s.LineSize = (width * static_cast<uint32_t>(samples) + 3u) & ~3u;
    ASSERT_FALSE(img.AllocData());
    for (uint32_t y = 0; y < height; ++y)
        for (uint32_t x = 0; x < width; ++x)
            for (int c = 0; c < samples; ++c)
                s.ImgData[size_t{y} * s.LineSize + size_t{x} * samples + c] =
                    PatternSample(x, y, c, seed);
}

void SetName(ImgClass& img, const std::string& name) {
    ASSERT_LT(name.size(), sizeof img.ImgStruct.FileName);
    std::strcpy(img.ImgStruct.FileName, name.c_str());
}

bool HaveProgram(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

}  // namespace testing_support
