#pragma once

#include "app/window_services.h"

#include <optional>
#include <vector>

namespace taskhaul::test {

// A file picker that answers with `answer` (nothing: the user cancelled) and
// records the folder it was to start in each time it was asked.
class ScriptedFilePicker : public FilePicker {
public:
    std::optional<QString> pickFile(const QString& title, const QString& startFolder) override
    {
        titles.push_back(title);
        startFolders.push_back(startFolder);
        return answer;
    }

    std::optional<QString> answer;
    std::vector<QString> titles;
    std::vector<QString> startFolders;
};

} // namespace taskhaul::test
