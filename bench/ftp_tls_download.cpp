// Downloads one file with the FTP client over explicit TLS and prints how long
// it took.
//
//   ftp_tls_download HOST PORT USER PASSWORD REMOTE LOCAL FINGERPRINT [--active]
//
// FINGERPRINT is the SHA-256 fingerprint of the server's certificate, trusted
// as it is (the benchmark's certificate is self-signed). The local file is
// replaced when it exists. Used by ftp_tls_download.py, which compares it with
// curl and lftp.

#include "ftp/ftp_client.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv)
{
    if (argc < 8) {
        std::fprintf(
            stderr, "usage: %s HOST PORT USER PASSWORD REMOTE LOCAL FINGERPRINT [--active]\n", argv[0]);
        return 2;
    }
    taskhaul::ftp::TFtpClient client;
    client.SetHost(argv[1]);
    client.SetPort(std::atoi(argv[2]));
    client.SetUsername(argv[3]);
    client.SetPassword(argv[4]);
    client.SetSecurity(taskhaul::ftp::TFtpSecurity::tlsExplicit);
    client.SetTrustedFingerprint(argv[7]);
    client.SetPassive(!(argc > 8 && std::strcmp(argv[8], "--active") == 0));
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
