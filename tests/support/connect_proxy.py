#!/usr/bin/python3
"""An HTTP CONNECT proxy for the Kestrix tests.

Usage:
  connect_proxy.py [--log FILE] [--require-auth USER:PASS]

It listens on a free port of 127.0.0.1, prints exactly one line "PORT <n>" to
stdout, and exits on SIGTERM or when its stdin reaches end of file.
To run one by hand, keep its stdin open: "sleep infinity | /usr/bin/python3 connect_proxy.py ...".

For each "CONNECT host:port HTTP/1.x" request it opens a TCP connection to the
target, answers "HTTP/1.1 200 Connection established" and relays bytes both ways
until both sides have closed (a half close is passed on). Only loopback targets
are served: an IPv4 or IPv6 loopback literal ("127.0.0.1:21", "[::1]:21") or
"localhost". Any other target gets 403 before anything is resolved or
contacted. Other methods get 405, a request that cannot be parsed 400, a target
that refuses the connection 502.

  --log FILE                append the request line of every CONNECT received
                            ("CONNECT 127.0.0.1:2121 HTTP/1.1"), verbatim, one per
                            line, including refused ones
  --require-auth USER:PASS  demand "Proxy-Authorization: Basic ..." with these
                            credentials; without them the answer is 407 with
                            "Proxy-Authenticate: Basic realm=..." and the
                            connection is closed
"""

import argparse
import base64
import ipaddress
import os
import re
import signal
import socket
import sys
import threading
import time

MAX_HEAD = 64 * 1024
CONNECT_TIMEOUT = 10
LOG_LOCK = threading.Lock()
log_file = None


def log_line(raw):
    if log_file is None:
        return
    with LOG_LOCK:
        log_file.write(raw + b"\n")
        log_file.flush()


def respond(sock, status, extra_headers=()):
    head = "HTTP/1.1 %s\r\n" % status
    for header in extra_headers:
        head += header + "\r\n"
    head += "Content-Length: 0\r\nConnection: close\r\n\r\n"
    sock.sendall(head.encode("ascii"))


def read_head(sock):
    """The request head and whatever the client sent after it, or None."""
    data = b""
    while b"\r\n\r\n" not in data:
        if len(data) > MAX_HEAD:
            return None
        chunk = sock.recv(8192)
        if not chunk:
            return None
        data += chunk
    head, rest = data.split(b"\r\n\r\n", 1)
    return head, rest


def parse_target(target):
    """(host, port) of a loopback target, or None for anything else."""
    m = re.fullmatch(r"\[([0-9A-Fa-f:.]+)\]:([0-9]{1,5})|([^:\[\]]+):([0-9]{1,5})", target)
    if not m:
        return None
    host = m.group(1) or m.group(3)
    port = int(m.group(2) or m.group(4))
    if not 0 < port < 65536:
        return None
    if host.lower() == "localhost":
        return "localhost", port
    try:
        addr = ipaddress.ip_address(host)
    except ValueError:
        # A name other than "localhost" would need a resolver, and the
        # resolver might leave this machine.
        return None
    if not addr.is_loopback:
        return None
    return str(addr), port


def connect_to(host, port):
    # "localhost" is spelled out here rather than resolved, for the same reason.
    candidates = ["127.0.0.1", "::1"] if host == "localhost" else [host]
    last_error = None
    for address in candidates:
        family = socket.AF_INET6 if ":" in address else socket.AF_INET
        s = socket.socket(family, socket.SOCK_STREAM)
        s.settimeout(CONNECT_TIMEOUT)
        try:
            s.connect((address, port))
            s.settimeout(None)
            return s
        except OSError as e:
            s.close()
            last_error = e
    raise last_error


def pump(source, target, done):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            target.sendall(data)
    except OSError:
        pass
    try:
        target.shutdown(socket.SHUT_WR)
    except OSError:
        pass
    done.release()


def handle(sock, required_auth):
    try:
        parsed = read_head(sock)
        if parsed is None:
            respond(sock, "400 Bad Request")
            return
        head, rest = parsed
        lines = head.split(b"\r\n")
        request_line = lines[0]
        parts = request_line.split(b" ")
        if len(parts) != 3 or not parts[2].startswith(b"HTTP/1."):
            respond(sock, "400 Bad Request")
            return
        method, target, _ = parts
        if method != b"CONNECT":
            respond(sock, "405 Method Not Allowed", ["Allow: CONNECT"])
            return
        log_line(request_line)

        if required_auth is not None:
            wanted = b"Basic " + base64.b64encode(required_auth.encode("utf-8"))
            given = None
            for line in lines[1:]:
                name, _, value = line.partition(b":")
                if name.strip().lower() == b"proxy-authorization":
                    given = value.strip()
            if given != wanted:
                respond(sock, "407 Proxy Authentication Required",
                        ['Proxy-Authenticate: Basic realm="Kestrix tests"'])
                return

        endpoint = parse_target(target.decode("latin-1"))
        if endpoint is None:
            respond(sock, "403 Forbidden")
            return
        try:
            upstream = connect_to(*endpoint)
        except OSError:
            respond(sock, "502 Bad Gateway")
            return
    except OSError:
        sock.close()
        return

    try:
        sock.sendall(b"HTTP/1.1 200 Connection established\r\n\r\n")
        if rest:
            upstream.sendall(rest)
        done = threading.Semaphore(0)
        threading.Thread(target=pump, args=(upstream, sock, done), daemon=True).start()
        pump(sock, upstream, done)
        done.acquire()
        done.acquire()
    except OSError:
        pass
    finally:
        upstream.close()
        sock.close()


def serve(listener, required_auth):
    while True:
        try:
            sock, _ = listener.accept()
        except OSError:
            time.sleep(0.1)
            continue
        threading.Thread(target=handle_and_close, args=(sock, required_auth),
                         daemon=True).start()


def handle_and_close(sock, required_auth):
    try:
        handle(sock, required_auth)
    finally:
        try:
            sock.close()
        except OSError:
            pass


def shutdown(*_ignored):
    # Relays may be blocked in recv; leave at once and let the kernel close
    # the sockets. Holding the lock keeps a half-written log line out.
    LOG_LOCK.acquire(timeout=1)
    os._exit(0)


def watch_stdin():
    try:
        while os.read(0, 4096):
            pass
    except OSError:
        pass
    shutdown()


def main():
    parser = argparse.ArgumentParser(description="HTTP CONNECT proxy for tests")
    parser.add_argument("--log")
    parser.add_argument("--require-auth", metavar="USER:PASS")
    args = parser.parse_args()
    if args.require_auth is not None and ":" not in args.require_auth:
        parser.error("--require-auth wants USER:PASS")

    global log_file
    if args.log:
        log_file = open(args.log, "ab")

    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)

    signal.signal(signal.SIGTERM, shutdown)
    signal.signal(signal.SIGINT, shutdown)
    threading.Thread(target=watch_stdin, daemon=True).start()
    threading.Thread(target=serve, args=(listener, args.require_auth), daemon=True).start()

    sys.stdout.write("PORT %d\n" % listener.getsockname()[1])
    sys.stdout.flush()
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    main()
