// bench_connect: what the connection does on the line over the real serial
// port code on ./COM1, timed: "AT" until the modem answers, then the whole
// book in one range read ("AT+CPBR=1,99"), or with TARVELIN_READ=cells cell
// 98 and cells 1..99 one command each, as the tool does with that setting.
// Wall time against the time the bytes need on a 115200-baud line, the
// commands (each a round trip on a network port), and the CPU time this
// process took. Run by scripts/bench-connect.sh against gwsim --pace, and
// against gwsim --pace --latency N, a modem that takes N ms an entry:
//   [TARVELIN_READ=cells] bench_connect [ENTRY_MS]
// With ENTRY_MS the ratio is wall / (100 entries x ENTRY_MS + wire time); the
// probe's own answer takes ENTRY_MS too, so 1.01 is the floor there.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "core/settings_file.h"
#include "device/cell_transfer.h"
#include "device/clock.h"
#include "device/range_read.h"
#include "gateway/transfers.h"
#include "platform/host_devices.h"
#include "ui/tool.h"

namespace {

// Counts the bytes in both directions.
class CountingPort : public tv::SerialPort {
 public:
  explicit CountingPort(tv::SerialPort& inner) : inner_(inner) {}
  int Open(int i) override { return inner_.Open(i); }
  bool IsOpen() const override { return inner_.IsOpen(); }
  bool SetDtr(bool on) override { return inner_.SetDtr(on); }
  bool SetRts(bool on) override { return inner_.SetRts(on); }
  tv::ReadStatus ReadByte(uint8_t& b) override {
    const tv::ReadStatus s = inner_.ReadByte(b);
    if (s == tv::ReadOk) ++received;
    return s;
  }
  void WriteBytes(const uint8_t* d, std::size_t n) override {
    sent += n;
    inner_.WriteBytes(d, n);
  }
  void DiscardInput() override { inner_.DiscardInput(); }
  std::string Describe(int i) const override { return inner_.Describe(i); }

  long sent = 0, received = 0;

 private:
  tv::SerialPort& inner_;
};

double CpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// The connection's probe: "AT" asked until it answers, as the dialog does.
bool AwaitModem(tv::Tool& tool) {
  constexpr tv::Millis kWakeGrace{4000}, kProbeBound{700};
  const tv::Clock::TimePoint deadline = tool.clock.Now() + kWakeGrace;
  while (tool.clock.Now() < deadline) {
    const tv::AtReply reply = tool.at.Run("AT\r", {}, kProbeBound);
    if (reply.status == tv::AtStatus::Failed) return false;
    if (reply.status != tv::AtStatus::Timeout) return true;
  }
  return false;
}

}  // namespace

int main(int argc, char** argv) {
  const int entryMs = argc > 1 ? std::atoi(argv[1]) : 0;
  if (argc > 2 || entryMs < 0 || (argc > 1 && std::to_string(entryMs) != argv[1])) {
    std::fprintf(stderr, "usage: bench_connect [ENTRY_MS]\n");
    return 2;
  }
  tv::Screen screen;
  tv::SystemClock clock;
  // The port the tool opens: ./COM1 a link to a device, or an address file.
  const std::unique_ptr<tv::SerialPort> host = tv::MakeHostSerialPort();
  CountingPort port(*host);
  tv::Tool tool(screen, clock, port);
  tool.session.TakeExchangeSettings();
  const auto opening = std::chrono::steady_clock::now();
  if (const int rc = tv::OpenPort(tool.session, 0)) {
    std::fprintf(stderr, "bench_connect: cannot open COM1 (%s): error %d\n", host->Describe(0).c_str(), rc);
    return 1;
  }
  if (tv::SelectGateway(tool.session, 0) != 0) {
    std::fprintf(stderr, "bench_connect: cannot drive the lines\n");
    return 1;
  }
  const double cpu0 = CpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  const double openLines = std::chrono::duration<double>(t0 - opening).count();
  if (!AwaitModem(tool)) {
    std::fprintf(stderr, "bench_connect: no answer to AT\n");
    return 1;
  }
  // As the connection and the read that follows it: cell 98 first when cell
  // by cell; by range the signature comes with the book.
  bool useRange = !tool.session.cellByCell;
  bool failed = !useRange && !tv::ReadCell(tool.at, tool.image, tv::ModeCell).Ok();
  const tv::CellsRead read =
      failed ? tv::CellsRead{} : tv::ReadCells(tool.at, tool.image, 1, tv::SettingsLines, useRange);
  failed = failed || !read.Ok();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = CpuSeconds() - cpu0;
  if (failed) {
    std::fprintf(stderr, "bench_connect: a read failed\n");
    return 1;
  }
  const double wire = static_cast<double>(port.sent + port.received) / 11520.0;
  std::printf("read       %s\n", read.byRange      ? "range"
                                 : tool.session.cellByCell ? "cells"
                                                   : "cells (the range read fell back)");
  std::printf("bytes sent %ld, received %ld\n", port.sent, port.received);
  std::printf("commands   %llu (round trips on a network port)\n",
              static_cast<unsigned long long>(tool.at.CommandsSent()));
  std::printf("wire time  %.3f s (both directions at 11520 B/s)\n", wire);
  std::printf("wall time  %.3f s\n", wall);
  std::printf("open+lines %.3f s (opening the port, DTR and RTS; not in the ratio)\n", openLines);
  std::printf("whole      %.3f s\n", openLines + wall);
  if (entryMs == 0) {
    // A hundred commands each wait for the modem's first byte: cell by cell
    // is held to 1.10, the one range read to 1.05.
    std::printf("ratio      %.3f = wall / wire (goal <= %s)\n", wall / wire, read.byRange ? "1.05" : "1.10");
  } else if (read.byRange) {
    // The probe and 99 entries, each looked up in ENTRY_MS; an entry's bytes
    // go out while the next one is looked up.
    const double ideal = 100 * entryMs / 1000.0;
    std::printf("ratio      %.3f = wall / (100 x %d ms = %.3f s: the probe and 99 entries)\n", wall / ideal,
                entryMs, ideal);
  } else {
    // Cell 98 and 99 more, one command each, the bytes between the lookups.
    const double ideal = 100 * entryMs / 1000.0 + wire;
    std::printf("ratio      %.3f = wall / (100 x %d ms + wire = %.3f s)\n", wall / ideal, entryMs, ideal);
  }
  std::printf("cpu        %.3f s = %.2f%% of wall (goal < 2%%)\n", cpu, 100.0 * cpu / wall);
  return 0;
}
