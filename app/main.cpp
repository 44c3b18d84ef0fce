#include <QApplication>

#include "app/GameWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kestrel"));
    // Lets the desktop match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.kestrel.Kestrel"));
    kestrel::GameWindow frm;
    frm.show();
    return QApplication::exec();
}
