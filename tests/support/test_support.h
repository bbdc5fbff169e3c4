// Helpers shared by the test programs.
#pragma once

#include <ORVIX_0500.h>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace testing_support {

// A fresh folder per test, removed afterwards.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

void WriteBytes(const std::string& path, const std::vector<uint8_t>& bytes);
void WriteText(const std::string& path, const std::string& text);
std::vector<uint8_t> ReadBytes(const std::string& path);

// An image of the given size whose samples follow a fixed pattern.
void MakeImage(ImgClass& img, uint32_t width, uint32_t height, int samples,
               uint32_t seed = 1);
uint8_t PatternSample(uint32_t x, uint32_t y, int channel, uint32_t seed);

// Sample c of pixel (x, y).
inline uint8_t At(const ImgClass& img, uint32_t x, uint32_t y, int c = 0) {
    const ImgStruct& s = img.ImgStruct;
    return s.ImgData[size_t{y} * s.LineSize + size_t{x} * s.Samples + c];
}

void SetName(ImgClass& img, const std::string& name);

// True when the command can be run (used to skip checks against optional
// independent tools).
bool HaveProgram(const std::string& path);

// The tags of a TIFF file as libtiff reads them; opened is false when
// libtiff cannot open it.
struct TiffTags {
    bool opened = false;
    uint32_t width = 0, length = 0, rowsPerStrip = 0;
    uint16_t bits = 0, spp = 0, compression = 0, photometric = 0, unit = 0, planar = 0;
    float xres = 0, yres = 0;
    std::string description;
    bool bigEndian = false;
};
TiffTags ReadTiffTags(const std::string& path);

// Runs fn in a forked child and returns its exit status, or -1 when the
// child did not exit normally: for cases that change process-wide state or
// limits that must not reach the other tests.
int RunInChild(const std::function<int()>& fn);

// Records every progress call.
struct ProgressLog {
    static std::vector<std::pair<int, int>> calls;
    static void Record(int total, int done) { calls.emplace_back(total, done); }
};

}  // namespace testing_support
