#pragma once

#include "settings/job_settings.h"

class QCheckBox;
class QComboBox;
class QSpinBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QRadioButton;
class QTabWidget;
class QTimeEdit;
class QToolButton;
class QWidget;

namespace taskhaul {

class NumberField;

// The six tabs of the main window and every field of the job. Each widget
// carries its historical name as objectName ("Edit1", "SpinEdit4", ...), which
// the control-state table and the tests use.
struct MainWindowForm {
    QTabWidget* pages = nullptr; // the tabs inside Panel2

    // "FTP Site"
    QComboBox* protocol = nullptr; // ProtocolChoice: "FTP", "SFTP"
    QLineEdit* host = nullptr; // Edit1
    QLineEdit* port = nullptr; // Edit10
    QLineEdit* remoteFolder = nullptr; // Edit2
    QLineEdit* userName = nullptr; // Edit3
    QToolButton* anonymousLogin = nullptr; // SpeedButton3
    QLineEdit* password = nullptr; // Edit4
    // SFTP's private key (below the security choice)
    QLineEdit* keyFile = nullptr; // KeyFileEdit
    QToolButton* browseKeyFile = nullptr; // KeyFileBrowse
    QLineEdit* keyPassphrase = nullptr; // KeyPassphraseEdit
    // The certificate (FTP) or host key (SFTP) the job trusts, and the way to
    // forget it when the server's has legitimately changed.
    QLabel* trustedLabel = nullptr; // "Trusted certificate:" or "Trusted host key:"
    QLineEdit* trustedFingerprint = nullptr; // TrustedFingerprint (read-only)
    QToolButton* forgetTrust = nullptr; // ForgetTrust
    // "Local Folder"
    QLineEdit* localFolder = nullptr; // Edit5
    QToolButton* browseFolder = nullptr; // SpeedButton2
    // "Action"
    QRadioButton* allFiles = nullptr; // RadioButton1
    QRadioButton* oneFile = nullptr; // RadioButton2
    QLineEdit* fileName = nullptr; // Edit6
    QToolButton* validateFileName = nullptr; // SpeedButton1
    QCheckBox* rename = nullptr; // CheckBox2
    QLineEdit* renameTo = nullptr; // Edit7
    QToolButton* validateRenameTo = nullptr; // SpeedButton5
    // "Schedule"
    QGroupBox* scheduleGroup = nullptr; // GroupBox4
    QRadioButton* dailyTimeKind = nullptr; // RadioButton3
    QTimeEdit* dailyTime = nullptr; // DateTimePicker2
    QRadioButton* intervalKind = nullptr; // RadioButton4
    NumberField* interval = nullptr; // SpinEdit4
    QToolButton* resetTimers = nullptr; // SpeedButton4
    // "Proxy Settings"
    QGroupBox* proxyGroup = nullptr; // ProxyGroup: holds the fields below
    QComboBox* proxyType = nullptr; // cbProxyType
    QLineEdit* proxyHost = nullptr; // edtProxyHostAddress
    QLineEdit* proxyPort = nullptr; // edtProxyPort
    QLineEdit* proxyUserName = nullptr; // edtProxyUserName
    QLineEdit* proxyPassword = nullptr; // edtProxyPassword
    // "Options"
    QCheckBox* passive = nullptr; // CheckBox3
    QCheckBox* overwrite = nullptr; // CheckBox1
    QCheckBox* autoLoad = nullptr; // chkAutoLoad
    QCheckBox* autoStart = nullptr; // chkAutoStart
    QCheckBox* minimized = nullptr; // chkMinimized
    QCheckBox* startAtLogin = nullptr; // chkStartAtLogin
    QCheckBox* notifySuccess = nullptr; // chkNotifySuccess
    NumberField* sequenceStart = nullptr; // SpinEdit1
    QCheckBox* resetSequence = nullptr; // CheckBox4
    // Security, unattended runs and the keyring; each off by default.
    QComboBox* security = nullptr; // cbSecurity (FTP Site tab)
    QCheckBox* onlyNewer = nullptr; // chkOnlyNewer
    QSpinBox* settleSeconds = nullptr; // spnSettleSeconds
    QSpinBox* connections = nullptr; // spnConnections
    QSpinBox* retries = nullptr; // spnRetries
    QSpinBox* retryDelay = nullptr; // spnRetryDelay
    QCheckBox* useKeyring = nullptr; // chkUseKeyring
    // The fingerprint of a server certificate the user chose to trust, and the
    // same for the SFTP server's host key; `trustedFingerprint` shows the one
    // of the chosen protocol.
    QString trustedCertificate;
    QString trustedHostKey;
    // True while apply() puts a job into the fields: a change handler then
    // leaves the other fields alone, as they get their own values.
    bool applying = false;

    bool sftpChosen() const;
    // The trusted fingerprint of the chosen protocol (empty: none).
    QString trustedOfProtocol() const;
    // Shows it in `trustedFingerprint`, the certificate's in the usual
    // colon-separated form.
    void showTrust();

    // Builds the tabs with the initial values of a new job; `parent` owns them.
    void build(QWidget* parent);

    // The values of the fields.
    JobSettings snapshot() const;
    // Puts `job` into the fields in the store's load order. A field that already
    // holds its value is not touched, so its change handler does not run.
    void apply(const JobSettings& job);

    // The tab titles, left to right.
    static QStringList tabTitles();

private:
    // Each tab with its fields, added to `pages`.
    void buildSiteTab(const QString& title);
    void buildLocalFolderTab(const QString& title);
    void buildActionTab(const QString& title);
    void buildScheduleTab(const QString& title);
    void buildProxyTab(const QString& title);
    void buildOptionsTab(const QString& title);
};

} // namespace taskhaul
