#pragma once
// A JSON object written a member at a time, through nlohmann's JSON
// library: its members in the order added. Enough for the server's
// answers, which are objects of counts, links and lists of ids.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel {

class JsonObject {
public:
    JsonObject();
    ~JsonObject();
    JsonObject(const JsonObject& other);
    JsonObject& operator=(const JsonObject& other);

    JsonObject& Add(std::string_view name, std::uint64_t value);
    JsonObject& Add(std::string_view name, std::string_view text);
    JsonObject& Add(std::string_view name, const JsonObject& object);
    JsonObject& Add(std::string_view name, const std::vector<std::string>& texts);
    JsonObject& Add(std::string_view name, const std::vector<JsonObject>& objects);
    JsonObject& AddFlag(std::string_view name, bool flag);
    // The object, "{...}".
    std::string Text() const;

private:
    struct Members;
    std::unique_ptr<Members> members_;
};

}  // namespace kestrel
