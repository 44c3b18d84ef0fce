// The site's files, answered by an HTTP session: the file's bytes, or for
// HEAD its headers alone. Beast's file writer compiles here, beside the
// session's other answers.

#include "server/HttpReply.h"
#include "server/Site.h"

namespace kestrel {
namespace {

template <class Response>
Response WithFileHeaders(Response response, const Request& request, const std::filesystem::path& file,
                         std::uint64_t size) {
    response.set(http::field::server, SERVER_NAME);
    response.set(http::field::content_type, MimeType(file));
    response.set(http::field::cache_control, "no-cache");
    response.set("X-Content-Type-Options", "nosniff");
    response.keep_alive(request.keep_alive());
    response.content_length(size);
    return response;
}

}  // namespace

void HttpSession::ServeFile(const Request& request, std::string_view path) {
    const std::optional<std::filesystem::path> file = state_.Site() ? SiteFile(*state_.Site(), path) : std::nullopt;
    http::file_body::value_type body;
    beast::error_code ec;
    if (file) body.open(file->c_str(), beast::file_mode::scan, ec);
    if (!file || ec) return Reply(ErrorResponse(request, http::status::not_found, "not found"));
    const std::uint64_t size = body.size();
    if (request.method() == http::verb::head)
        return Reply(WithFileHeaders(http::response<http::empty_body>{http::status::ok, request.version()}, request,
                                 *file, size));
    Reply(WithFileHeaders(http::response<http::file_body>{std::piecewise_construct, std::make_tuple(std::move(body)),
                                                      std::make_tuple(http::status::ok, request.version())},
                      request, *file, size));
}

}  // namespace kestrel
