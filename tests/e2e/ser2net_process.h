// ser2net serving a device over telnet with RFC 2217 on a loopback port,
// started with a configuration of its own and stopped by its PID: the
// network port's far end for the end-to-end tests.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

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

class Ser2netProcess {
 public:
  // ser2net.yaml is written into dir; device is an absolute path.
  Ser2netProcess(const std::string& dir, const std::string& device) : port_(test::UnusedLoopbackPort()) {
    const std::string config = dir + "/ser2net.yaml";
    std::ofstream(config, std::ios::trunc)
        << "%YAML 1.1\n---\nconnection: &gw\n  accepter: telnet(rfc2217),tcp(nodelay),127.0.0.1," << port_
        << "\n  connector: serialdev," << device
        << ",115200n81,local\n  options:\n    max-connections: 1\n    chardelay: false\n";
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
    while (pid_ > 0 && !ListeningOnLoopback(port_) && Clock::now() < deadline) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        pid_ = -1;
        break;
      }
      std::this_thread::sleep_for(Duration(20));
    }
  }
  ~Ser2netProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
  }
  Ser2netProcess(const Ser2netProcess&) = delete;
  Ser2netProcess& operator=(const Ser2netProcess&) = delete;
  bool Ready() const { return pid_ > 0 && ListeningOnLoopback(port_); }
  int Port() const { return port_; }

 private:
  int port_;
  pid_t pid_ = -1;
};

}  // namespace tv::e2e
