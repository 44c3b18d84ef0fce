// libFuzzer entry for the replay tool's script reader: any bytes must end in
// a clean run (0) or a reported bad line (2), never a crash, a sanitizer
// report or a hang.

#include <cstddef>
#include <cstdint>
#include <ostream>
#include <streambuf>
#include <string_view>

#include "trace/TraceScript.h"

namespace {

// Enough ticks for a battle to fire, burst and restart, few enough that an
// input like "tick 999999999" costs a fraction of a second.
constexpr long long FUZZ_MAX_TICKS = 300;

// A `snap` line saves a PNG wherever its argument points, and any script
// holding one also keeps a raster picture of up to 16384 x 16384 pixels.
// Inputs that mention it are skipped whole, so every input that does run
// goes through the reader exactly as the tool would run it.
constexpr std::string_view WRITES_FILES = "snap";

class NullBuffer final : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view script(reinterpret_cast<const char*>(data), size);
    if (script.find(WRITES_FILES) != std::string_view::npos) return -1;  // not kept in the corpus

    NullBuffer nothing;
    std::ostream out(&nothing);
    std::ostream err(&nothing);
    const int status = kestrel::RunTraceScript(script, out, err, kestrel::TraceLimits{FUZZ_MAX_TICKS});
    if (status != kestrel::TRACE_OK && status != kestrel::TRACE_BAD_SCRIPT) __builtin_trap();
    return 0;
}
