#include "app/autostart_entry.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

namespace taskhaul {

namespace {

const QString kMarker = QStringLiteral("X-Velmora-Taskhaul-Autostart=true");

QString configHome()
{
    const QString fromEnvironment = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (!fromEnvironment.isEmpty() && QDir::isAbsolutePath(fromEnvironment))
        return fromEnvironment;
    return QDir::homePath() + QStringLiteral("/.config");
}

QString readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

} // namespace

QString AutostartEntry::path()
{
    return configHome() + QStringLiteral("/autostart/") + QLatin1String(fileName);
}

QString AutostartEntry::programPath()
{
    // The launcher keeps its command line when it becomes the window program,
    // so the first argument names what the user started.
    const QStringList arguments = QCoreApplication::arguments();
    const QString first = arguments.isEmpty() ? QString() : arguments.first();
    QString program;
    if (first.contains(QLatin1Char('/')))
        program = QFileInfo(first).absoluteFilePath();
    else if (!first.isEmpty())
        program = QStandardPaths::findExecutable(first);
    if (program.isEmpty() || !QFileInfo(program).isExecutable())
        program = QCoreApplication::applicationFilePath();
    return QDir::cleanPath(program);
}

QString AutostartEntry::execArgument(const QString& argument)
{
    // Arguments with reserved characters are quoted; inside the quotes ", `, $
    // and \ take a backslash. The Exec value is then a string value, whose own
    // escapes double every backslash; a literal % is written %%.
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool quote = argument.isEmpty();
    for (const QChar c : argument)
        quote = quote || reserved.contains(c);
    QString quoted;
    if (quote) {
        quoted += QLatin1Char('"');
        for (const QChar c : argument) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$')
                || c == QLatin1Char('\\'))
                quoted += QLatin1Char('\\');
            quoted += c;
        }
        quoted += QLatin1Char('"');
    } else {
        quoted = argument;
    }
    QString value;
    for (const QChar c : std::as_const(quoted)) {
        if (c == QLatin1Char('\\'))
            value += QStringLiteral("\\\\");
        else if (c == QLatin1Char('\n'))
            value += QStringLiteral("\\n");
        else if (c == QLatin1Char('\t'))
            value += QStringLiteral("\\t");
        else if (c == QLatin1Char('\r'))
            value += QStringLiteral("\\r");
        else if (c == QLatin1Char('%'))
            value += QStringLiteral("%%");
        else
            value += c;
    }
    return value;
}

QString AutostartEntry::content(const QString& program)
{
    return QStringLiteral("[Desktop Entry]\n"
                          "Type=Application\n"
                          "Name=Taskhaul\n"
                          "Comment=Download files from an FTP site on demand or on a schedule\n"
                          "Exec=%1 -r -m\n"
                          "Icon=org.velmora.Taskhaul\n"
                          "Terminal=false\n"
                          "Hidden=false\n"
                          "X-GNOME-Autostart-enabled=true\n")
               .arg(execArgument(program))
        + kMarker + QLatin1Char('\n');
}

bool AutostartEntry::isOurs(const QString& text)
{
    return text.split(QLatin1Char('\n')).contains(kMarker);
}

bool AutostartEntry::apply(bool on, const QString& program)
{
    const QString file = path();
    if (!on) {
        if (!QFileInfo::exists(file) || !isOurs(readFile(file)))
            return true;
        return QFile::remove(file);
    }
    if (QFileInfo::exists(file) && !isOurs(readFile(file)))
        return true; // the user's own entry stays as it is
    const QString text = content(program);
    if (readFile(file) == text)
        return true;
    if (!QDir().mkpath(QFileInfo(file).path()))
        return false;
    QSaveFile out(file);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    out.write(text.toUtf8());
    return out.commit();
}

} // namespace taskhaul
