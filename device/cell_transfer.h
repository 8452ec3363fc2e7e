// Moving one SIM phonebook cell between the device and the image:
//   read   AT+CPBR=05\r        ->  +CPBR: 5,"0",129,"05"  /  OK
//                                  OK alone, or +CME ERROR: 22: the location is empty
//   write  AT+CPBW=05,"0",129,"05"\r  ->  OK
// A cell is taken only from the "+CPBR:" line of the index asked for, and a
// write counts only when its own OK came: a cell is never stored in another
// cell's place, and a write the SIM did not take is never reported as done.
#pragma once

#include <chrono>
#include <string>
#include <string_view>

#include "device/serial_port.h"

namespace tv {

class AtEngine;
class SimImage;

// How long a SIM may take. Reads take 20..100 ms an entry, writes 100..500 ms
// (EEPROM), the first access after power-on longer: the bounds leave room
// for that and for unsolicited lines in between.
inline constexpr std::chrono::milliseconds CellReadBound{2000};
inline constexpr std::chrono::milliseconds CellWriteBound{3000};

// The texts of a "+CPBR:" reply line: the number is the first text in double
// quotes, the name the next one after the type field. A text whose closing
// quote is missing runs to the end of the line; a missing opening quote gives
// an empty text. Texts are kept whole here (the image cuts them).
struct CpbrTexts {
  int index = -1;  // the index after "+CPBR:", -1 when unreadable
  std::string number;
  std::string name;
  bool complete = false;  // all four quotes were there
};
CpbrTexts ParseCpbrLine(std::string_view line);

// The commands, each with its CR:
//   AT+CPBR=05\r   AT+CPBW=07,"123",129,"ab"\r  (number type always 129)
std::string BuildReadCommand(int index);
std::string BuildWriteCommand(int index, std::string_view number, std::string_view name);
std::string BuildWriteCommand(const SimImage& image, int index);

enum class CellOutcome {
  Done,        // read: the cell holds the SIM's entry; write: the SIM took it
  Empty,       // read: the location is empty (OK alone, or "not found")
  NoAnswer,    // no final result within the bound, also after one more try
  LineLost,    // the port failed or hung up
  Refused,     // the modem answered with an error (detail: its line)
  WrongReply,  // read: a "+CPBR:" of another index, or one that cannot be trusted
};

struct CellResult {
  CellOutcome outcome = CellOutcome::NoAnswer;
  std::string detail;  // the modem's line that explains a failure
  bool heard = false;  // any byte came from the device
  // A read's "+CPBR:" line from its seventh byte on, then CR LF: the line a
  // settings file keeps for the cell. Empty for an empty cell.
  std::string raw;

  bool Ok() const { return outcome == CellOutcome::Done || outcome == CellOutcome::Empty; }
};

// The ExchangeError that reports a failed cell: 1 when the device did not
// answer, 8 when it answered wrongly.
int ExchangeErrorOf(const CellResult& result);
// A short text for the error box's detail row: "ячейка 13: +CME ERROR: 10".
std::string DescribeFailure(int index, const CellResult& result);

// Reads the cell into the image (an empty location empties it). A failed
// read leaves the cell as it was.
CellResult ReadCell(AtEngine& at, SimImage& image, int index);

// Sends one phonebook write command (with its CR) and waits for its own
// final result; a write that got none is sent once more after the line has
// gone quiet, as is one the SIM answered busy.
CellResult SendCellWrite(AtEngine& at, std::string_view command);

// Writes the image's cell to the device.
CellResult WriteCell(AtEngine& at, const SimImage& image, int index);

// What a run of writes achieved (the SIM initialisation, File to SIM).
struct WriteTally {
  int taken = 0;       // acknowledged by their own OK
  int refused = 0;     // answered with an error
  int unanswered = 0;  // no final result, also after the second try
  int unansweredInARow = 0;

  // Adds one write's result; true when the device is to be taken as gone:
  // the line was lost, or two writes in a row (each tried twice) got no
  // final result. A modem that only chatters (unsolicited lines, noise) and
  // never answers is as gone as a silent one.
  bool Add(const CellResult& result);
  int Failed() const { return refused + unanswered; }
};

}  // namespace tv
