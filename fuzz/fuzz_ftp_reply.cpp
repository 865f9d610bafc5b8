// The control connection's reply reader: the input is everything a server sends
// on the control connection, in parts, before it closes its side. The real client
// connects to a listener on 127.0.0.1 and runs a short session over it: the
// greeting, the login (directly or by a proxy scheme), FEAT, TYPE, SYST, then
// CWD, SIZE and NOOP. No data connection is ever opened.
//
// Run a reproducer with TASKHAUL_FUZZ_TRACE=1 to see how its session ended.
//
// The first input byte chooses the session: its low 3 bits the proxy scheme
// (6 and 7 mean none), bit 3 turns the automatic login off. The rest is what the
// server sends, cut into parts by 0xFF bytes (see LoopbackServer). The server
// lives in the client's pump callback and never blocks, so the fuzzer stays
// single-threaded and every run goes the same way.

#include "ftp/ftp_client.h"
#include "ftp/ftp_errors.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include <arpa/inet.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using namespace taskhaul::ftp;

// A server that answers from a script: the script's parts, separated by 0xFF
// bytes, go out one after the other. The first goes out when the connection is
// taken, each further one when the client has sent one more command line or,
// failing that, when the client has come back to the pump twice with nothing
// new (it waits for the rest of a reply). With nothing left to send, such a wait
// makes the server close its sending side.
class LoopbackServer {
public:
    static constexpr char kPartSeparator = '\xff';

    LoopbackServer()
    {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (listener_ < 0 || ::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0
            || ::listen(listener_, 8) != 0
            || ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("fuzz_ftp_reply: loopback listener");
            std::abort();
        }
        port_ = ntohs(address.sin_port);
    }

    int Port() const { return port_; }

    void Begin(std::string_view script)
    {
        parts_.clear();
        for (;;) {
            const auto end = script.find(kPartSeparator);
            parts_.push_back(script.substr(0, end));
            if (end == std::string_view::npos)
                break;
            script.remove_prefix(end + 1);
        }
        partsSent_ = 0;
        unsent_ = {};
        commandLines_ = 0;
        idlePumps_ = 0;
        shut_ = false;
    }

    // One step of the server; called from the client's pump.
    void Step()
    {
        if (peer_ < 0) {
            peer_ = ::accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (peer_ < 0)
                return;
            // Every part goes out at once, not held back until the last is acknowledged.
            const int on = 1;
            ::setsockopt(peer_, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            StartPart();
        }
        bool progress = Flush();
        char received[4096];
        for (ssize_t n; (n = ::recv(peer_, received, sizeof received, 0)) > 0;) {
            commandLines_ += static_cast<std::size_t>(std::count(received, received + n, '\n'));
            progress = true;
        }
        if (!unsent_.empty() || shut_)
            return;
        // Bytes the kernel has not put on their way yet are progress too.
        int unsentBytes = 0;
        if (::ioctl(peer_, SIOCOUTQNSD, &unsentBytes) != 0 || unsentBytes > 0)
            progress = true;
        idlePumps_ = progress ? 0 : idlePumps_ + 1;
        const bool clientWaits = idlePumps_ >= 2;
        if (partsSent_ < parts_.size() && (commandLines_ >= partsSent_ || clientWaits)) {
            StartPart();
            Flush();
        } else if (partsSent_ == parts_.size() && clientWaits) {
            ::shutdown(peer_, SHUT_WR);
            shut_ = true;
        }
    }

    // Drops the connection at once with a reset.
    void End()
    {
        if (peer_ >= 0) {
            const linger abortive { 1, 0 };
            ::setsockopt(peer_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
            ::close(peer_);
            peer_ = -1;
        }
        // A connection the pump never took (the client gave up first).
        for (int stray; (stray = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC)) >= 0;)
            ::close(stray);
    }

private:
    void StartPart()
    {
        unsent_ = parts_[partsSent_++];
        idlePumps_ = 0;
    }

    // Writes what the socket takes of the current part; true when it took any.
    bool Flush()
    {
        bool wrote = false;
        while (!unsent_.empty()) {
            const ssize_t n = ::send(peer_, unsent_.data(), unsent_.size(), MSG_NOSIGNAL);
            if (n <= 0)
                break;
            unsent_.remove_prefix(static_cast<std::size_t>(n));
            wrote = true;
        }
        return wrote;
    }

    int listener_ = -1;
    int port_ = 0;
    int peer_ = -1;
    std::vector<std::string_view> parts_;
    std::size_t partsSent_ = 0;
    std::string_view unsent_;
    std::size_t commandLines_ = 0;
    int idlePumps_ = 0;
    bool shut_ = false;
};

// TASKHAUL_FUZZ_TRACE=1 tells how each session ended (for reading a reproducer).
bool Trace()
{
    static const bool trace = std::getenv("TASKHAUL_FUZZ_TRACE") != nullptr;
    return trace;
}

// A new client for every input, so that no state of one run reaches the next.
void Configure(TFtpClient& client, LoopbackServer& server)
{
    TFtpLimits limits;
    limits.ConnectTimeout = std::chrono::milliseconds(5000);
    limits.ReplyTimeout = std::chrono::milliseconds(5000);
    limits.PumpInterval = std::chrono::milliseconds(0);
    client.SetLimits(limits);
    client.SetHost("127.0.0.1");
    client.SetUsername("anonymous");
    client.SetPassword("fuzz@example.invalid");
    client.ProxySettings().UserName = "proxyuser";
    client.ProxySettings().Password = "proxypass";
    client.Clock = [] { return ListDateTime { 2026, 2, 28, 23, 59, 59, 0 }; };
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    static LoopbackServer server;
    TFtpClient client([] { server.Step(); });
    Configure(client, server);

    const unsigned mode = data[0];
    const int scheme = static_cast<int>(mode & 7);
    const bool viaProxy = scheme >= 1 && scheme <= 5;
    client.ProxySettings().ProxyType
        = viaProxy ? static_cast<TFtpProxyType>(scheme) : TFtpProxyType::fpcmNone;
    client.ProxySettings().Host = viaProxy ? "127.0.0.1" : "";
    client.ProxySettings().Port = viaProxy ? server.Port() : 0;
    client.SetPort(viaProxy ? 21 : server.Port());
    client.SetAutoLogin((mode & 8) == 0);

    server.Begin(std::string_view(reinterpret_cast<const char*>(data) + 1, size - 1));
    try {
        client.Connect();
        (void)client.SystemDescription();
        (void)client.IsFeatureSupported("MDTM");
        if (!client.AutoLogin())
            client.SendCommand("USER anonymous", { 230, 331 });
        client.ChangeDirectory("pub");
        (void)client.FileSize("file.bin");
        client.SendCommand("NOOP", {});
        if (Trace())
            std::fprintf(stderr, "session complete, system \"%s\"\n", client.SystemDescription().c_str());
    } catch (const EFtpException& error) {
        // What a broken or hostile server may cause: the client reports it.
        if (Trace())
            std::fprintf(
                stderr, "session ended: %s (last reply %d)\n", error.what(), client.LastReply().NumericCode);
    }
    client.Disconnect();
    server.End();
    return 0;
}
