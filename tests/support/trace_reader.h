// Reads an exchange trace back: the bytes of each direction put together, and
// the other lines (open, DTR, purge, ...) as they stand. Strict, so that a
// trace a person could misread fails the tests that read it.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace tv::test {

struct TraceContents {
  std::string sent;                 // every "->" byte, in order
  std::string received;             // every "<-" byte, in order
  std::vector<std::string> events;  // the other lines without their stamps
  std::vector<std::string> errors;  // lines that are not well formed
};

// stampLength: the characters of the time stamp before its blank.
inline TraceContents ReadTrace(const std::string& trace, std::size_t stampLength = 23) {
  TraceContents t;
  std::istringstream in(trace);
  std::string line;
  auto hex = [](char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'A' && c <= 'F' ? c - 'A' + 10 : -1; };
  while (std::getline(in, line)) {
    if (line.size() <= stampLength + 1 || line[stampLength] != ' ') {
      t.errors.push_back(line);
      continue;
    }
    const std::string rest = line.substr(stampLength + 1);
    const bool out = rest.rfind("-> ", 0) == 0, back = rest.rfind("<- ", 0) == 0;
    if (!out && !back) {
      t.events.push_back(rest);
      continue;
    }
    std::string bytes;
    bool ok = rest.size() > 3;
    for (std::size_t i = 3; ok && i < rest.size(); ++i) {
      const char c = rest[i];
      if (c < 0x20 || c > 0x7E)
        ok = false;
      else if (c != '\\')
        bytes += c;
      else if (i + 1 < rest.size() && rest[i + 1] == '\\')
        bytes += '\\', ++i;
      else if (i + 3 < rest.size() && rest[i + 1] == 'x' && hex(rest[i + 2]) >= 0 && hex(rest[i + 3]) >= 0)
        bytes += static_cast<char>(hex(rest[i + 2]) * 16 + hex(rest[i + 3])), i += 3;
      else
        ok = false;
    }
    if (!ok) t.errors.push_back(line);
    (out ? t.sent : t.received) += bytes;
  }
  return t;
}

}  // namespace tv::test
