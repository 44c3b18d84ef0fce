#pragma once
// The one drawing surface. It keeps every stroke until it is drawn over or
// cleared; nothing is ever repainted from a scene description.

#include "render/Colour.h"

namespace kestrel {

class Canvas {
public:
    virtual ~Canvas() = default;

    // Current inner size in canvas units; read afresh at every use, since the
    // window may be resized between any two calls.
    virtual float CanvasWidth() const = 0;
    virtual float CanvasHeight() const = 0;

    // A line from (x1, y1) to (x2, y2); the pen moves to (x2, y2).
    virtual void DrawLine(float x1, float y1, float x2, float y2, Colour colour) = 0;
    // A line from the pen position to (x2, y2); the pen moves there.
    virtual void DrawLineTo(float x2, float y2, Colour colour) = 0;
    // The outline of a circle; the inside is not filled.
    virtual void DrawCircle(float cx, float cy, float radius, Colour colour) = 0;
    // Every pixel takes the background colour.
    virtual void ClearCanvas() = 0;

    // Whether the canvas takes strokes at all. One that does not spares
    // the glyphs working out their points: nothing the rules decide
    // depends on them.
    virtual bool TakesStrokes() const { return true; }
};

}  // namespace kestrel
