#!/usr/bin/python3
"""A distant FTP server on loopback: relays FTP control connections to a server
on 127.0.0.1 and holds back everything that server sends on them by a fixed
delay, as a server tens of milliseconds away would answer.

    distant_server.py --server-port PORT [--delay-ms 25] [--max-seconds 3600]

Listens on a free port of 127.0.0.1 and prints that port as its first line.
Every client connection gets a connection of its own to the server; bytes from
the client pass at once, bytes from the server are delivered `--delay-ms` after
they arrived (a latency, not a throttle: replies that come close together stay
close together, and their order and bytes are kept). The end of the server's
side is delayed the same way, so a closing reply still arrives before the close.

Data connections are not relayed. The PASV and EPSV replies (and the client's
PORT and EPRT commands) name loopback ports of the server and of the client,
which reach each other directly, so passive and active modes both work without
rewriting a reply, and a control connection secured with TLS passes unchanged.
What the model leaves out is the round trip of opening a data connection.

Stops on SIGTERM or SIGINT, when the process that started it ends, and after
`--max-seconds` at the latest. Connects to nothing but 127.0.0.1.
"""

import argparse
import asyncio
import os
import signal
import time

LOOPBACK = "127.0.0.1"
CHUNK = 64 * 1024


async def forward(reader, writer):
    """Client to server, as it comes; the server's side is half-closed at the end."""
    try:
        while True:
            data = await reader.read(CHUNK)
            if not data:
                break
            writer.write(data)
            await writer.drain()
        if writer.can_write_eof():
            writer.write_eof()
    except (ConnectionError, OSError):
        pass


async def forward_late(reader, writer, delay):
    """Server to client, each chunk `delay` seconds after it arrived."""
    queue = asyncio.Queue()

    async def read():
        try:
            while True:
                data = await reader.read(CHUNK)
                await queue.put((time.monotonic() + delay, data))
                if not data:
                    return
        except (ConnectionError, OSError):
            await queue.put((time.monotonic() + delay, b""))

    reading = asyncio.create_task(read())
    try:
        while True:
            due, data = await queue.get()
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                return
            writer.write(data)
            await writer.drain()
    except (ConnectionError, OSError):
        pass
    finally:
        reading.cancel()


def close(writer):
    try:
        writer.close()
    except (ConnectionError, OSError):
        pass


async def session(client_reader, client_writer, server_port, delay):
    try:
        server_reader, server_writer = await asyncio.open_connection(LOOPBACK, server_port)
    except OSError:
        close(client_writer)
        return
    up = asyncio.create_task(forward(client_reader, server_writer))
    down = asyncio.create_task(forward_late(server_reader, client_writer, delay))
    try:
        done, _ = await asyncio.wait({up, down}, return_when=asyncio.FIRST_COMPLETED)
        if down not in done:
            # The client has ended its side: the server's last replies (and its
            # close) still arrive, late, unless it keeps the connection open.
            await asyncio.wait({down}, timeout=delay + 10)
    finally:
        for task in (up, down):
            task.cancel()
        close(server_writer)
        close(client_writer)


async def serve(options, parent):
    delay = options.delay_ms / 1000.0
    sessions = set()

    async def accept(reader, writer):
        task = asyncio.current_task()
        sessions.add(task)
        try:
            await session(reader, writer, options.server_port, delay)
        finally:
            sessions.discard(task)

    server = await asyncio.start_server(accept, LOOPBACK, 0)
    print(server.sockets[0].getsockname()[1], flush=True)

    loop = asyncio.get_running_loop()
    stop = asyncio.Event()
    for number in (signal.SIGTERM, signal.SIGINT):
        loop.add_signal_handler(number, stop.set)
    deadline = time.monotonic() + options.max_seconds
    async with server:
        while not stop.is_set():
            # A parent that ended leaves this process to another one.
            if os.getppid() != parent or time.monotonic() >= deadline:
                break
            try:
                await asyncio.wait_for(stop.wait(), timeout=0.25)
            except asyncio.TimeoutError:
                pass
        server.close()
        for task in list(sessions):
            task.cancel()


def main():
    parser = argparse.ArgumentParser(description="A loopback FTP relay whose server replies come late.")
    parser.add_argument("--server-port", type=int, required=True, help="the FTP server's port on 127.0.0.1")
    parser.add_argument("--delay-ms", type=float, default=25.0, help="how late every reply arrives (default 25)")
    parser.add_argument("--max-seconds", type=float, default=3600.0,
                        help="stop after this long at the latest (default 3600)")
    parent = os.getppid()  # first, so that a parent ending during the start is noticed
    options = parser.parse_args()
    if options.delay_ms < 0 or options.max_seconds <= 0 or not 0 < options.server_port < 65536:
        parser.error("the delay must not be negative, the time limit must be positive, the port 1-65535")
    asyncio.run(serve(options, parent))


if __name__ == "__main__":
    main()
