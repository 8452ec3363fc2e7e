// The tests' RFC 2217 server and relay: one poll loop in a thread, one client
// at a time, the telnet stream cut into its units (a data byte, an option
// negotiation, a subnegotiation) so that answers go in between whole units.
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

namespace tv::test {

namespace {

using Steady = std::chrono::steady_clock;

constexpr uint8_t IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;
constexpr uint8_t kComPort = 44;
constexpr uint8_t kSetControl = 5;

// A telnet stream cut into units.
struct Unit {
  enum Kind { Data, Negotiation, Sub, Command } kind;
  std::string raw;  // as on the wire
  uint8_t data = 0;
};

class Cutter {
 public:
  std::vector<Unit> Feed(const uint8_t* p, std::size_t n) {
    std::vector<Unit> units;
    for (std::size_t i = 0; i < n; ++i) {
      const uint8_t b = p[i];
      part_ += static_cast<char>(b);
      switch (state_) {
        case S::Data:
          if (b == IAC) {
            state_ = S::Iac;
          } else {
            units.push_back({Unit::Data, part_, b});
            part_.clear();
          }
          break;
        case S::Iac:
          if (b == IAC) {
            units.push_back({Unit::Data, part_, IAC});
            part_.clear();
            state_ = S::Data;
          } else if (b >= WILL) {
            state_ = S::Option;
          } else if (b == SB) {
            state_ = S::Sub;
          } else {
            units.push_back({Unit::Command, part_, 0});
            part_.clear();
            state_ = S::Data;
          }
          break;
        case S::Option:
          units.push_back({Unit::Negotiation, part_, 0});
          part_.clear();
          state_ = S::Data;
          break;
        case S::Sub:
          if (b == IAC) state_ = S::SubIac;
          break;
        case S::SubIac:
          if (b == SE) {
            units.push_back({Unit::Sub, part_, 0});
            part_.clear();
            state_ = S::Data;
          } else {
            state_ = S::Sub;  // IAC IAC inside: a 0xFF of the value
          }
          break;
      }
    }
    return units;
  }

 private:
  enum class S { Data, Iac, Option, Sub, SubIac } state_ = S::Data;
  std::string part_;
};

// The command byte and the unescaped value of a COM-PORT-OPTION
// subnegotiation (IAC SB 44 cmd value... IAC SE).
bool ComPortRequest(const std::string& raw, uint8_t& cmd, std::string& value) {
  if (raw.size() < 6 || static_cast<uint8_t>(raw[2]) != kComPort) return false;
  cmd = static_cast<uint8_t>(raw[3]);
  value.clear();
  for (std::size_t i = 4; i + 2 < raw.size(); ++i) {
    value += raw[i];
    if (static_cast<uint8_t>(raw[i]) == IAC) ++i;
  }
  return true;
}

std::string ComPortReply(uint8_t cmd, const std::string& value) {
  std::string out = {static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(kComPort),
                     static_cast<char>(cmd + 100)};
  for (char c : value) {
    out += c;
    if (static_cast<uint8_t>(c) == IAC) out += c;
  }
  out += {static_cast<char>(IAC), static_cast<char>(SE)};
  return out;
}

std::string Describe(uint8_t cmd, const std::string& value) {
  auto number = [&] {
    unsigned long n = 0;
    for (char c : value) n = n * 256 + static_cast<uint8_t>(c);
    return std::to_string(n);
  };
  switch (cmd) {
    case 1: return "baud " + number();
    case 2: return "datasize " + number();
    case 3: return "parity " + number();
    case 4: return "stopsize " + number();
    case 12: return "purge " + number();
    case kSetControl:
      switch (value.empty() ? 0 : static_cast<uint8_t>(value[0])) {
        case 8: return "DTR on";
        case 9: return "DTR off";
        case 11: return "RTS on";
        case 12: return "RTS off";
        default: return "control " + number();
      }
    default: return "command " + std::to_string(cmd) + " " + number();
  }
}

struct Chunk {
  Steady::time_point due;
  std::string raw;
  std::string data;  // the data bytes in it
};

void SendAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

TelnetRelay::TelnetRelay(Options options) : options_(options), dropAt_(options.dropAfterServerBytes) {
  listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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
  int client = -1, upstream = -1;
  Cutter fromClient, fromServer;
  std::deque<Chunk> toServerQ, toClientQ;

  auto closeAll = [&] {
    if (client >= 0) ::close(client);
    if (upstream >= 0) ::close(upstream);
    client = upstream = -1;
    toServerQ.clear();
    toClientQ.clear();
    fromClient = Cutter();
    fromServer = Cutter();
  };
  auto toClient = [&](std::string raw, std::string data) {
    toClientQ.push_back({Steady::now() + options_.delay, std::move(raw), std::move(data)});
  };

  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stop_) break;
      if (drop_) {
        drop_ = false;
        closeAll();
      }
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
      if (upstream >= 0) SendAll(upstream, toServerQ.front().raw);
      toServerQ.pop_front();
    }
    while (!toClientQ.empty() && toClientQ.front().due <= now) {
      if (client >= 0) {
        SendAll(client, toClientQ.front().raw);
        std::lock_guard<std::mutex> lock(mutex_);
        toClient_ += toClientQ.front().data;
      }
      toClientQ.pop_front();
      bool dropNow = false;
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
    pollfd fds[4] = {{listen_, POLLIN, 0}, {wake_[0], POLLIN, 0}, {client, POLLIN, 0}, {upstream, POLLIN, 0}};
    if (::poll(fds, 4, timeout) < 0) continue;
    if (fds[1].revents) {
      char sink[64];
      while (::read(wake_[0], sink, sizeof sink) > 0) {
      }
    }
    if (fds[0].revents & POLLIN) {
      const int fd = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd >= 0 && !options_.refuseWith.empty()) {
        {
          std::lock_guard<std::mutex> lock(mutex_);
          ++connections_;
        }
        SendAll(fd, options_.refuseWith);
        ::close(fd);
      } else if (fd >= 0) {
        closeAll();
        client = fd;
        int one = 1;
        ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          ++connections_;
        }
        if (options_.upstreamPort && !options_.silent) {
          upstream = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
          sockaddr_in a{};
          a.sin_family = AF_INET;
          a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
          a.sin_port = htons(static_cast<uint16_t>(options_.upstreamPort));
          if (::connect(upstream, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
            closeAll();
          else
            ::setsockopt(upstream, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
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
      std::string forward;
      for (const Unit& u : fromClient.Feed(buf, static_cast<std::size_t>(n))) {
        if (u.kind == Unit::Data) {
          std::lock_guard<std::mutex> lock(mutex_);
          fromClient_ += static_cast<char>(u.data);
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
        if (lineRequest && (options_.lines != Lines::Pass || !options_.upstreamPort)) {
          if (options_.lines == Lines::Answer || options_.lines == Lines::Pass)
            toClient(ComPortReply(cmd, value), {});
          else if (options_.lines == Lines::Wrong)
            toClient(
                ComPortReply(cmd, std::string(1, static_cast<char>(control % 2 ? control + 1 : control - 1))),
                {});
          continue;
        }
        if (options_.upstreamPort) {
          forward += u.raw;
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
      if (!forward.empty()) toServerQ.push_back({Steady::now() + options_.delay, forward, {}});
    }
    if (upstream >= 0 && (fds[3].revents & (POLLIN | POLLHUP | POLLERR))) {
      const ssize_t n = ::read(upstream, buf, sizeof buf);
      if (n <= 0) {
        closeAll();
        continue;
      }
      std::string raw, data;
      for (const Unit& u : fromServer.Feed(buf, static_cast<std::size_t>(n))) {
        raw += u.raw;
        if (u.kind == Unit::Data) data += static_cast<char>(u.data);
      }
      if (!raw.empty()) toClient(raw, data);
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
