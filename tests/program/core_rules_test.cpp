// The rules below the dialog: the processor file, working-file clean-up,
// path and output names, the list order, the image cache and the queue of
// background loads.
#include "support/test_support.h"

#include "app_settings.h"
#include "controls.h"
#include "image_cache.h"
#include "naming.h"
#include "scale_dialog.h"
#include "selection.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace tolvane;
using testing_support::TempDir;
using testing_support::WriteText;
namespace fs = std::filesystem;

std::vector<std::string> NamesIn(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(CoreRules, ProcessorFile) {
    TempDir dir;
    const std::string tool = dir.File("convert-raw");
    WriteText(tool, "");
    const std::string settings = dir.File("DCR_Img_Processor.txt");
    // "@" stands for the existing tool's path.
    const std::pair<std::string, std::string> rows[] = {
        {"#comment\n  none  \n", ""}, {"# one\n# two\nNoNe", ""}, {"#only comments\n", ""}, {"", ""},
        {"\n@\n", ""},  // a blank line ends the search
        {"@", "@"}, {"#c\n  @  \n#later\n", "@"}, {"\t@\r\n", "@"},
    };
    for (const auto& [content, expected] : rows) {
        std::string text = content;
        if (const size_t at = text.find('@'); at != std::string::npos) text.replace(at, 1, tool);
        WriteText(settings, text);
        EXPECT_EQ(ReadProcessorFile(settings), expected == "@" ? tool : expected) << content;
    }
    EXPECT_EQ(ReadProcessorFile(dir.File("missing.txt")), "");
}

TEST(CoreRules, DeleteWorkingFiles) {
    const std::vector<std::string> files = {"x.hdr", "y.tnl", "abc.sc0.bak", "photo.jpg", "z.TNL", "q.tn0"};
    struct Row { const char* name; std::vector<std::string> kept; };
    const Row rows[] = {
        {"", {"photo.jpg", "z.TNL"}},
        {".tnl", {"abc.sc0.bak", "photo.jpg", "q.tn0", "x.hdr", "z.TNL"}},
    };
    char before[4096];
    ASSERT_TRUE(getcwd(before, sizeof before));
    for (const Row& r : rows) {
        TempDir dir;
        for (const std::string& f : files) WriteText(dir.File(f), "w");
        fs::create_directory(dir.File("sub.hdr.d"));
        WriteText(dir.File("sub.hdr.d/inner.hdr"), "w");  // another folder's files are not touched
        DeleteWorkingFiles(dir.path().string() + "/", r.name);
        std::vector<std::string> kept = r.kept;
        kept.push_back("sub.hdr.d");
        std::sort(kept.begin(), kept.end());
        EXPECT_EQ(NamesIn(dir.path()), kept) << "name \"" << r.name << "\"";
        EXPECT_TRUE(fs::exists(dir.File("sub.hdr.d/inner.hdr")));
        char after[4096];
        ASSERT_TRUE(getcwd(after, sizeof after));
        EXPECT_STREQ(after, before);
    }
}

TEST(CoreRules, PathNames) {
    const std::pair<const char*, const char*> nameParts[] = {
        // "\\" is part of a name.
        {"C:\\img\\a.tif", "C:\\img\\a.tif"}, {"/home/u/b.jpg", "b.jpg"},
        {"dir\\sub/c.bmp", "c.bmp"},       {"plain.tif", "plain.tif"},
        {"", ""},                          {"/a/b/", ""},
        // A folder named "crop" is a folder like any other.
        {"/x/crop/y.tif", "y.tif"},        {"/a/crop/b/crop/c.tif", "c.tif"},
    };
    for (const auto& [path, part] : nameParts) EXPECT_EQ(FileNamePart(path), part) << path;

    const std::pair<const char*, const char*> extensions[] = {
        {"a.tif", "a.jpg"},     {"/d/x.y.tif", "/d/x.y.jpg"},  {"a.", "a.jpg"},  {"scan", "scan.jpg"},
        {"/my.photos/scan", "/my.photos/scan.jpg"},  {"/d/my.dir\\scan", "/d/my.jpg"},  {"", ""},
    };
    for (const auto& [path, replaced] : extensions) EXPECT_EQ(ReplaceExtension(path, "jpg"), replaced) << path;

    EXPECT_EQ(OutputNameFor("/o/", 7, "x.tif"), "/o/A007_x.tif");
    EXPECT_EQ(OutputNameFor("/o/", 1234, "x.tif"), "/o/A1234_x.tif");
    EXPECT_EQ(HeaderPathFor("/tmp/w/", "/p/photo.tif"), "/tmp/w/photo.hdr");
    EXPECT_EQ(HeaderPathFor("/tmp/w/", "/p/back\\slash.tif"), "/tmp/w/back\\slash.hdr");
}

TEST(CoreRules, UniqueNames) {
    TempDir dir;
    // In a folder named "crop": only the file's own letter is stepped.
    fs::create_directory(dir.File("crop"));
    const std::string a = dir.File("crop/A000_x.jpg");
    const auto named = [&](char c) { return dir.File("crop/" + (c + std::string("000_x.jpg"))); };
    EXPECT_EQ(MakeUniqueName(a), a);
    // A dangling link takes its name as a file does.
    fs::create_symlink(dir.File("nowhere.jpg"), a);
    EXPECT_EQ(MakeUniqueName(a), named('B'));
    WriteText(named('C'), "");
    EXPECT_EQ(MakeUniqueName(a), named('B'));  // the first free letter, not the next after the last
    for (char c = 'A'; c < 'Z'; ++c) WriteText(named(c), "");
    EXPECT_EQ(MakeUniqueName(a), named('Z'));
    WriteText(named('Z'), "");
    // Every letter taken: the last candidate although it exists.
    EXPECT_EQ(MakeUniqueName(a), named('Z'));
}

// "All Images" comes first and offers exactly what the format entries
// offer, so every readable name is shown without picking a format.
TEST(CoreRules, OpenFileFilterStartsWithAllImages) {
    const std::vector<FileFilter> entries = ParseFileFilter(ScaleDialogModel::kFileFilter);
    ASSERT_GE(entries.size(), 3u);
    EXPECT_EQ(entries[0].label.rfind("All Images (", 0), 0u) << entries[0].label;
    EXPECT_EQ(entries[1].label, "TIFF Files (*.TIF;*.tif;*.TIFF;*.tiff)");
    EXPECT_EQ(entries.back().patterns, std::vector<std::string>{"*.*"});
    std::vector<std::string> offered;
    for (size_t k = 1; k + 1 < entries.size(); ++k)
        offered.insert(offered.end(), entries[k].patterns.begin(), entries[k].patterns.end());
    EXPECT_EQ(entries[0].patterns, offered);
    for (const char* ext : {"tif", "TIF", "tiff", "TIFF", "jpg", "JPEG", "bmp", "BMP", "dcr", "Dcr", "tga", "TGA",
                            "png", "PNG", "webp", "WEBP", "heic", "HEIC", "heif", "avif", "AVIF"})
        EXPECT_NE(std::find(offered.begin(), offered.end(), std::string("*.") + ext), offered.end()) << ext;
    // A folder lists by the same entries: "All Images" adds no name of its own.
    const std::pair<const char*, bool> names[] = {{"a.TIFF", true}, {"b.jpeg", true}, {"c.Dcr", true},
                                                  {"d.txt", false}, {"e.Tif", false}, {"tif", false},
                                                  {"f.PNG", true}, {"g.webp", true}, {"h.AVIF", true}, {"i.Heic", false}};
    for (const auto& [name, offers] : names) EXPECT_EQ(ImageFilterOffers(name), offers) << name;
}

TEST(CoreRules, ListOrderIgnoresCase) {
    EXPECT_TRUE(ListBoxLess("apple", "Banana"));
    EXPECT_FALSE(ListBoxLess("B", "a"));
    EXPECT_TRUE(ListBoxLess("abc", "ABCD"));
    EXPECT_FALSE(ListBoxLess("ABC", "abc") || ListBoxLess("abc", "ABC"));

    FileList list;
    list.Add("b.tif");
    list.Select(0);
    for (const char* n : {"A.tif", "c.TIF", "a.tif", "B2.tif"}) list.Add(n);
    EXPECT_EQ(list.Items(), (std::vector<std::string>{"A.tif", "a.tif", "b.tif", "B2.tif", "c.TIF"}));
    EXPECT_EQ(list.Text(list.Selected()), "b.tif");  // the selection follows its item
    list.Delete(0);
    EXPECT_EQ(list.Text(list.Selected()), "b.tif");
    list.Select(9);
    EXPECT_EQ(list.Selected(), -1);
}

// Gives img rows of width bytes (width a multiple of 4): height x width bytes.
void Fill(ImgClass* img, uint32_t width, uint32_t height) {
    ASSERT_NE(img, nullptr);
    testing_support::MakeImage(*img, width, height, 1);
}

TEST(CoreRules, ImageCacheFindAddRemove) {
    ImageCache cache;
    EXPECT_EQ(cache.Add(""), nullptr);
    for (const char* n : {"/p/a.tif", "/p/b.tif", "/p/c.tif"}) ASSERT_NE(cache.Add(n), nullptr);
    ImgClass* b = cache.Find("/p/b.tif");
    ASSERT_NE(b, nullptr);
    EXPECT_STREQ(b->ImgStruct.FileName, "/p/b.tif");
    EXPECT_EQ(cache.FindOrAdd("/p/b.tif"), b);
    EXPECT_EQ(cache.Find("/p/B.tif"), nullptr);  // exact comparison
    EXPECT_EQ(cache.Find(""), nullptr);

    EXPECT_TRUE(cache.Remove(1));
    EXPECT_EQ(cache.Count(), 2);
    EXPECT_EQ(cache.IndexOf("/p/c.tif"), 1);  // moved down
    EXPECT_EQ(cache.IndexOf("/p/b.tif"), -1);
    for (int slot : {-1, 2, 1023, 1024}) EXPECT_FALSE(cache.Remove(slot)) << slot;
    cache.Add("/p/d.tif");
    EXPECT_EQ(cache.IndexOf("/p/d.tif"), 2);
}

TEST(CoreRules, ImageCacheEvictsLargestAndHonoursBudget) {
    ImageCache cache;
    cache.Add("empty");  // holds no pixels: never chosen
    Fill(cache.Add("small"), 4, 25);    // 100 bytes
    Fill(cache.Add("large"), 12, 75);   // 900 bytes
    Fill(cache.Add("middle"), 8, 50);   // 400 bytes
    Fill(cache.Add("large2"), 12, 75);  // as large: the first of equal ones goes
    EXPECT_TRUE(cache.EvictLargest());
    EXPECT_EQ(cache.IndexOf("large"), -1);
    EXPECT_TRUE(cache.EvictLargest(cache.Find("large2")));
    EXPECT_EQ(cache.IndexOf("middle"), -1);
    cache.MakeRoom(1u << 30);  // budget 0 bounds nothing
    EXPECT_EQ(cache.PixelBytes(), 1000u);

    cache.SetBudget(1000);
    Fill(cache.Add("middle"), 8, 50);
    cache.MakeRoom(0);  // 1400 held: the largest goes
    EXPECT_EQ(cache.IndexOf("large2"), -1);
    EXPECT_EQ(cache.PixelBytes(), 500u);
    cache.MakeRoom(600);
    EXPECT_EQ(cache.IndexOf("middle"), -1);
    cache.MakeRoom(5000, cache.Find("small"));  // nothing else can go
    EXPECT_EQ(cache.Count(), 2);
    EXPECT_EQ(cache.PixelBytes(), 100u);
}

TEST(CoreRules, FullImageCacheDropsLeastRecentlyUsed) {
    ImageCache cache;
    for (int i = 0; i < ImageCache::kSlots; ++i) ASSERT_NE(cache.Add("n" + std::to_string(i)), nullptr);
    cache.Find("n0");  // now n1 is the one used longest ago
    ImgClass* added = cache.Add("new");
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(cache.Count(), ImageCache::kSlots);
    EXPECT_EQ(cache.IndexOf("n1"), -1);
    EXPECT_NE(cache.IndexOf("n0"), -1);
    EXPECT_EQ(cache.Find("new"), added);
    cache.Add("newer");
    EXPECT_EQ(cache.IndexOf("n2"), -1);
}

TEST(CoreRules, PendingLoads) {
    PendingLoads q;
    q.Add("");
    q.Add("a");
    q.Add("b");
    q.Add("a");  // already queued
    q.Remove("b");
    q.Remove("a");
    EXPECT_EQ(q.First(), "");
    q.Add("a");
    q.Add("b");
    q.Remove("a");
    q.Add("c");  // into the empty slot before "b"
    EXPECT_EQ(q.First(), "c");
    q.Remove("c");
    q.Add("b");  // an empty slot met before the equal name takes it again
    q.Remove("b");
    EXPECT_EQ(q.First(), "b");
    q.ClearFirst();
    q.Remove("b");
    EXPECT_EQ(q.First(), "");

    for (int i = 0; i < PendingLoads::kSlots; ++i) q.Add("p" + std::to_string(i));
    q.Add("overflow");  // a full queue ignores it
    EXPECT_EQ(q.First(), "p0");
    for (int i = 0; i < PendingLoads::kSlots; ++i) q.Remove("p" + std::to_string(i));
    EXPECT_EQ(q.First(), "");
}

}  // namespace
