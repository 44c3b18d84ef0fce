#pragma once
// The server's HTTP answers: text, a refusal as its status, a method not
// answered.

#include <optional>
#include <string>
#include <string_view>

#include "server/net/Beast.h"
#include "server/base/Refusal.h"

namespace kestrel {

using TextReply = http::response<http::string_body>;

// A HEAD is answered with the headers alone.
TextReply TextResponse(const Request& request, http::status status, std::string body,
                        std::string_view type = "text/plain; charset=utf-8");
TextReply ErrorResponse(const Request& request, http::status status, std::string_view why);
// A refusal's status, kind (in its header) and reason, and Retry-After
// for one that may pass.
TextReply RefusalResponse(const Request& request, const Refusal& refusal);
TextReply NotAllowed(const Request& request, std::string_view allowed);

bool Reads(const Request& request);
std::optional<std::string_view> HeaderValue(const Request& request, http::field field);
std::optional<std::string_view> HeaderValue(const Request& request, std::string_view name);

}  // namespace kestrel
