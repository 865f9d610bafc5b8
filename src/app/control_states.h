#pragma once

#include <QString>

#include <optional>
#include <span>

namespace taskhaul {

// Busy: a user's connect is in progress.
enum class ControlState { Standby, SchedulerOn, Connected, Busy };

// What an entry of the table depends on, read from the window when a state is applied.
struct ControlConditions {
    bool oneFile = true; // "&One file:" chosen (otherwise "&All files")
    bool rename = false; // "&Rename to:" checked
    bool dailyTime = true; // "&Time:" chosen (otherwise "Eve&ry:")
    bool autoStart = false; // "A&uto-start" checked
    bool configChanged = false; // unsaved changes
    bool sftp = false; // the job's protocol is SFTP (otherwise FTP)
    bool trusted = false; // the job trusts a certificate (FTP) or host key (SFTP) of its own
};

// How one entry of the table is set by one state.
enum class ControlRule {
    On,
    Off,
    OneFile, // on under One file, off under All files
    OneFileRename, // on under One file with Rename, otherwise off
    DailyTime, // on under Time, off under Every
    Interval, // off under Time, on under Every
    NotAutoStart, // off when Auto-start is checked, otherwise on
    ConfigChanged, // on exactly when the settings have unsaved changes
    Ftp, // on under FTP, off under SFTP: what SFTP does not use
    Sftp, // on under SFTP, off under FTP: what only SFTP uses
    Trusted, // on when the job trusts a certificate or host key of the protocol's
};

// One row: the controls and commands (objectNames) it covers and its rule in
// each of the four states.
struct ControlRow {
    std::span<const char* const> names;
    ControlRule standby;
    ControlRule schedulerOn;
    ControlRule connected;
    ControlRule busy;

    ControlRule rule(ControlState state) const;
};

// The table, in the order the standby operation applies it.
std::span<const ControlRow> controlTable();

// Whether `rule` enables its controls under `conditions`.
bool ruleEnables(ControlRule rule, const ControlConditions& conditions);

// The caption of the schedule group box in each state.
QString scheduleGroupCaption(ControlState state);

// What a state is applied to: the window looks its controls up by objectName.
class ControlTarget {
public:
    virtual ~ControlTarget() = default;
    virtual ControlConditions controlConditions() const = 0;
    virtual void setControlEnabled(const QString& objectName, bool enabled) = 0;
    virtual void setScheduleGroupCaption(const QString& caption) = 0;
};

// Sets every entry of the state's column and the group box caption.
void applyControlState(ControlState state, ControlTarget& target);

// Sets only the entries whose rule in the state depends on the protocol or on
// the trust the job holds for it: what a change of either changes.
void applyProtocolControls(ControlState state, ControlTarget& target);

} // namespace taskhaul
