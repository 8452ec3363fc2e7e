// The journal of a write to a gateway's SIM (File to SIM, the initialisation):
// one small text file per gateway in the working directory, beside the
// settings files, written whole or not at all before the first cell is
// written and after each one, and removed once the SIM was read back whole.
// A journal still there at the next connection means the last write to that
// gateway stopped part way (Esc, a killed tool, a dropped line): the SIM then
// holds part of the file and part of what it held before.
//
//   tarvelin-COM1-2.journal     (port COM1, gateway 2; never matches *.set)
//     # ... (a comment line)
//     port COM1
//     gateway 2
//     device <what the port led to, as the connection dialog names it>
//     transfer file | init
//     file <the settings file, as it was named; empty for init>
//     written <lines or cells taken so far>
//     total <lines or cells to write>
#pragma once

#include <string>
#include <vector>

#include "platform/file_access.h"

namespace tv {

struct Tool;

struct TransferJournal {
  int portIndex = 0;     // 0..15
  int gatewayIndex = 0;  // 0..3
  std::string device;
  bool initialisation = false;
  std::string file;
  int written = 0;
  int total = 0;
};

// The journal file of a gateway, relative to the working directory:
// "tarvelin-COM3-2.journal", or named after the port's target when the
// scripted commands gave it one ("tarvelin-dev-ttyUSB0-2.journal").
std::string JournalPath(int portIndex, int gatewayIndex);

// The journal as text, and back; false for a text that is not one.
std::string EncodeJournal(const TransferJournal& journal);
bool DecodeJournal(const std::string& text, TransferJournal& journal);

// Replaces the gateway's journal whole; why not in fault, when given. The
// first one of a write waits for the disk; the figures after each cell only
// need to outlive the program (killed, or its line dropped), and do not make
// a slow disk slow the write to the SIM.
bool WriteJournal(const TransferJournal& journal, FileFault* fault = nullptr);
bool UpdateJournal(const TransferJournal& journal);
// The unfinished write recorded for the gateway, if any.
bool ReadJournal(int portIndex, int gatewayIndex, TransferJournal& journal);
// The write completed (or the operator dismissed the notice).
void RemoveJournal(int portIndex, int gatewayIndex);

// What the operator is told at the next connection (cp866), in two lines
// for the panels: what stopped, then where and from which file (its name as
// the screen shows names, at most nameWidth characters).
std::vector<std::string> InterruptionNotice(const TransferJournal& journal, int nameWidth = 200);
// The same as one line, for standard error and machine-readable output.
std::string InterruptionNoticeLine(const TransferJournal& journal);
// That line for the gateway's journal; empty when there is none.
std::string UnfinishedTransferNotice(int portIndex, int gatewayIndex);

// The journal of the write about to start to the connected gateway
// (tool.state's port and gateway; the device as the port describes it).
TransferJournal StartJournal(Tool& tool, bool initialisation, const std::string& file, int total);

}  // namespace tv
