// Binary grey maps (P5) and pixel maps (P6): reading, writing, rectangles,
// progress, unsafe headers, and files shared with independent tools.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "codecs/pnm.h"
#include "library.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Concat(const std::string& header, const Bytes& data) {
    Bytes out(header.begin(), header.end());
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

std::string Put(const TempDir& dir, const std::string& name, const std::string& header,
                const Bytes& data) {
    const std::string path = dir.File(name);
    WriteBytes(path, Concat(header, data));
    return path;
}

bool ReadPgm(const std::string& path, ImgClass& img) {
    SetName(img, path);
    return orvix::Lib().pgm->ReadPGM(&img);
}

bool ReadPpm(const std::string& path, ImgClass& img) {
    SetName(img, path);
    return orvix::Lib().ppm->ReadPPM(&img);
}

// Runs a shell command and returns its standard output; ok tells whether it
// exited with status 0.
std::string RunCommand(const std::string& command, bool& ok) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) {
        ok = false;
        return out;
    }
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
    const int status = pclose(p);
    ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return out;
}

class PnmTest : public ::testing::Test {
protected:
    void SetUp() override { Post_Error(""); }
    void TearDown() override {
        SetRW_Progress(nullptr, nullptr);
        Post_Error("");
    }
    TempDir dir;
};

// ---- Reading -------------------------------------------------------------

TEST_F(PnmTest, GreyMapLinesArePaddedWithZeros) {
    ImgClass img;
    img.ImgStruct.Bits = 16;
    img.ImgStruct.Type = IMG_TYPE_JPEG;
    img.ImgStruct.BgrOrder = 1;
    ASSERT_FALSE(ReadPgm(Put(dir, "a.pgm", "P5\n3 2\n255\n", {10, 20, 30, 40, 50, 60}), img));
    const ImgStruct& s = img.ImgStruct;
    EXPECT_EQ(s.Width, 3u);
    EXPECT_EQ(s.Height, 2u);
    EXPECT_EQ(s.Samples, 1);
    EXPECT_EQ(s.Bits, 8);
    EXPECT_EQ(s.LineSize, 4u);
    EXPECT_EQ(s.Type, IMG_TYPE_PGM);
    EXPECT_EQ(s.BgrOrder, 0);
    const Bytes lines(s.ImgData, s.ImgData + 8);
    EXPECT_EQ(lines, (Bytes{10, 20, 30, 0, 40, 50, 60, 0}));
    // Two spare lines follow the image, zero-filled.
    EXPECT_EQ(Bytes(s.ImgData + 8, s.ImgData + 16), Bytes(8, 0));
}

TEST_F(PnmTest, PixelMapLinesArePaddedWithZeros) {
    ImgClass img;
    img.ImgStruct.BgrOrder = 1;
    Bytes data;
    for (int i = 0; i < 5 * 2 * 3; ++i) data.push_back(static_cast<uint8_t>(i + 1));
    ASSERT_FALSE(ReadPpm(Put(dir, "a.ppm", "P6\n5 2\n255\n", data), img));
    const ImgStruct& s = img.ImgStruct;
    EXPECT_EQ(s.Width, 5u);
    EXPECT_EQ(s.Height, 2u);
    EXPECT_EQ(s.Samples, 3);
    EXPECT_EQ(s.Bits, 8);
    EXPECT_EQ(s.LineSize, 16u);
    EXPECT_EQ(s.Type, IMG_TYPE_PPM);
    EXPECT_EQ(s.BgrOrder, 0);
    for (int y = 0; y < 2; ++y) {
        for (int k = 0; k < 15; ++k) EXPECT_EQ(s.ImgData[y * 16 + k], y * 15 + k + 1);
        EXPECT_EQ(s.ImgData[y * 16 + 15], 0);
    }
    EXPECT_EQ(Bytes(s.ImgData + 32, s.ImgData + 64), Bytes(32, 0));  // two spare lines
}

TEST_F(PnmTest, GreyMapSkipsCommentsAndBlankLines) {
    ImgClass img;
    const std::string header = "P5\n# made by hand\n# second comment\n\n  \n3 2\n# between\n255\n";
    ASSERT_FALSE(ReadPgm(Put(dir, "c.pgm", header, {1, 2, 3, 4, 5, 6}), img));
    EXPECT_EQ(img.ImgStruct.Width, 3u);
    EXPECT_EQ(img.ImgStruct.Height, 2u);
    EXPECT_EQ(At(img, 0, 0), 1);
    EXPECT_EQ(At(img, 2, 1), 6);
}

TEST_F(PnmTest, PixelMapSkipsCommentsButNotBlankLines) {
    ImgClass good;
    const std::string header = "P6\n# one\n# two\n2 1\n# between\n255\n";
    ASSERT_FALSE(ReadPpm(Put(dir, "c.ppm", header, {1, 2, 3, 4, 5, 6}), good));
    EXPECT_EQ(good.ImgStruct.Width, 2u);
    EXPECT_EQ(At(good, 1, 0, 2), 6);

    // The blank line is taken as the dimension line: it has no height.
    ImgClass bad;
    const std::string path =
        Put(dir, "blank.ppm", "P6\n# one\n# two\n\n3 2\n255\n", Bytes(18, 7));
    EXPECT_TRUE(ReadPpm(path, bad));
    EXPECT_STREQ(Get_Last_Error(),
                 ("PpmClass::ReadPPM: Can't determine Image Height of " + path + "\n").c_str());
}

TEST_F(PnmTest, LowerCaseMagicIsAccepted) {
    ImgClass grey, colour;
    ASSERT_FALSE(ReadPgm(Put(dir, "l.pgm", "p5\n1 1\n255\n", {9}), grey));
    EXPECT_EQ(At(grey, 0, 0), 9);
    ASSERT_FALSE(ReadPpm(Put(dir, "l.ppm", "p6\n1 1\n255\n", {1, 2, 3}), colour));
    EXPECT_EQ(At(colour, 0, 0, 2), 3);
}

TEST_F(PnmTest, WrongMagicIsRefused) {
    ImgClass a, b;
    EXPECT_TRUE(ReadPgm(Put(dir, "w.pgm", "P6\n1 1\n255\n", {1, 2, 3}), a));
    EXPECT_STREQ(Get_Last_Error(), "ReadPGM wrong Header!! Should be P5\n");
    EXPECT_EQ(a.ImgStruct.ImgData, nullptr);
    Post_Error("");
    EXPECT_TRUE(ReadPpm(Put(dir, "w.ppm", "P5\n1 1\n255\n", {1}), b));
    EXPECT_STREQ(Get_Last_Error(), "ReadPPM wrong Header!! Should be P6\n");
    EXPECT_EQ(b.ImgStruct.ImgData, nullptr);
}

TEST_F(PnmTest, MissingDimensionsAreNamed) {
    ImgClass a, b, c, d;
    const std::string noWidth = Put(dir, "nw.pgm", "P5\n# nothing else\n", {});
    EXPECT_TRUE(ReadPgm(noWidth, a));
    EXPECT_STREQ(Get_Last_Error(),
                 ("PgmClass::ReadPGM: Can't determine Image Width of " + noWidth + "\n").c_str());
    Post_Error("");
    const std::string noHeight = Put(dir, "nh.pgm", "P5\n3\n255\n", {1, 2, 3});
    EXPECT_TRUE(ReadPgm(noHeight, b));
    EXPECT_STREQ(Get_Last_Error(),
                 ("PgmClass::ReadPGM: Can't determine Image Height of " + noHeight + "\n").c_str());
    Post_Error("");
    const std::string ppmNoWidth = Put(dir, "nw.ppm", "P6\n", {});
    EXPECT_TRUE(ReadPpm(ppmNoWidth, c));
    EXPECT_STREQ(Get_Last_Error(),
                 ("PpmClass::ReadPPM: Can't determine Image Width of " + ppmNoWidth + "\n").c_str());
    Post_Error("");
    const std::string ppmNoHeight = Put(dir, "nh.ppm", "P6\n1\n255\n", {1, 2, 3});
    EXPECT_TRUE(ReadPpm(ppmNoHeight, d));
    EXPECT_STREQ(
        Get_Last_Error(),
        ("PpmClass::ReadPPM: Can't determine Image Height of " + ppmNoHeight + "\n").c_str());
}

TEST_F(PnmTest, HeaderOnOneLineIsNotAccepted) {
    ImgClass a, b;
    EXPECT_TRUE(ReadPgm(Put(dir, "one.pgm", "P5 2 1 255\n", {1, 2}), a));
    EXPECT_EQ(a.ImgStruct.ImgData, nullptr);
    EXPECT_TRUE(ReadPpm(Put(dir, "one.ppm", "P6 1 1 255\n", {1, 2, 3}), b));
    EXPECT_EQ(b.ImgStruct.ImgData, nullptr);
}

TEST_F(PnmTest, MissingFilesFailNamingTheFile) {
    ImgClass a, b;
    EXPECT_TRUE(ReadPgm(dir.File("none.pgm"), a));
    EXPECT_TRUE(ReadPpm(dir.File("none.ppm"), b));
    EXPECT_EQ(std::string(Get_Last_Error()),
              "PgmClass::ReadPGM: " + dir.File("none.pgm") + " cannot be opened (No such file or directory)\n"
              "PpmClass::ReadPPM: " + dir.File("none.ppm") + " cannot be opened (No such file or directory)\n");
}

TEST_F(PnmTest, GreyPixelsAreTheLastBytesOfTheFile) {
    // Stray bytes between the maximum value and the pixels do not shift them.
    ImgClass img;
    ASSERT_FALSE(ReadPgm(Put(dir, "s.pgm", "P5\n2 2\n255\n", {0xEE, 0xEE, 1, 2, 3, 4}), img));
    EXPECT_EQ(Bytes(img.ImgStruct.ImgData, img.ImgStruct.ImgData + 8),
              (Bytes{1, 2, 0, 0, 3, 4, 0, 0}));
}

TEST_F(PnmTest, SixteenBitGreyIsReduced) {
    // Samples are low byte first; each is divided by 257.
    ImgClass img;
    const Bytes data = {0xFF, 0x00, 0x00, 0xFF, 0xFF, 0xFF,   // 255, 65280, 65535
                        0x64, 0x64, 0x01, 0x01, 0x00, 0x00};  // 25700, 257, 0
    ASSERT_FALSE(ReadPgm(Put(dir, "16.pgm", "P5\n3 2\n65535\n", data), img));
    const ImgStruct& s = img.ImgStruct;
    EXPECT_EQ(s.Bits, 8);
    EXPECT_EQ(s.Samples, 1);
    EXPECT_EQ(s.LineSize, 8u);  // the 16-bit line size is kept
    EXPECT_EQ(At(img, 0, 0), 0);
    EXPECT_EQ(At(img, 1, 0), 254);
    EXPECT_EQ(At(img, 2, 0), 255);
    EXPECT_EQ(At(img, 0, 1), 100);
    EXPECT_EQ(At(img, 1, 1), 1);
    EXPECT_EQ(At(img, 2, 1), 0);
}

TEST_F(PnmTest, GreyMaximumOf256MeansTwoBytesPerSample) {
    ImgClass img;
    ASSERT_FALSE(ReadPgm(Put(dir, "256.pgm", "P5\n2 1\n256\n", {0x02, 0x02, 0x00, 0x01}), img));
    EXPECT_EQ(At(img, 0, 0), 514 / 257);
    EXPECT_EQ(At(img, 1, 0), 0);

    ImgClass one;
    ASSERT_FALSE(ReadPgm(Put(dir, "255.pgm", "P5\n2 1\n255\n", {0x02, 0x01}), one));
    EXPECT_EQ(At(one, 0, 0), 2);
    EXPECT_EQ(At(one, 1, 0), 1);
}

TEST_F(PnmTest, SixteenBitColourIsScaledByTheMaximum) {
    // Maximum 1023: 1023 -> 255, 512 -> 127; bits above the maximum are masked.
    ImgClass img;
    const Bytes data = {0xFF, 0x03, 0x00, 0x02, 0x00, 0x00,   // 1023, 512, 0
                        0x05, 0x04, 0x01, 0x00, 0xFE, 0x03};  // 1029 & 1023 = 5, 1, 1022
    ASSERT_FALSE(ReadPpm(Put(dir, "16.ppm", "P6\n2 1\n1023\n", data), img));
    const ImgStruct& s = img.ImgStruct;
    EXPECT_EQ(s.Bits, 8);
    EXPECT_EQ(s.LineSize, 12u);
    EXPECT_EQ(At(img, 0, 0, 0), 255);
    EXPECT_EQ(At(img, 0, 0, 1), 127);
    EXPECT_EQ(At(img, 0, 0, 2), 0);
    EXPECT_EQ(At(img, 1, 0, 0), 1);    // 5 * 255 / 1023
    EXPECT_EQ(At(img, 1, 0, 1), 0);    // 1 * 255 / 1023
    EXPECT_EQ(At(img, 1, 0, 2), 254);  // 1022 * 255 / 1023

    ImgClass full;
    ASSERT_FALSE(ReadPpm(Put(dir, "full.ppm", "P6\n1 1\n65535\n",
                             {0xFF, 0xFF, 0x00, 0x80, 0x01, 0x01}), full));
    EXPECT_EQ(At(full, 0, 0, 0), 255);
    EXPECT_EQ(At(full, 0, 0, 1), 127);  // 32768 * 255 / 65535
    EXPECT_EQ(At(full, 0, 0, 2), 1);    // 257 * 255 / 65535
}

TEST_F(PnmTest, ColourMaximumOf256MeansTwoBytesPerSample) {
    ImgClass img;
    ASSERT_FALSE(ReadPpm(Put(dir, "256.ppm", "P6\n1 1\n256\n",
                             {0x00, 0x01, 0x00, 0x00, 0x00, 0x01}), img));
    EXPECT_EQ(At(img, 0, 0, 0), 255);  // 256 * 255 / 256
    EXPECT_EQ(At(img, 0, 0, 1), 0);
    EXPECT_EQ(At(img, 0, 0, 2), 255);
}

TEST_F(PnmTest, OddColourMaximaDoNotCrash) {
    // A maximum beyond 16 bits is used as it is: no sample reaches it.
    ImgClass huge;
    ASSERT_FALSE(ReadPpm(Put(dir, "huge.ppm", "P6\n1 1\n4294967296\n",
                             {0xFF, 0xFF, 0x01, 0x00, 0x00, 0x80}), huge));
    EXPECT_EQ(At(huge, 0, 0, 0), 0);
    EXPECT_EQ(At(huge, 0, 0, 1), 0);
    EXPECT_EQ(At(huge, 0, 0, 2), 0);

    ImgClass big;
    ASSERT_FALSE(ReadPpm(Put(dir, "big.ppm", "P6\n1 1\n131072\n",
                             {0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00}), big));
    EXPECT_EQ(At(big, 0, 0, 0), 0);  // 65535 & 131072 = 0

    // A maximum of 0 gives the samples no meaning: refused (the failure
    // cases are in failure_words_test).
    ImgClass zero;
    EXPECT_TRUE(ReadPpm(Put(dir, "zero.ppm", "P6\n1 1\n0\n", {7, 8, 9}), zero));
}

// ---- Unsafe headers ------------------------------------------------------

TEST_F(PnmTest, UnsafeDimensionsAreRefusedBeforeAllocation) {
    const std::vector<std::pair<std::string, size_t>> dims = {
        {"-3 2", 6},                        // negative width
        {"3 -2", 6},                        // negative height
        {"0 2", 6},                         // empty
        {"3 0", 6},                         // empty
        {"1000 1000", 64},                  // more pixels than the file holds
        {"2147483647 2147483647", 64},      // huge
        {"4294967297 1", 64},               // wraps to 1 in 32 bits
        {"99999999999999999999 1", 64},     // beyond any integer
        {"1431655766 1", 64},               // 3 x width wraps to 2 in 32 bits
        {"65536 65537", 64},                // width x height wraps in 32 bits
        {"abc 2", 6},                       // not a number
    };
    for (const auto& [line, n] : dims) {
        for (int colour = 0; colour < 2; ++colour) {
            SCOPED_TRACE(std::string(colour ? "P6 " : "P5 ") + line);
            Post_Error("");
            ImgClass img;
            const std::string header = std::string(colour ? "P6\n" : "P5\n") + line + "\n255\n";
            const std::string path = Put(dir, colour ? "u.ppm" : "u.pgm", header, Bytes(n, 1));
            EXPECT_TRUE(colour ? ReadPpm(path, img) : ReadPgm(path, img));
            EXPECT_EQ(img.ImgStruct.ImgData, nullptr);
            EXPECT_STRNE(Get_Last_Error(), "");
        }
    }
}

TEST_F(PnmTest, PixelDataLargerThanTheFileIsRefused) {
    // One byte short, for each reader and sample size.
    const std::vector<std::pair<std::string, size_t>> files = {
        {"P5\n4 3\n255\n", 11},
        {"P5\n4 3\n65535\n", 23},
        {"P6\n4 3\n255\n", 35},
        {"P6\n4 3\n65535\n", 71},
    };
    for (const auto& [header, n] : files) {
        SCOPED_TRACE(header);
        Post_Error("");
        ImgClass img;
        const std::string path = Put(dir, header[1] == '5' ? "s.pgm" : "s.ppm", header, Bytes(n, 1));
        EXPECT_TRUE(header[1] == '5' ? ReadPgm(path, img) : ReadPpm(path, img));
        EXPECT_EQ(img.ImgStruct.ImgData, nullptr);
        EXPECT_STRNE(Get_Last_Error(), "");
        // One byte more and the file is whole.
        ImgClass whole;
        const std::string ok = Put(dir, header[1] == '5' ? "w.pgm" : "w.ppm", header, Bytes(n + 1, 1));
        EXPECT_FALSE(header[1] == '5' ? ReadPgm(ok, whole) : ReadPpm(ok, whole));
    }
}

TEST_F(PnmTest, RefusedMemoryIsReported) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the checked heap aborts on huge requests instead of refusing them";
#else
    // The system refuses mappings far beyond its memory unless it
    // overcommits without limit.
    FILE* f = std::fopen("/proc/sys/vm/overcommit_memory", "r");
    int mode = -1;
    if (f) {
        if (std::fscanf(f, "%d", &mode) != 1) mode = -1;
        std::fclose(f);
    }
    if (mode != 0 && mode != 2) GTEST_SKIP() << "overcommit mode " << mode;

    // A sparse file that really holds a million by a million grey pixels.
    const std::string header = "P5\n1000000 1000000\n255\n";
    const std::string path = Put(dir, "vast.pgm", header, {});
    fs::resize_file(path, header.size() + uint64_t{1000000} * 1000000);
    ImgClass img;
    EXPECT_TRUE(ReadPgm(path, img));
    EXPECT_EQ(img.ImgStruct.ImgData, nullptr);
    EXPECT_STRNE(Get_Last_Error(), "");

    Post_Error("");
    const std::string cheader = "P6\n1000000 400000\n255\n";
    const std::string cpath = Put(dir, "vast.ppm", cheader, {});
    fs::resize_file(cpath, cheader.size() + uint64_t{3} * 1000000 * 400000);
    ImgClass colour;
    EXPECT_TRUE(ReadPpm(cpath, colour));
    EXPECT_EQ(colour.ImgStruct.ImgData, nullptr);
    EXPECT_STRNE(Get_Last_Error(), "");
#endif
}

// ---- Writing -------------------------------------------------------------

TEST_F(PnmTest, GreyRoundTripWritesNoPadding) {
    ImgClass img;
    MakeImage(img, 5, 3, 1, 4);
    const std::string path = dir.File("rt.pgm");
    SetName(img, path);
    ASSERT_FALSE(Write_8BitPGM(&img));

    Bytes expected = Concat("P5\n5 3\n255\n", {});
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x) expected.push_back(PatternSample(x, y, 0, 4));
    EXPECT_EQ(ReadBytes(path), expected);

    ImgClass back;
    SetName(back, path);
    ASSERT_FALSE(ReadImage(false, &back));
    EXPECT_EQ(back.ImgStruct.Width, 5u);
    EXPECT_EQ(back.ImgStruct.Height, 3u);
    EXPECT_EQ(back.ImgStruct.LineSize, 8u);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x) EXPECT_EQ(At(back, x, y), At(img, x, y));
}

TEST_F(PnmTest, ColourRoundTripWritesNoPadding) {
    ImgClass img;
    MakeImage(img, 5, 3, 3, 6);
    const std::string path = dir.File("rt.ppm");
    SetName(img, path);
    ASSERT_FALSE(Write_8BitPPM(&img));

    Bytes expected = Concat("P6\n5 3\n255\n", {});
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c) expected.push_back(PatternSample(x, y, c, 6));
    EXPECT_EQ(ReadBytes(path), expected);

    ImgClass back;
    SetName(back, path);
    ASSERT_FALSE(ReadImage(false, &back));
    EXPECT_EQ(back.ImgStruct.LineSize, 16u);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(At(back, x, y, c), At(img, x, y, c));
}

TEST_F(PnmTest, ColourInBgrOrderIsWrittenAsRgbAndLeftSo) {
    ImgClass img;
    MakeImage(img, 3, 2, 3, 8);
    ASSERT_FALSE(Swap_RGB(&img));
    ASSERT_EQ(img.ImgStruct.BgrOrder, 1);
    const std::string path = dir.File("bgr.ppm");
    SetName(img, path);
    ASSERT_FALSE(Write_8BitPPM(&img));

    const Bytes file = ReadBytes(path);
    const size_t header = std::string("P6\n3 2\n255\n").size();
    ASSERT_EQ(file.size(), header + 18);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c)
                EXPECT_EQ(file[header + (y * 3 + x) * 3 + c], PatternSample(x, y, c, 8));
    EXPECT_EQ(img.ImgStruct.BgrOrder, 0);
    EXPECT_EQ(At(img, 2, 1, 0), PatternSample(2, 1, 0, 8));
}

TEST_F(PnmTest, WritersNameTheFileThatCannotBeMade) {
    ImgClass img;
    MakeImage(img, 2, 2, 1);
    SetName(img, dir.File("no/such/folder/x.pgm"));
    EXPECT_TRUE(Write_8BitPGM(&img));
    SetName(img, dir.File("no/such/folder/x.ppm"));
    EXPECT_TRUE(Write_8BitPPM(&img));
    EXPECT_EQ(std::string(Get_Last_Error()),
              "P5 writer: " + dir.File("no/such/folder/x.pgm") + " cannot be created (No such file or directory)\n"
              "P6 writer: " + dir.File("no/such/folder/x.ppm") + " cannot be created (No such file or directory)\n");
}

TEST_F(PnmTest, WritersRefuseAnImageWithoutPixels) {
    ImgClass img;
    img.ImgStruct.Width = 2;
    img.ImgStruct.Height = 2;
    img.ImgStruct.Samples = 3;
    SetName(img, dir.File("empty.ppm"));
    EXPECT_TRUE(Write_8BitPPM(&img));
    EXPECT_TRUE(Write_8BitPGM(&img));
    EXPECT_TRUE(Write_8BitPGM(nullptr));
    EXPECT_TRUE(Write_8BitPPM(nullptr));
}

// ---- Progress ------------------------------------------------------------

std::vector<std::pair<int, int>> ExpectedCalls(int total, int step, bool start) {
    std::vector<std::pair<int, int>> calls;
    if (start) calls.emplace_back(0, 0);
    for (int i = 0; i < total; i += step) calls.emplace_back(total, i);
    return calls;
}

TEST_F(PnmTest, ReadersReportAStartThenEveryHundredthLine) {
    // 250 lines: after the start call, lines 0, 2, 4, ... 248.
    ImgClass grey, colour;
    MakeImage(grey, 3, 250, 1);
    MakeImage(colour, 3, 250, 3);
    SetName(grey, dir.File("p.pgm"));
    SetName(colour, dir.File("p.ppm"));
    ASSERT_FALSE(Write_8BitPGM(&grey));
    ASSERT_FALSE(Write_8BitPPM(&colour));

    ProgressLog::calls.clear();
    SetRW_Progress(ProgressLog::Record, nullptr);
    ImgClass g;
    ASSERT_FALSE(ReadPgm(dir.File("p.pgm"), g));
    EXPECT_EQ(ProgressLog::calls, ExpectedCalls(250, 2, true));

    ProgressLog::calls.clear();
    ImgClass c;
    ASSERT_FALSE(ReadPpm(dir.File("p.ppm"), c));
    EXPECT_EQ(ProgressLog::calls, ExpectedCalls(250, 2, true));
}

TEST_F(PnmTest, WritersReportAStartThenEveryHundredthLine) {
    ImgClass grey, colour;
    MakeImage(grey, 2, 1000, 1);
    MakeImage(colour, 2, 1000, 3);
    SetName(grey, dir.File("w.pgm"));
    SetName(colour, dir.File("w.ppm"));
    SetRW_Progress(nullptr, ProgressLog::Record);

    ProgressLog::calls.clear();
    ASSERT_FALSE(Write_8BitPGM(&grey));
    EXPECT_EQ(ProgressLog::calls, ExpectedCalls(1000, 10, true));
    EXPECT_EQ(ProgressLog::calls.size(), 101u);

    ProgressLog::calls.clear();
    ASSERT_FALSE(Write_8BitPPM(&colour));
    EXPECT_EQ(ProgressLog::calls, ExpectedCalls(1000, 10, true));
}

TEST_F(PnmTest, SmallImagesReportEveryLine) {
    ImgClass img;
    MakeImage(img, 2, 99, 1);
    SetName(img, dir.File("s.pgm"));
    SetRW_Progress(ProgressLog::Record, ProgressLog::Record);
    ProgressLog::calls.clear();
    ASSERT_FALSE(Write_8BitPGM(&img));
    EXPECT_EQ(ProgressLog::calls, ExpectedCalls(99, 1, true));
    ProgressLog::calls.clear();
    ImgClass back;
    ASSERT_FALSE(ReadPgm(dir.File("s.pgm"), back));
    EXPECT_EQ(ProgressLog::calls, ExpectedCalls(99, 1, true));
}

// ---- Rectangles ----------------------------------------------------------

TEST_F(PnmTest, RectangleOfAGreyMap) {
    ImgClass img;
    MakeImage(img, 7, 5, 1, 2);
    const std::string path = dir.File("r.pgm");
    SetName(img, path);
    ASSERT_FALSE(Write_8BitPGM(&img));

    Post_Error("stale");
    ImgClass out;
    ASSERT_FALSE(orvix::Lib().pgm->GetPGMImgRect(path.c_str(), 2, 1, 5, 4, &out));
    // Only the exports clear the text; an inner reader leaves it.
    EXPECT_STREQ(Get_Last_Error(), "stale\n");
    Post_Error("");
    EXPECT_EQ(out.ImgStruct.Width, 3u);
    EXPECT_EQ(out.ImgStruct.Height, 3u);
    EXPECT_EQ(out.ImgStruct.Samples, 1);
    EXPECT_EQ(out.ImgStruct.Bits, 8);
    EXPECT_EQ(out.ImgStruct.LineSize, 4u);
    for (uint32_t y = 0; y < 3; ++y) {
        for (uint32_t x = 0; x < 3; ++x) EXPECT_EQ(At(out, x, y), PatternSample(x + 2, y + 1, 0, 2));
        EXPECT_EQ(out.ImgStruct.ImgData[y * 4 + 3], 0);
    }
    EXPECT_EQ(Bytes(out.ImgStruct.ImgData + 12, out.ImgStruct.ImgData + 20), Bytes(8, 0));
}

TEST_F(PnmTest, RectangleOfAPixelMap) {
    ImgClass img;
    MakeImage(img, 7, 5, 3, 5);
    const std::string path = dir.File("r.ppm");
    SetName(img, path);
    ASSERT_FALSE(Write_8BitPPM(&img));

    ImgClass out;
    ASSERT_FALSE(orvix::Lib().ppm->GetPPMImgRect(path.c_str(), 0, 3, 7, 5, &out));
    EXPECT_EQ(out.ImgStruct.Width, 7u);
    EXPECT_EQ(out.ImgStruct.Height, 2u);
    EXPECT_EQ(out.ImgStruct.Samples, 3);
    EXPECT_EQ(out.ImgStruct.LineSize, 24u);
    EXPECT_EQ(out.ImgStruct.BgrOrder, 0);
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 7; ++x)
            for (int c = 0; c < 3; ++c) EXPECT_EQ(At(out, x, y, c), PatternSample(x, y + 3, c, 5));
}

TEST_F(PnmTest, RectangleReachingPastTheBottomHasZeroLines) {
    ImgClass img;
    MakeImage(img, 4, 3, 1, 7);
    const std::string path = dir.File("b.pgm");
    SetName(img, path);
    ASSERT_FALSE(Write_8BitPGM(&img));

    ImgClass out;
    ASSERT_FALSE(orvix::Lib().pgm->GetPGMImgRect(path.c_str(), 1, 1, 3, 5, &out));
    EXPECT_EQ(out.ImgStruct.Width, 2u);
    EXPECT_EQ(out.ImgStruct.Height, 4u);
    EXPECT_EQ(At(out, 0, 0), PatternSample(1, 1, 0, 7));
    EXPECT_EQ(At(out, 1, 1), PatternSample(2, 2, 0, 7));
    for (uint32_t y = 2; y < 4; ++y)
        for (uint32_t x = 0; x < 2; ++x) EXPECT_EQ(At(out, x, y), 0);
}

TEST_F(PnmTest, RectangleOutsideTheLinesIsRefused) {
    ImgClass img;
    MakeImage(img, 4, 3, 3, 7);
    const std::string path = dir.File("o.ppm");
    SetName(img, path);
    ASSERT_FALSE(Write_8BitPPM(&img));
    const int rects[][4] = {{2, 0, 5, 2}, {-1, 0, 2, 2}, {0, -1, 2, 2}, {2, 0, 2, 2}, {0, 2, 2, 1}};
    for (const auto& r : rects) {
        SCOPED_TRACE(testing::Message() << r[0] << "," << r[1] << "," << r[2] << "," << r[3]);
        ImgClass out;
        EXPECT_TRUE(orvix::Lib().ppm->GetPPMImgRect(path.c_str(), r[0], r[1], r[2], r[3], &out));
        EXPECT_STRNE(Get_Last_Error(), "");
    }
}

TEST_F(PnmTest, RectangleReadersNameTheirFailures) {
    orvix::PgmClass& pgm = *orvix::Lib().pgm;
    orvix::PpmClass& ppm = *orvix::Lib().ppm;
    ImgClass out;
    // The readers add to the text; only the exports clear it.
    Post_Error("");
    EXPECT_TRUE(pgm.GetPGMImgRect("x.pgm", 0, 0, 1, 1, nullptr));
    EXPECT_STREQ(Get_Last_Error(), "PgmClass::GetPGMImgRect(..) Img = NULL\n");
    Post_Error("");
    EXPECT_TRUE(ppm.GetPPMImgRect("x.ppm", 0, 0, 1, 1, nullptr));
    EXPECT_STREQ(Get_Last_Error(), "PpmClass::GetPPMImgRect(..) Img = NULL\n");
    Post_Error("");
    EXPECT_TRUE(pgm.GetPGMImgRect("", 0, 0, 1, 1, &out));
    EXPECT_STREQ(Get_Last_Error(), "PgmClass::GetPGMImgRect(..) No File\n");
    Post_Error("");
    EXPECT_TRUE(ppm.GetPPMImgRect(nullptr, 0, 0, 1, 1, &out));
    EXPECT_STREQ(Get_Last_Error(), "PpmClass::GetPPMImgRect(..) No File\n");
    Post_Error("");
    EXPECT_TRUE(pgm.GetPGMImgRect(dir.File("missing.pgm").c_str(), 0, 0, 1, 1, &out));
    EXPECT_EQ(std::string(Get_Last_Error()), dir.File("missing.pgm") +
              ": cannot be opened (No such file or directory)\nPgmClass::GetPGMImgRect(..) ReadImage(..) FAILED\n");

    // The reader's own words come first, the rectangle reader's after them.
    const std::string bad = Put(dir, "bad.ppm", "P6\n4\n255\n", Bytes(12, 1));
    Post_Error("");
    EXPECT_TRUE(ppm.GetPPMImgRect(bad.c_str(), 0, 0, 1, 1, &out));
    EXPECT_EQ(std::string(Get_Last_Error()),
              "PpmClass::ReadPPM: Can't determine Image Height of " + bad +
                  "\nPpmClass::GetPPMImgRect(..) ReadImage(..) FAILED\n");
    EXPECT_EQ(out.ImgStruct.ImgData, nullptr);

}

TEST_F(PnmTest, RectangleOfAPathTooLongForANameIsRefused) {
    // A readable map whose path just fits the name field; the asked path is
    // that path with more after it, and must not be cut back to it.
    fs::path folder = dir.path();
    while (folder.string().size() < ORVIX_MAX_PATH - 1 - 220) folder /= std::string(200, 'd');
    fs::create_directories(folder);
    const size_t room = ORVIX_MAX_PATH - 1 - folder.string().size() - 1;
    const std::string fits = (folder / std::string(room, 'f')).string();
    ASSERT_EQ(fits.size(), size_t{ORVIX_MAX_PATH - 1});
    WriteBytes(fits, Concat("P5\n2 2\n255\n", {1, 2, 3, 4}));
    ImgClass whole;
    SetName(whole, fits);
    ASSERT_FALSE(ReadImage(false, &whole));

    const std::string tooLong = fits + "x";
    ImgClass out;
    EXPECT_TRUE(orvix::Lib().pgm->GetPGMImgRect(tooLong.c_str(), 0, 0, 1, 1, &out));
    EXPECT_TRUE(std::string(Get_Last_Error()).rfind("PgmClass::GetPGMImgRect(..) ", 0) == 0);
    EXPECT_EQ(out.ImgStruct.ImgData, nullptr);
}

// ---- Independent tools ---------------------------------------------------

const char* const kPython = "/usr/bin/python3";

// Python snippet that writes a w x h image of the given mode whose sample
// (x, y, c) equals PatternSample(x, y, c, seed).
std::string PilWriter(const std::string& path, const char* mode, int w, int h, int seed) {
    const int samples = std::strcmp(mode, "L") == 0 ? 1 : 3;
    return std::string(kPython) + " -c '\n"
           "from PIL import Image\n"
           "w, h, n, s = " + std::to_string(w) + ", " + std::to_string(h) + ", " +
           std::to_string(samples) + ", " + std::to_string(seed) + "\n"
           "def p(x, y, c):\n"
           "    return ((x * 37 + y * 91 + c * 53 + s * 17) ^ (x * y + s)) & 255\n"
           "data = bytes(p(x, y, c) for y in range(h) for x in range(w) for c in range(n))\n"
           "Image.frombytes(\"" + mode + "\", (w, h), data).save(\"" + path + "\")\n'";
}

TEST_F(PnmTest, ReadsMapsWrittenByPillow) {
    if (!HaveProgram(kPython)) GTEST_SKIP() << "no python3";
    const struct { const char* mode; const char* name; int samples; } kinds[] = {
        {"L", "pil.pgm", 1}, {"RGB", "pil.ppm", 3}};
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.name);
        const std::string path = dir.File(k.name);
        bool ok = false;
        RunCommand(PilWriter(path, k.mode, 7, 5, 11), ok);
        ASSERT_TRUE(ok) << "python could not write " << path;
        ImgClass img;
        SetName(img, path);
        ASSERT_FALSE(ReadImage(false, &img));
        EXPECT_EQ(img.ImgStruct.Width, 7u);
        EXPECT_EQ(img.ImgStruct.Height, 5u);
        EXPECT_EQ(img.ImgStruct.Samples, k.samples);
        for (uint32_t y = 0; y < 5; ++y)
            for (uint32_t x = 0; x < 7; ++x)
                for (int c = 0; c < k.samples; ++c)
                    ASSERT_EQ(At(img, x, y, c), PatternSample(x, y, c, 11)) << x << "," << y;
    }
}

TEST_F(PnmTest, ReadsMapsWrittenByNetpbm) {
    if (!HaveProgram("/usr/bin/pgmmake") || !HaveProgram("/usr/bin/ppmmake"))
        GTEST_SKIP() << "no netpbm";
    bool ok = false;
    const std::string grey = dir.File("nb.pgm");
    const std::string colour = dir.File("nb.ppm");
    RunCommand("/usr/bin/pgmmake 0.2 5 3 > '" + grey + "'", ok);
    ASSERT_TRUE(ok);
    RunCommand("/usr/bin/ppmmake rgb:ff/80/00 5 3 > '" + colour + "'", ok);
    ASSERT_TRUE(ok);

    ImgClass g, c;
    SetName(g, grey);
    SetName(c, colour);
    ASSERT_FALSE(ReadImage(false, &g));
    ASSERT_FALSE(ReadImage(false, &c));
    EXPECT_EQ(g.ImgStruct.Width, 5u);
    EXPECT_EQ(g.ImgStruct.Height, 3u);
    EXPECT_EQ(c.ImgStruct.Width, 5u);
    EXPECT_EQ(c.ImgStruct.Height, 3u);
    for (uint32_t y = 0; y < 3; ++y)
        for (uint32_t x = 0; x < 5; ++x) {
            EXPECT_EQ(At(g, x, y), 51);
            EXPECT_EQ(At(c, x, y, 0), 255);
            EXPECT_EQ(At(c, x, y, 1), 128);
            EXPECT_EQ(At(c, x, y, 2), 0);
        }
}

TEST_F(PnmTest, WrittenMapsAreReadByPillow) {
    if (!HaveProgram(kPython)) GTEST_SKIP() << "no python3";
    for (int samples : {1, 3}) {
        SCOPED_TRACE(samples);
        ImgClass img;
        MakeImage(img, 9, 4, samples, 13);
        const std::string path = dir.File(samples == 1 ? "ours.pgm" : "ours.ppm");
        SetName(img, path);
        ASSERT_FALSE(samples == 1 ? Write_8BitPGM(&img) : Write_8BitPPM(&img));
        bool ok = false;
        const std::string out = RunCommand(std::string(kPython) +
                                        " -c 'import sys; from PIL import Image\n"
                                        "im = Image.open(sys.argv[1]); im.load()\n"
                                        "print(im.format, im.mode, im.size[0], im.size[1])\n"
                                        "print(\" \".join(str(b) for b in im.tobytes()))' '" +
                                        path + "'",
                                    ok);
        ASSERT_TRUE(ok) << out;
        std::string expected = std::string("PPM ") + (samples == 1 ? "L" : "RGB") + " 9 4\n";
        std::string values;
        for (uint32_t y = 0; y < 4; ++y)
            for (uint32_t x = 0; x < 9; ++x)
                for (int c = 0; c < samples; ++c)
                    values += (values.empty() ? "" : " ") + std::to_string(PatternSample(x, y, c, 13));
        EXPECT_EQ(out, expected + values + "\n");
    }
}

TEST_F(PnmTest, WrittenMapsAreReadByNetpbm) {
    if (!HaveProgram("/usr/bin/pnmtopnm")) GTEST_SKIP() << "no netpbm";
    ImgClass img;
    MakeImage(img, 3, 2, 3, 21);
    const std::string path = dir.File("plain.ppm");
    SetName(img, path);
    ASSERT_FALSE(Write_8BitPPM(&img));
    bool ok = false;
    // The plain form lists every sample as a decimal number.
    const std::string out = RunCommand("/usr/bin/pnmtopnm -plain '" + path + "'", ok);
    ASSERT_TRUE(ok) << out;
    std::vector<long> numbers;
    std::string magic;
    {
        size_t pos = out.find('\n');
        magic = out.substr(0, pos);
        const char* p = out.c_str() + pos;
        char* end;
        for (long v = std::strtol(p, &end, 10); end != p; v = std::strtol(p, &end, 10)) {
            numbers.push_back(v);
            p = end;
        }
    }
    EXPECT_EQ(magic, "P3");
    std::vector<long> expected = {3, 2, 255};
    for (uint32_t y = 0; y < 2; ++y)
        for (uint32_t x = 0; x < 3; ++x)
            for (int c = 0; c < 3; ++c) expected.push_back(PatternSample(x, y, c, 21));
    EXPECT_EQ(numbers, expected);
}

}  // namespace
