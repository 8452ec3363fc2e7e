// Reading many phonebook cells with one command.
//
//   -> AT+CPBR=1,99\r
//   <- \r\n+CPBR: 1,"89161234501",129,"01"\r\n
//   <- \r\n+CPBR: 2,"84957654321",129,"02"\r\n   (20..100 ms an entry on a SIM)
//   <- ...                                      (empty locations left out)
//   <- \r\n+CPBR: 99,"89161234567",129,"99"\r\n
//   <- \r\nOK\r\n
//
// No entry at all in the range: OK alone, or "+CME ERROR: 22" (not found).
// Some modems answer at most 10 or 20 entries and then OK: what such a
// reply says of the cells past its last entry is nothing, so the read goes
// on from the index after it ("AT+CPBR=21,99") until a reply brings no
// entry. Modems that do not take the range form answer ERROR or
// "+CME ERROR: 4"; a reply that does not fit a range reply (an index
// outside the range or twice, entries out of order, a broken entry, no
// final result) is not used at all, and the caller reads cell by cell.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "device/cell_transfer.h"

namespace tv {

class AtEngine;
class SimImage;

// A range reply may go on as long as bytes keep coming: the bound is the
// silence since the last byte (a cell read's bound), and in all the cell
// read's bound plus this much a cell of the range (a slow SIM's 100 ms an
// entry three times over): 31.7 s for 99 cells.
inline constexpr std::chrono::milliseconds RangeSilenceBound = CellReadBound;
inline constexpr std::chrono::milliseconds RangeCellAllowance{300};

enum class RangeStatus {
  Done,      // every cell of the range is known (cells)
  FallBack,  // the answer did not fit a range reply: read these cells one by one
  LineLost,  // the port failed or hung up
  Stopped,   // stop() ended the wait
};

struct RangeReadResult {
  RangeStatus status = RangeStatus::FallBack;
  int first = 0;
  int last = -1;
  // When Done, one result per cell first..last, exactly what ReadCell gives
  // for it: Done with raw (the "+CPBR:" line from its seventh byte on, CR LF)
  // or Empty with raw empty. Otherwise empty: nothing of a doubtful answer
  // is kept.
  std::vector<CellResult> cells;
  std::string reason;  // why it fell back ("ERROR", "index 7 twice"), for tests and traces
  bool heard = false;  // any byte came from the device
  int commands = 0;    // range commands sent

  bool Ok() const { return status == RangeStatus::Done; }
  // The result of one cell of a Done read.
  const CellResult& Cell(int index) const { return cells.at(static_cast<std::size_t>(index - first)); }
};

// The read command of a range: "AT+CPBR=1,99\r".
std::string BuildRangeReadCommand(int first, int last);

// Reads cells first..last (1 <= first <= last) with range commands through
// the engine; the image is not touched. stop, when given, is asked at least
// every byte-read time-out; progress, when given, is told the index of each
// entry as it comes (for a progress display: 20..100 ms an entry).
// A SIM that answers busy ("+CME ERROR: 14") is given half a second and one
// more try before the read falls back.
RangeReadResult ReadCellRange(AtEngine& at, int first, int last, const std::function<bool()>& stop = {},
                              const std::function<void(int)>& progress = {});

// The cells first..last read by range where the device takes it, else cell
// by cell as ReadCell reads them.
struct CellsRead {
  // One result per cell first..last when every cell was read; up to the
  // failed one otherwise.
  std::vector<CellResult> cells;
  int failedCell = 0;    // the cell whose read failed, 0 when none did
  CellResult failure;    // its result (for ExchangeErrorOf, DescribeFailure)
  bool byRange = false;  // the cells came from range reads
  std::string rangeReason;  // why the range read fell back, when it did
  bool stopped = false;     // stop() ended the read (failedCell then names where)

  bool Ok() const { return failedCell == 0 && !stopped; }
};

// Reads cells first..last into the image. With useRange, by range first;
// when that falls back, useRange is cleared (the device is read cell by
// cell for the rest of the connection) and every cell is read with
// ReadCell, as without useRange. progress is told each cell done (by
// range: each entry's index as it comes, and last at the end). A lost line
// during the range read is reported as the first cell's failure. stop, when
// given, is asked during the range read and before each cell read: when it
// says so the read ends unfinished (stopped).
CellsRead ReadCells(AtEngine& at, SimImage& image, int first, int last, bool& useRange,
                    const std::function<void(int)>& progress = {}, const std::function<bool()>& stop = {});

// Puts the cells of a Done read into the image as ReadCell does (an empty
// location empties its cell). Nothing for a read that is not Done.
void StoreRange(const RangeReadResult& read, SimImage& image);

// The line a settings file keeps for a cell read from the SIM: the raw
// reply line, or for an empty location the empty cell's line
// (` 07,"",129,""` CR LF), as the SIM-to-file transfer writes them.
std::string SettingsLineOf(int index, const CellResult& cell);

}  // namespace tv
