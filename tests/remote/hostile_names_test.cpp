// Names offered by the image server that would lead a working copy out of
// the temporary folder, against a real FTP server on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "codecs/hdr.h"
#include "ftp_server.h"
#include "library.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

std::string Text(const std::string& path) {
    const auto bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

class HostileNameTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = work.File("home");
        // Deep enough that a climb out of it still lands inside the test's
        // own folder, where it can be seen.
        temp = work.File("outside/a/b/temp");
        fs::create_directories(fs::path(home) / "Commands");
        // The server's folders that the listed names pass through.
        fs::create_directories(fs::path(home) / "catalog" / "x" / "crop");
        // Anyone may have made the crop folder in a shared temporary folder.
        fs::create_directories(fs::path(temp) / "crop");
        orvix::HdrClass hdr;
        IMAGE_HDR& h = hdr.Header();
        std::strcpy(h.FileName, "/srv/images/escaped.tif");
        h.Type = IMG_TYPE_TIFF;
        h.Width = 1000;
        h.Height = 800;
        h.Samples = 3;
        h.Bits = 8;
        ASSERT_FALSE(hdr.WriteHeader((home + "/escaped.hdr").c_str()));
        WriteText(home + "/escaped.tif", "pixels");
        Set_Temp_Path(temp.c_str());
        server = std::make_unique<FtpServer>(home, "lister", "secret", work.File("log"));
        ASSERT_TRUE(server->Start());
        const std::string info = "plate_03,127.0.0.1:" + std::to_string(server->port()) + ",lister,secret";
        ASSERT_FALSE(Put_Server(info.c_str()));
        Reset_TarnDb();
    }
    void TearDown() override {
        Close_Inet();
        server->Stop();
        Put_Server("plate_00,localhost,ftp_0000,quillfex");
        Set_Temp_Path("/tmp");
    }

    // Files of the test's folder that are not the server's, its logs or in
    // the temporary folder.
    std::vector<std::string> FilesOutside() const {
        std::vector<std::string> stray;
        const std::string tempPrefix = temp + "/";
        const std::string homePrefix = home + "/";
        for (const auto& e : fs::recursive_directory_iterator(work.path())) {
            const std::string p = e.path().string();
            if (e.is_directory() || p.rfind(work.File("log"), 0) == 0) continue;
            if (p.rfind(tempPrefix, 0) != 0 && p.rfind(homePrefix, 0) != 0) stray.push_back(p);
        }
        return stray;
    }

    TempDir work;
    std::string home, temp;
    std::unique_ptr<FtpServer> server;
};

}  // namespace

// The host asks for a crop of, and a working copy of, images in a server
// folder. Names the server lists may hold "\", an ordinary character of a
// file name: they stay plain names inside the temporary folder. Paths the
// host builds with "/" may climb through a crop folder: they fall back to
// their last component or are refused.
TEST_F(HostileNameTest, NamesNeverLeadOutOfTheTemporaryFolder) {
    struct Case {
        std::string name;    // as the host passes it, relative to the catalog
        bool listed;         // a file of that name is on the server
        std::string header;  // where the crop's header lands; "" when refused
        std::string copy;    // where the working copy lands; "" when refused
        std::string copied;  // the working copy's contents
        std::string escape;  // where a climb would have led
    };
    const std::vector<Case> cases = {
        {"x\\crop\\..\\..\\..\\..\\escaped.tif", true,
         temp + "/x\\crop\\..\\..\\..\\..\\escaped.hdr",
         temp + "/x\\crop\\..\\..\\..\\..\\escaped.tif", "listed",
         work.File("outside/escaped.hdr")},
        {"x\\crop\\..\\..\\..", true, temp + "/x\\crop\\..\\..\\..hdr",
         temp + "/x\\crop\\..\\..\\..", "listed", work.File("outside/a/b/..hdr")},
        {"x/crop/../../../../escaped.tif", false, temp + "/escaped.hdr", temp + "/escaped.tif",
         "pixels", work.File("outside/escaped.hdr")},
        // Names the folder above the temporary one; with the header's
        // extension it once named a file there.
        {"x/crop/../../..", false, "", "", "", work.File("outside/a/b/..hdr")},
    };
    // The crop's header comes from the server's top folder under the plain
    // name of the local one.
    const std::string header = Text(home + "/escaped.hdr");
    for (const Case& c : cases) {
        if (!c.listed) continue;
        WriteText(home + "/catalog/" + c.name, "listed");
        WriteText(home + "/" + fs::path(c.header).filename().string(), header);
    }
    WriteText(home + "/..hdr", "header");

    std::vector<char> table(8 * 256, '\0');
    ASSERT_FALSE(GetRemoteDir("catalog", table.data(), 256, 8)) << Get_Last_Error();
    std::vector<std::string> listed;
    for (size_t k = 0; table[k * 256]; ++k) listed.emplace_back(&table[k * 256]);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(std::find(listed.begin(), listed.end(), c.name) != listed.end(), c.listed);
        CRect rect{100, 100, 600, 500};
        const std::string result = GetCropImageRemote(250, &rect, const_cast<char*>(c.name.c_str()), 80);
        const std::string cropWords = Get_Last_Error();
        Post_Error("");
        const std::string local = MakeTemp_FileName(c.name.c_str(), "");
        const std::string nameWords = Get_Last_Error();
        const bool fetchFailed = Get_Remote_File(("catalog/" + c.name).c_str(), local.c_str(), 0);
        const std::string fetchWords = Get_Last_Error();
        if (c.header.empty()) {
            EXPECT_EQ(result, "");
            EXPECT_NE(cropWords.find("GetCropImageRemote: " + c.name + " names no file"),
                      std::string::npos) << cropWords;
            EXPECT_EQ(local, "");
            EXPECT_NE(nameWords.find("MakeTemp_FileName: " + c.name + " names no file"),
                      std::string::npos) << nameWords;
            EXPECT_TRUE(fetchFailed);
            EXPECT_NE(fetchWords, "");
        } else {
            EXPECT_NE(result, "") << cropWords;
            EXPECT_EQ(Text(c.header), header);
            EXPECT_EQ(local, c.copy);
            EXPECT_FALSE(fetchFailed) << fetchWords;
            EXPECT_EQ(Text(c.copy), c.copied);
        }
        EXPECT_FALSE(fs::exists(c.escape));
        EXPECT_EQ(FilesOutside(), std::vector<std::string>{});
    }
}
