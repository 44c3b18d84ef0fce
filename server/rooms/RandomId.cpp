#include "server/rooms/RandomId.h"

#include <cerrno>
#include <cstdint>

#include "game/RoomId.h"

namespace kestrel {
namespace {

constexpr char HEX[] = "0123456789abcdef";

}  // namespace

std::optional<std::string> RandomHexId(RandomSource source) {
    std::uint8_t bytes[RANDOM_ID_BYTES];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = source(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return std::nullopt;
        got += std::size_t(n);
    }
    std::string id;
    for (const std::uint8_t b : bytes) {
        id += HEX[b >> 4];
        id += HEX[b & 15];
    }
    return id;
}

std::optional<std::string> DrawRoomId(std::string_view server, RandomSource source) {
    std::optional<std::string> digits = RandomHexId(source);
    if (!digits || server.empty()) return digits;
    return std::string(server) + SERVER_NAME_SEPARATOR + *digits;
}

std::optional<std::string_view> OtherServer(std::string_view id, std::string_view server) {
    const std::string_view home = RoomServer(id);
    if (home.empty() || home == server) return std::nullopt;
    return home;
}

}  // namespace kestrel
