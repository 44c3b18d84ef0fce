#pragma once
// A value, or why there is none: what the readers and openers of links,
// recordings, rooms' files and options answer, so that a caller tells a
// failure by one test and reads its reason in words.

#include <string>
#include <utility>
#include <variant>

namespace kestrel {

struct Failure {
    std::string why;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : held_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : held_(std::in_place_index<1>, std::move(failure)) {}

    bool Ok() const { return held_.index() == 0; }
    explicit operator bool() const { return Ok(); }
    // The value; only when Ok().
    T& operator*() & { return std::get<0>(held_); }
    const T& operator*() const& { return std::get<0>(held_); }
    T&& operator*() && { return std::get<0>(std::move(held_)); }
    T* operator->() { return &std::get<0>(held_); }
    const T* operator->() const { return &std::get<0>(held_); }
    // Why there is no value; only when not Ok().
    const std::string& Why() const { return std::get<1>(held_).why; }

private:
    std::variant<T, Failure> held_;
};

}  // namespace kestrel
