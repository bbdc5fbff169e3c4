// Temporary folder, working-file names and the clean-up of working files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <set>
#include <utility>
#include <string>
#include <vector>

#include "library.h"
#include "support/test_support.h"
#include "utility.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

// Keeps the process-wide temporary folder and TMPDIR as they were.
class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = orvix::Lib().tempPath;
        if (const char* t = std::getenv("TMPDIR")) tmpdir_ = t;
        Post_Error("");
    }
    void TearDown() override {
        orvix::Lib().tempPath = saved_;
        if (tmpdir_) setenv("TMPDIR", tmpdir_->c_str(), 1);
        else unsetenv("TMPDIR");
        Post_Error("");
    }

private:
    std::string saved_;
    std::optional<std::string> tmpdir_;
};

using TempPath = TempFolderTest;

TEST_F(TempPath, ComesFromTmpdirOrTmpWithTrailingSeparator) {
    orvix::Lib().tempPath.clear();
    setenv("TMPDIR", "/var/orvix-scratch", 1);
    EXPECT_STREQ(Get_Temp_Path(), "/var/orvix-scratch/");
    EXPECT_STREQ(Get_Last_Error(), "");

    // Once known, the folder stays until it is set again.
    setenv("TMPDIR", "/elsewhere", 1);
    EXPECT_STREQ(Get_Temp_Path(), "/var/orvix-scratch/");

    orvix::Lib().tempPath.clear();
    unsetenv("TMPDIR");
    EXPECT_STREQ(Get_Temp_Path(), "/tmp/");
    orvix::Lib().tempPath.clear();
    setenv("TMPDIR", "/already/ends/", 1);
    EXPECT_STREQ(Get_Temp_Path(), "/already/ends/");
}

TEST_F(TempPath, SetAddsOneSeparatorWhenMissing) {
    Set_Temp_Path("/data/work");
    EXPECT_STREQ(Get_Temp_Path(), "/data/work/");
    Set_Temp_Path("/data/work/");
    EXPECT_STREQ(Get_Temp_Path(), "/data/work/");
    // A backslash is part of the folder's name, not a separator.
    Set_Temp_Path("C:\\tmp\\");
    EXPECT_STREQ(Get_Temp_Path(), "C:\\tmp\\/");
    Set_Temp_Path("C:\\tmp");
    EXPECT_STREQ(Get_Temp_Path(), "C:\\tmp/");
}

TEST_F(TempPath, FolderTooLongIsRefusedWithMessage) {
    Set_Temp_Path("/data/work");
    const std::string huge = "/" + std::string(ORVIX_MAX_PATH + 100, 'd');
    Set_Temp_Path(huge.c_str());
    EXPECT_STRNE(Get_Last_Error(), "");
    EXPECT_STREQ(Get_Temp_Path(), "/data/work/");
}

using TempName = TempFolderTest;

TEST_F(TempName, FolderPlusBaseNameWithExtensionReplaced) {
    struct Case {
        const char* folder;
        const char* file;
        const char* ext;
        const char* expected;
    };
    const Case cases[] = {
        {"/data/tmp", "/home/u/pics/a.tif", "hdr", "/data/tmp/a.hdr"},
        {"/data/tmp", "/home/u/pics/a.tif", "", "/data/tmp/a.tif"},
        {"/data/tmp", "a.tif", "tnl", "/data/tmp/a.tnl"},
        // Only the last extension is replaced.
        {"/data/tmp", "/p/x.y.tif", "hdr", "/data/tmp/x.y.hdr"},
        // A leading "*" of the name is dropped; one inside the name stays.
        {"/data/tmp", "/p/*a.tif", "hdr", "/data/tmp/a.hdr"},
        {"/data/tmp", "/p/b*a.tif", "hdr", "/data/tmp/b*a.hdr"},
        // A backslash is an ordinary character: the whole text is the name.
        {"/data/tmp", "/p/back\\slash.jpg", "hdr", "/data/tmp/back\\slash.hdr"},
        {"/data/tmp", "D:\\img\\a.tif", "hdr", "/data/tmp/D:\\img\\a.hdr"},
        {"/data/tmp", "D:\\img\\a.tif", "", "/data/tmp/D:\\img\\a.tif"},
        {"/data/tmp", "D:\\img\\*a.tif", "hdr", "/data/tmp/D:\\img\\*a.hdr"},
        {"C:\\tmp", "/p/a.tif", "hdr", "C:\\tmp/a.hdr"},
        {"C:\\tmp\\", "D:\\img\\a.tif", "hdr", "C:\\tmp\\/D:\\img\\a.hdr"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.folder) + " + " + c.file + " ext " + c.ext);
        Set_Temp_Path(c.folder);
        EXPECT_STREQ(MakeTemp_FileName(c.file, c.ext), c.expected);
        EXPECT_STREQ(Get_Last_Error(), "");
    }
    // The result buffer is overwritten by the next call only.
    Set_Temp_Path("/data/tmp");
    const char* first = MakeTemp_FileName("/p/one.tif", "hdr");
    EXPECT_STREQ(first, "/data/tmp/one.hdr");
}

TEST_F(TempName, DotInAFolderNameIsNotAnExtension) {
    Set_Temp_Path("/data/t.mp");
    EXPECT_STREQ(MakeTemp_FileName("/pics.d/raw", "hdr"), "/data/t.mp/raw.hdr");
    EXPECT_STREQ(MakeTemp_FileName("/pics.d/raw", ""), "/data/t.mp/raw");
}

TEST_F(TempName, CropFolderIsKept) {
    Set_Temp_Path("/data/tmp");
    EXPECT_STREQ(MakeTemp_FileName("/home/u/crop/a.tif", "hdr"), "/data/tmp/crop/a.hdr");
    EXPECT_STREQ(MakeTemp_FileName("/home/u/crop/a.tif", ""), "/data/tmp/crop/a.tif");
    EXPECT_STREQ(MakeTemp_FileName("/home/u/crop/sub/a.tif", "hdr"), "/data/tmp/crop/sub/a.hdr");
    // Backslashes neither make a crop folder nor end one.
    EXPECT_STREQ(MakeTemp_FileName("D:\\img\\crop\\a.tif", "hdr"), "/data/tmp/D:\\img\\crop\\a.hdr");
    EXPECT_STREQ(MakeTemp_FileName("/home/u\\crop/a.tif", "hdr"), "/data/tmp/a.hdr");
    EXPECT_STREQ(MakeTemp_FileName("/home/u/crop\\a.tif", "hdr"), "/data/tmp/crop\\a.hdr");
    EXPECT_STREQ(MakeTemp_FileName("/home/u/crop/sub\\a.tif", "hdr"), "/data/tmp/crop/sub\\a.hdr");
    // The first crop folder counts.
    EXPECT_STREQ(MakeTemp_FileName("/x/crop/crop/a.tif", "hdr"), "/data/tmp/crop/crop/a.hdr");
    // Only a folder named exactly "crop" counts.
    EXPECT_STREQ(MakeTemp_FileName("/home/u/cropped/a.tif", "hdr"), "/data/tmp/a.hdr");
    EXPECT_STREQ(MakeTemp_FileName("/home/u/mycrop/a.tif", "hdr"), "/data/tmp/a.hdr");
    EXPECT_STREQ(MakeTemp_FileName("/home/u/crop.tif", "hdr"), "/data/tmp/crop.hdr");
}

// Components of path as the system sees them: split at '/' alone.
std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts(1);
    for (const char c : path) {
        if (c == '/') parts.emplace_back();
        else parts.back() += c;
    }
    return parts;
}

// Names that climb, or name a folder rather than a file, never lead out of
// the temporary folder: they keep their last component or are refused.
// Backslashes climb nowhere: such names stay inside as plain names.
TEST_F(TempName, HostileNamesStayInsideTheTemporaryFolder) {
    Set_Temp_Path("/data/tmp");
    const std::string folder = "/data/tmp/";
    struct Case {
        const char* file;
        const char* ext;
        const char* expected;  // "" when refused
        const char* words;     // the refusal's message
    };
    const char* const kNoFile = "names no file";
    const char* const kNoExt = "is no extension";
    const Case cases[] = {
        {"a/crop/../../x", "", "/data/tmp/x", ""},
        {"a/crop/../../x.tif", "hdr", "/data/tmp/x.hdr", ""},
        {"a\\crop\\..\\..\\..\\..\\x.jpg", "", "/data/tmp/a\\crop\\..\\..\\..\\..\\x.jpg", ""},
        {"..\\..\\x.tif", "hdr", "/data/tmp/..\\..\\x.hdr", ""},
        {"/a/crop/..\\..\\x", "", "/data/tmp/crop/..\\..\\x", ""},
        {"a/crop/b/../../../x", "", "/data/tmp/x", ""},
        {"a/crop/x/../y", "hdr", "/data/tmp/y.hdr", ""},
        {"/x/crop/crop/../a.tif", "hdr", "/data/tmp/a.hdr", ""},
        {"crop/../x", "", "/data/tmp/x", ""},
        {"crop/./x", "", "/data/tmp/x", ""},
        {"a/crop/./x", "", "/data/tmp/x", ""},
        {"a/crop//x", "", "/data/tmp/x", ""},
        {"a/crop/\\etc/x", "", "/data/tmp/crop/\\etc/x", ""},
        {"a/crop/\\/x", "", "/data/tmp/crop/\\/x", ""},
        {"../../x.tif", "hdr", "/data/tmp/x.hdr", ""},
        {"/crop/..", "", "", kNoFile},
        {"/crop/..", "hdr", "", kNoFile},
        {"a/crop/../../..", "hdr", "", kNoFile},
        {"a/crop/.", "", "", kNoFile},
        {"a/crop/", "", "", kNoFile},
        {"a/crop/x/", "hdr", "", kNoFile},
        {"..", "", "", kNoFile},
        {"..", "hdr", "", kNoFile},
        {".", "", "", kNoFile},
        {"a/..", "", "", kNoFile},
        {"a\\..", "", "/data/tmp/a\\..", ""},
        {"a/.", "", "", kNoFile},
        {"*..", "", "", kNoFile},
        {"a/*..", "hdr", "", kNoFile},
        {"a/", "", "", kNoFile},
        {"a\\", "hdr", "/data/tmp/a\\.hdr", ""},
        {"a\\/..", "", "", kNoFile},
        {"", "", "", kNoFile},
        {"", "hdr", "", kNoFile},
        // An extension cannot climb either.
        {"x.tif", "/../../y", "", kNoExt},
        {"x.tif", "\\..", "/data/tmp/x.\\..", ""},
        {".x", ".", "", kNoExt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.file) + " ext " + c.ext);
        Post_Error("");
        const std::string name = MakeTemp_FileName(c.file, c.ext);
        EXPECT_EQ(name, c.expected);
        if (name.empty()) {
            const std::string subject = c.words == kNoFile ? c.file : c.ext;
            EXPECT_EQ(std::string(Get_Last_Error()),
                      "MakeTemp_FileName: " + subject + " " + c.words + "\n");
            continue;
        }
        EXPECT_STREQ(Get_Last_Error(), "");
        EXPECT_EQ(name.rfind(folder, 0), 0u);
        for (const std::string& part : Components(name.substr(folder.size()))) {
            EXPECT_NE(part, "..");
            EXPECT_NE(part, ".");
            EXPECT_NE(part, "");
        }
    }
}

TEST(BaseName, SplitsAtSlashAlone) {
    const std::pair<const char*, const char*> cases[] = {
        {"", ""},
        {"a.tif", "a.tif"},
        {"/x/y/a.tif", "a.tif"},
        {"*a.tif", "a.tif"},
        {"/a/crop/x.jpg", "crop/x.jpg"},
        {"/a/crop/sub/x.jpg", "crop/sub/x.jpg"},
        {"back\\slash.jpg", "back\\slash.jpg"},
        {"/p/back\\slash.jpg", "back\\slash.jpg"},
        {"C:\\x\\y\\a.tif", "C:\\x\\y\\a.tif"},
        {"C:\\x/y\\a.tif", "y\\a.tif"},
        {"D:\\a\\crop\\x.jpg", "D:\\a\\crop\\x.jpg"},
        {"/a/crop/sub\\x.jpg", "crop/sub\\x.jpg"},
        {"x/\\", "\\"},
    };
    for (const auto& [path, base] : cases) EXPECT_EQ(orvix::Utility::BaseName(path), base) << path;
}

TEST(SetExtension, CutsAtTheLastDotOfTheName) {
    struct Case {
        const char* path;
        const char* ext;
        const char* expected;
    };
    const Case cases[] = {
        {"/a/b.c.tif", "hdr", "/a/b.c.hdr"},
        {"/a.d/b", "hdr", "/a.d/b.hdr"},
        {"name", "tnl", "name.tnl"},
        // The dot before a backslash is in the same name.
        {"C:\\a.d\\b", "hdr", "C:\\a.hdr"},
        {"/a.d/b\\c", "hdr", "/a.d/b\\c.hdr"},
    };
    for (const Case& c : cases) {
        std::string p = c.path;
        orvix::Utility::SetExtension(p, c.ext);
        EXPECT_EQ(p, c.expected) << c.path;
    }
}

using CleanupTest = TempFolderTest;

std::set<std::string> Names(const fs::path& dir) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.insert(e.path().filename().string());
    return names;
}

TEST_F(CleanupTest, DeletesFilesWhoseNameContainsAMarker) {
    TempDir dir;
    const std::vector<std::string> doomed = {"a.str", "a.cmd", "a.hd1", "a.sc0", "a.sc1",
                                             "a.map", "a.xmp", "a.sc0.bak", "x.map.tif",
                                             ".str"};
    const std::vector<std::string> kept = {"a.hdr", "a.tnl", "a.tn0", "a.HD1", "a.STR",
                                           "a.tif", "astr", "a_cmd"};
    for (const auto& n : doomed) WriteText(dir.File(n), "x");
    for (const auto& n : kept) WriteText(dir.File(n), "x");
    fs::create_directory(dir.path() / "sub.cmd");  // folders are not working files
    WriteText((dir.path() / "sub.cmd" / "inner.cmd").string(), "x");

    const fs::path cwd = fs::current_path();
    Cleanup((dir.path().string() + "/").c_str());
    EXPECT_EQ(fs::current_path(), cwd);  // the host's working folder is left alone

    std::set<std::string> expected(kept.begin(), kept.end());
    expected.insert("sub.cmd");
    EXPECT_EQ(Names(dir.path()), expected);
    EXPECT_TRUE(fs::exists(dir.path() / "sub.cmd" / "inner.cmd"));
}

TEST_F(CleanupTest, FolderWithoutTrailingSeparatorStillWorks) {
    TempDir dir;
    WriteText(dir.File("b.sc1"), "x");
    WriteText(dir.File("b.hdr"), "x");
    Cleanup(dir.path().string().c_str());
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"b.hdr"});
}

TEST_F(CleanupTest, EmptyFolderMeansTheTemporaryFolder) {
    TempDir dir;
    WriteText(dir.File("c.str"), "x");
    WriteText(dir.File("c.hdr"), "x");
    Set_Temp_Path(dir.path().string().c_str());
    Cleanup("");
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"c.hdr"});
    WriteText(dir.File("d.map"), "x");
    Cleanup(nullptr);
    EXPECT_EQ(Names(dir.path()), std::set<std::string>{"c.hdr"});
}

TEST_F(CleanupTest, MissingFolderIsReported) {
    TempDir dir;
    const fs::path cwd = fs::current_path();
    Post_Error("");
    Cleanup((dir.path() / "nowhere/").string().c_str());
    EXPECT_NE(std::string(Get_Last_Error()).find("Tarn_FTP::RemoveTmpFiles: Cannot open Local Tmp directory"),
              std::string::npos);
    EXPECT_EQ(fs::current_path(), cwd);
}

}  // namespace

// A header asked for a name that names no file fails; it is never taken
// for a ".hdr" of the current folder (one is there, and would count).
TEST(TempHeader, OfANameThatNamesNoFileFails) {
    TempDir dir;
    WriteText(dir.File(".hdr"), "");
    char before[4096];
    ASSERT_NE(getcwd(before, sizeof before), nullptr);
    ASSERT_EQ(chdir(dir.path().c_str()), 0);
    const std::string oldTemp = Get_Temp_Path();
    Set_Temp_Path(dir.File("tmp").c_str());
    for (const char* name : {"a/..", "/crop/..", "."}) {
        EXPECT_TRUE(Make_Local_Header(name, nullptr)) << name;
        EXPECT_NE(std::string(Get_Last_Error()).find("names no file"), std::string::npos) << name;
    }
    Set_Temp_Path(oldTemp.c_str());
    ASSERT_EQ(chdir(before), 0);
}
