#include "game/LiveClient.h"

#include "game/LiveWire.h"

#include <algorithm>

namespace kestrel {

std::optional<std::string> LiveClient::Receive(std::string_view frame) {
    if (IsNotice(frame)) {
        const std::optional<Notice> notice = ReadNotice(frame);
        if (!notice) return std::nullopt;  // one this program does not know
        switch (notice->kind) {
            case NoticeKind::Joined: joinedAt_ = notice->value; break;
            case NoticeKind::People: people_ = notice->value; break;
            case NoticeKind::Mismatch: ++mismatches_, lastMismatchTick_ = notice->value; break;
        }
        return std::nullopt;
    }
    if (joinedAt_) {
        const std::uint64_t startTick = *joinedAt_;
        joinedAt_.reset();
        const std::optional<std::string> refused = game_.Follow(frame, startTick);
        joined_ = !refused;
        return refused;
    }
    if (!joined_) return "the room sent its battle before saying where it starts";
    return game_.Feed(frame);
}

std::string LiveClient::TakeOutgoing() {
    std::string lines = game_.TakeOutgoing();
    if (mayPlay_) return lines;
    std::string hashes;
    for (std::size_t at = 0, end = 0; at < lines.size(); at = end) {
        end = std::min(lines.find('\n', at), lines.size() - 1) + 1;
        const std::string_view line = std::string_view(lines).substr(at, end - at);
        if (line.starts_with("hash ")) hashes += line;
    }
    return hashes;
}

}  // namespace kestrel
