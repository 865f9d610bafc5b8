#pragma once

#include <QString>

#include <cstdint>

namespace taskhaul {

// The texts of a download in progress, for the status bar and the icon's
// tooltip. Sizes in B, KiB, MiB and GiB (one decimal from KiB up).

// "512 B", "1.5 KiB", "12.3 MiB", "1.0 GiB".
QString byteSizeText(std::int64_t bytes);
// "0:21", "12:05", "1:02:03".
QString durationText(std::int64_t seconds);

// "12.3 MiB of 1.0 GiB, 45.6 MiB/s, 0:21 left". A size below 0 is unknown: then
// "12.3 MiB, 45.6 MiB/s". A rate of 0 or below (not measured yet) leaves out
// the rate and the time left; so does a size the download has already passed
// for the time left.
QString progressText(std::int64_t received, std::int64_t size, double bytesPerSecond);
// The same where space is short: "45% · 12.3 MiB/s · 0:23 left". The bytes
// received stand in for the per cent when the size is unknown; the rate and
// the time left are left out as above.
QString shortProgressText(std::int64_t received, std::int64_t size, double bytesPerSecond);
// The same as one line for the notification-area icon.
QString trayProgressText(std::int64_t received, std::int64_t size, double bytesPerSecond);
// "3 of 200 files" for a run over several connections; empty below 0.
QString filesDoneText(int filesDone, int filesTotal);
// Whole per cent of the size, 0..100; -1 when the size is unknown.
int progressPercent(std::int64_t received, std::int64_t size);

} // namespace taskhaul
