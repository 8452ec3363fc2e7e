// The telnet stream as the tests' RFC 2217 party sees it: cut into units (a
// data byte, an option negotiation, a subnegotiation, a command), and the
// COM-PORT-OPTION requests (RFC 2217) read, answered and named.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace tv::test::telnet {

constexpr uint8_t IAC = 255, SB = 250, SE = 240, WILL = 251, WONT = 252, DO = 253, DONT = 254;
constexpr uint8_t kComPort = 44;
constexpr uint8_t kSetControl = 5;

// A telnet stream cut into units.
struct Unit {
  enum Kind { Data, Negotiation, Sub, Command } kind;
  std::string raw;  // as on the wire
  uint8_t data = 0;
};

class Cutter {
 public:
  std::vector<Unit> Feed(const uint8_t* p, std::size_t n) {
    std::vector<Unit> units;
    for (std::size_t i = 0; i < n; ++i) {
      const uint8_t b = p[i];
      part_ += static_cast<char>(b);
      switch (state_) {
        case S::Data:
          if (b == IAC) {
            state_ = S::Iac;
          } else {
            units.push_back({Unit::Data, part_, b});
            part_.clear();
          }
          break;
        case S::Iac:
          if (b == IAC) {
            units.push_back({Unit::Data, part_, IAC});
            part_.clear();
            state_ = S::Data;
          } else if (b >= WILL) {
            state_ = S::Option;
          } else if (b == SB) {
            state_ = S::Sub;
          } else {
            units.push_back({Unit::Command, part_, 0});
            part_.clear();
            state_ = S::Data;
          }
          break;
        case S::Option:
          units.push_back({Unit::Negotiation, part_, 0});
          part_.clear();
          state_ = S::Data;
          break;
        case S::Sub:
          if (b == IAC) state_ = S::SubIac;
          break;
        case S::SubIac:
          if (b == SE) {
            units.push_back({Unit::Sub, part_, 0});
            part_.clear();
            state_ = S::Data;
          } else {
            state_ = S::Sub;  // IAC IAC inside: a 0xFF of the value
          }
          break;
      }
    }
    return units;
  }

 private:
  enum class S { Data, Iac, Option, Sub, SubIac } state_ = S::Data;
  std::string part_;
};

// The command byte and the unescaped value of a COM-PORT-OPTION
// subnegotiation (IAC SB 44 cmd value... IAC SE).
inline bool ComPortRequest(const std::string& raw, uint8_t& cmd, std::string& value) {
  if (raw.size() < 6 || static_cast<uint8_t>(raw[2]) != kComPort) return false;
  cmd = static_cast<uint8_t>(raw[3]);
  value.clear();
  for (std::size_t i = 4; i + 2 < raw.size(); ++i) {
    value += raw[i];
    if (static_cast<uint8_t>(raw[i]) == IAC) ++i;
  }
  return true;
}

inline std::string ComPortReply(uint8_t cmd, const std::string& value) {
  std::string out = {static_cast<char>(IAC), static_cast<char>(SB), static_cast<char>(kComPort),
                     static_cast<char>(cmd + 100)};
  for (char c : value) {
    out += c;
    if (static_cast<uint8_t>(c) == IAC) out += c;
  }
  out += {static_cast<char>(IAC), static_cast<char>(SE)};
  return out;
}

inline std::string Describe(uint8_t cmd, const std::string& value) {
  auto number = [&] {
    unsigned long n = 0;
    for (char c : value) n = n * 256 + static_cast<uint8_t>(c);
    return std::to_string(n);
  };
  switch (cmd) {
    case 1: return "baud " + number();
    case 2: return "datasize " + number();
    case 3: return "parity " + number();
    case 4: return "stopsize " + number();
    case 12: return "purge " + number();
    case kSetControl:
      switch (value.empty() ? 0 : static_cast<uint8_t>(value[0])) {
        case 8: return "DTR on";
        case 9: return "DTR off";
        case 11: return "RTS on";
        case 12: return "RTS off";
        default: return "control " + number();
      }
    default: return "command " + std::to_string(cmd) + " " + number();
  }
}

}  // namespace tv::test::telnet
