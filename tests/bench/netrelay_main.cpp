// netrelay: the tests' RFC 2217 relay as a program, for the network figures
// (scripts/bench-network.sh) and for trials by hand (scripts/four-gateways.sh):
// listens on loopback, relays to ser2net, adds DELAY ms to each direction and
// answers the DTR/RTS requests itself (ser2net on a pseudo-terminal never
// does, a server on real hardware does). Prints its port, then runs until
// SIGTERM or SIGINT.
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "tests/net/telnet_relay.h"

namespace {

const char kUsage[] =
    "usage: netrelay [--listen PORT] UPSTREAM [DELAY_MS]\n"
    "       netrelay [--listen PORT] --route PORT1,PORT2,PORT3,PORT4 [DELAY_MS]\n"
    "\n"
    "An RFC 2217 server on 127.0.0.1 in front of ser2net on 127.0.0.1. It prints the port it\n"
    "listens on, then runs until SIGTERM or SIGINT (Ctrl+C). One client at a time.\n"
    "\n"
    "  UPSTREAM        relay to the ser2net accepter on this port; DTR and RTS are answered\n"
    "                  here, everything else goes through\n"
    "                    netrelay 4001 150       a 300 ms round trip in front of :4001\n"
    "  --route P1,...  four ser2net accepters, one for each gateway's line: DTR and RTS are\n"
    "                  answered here and select the gateway whose line the data goes to, as\n"
    "                  the switch behind a real port does (1: DTR on, RTS on; 2: DTR off, RTS\n"
    "                  on; 3: DTR on, RTS off; 4: both off; 1 at each connection). The other\n"
    "                  three gateways' bytes are dropped. Clients and selections are told\n"
    "                  on standard error.\n"
    "                    netrelay --route 4001,4002,4003,4004\n"
    "  --listen PORT   listen on this port (default: a free one)\n"
    "  DELAY_MS        added to each direction (default 0)\n"
    "  --help          this text\n";

// "4001" -> 4001; 0 unless the text is a whole number 1..65535.
int PortNumber(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) return 0;
  const int n = std::atoi(text.c_str());
  return n <= 65535 ? n : 0;
}

// "4001,4002,4003,4004" -> the four ports; empty unless four good ones.
std::vector<int> FourPorts(const std::string& text) {
  std::vector<int> ports;
  std::size_t from = 0;
  for (;;) {
    const std::size_t comma = text.find(',', from);
    const int port =
        PortNumber(text.substr(from, comma == std::string::npos ? std::string::npos : comma - from));
    if (port == 0) return {};
    ports.push_back(port);
    if (comma == std::string::npos) break;
    from = comma + 1;
  }
  return ports.size() == 4 ? ports : std::vector<int>{};
}

int Usage() {
  std::fputs(kUsage, stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  tv::test::TelnetRelay::Options options;
  std::vector<std::string> positional;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if ((a == "--route" || a == "--listen") && i + 1 >= argc) return Usage();
    if (a == "--route") {
      options.gatewayPorts = FourPorts(argv[++i]);
      if (options.gatewayPorts.empty()) return Usage();
    } else if (a == "--listen") {
      options.listenPort = PortNumber(argv[++i]);
      if (options.listenPort == 0) return Usage();
    } else if (a.rfind("-", 0) == 0) {
      return Usage();
    } else {
      positional.push_back(a);
    }
  }
  const bool route = !options.gatewayPorts.empty();
  if (!route) {
    if (positional.empty() || (options.upstreamPort = PortNumber(positional.front())) == 0) return Usage();
    positional.erase(positional.begin());
  }
  if (positional.size() > 1) return Usage();
  if (!positional.empty()) {
    const std::string& d = positional.front();
    if (d.empty() || d.size() > 6 || d.find_first_not_of("0123456789") != std::string::npos) return Usage();
    options.delay = std::chrono::milliseconds(std::atoi(d.c_str()));
  }

  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGINT);
  sigprocmask(SIG_BLOCK, &ending, nullptr);  // the relay's thread inherits it
  // Each line at once, with the time: the log of a trial.
  if (route)
    options.log = [](const std::string& line) {
      const auto now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
      std::tm local{};
      char stamp[16];
      std::strftime(stamp, sizeof stamp, "%H:%M:%S", localtime_r(&now, &local));
      std::fprintf(stderr, "%s netrelay: %s\n", stamp, line.c_str());
    };
  tv::test::TelnetRelay relay(options);
  std::printf("%d\n", relay.Port());
  std::fflush(stdout);
  int sig = 0;
  sigwait(&ending, &sig);
  return 0;
}
