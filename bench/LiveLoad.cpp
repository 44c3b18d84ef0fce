// A load on kestrel-server from the loopback: it makes rooms, each
// started from the benchmark's busy battle, whose tanks never fall, keeps
// watchers on every room, and reports what they receive: frames and bytes
// a second per watcher, and how late each tick's frame comes against a
// steady 25 ms beat (the 99th percentile and the worst), and the share of
// a core the load itself took meanwhile. One thread, like the server.
// Lateness is taken twice: as sent, from the time the kernel stamped on
// the frame's arrival at the watcher's socket, which is the server's own
// doing; and as read, when the load got to it, which adds the load's own
// delays and pauses.
// With `browsers`, each room is made and watched from a loopback address
// of its own (127.0.1.2, 127.0.1.3, ...), as browsers behind a balancer
// are: neither the balancer's limits per address nor the servers' then
// stand between the load and the rooms.
//
//   kestrel-live-load PORT ROOMS WATCHERS SECONDS [browsers]

#include <cstdlib>
#include <utility>  // Boost 1.74's asio uses std::exchange without it

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "bench/BusyBattle.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

constexpr double TICK_MS = 25;
constexpr auto LOOPBACK = "127.0.0.1";
constexpr int ADDRESSES_A_BLOCK = 250;

// The loopback address a room's browser uses: 127.0.0.1 for all, or one of
// its own for each room.
asio::ip::address_v4 BrowserAddress(bool ownAddress, int room) {
    if (!ownAddress) return asio::ip::make_address_v4(LOOPBACK);
    return asio::ip::address_v4((127u << 24) | unsigned(room / ADDRESSES_A_BLOCK + 1) << 8 |
                                unsigned(room % ADDRESSES_A_BLOCK + 2));
}

// A socket that will connect from `from`.
void OpenFrom(tcp::socket& socket, const asio::ip::address_v4& from) {
    socket.open(tcp::v4());
    socket.bind({from, 0});
}

// A room made from the recording; its id, read from the JSON answer.
std::string CreateRoom(asio::io_context& io, unsigned short port, const std::string& recording,
                       const asio::ip::address_v4& from) {
    tcp::socket socket(io);
    OpenFrom(socket, from);
    socket.connect({asio::ip::make_address(LOOPBACK), port});
    // Open to anyone, and so in the directory, when the bench asks for it.
    const char* publicRooms = std::getenv("KESTREL_LOAD_PUBLIC");
    const char* path = publicRooms && *publicRooms ? "/rooms/anyone?new=1" : "/rooms";
    http::request<http::string_body> request{http::verb::post, path, 11};
    request.set(http::field::host, std::string(LOOPBACK) + ":" + std::to_string(port));
    request.set(http::field::content_type, "text/plain");
    request.body() = recording;
    request.prepare_payload();
    http::write(socket, request);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(socket, buffer, response);
    const std::string& body = response.body();
    const std::size_t at = body.find("\"room\"");
    if (at == std::string::npos || response.result_int() >= 300) {
        std::fprintf(stderr, "kestrel-live-load: the server made no room: %s\n", body.c_str());
        std::exit(1);
    }
    const std::size_t start = body.find('"', body.find(':', at) + 1) + 1;
    return body.substr(start, body.find('"', start) - start);
}

// When a frame came: the kernel's stamp (the real-time clock) and when the
// load read it.
struct Arrival {
    std::chrono::nanoseconds stamped;
    Clock::time_point read;
};

// One watcher, on a plain socket: it shakes hands by hand and reads its
// frames with one read a wake, parsing them itself. A WebSocket library's
// read a frame cost the load more than the server's send, and the load,
// not the server, ran out first. It answers the server's pings, and notes
// when each tick's frame came.
class Watcher {
public:
    Watcher(unsigned short port, const asio::ip::address_v4& from, const std::string& path) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local{}, server{};
        local.sin_family = server.sin_family = AF_INET;
        local.sin_addr.s_addr = htonl(from.to_uint());
        server.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        server.sin_port = htons(port);
        const std::string upgrade = "GET " + path + " HTTP/1.1\r\nHost: " + LOOPBACK + ":" + std::to_string(port) +
                                    "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                    "Sec-WebSocket-Key: a2VzdHJlbC1saXZlLWxvYWQ=\r\nSec-WebSocket-Version: 13\r\n\r\n";
        const int stamp = 1;
        if (fd_ < 0 || ::bind(fd_, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 ||
            ::setsockopt(fd_, SOL_SOCKET, SO_TIMESTAMPNS, &stamp, sizeof stamp) != 0 ||
            ::connect(fd_, reinterpret_cast<sockaddr*>(&server), sizeof server) != 0 || !Send(upgrade))
            Fail("could not connect");
        ::fcntl(fd_, F_SETFL, O_NONBLOCK);
    }
    ~Watcher() { ::close(fd_); }
    Watcher(const Watcher&) = delete;
    Watcher& operator=(const Watcher&) = delete;

    int Fd() const { return fd_; }
    void Count() { counting_ = true, bytesBefore_ = bytes_; }
    bool Failed() const { return failed_; }
    std::uint64_t CountedBytes() const { return bytes_ - bytesBefore_; }
    const std::vector<Arrival>& TickTimes() const { return tickTimes_; }

    // The socket is readable: takes what came, and every whole frame in it.
    // A read's stamp is that of the last bytes it took, so a frame that came
    // before them is counted as late as they are, never earlier.
    void Read() {
        char chunk[1 << 16];
        iovec into{.iov_base = chunk, .iov_len = sizeof chunk};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        msghdr message{};
        message.msg_iov = &into, message.msg_iovlen = 1;
        message.msg_control = control, message.msg_controllen = sizeof control;
        const ssize_t got = ::recvmsg(fd_, &message, 0);
        if (got <= 0) {
            if (got < 0 && errno == EAGAIN) return;
            return Fail("the server closed the socket");
        }
        const Arrival now{.stamped = KernelStamp(message), .read = Clock::now()};
        pending_.append(chunk, std::size_t(got));
        if (!upgraded_ && !TakeAnswer()) return;
        while (TakeFrame(now)) {
        }
    }

private:
    // The kernel turns its stamps on a little after the first socket asks,
    // so the first bytes may come unstamped: they count as late as the
    // time they were read.
    static std::chrono::nanoseconds KernelStamp(msghdr& message) {
        for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
            timespec stamp;
            std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
            return std::chrono::seconds(stamp.tv_sec) + std::chrono::nanoseconds(stamp.tv_nsec);
        }
        return std::chrono::system_clock::now().time_since_epoch();
    }
    bool TakeAnswer() {
        const std::size_t end = pending_.find("\r\n\r\n");
        if (end == std::string::npos) return false;
        if (!pending_.starts_with("HTTP/1.1 101")) Fail("the server did not take the socket");
        pending_.erase(0, end + 4);
        return upgraded_ = true;
    }
    // One frame from the server (never masked): its opcode, length and body.
    bool TakeFrame(const Arrival& now) {
        if (pending_.size() < 2) return false;
        const auto byte = [this](std::size_t at) { return std::uint64_t(static_cast<unsigned char>(pending_[at])); };
        const unsigned opcode = unsigned(byte(0) & 0x0f);
        std::uint64_t length = byte(1) & 0x7f;
        std::size_t header = 2;
        const std::size_t lengthBytes = length == 126 ? 2 : length == 127 ? 8 : 0;
        if (pending_.size() < header + lengthBytes) return false;
        if (lengthBytes > 0) length = 0;
        for (std::size_t n = 0; n < lengthBytes; ++n) length = length << 8 | byte(header + n);
        header += lengthBytes;
        if (pending_.size() < header + length) return false;
        const std::string_view body(pending_.data() + header, length);
        if (opcode == PING) Pong(body);
        if (opcode == CLOSE) Fail("the server closed the room");
        bytes_ += length;
        if (counting_ && body.ends_with("tick 1\n")) tickTimes_.push_back(now);
        pending_.erase(0, header + length);
        return true;
    }
    // A client's frames are masked; a mask of zeros leaves the body as it is.
    void Pong(std::string_view body) {
        std::string frame{char(0x80 | PONG), char(0x80 | body.size()), 0, 0, 0, 0};
        Send(frame.append(body));
    }
    bool Send(const std::string& bytes) { return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size()); }
    void Fail(const char* why) {
        if (!failed_) std::fprintf(stderr, "kestrel-live-load: a watcher lost its room: %s\n", why);
        failed_ = true;
    }

    static constexpr unsigned CLOSE = 0x8, PING = 0x9, PONG = 0xa;
    int fd_ = -1;
    std::string pending_;
    bool upgraded_ = false, counting_ = false, failed_ = false;
    std::uint64_t bytes_ = 0, bytesBefore_ = 0;
    std::vector<Arrival> tickTimes_;
};

// Reads every watcher's frames as they come, for `time`. The load looks
// for them every POLL_PERIOD rather than sleeping on its sockets: on the
// loopback the kernel wakes a sleeping reader on the sender's core, so a
// load that slept there would charge the server a wake for every frame,
// which a screen on another machine never costs it. Arrival times come
// up to one period late for it, which only makes the lateness figures
// worse.
constexpr auto POLL_PERIOD = std::chrono::microseconds(200);

// The load's own pauses while it counts: rounds of its loop that came more
// than PAUSE_LIMIT after the one before. The watchers' lateness includes
// them, though the server is not late.
constexpr auto PAUSE_LIMIT = std::chrono::milliseconds(5);
struct Pauses {
    int count = 0;
    Clock::duration longest{};
};

// Every watcher's socket in one epoll set, kept from the settling to the
// count. A frame still unread when the next one comes takes the next one's
// stamp (the kernel merges them), so no stretch may pass unread: the
// 2,000 sockets added to a new set between the two held the first counted
// frames back by a tick.
class Watching {
public:
    explicit Watching(const std::vector<std::unique_ptr<Watcher>>& watchers) : poll_(::epoll_create1(0)) {
        for (const auto& w : watchers) {
            epoll_event event{.events = EPOLLIN, .data = {.ptr = w.get()}};
            ::epoll_ctl(poll_, EPOLL_CTL_ADD, w->Fd(), &event);
        }
    }
    ~Watching() { ::close(poll_); }
    Watching(const Watching&) = delete;
    Watching& operator=(const Watching&) = delete;

    void For(std::chrono::milliseconds time, Pauses& pauses) {
        const auto end = Clock::now() + time;
        std::array<epoll_event, 256> ready;
        for (auto now = Clock::now(), last = now; now < end; last = now, now = Clock::now()) {
            if (now - last > PAUSE_LIMIT) ++pauses.count, pauses.longest = std::max(pauses.longest, now - last);
            const int n = ::epoll_wait(poll_, ready.data(), int(ready.size()), 0);
            for (int i = 0; i < n; ++i) static_cast<Watcher*>(ready[std::size_t(i)].data.ptr)->Read();
            if (n == 0) std::this_thread::sleep_for(POLL_PERIOD);
        }
    }

private:
    int poll_;
};

double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// How late each tick came against the steadiest beat that fits them all.
template <class Time>
void AddLateness(const std::vector<Arrival>& arrivals, Time Arrival::*time, std::vector<double>& lateness) {
    if (arrivals.empty()) return;
    double earliest = 1e300;
    std::vector<double> offsets;
    for (std::size_t n = 0; n < arrivals.size(); ++n) {
        const auto since = arrivals[n].*time - arrivals[0].*time;
        const double ms = std::chrono::duration<double, std::milli>(since).count() - double(n) * TICK_MS;
        offsets.push_back(ms);
        earliest = std::min(earliest, ms);
    }
    for (const double ms : offsets) lateness.push_back(ms - earliest);
}

struct Lateness {
    double p99 = 0, worst = 0;
};

Lateness Summed(std::vector<double> lateness) {
    if (lateness.empty()) return {};
    std::sort(lateness.begin(), lateness.end());
    return {lateness[std::size_t(double(lateness.size() - 1) * 0.99)], lateness.back()};
}

}  // namespace

int main(int argc, char** argv) {
    const bool ownAddresses = argc == 6 && std::string_view(argv[5]) == "browsers";
    if (argc != 5 && !ownAddresses) {
        std::fprintf(stderr, "usage: kestrel-live-load PORT ROOMS WATCHERS SECONDS [browsers]\n");
        return 2;
    }
    const auto port = static_cast<unsigned short>(std::atoi(argv[1]));
    const int rooms = std::atoi(argv[2]), watchersEach = std::atoi(argv[3]);
    const double seconds = std::atof(argv[4]);
    const std::string recording = kestrel::bench::EndlessBusyRecording();

    asio::io_context io;
    std::vector<std::string> ids;
    for (int r = 0; r < rooms; ++r) ids.push_back(CreateRoom(io, port, recording, BrowserAddress(ownAddresses, r)));
    // Only then the watchers, so that none waits unread while rooms are made
    // (the server drops a screen that reads nothing for a few seconds).
    std::vector<std::unique_ptr<Watcher>> watchers;
    for (int r = 0; r < rooms; ++r)
        for (int w = 0; w < watchersEach; ++w)
            watchers.push_back(std::make_unique<Watcher>(port, BrowserAddress(ownAddresses, r), "/rooms/" + ids[std::size_t(r)] + "/socket"));
    // Everyone joins and catches up first; then the count starts.
    Pauses settling;
    Watching watching(watchers);
    watching.For(std::chrono::seconds(2), settling);
    for (const auto& w : watchers) w->Count();
    // Said on its own line, so that a script can take the server's own
    // figures over the same stretch.
    std::fputs("counting\n", stderr);
    const double cpuBefore = CpuSeconds();
    Pauses pauses;
    watching.For(std::chrono::milliseconds(std::int64_t(seconds * 1000)), pauses);
    const double cpu = CpuSeconds() - cpuBefore;
    // And its end, before the sums and the 2,000 closing sockets weigh on
    // the server's figures.
    std::fputs("counted\n", stderr);

    std::uint64_t bytes = 0, frames = 0;
    int failed = 0;
    std::vector<double> stamped, read;
    for (const auto& w : watchers) {
        bytes += w->CountedBytes(), frames += w->TickTimes().size(), failed += w->Failed();
        AddLateness(w->TickTimes(), &Arrival::stamped, stamped);
        AddLateness(w->TickTimes(), &Arrival::read, read);
    }
    const Lateness sent = Summed(std::move(stamped)), taken = Summed(std::move(read));
    const double n = double(watchers.size());
    std::printf("rooms %d watchers %zu lost %d ticks/s per watcher %.1f bytes/s per watcher %.0f "
                "late as sent p99 %.2f ms max %.2f ms, as read p99 %.2f ms max %.2f ms; "
                "load %.1f%% of a core, its own pauses over 5 ms %d (longest %.1f ms)\n",
                rooms, watchers.size(), failed, double(frames) / n / seconds, double(bytes) / n / seconds, sent.p99,
                sent.worst, taken.p99, taken.worst, 100 * cpu / seconds, pauses.count,
                std::chrono::duration<double, std::milli>(pauses.longest).count());
    return failed > 0 ? 1 : 0;
}
