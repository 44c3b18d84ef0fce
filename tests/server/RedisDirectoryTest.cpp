// The directory in a real Redis (Debian's redis-server, started here on a
// unix socket in a folder of its own, and killed after): one server's rooms
// reach another's list, its load is there for anyone to read, and a reply
// longer than the bound, whoever wrote it, lets the connection go, leaving
// this server's rooms alone listed, until the directory holds only what
// servers write again.

#include <gtest/gtest.h>
#include <hiredis/hiredis.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>

#include "server/base/Log.h"
#include "server/directory/RedisDirectory.h"

extern char** environ;

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string DIGITS = "0123456789abcdef0123456789abcdef";
constexpr std::size_t BOUND = 64 * 1024;

fs::path RedisServer() {
    std::string path = std::getenv("PATH") ? std::getenv("PATH") : "/usr/bin";
    path += ":/usr/sbin";
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(':', start), path.size());
        const fs::path program = fs::path(path.substr(start, end - start)) / "redis-server";
        if (access(program.c_str(), X_OK) == 0) return program;
        start = end + 1;
    }
    return {};
}

// redis-server on a unix socket in a scratch folder, and a plain client
// of its own for what a stranger writes there.
class RealRedis {
public:
    RealRedis() : folder_(fs::temp_directory_path() / ("kestrel-redis-" + std::to_string(getpid()))) {
        const fs::path program = RedisServer();
        if (program.empty()) return;
        fs::create_directories(folder_);
        socket_ = (folder_ / "redis.sock").string();
        std::vector<std::string> words{program.string(), "--port", "0", "--unixsocket", socket_, "--save", "",
                                       "--dir", folder_.string(), "--loglevel", "warning"};
        std::vector<char*> argv;
        for (std::string& word : words) argv.push_back(word.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = 0;
        for (int i = 0; i < 500 && pid_ && !client_; ++i) {
            if (fs::exists(socket_)) client_ = redisConnectUnix(socket_.c_str());
            if (client_ && client_->err) redisFree(std::exchange(client_, nullptr));
            if (!client_) usleep(10'000);
        }
    }
    ~RealRedis() {
        if (client_) redisFree(client_);
        if (pid_) kill(pid_, SIGKILL), waitpid(pid_, nullptr, 0);
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    bool Running() const { return client_ != nullptr; }
    RedisAddress Address() const { return *ReadRedisAddress(socket_); }
    // The reply's text, if it was one.
    std::string Command(const std::vector<std::string>& words) {
        std::vector<const char*> argv;
        std::vector<std::size_t> lengths;
        for (const std::string& word : words) argv.push_back(word.data()), lengths.push_back(word.size());
        auto* reply = static_cast<redisReply*>(redisCommandArgv(client_, int(argv.size()), argv.data(), lengths.data()));
        if (!reply) return {};
        std::string text = reply->type == REDIS_REPLY_STRING ? std::string(reply->str, reply->len) : std::string();
        freeReplyObject(reply);
        return text;
    }

private:
    fs::path folder_;
    std::string socket_;
    pid_t pid_ = 0;
    redisContext* client_ = nullptr;
};

// Runs the loop until `done`, for at most a generous while.
bool RunUntil(boost::asio::io_context& io, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!done() && std::chrono::steady_clock::now() < deadline) io.run_for(10ms);
    return done();
}

TEST(RedisDirectoryTest, ListsAnotherServersRoomsAndLetsGoOfAReplyPastItsBound) {
    RealRedis redis;
    ASSERT_TRUE(redis.Running()) << "redis-server did not start: install Debian's redis-server "
                                    "(scripts/install-deps test)";
    boost::asio::io_context io;
    std::ostringstream said;
    const Log log(said);
    const RedisSettings quick{.write = 50ms, .read = 50ms, .timeToLive = 5000ms, .deadline = 2000ms,
                              .reconnect = 50ms, .replyBytes = BOUND};
    RedisDirectory ours(io, redis.Address(), "a", log, quick), theirs(io, redis.Address(), "b", log, quick);
    const RoomListing mine{"a-" + DIGITS, "a", 1, 0, 0, 0, 3}, other{"b-" + DIGITS, "b", 2, 1, 3, 4, 5};
    ours.Publish({mine}, {.rooms = 3, .screens = 5, .seats = 1}, true);
    theirs.Publish({other}, {}, true);
    const auto everyone = [&] {
        const DirectoryList list = ours.List();
        return list.whole && std::ranges::count(list.rooms, other) == 1;
    };
    ASSERT_TRUE(RunUntil(io, everyone)) << said.str();
    EXPECT_EQ(redis.Command({"GET", "kestrel:load:a"}), R"({"rooms":3,"screens":5,"seats":1})");

    // One long value, which hiredis would hold whole before handing it on.
    redis.Command({"SET", "kestrel:rooms:c", std::string(BOUND + 1, 'x')});
    redis.Command({"SADD", "kestrel:servers", "c"});
    ASSERT_TRUE(RunUntil(io, [&] { return !ours.List().whole; }));
    EXPECT_EQ(ours.List().rooms, std::vector{mine});
    EXPECT_NE(said.str().find("redis at " + redis.Address().Text() + ": gone (a reply longer than 65536 bytes)"),
              std::string::npos)
        << said.str();
    redis.Command({"DEL", "kestrel:rooms:c"});
    redis.Command({"SREM", "kestrel:servers", "c"});
    ASSERT_TRUE(RunUntil(io, everyone)) << said.str();

    // Many short names, each under the bound, too many together.
    std::vector<std::string> names{"SADD", "kestrel:servers"};
    for (std::size_t i = 0; i < BOUND / 16; ++i) names.push_back("s" + std::to_string(i));
    redis.Command(names);
    ASSERT_TRUE(RunUntil(io, [&] { return !ours.List().whole; }));
    EXPECT_EQ(ours.List().rooms, std::vector{mine});
    redis.Command({"DEL", "kestrel:servers"});
    EXPECT_TRUE(RunUntil(io, everyone)) << said.str();
}

}  // namespace
}  // namespace kestrel
