// ser2net serving a device over telnet with RFC 2217 on a loopback port,
// started with a configuration of its own and stopped by its PID: the
// network port's far end for the end-to-end tests.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/e2e/gateway_session.h"
#include "tests/net/telnet_relay.h"

namespace tv::e2e {

// Whether something listens on 127.0.0.1:port, from the kernel's table
// (a trial connection would make ser2net open the line).
inline bool ListeningOnLoopback(int port) {
  char local[32];
  std::snprintf(local, sizeof local, "0100007F:%04X", port);
  std::ifstream tcp("/proc/net/tcp");
  std::string line;
  while (std::getline(tcp, line))
    if (line.find(local) != std::string::npos && line.find(" 0A ") != std::string::npos) return true;
  return false;
}

// ser2net serving `device` over telnet with RFC 2217 on a loopback port
// (a free one unless given), or with a configuration of the test's own
// listening on the ports given.
class Ser2net {
 public:
  Ser2net(const std::string& dir, const std::string& device, int port = 0)
      : Ser2net(dir, std::vector<int>{port ? port : test::UnusedLoopbackPort()}, [&](int p) {
          // The configuration the README gives operators: one client holds
          // the line, a second one is turned away.
          return Connection("gw", "telnet(rfc2217),tcp(nodelay),127.0.0.1," + std::to_string(p), device);
        }) {}
  // One connection of a configuration: its accepter, the device it serves.
  static std::string Connection(const std::string& name, const std::string& accepter, const std::string& device,
                                const std::string& moreOptions = "") {
    return "connection: &" + name + "\n  accepter: " + accepter + "\n  connector: serialdev," + device +
           ",115200n81,local\n  options:\n    max-connections: 1\n    chardelay: false\n" + moreOptions;
  }
  template <typename Configure>
  Ser2net(const std::string& dir, std::vector<int> ports, Configure connectionFor) : ports_(std::move(ports)) {
    const std::string config = dir + "/ser2net.yaml";
    std::string text = "%YAML 1.1\n---\n";
    for (int p : ports_) text += connectionFor(p);
    std::ofstream(config, std::ios::binary | std::ios::trunc) << text;
    pid_ = fork();
    if (pid_ == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      const char* args[] = {"ser2net", "-n", "-u", "-c", config.c_str(), nullptr};
      execvp("ser2net", const_cast<char* const*>(args));
      execv("/usr/sbin/ser2net", const_cast<char* const*>(args));
      _exit(127);
    }
    const auto deadline = Clock::now() + kScreenWait;
    while (pid_ > 0 && !AllListening() && Clock::now() < deadline) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(Duration(20));
    }
  }
  Ser2net(const Ser2net&) = delete;
  Ser2net& operator=(const Ser2net&) = delete;
  ~Ser2net() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  bool Ready() const { return pid_ > 0 && AllListening(); }
  int Port() const { return ports_.front(); }

 private:
  bool AllListening() const { return std::all_of(ports_.begin(), ports_.end(), ListeningOnLoopback); }
  std::vector<int> ports_;
  pid_t pid_ = -1;
};

}  // namespace tv::e2e
