#pragma once
// The server's log: one line an event, "kestrel-server: WHAT", on the
// stream it was given (standard error).

#include <iosfwd>
#include <string_view>

namespace kestrel {

inline constexpr std::string_view SERVER_NAME = "kestrel-server";

class Log {
public:
    explicit Log(std::ostream& out) : out_(out) {}
    void Line(std::string_view text) const;
    // A line about one room: "room ID: TEXT".
    void Room(std::string_view id, std::string_view text) const;

private:
    std::ostream& out_;
};

}  // namespace kestrel
