// Outputs are created, never replaced: what stands at an output's name is
// left as it was, leftovers of dead processes go and live ones stay, and the
// memory the cache may use follows the control group's limit.
#include "support/test_support.h"

#include "output_file.h"
#include "platform.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace {

using namespace tolvane;
using testing_support::TempDir;
using testing_support::WriteText;
namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Whatever stands at the first name (and at B when asked) is left alone;
// the output goes to the first free letter.
TEST(OutputFile, NamesTakenByAnythingAreLeftAlone) {
    enum class Kind { Nothing, File, DanglingLink, LinkToFile, Folder };
    const struct {
        const char* what;
        Kind atA, atB;
        const char* expected;
    } rows[] = {
        {"a free name", Kind::Nothing, Kind::Nothing, "A000_x.tif"},
        {"an earlier output", Kind::File, Kind::Nothing, "B000_x.tif"},
        {"a dangling link", Kind::DanglingLink, Kind::Nothing, "B000_x.tif"},
        {"a link to a file", Kind::LinkToFile, Kind::Nothing, "B000_x.tif"},
        {"a folder", Kind::Folder, Kind::Nothing, "B000_x.tif"},
        {"a folder, then a dangling link", Kind::Folder, Kind::DanglingLink, "C000_x.tif"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TempDir dir;
        fs::create_directory(dir.File("out"));
        WriteText(dir.File("victim.tif"), "victim");
        const auto plant = [&](Kind kind, const std::string& name) {
            const std::string path = dir.File("out/" + name);
            switch (kind) {
            case Kind::Nothing: break;
            case Kind::File: WriteText(path, "earlier"); break;
            case Kind::DanglingLink: fs::create_symlink(dir.File("victim-new.tif"), path); break;
            case Kind::LinkToFile: fs::create_symlink(dir.File("victim.tif"), path); break;
            case Kind::Folder: fs::create_directory(path); break;
            }
        };
        plant(row.atA, "A000_x.tif");
        plant(row.atB, "B000_x.tif");

        PendingOutput pending;
        ASSERT_EQ(pending.Create(dir.File("out/A000_x.tif")), "");
        WriteText(pending.Path(), "new output");
        std::string name = dir.File("out/A000_x.tif"), words;
        ASSERT_TRUE(pending.Commit(name, words)) << words;
        EXPECT_EQ(name, dir.File(std::string("out/") + row.expected));
        EXPECT_EQ(ReadAll(name), "new output");
        EXPECT_TRUE(pending.Path().empty());
        EXPECT_EQ(ReadAll(dir.File("victim.tif")), "victim");
        EXPECT_FALSE(fs::exists(dir.File("victim-new.tif")));
        if (row.atA == Kind::File) {
            EXPECT_EQ(ReadAll(dir.File("out/A000_x.tif")), "earlier");
        }
        // Nothing but the planted names and the output.
        int entries = 0;
        for (const auto& e : fs::directory_iterator(dir.File("out"))) {
            EXPECT_EQ(e.path().filename().string().rfind(kPartialPrefix, 0), std::string::npos) << e.path();
            ++entries;
        }
        EXPECT_EQ(entries, 1 + (row.atA != Kind::Nothing) + (row.atB != Kind::Nothing));
    }
}

TEST(OutputFile, EveryLetterTakenFailsAndLeavesNoTemporaryFile) {
    TempDir dir;
    for (char c = 'A'; c <= 'Z'; ++c) WriteText(dir.File(std::string(1, c) + "000_x.tif"), "earlier");
    PendingOutput pending;
    ASSERT_EQ(pending.Create(dir.File("A000_x.tif")), "");
    const std::string temporary = pending.Path();
    std::string name = dir.File("A000_x.tif"), words;
    EXPECT_FALSE(pending.Commit(name, words));
    EXPECT_EQ(words, "no free output name");
    EXPECT_FALSE(fs::exists(temporary));
    // A folder that does not exist: the system's words.
    EXPECT_EQ(pending.Create(dir.File("gone/A000_x.tif")), "No such file or directory");
}

// A dead process's partial output and working folder go; a live one's, and
// anything not carrying this host's tag, stay.
TEST(OutputFile, LeftoversOfDeadProcessesOnlyAreRemoved) {
    TempDir dir;
    const pid_t child = fork();
    if (child == 0) _exit(0);
    ASSERT_GT(child, 0);
    waitpid(child, nullptr, 0);
    const std::string host = platform::HostName();
    const std::string dead = std::to_string(child), live = std::to_string(getpid());
    const std::string deadFile = std::string(kPartialPrefix) + host + "-" + dead + "-1.tif";
    const std::string liveFile = std::string(kPartialPrefix) + host + "-" + live + "-1.tif";
    const std::string otherHost = std::string(kPartialPrefix) + host + "x-" + dead + "-1.tif";
    // Host "<host>-<dead>" with a live process: never read as this host's <dead>.
    const std::string hyphenHost = std::string(kPartialPrefix) + host + "-" + dead + "-" + live + "-1.tif";
    const std::string hyphenFolder = "tolvane-" + host + "-" + dead + "-" + live + "-abcdef";
    const std::string deadFolder = "tolvane-" + host + "-" + dead + "-abc";
    for (const std::string& f : {deadFile, liveFile, otherHost, hyphenHost, std::string("A000_x.tif")})
        WriteText(dir.File(f), "");
    fs::create_directories(dir.File(deadFolder + "/inner"));
    fs::create_directories(dir.File(hyphenFolder + "/inner"));

    EXPECT_EQ(RemoveLeftovers(dir.path(), kPartialPrefix), 1);
    EXPECT_EQ(RemoveLeftovers(dir.path(), "tolvane-"), 1);
    EXPECT_FALSE(fs::exists(dir.File(deadFile)));
    EXPECT_FALSE(fs::exists(dir.File(deadFolder)));
    for (const std::string& f : {liveFile, otherHost, hyphenHost, hyphenFolder, std::string("A000_x.tif")})
        EXPECT_TRUE(fs::exists(dir.File(f))) << f;
}

TEST(OutputFile, ControlGroupLimitIsTheSmallestOnTheWayUp) {
    TempDir dir;
    const auto limit = [&](const std::string& path, const std::string& value) {
        fs::create_directories(dir.File(path));
        WriteText(dir.File(path) + "/" + (path.rfind("memory", 0) == 0 ? "memory.limit_in_bytes" : "memory.max"),
                  value + "\n");
    };
    limit("a", "1000");
    limit("a/b", "max");
    limit("c", "5000");
    limit("c/d", "3000");
    limit("memory", "9223372036854771712");  // v1's "no limit"
    limit("memory/x", "2000");
    const struct {
        const char* cgroup;
        uint64_t expected;
    } rows[] = {
        {"0::/a/b\n", 1000},  {"0::/c/d\n", 3000}, {"0::/\n", 0},         {"0::/none\n", 0},
        {"4:memory:/x\n", 2000}, {"4:cpu,memory:/x\n", 2000}, {"4:memory:/\n", 0}, {"4:cpu:/x\n", 0},
        {"4:memory:/x\n0::/a/b\n", 1000}, {"", 0},
    };
    for (const auto& row : rows)
        EXPECT_EQ(platform::ControlGroupLimit(row.cgroup, dir.path()), row.expected) << row.cgroup;
}

}  // namespace
