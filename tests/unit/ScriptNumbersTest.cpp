// The replay scripts' reader of reals against the C++ library's from_chars,
// which it stands in for where a library lacks it: the same tokens accepted,
// to the same bits.

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <optional>
#include <random>
#include <string>

#include "script/ScriptNumbers.h"

namespace kestrel {
namespace {

// What the tool accepted before: a whole token that from_chars reads as a
// finite double.
std::optional<double> FromChars(const std::string& token) {
    double value = 0;
    const auto [end, ec] = std::from_chars(token.data(), token.data() + token.size(), value);
    if (ec != std::errc() || end != token.data() + token.size() || !std::isfinite(value)) return std::nullopt;
    return value;
}

testing::AssertionResult SameAsFromChars(const std::string& token) {
    const auto ours = ReadReal(token), theirs = FromChars(token);
    if (ours.has_value() != theirs.has_value())
        return testing::AssertionFailure() << "'" << token << "' " << (ours ? "accepted" : "refused");
    if (ours && std::bit_cast<std::uint64_t>(*ours) != std::bit_cast<std::uint64_t>(*theirs))
        return testing::AssertionFailure() << "'" << token << "' reads " << *ours << " not " << *theirs;
    return testing::AssertionSuccess();
}

TEST(ScriptNumbers, AcceptTheSameTokensAsFromCharsToTheBit) {
    for (const char* token :
         {"1", "-1", "+1", "1.", ".5", "-.5", "1e5", "1E+5", "1e-5", "1e", "1e+", "e5", ".", "-", "",
          "inf", "-inf", "infinity", "nan", "nan(1)", "0x1p3", " 1", "1 ", "1e400", "-1e400", "1e-400",
          "0e-400", "0e999999", "4.9e-324", "2.4703282292062328e-324", "2.4703282292062327e-324",
          "1e-310", "00012", "1_0", "-0", "-0.0e-5", "1.7976931348623157e308", "1.7976931348623159e308",
          "0.1", "3.141592653589794", "1e99999999999999999999", "1e-99999999999999999999",
          "000000000000000000000000000000000000.5", ".e5", "1.e5", "--1", "-+1", "1e5.5", "1..5"})
        EXPECT_TRUE(SameAsFromChars(token));
}

// Random short strings over the characters numbers are made of.
TEST(ScriptNumbers, AgreeWithFromCharsOnRandomTokens) {
    std::mt19937 gen(20261208);
    const std::string alphabet = "0123456789000111.eE+-x ";
    std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1), length(1, 10);
    int accepted = 0;
    for (int i = 0; i < 200000; ++i) {
        std::string token(length(gen), ' ');
        for (char& c : token) c = alphabet[pick(gen)];
        ASSERT_TRUE(SameAsFromChars(token));
        accepted += ReadReal(token).has_value();
    }
    EXPECT_GT(accepted, 10000) << "enough of them were numbers";
}

}  // namespace
}  // namespace kestrel
