// What the live rooms' frames cost a core by themselves: the floor under
// kestrel-server's figures in bench/live-rooms. One thread on core 0
// writes a frame of FRAME_BYTES to every watcher's loopback socket once a
// tick, the rooms spread over the tick's 25 one-millisecond beats as the
// server spreads them, each socket with TCP_NODELAY; one thread on core 1
// reads them the way kestrel-live-load does, looking every 200 us. No game,
// no WebSocket library, no event loop: a bare `send` a frame, or with
// `batched` a beat's frames in one system call, as the server sends them
// (SendRing). It prints the writing thread's share of its core, which on
// the loopback includes the kernel's delivery into the reader's sockets,
// as the server's does.
//
//   kestrel-send-floor ROOMS WATCHERS SECONDS [batched]

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <sched.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "server/net/SendRing.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto TICK = std::chrono::milliseconds(25);
constexpr int BEATS = 25;
// A quiet tick's frame as a watcher receives it: two bytes of WebSocket
// header and the tick's line (bench/live-rooms: 280 to 330 bytes a second
// at 40 frames a second).
constexpr std::size_t FRAME_BYTES = 9;
constexpr auto POLL_PERIOD = std::chrono::microseconds(200);
constexpr auto SETTLE = std::chrono::seconds(2);
constexpr int SENDER_CORE = 0, READER_CORE = 1;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "kestrel-send-floor: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

void PinTo(int core) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core, &set);
    if (::pthread_setaffinity_np(::pthread_self(), sizeof set, &set) != 0) Fail("could not pin a thread");
}

// A connected pair on the loopback: the sender's end and the reader's.
struct Pair {
    int sending, reading;
};

std::vector<Pair> Connect(int count) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        ::listen(listener, SOMAXCONN) != 0 || ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0)
        Fail("could not listen");
    std::vector<Pair> pairs;
    for (int n = 0; n < count; ++n) {
        const int reading = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        if (reading < 0) Fail("no socket left");
        if (::connect(reading, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS)
            Fail("could not connect");
        const int sending = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK);
        if (sending < 0) Fail("could not accept");
        const int on = 1;
        ::setsockopt(sending, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        pairs.push_back({sending, reading});
    }
    ::close(listener);
    return pairs;
}

double ThreadCpuSeconds() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Every room's watchers get a frame a tick, on the room's beat, until
// `end`; returns the share of its core the writing took from `counted` on.
// A beat's frames, each in a call of its own or all in one.
void SendBeat(const std::vector<int>& sockets, std::span<const char> frame, kestrel::SendRing* ring) {
    if (!ring) {
        for (const int socket : sockets)
            if (::send(socket, frame.data(), frame.size(), MSG_NOSIGNAL) != ssize_t(frame.size()))
                Fail("a frame did not go out whole");
        return;
    }
    const iovec buffer{const_cast<char*>(frame.data()), frame.size()};
    std::vector<kestrel::RingWrite> writes;
    for (const int socket : sockets) writes.push_back({socket, {&buffer, 1}});
    ring->Send(writes);
    for (const kestrel::RingWrite& write : writes)
        if (write.result != int(frame.size())) Fail("a frame did not go out whole");
}

double Send(const std::vector<Pair>& pairs, int watchersEach, kestrel::SendRing* ring, Clock::time_point counted,
            Clock::time_point end) {
    PinTo(SENDER_CORE);
    const std::array<char, FRAME_BYTES> frame{char(0x81), char(FRAME_BYTES - 2), 't', 'i', 'c', 'k', ' ', '1', '\n'};
    const std::size_t rooms = pairs.size() / std::size_t(watchersEach);
    double cpuAtCount = -1;
    auto beatTime = Clock::now();
    for (int beat = 0; beatTime < end; beat = (beat + 1) % BEATS) {
        if (cpuAtCount < 0 && beatTime >= counted) cpuAtCount = ThreadCpuSeconds();
        std::vector<int> sockets;
        for (std::size_t room = std::size_t(beat); room < rooms; room += BEATS)
            for (int w = 0; w < watchersEach; ++w)
                sockets.push_back(pairs[room * std::size_t(watchersEach) + std::size_t(w)].sending);
        SendBeat(sockets, frame, ring);
        beatTime += TICK / BEATS;
        std::this_thread::sleep_until(beatTime);
    }
    const double seconds = std::chrono::duration<double>(end - counted).count();
    return (ThreadCpuSeconds() - cpuAtCount) / seconds;
}

void Read(const std::vector<Pair>& pairs, const std::atomic<bool>& done) {
    PinTo(READER_CORE);
    const int poll = ::epoll_create1(0);
    for (const Pair& pair : pairs) {
        epoll_event event{.events = EPOLLIN, .data = {.fd = pair.reading}};
        ::epoll_ctl(poll, EPOLL_CTL_ADD, pair.reading, &event);
    }
    std::array<epoll_event, 256> ready;
    char chunk[1 << 16];
    while (!done) {
        const int n = ::epoll_wait(poll, ready.data(), int(ready.size()), 0);
        for (int i = 0; i < n; ++i)
            while (::read(ready[std::size_t(i)].data.fd, chunk, sizeof chunk) > 0) {
            }
        if (n == 0) std::this_thread::sleep_for(POLL_PERIOD);
    }
    ::close(poll);
}

}  // namespace

int main(int argc, char** argv) {
    const bool batched = argc == 5 && std::string_view(argv[4]) == "batched";
    if (argc != 4 && !batched) {
        std::fprintf(stderr, "usage: kestrel-send-floor ROOMS WATCHERS SECONDS [batched]\n");
        return 2;
    }
    std::string why;
    const std::unique_ptr<kestrel::SendRing> ring = batched ? kestrel::SendRing::Open(why) : nullptr;
    if (batched && !ring) {
        std::fprintf(stderr, "kestrel-send-floor: no io_uring here: %s\n", why.c_str());
        return 1;
    }
    const int rooms = std::atoi(argv[1]), watchersEach = std::atoi(argv[2]);
    const double seconds = std::atof(argv[3]);
    if (rooms < 1 || watchersEach < 1 || !(seconds > 0)) {
        std::fprintf(stderr, "kestrel-send-floor: ROOMS and WATCHERS are counts, SECONDS a time\n");
        return 2;
    }
    const std::vector<Pair> pairs = Connect(rooms * watchersEach);
    std::atomic<bool> done = false;
    std::thread reader([&] { Read(pairs, done); });
    const auto counted = Clock::now() + SETTLE;
    const auto end = counted + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    const double share = Send(pairs, watchersEach, ring.get(), counted, end);
    done = true;
    reader.join();
    std::printf("rooms %d watchers %zu frames/s %.0f%s sender %.1f%% of a core\n", rooms, pairs.size(),
                double(pairs.size()) / std::chrono::duration<double>(TICK).count(), batched ? " batched" : "",
                100 * share);
    for (const Pair& pair : pairs) ::close(pair.sending), ::close(pair.reading);
}
