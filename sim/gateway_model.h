// The simulated gateway: one model of the gateway's modem and its SIM, used
// in-process by the tests (through SimSerialPort) and served on a
// pseudo-terminal by the gwsim program.
//
// It answers as real modems do:
//   AT+CPBR=05   ->  \r\n+CPBR: 5,"0",129,"05"\r\n\r\nOK\r\n   (empty location: \r\nOK\r\n)
//   AT+CPBR=1,99 ->  one +CPBR line per filled location, ascending, then OK
//                    (each location read takes the SIM its time, see commandLatency)
//   AT+CPBW=05,"0",129,"05"  ->  \r\nOK\r\n   (name over 16 characters: \r\nERROR\r\n)
//   AT+CCFC=0,2  ->  \r\n+CCFC: 1,1,"+79161234567",145\r\n\r\nOK\r\n  or  +CCFC: 0,7
//   AT+CUSD=1,"#100#",15  ->  \r\nOK\r\n, later \r\n+CUSD: 0,"...",15\r\n
//
// and to what a third-party client asks at start-up:
//   AT+CGMM  ->  \r\nGW-900 GSM gateway\r\n\r\nOK\r\n
//   AT+CSCS="UCS2"  then names travel as hex: +CPBR: 98,"1100200",129,"00390038..."
//   AT+CMEE=1  then  \r\n+CME ERROR: 24\r\n  where  \r\nERROR\r\n  was
//   AT+CCLK="26/12/10,23:58:49+00"  ->  \r\nOK\r\n (a restore sets the clock);
//   AT+CCLK?  ->  \r\n+CCLK: "26/12/10,23:58:52+00"\r\n\r\nOK\r\n (it runs on)
//
// On request it is as awkward as a modem in service (see Faults): lines
// such as \r\nRING\r\n between the lines of a reply and on an idle line, bytes
// lost while it executes a command or wakes up, slow SIM writes, and the
// oddities of particular modem families.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tv::sim {

using Millis = std::chrono::milliseconds;
using Nanos = std::chrono::nanoseconds;
// One byte at 115200 baud, 8N1: ten bits, 1/11520 s.
inline constexpr Nanos ByteTime115200{86806};

// Faults on request.
struct Faults {
  int silentAfterCommands = -1;  // answer this many commands, then nothing at all (-1: never)
  bool errorToAll = false;       // "ERROR" to every command
  std::string errorPrefix;       // "ERROR" to commands beginning with this text (e.g. "AT+CPBR")
  bool cmeError = false;         // "+CME ERROR: 21" instead of "ERROR", whatever AT+CMEE says
  bool garbage = false;          // a line of noise bytes before every reply
  bool overlongLines = false;    // every +CPBR reply line padded past 200 bytes
  int hangUpAfterCommands = -1;  // the line goes dead after this many commands (-1: never)

  // Unsolicited lines ("\r\nRING\r\n", "\r\n+CREG: 1\r\n", ...): this percentage
  // of the line boundaries of a reply gets one, and an idle line gets one
  // about every urcIdleMean after the modem's last output. Drawn from a PRNG
  // seeded with `seed`, so a run repeats itself.
  int urcPercent = 0;
  Millis urcIdleMean{300};
  uint64_t seed = 20240611;
  // Bytes from the host between a command's CR and the last byte of its
  // final result code are lost (no echo, no command).
  bool dropWhileBusy = false;
  // Each AT+CPBW waits this long (a PRNG draw in [min, max]) before its reply:
  // the SIM's EEPROM write.
  Millis writeDelayMin{0};
  Millis writeDelayMax{0};
  bool cmeNotFound = false;  // an empty location read: "+CME ERROR: 22" instead of "OK"
  // Asleep at start and after 5 s without traffic: the first command wakes
  // the modem and is answered this much later; bytes meanwhile are lost.
  Millis wakeDelay{0};
  std::vector<int> wrongIndex;  // AT+CPBR=13 answers "+CPBR: 14,..." with cell 14's entry
  bool gsmNul = false;          // '@' is byte 0 inside the quoted texts (GSM alphabet)
  bool lateUssd = false;        // +CUSD comes after the final result of the next command
  // A modem that does not take the range form AT+CPBR=a,b: "ERROR" (or
  // "+CME ERROR: 4", operation not supported, as AT+CMEE asks).
  bool noRange = false;
  // A modem that answers at most this many entries to a range, then OK (0:
  // every entry of the range).
  int rangeCap = 0;
};

// What a modem in service says unasked (--urc): calls, registration changes,
// new messages, signal and mode reports; each goes framed, "\r\nRING\r\n".
const std::vector<std::string>& UnsolicitedLines();

struct ForwardingState {
  bool active = false;
  std::string number;  // as the network reports it, e.g. "+79161234567"
  int delaySeconds = 20;
};

struct GatewayOptions {
  bool initialised = true;                         // the SIM carries the gateway layout and sample settings
  bool echo = false;                               // echo commands (ATE1), as a modem after power-on does
  bool blankAfterComma = false;                    // "+CCFC: 1, 1,..." as the gateway's own modem answers
  // Time from the command's CR to the first reply byte; a range read takes
  // it again for each further location of the range (the SIM reads them
  // one by one, the empty ones too) and sends each entry as it is read.
  Millis commandLatency{0};
  // How the modem ends its lines (S3 and S4): "\r\n", "\r" (S4 set to 13),
  // "\n", or "\r\r\n". The echo is what the host sent.
  std::string lineEnd = "\r\n";
  // The modem's clock at its start, "yy/MM/dd,hh:mm:ss+zz" (AT+CCLK).
  std::string clockAtStart = "26/01/01,00:00:00+00";
  bool pace115200 = false;                         // each byte takes 1/11520 s on the line
  Millis ussdDelay{1500};                          // time from OK to the +CUSD line
  std::string ussdAnswer = "Баланс: 123.45 руб.";  // UTF-8; UCS2 hex (dcs 72) when ussdUcs2
  bool ussdUcs2 = true;
  bool ussdSilent = false;        // never send the +CUSD line
  bool forwardingSilent = false;  // never answer AT+CCFC
  Millis forwardingDelay{0};      // the network's time to answer AT+CCFC
  bool forwardingError = false;   // "ERROR" to AT+CCFC
  Faults faults;
};

// One byte the modem sends, with the time (since the model's start) at
// which it is on the line.
struct TimedByte {
  Millis at;
  uint8_t byte;
};

class GatewayModel {
 public:
  explicit GatewayModel(GatewayOptions options = {});

  GatewayOptions& Options() { return options_; }

  // Bytes from the host at time `now`; replies are queued with their times.
  void Receive(Millis now, const uint8_t* data, std::size_t count);
  // Bytes that are on the line at or before `now`, removed from the queue.
  std::vector<uint8_t> TakeOutput(Millis now);
  // Time of the next queued byte, if any.
  std::optional<Millis> NextOutputTime() const;
  // The same with the finer time that the pseudo-terminal server and the
  // paced line need (one byte at 115200 baud is 0.087 ms).
  void Receive(Nanos now, const uint8_t* data, std::size_t count);
  std::vector<uint8_t> TakeOutput(Nanos now);
  std::optional<Nanos> NextOutputTimeExact() const;
  // Times of the first `count` queued bytes (fewer when fewer are queued);
  // a line that waits for its moment (an unsolicited line, a USSD answer)
  // counts from the moment it is due.
  std::vector<Nanos> QueuedTimes(std::size_t count) const;
  // The line is dead (hang-up fault): nothing more is received or answered;
  // bytes already queued are still delivered.
  bool HungUp() const;
  int CommandsSeen() const;

  // The SIM phonebook (cells 1..99; an empty location has no entry).
  bool HasEntry(int index) const;
  std::string Number(int index) const;
  std::string Name(int index) const;
  void SetEntry(int index, std::string number, std::string name);
  void EraseEntry(int index);
  void FillInitialised();  // the gateway layout with plausible sample settings
  void FillBlank();        // no entries at all
  // The phonebook as text lines `NN,"number",129,"name"` (for gwsim --dump).
  std::string Dump() const;

  ForwardingState& Forwarding(int reason);  // reason 0 unconditional, 2 no reply

 private:
  void Answer(Nanos ready, const std::string& command);
  void Release(Nanos now);  // queues the waiting lines due at or before `now`

  struct Impl;
  GatewayOptions options_;
  std::shared_ptr<Impl> impl_;
};

}  // namespace tv::sim
