#!/usr/bin/python3
# A scripted SFTP server for faults a real sshd does not produce.
#
#   scripted_sftp_server.py ROOT AUTH PASSWORD [FAULT...]
#
# ROOT is served as "/". AUTH names the sign-in methods offered, separated by
# commas: "password" and "keyboard-interactive" are answered by PASSWORD,
# "publickey" by the keys of ROOT/../authorized_keys. Prints the port on the
# first line and writes the host key's fingerprint to ROOT/../fingerprint.
# Files named
#   denied.bin  cannot be opened (permission denied)
#   drop.bin    the connection breaks at the first read past 64 KiB
#   stall.bin   reads past 64 KiB are never answered
#   stall/      the folder's listing is never answered
#   *.noperm*   are listed without their permissions (and so without a type)
#
# A FAULT is STAGE:ACTION[:CONNECTIONS], the hostile part: at STAGE of each
# connection it applies to, the server does ACTION.
#   STAGE       kex       while the keys are exchanged
#               auth      at the first sign-in request
#               auth-try  at the first real sign-in attempt (a password, a key)
#               channel   once signed in, as the session channel opens
#               sftp      as the SFTP subsystem starts
#               listing   in the middle of a folder's listing
#               file      in the middle of a file (its first read past the start)
#   ACTION      cut       the connection ends without a word
#               hangup    the server says goodbye with a reason (at auth and
#                         auth-try, sshd's "Too many authentication failures")
#               stall     the server never answers again
#   CONNECTIONS the connections it applies to, counted from 1 in the order
#               they come: "2", "2-" (the second and later), "2-4"; all when
#               left out
import asyncio
import os
import sys
import warnings

warnings.simplefilter("ignore")
import asyncssh  # noqa: E402
from asyncssh.sftp import FXP_READDIR, SFTPServerHandler  # noqa: E402

root, auth, secret = sys.argv[1:4]
methods = auth.split(",")
STAGES = ("kex", "auth", "auth-try", "channel", "sftp", "listing", "file")
ACTIONS = ("cut", "hangup", "stall")


def parse_fault(text):
    parts = text.split(":")
    if len(parts) not in (2, 3) or parts[0] not in STAGES or parts[1] not in ACTIONS:
        sys.exit("bad fault: " + text)
    first, last = 1, None
    if len(parts) == 3:
        low, dash, high = parts[2].partition("-")
        first = int(low)
        last = (int(high) if high else None) if dash else first
    return parts[0], parts[1], first, last


faults = [parse_fault(text) for text in sys.argv[4:]]
connections = 0


def action_for(stage, number):
    for fault_stage, action, first, last in faults:
        if fault_stage == stage and number >= first and (last is None or number <= last):
            return action
    return None


async def act(conn, stage, number):
    """Does what the faults say at this stage; returns only when nothing is to be done."""
    action = action_for(stage, number)
    if action is None:
        return
    if action == "cut":
        conn.abort()
    elif action == "hangup":
        reason = "Too many authentication failures" if stage.startswith("auth") else "Closed by the script"
        conn.disconnect(asyncssh.DISC_PROTOCOL_ERROR, reason)
    else:
        conn._transport.pause_reading()
    await asyncio.Future()


class Server(asyncssh.SSHServer):
    def __init__(self):
        global connections
        connections += 1
        self.number = connections
        self.conn = None
        self.tried = False

    def connection_made(self, conn):
        self.conn = conn
        conn.taskhaul_number = self.number
        if action_for("kex", self.number):
            asyncio.get_running_loop().create_task(act(conn, "kex", self.number))

    async def begin_auth(self, username):
        await act(self.conn, "auth", self.number)
        return True

    async def attempt(self):
        if not self.tried:
            self.tried = True
            await act(self.conn, "auth-try", self.number)

    def auth_completed(self):
        if action_for("channel", self.number):
            asyncio.get_running_loop().create_task(act(self.conn, "channel", self.number))

    def password_auth_supported(self):
        return "password" in methods

    async def validate_password(self, username, given):
        await self.attempt()
        return given == secret

    def kbdint_auth_supported(self):
        return "keyboard-interactive" in methods

    def get_kbdint_challenge(self, username, lang, submethods):
        return "", "", "", [("Password: ", False)]

    async def validate_kbdint_response(self, username, responses):
        await self.attempt()
        return list(responses) == [secret]

    def public_key_auth_supported(self):
        return "publickey" in methods

    async def validate_public_key(self, username, key):
        await self.attempt()
        authorized = asyncssh.read_authorized_keys(os.path.join(root, "..", "authorized_keys"))
        return authorized.validate(key, "127.0.0.1", "127.0.0.1") is not None


class Sftp(asyncssh.SFTPServer):
    def __init__(self, chan):
        super().__init__(chan, chroot=root.encode())
        self._channel = chan
        self.number = getattr(chan.get_connection(), "taskhaul_number", 0)
        self.readdirs = 0
        if action_for("sftp", self.number):
            asyncio.get_running_loop().create_task(act(chan.get_connection(), "sftp", self.number))

    def open(self, path, pflags, attrs):
        if path.endswith(b"/denied.bin"):
            raise asyncssh.SFTPError(asyncssh.FX_PERMISSION_DENIED, "Permission denied")
        return super().open(path, pflags, attrs)

    async def read(self, file_obj, offset, size):
        name = getattr(file_obj, "name", "")
        name = name.decode() if isinstance(name, bytes) else str(name)
        if offset > 0:
            await act(self._channel.get_connection(), "file", self.number)
        if offset >= 65536 and name.endswith("/drop.bin"):
            self._channel.get_connection().abort()
            await asyncio.sleep(3600)
        if offset >= 65536 and name.endswith("/stall.bin"):
            await asyncio.sleep(3600)
        return super().read(file_obj, offset, size)

    async def listdir(self, path):
        if path.rstrip(b"/").endswith(b"stall"):
            await asyncio.sleep(3600)
        names = []
        for name in super().listdir(path):
            attrs = asyncssh.SFTPAttrs.from_local(super().lstat(os.path.join(path, name)))
            if b".noperm" in name:
                attrs.permissions = None
            names.append(asyncssh.SFTPName(name, attrs=attrs))
        return names


# A listing is cut in its middle: at its second READDIR, once the client has
# had names but not the end.
plain_readdir = SFTPServerHandler._packet_handlers[FXP_READDIR]


async def readdir(handler, packet):
    server = handler._server
    server.readdirs += 1
    if server.readdirs >= 2:
        await act(server._channel.get_connection(), "listing", server.number)
    return await plain_readdir(handler, packet)


SFTPServerHandler._packet_handlers[FXP_READDIR] = readdir


def quiet_about_waits(loop, context):
    # A connection cut or given up on leaves the waits of its faults behind.
    if not context.get("message", "").startswith("Task was destroyed but it is pending"):
        loop.default_exception_handler(context)


async def outlive_no_parent():
    # A test that dies without stopping the server takes it along.
    parent = os.getppid()
    while os.getppid() == parent:
        await asyncio.sleep(0.5)
    os._exit(0)


async def main():
    asyncio.get_running_loop().set_exception_handler(quiet_about_waits)
    key = asyncssh.generate_private_key("ssh-ed25519")
    with open(os.path.join(root, "..", "fingerprint"), "w") as out:
        out.write(key.get_fingerprint("sha256"))
    server = await asyncssh.listen(
        "127.0.0.1", 0, server_host_keys=[key], server_factory=Server, sftp_factory=Sftp, allow_scp=False
    )
    print(server.sockets[0].getsockname()[1], flush=True)
    await outlive_no_parent()


asyncio.run(main())
