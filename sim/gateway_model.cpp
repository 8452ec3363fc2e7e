// The simulated gateway's modem: command line assembly, the phonebook, call
// forwarding and USSD commands, the timing of every reply byte, and the
// faults. Pure: it sees time only as the arguments it is given.
#include "sim/gateway_model.h"

#include <algorithm>
#include <array>
#include <cctype>
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

// Noise as a line on a bad cable: a zero byte, controls, high bytes.
const std::string kNoise("\xFF\x00\x1B~#\xB0\x7F!\xFE", 9);

}  // namespace

struct GatewayModel::Impl {
  struct Entry {
    std::string number;
    std::string name;
  };
  std::map<int, Entry> book;
  std::array<ForwardingState, ForwardingReasons> forwarding{};

  std::string line;                      // the command being received, up to its CR
  Nanos inputFree{0};                    // when the host's line is free again (paced input)
  Nanos outputFree{0};                   // when the last queued reply byte is on the line
  std::multimap<Nanos, uint8_t> output;  // by time; equal times keep their order
  int commands = 0;
  bool hungUp = false;
};

GatewayModel::GatewayModel(GatewayOptions options)
    : options_(std::move(options)), impl_(std::make_shared<Impl>()) {
  if (options_.initialised) FillInitialised();
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

std::optional<Millis> GatewayModel::NextOutputTime() const {
  const auto exact = NextOutputTimeExact();
  if (!exact) return std::nullopt;
  return std::chrono::ceil<Millis>(*exact);
}

std::optional<Nanos> GatewayModel::NextOutputTimeExact() const {
  if (impl_->output.empty()) return std::nullopt;
  return impl_->output.begin()->first;
}

std::vector<Nanos> GatewayModel::QueuedTimes(std::size_t count) const {
  std::vector<Nanos> times;
  for (auto it = impl_->output.begin(); it != impl_->output.end() && times.size() < count; ++it)
    times.push_back(it->first);
  return times;
}

std::vector<uint8_t> GatewayModel::TakeOutput(Millis now) { return TakeOutput(Nanos(now)); }

std::vector<uint8_t> GatewayModel::TakeOutput(Nanos now) {
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

void GatewayModel::Receive(Nanos now, const uint8_t* data, std::size_t count) {
  Impl& m = *impl_;
  const Faults& faults = options_.faults;
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
    const bool silent = faults.silentAfterCommands >= 0 && m.commands >= faults.silentAfterCommands;
    if (options_.echo && !silent)
      Queue(m.output, m.outputFree, arrival, std::string(1, static_cast<char>(b)), options_.pace115200);
    if (b == '\n') continue;
    if (b != '\r') {
      if (m.line.size() < 1024) m.line += static_cast<char>(b);
      continue;
    }
    std::string line;
    line.swap(m.line);
    if (line.empty()) continue;  // a bare CR is not a command
    ++m.commands;
    if (silent) continue;
    Answer(arrival + options_.commandLatency, CommandCase(line));
    if (faults.hangUpAfterCommands >= 0 && m.commands >= faults.hangUpAfterCommands) m.hungUp = true;
  }
}

void GatewayModel::Answer(Nanos ready, const std::string& command) {
  Impl& m = *impl_;
  const Faults& faults = options_.faults;
  const bool paced = options_.pace115200;
  std::string reply;
  auto line = [&reply](const std::string& text) { reply += "\r\n" + text + "\r\n"; };
  auto error = [&](int cme) {
    line(faults.cmeError ? "+CME ERROR: " + std::to_string(cme) : std::string("ERROR"));
  };
  auto send = [&] {
    if (faults.garbage) Queue(m.output, m.outputFree, ready, kNoise + "\r\n", paced);
    Queue(m.output, m.outputFree, ready, reply, paced);
  };

  if (faults.errorToAll || (!faults.errorPrefix.empty() && command.rfind(faults.errorPrefix, 0) == 0)) {
    error(100);
    return send();
  }

  auto startsWith = [&command](std::string_view prefix) { return command.rfind(prefix, 0) == 0; };
  auto checkedIndex = [&](const std::string& text, bool& bad) -> int {
    const auto index = Decimal(text);
    bad = !index || *index < PhonebookFirst || *index > PhonebookLast;
    if (bad) line(index ? "+CME ERROR: 21" : "ERROR");
    return index.value_or(0);
  };

  if (command == "AT") {
    line("OK");
  } else if (command == "ATE0" || command == "ATE1" || command == "ATE") {
    options_.echo = command == "ATE1";
    line("OK");
  } else if (command == "AT+CPBR=?") {
    line("+CPBR: (1-" + std::to_string(PhonebookLast) + ")," + std::to_string(NumberLimit) + "," +
         std::to_string(NameLimit));
    line("OK");
  } else if (startsWith("AT+CPBR=")) {
    // AT+CPBR=<first>[,<last>]: every entry of the range, then OK.
    const auto params = SplitParams(std::string_view(command).substr(8));
    bool bad = false;
    const int first = checkedIndex(params[0].text, bad);
    int last = first;
    if (!bad && params.size() > 1) last = checkedIndex(params[1].text, bad);
    if (!bad) {
      for (auto it = m.book.lower_bound(first); it != m.book.end() && it->first <= last; ++it) {
        std::string entry = "+CPBR: " + std::to_string(it->first) + ",\"" + it->second.number + "\"," +
                            std::to_string(TypeOf(it->second.number)) + ",\"" + it->second.name + "\"";
        if (faults.overlongLines) entry += ",0,\"" + std::string(200, 'P') + "\"";
        line(entry);
      }
      line("OK");
    }
  } else if (startsWith("AT+CPBW=")) {
    // AT+CPBW=<index>[,"<number>"[,<type>[,"<name>"]]]; the index alone erases.
    const auto params = SplitParams(std::string_view(command).substr(8));
    bool bad = false;
    const int index = checkedIndex(params[0].text, bad);
    if (!bad) {
      const std::string number = params.size() > 1 ? params[1].text : std::string();
      const std::string name = params.size() > 3 ? params[3].text : std::string();
      if (params.size() == 1) {
        EraseEntry(index);
        line("OK");
      } else if (number.size() > NumberLimit || !DialString(number)) {
        error(26);
      } else if (name.size() > NameLimit) {
        error(24);
      } else {
        SetEntry(index, number, name);
        line("OK");
      }
    }
  } else if (startsWith("AT+CCFC=")) {
    if (options_.forwardingSilent) return;
    const auto params = SplitParams(std::string_view(command).substr(8));
    const auto reason = Decimal(params[0].text);
    const auto mode = params.size() > 1 ? Decimal(params[1].text) : std::nullopt;
    if (options_.forwardingError || !reason || *reason >= ForwardingReasons || !mode) {
      error(3);
    } else {
      ForwardingState& f = Forwarding(*reason);
      const std::string sep = options_.blankAfterComma ? ", " : ",";
      switch (*mode) {
        case 2:  // query: "+CCFC: <status>,<class>[,"<number>",<type>]"
          if (f.active)
            line("+CCFC: 1" + sep + "1" + sep.substr(0, 1) + "\"" + f.number + "\"," +
                 std::to_string(TypeOf(f.number)));
          else
            line("+CCFC: 0" + sep + "7");
          line("OK");
          break;
        case 3: {  // registration: number, and for no reply the time field
          const std::string number = params.size() > 2 ? params[2].text : std::string();
          if (number.empty() || !DialString(number)) {
            error(3);
            break;
          }
          f.active = true;
          f.number = AsNetworkReports(number);
          if (params.size() > 7) {
            if (const auto delay = Decimal(params[7].text)) f.delaySeconds = *delay;
          }
          line("OK");
          break;
        }
        case 4:  // erasure
          f = ForwardingState{};
          line("OK");
          break;
        case 0:  // disable, keep the number
          f.active = false;
          line("OK");
          break;
        case 1:
          if (f.number.empty()) {
            error(3);
          } else {
            f.active = true;
            line("OK");
          }
          break;
        default: error(3);
      }
    }
  } else if (startsWith("AT+CUSD=")) {
    // AT+CUSD=1,"#100#",15: OK at once, the network's answer later.
    const auto params = SplitParams(std::string_view(command).substr(8));
    const auto n = Decimal(params[0].text);
    if (!n || *n > 2) {
      error(3);
    } else {
      line("OK");
      if (*n == 1 && params.size() > 1 && !options_.ussdSilent) {
        const std::string text =
            options_.ussdUcs2 ? Ucs2Hex(options_.ussdAnswer) : PlainAscii(options_.ussdAnswer);
        const std::string answer =
            "\r\n+CUSD: 0,\"" + text + "\"," + (options_.ussdUcs2 ? "72" : "15") + "\r\n";
        send();
        // Placed on its own: the network answers while the line is idle.
        Nanos free = m.outputFree;
        Queue(m.output, free, m.outputFree + options_.ussdDelay, answer, paced);
        return;
      }
    }
  } else {
    line("ERROR");
  }
  send();
}

}  // namespace tv::sim
