// The exchange trace: what it writes must give back, byte for byte, what
// went over the line, with the port's events in their order; a trace file
// that cannot be opened costs one line of error output and nothing else.
#include "device/exchange_trace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "device/at_engine.h"
#include "sim/gateway_model.h"
#include "sim/sim_serial_port.h"
#include "tests/support/scratch_dir.h"
#include "tests/support/scripted_modem.h"
#include "tests/support/trace_reader.h"

namespace tv {
namespace {

using namespace std::chrono_literals;

// The environment of this process, on either platform.
void SetEnvironment(const char* name, const char* value) {
#ifdef _WIN32
  _putenv_s(name, value ? value : "");
#else
  if (value)
    setenv(name, value, 1);
  else
    unsetenv(name);
#endif
}

constexpr const char* kStamp = "2000-01-01 00:00:00.000";
std::string FixedStamp() { return kStamp; }

TEST(ExchangeTrace, BytesAsText) {
  struct Case {
    std::string bytes;
    const char* text;
  };
  const Case cases[] = {
      {"AT+CPBR=98\r", "AT+CPBR=98\\x0D"},
      {"\r\nOK\r\n", "\\x0D\\x0AOK\\x0D\\x0A"},
      {"a\\b", "a\\\\b"},                   // the escape character itself
      {"\\x41", "\\\\x41"},                 // text that looks like an escape
      {std::string("@\0@", 3), "@\\x00@"},  // GSM '@' as byte 0
      {" ~\x7F\x1B", " ~\\x7F\\x1B"},       // the printable range ends at '~'
      {"\x80\xAF\xFF", "\\x80\\xAF\\xFF"},  // cp866 letters and 0xFF
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(TraceText(reinterpret_cast<const uint8_t*>(c.bytes.data()), c.bytes.size()), c.text);
  }
  // Every byte value reads back as itself.
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  const std::string line = std::string(kStamp) + " <- " +
                           TraceText(reinterpret_cast<const uint8_t*>(all.data()), all.size()) + "\n";
  const test::TraceContents back = test::ReadTrace(line);
  EXPECT_TRUE(back.errors.empty());
  EXPECT_EQ(back.received, all);
}

// A connection's first exchanges on the simulated gateway with echo and
// unsolicited lines: the trace holds exactly the bytes written and read, and
// the port's events in order.
TEST(ExchangeTrace, HoldsTheWholeExchangeInOrder) {
  sim::GatewayOptions options;
  options.echo = true;
  options.faults.urcPercent = 50;
  sim::GatewayModel gateway(options);
  ManualClock clock;
  auto sim = std::make_unique<sim::SimSerialPort>(gateway, clock);
  sim::SimSerialPort& line = *sim;
  std::stringbuf trace;  // outlives the port and its stream
  auto text = std::make_unique<std::ostream>(&trace);
  std::string read;  // every byte the engine was handed
  std::string written;
  {
    TracingSerialPort port(std::move(sim), std::move(text), FixedStamp);
    struct Recorder : SerialPort {
      SerialPort& inner;
      std::string& read;
      Recorder(SerialPort& p, std::string& r) : inner(p), read(r) {}
      int Open(int i) override { return inner.Open(i); }
      bool IsOpen() const override { return inner.IsOpen(); }
      bool SetDtr(bool on) override { return inner.SetDtr(on); }
      bool SetRts(bool on) override { return inner.SetRts(on); }
      ReadStatus ReadByte(uint8_t& b) override {
        const ReadStatus s = inner.ReadByte(b);
        if (s == ReadOk) read += static_cast<char>(b);
        return s;
      }
      void WriteBytes(const uint8_t* d, std::size_t n) override { inner.WriteBytes(d, n); }
      void DiscardInput() override { inner.DiscardInput(); }
      std::string Describe(int i) const override { return inner.Describe(i); }
    } recorder(port, read);
    ASSERT_EQ(port.Open(2), 0);
    ASSERT_TRUE(port.SetDtr(false));
    ASSERT_TRUE(port.SetRts(true));
    AtEngine engine(recorder, clock);
    EXPECT_EQ(engine.Run("AT\r", {}, 700ms).status, AtStatus::Ok);
    EXPECT_EQ(engine.Run("AT+CPBR=98\r", "+CPBR:", 2000ms).status, AtStatus::Ok);
    EXPECT_EQ(engine.Run("AT+CPBR=05\r", "+CPBR:", 2000ms).status, AtStatus::Ok);
    written = line.written;  // the port goes with the trace's last lines
  }
  const test::TraceContents t = test::ReadTrace(trace.str());
  EXPECT_TRUE(t.errors.empty()) << trace.str();
  EXPECT_EQ(t.sent, written);
  EXPECT_EQ(t.received, read);
  EXPECT_NE(read.find("+CPBR: 98,"), std::string::npos);
  const std::vector<std::string> events = {"trace begins", "open COM3: simulated gateway: 0",
                                           "DTR off",      "RTS on",
                                           "purge",        "purge",
                                           "purge",        "close",
                                           "trace ends"};
  EXPECT_EQ(t.events, events) << trace.str();
  // A received line ends at its line feed, where the modem ended it.
  std::istringstream lines(trace.str());
  for (std::string l; std::getline(lines, l);) {
    const std::size_t lf = l.find("\\x0A");
    if (l.find(" <- ") != std::string::npos && lf != std::string::npos) {
      EXPECT_EQ(lf + 4, l.size()) << l;
    }
  }
}

TEST(ExchangeTrace, AHangUpIsWrittenOnceAndFailedLinesAreMarked) {
  ManualClock clock;
  auto modem = std::make_unique<test::ScriptedModem>(clock);
  test::ScriptedModem& m = *modem;
  std::stringbuf trace;  // outlives the port and its stream
  auto text = std::make_unique<std::ostream>(&trace);
  {
    TracingSerialPort port(std::move(modem), std::move(text), FixedStamp);
    m.HangUp();
    uint8_t b = 0;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(port.ReadByte(b), ReadFailed);
  }
  const test::TraceContents t = test::ReadTrace(trace.str());
  const std::vector<std::string> events = {"trace begins", "read failed: the line hung up", "close",
                                           "trace ends"};
  EXPECT_EQ(t.events, events) << trace.str();
}

TEST(ExchangeTrace, TheEnvironmentChoosesTheFileAndAFailureCostsOneLine) {
  test::ScratchDir dir;
  ManualClock clock;
  struct Case {
    const char* value;  // nullptr: unset
    bool traced;
    int errorLines;
  };
  const Case cases[] = {
      {nullptr, false, 0},    {"", false, 0},         {"no-such-dir/trace.txt", false, 1},
      {"trace.txt", true, 0}, {"trace.txt", true, 0},  // appended to
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value ? c.value : "(unset)");
    SetEnvironment("TARVELIN_TRACE", c.value);
    auto modem = std::make_unique<test::ScriptedModem>(clock);
    SerialPort* raw = modem.get();
    std::ostringstream errors;
    std::unique_ptr<SerialPort> port = TraceExchangeIfAsked(std::move(modem), errors);
    EXPECT_EQ(port.get() != raw, c.traced);
    const std::string err = errors.str();
    EXPECT_EQ(static_cast<int>(std::count(err.begin(), err.end(), '\n')), c.errorLines) << err;
    if (c.errorLines) {
      EXPECT_NE(err.find("no-such-dir/trace.txt"), std::string::npos) << err;
    }
  }
  SetEnvironment("TARVELIN_TRACE", nullptr);
  std::ifstream in("trace.txt");
  const std::string written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const test::TraceContents t = test::ReadTrace(written);
  EXPECT_TRUE(t.errors.empty()) << written;
  EXPECT_EQ(std::count(t.events.begin(), t.events.end(), "trace begins"), 2) << written;
}

}  // namespace
}  // namespace tv
