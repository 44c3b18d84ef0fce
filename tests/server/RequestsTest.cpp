// What the server reads from a request, checked without a network: the
// origin a page comes from, the target's parts, the room a new room asks
// for, the site's files and escapes, the command line, and the ids.

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include "game/RoomId.h"
#include "server/rooms/RandomId.h"
#include "server/net/Requests.h"
#include "server/rooms/RoomSize.h"
#include "server/ServerOptions.h"
#include "server/net/Site.h"

namespace kestrel {
namespace {

// The page's own origin as the browser saw it, SCHEME://HOST: not the
// other scheme, nor anything that only starts like it. The scheme is https
// only when a trusted proxy says so in those very words.
TEST(Requests, AnOriginIsThePagesOwnSiteOnly) {
    const std::string host = "kestrel.test:8000";
    EXPECT_TRUE(SameOrigin(std::nullopt, "http", host)) << "not a browser: nothing to check";
    EXPECT_TRUE(SameOrigin("http://kestrel.test:8000", "http", host));
    EXPECT_TRUE(SameOrigin("https://kestrel.test:8000", "https", host));
    EXPECT_FALSE(SameOrigin("https://kestrel.test:8000", "http", host)) << "the other scheme";
    EXPECT_FALSE(SameOrigin("http://kestrel.test:8000", "https", host)) << "the other scheme";
    for (const char* scheme : {"http", "https"})
        for (const char* other : {"http://kestrel.test:8000.elsewhere.example", "https://kestrel.test:8000.elsewhere.example",
                                  "http://kestrel.test", "https://kestrel.test:80", "ftp://kestrel.test:8000",
                                  "kestrel.test:8000", "http://elsewhere.example", "https://elsewhere.test",
                                  "http://kestrel.test:8000/", "https://kestrel.test:8000/", "null", ""})
            EXPECT_FALSE(SameOrigin(std::string_view(other), scheme, host)) << scheme << " " << other;
    EXPECT_FALSE(SameOrigin("http://", "http", "")) << "no Host: no origin is the server's";

    EXPECT_EQ(BrowserScheme(std::nullopt), "http");
    EXPECT_EQ(BrowserScheme("https"), "https");
    for (const char* other : {"http", "HTTPS", "https ", "wss", "https,http", ""})
        EXPECT_EQ(BrowserScheme(std::string_view(other)), "http") << other;
}

TEST(Requests, TargetsQueriesAndRoomPaths) {
    const Target target = SplitTarget("/rooms/abc/socket?key=k1&x=2");
    EXPECT_EQ(target.path, "/rooms/abc/socket");
    EXPECT_EQ(QueryValue(target.query, "key"), "k1");
    EXPECT_EQ(QueryValue(target.query, "x"), "2");
    EXPECT_EQ(QueryValue("akey=1", "key"), std::nullopt) << "a longer name is not it";
    EXPECT_EQ(QueryValue("akey=1&key=", "key"), "") << "an empty key is given: a wrong key, not a watch link";
    EXPECT_EQ(QueryValue("", "key"), std::nullopt);
    EXPECT_EQ(SplitTarget("/a").query, "");

    const std::optional<RoomPath> room = ReadRoomPath("/rooms/abc/recording");
    ASSERT_TRUE(room);
    EXPECT_EQ(room->room, "abc");
    EXPECT_EQ(room->what, "recording");
    EXPECT_EQ(ReadRoomPath("/rooms/abc")->what, "") << "the room itself";
    for (const char* path : {"/rooms/", "/rooms//socket", "/rooms/a/b/c", "/room/abc/socket", "/rooms"})
        EXPECT_EQ(ReadRoomPath(path), std::nullopt) << path;
}

TEST(Requests, ARoomsSizeIsReadOrRefused) {
    EXPECT_EQ(ReadRoomSize("", 4000)->width, START_WIDTH);
    const Result<RoomSize> asked = ReadRoomSize(" {\"height\": 300 , \"width\":400}\n", 4000);
    ASSERT_TRUE(asked.Ok()) << asked.Why();
    EXPECT_EQ(asked->width, 400);
    EXPECT_EQ(asked->height, 300);
    EXPECT_TRUE(ReadRoomSize("{\"width\": 4000}", 4000).Ok()) << "the largest side";
    for (const char* body : {"{\"width\": 0}", "{\"width\": 4001}", "{\"width\": -5}", "{\"depth\": 3}", "[1, 2]",
                             "{\"width\": 1.5}", "{\"width\": 10", "{\"width\": 10} x", "{\"width\" 10}",
                             "{\"width\": 10 \"height\": 10}"})
        EXPECT_FALSE(ReadRoomSize(body, 4000).Ok()) << body;
}

TEST(Site, EscapesAreUndoneAndPathsStayInTheSite) {
    EXPECT_EQ(PercentDecoded("a%20b%2Ec%41"), "a b.cA");
    for (const char* bad : {"%", "%4", "%zz", "a%2fb", "a%2Fb", "%00"}) EXPECT_EQ(PercentDecoded(bad), std::nullopt) << bad;

    const std::filesystem::path root =
        std::filesystem::temp_directory_path() / ("kestrel-site-" + std::to_string(getpid()));
    std::filesystem::create_directories(root / "site" / "sub");
    std::ofstream(root / "site" / "index.html") << "i";
    std::ofstream(root / "site" / "sub" / "a b.js") << "s";
    std::ofstream(root / "outside.txt") << "o";
    std::filesystem::create_directory_symlink(root, root / "site" / "escape");
    const std::filesystem::path site = std::filesystem::canonical(root / "site");
    EXPECT_EQ(SiteFile(site, "/"), site / "index.html");
    EXPECT_EQ(SiteFile(site, "/sub/a%20b.js"), site / "sub" / "a b.js");
    for (const char* path : {"/../outside.txt", "/%2e%2e/outside.txt", "/sub/../../outside.txt", "/escape/outside.txt",
                             "//etc/passwd", "/%2fetc/passwd", "/nothing.html", "/sub/", "index.html"})
        EXPECT_EQ(SiteFile(site, path), std::nullopt) << path;
    std::filesystem::remove_all(root);

    EXPECT_EQ(MimeType("a/kestrel.wasm"), "application/wasm");
    EXPECT_EQ(MimeType("x.mjs"), "text/javascript; charset=utf-8");
    EXPECT_EQ(MimeType("x.unknown"), "application/octet-stream");
}

// Why the options are refused; empty when they are not.
std::string OptionsRefused(const std::vector<std::string>& args) {
    const Result<ServerOptions> parsed = ParseServerOptions(args);
    return parsed ? "" : parsed.Why();
}

// Each limit's option sets that limit and no other.
TEST(ServerOptions, EachOptionSetsItsOwnValue) {
    const ServerLimits defaults;
    const auto limitsAfter = [](std::string option) {
        const Result<ServerOptions> parsed = ParseServerOptions({option, "7"});
        EXPECT_TRUE(parsed) << option << ": " << parsed.Why();
        if (!parsed) return std::vector<int>{};
        const ServerLimits& l = parsed->limits;
        return std::vector<int>{l.rooms, l.connectionsPerRoom, l.connectionsPerAddress, l.roomCreationsPerMinute};
    };
    const std::vector<int> base{defaults.rooms, defaults.connectionsPerRoom, defaults.connectionsPerAddress,
                                defaults.roomCreationsPerMinute};
    const char* options[] = {"--max-rooms", "--max-room-connections", "--max-address-connections", "--max-room-creations"};
    for (std::size_t i = 0; i < base.size(); ++i) {
        std::vector<int> expected = base;
        expected[i] = 7;
        EXPECT_EQ(limitsAfter(options[i]), expected) << options[i];
    }
    const Result<ServerOptions> all = ParseServerOptions({"--port=0", "--site", "web", "--data=d", "--version"});
    ASSERT_TRUE(all) << all.Why();
    EXPECT_EQ(all->listen, std::vector<std::string>{"127.0.0.1"}) << "by default";
    EXPECT_TRUE(all->trustedProxies.empty() && all->name.empty());
    EXPECT_EQ(all->port, 0);
    EXPECT_EQ(all->site, "web");
    EXPECT_EQ(all->data, "d");
    EXPECT_TRUE(all->version && !all->help);
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--port", "65536"}, {"--port"}, {"--max-rooms", "0"}, {"--max-rooms", "3x"}, {"--site", ""},
             {"--data"}, {"--bogus"}, {"stray"}})
        EXPECT_NE(OptionsRefused(bad), "") << bad[0];
    // A single value given twice is a mistake, whichever way it is written;
    // --listen and --trust-proxy add up (below).
    for (const char* option : {"--port", "--max-rooms", "--max-room-connections", "--max-address-connections",
                               "--max-room-creations", "--checkpoint-ticks", "--name", "--site", "--data"}) {
        const std::string once = std::string(option) + "=7";
        EXPECT_EQ(OptionsRefused({once}), "") << option;
        EXPECT_EQ(OptionsRefused({once, option, "7"}),
                  "option " + std::string(option) + " is given twice (kestrel-server --help lists the options)");
    }
}

// Addresses to listen on and proxies to trust add up, the first --listen
// in place of the default; a name is letters and digits.
TEST(ServerOptions, AddressesProxiesAndName) {
    const Result<ServerOptions> parsed = ParseServerOptions({"--listen", "::1", "--listen=0.0.0.0", "--trust-proxy",
                                                             "10.0.0.0/8", "--trust-proxy=::1", "--name", "Alpha8001"});
    ASSERT_TRUE(parsed) << parsed.Why();
    EXPECT_EQ(parsed->listen, (std::vector<std::string>{"::1", "0.0.0.0"}));
    ASSERT_EQ(parsed->trustedProxies.size(), 2u);
    EXPECT_EQ(parsed->trustedProxies[0].bits, 8);
    EXPECT_TRUE(parsed->trustedProxies[1].base.v6);
    EXPECT_EQ(parsed->name, "Alpha8001");
    for (const std::vector<std::string>& bad : std::vector<std::vector<std::string>>{
             {"--listen"}, {"--listen", "localhost"}, {"--listen", "127.0.0.1:80"}, {"--listen", "[::1]"},
             {"--trust-proxy"}, {"--trust-proxy", "10.0.0.0/33"}, {"--trust-proxy", "::/129"},
             {"--trust-proxy", "10.0.0.0/"}, {"--trust-proxy", "kestrel.test"}, {"--name"}, {"--name", ""},
             {"--name", "a-b"}, {"--name", "abcdefghijklmnopq"}, {"--name=a", "--redis", "localhost:6379"},
             {"--name=a", "--redis", "127.0.0.1"}, {"--name=a", "--redis", "127.0.0.1:0"},
             {"--name=a", "--redis", "[::1]:65536"}, {"--redis", "127.0.0.1:6379"}})
        EXPECT_NE(OptionsRefused(bad), "") << bad[0] << " " << (bad.size() > 1 ? bad[1] : "");
    // Redis at an address (a name would be looked up on the rooms' loop) or a socket, for a named server.
    for (const auto& [given, host, port, path] :
         {std::tuple{"[::1]:6380", "::1", 6380, ""}, {"127.0.0.1:6379", "127.0.0.1", 6379, ""},
          {"./redis.sock", "", 0, "./redis.sock"}}) {
        const Result<ServerOptions> shared = ParseServerOptions({"--name", "a", "--redis", given});
        ASSERT_TRUE(shared && shared->redis) << given;
        EXPECT_EQ(std::tie(shared->redis->host, shared->redis->port, shared->redis->socketPath),
                  std::tie(host, port, path));
    }
    EXPECT_EQ(OptionsRefused({"--name", "a-b"}),
              "option --name needs 1 to 16 letters and digits, not 'a-b' (kestrel-server --help lists the options)");
}

// 128 bits each: over many draws every one of the 32 digits takes every
// value, and no id comes twice. A named server's ids carry its name, and a
// room another server's id names is not looked for here.
TEST(RandomId, IdsAndKeysCarryTheirWholeRandomness) {
    constexpr int DRAWS = 2000;
    std::set<std::string> seen;
    std::vector<std::set<char>> digits(2 * RANDOM_ID_BYTES);
    for (int i = 0; i < DRAWS; ++i) {
        const std::string id = RandomHexId().value();
        ASSERT_TRUE(IsRoomKey(id)) << id;
        seen.insert(id);
        for (std::size_t at = 0; at < id.size(); ++at) digits[at].insert(id[at]);
    }
    EXPECT_EQ(seen.size(), std::size_t(DRAWS));
    for (std::size_t at = 0; at < digits.size(); ++at) EXPECT_EQ(digits[at].size(), 16u) << "digit " << at;

    EXPECT_TRUE(IsRoomKey("0123456789abcdef0123456789abcdef"));
    for (const char* bad : {"0123456789abcdef0123456789abcde", "0123456789abcdef0123456789abcdef0",
                            "0123456789ABCDEF0123456789abcdef", "0123456789abcdef0123456789abcdeg", "../../etc/passwd", ""})
        EXPECT_FALSE(IsRoomKey(bad)) << bad;

    const std::string bare = DrawRoomId("").value(), named = DrawRoomId("8001").value();
    EXPECT_TRUE(IsRoomKey(bare)) << "no name: the digits alone, as before names";
    EXPECT_TRUE(named.starts_with("8001-") && IsRoomKey(named.substr(5))) << named;
    EXPECT_EQ(OtherServer("8002-" + bare, "8001"), "8002");
    EXPECT_EQ(OtherServer("8001-" + bare, ""), "8001") << "a server without a name holds no named room";
    EXPECT_EQ(OtherServer("8001-" + bare, "8001"), std::nullopt);
    EXPECT_EQ(OtherServer(bare, "8001"), std::nullopt) << "a room kept from before names is looked for here";
    EXPECT_EQ(OtherServer("80011-" + bare, "8001"), "80011") << "the whole name, not its start";
}

// A source that cannot be read answers no id, for the room to be refused
// rather than the server ended; one interrupted, or that gives its bytes a
// few at a time, still fills the whole id.
TEST(RandomId, ASourceThatCannotBeReadAnswersNoId) {
    const RandomSource failing = [](void*, std::size_t, unsigned) -> ssize_t {
        errno = EIO;
        return -1;
    };
    EXPECT_EQ(RandomHexId(failing), std::nullopt);
    EXPECT_EQ(DrawRoomId("8001", failing), std::nullopt);
    EXPECT_EQ(RandomHexId([](void*, std::size_t, unsigned) -> ssize_t { return 0; }), std::nullopt) << "not a loop";
    static int calls = 0;
    const RandomSource halting = [](void* bytes, std::size_t length, unsigned) -> ssize_t {
        if (++calls % 2 == 1) {
            errno = EINTR;
            return -1;
        }
        const std::size_t given = std::min<std::size_t>(length, 3);
        std::memset(bytes, 0xa5, given);
        return ssize_t(given);
    };
    std::string digits;
    for (int n = 0; n < RANDOM_ID_BYTES; ++n) digits += "a5";
    EXPECT_EQ(RandomHexId(halting), digits);
    EXPECT_EQ(DrawRoomId("8001", halting), "8001-" + digits);
}

}  // namespace
}  // namespace kestrel
