#pragma once
// The sine, cosine, arctangent and power every rule and every picture uses,
// and the sine and cosine of one angle at once (the same bits as Sin and
// Cos, for a single range reduction).
// Math libraries differ in the last bit (and glibc even chooses its code by
// processor), so every build takes the same functions: musl's. The browser
// build's C library is musl; a native build links musl's own objects under
// other names (cmake/MuslMath.cmake). tests/math holds them to fixed bits.

#ifdef __EMSCRIPTEN__
#include <cmath>
#else
extern "C" {
double kestrel_musl_sin(double x) noexcept;
double kestrel_musl_cos(double x) noexcept;
double kestrel_musl_atan(double x) noexcept;
double kestrel_musl_pow(double x, double y) noexcept;
void kestrel_musl_sincos(double x, double* sine, double* cosine) noexcept;
}
#endif

namespace kestrel {

struct SineCosine {
    double sine;
    double cosine;
};

#ifdef __EMSCRIPTEN__
inline double Sin(double x) { return std::sin(x); }
inline double Cos(double x) { return std::cos(x); }
inline double Atan(double x) { return std::atan(x); }
inline double Pow(double x, double y) { return std::pow(x, y); }
inline SineCosine SinCos(double x) { return {std::sin(x), std::cos(x)}; }
#else
inline double Sin(double x) { return kestrel_musl_sin(x); }
inline double Cos(double x) { return kestrel_musl_cos(x); }
inline double Atan(double x) { return kestrel_musl_atan(x); }
inline double Pow(double x, double y) { return kestrel_musl_pow(x, y); }
inline SineCosine SinCos(double x) {
    SineCosine both;
    kestrel_musl_sincos(x, &both.sine, &both.cosine);
    return both;
}
#endif

}  // namespace kestrel
