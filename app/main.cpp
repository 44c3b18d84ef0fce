#include <QApplication>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

#include "app/AnyoneRequests.h"
#include "app/CommandLine.h"
#include "app/GameWindow.h"

int main(int argc, char** argv) {
    // The command line is the program's own, read before any window opens.
    kestrel::Session session;
    if (const auto status = kestrel::PrepareSession({argv + 1, argv + argc}, std::cout, std::cerr, session))
        return *status;
    int qtArgc = 1;
    QApplication app(qtArgc, argv);
    QApplication::setApplicationName(QStringLiteral("kestrel"));
    // Lets the desktop match the window with its menu entry and icon.
    QGuiApplication::setDesktopFileName(QStringLiteral("io.kestrel.Kestrel"));
    kestrel::GameWindow frm;
    if (!session.replay.empty())
        if (const auto error = frm.PlayBack(session.replay)) {  // checked already; kept as a guard
            std::cerr << "kestrel: " << *error << std::endl;
            return kestrel::EXIT_BAD_START;
        }
    // A room open to anyone is found before the window shows, and joined
    // as a link given would be.
    if (session.playAnyone) {
        kestrel::Result<kestrel::RoomLink> found =
            kestrel::FindAnyoneRoom(session.playAnyone->address, kestrel::START_WIDTH, kestrel::START_HEIGHT);
        if (!found) {
            std::cerr << "kestrel: " << session.playAnyone->given << ": " << found.Why() << std::endl;
            return kestrel::EXIT_BAD_START;
        }
        session.join = *std::move(found);
    }
    if (session.join) {
        if (const auto refused = frm.JoinRoom(*session.join)) {
            std::cerr << "kestrel: " << session.join->text << ": " << *refused << std::endl;
            return kestrel::EXIT_BAD_START;
        }
        // Whoever started the program learns which tank is theirs at once.
        std::cout << frm.YourTank() << std::endl;
    }
    if (session.record) frm.RecordInto(std::move(session.record));
    frm.show();
    const int status = QApplication::exec();
    return status != 0 ? status : frm.ExitStatus();
}
