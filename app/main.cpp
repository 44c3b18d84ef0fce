#include <QApplication>

#include "app/GameWindow.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("kestrel"));
    kestrel::GameWindow frm;
    frm.show();
    return QApplication::exec();
}
