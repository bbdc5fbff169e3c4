// Server information and working-file clean-up: no server needed.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "library.h"
#include "remote/tarn_ftp.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing_support::TempDir;
using testing_support::WriteText;

namespace {

orvix::Tarn_FTP& Ftp() { return *orvix::Lib().ftp; }

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

TEST(ServerInfo, FieldsAreReplacedOnlyWhenGiven) {
    ASSERT_FALSE(Put_Server("plate_a,hostA,userA,passA"));
    EXPECT_STREQ(Get_Server(), "hostA,userA,passA");
    EXPECT_STREQ(Ftp().Plate(), "plate_a");

    // Two commas in a row and a trailing comma: host and password stay.
    EXPECT_FALSE(Put_Server("plate_b,,userB,"));
    EXPECT_STREQ(Get_Server(), "hostA,userB,passA");
    EXPECT_STREQ(Ftp().Plate(), "plate_b");
    EXPECT_FALSE(Put_Server("plate_c"));
    EXPECT_STREQ(Get_Server(), "hostA,userB,passA");
    EXPECT_STREQ(Ftp().Plate(), "plate_c");

    EXPECT_TRUE(Put_Server(nullptr));
    EXPECT_STREQ(Get_Last_Error(), "Put_Server ServerInfo is NULL\n");

    // An empty text clears all four; Get_Server then fills NONE in.
    EXPECT_FALSE(Put_Server(""));
    EXPECT_STREQ(Get_Server(), "NONE,NONE,NONE");
    EXPECT_STREQ(Ftp().Host(), "NONE");
    EXPECT_STREQ(Ftp().User(), "NONE");
    EXPECT_STREQ(Ftp().Password(), "NONE");
    EXPECT_STREQ(Ftp().Plate(), "");
}

TEST(ServerInfo, OverlongFieldsAreRefusedWhole) {
    const std::string plate31(31, 'p'), host127(127, 'h'), user31(31, 'u'), pass127(127, 'w');
    ASSERT_FALSE(Put_Server((plate31 + "," + host127 + "," + user31 + "," + pass127).c_str()));
    EXPECT_EQ(std::string(Ftp().Plate()), plate31);
    EXPECT_EQ(std::string(Get_Server()), host127 + "," + user31 + "," + pass127);

    struct Case {
        std::string info;
        const char* message;
    };
    const Case cases[] = {
        {std::string(32, 'P') + ",h2,u2,w2", "Put_Server: plate longer than 31 characters\n"},
        {"p2," + std::string(128, 'H') + ",u2,w2", "Put_Server: host longer than 127 characters\n"},
        {"p2,h2," + std::string(32, 'U') + ",w2", "Put_Server: user longer than 31 characters\n"},
        {"p2,h2,u2," + std::string(128, 'W'), "Put_Server: password longer than 127 characters\n"},
        // A password holding a comma would otherwise arrive shortened.
        {"p2,h2,u2,pass,word", "Put_Server: more than four fields in the server information\n"},
        {"p2,h2,u2,pass\r\nword", "Put_Server: password holds control characters\n"},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(Put_Server(c.info.c_str())) << c.info;
        EXPECT_STREQ(Get_Last_Error(), c.message);
        // Nothing of a refused text is stored.
        EXPECT_EQ(std::string(Ftp().Plate()), plate31);
        EXPECT_EQ(std::string(Get_Server()), host127 + "," + user31 + "," + pass127);
    }
    // An empty fifth field is no password part.
    EXPECT_FALSE(Put_Server("p3,h3,u3,w3,"));
    EXPECT_STREQ(Get_Server(), "h3,u3,w3");
}

TEST(WorkingFiles, CleanupDeletesByMarkerOnly) {
    TempDir dir;
    const char* names[] = {"a.hd1", "a.sc0.bak", "a.hdr", "b.str", "c.cmd", "d.map",
                           "e.xmp", "f.sc1", "keep.txt", "g.tnl"};
    for (const char* name : names) WriteText(dir.File(name), name);
    fs::create_directory(dir.File("sub.cmd"));
    Cleanup(dir.path().string().c_str());  // no separator at the end
    EXPECT_EQ(FilesIn(dir.path().string()),
              (std::set<std::string>{"a.hdr", "keep.txt", "g.tnl", "sub.cmd"}));

    // One marker: only names holding it.
    WriteText(dir.File("x.zz1"), "x");
    EXPECT_FALSE(Ftp().RemoveTmpFiles(dir.path().string() + "/", ".zz"));
    EXPECT_EQ(FilesIn(dir.path().string()),
              (std::set<std::string>{"a.hdr", "keep.txt", "g.tnl", "sub.cmd"}));

    // An empty folder means the temporary folder.
    Set_Temp_Path(dir.path().string().c_str());
    WriteText(dir.File("t.str"), "t");
    Cleanup("");
    EXPECT_FALSE(fs::exists(dir.File("t.str")));

    Post_Error("");
    Cleanup(dir.File("nosuch").c_str());
    EXPECT_STREQ(Get_Last_Error(), "Tarn_FTP::RemoveTmpFiles: Cannot open Local Tmp directory\n");
}

TEST(WorkingFiles, ClientDestructionDeletesCommandAndResultFiles) {
    TempDir dir;
    Set_Temp_Path(dir.path().string().c_str());
    for (const char* name : {"a.cmd", "b.str", "c.map", "d.hd1"}) WriteText(dir.File(name), name);
    { orvix::Tarn_FTP client; }
    EXPECT_EQ(FilesIn(dir.path().string()), (std::set<std::string>{"c.map", "d.hd1"}));
}

}  // namespace
