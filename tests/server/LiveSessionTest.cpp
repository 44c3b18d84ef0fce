// A screen's session over real sockets on the loopback: its queue of frames
// is bounded, so a screen whose socket has stopped taking frames is dropped
// once MAX_QUEUED_FRAMES wait for it, or once its socket has taken no frame
// for SCREEN_WRITE_LIMIT, whichever comes first; a screen beside it that
// reads gets every frame, that one's leaving too.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "server/LiveUnit.cpp"  // the live side, compiled as the server compiles it

namespace kestrel {
namespace {

using namespace std::chrono_literals;

// What a watcher is sent as it joins: the joined, scores, people and
// roster notices, and the join text.
constexpr std::size_t JOIN_FRAMES = 5;
// A socket buffer that a few frames fill, and a frame of some kilobytes (a
// busy tick's): the stalled screen's kernel holds a handful of them at most.
constexpr int SMALL_RECEIVE_BUFFER = 4096;
constexpr std::size_t FRAME_BYTES = 4096;

// A browser's end of a screen's socket: it reads frames as they come, up to
// a number of them or all, and keeps the last.
struct Browser {
    explicit Browser(net::io_context& io) : ws(io) {}
    void Read(std::optional<std::size_t> upTo = std::nullopt) {
        if (upTo && frames >= *upTo) return;
        ws.async_read(buffer, [this, upTo](beast::error_code ec, std::size_t) {
            if (ec) {
                ended = ec;
                return;
            }
            ++frames;
            last = beast::buffers_to_string(buffer.data());
            buffer.clear();
            Read(upTo);
        });
    }
    websocket::stream<tcp::socket> ws;
    beast::flat_buffer buffer;
    std::size_t frames = 0;
    std::string last;
    beast::error_code ended;
};

// A room not ticked by the clock: the test broadcasts its frames. The
// state and its io_context go down as the server's do.
class LiveSessions : public testing::Test {
protected:
    LiveSessions() {
        ServerSetting setting;
        setting.data = std::filesystem::temp_directory_path();  // nothing goes there: the room is not the registry's
        state_.emplace(*io_, std::move(setting), Log(log_));
        room_ = std::make_shared<LiveRoom>(
            state_->Rooms(), "room", "key",
            std::make_unique<Room>(GameRandom(7), RoomStart{}, std::make_unique<MemoryRecordingSink>()));
    }
    ~LiveSessions() override {
        state_->Stop();
        io_.reset();
    }

    // The browser connects, with a small receive buffer when `small`, and
    // the server's end reads its upgrade and hands it to a session.
    void Join(Browser& browser, bool small) {
        tcp::acceptor acceptor(*io_, {net::ip::make_address("127.0.0.1"), 0});
        tcp::socket& socket = browser.ws.next_layer();
        socket.open(tcp::v4());
        if (small) socket.set_option(net::socket_base::receive_buffer_size(SMALL_RECEIVE_BUFFER));
        socket.connect(acceptor.local_endpoint());
        auto stream = std::make_shared<beast::tcp_stream>(acceptor.accept());
        auto upgrade = std::make_shared<Request>();
        auto read = std::make_shared<beast::flat_buffer>();
        http::async_read(*stream, *read, *upgrade, [this, stream, upgrade, read](beast::error_code ec, std::size_t) {
            ASSERT_FALSE(ec) << ec.message();
            std::optional<Ticket> address = state_->Addresses().Take("127.0.0.1");
            std::optional<Ticket> seat = room_->TakePlace();
            ASSERT_TRUE(address && seat);
            std::make_shared<LiveSession>(*state_, std::move(*stream), room_, false, "", std::move(*address),
                                          std::move(*seat))
                ->Start(std::move(*upgrade));
        });
        bool shaken = false;
        browser.ws.async_handshake("127.0.0.1", "/rooms/room/socket", [&shaken](beast::error_code ec) {
            ASSERT_FALSE(ec) << ec.message();
            shaken = true;
        });
        RunUntil([&] { return shaken; }, "the handshake");
    }

    // Runs the handlers until `done`, for half a minute at most.
    template <class Done>
    void RunUntil(Done done, const std::string& what) {
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!done() && std::chrono::steady_clock::now() < deadline) io_->run_one_until(deadline);
        ASSERT_TRUE(done()) << "waited for " << what << "\n" << log_.str();
    }
    std::uint64_t Dropped() { return state_->Counts().Snapshot().dropped; }
    // The reading screen joins and reads on; the stalled one reads its join
    // and then nothing, and its socket's buffers are small by then.
    void JoinBoth(Browser& reading, Browser& stalled) {
        ASSERT_NO_FATAL_FAILURE(Join(reading, false));
        reading.Read();
        ASSERT_NO_FATAL_FAILURE(RunUntil([&] { return reading.frames == JOIN_FRAMES; }, "the reading screen's join"));
        ASSERT_NO_FATAL_FAILURE(Join(stalled, true));
        stalled.Read(JOIN_FRAMES);
        ASSERT_NO_FATAL_FAILURE(RunUntil(
            [&] { return stalled.frames == JOIN_FRAMES && reading.frames == JOIN_FRAMES + 1; },
            "the stalled screen's join"));
        io_->poll();  // its join text's write has ended: its send buffer is small now
        ASSERT_EQ(room_->Screens(), 2u);
    }

    std::ostringstream log_;
    std::optional<ServerState> state_;
    std::shared_ptr<LiveRoom> room_;
    // Last, so that it goes first: its handlers hold sessions that refer to the state.
    std::unique_ptr<net::io_context> io_ = std::make_unique<net::io_context>(1);
};

// The stalled screen read its join and then nothing: its socket takes a few
// frames, its queue the next MAX_QUEUED_FRAMES, and the one after drops it.
// A frame at a time, the reading screen reads each before the next comes.
TEST_F(LiveSessions, AScreenWhoseSocketTakesNoMoreIsDroppedOnceItsQueueIsFull) {
    Browser reading(*io_), stalled(*io_);
    ASSERT_NO_FATAL_FAILURE(JoinBoth(reading, stalled));

    const Frame frame = std::make_shared<const std::string>(std::string(FRAME_BYTES, 'x'));
    std::size_t sent = 0, droppedAt = 0;
    const auto broadcast = [&] {
        room_->Broadcast(frame);
        ++sent;
        if (droppedAt == 0 && Dropped() > 0) droppedAt = sent;
        // Its leaving tells the reading screen the count of people.
        const std::size_t due = JOIN_FRAMES + 1 + sent + (droppedAt ? 1 : 0);
        RunUntil([&] { return reading.frames == due; }, "frame " + std::to_string(sent) + " on the reading screen");
    };
    while (droppedAt == 0 && sent < 3 * MAX_QUEUED_FRAMES && !HasFatalFailure()) broadcast();
    ASSERT_FALSE(HasFatalFailure());

    ASSERT_NE(droppedAt, 0u) << "the stalled screen was never dropped\n" << log_.str();
    EXPECT_GT(droppedAt, MAX_QUEUED_FRAMES) << "not before its queue is full";
    EXPECT_EQ(Dropped(), 1u);
    EXPECT_NE(log_.str().find("room room: dropped a screen: it fell " + std::to_string(MAX_QUEUED_FRAMES) +
                              " frames behind"),
              std::string::npos)
        << log_.str();
    EXPECT_EQ(reading.last, WriteNotice({NoticeKind::People, 1}));
    ASSERT_NO_FATAL_FAILURE(RunUntil([&] { return room_->Screens() == 1; }, "the dropped screen's seat"));
    for (int more = 0; more < 4 && !HasFatalFailure(); ++more) broadcast();
    EXPECT_EQ(reading.last, *frame);
    EXPECT_FALSE(reading.ended) << reading.ended.message();
}

// Frames at a tick's pace, and a hash from the stalled screen every few
// ticks, so that it is never idle: the queue would take more frames than
// the seconds send, and the idle rule does not see it. Its socket's
// silence drops it, for that reason.
TEST_F(LiveSessions, AScreenThatSendsButTakesNoFrameForSecondsIsDropped) {
    Browser reading(*io_), stalled(*io_);
    ASSERT_NO_FATAL_FAILURE(JoinBoth(reading, stalled));
    const Frame frame = std::make_shared<const std::string>(std::string(FRAME_BYTES, 'x'));
    const std::string hash = HashLine(1, 0);  // a tick the room keeps no hash of: never a mismatch
    bool hashing = false;
    const auto began = std::chrono::steady_clock::now();
    std::size_t sent = 0;
    while (Dropped() == 0 && sent < MAX_QUEUED_FRAMES && std::chrono::steady_clock::now() - began < 30s) {
        room_->Broadcast(frame);
        if (++sent % 10 == 0 && !hashing) {
            hashing = true;
            stalled.ws.text(true);
            stalled.ws.async_write(net::buffer(hash), [&hashing](beast::error_code, std::size_t) { hashing = false; });
        }
        io_->run_for(std::chrono::milliseconds(TICK_MS));
    }
    EXPECT_EQ(Dropped(), 1u) << log_.str();
    EXPECT_LT(sent, MAX_QUEUED_FRAMES) << "dropped for its queue, not its silence";
    EXPECT_NE(log_.str().find("room room: dropped a screen: its socket took no frame for " +
                              std::to_string(SCREEN_WRITE_LIMIT.count()) + " s"),
              std::string::npos)
        << log_.str();
    EXPECT_FALSE(reading.ended) << reading.ended.message();
    EXPECT_EQ(log_.str().find("closed a screen"), std::string::npos) << "its hashes were taken";
}

}  // namespace
}  // namespace kestrel
