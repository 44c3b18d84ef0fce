#include "game/AnyoneSearch.h"

#include <algorithm>

#include <nlohmann/json.hpp>

#include "game/Refusals.h"
#include "game/RoomId.h"
#include "game/RoomLink.h"

namespace kestrel {
namespace {

using Json = nlohmann::json;

constexpr int FIRST_OK = 200, PAST_OK = 300;
constexpr std::string_view SEAT_PREFIX = "/rooms/", SEAT_SUFFIX = "/seat";
// A seat's request asks for nothing more than the seat.
constexpr std::string_view SEAT_BODY = "{}";

bool Answered(int status) { return status >= FIRST_OK && status < PAST_OK; }

// Why an answer refused, in the words the page says them: a refusal that
// may pass says when to try again.
std::string RefusedWords(int status, std::string_view token, std::optional<int> waitSeconds) {
    const std::optional<Refused> kind = RefusalOfAnswer(status, token);
    if (!kind) return "the server answered " + std::to_string(status);
    const RefusalTerms& terms = TermsOf(*kind);
    std::string words(terms.words);
    if (!terms.mayPass) return words;
    if (!waitSeconds) return words + ": try again later";
    const int wait = std::max(1, *waitSeconds);
    return words + ": try again in " + std::to_string(wait) + (wait == 1 ? " second" : " seconds");
}

Failure Malformed(std::string_view what) { return Failure{"the server's answer " + std::string(what)}; }

// A string member of `answer`; none when it is missing or not a string.
std::optional<std::string> StringMember(const Json& answer, const char* name) {
    const auto found = answer.find(name);
    if (found == answer.end() || !found->is_string()) return std::nullopt;
    return found->get<std::string>();
}

// Whether `path` asks for a seat in a room: /rooms/ID/seat.
bool IsSeatPath(std::string_view path) {
    if (!path.starts_with(SEAT_PREFIX) || !path.ends_with(SEAT_SUFFIX)) return false;
    if (path.size() < SEAT_PREFIX.size() + SEAT_SUFFIX.size()) return false;
    return IsRoomId(path.substr(SEAT_PREFIX.size(), path.size() - SEAT_PREFIX.size() - SEAT_SUFFIX.size()));
}

// The room's links, all read from its play link, so that they agree.
Result<AnyoneLinks> LinksOf(const std::string& play) {
    const ReadLink read = ReadRoomLink(play);
    if (!read) return Malformed("has a bad play link: " + read.Why());
    if (!*read || !(*read)->Plays()) return Malformed("has a play link that is not one");
    const RoomLink& link = **read;
    return AnyoneLinks{link.room, link.text, WatchLink(link.page, link.room)};
}

}  // namespace

AnyoneSearch::AnyoneSearch(int width, int height)
    : size_(Json{{"width", width}, {"height", height}}.dump()) {
    AskAgain();
}

// A public room again, while tries are left; then a room of its own.
void AnyoneSearch::AskAgain() {
    if (tries_ < ANYONE_TRIES) {
        ++tries_;
        asking_ = Asking::Anyone;
        next_ = AnyoneRequest{std::string(ANYONE_PATH), size_};
    } else {
        asking_ = Asking::OwnRoom;
        next_ = AnyoneRequest{std::string(ANYONE_NEW_PATH), size_};
    }
}

void AnyoneSearch::Answer(int status, std::string_view refusal, std::string_view body,
                          std::optional<int> retryAfterSeconds) {
    if (!next_) return;
    if (Answered(status)) return Read(body);
    // The list the server chose from is a hint, the room the truth: a room
    // found full is no reason to stop.
    if (asking_ == Asking::Seat && RefusalOfAnswer(status, refusal) == Refused::SeatsTaken) return AskAgain();
    End(Failure{RefusedWords(status, refusal, retryAfterSeconds)});
}

// A room's links end the search; a seat on another server is asked for
// next. Only a public room found (not a seat or a room of its own) may
// name a seat.
void AnyoneSearch::Read(std::string_view body) {
    if (body.size() > MAX_ANYONE_ANSWER_BYTES)
        return End(Malformed("is too long (more than " + std::to_string(MAX_ANYONE_ANSWER_BYTES) + " bytes)"));
    const Json answer = Json::parse(body, nullptr, false);
    if (!answer.is_object()) return End(Malformed("is not a JSON object"));
    if (const std::optional<std::string> play = StringMember(answer, "play")) return End(LinksOf(*play));
    const std::optional<std::string> seat = StringMember(answer, "seat");
    if (asking_ != Asking::Anyone || !seat) return End(Malformed("has no play link"));
    if (!IsSeatPath(*seat)) return End(Malformed("names a seat that is not a room's (/rooms/ID/seat)"));
    asking_ = Asking::Seat;
    next_ = AnyoneRequest{*seat, std::string(SEAT_BODY)};
}

void AnyoneSearch::End(Result<AnyoneLinks> outcome) {
    next_.reset();
    outcome_.emplace(std::move(outcome));
}

}  // namespace kestrel
