// Range reads of the phonebook.
#include "device/range_read.h"

#include <string_view>

#include "core/settings_file.h"
#include "core/sim_image.h"
#include "device/at_engine.h"

namespace tv {

namespace {

// A SIM that answers busy (right after power-on or a SIM swap) is given
// this long before the one more try.
constexpr Millis BusyPause{500};

}  // namespace

std::string BuildRangeReadCommand(int first, int last) {
  return "AT+CPBR=" + std::to_string(first) + "," + std::to_string(last) + "\r";
}

RangeReadResult ReadCellRange(AtEngine& at, int first, int last, const std::function<bool()>& stop,
                              const std::function<void(int)>& progress) {
  RangeReadResult result;
  result.first = first;
  result.last = last;
  auto fallBack = [&result](std::string reason) {
    result.status = RangeStatus::FallBack;
    result.reason = std::move(reason);
    result.cells.clear();
    return result;
  };
  if (first < 1 || last < first) return fallBack("no range");
  result.cells.assign(static_cast<std::size_t>(last - first) + 1, CellResult{CellOutcome::Empty, {}, true, {}});
  const auto cell = [&result](int index) -> CellResult& {
    return result.cells[static_cast<std::size_t>(index - result.first)];
  };

  int next = first;  // cells below it are known
  bool busyOnce = false;
  while (next <= last) {
    const int from = next;
    const std::function<void(const std::string&)> onEntry = [&](const std::string& line) {
      const int index = ParseCpbrLine(line).index;
      if (progress && index >= from && index <= last) progress(index);
    };
    const Millis cap = CellReadBound + RangeCellAllowance * (last - from + 1);
    const AtReply reply = at.RunLong(BuildRangeReadCommand(from, last), "+CPBR:", RangeSilenceBound, cap, stop,
                                     progress ? onEntry : std::function<void(const std::string&)>{});
    ++result.commands;
    result.heard = result.heard || reply.heard;
    if (reply.status == AtStatus::Failed) {
      result.status = RangeStatus::LineLost;
      result.cells.clear();
      return result;
    }
    if (reply.stopped) {
      result.status = RangeStatus::Stopped;
      result.cells.clear();
      return result;
    }
    if (reply.status == AtStatus::Timeout) return fallBack(reply.heard ? "no final result" : "no answer");
    if (reply.status == AtStatus::Error) {
      // "Not found": no entry from `from` on. Entries before an error, or
      // any other error, do not make a range reply.
      if (reply.lines.empty() && IsNotFound(reply.finalLine)) break;
      if (reply.lines.empty() && IsBusy(reply.finalLine) && !busyOnce) {
        busyOnce = true;
        at.clock().Sleep(BusyPause);
        continue;
      }
      return fallBack(reply.finalLine);
    }
    if (reply.lines.empty()) break;  // OK alone: no entry from `from` on
    int highest = from - 1;
    for (const std::string& line : reply.lines) {
      const CpbrTexts texts = ParseCpbrLine(line);
      if (texts.index < from || texts.index > last)
        return fallBack("index " + std::to_string(texts.index) + " outside " + std::to_string(from) + ".." +
                        std::to_string(last));
      if (texts.index <= highest)
        return fallBack(cell(texts.index).outcome == CellOutcome::Done
                            ? "index " + std::to_string(texts.index) + " twice"
                            : "index " + std::to_string(texts.index) + " out of order");
      if (!texts.complete) return fallBack("entry " + std::to_string(texts.index) + " broken");
      // Everything after "+CPBR:", then CR LF: the line of a settings file.
      cell(texts.index) = CellResult{CellOutcome::Done, {}, true, line.substr(6) + "\r\n"};
      highest = texts.index;
    }
    // Cells up to the last entry that brought none are empty; past it the
    // reply said nothing (a modem that caps a range stops there).
    next = highest + 1;
  }
  result.status = RangeStatus::Done;
  return result;
}

void StoreRange(const RangeReadResult& read, SimImage& image) {
  if (!read.Ok()) return;
  for (int index = read.first; index <= read.last; ++index) {
    const CellResult& cell = read.Cell(index);
    if (cell.outcome == CellOutcome::Done) {
      const CpbrTexts texts = ParseCpbrLine("+CPBR:" + cell.raw.substr(0, cell.raw.size() - 2));
      image.SetCellNumber(index, texts.number);
      image.SetCellName(index, texts.name);
    } else {
      image.SetCellNumber(index, {});
      image.SetCellName(index, {});
    }
  }
}

CellsRead ReadCells(AtEngine& at, SimImage& image, int first, int last, bool& useRange,
                    const std::function<void(int)>& progress, const std::function<bool()>& stop) {
  CellsRead read;
  if (useRange) {
    const RangeReadResult range = ReadCellRange(at, first, last, stop, progress);
    if (range.status == RangeStatus::Stopped) {
      read.failedCell = first;
      read.stopped = true;
      return read;
    }
    if (range.status == RangeStatus::LineLost) {
      read.failedCell = first;
      read.failure = CellResult{CellOutcome::LineLost, {}, range.heard, {}};
      return read;
    }
    if (range.Ok()) {
      StoreRange(range, image);
      read.cells = range.cells;
      read.byRange = true;
      if (progress) progress(last);
      return read;
    }
    useRange = false;
    read.rangeReason = range.reason;
  }
  for (int index = first; index <= last; ++index) {
    if (stop && stop()) {
      read.failedCell = index;
      read.stopped = true;
      return read;
    }
    CellResult cell = ReadCell(at, image, index);
    if (!cell.Ok()) {
      read.failedCell = index;
      read.failure = std::move(cell);
      return read;
    }
    read.cells.push_back(std::move(cell));
    if (progress) progress(index);
  }
  return read;
}

std::string SettingsLineOf(int index, const CellResult& cell) {
  return cell.outcome == CellOutcome::Done ? cell.raw : EncodeSaveLine(index, {}, {});
}

}  // namespace tv
