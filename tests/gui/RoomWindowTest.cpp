// The window in a room, against a referee of the test's own on the loopback
// address: it takes the room's size, scaled to fit the screen, and shows
// the connection in its title; its events reach the referee in the room's
// units, a press at once; a lost connection shows and is made again by
// itself, the battle and the recording file started over from the new join.

#include <gtest/gtest.h>

#include <QHostAddress>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QTest>
#include <QWebSocket>
#include <QWebSocketServer>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/GameWindow.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// Larger than any screen the tests run on: the window shows it scaled down.
constexpr int ROOM_WIDTH = 3200, ROOM_HEIGHT = 2400;
constexpr int WAIT_MS = 5000;

// Sends each screen that connects its join: the room's tick, the people,
// and a join text; keeps what the screens send. Or, told to refuse, answers
// every request (an upgrade, or a plain GET asking why) with that refusal.
class Referee {
public:
    Referee() : sockets_(QStringLiteral("referee"), QWebSocketServer::NonSecureMode) {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* connection = server_.nextPendingConnection()) {
                if (refusal_.empty()) sockets_.handleConnection(connection);
                else AnswerRefusal(connection);
            }
        });
        QObject::connect(&sockets_, &QWebSocketServer::newConnection, [this] {
            QWebSocket* screen = sockets_.nextPendingConnection();
            screens_.emplace_back(screen);
            QObject::connect(screen, &QWebSocket::textMessageReceived,
                             [this](const QString& frame) { received += frame.toStdString(); });
            for (const std::string& frame : {"# joined " + std::to_string(joinAt), std::string("# people 2"),
                                             "version 1\nseed 7\nsize " + std::to_string(ROOM_WIDTH) + " " +
                                                 std::to_string(ROOM_HEIGHT) + "\ntick 5\n"})
                screen->sendTextMessage(QString::fromStdString(frame));
        });
    }
    RoomLink Link() const {
        const std::string id(32, 'a'), host = "127.0.0.1:" + std::to_string(server_.serverPort());
        return **ReadRoomLink("http://" + host + "/#live=" + id + "." + id);
    }
    int Connections() const { return int(screens_.size()); }
    void DropTheLast() { screens_.back()->close(); }
    // "STATUS TEXT" and the refusal's kind, or none to serve again.
    void Refuse(const std::string& status, const std::string& kind) {
        refusal_ = "HTTP/1.1 " + status + "\r\nKestrel-Refusal: " + kind +
                   "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }
    void Serve() { refusal_.clear(); }

    std::uint64_t joinAt = 100;
    std::string received;

private:
    void AnswerRefusal(QTcpSocket* connection) {
        QObject::connect(connection, &QTcpSocket::disconnected, connection, &QObject::deleteLater);
        QObject::connect(connection, &QTcpSocket::readyRead, connection, [connection, answer = refusal_] {
            if (!connection->readAll().contains("\r\n\r\n")) return;
            connection->write(answer.data(), qint64(answer.size()));
            connection->disconnectFromHost();
        });
    }

    QTcpServer server_;
    QWebSocketServer sockets_;
    std::vector<std::unique_ptr<QWebSocket>> screens_;
    std::string refusal_;
};

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(RoomWindow, FollowsTheRoomAtItsSizeAndJoinsAgainWhenCutOff) {
    const fs::path path = fs::temp_directory_path() / ("kestrel-room-" + std::to_string(::getpid()) + ".rec");
    Referee referee;
    GameWindow w;
    ASSERT_EQ(w.JoinRoom(referee.Link()), std::nullopt);
    w.RecordInto(*RecordingFile::Create(path.string()));
    w.show();
    EXPECT_EQ(w.windowTitle(), QStringLiteral("3D Kestrel (playing, 2 in the room)"));
    EXPECT_TRUE(w.GameForTesting().Following());
    EXPECT_EQ(w.GameForTesting().Width(), ROOM_WIDTH);
    // Scaled down to fit, the room's shape kept.
    const QSize screen = w.screen()->availableSize();
    EXPECT_TRUE(w.width() == screen.width() || w.height() == screen.height()) << w.width() << "x" << w.height();
    EXPECT_LE(w.width(), screen.width());
    EXPECT_LE(w.height(), screen.height());
    const double scale = double(w.width()) / ROOM_WIDTH;
    EXPECT_NEAR(w.height(), ROOM_HEIGHT * scale, 1);

    // A press goes to the referee in the room's units at once: the window's
    // timer, stopped, ticks no more before it arrives.
    QTimer* timer = w.findChild<QTimer*>(QStringLiteral("tmr"));
    timer->stop();
    QTest::mousePress(&w, Qt::LeftButton, {}, QPoint(100, 50));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !referee.received.empty(); }, WAIT_MS));
    timer->start();
    std::istringstream down(referee.received);
    std::string command;
    int button = 0;
    double x = 0, y = 0;
    down >> command >> button >> x >> y;
    EXPECT_EQ(command, "down");
    EXPECT_NEAR(x, 100 / scale, 1 / scale);
    EXPECT_NEAR(y, 50 / scale, 1 / scale);
    EXPECT_TRUE(ReadAll(path).starts_with("# joined 100\nversion 1\nseed 7\nsize 3200 2400\n")) << ReadAll(path);

    // Cut off: the title says so, and the window joins again by itself.
    referee.joinAt = 2000;
    referee.DropTheLast();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return w.windowTitle() == QStringLiteral("3D Kestrel (connection lost, trying again)"); }, WAIT_MS));
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.GameForTesting().FollowedTick() >= 2000; }, WAIT_MS));
    EXPECT_EQ(referee.Connections(), 2);
    EXPECT_EQ(w.windowTitle(), QStringLiteral("3D Kestrel (playing, 2 in the room)"));
    EXPECT_TRUE(ReadAll(path).starts_with("# joined 2000\nversion 1\n")) << ReadAll(path);
    w.close();
    fs::remove(path);
}

// The window says in words why a room refused it, whatever the status,
// and tries again only what may pass: a full room may empty, an ended room
// never comes back.
TEST(RoomWindow, SaysWhyItWasRefusedAndTriesAgainOnlyWhatMayPass) {
    Referee referee;
    GameWindow w;
    referee.Refuse("403 Forbidden", "wrong-key");
    EXPECT_EQ(w.JoinRoom(referee.Link()), "the link's key does not open that room");
    referee.Refuse("404 Not Found", "other-server");
    EXPECT_EQ(w.JoinRoom(referee.Link()), "the room lives on another server than the one the link reached");

    referee.Serve();
    ASSERT_EQ(w.JoinRoom(referee.Link()), std::nullopt);
    w.show();
    referee.Refuse("503 Service Unavailable", "room-full");
    referee.DropTheLast();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return w.windowTitle() ==
                   QStringLiteral("3D Kestrel (connection lost (the room has as many screens as it takes), trying again)");
        },
        WAIT_MS))
        << w.windowTitle().toStdString();
    referee.Refuse("410 Gone", "room-ended");
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return w.windowTitle() == QStringLiteral("3D Kestrel (out of the room: the room has ended)"); },
        2 * WAIT_MS))
        << w.windowTitle().toStdString();
    w.close();
}

}  // namespace
}  // namespace kestrel
