// A modem on a script, on a manual clock, for the reply forms the simulated
// gateway does not produce (a missing quote, +CUSD: 4, an empty first USSD
// answer, a stale reply, silence). Each command the tool writes (a write
// ending in CR) is answered by the first rule whose prefix it begins with
// (On), else by the next reply in order (Answer); reply bytes arrive from
// their delay on, and other bytes can arrive at times of their own
// (unsolicited lines, late replies). Reading waits by moving the clock,
// never by sleeping: a byte due within one read time-out is waited for,
// otherwise the read times out after it.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "device/clock.h"
#include "device/serial_port.h"

namespace tv::test {

class ScriptedModem : public SerialPort {
 public:
  explicit ScriptedModem(ManualClock& clock) : clock_(clock) {}

  struct Chunk {
    Millis after;  // from the command's CR
    std::string bytes;
  };
  // The reply to the next command not yet answered, in order.
  void Answer(std::string bytes, Millis after = Millis(0)) { replies_.push_back({std::move(bytes), after}); }
  // Every command beginning with prefix is answered with these chunks.
  void On(std::string prefix, std::vector<Chunk> chunks) {
    rules_.emplace_back(std::move(prefix), std::move(chunks));
  }
  void On(std::string prefix, std::string bytes) { On(std::move(prefix), {{Millis(0), std::move(bytes)}}); }
  // Another device on the line that never stops talking (a GPS's NMEA
  // sentences, a banner loop, noise at another baud rate): the text over and
  // over, one byte a millisecond, whatever is discarded. A tool still
  // reading after ten simulated minutes fails the test instead of hanging it.
  void Talk(std::string text) {
    talk_ = std::move(text);
    talkStart_ = clock_.Now();
  }
  // The line hangs up now: every read fails at once.
  void HangUp() { lost_ = true; }
  // Called at each command, before it is answered.
  std::function<void(const std::string&)> onCommand;
  // Bytes on the line `at` from now, whatever the tool sends.
  void Arrive(const std::string& bytes, Millis at) { Schedule(bytes, clock_.Now() + at); }
  // The line hangs up once every scripted byte has been read.
  bool hangUpAtEnd = false;

  int Open(int) override {
    lost_ = false;
    return 0;
  }
  bool IsOpen() const override { return true; }
  bool SetDtr(bool) override { return true; }
  bool SetRts(bool) override { return true; }
  ReadStatus ReadByte(uint8_t& byte) override {
    if (lost_) return ReadFailed;
    if (!talk_.empty()) {
      clock_.Advance(Millis(1));
      if (clock_.Now() - talkStart_ > Millis(600000))
        throw std::runtime_error("still reading after ten minutes");
      byte = static_cast<uint8_t>(talk_[talked_++ % talk_.size()]);
      return ReadOk;
    }
    if (line_.empty() || line_.begin()->first > clock_.Now() + ByteReadTimeout) {
      if (line_.empty() && hangUpAtEnd) {
        lost_ = true;
        return ReadFailed;
      }
      clock_.Advance(ByteReadTimeout);
      return ReadTimeout;
    }
    if (line_.begin()->first > clock_.Now())
      clock_.Advance(std::chrono::duration_cast<Millis>(line_.begin()->first - clock_.Now()));
    byte = line_.begin()->second;
    line_.erase(line_.begin());
    return ReadOk;
  }
  void WriteBytes(const uint8_t* data, std::size_t count) override {
    const std::string bytes(reinterpret_cast<const char*>(data), count);
    written += bytes;
    if (bytes.empty() || bytes.back() != '\r') return;
    commands.push_back(bytes);
    if (onCommand) onCommand(bytes);
    for (const auto& [prefix, chunks] : rules_) {
      if (bytes.compare(0, prefix.size(), prefix) != 0) continue;
      for (const Chunk& chunk : chunks) Schedule(chunk.bytes, clock_.Now() + chunk.after);
      return;
    }
    if (replies_.empty()) return;
    Schedule(replies_.front().bytes, clock_.Now() + replies_.front().after);
    replies_.pop_front();
  }
  // Drops what has arrived; what is still on its way comes later.
  void DiscardInput() override {
    ++discards;
    line_.erase(line_.begin(), line_.upper_bound(clock_.Now()));
  }
  std::string Describe(int) const override { return "scripted modem"; }
  bool Lost() const override { return lost_; }

  std::string written;                // every byte written
  std::vector<std::string> commands;  // every command, CR included
  int discards = 0;
  std::size_t RepliesLeft() const { return replies_.size(); }

 private:
  struct Reply {
    std::string bytes;
    Millis after;
  };
  // Bytes of one burst share their time; a later burst at the same time
  // comes after them.
  void Schedule(const std::string& bytes, Clock::TimePoint at) {
    for (char c : bytes) line_.emplace(at, static_cast<uint8_t>(c));
  }

  ManualClock& clock_;
  std::deque<Reply> replies_;
  std::vector<std::pair<std::string, std::vector<Chunk>>> rules_;
  std::multimap<Clock::TimePoint, uint8_t> line_;
  bool lost_ = false;
  std::string talk_;
  std::size_t talked_ = 0;
  Clock::TimePoint talkStart_{};
};

}  // namespace tv::test
