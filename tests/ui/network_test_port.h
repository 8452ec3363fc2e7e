// A serial port that answers each command with reply bytes chosen by the
// test, at chosen times, on a ManualClock: for reply forms the simulated
// gateway does not produce (a missing quote, +CUSD: 4, an empty first USSD
// answer, silence). A read that finds nothing waits by moving the clock.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "device/clock.h"
#include "device/serial_port.h"

namespace tv::test {

class ScriptedPort : public SerialPort {
 public:
  struct Chunk {
    Millis after;  // from the command's carriage return
    std::string bytes;
  };

  explicit ScriptedPort(ManualClock& clock) : clock_(clock) {}

  // Commands beginning with prefix are answered with these chunks (the first
  // matching rule counts); other commands get no answer at all.
  void Answer(std::string prefix, std::vector<Chunk> chunks) {
    rules_.emplace_back(std::move(prefix), std::move(chunks));
  }
  void Answer(std::string prefix, std::string bytes) {
    Answer(std::move(prefix), {{Millis(0), std::move(bytes)}});
  }

  int Open(int) override { return 0; }
  bool IsOpen() const override { return true; }
  bool SetDtr(bool) override { return true; }
  bool SetRts(bool) override { return true; }

  ReadStatus ReadByte(uint8_t& byte) override {
    if (failing) return ReadFailed;
    if (queue_.empty() || queue_.front().first > clock_.Now() + ByteReadTimeout) {
      clock_.Advance(ByteReadTimeout);
      return ReadTimeout;
    }
    if (queue_.front().first > clock_.Now())
      clock_.Advance(std::chrono::ceil<Millis>(queue_.front().first - clock_.Now()));
    byte = queue_.front().second;
    queue_.pop_front();
    return ReadOk;
  }

  void WriteBytes(const uint8_t* data, std::size_t count) override {
    for (std::size_t i = 0; i < count; ++i) {
      const char c = static_cast<char>(data[i]);
      written += c;
      command_ += c;
      if (c != '\r') continue;
      if (onCommand) onCommand(command_);
      for (const auto& [prefix, chunks] : rules_) {
        if (command_.compare(0, prefix.size(), prefix) != 0) continue;
        for (const Chunk& chunk : chunks)
          for (char b : chunk.bytes) queue_.emplace_back(clock_.Now() + chunk.after, static_cast<uint8_t>(b));
        break;
      }
      command_.clear();
    }
  }

  void DiscardInput() override {
    while (!queue_.empty() && queue_.front().first <= clock_.Now()) queue_.pop_front();
  }
  std::string Describe(int) const override { return "scripted port"; }

  std::string written;                                // every byte written
  std::function<void(const std::string&)> onCommand;  // called at each command's CR
  bool failing = false;                               // every read fails at once

 private:
  ManualClock& clock_;
  std::vector<std::pair<std::string, std::vector<Chunk>>> rules_;
  std::deque<std::pair<Clock::TimePoint, uint8_t>> queue_;
  std::string command_;
};

}  // namespace tv::test
