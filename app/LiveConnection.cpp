#include "app/LiveConnection.h"

#include <QEventLoop>
#include <QUrl>
#include <algorithm>

#include "game/LiveWire.h"

namespace kestrel {
namespace {

// Qt names a refused upgrade only in its error's text, by the HTTP status.
std::string Reason(const QWebSocket& socket) {
    const QString error = socket.errorString();
    if (error.contains(QStringLiteral("404"))) return "there is no such room on that server";
    if (error.contains(QStringLiteral("403"))) return "the link's key does not open that room";
    return "cannot join the room: " + error.toStdString();
}

}  // namespace

LiveConnection::LiveConnection(Game& game, RoomLink link)
    : link_(std::move(link)), client_(game, link_.Plays()) {
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &LiveConnection::Open);
    connect(&socket_, &QWebSocket::connected, this, &LiveConnection::OnConnected);
    connect(&socket_, &QWebSocket::textMessageReceived, this, &LiveConnection::OnFrame);
    connect(&socket_, &QWebSocket::disconnected, this, &LiveConnection::OnLost);
}

LiveConnection::~LiveConnection() { Leave(); }

std::optional<std::string> LiveConnection::Join(int timeoutMs) {
    QEventLoop waiting;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &waiting, &QEventLoop::quit);
    connect(&socket_, &QWebSocket::disconnected, &waiting, &QEventLoop::quit);
    const auto joined = connect(&socket_, &QWebSocket::textMessageReceived, &waiting, [&] {
        if (client_.Joined()) waiting.quit();
    });
    // The first try has no second: a link that does not work is said so.
    leaving_ = true;
    Open();
    timeout.start(timeoutMs);
    waiting.exec();
    disconnect(joined);
    leaving_ = false;
    if (client_.Joined()) return std::nullopt;
    std::string reason = !refused_.empty()                                  ? "the room sent " + refused_
                         : socket_.error() != QAbstractSocket::UnknownSocketError ? Reason(socket_)
                                                                                  : "the room did not answer";
    Leave();
    return reason;
}

void LiveConnection::Open() {
    refused_.clear();
    socket_.open(QUrl(QString::fromStdString(SocketAddress(link_))));
    Changed();
}

void LiveConnection::OnConnected() {
    connected_ = true;
    client_.Reconnected();
    Changed();
}

// A frame the battle cannot follow drops the connection; the next one
// starts from a join again.
void LiveConnection::OnFrame(const QString& frame) {
    const std::string text = frame.toStdString();
    if (const std::optional<std::string> refused = client_.Receive(text)) {
        refused_ = *refused;
        socket_.abort();
        return;
    }
    if (IsNotice(text)) Changed();
    if (client_.Joined()) retryMs_ = FIRST_RETRY_MS;
}

void LiveConnection::OnLost() {
    connected_ = false;
    if (leaving_) return;
    retry_.start(retryMs_);
    retryMs_ = std::min(2 * retryMs_, LAST_RETRY_MS);
    Changed();
}

void LiveConnection::SendOutgoing() {
    const std::string lines = client_.TakeOutgoing();
    if (!connected_) return;  // events made while cut off are not kept
    for (const std::string& frame : ClientFrames(lines)) socket_.sendTextMessage(QString::fromStdString(frame));
}

void LiveConnection::Leave() {
    leaving_ = true;
    retry_.stop();
    socket_.close();
}

QString LiveConnection::State() const {
    if (!connected_ || !client_.Joined())
        return retry_.isActive() ? QStringLiteral("connection lost, trying again") : QStringLiteral("connecting");
    QString state = (link_.Plays() ? QStringLiteral("playing") : QStringLiteral("watching")) +
                    QStringLiteral(", %1 in the room").arg(client_.People());
    if (client_.Mismatches() > 0)
        state += QStringLiteral(", out of step at tick %1").arg(client_.LastMismatchTick());
    return state;
}

void LiveConnection::Changed() const {
    if (onStateChanged) onStateChanged();
}

}  // namespace kestrel
