#!/usr/bin/python3
"""A TCP proxy on loopback that holds back everything the server says.

Usage:
  delay_proxy.py --target PORT --delay MS

Listens on a free 127.0.0.1 port, prints exactly one line "PORT <n>", and
forwards each connection to 127.0.0.1:PORT. What the client sends goes on at
once; what the server sends reaches the client DELAY milliseconds after it
arrived, in order, as over a link with that much latency one way (a round
trip costs DELAY). Put in front of an FTP server's control port it stands for
a distant server: data connections, whose addresses the server announces
itself, go around it. Runs until SIGTERM or until its stdin reaches end of
file.
"""

import argparse
import asyncio
import os
import signal
import socket
import sys
import threading


def _watch_stdin(loop):
    try:
        while os.read(0, 4096):
            pass
    except OSError:
        pass
    os._exit(0)


async def _pump(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                break
            writer.write(data)
            await writer.drain()
        try:
            writer.close()
        except OSError:
            pass

    sender = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            queue.put_nowait((loop.time() + delay, data))
    except OSError:
        pass
    queue.put_nowait((loop.time() + delay, None))
    try:
        await sender
    except OSError:
        pass


async def _handle(client_reader, client_writer, target, delay):
    try:
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target)
    except OSError:
        client_writer.close()
        return
    for w in (client_writer, server_writer):
        sock = w.get_extra_info("socket")
        if sock is not None:
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    await asyncio.gather(_pump(client_reader, server_writer, 0.0),
                         _pump(server_reader, client_writer, delay),
                         return_exceptions=True)


async def _main(target, delay):
    server = await asyncio.start_server(lambda r, w: _handle(r, w, target, delay), "127.0.0.1", 0)
    sys.stdout.write("PORT %d\n" % server.sockets[0].getsockname()[1])
    sys.stdout.flush()
    async with server:
        await server.serve_forever()


def main():
    parser = argparse.ArgumentParser(description="latency proxy for tests and benchmarks")
    parser.add_argument("--target", type=int, required=True)
    parser.add_argument("--delay", type=float, required=True, help="milliseconds")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, lambda *_: os._exit(0))
    threading.Thread(target=_watch_stdin, args=(None,), daemon=True).start()
    asyncio.run(_main(args.target, args.delay / 1000.0))


if __name__ == "__main__":
    main()
