// A real FTP server for the remote tests: Debian's pyftpdlib run by
// /usr/bin/python3 (ftp_server.py beside this file) on a loopback port.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

class FtpServer {
public:
    FtpServer(std::string home, std::string user, std::string password, std::string logPath);
    ~FtpServer();
    FtpServer(const FtpServer&) = delete;
    FtpServer& operator=(const FtpServer&) = delete;

    // Starts the server on port (0: a free one) and waits until it listens.
    // False when it did not come up.
    bool Start(int port = 0);
    // Stops the server and waits for its process to end.
    void Stop();

    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    const std::string& home() const { return home_; }

    // The commands the server received, one "CMD arg" per line, across
    // restarts.
    std::vector<std::string> Commands() const;
    // How many received commands are exactly line ("RETR a.pgm") or, with a
    // trailing space in line, start with it ("USER ").
    int Count(const std::string& line) const;

    // True when no live process has the id (gone, or a zombie waiting for
    // its reaper).
    static bool ProcessGone(pid_t pid);

private:
    std::string home_;
    std::string user_;
    std::string password_;
    std::string logPath_;
    pid_t pid_ = -1;
    int port_ = 0;
    int stdinPipe_ = -1;  // the server ends when this closes
};

}  // namespace testing_support
