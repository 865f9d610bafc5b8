#!/usr/bin/python3
"""A distant FTP server on loopback: relays FTP control connections to a server
on 127.0.0.1 and holds back everything that server sends on them by a fixed
delay, as a server tens of milliseconds away would answer.

    distant_server.py --server-port PORT [--delay-ms 25] [--max-seconds 3600]
                      [--link [--protocol ftp|tcp]]

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

With --link the model is a whole link whose round trip is `--delay-ms`: every
byte in both directions is delivered half the round trip after it was sent, on
the control connection and on the data connections, which go through the relay
too. The relay answers the server's PASV and EPSV replies with a port of its
own (a loopback listener that takes one data connection and relays it to the
port the server named), and charges each data connection the round trip its
set-up would cost: nothing passes on it before one round trip has gone by.
`--protocol tcp` relays any TCP protocol the same way without reading it (an
SSH server). What --link cannot see stays direct and undelayed: the data
connections of active mode (PORT and EPRT) and those named inside a control
connection secured with TLS.

Stops on SIGTERM or SIGINT, when the process that started it ends, and after
`--max-seconds` at the latest. Connects to nothing but 127.0.0.1.
"""

import argparse
import asyncio
import os
import re
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
    reading = asyncio.create_task(read_into(reader, queue, delay))
    try:
        await deliver_late(queue, writer)
    finally:
        reading.cancel()


async def deliver_late(queue, writer):
    """Writes what `queue` holds, each piece at its due time; b"" ends the side."""
    try:
        while True:
            due, data = await queue.get()
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                if writer.can_write_eof():
                    writer.write_eof()
                return
            writer.write(data)
            await writer.drain()
    except (ConnectionError, OSError):
        pass


async def read_into(reader, queue, delay, rewrite=None):
    """Reads `reader` and queues each piece for delivery `delay` after it came,
    then b"" for its end. `rewrite`, when given, sees every complete line first
    and may replace it."""
    pending = b""
    try:
        while True:
            data = await reader.read(CHUNK)
            if rewrite is not None and data:
                pending += data
                *lines, pending = pending.split(b"\n")
                data = b"".join([await rewrite(line + b"\n") for line in lines])
                if not data:
                    continue
            elif rewrite is not None and pending:
                # The end: what came of an unfinished line goes as it is.
                await queue.put((time.monotonic() + delay, pending))
            await queue.put((time.monotonic() + delay, data))
            if not data:
                return
    except (ConnectionError, OSError):
        await queue.put((time.monotonic() + delay, b""))


async def relay_link(client_reader, client_writer, server_reader, server_writer, half, rewrite=None, setup=0.0):
    """Both directions of one connection, each `half` late; nothing passes
    before `setup` has gone by."""
    up, down = asyncio.Queue(), asyncio.Queue()
    tasks = [
        asyncio.create_task(read_into(client_reader, up, half + setup)),
        asyncio.create_task(read_into(server_reader, down, half + setup, rewrite)),
    ]
    senders = [
        asyncio.create_task(deliver_late(up, server_writer)),
        asyncio.create_task(deliver_late(down, client_writer)),
    ]
    try:
        # The connection is over once the server's side has been delivered;
        # the client's side may still be open (a data connection the client
        # only reads).
        await senders[1]
        await asyncio.wait({senders[0]}, timeout=2 * half + 10)
    finally:
        for task in tasks + senders:
            task.cancel()


PASV_REPLY = re.compile(rb"^227 .*?(\d+),(\d+),(\d+),(\d+),(\d+),(\d+)")
EPSV_REPLY = re.compile(rb"^229 .*?\(([^0-9])\1\1(\d+)\1\)")


class DataRelays:
    """The listeners a control connection's passive replies name: each takes one
    data connection and relays it, late, to the server's port."""

    def __init__(self, half):
        self.half = half
        self.servers = []

    async def open(self, server_port):
        taken = asyncio.Event()

        async def accept(reader, writer):
            if taken.is_set():
                close(writer)
                return
            taken.set()
            listener.close()
            try:
                server_reader, server_writer = await asyncio.open_connection(LOOPBACK, server_port)
            except OSError:
                close(writer)
                return
            try:
                await relay_link(reader, writer, server_reader, server_writer, self.half, setup=2 * self.half)
            finally:
                close(server_writer)
                close(writer)

        listener = await asyncio.start_server(accept, LOOPBACK, 0)
        self.servers.append(listener)
        return listener.sockets[0].getsockname()[1]

    async def rewrite(self, line):
        match = PASV_REPLY.match(line)
        if match:
            port = await self.open(int(match.group(5)) * 256 + int(match.group(6)))
            return line[: match.start(1)] + b"127,0,0,1,%d,%d" % (port // 256, port % 256) + line[match.end(6):]
        match = EPSV_REPLY.match(line)
        if match:
            port = await self.open(int(match.group(2)))
            return line[: match.start(2)] + b"%d" % port + line[match.end(2):]
        return line

    def close(self):
        for listener in self.servers:
            listener.close()


def close(writer):
    try:
        writer.close()
    except (ConnectionError, OSError):
        pass


async def session(client_reader, client_writer, server_port, delay, options):
    try:
        server_reader, server_writer = await asyncio.open_connection(LOOPBACK, server_port)
    except OSError:
        close(client_writer)
        return
    if options.link:
        relays = DataRelays(delay / 2)
        rewrite = relays.rewrite if options.protocol == "ftp" else None
        try:
            await relay_link(client_reader, client_writer, server_reader, server_writer, delay / 2, rewrite)
        finally:
            relays.close()
            close(server_writer)
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
            await session(reader, writer, options.server_port, delay, options)
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
    parser.add_argument("--link", action="store_true",
                        help="delay every byte both ways by half the delay, data connections too")
    parser.add_argument("--protocol", choices=("ftp", "tcp"), default="ftp",
                        help="with --link: ftp relays passive data connections too; tcp reads nothing")
    parser.add_argument("--max-seconds", type=float, default=3600.0,
                        help="stop after this long at the latest (default 3600)")
    parent = os.getppid()  # first, so that a parent ending during the start is noticed
    options = parser.parse_args()
    if options.delay_ms < 0 or options.max_seconds <= 0 or not 0 < options.server_port < 65536:
        parser.error("the delay must not be negative, the time limit must be positive, the port 1-65535")
    asyncio.run(serve(options, parent))


if __name__ == "__main__":
    main()
