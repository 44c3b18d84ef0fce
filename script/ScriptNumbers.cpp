#include "script/ScriptNumbers.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace kestrel {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

std::optional<double> ReadReal(std::string_view token) {
    std::size_t at = 0;
    const auto skipDigits = [&] {
        const std::size_t first = at;
        while (at < token.size() && IsDigit(token[at])) ++at;
        return at - first;
    };
    if (at < token.size() && token[at] == '-') ++at;
    const std::size_t mantissaStart = at;
    std::size_t digits = skipDigits();
    if (at < token.size() && token[at] == '.') {
        ++at;
        digits += skipDigits();
    }
    if (digits == 0) return std::nullopt;
    const bool writtenAsZero =
        token.substr(mantissaStart, at - mantissaStart).find_first_of("123456789") == std::string_view::npos;
    if (at < token.size() && (token[at] == 'e' || token[at] == 'E')) {
        ++at;
        if (at < token.size() && (token[at] == '+' || token[at] == '-')) ++at;
        if (skipDigits() == 0) return std::nullopt;
    }
    if (at != token.size()) return std::nullopt;
    // The syntax is checked, so strtod reads all of it, correctly rounded;
    // the tool never changes the C locale, so the point is a point.
    const double value = std::strtod(std::string(token).c_str(), nullptr);
    if (!std::isfinite(value) || (value == 0 && !writtenAsZero)) return std::nullopt;
    return value;
}

}  // namespace kestrel
