// The directory's listings as text: what one server writes another reads
// back the same, and a text that is not exactly such listings, whoever
// wrote it, is refused whole.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "server/directory/Directory.h"

namespace kestrel {
namespace {

const std::string DIGITS = "0123456789abcdef0123456789abcdef";
constexpr std::uint64_t LARGEST_COUNT = (std::uint64_t{1} << 53) - 1;

std::string Listing(const std::string& room, const std::string& server, const std::string& seats = "2",
                    const std::string& watchers = "3") {
    return R"({"r":")" + room + R"(","s":")" + server + R"(","t":)" + seats + R"(,"w":)" + watchers +
           R"(,"k":4,"v":5,"d":6})";
}

std::string ManyListings(std::size_t count) {
    std::string text = "[";
    for (std::size_t i = 0; i < count; ++i) text += (i ? "," : "") + Listing("a-" + DIGITS, "a");
    return text + "]";
}

TEST(ListingsTest, ReadBackAsWrittenAndTheLongestFitsItsBound) {
    const RoomListing longest{"abcdefghijklmnop-" + DIGITS, "abcdefghijklmnop", 6,
                              LARGEST_COUNT, LARGEST_COUNT, LARGEST_COUNT, LARGEST_COUNT};
    const std::vector<RoomListing> rooms{longest, {DIGITS, "", 0, 0, 0, 0, 0}, {"b7-" + DIGITS, "b7", 3, 12, 9, 1, 600}};
    EXPECT_EQ(ReadListings(ListingsText(rooms)), rooms);
    EXPECT_EQ(ReadListings(ListingsText({})), std::vector<RoomListing>{});
    EXPECT_LE(ListingsText({longest}).size(), MAX_LISTING_BYTES);
    EXPECT_TRUE(ReadListings(ManyListings(MAX_LISTED_ROOMS)));
}

TEST(ListingsTest, RefusesAnyTextThatIsNotExactlyListings) {
    const std::string room = "a-" + DIGITS;
    const std::vector<std::pair<std::string, std::string>> refused{
        {"not JSON", "[{"},
        {"not a list", "{}"},
        {"a number for a listing", "[1]"},
        {"a member missing", R"([{"r":")" + room + R"(","s":"a","t":1,"w":0,"k":0,"v":0}])"},
        {"a member more", "[" + Listing(room, "a").insert(1, R"("x":1,)") + "]"},
        {"seats past the most", "[" + Listing(room, "a", "7") + "]"},
        {"seats below none", "[" + Listing(room, "a", "-1") + "]"},
        {"a count as text", "[" + Listing(room, "a", "2", "\"3\"") + "]"},
        {"a fraction", "[" + Listing(room, "a", "2", "1.5") + "]"},
        {"a count past the largest", "[" + Listing(room, "a", "2", std::to_string(LARGEST_COUNT + 1)) + "]"},
        {"a count past 64 bits", "[" + Listing(room, "a", "2", "18446744073709551616") + "]"},
        {"upper-case digits", "[" + Listing("a-0123456789ABCDEF0123456789abcdef", "a") + "]"},
        {"an id a digit short", "[" + Listing("a-" + DIGITS.substr(1), "a") + "]"},
        {"another server's room", "[" + Listing("b-" + DIGITS, "a") + "]"},
        {"a name too long", "[" + Listing("abcdefghijklmnopq-" + DIGITS, "abcdefghijklmnopq") + "]"},
        {"a name of other letters", "[" + Listing("a_1-" + DIGITS, "a_1") + "]"},
        {"more rooms than listed", ManyListings(MAX_LISTED_ROOMS + 1)},
        {"a text past the bound", "[" + std::string(MAX_LISTED_ROOMS * MAX_LISTING_BYTES, ' ') + "]"},
        {"lists within lists", std::string(100000, '[') + std::string(100000, ']')},
    };
    for (const auto& [why, text] : refused) EXPECT_EQ(ReadListings(text), std::nullopt) << why;
}

}  // namespace
}  // namespace kestrel
