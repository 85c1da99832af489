#!/usr/bin/python3
"""FTP server for the tests: pyftpdlib serving one folder to one user with every right.

    ftp_server.py --root DIR --user U --password P --ready-file FILE
                  [--host 127.0.0.1] [--command-log FILE]
                  [--tls-cert CERT --tls-key KEY [--reset plain|all]] [--hide-dot-files]
                  [--max-upload-rate BYTES] [--strip-cr]

Binds a free port on the host, writes the port number to the ready file once it listens
(written whole: under another name first, then renamed), and serves until SIGTERM or until
the process that started it is gone. The command log gets one line per received command,
"VERB argument", with the argument of PASS masked.

With --tls-cert the server offers explicit TLS (AUTH TLS). --reset plain resets (RST, not a
close) every connection whose first command is not AUTH; --reset all resets every connection
at its first command.

With --hide-dot-files the server behaves as many shared web hosts do: a plain LIST leaves out
names that begin with a dot, "LIST -a" shows them, and NLST of a pattern or of a dot-file name
is refused with "550 Can't check for file existence".

With --max-upload-rate every upload moves at most that many bytes a second (plain FTP only).

With --strip-cr a text (TYPE A) upload is stored with every CR removed, a lone one too, as some
servers store text.
"""
import argparse
import os
import signal
import socket
import struct
import threading
import time

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.filesystems import AbstractedFS
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def logging_handler(base):
    class LoggingHandler(base):
        command_log_fd = None
        reset = None
        first_seen = False
        hide_dot_files = False
        # The command being served lists dot files.
        listing_all = True

        def pre_process_command(self, line, cmd, arg):
            if self.command_log_fd is not None:
                shown = "******" if cmd == "PASS" else arg
                os.write(self.command_log_fd,
                         f"{cmd} {shown}\n".encode("utf-8", "backslashreplace"))
            if self.reset and not self.first_seen:
                self.first_seen = True
                if self.reset == "all" or cmd != "AUTH":
                    # Linger 0: the close sends a reset, as a server that refuses plain FTP does.
                    self.socket.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER,
                                           struct.pack("ii", 1, 0))
                    self.close()
                    return None
            if self.hide_dot_files:
                if cmd == "NLST" and (arg.startswith("-") or arg.startswith(".") or "*" in arg):
                    self.respond("550 Can't check for file existence")
                    return None
                self.listing_all = cmd != "LIST" or arg.lower() in ("-a", "-al", "-la")
            return super().pre_process_command(line, cmd, arg)

    return LoggingHandler


class DotFileHidingFS(AbstractedFS):
    def listdir(self, path):
        names = super().listdir(path)
        if getattr(self.cmd_channel, "listing_all", True):
            return names
        return [n for n in names if not n.startswith(".")]


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
    ap.add_argument("--tls-cert")
    ap.add_argument("--tls-key")
    ap.add_argument("--reset", choices=["plain", "all"])
    ap.add_argument("--hide-dot-files", action="store_true")
    ap.add_argument("--max-upload-rate", type=int)
    ap.add_argument("--strip-cr", action="store_true")
    a = ap.parse_args()

    authorizer = DummyAuthorizer()
    authorizer.add_user(a.user, a.password, a.root, perm="elradfmwMT")
    if a.tls_cert:
        from pyftpdlib.handlers import TLS_FTPHandler
        handler = logging_handler(TLS_FTPHandler)
        handler.certfile = a.tls_cert
        handler.keyfile = a.tls_key
    else:
        handler = logging_handler(FTPHandler)
    handler.reset = a.reset
    if a.hide_dot_files:
        handler.hide_dot_files = True
        handler.abstracted_fs = DotFileHidingFS
    if a.max_upload_rate:
        class ThrottledUploads(ThrottledDTPHandler):
            read_limit = a.max_upload_rate

        handler.dtp_handler = ThrottledUploads
    if a.strip_cr:
        class CrStrippingUploads(handler.dtp_handler):
            def _posix_ascii_data_wrapper(self, chunk):
                return chunk.replace(b"\r", b"")

        handler.dtp_handler = CrStrippingUploads
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
