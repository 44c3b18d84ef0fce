// The rooms without a network: the registry, its live rooms and their
// builder, with a host whose clock the test moves, screens that keep what
// they are sent, and the builder's rooms handed back through an io_context
// the test runs.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/io_context.hpp>

#include "server/disk/RoomFiles.h"
#include "server/rooms/LiveRoom.h"
#include "server/rooms/RoomRegistry.h"

namespace kestrel {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string START_RECORDING = "version 1\nseed 46\nsize 400 300\ntick 500\n";

// The server around the rooms: a log kept as text, a clock that moves
// when told, and the rooms it was asked to tick, ticked when told.
class TestServer : public RoomsHost {
public:
    const Log& ServerLog() const override { return log_; }
    const ServerLimits& Limits() const override { return limits; }
    ServerTime Now() const override { return now; }
    void StartTicking(std::weak_ptr<Ticking> room) override { ticking_.push_back(std::move(room)); }
    bool Stopping() const override { return false; }

    void TickAll() {
        for (const std::weak_ptr<Ticking>& room : ticking_)
            if (const std::shared_ptr<Ticking> held = room.lock()) held->Tick();
    }
    std::string Logged() const { return logged_.str(); }

    ServerLimits limits;
    ServerTime now = ServerTime{} + 1h;

private:
    std::ostringstream logged_;
    Log log_{logged_};
    std::vector<std::weak_ptr<Ticking>> ticking_;
};

class TestScreen : public ScreenLink {
public:
    void Send(Frame frame) override { frames.push_back(*frame); }
    std::vector<std::string> frames;
};

class Rooms : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() / ("kestrel-rooms-" + std::to_string(::getpid()) + "-" +
                                               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(folder_);
    }
    void TearDown() override {
        registry_.reset();
        fs::remove_all(folder_);
    }
    RoomRegistry& Registry() {
        if (!registry_) registry_ = std::make_unique<RoomRegistry>(server_, io_, "", folder_);
        return *registry_;
    }
    // What Create answers, once the builder has handed it back.
    Outcome<NewRoom> Create(bool fromRecording, const std::string& address = "192.0.2.1") {
        std::optional<Outcome<NewRoom>> made;
        Order(fromRecording, address, [&](Outcome<NewRoom> answer) { made = std::move(answer); });
        RunUntil([&] { return made.has_value(); });
        return *made;
    }
    void Order(bool fromRecording, const std::string& address, RoomRegistry::Created answer) {
        Registry().Create({.address = address, .recording = fromRecording,
                           .body = fromRecording ? START_RECORDING : ""},
                          server_.now, std::move(answer));
    }
    // Runs the handlers the builder posts back, for a minute at most.
    template <class Done>
    void RunUntil(Done done) {
        io_.restart();  // it stops whenever it runs out of work
        const auto working = boost::asio::make_work_guard(io_);
        for (int i = 0; i < 6000 && !done(); ++i) io_.run_for(10ms);
        ASSERT_TRUE(done()) << "the builder handed nothing back";
    }
    std::shared_ptr<LiveRoom> Playing(const std::string& id) {
        RoomRegistry::Found found = Registry().Find(id);
        EXPECT_TRUE(std::holds_alternative<std::shared_ptr<LiveRoom>>(found)) << id;
        return std::holds_alternative<std::shared_ptr<LiveRoom>>(found) ? std::get<std::shared_ptr<LiveRoom>>(found)
                                                                         : nullptr;
    }

    TestServer server_;
    boost::asio::io_context io_;
    fs::path folder_;
    std::unique_ptr<RoomRegistry> registry_;
};

Refused KindOf(const Outcome<NewRoom>& made) {
    return std::holds_alternative<Refusal>(made) ? std::get<Refusal>(made).kind : Refused::BadRequest;
}

// A room on its way counts against the room limit and the address's quota
// from its order on, not only once it is built.
TEST_F(Rooms, ARoomOnItsWayCountsFromItsOrder) {
    server_.limits.rooms = 2;
    server_.limits.roomCreationsPerMinute = 1;
    std::optional<Outcome<NewRoom>> first;
    Order(true, "192.0.2.1", [&](Outcome<NewRoom> answer) { first = std::move(answer); });
    EXPECT_EQ(KindOf(Create(false, "192.0.2.1")), Refused::TooManyRooms) << "the quota, while it is built";
    ASSERT_TRUE(std::holds_alternative<NewRoom>(Create(false, "192.0.2.2")));
    EXPECT_EQ(KindOf(Create(false, "192.0.2.3")), Refused::ServerFull) << "the room limit, while it is built";
    RunUntil([&] { return first.has_value(); });
    EXPECT_TRUE(std::holds_alternative<NewRoom>(*first));
    EXPECT_EQ(KindOf(Create(false, "192.0.2.3")), Refused::ServerFull);
}

// A room ends once empty for ROOM_IDLE_LIMIT on end, never while a screen
// holds its seat (even one still shaking hands); its record says it ended,
// and a join is told so.
TEST_F(Rooms, ARoomLeftEmptyEndsAndIsKeptAsEnded) {
    const Outcome<NewRoom> made = Create(false);
    ASSERT_TRUE(std::holds_alternative<NewRoom>(made));
    const std::string id = std::get<NewRoom>(made).id;
    std::shared_ptr<LiveRoom> room = Playing(id);
    std::optional<Ticket> seat = room->TakePlace();
    server_.TickAll();
    server_.now += ROOM_IDLE_LIMIT + 1s;
    server_.TickAll();
    ASSERT_NE(Playing(id), nullptr) << "a screen is on its way in";
    const ClientId client = room->Join(std::make_shared<TestScreen>(), true);
    room->Leave(client);
    seat.reset();
    server_.TickAll();
    server_.now += ROOM_IDLE_LIMIT;
    server_.TickAll();
    ASSERT_NE(Playing(id), nullptr) << "not before the limit has passed";
    server_.now += 1s;
    server_.TickAll();
    const RoomRegistry::Found gone = Registry().Find(id);
    ASSERT_TRUE(std::holds_alternative<Refusal>(gone));
    EXPECT_EQ(std::get<Refusal>(gone).kind, Refused::RoomEnded);
    const Result<RoomRecord> record = ReadRoomRecord(folder_, id);
    ASSERT_TRUE(record) << record.Why();
    EXPECT_TRUE(record->ended);
    EXPECT_NE(server_.Logged().find("room " + id + ": ended after"), std::string::npos) << server_.Logged();
}

// Screens that ask for a kept room while it comes back wait, and are
// served in the order they came once it is back.
TEST_F(Rooms, ScreensWaitingForARoomComingBackAreServedInTurn) {
    const Outcome<NewRoom> made = Create(true);
    ASSERT_TRUE(std::holds_alternative<NewRoom>(made));
    const std::string id = std::get<NewRoom>(made).id;
    Registry().StopAll();
    registry_.reset();

    Registry().Resume();
    EXPECT_EQ(std::get<Refusal>(Registry().Find(id)).kind, Refused::ComingBack);
    std::vector<int> served;
    for (int screen : {1, 2, 3})
        Registry().Reach(id, [&served, screen](RoomRegistry::Found found) {
            if (std::holds_alternative<std::shared_ptr<LiveRoom>>(found)) served.push_back(screen);
        });
    RunUntil([&] { return served.size() == 3; });
    EXPECT_EQ(served, (std::vector<int>{1, 2, 3}));
    EXPECT_NE(server_.Logged().find("room " + id + ": resumed at tick 500"), std::string::npos) << server_.Logged();
}

// A sink that answers what the test tells it.
class SwitchedSink : public RecordingSink {
public:
    explicit SwitchedSink(const SinkState& state) : state_(state) {}
    SinkState Append(std::string_view) override { return state_; }
    std::optional<std::string> Written(std::size_t) const override { return std::string(); }

private:
    const SinkState& state_;
};

// The room's recording says once when its sink starts holding back, once
// when it is whole again, and at the end what it could not keep.
TEST_F(Rooms, ARecordingsTroublesAreLoggedOnceEach) {
    SinkState sink = SinkState::Whole;
    auto room = std::make_shared<LiveRoom>(
        Registry(), "r", "k", std::make_unique<Room>(GameRandom(7), RoomStart{}, std::make_unique<SwitchedSink>(sink)));
    room->Start();
    const auto second = [&] {
        for (std::uint32_t i = 0; i < LIVE_TICKS_PER_SECOND; ++i) room->Tick();
    };
    const auto count = [&](const std::string& text) {
        std::size_t n = 0;
        for (std::size_t at = server_.Logged().find(text); at != std::string::npos;
             at = server_.Logged().find(text, at + 1))
            ++n;
        return n;
    };
    sink = SinkState::HeldBack;
    second();
    second();
    EXPECT_EQ(count("its recording cannot be written after tick"), 1u) << server_.Logged();
    EXPECT_FALSE(room->RecordingWhole());
    sink = SinkState::Whole;
    second();
    second();
    EXPECT_EQ(count("its recording is written again, whole"), 1u) << server_.Logged();
    EXPECT_TRUE(room->RecordingWhole());
    sink = SinkState::HeldBack;
    second();
    room->Flush();
    EXPECT_EQ(count("its recording is kept up to tick"), 1u) << "what is held back goes with the room";
}

}  // namespace
}  // namespace kestrel
