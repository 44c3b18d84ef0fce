#include <gtest/gtest.h>

#include "render/RecordingCanvas.h"
#include "render/TankGlyph.h"

namespace kestrel {
namespace {

using Kind = CanvasCall::Kind;

TEST(TankGlyph, MakesElevenCallsInOrderAndClosesBothOutlines) {
    RecordingCanvas canvas(696, 548);
    DrawTank(canvas, 100, 100, 0, 0, BLACK);
    const auto& calls = canvas.Calls();
    ASSERT_EQ(calls.size(), 11u);
    const Kind expected[] = {Kind::Circle, Kind::Line,   Kind::Line,   Kind::Line,
                             Kind::LineTo, Kind::LineTo, Kind::LineTo, Kind::Line,
                             Kind::LineTo, Kind::LineTo, Kind::LineTo};
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].kind, expected[i]) << "call " << i;
        EXPECT_EQ(calls[i].colour, BLACK);
    }
    EXPECT_EQ(calls[0].v[0], 100.0f);
    EXPECT_EQ(calls[0].v[1], 187.0f);
    EXPECT_EQ(calls[0].v[2], 5.0f);
    // Each outline ends exactly on its first corner.
    EXPECT_EQ(calls[6].v[0], calls[3].v[0]);
    EXPECT_EQ(calls[6].v[1], calls[3].v[1]);
    EXPECT_EQ(calls[10].v[0], calls[7].v[0]);
    EXPECT_EQ(calls[10].v[1], calls[7].v[1]);
    // Heading 0 points down the screen: the front edge lies below the rear.
    EXPECT_GT(calls[3].v[1], calls[5].v[1]);
}

}  // namespace
}  // namespace kestrel
