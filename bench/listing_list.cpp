// Lists the remote folder with the FTP client and parses the listing, as a
// transfer does before it fetches anything; prints the item count and the time.
//
//   listing_list HOST PORT USER PASSWORD [--active]
//
// Used by listing_list.py, which compares it with lftp and curl.

#include "ftp/ftp_client.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s HOST PORT USER PASSWORD [--active]\n", argv[0]);
        return 2;
    }
    taskhaul::ftp::TFtpClient client;
    client.SetHost(argv[1]);
    client.SetPort(std::atoi(argv[2]));
    client.SetUsername(argv[3]);
    client.SetPassword(argv[4]);
    client.SetPassive(!(argc > 5 && std::strcmp(argv[5], "--active") == 0));
    try {
        const auto start = std::chrono::steady_clock::now();
        client.Connect();
        const auto listStart = std::chrono::steady_clock::now();
        std::vector<std::string> lines;
        client.ListFolder(lines);
        const auto parseStart = std::chrono::steady_clock::now();
        const int items = client.ParsedListing().count();
        const auto end = std::chrono::steady_clock::now();
        client.Disconnect();
        using Seconds = std::chrono::duration<double>;
        std::printf("%zu lines, %d items; connect %.3f s, list %.3f s, parse %.3f s, total %.3f s\n",
            lines.size(), items, Seconds(listStart - start).count(), Seconds(parseStart - listStart).count(),
            Seconds(end - parseStart).count(), Seconds(end - start).count());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    return 0;
}
