#include "server/Json.h"

#include <cstdio>

namespace kestrel {

std::string JsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", unsigned(c));
            out += escape;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

void JsonObject::Name(std::string_view name) {
    if (!members_.empty()) members_ += ", ";
    members_ += JsonString(name) + ": ";
}

JsonObject& JsonObject::Add(std::string_view name, std::uint64_t value) {
    Name(name);
    members_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view name, std::string_view text) {
    Name(name);
    members_ += JsonString(text);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view name, const JsonObject& object) {
    Name(name);
    members_ += object.Text();
    return *this;
}

}  // namespace kestrel
