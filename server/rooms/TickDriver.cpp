#include "server/rooms/TickDriver.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>

#include "game/Game.h"
#include "server/base/Counts.h"

namespace kestrel {

struct TickDriver::Timer {
    boost::asio::steady_timer timer;
};

TickDriver::TickDriver(boost::asio::io_context& io, ServerCounts& counts)
    : io_(io), counts_(counts), queue_([] { return ServerClock::now(); }) {}

TickDriver::~TickDriver() = default;

void TickDriver::Add(std::weak_ptr<Ticking> room) {
    const auto tick = std::chrono::milliseconds(TICK_MS);
    const TickSchedule schedule(tick, queue_.QuietestStart(ServerClock::now(), tick));
    queue_.Add(std::move(room), schedule);
    if (!armedFor_ || schedule.Due() < *armedFor_) Arm(schedule.Due());
}

// Setting the timer again cancels the wait already set, whose handler
// then does nothing.
void TickDriver::Arm(ServerTime due) {
    std::shared_ptr<Timer> timer = timer_.lock();
    if (!timer) {
        timer = std::make_shared<Timer>(Timer{boost::asio::steady_timer(io_)});
        timer_ = timer;
    }
    armedFor_ = due;
    timer->timer.expires_at(due);
    timer->timer.async_wait([this, timer](const boost::system::error_code& ec) {
        if (!ec) OnTimer();
    });
}

void TickDriver::OnTimer() {
    armedFor_.reset();
    const ServerTime now = ServerClock::now();
    const TickTally tally = queue_.RunBeat(now);
    counts_.Ticked(tally.ticks, tally.late, ServerClock::now() - now);
    const std::optional<ServerTime> next = queue_.NextDue();
    if (!next) return;
    if (*next > now) return Arm(*next);
    // A beat already due (the thread is behind) comes next, after the
    // handlers already waiting: among them this beat's frames going out.
    armedFor_ = *next;
    boost::asio::post(io_, [this] { OnTimer(); });
}

}  // namespace kestrel
