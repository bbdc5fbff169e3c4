// A progress receiver may look at files with the library while an operation
// reports to it (the program's list shows each file's type): that must not
// break the TIFF being read or written.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/test_support.h"

using namespace testing_support;

namespace {

// What the receiver looks at, and how often it found a TIFF there.
std::string g_probe;
int g_calls = 0;
int g_tiffSeen = 0;

void CheckType(int, int) {
    ++g_calls;
    g_tiffSeen += Get_File_Type(g_probe.c_str()) == IMG_TYPE_TIFF;
}

void ReadWhole(int, int) {
    ++g_calls;
    ImgClass img;
    SetName(img, g_probe);
    g_tiffSeen += !ReadImage(false, &img) && img.ImgStruct.Type == IMG_TYPE_TIFF;
}

std::vector<uint8_t> Pixels(const std::string& path) {
    ImgClass img;
    SetName(img, path);
    if (ReadImage(false, &img)) return {};
    const ImgStruct& s = img.ImgStruct;
    return {s.ImgData, s.ImgData + size_t{s.LineSize} * s.Height};
}

TEST(ProgressReceiver, LookingAtATiffDoesNotBreakTheTiffInProgress) {
    TempDir dir;
    ImgClass src;
    MakeImage(src, 60, 40, 3, 5);
    g_probe = dir.File("probe.tif");
    SetName(src, g_probe);
    ASSERT_FALSE(WriteTIFF(false, false, &src));
    const std::string source = dir.File("source.tif");
    SetName(src, source);
    ASSERT_FALSE(WriteTIFF(true, false, &src));

    // The same work without a receiver, to compare with.
    const std::string plain = dir.File("plain.tif");
    ASSERT_FALSE(Low_Memory_ScaleImage(false, &src, const_cast<char*>(plain.c_str()), 1.5, -1.0));
    const std::vector<uint8_t> plainScaled = ReadBytes(plain), plainRead = Pixels(source);
    ASSERT_FALSE(plainRead.empty());

    const struct {
        const char* name;
        ProgressFn receiver;
        bool whileReading;  // a nested whole read shares the reading codec
    } receivers[] = {{"Get_File_Type", CheckType, true}, {"ReadImage", ReadWhole, false}};
    for (const auto& r : receivers) {
        SCOPED_TRACE(r.name);
        // The row-streaming scaler writes its TIFF while reporting.
        g_calls = g_tiffSeen = 0;
        SetRW_Progress(nullptr, r.receiver);
        const std::string out = dir.File(std::string("scaled_") + r.name + ".tif");
        const bool failed = Low_Memory_ScaleImage(false, &src, const_cast<char*>(out.c_str()), 1.5, -1.0);
        SetRW_Progress(nullptr, nullptr);
        EXPECT_FALSE(failed) << Get_Last_Error();
        EXPECT_GT(g_calls, 1);
        EXPECT_EQ(g_tiffSeen, g_calls);
        EXPECT_EQ(ReadBytes(out), plainScaled);

        // The TIFF reader reads its file while reporting.
        if (!r.whileReading) continue;
        g_calls = g_tiffSeen = 0;
        SetRW_Progress(r.receiver, nullptr);
        const std::vector<uint8_t> read = Pixels(source);
        SetRW_Progress(nullptr, nullptr);
        EXPECT_EQ(read, plainRead) << Get_Last_Error();
        EXPECT_GT(g_calls, 1);
        EXPECT_EQ(g_tiffSeen, g_calls);
    }
}

}  // namespace
