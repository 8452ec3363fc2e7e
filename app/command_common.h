// What the scripted commands share: the usage error, the port or settings
// file an argument names, the connection with its notices, reading the SIM
// and the files, and the progress shown on a terminal.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/command_line.h"
#include "core/sim_image.h"
#include "gateway/faults.h"
#include "gateway/transfers.h"

namespace tv {

struct GatewaySession;

namespace cli {

// The usage error "cp866Before ARGUMENT cp866After" (the argument as typed),
// then the usage; the status Usage.
int UsageError(std::string_view cp866Before, std::string_view argument = {}, std::string_view cp866After = {});

// The options of a command line, each taken only by the commands it names.
struct CommandOptions {
  bool force = false;    // backup, restore
  bool dryRun = false;   // restore, set
  bool secrets = false;  // show, diff
  int gateway = 0;       // --gateway G, 1..4; 0: as the port says
};

// A port argument as the session reaches it.
struct PortChoice {
  int portIndex = 0;
  int gatewayIndex = 0;
  std::string target;  // a device path or an address given as the port; "" for COMn
  std::string named;   // the gateway in the summary (UTF-8): "COM3:2", "/dev/ttyUSB0:1"
  std::string where;   // the argument as the messages name it
};
// "COM3", "COM3:2", a device path or a network address, with --gateway
// (0: none); Ok, or Usage after the message.
int ChoosePort(const std::string& argument, int gateway, PortChoice& choice);
// The session set to reach the chosen port; another port than the one it
// holds is opened anew at the connection.
void UsePort(GatewaySession& session, const PortChoice& choice);

// Whether a source of show or diff names a port: COMn[:G] and a network
// address always, an ordinary file that exists never, else a device path.
bool SourceIsPort(const std::string& argument);

// The connection; lines that nobody confirmed are said before gateway 1
// goes on, and a write to this gateway that stopped part way.
ExchangeFault Attach(GatewaySession& session, std::string_view port);
// The exchange failed: its message and detail; the status Device.
int DeviceFailed(std::string_view port, const ExchangeFault& fault);
void ReportFileFault(const std::string& path, const std::string& what, FileFault fault);
// The settings file named on the command line, or false after the message.
bool ReadFile(const std::string& path, std::string& bytes);
// "\rЧтение SIM-Карты: 45 / 99" on a terminal, a line feed after the last.
TransferProgress ProgressOf(const char* label, int total);
// Reads the SIM's cells 1..99, each line as SIM to file keeps it at its
// cell's index; Ok or Device.
int ReadSim(GatewaySession& session, const std::string& port, const char* label, std::vector<std::string>& lines);

// A configuration as show and diff take it: a settings file, or the SIM
// behind a port (connected as verify connects, then read).
struct Source {
  std::string given;    // the argument as typed (UTF-8)
  std::string gateway;  // the gateway read, "COM3:2"; empty for a file
  std::vector<std::string> notices;  // what the connection said (UTF-8)
  SimImage image;
};
// Ok, or the status of what failed after its message.
int ReadSource(GatewaySession& session, const std::string& argument, int gateway, Source& source);

inline constexpr const char* kReading = "Чтение SIM-Карты"_cp;

// The commands, their arguments checked; each returns its exit status.
int Backup(GatewaySession& session, const PortChoice& port, const std::string& path, const CommandOptions& options);
int Restore(GatewaySession& session, const PortChoice& port, const std::string& path, const CommandOptions& options);
int Verify(GatewaySession& session, const PortChoice& port, const std::string& path);
int Show(GatewaySession& session, const std::string& source, const CommandOptions& options);
int Diff(GatewaySession& session, const std::string& a, const std::string& b, const CommandOptions& options);
int Set(const std::string& path, const std::vector<std::string>& assignments, const CommandOptions& options);

}  // namespace cli
}  // namespace tv
