#pragma once

#include "log/shell.h"

#include <QString>
#include <QUrl>

#include <vector>

namespace taskhaul::test {

// Records what would be opened instead of opening it; `open` and `showFolder`
// answer with `nextResult`.
class RecordingShell : public Shell {
public:
    OpenResult open(const QUrl& url) override;
    OpenResult showFolder(const QString& path) override;

    OpenResult nextResult = OpenResult::Opened;
    std::vector<QUrl> opened;
    std::vector<QString> foldersShown;
};

} // namespace taskhaul::test
