#!/usr/bin/python3
"""A real OpenSSH server for the Kestrix tests, on a free loopback port.

Usage:
  sshd_server.py --root DIR --work DIR --user NAME --password PW
                 --authorized-keys FILE [options]

Options:
  --root DIR             the folder an SFTP login starts in (sftp-server -d); it
                         is handed to NAME (chown -R) so the account may change it
  --work DIR             where the configuration, the host key and the process
                         list go; made readable by NAME (sshd reads
                         authorized_keys with the user's rights)
  --user NAME            a local account made for the tests (useradd when missing,
                         no home folder, /bin/sh); its password is set to PW
  --password PW
  --authorized-keys FILE public keys accepted for NAME
  --host-key FILE        an existing private host key (default: a new ed25519 key
                         in --work)
  --kbdint               keyboard-interactive through PAM as well (needs the PAM
                         service "sshd" that openssh-server installs)
  --no-password          refuse password logins (only keys)

The server listens on 127.0.0.1 only and prints exactly one line "PORT <n>" to
stdout once it accepts connections. Every sftp-server it starts appends its pid
(as this machine sees it) to WORK/sftp-server.pids, so a test can stop or kill
the one serving it.

Nothing outlives the fixture: sshd runs as the first process of a PID namespace
of its own (unshare --pid --kill-child), so the kernel ends every process of it,
the session processes that sshd moves into sessions of their own included, as
soon as sshd ends; sshd ends with unshare, which ends with this script
(PR_SET_PDEATHSIG), which ends on SIGTERM or when its stdin reaches end of file
(the test fixture holds it open).

Needs root (sshd switches to the account); exits with status 3 and says why on
stderr when it cannot run here.
"""

import argparse
import ctypes
import fcntl
import os
import pwd
import shutil
import signal
import socket
import subprocess
import sys
import threading
import time

SSHD = "/usr/sbin/sshd"
SFTP_SERVER = "/usr/lib/openssh/sftp-server"
PR_SET_PDEATHSIG = 1

_child = None


def _die_with_parent():
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def _shutdown(*_ignored):
    if _child is not None and _child.poll() is None:
        try:
            _child.kill()
            _child.wait(timeout=5)
        except Exception:
            pass
    os._exit(0)


def _watch_stdin():
    try:
        while os.read(0, 4096):
            pass
    except OSError:
        pass
    _shutdown()


def _cannot(reason):
    sys.stderr.write("sshd_server.py: cannot run: %s\n" % reason)
    sys.exit(3)


def _free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _ensure_user(name, password):
    # Test runs in parallel make the account at the same moment: one at a time.
    with open("/tmp/kestrix-test-account.lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            pwd.getpwnam(name)
        except KeyError:
            subprocess.run(["useradd", "--no-create-home", "--home-dir", "/nonexistent",
                            "--shell", "/bin/sh", name], check=True)
        subprocess.run(["chpasswd"], input=("%s:%s\n" % (name, password)).encode(), check=True)
        return pwd.getpwnam(name)


def _chown_tree(top, uid, gid):
    os.chown(top, uid, gid)
    for dirpath, dirnames, filenames in os.walk(top):
        for n in dirnames + filenames:
            os.lchown(os.path.join(dirpath, n), uid, gid)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--root", required=True)
    ap.add_argument("--work", required=True)
    ap.add_argument("--user", required=True)
    ap.add_argument("--password", required=True)
    ap.add_argument("--authorized-keys", required=True)
    ap.add_argument("--host-key")
    ap.add_argument("--kbdint", action="store_true")
    ap.add_argument("--no-password", action="store_true")
    args = ap.parse_args()

    if os.geteuid() != 0:
        _cannot("the OpenSSH test server needs root (it logs in a test account)")
    for tool in (SSHD, SFTP_SERVER, "/usr/bin/ssh-keygen", "/usr/bin/unshare"):
        if not os.access(tool, os.X_OK):
            _cannot("%s is missing (apt-get install openssh-server openssh-client util-linux)" % tool)

    account = _ensure_user(args.user, args.password)
    work = os.path.abspath(args.work)
    root = os.path.abspath(args.root)
    os.chmod(work, 0o755)
    _chown_tree(root, account.pw_uid, account.pw_gid)
    # sshd refuses to start without its privilege separation folder.
    os.makedirs("/run/sshd", mode=0o755, exist_ok=True)

    host_key = args.host_key
    if not host_key:
        host_key = os.path.join(work, "ssh_host_ed25519_key")
        if not os.path.exists(host_key):
            subprocess.run(["/usr/bin/ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "kestrix-test-host",
                            "-f", host_key], check=True)
    os.chmod(host_key, 0o600)

    keys = os.path.join(work, "authorized_keys")
    if os.path.abspath(args.authorized_keys) != keys:
        shutil.copyfile(args.authorized_keys, keys)
    os.chmod(keys, 0o644)

    pids = os.path.join(work, "sftp-server.pids")
    open(pids, "a").close()
    os.chmod(pids, 0o666)
    # The subsystem records its pid as this machine numbers it (/proc is the
    # outer namespace's: field 4 of cut's stat is the shell about to exec).
    wrapper = os.path.join(work, "sftp-wrapper.sh")
    with open(wrapper, "w") as f:
        f.write("#!/bin/sh\n"
                "cut -d' ' -f4 /proc/self/stat >> '%s'\n"
                "exec %s -d '%s' \"$@\"\n" % (pids, SFTP_SERVER, root))
    os.chmod(wrapper, 0o755)

    port = _free_port()
    config = os.path.join(work, "sshd_config")
    with open(config, "w") as f:
        f.write("\n".join([
            "Port %d" % port,
            "ListenAddress 127.0.0.1",
            "HostKey %s" % host_key,
            "PidFile none",
            "AuthorizedKeysFile %s" % keys,
            "StrictModes no",
            "PermitRootLogin no",
            "AllowUsers %s" % args.user,
            "PubkeyAuthentication yes",
            "PasswordAuthentication %s" % ("no" if args.no_password else "yes"),
            "KbdInteractiveAuthentication %s" % ("yes" if args.kbdint else "no"),
            "UsePAM %s" % ("yes" if args.kbdint else "no"),
            "PrintMotd no",
            "DisableForwarding yes",
            "PermitTTY no",
            "MaxStartups 100:30:200",
            "MaxSessions 50",
            "LoginGraceTime 30",
            "LogLevel VERBOSE",
            "Subsystem sftp %s" % wrapper,
            "",
        ]))

    global _child
    _child = subprocess.Popen(
        ["/usr/bin/unshare", "--pid", "--fork", "--kill-child", SSHD, "-D", "-e", "-f", config],
        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
        preexec_fn=_die_with_parent)
    signal.signal(signal.SIGTERM, _shutdown)
    signal.signal(signal.SIGINT, _shutdown)

    # sshd says "Server listening on ..." once its socket is open; its log
    # goes on to our stderr for the tests to show.
    ready = threading.Event()

    def pump():
        for raw in _child.stderr:
            if b"Server listening on" in raw:
                ready.set()
            try:
                sys.stderr.buffer.write(raw)
                sys.stderr.buffer.flush()
            except OSError:
                pass

    threading.Thread(target=pump, daemon=True).start()
    deadline = time.monotonic() + 10
    while not ready.is_set():
        if _child.poll() is not None:
            time.sleep(0.1)
            _cannot("sshd exited with status %s" % _child.returncode)
        if time.monotonic() > deadline:
            _cannot("sshd did not start listening within 10 s")
        ready.wait(0.05)

    sys.stdout.write("PORT %d\n" % port)
    sys.stdout.flush()
    threading.Thread(target=_watch_stdin, daemon=True).start()
    while _child.poll() is None:
        time.sleep(0.2)
    sys.stderr.write("sshd_server.py: sshd ended with status %s\n" % _child.returncode)
    os._exit(1)


if __name__ == "__main__":
    main()
