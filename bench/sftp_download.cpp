// Downloads every plain file of a remote folder over one SFTP connection and
// prints how long it took.
//
//   sftp_download HOST PORT USER KEYFILE HOSTKEY REMOTE_FOLDER LOCAL_FOLDER
//
// Signs in with the key file (no passphrase) and trusts the server's host key
// by its fingerprint (HOSTKEY, "SHA256:..."). Local files are replaced. Used
// by sftp_download.py, which compares it with OpenSSH's sftp, curl and lftp.

#include "sftp/sftp_client.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 8) {
        std::fprintf(
            stderr, "usage: %s HOST PORT USER KEYFILE HOSTKEY REMOTE_FOLDER LOCAL_FOLDER\n", argv[0]);
        return 2;
    }
    using namespace taskhaul::sftp;
    const auto started = std::chrono::steady_clock::now();
    try {
        TSftpClient client;
        TSftpSettings& settings = client.Settings();
        settings.Host = argv[1];
        settings.Port = std::atoi(argv[2]);
        settings.Username = argv[3];
        settings.KeyFile = argv[4];
        settings.TrustedHostKey = argv[5];
        settings.KnownHostsPath = "/dev/null";
        settings.AgentSocket = "";
        client.Connect();
        const std::string remote = argv[6];
        const std::string local = argv[7];
        std::int64_t bytes = 0;
        int files = 0;
        for (const TSftpEntry& entry : client.ListFolder(remote)) {
            if (entry.Kind != TSftpEntryKind::File)
                continue;
            bytes += client.Download(remote + "/" + entry.Name, local + "/" + entry.Name).Size;
            ++files;
        }
        client.Disconnect();
        const double seconds
            = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("%d files, %lld bytes in %.3f s\n", files, static_cast<long long>(bytes), seconds);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    return 0;
}
