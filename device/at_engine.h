// The AT command engine: one command in flight, its reply collected up to
// its own final result code, unsolicited lines set aside.
//
//   -> AT+CPBR=05\r
//   <- AT+CPBR=05\r                  echo (a modem after power-on echoes)
//   <- \r\n+CREG: 1\r\n              unsolicited: the network registration changed
//   <- \r\n+CPBR: 5,"0",129,"05"\r\n the line the command asked for
//   <- \r\nRING\r\n                  unsolicited, even between the lines of a reply
//   <- \r\nOK\r\n                    final result: the command is over
//
// Real modems interleave such lines at any moment, answer slowly (a SIM write
// takes up to half a second) and drop what arrives while they are still busy
// with a command, so the next command is sent only after the final result
// of the last one, or after the line has gone quiet when that never came.
// Lines are carried with their length: a zero byte (GSM '@') is a character.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/clock.h"
#include "device/serial_port.h"

namespace tv {

// --- pure parts: framing and classification ---------------------------------

// How a final result code ends a command.
enum class FinalKind { Ok, Error, CmeError, CmsError, NoCarrier, Busy, NoAnswer, NoDialtone };

// The final result code a line is, if any. Whole-line codes must match
// exactly ("OK", "ERROR", "NO CARRIER"); the error reports by their prefix
// ("+CME ERROR: 22", "+CMS ERROR: 500").
std::optional<FinalKind> FinalResultOf(std::string_view line);

// A "not found" answer: what several modem families send for an empty
// phonebook entry instead of OK alone ("+CME ERROR: 22", "+CME ERROR: not found").
bool IsNotFound(std::string_view line);
// "+CME ERROR: 14" (SIM busy) and the like: worth one more try a moment later.
bool IsBusy(std::string_view line);

// What one reply line is to the command in flight.
enum class LineKind {
  Blank,        // the empty line before every reply line
  Echo,         // the command coming back
  Final,        // its final result code
  Expected,     // a line with the prefix the command asks for ("+CPBR:")
  Unsolicited,  // anything else: RING, +CREG: 1, a late +CUSD: ...
};
// command is the text sent, with or without its CR.
LineKind ClassifyLine(std::string_view line, std::string_view command, std::string_view expectedPrefix);

// Bytes in, lines out. A line ends at CR or at LF: modems end their lines
// with CR LF, with CR alone (S4 set to 13), with LF alone, or with CR CR LF,
// and each of these is one line end. A LF or CR right after a CR belongs
// to that CR's line end; a LF after a LF ends an empty line, as CR LF CR LF
// does. Every other byte, a zero byte (GSM '@') included, is a character.
class LineFramer {
 public:
  // A line that runs past this without a line feed is noise: its bytes up to
  // the next LF are dropped.
  static constexpr std::size_t MaxLine = 4096;

  // True when the byte completed a line (then in Line()).
  bool Feed(uint8_t byte);
  const std::string& Line() const { return done_; }
  // The line just ended at a CR, and this modem's lines end with CR LF (the
  // last line end seen had its LF): the LF is still to come, one character
  // time later.
  bool LfDue() const { return afterCr_ && crLf_; }
  // Drops the line begun so far. A line end in progress stays: the LF of a
  // final "OK" CR LF may still be on its way when the next command goes out.
  void Reset();

 private:
  std::string line_;
  std::string done_;
  bool overlong_ = false;
  bool afterCr_ = false;  // the last byte was a CR that ended a line
  bool crLf_ = false;     // the last CR that ended a line was followed by a LF
};

// The lines of one command's reply, in the order they came. Lines with the
// expected prefix that came before the echo belong to an earlier command and
// are dropped.
struct ReplyCollector {
  ReplyCollector(std::string_view command, std::string_view expectedPrefix);
  // True when the line was the command's final result code.
  bool Take(const std::string& line);

  std::string command;
  std::string prefix;
  std::vector<std::string> expected;
  std::vector<std::string> unsolicited;
  std::optional<FinalKind> final;
  std::string finalLine;
};

// --- the engine on a port -----------------------------------------------------

enum class AtStatus {
  Ok,       // final result OK
  Error,    // another final result: ERROR, +CME ERROR: ..., NO CARRIER ...
  Timeout,  // no final result within the bound
  Failed,   // the port failed or hung up: nothing more will come
};

struct AtReply {
  AtStatus status = AtStatus::Timeout;
  std::string finalLine;           // "OK", "+CME ERROR: 22", ...
  std::vector<std::string> lines;  // the lines with the expected prefix
  bool heard = false;              // any byte came while the command was in flight
  bool stopped = false;            // the wait was left early (status Timeout)
};

class AtEngine {
 public:
  // After a command that got no final result, the next one waits until no
  // byte has come for QuietGap (a late reply drains away), at most QuietCap.
  static constexpr Millis QuietGap{300};
  static constexpr Millis QuietCap{3000};
  // Unsolicited lines kept for a listener; older ones are dropped.
  static constexpr std::size_t KeptUnsolicited = 32;

  AtEngine(SerialPort& port, Clock& clock) : port_(port), clock_(clock) {}
  AtEngine(const AtEngine&) = delete;
  AtEngine& operator=(const AtEngine&) = delete;

  // Called before every wait on the line, so the operator sees the screen.
  std::function<void()> beforeWait;
  // Called while a reply is awaited, at every byte-read time-out of
  // silence: lets the keyboard be watched (a Ctrl+C answered at once).
  std::function<void()> whileWaiting;
  // Called when a read finds the line hung up (adapter unplugged, gateway
  // restarted, network connection dropped): nothing more will come on it.
  std::function<void()> onLineLost;

  // Sends the command (which ends with its CR) after stale input is
  // discarded, and collects its reply until its final result code, at most
  // for bound. Unsolicited lines are set aside.
  // stop, when given, is asked at least every byte-read time-out and ends
  // the wait early (the operator left it).
  AtReply Run(std::string_view command, std::string_view expectedPrefix, Millis bound,
              const std::function<bool()>& stop = {});
  // The same for a request whose expected line is the answer itself, which
  // some modems send without a final result after it (a USSD answer): the
  // first expected line ends the wait too (status Ok, no final line).
  AtReply RunUntilAnswer(std::string_view command, std::string_view expectedPrefix, Millis bound,
                         const std::function<bool()>& stop = {});

  // The same for a reply of many lines that the device sends one by one (a
  // phonebook range: a SIM takes 20 to 100 ms an entry): the wait ends when
  // no byte has come for gap (the command's own time for the first), or
  // after cap in all. onExpected sees each expected line as it comes.
  AtReply RunLong(std::string_view command, std::string_view expectedPrefix, Millis gap, Millis cap,
                  const std::function<bool()>& stop = {},
                  const std::function<void(const std::string&)>& onExpected = {});

  // Reads and sets aside whatever comes until the line has been quiet for
  // QuietGap, at most for cap.
  void AwaitQuiet(Millis cap = QuietCap);

  // Waits for an unsolicited line that begins with prefix, until deadline or
  // until stop() says so (asked at least every byte-read time-out). Lines
  // set aside before the call do not count: they answer earlier requests.
  // An empty prefix takes the next line, whatever it is.
  std::optional<std::string> AwaitUnsolicited(std::string_view prefix, Clock::TimePoint deadline,
                                              const std::function<bool()>& stop);

  // Lines set aside since they were last taken (oldest first).
  std::vector<std::string> TakeUnsolicited();
  // The clock the engine waits on (a pause before a try again).
  Clock& clock() { return clock_; }
  // The bytes of the last command sent.
  const std::string& LastCommand() const { return lastCommand_; }
  // Commands sent so far: what was read from the device stays true only as
  // long as nothing else was sent to it.
  uint64_t CommandsSent() const { return commandsSent_; }
  // The next command waits for a quiet line first (a late reply may come).
  bool QuietPending() const { return quietPending_; }

 private:
  struct Wait {
    Millis bound;                  // in all
    Millis gap{0};                 // without a byte (0: no such bound)
    bool answerEnds = false;       // the first expected line ends the wait
    const std::function<void(const std::string&)>* onExpected = nullptr;
  };
  AtReply Exchange(std::string_view command, std::string_view expectedPrefix, const Wait& wait,
                   const std::function<bool()>& stop);
  void SetAside(std::string line);
  void LineLost();
  // Reads the LF that follows the CR ending a final line, so that it is
  // taken as part of this reply rather than dropped before the next command.
  void TakeDueLf();

  SerialPort& port_;
  Clock& clock_;
  LineFramer framer_;
  std::vector<std::string> unsolicited_;
  std::string lastCommand_;
  uint64_t commandsSent_ = 0;
  bool quietPending_ = false;
};

}  // namespace tv
