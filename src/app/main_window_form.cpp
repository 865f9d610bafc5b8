#include "app/main_window_form.h"

#include "app/input_rules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSpinBox>
#include <QStyle>
#include <QTabWidget>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

namespace taskhaul {

namespace {

constexpr int kIntervalMin = 1;
constexpr int kIntervalMax = 527040; // 366 days in minutes
constexpr int kIntervalStep = 30;
constexpr int kSequenceMin = 0;
constexpr int kSequenceMax = 999999;
constexpr int kPortMaxLength = 7;

template <typename W> W* named(W* widget, const char* objectName)
{
    widget->setObjectName(QString::fromLatin1(objectName));
    return widget;
}

QLineEdit* lineEdit(QWidget* parent, const char* objectName, const QString& text = {})
{
    auto* edit = named(new QLineEdit(text, parent), objectName);
    return edit;
}

// Passwords are shown as "*".
void hideText(QLineEdit* edit)
{
    edit->setEchoMode(QLineEdit::Password);
    edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
}

QToolButton* toolButton(QWidget* parent, const char* objectName, const QString& text, const QString& hint,
    QStyle::StandardPixmap pixmap)
{
    auto* button = named(new QToolButton(parent), objectName);
    if (pixmap != QStyle::SP_CustomBase)
        button->setIcon(parent->style()->standardIcon(pixmap));
    button->setText(text);
    button->setToolTip(hint);
    button->setStatusTip(hint);
    return button;
}

QGroupBox* group(QWidget* parent, const QString& caption, const char* objectName = nullptr)
{
    auto* box = new QGroupBox(caption, parent);
    if (objectName)
        box->setObjectName(QString::fromLatin1(objectName));
    return box;
}

QWidget* page(QTabWidget* pages, const QString& title)
{
    auto* widget = new QWidget(pages);
    auto* layout = new QVBoxLayout(widget);
    layout->setContentsMargins(8, 8, 8, 8);
    pages->addTab(widget, title);
    return widget;
}

QLabel* label(QWidget* parent, const QString& text, QWidget* buddy)
{
    auto* result = new QLabel(text, parent);
    result->setBuddy(buddy);
    return result;
}

void setText(QLineEdit* edit, const QString& text)
{
    if (edit->text() != text)
        edit->setText(text);
}

} // namespace

QStringList MainWindowForm::tabTitles()
{
    return { QStringLiteral("FTP Site"), QStringLiteral("Local Folder"), QStringLiteral("Action"),
        QStringLiteral("Schedule"), QStringLiteral("Proxy Settings"), QStringLiteral("Options") };
}

void MainWindowForm::buildSiteTab(const QString& title)
{
    QWidget* tab = page(pages, title);
    QGroupBox* box = group(tab, QStringLiteral("FTP site information (Source)"));
    auto* grid = new QGridLayout(box);
    protocol = named(new QComboBox(box), "ProtocolChoice");
    protocol->addItems({ QStringLiteral("FTP"), QStringLiteral("SFTP") });
    protocol->setToolTip(
        QStringLiteral("SFTP connects over SSH (port 22 when the port is left at 21). Passive "
                       "mode, the security choice and the proxy belong to FTP alone."));
    host = lineEdit(box, "Edit1");
    port = lineEdit(box, "Edit10", QStringLiteral("21"));
    port->setMaxLength(kPortMaxLength);
    remoteFolder = lineEdit(box, "Edit2");
    userName = lineEdit(box, "Edit3");
    anonymousLogin = toolButton(box, "SpeedButton3", QStringLiteral("Anonymous"),
        QStringLiteral("Use anonymous login information"), QStyle::SP_CustomBase);
    password = lineEdit(box, "Edit4");
    hideText(password);
    grid->addWidget(label(box, QStringLiteral("Host address:"), host), 0, 0);
    grid->addWidget(host, 0, 1, 1, 3);
    grid->addWidget(label(box, QStringLiteral("Port:"), port), 1, 0);
    grid->addWidget(port, 1, 1);
    {
        auto* protocolRow = new QHBoxLayout;
        protocolRow->addStretch();
        protocolRow->addWidget(label(box, QStringLiteral("Protocol:"), protocol));
        protocolRow->addWidget(protocol);
        grid->addLayout(protocolRow, 1, 2, 1, 2);
    }
    grid->addWidget(label(box, QStringLiteral("Remote folder:"), remoteFolder), 2, 0);
    grid->addWidget(remoteFolder, 2, 1, 1, 3);
    grid->addWidget(label(box, QStringLiteral("User name:"), userName), 3, 0);
    grid->addWidget(userName, 3, 1, 1, 2);
    grid->addWidget(anonymousLogin, 3, 3);
    grid->addWidget(label(box, QStringLiteral("Password:"), password), 4, 0);
    grid->addWidget(password, 4, 1, 1, 2);
    security = named(new QComboBox(box), "cbSecurity");
    security->addItems({ QStringLiteral("Plain FTP"), QStringLiteral("FTP over TLS (explicit)"),
        QStringLiteral("FTP over TLS (implicit)") });
    security->setToolTip(QStringLiteral("Plain FTP sends the password in clear text. Explicit TLS asks the "
                                        "server to switch to TLS on the usual port; implicit TLS speaks TLS "
                                        "from the first byte (port 990 when the port is left at 21)."));
    grid->addWidget(label(box, QStringLiteral("Security:"), security), 5, 0);
    grid->addWidget(security, 5, 1, 1, 2);
    keyFile = lineEdit(box, "KeyFileEdit");
    keyFile->setToolTip(QStringLiteral("SFTP: a private key to sign in with (OpenSSH's format); "
                                       "empty for none"));
    browseKeyFile = toolButton(box, "KeyFileBrowse", QStringLiteral("Browse\u2026"),
        QStringLiteral("Choose the private key file"), QStyle::SP_CustomBase);
    keyPassphrase = lineEdit(box, "KeyPassphraseEdit");
    keyPassphrase->setToolTip(QStringLiteral("The passphrase of the private key, if it has one"));
    hideText(keyPassphrase);
    grid->addWidget(label(box, QStringLiteral("Key file:"), keyFile), 6, 0);
    grid->addWidget(keyFile, 6, 1, 1, 2);
    grid->addWidget(browseKeyFile, 6, 3);
    grid->addWidget(label(box, QStringLiteral("Key passphrase:"), keyPassphrase), 7, 0);
    grid->addWidget(keyPassphrase, 7, 1, 1, 2);
    trustedFingerprint = lineEdit(box, "TrustedFingerprint");
    trustedFingerprint->setReadOnly(true);
    trustedFingerprint->setPlaceholderText(QStringLiteral("none"));
    forgetTrust = toolButton(box, "ForgetTrust", QStringLiteral("Forget"),
        QStringLiteral("Forget the trusted certificate or host key: the next Connect asks again"),
        QStyle::SP_CustomBase);
    trustedLabel = named(label(box, QString(), trustedFingerprint), "TrustedLabel");
    grid->addWidget(trustedLabel, 8, 0);
    grid->addWidget(trustedFingerprint, 8, 1, 1, 2);
    grid->addWidget(forgetTrust, 8, 3);
    showTrust();
    grid->setColumnStretch(2, 1);
    tab->layout()->addWidget(box);
    static_cast<QVBoxLayout*>(tab->layout())->addStretch();
}

void MainWindowForm::buildLocalFolderTab(const QString& title)
{
    QWidget* tab = page(pages, title);
    QGroupBox* box = group(tab, QStringLiteral("Local folder (Destination)"));
    auto* grid = new QGridLayout(box);
    localFolder = lineEdit(box, "Edit5");
    browseFolder = toolButton(
        box, "SpeedButton2", QStringLiteral("..."), QStringLiteral("Browse"), QStyle::SP_CustomBase);
    grid->addWidget(label(box, QStringLiteral("Folder:"), localFolder), 0, 0);
    grid->addWidget(localFolder, 0, 1);
    grid->addWidget(browseFolder, 0, 2);
    tab->layout()->addWidget(box);
    static_cast<QVBoxLayout*>(tab->layout())->addStretch();
}

void MainWindowForm::buildActionTab(const QString& title)
{
    QWidget* tab = page(pages, title);
    QGroupBox* type = group(tab, QStringLiteral("Type"));
    auto* typeLayout = new QVBoxLayout(type);
    typeLayout->addWidget(new QLabel(QStringLiteral("Download"), type));
    QGroupBox* box = group(tab, QStringLiteral("Files to copy"));
    auto* grid = new QGridLayout(box);
    allFiles = named(new QRadioButton(QStringLiteral("&All files"), box), "RadioButton1");
    oneFile = named(new QRadioButton(QStringLiteral("&One file:"), box), "RadioButton2");
    oneFile->setChecked(true);
    fileName = lineEdit(box, "Edit6");
    fileName->setEnabled(false); // until the first standby state
    validateFileName = toolButton(box, "SpeedButton1", QStringLiteral("Validate"),
        QStringLiteral("Validate time wild cards"), QStyle::SP_DialogApplyButton);
    rename = named(new QCheckBox(QStringLiteral("&Rename to:"), box), "CheckBox2");
    renameTo = lineEdit(box, "Edit7");
    validateRenameTo = toolButton(box, "SpeedButton5", QStringLiteral("Validate"),
        QStringLiteral("Validate time wild cards"), QStyle::SP_DialogApplyButton);
    grid->addWidget(allFiles, 0, 0, 1, 3);
    grid->addWidget(oneFile, 1, 0);
    grid->addWidget(fileName, 1, 1);
    grid->addWidget(validateFileName, 1, 2);
    grid->addWidget(rename, 2, 0);
    grid->addWidget(renameTo, 2, 1);
    grid->addWidget(validateRenameTo, 2, 2);
    grid->setColumnStretch(1, 1);
    tab->layout()->addWidget(type);
    tab->layout()->addWidget(box);
    static_cast<QVBoxLayout*>(tab->layout())->addStretch();
}

void MainWindowForm::buildScheduleTab(const QString& title)
{
    QWidget* tab = page(pages, title);
    scheduleGroup = group(tab, QStringLiteral("Scheduler (OFF)"), "GroupBox4");
    auto* grid = new QGridLayout(scheduleGroup);
    dailyTimeKind = named(new QRadioButton(QStringLiteral("&Time:"), scheduleGroup), "RadioButton3");
    dailyTimeKind->setChecked(true);
    dailyTime = named(new QTimeEdit(QTime(0, 0, 0), scheduleGroup), "DateTimePicker2");
    dailyTime->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    intervalKind = named(new QRadioButton(QStringLiteral("Eve&ry:"), scheduleGroup), "RadioButton4");
    interval = named(new NumberField(kIntervalMin, kIntervalMax, kIntervalStep, scheduleGroup), "SpinEdit4");
    interval->setValue(60);
    interval->setEnabled(false);
    resetTimers = toolButton(scheduleGroup, "SpeedButton4", QStringLiteral("Reset"),
        QStringLiteral("Reset timers"), QStyle::SP_BrowserReload);
    grid->addWidget(dailyTimeKind, 0, 0);
    grid->addWidget(dailyTime, 0, 1);
    grid->addWidget(resetTimers, 0, 3);
    grid->addWidget(intervalKind, 1, 0);
    grid->addWidget(interval, 1, 1);
    grid->addWidget(new QLabel(QStringLiteral("Minutes"), scheduleGroup), 1, 2);
    grid->setColumnStretch(2, 1);
    tab->layout()->addWidget(scheduleGroup);
    static_cast<QVBoxLayout*>(tab->layout())->addStretch();
}

void MainWindowForm::buildProxyTab(const QString& title)
{
    QWidget* tab = page(pages, title);
    QGroupBox* box = group(tab, QStringLiteral("Proxy Information"), "ProxyGroup");
    proxyGroup = box;
    auto* grid = new QGridLayout(box);
    proxyType = named(new QComboBox(box), "cbProxyType");
    proxyType->addItems({ QStringLiteral("(None)"), QStringLiteral("Open"), QStringLiteral("Site"),
        QStringLiteral("Transparent"), QStringLiteral("User Password"), QStringLiteral("User Site") });
    proxyType->setCurrentIndex(0);
    proxyHost = lineEdit(box, "edtProxyHostAddress");
    proxyPort = lineEdit(box, "edtProxyPort", QStringLiteral("0"));
    proxyPort->setMaxLength(kPortMaxLength);
    proxyUserName = lineEdit(box, "edtProxyUserName");
    proxyPassword = lineEdit(box, "edtProxyPassword");
    hideText(proxyPassword);
    grid->addWidget(label(box, QStringLiteral("Proxy type:"), proxyType), 0, 0);
    grid->addWidget(proxyType, 0, 1);
    grid->addWidget(label(box, QStringLiteral("Host address:"), proxyHost), 1, 0);
    grid->addWidget(proxyHost, 1, 1, 1, 2);
    grid->addWidget(label(box, QStringLiteral("Port:"), proxyPort), 2, 0);
    grid->addWidget(proxyPort, 2, 1);
    grid->addWidget(label(box, QStringLiteral("User name:"), proxyUserName), 3, 0);
    grid->addWidget(proxyUserName, 3, 1, 1, 2);
    grid->addWidget(label(box, QStringLiteral("Password:"), proxyPassword), 4, 0);
    grid->addWidget(proxyPassword, 4, 1, 1, 2);
    grid->setColumnStretch(2, 1);
    tab->layout()->addWidget(box);
    static_cast<QVBoxLayout*>(tab->layout())->addStretch();
}

void MainWindowForm::buildOptionsTab(const QString& title)
{
    QWidget* tab = page(pages, title);
    auto* row = new QHBoxLayout;
    QGroupBox* ftp = group(tab, QStringLiteral("FTP"));
    auto* ftpLayout = new QVBoxLayout(ftp);
    passive = named(new QCheckBox(QStringLiteral("&Passive Mode"), ftp), "CheckBox3");
    passive->setChecked(JobSettings {}.passive);
    overwrite = named(new QCheckBox(QStringLiteral("&Overwrite existing files"), ftp), "CheckBox1");
    overwrite->setChecked(true);
    ftpLayout->addWidget(passive);
    ftpLayout->addWidget(overwrite);
    connections = named(new QSpinBox(ftp), "spnConnections");
    connections->setRange(1, kConnectionsMax);
    const QString connectionsHint = QStringLiteral(
        "Download up to N files at once, each over a connection of its own. A job whose names use "
        "the sequence field [seq] runs with one connection, so that the numbers follow the order "
        "of fetching.");
    connections->setToolTip(connectionsHint);
    auto* connectionsRow = new QHBoxLayout;
    QLabel* connectionsLabel = label(ftp, QStringLiteral("Download up to"), connections);
    connectionsLabel->setToolTip(connectionsHint);
    connectionsRow->addWidget(connectionsLabel);
    connectionsRow->addWidget(connections);
    connectionsRow->addWidget(new QLabel(QStringLiteral("files at once"), ftp));
    connectionsRow->addStretch();
    ftpLayout->addLayout(connectionsRow);
    ftpLayout->addStretch();
    QGroupBox* startup = group(tab, QStringLiteral("Taskhaul"));
    auto* startupLayout = new QVBoxLayout(startup);
    autoLoad = named(new QCheckBox(QStringLiteral("&Auto-load"), startup), "chkAutoLoad");
    autoStart = named(new QCheckBox(QStringLiteral("A&uto-start"), startup), "chkAutoStart");
    minimized = named(new QCheckBox(QStringLiteral("&Minimize on start"), startup), "chkMinimized");
    startupLayout->addWidget(autoLoad);
    startupLayout->addWidget(autoStart);
    startupLayout->addWidget(minimized);
    startAtLogin
        = named(new QCheckBox(QStringLiteral("Start Taskhaul when I log in"), startup), "chkStartAtLogin");
    startupLayout->addWidget(startAtLogin);
    notifySuccess
        = named(new QCheckBox(QStringLiteral("Notify me when a scheduled transfer fetches files"), startup),
            "chkNotifySuccess");
    startupLayout->addWidget(notifySuccess);
    row->addWidget(ftp);
    row->addWidget(startup);
    QGroupBox* wildCards = group(tab, QStringLiteral("Wild Cards"));
    auto* grid = new QGridLayout(wildCards);
    sequenceStart = named(new NumberField(kSequenceMin, kSequenceMax, 1, wildCards), "SpinEdit1");
    resetSequence
        = named(new QCheckBox(QStringLiteral("Reset sequence after each transfer"), wildCards), "CheckBox4");
    grid->addWidget(label(wildCards, QStringLiteral("Sequence Starts at:"), sequenceStart), 0, 0);
    grid->addWidget(sequenceStart, 0, 1);
    grid->addWidget(resetSequence, 1, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    static_cast<QVBoxLayout*>(tab->layout())->addLayout(row);
    tab->layout()->addWidget(wildCards);

    QGroupBox* unattended = group(tab, QStringLiteral("Unattended runs"));
    auto* more = new QGridLayout(unattended);
    onlyNewer = named(new QCheckBox(QStringLiteral("Fetch only files that are new or changed"), unattended),
        "chkOnlyNewer");
    onlyNewer->setToolTip(QStringLiteral("Skips a file whose local copy has the same size and is not older. "
                                         "A name with the sequence field [seq] is always new."));
    settleSeconds = named(new QSpinBox(unattended), "spnSettleSeconds");
    settleSeconds->setRange(0, kSettleSecondsMax);
    settleSeconds->setSpecialValueText(QStringLiteral("off"));
    settleSeconds->setToolTip(
        QStringLiteral("Skip files changed in the last N seconds (still being written)"));
    retries = named(new QSpinBox(unattended), "spnRetries");
    retries->setRange(0, kRetriesMax);
    retryDelay = named(new QSpinBox(unattended), "spnRetryDelay");
    retryDelay->setRange(kRetryDelayMinutesMin, kRetryDelayMinutesMax);
    retryDelay->setValue(5);
    useKeyring = named(
        new QCheckBox(QStringLiteral("Keep passwords in the desktop keyring"), unattended), "chkUseKeyring");
    more->addWidget(onlyNewer, 0, 0, 1, 5);
    more->addWidget(label(unattended, QStringLiteral("Skip files changed in the last"), settleSeconds), 1, 0);
    more->addWidget(settleSeconds, 1, 1);
    more->addWidget(new QLabel(QStringLiteral("seconds"), unattended), 1, 2);
    more->addWidget(label(unattended,
                        QStringLiteral("When a scheduled transfer cannot connect or loses the "
                                       "connection, try again"),
                        retries),
        2, 0, 1, 5);
    more->addWidget(retries, 3, 1);
    more->addWidget(new QLabel(QStringLiteral("times,"), unattended), 3, 2);
    more->addWidget(retryDelay, 3, 3);
    more->addWidget(new QLabel(QStringLiteral("minutes apart"), unattended), 3, 4);
    more->addWidget(useKeyring, 4, 0, 1, 5);
    more->setColumnStretch(4, 1);
    tab->layout()->addWidget(unattended);
    static_cast<QVBoxLayout*>(tab->layout())->addStretch();
}

void MainWindowForm::build(QWidget* parent)
{
    const QStringList titles = tabTitles();
    pages = named(new QTabWidget(parent), "PageControl1");
    pages->setUsesScrollButtons(false); // all six tabs stay in view
    pages->setElideMode(Qt::ElideNone);

    buildSiteTab(titles[0]);
    buildLocalFolderTab(titles[1]);
    buildActionTab(titles[2]);
    buildScheduleTab(titles[3]);
    buildProxyTab(titles[4]);
    buildOptionsTab(titles[5]);
    pages->setCurrentIndex(0);
}

JobSettings MainWindowForm::snapshot() const
{
    JobSettings job;
    job.host = host->text();
    job.port = port->text();
    job.remoteFolder = remoteFolder->text();
    job.userName = userName->text();
    job.password = password->text();
    job.localFolder = localFolder->text();
    job.fileKind = allFiles->isChecked() ? JobSettings::FileKind::AllFiles : JobSettings::FileKind::OneFile;
    job.fileName = fileName->text();
    job.rename = rename->isChecked();
    job.renameTo = renameTo->text();
    job.scheduleKind = intervalKind->isChecked() ? JobSettings::ScheduleKind::Interval
                                                 : JobSettings::ScheduleKind::DailyTime;
    job.dailyTime = dailyTime->time();
    job.intervalMinutes = interval->valueForText(interval->text());
    job.proxyType = proxyType->currentIndex();
    job.proxyHost = proxyHost->text();
    job.proxyPort = proxyPort->text();
    job.proxyUserName = proxyUserName->text();
    job.proxyPassword = proxyPassword->text();
    job.passive = passive->isChecked();
    job.overwrite = overwrite->isChecked();
    job.autoLoad = autoLoad->isChecked();
    job.autoStart = autoStart->isChecked();
    job.minimized = minimized->isChecked();
    job.startAtLogin = startAtLogin->isChecked();
    job.notifySuccess = notifySuccess->isChecked();
    job.resetSequence = resetSequence->isChecked();
    job.sequenceStart = sequenceStart->valueForText(sequenceStart->text());
    job.security = static_cast<JobSettings::Security>(std::max(0, security->currentIndex()));
    job.trustedCertificate = trustedCertificate;
    job.onlyNewer = onlyNewer->isChecked();
    job.settleSeconds = settleSeconds->value();
    job.connections = connections->value();
    job.retries = retries->value();
    job.retryDelayMinutes = retryDelay->value();
    job.useKeyring = useKeyring->isChecked();
    job.protocol = sftpChosen() ? JobSettings::Protocol::Sftp : JobSettings::Protocol::Ftp;
    job.keyFile = keyFile->text();
    job.keyPassphrase = keyPassphrase->text();
    job.trustedHostKey = trustedHostKey;
    return job;
}

bool MainWindowForm::sftpChosen() const
{
    return protocol->currentIndex() == 1;
}

QString MainWindowForm::trustedOfProtocol() const
{
    return sftpChosen() ? trustedHostKey : trustedCertificate;
}

void MainWindowForm::showTrust()
{
    const bool sftp = sftpChosen();
    trustedLabel->setText(
        sftp ? QStringLiteral("Trusted host key:") : QStringLiteral("Trusted certificate:"));
    QString shown = trustedOfProtocol();
    if (!sftp) // "AB:CD:...", as the question showed it
        for (qsizetype at = shown.size() - 2; at > 0; at -= 2)
            shown.insert(at, QLatin1Char(':'));
    if (trustedFingerprint->text() != shown) {
        trustedFingerprint->setText(shown);
        trustedFingerprint->setCursorPosition(0);
    }
    trustedFingerprint->setToolTip(shown);
}

void MainWindowForm::apply(const JobSettings& job)
{
    const bool wasApplying = std::exchange(applying, true);
    autoLoad->setChecked(job.autoLoad);
    autoStart->setChecked(job.autoStart);
    minimized->setChecked(job.minimized);
    setText(host, job.host);
    setText(port, job.port);
    setText(remoteFolder, job.remoteFolder);
    setText(userName, job.userName);
    setText(password, job.password);
    setText(localFolder, job.localFolder);
    if (job.fileKind == JobSettings::FileKind::AllFiles)
        allFiles->setChecked(true);
    else
        oneFile->setChecked(true);
    setText(fileName, job.fileName);
    rename->setChecked(job.rename);
    setText(renameTo, job.renameTo);
    const QTime time(job.dailyTime.hour(), job.dailyTime.minute(), job.dailyTime.second());
    if (dailyTime->time() != time)
        dailyTime->setTime(time);
    interval->setValue(job.intervalMinutes);
    if (job.scheduleKind == JobSettings::ScheduleKind::Interval)
        intervalKind->setChecked(true);
    else
        dailyTimeKind->setChecked(true);
    proxyType->setCurrentIndex(job.proxyType >= 0 && job.proxyType < proxyType->count() ? job.proxyType : -1);
    setText(proxyHost, job.proxyHost);
    setText(proxyPort, job.proxyPort);
    setText(proxyUserName, job.proxyUserName);
    setText(proxyPassword, job.proxyPassword);
    passive->setChecked(job.passive);
    overwrite->setChecked(job.overwrite);
    resetSequence->setChecked(job.resetSequence);
    sequenceStart->setValue(job.sequenceStart);
    startAtLogin->setChecked(job.startAtLogin);
    notifySuccess->setChecked(job.notifySuccess);
    security->setCurrentIndex(static_cast<int>(job.security));
    trustedCertificate = job.trustedCertificate;
    onlyNewer->setChecked(job.onlyNewer);
    settleSeconds->setValue(job.settleSeconds);
    connections->setValue(job.connections);
    retries->setValue(job.retries);
    retryDelay->setValue(job.retryDelayMinutes);
    useKeyring->setChecked(job.useKeyring);
    protocol->setCurrentIndex(job.protocol == JobSettings::Protocol::Sftp ? 1 : 0);
    setText(keyFile, job.keyFile);
    setText(keyPassphrase, job.keyPassphrase);
    trustedHostKey = job.trustedHostKey;
    showTrust();
    applying = wasApplying;
}

} // namespace taskhaul
