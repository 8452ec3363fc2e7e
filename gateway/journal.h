// The journal of a write to a gateway's SIM (File to SIM, restore, the
// initialisation): one small UTF-8 text file per line and gateway in the
// working directory, beside the settings files, written whole or not at all
// before the first cell is written and after each one, and removed once the
// SIM was read back whole. A journal still there at the next connection
// means the last write to that gateway stopped part way (Esc, a killed tool,
// a dropped line): the SIM then holds part of the file and part of what it
// held before.
//
// It belongs to the line, not to the name that reached it: a restore through
// rfc2217://10.0.0.5:2001 and the screen's COM3, whose ./COM3 holds that
// address, share it. It is found by the name too, so that a device that came
// back under another path (an adapter plugged in again as ttyUSB1) still
// tells of it.
//
//   tarvelin-dev-ttyUSB0-2.journal      (the line /dev/ttyUSB0, gateway 2)
//     # ... (a comment line)
//     line /dev/ttyUSB0 | rfc2217://10.0.0.5:2001   (platform/host.h, PortLine)
//     gateway 2
//     port COM1 | <the path or address as given on the command line>
//     device <what the port led to, as the connection dialog names it>
//     transfer file | init
//     file <the settings file, as it was named; empty for init>
//     written <lines or cells taken so far>
//     total <lines or cells to write>
//
// Journals of earlier versions (named "tarvelin-COM1-2.journal", without the
// line, the device in cp866) are still read, by their port's name.
#pragma once

#include <string>
#include <vector>

#include "platform/file_access.h"

namespace tv {

struct GatewaySession;

struct TransferJournal {
  int portIndex = 0;     // 0..15
  int gatewayIndex = 0;  // 0..3
  std::string line;      // PortLine of the port; empty in an earlier version's journal
  std::string port;      // the name that reached it: "COM1", or the target given
  std::string device;
  bool initialisation = false;
  std::string file;
  int written = 0;
  int total = 0;
  std::string path;  // where ReadJournal found it (not part of the text)
};

// The journal file of a gateway, relative to the working directory, named
// after the line the port reaches: "tarvelin-dev-ttyUSB0-2.journal",
// "tarvelin-rfc2217-10.0.0.5-2001-2.journal" ("tarvelin-COM3-2.journal" for
// a COM name that leads nowhere).
std::string JournalPath(int portIndex, int gatewayIndex);

// The journal as text, and back; false for a text that is not one.
std::string EncodeJournal(const TransferJournal& journal);
bool DecodeJournal(const std::string& text, TransferJournal& journal);

// Replaces the gateway's journal whole (its line and port, when not given,
// as the port of its index leads now); why not in fault, when given. The
// first one of a write waits for the disk; the figures after each cell only
// need to outlive the program (killed, or its line dropped), and do not make
// a slow disk slow the write to the SIM.
bool WriteJournal(const TransferJournal& journal, FileFault* fault = nullptr);
bool UpdateJournal(const TransferJournal& journal);
// The unfinished write recorded for the gateway, if any: the journal at
// JournalPath, else one beside it of the same line or the same port name,
// for the same gateway. Something at JournalPath that is not this gateway's
// journal (a file copied there, another gateway's) is still word of a
// stopped write, told without figures (file "?").
bool ReadJournal(int portIndex, int gatewayIndex, TransferJournal& journal);
// The write completed (or the operator dismissed the notice): every journal
// ReadJournal would take for the gateway is removed.
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
// (the session's port and gateway; the device as the port describes it).
TransferJournal StartJournal(GatewaySession& gateway, bool initialisation, const std::string& file, int total);

}  // namespace tv
