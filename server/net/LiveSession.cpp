#include "server/net/LiveSession.h"

#include <algorithm>

#include "server/base/Limits.h"
#include "server/net/ServerState.h"

namespace kestrel {
namespace {

// RFC 6455 allows 123 bytes of reason in a close frame.
constexpr std::size_t MAX_CLOSE_REASON_BYTES = 123;
// A screen that keeps up has a frame or two waiting at most.
constexpr std::size_t FIRST_QUEUE_CAPACITY = 4;

// A reason as a close frame carries it: printable ASCII, short enough.
std::string CloseReason(std::string_view text) {
    std::string reason;
    for (const char c : text.substr(0, MAX_CLOSE_REASON_BYTES)) reason += (c >= ' ' && c <= '~') ? c : '?';
    return reason;
}

// A screen that reads nothing answers no ping: it is dropped at the idle limit.
websocket::stream_base::timeout ScreenTimeouts() {
    websocket::stream_base::timeout timeouts = websocket::stream_base::timeout::suggested(beast::role_type::server);
    timeouts.idle_timeout = SCREEN_IDLE_LIMIT;
    timeouts.keep_alive_pings = true;
    return timeouts;
}

// Why a screen that reads nothing goes: its write or its read finds out first.
constexpr std::string_view ANSWERED_NO_PING = "it answered no ping";

// The accepted socket, moved onto the server's io_context by type: a
// frame's write and its end then pass no type-erased executor, copied at
// every step. One that has failed meanwhile stays closed, and its
// handshake says so.
ScreenSocketBase OnServersContext(net::io_context& io, tcp::socket accepted) {
    beast::error_code ec;
    const tcp::endpoint local = accepted.local_endpoint(ec);
    if (ec) return ScreenSocketBase(io.get_executor());
    return ScreenSocketBase(io.get_executor(), local.protocol(), accepted.release());
}

}  // namespace

LiveSession::LiveSession(ServerState& state, beast::tcp_stream&& stream, std::shared_ptr<LiveRoom> room,
                         bool mayPlay, std::string seatToken, Ticket address, Ticket place)
    : state_(state), ws_(state.Sends(), OnServersContext(state.Io(), stream.release_socket())), room_(std::move(room)),
      mayPlay_(mayPlay), seatToken_(std::move(seatToken)), address_(std::move(address)),
      place_(std::move(place)), queue_(FIRST_QUEUE_CAPACITY) {}

LiveSession::~LiveSession() { Leave(); }

void LiveSession::Start(Request upgrade) {
    upgrade_ = std::move(upgrade);
    ws_.set_option(ScreenTimeouts());
    ws_.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(http::field::server, SERVER_NAME); }));
    // An oversize frame is refused from its header, before it is buffered.
    ws_.read_message_max(MAX_CLIENT_FRAME_BYTES);
    // A tick's frame goes out as it is written. Left to Nagle's rule it
    // would wait for the last frame's acknowledgement, which a screen
    // that delays its acknowledgements holds back for 40 to 200 ms.
    beast::error_code ignored;
    ws_.next_layer().set_option(net::ip::tcp::no_delay(true), ignored);
    ws_.async_accept(upgrade_, [self = shared_from_this()](beast::error_code ec) { self->OnAccept(ec); });
}

void LiveSession::OnAccept(beast::error_code ec) {
    // A handshake the client got wrong is answered 400 by the stream, and
    // is the client's to know of, not the log's.
    if (ec == websocket::condition::handshake_failed) return;
    if (ec) return state_.Failed("a screen's handshake", ec);
    if (state_.Stopping()) return;
    joined_ = true;
    client_ = room_->Join(shared_from_this(), mayPlay_, seatToken_);
    Read();
}

void LiveSession::Read() {
    ws_.async_read(buffer_, [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnRead(ec); });
}

void LiveSession::OnRead(beast::error_code ec) {
    if (ec == beast::error::timeout) return Drop(ANSWERED_NO_PING);
    // Closed, dropped, or failed by the stream itself (an oversize frame
    // is answered with 1009 by the stream).
    if (ec) return Leave();
    if (closing_) return;
    if (!ws_.got_text())
        return Refuse(websocket::close_code::unknown_data, "binary frames are not read here: send text lines");
    const std::string frame = beast::buffers_to_string(buffer_.data());
    buffer_.consume(buffer_.size());
    const FrameReceipt receipt = room_->Receive(client_, frame);
    if (receipt.refusal) return Refuse(websocket::close_code::policy_error, *receipt.refusal);
    if (receipt.mismatchAt) Send(std::make_shared<const std::string>(WriteNotice({NoticeKind::Mismatch, *receipt.mismatchAt})));
    if (receipt.leaves) return Refuse(websocket::close_code::normal, "left with Esc");
    Read();
}

// Checked at each frame, which a room sends every tick, so that a screen
// that sends but never reads goes too, with no timer of its own.
void LiveSession::Send(Frame frame) {
    if (closing_ || !joined_) return;
    if (writing_ && std::chrono::steady_clock::now() - writeStarted_ >= SCREEN_WRITE_LIMIT)
        return Drop("its socket took no frame for " + std::to_string(SCREEN_WRITE_LIMIT.count()) + " s");
    if (queue_.size() >= MAX_QUEUED_FRAMES)
        return Drop("it fell " + std::to_string(MAX_QUEUED_FRAMES) + " frames behind");
    if (queue_.full()) queue_.set_capacity(std::min(2 * queue_.capacity(), MAX_QUEUED_FRAMES));
    queue_.push_back(std::move(frame));
    if (!writing_) Write();
}

void LiveSession::Write() {
    writing_ = true;
    writeStarted_ = std::chrono::steady_clock::now();
    ws_.text(true);
    ws_.async_write(net::buffer(*queue_.front()),
                    [self = shared_from_this()](beast::error_code ec, std::size_t) { self->OnWrite(ec); });
}

void LiveSession::OnWrite(beast::error_code ec) {
    writing_ = false;
    queue_.pop_front();
    if (ec == beast::error::timeout) return Drop(ANSWERED_NO_PING);
    if (ec) {
        if (!closing_) state_.Failed("a write to a screen", ec);
        return Drop("");
    }
    if (closing_) return SendClose();
    if (!queue_.empty()) return Write();
    // Caught up: the join text, the largest frame, is out, and the send
    // buffer shrinks to what a tick's frames need.
    if (!bufferCapped_) {
        bufferCapped_ = true;
        beast::error_code ignored;
        ws_.next_layer().set_option(net::socket_base::send_buffer_size(SCREEN_SEND_BUFFER_BYTES), ignored);
    }
}

// The room plays on without this screen; it is told why it goes.
void LiveSession::Refuse(websocket::close_code code, std::string_view reason) {
    if (closing_) return;
    if (code != websocket::close_code::normal) {
        state_.Counts().ScreenRefused();
        state_.ServerLog().Room(room_->Id(),
                             "closed a screen (" + std::to_string(int(code)) + "): " + std::string(reason));
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

// Too slow or silent: counted, logged, and its socket closed at once.
void LiveSession::Drop(std::string_view why) {
    if (!why.empty() && !closing_) {
        state_.Counts().ScreenDropped();
        state_.ServerLog().Room(room_->Id(), "dropped a screen: " + std::string(why));
    }
    closing_ = true;
    Leave();
    beast::error_code ignored;
    ws_.next_layer().close(ignored);
}

void LiveSession::Leave() {
    if (!joined_) return;
    joined_ = false;
    room_->Leave(client_);
}

}  // namespace kestrel
