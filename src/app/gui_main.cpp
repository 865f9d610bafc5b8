#include "app/gui_main.h"

#include <QApplication>
#include <QMainWindow>

namespace taskhaul {

int runGui(int argc, char** argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Taskhaul"));
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Velmora Taskhaul - Oskra Edition"));
    window.show();
    return app.exec();
}

} // namespace taskhaul
