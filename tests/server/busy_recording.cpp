// Prints a start recording of the benchmarks' busy battle, whose 51 tanks
// never fall, followed by TICKS ticks of it: the heaviest recording a room
// can be made from.
//
//   kestrel-busy-recording TICKS

#include <cstdlib>
#include <iostream>

#include "bench/BusyBattle.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: kestrel-busy-recording TICKS\n";
        return 2;
    }
    std::cout << kestrel::bench::EndlessBusyRecording() << "tick " << std::strtoull(argv[1], nullptr, 10) << "\n";
    return 0;
}
