// Zoom and crop requests sent to a real FTP server as command files.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <regex>

#include "codecs/hdr.h"
#include "ftp_server.h"
#include "library.h"
#include "remote/command_file.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using namespace testing_support;

namespace {

std::string Text(const std::string& path) {
    const auto bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

class RemoteZoomTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = work.File("home");
        temp = work.File("temp");
        local = work.File("local");
        fs::create_directories(fs::path(home) / "Commands");
        fs::create_directories(temp);
        fs::create_directories(local);
        // The server holds the image's header file; the client has none.
        orvix::HdrClass hdr;
        IMAGE_HDR& h = hdr.Header();
        std::strcpy(h.FileName, "/srv/images/scan.tif");
        h.Type = IMG_TYPE_TIFF;
        h.Width = 1000;
        h.Height = 800;
        h.Samples = 3;
        h.Bits = 8;
        ASSERT_FALSE(hdr.WriteHeader((home + "/scan.hdr").c_str()));
        Set_Temp_Path(temp.c_str());
        server = std::make_unique<FtpServer>(home, "zoomer", "secret", work.File("log"));
        ASSERT_TRUE(server->Start());
        const std::string info = "plate_09,127.0.0.1:" + std::to_string(server->port()) + ",zoomer,secret";
        ASSERT_FALSE(Put_Server(info.c_str()));
        Reset_TarnDb();
    }
    void TearDown() override {
        Close_Inet();
        server->Stop();
        Put_Server("plate_00,localhost,ftp_0000,quillfex");
        Set_Temp_Path("/tmp");
    }

    std::vector<std::string> Commands() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(home + "/Commands"))
            names.push_back(e.path().filename().string());
        return names;
    }

    TempDir work;
    std::string home, temp, local;
    std::unique_ptr<FtpServer> server;
};

}  // namespace

TEST_F(RemoteZoomTest, ZoomDownloadsTheHeaderAndUploadsTheCommand) {
    // A header path that does not exist locally: it is fetched first.
    const std::string name = local + "/scan.tif";
    CRect none{};
    const char* result = ZoomImageRemote(200, 160, 400, 320, &none, 2.0, 90, const_cast<char*>(name.c_str()));
    ASSERT_STRNE(result, "") << Get_Last_Error();
    EXPECT_TRUE(std::regex_match(result, std::regex("plate_09_zoomer_[0-9a-f]+a_Plom\\.str"))) << result;
    EXPECT_TRUE(fs::exists(local + "/scan.hdr"));
    CRect crop;
    ASSERT_FALSE(GetCropRect(&crop));
    EXPECT_EQ(crop.left, 250);
    EXPECT_EQ(crop.right, 750);

    const auto uploaded = Commands();
    ASSERT_EQ(uploaded.size(), 1u);
    std::string stem = result;
    stem.resize(stem.size() - 3);
    EXPECT_EQ(uploaded[0], stem + "cmd");
    EXPECT_EQ(Text(home + "/Commands/" + uploaded[0]),
              "FILE: scan.hdr\nSCL_IMG: 1\nCROP: 250,200,500,400\nFRAME: 400,320 ;W H\nSTRM: " +
                  std::string(result) + "\nRCT: 250,200,500,400,90\n");
}

TEST_F(RemoteZoomTest, CropKeepsTheAspectAndRefusesWholeImageSides) {
    const std::string name = "/anywhere/scan.tif";  // header looked for in the temporary folder
    CRect rect{100, 100, 600, 500};
    const char* result = GetCropImageRemote(250, &rect, const_cast<char*>(name.c_str()), 150);
    ASSERT_STRNE(result, "") << Get_Last_Error();
    const auto uploaded = Commands();
    ASSERT_EQ(uploaded.size(), 1u);
    const std::string text = Text(home + "/Commands/" + uploaded[0]);
    EXPECT_NE(text.find("FRAME: 250,200 ;W H\n"), std::string::npos) << text;
    EXPECT_NE(text.find("RCT: 100,100,500,400,100\n"), std::string::npos) << text;

    CRect wide{0, 100, 1000, 500};
    EXPECT_STREQ(GetCropImageRemote(250, &wide, const_cast<char*>(name.c_str()), 80), "");
    EXPECT_STREQ(Get_Last_Error(), "");
    CRect high{100, 0, 600, 800};
    EXPECT_STREQ(GetCropImageRemote(250, &high, const_cast<char*>(name.c_str()), 80), "");
    EXPECT_STREQ(Get_Last_Error(), "GetCropImageRemote: CropRct is larger than Image\n");
}

TEST_F(RemoteZoomTest, PlaceCommandUploadsUnderItsOwnName) {
    const std::string job = local + "/job.cmd";
    WriteText(job, "FILE: x.hdr\nSCL_IMG: 1\n");
    ASSERT_FALSE(PlaceCommand(const_cast<char*>(job.c_str()))) << Get_Last_Error();
    EXPECT_EQ(Text(home + "/Commands/job.cmd"), "FILE: x.hdr\nSCL_IMG: 1\n");

    // A refused upload closes the session; the next call reconnects.
    fs::remove_all(home + "/Commands");
    EXPECT_TRUE(PlaceCommand(const_cast<char*>(job.c_str())));
    EXPECT_NE(std::string(Get_Last_Error()).find("PutFile Failed"), std::string::npos);
    fs::create_directories(home + "/Commands");
    EXPECT_FALSE(PlaceCommand(const_cast<char*>(job.c_str()))) << Get_Last_Error();
}

TEST_F(RemoteZoomTest, BadMagnificationAndMissingHeader) {
    CRect none{};
    char name[] = "/nowhere/missing.tif";
    EXPECT_STREQ(ZoomImageRemote(1, 1, 400, 320, &none, 0.5, 80, name), "");
    EXPECT_STREQ(Get_Last_Error(), "ZoomImageRemote fabs(Magnification) < 1.0\n");
    EXPECT_STREQ(ZoomImageRemote(1, 1, 400, 320, &none, 2.0, 80, name), "");
    EXPECT_NE(std::string(Get_Last_Error()).find("Tarn_FTP::GetRemoteFile"), std::string::npos)
        << Get_Last_Error();
    EXPECT_TRUE(Commands().empty());
}
