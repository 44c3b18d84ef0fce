#include "server/Server.h"

#include <cstdlib>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <boost/asio/io_context.hpp>
#include <boost/asio/signal_set.hpp>

#include "server/net/Listener.h"
#include "server/base/Log.h"
#include "server/disk/RoomFiles.h"
#include "server/net/ServerState.h"

namespace kestrel {
namespace {

// http://ADDRESS:PORT/, an IPv6 address in brackets.
std::string SiteAddress(const tcp::endpoint& endpoint) {
    const std::string address = endpoint.address().to_string();
    return "http://" + (endpoint.address().is_v6() ? "[" + address + "]" : address) + ":" +
           std::to_string(endpoint.port()) + "/";
}

// Where the server keeps its rooms and what site it serves, as the options
// ask; made and removed with it.
class Folders {
public:
    Folders(const ServerOptions& options, const Log& log) : ok_(FindSite(options, log) && MakeData(options, log)) {}
    ~Folders() {
        std::error_code ignored;
        if (private_) std::filesystem::remove_all(data_, ignored);
    }
    bool Ok() const { return ok_; }
    const std::filesystem::path& Data() const { return data_; }
    const std::optional<std::filesystem::path>& Site() const { return site_; }

private:
    bool FindSite(const ServerOptions& options, const Log& log);
    bool MakeData(const ServerOptions& options, const Log& log);

    std::optional<std::filesystem::path> site_;
    std::filesystem::path data_;
    std::optional<FolderLock> lock_;  // none for a private folder
    bool private_ = false;
    bool ok_;
};

bool Folders::FindSite(const ServerOptions& options, const Log& log) {
    if (options.site.empty()) return true;
    std::error_code ec;
    const std::filesystem::path site = std::filesystem::canonical(options.site, ec);
    if (ec || !std::filesystem::is_directory(site, ec)) {
        log.Line("--site " + options.site + ": not a folder");
        return false;
    }
    site_ = site;
    return true;
}

bool Folders::MakeData(const ServerOptions& options, const Log& log) {
    std::error_code ec;
    if (options.data.empty()) {
        std::string pattern = (std::filesystem::temp_directory_path(ec) / "kestrel-server-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            log.Line("cannot make a temporary folder for the recordings");
            return false;
        }
        data_ = pattern, private_ = true;
        return true;
    }
    data_ = options.data;
    std::filesystem::create_directories(data_, ec);
    if (!std::filesystem::is_directory(data_, ec)) {
        log.Line("--data " + options.data + ": not a folder that can be made");
        return false;
    }
    // Before anything in it is read or written.
    lock_.emplace(data_);
    if (lock_->Error().empty()) return true;
    log.Line(lock_->Error());
    return false;
}

// The process around the rooms: its folders, its signals, its listener.
class Server {
public:
    Server(const ServerOptions& options, std::ostream& out, std::ostream& err)
        : options_(options), out_(out), log_(err), folders_(options, log_) {}
    ~Server() {
        // The rooms go on at the next start, from their files. Then the
        // sockets, timers and handlers go, and with them what they hold,
        // before the context they run on and the state they refer to.
        if (state_) {
            state_->Stop();
            state_->Rooms().StopAll();
        }
        io_.reset();
    }
    int Run();

private:
    std::vector<tcp::acceptor> ListenAll();
    // The shared directory in Redis, when one is named; none: the server's own.
    std::unique_ptr<kestrel::Directory> Directory() {
        if (!options_.redis) return nullptr;
        return std::make_unique<RedisDirectory>(*io_, *options_.redis, options_.name, log_);
    }
    void OnSignal(boost::system::error_code ec);

    ServerOptions options_;
    std::ostream& out_;
    Log log_;
    Folders folders_;
    std::optional<ServerState> state_;
    // Declared last, so that it is destroyed first: the handlers it holds
    // refer to the state above. The destructor takes it down by hand all the same.
    std::unique_ptr<net::io_context> io_ = std::make_unique<net::io_context>(1);
};

int Server::Run() {
    if (!folders_.Ok()) return EXIT_BAD_SERVER_START;
    // A stop signal is taken from the very start, before anyone is told the
    // server listens; the rooms' builder stops between rooms.
    net::signal_set signals(*io_, SIGINT, SIGTERM);
    signals.async_wait([this](boost::system::error_code ec, int) { OnSignal(ec); });
    std::vector<tcp::acceptor> acceptors = ListenAll();
    if (acceptors.empty()) return EXIT_BAD_SERVER_START;
    state_.emplace(*io_,
                   ServerSetting{.limits = options_.limits, .name = options_.name,
                                 .trustedProxies = options_.trustedProxies, .data = folders_.Data(),
                                 .site = folders_.Site(), .directory = Directory()},
                   log_);
    std::string listening;
    std::vector<std::shared_ptr<Listener>> listeners;
    for (tcp::acceptor& acceptor : acceptors) {
        listening += std::string(SERVER_NAME) + ": listening on " + SiteAddress(acceptor.local_endpoint()) + "\n";
        listeners.push_back(std::make_shared<Listener>(*state_, std::move(acceptor)));
    }
    out_ << listening << std::flush;
    if (!state_->NoRing().empty())
        log_.Line("frames go out one system call each (no io_uring: " + state_->NoRing() + ")");
    for (const std::shared_ptr<Listener>& listener : listeners) listener->Run();
    // The kept rooms come back one at a time while the server answers;
    // screens that ask for one meanwhile wait for it.
    state_->Rooms().Resume();
    io_->run();
    for (const std::shared_ptr<Listener>& listener : listeners) listener->Stop();
    return 0;
}

// An acceptor on each address the options name, all on one port: the
// first's, when the system picks it. None when one address cannot be had.
std::vector<tcp::acceptor> Server::ListenAll() {
    std::vector<tcp::acceptor> acceptors;
    int port = options_.port;
    for (const std::string& address : options_.listen) {
        boost::system::error_code ec;
        tcp::acceptor acceptor = Listen(*io_, address, port, ec);
        if (ec) {
            log_.Line("cannot listen on " + address + " port " + std::to_string(port) + ": " + ec.message());
            return {};
        }
        port = acceptor.local_endpoint().port();
        acceptors.push_back(std::move(acceptor));
    }
    return acceptors;
}

void Server::OnSignal(boost::system::error_code ec) {
    if (ec) return;
    log_.Line("stopping");
    state_->Stop();
    io_->stop();
}

}  // namespace

int RunServer(const ServerOptions& options, std::ostream& out, std::ostream& err) {
    Server server(options, out, err);
    return server.Run();
}

}  // namespace kestrel
