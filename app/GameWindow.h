#pragma once
// The game window: it shows the game's picture, repaints only what changed,
// runs the 25 ms timer and hands Qt's pointer and key events to the game.

#include <QTimer>
#include <QWidget>
#include <optional>

#include "game/Game.h"
#include "input/Controls.h"

namespace kestrel {

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

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void MatchPictureToWindow();
    void ShowChanges();

    Game game_;
    double pixelRatio_ = 0;  // the window's, when the picture last matched it
    QTimer tmr;
};

// Which of the game's buttons a Qt button is.
MouseButton ButtonOf(Qt::MouseButton button);

// The character code of a Qt key press, or none for keys that type nothing.
std::optional<std::uint16_t> CharacterCode(int key, const QString& text);

}  // namespace kestrel
