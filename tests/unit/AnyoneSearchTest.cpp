// The search for a public room that the window and the page share: the
// requests it makes for the answers it is given, how it ends with a room's
// links or with why there are none, and the answers it refuses to read.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/AnyoneSearch.h"
#include "game/Refusals.h"

namespace kestrel {
namespace {

const std::string ROOM = "b1-0123456789abcdef0123456789abcdef", KEY = "fedcba98765432100123456789abcdef";
const std::string PLAY = "http://b1.example:8123/#live=" + ROOM + "." + KEY;
const std::string SEAT = "/rooms/" + ROOM + "/seat";
const std::string FOUND_ELSEWHERE = R"({"room":")" + ROOM + R"(","watch":"w","seat":")" + SEAT + R"("})";
const std::string SEATED = R"({"room":")" + ROOM + R"(","play":")" + PLAY + R"(","watch":"w"})";
constexpr int OK = 200, CREATED = 201, NOT_FOUND = 404, CONFLICT = 409, TOO_MANY = 429;

struct Reply {
    int status;
    std::string refusal;
    std::string body;
};

// Answers each request in turn: the paths it was asked for.
std::vector<std::string> Drive(AnyoneSearch& search, const std::vector<Reply>& replies) {
    std::vector<std::string> asked;
    for (const Reply& reply : replies) {
        if (!search.Next()) break;
        asked.push_back(search.Next()->path);
        search.Answer(reply.status, reply.refusal, reply.body);
    }
    return asked;
}

std::string WhyNot(const AnyoneSearch& search) {
    if (!search.Outcome()) return "(not ended)";
    return search.Outcome()->Ok() ? "(found)" : search.Outcome()->Why();
}

TEST(AnyoneSearch, TriesRoomsFoundFullThenOpensItsOwn) {
    AnyoneSearch search(300, 200);
    EXPECT_EQ(search.Next()->body, R"({"height":200,"width":300})");
    std::vector<Reply> replies;
    for (int i = 0; i < ANYONE_TRIES; ++i) {
        replies.push_back({OK, "", FOUND_ELSEWHERE});
        replies.push_back({CONFLICT, "seats-taken", "every seat is taken"});
    }
    replies.push_back({CREATED, "", SEATED});
    std::vector<std::string> expected;
    for (int i = 0; i < ANYONE_TRIES; ++i) expected.insert(expected.end(), {"/rooms/anyone", SEAT});
    expected.push_back("/rooms/anyone?new=1");

    EXPECT_EQ(Drive(search, replies), expected);
    ASSERT_TRUE(search.Outcome() && search.Outcome()->Ok()) << WhyNot(search);
    EXPECT_FALSE(search.Next());
    const AnyoneLinks& links = **search.Outcome();
    EXPECT_EQ(links.room, ROOM);
    EXPECT_EQ(links.play, PLAY);
    EXPECT_EQ(links.watch, "http://b1.example:8123/#watch=" + ROOM);
}

TEST(AnyoneSearch, TakesASeatOnAnotherServer) {
    AnyoneSearch search(300, 200);
    Drive(search, {{OK, "", FOUND_ELSEWHERE}});
    ASSERT_TRUE(search.Next());
    EXPECT_EQ(search.Next()->path, SEAT);
    EXPECT_EQ(search.Next()->body, "{}");
    Drive(search, {{OK, "", SEATED}});
    ASSERT_TRUE(search.Outcome() && search.Outcome()->Ok()) << WhyNot(search);
    EXPECT_EQ((*search.Outcome())->play, PLAY);
}

TEST(AnyoneSearch, ARefusalEndsItInWords) {
    const std::string tooOften(TermsOf(Refused::TooManyQueries).words);
    struct Case {
        std::vector<Reply> replies;
        std::optional<int> wait;
        std::string why;
    };
    for (const Case& c : std::vector<Case>{
             {{{TOO_MANY, "too-many-queries", ""}}, 5, tooOften + ": try again in 5 seconds"},
             {{{TOO_MANY, "too-many-queries", ""}}, std::nullopt, tooOften + ": try again later"},
             // Seats taken is a reason to try again only for a seat.
             {{{CONFLICT, "seats-taken", ""}}, std::nullopt, std::string(TermsOf(Refused::SeatsTaken).words)},
             {{{OK, "", FOUND_ELSEWHERE}, {NOT_FOUND, "no-such-room", ""}}, std::nullopt,
              std::string(TermsOf(Refused::NoSuchRoom).words)},
             {{{502, "", "<html>"}}, std::nullopt, "the server answered 502"},
         }) {
        AnyoneSearch search(300, 200);
        const Reply& last = c.replies.back();
        Drive(search, {c.replies.begin(), c.replies.end() - 1});
        search.Answer(last.status, last.refusal, last.body, c.wait);
        EXPECT_FALSE(search.Next());
        EXPECT_EQ(WhyNot(search), c.why);
    }
}

TEST(AnyoneSearch, RefusesMalformedAnswers) {
    const std::string seatAt = R"({"room":"r","seat":")";
    for (const auto& [body, why] : std::vector<std::pair<std::string, std::string>>{
             {R"({"room":"r","watch":"w"})", "the server's answer has no play link"},
             {R"({"play":7})", "the server's answer has no play link"},
             {"[1,2]", "the server's answer is not a JSON object"},
             {R"({"play":")" + PLAY, "the server's answer is not a JSON object"},
             {R"({"play":"http://h/#watch=)" + ROOM + R"("})", "the server's answer has a play link that is not one"},
             {R"({"play":"http://h/#live=x.y"})",
              "the server's answer has a bad play link: not a play link (its key is not a room key)"},
             {seatAt + "/rooms/../seat\"}", "the server's answer names a seat that is not a room's (/rooms/ID/seat)"},
             {seatAt + "http://elsewhere" + SEAT + "\"}",
              "the server's answer names a seat that is not a room's (/rooms/ID/seat)"},
             {seatAt + "/rooms/" + ROOM + "/seat?x\"}",
              "the server's answer names a seat that is not a room's (/rooms/ID/seat)"},
             {R"({"play":")" + PLAY + R"(","pad":")" + std::string(MAX_ANYONE_ANSWER_BYTES, ' ') + "\"}",
              "the server's answer is too long (more than " + std::to_string(MAX_ANYONE_ANSWER_BYTES) + " bytes)"},
         }) {
        AnyoneSearch search(300, 200);
        Drive(search, {{OK, "", body}});
        EXPECT_FALSE(search.Next()) << body;
        EXPECT_EQ(WhyNot(search), why) << body;
    }
    // A seat is for a public room found, not for the seat's own answer.
    AnyoneSearch search(300, 200);
    Drive(search, {{OK, "", FOUND_ELSEWHERE}, {OK, "", FOUND_ELSEWHERE}});
    EXPECT_EQ(WhyNot(search), "the server's answer has no play link");
}

}  // namespace
}  // namespace kestrel
