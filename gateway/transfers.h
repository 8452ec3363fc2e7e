// The connection to a gateway and the transfers between its SIM and a
// settings file, without a screen: the menus show progress and failures in
// their panels, the scripted commands on the command line. Both go through
// these functions, so both talk to the gateway alike.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "core/sim_image.h"
#include "device/cell_transfer.h"
#include "gateway/faults.h"
#include "platform/file_access.h"

namespace tv {

struct GatewaySession;

// Told how many cells or lines are done: 0 once before the first, then after
// each one.
using TransferProgress = std::function<void(int done)>;
// Asked between cells: true to stop after the cell just written.
using StopRequest = std::function<bool()>;

// Opens the port and drives the gateway's lines: 0, or ExchangeError 6 or 7.
int OpenPort(GatewaySession& gateway, int portIndex);
int SelectGateway(GatewaySession& gateway, int gatewayIndex);

// Opens the port of state.portIndex (anew when it is not open or its
// line has hung up), addresses the gateway of state.gatewayIndex,
// empties the image, waits for the modem and reads the mode cell, whose
// signature the caller then checks. A failure that leaves no usable
// connection clears deviceConnected. Gateways 2 to 4 are refused on a port
// whose lines nobody confirmed (ExchangeError 7 with kLinesUnconfirmed);
// gateway 1 goes on, and the caller warns. stop, when given, can leave the
// wait for a modem that is waking up (a fault that is left, deviceConnected
// cleared). Where the whole book is read with the mode cell (by range),
// reading is told 0 when the modem has answered and the read begins, then
// the cells as they come, and stop can end the read too (left; the image
// empty, deviceConnected cleared: nothing is written to a SIM read in part).
ExchangeFault AttachGateway(GatewaySession& gateway, const StopRequest& stop = {}, const TransferProgress& reading = {});

// Reads cells 1..99 into the image. text, when given, receives the line a
// settings file keeps for each cell: the device's own "+CPBR:" line, or an
// empty cell's line; lines, when given, the same lines at their cells'
// indices 1..99 (CompareWithSim's simLines). A failed read clears
// deviceConnected; so does stop() ending it (left).
ExchangeFault ReadSimCells(GatewaySession& gateway, std::string* text, const TransferProgress& progress,
                           std::vector<std::string>* lines = nullptr, const StopRequest& stop = {});

// The SIM's settings as its backup would load them (ParseSettingsText of the
// lines SIM to file writes: blanks dropped, as from any file), so that a
// file and a gateway compare alike. The book read by the connection is used
// when nothing was sent since, and kept for a File to SIM that follows.
ExchangeFault ReadSimSettings(GatewaySession& gateway, SimImage& settings, const TransferProgress& progress);

// SIM to file: the file is tried first (nothing is read from a SIM whose
// copy could not be kept), then the cells are read and the file is replaced
// whole.
enum class SaveStep { Saved, CreateFailed, DeviceFailed, WriteFailed };
struct SaveOutcome {
  SaveStep step = SaveStep::Saved;
  FileFault fault = FileFault::None;  // CreateFailed, WriteFailed
  ExchangeFault device;               // DeviceFailed
};
SaveOutcome SaveSimToFile(GatewaySession& gateway, const std::string& path, const TransferProgress& progress);

// File to SIM: each line of the settings file as one phonebook write. A
// line the SIM refuses does not stop the transfer; a device that is gone
// does (device then says how far it came, and deviceConnected is cleared),
// and so does stop() saying so (stopped; deviceConnected cleared, since the
// SIM then holds a mix the image does not show). The gateway's journal
// (gateway/journal.h) is written before the first line and after each;
// when it cannot be written nothing is sent (journalFault). The caller
// removes it after a whole read-back (ReadSimCells, then RemoveJournal).
struct SendOutcome {
  int total = 0;  // lines in the file
  WriteTally tally;
  std::vector<int> refusedLines;  // 1-based places in the file
  ExchangeFault device;
  bool stopped = false;
  int sent = 0;  // lines gone through (sent, refused or already on the SIM)
  int matched = 0;  // lines the SIM already held byte for byte: not sent
  FileFault journalFault = FileFault::None;
  bool journalFailed = false;
};
// What was written and what the SIM already held: "Записано строк: 3, уже
// совпадали: 96".
std::string WrittenAndMatched(const SendOutcome& sent);
SendOutcome SendFileToSim(GatewaySession& gateway, std::string_view fileBytes, const std::string& fileName,
                          const TransferProgress& progress, const StopRequest& stop = {});

// The initialisation: cells 1..99 written with what a new SIM holds (each
// cell "0" and its two-digit index; cell 98 the default mode string and the
// signature), the journal first, then after each answered cell. stop is
// asked before each cell (true: stop there, the SIM then holds a mix);
// progress is told each cell written. A device that is gone ends it (gone;
// the tally says how far it came).
struct InitOutcome {
  int total = 0;
  WriteTally tally;
  bool gone = false;
  bool stopped = false;
  int written = 0;  // cells gone through
  FileFault journalFault = FileFault::None;
  bool journalFailed = false;
};
InitOutcome WriteDefaultCells(GatewaySession& gateway, const TransferProgress& progress, const StopRequest& stop);

// Whether the file's cell 98 carries the gateway's signature. A file without
// it (made by hand, or for something else) would leave a SIM that the next
// connection takes for an uninitialised one.
bool CarriesGatewaySettings(std::string_view fileBytes);

}  // namespace tv
