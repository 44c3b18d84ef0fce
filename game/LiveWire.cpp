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
    {NoticeKind::Joined, "joined"},   {NoticeKind::People, "people"},     {NoticeKind::Mismatch, "mismatch"},
    {NoticeKind::Seat, "seat"},       {NoticeKind::Watching, "watching"}, {NoticeKind::Scores, "scores"},
    {NoticeKind::Roster, "roster"}};
constexpr std::string_view PRESENCE_WORDS[] = {"here", "away", "gone"};

std::uint64_t ReadPresence(std::string_view word) {
    for (std::size_t i = 0; i < std::size(PRESENCE_WORDS); ++i)
        if (PRESENCE_WORDS[i] == word) return i;
    Fail("no presence " + Quoted(word));
}

// What follows a notice's name: one number, or a seat and its token, or a
// number a seat (two for scores), as many as there are seats at most.
Notice ReadNoticeBody(NoticeKind kind, const Tokens& tokens) {
    Notice notice{kind};
    const std::size_t args = tokens.size() - 1;
    if (kind == NoticeKind::Scores || kind == NoticeKind::Roster) {
        const std::size_t perSeat = kind == NoticeKind::Scores ? 2 : 1;
        if (args == 0 || args % perSeat != 0 || args > perSeat * MAX_SEATS) Fail("a seat list");
        for (std::size_t i = 1; i < tokens.size(); ++i)
            notice.values.push_back(kind == NoticeKind::Roster ? ReadPresence(tokens[i])
                                                               : ParseWhole<std::uint64_t>(tokens[i], 0, UINT64_MAX, "score"));
        return notice;
    }
    ExpectArgs(tokens, kind == NoticeKind::Seat ? 2 : 1, kind == NoticeKind::Seat ? 2 : 1);
    notice.value = ParseWhole<std::uint64_t>(tokens[1], 0, UINT64_MAX, "value");
    if (kind == NoticeKind::Seat) {
        if (notice.value >= std::uint64_t(MAX_SEATS) || !IsSeatToken(tokens[2])) Fail("a seat and its token");
        notice.token = std::string(tokens[2]);
    }
    return notice;
}

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
    // Seat lines are the referee's to write: a screen's are refused as
    // any other line a screen does not send.
    const std::optional<RecordedStep> step = ReadStep(tokens, MAX_SEATS);
    if (!step || !IsEvent(step->kind)) Fail(Quoted(tokens[0]) + " is not sent to a room");
    if (!mayPlay) Fail("a watcher sends only hashes");
    return {.step = *step};
}

}  // namespace

bool IsSeatToken(std::string_view token) {
    return token.size() == SEAT_TOKEN_DIGITS &&
           std::all_of(token.begin(), token.end(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}


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
    if (notice.kind == NoticeKind::Roster) {
        for (const std::uint64_t presence : notice.values) (line += ' ') += PRESENCE_WORDS[presence];
    } else if (notice.kind == NoticeKind::Scores) {
        for (const std::uint64_t score : notice.values) AppendUnsigned(line, score);
    } else {
        AppendUnsigned(line, notice.value);
    }
    if (notice.kind == NoticeKind::Seat) (line += ' ') += notice.token;
    return line + '\n';
}

bool IsNotice(std::string_view frame) { return frame.starts_with(NOTICE_START); }

std::optional<Notice> ReadNotice(std::string_view frame) {
    if (!IsNotice(frame)) return std::nullopt;
    std::string_view line = frame.substr(NOTICE_START.size());
    if (line.ends_with('\n')) line.remove_suffix(1);
    const Tokens tokens = SplitLine(line);
    if (tokens.size() < 2) return std::nullopt;
    for (const NoticeName& n : NOTICE_NAMES) {
        if (n.name != tokens[0]) continue;
        try {
            return ReadNoticeBody(n.kind, tokens);
        } catch (const ScriptError&) {
            return std::nullopt;
        }
    }
    return std::nullopt;
}

}  // namespace kestrel
