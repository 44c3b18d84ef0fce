// kestrel-soak [TICKS] [--no-events] [--seed N]: runs the battle for TICKS
// ticks (default 1,000,000) with random meddling, checks the record after
// every tick, and prints ticks, battles and memory at the start, the middle
// and the end. Exit status 1 when a check fails, 2 on bad arguments.

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <string_view>

#include "Soak.h"

namespace {

constexpr std::uint64_t DEFAULT_TICKS = 1'000'000;

// A "Vm...:  1234 kB" line of /proc/self/status, in kB; -1 if missing.
long StatusKb(std::string_view key) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.starts_with(key) && line.size() > key.size() && line[key.size()] == ':')
            return std::stol(line.substr(key.size() + 1));
    return -1;
}

void Report(const char* stage, const kestrel::soak::Soak& soak) {
    std::printf("%-6s  ticks %9llu  battles %7llu  VmRSS %7ld kB  VmHWM %7ld kB\n", stage,
                static_cast<unsigned long long>(soak.Ticks()),
                static_cast<unsigned long long>(soak.Battles()), StatusKb("VmRSS"),
                StatusKb("VmHWM"));
    std::fflush(stdout);
}

bool ParseCount(std::string_view text, std::uint64_t& value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos)
        return false;
    try {
        value = std::stoull(std::string(text));
    } catch (...) {
        return false;
    }
    return true;
}

int Usage() {
    std::cerr << "usage: kestrel-soak [TICKS] [--no-events] [--seed N]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::uint64_t ticks = DEFAULT_TICKS;
    kestrel::soak::SoakSettings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--no-events") {
            settings.events = false;
        } else if (arg == "--seed") {
            if (++i == argc || !ParseCount(argv[i], settings.gameSeed)) return Usage();
        } else if (!ParseCount(arg, ticks) || ticks == 0) {
            return Usage();
        }
    }
    std::printf("kestrel-soak: %llu ticks, game seed %llu, meddling %s\n",
                static_cast<unsigned long long>(ticks),
                static_cast<unsigned long long>(settings.gameSeed), settings.events ? "on" : "off");

    kestrel::soak::Soak soak(settings);
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
    std::printf("longest battle: %llu ticks, tanks dragged: %llu\n",
                static_cast<unsigned long long>(soak.LongestBattle()),
                static_cast<unsigned long long>(soak.Drags()));
    return 0;
}
