// A load on kestrel-server from the loopback: it makes rooms, each
// started from the benchmark's busy battle, whose tanks never fall, keeps
// watchers on every room, and reports what they receive: frames and bytes
// a second per watcher, and how late each tick's frame comes against a
// steady 25 ms beat (the 99th percentile and the worst). One thread, like
// the server.
// With `browsers`, each room is made and watched from a loopback address
// of its own (127.0.1.2, 127.0.1.3, ...), as browsers behind a balancer
// are: neither the balancer's limits per address nor the servers' then
// stand between the load and the rooms.
//
//   kestrel-live-load PORT ROOMS WATCHERS SECONDS [browsers]

#include <utility>  // Boost 1.74's asio uses std::exchange without it

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "bench/BusyBattle.h"

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
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
    http::request<http::string_body> request{http::verb::post, "/rooms", 11};
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
    const std::size_t start = body.find('"', body.find(':', at) + 1) + 1;
    if (at == std::string::npos || response.result_int() >= 300) {
        std::fprintf(stderr, "kestrel-live-load: the server made no room: %s\n", body.c_str());
        std::exit(1);
    }
    return body.substr(start, body.find('"', start) - start);
}

// One watcher: it reads every frame and notes when each tick's came.
struct Watcher : std::enable_shared_from_this<Watcher> {
    Watcher(asio::io_context& io, std::string path) : ws(io), path(std::move(path)) {}

    void Start(unsigned short port, const asio::ip::address_v4& from) {
        OpenFrom(beast::get_lowest_layer(ws).socket(), from);
        beast::get_lowest_layer(ws).async_connect(
            tcp::endpoint(asio::ip::make_address(LOOPBACK), port), [self = shared_from_this(), port](beast::error_code ec) {
                if (ec) return self->Fail(ec);
                self->ws.async_handshake(std::string(LOOPBACK) + ":" + std::to_string(port), self->path,
                                         [self](beast::error_code ec) { ec ? self->Fail(ec) : self->Read(); });
            });
    }
    void Read() {
        ws.async_read(buffer, [self = shared_from_this()](beast::error_code ec, std::size_t bytes) {
            if (ec) return self->Fail(ec);
            self->bytes += bytes;
            if (self->counting) {
                const std::string_view frame(static_cast<const char*>(self->buffer.cdata().data()), bytes);
                if (frame.ends_with("tick 1\n")) self->tickTimes.push_back(Clock::now());
            }
            self->buffer.consume(bytes);
            self->Read();
        });
    }
    void Fail(beast::error_code ec) {
        if (!failed) std::fprintf(stderr, "kestrel-live-load: a watcher lost its room: %s\n", ec.message().c_str());
        failed = true;
    }

    websocket::stream<beast::tcp_stream> ws;
    std::string path;
    beast::flat_buffer buffer;
    bool counting = false, failed = false;
    std::uint64_t bytes = 0;
    std::vector<Clock::time_point> tickTimes;
};

// How late each tick came against the steadiest beat that fits them all.
void AddLateness(const std::vector<Clock::time_point>& times, std::vector<double>& lateness) {
    if (times.empty()) return;
    double earliest = 1e300;
    std::vector<double> offsets;
    for (std::size_t n = 0; n < times.size(); ++n) {
        const double ms = std::chrono::duration<double, std::milli>(times[n] - times[0]).count() - double(n) * TICK_MS;
        offsets.push_back(ms);
        earliest = std::min(earliest, ms);
    }
    for (const double ms : offsets) lateness.push_back(ms - earliest);
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
    std::vector<std::shared_ptr<Watcher>> watchers;
    for (int r = 0; r < rooms; ++r) {
        const auto from = BrowserAddress(ownAddresses, r);
        const std::string id = CreateRoom(io, port, recording, from);
        for (int w = 0; w < watchersEach; ++w) {
            watchers.push_back(std::make_shared<Watcher>(io, "/rooms/" + id + "/socket"));
            watchers.back()->Start(port, from);
        }
    }
    // Everyone joins and catches up first; then the count starts.
    io.run_for(std::chrono::seconds(2));
    std::uint64_t bytesBefore = 0;
    for (const auto& w : watchers) bytesBefore += w->bytes, w->counting = true;
    io.run_for(std::chrono::milliseconds(std::int64_t(seconds * 1000)));

    std::uint64_t bytes = 0, frames = 0;
    int failed = 0;
    std::vector<double> lateness;
    for (const auto& w : watchers) {
        bytes += w->bytes, frames += w->tickTimes.size(), failed += w->failed;
        AddLateness(w->tickTimes, lateness);
    }
    std::sort(lateness.begin(), lateness.end());
    const double p99 = lateness.empty() ? 0 : lateness[std::size_t(double(lateness.size() - 1) * 0.99)];
    const double worst = lateness.empty() ? 0 : lateness.back();
    const double n = double(watchers.size());
    std::printf("rooms %d watchers %zu lost %d ticks/s per watcher %.1f bytes/s per watcher %.0f late p99 %.2f ms "
                "max %.2f ms\n",
                rooms, watchers.size(), failed, double(frames) / n / seconds, double(bytes - bytesBefore) / n / seconds,
                p99, worst);
    return failed > 0 ? 1 : 0;
}
