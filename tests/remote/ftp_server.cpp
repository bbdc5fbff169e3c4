#include "ftp_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace testing_support {

namespace {

const char* const kPython = "/usr/bin/python3";

std::string ScriptPath() {
    return (std::filesystem::path(__FILE__).parent_path() / "ftp_server.py").string();
}

// Reads one line from fd within timeoutMs; empty on timeout or end.
std::string ReadLine(int fd, int timeoutMs) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return {};
        struct pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
        char c;
        if (read(fd, &c, 1) != 1) return {};
        if (c == '\n') return line;
        line += c;
    }
}

}  // namespace

FtpServer::FtpServer(std::string home, std::string user, std::string password,
                     std::string logPath)
    : home_(std::move(home)),
      user_(std::move(user)),
      password_(std::move(password)),
      logPath_(std::move(logPath)) {}

FtpServer::~FtpServer() { Stop(); }

bool FtpServer::Start(int port) {
    Stop();
    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0) return false;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return false;
    }
    const std::string portText = std::to_string(port);
    const std::string errPath = logPath_ + ".stderr";
    const std::string script = ScriptPath();  // nothing is allocated after fork
    const pid_t pid = fork();
    if (pid == 0) {
        // The server dies with the test program, whatever ends it.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (err >= 0) dup2(err, STDERR_FILENO);
        execl(kPython, kPython, script.c_str(), home_.c_str(), user_.c_str(),
              password_.c_str(), portText.c_str(), logPath_.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        return false;
    }
    pid_ = pid;
    stdinPipe_ = in[1];
    const std::string line = ReadLine(out[0], 20000);
    close(out[0]);
    if (line.rfind("PORT ", 0) != 0) {
        Stop();
        return false;
    }
    port_ = std::atoi(line.c_str() + 5);
    return port_ > 0;
}

void FtpServer::Stop() {
    if (stdinPipe_ >= 0) close(stdinPipe_);
    stdinPipe_ = -1;
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    // A server that ignores the request is killed after five seconds.
    for (int i = 0; i < 500; ++i) {
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

std::vector<std::string> FtpServer::Commands() const {
    std::vector<std::string> lines;
    std::ifstream in(logPath_);
    for (std::string line; std::getline(in, line);) {
        while (!line.empty() && line.back() == ' ') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

int FtpServer::Count(const std::string& wanted) const {
    const bool prefix = !wanted.empty() && wanted.back() == ' ';
    int n = 0;
    for (const std::string& line : Commands())
        if (prefix ? line.rfind(wanted, 0) == 0 : line == wanted) ++n;
    return n;
}

bool FtpServer::ProcessGone(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text;
    if (!std::getline(stat, text)) return true;
    const size_t close = text.rfind(')');
    return close != std::string::npos && close + 2 < text.size() && text[close + 2] == 'Z';
}

}  // namespace testing_support
