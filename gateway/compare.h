// A settings file against the SIM, line by line: the lines restore and File
// to SIM write are the lines verify reports.
#pragma once

#include <string>
#include <vector>

namespace tv {

// The one comparison of a settings file with the SIM: restore and File to
// SIM write exactly the lines it finds differing, and verify reports exactly
// those. commands are a file's write commands as SplitLinesForSim gives them
// ("AT+CPBW=" + the file's line + CR); simLines holds, at each cell index
// 1..99, the SIM's current line in the settings file's form (SettingsLineOf),
// an empty string where it is not known.
//
// A line differs when it differs byte for byte from the SIM's line of its
// cell (CR LF left aside; the index is compared by its value, as the modem
// reads it, so ` 07,` and ` 7,` name the same cell): a blank inside a name,
// the number type, a field after the name all count. A line differs too
// when its cell is not known and when it names no cell 1..99 (the SIM is
// left to refuse it, and that is reported). A cell named by several lines
// ends as the last one says, so each line is compared with what the SIM
// holds when it comes: the line of an earlier command sent for that cell.
// Cells no line names are not compared: nothing would be written to them.
struct LineAgainstSim {
  int line = 0;          // its place among the file's lines, from 1, as refused lines are named
  int cell = -1;         // the cell it names; -1: none of 1..99
  bool differs = false;  // restore writes it, verify reports it
  std::string fileLine;  // the file's line, without the command around it
  std::string simLine;   // the SIM's line of that cell as read, without CR LF ("" when not known)
};
std::vector<LineAgainstSim> CompareWithSim(const std::vector<std::string>& commands,
                                           const std::vector<std::string>& simLines);

}  // namespace tv
