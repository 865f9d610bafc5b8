// Saves pictures of the About window and the wildcard guide, as they appear on
// this machine, for the documentation: ui_screenshots OUTPUT_FOLDER
// (run it on a real display or under xvfb-run; scripts/screenshots-ui.sh does).
#include "app/program_icon.h"
#include "log/shell.h"
#include "ui/about_box.h"
#include "ui/wildcard_guide.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QTest>

#include <cstdio>

namespace {

class NoShell : public taskhaul::Shell {
public:
    OpenResult open(const QUrl&) override { return OpenResult::Opened; }
    OpenResult showFolder(const QString&) override { return OpenResult::Opened; }
};

bool Save(QWidget& window, const QString& path)
{
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    QTest::qWait(200); // let the first paint settle
    const bool saved = window.grab().save(path);
    window.hide();
    return saved;
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fputs("usage: ui_screenshots OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    QApplication::setWindowIcon(taskhaul::programIcon());
    const QDir out(QString::fromLocal8Bit(argv[1]));

    NoShell shell;
    taskhaul::AboutBox about(shell);
    taskhaul::WildcardGuide guide;
    const bool ok = Save(about, out.filePath(QStringLiteral("about.png")))
        && Save(guide, out.filePath(QStringLiteral("wildcard-guide.png")));
    if (!ok)
        std::fputs("ui_screenshots: could not show or save a window\n", stderr);
    return ok ? 0 : 1;
}
