// Name lookup in a thread of its own, waited for within the open's bound;
// a plain TCP listen to a server's first words.
#include "platform/posix/network_lookup.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace tv {

namespace {

using Steady = std::chrono::steady_clock;
using Millis = std::chrono::milliseconds;

struct Lookup {
  std::mutex mutex;
  std::condition_variable done;
  bool finished = false;
  int rc = 0;
  std::string targets;  // "ipv4,192.0.2.7,4001,ipv6,2001:db8::7,4001"
};

void RunLookup(Lookup& lookup, const std::string& host, const std::string& port, int flags) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = flags;
  addrinfo* found = nullptr;
  const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
  std::string targets;
  if (rc == 0) {
    for (const addrinfo* a = found; a; a = a->ai_next) {
      if (a->ai_family != AF_INET && a->ai_family != AF_INET6) continue;
      char text[NI_MAXHOST];
      if (getnameinfo(a->ai_addr, a->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST) != 0)
        continue;
      const std::string one = std::string(a->ai_family == AF_INET ? "ipv4," : "ipv6,") + text + "," + port;
      if (("," + targets + ",").find("," + one + ",") != std::string::npos) continue;
      if (!targets.empty()) targets += ',';
      targets += one;
    }
    freeaddrinfo(found);
  }
  std::lock_guard<std::mutex> lock(lookup.mutex);
  lookup.rc = rc;
  lookup.targets = std::move(targets);
  lookup.finished = true;
  lookup.done.notify_all();
}

}  // namespace

std::string Resolve(const std::string& host, const std::string& port, Steady::time_point deadline,
                    bool& timedOut) {
  timedOut = false;
  {
    Lookup numeric;  // an address needs no name server
    RunLookup(numeric, host, port, AI_NUMERICHOST | AI_NUMERICSERV);
    if (numeric.rc == 0) return numeric.targets;
  }
  auto lookup = std::make_shared<Lookup>();
  std::thread([lookup, host, port] { RunLookup(*lookup, host, port, AI_NUMERICSERV); }).detach();
  std::unique_lock<std::mutex> lock(lookup->mutex);
  if (!lookup->done.wait_until(lock, deadline, [&] { return lookup->finished; })) {
    timedOut = true;
    return {};
  }
  return lookup->rc == 0 ? lookup->targets : std::string();
}

std::string FirstWordsOf(const std::string& targets, Steady::time_point deadline) {
  const std::size_t a = targets.find(','), b = targets.find(',', a + 1);
  if (a == std::string::npos || b == std::string::npos) return {};
  const std::size_t c = targets.find(',', b + 1);
  const std::string host = targets.substr(a + 1, b - a - 1);
  const std::string port = targets.substr(b + 1, c == std::string::npos ? std::string::npos : c - b - 1);
  addrinfo hints{};
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
  addrinfo* found = nullptr;
  if (getaddrinfo(host.c_str(), port.c_str(), &hints, &found) != 0) return {};
  std::string words;
  const int fd = socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd >= 0 && (connect(fd, found->ai_addr, found->ai_addrlen) == 0 || errno == EINPROGRESS)) {
    for (;;) {
      const auto left = std::chrono::ceil<Millis>(deadline - Steady::now()).count();
      if (left <= 0 || words.size() > 512) break;
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
      char buf[256];
      const ssize_t n = recv(fd, buf, sizeof buf, 0);
      if (n <= 0) break;  // closed (or reset): all has been said
      words.append(buf, static_cast<std::size_t>(n));
    }
  }
  if (fd >= 0) close(fd);
  freeaddrinfo(found);
  return words;
}

}  // namespace tv
