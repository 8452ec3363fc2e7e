// The tests' RFC 2217 server, relay and four-gateway switch: one poll loop in
// a thread, one client at a time, the telnet stream cut into its units (a data
// byte, an option negotiation, a subnegotiation) so that answers go in between
// whole units.
#include "tests/net/telnet_relay.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <deque>
#include <stdexcept>

#include "tests/net/telnet_units.h"

namespace tv::test {

namespace {

using Steady = std::chrono::steady_clock;
using namespace telnet;

constexpr int kEveryServer = -1;

struct Chunk {
  Steady::time_point due;
  std::string raw;
  std::string data;       // the data bytes in it
  int to = kEveryServer;  // toward the servers: the one it is for
};

void SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

// A connected socket to 127.0.0.1:port, or -1.
int ConnectLoopback(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

// The gateway that DTR and RTS at these levels select, 1..4.
int GatewayOf(bool dtr, bool rts) { return 1 + (dtr ? 0 : 1) + (rts ? 0 : 2); }

}  // namespace

TelnetRelay::TelnetRelay(Options options) : options_(options), dropAt_(options.dropAfterServerBytes) {
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(options.listenPort));
  if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listen_, 4) != 0)
    throw std::runtime_error("relay: cannot listen on loopback");
  socklen_t len = sizeof a;
  ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
  if (::pipe2(wake_, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("relay: pipe");
  thread_ = std::thread([this] { Run(); });
}

TelnetRelay::~TelnetRelay() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  (void)!::write(wake_[1], "x", 1);
  thread_.join();
  ::close(listen_);
  ::close(wake_[0]);
  ::close(wake_[1]);
}

std::string TelnetRelay::FromClient() {
  std::lock_guard<std::mutex> lock(mutex_);
  return fromClient_;
}
std::string TelnetRelay::ToClient() {
  std::lock_guard<std::mutex> lock(mutex_);
  return toClient_;
}
std::vector<std::string> TelnetRelay::Requests() {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}
std::vector<std::string> TelnetRelay::LineRequests() {
  std::vector<std::string> lines;
  for (const std::string& r : Requests())
    if (r.rfind("DTR ", 0) == 0 || r.rfind("RTS ", 0) == 0) lines.push_back(r);
  return lines;
}
std::vector<TelnetRelay::Routed> TelnetRelay::RoutedWrites() {
  std::lock_guard<std::mutex> lock(mutex_);
  return routed_;
}
std::string TelnetRelay::FromClientTo(int gateway) {
  std::string bytes;
  for (const Routed& r : RoutedWrites())
    if (r.gateway == gateway) bytes += r.bytes;
  return bytes;
}
std::string TelnetRelay::FromGateway(int gateway) {
  std::lock_guard<std::mutex> lock(mutex_);
  return gateway >= 1 && gateway <= 4 ? fromGateway_[gateway - 1] : std::string();
}
int TelnetRelay::SelectedGateway() {
  std::lock_guard<std::mutex> lock(mutex_);
  return selected_;
}
int TelnetRelay::Connections() {
  std::lock_guard<std::mutex> lock(mutex_);
  return connections_;
}
void TelnetRelay::Send(const std::string& bytes) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    pendingSend_ += bytes;
  }
  (void)!::write(wake_[1], "x", 1);
}
void TelnetRelay::DropAfter(long bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  dropAt_ = static_cast<long>(toClient_.size()) + bytes;
}

void TelnetRelay::Drop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    drop_ = true;
  }
  (void)!::write(wake_[1], "x", 1);
}

bool TelnetRelay::WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds wait) {
  const auto deadline = Steady::now() + wait;
  while (!condition()) {
    if (Steady::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void TelnetRelay::Run() {
  const bool route = options_.gatewayPorts.size() == 4;
  const bool relaying = route || options_.upstreamPort != 0;
  const bool passLines = options_.lines == Lines::Pass && options_.upstreamPort && !route;
  int client = -1;
  // The servers of this connection: one, or the four gateways' (-1 for one
  // that could not be reached or has gone).
  std::vector<int> upstreams;
  std::vector<Cutter> fromServers;
  // Routing: the one server whose telnet the client hears (negotiation,
  // answers to its settings, notifications), as a port has one server
  // whatever the switch behind it selects; -1 when none is left.
  int talker = -1;
  Cutter fromClient;
  std::deque<Chunk> toServerQ, toClientQ;
  bool dtr = true, rts = true;

  auto log = [&](const std::string& line) {
    if (options_.log) options_.log(line);
  };
  auto choose = [&](bool newDtr, bool newRts) {
    dtr = newDtr;
    rts = newRts;
    std::lock_guard<std::mutex> lock(mutex_);
    selected_ = GatewayOf(dtr, rts);
  };
  auto selected = [&] {
    std::lock_guard<std::mutex> lock(mutex_);
    return selected_;
  };
  auto nextTalker = [&] {
    talker = -1;
    for (std::size_t i = 0; i < upstreams.size() && talker < 0; ++i)
      if (upstreams[i] >= 0) talker = static_cast<int>(i);
  };
  auto closeAll = [&] {
    if (client >= 0 && route) log("client gone");
    if (client >= 0) ::close(client);
    for (int fd : upstreams)
      if (fd >= 0) ::close(fd);
    client = -1;
    upstreams.clear();
    nextTalker();
    fromServers.clear();
    toServerQ.clear();
    toClientQ.clear();
    fromClient = Cutter();
    choose(true, true);
  };
  auto toClient = [&](std::string raw, std::string data) {
    toClientQ.push_back({Steady::now() + options_.delay, std::move(raw), std::move(data)});
  };

  for (;;) {
    bool dropNow = false;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) break;
      dropNow = drop_;
      drop_ = false;
    }
    if (dropNow) closeAll();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!pendingSend_.empty() && client >= 0) {
        std::string raw;
        for (char c : pendingSend_) {
          raw += c;
          if (static_cast<uint8_t>(c) == IAC) raw += c;
        }
        toClient(raw, pendingSend_);
        pendingSend_.clear();
      }
    }
    // What is due goes out.
    const auto now = Steady::now();
    while (!toServerQ.empty() && toServerQ.front().due <= now) {
      const Chunk& c = toServerQ.front();
      for (std::size_t i = 0; i < upstreams.size(); ++i)
        if (upstreams[i] >= 0 && (c.to == kEveryServer || c.to == static_cast<int>(i)))
          SendAll(upstreams[i], c.raw);
      toServerQ.pop_front();
    }
    while (!toClientQ.empty() && toClientQ.front().due <= now) {
      if (client >= 0) {
        SendAll(client, toClientQ.front().raw);
        std::lock_guard<std::mutex> lock(mutex_);
        toClient_ += toClientQ.front().data;
      }
      toClientQ.pop_front();
      dropNow = false;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (dropAt_ >= 0 && static_cast<long>(toClient_.size()) >= dropAt_) {
          dropAt_ = -1;  // the next connection is left alone
          dropNow = true;
        }
      }
      if (dropNow) closeAll();
    }

    int timeout = 50;
    for (const auto* q : {&toServerQ, &toClientQ})
      if (!q->empty())
        timeout = std::min<int>(
            timeout, static_cast<int>(std::max<long>(
                         0, std::chrono::ceil<std::chrono::milliseconds>(q->front().due - now).count())));
    std::vector<pollfd> fds = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}, {client, POLLIN, 0}};
    for (int fd : upstreams) fds.push_back({fd, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), timeout) < 0) continue;
    if (fds[1].revents) {
      char sink[64];
      while (::read(wake_[0], sink, sizeof sink) > 0) {
      }
    }
    if (fds[0].revents & POLLIN) {
      const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0) {
        std::lock_guard<std::mutex> lock(mutex_);
        ++connections_;
      }
      if (fd >= 0 && !options_.refuseWith.empty()) {
        SendAll(fd, options_.refuseWith);
        ::close(fd);
      } else if (fd >= 0) {
        closeAll();
        client = fd;
        int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (relaying && !options_.silent) {
          for (int port : route ? options_.gatewayPorts : std::vector<int>{options_.upstreamPort})
            upstreams.push_back(ConnectLoopback(port));
          fromServers.resize(upstreams.size());
          if (!route && upstreams.front() < 0) closeAll();
          for (std::size_t i = 0; route && i < upstreams.size(); ++i)
            if (upstreams[i] < 0) log("gateway " + std::to_string(i + 1) + ": no server on its port");
          if (route) {
            nextTalker();
            log("client connected: gateway 1");
          }
        }
      }
      continue;
    }
    uint8_t buf[4096];
    if (client >= 0 && (fds[2].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t n = ::read(client, buf, sizeof buf);
      if (n <= 0) {
        closeAll();
        continue;
      }
      if (options_.silent) continue;
      // For the servers, cut where the target changes (a gateway chosen
      // between two commands in one read).
      std::string forward;
      int forwardTo = kEveryServer;
      auto queueForServers = [&](int to, const std::string& raw) {
        if (!forward.empty() && forwardTo != to) {
          toServerQ.push_back({Steady::now() + options_.delay, forward, {}, forwardTo});
          forward.clear();
        }
        forwardTo = to;
        forward += raw;
      };
      for (const Unit& u : fromClient.Feed(buf, static_cast<std::size_t>(n))) {
        if (u.kind == Unit::Data) {
          std::lock_guard<std::mutex> lock(mutex_);
          fromClient_ += static_cast<char>(u.data);
          if (route) {
            if (routed_.empty() || routed_.back().gateway != selected_) routed_.push_back({selected_, {}});
            routed_.back().bytes += static_cast<char>(u.data);
          }
        }
        uint8_t cmd = 0;
        std::string value;
        const bool comPort = u.kind == Unit::Sub && ComPortRequest(u.raw, cmd, value);
        if (comPort) {
          std::lock_guard<std::mutex> lock(mutex_);
          requests_.push_back(Describe(cmd, value));
        }
        const uint8_t control =
            comPort && cmd == kSetControl && !value.empty() ? static_cast<uint8_t>(value[0]) : 0;
        const bool lineRequest = control == 8 || control == 9 || control == 11 || control == 12;
        if (lineRequest && !passLines) {
          if (options_.lines == Lines::Answer || options_.lines == Lines::Pass)
            toClient(ComPortReply(cmd, value), {});
          else if (options_.lines == Lines::Wrong)  // DTR 8 <-> 9, RTS 11 <-> 12
            toClient(ComPortReply(cmd, std::string(1, static_cast<char>(control == 8    ? 9
                                                                        : control == 9  ? 8
                                                                        : control == 11 ? 12
                                                                                        : 11))),
                     {});
          if (route) {
            choose(control <= 9 ? control == 8 : dtr, control >= 11 ? control == 11 : rts);
            log(std::string(dtr ? "DTR on" : "DTR off") + (rts ? ", RTS on" : ", RTS off") + ": gateway " +
                std::to_string(selected()));
          }
          continue;
        }
        if (relaying) {
          queueForServers(route && u.kind == Unit::Data ? selected() - 1 : kEveryServer, u.raw);
          continue;
        }
        // The server itself.
        if (u.kind == Unit::Negotiation) {
          const uint8_t verb = static_cast<uint8_t>(u.raw[1]), option = static_cast<uint8_t>(u.raw[2]);
          if (verb == WILL)
            toClient({static_cast<char>(IAC), static_cast<char>(option == kComPort ? DO : DONT),
                      static_cast<char>(option)},
                     {});
          else if (verb == DO)
            toClient({static_cast<char>(IAC), static_cast<char>(WONT), static_cast<char>(option)}, {});
        } else if (comPort && cmd != 0) {
          toClient(ComPortReply(cmd, value), {});
        }
      }
      if (!forward.empty()) toServerQ.push_back({Steady::now() + options_.delay, forward, {}, forwardTo});
    }
    for (std::size_t i = 0; i < upstreams.size(); ++i) {
      if (upstreams[i] < 0 || !(fds[3 + i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
      const ssize_t n = ::read(upstreams[i], buf, sizeof buf);
      if (n <= 0 && !route) {
        closeAll();
        break;
      }
      if (n <= 0) {
        ::close(upstreams[i]);
        upstreams[i] = -1;
        log("gateway " + std::to_string(i + 1) + ": its server closed the connection");
        if (static_cast<int>(i) == talker) nextTalker();
        continue;
      }
      // A gateway the lines do not select is not on the client's line: its
      // data is dropped. Only one server's telnet is heard: the others'
      // answers to the settings would come a second time, late from a
      // server slow to take the connection (ser2net opening its device under
      // load), and once DTR off has selected that server, its 44 101 (baud)
      // reaching the client while the RTS request waits is taken by the
      // client's library for that request's answer, a level not asked for.
      const bool carried = !route || static_cast<int>(i) == selected() - 1;
      const bool heard = !route || static_cast<int>(i) == talker;
      std::string raw, data;
      for (const Unit& u : fromServers[i].Feed(buf, static_cast<std::size_t>(n))) {
        if (u.kind == Unit::Data) data += static_cast<char>(u.data);
        if (u.kind == Unit::Data ? carried : heard) raw += u.raw;
      }
      if (route) {
        std::lock_guard<std::mutex> lock(mutex_);
        fromGateway_[i] += data;
      }
      if (!raw.empty()) toClient(raw, carried ? data : std::string());
    }
  }
  closeAll();
}

int UnusedLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  close(fd);
  return ntohs(a.sin_port);
}

}  // namespace tv::test
