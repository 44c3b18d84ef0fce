#include "render/DirtyTiles.h"

#include <algorithm>

namespace kestrel {

void DirtyTiles::Reset(int width, int height) {
    width_ = width;
    height_ = height;
    columns_ = (width + TILE - 1) / TILE;
    rows_ = (height + TILE - 1) / TILE;
    marked_.assign(std::size_t(columns_) * std::size_t(rows_), 0);
    lastMarked_ = {};
    any_ = false;
}

void DirtyTiles::Mark(const PixelRect& area) {
    const int left = std::max(area.left, 0), top = std::max(area.top, 0);
    const int right = std::min(area.right, width_), bottom = std::min(area.bottom, height_);
    if (right <= left || bottom <= top) return;
    const Block tiles{left / TILE, top / TILE, (right - 1) / TILE, (bottom - 1) / TILE};
    if (lastMarked_.Holds(tiles)) return;
    for (int row = tiles.top; row <= tiles.bottom; ++row)
        for (int column = tiles.left; column <= tiles.right; ++column)
            marked_[std::size_t(row) * std::size_t(columns_) + std::size_t(column)] = 1;
    lastMarked_ = tiles;
    any_ = true;
}

std::vector<PixelRect> DirtyTiles::Take() {
    std::vector<PixelRect> rects;
    if (!any_) return rects;
    // Rects that reach down to this row's top, and those reaching its bottom.
    std::vector<std::size_t> open, reaching;
    for (int row = 0; row < rows_; ++row) {
        const int top = row * TILE, bottom = std::min(top + TILE, height_);
        const std::uint8_t* marks = marked_.data() + std::ptrdiff_t(row) * columns_;
        reaching.clear();
        for (int column = 0; column < columns_;) {
            if (!marks[column]) {
                ++column;
                continue;
            }
            const int first = column;
            while (column < columns_ && marks[column]) ++column;
            const PixelRect run{first * TILE, top, std::min(column * TILE, width_), bottom};
            const auto above = std::find_if(open.begin(), open.end(), [&](std::size_t i) {
                return rects[i].left == run.left && rects[i].right == run.right;
            });
            if (above != open.end()) {
                rects[*above].bottom = bottom;
                reaching.push_back(*above);
            } else {
                rects.push_back(run);
                reaching.push_back(rects.size() - 1);
            }
        }
        open.swap(reaching);
    }
    std::fill(marked_.begin(), marked_.end(), std::uint8_t(0));
    lastMarked_ = {};
    any_ = false;
    return rects;
}

}  // namespace kestrel
