// What the scripted commands say: messages on standard error in the locale's
// encoding, the file's lines that differ from the SIM on standard output,
// and with --json those lines and a last summary as JSON Lines (UTF-8).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tv::cli {

// What a --json run writes as its last line, gathered while the command
// runs; texts in UTF-8.
struct Summary {
  bool json = false;
  std::string command;
  std::string gateway;  // "COM1:1"; empty until the port is known
  std::string file;     // as given; empty until known
  int cellsDiffering = 0;  // lines of the file that differ from the SIM
  std::vector<int> refusedLines;
  std::string reason;  // why the status is not 0; empty: none
  std::vector<std::string> notices;
  std::string journal;  // the journal of an unfinished write found at the connection
  bool documented = false;  // show, diff and set wrote their one document instead
};

// The summary of this run.
Summary& Run();

// An argument as typed (a file name in the locale's encoding) as UTF-8: a
// byte that is not part of a UTF-8 sequence becomes U+FFFD.
std::string Utf8FromArgument(std::string_view text);

// A text from the device or a file may hold any byte: none of them may
// control the terminal.
std::string Harmless(std::string_view text);

// One message line on standard error: "tarvelin: ", the place it concerns
// (a port or a file name, as given), and cp866 text.
void Say(std::string_view where, std::string_view cp866);
// The message of a failure: said, and the summary's reason (the first one
// given, the one that decided the status).
void Complain(std::string_view where, std::string_view cp866);
// A message that does not decide the status (what the operator should know
// besides): said, and one of the summary's notices.
void Notice(std::string_view where, std::string_view cp866);

// The last line of a --json run.
void WriteSummary(int status);

// The lines of the file that differ from the SIM's (simLines: CompareWithSim's,
// at each cell's index), as restore would write them: one line each on
// standard output (with --json as JSON there, and on standard error), each
// with the settings its cell holds in the file, their count on standard
// error. The exit status: Differences when any differs.
int ReportDifferences(std::string_view fileBytes, const std::vector<std::string>& simLines);

}  // namespace tv::cli
