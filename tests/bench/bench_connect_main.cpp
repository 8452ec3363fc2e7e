// bench_connect: the connection's reads (cell 98, then cells 1..99) over the
// real serial port code on ./COM1, timed: wall time against the time the
// bytes need on a 115200-baud line, and the CPU time this process took.
// Run by scripts/bench-connect.sh against gwsim --pace.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>

#include "device/cell_transfer.h"
#include "device/clock.h"
#include "device/connect_dialog.h"
#include "device/posix_serial_port.h"
#include "device/tool.h"

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

}  // namespace

int main() {
  tv::Screen screen;
  tv::SystemClock clock;
  tv::PosixSerialPort posix;
  CountingPort port(posix);
  tv::Tool tool(screen, clock, port);
  if (const int rc = tv::OpenPort(tool, 0)) {
    std::fprintf(stderr, "bench_connect: cannot open COM1 (%s): error %d\n", posix.Describe(0).c_str(), rc);
    return 1;
  }
  if (tv::SelectGateway(tool, 0) != 0) {
    std::fprintf(stderr, "bench_connect: cannot drive the lines\n");
    return 1;
  }
  const double cpu0 = CpuSeconds();
  const auto t0 = std::chrono::steady_clock::now();
  bool failed = !tv::ReadCell(tool.at, tool.image, tv::ModeCell).Ok();
  for (int cell = 1; cell <= 99 && !failed; ++cell) failed = !tv::ReadCell(tool.at, tool.image, cell).Ok();
  const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  const double cpu = CpuSeconds() - cpu0;
  if (failed) {
    std::fprintf(stderr, "bench_connect: a read failed\n");
    return 1;
  }
  const double wire = static_cast<double>(port.sent + port.received) / 11520.0;
  std::printf("bytes sent %ld, received %ld\n", port.sent, port.received);
  std::printf("wire time  %.3f s (both directions at 11520 B/s)\n", wire);
  std::printf("wall time  %.3f s\n", wall);
  std::printf("ratio      %.3f (goal <= 1.10)\n", wall / wire);
  std::printf("cpu        %.3f s = %.2f%% of wall (goal < 2%%)\n", cpu, 100.0 * cpu / wall);
  return 0;
}
