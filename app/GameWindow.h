#pragma once
// The game window: it owns the battlefield, the persistent picture and the
// 25 ms timer, shows the picture, repaints only what a tick changed, and hands
// the pointer and key events to the game's handlers.

#include <QTimer>
#include <QWidget>
#include <optional>

#include "core/Battlefield.h"
#include "core/Random.h"
#include "render/PixelCanvas.h"

namespace kestrel {

inline constexpr int START_INNER_WIDTH = 696;
inline constexpr int START_INNER_HEIGHT = 548;
inline constexpr int TICK_MS = 25;

class GameWindow final : public QWidget {
public:
    GameWindow();

    const Battlefield& Field() const { return battlefield_; }
    // Lets a test put tanks where it needs them.
    Battlefield& FieldForTesting() { return battlefield_; }
    PixelCanvas& Picture() { return canvas_; }
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
    void MatchCanvasToWindow();
    void ShowChanges();
    // The picture as an image that shares the canvas's pixels.
    QImage PictureImage() const;

    Battlefield battlefield_;
    ClockRandom random_;
    PixelCanvas canvas_;
    QTimer tmr;
};

// The button number the game's handlers expect: 1 left, 2 right, others
// their own values.
std::int16_t ButtonNumber(Qt::MouseButton button);

// The character code of a key press, or none for keys that yield no
// character (Shift, arrows, function keys). Esc is 27 on every platform.
std::optional<std::uint16_t> CharacterCode(int key, const QString& text);

}  // namespace kestrel
