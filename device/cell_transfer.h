// Moving one SIM phonebook cell between the device and the image:
//   read   AT+CPBR=05\r        ->  +CPBR: 5,"0",129,"05"  /  OK
//   write  AT+CPBW=05,"0",129,"05"\r  ->  OK
#pragma once

#include <string>
#include <string_view>

#include "device/serial_port.h"

namespace tv {

struct Tool;

// The texts of a "+CPBR:" reply line: the number is the first text in double
// quotes, the name the next one after the type field. A text whose closing
// quote is missing runs to the end of the line; a missing opening quote gives
// an empty text. Both are cut at 47 characters.
struct CpbrTexts {
  std::string number;
  std::string name;
};
CpbrTexts ParseCpbrLine(std::string_view line);

// Command bytes, built in the command buffer; each returns the byte count.
int BuildReadCommand(Tool& tool, int index);
int BuildWriteCommand(Tool& tool, int index);

// Reads the cell into the image. ReadOk when "OK" ended the reply, otherwise
// the status of the first line read that failed.
ReadStatus ReadCell(Tool& tool, int index);
// Stores the reply line (a "+CPBR:" line) into the cell and the raw reply.
void ParseCellReply(Tool& tool, int index);
// The short wait after a write that is not WriteCell's (the SIM
// initialisation, File to SIM): one reply line, and unless it was "OK" one
// more ("\r\nOK\r\n" is an empty line, then "OK"). True when "OK" came.
bool ReadWriteAcknowledgement(Tool& tool);

// Writes the cell to the device (nothing while a file is loaded): 0 for "OK",
// 1 when the third line was not "OK", else the failing read status.
int WriteCell(Tool& tool, int index);

}  // namespace tv
