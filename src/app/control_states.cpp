#include "app/control_states.h"

#include <array>

namespace taskhaul {

namespace {

using R = ControlRule;

constexpr std::array<const char*, 2> kFileKinds { "RadioButton1", "RadioButton2" };
constexpr std::array<const char*, 3> kFileName { "Edit6", "SpeedButton1", "CheckBox2" };
constexpr std::array<const char*, 2> kNewName { "Edit7", "SpeedButton5" };
constexpr std::array<const char*, 2> kScheduleKinds { "RadioButton3", "RadioButton4" };
constexpr std::array<const char*, 1> kDailyTime { "DateTimePicker2" };
constexpr std::array<const char*, 1> kInterval { "SpinEdit4" };
constexpr std::array<const char*, 5> kSite { "Edit1", "Edit10", "Edit2", "Edit3", "Edit4" };
constexpr std::array<const char*, 1> kAnonymous { "SpeedButton3" };
constexpr std::array<const char*, 2> kLocalFolder { "Edit5", "SpeedButton2" };
constexpr std::array<const char*, 1> kResetTimers { "SpeedButton4" };
constexpr std::array<const char*, 5> kProxy { "cbProxyType", "edtProxyHostAddress", "edtProxyPort",
    "edtProxyUserName", "edtProxyPassword" };
constexpr std::array<const char*, 1> kPassive { "CheckBox3" };
constexpr std::array<const char*, 1> kOverwrite { "CheckBox1" };
constexpr std::array<const char*, 1> kConnections { "spnConnections" };
// SFTP uses neither a proxy nor FTP's security; the key is SFTP's alone.
constexpr std::array<const char*, 1> kProxyTab { "ProxyGroup" };
constexpr std::array<const char*, 1> kSecurity { "cbSecurity" };
constexpr std::array<const char*, 1> kProtocol { "ProtocolChoice" };
constexpr std::array<const char*, 3> kKey { "KeyFileEdit", "KeyFileBrowse", "KeyPassphraseEdit" };
constexpr std::array<const char*, 1> kForgetTrust { "ForgetTrust" };
constexpr std::array<const char*, 2> kSequence { "SpinEdit1", "CheckBox4" };
constexpr std::array<const char*, 1> kAutoLoad { "chkAutoLoad" };
constexpr std::array<const char*, 2> kStartupOptions { "chkAutoStart", "chkMinimized" };
constexpr std::array<const char*, 1> kOpen { "Action1" };
constexpr std::array<const char*, 1> kSave { "Action2" };
constexpr std::array<const char*, 1> kConnect { "Action3" };
constexpr std::array<const char*, 1> kDisconnect { "Action4" };
constexpr std::array<const char*, 1> kTransfer { "Action5" };
constexpr std::array<const char*, 1> kStopTransfer { "Action6" };
constexpr std::array<const char*, 1> kClearAll { "Action8" };
// The icon menu's Start2 and Stop2 are these same commands.
constexpr std::array<const char*, 1> kStart { "Action11" };
constexpr std::array<const char*, 1> kStop { "Action14" };
constexpr std::array<const char*, 1> kStartStop { "Action20" };

// Each row: the controls, then the rule in standby, scheduler on, connected and
// busy. Busy is a user's connect in progress: nothing that changes the job or
// starts another run, only Disconnect and Stop Transfer, which both end it.
// The proxy's group and the security choice follow the protocol alone; under
// FTP the proxy's fields keep their own rows.
constexpr std::array<ControlRow, 32> kTable { {
    { kFileKinds, R::On, R::Off, R::Off, R::Off },
    { kFileName, R::OneFile, R::Off, R::Off, R::Off },
    { kNewName, R::OneFileRename, R::Off, R::Off, R::Off },
    { kScheduleKinds, R::On, R::Off, R::Off, R::Off },
    { kDailyTime, R::DailyTime, R::Off, R::Off, R::Off },
    { kInterval, R::Interval, R::Off, R::Off, R::Off },
    { kSite, R::On, R::Off, R::Off, R::Off },
    { kLocalFolder, R::On, R::Off, R::Off, R::Off },
    { kProxy, R::On, R::Off, R::Off, R::Off },
    { kProxyTab, R::Ftp, R::Ftp, R::Ftp, R::Ftp },
    { kSecurity, R::Ftp, R::Ftp, R::Ftp, R::Ftp },
    { kProtocol, R::On, R::Off, R::Off, R::Off },
    { kKey, R::Sftp, R::Off, R::Off, R::Off },
    { kForgetTrust, R::Trusted, R::Off, R::Off, R::Off },
    { kPassive, R::Ftp, R::Off, R::Off, R::Off },
    { kOverwrite, R::On, R::Off, R::Off, R::Off },
    { kConnections, R::On, R::Off, R::Off, R::Off },
    { kSequence, R::On, R::Off, R::Off, R::Off },
    { kAutoLoad, R::NotAutoStart, R::Off, R::Off, R::Off },
    { kStartupOptions, R::On, R::Off, R::Off, R::Off },
    // Anonymous login is FTP's: an SFTP server has no such user.
    { kAnonymous, R::Ftp, R::Off, R::Off, R::Off },
    { kResetTimers, R::On, R::Off, R::Off, R::Off },
    { kOpen, R::On, R::Off, R::Off, R::Off },
    { kSave, R::ConfigChanged, R::Off, R::Off, R::Off },
    { kConnect, R::On, R::Off, R::Off, R::Off },
    { kDisconnect, R::Off, R::Off, R::On, R::On },
    { kTransfer, R::Off, R::Off, R::On, R::Off },
    { kStopTransfer, R::Off, R::Off, R::Off, R::On },
    { kClearAll, R::On, R::Off, R::Off, R::Off },
    { kStart, R::On, R::Off, R::Off, R::Off },
    { kStop, R::Off, R::On, R::Off, R::Off },
    { kStartStop, R::On, R::On, R::Off, R::Off },
} };

} // namespace

ControlRule ControlRow::rule(ControlState state) const
{
    switch (state) {
    case ControlState::Standby:
        return standby;
    case ControlState::SchedulerOn:
        return schedulerOn;
    case ControlState::Connected:
        return connected;
    case ControlState::Busy:
        return busy;
    }
    return standby;
}

std::span<const ControlRow> controlTable()
{
    return kTable;
}

bool ruleEnables(ControlRule rule, const ControlConditions& c)
{
    switch (rule) {
    case R::On:
        return true;
    case R::Off:
        return false;
    case R::OneFile:
        return c.oneFile;
    case R::OneFileRename:
        return c.oneFile && c.rename;
    case R::DailyTime:
        return c.dailyTime;
    case R::Interval:
        return !c.dailyTime;
    case R::NotAutoStart:
        return !c.autoStart;
    case R::ConfigChanged:
        return c.configChanged;
    case R::Ftp:
        return !c.sftp;
    case R::Sftp:
        return c.sftp;
    case R::Trusted:
        return c.trusted;
    }
    return false;
}

QString scheduleGroupCaption(ControlState state)
{
    return state == ControlState::SchedulerOn ? QStringLiteral("Scheduler (ON)")
                                              : QStringLiteral("Scheduler (OFF)");
}

void applyControlState(ControlState state, ControlTarget& target)
{
    const ControlConditions conditions = target.controlConditions();
    for (const auto& row : kTable) {
        const bool enabled = ruleEnables(row.rule(state), conditions);
        for (const char* name : row.names)
            target.setControlEnabled(QString::fromLatin1(name), enabled);
    }
    target.setScheduleGroupCaption(scheduleGroupCaption(state));
}

void applyProtocolControls(ControlState state, ControlTarget& target)
{
    const ControlConditions conditions = target.controlConditions();
    for (const auto& row : kTable) {
        const ControlRule rule = row.rule(state);
        if (rule != R::Ftp && rule != R::Sftp && rule != R::Trusted)
            continue;
        for (const char* name : row.names)
            target.setControlEnabled(QString::fromLatin1(name), ruleEnables(rule, conditions));
    }
}

} // namespace taskhaul
