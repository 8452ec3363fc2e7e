// The tests' relay that routes one port to four gateways, between a client
// and four servers the test plays byte by byte: the client hears one
// server's telnet, whichever gateway its lines select, so that no request
// is answered twice.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "tests/net/telnet_relay.h"
#include "tests/net/telnet_units.h"

namespace tv {
namespace {

using namespace std::chrono_literals;
using test::TelnetRelay;
using namespace test::telnet;

// Reads on the test's sockets give up after this: a fault fails, never hangs.
void BoundReads(int fd) {
  timeval bound{5, 0};
  setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
}

sockaddr_in LoopbackAt(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(static_cast<uint16_t>(port));
  return a;
}

// A listening socket on a free loopback port, and that port.
int Listen(int& port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = LoopbackAt(0);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 1) != 0) return -1;
  socklen_t len = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  port = ntohs(a.sin_port);
  BoundReads(fd);  // accept() too
  return fd;
}

int Connect(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a = LoopbackAt(port);
  if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return -1;
  BoundReads(fd);
  return fd;
}

void Write(int fd, const std::string& bytes) {
  ASSERT_EQ(send(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
}

// Whatever comes until the bytes read end with `tail` (or the read bound).
std::string ReadUntil(int fd, const std::string& tail) {
  std::string got;
  char c = 0;
  while ((got.size() < tail.size() || got.compare(got.size() - tail.size(), tail.size(), tail) != 0) &&
         recv(fd, &c, 1, 0) == 1)
    got += c;
  return got;
}

// A COM-PORT-OPTION request of the client: IAC SB 44 cmd value IAC SE.
std::string Request(uint8_t cmd, const std::string& value) {
  return std::string{static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(kComPort),
                     static_cast<char>(cmd)} +
         value + std::string{static_cast<char>(IAC), static_cast<char>(SE)};
}

const std::string kBaud115200("\x00\x01\xC2\x00", 4);
const std::string kDoComPort = {static_cast<char>(IAC), static_cast<char>(DO), static_cast<char>(kComPort)};

TEST(GatewayRelay, TheClientHearsOneServerWhicheverGatewayIsSelected) {
  int ports[4] = {}, listeners[4] = {};
  for (int g = 0; g < 4; ++g) ASSERT_GE(listeners[g] = Listen(ports[g]), 0);
  std::mutex logMutex;
  std::vector<std::string> log;
  TelnetRelay relay({.gatewayPorts = {ports[0], ports[1], ports[2], ports[3]},
                     .log = [&](const std::string& line) {
                       std::lock_guard<std::mutex> lock(logMutex);
                       log.push_back(line);
                     }});
  const int client = Connect(relay.Port());
  ASSERT_GE(client, 0);
  int servers[4] = {};
  for (int g = 0; g < 4; ++g) ASSERT_GE(servers[g] = accept(listeners[g], nullptr, nullptr), 0);

  // The settings reach every server; gateway 1's server answers them.
  const std::string willComPort = {static_cast<char>(IAC), static_cast<char>(WILL), static_cast<char>(kComPort)};
  const std::string askBaud = Request(1, kBaud115200);
  Write(client, willComPort + askBaud);
  for (int g = 0; g < 4; ++g) ASSERT_EQ(ReadUntil(servers[g], askBaud), willComPort + askBaud) << "gateway " << g + 1;
  const std::string baudAnswer = ComPortReply(1, kBaud115200);
  Write(servers[0], kDoComPort + baudAnswer);
  EXPECT_EQ(ReadUntil(client, baudAnswer), kDoComPort + baudAnswer);

  // DTR off selects gateway 2, whose server was slow to take the connection:
  // its own negotiation, its answer to the baud rate and a modem-state
  // notice come only now, then a modem reply. The client gets the reply
  // alone: a second baud answer would be taken for the next line request's.
  Write(client, Request(kSetControl, "\x09"));
  EXPECT_EQ(ReadUntil(client, ComPortReply(kSetControl, "\x09")), ComPortReply(kSetControl, "\x09"));
  EXPECT_EQ(relay.SelectedGateway(), 2);
  Write(servers[1], kDoComPort + baudAnswer + ComPortReply(7, std::string(1, '\0')) + "\r\nOK\r\n");
  EXPECT_EQ(ReadUntil(client, "\r\nOK\r\n"), "\r\nOK\r\n");

  // Gateway 1's server goes: gateway 2's answers the next request.
  close(servers[0]);
  ASSERT_TRUE(relay.WaitFor(
      [&] {
        std::lock_guard<std::mutex> lock(logMutex);
        return std::find(log.begin(), log.end(), "gateway 1: its server closed the connection") != log.end();
      },
      5000ms));
  Write(client, askBaud);
  ASSERT_EQ(ReadUntil(servers[1], askBaud), askBaud);
  Write(servers[1], baudAnswer);
  EXPECT_EQ(ReadUntil(client, baudAnswer), baudAnswer);

  close(client);
  for (int g = 1; g < 4; ++g) close(servers[g]);
  for (int fd : listeners) close(fd);
}

}  // namespace
}  // namespace tv
