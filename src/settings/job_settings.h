#pragma once

#include <QString>
#include <QTime>

namespace taskhaul {

// The bounds of the job's number fields.
inline constexpr int kIntervalMinutesMin = 1;
inline constexpr int kIntervalMinutesMax = 527040; // 366 days
inline constexpr int kRetriesMax = 10;
inline constexpr int kRetryDelayMinutesMin = 1;
inline constexpr int kRetryDelayMinutesMax = 60;
inline constexpr int kSettleSecondsMax = 86400;
inline constexpr int kConnectionsMax = 8;

// The one job: the values of the main window's input fields. The window is the
// owner of these values; this struct is how the non-widget code reads a snapshot
// of them (engine, scheduler, headless runner) and how the store hands them over.
struct JobSettings {
    enum class FileKind { AllFiles, OneFile }; // RadioButton1 / RadioButton2
    enum class ScheduleKind { DailyTime, Interval }; // RadioButton3 / RadioButton4

    // Tab "FTP Site"
    QString host; // Edit1   "Host"
    QString port = QStringLiteral("21"); // Edit10  "Hostport"
    QString remoteFolder; // Edit2   "Remote"
    QString userName; // Edit3   "Username"
    QString password; // Edit4   "Password" (scrambled in the store)
    // Tab "Local Folder"
    QString localFolder; // Edit5   "Localdir"
    // Tab "Action"
    FileKind fileKind = FileKind::OneFile; // "copytype"
    QString fileName; // Edit6   "file"
    bool rename = false; // CheckBox2 "renamecheck"
    QString renameTo; // Edit7   "renameto"
    // Tab "Schedule"
    ScheduleKind scheduleKind = ScheduleKind::DailyTime; // "scheduletype"
    QTime dailyTime = QTime(0, 0, 0); // DateTimePicker2 "starttime"
    int intervalMinutes = 60; // SpinEdit4 "delay", 1..527040
    // Tab "Proxy Settings"
    int proxyType = 0; // cbProxyType "Proxytype", 0..5 (-1: none selected)
    QString proxyHost; // edtProxyHostAddress "Proxyhost"
    QString proxyPort = QStringLiteral("0"); // edtProxyPort "Proxyport"
    QString proxyUserName; // edtProxyUserName "Proxyusername"
    QString proxyPassword; // edtProxyPassword "Proxypassword" (scrambled)
    // Tab "Options"
    // A new job starts passive, which works through firewalls and NAT; a stored
    // job keeps its value, and one stored without it loads as active, as it
    // always did.
    bool passive = true; // CheckBox3 "passive"
    bool overwrite = true; // CheckBox1 "overwrite"
    bool autoLoad = false; // chkAutoLoad "Autoload"
    bool autoStart = false; // chkAutoStart "Autostart"
    bool minimized = false; // chkMinimized "Minimized"
    bool resetSequence = false; // CheckBox4 "resetsequence"
    int sequenceStart = 0; // SpinEdit1 "sequencevalue", 0..999999

    // Options that came later than the six tabs' original fields. Each is off by
    // default, so a job stored before they existed loads and runs as it did.
    bool startAtLogin = false; // "StartAtLogin": an autostart entry starts the program with -r -m
    bool notifySuccess = false; // "NotifySuccess": a scheduled run that fetched files notifies
    bool onlyNewer = false; // "OnlyNewer": skip files not changed since the last transfer
    int retries = 0; // "Retries", 0..10: scheduled runs try again after a lost connection
    int retryDelayMinutes = 5; // "RetryDelay", 1..60
    int settleSeconds = 0; // "SettleSeconds", 0 (off)..86400: skip files still being written
    bool useKeyring = false; // "UseKeyring": passwords in the desktop keyring
    // FTP over TLS: "Security" = "plain", "explicit" (AUTH TLS) or "implicit";
    // "TrustedCertificate" = the SHA-256 fingerprint (64 hex digits) of a server
    // certificate the user chose to trust, or empty.
    enum class Security { Plain, Explicit, Implicit };
    Security security = Security::Plain;
    QString trustedCertificate;
    // The protocol: "Protocol" = "ftp" (the default, and every job stored before
    // the choice existed) or "sftp". With SFTP a port left at 21 means 22, and
    // the FTP-only values (passive mode, security, proxy) are not used.
    enum class Protocol { Ftp, Sftp };
    Protocol protocol = Protocol::Ftp;
    // SFTP: "KeyFile" = a private key file (empty: none) and "KeyPassphrase" its
    // passphrase (scrambled in the store, or in the keyring with UseKeyring);
    // "TrustedHostKey" = the host key the user chose to trust, as OpenSSH shows
    // it ("SHA256:" and base64), or empty.
    QString keyFile;
    QString keyPassphrase;
    QString trustedHostKey;
    // "Connections", 1..8: how many files a run downloads at once, each over a
    // connection of its own. Written only when not 1, so that a job stored
    // before the option existed stays as it was.
    int connections = 1;

    bool operator==(const JobSettings&) const = default;

    // The port a protocol uses when the job leaves the port at 21: 22 for
    // SFTP, 990 for implicit TLS, else 21.
    int usualPort() const
    {
        return protocol == Protocol::Sftp ? 22 : security == Security::Implicit ? 990 : 21;
    }

    // The site as a person names it: the host, followed by the port only when
    // it is not the protocol's usual one ("sftp.example.org",
    // "ftp.example.org:2121", "[::1]:2222").
    QString siteAddress() const
    {
        bool number = false;
        int portNumber = port.trimmed().toInt(&number);
        if (number && portNumber == 21)
            portNumber = usualPort();
        if (number && portNumber == usualPort())
            return host;
        const QString shownHost
            = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
        return shownHost + QLatin1Char(':') + (number ? QString::number(portNumber) : port);
    }

    // Host, port, user name and password are all filled in: what connecting
    // needs. SFTP may sign in with a key or the agent instead of a password.
    bool siteFieldsFilled() const
    {
        return !host.isEmpty() && !port.isEmpty() && !userName.isEmpty()
            && (protocol == Protocol::Sftp || !password.isEmpty());
    }
};

} // namespace taskhaul
