#include "game/Game.h"

#include <algorithm>

#include "game/FrameTick.h"
#include "input/Pointer.h"

namespace kestrel {
namespace {

constexpr std::int16_t NO_SHIFT = 0;
constexpr std::int16_t NO_BUTTON = 0;

}  // namespace

Game::Game(std::unique_ptr<Random> random, GameOutput output, PixelFormat format)
    : random_(std::move(random)),
      picture_(output == GameOutput::Calls
                   ? std::nullopt
                   : std::optional<PixelCanvas>(std::in_place, START_WIDTH, START_HEIGHT, 1, format)),
      recorder_(START_WIDTH, START_HEIGHT, output == GameOutput::CallsAndPicture ? &*picture_ : nullptr),
      canvas_(output == GameOutput::Picture ? static_cast<Canvas*>(&*picture_) : &recorder_) {}

void Game::Tick() {
    if (!ended_) FrameTick(field_, *canvas_, *random_);
}

void Game::PointerDown(std::int16_t button, float x, float y) {
    if (!ended_) kestrel::PointerDown(field_, *canvas_, button, NO_SHIFT, x, y);
}

void Game::PointerMove(float x, float y) {
    if (!ended_) kestrel::PointerMove(field_, *canvas_, NO_BUTTON, NO_SHIFT, x, y);
}

void Game::PointerUp(std::int16_t button, float x, float y) {
    if (!ended_) kestrel::PointerUp(field_, *canvas_, button, NO_SHIFT, x, y);
}

KeyAction Game::Key(std::uint16_t code) {
    if (ended_) return KeyAction::Quit;
    const KeyAction action = KeyPressed(field_, *canvas_, code);
    ended_ = action == KeyAction::Quit;
    return action;
}

void Game::Resize(int width, int height, double pixelRatio, int deviceWidth, int deviceHeight) {
    width = std::max(1, width);
    height = std::max(1, height);
    recorder_.Resize(float(width), float(height));
    if (picture_) picture_->Resize(width, height, pixelRatio, deviceWidth, deviceHeight);
}

std::vector<PixelRect> Game::TakeChanges() {
    return picture_ ? picture_->TakeDirtyRects() : std::vector<PixelRect>{};
}

}  // namespace kestrel
