#include "ftp/pyftpd_server.h"
#include "ftp/spawn.h"

#include "base/scope_exit.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace taskhaul::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kPython = "/usr/bin/python3";

// Binds port 0 itself and prints the port it got, so that no port is guessed.
constexpr const char* kScript = R"PY(
import logging, sys
from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer

root, user, password = sys.argv[1], sys.argv[2], sys.argv[3]
logging.basicConfig(level=logging.WARNING)
authorizer = DummyAuthorizer()
authorizer.add_user(user, password, root, perm="elradfmwMT")
authorizer.add_anonymous(root, perm="elr")
class Handler(FTPHandler):
    pass
Handler.authorizer = authorizer
Handler.banner = "pyftpdlib ready."
Handler.passive_ports = None
server = FTPServer(("127.0.0.1", 0), Handler)
server.max_cons = 64
print(server.socket.getsockname()[1], flush=True)
server.serve_forever(handle_exit=True)
)PY";

} // namespace

void RequirePyftpdlib()
{
    if (::access(kPython, X_OK) != 0)
        throw std::runtime_error("/usr/bin/python3 is missing: install Debian's python3 and "
                                 "python3-pyftpdlib (scripts/setup.sh).");
    const int pid = Spawn({ kPython, "-c", "import pyftpdlib" }, -1);
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("pyftpdlib cannot be imported by /usr/bin/python3: install Debian's "
                                 "python3-pyftpdlib (scripts/setup.sh installs it).");
}

PyFtpdServer::PyFtpdServer()
    : PyFtpdServer(Options {})
{
}

PyFtpdServer::PyFtpdServer(Options options)
    : options_(std::move(options))
{
    RequirePyftpdlib();
    std::string pattern = (fs::temp_directory_path() / "taskhaul-pyftpd-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    scratch_ = pattern;
    if (options_.root.empty()) {
        root_ = scratch_ + "/root";
        fs::create_directory(root_);
        ownsRoot_ = true;
    } else {
        root_ = options_.root;
    }
    const std::string script = scratch_ + "/server.py";
    std::ofstream(script) << kScript;

    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    base::ScopeExit closePipe { [&pipeFds]() noexcept {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
    } };
    pid_ = Spawn({ kPython, script, root_, options_.user, options_.password }, pipeFds[1]);
    closePipe.Release();
    ::close(pipeFds[1]);

    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd entry { pipeFds[0], POLLIN, 0 };
        if (::poll(&entry, 1, 100) <= 0)
            continue;
        char buffer[64];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        line.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(pipeFds[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) {
        stop();
        throw std::runtime_error("pyftpdlib did not start (no port reported); see its output above.");
    }
}

PyFtpdServer::~PyFtpdServer()
{
    stop();
    std::error_code ignored;
    if (!scratch_.empty())
        fs::remove_all(scratch_, ignored);
}

void PyFtpdServer::stop()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        int status = 0;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
}

void PyFtpdServer::writeFile(const std::string& relativePath, const std::string& content) const
{
    const fs::path path = fs::path(root_) / relativePath;
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("Cannot write " + path.string());
}

void PyFtpdServer::makeFolder(const std::string& relativePath) const
{
    fs::create_directories(fs::path(root_) / relativePath);
}

} // namespace taskhaul::test
