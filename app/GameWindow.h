#pragma once
// The game window: it shows the game's picture, repaints only what changed,
// runs the 25 ms timer and hands Qt's pointer and key events to the game.
// It may play a recording back first, and keep the session in a file.

#include <QTimer>
#include <QWidget>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "app/CommandLine.h"
#include "app/LiveConnection.h"
#include "app/RecordingFile.h"
#include "game/Game.h"
#include "input/Controls.h"

namespace kestrel {

// How often a recording file is brought up to date.
inline constexpr int RECORDING_SAVE_MS = 1000;

class GameWindow final : public QWidget {
public:
    GameWindow();

    const Battlefield& Field() const { return game_.Field(); }
    // Lets a test put tanks where it needs them, or draw and resize itself.
    Battlefield& FieldForTesting() { return game_.Field(); }
    Game& GameForTesting() { return game_; }
    const PixelCanvas& Picture() const { return *game_.Picture(); }
    const QTimer& Timer() const { return tmr; }
    // Runs one tick now, as the timer does.
    void Tick();

    // Plays a recording back at the timer's pace, the window taking the
    // recording's sizes, and then hands the battle over; the game's reason
    // when the recording is bad.
    std::optional<std::string> PlayBack(std::string_view recording);
    // Plays in a room, or watches it, from now on: the window takes the
    // room's size (scaled down to fit a smaller screen) and shows the
    // connection in its title. The reason, when the room cannot be joined.
    // A recording of the session starts with the room's notice "# joined T",
    // T the room's tick at its start, and starts over with each new join.
    // Once the room has named its seats, the title tells which tank is this
    // window's and each seat's score too.
    std::optional<std::string> JoinRoom(const RoomLink& link);
    // In a room: "You are the orange tank.", or that the window watches.
    std::string YourTank() const;
    // Keeps the session in `file` from now on: written at once, then once a
    // second, and finished at Esc or when the window goes.
    void RecordInto(std::unique_ptr<RecordingFile> file);
    const QTimer& SaveTimer() const { return saveTmr_; }
    // 0, or EXIT_BAD_START once the recording could not be written (the
    // reason went to standard error then).
    int ExitStatus() const { return recordingFailed_ ? EXIT_BAD_START : 0; }
    ~GameWindow() override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void MatchPictureToWindow();
    void ShowRoomState();
    void Joined();
    void RecordFromTheJoin();
    QPointF CanvasPoint(const QPointF& at) const;
    void ShowChanges();
    void AfterInput();
    void FollowTheGamesSize();
    void TakeTheGamesSize();
    void SaveRecording();
    void FinishRecording();
    void StopRecording();

    Game game_;
    double pixelRatio_ = 0;  // the window's, when the picture last matched it
    QSize shownSize_;        // the game's size when the window last showed it
    QTimer tmr;
    std::unique_ptr<LiveConnection> room_;
    std::optional<std::uint64_t> joinedAt_;  // the room's tick at the last join
    double viewScale_ = 1;   // canvas units to window units: below 1 for a room too big to show whole
    std::unique_ptr<RecordingFile> recordingFile_;
    QTimer saveTmr_;
    bool recordingFailed_ = false;
};

// Which of the game's buttons a Qt button is.
MouseButton ButtonOf(Qt::MouseButton button);

// The character code of a Qt key press, or none for keys that type nothing.
std::optional<std::uint16_t> CharacterCode(int key, const QString& text);

}  // namespace kestrel
