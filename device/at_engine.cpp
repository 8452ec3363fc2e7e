// Line framing, final result codes, and the one-command-in-flight engine.
#include "device/at_engine.h"

#include <cctype>

namespace tv {

namespace {

bool StartsWith(std::string_view line, std::string_view prefix) {
  return line.size() >= prefix.size() && line.compare(0, prefix.size(), prefix) == 0;
}

bool StartsWithNoCase(std::string_view line, std::string_view prefix) {
  if (line.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::toupper(static_cast<unsigned char>(line[i])) !=
        std::toupper(static_cast<unsigned char>(prefix[i])))
      return false;
  return true;
}

std::string_view TrimRight(std::string_view line) {
  while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.remove_suffix(1);
  return line;
}

// The final result codes of V.250 and 27.007 a modem ends a command with.
struct FinalCode {
  std::string_view text;
  bool prefix;  // matched by its beginning (the reports carry a code or text)
  FinalKind kind;
};
constexpr FinalCode kFinalCodes[] = {
    {"OK", false, FinalKind::Ok},
    {"ERROR", false, FinalKind::Error},
    {"+CME ERROR:", true, FinalKind::CmeError},
    {"+CMS ERROR:", true, FinalKind::CmsError},
    {"NO CARRIER", false, FinalKind::NoCarrier},
    {"BUSY", false, FinalKind::Busy},
    {"NO ANSWER", false, FinalKind::NoAnswer},
    {"NO DIALTONE", false, FinalKind::NoDialtone},
    {"COMMAND NOT SUPPORT", false, FinalKind::Error},  // one vendor family's ERROR
};

// The code or text after "+CME ERROR:", blanks trimmed.
std::string_view CmeDetail(std::string_view line) {
  static constexpr std::string_view kCme = "+CME ERROR:";
  if (!StartsWith(line, kCme)) return {};
  std::string_view rest = TrimRight(line.substr(kCme.size()));
  while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  return rest;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && StartsWithNoCase(a, b);
}

}  // namespace

std::optional<FinalKind> FinalResultOf(std::string_view line) {
  const std::string_view trimmed = TrimRight(line);
  for (const FinalCode& code : kFinalCodes)
    if (code.prefix ? StartsWith(trimmed, code.text) : trimmed == code.text) return code.kind;
  return std::nullopt;
}

bool IsNotFound(std::string_view line) {
  const std::string_view detail = CmeDetail(line);
  return detail == "22" || EqualsNoCase(detail, "not found");
}

bool IsBusy(std::string_view line) {
  const std::string_view detail = CmeDetail(line);
  // 14 SIM busy, 515 "please wait, init or command processing in progress".
  return detail == "14" || detail == "515" || EqualsNoCase(detail, "SIM busy");
}

LineKind ClassifyLine(std::string_view line, std::string_view command, std::string_view expectedPrefix) {
  if (TrimRight(line).empty()) return LineKind::Blank;
  if (const auto final = FinalResultOf(line)) {
    // NO CARRIER, BUSY, NO ANSWER and NO DIALTONE end only a call the
    // command made; otherwise they are news of someone else's call (a
    // caller hanging up after RING) and end nothing.
    const bool callResult = *final == FinalKind::NoCarrier || *final == FinalKind::Busy ||
                            *final == FinalKind::NoAnswer || *final == FinalKind::NoDialtone;
    if (!callResult || StartsWithNoCase(command, "ATD") || StartsWithNoCase(command, "ATA"))
      return LineKind::Final;
    return LineKind::Unsolicited;
  }
  if (!expectedPrefix.empty() && StartsWith(line, expectedPrefix)) return LineKind::Expected;
  while (!command.empty() && command.back() == '\r') command.remove_suffix(1);
  // The echo is the command as sent; a modem may echo it in other case, or
  // twice (a local echo in front of it). No reply line of a modem begins
  // with "AT".
  if (StartsWithNoCase(line, "AT") || (!command.empty() && StartsWithNoCase(line, command)))
    return LineKind::Echo;
  return LineKind::Unsolicited;
}

// --- framing ----------------------------------------------------------------

bool LineFramer::Feed(uint8_t byte) {
  if (byte == '\r' || byte == '\n') {
    // CR LF and CR CR LF end one line, not two or three.
    const bool continued = afterCr_;
    if (continued && byte == '\n') crLf_ = true;
    afterCr_ = byte == '\r';
    if (continued) return false;
    const bool dropped = overlong_;
    overlong_ = false;
    done_.swap(line_);
    line_.clear();
    return !dropped;
  }
  if (afterCr_) crLf_ = false;
  afterCr_ = false;
  if (overlong_) return false;
  if (line_.size() >= MaxLine) {
    overlong_ = true;
    line_.clear();
    return false;
  }
  line_ += static_cast<char>(byte);
  return false;
}

void LineFramer::Reset() {
  line_.clear();
  overlong_ = false;
}

// --- one reply ------------------------------------------------------------------

ReplyCollector::ReplyCollector(std::string_view cmd, std::string_view expectedPrefix)
    : command(cmd), prefix(expectedPrefix) {}

bool ReplyCollector::Take(const std::string& line) {
  switch (ClassifyLine(line, command, prefix)) {
    case LineKind::Blank: return false;
    case LineKind::Echo:
      // Whatever the command asks for comes after its echo; lines of that
      // kind before it are the tail of an earlier reply.
      expected.clear();
      return false;
    case LineKind::Expected: expected.push_back(line); return false;
    case LineKind::Unsolicited: unsolicited.push_back(line); return false;
    case LineKind::Final:
      final = FinalResultOf(line);
      finalLine = std::string(TrimRight(line));
      return true;
  }
  return false;
}

// --- the engine ---------------------------------------------------------------

void AtEngine::LineLost() {
  if (onLineLost) onLineLost();
}

void AtEngine::TakeDueLf() {
  // At most the LF and a CR before it (CR CR LF); a modem that stops there
  // costs one byte-read time-out.
  for (int i = 0; i < 2 && framer_.LfDue(); ++i) {
    uint8_t byte = 0;
    if (port_.ReadByte(byte) != ReadOk) return;
    framer_.Feed(byte);
  }
}

void AtEngine::SetAside(std::string line) {
  if (unsolicited_.size() >= KeptUnsolicited) unsolicited_.erase(unsolicited_.begin());
  unsolicited_.push_back(std::move(line));
}

std::vector<std::string> AtEngine::TakeUnsolicited() {
  std::vector<std::string> lines;
  lines.swap(unsolicited_);
  return lines;
}

void AtEngine::AwaitQuiet(Millis cap) {
  if (beforeWait) beforeWait();
  const Clock::TimePoint start = clock_.Now();
  Clock::TimePoint lastByte = start;
  while (clock_.Now() - start < cap) {
    uint8_t byte = 0;
    const ReadStatus status = port_.ReadByte(byte);
    if (status == ReadFailed) {
      LineLost();
      break;
    }
    if (status == ReadOk) {
      lastByte = clock_.Now();
      if (framer_.Feed(byte)) SetAside(framer_.Line());
    } else if (clock_.Now() - lastByte >= QuietGap) {
      break;
    }
  }
  quietPending_ = false;
}

AtReply AtEngine::Run(std::string_view command, std::string_view expectedPrefix, Millis bound,
                      const std::function<bool()>& stop) {
  return Exchange(command, expectedPrefix, Wait{bound}, stop);
}

AtReply AtEngine::RunUntilAnswer(std::string_view command, std::string_view expectedPrefix, Millis bound,
                                 const std::function<bool()>& stop) {
  Wait wait{bound};
  wait.answerEnds = true;
  return Exchange(command, expectedPrefix, wait, stop);
}

AtReply AtEngine::RunLong(std::string_view command, std::string_view expectedPrefix, Millis gap, Millis cap,
                          const std::function<bool()>& stop,
                          const std::function<void(const std::string&)>& onExpected) {
  Wait wait{cap, gap};
  if (onExpected) wait.onExpected = &onExpected;
  return Exchange(command, expectedPrefix, wait, stop);
}

AtReply AtEngine::Exchange(std::string_view command, std::string_view expectedPrefix, const Wait& wait,
                           const std::function<bool()>& stop) {
  if (quietPending_) AwaitQuiet();
  port_.DiscardInput();
  framer_.Reset();
  lastCommand_.assign(command);
  ++commandsSent_;
  port_.WriteBytes(reinterpret_cast<const uint8_t*>(command.data()), command.size());
  if (beforeWait) beforeWait();

  AtReply reply;
  ReplyCollector collector(command, expectedPrefix);
  const Clock::TimePoint deadline = clock_.Now() + wait.bound;
  Clock::TimePoint lastByte = clock_.Now();
  while (clock_.Now() < deadline) {
    if (stop && stop()) {
      reply.stopped = true;
      break;
    }
    uint8_t byte = 0;
    const ReadStatus status = port_.ReadByte(byte);
    if (status == ReadFailed) {
      reply.status = AtStatus::Failed;
      LineLost();
      break;
    }
    if (status != ReadOk) {
      if (wait.gap > Millis(0) && clock_.Now() - lastByte >= wait.gap) break;
      if (whileWaiting) whileWaiting();
      continue;
    }
    lastByte = clock_.Now();
    reply.heard = true;
    if (!framer_.Feed(byte)) continue;
    const std::size_t expectedBefore = collector.expected.size();
    const bool final = collector.Take(framer_.Line());
    if (wait.onExpected && collector.expected.size() > expectedBefore) (*wait.onExpected)(collector.expected.back());
    if (!final) {
      if (wait.answerEnds && !collector.expected.empty()) {
        reply.status = AtStatus::Ok;
        TakeDueLf();
        break;
      }
      continue;
    }
    reply.status = collector.final == FinalKind::Ok ? AtStatus::Ok : AtStatus::Error;
    reply.finalLine = collector.finalLine;
    TakeDueLf();
    break;
  }
  for (std::string& line : collector.unsolicited) SetAside(std::move(line));
  reply.lines = std::move(collector.expected);
  if (reply.status == AtStatus::Timeout) quietPending_ = true;
  return reply;
}

std::optional<std::string> AtEngine::AwaitUnsolicited(std::string_view prefix, Clock::TimePoint deadline,
                                                      const std::function<bool()>& stop) {
  if (beforeWait) beforeWait();
  while (clock_.Now() < deadline) {
    if (stop && stop()) return std::nullopt;
    uint8_t byte = 0;
    const ReadStatus status = port_.ReadByte(byte);
    if (status == ReadFailed) {
      LineLost();
      return std::nullopt;
    }
    if (status != ReadOk || !framer_.Feed(byte)) continue;
    const std::string& line = framer_.Line();
    if (StartsWith(line, prefix)) return line;
    if (!TrimRight(line).empty()) SetAside(line);
  }
  return std::nullopt;
}

}  // namespace tv
