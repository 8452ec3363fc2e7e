// Four gateways on one network port, as a site wires them: a switch behind
// the port that the port's DTR and RTS drive. Four gwsims (each on a
// pseudo-terminal of its own, each with its own options and phonebook dump),
// ser2net serving the four lines over RFC 2217 on loopback, and the tests'
// relay in front of them answering DTR/RTS and carrying the line to the
// gateway the levels select. ./COMn in the tool's directory names the relay.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "tests/e2e/gateway_session.h"
#include "tests/e2e/harness.h"
#include "tests/e2e/ser2net_process.h"
#include "tests/net/telnet_relay.h"

namespace tv::e2e {

class FourGateways {
 public:
  using Options = std::array<std::vector<std::string>, 4>;

  // In dir (the tool's working directory; a scratch directory of its own,
  // removed at the end, when empty): gateway g (1..4) is gwsim with
  // gwsimOptions[g - 1] on ./gwG, its phonebook in ./gwG.dump; ./port (e.g.
  // "COM2") is the address file of the relay.
  FourGateways(std::string dir, const Options& gwsimOptions, const std::string& port = "COM1",
               test::TelnetRelay::Options relay = {})
      : dir_(std::move(dir)) {
    if (dir_.empty()) {
      char pattern[] = "/tmp/tarvelin-four-XXXXXX";
      if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
      dir_ = ownDir_ = pattern;
    }
    for (int g = 1; g <= 4; ++g) {
      std::vector<std::string> args = {"--link", Line(g), "--dump", DumpPath(g)};
      args.insert(args.end(), gwsimOptions[g - 1].begin(), gwsimOptions[g - 1].end());
      gwsims_.push_back(std::make_unique<GatewayProcess>(GwsimBinary(), args, Line(g), kScreenWait));
      if (!gwsims_.back()->Ready()) {
        failure_ = "gwsim " + std::to_string(g) + " did not start";
        return;
      }
    }
    std::vector<int> ports;
    while (ports.size() < 4) {
      const int p = test::UnusedLoopbackPort();
      if (std::find(ports.begin(), ports.end(), p) == ports.end()) ports.push_back(p);
    }
    ser2net_ = std::make_unique<Ser2net>(dir_, ports, [&](int p) {
      const int g = static_cast<int>(std::find(ports.begin(), ports.end(), p) - ports.begin()) + 1;
      return Ser2net::Connection("gateway" + std::to_string(g),
                                 "telnet(rfc2217),tcp(nodelay),127.0.0.1," + std::to_string(p), Line(g));
    });
    if (!ser2net_->Ready()) {
      failure_ = "ser2net did not start";
      return;
    }
    relay.gatewayPorts = ports;
    relay_ = std::make_unique<test::TelnetRelay>(relay);
    std::ofstream(dir_ + "/" + port, std::ios::binary | std::ios::trunc)
        << "# four gateways behind one port\n"
        << Address() << "\n";
  }
  FourGateways(const FourGateways&) = delete;
  FourGateways& operator=(const FourGateways&) = delete;
  ~FourGateways() {
    relay_.reset();
    ser2net_.reset();
    gwsims_.clear();
    std::error_code ec;
    if (!ownDir_.empty()) std::filesystem::remove_all(ownDir_, ec);
  }

  ::testing::AssertionResult Ready() const {
    if (failure_.empty()) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << failure_;
  }
  const std::string& Dir() const { return dir_; }
  test::TelnetRelay& Relay() { return *relay_; }
  std::string Address() const { return "rfc2217://127.0.0.1:" + std::to_string(relay_->Port()); }
  std::string DumpPath(int gateway) const { return dir_ + "/gw" + std::to_string(gateway) + ".dump"; }
  // Gateway g's phonebook as gwsim wrote it last, one line an entry:
  // 01,"89161234501",129,"01".
  std::string Dump(int gateway) const {
    std::ifstream in(DumpPath(gateway), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  bool Holds(int gateway, const std::string& line) const {
    return ("\n" + Dump(gateway)).find("\n" + line + "\n") != std::string::npos;
  }

 private:
  std::string Line(int gateway) const { return dir_ + "/gw" + std::to_string(gateway); }

  std::string dir_, ownDir_;
  std::string failure_;
  std::vector<std::unique_ptr<GatewayProcess>> gwsims_;
  std::unique_ptr<Ser2net> ser2net_;
  std::unique_ptr<test::TelnetRelay> relay_;
};

}  // namespace tv::e2e
