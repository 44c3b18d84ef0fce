#pragma once
// Counts held by tickets: a ticket counts from when it is taken until it
// is let go, wherever it went meanwhile (an HTTP connection, then the
// WebSocket it became). The counts live as long as any ticket does.

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace kestrel {

class Ticket {
public:
    explicit Ticket(std::function<void()> release) : release_(std::move(release)) {}
    Ticket(Ticket&& other) noexcept : release_(std::exchange(other.release_, nullptr)) {}
    Ticket& operator=(Ticket&&) = delete;
    Ticket(const Ticket&) = delete;
    ~Ticket() {
        if (release_) release_();
    }

private:
    std::function<void()> release_;
};

// Connections per address, each at most `limit`.
class AddressCounts {
public:
    explicit AddressCounts(int limit) : limit_(limit) {}
    // A ticket for one more connection from `address`; none when it has as many as it may.
    std::optional<Ticket> Take(const std::string& address);
    int Count(const std::string& address) const;

private:
    int limit_;
    std::shared_ptr<std::map<std::string, int>> counts_ = std::make_shared<std::map<std::string, int>>();
};

// The places for screens in a room: a screen holds one from the moment it
// is let in, player or watcher.
class ScreenPlaces {
public:
    explicit ScreenPlaces(std::size_t limit) : limit_(limit) {}
    std::optional<Ticket> Take();
    std::size_t Taken() const { return *taken_; }
    bool Free() const { return *taken_ < limit_; }

private:
    std::size_t limit_;
    std::shared_ptr<std::size_t> taken_ = std::make_shared<std::size_t>(0);
};

}  // namespace kestrel
