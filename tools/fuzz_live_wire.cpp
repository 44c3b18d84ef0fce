// libFuzzer entry for the server's reader of what a screen sends: any bytes,
// read as from a player and as from a watcher, must give lines the room can
// apply or a reason to refuse, never a crash, a sanitizer report or a hang.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "game/LiveWire.h"

namespace {

using Kind = kestrel::RecordedStep::Kind;

bool IsEvent(Kind kind) { return kind == Kind::Down || kind == Kind::Move || kind == Kind::Up || kind == Kind::Key; }

// What the room relies on: a refusal says why, a long frame is
// refused, a watcher's lines are hashes, a player's steps are events.
bool Sound(const kestrel::Result<kestrel::ClientMessage>& message, std::string_view frame, bool mayPlay) {
    if (!message) return !message.Why().empty();
    if (frame.size() > kestrel::MAX_CLIENT_FRAME_BYTES) return false;
    for (const kestrel::ClientLine& line : message->lines) {
        if (line.isHash) continue;
        if (!mayPlay || !IsEvent(line.step.kind)) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view frame(reinterpret_cast<const char*>(data), size);
    for (const bool mayPlay : {true, false})
        if (!Sound(kestrel::ReadClientMessage(frame, mayPlay), frame, mayPlay)) __builtin_trap();
    return 0;
}
