#pragma once

// The command sequences of the automatic login, directly or through one of the
// FTP proxy schemes, as data: each scheme is a list of steps built in one place.

#include "ftp/ftp_client.h"

#include <string>
#include <vector>

namespace taskhaul::ftp {

struct LoginStep {
    // The command is sent only when the previous step's reply was 331 ("need
    // password"); a 230 or 232 to a USER command thus ends that sign-on.
    bool onlyAfter331 = false;
    // The command text. For a target password step it is the text before the
    // password ("PASS "), and `suffix` follows the password.
    std::string text;
    bool sendsTargetPassword = false;
    std::string suffix;
    std::vector<int> allowed; // empty: every reply accepted

    friend bool operator==(const LoginStep&, const LoginStep&) = default;
};

struct LoginSettings {
    std::string host;
    int port = 21;
    std::string username;
    TFtpProxySettings proxy;
};

// "host" when the port is 21, "host:port" otherwise.
std::string HostPort(const std::string& host, int port);

std::vector<LoginStep> BuildLoginSteps(const LoginSettings& settings);

// The password to send when the reply asking for it carries a one-time password
// challenge ("otp-md5 <sequence> <seed>"); otherwise the password itself.
std::string LoginPassword(const std::string& password, const std::vector<std::string>& replyText);

} // namespace taskhaul::ftp
