#include "server/rooms/RoomBuilder.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/post.hpp>

namespace kestrel {

RoomBuilder::RoomBuilder(boost::asio::io_context& io) : io_(io), worker_([this] { Work(); }) {}

RoomBuilder::~RoomBuilder() { Stop(); }

void RoomBuilder::Add(Make make, Done done) {
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) return;
        orders_.push_back({std::move(make), std::move(done)});
    }
    wake_.notify_one();
}

void RoomBuilder::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        orders_.clear();
    }
    wake_.notify_one();
    if (worker_.joinable()) worker_.join();
}

void RoomBuilder::Work() {
    for (;;) {
        Order order;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !orders_.empty(); });
            if (stopping_) return;
            order = std::move(orders_.front());
            orders_.pop_front();
        }
        const auto began = std::chrono::steady_clock::now();
        Built built = order.make();
        if (built)
            built->took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - began);
        // The room goes to the server's thread whole; the worker keeps nothing of it.
        auto posted = std::make_shared<Built>(std::move(built));
        boost::asio::post(io_, [done = std::move(order.done), posted] { done(std::move(*posted)); });
    }
}

}  // namespace kestrel
