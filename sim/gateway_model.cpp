// The simulated gateway's modem: command line assembly, the phonebook, call
// forwarding and USSD commands, the timing of every reply byte, and the
// faults. Pure: it sees time only as the arguments it is given.
#include "sim/gateway_model.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <map>
#include <stdexcept>

namespace tv::sim {

namespace {

constexpr int PhonebookFirst = 1;
constexpr int PhonebookLast = 250;  // a common SIM size; the gateway uses 1..99
constexpr std::size_t NumberLimit = 40;
constexpr std::size_t NameLimit = 16;  // "16 characters accepted, 17 refused"
constexpr int ForwardingReasons = 6;   // 0 unconditional .. 5 all conditional

// One comma-separated parameter of a command, quotes removed.
struct Param {
  std::string text;
  bool quoted = false;
};

// `5,"0",129,"05"` -> {5}, {"0" quoted}, {129}, {"05" quoted}. Commas inside
// quotes belong to the text; blanks outside quotes are ignored, as modems do
// (` 05,"0",129,"05"` is the same command).
std::vector<Param> SplitParams(std::string_view args) {
  std::vector<Param> params(1);
  bool inQuotes = false;
  for (char c : args) {
    if (c == '"') {
      inQuotes = !inQuotes;
      params.back().quoted = true;
    } else if (c == ',' && !inQuotes) {
      params.emplace_back();
    } else if (c == ' ' && !inQuotes) {
      continue;
    } else {
      params.back().text += c;
    }
  }
  return params;
}

// A decimal parameter; nullopt when it is empty or not all digits.
std::optional<int> Decimal(const std::string& text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  int value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

bool DialString(const std::string& number) {
  return std::all_of(number.begin(), number.end(), [](char c) {
    return (c >= '0' && c <= '9') || c == '*' || c == '#' || c == '+' || c == 'p' || c == 'P' || c == 'w' ||
           c == 'W';
  });
}

int TypeOf(const std::string& number) { return !number.empty() && number[0] == '+' ? 145 : 129; }

// Upper-case everything outside double quotes: "at+cpbr=5" is "AT+CPBR=5".
std::string CommandCase(const std::string& line) {
  std::string out = line;
  bool inQuotes = false;
  for (char& c : out) {
    if (c == '"')
      inQuotes = !inQuotes;
    else if (!inQuotes)
      c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return out;
}

// UTF-8 text as UCS2 hex, four upper-case digits per character:
// "Для" -> "0414043B044F". Characters outside the BMP become '?'.
std::string Ucs2Hex(const std::string& utf8) {
  static const char* const hex = "0123456789ABCDEF";
  std::string out;
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    unsigned cp = '?';
    std::size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0 && i + 1 < utf8.size()) {
      cp = ((b & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
      len = 2;
    } else if ((b & 0xF0) == 0xE0 && i + 2 < utf8.size()) {
      cp = ((b & 0x0Fu) << 12) | ((static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu) << 6) |
           (static_cast<unsigned char>(utf8[i + 2]) & 0x3Fu);
      len = 3;
    } else if ((b & 0xF8) == 0xF0) {
      len = 4;
    }
    i += len;
    for (int shift = 12; shift >= 0; shift -= 4) out += hex[(cp >> shift) & 0xF];
  }
  return out;
}

// UTF-8 text reduced to ASCII for a dcs 15 answer: other characters become '?'.
std::string PlainAscii(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    if (b < 0x80)
      out += static_cast<char>(b);
    else if ((b & 0xC0) != 0x80)
      out += '?';
  }
  return out;
}

// How a network reports a registered forwarding number: a Russian national
// "89161234567" comes back as "+79161234567".
std::string AsNetworkReports(const std::string& number) {
  if (number.size() == 11 && number[0] == '8' &&
      std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return "+7" + number.substr(1);
  return number;
}

std::string TwoDigits(int index) {
  std::string s = std::to_string(index);
  return s.size() < 2 ? "0" + s : s;
}

// UCS2 hex back to UTF-8: "0414043B044F" -> "Для"; nullopt when it is not
// hex in groups of four.
std::optional<std::string> FromUcs2Hex(const std::string& hex) {
  if (hex.size() % 4 != 0) return std::nullopt;
  std::string out;
  for (std::size_t i = 0; i < hex.size(); i += 4) {
    unsigned cp = 0;
    for (std::size_t k = i; k < i + 4; ++k) {
      const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(hex[k])));
      if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
      cp = cp * 16 + static_cast<unsigned>(c <= '9' ? c - '0' : c - 'A' + 10);
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

std::size_t Utf8Length(const std::string& text) {
  return static_cast<std::size_t>(std::count_if(
      text.begin(), text.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

// Noise as a line on a bad cable: a zero byte, controls, high bytes.
const std::string kNoise("\xFF\x00\x1B~#\xB0\x7F!\xFE", 9);

// The line goes to sleep after this long without traffic (with a wake delay).
constexpr Nanos SleepAfter = std::chrono::seconds(5);
constexpr Nanos Never = Nanos::min() / 2;

// 27.007 texts of the errors this modem gives, for AT+CMEE=2.
std::string CmeText(int code) {
  switch (code) {
    case 3: return "operation not allowed";
    case 4: return "operation not supported";
    case 21: return "invalid index";
    case 22: return "not found";
    case 24: return "text string too long";
    case 26: return "dial string too long";
    default: return "unknown";
  }
}

// Splitmix64's mixing step: small, fast and the same everywhere.
uint64_t Mix(uint64_t z) {
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}
constexpr uint64_t Golden = 0x9E3779B97F4A7C15ull;

// Identity of the gateway's modem, as ATI, AT+CGMI, AT+CGMM, AT+CGMR,
// AT+CGSN and AT+CIMI report it.
constexpr const char* kMaker = "GWSIM";
constexpr const char* kModel = "GW-900 GSM gateway";
constexpr const char* kRevision = "GW900_1.4.2";
constexpr const char* kImei = "358240051111110";  // passes the Luhn check
constexpr const char* kImsi = "250991234567890";  // MCC 250: a Russian SIM

// The modem's clock as 27.007 writes it, "yy/MM/dd,hh:mm:ss+zz" (zone in
// quarter hours, kept as given): seconds since 2000-01-01 00:00:00 and the
// zone, or nullopt for a text that is not a time.
struct ClockTime {
  int64_t seconds = 0;
  std::string zone = "+00";
};

std::optional<ClockTime> ParseClock(const std::string& text) {
  int yy = 0, mo = 0, dd = 0, hh = 0, mi = 0, ss = 0, used = 0;
  char sign = 0;
  int zone = 0;
  if (std::sscanf(text.c_str(), "%2d/%2d/%2d,%2d:%2d:%2d%c%2d%n", &yy, &mo, &dd, &hh, &mi, &ss, &sign, &zone,
                  &used) != 8 ||
      static_cast<std::size_t>(used) != text.size() || (sign != '+' && sign != '-'))
    return std::nullopt;
  using namespace std::chrono;
  const year_month_day date{year(2000 + yy), month(static_cast<unsigned>(mo)), day(static_cast<unsigned>(dd))};
  if (!date.ok() || hh > 23 || mi > 59 || ss > 59 || zone > 96) return std::nullopt;
  const auto days = sys_days(date) - sys_days(year(2000) / January / 1);
  ClockTime t;
  t.seconds = days.count() * 86400 + int64_t{hh} * 3600 + int64_t{mi} * 60 + ss;
  t.zone = text.substr(text.size() - 3);
  return t;
}

std::string ClockText(const ClockTime& t) {
  using namespace std::chrono;
  const int64_t secs = std::max<int64_t>(t.seconds, 0);
  const year_month_day date{sys_days(year(2000) / January / 1) + days(secs / 86400)};
  const int64_t rest = secs % 86400;
  char text[32];
  std::snprintf(text, sizeof text, "%02d/%02u/%02u,%02d:%02d:%02d", static_cast<int>(date.year()) % 100,
                static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()), static_cast<int>(rest / 3600),
                static_cast<int>(rest / 60 % 60), static_cast<int>(rest % 60));
  return text + t.zone;
}

}  // namespace

const std::vector<std::string>& UnsolicitedLines() {
  static const std::vector<std::string> lines = {
      "RING",
      "+CRING: VOICE",
      "+CLIP: \"+79161234567\",145,,,,0",
      "+CREG: 1",
      "+CREG: 5,\"1A2B\",\"0C3D\"",
      "+CGREG: 1",
      "+CMTI: \"SM\",3",
      "+CDSI: \"SM\",4",
      "+CSQ: 20,99",
      "^RSSI: 17",
      "^BOOT: 24591766,0,0,0,75",
      "^MODE: 5,4",
  };
  return lines;
}

struct GatewayModel::Impl {
  struct Entry {
    std::string number;
    std::string name;
  };
  // The network's USSD answer, which waits for its moment and then goes on
  // the line at a line boundary.
  struct Waiting {
    Nanos due;
    std::string bytes;
  };
  std::map<int, Entry> book;
  std::array<ForwardingState, ForwardingReasons> forwarding{};

  std::string line;                      // the command being received, up to its CR
  Nanos inputFree{0};                    // when the host's line is free again (paced input)
  Nanos outputFree{0};                   // when the last queued reply byte is on the line
  std::multimap<Nanos, uint8_t> output;  // by time; equal times keep their order
  int commands = 0;
  bool hungUp = false;

  std::vector<Waiting> ussd;  // network answers still to come
  Nanos idleFrom{0};          // the modem's last output: spontaneous lines count from it
  uint64_t idleLines = 0;     // spontaneous lines sent so far
  std::string lateUssd;       // sent after the next command's final result
  Nanos deafUntil = Never;    // bytes arriving before this are lost
  Nanos lastTraffic = Never;  // the last byte either way, for the sleep timer
  bool waking = false;        // the command being received woke the modem
  uint64_t draws = 0;         // random choices made so far

  int cmee = -1;  // -1: as after power-on (index errors numeric, others plain)
  std::string charset = "GSM";
  int functionality = 1;
  ClockTime clock;      // what the clock said when it was set
  Nanos clockSetAt{0};  // and when

  // The next random number below `below`: the PRNG's state is the count of
  // draws, so a run repeats itself whatever the host's timing.
  uint64_t Draw(uint64_t below, uint64_t seed) {
    return below == 0 ? 0 : Mix(seed + ++draws * Golden) % below;
  }
  std::string Unsolicited(uint64_t seed, const std::string& end) {
    const auto& lines = UnsolicitedLines();
    return end + lines[Draw(lines.size(), seed)] + end;
  }
  // When the next spontaneous line is due: a gap drawn evenly from 0 to
  // twice the mean after the last output. Computed from the count alone, so
  // that the time can be told without drawing.
  std::optional<Nanos> IdleUrcDue(const Faults& faults) const {
    if (faults.urcPercent <= 0) return std::nullopt;
    const auto span = static_cast<uint64_t>(
        2 * std::chrono::duration_cast<std::chrono::microseconds>(faults.urcIdleMean).count() + 1);
    return idleFrom + std::chrono::microseconds(Mix(~faults.seed + (idleLines + 1) * Golden) % span);
  }
};

GatewayModel::GatewayModel(GatewayOptions options)
    : options_(std::move(options)), impl_(std::make_shared<Impl>()) {
  if (options_.initialised) FillInitialised();
  if (const auto start = ParseClock(options_.clockAtStart)) impl_->clock = *start;
}

// --- the phonebook ---------------------------------------------------------

bool GatewayModel::HasEntry(int index) const { return impl_->book.count(index) != 0; }

std::string GatewayModel::Number(int index) const {
  auto it = impl_->book.find(index);
  return it == impl_->book.end() ? std::string() : it->second.number;
}

std::string GatewayModel::Name(int index) const {
  auto it = impl_->book.find(index);
  return it == impl_->book.end() ? std::string() : it->second.name;
}

void GatewayModel::SetEntry(int index, std::string number, std::string name) {
  impl_->book[index] = Impl::Entry{std::move(number), std::move(name)};
}

void GatewayModel::EraseEntry(int index) { impl_->book.erase(index); }

void GatewayModel::FillBlank() { impl_->book.clear(); }

void GatewayModel::FillInitialised() {
  impl_->book.clear();
  for (int i = 1; i <= 99; ++i) SetEntry(i, "0", TwoDigits(i));
  SetEntry(98, "0000100", "98.GSM.TRV");
  // Sample settings of a gateway in use. Names stay the two-digit index,
  // which is what the gateway keeps there.
  const std::pair<int, const char*> numbers[] = {
      {1, "89161234501"},  {2, "84957654321"},  {3, "+79031112233"}, {4, "0911"},
      {5, "89265550505"},  {40, "8800"},        {50, "8495"},        {70, "89031234567"},
      {71, "89261112233"}, {90, "89167654321"}, {98, "1100200"},     {99, "89161234567"},
  };
  for (const auto& [index, number] : numbers) impl_->book[index].number = number;
}

std::string GatewayModel::Dump() const {
  std::string out;
  for (const auto& [index, entry] : impl_->book)
    out += TwoDigits(index) + ",\"" + entry.number + "\"," + std::to_string(TypeOf(entry.number)) + ",\"" +
           entry.name + "\"\n";
  return out;
}

ForwardingState& GatewayModel::Forwarding(int reason) {
  if (reason < 0 || reason >= ForwardingReasons) throw std::out_of_range("forwarding reason");
  return impl_->forwarding[static_cast<std::size_t>(reason)];
}

// --- the line ----------------------------------------------------------------

bool GatewayModel::HungUp() const { return impl_->hungUp || options_.faults.hangUpAfterCommands == 0; }

int GatewayModel::CommandsSeen() const { return impl_->commands; }

namespace {

// Queues bytes on the modem's output line from `ready` on: each byte after
// the previous one, and with pacing each taking one character time.
void Queue(std::multimap<Nanos, uint8_t>& output, Nanos& lineFree, Nanos ready, const std::string& bytes,
           bool paced) {
  Nanos t = std::max(ready, lineFree);
  for (char c : bytes) {
    if (paced) t += ByteTime115200;
    output.emplace(t, static_cast<uint8_t>(c));
  }
  lineFree = t;
}

}  // namespace

std::optional<Millis> GatewayModel::NextOutputTime() const {
  const auto exact = NextOutputTimeExact();
  if (!exact) return std::nullopt;
  return std::chrono::ceil<Millis>(*exact);
}

std::optional<Nanos> GatewayModel::NextOutputTimeExact() const {
  const auto times = QueuedTimes(1);
  if (times.empty()) return std::nullopt;
  return times[0];
}

std::vector<Nanos> GatewayModel::QueuedTimes(std::size_t count) const {
  const Impl& m = *impl_;
  std::vector<Nanos> times;
  std::optional<Nanos> due;
  for (const auto& w : m.ussd)
    if (!due || w.due < *due) due = w.due;
  const bool silent =
      options_.faults.silentAfterCommands >= 0 && m.commands >= options_.faults.silentAfterCommands;
  const auto idle = m.IdleUrcDue(options_.faults);
  if (idle && !silent && (!due || *idle < *due)) due = idle;
  if (due && !HungUp() && !(options_.echo && !m.line.empty())) {
    const Nanos first = std::max(*due, m.outputFree) + (options_.pace115200 ? ByteTime115200 : Nanos(0));
    if (m.output.empty() || first < m.output.begin()->first) times.push_back(first);
  }
  for (auto it = m.output.begin(); it != m.output.end() && times.size() < count; ++it)
    times.push_back(it->first);
  if (times.size() > count) times.resize(count);
  return times;
}

void GatewayModel::Release(Nanos now) {
  Impl& m = *impl_;
  const Faults& faults = options_.faults;
  // A waiting line never cuts into the echo of a command being typed.
  if (HungUp() || (options_.echo && !m.line.empty())) return;
  const bool silent = faults.silentAfterCommands >= 0 && m.commands >= faults.silentAfterCommands;
  for (;;) {
    auto ussd =
        std::min_element(m.ussd.begin(), m.ussd.end(),
                         [](const Impl::Waiting& a, const Impl::Waiting& b) { return a.due < b.due; });
    const auto idle = m.IdleUrcDue(faults);
    const bool urcFirst = idle && !silent && (ussd == m.ussd.end() || *idle < ussd->due);
    if (urcFirst && *idle <= now) {
      Queue(m.output, m.outputFree, *idle, m.Unsolicited(faults.seed, options_.lineEnd), options_.pace115200);
      m.idleFrom = m.outputFree;
      ++m.idleLines;
    } else if (!urcFirst && ussd != m.ussd.end() && ussd->due <= now) {
      Queue(m.output, m.outputFree, ussd->due, ussd->bytes, options_.pace115200);
      m.idleFrom = m.outputFree;
      m.ussd.erase(ussd);
    } else {
      return;
    }
  }
}

std::vector<uint8_t> GatewayModel::TakeOutput(Millis now) { return TakeOutput(Nanos(now)); }

std::vector<uint8_t> GatewayModel::TakeOutput(Nanos now) {
  Release(now);
  std::vector<uint8_t> bytes;
  auto& q = impl_->output;
  auto end = q.upper_bound(now);
  for (auto it = q.begin(); it != end; ++it) bytes.push_back(it->second);
  q.erase(q.begin(), end);
  return bytes;
}

void GatewayModel::Receive(Millis now, const uint8_t* data, std::size_t count) {
  Receive(Nanos(now), data, count);
}

void GatewayModel::Receive(Nanos now, const uint8_t* data, std::size_t count) {
  Impl& m = *impl_;
  const Faults& faults = options_.faults;
  Release(now);
  for (std::size_t i = 0; i < count; ++i) {
    if (HungUp()) return;
    // With pacing the byte is complete only one character time after the
    // previous one: a 38-byte write lasts 3.3 ms on the wire.
    Nanos arrival = now;
    if (options_.pace115200) {
      m.inputFree = std::max(now, m.inputFree) + ByteTime115200;
      arrival = m.inputFree;
    }
    const uint8_t b = data[i];
    // A modem still executing a command, or waking up, does not listen.
    const bool deaf = arrival < m.deafUntil;
    if (!deaf && faults.wakeDelay > Millis(0) && m.line.empty() && arrival - m.lastTraffic >= SleepAfter)
      m.waking = true;
    m.lastTraffic = std::max(m.lastTraffic, arrival);
    if (deaf) continue;
    const bool silent = faults.silentAfterCommands >= 0 && m.commands >= faults.silentAfterCommands;
    if (options_.echo && !silent) {
      Release(arrival);
      Queue(m.output, m.outputFree, arrival, std::string(1, static_cast<char>(b)), options_.pace115200);
    }
    if (b == '\n') continue;
    if (b == 0x1B) {  // ESC cancels a half-typed SMS text; clients open with "\x1B\r" to be sure
      m.line.clear();
      continue;
    }
    if (b != '\r') {
      if (m.line.size() < 1024) m.line += static_cast<char>(b);
      continue;
    }
    std::string line;
    line.swap(m.line);
    if (line.empty()) continue;  // a bare CR is not a command
    ++m.commands;
    if (silent) continue;
    Release(arrival);
    Nanos ready = arrival + options_.commandLatency;
    if (m.waking) {
      m.waking = false;
      ready += faults.wakeDelay;
      m.deafUntil = arrival + faults.wakeDelay;
    }
    Answer(ready, CommandCase(line));
    if (faults.hangUpAfterCommands >= 0 && m.commands >= faults.hangUpAfterCommands) m.hungUp = true;
  }
}

void GatewayModel::Answer(Nanos ready, const std::string& command) {
  Impl& m = *impl_;
  const Faults& faults = options_.faults;
  const bool paced = options_.pace115200;
  // The reply's lines, each with the time it is ready after `ready` (a
  // range read's entries come as the SIM reads them); the last is the final
  // result.
  std::vector<std::pair<std::string, Nanos>> lines;
  auto line = [&lines](const std::string& text, Nanos after = Nanos(0)) { lines.emplace_back(text, after); };
  const std::string& end = options_.lineEnd;
  auto error = [&](int cme) {
    if (faults.cmeError || m.cmee == 1)
      line("+CME ERROR: " + std::to_string(cme));
    else if (m.cmee == 2)
      line("+CME ERROR: " + CmeText(cme));
    else
      line("ERROR");
  };
  auto send = [&] {
    if (faults.garbage) Queue(m.output, m.outputFree, ready, kNoise + end, paced);
    for (const auto& [text, after] : lines) {
      if (faults.urcPercent > 0 && static_cast<int>(m.Draw(100, faults.seed)) < faults.urcPercent)
        Queue(m.output, m.outputFree, ready + after, m.Unsolicited(faults.seed, end), paced);
      std::string framed = end;
      framed += text;
      framed += end;
      Queue(m.output, m.outputFree, ready + after, framed, paced);
    }
    if (lines.empty()) return;
    if (faults.dropWhileBusy) m.deafUntil = std::max(m.deafUntil, m.outputFree);
    m.lastTraffic = std::max(m.lastTraffic, m.outputFree);
    if (!m.lateUssd.empty()) {
      Queue(m.output, m.outputFree, ready, m.lateUssd, paced);
      m.lateUssd.clear();
    }
    m.idleFrom = m.outputFree;
  };

  if (faults.errorToAll || (!faults.errorPrefix.empty() && command.rfind(faults.errorPrefix, 0) == 0)) {
    error(100);
    return send();
  }

  auto startsWith = [&command](std::string_view prefix) { return command.rfind(prefix, 0) == 0; };
  auto indexError = [&](bool numeric) {
    if (m.cmee == -1 && !faults.cmeError)
      line(numeric ? "+CME ERROR: 21" : "ERROR");
    else
      error(21);
  };
  auto checkedIndex = [&](const std::string& text, bool& bad) -> int {
    const auto index = Decimal(text);
    bad = !index || *index < PhonebookFirst || *index > PhonebookLast;
    if (bad) indexError(index.has_value());
    return index.value_or(0);
  };
  // A phonebook name as the host sees it in the current character set; the
  // number stays in digits, as modems send it in UCS2 mode too:
  //   +CPBR: 1,"+33616918685",145,"68506C6970696570"
  auto toHost = [&](const std::string& text) {
    if (m.charset == "UCS2") return Ucs2Hex(text);
    std::string out = text;
    if (faults.gsmNul) std::replace(out.begin(), out.end(), '@', '\0');
    return out;
  };
  auto fromHost = [&](const std::string& text) -> std::optional<std::string> {
    if (m.charset == "UCS2") return FromUcs2Hex(text);
    std::string out = text;
    if (faults.gsmNul) std::replace(out.begin(), out.end(), '\0', '@');
    return out;
  };
  // Numbers are digits in every character set; a corrupt entry may still
  // hold an '@', which goes as byte 0 like in the names.
  auto NumberToHost = [&](std::string text) {
    if (faults.gsmNul) std::replace(text.begin(), text.end(), '@', '\0');
    return text;
  };
  auto NumberFromHost = [&](std::string text) {
    if (faults.gsmNul) std::replace(text.begin(), text.end(), '\0', '@');
    return text;
  };
  auto setting = [&](const char* name, std::string_view values) {  // "AT+CFUN=?" and the like
    line(std::string(name) + ": " + std::string(values));
    line("OK");
  };

  // No call to hang up; the clock takes any time (the test form).
  if (command == "AT" || command == "AT+CHUP" || command == "AT+CHUP=?" || command == "AT+CCLK=?") {
    line("OK");
  } else if (command == "ATE0" || command == "ATE1" || command == "ATE") {
    options_.echo = command == "ATE1";
    line("OK");
  } else if (command == "ATI" || command == "ATI0") {
    line(kMaker);
    line(kModel);
    line(std::string("Revision: ") + kRevision);
    line("OK");
  } else if (command == "AT+CGMI" || command == "AT+GMI" || command == "ATI3") {
    line(kMaker);
    line("OK");
  } else if (command == "AT+CGMM" || command == "AT+GMM" || command == "ATI4") {
    line(kModel);
    line("OK");
  } else if (command == "AT+CGMR" || command == "AT+GMR" || command == "ATI5") {
    line(kRevision);
    line("OK");
  } else if (command == "AT+CGSN" || command == "AT+GSN") {
    line(kImei);
    line("OK");
  } else if (command == "AT+CIMI") {
    line(kImsi);
    line("OK");
  } else if (command == "AT+CFUN?") {
    setting("+CFUN", std::to_string(m.functionality));
  } else if (command == "AT+CFUN=?") {
    setting("+CFUN", "(0,1,4),(0-1)");
  } else if (startsWith("AT+CFUN=")) {
    const auto params = SplitParams(std::string_view(command).substr(8));
    const auto fun = Decimal(params[0].text);
    if (fun && (*fun == 0 || *fun == 1 || *fun == 4)) {
      m.functionality = *fun;
      line("OK");
    } else {
      error(3);
    }
  } else if (command == "AT+CMEE?") {
    setting("+CMEE", std::to_string(std::max(m.cmee, 0)));
  } else if (command == "AT+CMEE=?") {
    setting("+CMEE", "(0-2)");
  } else if (startsWith("AT+CMEE=")) {
    const auto n = Decimal(command.substr(8));
    if (n && *n <= 2) {
      m.cmee = *n;
      line("OK");
    } else {
      error(3);
    }
  } else if (command == "AT+CSCS?") {
    setting("+CSCS", "\"" + m.charset + "\"");
  } else if (command == "AT+CSCS=?") {
    setting("+CSCS", "(\"GSM\",\"UCS2\",\"IRA\")");
  } else if (startsWith("AT+CSCS=")) {
    const auto params = SplitParams(std::string_view(command).substr(8));
    std::string set = params[0].text;
    std::transform(set.begin(), set.end(), set.begin(),
                   [](char c) { return std::toupper(static_cast<unsigned char>(c)); });
    if (set == "GSM" || set == "UCS2" || set == "IRA") {
      m.charset = set;
      line("OK");
    } else {
      error(4);
    }
  } else if (command == "AT+CPBS?") {
    setting("+CPBS", "\"SM\"," + std::to_string(m.book.size()) + "," + std::to_string(PhonebookLast));
  } else if (command == "AT+CPBS=?") {
    setting("+CPBS", "(\"SM\")");
  } else if (startsWith("AT+CPBS=")) {
    const auto params = SplitParams(std::string_view(command).substr(8));
    if (params[0].text == "SM")
      line("OK");
    else
      error(3);
  } else if (command == "AT+CPBR=?") {
    line("+CPBR: (1-" + std::to_string(PhonebookLast) + ")," + std::to_string(NumberLimit) + "," +
         std::to_string(NameLimit));
    line("OK");
  } else if (startsWith("AT+CPBR=")) {
    // AT+CPBR=<first>[,<last>]: every entry of the range, then OK. The SIM
    // reads one location after the other, each taking its time.
    const auto params = SplitParams(std::string_view(command).substr(8));
    bool bad = false;
    if (params.size() > 1 && faults.noRange) {
      error(4);
      return send();
    }
    const int first = checkedIndex(params[0].text, bad);
    int last = first;
    if (!bad && params.size() > 1) last = checkedIndex(params[1].text, bad);
    if (!bad && last < first) {
      bad = true;
      indexError(true);
    }
    if (!bad) {
      bool found = false;
      int entries = 0;
      Nanos after{0};
      for (int index = first; index <= last; ++index) {
        if (faults.rangeCap > 0 && entries >= faults.rangeCap) break;
        if (index > first) after += options_.commandLatency;
        // A modem with a slip in its index table answers for the next cell.
        int shown = index;
        if (std::find(faults.wrongIndex.begin(), faults.wrongIndex.end(), index) != faults.wrongIndex.end())
          shown = index + 1;
        const auto it = m.book.find(shown);
        if (it == m.book.end()) continue;
        std::string entry = "+CPBR: " + std::to_string(shown) + ",\"" + NumberToHost(it->second.number) +
                            "\"," + std::to_string(TypeOf(it->second.number)) + ",\"" +
                            toHost(it->second.name) + "\"";
        if (faults.overlongLines) entry += ",0,\"" + std::string(200, 'P') + "\"";
        line(entry, after);
        found = true;
        ++entries;
      }
      if (!found && faults.cmeNotFound)
        line("+CME ERROR: 22", after);
      else
        line("OK", after);
    }
  } else if (startsWith("AT+CPBW=")) {
    // AT+CPBW=<index>[,"<number>"[,<type>[,"<name>"]]]; the index alone erases.
    const auto params = SplitParams(std::string_view(command).substr(8));
    if (faults.writeDelayMax > Millis(0)) {
      const auto spread = std::max(faults.writeDelayMax - faults.writeDelayMin, Millis(0));
      ready += faults.writeDelayMin + Millis(m.Draw(static_cast<uint64_t>(spread.count()) + 1, faults.seed));
    }
    bool bad = false;
    const int index = checkedIndex(params[0].text, bad);
    if (!bad) {
      const std::string number = NumberFromHost(params.size() > 1 ? params[1].text : std::string());
      const auto name = fromHost(params.size() > 3 ? params[3].text : std::string());
      if (params.size() == 1) {
        EraseEntry(index);
        line("OK");
      } else if (number.size() > NumberLimit || !DialString(number)) {
        error(26);
      } else if (!name || (m.charset == "UCS2" ? Utf8Length(*name) : name->size()) > NameLimit) {
        error(24);
      } else {
        SetEntry(index, number, *name);
        line("OK");
      }
    }
  } else if (startsWith("AT+CCFC=")) {
    if (options_.forwardingSilent) return;
    ready += options_.forwardingDelay;
    const auto params = SplitParams(std::string_view(command).substr(8));
    const auto reason = Decimal(params[0].text);
    const auto mode = params.size() > 1 ? Decimal(params[1].text) : std::nullopt;
    if (options_.forwardingError || !reason || *reason >= ForwardingReasons || !mode) {
      error(3);
    } else {
      // Reason 4 is every forwarding (0-3), 5 every conditional one (1-3).
      std::vector<ForwardingState*> targets;
      if (*reason < 4) {
        targets.push_back(&Forwarding(*reason));
      } else {
        for (int r = *reason == 4 ? 0 : 1; r < 4; ++r) targets.push_back(&Forwarding(r));
      }
      const std::string sep = options_.blankAfterComma ? ", " : ",";
      switch (*mode) {
        case 2: {  // query: "+CCFC: <status>,<class>[,"<number>",<type>[,,,<time>]]"
          const ForwardingState& f = *targets.front();
          if (f.active) {
            std::string active = "+CCFC: 1" + sep + "1" + sep.substr(0, 1) + "\"" + f.number + "\"," +
                                 std::to_string(TypeOf(f.number));
            if (*reason == 2) active += ",,," + std::to_string(f.delaySeconds);
            line(active);
          } else {
            line("+CCFC: 0" + sep + "7");
          }
          line("OK");
          break;
        }
        case 3: {  // registration: number, and for no reply the time field
          const std::string number = params.size() > 2 ? params[2].text : std::string();
          if (number.empty() || !DialString(number)) {
            error(3);
            break;
          }
          std::optional<int> delay;
          if (params.size() > 7) delay = Decimal(params[7].text);
          for (ForwardingState* f : targets) {
            f->active = true;
            f->number = AsNetworkReports(number);
            if (delay) f->delaySeconds = *delay;
          }
          line("OK");
          break;
        }
        case 4:  // erasure
          for (ForwardingState* f : targets) *f = ForwardingState{};
          line("OK");
          break;
        case 0:  // disable, keep the number
          for (ForwardingState* f : targets) f->active = false;
          line("OK");
          break;
        case 1:
          if (std::any_of(targets.begin(), targets.end(),
                          [](ForwardingState* f) { return f->number.empty(); })) {
            error(3);
          } else {
            for (ForwardingState* f : targets) f->active = true;
            line("OK");
          }
          break;
        default: error(3);
      }
    }
  } else if (command == "AT+CCLK?") {
    ClockTime now = m.clock;
    now.seconds += std::chrono::duration_cast<std::chrono::seconds>(ready - m.clockSetAt).count();
    setting("+CCLK", "\"" + ClockText(now) + "\"");
  } else if (startsWith("AT+CCLK=") && command != "AT+CCLK=?") {
    const auto params = SplitParams(std::string_view(command).substr(8));
    const auto time = params.size() == 1 && params[0].quoted ? ParseClock(params[0].text) : std::nullopt;
    if (time) {
      m.clock = *time;
      m.clockSetAt = ready;
      line("OK");
    } else {
      error(3);
    }
  } else if (command == "AT+CUSD?") {
    setting("+CUSD", "1");
  } else if (command == "AT+CUSD=?") {
    setting("+CUSD", "(0-2)");
  } else if (startsWith("AT+CUSD=")) {
    // AT+CUSD=1,"#100#",15: OK at once, the network's answer later;
    // AT+CUSD=2 ends the session, and an answer still to come with it.
    const auto params = SplitParams(std::string_view(command).substr(8));
    const auto n = Decimal(params[0].text);
    if (!n || *n > 2) {
      error(3);
    } else {
      line("OK");
      if (*n == 2) {
        m.ussd.clear();
        m.lateUssd.clear();
      }
      send();
      if (*n == 1 && params.size() > 1 && !options_.ussdSilent) {
        const std::string text =
            options_.ussdUcs2 ? Ucs2Hex(options_.ussdAnswer) : PlainAscii(options_.ussdAnswer);
        const std::string answer =
            end + "+CUSD: 0,\"" + text + "\"," + (options_.ussdUcs2 ? "72" : "15") + end;
        if (faults.lateUssd)
          m.lateUssd = answer;
        else
          m.ussd.push_back({m.outputFree + options_.ussdDelay, answer});
      }
      return;
    }
  } else {
    line("ERROR");
  }
  send();
}

}  // namespace tv::sim
