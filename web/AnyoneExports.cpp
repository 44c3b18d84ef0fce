// "Play with anyone" on the page: the searches it runs through the
// module, each a game/AnyoneSearch whose requests the page makes.

#include <map>
#include <optional>
#include <string>

#include "game/AnyoneSearch.h"
#include "web/Exports.h"

namespace kestrel::page {
namespace {

// The page's searches for a public room, by number: a page may search twice at once.
std::map<int, AnyoneSearch> searches;
int lastSearch = 0;

// What search `number` asks for now, for the page: {"request": {"method",
// "path", "body"}}, or its end: {"links": {"room", "play", "watch"}} or
// {"error": WORDS}.
std::string SearchStepJson(int number) {
    const auto found = searches.find(number);
    if (found == searches.end()) return Dumped({{"error", "the page began no such search"}});
    const AnyoneSearch& search = found->second;
    if (const std::optional<AnyoneRequest>& next = search.Next())
        return Dumped({{"request", {{"method", ANYONE_METHOD}, {"path", next->path}, {"body", next->body}}}});
    const Result<AnyoneLinks>& outcome = *search.Outcome();
    if (!outcome) return Dumped({{"error", outcome.Why()}});
    return Dumped({{"links", {{"room", outcome->room}, {"play", outcome->play}, {"watch", outcome->watch}}}});
}

}  // namespace
}  // namespace kestrel::page

using namespace kestrel;
using namespace kestrel::page;

// "Play with anyone" (game/AnyoneSearch.h): the page makes each request the
// search names and hands back its answer, until the search ends. Begins a
// search for a room of width x height canvas units: its number.
KESTREL_EXPORT(kestrel_anyone_start) int kestrel_anyone_start(int width, int height) {
    searches.insert_or_assign(++lastSearch, AnyoneSearch(width, height));
    return lastSearch;
}
// What search `number` asks for now, as JSON text: {"request": {"method",
// "path", "body"}}, or its end, {"links": {"room", "play", "watch"}} or
// {"error": WORDS}.
KESTREL_EXPORT(kestrel_anyone_next) const char* kestrel_anyone_next(int number) {
    return Handed(SearchStepJson(number));
}
// The answer to its request: the HTTP status, the Kestrel-Refusal header
// (`tokenLength` bytes at `token`; none is empty), the body (`bodyLength`
// bytes at `body`) and the seconds Retry-After asks to wait (-1 for none).
KESTREL_EXPORT(kestrel_anyone_answer) void kestrel_anyone_answer(int number, int status, const char* token,
                                                                 int tokenLength, const char* body,
                                                                 int bodyLength, int waitSeconds) {
    const auto found = searches.find(number);
    if (found == searches.end()) return;
    found->second.Answer(status, Bytes(token, tokenLength), Bytes(body, bodyLength),
                         waitSeconds >= 0 ? std::optional<int>(waitSeconds) : std::nullopt);
}
// The page is done with search `number`.
KESTREL_EXPORT(kestrel_anyone_end) void kestrel_anyone_end(int number) { searches.erase(number); }
