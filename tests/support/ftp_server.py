#!/usr/bin/python3
"""FTP server for the tests: pyftpdlib serving one folder to one user with every right.

    ftp_server.py --root DIR --user U --password P --ready-file FILE
                  [--host 127.0.0.1] [--command-log FILE]

Binds a free port on the host, writes the port number to the ready file once it listens
(written whole: under another name first, then renamed), and serves until SIGTERM or until
the process that started it is gone. The command log gets one line per received command,
"VERB argument", with the argument of PASS masked.
"""
import argparse
import os
import signal
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


class LoggingHandler(FTPHandler):
    command_log_fd = None

    def pre_process_command(self, line, cmd, arg):
        if self.command_log_fd is not None:
            shown = "******" if cmd == "PASS" else arg
            os.write(self.command_log_fd,
                     f"{cmd} {shown}\n".encode("utf-8", "backslashreplace"))
        return super().pre_process_command(line, cmd, arg)


def watch_parent(parent):
    # A test that dies must not leave its server behind.
    while os.getppid() == parent:
        time.sleep(0.5)
    os.kill(os.getpid(), signal.SIGTERM)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--root", required=True)
    ap.add_argument("--host", default="127.0.0.1")
    ap.add_argument("--user", required=True)
    ap.add_argument("--password", required=True)
    ap.add_argument("--ready-file", required=True)
    ap.add_argument("--command-log")
    a = ap.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user(a.user, a.password, a.root, perm="elradfmwMT")
    handler = LoggingHandler
    handler.authorizer = authorizer
    handler.banner = "vantrel test pyftpdlib ready"
    # No pause after a refused log-in: the tests refuse on purpose.
    handler.auth_failed_timeout = 0
    if a.command_log:
        handler.command_log_fd = os.open(a.command_log,
                                         os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o600)
    server = FTPServer((a.host, 0), handler)

    def stop(*_):
        raise KeyboardInterrupt

    signal.signal(signal.SIGTERM, stop)
    threading.Thread(target=watch_parent, args=(os.getppid(),), daemon=True).start()
    port = server.socket.getsockname()[1]
    with open(a.ready_file + ".tmp", "w") as f:
        f.write(str(port))
    os.rename(a.ready_file + ".tmp", a.ready_file)
    try:
        server.serve_forever(handle_exit=False)
    except KeyboardInterrupt:
        pass
    finally:
        server.close_all()


if __name__ == "__main__":
    main()
