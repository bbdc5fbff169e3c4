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

// The host lists a server folder and asks for a crop of, and a working copy
// of, each image listed. The server's file names hold "\", which the library
// takes for a separator, so a name can climb out of the crop folder.
TEST_F(HostileNameTest, ListedNamesNeverLeadOutOfTheTemporaryFolder) {
    struct Case {
        std::string listed;
        std::string header;  // where the crop's header lands; "" when refused
        std::string copy;    // where the working copy lands; "" when refused
        std::string escape;  // where the climb would have led
    };
    const std::vector<Case> cases = {
        {"x\\crop\\..\\..\\..\\..\\escaped.tif", temp + "/escaped.hdr", temp + "/escaped.tif",
         work.File("outside/escaped.hdr")},
        // Names the folder above the temporary one; with the header's
        // extension it once named a file there.
        {"x\\crop\\..\\..\\..", "", "", work.File("outside/a/b/..hdr")},
    };
    for (const Case& c : cases) WriteText(home + "/catalog/" + c.listed, "listed");
    WriteText(home + "/..hdr", "header");

    std::vector<char> table(8 * 256, '\0');
    ASSERT_FALSE(GetRemoteDir("catalog", table.data(), 256, 8)) << Get_Last_Error();
    std::vector<std::string> listed;
    for (size_t k = 0; table[k * 256]; ++k) listed.emplace_back(&table[k * 256]);

    for (const Case& c : cases) {
        SCOPED_TRACE(c.listed);
        ASSERT_NE(std::find(listed.begin(), listed.end(), c.listed), listed.end());
        CRect rect{100, 100, 600, 500};
        const std::string result = GetCropImageRemote(250, &rect, const_cast<char*>(c.listed.c_str()), 80);
        const std::string cropWords = Get_Last_Error();
        Post_Error("");
        const std::string local = MakeTemp_FileName(c.listed.c_str(), "");
        const std::string nameWords = Get_Last_Error();
        const bool fetchFailed = Get_Remote_File(("catalog/" + c.listed).c_str(), local.c_str(), 0);
        const std::string fetchWords = Get_Last_Error();
        if (c.header.empty()) {
            EXPECT_EQ(result, "");
            EXPECT_NE(cropWords.find("GetCropImageRemote: " + c.listed + " names no file"),
                      std::string::npos) << cropWords;
            EXPECT_EQ(local, "");
            EXPECT_NE(nameWords.find("MakeTemp_FileName: " + c.listed + " names no file"),
                      std::string::npos) << nameWords;
            EXPECT_TRUE(fetchFailed);
            EXPECT_NE(fetchWords, "");
        } else {
            EXPECT_NE(result, "") << cropWords;
            EXPECT_TRUE(fs::exists(c.header));
            EXPECT_EQ(local, c.copy);
            EXPECT_FALSE(fetchFailed) << fetchWords;
            EXPECT_EQ(Text(c.copy), "pixels");
        }
        EXPECT_FALSE(fs::exists(c.escape));
        EXPECT_EQ(FilesOutside(), std::vector<std::string>{});
    }
}
