// Type detection by first bytes, the file search and the line tokenizer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "library.h"
#include "support/test_support.h"
#include "utility.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

int TypeOfBytes(const TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir.File(name);
    WriteBytes(path, bytes);
    return Get_File_Type(path.c_str());
}

TEST(FileType, DecidedByTheFirstBytes) {
    TempDir dir;
    EXPECT_EQ(TypeOfBytes(dir, "a", {'B', 'M', 0, 0}), IMG_TYPE_BMP);
    EXPECT_EQ(TypeOfBytes(dir, "b", {'b', 'm'}), IMG_TYPE_BMP);
    EXPECT_EQ(TypeOfBytes(dir, "c", {'B', 'm'}), IMG_TYPE_BMP);
    EXPECT_EQ(TypeOfBytes(dir, "d", {'B', 'A'}), IMG_TYPE_UNKNOWN);
    EXPECT_EQ(TypeOfBytes(dir, "e", {'P', '6', '\n'}), IMG_TYPE_PPM);
    EXPECT_EQ(TypeOfBytes(dir, "f", {'p', '6'}), IMG_TYPE_PPM);
    EXPECT_EQ(TypeOfBytes(dir, "g", {'P', '5', '\n'}), IMG_TYPE_PGM);
    EXPECT_EQ(TypeOfBytes(dir, "h", {'p', '5'}), IMG_TYPE_PGM);
    EXPECT_EQ(TypeOfBytes(dir, "i", {'P', '3', '\n'}), IMG_TYPE_UNKNOWN);
    EXPECT_EQ(TypeOfBytes(dir, "j", {'P', '2'}), IMG_TYPE_UNKNOWN);
    EXPECT_EQ(TypeOfBytes(dir, "k", {0, 0, 2, 0}), IMG_TYPE_TARGA);
    EXPECT_EQ(TypeOfBytes(dir, "l", {0, 1, 2}), IMG_TYPE_UNKNOWN);
    EXPECT_EQ(TypeOfBytes(dir, "m", {0xFF, 0xD8, 0xFF, 0xE0}), IMG_TYPE_JPEG);
    EXPECT_EQ(TypeOfBytes(dir, "n", {0xFF, 0xD8, 0x00}), IMG_TYPE_UNKNOWN);
    EXPECT_EQ(TypeOfBytes(dir, "o", {0xFF, 0xD9, 0xFF}), IMG_TYPE_UNKNOWN);
    EXPECT_EQ(TypeOfBytes(dir, "p", {'G', 'I', 'F', '8'}), IMG_TYPE_UNKNOWN);
    EXPECT_EQ(TypeOfBytes(dir, "q", {'x'}), IMG_TYPE_UNKNOWN);
}

TEST(FileType, ShortAndEmptyFilesAreUnknown) {
    TempDir dir;
    EXPECT_EQ(TypeOfBytes(dir, "empty", {}), IMG_TYPE_UNKNOWN);
    EXPECT_EQ(TypeOfBytes(dir, "p", {'P'}), IMG_TYPE_UNKNOWN);
    EXPECT_EQ(TypeOfBytes(dir, "b", {'B'}), IMG_TYPE_UNKNOWN);
    EXPECT_EQ(TypeOfBytes(dir, "z", {0}), IMG_TYPE_UNKNOWN);
    EXPECT_EQ(TypeOfBytes(dir, "j2", {0xFF, 0xD8}), IMG_TYPE_UNKNOWN);
}

TEST(FileType, MissingOrUnnamedFilesAreUnknown) {
    TempDir dir;
    EXPECT_EQ(Get_File_Type(dir.File("missing.pgm").c_str()), IMG_TYPE_UNKNOWN);
    EXPECT_EQ(Get_File_Type(""), IMG_TYPE_UNKNOWN);
    EXPECT_EQ(Get_File_Type(nullptr), IMG_TYPE_UNKNOWN);
    // A folder is not an image.
    EXPECT_EQ(Get_File_Type(dir.path().string().c_str()), IMG_TYPE_UNKNOWN);
}

// A Targa file with a colour map or an identifier starts with no signature:
// a ".tga" name and a valid header make it one.
TEST(FileType, TargaWithoutSignatureByNameAndHeader) {
    TempDir dir;
    std::vector<uint8_t> palette = {0, 1, 1, 0, 0, 4, 0, 24, 0, 0, 0, 0, 4, 0, 2, 0, 8, 0};
    for (int k = 0; k < 12; ++k) palette.push_back(uint8_t(k * 20));
    for (uint8_t i : {0, 1, 2, 3, 3, 2, 1, 0}) palette.push_back(i);
    std::vector<uint8_t> identified = {5, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1, 0, 1, 0, 24, 0, 'n', 'a', 'm', 'e', 's', 1, 2, 3};
    EXPECT_EQ(TypeOfBytes(dir, "palette.tga", palette), IMG_TYPE_TARGA);
    EXPECT_EQ(TypeOfBytes(dir, "PALETTE.TGA", palette), IMG_TYPE_TARGA);
    EXPECT_EQ(TypeOfBytes(dir, "identified.tga", identified), IMG_TYPE_TARGA);
    EXPECT_EQ(TypeOfBytes(dir, "palette.bin", palette), IMG_TYPE_UNKNOWN);
    std::vector<uint8_t> cut(palette.begin(), palette.begin() + 10);
    EXPECT_EQ(TypeOfBytes(dir, "cut.tga", cut), IMG_TYPE_UNKNOWN);
}

// PNG, WebP and HEIF containers by their signatures; an ISO media file
// only when its type box names an image brand, as major or compatible brand.
TEST(FileType, PngWebpAndHeifBySignature) {
    const auto ftyp = [](const std::string& major, const std::vector<std::string>& compatible) {
        std::vector<uint8_t> b = {0, 0, 0, uint8_t(16 + 4 * compatible.size()), 'f', 't', 'y', 'p'};
        b.insert(b.end(), major.begin(), major.end());
        b.insert(b.end(), {0, 0, 0, 0});
        for (const std::string& c : compatible) b.insert(b.end(), c.begin(), c.end());
        // The next box, whose name must not count as a brand.
        b.insert(b.end(), {0, 0, 0, 8, 'h', 'e', 'i', 'c'});
        return b;
    };
    const struct {
        const char* name;
        std::vector<uint8_t> bytes;
        int type;
    } cases[] = {
        {"png", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13}, IMG_TYPE_PNG},
        {"png with a damaged signature", {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, 0}, IMG_TYPE_UNKNOWN},
        {"png cut inside its signature", {0x89, 'P', 'N', 'G'}, IMG_TYPE_UNKNOWN},
        {"webp", {'R', 'I', 'F', 'F', 9, 0, 0, 0, 'W', 'E', 'B', 'P', 'V', 'P', '8', ' '}, IMG_TYPE_WEBP},
        {"riff audio", {'R', 'I', 'F', 'F', 9, 0, 0, 0, 'W', 'A', 'V', 'E'}, IMG_TYPE_UNKNOWN},
        {"heic", ftyp("heic", {"mif1", "heic"}), IMG_TYPE_HEIF},
        {"heix", ftyp("heix", {}), IMG_TYPE_HEIF},
        {"avif", ftyp("avif", {"mif1", "miaf"}), IMG_TYPE_HEIF},
        {"avif sequence", ftyp("avis", {}), IMG_TYPE_HEIF},
        {"image brand only compatible", ftyp("miaf", {"isom", "mif1"}), IMG_TYPE_HEIF},
        {"sequence brand only compatible", ftyp("3gp4", {"msf1"}), IMG_TYPE_HEIF},
        {"mp4 video", ftyp("isom", {"iso2", "mp41"}), IMG_TYPE_TARGA},  // two zero bytes lead
        {"quicktime", ftyp("qt  ", {"qt  "}), IMG_TYPE_TARGA},
    };
    TempDir dir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(TypeOfBytes(dir, "f", c.bytes), c.type);
    }
}

TEST(FileType, RawCameraFilesAreKnownByNameAlone) {
    TempDir dir;
    EXPECT_EQ(Get_File_Type(dir.File("missing.dcr").c_str()), IMG_TYPE_RAW);
    EXPECT_EQ(Get_File_Type(dir.File("MISSING.DCR").c_str()), IMG_TYPE_RAW);
    EXPECT_EQ(Get_File_Type(dir.File("shot.DcR").c_str()), IMG_TYPE_RAW);
    // The name wins over the contents.
    EXPECT_EQ(TypeOfBytes(dir, "grey.dcr", {'P', '5', '\n'}), IMG_TYPE_RAW);
    EXPECT_EQ(TypeOfBytes(dir, "grey.dc", {'P', '5', '\n'}), IMG_TYPE_PGM);
    // Only the last extension counts.
    EXPECT_EQ(TypeOfBytes(dir, "x.dcr.pgm", {'P', '5', '\n'}), IMG_TYPE_PGM);
    EXPECT_EQ(Get_File_Type(dir.File("photos.DCR.archive").c_str()), IMG_TYPE_UNKNOWN);
    EXPECT_EQ(Get_File_Type(dir.File("raw.dcr/x").c_str()), IMG_TYPE_UNKNOWN);
}

TEST(FileType, PostsNothingOfItsOwn) {
    TempDir dir;
    Post_Error("");
    TypeOfBytes(dir, "x", {'Q', 'Q'});
    Get_File_Type(dir.File("missing").c_str());
    EXPECT_STREQ(Get_Last_Error(), "");
}

// A folder straight below /tmp, removed afterwards.
class ShallowTree {
public:
    ShallowTree() {
        char tmpl[] = "/tmp/orvix_find_XXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
        root_ = tmpl;
    }
    ~ShallowTree() {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
    const fs::path& root() const { return root_; }

private:
    fs::path root_;
};

std::string UniqueName(const char* stem) {
    std::random_device rd;
    return std::string(stem) + std::to_string(getpid()) + "_" + std::to_string(rd()) + "_" +
           std::to_string(rd()) + ".marker";
}

TEST(FindFile, FindsAFileInAFolderTreeBelowTheRoot) {
    ShallowTree tree;
    const std::string name = UniqueName("orvix_wanted_");
    fs::create_directories(tree.root() / "a" / "b" / "c");
    fs::create_directories(tree.root() / "empty");
    const fs::path file = tree.root() / "a" / "b" / "c" / name;
    WriteText(file.string(), "x");
    // A backslash is part of a file's name.
    const std::string backName = "scan\\" + UniqueName("orvix_back_");
    fs::create_directories(tree.root() / "d");
    const fs::path backFile = tree.root() / "d" / backName;
    WriteText(backFile.string(), "x");

    // Only the base name of the asked path counts; its folders may not exist.
    EXPECT_EQ(std::string(Find_File(("/no/such/folder/" + name).c_str())), file.string());
    EXPECT_EQ(std::string(Find_File(("/Programs/Nowhere/" + backName).c_str())), backFile.string());
}

TEST(FindFile, ReportsThePathOfAFileWhoseNameContainsTheTarget) {
    // The path returned is one that exists, not folder + the asked name.
    ShallowTree tree;
    const std::string part = UniqueName("orvix_part_");
    fs::create_directories(tree.root() / "x");
    const fs::path file = tree.root() / "x" / ("old_" + part + ".bak");
    WriteText(file.string(), "x");
    EXPECT_EQ(std::string(Find_File(part.c_str())), file.string());
}

TEST(FindFile, FollowsNoSymbolicLinksAndSkipsDeviceFolders) {
    // The only copy lies below /dev (never walked) and is linked from /tmp
    // (links are not followed): the walk covers everything else and ends empty.
    if (!fs::is_directory("/dev/shm")) GTEST_SKIP() << "no /dev/shm";
    char hidden[] = "/dev/shm/orvix_hidden_XXXXXX";
    if (!mkdtemp(hidden)) GTEST_SKIP() << "/dev/shm is not writable";
    struct Remove {
        fs::path p;
        ~Remove() {
            std::error_code ec;
            fs::remove_all(p, ec);
        }
    } removeHidden{hidden};
    const std::string name = UniqueName("orvix_linked_");
    WriteText((fs::path(hidden) / name).string(), "x");
    ShallowTree tree;
    fs::create_directory_symlink(hidden, tree.root() / "link");
    ASSERT_TRUE(fs::exists(tree.root() / "link" / name));

    EXPECT_STREQ(Find_File(name.c_str()), "");
}

TEST(FindFile, AnEmptyNameFindsNothing) {
    EXPECT_STREQ(Find_File(""), "");
    EXPECT_STREQ(Find_File(nullptr), "");
}

TEST(Tokenize, SplitsAtDelimiterRunsAndKeepsQuotedRuns) {
    orvix::Utility& u = *orvix::Lib().utility;
    u.Tokenize("  640   480 ", " ");
    EXPECT_EQ(u.Token(0), "640");
    EXPECT_EQ(u.Token(1), "480");
    EXPECT_EQ(u.Token(2), "");
    EXPECT_EQ(u.Token(-1), "");

    u.Tokenize("a \"b c\" d", " ");
    EXPECT_EQ(u.Token(0), "a");
    EXPECT_EQ(u.Token(1), "b c");
    EXPECT_EQ(u.Token(2), "d");

    u.Tokenize("x,y;;z", ",;");
    EXPECT_EQ(u.Token(0), "x");
    EXPECT_EQ(u.Token(1), "y");
    EXPECT_EQ(u.Token(2), "z");

    // A new split forgets the old tokens.
    u.Tokenize("only", " ");
    EXPECT_EQ(u.Token(0), "only");
    EXPECT_EQ(u.Token(1), "");
    u.Tokenize("", " ");
    EXPECT_EQ(u.Token(0), "");
}

TEST(Tokenize, KeepsAtMost32TokensOf127Characters) {
    orvix::Utility& u = *orvix::Lib().utility;
    std::string line;
    for (int i = 0; i < 40; ++i) line += "t" + std::to_string(i) + " ";
    u.Tokenize(line, " ");
    EXPECT_EQ(u.Token(31), "t31");
    EXPECT_EQ(u.Token(32), "");

    u.Tokenize(std::string(300, 'w') + " next", " ");
    EXPECT_EQ(u.Token(0), std::string(127, 'w'));
    EXPECT_EQ(u.Token(1), "next");
}

}  // namespace
