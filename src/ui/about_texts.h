#pragma once

#include <QString>
#include <QtGlobal>

#include <optional>

class QLocale;

namespace taskhaul {

// The program's own version numbers, as the build sets them.
struct ProgramVersion {
    quint16 major = 0;
    quint16 minor = 0;
    quint16 release = 0;
    quint16 build = 0;
};

// What the About window tells about the program and the machine it runs on.
struct SystemFacts {
    QString productName; // the distribution's pretty name; empty when unknown
    QString kernelVersion; // e.g. "6.1.0-18-amd64"; empty when unknown
    std::optional<quint64> physicalMemoryBytes;
    std::optional<ProgramVersion> programVersion;

    // Reads the running system and the version this program was built with.
    static SystemFacts current();
};

// The version this program was built with, or nothing when the build set none.
std::optional<ProgramVersion> BuiltProgramVersion();

// "Version 1.1 (Build 9)"; "Version 0.2 build 50" when no version is known.
QString AboutVersionText(const std::optional<ProgramVersion>& version);

// The system's name, a blank, then " (Build " + kernel version + ")", so two
// blanks stand between them. An empty name reads "Unknown"; with no kernel
// version known the text ends after "(Build ".
QString AboutOsText(const QString& productName, const QString& kernelVersion);

// Total physical memory in kilobytes (rounded), grouped by `locale`'s thousands
// separator, then " KB": 3,221,225,472 bytes gives "3,145,728 KB".
QString AboutMemoryText(quint64 bytes, const QLocale& locale);

} // namespace taskhaul
