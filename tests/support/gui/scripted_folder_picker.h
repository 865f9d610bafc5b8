#pragma once

#include "app/window_services.h"

#include <optional>
#include <vector>

namespace taskhaul::test {

// A folder picker that answers with `answer` (nothing: the user cancelled) and
// records the folder it was to start in each time it was asked.
class ScriptedFolderPicker : public FolderPicker {
public:
    std::optional<QString> pickFolder(const QString& startFolder) override
    {
        ++asked;
        startFolders.push_back(startFolder);
        return answer;
    }

    std::optional<QString> answer;
    int asked = 0;
    std::vector<QString> startFolders;
};

} // namespace taskhaul::test
