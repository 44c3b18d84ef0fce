#pragma once
// Whether the tests run under the sanitizers.

namespace kestrel::test {

// Built with AddressSanitizer, every test runs several times slower: heavy
// randomized batches then run fewer cases of the same checks (the sanitizers
// look for faults in the code paths, which a few cases reach as well as many).
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool SANITIZED = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool SANITIZED = true;
#else
inline constexpr bool SANITIZED = false;
#endif
#else
inline constexpr bool SANITIZED = false;
#endif
constexpr int Cases(int full, int sanitized) { return SANITIZED ? sanitized : full; }

}  // namespace kestrel::test
