// The command line: --help, --version and the scripted operations without
// the full screen:
//   tarvelin backup  [--force] COMn[:G] FILE           SIM to file
//   tarvelin restore [--force] [--dry-run] COMn[:G] FILE
//                                                      File to SIM, with its read-back
//   tarvelin verify  COMn[:G] FILE                     the SIM compared with the file
//   tarvelin show    SOURCE                            the settings in words
//   tarvelin diff    SOURCE SOURCE                     what differs, setting by setting
//   tarvelin set     [--dry-run] FILE KEY=VALUE...     settings changed in a file
#pragma once

#include <string>
#include <vector>

namespace tv {

struct GatewaySession;

// Exit statuses of the commands.
namespace exitcode {
inline constexpr int Ok = 0;
inline constexpr int Differences = 1;  // verify, restore: the SIM does not hold what the file says; diff
inline constexpr int Usage = 2;       // and set: an unknown key, a value that does not fit
inline constexpr int Device = 3;  // the exchange failed; the SIM is not initialised (backup)
inline constexpr int File = 4;
inline constexpr int Unfinished = 5;  // backup: the last write to the SIM did not complete (its journal)
}  // namespace exitcode

// Runs the arguments (those after the program's name) on the gateway
// session (no screen is built for them), and returns the exit status. Results go to
// standard output, messages to standard error, both in the encoding of the
// user's locale; progress goes to standard error only when it is a terminal.
int RunCommandLine(GatewaySession& session, const std::vector<std::string>& args);

}  // namespace tv
