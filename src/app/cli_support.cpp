#include "app/cli_support.h"

#include <QByteArray>

#include <cstdio>

namespace taskhaul::cli {

int usageError(const std::string& message)
{
    std::fprintf(stderr, "taskhaul: %s\nTry 'taskhaul --help' for more information.\n", message.c_str());
    return 2;
}

std::string localBytes(const QString& word)
{
    const QByteArray bytes = word.toLocal8Bit();
    return std::string(bytes.constData(), std::size_t(bytes.size()));
}

void printLine(const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fputc('\n', stdout);
}

} // namespace taskhaul::cli
