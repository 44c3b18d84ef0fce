// Answers from files, sent by an HTTP session: the site's files and the
// rooms' recordings, each read as it goes out, or for HEAD its headers
// alone. Beast's file writer compiles here, beside the session's other
// answers.

#include "server/net/HttpReply.h"
#include "server/net/Site.h"

namespace kestrel {
namespace {

using FileReply = http::response<http::file_body>;

// A recording is a kestrel-trace script.
constexpr std::string_view RECORDING_ANSWER_TYPE = "text/plain; charset=utf-8";

template <class Response>
Response WithFileHeaders(Response response, const Request& request, std::string_view type, std::uint64_t size) {
    response.set(http::field::server, SERVER_NAME);
    response.set(http::field::content_type, type);
    response.set(http::field::cache_control, "no-cache");
    response.set("X-Content-Type-Options", "nosniff");
    response.keep_alive(request.keep_alive());
    response.content_length(size);
    return response;
}

}  // namespace

// An answer and the writer that reads it out, kept together while it goes.
struct HttpSession::FileStream {
    explicit FileStream(FileReply&& answer) : response(std::move(answer)) {}
    FileReply response;
    http::response_serializer<http::file_body> serializer{response};
};

void HttpSession::ServeFile(const Request& request, std::string_view path) {
    const std::optional<std::filesystem::path> file = state_.Site() ? SiteFile(*state_.Site(), path) : std::nullopt;
    http::file_body::value_type body;
    beast::error_code ec;
    if (file) body.open(file->c_str(), beast::file_mode::scan, ec);
    if (!file || ec) return Reply(ErrorResponse(request, http::status::not_found, "not found"));
    SendFile(request, std::move(body), MimeType(*file));
}

// The answer ends where the file ended when it was opened: a playing room
// appends to it only between two of the server's turns, at a whole write.
void HttpSession::ServeRecording(const Request& request, const std::filesystem::path& file) {
    http::file_body::value_type body;
    beast::error_code ec;
    std::error_code kind;  // a folder where the file should be opens, but does not read
    if (std::filesystem::is_regular_file(file, kind)) body.open(file.c_str(), beast::file_mode::scan, ec);
    if (ec || !body.is_open())
        return Reply(ErrorResponse(request, http::status::internal_server_error, "the recording cannot be read"));
    SendFile(request, std::move(body), RECORDING_ANSWER_TYPE);
}

void HttpSession::SendFile(const Request& request, http::file_body::value_type&& body, std::string_view type) {
    const std::uint64_t size = body.size();
    if (request.method() == http::verb::head)
        return Reply(WithFileHeaders(http::response<http::empty_body>{http::status::ok, request.version()}, request,
                                     type, size));
    FileReply answer{std::piecewise_construct, std::make_tuple(std::move(body)),
                      std::make_tuple(http::status::ok, request.version())};
    WritePiece(std::make_shared<FileStream>(WithFileHeaders(std::move(answer), request, type, size)));
}

// A piece at a time, each within the timeout: a client that reads slowly
// gets the whole file, one that stops reading is let go, and meanwhile the
// answer holds the file writer's small buffer, never the file.
void HttpSession::WritePiece(std::shared_ptr<FileStream> stream) {
    stream_.expires_after(HTTP_TIMEOUT);
    http::async_write_some(stream_, stream->serializer,
                           [self = shared_from_this(), stream](beast::error_code ec, std::size_t) {
                               if (ec) return self->state_.Failed("an answer from a file", ec);
                               if (!stream->serializer.is_done()) return self->WritePiece(stream);
                               if (stream->response.need_eof()) return self->Shut();
                               self->Read();
                           });
}

}  // namespace kestrel
