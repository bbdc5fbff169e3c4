// The remote server client against a real FTP server on loopback.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "ftp_server.h"
#include "library.h"
#include "remote/tarn_ftp.h"
#include "support/test_support.h"

namespace fs = std::filesystem;
using testing_support::FtpServer;
using testing_support::ReadBytes;
using testing_support::TempDir;
using testing_support::WriteBytes;
using testing_support::WriteText;

namespace {

// Characters that would break a URL if the password travelled in one.
const char* const kUser = "tester";
const char* const kPassword = "p@ss:w/rd#1?";

std::string Error() { return Get_Last_Error(); }
bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// Every byte value, and line ends that a text-mode transfer would change.
std::vector<uint8_t> BinaryBytes(uint8_t seed) {
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<uint8_t>(i ^ seed));
    for (const char c : std::string("\r\n\n\r\r\n")) bytes.push_back(static_cast<uint8_t>(c));
    return bytes;
}

std::vector<uint8_t> Pgm() {
    std::vector<uint8_t> bytes = {'P', '5', '\n', '4', ' ', '2', '\n', '2', '5', '5', '\n'};
    for (uint8_t v : {0, 40, 80, 120, 160, 200, 240, 255}) bytes.push_back(v);
    return bytes;
}

std::set<std::string> FilesIn(const std::string& folder) {
    std::set<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
    return names;
}

orvix::Tarn_FTP& Ftp() { return *orvix::Lib().ftp; }

// Download attempts the server saw for name: the client asks for the size
// first and fetches only what exists.
int Attempts(const FtpServer& server, const std::string& name) {
    return std::max(server.Count("SIZE " + name), server.Count("RETR " + name));
}

class RemoteTest : public ::testing::Test {
protected:
    void SetUp() override {
        home = work.File("home");
        local = work.File("local");
        temp = work.File("temp");
        for (const char* folder : {"Commands", "sub", "listing", "empty", "long", "odd #dir"})
            fs::create_directories(fs::path(home) / folder);
        fs::create_directories(local);
        fs::create_directories(temp);
        WriteBytes(home + "/img.pgm", Pgm());
        WriteBytes(home + "/img.hdr", BinaryBytes(0));
        WriteBytes(home + "/sub/deep.hdr", BinaryBytes(0x5a));
        for (const char* name : {"a1.jpg", "a2.jpg", "a3.jpg", "a4.jpg", "a5.jpg", ".hidden"})
            WriteText(home + "/listing/" + name, name);
        WriteText(home + "/long/a_name_much_longer_than_its_slot.tif", "x");
        WriteText(home + "/long/b.tif", "y");
        WriteBytes(home + "/odd #dir/name with space%20.tif", BinaryBytes(7));
        Set_Temp_Path(temp.c_str());

        server = std::make_unique<FtpServer>(home, kUser, kPassword, work.File("commands.log"));
        ASSERT_TRUE(server->Start()) << "the test FTP server did not start";
        UseServer(kUser, kPassword);
    }

    void TearDown() override {
        Close_Inet();
        server->Stop();
    }

    void UseServer(const std::string& user, const std::string& password) {
        const std::string info =
            "plate_07,127.0.0.1:" + std::to_string(server->port()) + "," + user + "," + password;
        ASSERT_FALSE(Put_Server(info.c_str())) << Error();
    }

    std::string Local(const std::string& name) const { return local + "/" + name; }

    TempDir work;
    std::string home, local, temp;
    std::unique_ptr<FtpServer> server;
};

TEST_F(RemoteTest, LoginFailuresShowAtOpenWithTheServersWords) {
    UseServer(kUser, "wrong");
    EXPECT_TRUE(OPen_Inet());
    EXPECT_TRUE(Contains(Error(), "Tarn_FTP::ProcFTPErr(..)FTP Connection Error ")) << Error();
    EXPECT_TRUE(Contains(Error(), "530")) << Error();
    EXPECT_FALSE(Ftp().Connected());

    UseServer("nobody", kPassword);
    EXPECT_TRUE(OPen_Inet());
    EXPECT_TRUE(Contains(Error(), "530")) << Error();

    // A failed opening leaves no connection, so a remote call tries again.
    EXPECT_TRUE(Get_Remote_File("img.pgm", Local("a.pgm").c_str(), 0));
    EXPECT_TRUE(Contains(Error(), "m_pFtpConnection is NULL, call Open_Inet first")) << Error();
    EXPECT_EQ(server->Count("USER nobody"), 2);

    UseServer(kUser, kPassword);
    EXPECT_FALSE(OPen_Inet()) << Error();
    EXPECT_TRUE(Ftp().Connected());
    EXPECT_EQ(Error(), "");
}

TEST_F(RemoteTest, ServerAddressIsCheckedAndItsPortUsed) {
    for (const char* host : {"", "a b", "user@127.0.0.1", "127.0.0.1/path", "127.0.0.1:99999",
                             "127.0.0.1?x"}) {
        ASSERT_FALSE(Put_Server((std::string("p,") + host + ",u,pw").c_str()));
        if (!*host) {
            ASSERT_FALSE(Put_Server(""));
        }
        EXPECT_TRUE(OPen_Inet()) << host;
        EXPECT_TRUE(Contains(Error(), "Tarn_FTP::OpenFTP:Invalid Server URL")) << host << Error();
    }
    // Without a port the standard one is used: not the test server's.
    ASSERT_FALSE(Put_Server((std::string("p,127.0.0.1,") + kUser + "," + kPassword).c_str()));
    EXPECT_TRUE(OPen_Inet());
    EXPECT_TRUE(Contains(Error(), "Tarn_FTP::ProcFTPErr")) << Error();
    EXPECT_TRUE(Contains(Error(), "port 21")) << Error();
    EXPECT_EQ(server->Count("USER "), 0);
    // A changed server is used at the next opening.
    UseServer(kUser, kPassword);
    EXPECT_FALSE(OPen_Inet()) << Error();
    EXPECT_EQ(server->Count("USER tester"), 1);
}

TEST_F(RemoteTest, OneConnectionInPassiveBinaryModeServesEveryCall) {
    ASSERT_FALSE(OPen_Inet()) << Error();
    std::vector<char> table(10 * 64, '\0');
    EXPECT_FALSE(GetRemoteDir("listing", table.data(), 64, 10)) << Error();
    EXPECT_FALSE(Get_Remote_File("img.hdr", Local("img.hdr").c_str(), 0)) << Error();
    EXPECT_FALSE(Get_Remote_File("sub/deep.hdr", Local("deep.hdr").c_str(), 0)) << Error();
    EXPECT_FALSE(OPen_Inet()) << Error();  // already open: nothing new
    WriteBytes(Local("job.cmd"), BinaryBytes(3));
    EXPECT_EQ(Ftp().SendFile(Local("job.cmd"), "./Commands/job.cmd"), orvix::Tarn_FTP::Transfer::Done);

    EXPECT_EQ(server->Count("USER "), 1);
    EXPECT_EQ(server->Count("PORT "), 0);
    EXPECT_EQ(server->Count("EPRT "), 0);
    EXPECT_GE(server->Count("EPSV") + server->Count("PASV"), 4);
    EXPECT_GE(server->Count("TYPE I"), 1);
    EXPECT_EQ(ReadBytes(Local("img.hdr")), BinaryBytes(0));
    EXPECT_EQ(ReadBytes(Local("deep.hdr")), BinaryBytes(0x5a));

    EXPECT_FALSE(Close_Inet());
    EXPECT_FALSE(Ftp().Connected());
    EXPECT_EQ(server->Count("QUIT"), 1);
}

TEST_F(RemoteTest, ListingSkipsDotNamesStopsAtMaxAndRestoresTheFolder) {
    std::vector<char> table(8 * 32, '\0');
    EXPECT_FALSE(GetRemoteDir("listing", table.data(), 32, 3)) << Error();
    EXPECT_STREQ(&table[0], "a1.jpg");
    EXPECT_STREQ(&table[32], "a2.jpg");
    EXPECT_STREQ(&table[64], "a3.jpg");
    EXPECT_EQ(table[96], '\0');
    EXPECT_TRUE(server->Count("NLST") + server->Count("LIST") >= 1);

    // The remote current folder is back where it was: a plain name is found
    // in the login folder again.
    EXPECT_EQ(Ftp().RemoteDir(), "");
    EXPECT_FALSE(Get_Remote_File("img.pgm", Local("img.pgm").c_str(), 0)) << Error();
    EXPECT_EQ(ReadBytes(Local("img.pgm")), Pgm());

    std::fill(table.begin(), table.end(), '\0');
    EXPECT_FALSE(GetRemoteDir("/listing/", table.data(), 32, 8)) << Error();
    for (int k = 0; k < 5; ++k) EXPECT_EQ(std::string(&table[k * 32]), "a" + std::to_string(k + 1) + ".jpg");
    EXPECT_EQ(table[5 * 32], '\0');

    // An empty folder lists nothing and is no failure; a missing one fails.
    std::fill(table.begin(), table.end(), '\0');
    EXPECT_FALSE(GetRemoteDir("empty", table.data(), 32, 8)) << Error();
    EXPECT_EQ(table[0], '\0');
    EXPECT_TRUE(GetRemoteDir("nosuch", table.data(), 32, 8));
    EXPECT_EQ(Error(), "GetRemoteDir::Failed to Open Remote Directory [ nosuch ] \n");
    EXPECT_TRUE(GetRemoteDir("listing", nullptr, 32, 8));
    EXPECT_TRUE(GetRemoteDir("listing", table.data(), 0, 8));
}

TEST_F(RemoteTest, ListedNamesAreCutToTheirSlot) {
    std::vector<char> table(5 * 16, '#');
    EXPECT_FALSE(GetRemoteDir("long", table.data(), 16, 4)) << Error();
    EXPECT_STREQ(&table[0], "a_name_much_lon");
    EXPECT_STREQ(&table[16], "b.tif");
    // Slots not filled and the bytes past the table are untouched.
    for (size_t i = 16 + 6; i < table.size(); ++i) ASSERT_EQ(table[i], '#') << i;
}

TEST_F(RemoteTest, NamesWithSpacesAndUrlCharactersReachTheServerAsTheyAre) {
    std::vector<char> table(4 * 64, '\0');
    EXPECT_FALSE(GetRemoteDir("odd #dir", table.data(), 64, 4)) << Error();
    EXPECT_STREQ(&table[0], "name with space%20.tif");
    EXPECT_FALSE(Get_Remote_File("odd #dir/name with space%20.tif", Local("odd.tif").c_str(), 0))
        << Error();
    EXPECT_EQ(ReadBytes(Local("odd.tif")), BinaryBytes(7));

    // A line break in a name cannot smuggle in another command.
    EXPECT_TRUE(Get_Remote_File("img.pgm\r\nDELE img.pgm", Local("x.pgm").c_str(), 0));
    EXPECT_EQ(server->Count("DELE img.pgm"), 0);
    EXPECT_TRUE(fs::exists(home + "/img.pgm"));
}

TEST_F(RemoteTest, DownloadRetriesUntilTheFileAppears) {
    const std::vector<uint8_t> bytes = BinaryBytes(0x21);
    // The file appears once the server has refused it three times.
    std::thread maker([&] {
        for (int i = 0; i < 2000 && Attempts(*server, "late.hdr") < 3; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        WriteBytes(home + "/late.tmp", bytes);
        fs::rename(home + "/late.tmp", home + "/late.hdr");
    });
    const bool failed = Get_Remote_File("late.hdr", Local("late.hdr").c_str(), 30);
    maker.join();
    EXPECT_FALSE(failed) << Error();
    EXPECT_GE(Attempts(*server, "late.hdr"), 3);
    EXPECT_EQ(server->Count("RETR late.hdr"), 1);
    EXPECT_EQ(ReadBytes(Local("late.hdr")), bytes);
    EXPECT_EQ(FilesIn(local), std::set<std::string>{"late.hdr"});
}

TEST_F(RemoteTest, AttemptsAreTenPerSecondAndAtLeastOne) {
    EXPECT_TRUE(Get_Remote_File("missing.hdr", Local("m.hdr").c_str(), 0));
    EXPECT_EQ(Error(),
              "Tarn_FTP::GetRemoteFile: faild in obtaining missing.hdr from the Server\n"
              "BAD CCOM_Zul_Obj_010::Get_Remote_File remote=missing.hdr local=" + Local("m.hdr") +
                  " FAILED\n\n");
    EXPECT_EQ(Attempts(*server, "missing.hdr"), 1);

    EXPECT_TRUE(Get_Remote_File("missing2.hdr", Local("m.hdr").c_str(), 1));
    EXPECT_EQ(Attempts(*server, "missing2.hdr"), 10);
    // No partial file is left behind.
    EXPECT_TRUE(FilesIn(local).empty());
}

TEST_F(RemoteTest, ExistingLocalFileIsKeptAndNothingConnects) {
    WriteText(Local("have.hdr"), "mine");
    EXPECT_TRUE(Get_Remote_File("img.hdr", Local("have.hdr").c_str(), 1));
    EXPECT_EQ(Error(), "CCOM_Zul_Obj_010::Get_Remote_File(..) File " + Local("have.hdr") + " exists\n");
    EXPECT_EQ(ReadBytes(Local("have.hdr")), std::vector<uint8_t>({'m', 'i', 'n', 'e'}));
    EXPECT_FALSE(Ftp().Connected());
    EXPECT_EQ(server->Count("USER "), 0);

    // The internal download replaces a local file, and a failed one keeps it.
    EXPECT_TRUE(Ftp().GetRemoteFile("missing.hdr", Local("have.hdr").c_str(), 0));
    EXPECT_EQ(ReadBytes(Local("have.hdr")), std::vector<uint8_t>({'m', 'i', 'n', 'e'}));
    EXPECT_FALSE(Ftp().GetRemoteFile("img.hdr", Local("have.hdr").c_str(), 0)) << Error();
    EXPECT_EQ(ReadBytes(Local("have.hdr")), BinaryBytes(0));
    EXPECT_EQ(FilesIn(local), std::set<std::string>{"have.hdr"});
}

TEST_F(RemoteTest, DownloadWritesOnlyTheLocalPathGiven) {
    EXPECT_FALSE(Get_Remote_File("sub/../img.pgm", Local("only.pgm").c_str(), 0)) << Error();
    EXPECT_EQ(ReadBytes(Local("only.pgm")), Pgm());
    EXPECT_TRUE(Get_Remote_File("../../../../etc/passwd", Local("p.txt").c_str(), 0));
    EXPECT_EQ(FilesIn(local), std::set<std::string>{"only.pgm"});
    EXPECT_EQ(FilesIn(work.path().string()),
              (std::set<std::string>{"home", "local", "temp", "commands.log", "commands.log.stderr"}));

    // A local path that cannot be written fails at once, without attempts.
    const int before = Attempts(*server, "img.pgm");
    EXPECT_TRUE(Get_Remote_File("img.pgm", (local + "/nosuch/x.pgm").c_str(), 5));
    EXPECT_TRUE(Contains(Error(), "Tarn_FTP::GetRemoteFile: cannot write")) << Error();
    EXPECT_EQ(Attempts(*server, "img.pgm"), before);
}

TEST_F(RemoteTest, ReconnectsAfterTheServerRestarts) {
    ASSERT_FALSE(OPen_Inet()) << Error();
    ASSERT_FALSE(Get_Remote_File("img.pgm", Local("1.pgm").c_str(), 0)) << Error();
    const int port = server->port();

    // The open connection went stale: the next call logs in again.
    server->Stop();
    ASSERT_TRUE(server->Start(port));
    EXPECT_FALSE(Get_Remote_File("img.pgm", Local("2.pgm").c_str(), 0)) << Error();

    // A call while the server is down fails with the client's words and
    // drops the connection; once the server is back the next call connects.
    server->Stop();
    EXPECT_TRUE(Get_Remote_File("img.pgm", Local("3.pgm").c_str(), 0));
    EXPECT_TRUE(Contains(Error(), "Tarn_FTP::ProcFTPErr(..)FTP Connection Error ")) << Error();
    EXPECT_FALSE(Ftp().Connected());
    ASSERT_TRUE(server->Start(port));
    EXPECT_FALSE(Get_Remote_File("img.pgm", Local("3.pgm").c_str(), 0)) << Error();
    EXPECT_EQ(ReadBytes(Local("3.pgm")), Pgm());
    EXPECT_EQ(server->Count("USER tester"), 3);
}

TEST_F(RemoteTest, UploadPutsTheExactBytesOnTheServer) {
    ASSERT_FALSE(OPen_Inet()) << Error();
    const std::vector<uint8_t> bytes = BinaryBytes(0x33);
    WriteBytes(Local("plate_07_tester_65a1b2c3a_Plom.cmd"), bytes);
    EXPECT_EQ(Ftp().SendFile(Local("plate_07_tester_65a1b2c3a_Plom.cmd"),
                             "./Commands/plate_07_tester_65a1b2c3a_Plom.cmd"),
              orvix::Tarn_FTP::Transfer::Done)
        << Error();
    EXPECT_EQ(ReadBytes(home + "/Commands/plate_07_tester_65a1b2c3a_Plom.cmd"), bytes);

    // An empty file and a name with URL characters arrive as they are.
    WriteBytes(Local("empty.cmd"), {});
    EXPECT_EQ(Ftp().SendFile(Local("empty.cmd"), "Commands/a b%41#.cmd"),
              orvix::Tarn_FTP::Transfer::Done);
    EXPECT_TRUE(fs::exists(home + "/Commands/a b%41#.cmd"));
    EXPECT_EQ(fs::file_size(home + "/Commands/a b%41#.cmd"), 0u);
    // A name that looks like a transfer-mode suffix is just a name: the
    // bytes still travel in binary.
    EXPECT_EQ(Ftp().SendFile(Local("plate_07_tester_65a1b2c3a_Plom.cmd"), "Commands/t;type=a"),
              orvix::Tarn_FTP::Transfer::Done);
    EXPECT_EQ(ReadBytes(home + "/Commands/t;type=a"), bytes);

    // The server refusing (no such folder) and a missing local file.
    EXPECT_EQ(Ftp().SendFile(Local("empty.cmd"), "NoFolder/x.cmd"),
              orvix::Tarn_FTP::Transfer::Refused);
    EXPECT_TRUE(Ftp().Connected());
    EXPECT_EQ(Ftp().SendFile(Local("none.cmd"), "Commands/none.cmd"),
              orvix::Tarn_FTP::Transfer::LocalError);
    EXPECT_TRUE(Contains(Error(), "Tarn_FTP::SendFile: cannot open")) << Error();
    EXPECT_FALSE(fs::exists(home + "/Commands/none.cmd"));
}

TEST_F(RemoteTest, UnloadClosesTheSessionAndDeletesWorkingFiles) {
    for (const char* name : {"x.cmd", "y.str", "z.map", "w.hd1", "keep.hdr", "keep.tnl"})
        WriteText(temp + "/" + name, name);
    ASSERT_FALSE(Close_Inet());
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The library is unloaded when this process ends.
        std::exit(OPen_Inet() ? 3 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(server->Count("USER tester"), 1);
    EXPECT_EQ(server->Count("QUIT"), 1);
    EXPECT_EQ(FilesIn(temp), (std::set<std::string>{"keep.hdr", "keep.tnl"}));
}

TEST_F(RemoteTest, AFailedTestLeavesNoServerBehind) {
    // A test program that dies without stopping its server.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        auto* orphan = new FtpServer(home, kUser, kPassword, work.File("orphan.log"));
        pid_t pid = orphan->Start() ? orphan->pid() : -1;
        if (write(fds[1], &pid, sizeof pid) != sizeof pid) _exit(2);
        _exit(0);
    }
    close(fds[1]);
    pid_t orphan = -1;
    ASSERT_EQ(read(fds[0], &orphan, sizeof orphan), static_cast<ssize_t>(sizeof orphan));
    close(fds[0]);
    waitpid(child, nullptr, 0);
    ASSERT_GT(orphan, 0);
    bool gone = false;
    for (int i = 0; i < 1000 && !gone; ++i) {
        gone = FtpServer::ProcessGone(orphan);
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
    if (!gone) kill(orphan, SIGKILL);

    // And the fixture's own server is gone once stopped.
    const pid_t own = server->pid();
    server->Stop();
    EXPECT_TRUE(FtpServer::ProcessGone(own));
}

}  // namespace
