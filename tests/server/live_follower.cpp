// A screen without a picture for the server's tests: follows a room's
// battle from the frames on stdin and answers the lines it would send the
// room. Each frame in and each answer out is "LENGTH\n" then that many
// bytes; an answer is preceded by "TICK " and the room tick reached. A frame
// it cannot follow ends it with status 1.

#include <iostream>
#include <string>

#include "game/Game.h"
#include "game/LiveClient.h"

int main() {
    std::ios::sync_with_stdio(false);
    kestrel::Game game(kestrel::GameRandom(1), kestrel::GameOutput::Nothing);
    kestrel::LiveClient client(game);
    std::size_t length = 0;
    while (std::cin >> length && std::cin.get() == '\n') {
        std::string frame(length, '\0');
        if (!std::cin.read(frame.data(), std::streamsize(length))) break;
        if (const std::optional<std::string> refused = client.Receive(frame)) {
            std::cerr << "live_follower: " << *refused << '\n';
            return 1;
        }
        while (game.TicksAhead() > 0) game.Tick();
        const std::string outgoing = client.TakeOutgoing();
        std::cout << game.FollowedTick() << ' ' << outgoing.size() << '\n' << outgoing << std::flush;
    }
    return 0;
}
