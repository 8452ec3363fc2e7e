// Arbitrary modem bytes around a sequence of cell reads and writes, as the
// AT engine meets them: echoes, unsolicited lines, stale replies, noise,
// silences. Every command must end within its bound, a cell must be taken
// only from the "+CPBR:" line of its own index, and no text may outgrow its
// cell. The byte 0xFE stands for a silence of one read time-out.
#include <cstdint>
#include <string>
#include <string_view>

#include "core/sim_image.h"
#include "device/at_engine.h"
#include "device/cell_transfer.h"
#include "fuzz/fuzz_support.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

// The modem's bytes in time: one byte a millisecond, a read time-out for
// each 0xFE and after the end.
class TimedBytesPort : public tv::fuzz::BytesPort {
 public:
  TimedBytesPort(const uint8_t* data, std::size_t size, tv::ManualClock& clock)
      : BytesPort(data, size), clock_(clock) {}
  tv::ReadStatus ReadByte(uint8_t& b) override {
    if (BytesPort::ReadByte(b) != tv::ReadOk || b == 0xFE) {
      clock_.Advance(tv::ByteReadTimeout);
      return tv::ReadTimeout;
    }
    clock_.Advance(tv::Millis(1));
    return tv::ReadOk;
  }

 private:
  tv::ManualClock& clock_;
};

// Two tries, each bounded, a quiet wait before the second and one after a
// timed-out first, a busy pause, and one read time-out of overshoot each.
constexpr tv::Millis kLongestCommand =
    2 * (tv::CellWriteBound + tv::AtEngine::QuietCap + 2 * tv::ByteReadTimeout) + tv::AtEngine::QuietCap +
    tv::Millis(500);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  using namespace tv;
  ManualClock clock;
  TimedBytesPort port(data, size, clock);
  AtEngine at(port, clock);
  SimImage image;
  for (int i = 0; i < 24 && !port.AtEnd(); ++i) {
    const int cell = 1 + i % 99;
    const Clock::TimePoint start = clock.Now();
    if (i % 3 == 2) {
      image.SetCellNumber(cell, "123");
      WriteCell(at, image, cell);
    } else {
      image.SetCellName(cell, "stale");
      const CellResult r = ReadCell(at, image, cell);
      if (r.outcome == CellOutcome::Done) {
        // The line kept is this cell's, and the cell holds its texts.
        const CpbrTexts texts = ParseCpbrLine("+CPBR:" + r.raw);
        Check(texts.index == cell && texts.complete);
        Check(image.CellNumber(cell) == std::string_view(texts.number).substr(0, TextMax));
        Check(image.CellName(cell) == std::string_view(texts.name).substr(0, TextMax));
      } else if (r.outcome == CellOutcome::Empty) {
        Check(image.CellNumber(cell).empty() && image.CellName(cell).empty() && r.raw.empty());
      } else {
        Check(image.CellName(cell) == "stale" && r.raw.empty());
      }
    }
    Check(clock.Now() - start <= kLongestCommand);
  }
  for (int cell = 1; cell <= 99; ++cell)
    Check(image.CellNumber(cell).size() <= TextMax && image.CellName(cell).size() <= TextMax);
  return 0;
}
