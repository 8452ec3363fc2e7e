// The serial line to the gateways: the COM names the operator chooses from,
// the gateway addressing by DTR and RTS, and the port interface that the
// POSIX implementation and the simulated gateway both provide.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "cp866/literal.h"

namespace tv {

enum ReadStatus : int { ReadOk = 0, ReadTimeout = 1, ReadFailed = -1 };

inline constexpr int PortCount = 16;
inline constexpr int GatewayCount = 4;
// Five-character screen fields: "COM1 " .. "COM9 ", "COM10" .. "COM16".
extern const char* const PortNames[PortCount];
extern const char* const GatewayNames[GatewayCount];
// The device name of a port entry: the entry without its trailing blank.
std::string PortDeviceName(int portIndex);

// The scripted commands also take a port by what it is rather than by COM
// name: a device path ("/dev/ttyUSB0", "\\.\COM20") or a network address
// ("rfc2217://site7:4001"). Such a target, given to a port index, is what
// that index opens for the rest of the run instead of what its COM name
// would open; "" gives the COM name back. The screen never sets one.
void SetPortTarget(int portIndex, std::string target);
// The target given to the port of this index, "" when none.
const std::string& PortTarget(int portIndex);
// A device path or an address as part of a file name (the transfer
// journal): its letters, digits and dots with every other run of characters
// as one '-' ("/dev/ttyUSB0" -> "dev-ttyUSB0"), at most 96 of them.
std::string FileNamePart(std::string_view text);
// The port's name in file names: "COM3"; for a port given a target, the
// target as FileNamePart gives it. Journals of earlier versions were named
// after it.
std::string PortFileName(int portIndex);

struct GatewayLines {
  bool dtr;
  bool rts;
};
// DTR and RTS levels that address each of the four gateways on one port.
inline constexpr GatewayLines GatewayLevels[GatewayCount] = {
    {true, true}, {false, true}, {true, false}, {false, false}};

inline constexpr int BaudRate = 115200;
// Every read asks for one byte and waits at most this long for it
// (100 ms per byte plus a 100 ms constant).
inline constexpr std::chrono::milliseconds ByteReadTimeout{200};
// A write gives up after 50 ms and 1 ms for each byte.
inline constexpr std::chrono::milliseconds WriteTimeoutConstant{50};
inline constexpr std::chrono::milliseconds WriteTimeoutPerByte{1};

// ExchangeError codes.
namespace xerr {
inline constexpr int NoAnswer = 1;
inline constexpr int NoSync = 2;
inline constexpr int BadAck = 3;
inline constexpr int BadChecksum = 4;
inline constexpr int NoPort = 5;
inline constexpr int PortBusy = 6;
inline constexpr int SystemError = 7;
inline constexpr int BadReply = 8;
inline constexpr int Aborted = 27;
}  // namespace xerr

// What is said (the dialog's device row, the command line) of a connection
// that crosses a network in clear text.
inline constexpr const char* kUnencrypted = "без шифрования"_cp;

class SerialPort {
 public:
  virtual ~SerialPort() = default;
  // Closes the held port, if any, then opens and configures the port of the
  // given index (115200 8N1, raw, no flow control). 0, or ExchangeError 6
  // (cannot be opened, or held by another program) or 7 (cannot be configured).
  virtual int Open(int portIndex) = 0;
  virtual bool IsOpen() const = 0;
  // Drive one modem-control line; false when it cannot be driven.
  virtual bool SetDtr(bool on) = 0;
  virtual bool SetRts(bool on) = 0;
  // One byte, waiting at most ByteReadTimeout for it.
  virtual ReadStatus ReadByte(uint8_t& byte) = 0;
  // The bytes leave in order; the outcome is not reported.
  virtual void WriteBytes(const uint8_t* data, std::size_t count) = 0;
  // Drops every received byte not yet read.
  virtual void DiscardInput() = 0;
  // For the operator: which device the port of this index would open.
  virtual std::string Describe(int portIndex) const = 0;
  // The line has hung up since it was opened (the adapter was unplugged, the
  // far end closed): every read fails at once. The next connect opens the
  // port anew instead of reusing it.
  virtual bool Lost() const { return false; }
  // Looks at the line now, without reading or waiting: a line that hung up
  // while nobody read (the gateway's end restarted while the tool was idle)
  // is found before the next connect talks to it. Lost() holds afterwards.
  virtual bool CheckHungUp() { return Lost(); }
  // DTR and RTS were asked for and nobody confirmed them (a network server
  // that never answers line requests): which gateway the lines reach is not
  // known. A local pseudo-terminal, which has no lines at all, is not such a
  // port.
  virtual bool LinesUnconfirmed() const { return false; }
  // Whether the connection held crosses a network in clear text (a plain
  // network address that is not a loopback one): kUnencrypted is said then.
  virtual bool Unencrypted() const { return false; }
  // Why the last Open failed, in the operator's words (cp866), when the port
  // knows more than its ExchangeError ("отказ в соединении", "линия занята
  // другим клиентом"); "" otherwise.
  virtual std::string FailureReason() const { return {}; }
};

}  // namespace tv
