// The image record, the last-error text, version entry points, file queries
// and the progress receivers.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstring>
#include <string>

#include "library.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

TEST(ImageRecord, NewObjectHasDocumentedDefaults) {
    ImgClass img;
    const ImgStruct& s = img.ImgStruct;
    EXPECT_STREQ(s.FileName, "");
    EXPECT_EQ(s.ImgData, nullptr);
    EXPECT_EQ(s.LineSize, 0u);
    EXPECT_EQ(s.Width, 0u);
    EXPECT_EQ(s.Height, 0u);
    EXPECT_EQ(s.Samples, 0);
    EXPECT_EQ(s.Bits, 8);
    EXPECT_EQ(s.XOrigin, 0);
    EXPECT_EQ(s.YOrigin, 0);
    EXPECT_EQ(s.ResUnit, 2);
    EXPECT_DOUBLE_EQ(s.Resolution, 300.0);
    EXPECT_EQ(s.Type, 1);
    EXPECT_EQ(s.Planar, 0);
    EXPECT_EQ(s.BgrOrder, 0);
    EXPECT_EQ(s.Rotation, 0);
    EXPECT_EQ(s.Rotated, 0);
    // The whole name field is clear, not just its first byte.
    for (char c : s.FileName) ASSERT_EQ(c, '\0');
}

TEST(ImageRecord, FieldsKeepTheirOrder) {
    // Clients of the record rely on its layout.
    EXPECT_LT(offsetof(ImgStruct, FileName), offsetof(ImgStruct, ImgData));
    EXPECT_LT(offsetof(ImgStruct, ImgData), offsetof(ImgStruct, LineSize));
    EXPECT_LT(offsetof(ImgStruct, LineSize), offsetof(ImgStruct, Width));
    EXPECT_LT(offsetof(ImgStruct, Width), offsetof(ImgStruct, Height));
    EXPECT_LT(offsetof(ImgStruct, Height), offsetof(ImgStruct, Samples));
    EXPECT_LT(offsetof(ImgStruct, Samples), offsetof(ImgStruct, Bits));
    EXPECT_LT(offsetof(ImgStruct, Bits), offsetof(ImgStruct, XOrigin));
    EXPECT_LT(offsetof(ImgStruct, XOrigin), offsetof(ImgStruct, YOrigin));
    EXPECT_LT(offsetof(ImgStruct, YOrigin), offsetof(ImgStruct, ResUnit));
    EXPECT_LT(offsetof(ImgStruct, ResUnit), offsetof(ImgStruct, Resolution));
    EXPECT_LT(offsetof(ImgStruct, Resolution), offsetof(ImgStruct, Type));
    EXPECT_LT(offsetof(ImgStruct, Type), offsetof(ImgStruct, Planar));
    EXPECT_LT(offsetof(ImgStruct, Planar), offsetof(ImgStruct, BgrOrder));
    EXPECT_LT(offsetof(ImgStruct, BgrOrder), offsetof(ImgStruct, Rotation));
    EXPECT_LT(offsetof(ImgStruct, Rotation), offsetof(ImgStruct, Rotated));
    EXPECT_EQ(sizeof(ImgStruct{}.FileName), size_t{ORVIX_MAX_PATH});

    EXPECT_LT(offsetof(IMAGE_HDR, FileName), offsetof(IMAGE_HDR, Type));
    EXPECT_LT(offsetof(IMAGE_HDR, Type), offsetof(IMAGE_HDR, Compression));
    EXPECT_LT(offsetof(IMAGE_HDR, Compression), offsetof(IMAGE_HDR, LineSize));
    EXPECT_LT(offsetof(IMAGE_HDR, LineSize), offsetof(IMAGE_HDR, Samples));
    EXPECT_LT(offsetof(IMAGE_HDR, Samples), offsetof(IMAGE_HDR, Bits));
    EXPECT_LT(offsetof(IMAGE_HDR, Bits), offsetof(IMAGE_HDR, Height));
    EXPECT_LT(offsetof(IMAGE_HDR, Height), offsetof(IMAGE_HDR, Width));
    EXPECT_LT(offsetof(IMAGE_HDR, Width), offsetof(IMAGE_HDR, ResUnit));
    EXPECT_LT(offsetof(IMAGE_HDR, ResUnit), offsetof(IMAGE_HDR, XRes));
    EXPECT_LT(offsetof(IMAGE_HDR, XRes), offsetof(IMAGE_HDR, YRes));
    EXPECT_LT(offsetof(IMAGE_HDR, YRes), offsetof(IMAGE_HDR, MaxVal));
    EXPECT_EQ(sizeof(IMAGE_HDR{}.FileName), size_t{ORVIX_MAX_PATH});
}

TEST(ImageRecord, AllocDataNeedsEveryAttribute) {
    ImgClass img;
    EXPECT_TRUE(img.AllocData());
    EXPECT_EQ(img.ImgStruct.ImgData, nullptr);

    ImgStruct& s = img.ImgStruct;
    s.Width = 3;
    s.Height = 2;
    s.LineSize = 0;
    EXPECT_TRUE(img.AllocData());
    EXPECT_EQ(s.ImgData, nullptr);
    s.LineSize = 4;
    s.Height = 0;
    EXPECT_TRUE(img.AllocData());
    EXPECT_EQ(s.ImgData, nullptr);
    s.Height = 2;
    s.Width = 0;
    EXPECT_TRUE(img.AllocData());
    EXPECT_EQ(s.ImgData, nullptr);
}

TEST(ImageRecord, AllocDataGivesZeroFilledWritableBuffer) {
    ImgClass img;
    ImgStruct& s = img.ImgStruct;
    s.Width = 1001;
    s.Height = 37;
    s.LineSize = 3004;
    ASSERT_FALSE(img.AllocData());
    ASSERT_NE(s.ImgData, nullptr);
    const size_t bytes = size_t{s.LineSize} * s.Height;
    for (size_t i = 0; i < bytes; ++i) ASSERT_EQ(s.ImgData[i], 0) << "byte " << i;
    std::memset(s.ImgData, 0xAB, bytes);

    // A second allocation replaces the buffer with a fresh, zero-filled one.
    s.Height = 5;
    ASSERT_FALSE(img.AllocData());
    ASSERT_NE(s.ImgData, nullptr);
    for (size_t i = 0; i < size_t{s.LineSize} * s.Height; ++i) ASSERT_EQ(s.ImgData[i], 0);

    // A failed allocation still releases what was held.
    s.Width = 0;
    EXPECT_TRUE(img.AllocData());
    EXPECT_EQ(s.ImgData, nullptr);
}

TEST(ImageRecord, FreeDataIsSafeToRepeat) {
    ImgClass img;
    img.FreeData();
    EXPECT_EQ(img.ImgStruct.ImgData, nullptr);
    MakeImage(img, 4, 4, 3);
    img.FreeData();
    EXPECT_EQ(img.ImgStruct.ImgData, nullptr);
    img.FreeData();
    EXPECT_EQ(img.ImgStruct.ImgData, nullptr);
}

TEST(ErrorText, MessagesAccumulateWithNewlines) {
    EXPECT_TRUE(Post_Error(""));
    EXPECT_STREQ(Get_Last_Error(), "");
    EXPECT_TRUE(Post_Error("a"));
    EXPECT_TRUE(Post_Error("b"));
    EXPECT_STREQ(Get_Last_Error(), "a\nb\n");
    EXPECT_TRUE(Post_Error(""));
    EXPECT_STREQ(Get_Last_Error(), "");
    EXPECT_TRUE(Post_Error("after clear"));
    EXPECT_STREQ(Get_Last_Error(), "after clear\n");
    Post_Error("");
}

TEST(ErrorText, HoldsLongHistories) {
    Post_Error("");
    const std::string line(99, 'x');
    for (int i = 0; i < 120; ++i) Post_Error(line.c_str());
    const std::string text = Get_Last_Error();
    EXPECT_EQ(text.size(), size_t{120 * 100});
    EXPECT_EQ(text.substr(0, 100), line + "\n");
    EXPECT_EQ(text.substr(text.size() - 100), line + "\n");
    Post_Error("");
}

// Found by fuzzing: reads do not clear the text, so a long batch of damaged
// files grew it without bound (2 GB in the fuzzer).
TEST(ErrorText, KeepsItsNewestWholeMessagesWithinABound) {
    Post_Error("");
    const size_t bound = orvix::Library::kMaxErrorText;
    for (int i = 0; i < 200000; ++i) Post_Error(("message " + std::to_string(i)).c_str());
    const std::string text = Get_Last_Error();
    EXPECT_GE(text.size(), bound);
    EXPECT_LE(text.size(), 2 * bound);
    const std::string last = "message 199999\n";
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
    // It starts with a whole message, and every message after it is kept.
    ASSERT_EQ(text.rfind("message ", 0), 0u) << text.substr(0, 40);
    const int first = std::stoi(text.substr(8));
    size_t lines = 0;
    for (const char c : text) lines += c == '\n';
    EXPECT_EQ(lines, size_t(200000 - first));
    Post_Error("");
}

// The same through a reader: a damaged file read again and again without
// clearing the text leaves it bounded, its newest message last.
TEST(ErrorText, RepeatedFailingReadsKeepTheTextBounded) {
    TempDir dir;
    const std::string path = dir.File("damaged.pgm");
    WriteText(path, "P5\n4000 4000\n255\n" + std::string(10, 'x'));
    Post_Error("");
    for (int i = 0; i < 5000; ++i) {
        ImgClass img;
        SetName(img, path);
        ASSERT_TRUE(ReadImage(false, &img));
    }
    const std::string text = Get_Last_Error();
    EXPECT_LE(text.size(), 2 * orvix::Library::kMaxErrorText);
    EXPECT_NE(text.find("more than the file holds"), std::string::npos);
    EXPECT_EQ(text.back(), '\n');
    Post_Error("");
}

TEST(ErrorText, PercentSignsAreNotFormatDirectives) {
    Post_Error("");
    Post_Error("100% done %s %d");
    EXPECT_STREQ(Get_Last_Error(), "100% done %s %d\n");
    Post_Error("");
}

TEST(Version, FixedEntryPoints) {
    EXPECT_STREQ(GetDll_Version(), "2. 4. 7. 5");
    EXPECT_EQ(fnORVIX_0500(), 42);
    EXPECT_EQ(nORVIX_0500, 0);
}

TEST(IsEmptyFile, MissingEmptyAndFilledFiles) {
    TempDir dir;
    const std::string missing = dir.File("missing.bin");
    const std::string empty = dir.File("empty.bin");
    const std::string full = dir.File("full.bin");
    WriteBytes(empty, {});
    WriteBytes(full, {1, 2, 3, 4, 5});

    EXPECT_TRUE(IsEmptyFile(missing.c_str()));
    EXPECT_TRUE(IsEmptyFile(empty.c_str()));
    EXPECT_FALSE(IsEmptyFile(full.c_str()));

    int64_t size = -7;
    EXPECT_TRUE(IsEmptyFile(missing.c_str(), &size));
    EXPECT_EQ(size, 0);
    size = -7;
    EXPECT_TRUE(IsEmptyFile(empty.c_str(), &size));
    EXPECT_EQ(size, 0);
    EXPECT_FALSE(IsEmptyFile(full.c_str(), &size));
    EXPECT_EQ(size, 5);
    EXPECT_FALSE(IsEmptyFile(full.c_str(), nullptr));
    EXPECT_TRUE(IsEmptyFile(missing.c_str(), nullptr));
    size = -7;
    EXPECT_TRUE(IsEmptyFile("", &size));
    EXPECT_EQ(size, 0);
    EXPECT_TRUE(IsEmptyFile(nullptr));
}

TEST(IsEmptyFile, ReportsSizesBeyond32Bits) {
    TempDir dir;
    const std::string big = dir.File("sparse.bin");
    WriteBytes(big, {1});
    const uint64_t size = (uint64_t{1} << 32) + 5;
    std::filesystem::resize_file(big, size);  // sparse: takes no space
    int64_t got = 0;
    EXPECT_FALSE(IsEmptyFile(big.c_str(), &got));
    EXPECT_EQ(got, static_cast<int64_t>(size));
}

TEST(Progress, NullReceiversAreReplacedByQuietOnes) {
    TempDir dir;
    const std::string path = dir.File("g.pgm");
    WriteBytes(path, {'P', '5', '\n', '2', ' ', '2', '\n', '2', '5', '5', '\n', 1, 2, 3, 4});
    SetRW_Progress(nullptr, nullptr);
    ImgClass img;
    SetName(img, path);
    ASSERT_FALSE(ReadImage(false, &img));
    EXPECT_EQ(At(img, 1, 1), 4);
    SetName(img, dir.File("out.pgm"));
    EXPECT_FALSE(Write_8BitPGM(&img));
}

TEST(Progress, ReceiversAreUsedForTheirOwnDirection) {
    TempDir dir;
    const std::string path = dir.File("g.pgm");
    WriteBytes(path, {'P', '5', '\n', '1', ' ', '2', '\n', '2', '5', '5', '\n', 7, 8});
    static std::vector<std::pair<int, int>> reads, writes;
    reads.clear();
    writes.clear();
    SetRW_Progress([](int t, int d) { reads.emplace_back(t, d); },
                   [](int t, int d) { writes.emplace_back(t, d); });
    ImgClass img;
    SetName(img, path);
    ASSERT_FALSE(ReadImage(false, &img));
    const std::vector<std::pair<int, int>> expected = {{0, 0}, {2, 0}, {2, 1}};
    EXPECT_EQ(reads, expected);
    EXPECT_TRUE(writes.empty());
    reads.clear();
    SetName(img, dir.File("out.pgm"));
    ASSERT_FALSE(Write_8BitPGM(&img));
    EXPECT_TRUE(reads.empty());
    EXPECT_EQ(writes, expected);
    SetRW_Progress(nullptr, nullptr);
}

}  // namespace
