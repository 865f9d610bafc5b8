#include "ftp/scripted_ftp_server.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace taskhaul::test {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

void CloseFd(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

int ListenLoopback(int& port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error(std::string("socket: ") + std::strerror(errno));
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error(std::string("listen: ") + std::strerror(errno));
    }
    port = ntohs(address.sin_port);
    return fd;
}

int MillisecondsLeft(SteadyClock::time_point deadline)
{
    const auto left
        = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - SteadyClock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 1000000));
}

std::string ToUpper(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

} // namespace

// ---- FtpSession ----

FtpSession::FtpSession(ScriptedFtpServer& server, int controlFd)
    : server_(server)
    , controlFd_(controlFd)
{
}

FtpSession::~FtpSession()
{
    closeData();
    CloseFd(passiveFd_);
    CloseFd(controlFd_);
}

void FtpSession::send(std::string_view raw)
{
    while (controlFd_ >= 0 && !raw.empty()) {
        const ssize_t n = ::send(controlFd_, raw.data(), raw.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return;
        }
        raw.remove_prefix(static_cast<std::size_t>(n));
    }
}

void FtpSession::sleep(std::chrono::milliseconds duration)
{
    // Interruptible by the server's shutdown.
    pollfd entry { server_.stopPipe_[0], POLLIN, 0 };
    ::poll(&entry, 1, static_cast<int>(duration.count()));
}

void FtpSession::close()
{
    closeData();
    CloseFd(controlFd_);
}

void FtpSession::openPassiveListener()
{
    CloseFd(passiveFd_);
    passiveFd_ = ListenLoopback(passivePort_);
    activePort_ = 0;
}

void FtpSession::setActiveAddress(std::string host, int port)
{
    CloseFd(passiveFd_);
    activeHost_ = std::move(host);
    activePort_ = port;
}

bool FtpSession::openData(std::chrono::milliseconds timeout)
{
    closeData();
    if (passiveFd_ >= 0) {
        pollfd entries[2] = { { passiveFd_, POLLIN, 0 }, { server_.stopPipe_[0], POLLIN, 0 } };
        if (::poll(entries, 2, static_cast<int>(timeout.count())) <= 0 || (entries[1].revents & POLLIN))
            return false;
        dataFd_ = ::accept4(passiveFd_, nullptr, nullptr, SOCK_CLOEXEC);
        CloseFd(passiveFd_);
        return dataFd_ >= 0;
    }
    if (activePort_ > 0) {
        dataFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(activePort_));
        ::inet_pton(AF_INET, activeHost_.c_str(), &address.sin_addr);
        if (::connect(dataFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            CloseFd(dataFd_);
            return false;
        }
        activePort_ = 0;
        return true;
    }
    return false;
}

void FtpSession::closeData()
{
    CloseFd(dataFd_);
}

std::optional<std::string> FtpSession::readLine(std::chrono::milliseconds timeout)
{
    const auto deadline = SteadyClock::now() + timeout;
    for (;;) {
        const auto end = input_.find('\n');
        if (end != std::string::npos) {
            std::string line = input_.substr(0, end);
            input_.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        if (controlFd_ < 0)
            return std::nullopt;
        pollfd entries[2] = { { controlFd_, POLLIN, 0 }, { server_.stopPipe_[0], POLLIN, 0 } };
        const int ready = ::poll(entries, 2, MillisecondsLeft(deadline));
        if (ready <= 0 || (entries[1].revents & POLLIN))
            return std::nullopt;
        char buffer[4096];
        const ssize_t n = ::recv(controlFd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            CloseFd(controlFd_);
            return std::nullopt;
        }
        input_.append(buffer, static_cast<std::size_t>(n));
    }
}

bool FtpSession::abortSeen(std::chrono::milliseconds wait)
{
    // Looks at the next complete line only when it is there already (or arrives
    // within the wait); any other command stays queued for the session loop.
    const auto end = input_.find('\n');
    if (end == std::string::npos) {
        if (controlFd_ < 0)
            return false;
        pollfd entry { controlFd_, POLLIN, 0 };
        if (::poll(&entry, 1, static_cast<int>(wait.count())) <= 0)
            return false;
        char buffer[4096];
        const ssize_t n = ::recv(controlFd_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n <= 0)
            return false;
        input_.append(buffer, static_cast<std::size_t>(n));
        if (input_.find('\n') == std::string::npos)
            return false;
    }
    std::string line = input_.substr(0, input_.find('\n'));
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (ToUpper(line) != "ABOR")
        return false;
    input_.erase(0, input_.find('\n') + 1);
    server_.record(line);
    return true;
}

bool FtpSession::sendData(std::string_view bytes, std::size_t chunkSize, std::chrono::milliseconds chunkDelay)
{
    if (chunkSize == 0)
        chunkSize = std::max<std::size_t>(bytes.size(), 1);
    while (!bytes.empty()) {
        if (abortSeen(0ms))
            return false;
        const auto piece = bytes.substr(0, chunkSize);
        std::string_view rest = piece;
        while (!rest.empty()) {
            pollfd entries[3]
                = { { dataFd_, POLLOUT, 0 }, { server_.stopPipe_[0], POLLIN, 0 }, { controlFd_, POLLIN, 0 } };
            ::poll(entries, controlFd_ >= 0 ? 3 : 2, 100);
            if (entries[1].revents & POLLIN)
                return false; // the server is shutting down
            if (entries[2].revents & POLLIN) {
                if (abortSeen(0ms))
                    return false;
            }
            if (!(entries[0].revents & (POLLOUT | POLLERR | POLLHUP)))
                continue;
            const ssize_t n = ::send(dataFd_, rest.data(), rest.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n < 0) {
                if (errno == EINTR || errno == EAGAIN)
                    continue;
                return false; // the client closed the data connection
            }
            rest.remove_prefix(static_cast<std::size_t>(n));
        }
        bytes.remove_prefix(piece.size());
        if (chunkDelay.count() > 0 && !bytes.empty()) {
            if (abortSeen(chunkDelay))
                return false;
        }
    }
    return true;
}

bool FtpSession::waitForAbort(std::chrono::milliseconds timeout)
{
    const auto deadline = SteadyClock::now() + timeout;
    while (SteadyClock::now() < deadline) {
        if (abortSeen(50ms))
            return true;
        if (controlFd_ < 0)
            return false;
        if (dataFd_ >= 0) {
            pollfd entry { dataFd_, POLLIN, 0 };
            if (::poll(&entry, 1, 0) > 0) {
                char buffer[256];
                if (::recv(dataFd_, buffer, sizeof buffer, MSG_DONTWAIT) <= 0) {
                    // The client dropped the data connection; an ABOR usually follows.
                    closeData();
                    return abortSeen(1000ms);
                }
            }
        }
        pollfd stop { server_.stopPipe_[0], POLLIN, 0 };
        if (::poll(&stop, 1, 0) > 0)
            return false;
    }
    return false;
}

void FtpSession::runTransfer(
    const DataPlan& plan, const std::string& content, bool isFile, const std::string& name)
{
    const std::string bytes = plan.bytes ? *plan.bytes : content;
    std::string preliminary = plan.preliminary;
    if (preliminary.empty()) {
        preliminary = isFile ? "150 Opening BINARY mode data connection for " + name + " ("
                + std::to_string(bytes.size()) + " bytes).\r\n"
                             : "150 Opening ASCII mode data connection for file list.\r\n";
    }
    if (plan.neverConnect) {
        send(preliminary);
        if (waitForAbort(60000ms))
            send(plan.abortReplies);
        CloseFd(passiveFd_);
        return;
    }
    if (!openData()) {
        send("425 Can't open data connection.\r\n");
        return;
    }
    send(preliminary);
    std::string_view toSend = bytes;
    if (plan.cutAfter)
        toSend = toSend.substr(0, std::min(*plan.cutAfter, toSend.size()));
    const std::size_t offset = static_cast<std::size_t>(std::max<std::int64_t>(0, restartOffset));
    restartOffset = 0;
    toSend = toSend.substr(std::min(offset, toSend.size()));
    bool aborted = !sendData(toSend, plan.chunkSize, plan.chunkDelay);
    if (!aborted && plan.stallAfterSending)
        aborted = waitForAbort(60000ms);
    closeData();
    if (aborted) {
        // The ABOR was seen during the transfer, or arrives right after the client
        // dropped the data connection.
        const auto received = server_.commands();
        const bool abortRecorded
            = (!received.empty() && ToUpper(received.back()) == "ABOR") || abortSeen(2000ms);
        send(abortRecorded ? plan.abortReplies : std::string("426 Data connection closed.\r\n"));
        return;
    }
    if (plan.finalDelay.count() > 0)
        sleep(plan.finalDelay);
    send(plan.final);
}

// ---- ScriptedFtpServer ----

ScriptedFtpServer::ScriptedFtpServer()
{
    if (::pipe2(stopPipe_, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    listenFd_ = ListenLoopback(port_);
    installDefaults();
    thread_ = std::thread([this] { run(); });
}

ScriptedFtpServer::~ScriptedFtpServer()
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(stopPipe_[1], &byte, 1);
    thread_.join();
    for (std::thread& session : sessionThreads_)
        session.join();
    CloseFd(listenFd_);
    CloseFd(stopPipe_[0]);
    CloseFd(stopPipe_[1]);
}

void ScriptedFtpServer::run()
{
    for (;;) {
        pollfd entries[2] = { { listenFd_, POLLIN, 0 }, { stopPipe_[0], POLLIN, 0 } };
        if (::poll(entries, 2, -1) < 0 && errno != EINTR)
            return;
        if (entries[1].revents & POLLIN)
            return;
        if (entries[0].revents & POLLIN) {
            const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            bool concurrent = false;
            {
                std::lock_guard lock(mutex_);
                concurrent = concurrent_;
            }
            if (fd >= 0 && concurrent)
                sessionThreads_.emplace_back([this, fd] { serve(fd); });
            else if (fd >= 0)
                serve(fd);
        }
    }
}

void ScriptedFtpServer::serve(int controlFd)
{
    FtpSession session(*this, controlFd);
    std::string greeting;
    std::chrono::milliseconds delay;
    {
        std::lock_guard lock(mutex_);
        ++sessions_;
        sessionActive_ = true;
        greeting = greeting_;
        delay = greetingDelay_;
        ++activeSessions_;
        if (sessionLimit_ > 0 && activeSessions_ > sessionLimit_) {
            greeting = refusal_;
            delay = std::chrono::milliseconds(0);
        } else {
            mostAtOnce_ = std::max(mostAtOnce_, activeSessions_);
        }
    }
    const bool refused = greeting == refusal_ && !refusal_.empty();
    if (delay.count() > 0)
        session.sleep(delay);
    session.send(greeting);
    if (refused)
        session.close();
    while (!session.closed()) {
        auto line = session.readLine(std::chrono::hours(1));
        if (!line)
            break;
        record(*line);
        const auto blank = line->find(' ');
        const std::string verb = ToUpper(line->substr(0, blank));
        const std::string argument = blank == std::string::npos ? std::string() : line->substr(blank + 1);
        if (auto handler = handlerFor(verb))
            handler(session, argument);
        else
            session.send("500 Unknown command.\r\n");
    }
    std::lock_guard lock(mutex_);
    sessionActive_ = false;
    --activeSessions_;
}

void ScriptedFtpServer::serveConcurrently(int most, std::string refusal)
{
    std::lock_guard lock(mutex_);
    concurrent_ = true;
    sessionLimit_ = most;
    refusal_ = std::move(refusal);
}

int ScriptedFtpServer::mostSessionsAtOnce() const
{
    std::lock_guard lock(mutex_);
    return mostAtOnce_;
}

void ScriptedFtpServer::installDefaults()
{
    const auto fixed
        = [](std::string raw) { return [raw](FtpSession& s, const std::string&) { s.send(raw); }; };
    handlers_["USER"] = fixed("331 Password required.\r\n");
    handlers_["PASS"] = fixed("230 Logged in.\r\n");
    handlers_["TYPE"] = fixed("200 Type set.\r\n");
    handlers_["SYST"] = fixed("215 UNIX Type: L8\r\n");
    handlers_["CWD"] = fixed("250 Directory changed.\r\n");
    handlers_["PRET"] = fixed("200 Ready.\r\n");
    handlers_["SITE"] = fixed("200 SITE command successful.\r\n");
    handlers_["OPEN"] = fixed("220 Connected.\r\n");
    handlers_["NOOP"] = fixed("200 OK.\r\n");
    handlers_["ABOR"] = fixed("225 No transfer to abort.\r\n");
    handlers_["QUIT"] = [](FtpSession& s, const std::string&) {
        s.send("221 Goodbye.\r\n");
        s.close();
    };
    handlers_["FEAT"] = [this](FtpSession& s, const std::string&) {
        std::string raw;
        {
            std::lock_guard lock(mutex_);
            raw = features_;
        }
        s.send(raw);
    };
    handlers_["SIZE"] = [this](FtpSession& s, const std::string& name) {
        bool found = false;
        const auto content = fileContent(name, found);
        s.send(
            found ? "213 " + std::to_string(content.size()) + "\r\n" : "550 " + name + ": No such file.\r\n");
    };
    handlers_["REST"] = [](FtpSession& s, const std::string& offset) {
        s.restartOffset = std::stoll(offset.empty() ? "0" : offset);
        s.send("350 Restarting at " + offset + ".\r\n");
    };
    handlers_["PASV"] = [this](FtpSession& s, const std::string&) {
        s.openPassiveListener();
        const int port = passivePortOverride().value_or(s.passivePort());
        s.send("227 Entering Passive Mode (" + passiveAddress() + "," + std::to_string(port / 256) + ","
            + std::to_string(port % 256) + ").\r\n");
    };
    handlers_["PORT"] = [](FtpSession& s, const std::string& argument) {
        int n[6] = {};
        if (std::sscanf(argument.c_str(), "%d,%d,%d,%d,%d,%d", &n[0], &n[1], &n[2], &n[3], &n[4], &n[5])
            != 6) {
            s.send("501 Syntax error in PORT.\r\n");
            return;
        }
        s.setActiveAddress(std::to_string(n[0]) + "." + std::to_string(n[1]) + "." + std::to_string(n[2])
                + "." + std::to_string(n[3]),
            n[4] * 256 + n[5]);
        s.send("200 PORT command successful.\r\n");
    };
    handlers_["RETR"] = [this](FtpSession& s, const std::string& name) {
        bool found = false;
        const auto content = fileContent(name, found);
        if (!found) {
            s.send("550 " + name + ": No such file.\r\n");
            return;
        }
        s.runTransfer(dataPlan(name).value_or(DataPlan {}), content, true, name);
    };
    handlers_["LIST"] = [this](FtpSession& s, const std::string&) {
        s.runTransfer(dataPlan("LIST").value_or(DataPlan {}), listing(), false, {});
    };
    handlers_["NLST"] = handlers_["LIST"];
}

ScriptedFtpServer::Handler ScriptedFtpServer::handlerFor(const std::string& verb) const
{
    std::lock_guard lock(mutex_);
    const auto it = handlers_.find(verb);
    return it == handlers_.end() ? Handler {} : it->second;
}

void ScriptedFtpServer::setGreeting(std::string raw)
{
    std::lock_guard lock(mutex_);
    greeting_ = std::move(raw);
}

void ScriptedFtpServer::setGreetingDelay(std::chrono::milliseconds delay)
{
    std::lock_guard lock(mutex_);
    greetingDelay_ = delay;
}

void ScriptedFtpServer::on(const std::string& verb, Handler handler)
{
    std::lock_guard lock(mutex_);
    handlers_[ToUpper(verb)] = std::move(handler);
}

void ScriptedFtpServer::reply(const std::string& verb, std::string raw)
{
    on(verb, [raw = std::move(raw)](FtpSession& s, const std::string&) { s.send(raw); });
}

void ScriptedFtpServer::replySequence(const std::string& verb, std::vector<std::string> raws)
{
    const std::string key = ToUpper(verb);
    on(verb, [this, key, raws = std::move(raws)](FtpSession& s, const std::string&) {
        std::size_t index;
        {
            std::lock_guard lock(mutex_);
            index = std::min(sequenceIndex_[key]++, raws.size() - 1);
        }
        s.send(raws[index]);
    });
}

void ScriptedFtpServer::silence(const std::string& verb)
{
    on(verb, [](FtpSession&, const std::string&) {});
}

void ScriptedFtpServer::closeOn(const std::string& verb)
{
    on(verb, [](FtpSession& s, const std::string&) { s.close(); });
}

void ScriptedFtpServer::addFile(const std::string& name, std::string content)
{
    std::lock_guard lock(mutex_);
    files_[name] = std::move(content);
}

void ScriptedFtpServer::setListing(std::string text)
{
    std::lock_guard lock(mutex_);
    listing_ = std::move(text);
    listingSet_ = true;
}

void ScriptedFtpServer::setDataPlan(const std::string& nameOrList, DataPlan plan)
{
    std::lock_guard lock(mutex_);
    plans_[nameOrList] = std::move(plan);
}

void ScriptedFtpServer::setPassiveAddress(std::string commaSeparated)
{
    std::lock_guard lock(mutex_);
    passiveAddress_ = std::move(commaSeparated);
}

void ScriptedFtpServer::setPassivePortOverride(int port)
{
    std::lock_guard lock(mutex_);
    passivePortOverride_ = port;
}

void ScriptedFtpServer::setFeatures(std::string raw)
{
    std::lock_guard lock(mutex_);
    features_ = std::move(raw);
}

std::vector<std::string> ScriptedFtpServer::commands() const
{
    std::lock_guard lock(mutex_);
    return commands_;
}

std::vector<std::string> ScriptedFtpServer::argumentsOf(const std::string& verb) const
{
    const std::string prefix = verb + ' ';
    std::vector<std::string> arguments;
    for (const std::string& line : commands())
        if (line.rfind(prefix, 0) == 0)
            arguments.push_back(line.substr(prefix.size()));
    return arguments;
}

bool ScriptedFtpServer::waitForCommands(std::size_t count, std::chrono::milliseconds timeout) const
{
    const auto deadline = SteadyClock::now() + timeout;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (commands_.size() >= count)
                return true;
        }
        if (SteadyClock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
}

int ScriptedFtpServer::sessionCount() const
{
    std::lock_guard lock(mutex_);
    return sessions_;
}

bool ScriptedFtpServer::waitForSessionEnd(std::chrono::milliseconds timeout) const
{
    const auto deadline = SteadyClock::now() + timeout;
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (!sessionActive_ && sessions_ > 0)
                return true;
        }
        if (SteadyClock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(5ms);
    }
}

std::string ScriptedFtpServer::fileContent(const std::string& name, bool& found) const
{
    std::lock_guard lock(mutex_);
    const auto it = files_.find(name);
    found = it != files_.end();
    return found ? it->second : std::string();
}

std::string ScriptedFtpServer::listing() const
{
    std::lock_guard lock(mutex_);
    if (listingSet_)
        return listing_;
    std::string text;
    for (const auto& [name, content] : files_)
        text += "-rw-r--r--    1 ftp      ftp      " + std::to_string(content.size()) + " Jan 01  2026 "
            + name + "\r\n";
    return text;
}

std::optional<DataPlan> ScriptedFtpServer::dataPlan(const std::string& nameOrList) const
{
    std::lock_guard lock(mutex_);
    const auto it = plans_.find(nameOrList);
    return it == plans_.end() ? std::nullopt : std::optional<DataPlan>(it->second);
}

std::string ScriptedFtpServer::passiveAddress() const
{
    std::lock_guard lock(mutex_);
    return passiveAddress_;
}

std::optional<int> ScriptedFtpServer::passivePortOverride() const
{
    std::lock_guard lock(mutex_);
    return passivePortOverride_;
}

void ScriptedFtpServer::record(const std::string& line)
{
    std::lock_guard lock(mutex_);
    commands_.push_back(line);
}

} // namespace taskhaul::test
