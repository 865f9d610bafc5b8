#pragma once

#include "app/run_notice.h"

#include <vector>

namespace taskhaul::test {

// Records the notices instead of showing them; a test clicks one by calling
// `clicked`.
class RecordingNotifier : public NotificationSender {
public:
    void send(const RunNotice& notice) override { sent.push_back(notice); }
    std::vector<RunNotice> sent;
};

} // namespace taskhaul::test
