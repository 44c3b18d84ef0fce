#include "app/LiveConnection.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslError>
#include <QUrl>

#include "game/LiveWire.h"
#include "game/SeatLegend.h"

namespace kestrel {
namespace {

// The HTTP status with which the server refused the upgrade; none when the
// connection failed otherwise. Qt names it only in its error's text.
std::optional<int> RefusedUpgrade(const QWebSocket& socket) {
    static const QRegularExpression STATUS(QStringLiteral("status code: (\\d+)"));
    const QRegularExpressionMatch status = STATUS.match(socket.errorString());
    if (!status.hasMatch()) return std::nullopt;
    return status.captured(1).toInt();
}

// Why a connection failed that no refusal explains, in words.
std::string WhyFailed(const QWebSocket& socket, const std::string& untrusted) {
    if (!untrusted.empty()) return "the server's certificate is not trusted (" + untrusted + ")";
    if (const std::optional<int> status = RefusedUpgrade(socket))
        return "the server refused the connection (HTTP " + std::to_string(*status) + ")";
    return "cannot reach the server (" + socket.errorString().toStdString() + ")";
}

}  // namespace

// The system's store; or, as for OpenSSL's own tools, the certificates in
// the file SSL_CERT_FILE and the folders SSL_CERT_DIR names, when either is
// set. Qt reads only the system's folders, so the program reads the two
// itself.
QSslConfiguration TlsConfiguration() {
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    const QString file = qEnvironmentVariable("SSL_CERT_FILE");
    const QString folders = qEnvironmentVariable("SSL_CERT_DIR");
    if (file.isEmpty() && folders.isEmpty()) return configuration;
    QList<QSslCertificate> authorities;
    if (!file.isEmpty()) authorities += QSslCertificate::fromPath(file);
    for (const QString& folder : folders.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        authorities += QSslCertificate::fromPath(folder + QStringLiteral("/*"), QSsl::Pem,
                                                 QSslCertificate::PatternSyntax::Wildcard);
    configuration.setCaCertificates(authorities);
    return configuration;
}

LiveConnection::LiveConnection(Game& game, RoomLink link)
    : game_(game), link_(std::move(link)), client_(game, link_.Plays()) {
    retry_.setSingleShot(true);
    connect(&retry_, &QTimer::timeout, this, &LiveConnection::Open);
    connect(&socket_, &QWebSocket::connected, this, &LiveConnection::OnConnected);
    connect(&socket_, &QWebSocket::textMessageReceived, this, &LiveConnection::OnFrame);
    connect(&socket_, &QWebSocket::disconnected, this, &LiveConnection::OnLost);
    socket_.setSslConfiguration(TlsConfiguration());
    // Not ignored: the handshake fails after them, and they say why.
    connect(&socket_, &QWebSocket::sslErrors, this, [this](const QList<QSslError>& errors) {
        for (const QSslError& error : errors)
            untrusted_ += (untrusted_.empty() ? "" : "; ") + error.errorString().toStdString();
    });
    // Handled once the socket is done with the error: a refused upgrade
    // leaves it open, and it is dropped then.
    connect(&socket_, qOverload<QAbstractSocket::SocketError>(&QWebSocket::error), this, &LiveConnection::OnError,
            Qt::QueuedConnection);
}

LiveConnection::~LiveConnection() { Leave(); }

std::optional<std::string> LiveConnection::Join(int timeoutMs) {
    QEventLoop waiting;
    QTimer::singleShot(timeoutMs, &waiting, &QEventLoop::quit);
    // The first try has no second: a link that does not work is said so.
    leaving_ = true;
    Open();
    joining_ = &waiting;
    if (open_) waiting.exec();
    joining_ = nullptr;
    leaving_ = false;
    if (client_.Joined()) return std::nullopt;
    const std::string reason = !refused_.empty()   ? "the room sent " + refused_
                               : !failure_.empty() ? failure_
                                                   : "the room did not answer";
    Leave();
    return reason;
}

void LiveConnection::Open() {
    failure_.clear();
    refused_.clear();
    untrusted_.clear();
    open_ = true;
    connection_.Connecting();
    // Back within the grace, the seat's token takes the seat again.
    socket_.open(QUrl(QString::fromStdString(SocketAddress(link_, client_.SeatToken()))));
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
    const bool wasJoined = client_.Joined();
    if (const std::optional<std::string> refused = client_.Receive(text)) {
        refused_ = *refused;
        socket_.abort();
        OnLost();
        return;
    }
    if (!wasJoined && client_.Joined()) {
        connection_.Joined();
        if (onJoined) onJoined();
        if (joining_) joining_->quit();
        Changed();
    } else if (IsNotice(text)) {
        Changed();
    }
}

void LiveConnection::OnError() {
    if (!open_ || asking_) return;
    if (const std::optional<int> status = RefusedUpgrade(socket_)) return AskWhyRefused(*status);
    failure_ = WhyFailed(socket_, untrusted_);
    socket_.abort();
    OnLost();
}

// The upgrade's answer is not Qt's to give: the same address over plain
// HTTP answers as the upgrade did, with the refusal's kind. Its status
// stands for the kind when that answer does not come.
void LiveConnection::AskWhyRefused(int status) {
    asking_ = true;
    failure_ = WhyFailed(socket_, untrusted_);
    socket_.abort();
    QNetworkRequest check(QUrl(QString::fromStdString(SocketCheckAddress(link_, client_.SeatToken()))));
    check.setSslConfiguration(TlsConfiguration());
    QNetworkReply* reply = checks_.get(check);
    connect(reply, &QNetworkReply::finished, this, [this, reply, status] {
        reply->deleteLater();
        asking_ = false;
        const QVariant answered = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        const QByteArray token = reply->rawHeader(QByteArray(REFUSAL_HEADER.data(), int(REFUSAL_HEADER.size())));
        OnRefused(answered.isValid() ? RefusalOfAnswer(answered.toInt(), token.toStdString()) : RefusedByStatus(status));
    });
}

// A refusal that may pass is tried again, as a lost connection is; one
// that may not ends this screen's room. Nothing the table knows is a
// connection lost.
void LiveConnection::OnRefused(std::optional<kestrel::Refused> kind) {
    if (!open_) return;
    if (!kind) return OnLost();
    failure_ = TermsOf(*kind).words;
    open_ = connected_ = false;
    if (joining_) joining_->quit();
    if (leaving_) return;
    if (const std::optional<int> waitMs = connection_.RefusedAs(*kind)) retry_.start(*waitMs);
    Changed();
}

// Whichever of the socket's signals says so first; the rest find the
// connection gone already.
void LiveConnection::OnLost() {
    if (!open_ || asking_) return;
    // A connection refused says so before its error comes.
    if (failure_.empty() && socket_.error() != QAbstractSocket::UnknownSocketError) failure_ = WhyFailed(socket_, untrusted_);
    open_ = connected_ = false;
    if (joining_) joining_->quit();
    if (leaving_) return;
    if (const std::optional<int> waitMs = connection_.Lost(!refused_.empty() ? refused_ : failure_))
        retry_.start(*waitMs);
    Changed();
}

void LiveConnection::Tick() {
    client_.Tick();
    CheckTheSeats();
    SendOutgoing();
}

// Kills and wins come with the battle's ticks, not with notices: the title
// is told when they change, and only then.
void LiveConnection::CheckTheSeats() {
    if (game_.SeatRecord() == seatsTold_) return;
    seatsTold_ = game_.SeatRecord();
    Changed();
}

void LiveConnection::AfterInput() {
    if (client_.OutgoingIsUrgent()) SendOutgoing();
}

void LiveConnection::SendOutgoing() {
    const std::string lines = client_.TakeOutgoing();
    if (!connected_ || !client_.Joined()) return;  // events made while cut off are not kept
    for (const std::string& frame : ClientFrames(lines)) socket_.sendTextMessage(QString::fromStdString(frame));
}

// The close frame goes out at once: the program may end right after.
void LiveConnection::Leave() {
    leaving_ = true;
    connection_.Close();
    retry_.stop();
    open_ = connected_ = false;
    if (socket_.state() == QAbstractSocket::UnconnectedState) return;
    socket_.close();
    socket_.flush();
}

QString LiveConnection::State() const {
    const QString reason = QString::fromStdString(connection_.Reason());
    if (connection_.State() == ConnectionState::Closed && !reason.isEmpty())
        return QStringLiteral("out of the room: ") + reason;
    if (!connected_ || !client_.Joined()) {
        if (!connection_.Retrying()) return QStringLiteral("connecting");
        return reason.isEmpty() ? QStringLiteral("connection lost, trying again")
                                : QStringLiteral("connection lost (%1), trying again").arg(reason);
    }
    QString state = (link_.Plays() ? QStringLiteral("playing") : QStringLiteral("watching")) +
                    QStringLiteral(", %1 in the room").arg(client_.People());
    if (client_.Mismatches() > 0)
        state += QStringLiteral(", out of step at tick %1").arg(client_.LastMismatchTick());
    return state;
}

// A room that names no seats has the one player the game always has, who
// is not to be told they watch.
QString LiveConnection::SeatsText() const {
    if (!connected_ || !client_.Joined() || client_.Roster().empty()) return {};
    std::string text = YourTank();
    const char* before = " ";
    for (const SeatEntry& entry : SeatLegend(game_.SeatRecord(), client_.Roster(), client_.OwnSeat())) {
        text += before + SeatEntryText(entry);
        before = "; ";
    }
    return QString::fromStdString(text);
}

std::string LiveConnection::YourTank() const { return YourTankText(client_.OwnSeat(), client_.SeatsWereFull()); }

void LiveConnection::Changed() const {
    if (onStateChanged) onStateChanged();
}

}  // namespace kestrel
