#pragma once
// The window's connection to a room: a WebSocket to the room's referee,
// whose frames the game follows, and through which the window's own events
// go. A lost connection is made again by itself, a little later each time,
// and the battle caught up from the room's last clean canvas.

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QObject>
#include <QSslConfiguration>
#include <QTimer>
#include <QWebSocket>
#include <functional>
#include <optional>
#include <string>

#include "game/Game.h"
#include "game/LiveClient.h"
#include "game/Reconnect.h"
#include "game/RoomLink.h"
#include "model/Seats.h"

namespace kestrel {

// How long the first connection may take before the program gives up.
inline constexpr int JOIN_TIMEOUT_MS = 5000;

// The authorities an https or wss server's certificate must come from.
QSslConfiguration TlsConfiguration();

class LiveConnection final : public QObject {
public:
    LiveConnection(Game& game, RoomLink link);
    ~LiveConnection() override;

    // Connects and waits until the room's battle is followed: none, or the
    // reason it cannot be (the server's refusal in words, the server
    // cannot be reached, or its certificate is not trusted).
    std::optional<std::string> Join(int timeoutMs = JOIN_TIMEOUT_MS);
    // One tick of the window's timer: the game plays the room's ticks that
    // have come, and what it has for the referee goes out.
    void Tick();
    // After each pointer event or key: a press, a release or a key goes out
    // at once; moves wait for the next tick.
    void AfterInput();
    // Leaves the room: the socket is closed and not made again.
    void Leave();

    // How the connection is, in words for the window's title.
    QString State() const;
    // Which tank is this screen's and each seat's score, for the title:
    // "You are the orange tank. 1 vermilion: 0 kills, 0 wins, here; ...";
    // empty unless the battle is followed and the room has named its seats.
    QString SeatsText() const;
    // "You are the orange tank.", or that this screen watches.
    std::string YourTank() const;
    // Called whenever State() or SeatsText() may have changed.
    std::function<void()> onStateChanged;
    // Called as the game starts to follow the room's battle from a join
    // text: at the first join, and again after each lost connection.
    std::function<void()> onJoined;

private:
    void Open();
    void OnConnected();
    void OnFrame(const QString& frame);
    void OnError();
    void OnLost();
    void AskWhyRefused(int status);
    void OnRefused(std::optional<kestrel::Refused> kind);
    void Changed() const;
    void SendOutgoing();
    void CheckTheSeats();

    const Game& game_;
    RoomLink link_;
    LiveClient client_;
    QWebSocket socket_;
    QTimer retry_;
    QNetworkAccessManager checks_;  // asks why an upgrade was refused
    RoomConnection connection_;
    bool open_ = false;       // a connection is being made, or is up
    bool connected_ = false;  // it is up
    bool leaving_ = false;    // no connection is to be made again
    bool asking_ = false;     // why the last upgrade was refused
    QEventLoop* joining_ = nullptr;  // Join's, while it waits
    std::string failure_;  // why the last connection failed
    std::string refused_;  // why the last connection was dropped here, if it was
    std::string untrusted_;  // why the server's certificate was not trusted, if it was not
    Seats seatsTold_;  // the game's seats when onStateChanged was last called for them
};

}  // namespace kestrel
