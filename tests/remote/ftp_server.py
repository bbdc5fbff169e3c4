"""FTP server for the remote tests, on loopback.

Usage: ftp_server.py HOME USER PASSWORD PORT LOG

Serves HOME to USER/PASSWORD on 127.0.0.1:PORT (0 picks a free port) and
prints "PORT <n>" once it listens. Every command received is appended to LOG
(passwords left out), so that tests can count attempts and logins. Folder
listings start with "." and "..", as many servers send them. The server ends
on SIGTERM, or when its standard input closes (the test program is gone).
"""
import os
import signal
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class DottedFS(AbstractedFS):
    def listdir(self, path):
        return [".", ".."] + list(super().listdir(path))


def main():
    home, user, password, port, log_path = sys.argv[1:6]
    log = open(log_path, "a", buffering=1)

    class LoggingHandler(FTPHandler):
        abstracted_fs = DottedFS

        def pre_process_command(self, line, cmd, arg):
            log.write("%s %s\n" % (cmd, "***" if cmd == "PASS" else arg or ""))
            super().pre_process_command(line, cmd, arg)

    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, home, perm="elradfmwMT")
    LoggingHandler.authorizer = authorizer
    LoggingHandler.banner = "orvix test server ready"
    # Refused logins are answered at once rather than after the usual pause.
    LoggingHandler.auth_failed_timeout = 0

    server = FTPServer(("127.0.0.1", int(port)), LoggingHandler)

    def watch_stdin():
        while sys.stdin.buffer.read(4096):
            pass
        os._exit(0)

    threading.Thread(target=watch_stdin, daemon=True).start()
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))

    print("PORT %d" % server.address[1], flush=True)
    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
