#!/usr/bin/python3
# A scripted SFTP server for faults a real sshd does not produce.
#
#   scripted_sftp_server.py ROOT AUTH PASSWORD
#
# ROOT is served as "/". AUTH is "password" or "keyboard-interactive": the
# only method offered, answered by PASSWORD. Prints the port on the first line
# and writes the host key's fingerprint to ROOT/../fingerprint. Files named
#   denied.bin  cannot be opened (permission denied)
#   drop.bin    the connection breaks at the first read past 64 KiB
#   stall.bin   reads past 64 KiB are never answered
#   stall/      the folder's listing is never answered
import asyncio
import os
import sys
import warnings

warnings.simplefilter("ignore")
import asyncssh  # noqa: E402

root, auth, password = sys.argv[1:4]


class Server(asyncssh.SSHServer):
    def begin_auth(self, username):
        return True

    def password_auth_supported(self):
        return auth == "password"

    def validate_password(self, username, given):
        return given == password

    def kbdint_auth_supported(self):
        return auth == "keyboard-interactive"

    def get_kbdint_challenge(self, username, lang, submethods):
        return "", "", "", [("Password: ", False)]

    def validate_kbdint_response(self, username, responses):
        return list(responses) == [password]


class Sftp(asyncssh.SFTPServer):
    def __init__(self, chan):
        super().__init__(chan, chroot=root.encode())
        self._channel = chan

    def open(self, path, pflags, attrs):
        if path.endswith(b"/denied.bin"):
            raise asyncssh.SFTPError(asyncssh.FX_PERMISSION_DENIED, "Permission denied")
        return super().open(path, pflags, attrs)

    async def read(self, file_obj, offset, size):
        name = getattr(file_obj, "name", "")
        name = name.decode() if isinstance(name, bytes) else str(name)
        if offset >= 65536 and name.endswith("/drop.bin"):
            self._channel.get_connection().abort()
            await asyncio.sleep(3600)
        if offset >= 65536 and name.endswith("/stall.bin"):
            await asyncio.sleep(3600)
        return super().read(file_obj, offset, size)

    async def listdir(self, path):
        if path.rstrip(b"/").endswith(b"stall"):
            await asyncio.sleep(3600)
        return super().listdir(path)


async def main():
    key = asyncssh.generate_private_key("ssh-ed25519")
    with open(os.path.join(root, "..", "fingerprint"), "w") as out:
        out.write(key.get_fingerprint("sha256"))
    server = await asyncssh.listen(
        "127.0.0.1", 0, server_host_keys=[key], server_factory=Server, sftp_factory=Sftp, allow_scp=False
    )
    print(server.sockets[0].getsockname()[1], flush=True)
    await asyncio.Future()


asyncio.run(main())
