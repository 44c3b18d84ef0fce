// kestrel-math-table TABLE: the program's sine, cosine, arctangent and power
// (model/MathFunctions.h) on the arguments of a table, one result a line,
// every number in hexadecimal floating point so that the file shows exact
// bits. Built natively and for node; both must print expected.out.
//
// Table lines ('#' starts a comment):
//   FN[,FN...] X            sin, cos or atan of X, one line for each FN
//   pow X Y
//   sweep FN LO HI COUNT [Y]         COUNT arguments LO + i (HI - LO) / COUNT,
//   sweep-single FN LO HI COUNT [Y]  the same rounded to single first (as the
//                                    game's angles are); prints a hash of the
//                                    results' bits (FNV-1a), Y for pow
// Numbers are anything strtod reads: decimal, hexadecimal, inf.
// Output: FN X RESULT, pow X Y RESULT, or the sweep line with its hash.
// Every NaN prints as nan, whatever its sign and payload. Each sine and
// cosine is taken by SinCos too, which must give the very same bits.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "model/MathFunctions.h"

namespace {

constexpr int MANTISSA_BITS = 52;
constexpr std::uint64_t MANTISSA_MASK = (std::uint64_t(1) << MANTISSA_BITS) - 1;
constexpr int EXPONENT_BIAS = 1023;
constexpr std::uint64_t FNV_OFFSET = 0xcbf29ce484222325;
constexpr std::uint64_t FNV_PRIME = 0x100000001b3;
constexpr std::uint64_t NAN_BITS = 0x7ff8000000000000;

std::uint64_t Bits(double v) {
    std::uint64_t bits;
    std::memcpy(&bits, &v, sizeof bits);
    return bits;
}

// %a's form, written out here because C libraries differ in how they show
// subnormals: those are normalised too (0x1p-1074, not 0x0.0000000000001p-1022).
std::string HexFloat(double v) {
    if (std::isnan(v)) return "nan";
    const std::string sign = std::signbit(v) ? "-" : "";
    if (std::isinf(v)) return sign + "inf";
    if (v == 0) return sign + "0x0p+0";
    const std::uint64_t bits = Bits(v);
    std::uint64_t mantissa = bits & MANTISSA_MASK;
    int exponent = int((bits >> MANTISSA_BITS) & 0x7ff) - EXPONENT_BIAS;
    if (exponent == -EXPONENT_BIAS) {  // subnormal: shift the leading one into place
        exponent = 1 - EXPONENT_BIAS;
        while (!(mantissa >> MANTISSA_BITS)) {
            mantissa <<= 1;
            --exponent;
        }
        mantissa &= MANTISSA_MASK;
    }
    char digits[16];
    std::snprintf(digits, sizeof digits, "%013llx", static_cast<unsigned long long>(mantissa));
    std::string fraction = digits;
    fraction.erase(fraction.find_last_not_of('0') + 1);
    const std::string exponentText = (exponent < 0 ? "p" : "p+") + std::to_string(exponent);
    return sign + "0x1" + (fraction.empty() ? "" : "." + fraction) + exponentText;
}

bool SameBits(double a, double b) { return std::isnan(a) ? std::isnan(b) : Bits(a) == Bits(b); }

// Sin or Cos, which SinCos must equal.
double SineOrCosine(bool sine, double x) {
    const double alone = sine ? kestrel::Sin(x) : kestrel::Cos(x);
    const kestrel::SineCosine both = kestrel::SinCos(x);
    if (!SameBits(alone, sine ? both.sine : both.cosine)) {
        std::cerr << "kestrel-math-table: SinCos(" << HexFloat(x) << ") gives another " << (sine ? "sine" : "cosine")
                  << " than " << (sine ? "Sin" : "Cos") << '\n';
        std::exit(1);
    }
    return alone;
}

std::optional<double> Call(const std::string& fn, double x, double y) {
    if (fn == "sin" || fn == "cos") return SineOrCosine(fn == "sin", x);
    if (fn == "atan") return kestrel::Atan(x);
    if (fn == "pow") return kestrel::Pow(x, y);
    return std::nullopt;
}

// The numbers of a line's tokens, or nothing if one is not a number.
std::optional<std::vector<double>> Numbers(const std::vector<std::string>& tokens, std::size_t from) {
    std::vector<double> numbers;
    for (std::size_t k = from; k < tokens.size(); ++k) {
        char* end = nullptr;
        numbers.push_back(std::strtod(tokens[k].c_str(), &end));
        if (*end != '\0') return std::nullopt;
    }
    return numbers;
}

std::string Hash(std::uint64_t hash) {
    char text[20];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

// sweep FN LO HI COUNT [Y]: the results' bits hashed in order.
std::optional<std::string> Sweep(const std::vector<std::string>& tokens, bool single) {
    if (tokens.size() < 2) return std::nullopt;
    const std::string& fn = tokens[1];
    const std::optional<std::vector<double>> numbers = Numbers(tokens, 2);
    if (!numbers || numbers->size() != (fn == "pow" ? 4u : 3u) || !Call(fn, 0, 0)) return std::nullopt;
    const double lo = (*numbers)[0], hi = (*numbers)[1], count = (*numbers)[2];
    const double y = fn == "pow" ? (*numbers)[3] : 0;
    if (!(count >= 1) || count != std::floor(count)) return std::nullopt;
    std::uint64_t hash = FNV_OFFSET;
    for (double i = 0; i < count; ++i) {
        double x = lo + i * (hi - lo) / count;
        if (single) x = double(float(x));
        const double result = *Call(fn, x, y);
        const std::uint64_t bits = std::isnan(result) ? NAN_BITS : Bits(result);
        for (int byte = 0; byte < 8; ++byte) hash = (hash ^ ((bits >> (8 * byte)) & 0xff)) * FNV_PRIME;
    }
    std::string out = tokens[0] + " " + fn;
    for (double v : *numbers) out += " " + HexFloat(v);
    return out + " fnv1a " + Hash(hash) + "\n";
}

// FN[,FN...] X, or pow X Y.
std::optional<std::string> Results(const std::vector<std::string>& tokens) {
    const std::optional<std::vector<double>> numbers = Numbers(tokens, 1);
    if (!numbers) return std::nullopt;
    if (tokens[0] == "pow") {
        if (numbers->size() != 2) return std::nullopt;
        const double x = (*numbers)[0], y = (*numbers)[1];
        return "pow " + HexFloat(x) + " " + HexFloat(y) + " " + HexFloat(kestrel::Pow(x, y)) + "\n";
    }
    if (numbers->size() != 1) return std::nullopt;
    const double x = (*numbers)[0];
    std::string out;
    std::istringstream names(tokens[0]);
    for (std::string fn; std::getline(names, fn, ',');) {
        const std::optional<double> result = fn == "pow" ? std::nullopt : Call(fn, x, 0);
        if (!result) return std::nullopt;
        out += fn + " " + HexFloat(x) + " " + HexFloat(*result) + "\n";
    }
    return out;
}

std::optional<std::string> Run(const std::string& line) {
    std::vector<std::string> tokens;
    std::istringstream words(line.substr(0, line.find('#')));
    for (std::string token; words >> token;) tokens.push_back(token);
    if (tokens.empty()) return "";
    if (tokens[0] == "sweep" || tokens[0] == "sweep-single") return Sweep(tokens, tokens[0] == "sweep-single");
    return Results(tokens);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: kestrel-math-table TABLE\n";
        return 2;
    }
    std::ifstream table(argv[1]);
    if (!table) {
        std::cerr << "kestrel-math-table: cannot read " << argv[1] << '\n';
        return 2;
    }
    int number = 0;
    for (std::string line; std::getline(table, line);) {
        ++number;
        const std::optional<std::string> out = Run(line);
        if (!out) {
            std::cerr << "kestrel-math-table: line " << number << ": cannot read: " << line << '\n';
            return 2;
        }
        std::cout << *out;
    }
    return 0;
}
