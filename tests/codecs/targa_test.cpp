#include <gtest/gtest.h>

#include <array>
#include <cstring>

#include "codecs/image_tools.h"
#include "codecs/targa.h"
#include "support/test_support.h"

using namespace testing_support;
using image_tools::Raster;
using orvix::TargaClass;
using orvix::TargaHeader;

namespace {

using Px = std::array<uint8_t, 3>;

// A TARGA file built byte by byte.
struct TgaFile {
    std::vector<uint8_t> id;
    uint8_t colorMapType = 0;
    uint8_t imageType = 2;
    uint16_t mapFirst = 0;
    uint16_t mapLength = 0;
    uint8_t mapEntryBits = 0;
    uint16_t xOrigin = 0;
    uint16_t yOrigin = 0;
    uint16_t width = 1;
    uint16_t height = 1;
    uint8_t pixelBits = 24;
    uint8_t descriptor = 0;
    std::vector<uint8_t> map;   // entries as stored
    std::vector<uint8_t> data;  // pixel data as stored

    std::vector<uint8_t> Bytes() const {
        std::vector<uint8_t> b{static_cast<uint8_t>(id.size()), colorMapType, imageType};
        for (uint16_t v : {mapFirst, mapLength}) b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
        b.push_back(mapEntryBits);
        for (uint16_t v : {xOrigin, yOrigin, width, height})
            b.insert(b.end(), {uint8_t(v), uint8_t(v >> 8)});
        b.insert(b.end(), {pixelBits, descriptor});
        b.insert(b.end(), id.begin(), id.end());
        b.insert(b.end(), map.begin(), map.end());
        b.insert(b.end(), data.begin(), data.end());
        return b;
    }
};

class TargaTest : public ::testing::Test {
protected:
    bool Read(const std::vector<uint8_t>& bytes, ImgClass& img) {
        const std::string path = dir.File("in.tga");
        WriteBytes(path, bytes);
        SetName(img, path);
        Post_Error("");
        return TargaClass().ReadTarga(&img);
    }

    static Px Rgb(const ImgClass& img, uint32_t x, uint32_t y) {
        return {At(img, x, y, 0), At(img, x, y, 1), At(img, x, y, 2)};
    }

    std::string DataMessage() const {
        return "tgaLoad: " + dir.File("in.tga") + " - Short read within Data\n\n";
    }

    TempDir dir;
};

// Four B,G,R pixels of a 2 x 2 image in file order.
TgaFile TwoByTwo(uint8_t descriptor) {
    TgaFile f;
    f.width = f.height = 2;
    f.descriptor = descriptor;
    f.data = {3, 2, 1, 6, 5, 4, 9, 8, 7, 12, 11, 10};
    return f;
}

TEST_F(TargaTest, DescriptorBit5ChoosesTheLineOfTheFirstRow) {
    ImgClass bottom;
    ASSERT_FALSE(Read(TwoByTwo(0).Bytes(), bottom)) << Get_Last_Error();
    const ImgStruct& s = bottom.ImgStruct;
    EXPECT_EQ(s.Width, 2u);
    EXPECT_EQ(s.Height, 2u);
    EXPECT_EQ(s.Samples, 3);
    EXPECT_EQ(s.LineSize, 8u);
    EXPECT_EQ(Rgb(bottom, 0, 1), (Px{1, 2, 3}));
    EXPECT_EQ(Rgb(bottom, 1, 1), (Px{4, 5, 6}));
    EXPECT_EQ(Rgb(bottom, 0, 0), (Px{7, 8, 9}));

    ImgClass top;
    ASSERT_FALSE(Read(TwoByTwo(0x20).Bytes(), top));
    EXPECT_EQ(Rgb(top, 0, 0), (Px{1, 2, 3}));
    EXPECT_EQ(Rgb(top, 1, 0), (Px{4, 5, 6}));
    EXPECT_EQ(Rgb(top, 1, 1), (Px{10, 11, 12}));

    ImgClass mirrored;  // bit 4: pixels run right to left
    ASSERT_FALSE(Read(TwoByTwo(0x30).Bytes(), mirrored));
    EXPECT_EQ(Rgb(mirrored, 1, 0), (Px{1, 2, 3}));
    EXPECT_EQ(Rgb(mirrored, 0, 0), (Px{4, 5, 6}));
}

TEST_F(TargaTest, RunLengthPacketsRepeatOrCopyAndRunAcrossRows) {
    TgaFile f;
    f.imageType = 10;
    f.width = 3;
    f.height = 2;
    f.descriptor = 0x20;
    f.data = {0x81, 3, 2, 1,           // run of 2: (0,0) (1,0)
              0x01, 6, 5, 4, 9, 8, 7,  // 2 literals: (2,0) and, on the next row, (0,1)
              0x81, 12, 11, 10};       // run of 2: (1,1) (2,1)
    ImgClass img;
    ASSERT_FALSE(Read(f.Bytes(), img)) << Get_Last_Error();
    EXPECT_EQ(Rgb(img, 0, 0), (Px{1, 2, 3}));
    EXPECT_EQ(Rgb(img, 1, 0), (Px{1, 2, 3}));
    EXPECT_EQ(Rgb(img, 2, 0), (Px{4, 5, 6}));
    EXPECT_EQ(Rgb(img, 0, 1), (Px{7, 8, 9}));
    EXPECT_EQ(Rgb(img, 1, 1), (Px{10, 11, 12}));
    EXPECT_EQ(Rgb(img, 2, 1), (Px{10, 11, 12}));
}

TEST_F(TargaTest, ThirtyTwoBitPixelsDropAlpha) {
    TgaFile f;
    f.width = 2;
    f.pixelBits = 32;
    f.descriptor = 8;
    f.data = {3, 2, 1, 255, 6, 5, 4, 0};
    ImgClass img;
    ASSERT_FALSE(Read(f.Bytes(), img)) << Get_Last_Error();
    EXPECT_EQ(Rgb(img, 0, 0), (Px{1, 2, 3}));
    EXPECT_EQ(Rgb(img, 1, 0), (Px{4, 5, 6}));
}

TEST_F(TargaTest, GreyPixelsBecomeThreeEqualSamples) {
    for (uint8_t type : {3, 11}) {
        TgaFile f;
        f.imageType = type;
        f.pixelBits = 8;
        f.width = 3;
        f.data = type == 3 ? std::vector<uint8_t>{10, 200, 77} : std::vector<uint8_t>{0x00, 10, 0x81, 200};
        ImgClass img;
        ASSERT_FALSE(Read(f.Bytes(), img)) << Get_Last_Error();
        EXPECT_EQ(img.ImgStruct.Samples, 3);
        EXPECT_EQ(Rgb(img, 0, 0), (Px{10, 10, 10}));
        EXPECT_EQ(Rgb(img, 1, 0), (Px{200, 200, 200}));
        EXPECT_EQ(Rgb(img, 2, 0), type == 3 ? (Px{77, 77, 77}) : (Px{200, 200, 200}));
    }
}

TEST_F(TargaTest, SixteenBitPixelsAreWidenedFromFiveBitComponents) {
    TgaFile f;
    f.width = 4;
    f.pixelBits = 16;
    // 0x7C00 red, 0x03E0 green, 0x801F blue with the attribute bit, 0x4210 all 16.
    f.data = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x80, 0x10, 0x42};
    ImgClass img;
    ASSERT_FALSE(Read(f.Bytes(), img)) << Get_Last_Error();
    EXPECT_EQ(Rgb(img, 0, 0), (Px{255, 0, 0}));
    EXPECT_EQ(Rgb(img, 1, 0), (Px{0, 255, 0}));
    EXPECT_EQ(Rgb(img, 2, 0), (Px{0, 0, 255}));
    EXPECT_EQ(Rgb(img, 3, 0), (Px{132, 132, 132}));
}

TEST_F(TargaTest, ColourMappedPixelsGoThroughTheMapFromItsFirstIndex) {
    // 24- and 32-bit maps, 8- and 16-bit indices, plain and run-length, with
    // and without an identifier field between the header and the map.
    struct Case {
        uint8_t type;
        uint8_t entryBits;
        uint8_t pixelBits;
        std::vector<uint8_t> map;
        std::vector<uint8_t> data;
        std::vector<uint8_t> id;
    };
    const std::vector<uint8_t> map24 = {3, 2, 1, 6, 5, 4, 9, 8, 7};
    const std::vector<uint8_t> map32 = {3, 2, 1, 0, 6, 5, 4, 0, 9, 8, 7, 0};
    const std::vector<uint8_t> id = {'p', 'a', 'l', 'e', 't', 't', 'e', 0};
    const std::vector<Case> cases = {
        {1, 24, 8, map24, {5, 6, 7}, {}},
        {1, 32, 8, map32, {5, 6, 7}, {}},
        {1, 24, 16, map24, {5, 0, 6, 0, 7, 0}, {}},
        {9, 24, 8, map24, {0x00, 5, 0x01, 6, 7}, {}},
        {9, 32, 8, map32, {0x02, 5, 6, 7}, {}},
        {1, 24, 8, map24, {5, 6, 7}, id},
        {9, 32, 8, map32, {0x00, 5, 0x01, 6, 7}, id},
    };
    for (const Case& c : cases) {
        TgaFile f;
        f.id = c.id;
        f.colorMapType = 1;
        f.imageType = c.type;
        f.mapFirst = 5;
        f.mapLength = 3;
        f.mapEntryBits = c.entryBits;
        f.pixelBits = c.pixelBits;
        f.width = 3;
        f.map = c.map;
        f.data = c.data;
        ImgClass img;
        ASSERT_FALSE(Read(f.Bytes(), img)) << int(c.type) << "/" << int(c.entryBits) << "/id "
                                           << c.id.size() << ": " << Get_Last_Error();
        EXPECT_EQ(Rgb(img, 0, 0), (Px{1, 2, 3}));
        EXPECT_EQ(Rgb(img, 1, 0), (Px{4, 5, 6}));
        EXPECT_EQ(Rgb(img, 2, 0), (Px{7, 8, 9}));
    }

    TgaFile f;  // 15-bit map entries
    f.colorMapType = 1;
    f.imageType = 1;
    f.mapLength = 2;
    f.mapEntryBits = 15;
    f.pixelBits = 8;
    f.width = 2;
    f.map = {0x00, 0x7C, 0x1F, 0x00};
    f.data = {1, 0};
    ImgClass img;
    ASSERT_FALSE(Read(f.Bytes(), img)) << Get_Last_Error();
    EXPECT_EQ(Rgb(img, 0, 0), (Px{0, 0, 255}));
    EXPECT_EQ(Rgb(img, 1, 0), (Px{255, 0, 0}));
}

TEST_F(TargaTest, IdentifierFieldIsSkipped) {
    TgaFile f = TwoByTwo(0x20);
    f.id = {'h', 'e', 'l', 'l', 'o'};
    ImgClass img;
    ASSERT_FALSE(Read(f.Bytes(), img)) << Get_Last_Error();
    EXPECT_EQ(Rgb(img, 0, 0), (Px{1, 2, 3}));

    auto bytes = f.Bytes();
    bytes.resize(20);  // the header and two bytes of the identifier
    ImgClass cut;
    EXPECT_TRUE(Read(bytes, cut));
    EXPECT_EQ(std::string(Get_Last_Error()),
              "TargaClass::ReadTarga(..) " + dir.File("in.tga") +
                  " - Short read within Identifier String\n\n" + DataMessage());
}

TEST_F(TargaTest, HeaderValidityRules) {
    TargaHeader valid;
    valid.imageType = 2;
    valid.width = valid.height = 10;
    valid.pixelBits = 24;
    EXPECT_FALSE(TargaClass::CheckHeader(valid));
    TargaHeader mapped = valid;
    mapped.imageType = 9;
    mapped.colorMapType = 1;
    mapped.mapEntryBits = 16;
    mapped.mapLength = 10;
    mapped.pixelBits = 16;
    EXPECT_FALSE(TargaClass::CheckHeader(mapped));

    struct Case {
        const char* name;
        void (*change)(TargaHeader&);
    };
    const Case invalid[] = {
        {"colour-map type 2", [](TargaHeader& h) { h.colorMapType = 2; }},
        {"image type 4", [](TargaHeader& h) { h.imageType = 4; }},
        {"image type 0", [](TargaHeader& h) { h.imageType = 0; }},
        {"entry size 8", [](TargaHeader& h) { h.mapEntryBits = 8; }},
        {"pixel depth 15", [](TargaHeader& h) { h.pixelBits = 15; }},
        {"interleave 3", [](TargaHeader& h) { h.descriptor = 0xC0; }},
        {"true colour with a map", [](TargaHeader& h) { h.colorMapType = 1; }},
        {"true colour with entry size", [](TargaHeader& h) { h.mapEntryBits = 24; }},
        {"x origin + width", [](TargaHeader& h) { h.xOrigin = 65530; }},
        {"y origin + height", [](TargaHeader& h) { h.yOrigin = 65530; }},
        {"first index + length",
         [](TargaHeader& h) { h.mapFirst = 65000; h.mapLength = 600; }},
    };
    for (const Case& c : invalid) {
        TargaHeader h = valid;
        c.change(h);
        EXPECT_TRUE(TargaClass::CheckHeader(h)) << c.name;
    }
    const Case invalidMapped[] = {
        {"mapped without a map", [](TargaHeader& h) { h.colorMapType = 0; }},
        {"mapped with entry size 0", [](TargaHeader& h) { h.mapEntryBits = 0; }},
        {"mapped with 24-bit pixels", [](TargaHeader& h) { h.pixelBits = 24; }},
    };
    for (const Case& c : invalidMapped) {
        TargaHeader h = mapped;
        c.change(h);
        EXPECT_TRUE(TargaClass::CheckHeader(h)) << c.name;
    }

    // From a file: the header is read from the start whatever the position.
    const std::string path = dir.File("h.tga");
    TgaFile f = TwoByTwo(0x28);
    f.id = {'x'};
    f.xOrigin = 7;
    WriteBytes(path, f.Bytes());
    FILE* file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    std::fseek(file, 5, SEEK_SET);
    TargaHeader h;
    EXPECT_FALSE(TargaClass::CheckHeader(file, h));
    EXPECT_EQ(h.idLength, 1);
    EXPECT_EQ(h.imageType, 2);
    EXPECT_EQ(h.xOrigin, 7);
    EXPECT_EQ(h.width, 2);
    EXPECT_EQ(h.height, 2);
    EXPECT_EQ(h.pixelBits, 24);
    EXPECT_EQ(h.descriptor, 0x28);
    EXPECT_FALSE(h.runLength);
    std::fclose(file);

    WriteBytes(path, {0, 0, 2, 0, 0});  // shorter than a header
    file = std::fopen(path.c_str(), "rb");
    ASSERT_NE(file, nullptr);
    EXPECT_TRUE(TargaClass::CheckHeader(file, h));
    std::fclose(file);
}

TEST_F(TargaTest, BadHeadersAndDataAreRefusedWithTheDataMessage) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        bool allocates;     // the failure can only be seen while decoding
        std::string words = "";  // said before the data message
    };
    std::vector<Case> cases;
    {
        TgaFile f = TwoByTwo(0);
        f.colorMapType = 1;
        f.mapEntryBits = 24;
        f.mapLength = 1;
        f.map = {0, 0, 0};
        cases.push_back({"true colour with a colour map", f.Bytes(), false});
        f = TwoByTwo(0);
        f.width = 0;
        cases.push_back({"width 0", f.Bytes(), false});
        f = TwoByTwo(0);
        f.height = 0;
        cases.push_back({"height 0", f.Bytes(), false});
        f = TwoByTwo(0);
        f.width = f.height = 60000;  // far more pixels than the file holds
        cases.push_back({"rows beyond the end", f.Bytes(), false});
        auto bytes = TwoByTwo(0).Bytes();
        bytes.pop_back();
        cases.push_back({"one byte short", bytes, false});
    }
    {
        TgaFile f;
        f.imageType = 10;
        f.width = 3;
        f.data = {0x83, 1, 2, 3};  // a run of 4 in a 3-pixel image
        cases.push_back({"run past the image", f.Bytes(), true});
        f.data = {0x03, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};  // 4 literals
        cases.push_back({"literals past the image", f.Bytes(), true});
        f.width = 200;
        f.height = 1;
        f.data = {0xFF, 1, 2, 3, 0x02, 1, 2, 3};  // 128 + 3 of 200, then the file ends
        cases.push_back({"packets end early", f.Bytes(), true});
        f.data = {0x81};
        f.width = 2;
        cases.push_back({"run without its value", f.Bytes(), false});
    }
    {
        TgaFile f;
        f.colorMapType = 1;
        f.imageType = 1;
        f.mapFirst = 5;
        f.mapLength = 2;
        f.mapEntryBits = 24;
        f.pixelBits = 8;
        f.width = 2;
        f.map = {1, 2, 3, 4, 5, 6};
        const std::string outside = "TargaClass::ReadTarga: " + dir.File("in.tga") + ": colour index ";
        f.data = {5, 7};  // 7 is past the map's last index, 6
        cases.push_back({"index past the map", f.Bytes(), true,
                         outside + "7 lies outside the colour map (indices 5 to 6)\n"});
        f.data = {4, 5};
        cases.push_back({"index before the first", f.Bytes(), true,
                         outside + "4 lies outside the colour map (indices 5 to 6)\n"});
        f.imageType = 9;
        f.data = {0x01, 6, 200};
        cases.push_back({"run-length index past the map", f.Bytes(), true,
                         outside + "200 lies outside the colour map (indices 5 to 6)\n"});
        f.imageType = 1;
        f.mapLength = 300;  // a map longer than the file
        f.data = {5, 6};
        cases.push_back({"map beyond the end", f.Bytes(), false});
        f.mapLength = 0;
        f.map.clear();
        cases.push_back({"empty map", f.Bytes(), true, outside + "5, but the colour map is empty\n"});
    }
    for (const Case& c : cases) {
        ImgClass img;
        EXPECT_TRUE(Read(c.bytes, img)) << c.name;
        EXPECT_EQ(std::string(Get_Last_Error()), c.words + DataMessage()) << c.name;
        if (!c.allocates) {
            EXPECT_EQ(img.ImgStruct.ImgData, nullptr) << c.name;
        }
    }
}

TEST_F(TargaTest, ReadImageReadsTargaAndLeavesBitsAndType) {
    WriteBytes(dir.File("a.tga"), TwoByTwo(0x20).Bytes());
    ImgClass img;
    SetName(img, dir.File("a.tga"));
    img.ImgStruct.Bits = 8;
    ASSERT_FALSE(ReadImage(true, &img)) << Get_Last_Error();
    EXPECT_EQ(img.ImgStruct.Type, IMG_TYPE_JPEG);  // as a new object has it
    EXPECT_EQ(Rgb(img, 0, 0), (Px{1, 2, 3}));
    EXPECT_EQ(img.ImgStruct.BgrOrder, 0);
}

TEST_F(TargaTest, EmptyOrMissingFileNameFailsSayingSo) {
    ImgClass img;
    Post_Error("");
    EXPECT_TRUE(TargaClass().ReadTarga(&img));
    SetName(img, dir.File("none.tga"));
    EXPECT_TRUE(TargaClass().ReadTarga(&img));
    EXPECT_EQ(std::string(Get_Last_Error()),
              "TargaClass::ReadTarga: no file named\nTargaClass::ReadTarga: " + dir.File("none.tga") +
              " cannot be opened (No such file or directory)\n");
}

// ---- Files made by independent tools ------------------------------------

TEST_F(TargaTest, ReadsFilesWrittenByPillow) {
    if (!image_tools::HavePillow()) GTEST_SKIP() << "no Pillow";
    const std::string src = dir.File("src.ppm");
    image_tools::WritePpm(src, image_tools::Pattern(130, 5));  // runs cross rows
    int n = 0;
    for (const char* mode : {"L", "LA", "P", "RGB", "RGBA"})
        for (const char* rle : {"", "tga_rle"})
            for (const char* orientation : {"-1", "1"}) {
                const std::string out = dir.File("pil" + std::to_string(n++) + ".tga");
                ASSERT_TRUE(image_tools::Pillow(
                    dir.path().string(),
                    "im = Image.open(sys.argv[1])\n"
                    "m = sys.argv[3]\n"
                    "im = im.quantize(40) if m == 'P' else im.convert(m)\n"
                    "opts = {'orientation': int(sys.argv[5])}\n"
                    "if sys.argv[4]: opts['compression'] = sys.argv[4]\n"
                    "im.save(sys.argv[2], **opts)\n",
                    {src, out, mode, rle, orientation}));
                Raster want;
                ASSERT_TRUE(image_tools::PillowPixels(dir.path().string(), out, want));
                ImgClass img;
                SetName(img, out);
                ASSERT_FALSE(TargaClass().ReadTarga(&img))
                    << mode << " " << rle << " " << orientation << ": " << Get_Last_Error();
                EXPECT_TRUE(image_tools::SamePixels(want, image_tools::FromImage(img)))
                    << mode << " " << rle << " " << orientation;
            }
}

// ImageMagick 6 is left out: it stores the top line first while its
// descriptor says bottom line first, and netpbm and Pillow read its files
// upside down too.
TEST_F(TargaTest, ReadsFilesWrittenByNetpbm) {
    const Raster colour = image_tools::Pattern(150, 4, 5);
    image_tools::WritePpm(dir.File("src.ppm"), colour);
    Raster few{150, 4, {}};  // long runs and a small palette
    for (uint32_t i = 0; i < 150 * 4; ++i) {
        const uint8_t v = static_cast<uint8_t>(i / 37 % 4 * 80);
        few.rgb.insert(few.rgb.end(), {v, v, v});
    }
    image_tools::WritePpm(dir.File("few.ppm"), few);
    const std::string q = image_tools::Quote(dir.path().string());
    struct Case {
        std::string tool;
        std::string command;
        const Raster* want;
    };
    const std::vector<Case> cases = {
        {"/usr/bin/ppmtotga", "/usr/bin/ppmtotga -rgb -norle " + q + "/src.ppm", &colour},
        {"/usr/bin/ppmtotga", "/usr/bin/ppmtotga -rgb " + q + "/src.ppm", &colour},
        {"/usr/bin/ppmtotga", "/usr/bin/ppmtotga -cmap " + q + "/few.ppm", &few},
        {"/usr/bin/ppmtotga", "/usr/bin/ppmtotga -mono " + q + "/few.ppm", &few},
    };
    int ran = 0;
    for (const Case& c : cases) {
        if (!HaveProgram(c.tool)) continue;
        const std::string out = dir.File("tool.tga");
        ASSERT_TRUE(image_tools::Run(c.command + " > " + image_tools::Quote(out) + " 2>/dev/null"))
            << c.command;
        ImgClass img;
        SetName(img, out);
        ASSERT_FALSE(TargaClass().ReadTarga(&img)) << c.command << ": " << Get_Last_Error();
        EXPECT_TRUE(image_tools::SamePixels(*c.want, image_tools::FromImage(img))) << c.command;
        ++ran;
    }
    if (ran == 0) GTEST_SKIP() << "no netpbm";
}

// ---- Writer ----------------------------------------------------------------

TEST_F(TargaTest, WriterStoresTopLineFirstTwentyFourBitPixels) {
    ImgClass img;
    MakeImage(img, 3, 2, 3);
    SetName(img, dir.File("w.tga"));
    ASSERT_FALSE(TargaClass().WriteTarga(&img));
    const auto bytes = ReadBytes(dir.File("w.tga"));
    ASSERT_EQ(bytes.size(), 18u + 3 * 2 * 3);
    const std::vector<uint8_t> header(bytes.begin(), bytes.begin() + 18);
    EXPECT_EQ(header, (std::vector<uint8_t>{0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 2, 0, 24, 32}));
    EXPECT_EQ(bytes[18], At(img, 0, 0, 2));  // B of the top-left pixel
    EXPECT_EQ(bytes[20], At(img, 0, 0, 0));
    EXPECT_EQ(bytes[18 + 9 + 3], At(img, 1, 1, 2));
    EXPECT_EQ(img.ImgStruct.BgrOrder, 0);
    EXPECT_EQ(At(img, 0, 0, 0), PatternSample(0, 0, 0, 1));  // left as it was
}

TEST_F(TargaTest, WrittenFilesReadBackEqualHereAndInOtherTools) {
    struct Case {
        int samples;
        bool bgr;
    };
    for (const Case c : {Case{3, false}, Case{3, true}, Case{1, false}}) {
        ImgClass img;
        MakeImage(img, 9, 4, c.samples, 4);
        img.ImgStruct.BgrOrder = c.bgr;
        const Raster want = image_tools::FromImage(img);  // honours BgrOrder
        const std::string path = dir.File("rt.tga");
        SetName(img, path);
        ASSERT_FALSE(TargaClass().WriteTarga(&img));

        ImgClass back;
        SetName(back, path);
        ASSERT_FALSE(TargaClass().ReadTarga(&back));
        EXPECT_TRUE(image_tools::SamePixels(want, image_tools::FromImage(back)))
            << c.samples << c.bgr;

        if (HaveProgram("/usr/bin/tgatoppm")) {
            const std::string ppm = dir.File("rt.ppm");
            ASSERT_TRUE(image_tools::Run("/usr/bin/tgatoppm " + image_tools::Quote(path) + " > " +
                                        image_tools::Quote(ppm) + " 2>/dev/null"));
            Raster got;
            ASSERT_TRUE(image_tools::ReadPpm(ppm, got));
            EXPECT_TRUE(image_tools::SamePixels(want, got)) << "tgatoppm " << c.samples << c.bgr;
        }
        if (image_tools::HavePillow()) {
            Raster got;
            ASSERT_TRUE(image_tools::PillowPixels(dir.path().string(), path, got));
            EXPECT_TRUE(image_tools::SamePixels(want, got)) << "Pillow " << c.samples << c.bgr;
        }
    }
}

TEST_F(TargaTest, WriterRefusesWhatItCannotStore) {
    ImgClass empty;
    SetName(empty, dir.File("e.tga"));
    EXPECT_TRUE(TargaClass().WriteTarga(&empty));
    EXPECT_FALSE(std::filesystem::exists(dir.File("e.tga")));

    ImgClass unnamed;
    MakeImage(unnamed, 2, 2, 3);
    EXPECT_TRUE(TargaClass().WriteTarga(&unnamed));

    ImgClass wide;  // one pixel wider than the 16-bit width field holds
    MakeImage(wide, 65536, 1, 1);
    SetName(wide, dir.File("wide.tga"));
    EXPECT_TRUE(TargaClass().WriteTarga(&wide));
    EXPECT_FALSE(std::filesystem::exists(dir.File("wide.tga")));

    SetName(unnamed, dir.File("no/such/folder/x.tga"));
    EXPECT_TRUE(TargaClass().WriteTarga(&unnamed));
}

}  // namespace
