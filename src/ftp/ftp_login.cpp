#include "ftp/ftp_login.h"

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

} // namespace taskhaul::ftp
