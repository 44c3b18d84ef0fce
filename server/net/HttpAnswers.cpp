#include "server/net/HttpAnswers.h"

#include "server/base/Log.h"

namespace kestrel {

TextReply TextResponse(const Request& request, http::status status, std::string body, std::string_view type) {
    TextReply response{status, request.version()};
    response.set(http::field::server, SERVER_NAME);
    response.set(http::field::content_type, type);
    response.set(http::field::cache_control, "no-store");
    response.keep_alive(request.keep_alive());
    response.body() = std::move(body);
    response.prepare_payload();
    if (request.method() == http::verb::head) response.body().clear();
    return response;
}

TextReply ErrorResponse(const Request& request, http::status status, std::string_view why) {
    return TextResponse(request, status, std::string(why) + "\n");
}

TextReply RefusalResponse(const Request& request, const Refusal& refusal) {
    const RefusalTerms& terms = TermsOf(refusal.kind);
    TextReply response = ErrorResponse(request, http::int_to_status(unsigned(terms.status)), refusal.reason);
    response.set(REFUSAL_HEADER, terms.token);
    if (refusal.retryAfter.count() > 0) response.set(http::field::retry_after, std::to_string(refusal.retryAfter.count()));
    return response;
}

TextReply NotAllowed(const Request& request, std::string_view allowed) {
    TextReply response = ErrorResponse(request, http::status::method_not_allowed,
                                        std::string(request.method_string()) + " is not answered here; use " +
                                            std::string(allowed));
    response.set(http::field::allow, allowed);
    return response;
}

bool Reads(const Request& request) {
    return request.method() == http::verb::get || request.method() == http::verb::head;
}

namespace {

std::optional<std::string_view> ValueOf(const Request& request, http::fields::const_iterator found) {
    if (found == request.end()) return std::nullopt;
    return std::string_view(found->value().data(), found->value().size());
}

}  // namespace

std::optional<std::string_view> HeaderValue(const Request& request, http::field field) {
    return ValueOf(request, request.find(field));
}

std::optional<std::string_view> HeaderValue(const Request& request, std::string_view name) {
    return ValueOf(request, request.find(name));
}

}  // namespace kestrel
