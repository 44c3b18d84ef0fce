#include "game/Refusals.h"

#include <algorithm>
#include <iterator>

namespace kestrel {
namespace {

constexpr int BAD_REQUEST = 400, FORBIDDEN = 403, NOT_FOUND = 404, CONFLICT = 409, GONE = 410,
              TOO_MANY_REQUESTS = 429, UNAVAILABLE = 503;

// In the order of the kinds; of those that share a status, the first is
// what an answer with that status alone means.
constexpr RefusalTerms TERMS[] = {
    {Refused::TooManyRooms, "too-many-rooms", TOO_MANY_REQUESTS, true,
     "this address has opened as many rooms as the server allows in a minute"},
    {Refused::ServerFull, "server-full", UNAVAILABLE, true, "the server holds as many rooms and screens as it takes"},
    {Refused::RoomFull, "room-full", UNAVAILABLE, true, "the room has as many screens as it takes"},
    {Refused::AddressLimit, "address-limit", UNAVAILABLE, true,
     "this address has as many connections to the server as it may"},
    {Refused::DiskFull, "disk-full", UNAVAILABLE, true, "the server's disk is full: it cannot keep a new room now"},
    {Refused::ComingBack, "coming-back", UNAVAILABLE, true, "the room is coming back after the server restarted"},
    {Refused::NoSuchRoom, "no-such-room", NOT_FOUND, false, "there is no such room on that server"},
    {Refused::OtherServer, "other-server", NOT_FOUND, false,
     "the room lives on another server than the one the link reached"},
    {Refused::RoomEnded, "room-ended", GONE, false, "the room has ended"},
    {Refused::WrongKey, "wrong-key", FORBIDDEN, false, "the link's key does not open that room"},
    {Refused::ForeignPage, "foreign-page", FORBIDDEN, false, "the request came from another site's page"},
    {Refused::BadRequest, "bad-request", BAD_REQUEST, false, "the server cannot take what was asked"},
    {Refused::SeatsTaken, "seats-taken", CONFLICT, false, "every seat of that room is taken"},
    {Refused::TooManyQueries, "too-many-queries", TOO_MANY_REQUESTS, true,
     "this address has asked for the open rooms as often as the server allows in a minute"},
};

constexpr bool InTheKindsOrder() {
    for (std::size_t i = 0; i < std::size(TERMS); ++i)
        if (static_cast<std::size_t>(TERMS[i].kind) != i) return false;
    return true;
}
static_assert(InTheKindsOrder(), "a kind's terms stand at its own place in the table");

}  // namespace

const RefusalTerms& TermsOf(Refused kind) { return TERMS[static_cast<std::size_t>(kind)]; }

std::span<const RefusalTerms> AllRefusals() { return TERMS; }

std::optional<Refused> RefusedByToken(std::string_view token) {
    const auto found = std::find_if(std::begin(TERMS), std::end(TERMS),
                                    [&](const RefusalTerms& terms) { return terms.token == token; });
    if (found == std::end(TERMS)) return std::nullopt;
    return found->kind;
}

std::optional<Refused> RefusalOfAnswer(int status, std::string_view token) {
    if (const std::optional<Refused> named = RefusedByToken(token)) return named;
    return RefusedByStatus(status);
}

std::optional<Refused> RefusedByStatus(int status) {
    const auto found = std::find_if(std::begin(TERMS), std::end(TERMS),
                                    [&](const RefusalTerms& terms) { return terms.status == status; });
    if (found == std::end(TERMS)) return std::nullopt;
    return found->kind;
}

}  // namespace kestrel
