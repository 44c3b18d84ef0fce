#include "server/net/HttpSession.h"

#include "server/net/HttpReply.h"

#include "game/RoomLink.h"
#include "server/base/Limits.h"
#include "server/net/Answers.h"
#include "server/rooms/LiveRoom.h"
#include "server/rooms/RandomId.h"
#include "server/net/LiveSession.h"
#include "server/net/ProxyLine.h"
#include "server/net/ServerState.h"

namespace kestrel {
namespace {

// A POST /rooms body of this type is a recording to start the room from.
constexpr std::string_view RECORDING_TYPE = "text/plain";
// "Play with anyone": a seat in a public room, or a new one.
constexpr std::string_view ANYONE_PATH = "/rooms/anyone";
// From a trusted proxy: the scheme the browser used.
constexpr std::string_view FORWARDED_PROTO = "X-Forwarded-Proto";

std::string_view HostOf(const Request& request) { return HeaderValue(request, http::field::host).value_or(""); }

const Refusal ROOM_FULL{Refused::RoomFull, "the room is full", RETRY_AFTER};

// Why a screen with the play key `key` (none for a watcher) would not be
// let into the room found; none when it would.
std::optional<Refusal> WhyNotLetIn(const RoomRegistry::Found& found, std::optional<std::string_view> key) {
    if (const Refusal* refused = std::get_if<Refusal>(&found)) return *refused;
    const LiveRoom& room = *std::get<std::shared_ptr<LiveRoom>>(found);
    if (key && !room.IsKey(*key)) return Refusal{Refused::WrongKey, "that is not the room's play key"};
    if (room.Full()) return ROOM_FULL;
    return std::nullopt;
}

std::optional<std::string_view> KeyOf(const Request& request) {
    return QueryValue(SplitTarget(request.target()).query, "key");
}

// A request that cannot be read is answered once, and the connection closed.
Request Unread() {
    Request request;
    request.keep_alive(false);
    return request;
}

}  // namespace

// A proxy sends its line at once: one whose line is not whole within the
// timeout is let go, and holds no count of any address meanwhile.
void HttpSession::Run() {
    if (!fromProxy_) return Admit(browser_);
    stream_.expires_after(PROXY_LINE_TIMEOUT);
    AwaitProxyLine();
}

void HttpSession::AwaitProxyLine() {
    stream_.async_read_some(buffer_.prepare(MAX_PROXY_LINE_BYTES - buffer_.size()),
                            [self = shared_from_this()](beast::error_code ec, std::size_t bytes) {
                                self->OnProxyBytes(ec, bytes);
                            });
}

// The bytes after the line are the browser's request: they stay in the
// buffer, which the HTTP reader starts from.
void HttpSession::OnProxyBytes(beast::error_code ec, std::size_t bytes) {
    if (ec) return state_.Failed("reading a PROXY line", ec);
    buffer_.commit(bytes);
    const auto head = static_cast<const char*>(buffer_.data().data());
    const Result<ProxyLine> read = ReadProxyLine(std::string_view(head, buffer_.size()));
    if (!read) return Reply(ErrorResponse(Unread(), http::status::bad_request, read.Why()));
    const ProxyLine& line = *read;
    switch (line.state) {
    case ProxyLine::State::Partial: return AwaitProxyLine();
    case ProxyLine::State::Absent: return Admit(browser_);  // the proxy is the browser itself
    case ProxyLine::State::Read: break;
    }
    buffer_.consume(line.length);
    Admit(line.browser.empty() ? browser_ : line.browser);
}

// A connection over its address's limit is answered 503 while few of them
// are; past that it is closed as it comes, so that no address holds more.
void HttpSession::Admit(std::string browser) {
    browser_ = std::move(browser);
    if (std::optional<Ticket> ticket = state_.Addresses().Take(browser_)) address_.emplace(std::move(*ticket));
    else if (std::optional<Ticket> refusal = state_.RefusedAddresses().Take(browser_)) refusal_.emplace(std::move(*refusal));
    else return stream_.close();
    Read();
}

std::string_view HttpSession::Scheme(const Request& request) const {
    return BrowserScheme(fromProxy_ ? HeaderValue(request, FORWARDED_PROTO) : std::nullopt);
}

std::optional<Refusal> HttpSession::ForeignOrigin(const Request& request) const {
    if (SameOrigin(HeaderValue(request, http::field::origin), Scheme(request), HostOf(request))) return std::nullopt;
    return Refusal{Refused::ForeignPage, "the page's origin is not this server's"};
}

// The page's address, as the browser saw it, for links; none (links
// relative to the page) when its Host is not one a link may name.
std::string HttpSession::Page(const Request& request) const {
    const std::string_view host = HostOf(request);
    if (!IsLinkHost(host)) return {};
    return std::string(Scheme(request)) + "://" + std::string(host) + "/";
}

void HttpSession::Read() {
    parser_.emplace();
    parser_->header_limit(MAX_HEADER_BYTES);
    parser_->body_limit(address_ ? MAX_ROOM_REQUEST_BYTES : 0);
    stream_.expires_after(address_ ? HTTP_TIMEOUT : REFUSAL_TIMEOUT);
    http::async_read(stream_, buffer_, *parser_,
                     [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
}

void HttpSession::OnRead(beast::error_code ec) {
    if (ec == http::error::end_of_stream) return Shut();
    if (!address_ && (!ec || ec == http::error::body_limit)) return RefuseConnection();
    if (ec == http::error::body_limit)
        return Reply(ErrorResponse(Unread(), http::status::payload_too_large, "the request is too large"));
    if (ec == http::error::header_limit)
        return Reply(ErrorResponse(Unread(), http::status::request_header_fields_too_large, "the request is too large"));
    if (ec && OrdinaryEnd(ec)) return;
    if (ec) return Reply(ErrorResponse(Unread(), http::status::bad_request, "the request cannot be read"));
    Request request = parser_->release();
    if (websocket::is_upgrade(request)) return Upgrade(std::move(request));
    Route(std::move(request));
}

// Its body is not read: the answer goes, and the connection after it.
void HttpSession::RefuseConnection() {
    Reply(RefusalResponse(Unread(), {Refused::AddressLimit, "too many connections from this address", RETRY_AFTER}));
}

void HttpSession::Route(Request request) {
    const Target target = SplitTarget(request.target());
    if (target.path == "/rooms") {
        if (request.method() == http::verb::post) return CreateRoom(std::move(request));
        if (Reads(request)) return ListPublicRooms(request);
        return Reply(NotAllowed(request, "GET, HEAD, POST"));
    }
    if (target.path == ANYONE_PATH) {
        if (request.method() != http::verb::post) return Reply(NotAllowed(request, "POST"));
        return PlayWithAnyone(std::move(request));
    }
    if (target.path == "/status") {
        if (!Reads(request)) return Reply(NotAllowed(request, "GET, HEAD"));
        StatusCounts counts = state_.Counts().Snapshot();
        state_.Rooms().AddTo(counts);
        return Reply(TextResponse(request, http::status::ok, StatusJson(counts, state_.Name()), "application/json"));
    }
    if (const std::optional<RoomPath> path = ReadRoomPath(target.path)) return AnswerRoom(request, *path);
    if (!Reads(request)) return Reply(NotAllowed(request, "GET, HEAD"));
    ServeFile(request, target.path);
}

// A room from a recording is answered once it is built, off this thread.
void HttpSession::CreateRoom(Request request, bool listed) {
    if (const std::optional<Refusal> refused = ForeignOrigin(request)) return Reply(RefusalResponse(request, *refused));
    const std::optional<std::string_view> type = HeaderValue(request, http::field::content_type);
    RoomOrder order{.address = browser_, .recording = type && type->starts_with(RECORDING_TYPE), .listed = listed,
                    .body = std::move(request.body()), .wanted = [weak = weak_from_this()] {
                        const std::shared_ptr<HttpSession> self = weak.lock();
                        return self && self->stream_.socket().is_open();
                    }};
    Await();
    state_.Rooms().Create(std::move(order), ServerClock::now(),
                          [self = shared_from_this(), request = std::move(request)](Outcome<NewRoom> made) {
                              self->Created(request, made);
                          });
}

void HttpSession::Created(const Request& request, const Outcome<NewRoom>& made) {
    if (!EndWait()) return;
    if (const Refusal* refused = std::get_if<Refusal>(&made)) return Reply(RefusalResponse(request, *refused));
    const NewRoom& room = std::get<NewRoom>(made);
    Reply(TextResponse(request, http::status::created, RoomLinksJson(Page(request), room.id, room.key),
                       "application/json"));
}

// Each asking of the public rooms counts against the address's queries.
std::optional<Refusal> HttpSession::TooManyQueries() {
    const ServerTime now = state_.Now();
    if (const std::optional<std::chrono::seconds> wait = state_.Queries().Wait(browser_, now))
        return Refusal{Refused::TooManyQueries, "too many asks for the public rooms from this address in the last minute",
                       *wait};
    state_.Queries().Count(browser_, now);
    return std::nullopt;
}

void HttpSession::ListPublicRooms(const Request& request) {
    if (const std::optional<Refusal> refused = TooManyQueries()) return Reply(RefusalResponse(request, *refused));
    Reply(TextResponse(request, http::status::ok, PublicRoomsJson(Page(request), state_.PublicRooms()),
                       "application/json"));
}

// The fullest public room with a free seat, on any server: this server's
// answers its play link at once, another's where to ask it for a seat
// (the balancer takes the screen there by the room's id). With none, or
// when asked for a new one (?new=1), a new public room of the size asked:
// only that counts against the address's quota of rooms.
void HttpSession::PlayWithAnyone(Request request) {
    if (const std::optional<Refusal> refused = ForeignOrigin(request)) return Reply(RefusalResponse(request, *refused));
    if (const std::optional<Refusal> refused = TooManyQueries()) return Reply(RefusalResponse(request, *refused));
    const bool fresh = QueryValue(SplitTarget(request.target()).query, "new").has_value();
    const std::optional<RoomListing> chosen = fresh ? std::nullopt : state_.RoomForAnyone();
    if (chosen && OtherServer(chosen->room, state_.Name())) {
        state_.SentElsewhere(*chosen);
        return Reply(TextResponse(request, http::status::ok, SeatElsewhereJson(Page(request), chosen->room),
                                  "application/json"));
    }
    if (chosen) {
        const Outcome<NewRoom> seat = state_.Rooms().SeatIn(chosen->room);
        if (std::holds_alternative<NewRoom>(seat)) return AnswerLinks(request, seat);
    }
    CreateRoom(std::move(request), true);
}

void HttpSession::SeatInPublicRoom(const Request& request, std::string_view room) {
    if (request.method() != http::verb::post) return Reply(NotAllowed(request, "POST"));
    if (const std::optional<Refusal> refused = ForeignOrigin(request)) return Reply(RefusalResponse(request, *refused));
    if (const std::optional<Refusal> refused = TooManyQueries()) return Reply(RefusalResponse(request, *refused));
    AnswerLinks(request, state_.Rooms().SeatIn(room));
}

void HttpSession::OpenToAnyone(const Request& request, std::string_view room) {
    if (request.method() != http::verb::post) return Reply(NotAllowed(request, "POST"));
    if (const std::optional<Refusal> refused = ForeignOrigin(request)) return Reply(RefusalResponse(request, *refused));
    AnswerLinks(request, state_.Rooms().OpenToAnyone(room, KeyOf(request).value_or("")));
}

void HttpSession::AnswerLinks(const Request& request, const Outcome<NewRoom>& room) {
    if (const Refusal* refused = std::get_if<Refusal>(&room)) return Reply(RefusalResponse(request, *refused));
    const NewRoom& links = std::get<NewRoom>(room);
    Reply(TextResponse(request, http::status::ok, RoomLinksJson(Page(request), links.id, links.key),
                       "application/json"));
}

void HttpSession::AnswerRoom(const Request& request, const RoomPath& path) {
    if (path.what == "socket") return CheckSocket(request, path.room);
    if (path.what == "seat") return SeatInPublicRoom(request, path.room);
    if (path.what == "listed") return OpenToAnyone(request, path.room);
    if (path.what.empty()) return AnswerRoomState(request, path.room);
    if (path.what != "recording") return Reply(ErrorResponse(request, http::status::not_found, "no such room"));
    if (const std::optional<Refusal> refused = state_.Rooms().UnknownRoom(path.room))
        return Reply(RefusalResponse(request, *refused));
    if (!Reads(request)) return Reply(NotAllowed(request, "GET, HEAD"));
    const Outcome<std::filesystem::path> file = state_.Rooms().RecordingPath(path.room);
    if (const Refusal* refused = std::get_if<Refusal>(&file)) return Reply(RefusalResponse(request, *refused));
    ServeRecording(request, std::get<std::filesystem::path>(file));
}

void HttpSession::AnswerRoomState(const Request& request, std::string_view room) {
    if (!Reads(request)) return Reply(NotAllowed(request, "GET, HEAD"));
    const RoomRegistry::Found found = state_.Rooms().Find(room);
    if (const Refusal* refused = std::get_if<Refusal>(&found)) return Reply(RefusalResponse(request, *refused));
    Reply(TextResponse(request, http::status::ok, RoomJson(*std::get<std::shared_ptr<LiveRoom>>(found)),
                       "application/json"));
}

// A browser cannot read why an upgrade was refused: it asks again with a
// plain GET, answered as the upgrade would be (426 when it would be let in).
void HttpSession::CheckSocket(const Request& request, std::string_view room) {
    if (!Reads(request)) return Reply(NotAllowed(request, "GET, HEAD"));
    if (const std::optional<Refusal> refused = ForeignOrigin(request)) return Reply(RefusalResponse(request, *refused));
    if (const std::optional<Refusal> refused = WhyNotLetIn(state_.Rooms().Find(room), KeyOf(request)))
        return Reply(RefusalResponse(request, *refused));
    Reply(ErrorResponse(request, http::status::upgrade_required, "this is a WebSocket"));
}

// A screen that asks for a kept room still coming back waits for it.
void HttpSession::Upgrade(Request request) {
    const auto refuse = [&](const Refusal& refusal) { Reply(RefusalResponse(request, refusal)); };
    if (const std::optional<Refusal> refused = ForeignOrigin(request)) return refuse(*refused);
    const std::optional<RoomPath> path = ReadRoomPath(SplitTarget(request.target()).path);
    if (!path || path->what != "socket") return refuse({Refused::NoSuchRoom, "no socket here"});
    const std::string id(path->room);
    Await();
    // The wait's timer holds the session; past it, the room finds it gone.
    state_.Rooms().Reach(id, [weak = weak_from_this(), request = std::move(request)](RoomRegistry::Found found) {
        if (const std::shared_ptr<HttpSession> self = weak.lock()) self->Seat(request, std::move(found));
    });
}

// The place is taken here, before the handshake: a burst of joins finds
// the room as full as it is about to be.
void HttpSession::Seat(Request request, RoomRegistry::Found found) {
    if (!EndWait()) return;
    const std::optional<std::string_view> key = KeyOf(request);
    if (const std::optional<Refusal> refused = WhyNotLetIn(found, key))
        return Reply(RefusalResponse(request, *refused));
    std::shared_ptr<LiveRoom> room = std::get<std::shared_ptr<LiveRoom>>(std::move(found));
    std::optional<Ticket> place = room->TakePlace();
    if (!place) return Reply(RefusalResponse(request, ROOM_FULL));
    // A seat token longer than any the room gives is no token of it.
    const std::string seatToken(QueryValue(SplitTarget(request.target()).query, "seat").value_or("").substr(0, SEAT_TOKEN_DIGITS + 1));
    std::make_shared<LiveSession>(state_, std::move(stream_), std::move(room), key.has_value(), seatToken,
                                  std::move(*address_), std::move(*place))
        ->Start(std::move(request));
}

// While the server makes what a request asks for, the connection's
// timeout holds: past it the connection closes, and the answer is dropped.
void HttpSession::Await() {
    waiting_.emplace(stream_.get_executor());
    waiting_->expires_after(HTTP_TIMEOUT);
    waiting_->async_wait([self = shared_from_this()](beast::error_code ec) {
        if (!ec) self->stream_.close();
    });
}

// Whether the connection is still there to be answered.
bool HttpSession::EndWait() {
    waiting_.reset();
    return stream_.socket().is_open();
}

void HttpSession::Shut() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
}

}  // namespace kestrel
