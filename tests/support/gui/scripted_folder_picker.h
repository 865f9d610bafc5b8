#pragma once

#include "app/window_services.h"

#include <optional>

namespace taskhaul::test {

// A folder picker that answers with `answer` (nothing: the user cancelled) and
// counts how often it was asked.
class ScriptedFolderPicker : public FolderPicker {
public:
    std::optional<QString> pickFolder() override
    {
        ++asked;
        return answer;
    }

    std::optional<QString> answer;
    int asked = 0;
};

} // namespace taskhaul::test
