#include "server/RandomId.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace kestrel {
namespace {

constexpr char HEX[] = "0123456789abcdef";

}  // namespace

std::string RandomHexId() {
    std::uint8_t bytes[RANDOM_ID_BYTES];
    std::size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw std::runtime_error("the system's random source cannot be read");
        got += std::size_t(n);
    }
    std::string id;
    for (const std::uint8_t b : bytes) {
        id += HEX[b >> 4];
        id += HEX[b & 15];
    }
    return id;
}

bool IsRandomHexId(std::string_view text) {
    return text.size() == 2 * RANDOM_ID_BYTES && text.find_first_not_of(HEX) == std::string_view::npos;
}

}  // namespace kestrel
