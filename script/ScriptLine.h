#pragma once
// One line of a replay script or a recording: its tokens, and the numbers
// in them read with the range and the reason a bad one is refused. Numbers
// are written so that they read back to the exact value.

#include <charconv>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "model/Battlefield.h"

namespace kestrel {

// A line that cannot run; what() is the reason, without the line number.
struct ScriptError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using Tokens = std::vector<std::string_view>;

// The tokens of one line: separated by spaces or tabs, `#` starts a comment.
Tokens SplitLine(std::string_view line);

// Calls onCommand(lineNumber, tokens) for each line of `text` that holds a
// command, lines counted from 1; stops early where it returns false.
template <typename OnCommand>
void ForEachCommand(std::string_view text, OnCommand&& onCommand) {
    std::size_t at = 0;
    for (long long lineNo = 1; at < text.size(); ++lineNo) {
        std::size_t end = text.find('\n', at);
        if (end == std::string_view::npos) end = text.size();
        const Tokens tokens = SplitLine(text.substr(at, end - at));
        at = end + 1;
        if (!tokens.empty() && !onCommand(lineNo, tokens)) return;
    }
}

[[noreturn]] void Fail(const std::string& reason);
std::string Quoted(std::string_view token);

// Each reads one token or throws ScriptError naming it as `what`.

// A whole number in lo..hi. Read wide, so that any whole number out of the
// type's range is reported as such, with the range.
template <typename T>
T ParseWhole(std::string_view token, T lo, T hi, std::string_view what) {
    using Wide = std::conditional_t<std::is_signed_v<T>, long long, unsigned long long>;
    const std::string range = " is out of range " + std::to_string(lo) + ".." + std::to_string(hi);
    std::string_view digits = token;
    const bool negative = !digits.empty() && digits.front() == '-';
    if (std::is_unsigned_v<T> && negative) digits.remove_prefix(1);
    Wide value{};
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec == std::errc::invalid_argument || end != digits.data() + digits.size())
        Fail(std::string(what) + " " + Quoted(token) + " is not a whole number");
    if (ec == std::errc::result_out_of_range || (std::is_unsigned_v<T> && negative && value != 0) ||
        value < Wide(lo) || value > Wide(hi))
        Fail(std::string(what) + " " + Quoted(token) + range);
    return T(value);
}

double ParseReal(std::string_view token, std::string_view what);    // finite
float ParseSingle(std::string_view token, std::string_view what);   // finite as a single too
std::int16_t ParseInt16(std::string_view token, std::string_view what);
Slot ParseSlot(std::string_view token);

// Throws unless the command in tokens[0] has least..most arguments
// (SIZE_MAX for no upper bound).
void ExpectArgs(const Tokens& tokens, std::size_t least, std::size_t most);

// Numbers written to read back exactly: doubles with 17 significant
// digits, singles widened and written with 9. Each is appended to `line`
// after a space, unless the line is empty or ends a line.
void AppendDouble(std::string& line, double value);
void AppendSingle(std::string& line, float value);
void AppendInt(std::string& line, long long value);
void AppendUnsigned(std::string& line, std::uint64_t value);

}  // namespace kestrel
