#include "server/Server.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include "server/RandomId.h"
#include "server/Requests.h"
#include "server/Room.h"
#include "server/RoomFiles.h"
#include "server/Site.h"

namespace kestrel {
namespace {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;
using Request = http::request<http::string_body>;

constexpr std::string_view PROGRAM = "kestrel-server";
constexpr std::string_view LOOPBACK = "127.0.0.1";
constexpr auto TICK = std::chrono::milliseconds(TICK_MS);
// A tick sent later than this after its deadline counts as late.
constexpr auto LATE_AFTER = std::chrono::milliseconds(5);
// A room's clock further behind than this (the process was stopped, the
// machine slept) starts again from now rather than racing to catch up.
constexpr auto MAX_CATCH_UP = std::chrono::seconds(1);
// Frames waiting for a screen's socket: about six seconds of ticks. A screen
// that falls further behind is dropped and may join again.
constexpr std::size_t MAX_QUEUED_FRAMES = 256;
constexpr auto HTTP_TIMEOUT = std::chrono::seconds(30);
constexpr std::uint32_t MAX_HEADER_BYTES = 8 * 1024;
// An empty room is closed after this long.
constexpr auto ROOM_IDLE_LIMIT = std::chrono::minutes(10);
constexpr auto CREATION_WINDOW = std::chrono::minutes(1);
// A POST /rooms body of this type is a recording to start the room from.
constexpr std::string_view RECORDING_TYPE = "text/plain";
// RFC 6455 allows 123 bytes of reason in a close frame.
constexpr std::size_t MAX_CLOSE_REASON_BYTES = 123;

class Server;
class LiveRoom;

// A reason as a close frame carries it: printable ASCII, short enough.
std::string CloseReason(std::string_view text) {
    std::string reason;
    for (const char c : text.substr(0, MAX_CLOSE_REASON_BYTES)) reason += (c >= ' ' && c <= '~') ? c : '?';
    return reason;
}

bool SameKey(std::string_view given, std::string_view key) {
    // Compared in full whatever the first difference, so the time taken
    // tells nothing of the key.
    if (given.size() != key.size()) return false;
    unsigned char differ = 0;
    for (std::size_t i = 0; i < key.size(); ++i) differ |= static_cast<unsigned char>(given[i] ^ key[i]);
    return differ == 0;
}

// One connection counted against its address for as long as it is held.
class AddressTicket {
public:
    AddressTicket(std::map<std::string, int>& counts, std::string address)
        : counts_(counts), address_(std::move(address)) {
        ++counts_[address_];
    }
    ~AddressTicket() {
        if (--counts_[address_] == 0) counts_.erase(address_);
    }
    AddressTicket(const AddressTicket&) = delete;
    AddressTicket& operator=(const AddressTicket&) = delete;
    const std::string& Address() const { return address_; }

private:
    std::map<std::string, int>& counts_;
    std::string address_;
};

struct Stats {
    std::uint64_t ticks = 0;      // of every room
    std::uint64_t lateTicks = 0;  // sent more than LATE_AFTER after their time
    std::uint64_t closedRoomMismatches = 0;
    std::uint64_t closedRoomHashesChecked = 0;
    std::uint64_t dropped = 0;  // screens too slow for their queue
    std::uint64_t refused = 0;  // screens closed for what they sent
};

// A screen in a room: its WebSocket, one write outstanding at a time and
// a bounded queue of frames behind it.
class LiveSession : public std::enable_shared_from_this<LiveSession> {
public:
    LiveSession(Server& server, beast::tcp_stream&& stream, std::shared_ptr<LiveRoom> room, bool mayPlay,
                std::shared_ptr<AddressTicket> ticket)
        : server_(server), ws_(std::move(stream)), room_(std::move(room)), mayPlay_(mayPlay),
          ticket_(std::move(ticket)) {}
    ~LiveSession() { Leave(); }

    void Start(Request request);
    void Send(std::shared_ptr<const std::string> frame);
    void Drop();

private:
    void OnAccept(beast::error_code ec);
    void Read();
    void OnRead(beast::error_code ec);
    void Write();
    void OnWrite(beast::error_code ec);
    void Refuse(websocket::close_code code, std::string_view reason);
    void SendClose();
    void Leave();

    Server& server_;
    websocket::stream<beast::tcp_stream> ws_;
    std::shared_ptr<LiveRoom> room_;
    bool mayPlay_;
    std::shared_ptr<AddressTicket> ticket_;
    Request upgrade_;
    beast::flat_buffer buffer_;
    std::deque<std::shared_ptr<const std::string>> queue_;
    ClientId client_ = 0;
    bool joined_ = false, writing_ = false, closing_ = false;
    websocket::close_reason closeReason_;
};

// A room and its clock: a tick every TICK on deadlines counted from the
// room's start, each tick's frame sent to every screen in it.
class LiveRoom : public std::enable_shared_from_this<LiveRoom> {
public:
    LiveRoom(Server& server, net::io_context& io, std::string id, std::string key, const RoomStart& start,
             const std::filesystem::path& file)
        : room(GameRandom::FromClock(), start, file), id(std::move(id)), key(std::move(key)),
          server_(server), timer_(io) {}

    void Start() {
        start_ = Clock::now();
        Schedule();
    }
    void Stop() {
        stopped_ = true;
        timer_.cancel();
    }
    void Broadcast(const std::shared_ptr<const std::string>& frame) {
        // Sending may drop a screen, which changes the set.
        std::vector<std::shared_ptr<LiveSession>> screens;
        for (LiveSession* s : sessions) screens.push_back(s->shared_from_this());
        for (const auto& s : screens) s->Send(frame);
    }
    void BroadcastPeople() { Broadcast(std::make_shared<const std::string>(room.PeopleNotice())); }

    Room room;
    const std::string id, key;
    std::set<LiveSession*> sessions;

private:
    Clock::time_point Deadline() const { return start_ + TICK * (ticksSinceStart_ + 1); }
    void Schedule() {
        timer_.expires_at(Deadline());
        timer_.async_wait([self = shared_from_this()](beast::error_code ec) { self->OnTimer(ec); });
    }
    void OnTimer(beast::error_code ec);

    Server& server_;
    net::steady_timer timer_;
    Clock::time_point start_;
    std::uint64_t ticksSinceStart_ = 0;
    std::optional<Clock::time_point> emptySince_;
    bool stopped_ = false;
    bool reportedUnwritable_ = false;
};

// One HTTP connection: requests answered in turn, until it becomes a
// room's WebSocket or closes.
class HttpSession : public std::enable_shared_from_this<HttpSession> {
public:
    HttpSession(Server& server, tcp::socket&& socket, std::shared_ptr<AddressTicket> ticket)
        : server_(server), stream_(std::move(socket)), ticket_(std::move(ticket)) {}
    void Run() { Read(); }

private:
    void Read();
    void OnRead(beast::error_code ec);
    void Answer(Request request);
    void AnswerRoom(const Request& request, const RoomPath& path);
    void ServeFile(const Request& request, std::string_view path);
    void Upgrade(Request request);
    template <class Body>
    void Reply(http::response<Body>&& response);
    void Shut();

    Server& server_;
    beast::tcp_stream stream_;
    std::shared_ptr<AddressTicket> ticket_;
    beast::flat_buffer buffer_;
    std::optional<http::request_parser<http::string_body>> parser_;
};

class Server {
public:
    Server(const ServerOptions& options, std::ostream& out, std::ostream& err)
        : options_(options), out_(out), log_(err), io_(std::make_unique<net::io_context>(1)) {}
    ~Server() {
        // Sockets, timers and handlers go before the context they run on.
        stopping_ = true;
        acceptor_.reset();
        signals_.reset();
        // The rooms go on at the next start, from their files.
        for (auto& [id, room] : rooms_) {
            room->room.Flush();
            room->Stop();
        }
        rooms_.clear();
        io_.reset();
        if (privateData_) {
            std::error_code ec;
            std::filesystem::remove_all(dataDir_, ec);
        }
    }

    int Run();

    // What sessions and rooms need of the server.
    std::ostream& Log() { return log_ << PROGRAM << ": "; }
    const ServerLimits& Limits() const { return options_.limits; }
    bool Stopping() const { return stopping_; }
    Stats& Counts() { return stats_; }
    std::shared_ptr<LiveRoom> FindRoom(std::string_view id) const {
        const auto found = rooms_.find(std::string(id));
        return found == rooms_.end() ? nullptr : found->second;
    }
    void CloseRoom(const std::string& id);
    http::response<http::string_body> CreateRoom(const Request& request, const std::string& address);
    // A room that is not playing but kept on disk (it ended, or could not be
    // resumed): its record, and its recording.
    std::optional<RoomRecord> KeptRoom(std::string_view id) const;
    std::optional<std::string> KeptRecording(std::string_view id) const;
    std::string StatusJson() const;
    const std::optional<std::filesystem::path>& Site() const { return site_; }

private:
    bool Prepare();
    void ResumeRooms();
    void Accept();
    bool MayCreateRoom(const std::string& address);

    ServerOptions options_;
    std::ostream& out_;
    std::ostream& log_;
    Stats stats_;
    std::map<std::string, int> connections_;  // per address
    std::map<std::string, std::deque<Clock::time_point>> creations_;  // per address, the last minute's
    std::unordered_map<std::string, std::shared_ptr<LiveRoom>> rooms_;
    std::optional<std::filesystem::path> site_;
    std::filesystem::path dataDir_;
    bool privateData_ = false;
    bool stopping_ = false;
    // Last, so that it is built first; the destructor takes it down by hand.
    std::unique_ptr<net::io_context> io_;
    std::optional<tcp::acceptor> acceptor_;
    std::optional<net::signal_set> signals_;
};

// --- Responses ---------------------------------------------------------

http::response<http::string_body> TextResponse(const Request& request, http::status status, std::string body,
                                               std::string_view type = "text/plain; charset=utf-8") {
    http::response<http::string_body> response{status, request.version()};
    response.set(http::field::server, PROGRAM);
    response.set(http::field::content_type, type);
    response.set(http::field::cache_control, "no-store");
    response.keep_alive(request.keep_alive());
    response.body() = std::move(body);
    response.prepare_payload();
    if (request.method() == http::verb::head) response.body().clear();
    return response;
}

http::response<http::string_body> ErrorResponse(const Request& request, http::status status, std::string why) {
    return TextResponse(request, status, std::move(why) + "\n");
}

http::response<http::string_body> NotAllowed(const Request& request, std::string_view allowed) {
    auto response = ErrorResponse(request, http::status::method_not_allowed,
                                  std::string(request.method_string()) + " is not answered here; use " +
                                      std::string(allowed));
    response.set(http::field::allow, allowed);
    return response;
}

bool Reads(const Request& request) {
    return request.method() == http::verb::get || request.method() == http::verb::head;
}

std::optional<std::string_view> HeaderValue(const Request& request, http::field field) {
    const auto found = request.find(field);
    if (found == request.end()) return std::nullopt;
    return std::string_view(found->value().data(), found->value().size());
}

std::string HostOf(const Request& request) {
    const std::optional<std::string_view> host = HeaderValue(request, http::field::host);
    return host ? std::string(*host) : std::string();
}

// --- LiveSession -------------------------------------------------------

void LiveSession::Start(Request request) {
    upgrade_ = std::move(request);
    ws_.set_option(websocket::stream_base::timeout::suggested(beast::role_type::server));
    ws_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(http::field::server, PROGRAM); }));
    // An oversize frame is refused from its header, before it is buffered.
    ws_.read_message_max(MAX_CLIENT_FRAME_BYTES);
    beast::get_lowest_layer(ws_).expires_never();
    ws_.async_accept(upgrade_, [self = shared_from_this()](beast::error_code ec) { self->OnAccept(ec); });
}

void LiveSession::OnAccept(beast::error_code ec) {
    if (ec || server_.Stopping()) return;
    client_ = room_->room.Join(mayPlay_);
    joined_ = true;
    room_->sessions.insert(this);
    Send(std::make_shared<const std::string>(room_->room.JoinedNotice()));
    room_->BroadcastPeople();
    Send(std::make_shared<const std::string>(room_->room.JoinText()));
    Read();
}

void LiveSession::Read() {
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
}

void LiveSession::OnRead(beast::error_code ec) {
    if (ec) {
        // Closed, dropped, or failed by the stream itself (an oversize
        // frame is answered with 1009 by the stream).
        Leave();
        return;
    }
    if (closing_) return;
    if (!ws_.got_text()) {
        Refuse(websocket::close_code::unknown_data, "binary frames are not read here: send text lines");
        return;
    }
    const std::string frame = beast::buffers_to_string(buffer_.data());
    buffer_.consume(buffer_.size());
    const RoomAnswer answer = room_->room.Receive(client_, frame);
    if (!answer.refusal.empty()) {
        Refuse(websocket::close_code::policy_error, answer.refusal);
        return;
    }
    if (answer.mismatchAt) {
        server_.Log() << "room " << room_->id << ": a screen's hash for tick " << *answer.mismatchAt
                      << " differs from the room's" << std::endl;
        Send(std::make_shared<const std::string>(WriteNotice({NoticeKind::Mismatch, *answer.mismatchAt})));
    }
    if (answer.leaves) {
        Refuse(websocket::close_code::normal, "left with Esc");
        return;
    }
    Read();
}

void LiveSession::Send(std::shared_ptr<const std::string> frame) {
    if (closing_ || !joined_) return;
    if (queue_.size() >= MAX_QUEUED_FRAMES) {
        ++server_.Counts().dropped;
        server_.Log() << "room " << room_->id << ": dropped a screen that fell " << MAX_QUEUED_FRAMES
                      << " frames behind" << std::endl;
        Drop();
        return;
    }
    queue_.push_back(std::move(frame));
    if (!writing_) Write();
}

void LiveSession::Write() {
    writing_ = true;
    ws_.text(true);
    ws_.async_write(net::buffer(*queue_.front()),
                    [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnWrite(ec); });
}

void LiveSession::OnWrite(beast::error_code ec) {
    writing_ = false;
    queue_.pop_front();
    if (ec) {
        Drop();
        return;
    }
    if (closing_) {
        SendClose();
        return;
    }
    if (!queue_.empty()) Write();
}

// The room plays on without this screen; it is told why it goes.
void LiveSession::Refuse(websocket::close_code code, std::string_view reason) {
    if (closing_) return;
    if (code != websocket::close_code::normal) {
        ++server_.Counts().refused;
        server_.Log() << "room " << room_->id << ": closed a screen (" << int(code) << "): " << reason << std::endl;
    }
    closing_ = true;
    Leave();
    // The frame being written stays until its write ends; the rest are not sent.
    while (queue_.size() > (writing_ ? 1u : 0u)) queue_.pop_back();
    closeReason_ = websocket::close_reason(code, CloseReason(reason));
    if (!writing_) SendClose();
}

void LiveSession::SendClose() {
    ws_.async_close(closeReason_, [self = shared_from_this()](beast::error_code) {});
}

void LiveSession::Drop() {
    closing_ = true;
    Leave();
    beast::error_code ignored;
    beast::get_lowest_layer(ws_).socket().close(ignored);
}

void LiveSession::Leave() {
    if (!joined_) return;
    joined_ = false;
    room_->sessions.erase(this);
    room_->room.Leave(client_);
    if (!server_.Stopping()) room_->BroadcastPeople();
}

// --- LiveRoom ----------------------------------------------------------

void LiveRoom::OnTimer(beast::error_code ec) {
    if (ec || stopped_ || server_.Stopping()) return;
    const Clock::time_point deadline = Deadline();
    ++ticksSinceStart_;
    Broadcast(std::make_shared<const std::string>(room.Tick()));
    if (!room.RecordingWritable() && !reportedUnwritable_) {
        reportedUnwritable_ = true;
        server_.Log() << "room " << id << ": its recording file cannot be written" << std::endl;
    }
    const Clock::time_point now = Clock::now();
    ++server_.Counts().ticks;
    if (now - deadline > LATE_AFTER) ++server_.Counts().lateTicks;
    if (now - deadline > MAX_CATCH_UP) {
        start_ = now;
        ticksSinceStart_ = 0;
    }
    if (!sessions.empty()) {
        emptySince_.reset();
    } else if (!emptySince_) {
        emptySince_ = now;
    } else if (now - *emptySince_ > ROOM_IDLE_LIMIT) {
        server_.CloseRoom(id);
        return;
    }
    Schedule();
}

// --- HttpSession -------------------------------------------------------

void HttpSession::Read() {
    parser_.emplace();
    parser_->header_limit(MAX_HEADER_BYTES);
    parser_->body_limit(MAX_ROOM_REQUEST_BYTES);
    stream_.expires_after(HTTP_TIMEOUT);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
}

void HttpSession::OnRead(beast::error_code ec) {
    if (ec == http::error::end_of_stream) return Shut();
    if (ec == http::error::body_limit || ec == http::error::header_limit) {
        Request request;
        request.keep_alive(false);
        Reply(ErrorResponse(request,
                            ec == http::error::body_limit ? http::status::payload_too_large
                                                          : http::status::request_header_fields_too_large,
                            "the request is too large"));
        return;
    }
    if (ec == beast::error::timeout || ec == net::error::operation_aborted || ec == net::error::connection_reset ||
        ec == net::error::eof)
        return;
    if (ec) {
        Request request;
        request.keep_alive(false);
        Reply(ErrorResponse(request, http::status::bad_request, "the request cannot be read"));
        return;
    }
    Request request = parser_->release();
    if (websocket::is_upgrade(request)) return Upgrade(std::move(request));
    Answer(std::move(request));
}

void HttpSession::Upgrade(Request request) {
    const auto refuse = [&](http::status status, std::string why) {
        Reply(ErrorResponse(request, status, std::move(why)));
    };
    if (!SameOrigin(HeaderValue(request, http::field::origin), HostOf(request)))
        return refuse(http::status::forbidden, "the page's origin is not this server's");
    const Target target = SplitTarget(request.target());
    const std::optional<RoomPath> path = ReadRoomPath(target.path);
    if (!path || path->what != "socket") return refuse(http::status::not_found, "no socket here");
    const std::shared_ptr<LiveRoom> room = server_.FindRoom(path->room);
    if (!room) {
        const std::optional<RoomRecord> kept = server_.KeptRoom(path->room);
        if (kept && kept->ended) return refuse(http::status::gone, "the room has ended; its recording is kept");
        return refuse(http::status::not_found, "no such room");
    }
    const std::optional<std::string_view> key = QueryValue(target.query, "key");
    if (key && !SameKey(*key, room->key)) return refuse(http::status::forbidden, "that is not the room's play key");
    if (room->sessions.size() >= std::size_t(server_.Limits().connectionsPerRoom))
        return refuse(http::status::service_unavailable, "the room is full");
    std::make_shared<LiveSession>(server_, std::move(stream_), room, key.has_value(), std::move(ticket_))
        ->Start(std::move(request));
}

void HttpSession::Answer(Request request) {
    const Target target = SplitTarget(request.target());
    if (target.path == "/rooms") {
        if (request.method() != http::verb::post) return Reply(NotAllowed(request, "POST"));
        return Reply(server_.CreateRoom(request, ticket_->Address()));
    }
    if (target.path == "/status") {
        if (!Reads(request)) return Reply(NotAllowed(request, "GET, HEAD"));
        return Reply(TextResponse(request, http::status::ok, server_.StatusJson(), "application/json"));
    }
    if (const std::optional<RoomPath> path = ReadRoomPath(target.path)) return AnswerRoom(request, *path);
    if (!Reads(request)) return Reply(NotAllowed(request, "GET, HEAD"));
    ServeFile(request, target.path);
}

void HttpSession::AnswerRoom(const Request& request, const RoomPath& path) {
    const std::shared_ptr<LiveRoom> room = server_.FindRoom(path.room);
    if ((!room && !server_.KeptRoom(path.room)) || (path.what != "recording" && path.what != "socket"))
        return Reply(ErrorResponse(request, http::status::not_found, "no such room"));
    if (!Reads(request)) return Reply(NotAllowed(request, "GET, HEAD"));
    if (path.what == "socket")
        return Reply(ErrorResponse(request, http::status::upgrade_required, "this is a WebSocket"));
    // An ended room's recording comes from its file, as long as it is kept.
    std::optional<std::string> recording = room ? room->room.Recording() : server_.KeptRecording(path.room);
    if (!recording)
        return Reply(ErrorResponse(request, http::status::payload_too_large,
                                   "the recording is longer than a replay reads"));
    Reply(TextResponse(request, http::status::ok, std::move(*recording)));
}

void HttpSession::ServeFile(const Request& request, std::string_view path) {
    const std::optional<std::filesystem::path> file = server_.Site() ? SiteFile(*server_.Site(), path) : std::nullopt;
    http::file_body::value_type body;
    beast::error_code ec;
    if (file) body.open(file->c_str(), beast::file_mode::scan, ec);
    if (!file || ec) return Reply(ErrorResponse(request, http::status::not_found, "not found"));
    const auto withHeaders = [&](auto response, std::uint64_t size) {
        response.set(http::field::server, PROGRAM);
        response.set(http::field::content_type, MimeType(*file));
        response.set(http::field::cache_control, "no-cache");
        response.set("X-Content-Type-Options", "nosniff");
        response.keep_alive(request.keep_alive());
        response.content_length(size);
        return response;
    };
    const std::uint64_t size = body.size();
    if (request.method() == http::verb::head)
        return Reply(withHeaders(http::response<http::empty_body>{http::status::ok, request.version()}, size));
    Reply(withHeaders(http::response<http::file_body>{std::piecewise_construct, std::make_tuple(std::move(body)),
                                                      std::make_tuple(http::status::ok, request.version())},
                      size));
}

template <class Body>
void HttpSession::Reply(http::response<Body>&& response) {
    auto kept = std::make_shared<http::response<Body>>(std::move(response));
    stream_.expires_after(HTTP_TIMEOUT);
    http::async_write(stream_, *kept, [self = shared_from_this(), kept](beast::error_code ec, std::size_t) {
        if (ec) return;
        if (kept->need_eof()) return self->Shut();
        self->Read();
    });
}

void HttpSession::Shut() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
}

// --- Server ------------------------------------------------------------

bool Server::Prepare() {
    std::error_code ec;
    if (!options_.site.empty()) {
        const std::filesystem::path site = std::filesystem::canonical(options_.site, ec);
        if (ec || !std::filesystem::is_directory(site, ec)) {
            Log() << "--site " << options_.site << ": not a folder" << std::endl;
            return false;
        }
        site_ = site;
    }
    if (options_.data.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path(ec) / "kestrel-server-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            Log() << "cannot make a temporary folder for the recordings" << std::endl;
            return false;
        }
        dataDir_ = pattern;
        privateData_ = true;
    } else {
        dataDir_ = options_.data;
        std::filesystem::create_directories(dataDir_, ec);
        if (!std::filesystem::is_directory(dataDir_, ec)) {
            Log() << "--data " << options_.data << ": not a folder that can be made" << std::endl;
            return false;
        }
    }
    return true;
}

int Server::Run() {
    if (!Prepare()) return EXIT_BAD_SERVER_START;
    beast::error_code ec;
    const tcp::endpoint endpoint(net::ip::make_address(LOOPBACK), static_cast<unsigned short>(options_.port));
    acceptor_.emplace(*io_);
    acceptor_->open(endpoint.protocol(), ec);
    if (!ec) acceptor_->set_option(net::socket_base::reuse_address(true), ec);
    if (!ec) acceptor_->bind(endpoint, ec);
    if (!ec) acceptor_->listen(net::socket_base::max_listen_connections, ec);
    if (ec) {
        Log() << "cannot listen on " << LOOPBACK << " port " << options_.port << ": " << ec.message() << std::endl;
        return EXIT_BAD_SERVER_START;
    }
    // Screens that come back meanwhile wait in the queue of the listening
    // socket, and find their rooms.
    ResumeRooms();
    out_ << PROGRAM << ": listening on http://" << LOOPBACK << ':' << acceptor_->local_endpoint().port() << '/'
         << std::endl;
    signals_.emplace(*io_, SIGINT, SIGTERM);
    signals_->async_wait([this](beast::error_code error, int) {
        if (error) return;
        Log() << "stopping" << std::endl;
        io_->stop();
    });
    Accept();
    io_->run();
    return 0;
}

// Every room the folder keeps that had not ended goes on where its file
// ends, its clock from now.
void Server::ResumeRooms() {
    for (const std::string& id : RoomsInFolder(dataDir_)) {
        const ReadRoom read = ReadRoomRecord(dataDir_, id);
        if (!read.room) {
            Log() << "room " << id << ": not resumed: " << read.error << std::endl;
            continue;
        }
        if (read.room->ended) continue;
        const Clock::time_point began = Clock::now();
        const std::filesystem::path file = RoomRecordingFile(dataDir_, id);
        std::optional<std::string> recording = ReadWholeLines(file, MAX_RECORDING_BYTES);
        const std::string refused = !recording ? "its recording cannot be read, or is longer than a replay reads"
                                               : ReadRecordingText(*recording).error;
        if (!refused.empty()) {
            Log() << "room " << id << ": not resumed: " << refused << std::endl;
            continue;
        }
        const RoomStart start{.width = read.room->width, .height = read.room->height,
                              .recording = std::move(*recording), .resumed = true};
        auto room = std::make_shared<LiveRoom>(*this, *io_, id, read.room->key, start, file);
        rooms_[id] = room;
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began);
        Log() << "room " << id << ": resumed at tick " << room->room.Ticks() << " (" << took.count() << " ms)"
              << std::endl;
    }
    for (auto& [id, room] : rooms_) room->Start();
}

std::optional<RoomRecord> Server::KeptRoom(std::string_view id) const {
    if (!IsRandomHexId(id) || FindRoom(id)) return std::nullopt;
    return ReadRoomRecord(dataDir_, id).room;
}

std::optional<std::string> Server::KeptRecording(std::string_view id) const {
    return ReadWholeLines(RoomRecordingFile(dataDir_, id), MAX_RECORDING_BYTES);
}

void Server::Accept() {
    acceptor_->async_accept([this](beast::error_code ec, tcp::socket socket) {
        if (ec == net::error::operation_aborted) return;
        if (!ec) {
            beast::error_code peerError;
            const tcp::endpoint peer = socket.remote_endpoint(peerError);
            const std::string address = peerError ? std::string() : peer.address().to_string();
            const auto counted = connections_.find(address);
            if (peerError || (counted != connections_.end() && counted->second >= options_.limits.connectionsPerAddress)) {
                socket.close(peerError);
            } else {
                std::make_shared<HttpSession>(*this, std::move(socket),
                                              std::make_shared<AddressTicket>(connections_, address))
                    ->Run();
            }
        }
        Accept();
    });
}

bool Server::MayCreateRoom(const std::string& address) {
    std::deque<Clock::time_point>& recent = creations_[address];
    const Clock::time_point now = Clock::now();
    while (!recent.empty() && now - recent.front() > CREATION_WINDOW) recent.pop_front();
    if (recent.size() >= std::size_t(options_.limits.roomCreationsPerMinute)) return false;
    recent.push_back(now);
    // Addresses with nothing recent are forgotten, so the table stays small.
    for (auto it = creations_.begin(); it != creations_.end();)
        it = (it->second.empty() || now - it->second.back() > CREATION_WINDOW) && it->first != address
                 ? creations_.erase(it)
                 : std::next(it);
    return true;
}

http::response<http::string_body> Server::CreateRoom(const Request& request, const std::string& address) {
    const std::string host = HostOf(request);
    if (!SameOrigin(HeaderValue(request, http::field::origin), host))
        return ErrorResponse(request, http::status::forbidden, "the page's origin is not this server's");
    if (rooms_.size() >= std::size_t(options_.limits.rooms))
        return ErrorResponse(request, http::status::service_unavailable, "the server has as many rooms as it takes");
    if (!MayCreateRoom(address))
        return ErrorResponse(request, http::status::too_many_requests,
                             "too many rooms created from this address in the last minute");
    RoomStart start;
    std::string refused;
    const std::optional<std::string_view> type = HeaderValue(request, http::field::content_type);
    if (type && type->starts_with(RECORDING_TYPE)) {
        start.recording = request.body();
        refused = CheckStartRecording(start.recording);
    } else {
        const RoomRequest asked = ReadRoomRequest(request.body(), MAX_CANVAS_SIDE);
        start.width = asked.size.width, start.height = asked.size.height;
        refused = asked.error;
    }
    if (!refused.empty()) return ErrorResponse(request, http::status::bad_request, refused);
    std::string id = RandomHexId();
    std::string key = RandomHexId();
    const std::filesystem::path file = RoomRecordingFile(dataDir_, id);
    auto room = std::make_shared<LiveRoom>(*this, *io_, id, key, start, file);
    // Its record is on disk before anyone has its links.
    if (!WriteRoomRecord(dataDir_, id, {.key = key, .width = room->room.Referee().Width(),
                                        .height = room->room.Referee().Height()})) {
        Log() << "room " << id << ": its record cannot be written in " << dataDir_.string() << std::endl;
        room->Stop();
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
        return ErrorResponse(request, http::status::internal_server_error, "the room cannot be kept on disk");
    }
    room->Start();
    rooms_[id] = room;
    Log() << "room " << id << ": opened, " << room->room.Referee().Width() << " x "
          << room->room.Referee().Height() << (start.recording.empty() ? "" : ", from a recording") << std::endl;
    const std::string site = PlainHost(host) ? "http://" + host : std::string();
    std::string json = "{\"room\": \"" + id + "\", \"play\": \"" + site + "/#live=" + id + "." + key +
                       "\", \"watch\": \"" + site + "/#watch=" + id + "\"}\n";
    return TextResponse(request, http::status::created, std::move(json), "application/json");
}

void Server::CloseRoom(const std::string& id) {
    const auto found = rooms_.find(id);
    if (found == rooms_.end()) return;
    stats_.closedRoomMismatches += found->second->room.Mismatches();
    stats_.closedRoomHashesChecked += found->second->room.HashesChecked();
    found->second->Stop();
    // Its recording is whole before the room is marked as ended.
    found->second->room.Flush();
    if (!MarkRoomEnded(dataDir_, id))
        Log() << "room " << id << ": cannot mark it as ended; it is resumed at the next start" << std::endl;
    Log() << "room " << id << ": ended after " << found->second->room.Ticks() << " ticks" << std::endl;
    rooms_.erase(found);
}

std::string Server::StatusJson() const {
    std::uint64_t connections = 0, mismatches = stats_.closedRoomMismatches,
                  checked = stats_.closedRoomHashesChecked;
    for (const auto& [id, room] : rooms_) {
        connections += room->sessions.size();
        mismatches += room->room.Mismatches();
        checked += room->room.HashesChecked();
    }
    return "{\"rooms\": " + std::to_string(rooms_.size()) + ", \"connections\": " + std::to_string(connections) +
           ", \"mismatches\": " + std::to_string(mismatches) + ", \"hashes_checked\": " + std::to_string(checked) +
           ", \"ticks\": " + std::to_string(stats_.ticks) + ", \"late_ticks\": " +
           std::to_string(stats_.lateTicks) + ", \"dropped\": " + std::to_string(stats_.dropped) +
           ", \"refused\": " + std::to_string(stats_.refused) + "}\n";
}

}  // namespace

int RunServer(const ServerOptions& options, std::ostream& out, std::ostream& err) {
    Server server(options, out, err);
    return server.Run();
}

}  // namespace kestrel
