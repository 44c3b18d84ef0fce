#include "game/LiveWire.h"

#include <algorithm>
#include <charconv>
#include <utility>

#include "script/ScriptLine.h"

namespace kestrel {
namespace {

using Kind = RecordedStep::Kind;

constexpr std::string_view NOTICE_START = "# ";
constexpr int HASH_DIGITS = 16;
constexpr int HEX = 16;

struct NoticeName {
    NoticeKind kind;
    std::string_view name;
};
constexpr NoticeName NOTICE_NAMES[] = {
    {NoticeKind::Joined, "joined"}, {NoticeKind::People, "people"}, {NoticeKind::Mismatch, "mismatch"}};

bool IsEvent(Kind kind) { return kind == Kind::Down || kind == Kind::Move || kind == Kind::Up || kind == Kind::Key; }

std::uint64_t ParseHash(std::string_view token) {
    std::uint64_t hash = 0;
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), hash, HEX);
    if (token.size() != HASH_DIGITS || ec != std::errc() || end != token.data() + token.size())
        Fail("hash " + Quoted(token) + " is not 16 hexadecimal digits");
    return hash;
}

ClientLine ReadClientLine(const Tokens& tokens, bool mayPlay) {
    if (tokens[0] == "hash") {
        ExpectArgs(tokens, 2, 2);
        return {.isHash = true,
                .step = {},
                .tick = ParseWhole<std::uint64_t>(tokens[1], 0, UINT64_MAX, "tick"),
                .hash = ParseHash(tokens[2])};
    }
    const std::optional<RecordedStep> step = ReadStep(tokens);
    if (!step || !IsEvent(step->kind)) Fail(Quoted(tokens[0]) + " is not sent to a room");
    if (!mayPlay) Fail("a watcher sends only hashes");
    return {.step = *step};
}

}  // namespace

std::uint64_t LiveTicksToRun(std::uint64_t ahead) {
    if (ahead <= LIVE_BUFFER_TICKS) return ahead == 0 ? 0 : 1;
    return ahead - 1;
}

std::string HashLine(std::uint64_t tick, std::uint64_t hash) {
    std::string line = "hash";
    AppendUnsigned(line, tick);
    line += ' ';
    for (int shift = 4 * (HASH_DIGITS - 1); shift >= 0; shift -= 4) line += "0123456789abcdef"[(hash >> shift) & 0xf];
    return line + '\n';
}

std::vector<std::string> ClientFrames(std::string_view lines) {
    std::vector<std::string> frames;
    std::string frame;
    for (std::size_t at = 0, end = 0; at < lines.size(); at = end) {
        end = std::min(lines.find('\n', at), lines.size() - 1) + 1;
        const std::string_view line = lines.substr(at, end - at);
        if (line.size() > MAX_CLIENT_FRAME_BYTES) continue;
        if (frame.size() + line.size() > MAX_CLIENT_FRAME_BYTES) frames.push_back(std::exchange(frame, {}));
        frame += line;
    }
    if (!frame.empty()) frames.push_back(std::move(frame));
    return frames;
}

Result<ClientMessage> ReadClientMessage(std::string_view frame, bool mayPlay) {
    if (frame.size() > MAX_CLIENT_FRAME_BYTES)
        return Failure{"the frame is longer than " + std::to_string(MAX_CLIENT_FRAME_BYTES) + " bytes"};
    ClientMessage message;
    std::string bad;
    ForEachCommand(frame, [&](long long lineNo, const Tokens& tokens) {
        try {
            message.lines.push_back(ReadClientLine(tokens, mayPlay));
            return true;
        } catch (const ScriptError& error) {
            bad = "line " + std::to_string(lineNo) + ": " + error.what();
            return false;
        }
    });
    if (!bad.empty()) return Failure{std::move(bad)};
    return message;
}

std::string WriteNotice(const Notice& notice) {
    std::string line(NOTICE_START);
    for (const NoticeName& n : NOTICE_NAMES)
        if (n.kind == notice.kind) line += n.name;
    AppendUnsigned(line, notice.value);
    return line + '\n';
}

bool IsNotice(std::string_view frame) { return frame.starts_with(NOTICE_START); }

std::optional<Notice> ReadNotice(std::string_view frame) {
    if (!IsNotice(frame)) return std::nullopt;
    std::string_view line = frame.substr(NOTICE_START.size());
    if (line.ends_with('\n')) line.remove_suffix(1);
    const Tokens tokens = SplitLine(line);
    if (tokens.size() != 2) return std::nullopt;
    for (const NoticeName& n : NOTICE_NAMES) {
        if (n.name != tokens[0]) continue;
        try {
            return Notice{n.kind, ParseWhole<std::uint64_t>(tokens[1], 0, UINT64_MAX, "value")};
        } catch (const ScriptError&) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace kestrel
