#pragma once

// Shared by the client tests: a client aimed at a scripted server, with short
// time limits so that timeout paths run in a test's time.

#include "ftp/ftp_client.h"
#include "ftp/loopback.h"
#include "ftp/scripted_ftp_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace taskhaul::ftp::testing {

using namespace std::chrono_literals;
using Commands = std::vector<std::string>;
using test::ClosedLoopbackPort;
using test::DataPlan;
using test::SilentListener;

inline TFtpLimits ShortLimits()
{
    TFtpLimits limits;
    limits.ConnectTimeout = 3000ms;
    limits.ReplyTimeout = 3000ms;
    limits.AcceptTimeout = 3000ms;
    limits.DataIdleTimeout = 3000ms;
    return limits;
}

inline void AimAt(TFtpClient& client, const test::ScriptedFtpServer& server)
{
    client.SetHost(server.host());
    client.SetPort(server.port());
    client.SetUsername("alice");
    client.SetPassword("wonder");
    client.SetLimits(ShortLimits());
}

// The commands every default login sends.
inline Commands LoginCommands()
{
    return { "USER alice", "PASS wonder", "FEAT", "TYPE I", "SYST" };
}

inline Commands Concat(Commands first, const Commands& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The message of the exception `body` raises, or "" when it raises none.
template <typename Body> std::string ErrorOf(Body&& body)
{
    try {
        body();
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

class ClientTest : public ::testing::Test {
protected:
    void SetUp() override { AimAt(client, server); }

    void Connect() { ASSERT_NO_THROW(client.Connect()); }

    // Commands received after the login sequence.
    Commands CommandsAfterLogin() const
    {
        auto all = server.commands();
        const auto skip = std::min(all.size(), LoginCommands().size());
        return Commands(all.begin() + static_cast<std::ptrdiff_t>(skip), all.end());
    }

    test::ScriptedFtpServer server;
    // What the client's pump does; a test may change it at any time.
    std::function<void()> pump;
    TFtpClient client { [this] {
        if (pump)
            pump();
    } };
};

// A private temporary folder, removed at the end.
class TempFolder {
public:
    TempFolder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "taskhaul-ftp-test-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~TempFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    const std::filesystem::path& Path() const { return path_; }
    // Names of everything in the folder, hidden files included.
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(path_))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::filesystem::path path_;
};

std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

} // namespace taskhaul::ftp::testing
