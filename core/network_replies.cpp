// Building AT+CCFC commands and reading "+CCFC:" and "+CUSD:" reply lines.
#include "core/network_replies.h"

#include "cp866/code_page.h"

namespace tv {

namespace {

// A cursor over one reply line.
struct LineReader {
  std::string_view line;
  std::size_t pos = 0;

  bool AtEnd() const { return pos >= line.size(); }
  void SkipBlanks() {
    while (!AtEnd() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  }
  bool Take(char c) {
    SkipBlanks();
    if (AtEnd() || line[pos] != c) return false;
    ++pos;
    return true;
  }
  // A decimal number of at most six digits (longer runs are not numbers of
  // these replies); false when none stands here.
  bool Number(int& value) {
    SkipBlanks();
    int digits = 0;
    int v = 0;
    while (!AtEnd() && line[pos] >= '0' && line[pos] <= '9') {
      if (++digits > 6) return false;
      v = v * 10 + (line[pos] - '0');
      ++pos;
    }
    if (digits == 0) return false;
    value = v;
    return true;
  }
  // The text after the next double quote up to the following one; closed is
  // false when that one is missing (the text then runs to the end).
  bool Quoted(std::string& text, bool& closed) {
    const std::size_t open = line.find('"', pos);
    if (open == std::string_view::npos) return false;
    const std::size_t close = line.find('"', open + 1);
    closed = close != std::string_view::npos;
    const std::size_t end = closed ? close : line.size();
    text.assign(line.substr(open + 1, end - open - 1));
    pos = closed ? close + 1 : line.size();
    return true;
  }
};

bool StartsWith(std::string_view line, std::string_view prefix) {
  return line.substr(0, prefix.size()) == prefix;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

std::string BuildForwardingCommand(int reason, ForwardingMode mode, std::string_view number,
                                   std::string_view delay) {
  std::string command = "AT+CCFC=";
  command += static_cast<char>('0' + reason);
  command += ',';
  command += static_cast<char>('0' + static_cast<int>(mode));
  if (mode == ForwardingMode::SwitchOn) {
    command += ",\"";
    command += number;
    command += '"';
    const bool twoDigits =
        delay.size() == 2 && delay[0] >= '0' && delay[0] <= '9' && delay[1] >= '0' && delay[1] <= '9';
    if (reason == ForwardNoReply && twoDigits) {
      command += ",,,,,";
      command += delay;
    }
  }
  command += '\r';
  return command;
}

std::string ForwardingNumberFromNetwork(std::string_view quoted) {
  std::string number(quoted);
  if (!number.empty() && number[0] == '+') {
    number.erase(0, 1);
    if (!number.empty() && number[0] == '7') number[0] = '8';
  }
  return number;
}

CcfcReply ParseCcfcLine(std::string_view line) {
  CcfcReply reply;
  constexpr std::string_view prefix = "+CCFC:";
  if (!StartsWith(line, prefix)) return reply;
  reply.isCcfc = true;
  LineReader r{line, prefix.size()};
  int status = 0;
  if (!r.Number(status)) return reply;
  reply.status = status;
  int classes = 0;
  if (r.Take(',') && r.Number(classes)) reply.classes = classes;
  reply.activeForVoice = reply.status == 1 && reply.classes > 0 && (reply.classes & 1) != 0;
  if (!reply.activeForVoice) return reply;
  std::string quoted;
  bool closed = false;
  // A lone "+" is no number either: it would leave the stored one empty.
  if (r.Quoted(quoted, closed) && closed) reply.number = ForwardingNumberFromNetwork(quoted);
  reply.hasNumber = !reply.number.empty();
  return reply;
}

CusdReply ParseCusdLine(std::string_view line) {
  CusdReply reply;
  constexpr std::string_view prefix = "+CUSD:";
  if (!StartsWith(line, prefix)) return reply;
  LineReader r{line, prefix.size()};
  int status = 0;
  if (r.Number(status)) reply.status = status;
  bool hasText = false;
  if (r.Take(',')) {
    hasText = r.Quoted(reply.text, reply.closed);
    int dcs = 0;
    if (hasText && reply.closed && r.Take(',') && r.Number(dcs)) reply.dcs = dcs;
  }
  if (reply.status == 4)
    reply.kind = CusdKind::NotSupported;
  else if (hasText)
    reply.kind = reply.text.empty() && reply.closed ? CusdKind::EmptyText : CusdKind::Text;
  else if (reply.status == 5)
    reply.kind = CusdKind::NetworkTimeout;
  else
    reply.kind = CusdKind::NoText;
  return reply;
}

bool IsUcs2Scheme(int dcs) {
  if (dcs < 0 || dcs > 0xFF) return false;
  if (dcs == 0x11) return true;
  return (dcs & 0xC0) == 0x40 && ((dcs >> 2) & 0x03) == 0x02;
}

std::string DecodeUssdText(std::string_view text, int dcs) {
  if (!IsUcs2Scheme(dcs)) return std::string(text);
  std::string_view hex = text;
  // 0x11: two GSM 7-bit characters of the language, packed into two octets,
  // come before the UCS2 text.
  if (dcs == 0x11) {
    if (hex.size() < 4) return std::string(text);
    hex.remove_prefix(4);
  }
  if (hex.size() % 4 != 0) return std::string(text);
  for (char c : hex)
    if (HexDigit(c) < 0) return std::string(text);
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 4) {
    char32_t u = 0;
    for (std::size_t k = 0; k < 4; ++k) u = (u << 4) | static_cast<char32_t>(HexDigit(hex[i + k]));
    const int c = UnicodeToCp866(u);
    if (u < 0x20)
      out += ' ';
    else
      out += c < 0 ? '?' : static_cast<char>(c);
  }
  return out;
}

std::string ScreenSafeText(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20) c = ' ';
  return out;
}

std::vector<std::string> WrapText(std::string_view text, int width, int maxRows) {
  std::vector<std::string> rows;
  const auto w = static_cast<std::size_t>(width);
  while (!text.empty() && static_cast<int>(rows.size()) < maxRows) {
    std::size_t take = text.size() <= w ? text.size() : w;
    if (take < text.size()) {
      const std::size_t blank = text.substr(0, w).rfind(' ');
      if (blank != std::string_view::npos && blank > 0) take = blank + 1;
    }
    rows.emplace_back(text.substr(0, take));
    text.remove_prefix(take);
  }
  return rows;
}

bool IsErrorAnswer(std::string_view line) {
  return StartsWith(line, "ERROR") || StartsWith(line, "+CME ERROR");
}

}  // namespace tv
