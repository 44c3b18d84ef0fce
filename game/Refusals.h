#pragma once
// Why a room's server refuses what a screen asks (a new room, a socket, a
// recording): one table of kinds that the server answers and the window
// and the page read back, each with its HTTP status, whether a later try
// may pass, and the words the screens show. The server names the kind in
// the Kestrel-Refusal header of its answer; an answer without one (a
// proxy's own) is read by its status alone.

#include <optional>
#include <span>
#include <string_view>

namespace kestrel {

enum class Refused {
    TooManyRooms,   // this address opened as many rooms as it may in a minute
    ServerFull,     // the server holds as many rooms as it takes, or cannot open one now
    RoomFull,       // the room has as many screens as it takes
    AddressLimit,   // this address holds as many connections as it may
    DiskFull,       // the server cannot keep a new room on its disk now
    ComingBack,     // the room is coming back after a restart
    NoSuchRoom,
    OtherServer,    // the room lives on another server
    RoomEnded,      // its recording is kept, its battle over
    WrongKey,       // the link's key does not open the room
    ForeignPage,    // the request came from another site's page
    BadRequest,     // the request itself is wrong
    SeatsTaken,     // every seat of a public room is taken
    TooManyQueries, // this address asked for the public rooms as often as it may in a minute
};

struct RefusalTerms {
    Refused kind;
    std::string_view token;  // in the Kestrel-Refusal header
    int status;              // the HTTP status it is answered with
    bool mayPass;            // whether a later try may pass
    std::string_view words;  // for the person at the screen
};

inline constexpr std::string_view REFUSAL_HEADER = "Kestrel-Refusal";

const RefusalTerms& TermsOf(Refused kind);
// Every kind's terms, in the kinds' order.
std::span<const RefusalTerms> AllRefusals();
// The kind a Kestrel-Refusal header names; none for a token it does not know.
std::optional<Refused> RefusedByToken(std::string_view token);
// The kind of an answer that names none, by its status: what a proxy in
// front answers on its own, read as the first kind of that status in the
// table; none for a status no refusal has.
std::optional<Refused> RefusedByStatus(int status);
// What an answer with `status` and the header `token` (empty when it had
// none) refuses: the token's kind, else the status's; none when it refuses
// nothing the table knows (a room that would let the screen in now).
std::optional<Refused> RefusalOfAnswer(int status, std::string_view token);

}  // namespace kestrel
