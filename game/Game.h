#pragma once
// The game as every front end drives it: the window, the browser page, the
// replay tool and the soak driver. It owns the battle record, the random
// stream and the canvas, wires the timer, pointer and key events to the
// game's handlers, and hands out what changed on the picture. A front end
// keeps only its platform's side: turning its events into these calls, and
// showing the picture.

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "model/Battlefield.h"
#include "model/Random.h"
#include "input/Keyboard.h"
#include "render/PixelCanvas.h"
#include "render/RecordingCanvas.h"

namespace kestrel {

// The inner size a new game starts with, in canvas units.
inline constexpr int START_WIDTH = 696;
inline constexpr int START_HEIGHT = 548;
// The period of the timer that calls Tick.
inline constexpr int TICK_MS = 25;

// Where the drawing goes: into a picture to show, into a log of canvas calls
// (the replay tool prints it, the soak driver checks it), or both.
enum class GameOutput { Picture, Calls, CallsAndPicture };

class Game {
public:
    // The picture's pixels are in the format the front end shows them in.
    explicit Game(std::unique_ptr<Random> random, GameOutput output = GameOutput::Picture,
                  PixelFormat format = PixelFormat::RgbaBytes);
    // The canvas passes calls on to the picture it holds: not copied or moved.
    Game(const Game&) = delete;
    Game& operator=(const Game&) = delete;

    // One frame tick; nothing once the game has ended.
    void Tick();
    // Pointer events in canvas units, button codes as in input/Pointer.h.
    void PointerDown(std::int16_t button, float x, float y);
    void PointerMove(float x, float y);
    void PointerUp(std::int16_t button, float x, float y);
    // A key that yields a character. Esc ends the game: the front end should
    // stop its timer and close; later calls change nothing.
    KeyAction Key(std::uint16_t code);
    bool Ended() const { return ended_; }

    // A new inner size (at least 1 x 1) and pixel ratio. The picture keeps its
    // overlapping part; see PixelCanvas::Resize for the device size.
    void Resize(int width, int height, double pixelRatio = 1, int deviceWidth = 0,
                int deviceHeight = 0);

    // The picture, when the game keeps one, and rectangles covering the
    // device pixels that changed on it since the last call (none when
    // nothing did).
    const PixelCanvas* Picture() const { return picture_ ? &*picture_ : nullptr; }
    std::vector<PixelRect> TakeChanges();

    // The canvas calls made since the last ClearCalls, when the game logs them.
    const std::vector<CanvasCall>& Calls() const { return recorder_.Calls(); }
    void ClearCalls() { recorder_.ClearCalls(); }

    // For tools and tests that run single steps or set the record directly.
    Battlefield& Field() { return field_; }
    const Battlefield& Field() const { return field_; }
    Canvas& DrawingCanvas() { return *canvas_; }
    Random& RandomStream() { return *random_; }

private:
    Battlefield field_;
    std::unique_ptr<Random> random_;
    std::optional<PixelCanvas> picture_;
    RecordingCanvas recorder_;
    Canvas* canvas_;
    bool ended_ = false;
};

}  // namespace kestrel
