#include "server/directory/RedisDirectory.h"

#include <arpa/inet.h>
#include <hiredis/async.h>
#include <hiredis/hiredis.h>

#include <algorithm>
#include <charconv>
#include <functional>

#include <boost/asio/post.hpp>
#include <boost/asio/posix/stream_descriptor.hpp>

namespace kestrel {
namespace {

namespace asio = boost::asio;
using boost::system::error_code;

constexpr std::string_view ROOMS_KEY = "kestrel:rooms:";
constexpr std::string_view LOAD_KEY = "kestrel:load:";
constexpr std::string_view SERVERS_KEY = "kestrel:servers";
// How often the directory looks at its clocks: well under each interval.
constexpr std::chrono::milliseconds BEAT{100};
// The most servers read back: more names in the set than any deployment has
// are not read.
constexpr std::size_t MAX_SERVERS = 256;

// An IP address, not a name: hiredis would look a name up itself, and a
// lookup blocks the loop the rooms tick on.
bool IsIpAddress(const std::string& host) {
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), address) == 1 || inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string ReplyText(const redisReply* reply) { return std::string(reply->str, reply->len); }

}  // namespace

std::optional<RedisAddress> ReadRedisAddress(std::string_view text) {
    if (text.starts_with('/') || text.starts_with('.')) return RedisAddress{.host = {}, .port = 0, .socketPath = std::string(text)};
    const std::size_t colon = text.rfind(':');
    if (colon == std::string_view::npos) return std::nullopt;
    std::string_view host = text.substr(0, colon), port = text.substr(colon + 1);
    if (host.starts_with('[') && host.ends_with(']')) host = host.substr(1, host.size() - 2);
    int number = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (ec != std::errc() || end != port.data() + port.size() || number < 1 || number > 65535 ||
        !IsIpAddress(std::string(host)))
        return std::nullopt;
    return RedisAddress{.host = std::string(host), .port = number, .socketPath = {}};
}

std::string RedisAddress::Text() const {
    return socketPath.empty() ? host + ":" + std::to_string(port) : socketPath;
}

// One connection: hiredis's context and the socket Asio watches for it.
// hiredis owns the descriptor; Asio only waits on it, and lets it go when
// hiredis cleans up. Handlers hold the link, and find it closed (no
// context) once hiredis has freed it.
struct RedisDirectory::Link : std::enable_shared_from_this<Link> {
    Link(asio::io_context& io, RedisDirectory* owner, std::size_t replyBytes)
        : socket(io), owner(owner), mostReplyBytes(replyBytes) {}
    redisAsyncContext* context = nullptr;
    asio::posix::stream_descriptor socket;
    RedisDirectory* owner;  // none once the directory has let it go
    bool wantRead = false, wantWrite = false, reading = false, writing = false;
    bool freeing = false;  // freed by the directory: the callbacks that follow say nothing
    // The reply being read, counted as hiredis builds it.
    const std::size_t mostReplyBytes;
    std::size_t replyBytes = 0;
    bool overflowed = false;
    std::string TooLong() const { return "a reply longer than " + std::to_string(mostReplyBytes) + " bytes"; }

    void Arm(bool read) {
        bool& busy = read ? reading : writing;
        if (busy || !socket.is_open()) return;
        busy = true;
        socket.async_wait(read ? asio::posix::stream_descriptor::wait_read : asio::posix::stream_descriptor::wait_write,
                          [self = shared_from_this(), read](const error_code& ec) { self->Ready(read, ec); });
    }
    void Ready(bool read, const error_code& ec) {
        (read ? reading : writing) = false;
        if (ec || !context || !(read ? wantRead : wantWrite)) return;
        if (read) redisAsyncHandleRead(context);
        else redisAsyncHandleWrite(context);
        if (read && context && Unread() > mostReplyBytes) {
            overflowed = true;
            wantRead = false;
            if (owner && !freeing) owner->Lost(TooLong());
            return;
        }
        if (context && (read ? wantRead : wantWrite)) Arm(read);
    }
    // A reply hiredis holds unread until it has the whole of it: one long
    // string is bounded here, many short ones as they are built.
    std::size_t Unread() const { return context->c.reader->len - context->c.reader->pos; }

    // hiredis's own reply builders, each reply's bytes counted first.
    static inline const redisReplyObjectFunctions* builtIn = nullptr;
    static inline redisReplyObjectFunctions counted{};
    void Count(redisReader* reader) {
        if (!builtIn) {
            builtIn = reader->fn;
            counted = {CountString, CountArray, CountInteger, CountNil, builtIn->freeObject};
        }
        reader->fn = &counted;
        reader->privdata = this;
    }
    static bool Counts(const redisReadTask* task, std::size_t bytes) {
        Link& link = Of(task->privdata);
        if (!task->parent) link.replyBytes = 0;  // a new reply
        link.replyBytes += sizeof(redisReply) + bytes;
        if (link.replyBytes <= link.mostReplyBytes) return true;
        link.overflowed = true;  // hiredis takes it as out of memory, and lets the connection go
        return false;
    }
    static void* CountString(const redisReadTask* task, char* text, std::size_t length) {
        return Counts(task, length) ? builtIn->createString(task, text, length) : nullptr;
    }
    static void* CountArray(const redisReadTask* task, int elements) {
        return Counts(task, std::size_t(std::max(elements, 0)) * sizeof(redisReply*))
                   ? builtIn->createArray(task, elements)
                   : nullptr;
    }
    static void* CountInteger(const redisReadTask* task, long long value) {
        return Counts(task, 0) ? builtIn->createInteger(task, value) : nullptr;
    }
    static void* CountNil(const redisReadTask* task) { return Counts(task, 0) ? builtIn->createNil(task) : nullptr; }

    static Link& Of(void* data) { return *static_cast<Link*>(data); }
    static void AddRead(void* data) { Of(data).wantRead = true, Of(data).Arm(true); }
    static void DelRead(void* data) { Of(data).wantRead = false; }
    static void AddWrite(void* data) { Of(data).wantWrite = true, Of(data).Arm(false); }
    static void DelWrite(void* data) { Of(data).wantWrite = false; }
    static void Cleanup(void* data) {
        Link& link = Of(data);
        link.wantRead = link.wantWrite = false;
        if (link.socket.is_open()) link.socket.release();
    }
    // hiredis frees its context after either callback: the link is closed.
    static void OnConnect(const redisAsyncContext* context, int status) {
        Link& link = Of(context->data);
        if (status == REDIS_OK) {
            if (link.owner) link.owner->Connected();
            return;
        }
        const std::string why = context->errstr;
        link.context = nullptr;
        if (link.owner && !link.freeing) link.owner->Lost(why);
    }
    static void OnDisconnect(const redisAsyncContext* context, int) {
        Link& link = Of(context->data);
        const std::string why = link.overflowed ? link.TooLong()
                                : context->err  ? context->errstr
                                                : "the connection was closed";
        link.context = nullptr;
        if (link.owner && !link.freeing) link.owner->Lost(why);
    }
};

namespace {

// A command's reply, handed to `done` unless the link was freed meanwhile.
struct Asked {
    std::weak_ptr<RedisDirectory::Link> link;
    std::function<void(const redisReply&)> done;
};

}  // namespace

RedisDirectory::RedisDirectory(asio::io_context& io, RedisAddress address, std::string server, const Log& log,
                               RedisSettings settings)
    : io_(io), address_(std::move(address)), server_(std::move(server)), key_(std::string(ROOMS_KEY) + server_),
      loadKey_(std::string(LOAD_KEY) + server_),
      log_(log), settings_(settings), beat_(io) {
    Connect();
    Beat();
}

// A killed server sends nothing: its key outlives it by its time to live.
// A stopped one does the same, so that the two read alike to the others.
RedisDirectory::~RedisDirectory() {
    beat_.cancel();
    if (!link_) return;
    link_->owner = nullptr;
    link_->freeing = true;
    if (link_->context) redisAsyncFree(link_->context);
    link_->context = nullptr;
}

void RedisDirectory::Publish(std::vector<RoomListing> rooms, const ServerLoad& load, bool seatsChanged) {
    ours_ = std::move(rooms);
    load_ = load;
    if (!seatsChanged) return;
    writeSoon_ = true;
    if (connected_ && !writing_) Write();
}

DirectoryList RedisDirectory::List() const {
    DirectoryList list{ours_, up_ && readOnce_};
    if (!list.whole) return list;
    for (const auto& [server, text] : theirs_) {
        auto& [seen, rooms] = parsed_[server];
        if (seen != text) {
            seen = text;
            std::optional<std::vector<RoomListing>> read = ReadListings(text);
            rooms = read ? *std::move(read) : std::vector<RoomListing>{};
            if (!read && refused_[server] != text) {
                refused_[server] = text;
                log_.Line("redis at " + address_.Text() + ": the rooms server " + server +
                          " listed cannot be read; they are left out");
            }
            // A server lists its own rooms only.
            std::erase_if(rooms, [&](const RoomListing& room) { return room.server != server; });
        }
        list.rooms.insert(list.rooms.end(), rooms.begin(), rooms.end());
    }
    std::erase_if(parsed_, [&](const auto& entry) { return !theirs_.contains(entry.first); });
    return list;
}

void RedisDirectory::Beat() {
    const Clock::time_point now = Clock::now();
    if (!link_ && now >= nextTry_) Connect();
    if (connected_ && Late(now)) Lost("no answer within " + std::to_string(settings_.deadline.count()) + " ms");
    if (connected_ && !writing_ && (now - lastWrite_ >= settings_.write || writeSoon_)) Write();
    if (connected_ && !reading_ && now - lastRead_ >= settings_.read) Read();
    beat_.expires_after(BEAT);
    beat_.async_wait([this](const error_code& ec) {
        if (!ec) Beat();
    });
}

bool RedisDirectory::Late(Clock::time_point now) const {
    return (writing_ && now - *writing_ > settings_.deadline) || (reading_ && now - *reading_ > settings_.deadline);
}

void RedisDirectory::Connect() {
    nextTry_ = Clock::now() + settings_.reconnect;
    redisAsyncContext* context = address_.socketPath.empty()
                                     ? redisAsyncConnect(address_.host.c_str(), address_.port)
                                     : redisAsyncConnectUnix(address_.socketPath.c_str());
    if (!context) return Lost("no memory for a connection");
    if (context->err) {
        const std::string why = context->errstr;
        redisAsyncFree(context);
        return Lost(why);
    }
    auto link = std::make_shared<Link>(io_, this, settings_.replyBytes);
    link->context = context;
    link->Count(context->c.reader);
    error_code ec;
    link->socket.assign(context->c.fd, ec);
    context->data = link.get();
    context->ev = {link.get(), Link::AddRead, Link::DelRead, Link::AddWrite, Link::DelWrite, Link::Cleanup};
    link_ = link;
    redisAsyncSetDisconnectCallback(context, Link::OnDisconnect);
    redisAsyncSetConnectCallback(context, Link::OnConnect);
}

// A connection is not yet an answer: a stopped Redis still takes one.
void RedisDirectory::Connected() {
    connected_ = true;
    readOnce_ = false;
    writing_.reset(), reading_.reset();
    writeSoon_ = true;
    Write();
    Read();
}

// Redis answers on this connection: said once, when it first does.
void RedisDirectory::Answered() {
    if (up_) return;
    up_ = true;
    log_.Line("redis at " + address_.Text() + (down_ ? ": back; listing every server's public rooms again"
                                                     : ": listing every server's public rooms"));
    down_ = false;
}

// Redis went, or never came: this server's rooms alone until it is back.
void RedisDirectory::Lost(const std::string& why) {
    if (!down_) log_.Line("redis at " + address_.Text() + ": gone (" + why + "); listing this server's rooms only");
    down_ = true;
    up_ = connected_ = false;
    writing_.reset(), reading_.reset();
    theirs_.clear();
    if (const std::shared_ptr<Link> link = std::exchange(link_, nullptr)) {
        link->owner = nullptr;
        // From the beat, the context is the directory's to free; from one
        // of hiredis's callbacks, hiredis frees it itself.
        if (link->context) {
            link->freeing = true;
            asio::post(io_, [link] {
                if (link->context) redisAsyncFree(std::exchange(link->context, nullptr));
            });
        }
    }
    nextTry_ = Clock::now() + settings_.reconnect;
}

namespace {

void Ask(const std::shared_ptr<RedisDirectory::Link>& link, const std::vector<std::string>& words,
         std::function<void(const redisReply&)> done) {
    std::vector<const char*> argv;
    std::vector<std::size_t> lengths;
    for (const std::string& word : words) argv.push_back(word.data()), lengths.push_back(word.size());
    auto* asked = new Asked{link, std::move(done)};
    const int sent = redisAsyncCommandArgv(
        link->context,
        [](redisAsyncContext*, void* reply, void* data) {
            std::unique_ptr<Asked> asked(static_cast<Asked*>(data));
            const std::shared_ptr<RedisDirectory::Link> link = asked->link.lock();
            if (reply && link && link->owner && !link->freeing) asked->done(*static_cast<redisReply*>(reply));
        },
        asked, int(argv.size()), argv.data(), lengths.data());
    if (sent != REDIS_OK) delete asked;
}

}  // namespace

// This server's rooms and load, for the time to live; its name in the set
// of servers.
void RedisDirectory::Write() {
    if (!link_ || !link_->context) return;
    writeSoon_ = false;
    writing_ = lastWrite_ = Clock::now();
    const std::string ttl = std::to_string(std::max<long long>(1, settings_.timeToLive.count()));
    Ask(link_, {"SADD", std::string(SERVERS_KEY), server_}, [](const redisReply&) {});
    Ask(link_, {"SET", loadKey_, LoadText(load_), "PX", ttl}, [](const redisReply&) {});
    Ask(link_, {"SET", key_, ListingsText(ours_), "PX", ttl}, [this](const redisReply& reply) {
        writing_.reset();
        if (reply.type == REDIS_REPLY_ERROR) return Lost("it refused the rooms: " + ReplyText(&reply));
        Answered();
    });
}

void RedisDirectory::Read() {
    if (!link_ || !link_->context) return;
    reading_ = lastRead_ = Clock::now();
    Ask(link_, {"SMEMBERS", std::string(SERVERS_KEY)}, [this](const redisReply& reply) {
        std::vector<std::string> names;
        if (reply.type == REDIS_REPLY_ARRAY)
            for (std::size_t i = 0; i < reply.elements && names.size() < MAX_SERVERS; ++i)
                if (reply.element[i]->type == REDIS_REPLY_STRING && ReplyText(reply.element[i]) != server_)
                    names.push_back(ReplyText(reply.element[i]));
        ReadServers(names);
    });
}

// Each other server's text; a server whose key is gone has no rooms, and
// leaves the set.
void RedisDirectory::ReadServers(const std::vector<std::string>& names) {
    if (names.empty() || !link_ || !link_->context) return TookServers({});
    std::vector<std::string> words{"MGET"};
    for (const std::string& name : names) words.push_back(std::string(ROOMS_KEY) + name);
    Ask(link_, words, [this, names](const redisReply& reply) {
        std::map<std::string, std::string> texts;
        for (std::size_t i = 0; reply.type == REDIS_REPLY_ARRAY && i < reply.elements && i < names.size(); ++i) {
            if (reply.element[i]->type == REDIS_REPLY_STRING) texts[names[i]] = ReplyText(reply.element[i]);
            else if (link_ && link_->context) Ask(link_, {"SREM", std::string(SERVERS_KEY), names[i]}, [](const redisReply&) {});
        }
        TookServers(std::move(texts));
    });
}

void RedisDirectory::TookServers(std::map<std::string, std::string> texts) {
    reading_.reset();
    theirs_ = std::move(texts);
    readOnce_ = true;
    Answered();
}

}  // namespace kestrel
