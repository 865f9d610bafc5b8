#include "ftp/ftp_login.h"

#include "base/text.h"
#include "ftp/ftp_control.h"
#include "ftp/otp.h"

namespace taskhaul::ftp {
namespace {

void AddProxySignOn(std::vector<LoginStep>& steps, const TFtpProxySettings& proxy)
{
    if (proxy.UserName.empty())
        return;
    steps.push_back({ false, "USER " + proxy.UserName, false, {}, { 230, 331 } });
    steps.push_back({ true, "PASS " + proxy.Password, false, {}, { 230 } });
}

void AddTargetSignOn(std::vector<LoginStep>& steps, const std::string& user)
{
    steps.push_back({ false, "USER " + user, false, {}, { 230, 232, 331 } });
    steps.push_back({ true, "PASS ", true, {}, { 230 } });
}

std::string_view FirstWord(std::string_view text)
{
    return text.substr(0, text.find(' '));
}

bool ServerWantsZoneQuery(const TFtpReply& greeting, const std::vector<std::string>& capabilities)
{
    const std::string first = greeting.ReplyText.empty() ? std::string() : greeting.ReplyText.front();
    for (std::string_view prefix : { "Serv-U ", "BPFTP Server ", "TitanFTP server " })
        if (first.starts_with(prefix))
            return true;
    for (const auto& entry : capabilities) {
        const std::string_view text = reply::TrimLeft(entry);
        const auto word = FirstWord(text);
        if (base::AsciiUpper(word) != "SITE")
            continue;
        std::string_view rest = text.substr(word.size());
        for (std::size_t pos = 0; pos <= rest.size();) {
            const auto semicolon = rest.find(';', pos);
            const auto item = reply::Trim(
                rest.substr(pos, semicolon == std::string_view::npos ? rest.npos : semicolon - pos));
            if (base::AsciiUpper(item) == "ZONE")
                return true;
            if (semicolon == std::string_view::npos)
                break;
            pos = semicolon + 1;
        }
    }
    return false;
}

} // namespace

std::string HostPort(const std::string& host, int port)
{
    return port == 21 ? host : host + ":" + std::to_string(port);
}

std::vector<LoginStep> BuildLoginSteps(const LoginSettings& settings)
{
    const auto& proxy = settings.proxy;
    const std::string target = HostPort(settings.host, settings.port);
    std::vector<LoginStep> steps;
    switch (proxy.ProxyType) {
    case TFtpProxyType::fpcmNone:
        AddTargetSignOn(steps, settings.username);
        break;
    case TFtpProxyType::fpcmUserSite:
        AddProxySignOn(steps, proxy);
        AddTargetSignOn(steps, settings.username + "@" + target);
        break;
    case TFtpProxyType::fpcmSite:
        AddProxySignOn(steps, proxy);
        steps.push_back({ false, "SITE " + target, false, {}, {} });
        AddTargetSignOn(steps, settings.username);
        break;
    case TFtpProxyType::fpcmOpen:
        AddProxySignOn(steps, proxy);
        steps.push_back({ false, "OPEN " + target, false, {}, {} });
        AddTargetSignOn(steps, settings.username);
        break;
    case TFtpProxyType::fpcmUserPass:
        steps.push_back({ false, "USER " + settings.username + "@" + proxy.UserName + "@" + target, false, {},
            { 230, 232, 331 } });
        steps.push_back(
            { true, "PASS ", true, proxy.Password.empty() ? std::string() : "@" + proxy.Password, { 230 } });
        break;
    case TFtpProxyType::fpcmTransparent:
        AddProxySignOn(steps, proxy);
        AddTargetSignOn(steps, settings.username);
        break;
    }
    return steps;
}

std::string LoginPassword(const std::string& password, const std::vector<std::string>& replyText)
{
    for (const auto& line : replyText) {
        if (line.find("otp-") == std::string::npos)
            continue;
        if (const auto challenge = otp::FindChallenge(line))
            return otp::Response(*challenge, password);
        break;
    }
    return password;
}

bool HasFeature(const std::vector<std::string>& capabilities, std::string_view feature)
{
    for (const auto& entry : capabilities)
        if (base::AsciiUpper(FirstWord(reply::TrimLeft(entry))) == feature)
            return true;
    return false;
}

void LogIn(TControlConnection& control, const LoginSettings& settings, const std::string& password,
    TFtpTransferType type, std::vector<std::string>& capabilities)
{
    int previous = 0;
    for (const auto& step : BuildLoginSteps(settings)) {
        if (step.onlyAfter331 && previous != 331)
            continue;
        std::string text = step.text;
        if (step.sendsTargetPassword)
            text += LoginPassword(password, control.LastReply().ReplyText) + step.suffix;
        previous = control.SendCommand(text, step.allowed);
    }

    control.SendCommand("FEAT", {});
    capabilities = control.LastReply().ReplyText;
    if (!capabilities.empty())
        capabilities.erase(capabilities.begin());
    if (!capabilities.empty())
        capabilities.pop_back();

    control.SendCommand(type == TFtpTransferType::ftBinary ? "TYPE I" : "TYPE A", { 200 });
}

void AfterLogin(TControlConnection& control, const TFtpReply& greeting,
    const std::vector<std::string>& capabilities, std::string& systemDescription)
{
    const int code = control.SendCommand("SYST", {});
    const auto& text = control.LastReply().ReplyText;
    systemDescription = code == 500 || text.empty() ? std::string("Unknown") : text.front();
    if (ServerWantsZoneQuery(greeting, capabilities))
        control.SendCommand("SITE ZONE", {});
}

} // namespace taskhaul::ftp
