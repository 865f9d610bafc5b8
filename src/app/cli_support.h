#pragma once

#include <QString>

#include <string>

namespace taskhaul::cli {

// Reports a wrong command line on standard error; returns the exit status 2.
int usageError(const std::string& message);

// Command-line words are passed on as the bytes the user typed.
std::string localBytes(const QString& word);

// Writes one line of bytes to standard output.
void printLine(const std::string& text);

} // namespace taskhaul::cli
