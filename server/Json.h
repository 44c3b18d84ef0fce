#pragma once
// A JSON object written a member at a time: names and texts escaped as
// JSON wants, numbers as integers. Enough for the server's answers, which
// are flat objects of counts and links.

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel {

class JsonObject {
public:
    JsonObject& Add(std::string_view name, std::uint64_t value);
    JsonObject& Add(std::string_view name, std::string_view text);
    JsonObject& Add(std::string_view name, const JsonObject& object);
    // The object, "{...}".
    std::string Text() const { return "{" + members_ + "}"; }

private:
    void Name(std::string_view name);

    std::string members_;
};

// `text` as a JSON string, quotes included.
std::string JsonString(std::string_view text);

}  // namespace kestrel
