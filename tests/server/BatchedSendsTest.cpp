// Screens' writes sent together: many sockets' writes in one system call,
// each whole and in order; a socket that cannot take its write at once
// gets it later through the event loop, one closed before its batch goes
// gets nothing (its number may be another connection's by then), one
// that takes a write in part gets the rest after it, and
// writes still queued when the server's context goes let their sockets go;
// and a thread behind sends each beat's frames before it ticks the next.
// Where the kernel offers no io_uring the ring's cases are skipped.

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <chrono>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <boost/asio/post.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include "server/base/Counts.h"
#include "server/net/BatchedSocket.cpp"  // the server compiles it with its network side
#include "server/rooms/TickDriver.h"

namespace kestrel {
namespace {

std::unique_ptr<SendRing> OpenRing() {
    std::string why;
    return SendRing::Open(why);
}

struct Pair {
    Pair() { ::socketpair(AF_UNIX, SOCK_STREAM, 0, ends); }
    ~Pair() { ::close(ends[0]), ::close(ends[1]); }
    std::string Received() const {
        char chunk[4096];
        const ssize_t got = ::recv(ends[1], chunk, sizeof chunk, MSG_DONTWAIT);
        return got > 0 ? std::string(chunk, std::size_t(got)) : "";
    }
    int ends[2];
};

iovec Buffer(const std::string& text) { return {const_cast<char*>(text.data()), text.size()}; }

TEST(SendRing, ManySocketsWritesGoWholeInOneSystemCallARingFull) {
    const auto ring = OpenRing();
    if (!ring) GTEST_SKIP() << "no io_uring here";
    constexpr int SOCKETS = 300;  // more than one ring holds
    std::vector<Pair> pairs(SOCKETS);
    const std::string head = "\x81\x07";
    std::vector<std::string> bodies;
    std::vector<std::array<iovec, 2>> buffers;
    for (int n = 0; n < SOCKETS; ++n) bodies.push_back("tick " + std::to_string(n));
    for (int n = 0; n < SOCKETS; ++n) buffers.push_back({Buffer(head), Buffer(bodies[std::size_t(n)])});
    std::vector<RingWrite> writes;
    for (int n = 0; n < SOCKETS; ++n) writes.push_back({pairs[std::size_t(n)].ends[0], buffers[std::size_t(n)]});

    ring->Send(writes);

    EXPECT_EQ(ring->SystemCalls(), 2u);
    for (int n = 0; n < SOCKETS; ++n) {
        EXPECT_EQ(writes[std::size_t(n)].result, int(head.size() + bodies[std::size_t(n)].size()));
        EXPECT_EQ(pairs[std::size_t(n)].Received(), head + bodies[std::size_t(n)]);
    }
}

TEST(SendRing, AFullOrClosedSocketComesBackAtOnceBesideOneThatTakesItsWrite) {
    const auto ring = OpenRing();
    if (!ring) GTEST_SKIP() << "no io_uring here";
    Pair full, gone, fine;
    const std::string block(1 << 16, 'x');
    while (::send(full.ends[0], block.data(), block.size(), MSG_DONTWAIT) > 0) {
    }
    ::close(gone.ends[1]), gone.ends[1] = -1;
    const std::string frame = "tick";
    const iovec buffer = Buffer(frame);
    std::vector<RingWrite> writes = {
        {full.ends[0], {&buffer, 1}}, {gone.ends[0], {&buffer, 1}}, {fine.ends[0], {&buffer, 1}}};

    ring->Send(writes);  // a write that waited would hold the test here

    EXPECT_EQ(writes[0].result, -EAGAIN);
    EXPECT_EQ(writes[1].result, -EPIPE);  // and no SIGPIPE, which would end the test
    EXPECT_EQ(writes[2].result, int(frame.size()));
    EXPECT_TRUE(ring->Working());
}

// Two screens' sockets on the loopback, batched, and their browsers' ends.
struct BatchedSockets : testing::Test {
    void SetUp() override {
        if (!rings) GTEST_SKIP() << "no io_uring here";
        net::basic_socket_acceptor<tcp, net::io_context::executor_type> acceptor(
            io, {net::ip::make_address("127.0.0.1"), 0});
        for (auto& browser : browsers) {
            browser.connect(acceptor.local_endpoint());
            sockets.push_back(std::make_unique<BatchedSocket>(batch, acceptor.accept()));
        }
    }
    net::io_context io;
    std::unique_ptr<SendRing> ring = OpenRing();
    SendRing* rings = ring.get();
    SendBatch& batch = SendBatch::Add(io, std::move(ring), Log(std::clog));
    std::vector<std::unique_ptr<BatchedSocket>> sockets;
    std::array<tcp::socket, 2> browsers{tcp::socket(io), tcp::socket(io)};
};

TEST_F(BatchedSockets, OneHandlersWritesGoTogetherAndAFullSocketCatchesUpInOrder) {
    std::string big(8 << 20, 0);
    for (std::size_t n = 0; n < big.size(); ++n) big[n] = char(n % 251);
    const std::string small = "tick 1\n";
    std::size_t wroteSmall = 0, wroteBig = 0;
    net::post(io, [&] {
        net::async_write(*sockets[0], net::buffer(small), [&](beast::error_code ec, std::size_t n) {
            ASSERT_FALSE(ec);
            wroteSmall = n;
        });
        net::async_write(*sockets[1], net::buffer(big), [&](beast::error_code ec, std::size_t n) {
            ASSERT_FALSE(ec);
            wroteBig = n;
        });
    });
    io.poll_one();  // the handler that writes
    io.poll_one();  // and its batch
    // Both went in the batch's one call; the big one only in part, as its
    // browser has read nothing yet.
    EXPECT_EQ(batch.Submissions(), 1u);
    EXPECT_EQ(wroteSmall, small.size());
    EXPECT_EQ(wroteBig, 0u);

    std::string read(big.size(), 0);
    net::async_read(browsers[1], net::buffer(read), [](beast::error_code ec, std::size_t) { ASSERT_FALSE(ec); });
    io.run();
    EXPECT_EQ(wroteBig, big.size());
    EXPECT_TRUE(read == big);
    std::string first(small.size(), 0);
    net::read(browsers[0], net::buffer(first));
    EXPECT_EQ(first, small);
}

// A write the socket takes only in part, through the ring (a Unix socket
// with a small send buffer takes a few KiB of each): the rest goes after
// it, and the frame arrives whole.
TEST_F(BatchedSockets, AWriteTakenInPartGoesOnFromWhereItStopped) {
    int ends[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, ends), 0);
    const int small = 4096;
    ::setsockopt(ends[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    BatchedSocket sender(batch, ScreenSocketBase(io.get_executor(), tcp::v4(), ends[0]));
    ScreenSocketBase browser(io.get_executor(), tcp::v4(), ends[1]);
    std::string frame(1 << 20, 0);
    for (std::size_t n = 0; n < frame.size(); ++n) frame[n] = char(n % 251);
    std::string read(frame.size(), 0);
    std::size_t got = 0;
    net::async_write(sender, net::buffer(frame), [&](beast::error_code ec, std::size_t) {
        EXPECT_FALSE(ec);
        sender.close();  // so that a frame cut short ends the read, rather than never
    });
    net::async_read(browser, net::buffer(read), [&](beast::error_code, std::size_t n) { got = n; });
    io.run();
    EXPECT_GT(batch.Submissions(), 1u);
    EXPECT_EQ(got, frame.size());
    EXPECT_TRUE(read == frame);
}

TEST_F(BatchedSockets, ASocketClosedOrGoneBeforeItsBatchGoesIsNotWrittenTo) {
    Pair other;  // another connection, given the closed socket's number
    beast::error_code closedEnded, goneEnded;
    net::post(io, [&] {
        const auto write = [](BatchedSocket& socket, beast::error_code& ended) {
            net::async_write(socket, net::buffer(std::string_view("tick 1\n")),
                             [&ended](beast::error_code ec, std::size_t) { ended = ec; });
        };
        const int number = sockets[0]->native_handle();
        write(*sockets[0], closedEnded);
        sockets[0]->close();
        ::dup2(other.ends[0], number);
        // A socket whose write's handler does not keep it (a ping's) may go.
        write(*sockets[1], goneEnded);
        sockets[1].reset();
    });
    io.run();
    EXPECT_EQ(closedEnded, net::error::operation_aborted);
    EXPECT_EQ(goneEnded, net::error::operation_aborted);
    EXPECT_EQ(other.Received(), "");
}

// A room whose tick takes a millisecond and writes its frame, noting how
// many batches had gone.
struct WritingRoom : Ticking {
    WritingRoom(BatchedSocket& socket, SendBatch& batch, std::vector<std::uint64_t>& batchesAtTicks)
        : socket(socket), batch(batch), batchesAtTicks(batchesAtTicks) {}
    bool Tick() override {
        std::this_thread::sleep_for(TAKES);
        batchesAtTicks.push_back(batch.Submissions());
        net::async_write(socket, net::buffer(std::string_view("tick 1\n")), [](beast::error_code, std::size_t) {});
        return true;
    }
    static constexpr auto TAKES = std::chrono::milliseconds(1);
    BatchedSocket& socket;
    SendBatch& batch;
    std::vector<std::uint64_t>& batchesAtTicks;
};

TEST_F(BatchedSockets, AThreadBehindSendsEachBeatsFramesBeforeItTicksTheNext) {
    if (!rings) GTEST_SKIP() << "no io_uring here";
    ServerCounts counts;
    TickDriver clock(io, counts);
    std::vector<std::uint64_t> batchesAtTicks;
    const auto first = std::make_shared<WritingRoom>(*sockets[0], batch, batchesAtTicks);
    const auto second = std::make_shared<WritingRoom>(*sockets[1], batch, batchesAtTicks);
    clock.Add(first), clock.Add(second);  // on two beats of the grid
    // The thread is stopped past both rooms' first ticks (each due within two).
    std::this_thread::sleep_for(2 * std::chrono::milliseconds(TICK_MS) + std::chrono::milliseconds(5));
    while (batchesAtTicks.size() < 2) io.run_one();
    EXPECT_EQ(batchesAtTicks, (std::vector<std::uint64_t>{0, 1})) << "the first beat's frame went before the second ticked";
    EXPECT_EQ(counts.Snapshot().ticks, 2u);
    EXPECT_GE(counts.Snapshot().ticking, 2 * WritingRoom::TAKES) << "both beats' time is counted";
}

// A write still queued when its io_context goes: its handler, and the
// socket that handler keeps, go as the context shuts down, while the
// sockets' service is still there to close it (the sanitizers' build
// reports a socket closed on a service already gone).
TEST(SendBatch, WritesQueuedWhenTheContextGoesReleaseTheirSockets) {
    auto io = std::make_unique<net::io_context>();
    std::unique_ptr<SendRing> ring = OpenRing();
    if (!ring) GTEST_SKIP() << "no io_uring here";
    SendBatch& batch = SendBatch::Add(*io, std::move(ring), Log(std::clog));
    std::weak_ptr<BatchedSocket> kept;
    {
        net::basic_socket_acceptor<tcp, net::io_context::executor_type> acceptor(
            *io, {net::ip::make_address("127.0.0.1"), 0});
        tcp::socket browser(*io);
        browser.connect(acceptor.local_endpoint());
        auto socket = std::make_shared<BatchedSocket>(batch, acceptor.accept());
        kept = socket;
        net::async_write(*socket, net::buffer(std::string_view("tick 1\n")), [socket](beast::error_code, std::size_t) {});
    }
    ASSERT_FALSE(kept.expired());  // its write waits for a batch that never goes
    io.reset();
    EXPECT_TRUE(kept.expired());
}

}  // namespace
}  // namespace kestrel
