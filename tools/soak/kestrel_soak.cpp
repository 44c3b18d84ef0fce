// kestrel-soak [TICKS] [--no-events] [--seed N] [--record FILE]: runs the
// battle for TICKS ticks (default 1,000,000) with random meddling, checks the
// record after every tick, and prints ticks, battles and memory at the start,
// the middle and the end. With --record, battle starts reseed from the clock
// as in the live game, and the game's recording of the whole run is written
// to FILE at the end. Exit status 1 when a check fails, 2 on bad arguments
// or a FILE that cannot be written.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>
#include <string_view>
#include <utility>

#include "tools/soak/Soak.h"

namespace {

using kestrel::soak::Soak;
using Count = unsigned long long;

constexpr std::uint64_t DEFAULT_TICKS = 1'000'000;

// A "Vm...:  1234 kB" line of /proc/self/status, in kB; -1 if missing.
long StatusKb(const std::string& key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(key + ":")) return std::stol(line.substr(key.size() + 1));
    return -1;
}

void Report(const char* stage, const Soak& soak) {
    std::printf("%-6s  ticks %9llu  battles %7llu  VmRSS %7ld kB  VmHWM %7ld kB\n", stage,
                Count(soak.Ticks()), Count(soak.Battles()), StatusKb("VmRSS"), StatusKb("VmHWM"));
    std::fflush(stdout);
}

// A whole decimal number and nothing else.
bool ParseCount(std::string_view text, std::uint64_t& value) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    return !text.empty() && error == std::errc() && stop == end;
}

bool WriteFile(const std::string& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary);
    file << text;
    file.close();
    return bool(file);
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t ticks = DEFAULT_TICKS;
    kestrel::soak::SoakSettings settings;
    std::string recordTo;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        bool ok = true;
        if (arg == "--no-events")
            settings.events = false;
        else if (arg == "--seed")
            ok = ++i < argc && ParseCount(argv[i], settings.gameSeed);
        else if (arg == "--record")
            ok = ++i < argc && (recordTo = argv[i], settings.liveGame = true);
        else
            ok = ParseCount(arg, ticks) && ticks > 0;
        if (!ok) {
            std::fprintf(stderr, "usage: kestrel-soak [TICKS] [--no-events] [--seed N] [--record FILE]\n");
            return 2;
        }
    }
    std::printf("kestrel-soak: %llu ticks, game seed %llu, meddling %s\n", Count(ticks),
                Count(settings.gameSeed), settings.events ? "on" : "off");

    Soak soak(settings);
    Report("start", soak);
    const std::uint64_t half = ticks / 2;
    for (auto [stage, count] : {std::pair{"middle", half}, std::pair{"end", ticks - half}}) {
        if (const std::string broken = soak.Run(count); !broken.empty()) {
            std::fprintf(stderr, "kestrel-soak: %s\n", broken.c_str());
            Report("failed", soak);
            return 1;
        }
        Report(stage, soak);
    }
    std::printf("longest battle: %llu ticks, tanks dragged: %llu\n", Count(soak.LongestBattle()),
                Count(soak.Drags()));
    if (!recordTo.empty() && !WriteFile(recordTo, soak.Played().Recording().Text())) {
        std::fprintf(stderr, "kestrel-soak: cannot write %s\n", recordTo.c_str());
        return 2;
    }
    return 0;
}
