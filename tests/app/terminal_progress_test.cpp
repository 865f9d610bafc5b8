// The one-line progress --run-once shows on a terminal.
#include "app/terminal_progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

namespace taskhaul::test {
namespace {

TEST(TerminalProgress, NamesTheFileAndGivesBytesAndRate)
{
    ProgressState state;
    state.active = true;
    state.received = 1536;
    state.bytesPerSecond = 2048;
    EXPECT_EQ(TerminalProgress::line(QStringLiteral("a\nb.bin"), state),
        QStringLiteral("a / b.bin: 1.5 KiB, 2.0 KiB/s"));
}

TEST(TerminalProgress, RewritesOneLineInPlaceAndWipesItAtTheEnd)
{
    std::FILE* file = std::tmpfile();
    ASSERT_NE(file, nullptr);
    TerminalProgress progress(file);
    ProgressState state;
    state.active = true;
    state.received = 10;
    progress.show(QStringLiteral("f"), state);
    state.received = 20;
    progress.show(QStringLiteral("f"), state);
    progress.show(QStringLiteral("f"), ProgressState {}); // ended
    progress.clear(); // nothing left to wipe

    std::rewind(file);
    std::string written(256, '\0');
    written.resize(std::fread(written.data(), 1, written.size(), file));
    std::fclose(file);
    // No rate until one has been measured.
    EXPECT_EQ(written, "\rf: 10 B\x1b[K\rf: 20 B\x1b[K\r\x1b[K");
}

} // namespace
} // namespace taskhaul::test
