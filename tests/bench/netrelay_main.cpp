// netrelay: the tests' RFC 2217 relay as a program, for the network figures
// (scripts/bench-network.sh): listens on a free loopback port, relays to
// ser2net on 127.0.0.1:UPSTREAM, adds DELAY ms to each direction and answers
// the DTR/RTS requests itself (ser2net on a pseudo-terminal never does, a
// server on real hardware does). Prints its port, then runs until SIGTERM.
//   netrelay UPSTREAM [DELAY_MS]
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/net/telnet_relay.h"

int main(int argc, char** argv) {
  const int upstream = argc > 1 ? std::atoi(argv[1]) : 0;
  const int delay = argc > 2 ? std::atoi(argv[2]) : 0;
  if (argc < 2 || argc > 3 || upstream <= 0 || delay < 0) {
    std::fprintf(stderr, "usage: netrelay UPSTREAM [DELAY_MS]\n");
    return 2;
  }
  sigset_t ending;
  sigemptyset(&ending);
  sigaddset(&ending, SIGTERM);
  sigaddset(&ending, SIGINT);
  sigprocmask(SIG_BLOCK, &ending, nullptr);  // the relay's thread inherits it
  tv::test::TelnetRelay::Options options;
  options.upstreamPort = upstream;
  options.delay = std::chrono::milliseconds(delay);
  tv::test::TelnetRelay relay(options);
  std::printf("%d\n", relay.Port());
  std::fflush(stdout);
  int sig = 0;
  sigwait(&ending, &sig);
  return 0;
}
