#!/usr/bin/python3
"""A real FTP server for the Kestrix tests: pyftpdlib over a test folder.

Usage:
  pyftpd_server.py --root DIR --user NAME --password PW [options]

Options:
  --root DIR          folder served as "/" (required)
  --user NAME         account with full rights (perm "elradfmwMT")
  --password PW       that account's password
  --anonymous         also accept "anonymous" (any password), read-only over the same root
  --ipv6              listen on ::1 instead of 127.0.0.1
  --masquerade ADDR   address announced in PASV replies; must be 0.0.0.0 or a
                      loopback address, so a client obeying it never leaves this machine
  --log FILE          append every command line received, verbatim (bytes as sent,
                      without the CR LF), one per line
  --home PATH         the folder a login starts in, as the server names it ("/home/user"),
                      as on servers that show users the whole tree from their home folder;
                      it must exist under --root (default "/")
  --tls PEM           FTP over TLS (AUTH TLS, PBSZ, PROT) with the certificate and
                      private key in PEM (pyftpdlib's TLS_FTPHandler; needs pyOpenSSL)
  --tls-implicit      with --tls: TLS from the first byte instead of AUTH TLS
  --tls-required      with --tls: refuse USER/PASS before AUTH TLS and data
                      connections before PROT P
  --tls12             with --tls: TLS 1.2 at most (session IDs instead of TLS 1.3 tickets)
  --tls-require-reuse with --tls: refuse (522) a data connection that does not
                      resume the control connection's TLS session
  --reply-delay MS    hold every control reply this long before sending it, as a
                      distant server's round trip would (20 stands for a server far
                      away); each client gets a thread of its own then, so one
                      client's waits never hold up another's
  --logins FILE       append "LOGIN <n>" for each successful login, n being the
                      logins open at that moment, and "LOGOUT <n>" as each ends

The server listens on a free port and prints exactly one line "PORT <n>" to stdout.
It serves until SIGTERM or until its stdin reaches end of file: the test fixture
keeps stdin open, so a test that dies takes its server with it.
To run one by hand, keep its stdin open: "sleep infinity | /usr/bin/python3 pyftpd_server.py ...".

MLSD, EPSV, REST and UTF-8 are pyftpdlib's defaults. Passive ports come from the
operating system. File names that are not valid UTF-8 pass through unchanged.
Only errors are logged, to stderr.
"""

import argparse
import ipaddress
import logging
import os
import signal
import sys
import threading

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer, ThreadedFTPServer
import time

_log_lock = threading.Lock()
_log_file = None


def _log_line(raw):
    if _log_file is None:
        return
    with _log_lock:
        _log_file.write(raw + b"\n")
        _log_file.flush()


def _shutdown(*_ignored):
    # Sockets and files are the kernel's to close; waiting for pyftpdlib to wind
    # down politely only risks a hang in a fixture's destructor. Holding the lock
    # keeps a half-written log line out of the file.
    _log_lock.acquire(timeout=1)
    os._exit(0)


def _watch_stdin():
    try:
        while os.read(0, 4096):
            pass
    except OSError:
        pass
    _shutdown()


_logins_lock = threading.Lock()
_logins_open = 0
_logins_file = None


def _count_login(change):
    global _logins_open
    if _logins_file is None:
        return
    with _logins_lock:
        _logins_open += change
        _logins_file.write(("LOGIN %d\n" if change > 0 else "LOGOUT %d\n") % _logins_open)
        _logins_file.flush()


class LoggingHandler(FTPHandler):
    login_folder = None
    reply_delay = 0.0

    def on_login(self, username):
        if self.login_folder:
            self.fs.cwd = self.login_folder
        self._counted_login = True
        _count_login(+1)

    def on_logout(self, username):
        if getattr(self, "_counted_login", False):
            self._counted_login = False
            _count_login(-1)

    def on_disconnect(self):
        if getattr(self, "_counted_login", False):
            self._counted_login = False
            _count_login(-1)

    def respond(self, resp, logfun=logging.debug):
        if self.reply_delay:
            time.sleep(self.reply_delay)
        super().respond(resp, logfun)

    def found_terminator(self):
        # The buffer still holds the undecoded bytes here; after decoding,
        # invalid UTF-8 would be gone and the log would no longer be verbatim.
        _log_line(b"".join(self._in_buffer))
        super().found_terminator()


def _tls_handler(certfile, implicit, required, require_reuse, tls12):
    # Imported here: the plain server must not need pyOpenSSL.
    from OpenSSL import SSL
    from OpenSSL._util import lib as ssl_lib
    from pyftpdlib.handlers import TLS_DTPHandler, TLS_FTPHandler

    class ReuseCheckingDTPHandler(TLS_DTPHandler):
        # As servers do that make sure the data connection comes from the
        # client that logged in: without the session, no data.
        def handle_ssl_established(self):
            if not ssl_lib.SSL_session_reused(self.socket._ssl):
                self.handle_failed_ssl_handshake()

    class TlsLoggingHandler(LoggingHandler, TLS_FTPHandler):
        def handle(self):
            if implicit:
                # The greeting waits in the output buffer until the handshake is done.
                self.secure_connection(self.ssl_context)
            super().handle()

    TlsLoggingHandler.certfile = certfile
    TlsLoggingHandler.tls_control_required = required
    TlsLoggingHandler.tls_data_required = required
    if require_reuse:
        TlsLoggingHandler.dtp_handler = ReuseCheckingDTPHandler
    if tls12:
        TlsLoggingHandler.get_ssl_context().set_max_proto_version(SSL.TLS1_2_VERSION)
    return TlsLoggingHandler


def _loopback_or_any(text):
    try:
        addr = ipaddress.ip_address(text)
    except ValueError:
        raise argparse.ArgumentTypeError("not an IP address: %r" % text)
    if not (addr.is_loopback or str(addr) in ("0.0.0.0", "::")):
        raise argparse.ArgumentTypeError(
            "only 0.0.0.0 or a loopback address may be announced: %r" % text)
    return text


def main():
    parser = argparse.ArgumentParser(description="pyftpdlib server for tests")
    parser.add_argument("--root", required=True)
    parser.add_argument("--user")
    parser.add_argument("--password", default="")
    parser.add_argument("--anonymous", action="store_true")
    parser.add_argument("--ipv6", action="store_true")
    parser.add_argument("--masquerade", type=_loopback_or_any)
    parser.add_argument("--log")
    parser.add_argument("--home")
    parser.add_argument("--tls")
    parser.add_argument("--tls-implicit", action="store_true")
    parser.add_argument("--tls-required", action="store_true")
    parser.add_argument("--tls-require-reuse", action="store_true")
    parser.add_argument("--tls12", action="store_true")
    parser.add_argument("--reply-delay", type=float, default=0)
    parser.add_argument("--logins")
    args = parser.parse_args()
    if (args.tls_implicit or args.tls_required or args.tls_require_reuse or args.tls12) and not args.tls:
        parser.error("--tls-implicit, --tls-required, --tls-require-reuse and --tls12 need --tls")

    if not os.path.isdir(args.root):
        parser.error("--root is not a folder: %s" % args.root)
    if args.user is None and not args.anonymous:
        parser.error("give --user/--password, --anonymous, or both")

    global _log_file, _logins_file
    if args.log:
        _log_file = open(args.log, "ab")
    if args.logins:
        _logins_file = open(args.logins, "a")

    handler = logging.StreamHandler(sys.stderr)
    handler.setFormatter(logging.Formatter("pyftpd_server: %(message)s"))
    pylog = logging.getLogger("pyftpdlib")
    pylog.addHandler(handler)
    pylog.setLevel(logging.ERROR)
    pylog.propagate = False

    root = os.path.realpath(args.root)
    authorizer = DummyAuthorizer()
    if args.user is not None:
        authorizer.add_user(args.user, args.password, root, perm="elradfmwMT")
    if args.anonymous:
        authorizer.add_anonymous(root, perm="elr")

    LoggingHandler.authorizer = authorizer
    LoggingHandler.banner = "Kestrix test server (pyftpdlib) ready."
    LoggingHandler.unicode_errors = "surrogateescape"
    # A wrong password in a test should fail at once, not after pyftpdlib's
    # anti-brute-force pause.
    LoggingHandler.auth_failed_timeout = 0
    if args.reply_delay > 0:
        LoggingHandler.reply_delay = args.reply_delay / 1000.0
    if args.masquerade:
        LoggingHandler.masquerade_address = args.masquerade
    if args.home:
        home = "/" + args.home.strip("/")
        if not os.path.isdir(os.path.join(root, home.lstrip("/"))):
            parser.error("--home is not a folder under --root: %s" % args.home)
        LoggingHandler.login_folder = home

    handler_class = LoggingHandler
    if args.tls:
        handler_class = _tls_handler(args.tls, args.tls_implicit, args.tls_required,
                                     args.tls_require_reuse, args.tls12)

    host = "::1" if args.ipv6 else "127.0.0.1"
    server_class = ThreadedFTPServer if args.reply_delay > 0 or args.logins else FTPServer
    server = server_class((host, 0), handler_class)

    signal.signal(signal.SIGTERM, _shutdown)
    signal.signal(signal.SIGINT, _shutdown)
    threading.Thread(target=_watch_stdin, daemon=True).start()

    sys.stdout.write("PORT %d\n" % server.socket.getsockname()[1])
    sys.stdout.flush()

    server.serve_forever(handle_exit=False)


if __name__ == "__main__":
    main()
