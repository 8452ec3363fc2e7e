// A small RFC 2217 party of the tests' own, on loopback, in a thread of the
// test process: either the server itself (answers the telnet option and the
// serial settings, keeps what the client sends, sends what the test gives),
// or a relay in front of a real server (ser2net) that sees the telnet stream
// pass. Either way it records the data of both directions and every DTR/RTS
// request, and it can play the faults of a network: added delay per
// direction, a connection dropped after so many bytes, silence.
//
// ser2net serving a pseudo-terminal never answers a DTR or RTS request (a
// pseudo-terminal has no modem lines); the relay can answer them itself, as
// a server on real hardware would, so that the tool's gateway selection is
// seen end to end.
//
// It can also stand for the switch in front of four gateways on one port:
// in front of four servers (one ser2net accepter for each gateway's line) it
// answers DTR and RTS itself and carries the data to and from the one
// server whose gateway those levels select, as the lines of a real port
// drive the switch.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tv::test {

class TelnetRelay {
 public:
  enum class Lines {
    Pass,    // relay: DTR/RTS requests go on to the server
    Answer,  // answered with the level asked for (not passed on)
    Wrong,   // answered with the other level
    Ignore,  // never answered (as ser2net on a pseudo-terminal)
  };
  struct Options {
    int upstreamPort = 0;  // 0: be the server; else relay to 127.0.0.1:upstreamPort
    Lines lines = Lines::Answer;
    bool silent = false;                 // accept, read, never answer anything
    std::chrono::milliseconds delay{0};  // added to each direction
    long dropAfterServerBytes = -1;      // close both sides after this many data bytes to the client
    // When given: each connection gets these bytes and is closed, as ser2net
    // treats a client while another holds the line (see kSer2netBusy).
    std::string refuseWith{};
    // When four are given: route to 127.0.0.1 at these ports, the servers of
    // gateways 1 to 4 (upstreamPort is then not used). DTR and RTS are
    // answered as `lines` says (Pass as Answer) and, whatever the answer,
    // select the gateway: 1 = DTR on, RTS on; 2 = DTR off, RTS on; 3 = DTR
    // on, RTS off; 4 = both off; gateway 1 at each connection until asked.
    // The client's data goes to the selected server only, and only that
    // server's data reaches the client: the others' is dropped, as a switch
    // carries only the selected modem. Every server gets the client's telnet
    // negotiation and settings, so that each stands ready as its line is
    // chosen, but the client hears the telnet of one of them only (gateway
    // 1's, or the first reached; the next one's when it goes), as a port has
    // one server whatever its lines select: each request is answered once.
    // A server that cannot be reached, or goes, is a gateway that stays
    // silent; the client's connection stays.
    std::vector<int> gatewayPorts{};
    int listenPort = 0;  // 0: a free loopback port
    // Told, from the relay's thread, of each client that comes or goes and
    // of each gateway selected ("DTR off, RTS on: gateway 2").
    std::function<void(const std::string&)> log{};
  };
  // Client data as routed: consecutive bytes that went to one gateway.
  struct Routed {
    int gateway;  // 1..4
    std::string bytes;
    bool operator==(const Routed&) const = default;
  };

  explicit TelnetRelay(Options options);
  ~TelnetRelay();
  TelnetRelay(const TelnetRelay&) = delete;
  TelnetRelay& operator=(const TelnetRelay&) = delete;

  int Port() const { return port_; }

  // Data bytes the client sent, and those that went to it.
  std::string FromClient();
  std::string ToClient();
  // "DTR on", "RTS off", ... as the client asked, in order; "baud 115200",
  // "datasize 8", "parity 1", "stopsize 1" and "purge 1" too.
  std::vector<std::string> Requests();
  // Only the DTR/RTS lines of Requests().
  std::vector<std::string> LineRequests();
  int Connections();
  // Routing: the client's data, each run of it with the gateway it went to,
  // over all connections; the data that went to one gateway; the data one
  // gateway's server sent, whether it reached the client or not; the gateway
  // the levels select now (1 while no client).
  std::vector<Routed> RoutedWrites();
  std::string FromClientTo(int gateway);
  std::string FromGateway(int gateway);
  int SelectedGateway();
  // Server mode: data for the client (sent at once, after the delay).
  void Send(const std::string& bytes);
  // Closes the client's connection now, as a dropped link; or once this
  // many more data bytes have gone to the client.
  void Drop();
  void DropAfter(long bytes);
  // Waits until the predicate on the records holds, at most `wait`.
  bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds wait);

 private:
  struct Impl;
  void Run();

  Options options_;
  int listen_ = -1;
  int port_ = 0;
  int wake_[2] = {-1, -1};
  std::mutex mutex_;
  std::string fromClient_, toClient_, pendingSend_;
  std::vector<std::string> requests_;
  std::vector<Routed> routed_;
  std::string fromGateway_[4];
  int selected_ = 1;
  int connections_ = 0;
  bool drop_ = false;
  long dropAt_ = -1;  // the size of toClient_ at which the connection is dropped
  bool stop_ = false;
  std::thread thread_;
};

// What ser2net 4 sends to a client that comes while another holds the line
// (without kickolduser), before it closes the connection: its telnet
// negotiation, then the reason as data.
inline const std::string kSer2netBusy =
    std::string("\xff\xfb\x03\xff\xfd\x03\xff\xfb\x01\xff\xfe\x01\xff\xfd\x00\xff\xfb\x00\xff\xfd,", 21) +
    "Port already in use\r\n";

// A TCP port on 127.0.0.1 that nothing listens on (bound, then let go): for a
// server the test is about to start, or one that refuses.
int UnusedLoopbackPort();

}  // namespace tv::test
