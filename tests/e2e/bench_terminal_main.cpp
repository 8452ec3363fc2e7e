// Measures the terminal output of the program: the time from start to the
// first complete frame (the start-up menu fully drawn) and the bytes written
// for one arrow move in the menu after it. Prints the median of several runs.
//
//   bench_terminal [runs]        (default 7)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tests/e2e/harness.h"

using namespace tv::e2e;

namespace {

template <typename T>
T Median(std::vector<T> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 7;
  std::vector<double> startMs;
  std::vector<uint64_t> firstFrameBytes, moveBytes, moveBackBytes;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = Clock::now();
    TerminalSession t(TarvelinBinary());
    // The frame is complete when its last cells are there: the Exit item of
    // the open pull-down, the bottom-right cell in blue, the cursor on the
    // highlighted item.
    const bool ok = t.WaitFor([&] {
      return t.TextAt(2, 8, 6) == Utf8(u8" Выход") && t.CellBg(80, 25) == Indexed(ansi::Blue) &&
             t.CursorPos() == std::make_pair(2, 3);
    });
    const auto t1 = Clock::now();
    if (!ok) {
      std::fprintf(stderr, "run %d: no start-up frame\n%s", i, t.ScreenText().c_str());
      return 1;
    }
    t.Drain(Duration{100});
    startMs.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    firstFrameBytes.push_back(t.BytesReceived());

    uint64_t before = t.BytesReceived();
    t.Press(Key::Down);
    t.WaitFor([&] { return t.CursorPos() == std::make_pair(2, 4); });
    t.Drain(Duration{100});
    moveBytes.push_back(t.BytesReceived() - before);

    before = t.BytesReceived();
    t.Press(Key::Right);
    t.WaitFor([&] { return t.CursorPos() == std::make_pair(9, 3); });
    t.Drain(Duration{100});
    moveBackBytes.push_back(t.BytesReceived() - before);
  }
  std::printf("runs: %d\n", runs);
  std::printf("start to first complete frame: median %.1f ms (min %.1f, max %.1f)\n", Median(startMs),
              *std::min_element(startMs.begin(), startMs.end()),
              *std::max_element(startMs.begin(), startMs.end()));
  std::printf("bytes of the first frame: median %llu\n",
              static_cast<unsigned long long>(Median(firstFrameBytes)));
  std::printf("bytes for one Down in the menu: median %llu\n",
              static_cast<unsigned long long>(Median(moveBytes)));
  std::printf("bytes for one Right (switch pull-down): median %llu\n",
              static_cast<unsigned long long>(Median(moveBackBytes)));
  return 0;
}
