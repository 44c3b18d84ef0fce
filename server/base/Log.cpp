#include "server/base/Log.h"

#include <ostream>

namespace kestrel {

void Log::Line(std::string_view text) const { out_ << SERVER_NAME << ": " << text << std::endl; }

void Log::Room(std::string_view id, std::string_view text) const {
    out_ << SERVER_NAME << ": room " << id << ": " << text << std::endl;
}

}  // namespace kestrel
