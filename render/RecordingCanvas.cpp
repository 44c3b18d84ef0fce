#include "render/RecordingCanvas.h"

namespace kestrel {

void RecordingCanvas::DrawLine(float x1, float y1, float x2, float y2, Colour colour) {
    calls_.push_back({CanvasCall::Kind::Line, {x1, y1, x2, y2}, colour});
    if (mirror_) mirror_->DrawLine(x1, y1, x2, y2, colour);
}

void RecordingCanvas::DrawLineTo(float x2, float y2, Colour colour) {
    calls_.push_back({CanvasCall::Kind::LineTo, {x2, y2, 0, 0}, colour});
    if (mirror_) mirror_->DrawLineTo(x2, y2, colour);
}

void RecordingCanvas::DrawCircle(float cx, float cy, float radius, Colour colour) {
    calls_.push_back({CanvasCall::Kind::Circle, {cx, cy, radius, 0}, colour});
    if (mirror_) mirror_->DrawCircle(cx, cy, radius, colour);
}

void RecordingCanvas::ClearCanvas() {
    calls_.push_back({CanvasCall::Kind::Clear, {0, 0, 0, 0}, WHITE});
    if (mirror_) mirror_->ClearCanvas();
}

}  // namespace kestrel
