// A serial port at the far end of a TCP connection: a terminal server or
// ser2net that speaks the telnet COM-PORT-OPTION (RFC 2217). The line
// settings, DTR and RTS travel as telnet requests; the data as telnet data.
//
// Which address COMn opens, and the forms of an address: network_address.h.
//
// TLS: the server's certificate must verify against the CA and name the
// host of the address (its DNS name or IP address); anything else ends the
// open with the reason ("сертификат сервера не подтверждён: истёк срок").
// A server that does not speak TLS, one that wants a client certificate
// or does not accept the one given, a plain address to a TLS server: each
// is said as such. The client's key is looked at before anything goes out:
// one others can read, or one that is not its certificate's, is refused
// there. A plain address to anything but a loopback address works, and the
// device row and the command line say "без шифрования".
//
// Every wait is bounded:
//  - Open: name lookup, TCP connect and the answers to the line settings
//    together within OpenBound; a refused connection, an unknown name, a host
//    or server that stays silent give ExchangeError 6, settings the server
//    refuses give 7.
//  - DTR and RTS: each request waits for the server's answer at most three
//    times as long as the line settings took to be answered at the open, and
//    250 ms more (LineAnswerMargin), never over 2 s: a modem line is set as
//    quickly as a baud rate, and the round trip of the link is in both. A server that answers with another
//    level than asked for fails the request (ExchangeError 7, as a line that cannot be driven). A server that
//    does not answer at all is waited for once a connection: the request has gone out, later requests on
//    that connection are sent without waiting, and the lines are reported unconfirmed (LinesUnconfirmed):
//    ser2net serving a device without modem lines never answers them, and which gateway the lines reach
//    is then not known.
//  - A server that already serves another client (ser2net's "Port already in
//    use", then the close) is ExchangeError 6, "линия занята другим клиентом":
//    the line belongs to whoever holds it until that one lets go. The words
//    count wherever they come, in the telnet negotiation too, where the close
//    overtakes them; a server that closed without them is listened to once
//    on a plain TCP connection, which such a server closes at once as well.
//  - A hang-up while nobody reads (the server or the gateway restarted while
//    the tool was idle) is found by CheckHungUp, so that the next connect
//    opens the connection anew instead of failing on the dead one first.
//  - ReadByte: as on a local port, one read waits at most ByteReadTimeout
//    (200 ms) for a byte. The network adds its round trip to the time before
//    the first byte of a reply; the AT engine's bounds per command (700 ms
//    for the first "AT", 2 s for a cell read, 3 s for a write) are what
//    allow for it, with room for round trips up to about 500 ms.
//  - A dropped connection is a hang-up: Lost(), every read fails at once, and
//    the next connect opens the connection anew.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "device/serial_port.h"
#include "platform/posix/network_address.h"

namespace tv {

struct NetworkLink;  // the connection through the library (network_link.h)

class NetworkSerialPort : public SerialPort {
 public:
  static constexpr std::chrono::milliseconds OpenBound{5000};
  static constexpr std::chrono::milliseconds LineAnswerMargin{250};
  static constexpr std::chrono::milliseconds LineAnswerBoundMax{2000};
  static constexpr std::chrono::milliseconds CloseBound{1000};

  NetworkSerialPort();
  ~NetworkSerialPort() override;
  NetworkSerialPort(const NetworkSerialPort&) = delete;
  NetworkSerialPort& operator=(const NetworkSerialPort&) = delete;

  int Open(int portIndex) override;
  bool IsOpen() const override;
  bool SetDtr(bool on) override;
  bool SetRts(bool on) override;
  ReadStatus ReadByte(uint8_t& byte) override;
  void WriteBytes(const uint8_t* data, std::size_t count) override;
  void DiscardInput() override;
  std::string Describe(int portIndex) const override;
  bool Lost() const override;
  bool CheckHungUp() override;
  bool LinesUnconfirmed() const override;
  bool Unencrypted() const override;

  // Opens the connection to an address directly (the tests, and Open).
  int OpenAddress(const NetworkAddress& address);
  void Close();
  // Why the last open failed (cp866, for the device row, the error box and
  // the command line), "" after one that did not.
  std::string FailureReason() const override { return failedWhy_; }

  using Link = NetworkLink;

 private:
  bool SetLine(bool dtr, bool on);
  // One connection attempt to the resolved targets, within the deadline.
  int Connect(const std::string& targets, std::chrono::steady_clock::time_point deadline);

  // The files of a TLS address checked and resolved; false (with the
  // reason) when one cannot be used.
  bool TakeTlsFiles(const NetworkAddress& address, std::string& ca, std::string& cert, std::string& key);
  // After a plain connection found no COM port: whether a TLS server is
  // there instead.
  bool ServerWantsTls(const std::string& targets, std::chrono::steady_clock::time_point deadline);
  // Why a TLS connection failed, "" when TLS had no part in it.
  std::string TlsFailure(const Link& link, int err) const;

  std::unique_ptr<Link> link_;
  NetworkAddress address_;  // of the connection held or last tried
  std::string layers_;      // the library's layers between telnet and TCP ("" or "ssl(...),")
  bool reached_ = false;    // the last connection attempt reached a server
  int failedPort_ = -1;    // the port whose last open failed
  int openPort_ = -1;      // the port whose connection is held
  std::string failedWhy_;  // why, for the device row (cp866)
};

}  // namespace tv
