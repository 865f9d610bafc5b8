"""The FTP server the benchmark scripts measure against: pyftpdlib serving one
folder read-only to one user, on a loopback address and a port of its own."""

import subprocess

_SERVER = r'''
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer
logging.basicConfig(level=logging.WARNING)
root, user, password, address = sys.argv[1:5]
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elr")
FTPHandler.authorizer = authorizer
server = FTPServer((address, 0), FTPHandler)
print(server.socket.getsockname()[1], flush=True)
server.serve_forever(handle_exit=True)
'''


class FtpServer:
    """Starts the server at once; `port` is known when the constructor returns.
    Use it as a context manager, or call stop()."""

    def __init__(self, root, user="bench", password="bench", address="127.0.0.1"):
        self.address = address
        self.process = subprocess.Popen(["/usr/bin/python3", "-c", _SERVER, root, user, password, address],
                                        stdout=subprocess.PIPE, text=True)
        line = self.process.stdout.readline()
        if not line.strip().isdigit():
            self.stop()
            raise SystemExit(f"the FTP server on {address} did not start")
        self.port = int(line)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
        self.process.wait()
        self.process.stdout.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
