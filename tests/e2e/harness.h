// End-to-end harness: the real tarvelin binary on a pseudo-terminal, read
// back through libvterm, a real terminal emulator. A test types keys as a
// terminal would send them and waits (with a deadline, never a fixed sleep)
// for text, colours and the cursor to appear on the emulated screen.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct VTerm;
struct VTermScreen;

namespace tv::e2e {

using Clock = std::chrono::steady_clock;
using Duration = std::chrono::milliseconds;
inline constexpr Duration kDefaultWait{5000};

// Keys as the emulated terminal encodes them (it follows the modes the
// program set, e.g. ESC O A for Up once curses has switched the cursor keys
// to application mode).
enum class Key {
  Up,
  Down,
  Left,
  Right,
  Enter,
  Esc,
  Tab,
  Backspace,
  Delete,
  Insert,
  Home,
  End,
  PgUp,
  PgDn,
  F1,
  F10
};

// Raw byte sequences, for the other encodings terminals send for the same
// keys (cursor keys in normal mode, the Linux console's function keys).
namespace keys {
inline const std::string CsiUp = "\x1b[A", CsiDown = "\x1b[B", CsiRight = "\x1b[C", CsiLeft = "\x1b[D";
inline const std::string Enter = "\r", LineFeed = "\n", Esc = "\x1b", Tab = "\t";
inline const std::string Del = "\x7f", CtrlH = "\x08";
inline const std::string F10 = "\x1b[21~", Delete = "\x1b[3~", PgUp = "\x1b[5~", PgDn = "\x1b[6~";
}  // namespace keys

// UTF-8 text from a u8 literal (the emulated terminal speaks UTF-8).
inline std::string Utf8(const char8_t* s) { return std::string(reinterpret_cast<const char*>(s)); }

// A colour as the emulated terminal holds it: the terminal's default, an
// index of its palette (0-7 normal, 8-15 bright, 16-255 extended) or RGB.
struct CellColor {
  enum class Kind { Default, Indexed, Rgb } kind = Kind::Default;
  int index = -1;
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const CellColor&) const = default;
};
inline CellColor Indexed(int i) { return CellColor{CellColor::Kind::Indexed, i, 0, 0, 0}; }
std::string Describe(const CellColor& c);

// ANSI palette indexes: what the PC colours of the tool's attributes become.
namespace ansi {
inline constexpr int Black = 0, Red = 1, Green = 2, Blue = 4, LightGrey = 7;
inline constexpr int BrightYellow = 11, BrightWhite = 15;
}  // namespace ansi

struct SessionOptions {
  int cols = 80;
  int rows = 25;
  std::string term = "xterm-256color";
  std::string lang = "C.UTF-8";
  std::string lcAll;                    // LC_ALL for the program; unset when empty
  bool utf8Terminal = true;             // false: an 8-bit terminal (one cell a byte, C1 controls)
  bool withHelpFile = true;             // copy the repository's help.txt
  std::vector<std::string> extraFiles;  // more files copied into the directory
  std::vector<std::string> args;        // the program's arguments
  std::vector<std::pair<std::string, std::string>> env;  // more environment (PATH, PAGER, ...)
  std::string directory;  // an existing working directory (the files an earlier run left), kept
};

class TerminalSession {
 public:
  // Starts the binary in a fresh scratch directory (mkdtemp under /tmp).
  explicit TerminalSession(const std::string& binary, SessionOptions options = {});
  TerminalSession(const TerminalSession&) = delete;
  TerminalSession& operator=(const TerminalSession&) = delete;
  // Kills the child by its PID (if still running) and removes the directory.
  ~TerminalSession();

  const std::string& Directory() const { return dir_; }
  pid_t Pid() const { return pid_; }

  // Raw bytes, as if the terminal had sent them.
  void SendKeys(const std::string& bytes);
  // One key press, encoded by the emulated terminal.
  void Press(Key key, int times = 1);
  // Text typed on the keyboard (UTF-8).
  void Type(const std::string& utf8);

  // Reads what the program writes until the condition holds or the deadline
  // passes; true if it holds.
  bool WaitFor(const std::function<bool()>& condition, Duration wait = kDefaultWait);
  bool WaitForText(const std::string& utf8, Duration wait = kDefaultWait);
  // Text starting at (col, row), both 1-based as the tool counts.
  bool WaitForTextAt(int col, int row, const std::string& utf8, Duration wait = kDefaultWait);
  // Reads whatever arrives within the given quiet time (no condition).
  void Drain(Duration quiet = Duration{150});

  // Screen contents, 1-based positions.
  std::string RowText(int row) const;
  std::string TextAt(int col, int row, int count) const;
  std::string ScreenText() const;  // all rows, '\n' after each
  CellColor CellFg(int col, int row) const;
  CellColor CellBg(int col, int row) const;
  bool CellBold(int col, int row) const;
  bool CellReverse(int col, int row) const;
  std::pair<int, int> CursorPos() const;  // (col, row), 1-based
  bool CursorVisible() const { return cursorVisible_; }
  bool AltScreen() const { return altScreen_; }
  int Cols() const { return cols_; }
  int Rows() const { return rows_; }

  // Resizes the pseudo-terminal (the program gets SIGWINCH) and the emulator.
  void Resize(int cols, int rows);

  // Waits for the program to end; its wait status, or nullopt at the deadline.
  std::optional<int> WaitForExit(Duration wait = kDefaultWait);
  bool Exited() const { return exited_; }

  // Bytes the program has written to the terminal so far.
  uint64_t BytesReceived() const { return bytes_; }
  // Those bytes themselves, as they came (escape sequences included).
  const std::string& RawOutput() const { return raw_; }

 private:
  bool Pump(Duration timeout);
  void FlushTerminalOutput();
  void CheckChild();

  std::string dir_;
  bool ownDir_ = true;
  pid_t pid_ = -1;
  int master_ = -1;
  int cols_, rows_;
  VTerm* vt_ = nullptr;
  VTermScreen* screen_ = nullptr;
  uint64_t bytes_ = 0;
  std::string raw_;
  bool exited_ = false;
  int status_ = 0;
  bool eof_ = false;
  bool cursorVisible_ = true;
  bool altScreen_ = false;

  friend struct SessionCallbacks;
};

// The simulated gateway on a pseudo-terminal: runs gwsim with the given
// arguments (e.g. {"--link", dir + "/COM1", "--echo"}), waits until the link
// path exists, and kills the process by its PID on destruction.
class GatewayProcess {
 public:
  GatewayProcess(const std::string& binary, const std::vector<std::string>& args, const std::string& linkPath,
                 Duration wait = kDefaultWait);
  GatewayProcess(const GatewayProcess&) = delete;
  GatewayProcess& operator=(const GatewayProcess&) = delete;
  ~GatewayProcess();
  bool Ready() const { return ready_; }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  bool ready_ = false;
};

// A settings file of 99 lines as the tool saves them, every number the
// given one, with the gateway layout: cell 98 carries the mode string and
// the signature; padded with zeros to whole 256-byte blocks.
std::string SignedSettingsFile(const std::string& number);

// Paths given by the build.
std::string TarvelinBinary();
std::string GwsimBinary();  // empty when the build has no gwsim
std::string RepoFile(const std::string& name);
std::string BuildDir();
std::string CMakeCommand();

// Bytes the process read and wrote so far (its /proc/<pid>/io): for gwsim,
// which reads and writes nothing but its pseudo-terminal once it runs, the
// bytes on the line.
long long IoBytes(pid_t pid);

}  // namespace tv::e2e
