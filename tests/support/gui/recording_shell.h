#pragma once

#include "log/shell.h"

#include <QString>
#include <QUrl>

#include <vector>

namespace taskhaul::test {

// Records what would be opened instead of opening it; `open`, `showFolder`
// and `openAddress` answer with `nextResult`. The failure `openAddress` was
// given is kept: a test calls it as the desktop's opener would, later.
class RecordingShell : public Shell {
public:
    OpenResult open(const QUrl& url) override;
    OpenResult showFolder(const QString& path) override;
    OpenResult openAddress(const QUrl& url, std::function<void()> failed) override;

    std::function<void()> failLater;

    OpenResult nextResult = OpenResult::Opened;
    std::vector<QUrl> opened;
    std::vector<QString> foldersShown;
};

} // namespace taskhaul::test
