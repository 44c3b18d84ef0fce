// The program's command line, read before any window opens: help and
// version on standard output; for a bad option, a file that cannot be read
// or written, or a bad recording, one line on standard error naming the
// file and the reason, exit status 2, and no file left behind.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/CommandLine.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;

// What one start of the program did.
struct Start {
    std::optional<int> status;  // none: the window opens
    std::string out, err;
    Session session;
};

Start StartWith(const std::vector<std::string>& args) {
    Start start;
    std::ostringstream out, err;
    start.status = PrepareSession(args, out, err, start.session);
    start.out = out.str();
    start.err = err.str();
    return start;
}

class CommandLine : public testing::Test {
protected:
    void SetUp() override {
        std::string name = (fs::temp_directory_path() / "kestrel-options-XXXXXX").string();
        ASSERT_NE(::mkdtemp(name.data()), nullptr);
        dir = name;
        good = Path("good.rec");
        std::ofstream(good) << "version 1\nseed 293\nsize 696 548\ntick 40\ndown 1 300 280\n";
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string Path(const std::string& name) const { return (dir / name).string(); }
    std::string Write(const std::string& name, const std::string& text) const {
        std::ofstream(Path(name), std::ios::binary) << text;
        return Path(name);
    }
    // Exit status 2 and exactly this one line on standard error; nothing
    // else written.
    void ExpectRefused(const std::vector<std::string>& args, const std::string& line) {
        const Start start = StartWith(args);
        EXPECT_EQ(start.status, EXIT_BAD_START);
        EXPECT_EQ(start.err, line + "\n");
        EXPECT_EQ(start.out, "");
        EXPECT_EQ(start.session.record, nullptr);
    }
    std::vector<fs::path> Files() const {
        std::vector<fs::path> files;
        for (const auto& entry : fs::directory_iterator(dir)) files.push_back(entry.path().filename());
        std::sort(files.begin(), files.end());
        return files;
    }

    fs::path dir;
    std::string good;
};

TEST_F(CommandLine, WithoutOptionsTheWindowOpensAsBefore) {
    const Start start = StartWith({});
    EXPECT_EQ(start.status, std::nullopt);
    EXPECT_EQ(start.out + start.err, "");
    EXPECT_EQ(start.session.replay, "");
    EXPECT_EQ(start.session.record, nullptr);
}

TEST_F(CommandLine, HelpAndVersionGoToStandardOutput) {
    for (const char* help : {"--help", "-h"}) {
        const Start start = StartWith({help});
        EXPECT_EQ(start.status, 0);
        EXPECT_TRUE(start.out.starts_with(
            "Usage: kestrel [--record FILE] [--replay FILE | --join LINK | --play-anyone URL]\n"))
            << start.out;
        for (const char* option : {"\n  --record FILE ", "\n  --replay FILE ", "\n  --join LINK ",
                                   "\n  --play-anyone URL ", "\n  -h, --help ", "\n  --version "})
            EXPECT_NE(start.out.find(option), std::string::npos) << option;
        EXPECT_EQ(start.err, "");
    }
    const Start version = StartWith({"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, std::string("kestrel ") + KESTREL_PROJECT_VERSION + "\n");
    EXPECT_EQ(version.err, "");
    // Help does nothing else: no file is created.
    EXPECT_EQ(StartWith({"--record", Path("x.rec"), "--help"}).status, 0);
    EXPECT_FALSE(fs::exists(Path("x.rec")));
}

TEST_F(CommandLine, BadOptionsAreRefused) {
    const std::string hint = " (kestrel --help lists the options)";
    ExpectRefused({"--recrod", "x"}, "kestrel: unknown option '--recrod'" + hint);
    ExpectRefused({"-x"}, "kestrel: unknown option '-x'" + hint);
    ExpectRefused({"battle.rec"}, "kestrel: unexpected argument 'battle.rec'" + hint);
    ExpectRefused({"--record"}, "kestrel: option --record needs a FILE" + hint);
    ExpectRefused({"--replay"}, "kestrel: option --replay needs a FILE" + hint);
    ExpectRefused({"--record="}, "kestrel: option --record needs a FILE, not an empty name");
    ExpectRefused({"--record", Path("a"), "--record", Path("b")}, "kestrel: option --record is given twice");
    ExpectRefused({"--replay", good, "--replay=" + good}, "kestrel: option --replay is given twice");
    ExpectRefused({"--record", Path("a"), "--bad"}, "kestrel: unknown option '--bad'" + hint);
    EXPECT_EQ(Files(), std::vector<fs::path>{"good.rec"}) << "no file created";
}

// A room link names the room's socket; anything else is refused before a
// window or a connection opens, and leaves no file behind.
TEST_F(CommandLine, JoinTakesARoomLinkOrSaysWhyNot) {
    const std::string room(32, 'a'), key = "0123456789abcdef0123456789abcdef";
    Start play = StartWith({"--join", "http://127.0.0.1:8123/#live=" + room + "." + key, "--record", Path("r.rec")});
    ASSERT_EQ(play.status, std::nullopt) << play.err;
    ASSERT_TRUE(play.session.join);
    EXPECT_EQ(SocketAddress(*play.session.join), "ws://127.0.0.1:8123/rooms/" + room + "/socket?key=" + key);
    Start watch = StartWith({"--join=https://kestrel.example/app/?x=1#watch=" + room});
    ASSERT_TRUE(watch.session.join);
    EXPECT_EQ(SocketAddress(*watch.session.join), "wss://kestrel.example/rooms/" + room + "/socket");

    // The link's reader refuses the rest (tests/unit/RoomLinkTest.cpp); the
    // program says why, and leaves no file behind.
    const std::string link = "http://h/#live=" + room + ".";
    for (const auto& [bad, reason] : std::initializer_list<std::pair<std::string, std::string>>{
             {"ftp://h/#watch=" + room, "not a room link (it starts with neither http:// nor https://)"},
             {link + "0123456789ABCDEF0123456789ABCDEF", "not a play link (its key is not a room key)"},
         }) {
        ExpectRefused({"--join", bad, "--record", Path("x.rec")}, "kestrel: " + bad + ": " + reason);
    }
    ExpectRefused({"--join", link + key, "--replay", good},
                  "kestrel: options --join and --replay cannot be given together (kestrel --help lists the options)");
    EXPECT_FALSE(fs::exists(Path("x.rec")));
}

// A server's address, where the window asks for a room open to anyone;
// anything else, or another room to start with, is refused as a bad link is.
TEST_F(CommandLine, PlayAnyoneTakesAServersAddressOrSaysWhyNot) {
    for (const auto& [given, address] : std::initializer_list<std::pair<std::string, std::string>>{
             {"http://127.0.0.1:8123/", "http://127.0.0.1:8123"},
             {"https://kestrel.example", "https://kestrel.example"},
             {"http://[::1]:8000/", "http://[::1]:8000"},
         }) {
        const Start start = StartWith({"--play-anyone", given});
        ASSERT_EQ(start.status, std::nullopt) << start.err;
        ASSERT_TRUE(start.session.playAnyone);
        EXPECT_EQ(start.session.playAnyone->address, address);
        EXPECT_EQ(start.session.playAnyone->given, given);
    }
    for (const auto& [bad, reason] : std::initializer_list<std::pair<std::string, std::string>>{
             {"127.0.0.1:8123", "not a server's address (it starts with neither http:// nor https://)"},
             {"http:///", "not a server's address (no host in it)"},
             {"http://user@h/", "not a server's address (its host is not a host name or address)"},
             {"http://h:99999/", "not a server's address (its host is not a host name or address)"},
             {"http://h/app/", "not a server's address (it has more than http[s]://HOST[:PORT]/)"},
             {"http://h/#live=x", "not a server's address (it has more than http[s]://HOST[:PORT]/)"},
         }) {
        ExpectRefused({"--play-anyone", bad, "--record", Path("x.rec")}, "kestrel: " + bad + ": " + reason);
    }
    const std::string hint = " (kestrel --help lists the options)";
    ExpectRefused({"--play-anyone"}, "kestrel: option --play-anyone needs a URL" + hint);
    ExpectRefused({"--play-anyone=http://h/", "--join", "http://h/#watch=" + std::string(32, 'a')},
                  "kestrel: options --play-anyone and --join cannot be given together" + hint);
    ExpectRefused({"--replay", good, "--play-anyone", "http://h/"},
                  "kestrel: options --play-anyone and --replay cannot be given together" + hint);
    EXPECT_FALSE(fs::exists(Path("x.rec")));
}

TEST_F(CommandLine, RecordCreatesTheFileOrSaysWhyNot) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--record", Path("one two.rec")}, {"--record=" + Path("one two.rec")}}) {
        fs::remove(Path("one two.rec"));
        Start start = StartWith(args);
        EXPECT_EQ(start.status, std::nullopt);
        EXPECT_EQ(start.out + start.err, "");
        ASSERT_NE(start.session.record, nullptr);
        EXPECT_EQ(start.session.record->Path(), Path("one two.rec"));
        EXPECT_TRUE(fs::exists(Path("one two.rec")));
        // A file whose name starts with a dash, after the option.
        EXPECT_EQ(StartWith({"--record", Path("-odd.rec")}).status, std::nullopt);
    }
    ExpectRefused({"--record", Path("no/such.rec")}, "kestrel: " + Path("no/such.rec") + ": No such file or directory");
    ExpectRefused({"--record", dir.string()}, "kestrel: " + dir.string() + ": Is a directory");
}

TEST_F(CommandLine, ReplayReadsAndChecksTheRecordingFirst) {
    Start start = StartWith({"--replay", good});
    EXPECT_EQ(start.status, std::nullopt);
    EXPECT_EQ(start.out + start.err, "");
    EXPECT_EQ(start.session.replay, "version 1\nseed 293\nsize 696 548\ntick 40\ndown 1 300 280\n");

    const std::string missing = Path("missing.rec");
    ExpectRefused({"--replay", missing}, "kestrel: " + missing + ": No such file or directory");
    ExpectRefused({"--replay", dir.string()}, "kestrel: " + dir.string() + ": Is a directory");
    const std::string badLine = Write("bad.rec", "version 1\nseed 1\n\nmove 1\n");
    ExpectRefused({"--replay", badLine}, "kestrel: " + badLine + ": line 4: 'move' takes 2 arguments, got 1");
    const std::string script = Write("script.rec", "seed 1\ntick\nstate\n");
    ExpectRefused({"--replay", script}, "kestrel: " + script + ": line 3: 'state' has no place in a recording");
    const std::string newer = Write("newer.rec", "version 4\nseed 1\n");
    ExpectRefused({"--replay", newer},
                  "kestrel: " + newer + ": line 1: format version 4 is newer than this program reads (3)");
    const std::string empty = Write("empty.rec", "  \n# nothing\n");
    ExpectRefused({"--replay", empty}, "kestrel: " + empty + ": it holds no recording");
    const std::string huge = Path("huge.rec");
    std::ofstream(huge).close();
    fs::resize_file(huge, MAX_RECORDING_BYTES + 1);
    ExpectRefused({"--replay", huge},
                  "kestrel: " + huge + ": the recording is too long (more than " +
                      std::to_string(MAX_RECORDING_BYTES) + " bytes)");
    fs::resize_file(huge, MAX_RECORDING_BYTES);  // the longest is read; zero bytes are no command
    EXPECT_NE(StartWith({"--replay", huge}).err.find(": line 1: "), std::string::npos);
    fs::remove(huge);
}

// A bad recording stops the start before the file to record into exists;
// a file that cannot be written is named whichever option comes first.
TEST_F(CommandLine, NothingIsWrittenWhenTheStartFails) {
    const std::string bad = Write("bad.rec", "tick 0\n");
    const std::string out = Path("out.rec");
    ExpectRefused({"--record", out, "--replay", bad},
                  "kestrel: " + bad + ": line 1: count '0' is out of range 1..9223372036854775807");
    EXPECT_FALSE(fs::exists(out));
    ExpectRefused({"--replay", good, "--record", Path("no/out.rec")},
                  "kestrel: " + Path("no/out.rec") + ": No such file or directory");

    // Both at once, the same file too: the recording is read before the
    // file is emptied to record into.
    Start start = StartWith({"--replay", good, "--record", good});
    EXPECT_EQ(start.status, std::nullopt);
    EXPECT_TRUE(start.session.replay.ends_with("down 1 300 280\n"));
    EXPECT_NE(start.session.record, nullptr);
}

}  // namespace
}  // namespace kestrel
