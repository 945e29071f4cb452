#!/usr/bin/python3
"""vsftpd with explicit TLS for the Kestrix tests.

Usage:
  vsftpd_server.py --root DIR --cert PEM --key PEM

Serves DIR anonymously (read) with DIR/up writable, TLS required for logins and
data, and vsftpd's own default that a data connection must resume the control
connection's TLS session (require_ssl_reuse). DIR must not be writable by
others: vsftpd refuses such a root. It listens on a free port of 127.0.0.1,
prints exactly one line "PORT <n>" once vsftpd accepts connections, and stops
vsftpd when its stdin reaches end of file or on SIGTERM.
"""

import argparse
import os
import pwd
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

VSFTPD = "/usr/sbin/vsftpd"


def free_port():
    s = socket.socket()
    s.bind(("127.0.0.1", 0))
    port = s.getsockname()[1]
    s.close()
    return port


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--cert", required=True)
    parser.add_argument("--key", required=True)
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix="kx-vsftpd-")
    os.makedirs(os.path.join(work, "empty"))
    user = "ftp"
    try:
        pwd.getpwnam(user)
    except KeyError:
        user = "nobody"
    port = free_port()
    conf = os.path.join(work, "vsftpd.conf")
    with open(conf, "w") as f:
        f.write("\n".join([
            "listen=YES", "listen_ipv6=NO", "listen_address=127.0.0.1", "listen_port=%d" % port,
            "background=NO", "anonymous_enable=YES", "no_anon_password=YES", "anon_root=%s" % args.root,
            "write_enable=YES", "anon_upload_enable=YES", "anon_umask=022", "local_enable=NO",
            "pasv_enable=YES", "pasv_address=127.0.0.1", "port_enable=YES", "connect_from_port_20=NO",
            "seccomp_sandbox=NO", "isolate=NO", "isolate_network=NO",
            "secure_chroot_dir=%s" % os.path.join(work, "empty"), "nopriv_user=%s" % user,
            "ftp_username=%s" % user, "xferlog_enable=NO", "use_localtime=NO",
            "ssl_enable=YES", "allow_anon_ssl=YES", "force_anon_logins_ssl=YES", "force_anon_data_ssl=YES",
            "rsa_cert_file=%s" % args.cert, "rsa_private_key_file=%s" % args.key, ""]))
    server = subprocess.Popen([VSFTPD, conf], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE)

    def stop(*_):
        server.terminate()
        try:
            server.wait(5)
        except subprocess.TimeoutExpired:
            server.kill()
        os._exit(0)

    signal.signal(signal.SIGTERM, stop)
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if server.poll() is not None:
            sys.stderr.write("vsftpd ended: %s\n" % server.stderr.read().decode(errors="replace"))
            sys.exit(3)
        try:
            socket.create_connection(("127.0.0.1", port), 0.2).close()
            break
        except OSError:
            time.sleep(0.05)
    print("PORT %d" % port, flush=True)

    def watch_stdin():
        sys.stdin.read()
        stop()

    threading.Thread(target=watch_stdin, daemon=True).start()
    server.wait()
    os._exit(0)


if __name__ == "__main__":
    main()
