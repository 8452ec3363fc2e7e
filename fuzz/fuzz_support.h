// A Tool for fuzz targets: in-memory screen, no keys, a port that serves the
// fuzz input as the device's bytes.
#pragma once

#include <cstdint>
#include <string>

#include "device/clock.h"
#include "device/serial_port.h"
#include "ui/tool.h"

namespace tv::fuzz {

class BytesPort : public SerialPort {
 public:
  BytesPort(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  int Open(int) override { return 0; }
  bool IsOpen() const override { return true; }
  bool SetDtr(bool) override { return true; }
  bool SetRts(bool) override { return true; }
  ReadStatus ReadByte(uint8_t& b) override {
    if (pos_ >= size_) return ReadTimeout;
    b = data_[pos_++];
    return ReadOk;
  }
  void WriteBytes(const uint8_t*, std::size_t) override {}
  void DiscardInput() override {}
  std::string Describe(int) const override { return {}; }
  bool AtEnd() const { return pos_ >= size_; }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// Keys for a fuzzed screen: Esc for ever, so every loop ends.
class EscConsole : public Console {
 public:
  void Present(const Screen&) override {}
  KeyPress NextKey(const Screen&) override { return KeyPress{false, 0x1B}; }
  void RunCommand(const char*, const Screen&) override {}
};

}  // namespace tv::fuzz
