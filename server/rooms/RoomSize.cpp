#include "server/rooms/RoomSize.h"

#include <string>

#include <nlohmann/json.hpp>

namespace kestrel {

Result<RoomSize> ReadRoomSize(std::string_view body, int maxSide) {
    RoomSize size;
    if (body.find_first_not_of(" \t\r\n") == std::string_view::npos) return size;
    const nlohmann::json asked = nlohmann::json::parse(body, nullptr, false);
    if (!asked.is_object()) return Failure{"the body should be {\"width\": W, \"height\": H}"};
    for (const auto& [name, value] : asked.items()) {
        int* side = name == "width" ? &size.width : name == "height" ? &size.height : nullptr;
        if (!side) return Failure{"unknown field \"" + name + "\": only width and height are read"};
        if (!value.is_number_integer() || value.get<long long>() < 1 || value.get<long long>() > maxSide)
            return Failure{name + " must be a whole number from 1 to " + std::to_string(maxSide)};
        *side = value.get<int>();
    }
    return size;
}

}  // namespace kestrel
