#pragma once
// The part of a picture changed since it was last shown, kept as tiles of
// TILE x TILE device pixels. Marking is cheap, and a few tanks moving across
// the field repaint their own neighbourhoods rather than the box around them
// all, which would be most of the window.

#include <cstdint>
#include <vector>

#include "render/Rasterize.h"

namespace kestrel {

class DirtyTiles {
public:
    static constexpr int TILE = 32;

    // A picture of width x height device pixels, all of it clean.
    void Reset(int width, int height);
    void Mark(const PixelRect& area);
    void MarkAll() { Mark({0, 0, width_, height_}); }

    // The marked area as rectangles, within the picture: runs of tiles along
    // each row, a run joined to the one above it when they line up. Clears
    // every mark.
    std::vector<PixelRect> Take();

private:
    // A block of tiles, inclusive: the last one marked, which the strokes of
    // one glyph mostly fall within.
    struct Block {
        int left = 0, top = 0, right = -1, bottom = -1;
        bool Holds(const Block& b) const {
            return b.left >= left && b.right <= right && b.top >= top && b.bottom <= bottom;
        }
    };

    int width_ = 0;
    int height_ = 0;
    int columns_ = 0;
    int rows_ = 0;
    std::vector<std::uint8_t> marked_;
    Block lastMarked_;
    bool any_ = false;
};

}  // namespace kestrel
