#include "script/ScriptLine.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

#include "script/ScriptNumbers.h"

namespace kestrel {

Tokens SplitLine(std::string_view line) {
    if (const auto hash = line.find('#'); hash != std::string_view::npos) line = line.substr(0, hash);
    Tokens tokens;
    constexpr std::string_view SEPARATORS = " \t\r";
    std::size_t at = line.find_first_not_of(SEPARATORS);
    while (at != std::string_view::npos) {
        const std::size_t end = line.find_first_of(SEPARATORS, at);
        tokens.push_back(line.substr(at, end == std::string_view::npos ? end : end - at));
        at = end == std::string_view::npos ? end : line.find_first_not_of(SEPARATORS, end);
    }
    return tokens;
}

void Fail(const std::string& reason) { throw ScriptError(reason); }

std::string Quoted(std::string_view token) { return "'" + std::string(token) + "'"; }

double ParseReal(std::string_view token, std::string_view what) {
    const std::optional<double> value = ReadReal(token);
    if (!value) Fail(std::string(what) + " " + Quoted(token) + " is not a finite number");
    return *value;
}

float ParseSingle(std::string_view token, std::string_view what) {
    const float value = static_cast<float>(ParseReal(token, what));
    if (!std::isfinite(value))
        Fail(std::string(what) + " " + Quoted(token) + " is out of single-precision range");
    return value;
}

std::int16_t ParseInt16(std::string_view token, std::string_view what) {
    return ParseWhole<std::int16_t>(token, INT16_MIN, INT16_MAX, what);
}

Slot ParseSlot(std::string_view token) { return ParseWhole<Slot>(token, 0, LAST_SLOT, "slot"); }

void ExpectArgs(const Tokens& tokens, std::size_t least, std::size_t most) {
    const std::size_t given = tokens.size() - 1;
    if (given < least || given > most) {
        std::string expected = std::to_string(least);
        if (most != least) expected += most == SIZE_MAX ? " or more" : ".." + std::to_string(most);
        Fail(Quoted(tokens[0]) + " takes " + expected + " argument" + (most == 1 && least == 1 ? "" : "s") +
             ", got " + std::to_string(given));
    }
}

namespace {

// Each number after a space, but the first of a line; in a long replay's
// calls there are millions, so none goes through printf where to_chars
// writes the same text several times faster.
void Append(std::string& line, const char* begin, const char* end) {
    if (!line.empty() && line.back() != '\n') line += ' ';
    line.append(begin, end);
}

void AppendWhole(std::string& line, auto value) {
    char buffer[24];
    Append(line, buffer, std::to_chars(buffer, buffer + sizeof buffer, value).ptr);
}

// printf's %.Ng, from to_chars where the library has it for floating point.
void AppendGeneral(std::string& line, double value, int digits, const char* format) {
    char buffer[40];
#if defined(__cpp_lib_to_chars)
    (void)format;
    Append(line, buffer, std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, digits).ptr);
#else
    (void)digits;
    Append(line, buffer, buffer + std::snprintf(buffer, sizeof buffer, format, value));
#endif
}

}  // namespace

void AppendDouble(std::string& line, double value) { AppendGeneral(line, value, 17, "%.17g"); }
void AppendSingle(std::string& line, float value) { AppendGeneral(line, double(value), 9, "%.9g"); }
void AppendInt(std::string& line, long long value) { AppendWhole(line, value); }
void AppendUnsigned(std::string& line, std::uint64_t value) { AppendWhole(line, value); }

}  // namespace kestrel
