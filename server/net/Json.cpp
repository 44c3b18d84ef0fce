#include "server/net/Json.h"

#include <nlohmann/json.hpp>

namespace kestrel {

struct JsonObject::Members {
    nlohmann::ordered_json value = nlohmann::ordered_json::object();
};

JsonObject::JsonObject() : members_(std::make_unique<Members>()) {}
JsonObject::~JsonObject() = default;
JsonObject::JsonObject(const JsonObject& other) : members_(std::make_unique<Members>(*other.members_)) {}
JsonObject& JsonObject::operator=(const JsonObject& other) {
    *members_ = *other.members_;
    return *this;
}

JsonObject& JsonObject::Add(std::string_view name, std::uint64_t value) {
    members_->value[std::string(name)] = value;
    return *this;
}

JsonObject& JsonObject::Add(std::string_view name, std::string_view text) {
    members_->value[std::string(name)] = std::string(text);
    return *this;
}

JsonObject& JsonObject::Add(std::string_view name, const JsonObject& object) {
    members_->value[std::string(name)] = object.members_->value;
    return *this;
}

JsonObject& JsonObject::Add(std::string_view name, const std::vector<std::string>& texts) {
    members_->value[std::string(name)] = texts;
    return *this;
}

JsonObject& JsonObject::Add(std::string_view name, const std::vector<JsonObject>& objects) {
    nlohmann::ordered_json& list = members_->value[std::string(name)] = nlohmann::ordered_json::array();
    for (const JsonObject& object : objects) list.push_back(object.members_->value);
    return *this;
}

JsonObject& JsonObject::AddFlag(std::string_view name, bool flag) {
    members_->value[std::string(name)] = flag;
    return *this;
}

// Text that is not UTF-8 (a Host header's bytes, say) is written with the
// replacement character rather than refused.
std::string JsonObject::Text() const {
    return members_->value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace kestrel
