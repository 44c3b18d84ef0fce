// A room's rules as the window, the page and the server share them: the
// links to a room read back as written, and every other text refused with
// its reason; what a room id is; the hosts a link may name; the waits
// between a screen's tries and the states of its connection.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game/Reconnect.h"
#include "game/RoomId.h"
#include "game/RoomLink.h"

namespace kestrel {
namespace {

const std::string ROOM = "0123456789abcdef0123456789abcdef", KEY = "fedcba98765432100123456789abcdef";

TEST(RoomLink, ReadsBackWhatItWrites) {
    const ReadLink read = ReadRoomLink(PlayLink("http://127.0.0.1:8123/", ROOM, KEY));
    ASSERT_TRUE(read && *read) << (read ? "no room" : read.Why());
    const std::optional<RoomLink>& play = *read;
    EXPECT_EQ(play->room, ROOM);
    EXPECT_EQ(play->key, KEY);
    EXPECT_EQ(play->page, "http://127.0.0.1:8123/");
    EXPECT_EQ(SocketAddress(*play), "ws://127.0.0.1:8123/rooms/" + ROOM + "/socket?key=" + KEY);
    EXPECT_EQ(PlayLink(play->page, ROOM, KEY), "http://127.0.0.1:8123/#live=" + ROOM + "." + KEY);

    const ReadLink readWatch = ReadRoomLink(WatchLink("https://[::1]:8443/app/", ROOM));
    ASSERT_TRUE(readWatch && *readWatch);
    const std::optional<RoomLink>& watch = *readWatch;
    EXPECT_FALSE(watch->Plays());
    EXPECT_EQ(SocketAddress(*watch), "wss://[::1]:8443/rooms/" + ROOM + "/socket");
    // Relative to the server that hands it out.
    EXPECT_EQ(PlayLink("", ROOM, KEY), "/#live=" + ROOM + "." + KEY);
    EXPECT_EQ(WatchLink("", ROOM), "/#watch=" + ROOM);
    EXPECT_EQ(SocketPath(ROOM, ""), "/rooms/" + ROOM + "/socket");
}

// Moved here from the window's --join test, which keeps how the program
// reports them.
TEST(RoomLink, RefusesWhatNamesNoRoomWithItsReason) {
    const std::string room(32, 'a'), link = "http://h/#live=" + room + ".";
    for (const auto& [bad, reason] : std::vector<std::pair<std::string, std::string>>{
             {"ftp://h/#watch=" + room, "not a room link (it starts with neither http:// nor https://)"},
             {"http:///#watch=" + room, "not a room link (no host in it)"},
             {"http://h/#watch=" + room.substr(1), "not a room link (its room is not a room id)"},
             {"http://h/#watch=" + room + "a", "not a room link (its room is not a room id)"},
             {"http://h/#watch=" + std::string(32, 'A'), "not a room link (its room is not a room id)"},
             {"http://h/#live=" + room, "not a play link (#live= needs ROOM.KEY)"},
             {link, "not a play link (its key is not a room key)"},
             {link + "0123456789ABCDEF0123456789ABCDEF", "not a play link (its key is not a room key)"},
             {link + KEY + ".00", "not a play link (its key is not a room key)"},
             {"http://user@h/#watch=" + room, "not a room link (its host is not a host name or address)"},
             {"http://h:0/#watch=" + room, "not a room link (its host is not a host name or address)"},
         }) {
        const ReadLink read = ReadRoomLink(bad);
        ASSERT_FALSE(read.Ok()) << bad;
        EXPECT_EQ(read.Why(), reason) << bad;
    }
    for (const std::string& other :
         {std::string("http://h/"), std::string("http://h/#battle=00"), "ftp://h/#lived=" + room}) {
        const ReadLink read = ReadRoomLink(other);
        EXPECT_TRUE(read.Ok() && !*read) << other << ": a fragment of another kind names no room";
    }
}

// 32 lower-case hex digits, after the name of the server that holds the
// room and a '-' when it has a name; a key is the digits alone.
TEST(RoomLink, AnIdIsAServersNameAnd32LowerCaseHexDigits) {
    EXPECT_TRUE(IsRoomId(ROOM));
    EXPECT_TRUE(IsRoomKey(KEY));
    for (const std::string& bad : std::vector<std::string>{"", ROOM.substr(1), ROOM + "0", std::string(64, 'a'),
                                   "0123456789ABCDEF0123456789abcdef", "0123456789abcdeg0123456789abcdef",
                                   "../3456789abcdef0123456789abcdef"}) {
        EXPECT_FALSE(IsRoomId(bad)) << bad;
        EXPECT_FALSE(IsRoomKey(bad)) << bad;
    }
    EXPECT_EQ(ROOM_ID_HEX_DIGITS * 4, 128u);

    for (const std::string name : {"8001", "a", "Kestrel2", "abcdefghijklmnop"}) {
        EXPECT_TRUE(IsServerName(name) && IsRoomId(name + "-" + ROOM)) << name;
        EXPECT_EQ(RoomServer(name + "-" + ROOM), name);
        EXPECT_FALSE(IsRoomKey(name + "-" + KEY)) << "a key never names a server";
    }
    EXPECT_EQ(RoomServer(ROOM), "");
    for (const std::string name : {"", "abcdefghijklmnopq", "a-b", "a_b", "a.b", "../a", "a b", "\u00e9"}) {
        EXPECT_FALSE(IsServerName(name)) << name;
        EXPECT_FALSE(IsRoomId(name + "-" + ROOM)) << name;
    }
    for (const std::string& bad : {"a-" + ROOM.substr(1), "a-" + ROOM + "0", "a" + ROOM, "a--" + ROOM, "-" + ROOM,
                                   "a-" + ROOM + "-b", ROOM + "-a"})
        EXPECT_FALSE(IsRoomId(bad)) << bad;

    const ReadLink named = ReadRoomLink(PlayLink("https://kestrel.test:8443/", "8001-" + ROOM, KEY));
    ASSERT_TRUE(named && *named);
    EXPECT_EQ(SocketAddress(**named), "wss://kestrel.test:8443/rooms/8001-" + ROOM + "/socket?key=" + KEY);
}

TEST(RoomLink, AHostIsANameOrAnAddressAndAPort) {
    for (const char* good : {"h", "kestrel.example", "127.0.0.1:8000", "Host-1.example:65535", "[::1]", "[::1]:80",
                             "[2001:db8::ffff:192.0.2.1]:443"})
        EXPECT_TRUE(IsLinkHost(good)) << good;
    for (const char* bad : {"", ":80", "h:", "h:0", "h:65536", "h:8x", "h:1:2", "user@h", "h/x", "h?x", "-h", ".h",
                            "[]", "[::1", "[::1]x", "[::g]", "h h", "h\n"})
        EXPECT_FALSE(IsLinkHost(bad)) << bad;
}

TEST(Reconnect, WaitsDoubleToTheLongestAndStartAgainOnceAConnectionWorked) {
    RoomConnection connection;
    EXPECT_EQ(connection.State(), ConnectionState::Connecting);
    std::vector<int> waits;
    for (int i = 0; i < 6; ++i) {
        waits.push_back(*connection.Lost("refused"));
        connection.Connecting();
    }
    EXPECT_EQ(waits, (std::vector<int>{FIRST_RETRY_MS, 1000, 2000, 4000, LAST_RETRY_MS, LAST_RETRY_MS}));
    EXPECT_TRUE(connection.Retrying());

    // After a connection that worked, the waits start from the first again,
    // however often that happens.
    for (int i = 0; i < 3; ++i) {
        connection.Joined();
        EXPECT_EQ(connection.State(), ConnectionState::Live);
        EXPECT_FALSE(connection.Retrying());
        EXPECT_EQ(connection.Lost("dropped"), FIRST_RETRY_MS);
        EXPECT_EQ(connection.State(), ConnectionState::Lost);
        EXPECT_EQ(connection.Reason(), "dropped");
        connection.Connecting();
        EXPECT_EQ(connection.Lost(""), 1000);
        EXPECT_EQ(connection.RetryMs(), 1000);
        connection.Connecting();
    }
}

TEST(Reconnect, ClosedIsForGood) {
    RoomConnection connection;
    connection.Joined();
    connection.Close();
    EXPECT_EQ(connection.Lost("gone"), std::nullopt);
    connection.Connecting();
    connection.Joined();
    EXPECT_EQ(connection.State(), ConnectionState::Closed);
    EXPECT_STREQ(StateName(connection.State()), "closed");
    EXPECT_STREQ(StateName(ConnectionState::Lost), "lost");
}

}  // namespace
}  // namespace kestrel
