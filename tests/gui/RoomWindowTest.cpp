// The window in a room, against a referee of the test's own on the loopback
// address: it takes the room's size, scaled to fit the screen, and shows
// the connection and the seats in its title; its events reach the referee in the room's
// units, a press at once; a lost connection shows and is made again by
// itself, the battle and the recording file started over from the new join;
// a room open to anyone is found through a server's answers of the test's own.

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

#include "app/AnyoneRequests.h"
#include "app/GameWindow.h"
#include "game/AnyoneSearch.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// Larger than any screen the tests run on: the window shows it scaled down.
constexpr int ROOM_WIDTH = 3200, ROOM_HEIGHT = 2400;
constexpr int WAIT_MS = 5000;

// Sends each screen that connects its join: the room's tick, the people,
// any further notices, and a join text for its seats; keeps the addresses
// the screens asked for and what they send. Or, told to refuse, answers
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
            addresses.push_back(screen->requestUrl().toString().toStdString());
            QObject::connect(screen, &QWebSocket::textMessageReceived,
                             [this](const QString& frame) { received += frame.toStdString(); });
            std::vector<std::string> frames{"# joined " + std::to_string(joinAt), "# people 2"};
            frames.insert(frames.end(), notices.begin(), notices.end());
            frames.push_back(JoinText());
            for (const std::string& frame : frames) screen->sendTextMessage(QString::fromStdString(frame));
        });
    }
    RoomLink Link() const {
        const std::string id(32, 'a'), host = "127.0.0.1:" + std::to_string(server_.serverPort());
        return **ReadRoomLink("http://" + host + "/#live=" + id + "." + id);
    }
    int Connections() const { return int(screens_.size()); }
    void DropTheLast() { screens_.back()->close(); }
    void SendTheLast(const std::string& frame) { screens_.back()->sendTextMessage(QString::fromStdString(frame)); }
    // "STATUS TEXT" and the refusal's kind, or none to serve again.
    void Refuse(const std::string& status, const std::string& kind) {
        refusal_ = "HTTP/1.1 " + status + "\r\nKestrel-Refusal: " + kind +
                   "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }
    void Serve() { refusal_.clear(); }

    std::uint64_t joinAt = 100;
    int seatCount = 1;  // past 1, a room's battle with seats
    std::vector<std::string> notices;
    std::vector<std::string> addresses;
    std::string received;

private:
    std::string JoinText() const {
        const std::string size = "size " + std::to_string(ROOM_WIDTH) + " " + std::to_string(ROOM_HEIGHT) + "\n";
        if (seatCount == 1) return "version 1\nseed 7\n" + size + "tick 5\n";
        return "version 3\nseed 7\n" + size + "seats " + std::to_string(seatCount) + "\ntick 5\n";
    }

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

// A server's answers to "Play with anyone", one a request in the order
// given; keeps each request's method, path and body.
class Lobby {
public:
    Lobby() {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, [this] {
            while (QTcpSocket* connection = server_.nextPendingConnection()) Serve(connection);
        });
    }
    std::string Address() const { return "http://127.0.0.1:" + std::to_string(server_.serverPort()); }
    // "STATUS TEXT", further header lines, and the body.
    void Then(const std::string& status, const std::string& headers, const std::string& body) {
        answers_.push_back("HTTP/1.1 " + status + "\r\n" + headers + "Content-Type: application/json\r\n" +
                           "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body);
    }

    std::vector<std::string> asked;  // "METHOD PATH BODY"

private:
    // Answered once the whole request has come, its body by its length.
    void Serve(QTcpSocket* connection) {
        QObject::connect(connection, &QTcpSocket::disconnected, connection, &QObject::deleteLater);
        auto request = std::make_shared<QByteArray>();
        QObject::connect(connection, &QTcpSocket::readyRead, connection, [this, connection, request] {
            *request += connection->readAll();
            const qsizetype headersEnd = request->indexOf("\r\n\r\n");
            if (headersEnd < 0) return;
            const QByteArray headers = request->left(headersEnd).toLower();
            const qsizetype length = headers.indexOf("content-length:");
            const qsizetype bodyLength =
                length < 0 ? 0 : headers.mid(length + 15, headers.indexOf("\r\n", length) - length - 15).trimmed().toInt();
            if (request->size() < headersEnd + 4 + bodyLength) return;
            const QList<QByteArray> line = request->left(request->indexOf("\r\n")).split(' ');
            asked.push_back(line.value(0).toStdString() + " " + line.value(1).toStdString() + " " +
                            request->mid(headersEnd + 4, bodyLength).toStdString());
            const std::string answer = answers_.empty() ? "HTTP/1.1 500 Nothing more\r\nConnection: close\r\n\r\n"
                                                        : answers_.front();
            if (!answers_.empty()) answers_.erase(answers_.begin());
            connection->write(answer.data(), qint64(answer.size()));
            connection->disconnectFromHost();
        });
    }

    QTcpServer server_;
    std::vector<std::string> answers_;
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

// A room with seats: the title names the window's tank and each seat's
// score, and follows the seats as the battle changes them; cut off, the
// window asks for its seat back with the token the room gave it.
TEST(RoomWindow, NamesItsTankAndTheSeatsAndAsksForItsSeatBack) {
    const std::string token = "0123456789abcdef0123456789abcdef";
    Referee referee;
    referee.seatCount = 2;
    referee.notices = {"# scores 0 0 1 0\n", "# seat 1 " + token + "\n", "# roster away here\n"};
    GameWindow w;
    ASSERT_EQ(w.JoinRoom(referee.Link()), std::nullopt);
    EXPECT_EQ(w.YourTank(), "You are the vermilion tank.");
    w.show();
    const QString seated = QStringLiteral(
        "3D Kestrel (playing, 2 in the room) \u2014 You are the vermilion tank. "
        "1 dark blue: 0 kills, 0 wins, away; 2 vermilion (you): 1 kill, 0 wins, here");
    EXPECT_EQ(w.windowTitle(), seated);
    // A seat that comes with the battle's ticks, not with a notice.
    referee.SendTheLast("seats 3\ntick 1\n");
    EXPECT_TRUE(QTest::qWaitFor([&] { return w.windowTitle() == seated + QStringLiteral("; 3 bluish green: 0 kills, 0 wins, gone"); },
                                WAIT_MS))
        << w.windowTitle().toStdString();

    referee.DropTheLast();
    EXPECT_TRUE(QTest::qWaitFor([&] { return referee.Connections() == 2 && w.windowTitle() == seated; }, WAIT_MS))
        << w.windowTitle().toStdString();
    ASSERT_EQ(referee.addresses.size(), 2u);
    EXPECT_EQ(referee.addresses[0].find("seat="), std::string::npos) << referee.addresses[0];
    EXPECT_TRUE(referee.addresses[1].ends_with("&seat=" + token)) << referee.addresses[1];
    w.close();
}

// "Play with anyone": the window takes a seat on another server after one
// found taken, and joins the room; a refusal, or an answer far too long,
// is said in words.
TEST(RoomWindow, FindsARoomOpenToAnyoneAndJoinsIt) {
    Referee referee;
    referee.seatCount = 2;
    referee.notices = {"# seat 1 0123456789abcdef0123456789abcdef\n"};
    const RoomLink link = referee.Link();
    const std::string seat = "/rooms/" + link.room + "/seat";
    Lobby lobby;
    const std::string elsewhere = R"({"room":")" + link.room + R"(","seat":")" + seat + R"("})";
    lobby.Then("200 OK", "", elsewhere);
    lobby.Then("409 Conflict", "Kestrel-Refusal: seats-taken\r\n", "{}");
    lobby.Then("200 OK", "", elsewhere);
    lobby.Then("200 OK", "", R"({"room":")" + link.room + R"(","play":")" + link.text + R"(","watch":"w"})");

    const Result<RoomLink> found = FindAnyoneRoom(lobby.Address(), 300, 200, WAIT_MS);
    ASSERT_TRUE(found) << found.Why();
    EXPECT_EQ(found->text, link.text);
    const std::string size = R"({"height":200,"width":300})";
    EXPECT_EQ(lobby.asked, (std::vector<std::string>{"POST /rooms/anyone " + size, "POST " + seat + " {}",
                                                     "POST /rooms/anyone " + size, "POST " + seat + " {}"}));
    GameWindow w;
    ASSERT_EQ(w.JoinRoom(*found), std::nullopt);
    EXPECT_EQ(w.YourTank(), "You are the vermilion tank.");

    lobby.Then("503 Service Unavailable", "Kestrel-Refusal: server-full\r\nRetry-After: 5\r\n", "{}");
    EXPECT_EQ(FindAnyoneRoom(lobby.Address(), 300, 200, WAIT_MS).Why(),
              "the server holds as many rooms and screens as it takes: try again in 5 seconds");
    lobby.Then("200 OK", "", std::string(1 << 20, ' '));
    EXPECT_EQ(FindAnyoneRoom(lobby.Address(), 300, 200, WAIT_MS).Why(),
              "the server's answer is too long (more than " + std::to_string(MAX_ANYONE_ANSWER_BYTES) + " bytes)");
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
