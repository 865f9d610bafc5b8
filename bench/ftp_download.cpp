// Downloads one file with the FTP client and prints how long it took.
//
//   ftp_download HOST PORT USER PASSWORD REMOTE LOCAL [--active] [--tls FINGERPRINT]
//
// --tls uses explicit TLS and trusts the server's certificate by its SHA-256
// FINGERPRINT as it is (a benchmark's certificate is self-signed). The local
// file is replaced when it exists. Used by ftp_download.py, which compares it
// with curl, and by ftp_tls_download.py, which compares it with curl and lftp.

#include "ftp/ftp_client.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv)
{
    const char* usage = "usage: %s HOST PORT USER PASSWORD REMOTE LOCAL [--active] [--tls FINGERPRINT]\n";
    if (argc < 7) {
        std::fprintf(stderr, usage, argv[0]);
        return 2;
    }
    taskhaul::ftp::TFtpClient client;
    client.SetHost(argv[1]);
    client.SetPort(std::atoi(argv[2]));
    client.SetUsername(argv[3]);
    client.SetPassword(argv[4]);
    client.SetPassive(true);
    for (int i = 7; i < argc; ++i) {
        const std::string option = argv[i];
        if (option == "--active") {
            client.SetPassive(false);
        } else if (option == "--tls" && i + 1 < argc) {
            client.SetSecurity(taskhaul::ftp::TFtpSecurity::tlsExplicit);
            client.SetTrustedFingerprint(argv[++i]);
        } else {
            std::fprintf(stderr, usage, argv[0]);
            return 2;
        }
    }
    std::int64_t received = 0;
    client.OnWork = [&](taskhaul::ftp::TWorkMode, std::int64_t count) { received = count; };
    try {
        const auto start = std::chrono::steady_clock::now();
        client.Connect();
        client.RetrieveFile(argv[5], argv[6], true);
        const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - start;
        client.Disconnect();
        std::printf("%lld bytes in %.3f s\n", static_cast<long long>(received), seconds.count());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
