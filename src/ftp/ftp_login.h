#pragma once

// The automatic login, directly or through one of the FTP proxy schemes: the
// command sequences as data (each scheme is a list of steps built in one place),
// and the steps that run them on the control connection.

#include "ftp/ftp_client.h"

#include <string>
#include <string_view>
#include <vector>

namespace taskhaul::ftp {

class TControlConnection;

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

// True when some capability's first word, upper-cased, is `feature`.
bool HasFeature(const std::vector<std::string>& capabilities, std::string_view feature);

// The sign-on sequence of the proxy scheme, then "FEAT" and the "TYPE" of
// `type`. `capabilities` becomes FEAT's text lines without the first and the
// last as soon as FEAT is answered.
void LogIn(TControlConnection& control, const LoginSettings& settings, const std::string& password,
    TFtpTransferType type, std::vector<std::string>& capabilities);

// The steps after the login: "SYST" (`systemDescription` becomes its first text
// line, "Unknown" for 500) and, for servers known to want it, "SITE ZONE".
void AfterLogin(TControlConnection& control, const TFtpReply& greeting,
    const std::vector<std::string>& capabilities, std::string& systemDescription);

} // namespace taskhaul::ftp
