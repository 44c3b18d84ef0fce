#include "app/AnyoneRequests.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslError>
#include <QTimer>
#include <QUrl>
#include <charconv>
#include <memory>
#include <optional>

#include "game/AnyoneSearch.h"
#include "game/Refusals.h"

namespace kestrel {
namespace {

constexpr char RETRY_AFTER[] = "Retry-After";

// What a server answered to one request.
struct Answered {
    int status = 0;
    std::string refusal;  // its Kestrel-Refusal header
    std::string body;     // at most one byte more than the search reads
    std::optional<int> waitSeconds;
};

// A Retry-After of whole seconds; none for a date or anything else.
std::optional<int> WaitSeconds(const QByteArray& header) {
    int seconds = 0;
    const auto [end, ec] = std::from_chars(header.data(), header.data() + header.size(), seconds);
    if (header.isEmpty() || ec != std::errc() || end != header.data() + header.size() || seconds < 0)
        return std::nullopt;
    return seconds;
}

// Why a request had no answer, in words.
std::string WhyUnanswered(const QNetworkReply& reply, const std::string& untrusted, bool timedOut, int timeoutMs) {
    if (!untrusted.empty()) return "the server's certificate is not trusted (" + untrusted + ")";
    if (timedOut) return "the server did not answer within " + std::to_string(timeoutMs / 1000) + " s";
    return "cannot reach the server (" + reply.errorString().toStdString() + ")";
}

// The status and headers of `reply` into `answered`: false when it has no
// status, as when no server answered.
bool Heard(const QNetworkReply& reply, Answered& answered) {
    const QVariant status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid()) return false;
    answered.status = status.toInt();
    answered.refusal = reply.rawHeader(QByteArray(REFUSAL_HEADER.data(), int(REFUSAL_HEADER.size()))).toStdString();
    answered.waitSeconds = WaitSeconds(reply.rawHeader(RETRY_AFTER));
    return true;
}

// Makes `request` on the server at `address` and waits for its answer.
Result<Answered> Post(QNetworkAccessManager& network, const std::string& address, const AnyoneRequest& request,
                      int timeoutMs) {
    QNetworkRequest post(QUrl(QString::fromStdString(address + request.path)));
    post.setSslConfiguration(TlsConfiguration());
    post.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/json"));
    // A redirect is an answer the search does not take, not one to follow.
    post.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    const std::unique_ptr<QNetworkReply> reply(network.post(post, QByteArray::fromStdString(request.body)));
    Answered answered;
    std::string untrusted;
    QEventLoop waiting;
    QTimer::singleShot(timeoutMs, &waiting, &QEventLoop::quit);
    QObject::connect(reply.get(), &QNetworkReply::finished, &waiting, &QEventLoop::quit);
    QObject::connect(reply.get(), &QNetworkReply::sslErrors, &waiting, [&untrusted](const QList<QSslError>& errors) {
        for (const QSslError& error : errors)
            untrusted += (untrusted.empty() ? "" : "; ") + error.errorString().toStdString();
    });
    // Of a longer answer than the search reads, no more is kept than shows
    // it, and the rest is not waited for.
    bool cut = false;
    reply->setReadBufferSize(qint64(MAX_ANYONE_ANSWER_BYTES) + 1);
    QObject::connect(reply.get(), &QNetworkReply::readyRead, &waiting, [&] {
        answered.body += reply->readAll().toStdString();
        if (answered.body.size() <= MAX_ANYONE_ANSWER_BYTES) return;
        answered.body.resize(MAX_ANYONE_ANSWER_BYTES + 1);
        Heard(*reply, answered);
        cut = true;
        reply->abort();
    });
    waiting.exec();
    if (cut) return answered;
    const bool timedOut = !reply->isFinished();
    if (timedOut) reply->abort();
    if (timedOut || !Heard(*reply, answered)) return Failure{WhyUnanswered(*reply, untrusted, timedOut, timeoutMs)};
    answered.body += reply->readAll().toStdString();
    return answered;
}

}  // namespace

Result<RoomLink> FindAnyoneRoom(const std::string& address, int width, int height, int timeoutMs) {
    QNetworkAccessManager network;
    AnyoneSearch search(width, height);
    while (search.Next()) {
        const Result<Answered> answered = Post(network, address, *search.Next(), timeoutMs);
        if (!answered) return Failure{answered.Why()};
        search.Answer(answered->status, answered->refusal, answered->body, answered->waitSeconds);
    }
    const Result<AnyoneLinks>& found = *search.Outcome();
    if (!found) return Failure{found.Why()};
    // The search read the link already: it is a play link.
    return **ReadRoomLink(found->play);
}

}  // namespace kestrel
