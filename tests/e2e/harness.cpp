// The end-to-end harness: forkpty, a scratch directory, and libvterm as the
// terminal the program draws on.
#include "tests/e2e/harness.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

extern "C" {
#include <vterm.h>
}

namespace tv::e2e {

namespace fs = std::filesystem;

// TV_E2E_TARVELIN in the environment runs the tests against another build of
// the program (e.g. one with sanitizers).
std::string TarvelinBinary() {
  const char* other = std::getenv("TV_E2E_TARVELIN");
  return other && *other ? other : TV_E2E_TARVELIN;
}
std::string GwsimBinary() { return TV_E2E_GWSIM; }
std::string RepoFile(const std::string& name) { return std::string(TV_E2E_REPO) + "/" + name; }
std::string BuildDir() { return TV_E2E_BUILD; }
std::string CMakeCommand() { return TV_E2E_CMAKE; }

long long IoBytes(pid_t pid) {
  std::ifstream io("/proc/" + std::to_string(pid) + "/io");
  std::string key;
  long long value = 0, sum = 0;
  while (io >> key >> value)
    if (key == "rchar:" || key == "wchar:") sum += value;
  return sum;
}

namespace {

void AppendUtf8(std::string& out, uint32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

CellColor FromVTerm(const VTermColor& c, bool foreground) {
  if (foreground ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c)) return CellColor{};
  if (VTERM_COLOR_IS_INDEXED(&c)) return Indexed(c.indexed.idx);
  return CellColor{CellColor::Kind::Rgb, -1, c.rgb.red, c.rgb.green, c.rgb.blue};
}

// Copies a file, creating nothing when the source is missing.
void CopyInto(const std::string& src, const std::string& dir) {
  fs::copy_file(src, fs::path(dir) / fs::path(src).filename(), fs::copy_options::overwrite_existing);
}

}  // namespace

std::string Describe(const CellColor& c) {
  switch (c.kind) {
    case CellColor::Kind::Default: return "default";
    case CellColor::Kind::Indexed: return "palette " + std::to_string(c.index);
    case CellColor::Kind::Rgb:
      return "rgb(" + std::to_string(c.r) + "," + std::to_string(c.g) + "," + std::to_string(c.b) + ")";
  }
  return "?";
}

struct SessionCallbacks {
  static int SetTermProp(VTermProp prop, VTermValue* val, void* user) {
    auto* s = static_cast<TerminalSession*>(user);
    if (prop == VTERM_PROP_CURSORVISIBLE) s->cursorVisible_ = val->boolean;
    if (prop == VTERM_PROP_ALTSCREEN) s->altScreen_ = val->boolean;
    return 1;
  }
};

TerminalSession::TerminalSession(const std::string& binary, SessionOptions options)
    : cols_(options.cols), rows_(options.rows) {
  char tmpl[] = "/tmp/tarvelin-e2e-XXXXXX";
  if (!options.directory.empty()) {
    dir_ = options.directory;
    ownDir_ = false;
  } else if (!mkdtemp(tmpl)) {
    throw std::runtime_error("mkdtemp failed");
  } else {
    dir_ = tmpl;
  }
  if (ownDir_ && options.withHelpFile) CopyInto(RepoFile("help.txt"), dir_);
  for (const std::string& f : options.extraFiles) CopyInto(f, dir_);

  vt_ = vterm_new(rows_, cols_);
  vterm_set_utf8(vt_, options.utf8Terminal ? 1 : 0);
  screen_ = vterm_obtain_screen(vt_);
  static const VTermScreenCallbacks callbacks = {nullptr, nullptr, nullptr, &SessionCallbacks::SetTermProp,
                                                 nullptr, nullptr, nullptr, nullptr};
  vterm_screen_set_callbacks(screen_, &callbacks, this);
  vterm_screen_enable_altscreen(screen_, 1);
  vterm_screen_reset(screen_, 1);

  struct winsize ws = {};
  ws.ws_row = static_cast<unsigned short>(rows_);
  ws.ws_col = static_cast<unsigned short>(cols_);
  pid_ = forkpty(&master_, nullptr, nullptr, &ws);
  if (pid_ < 0) {
    rmdir(dir_.c_str());
    throw std::runtime_error("forkpty failed");
  }
  // Not inherited by programs started later (a gwsim beside the tool).
  if (pid_ > 0) fcntl(master_, F_SETFD, FD_CLOEXEC);
  if (pid_ == 0) {
    if (chdir(dir_.c_str()) != 0) _exit(126);
    setenv("TERM", options.term.c_str(), 1);
    setenv("LANG", options.lang.c_str(), 1);
    if (options.lcAll.empty()) {
      unsetenv("LC_ALL");
    } else {
      setenv("LC_ALL", options.lcAll.c_str(), 1);
    }
    unsetenv("LC_CTYPE");
    unsetenv("TMUX");
    unsetenv("STY");
    unsetenv("COLUMNS");
    unsetenv("LINES");
    for (const auto& [name, value] : options.env) setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const std::string& a : options.args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
}

TerminalSession::~TerminalSession() {
  if (pid_ > 0 && !exited_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, &status_, 0);
  }
  if (master_ >= 0) close(master_);
  if (vt_) vterm_free(vt_);
  std::error_code ec;
  if (!dir_.empty() && ownDir_) fs::remove_all(dir_, ec);
}

void TerminalSession::CheckChild() {
  if (exited_ || pid_ <= 0) return;
  int st = 0;
  if (waitpid(pid_, &st, WNOHANG) == pid_) {
    exited_ = true;
    status_ = st;
  }
}

// Feeds what the program wrote into the emulator; waits at most timeout for
// the first bytes. True if anything arrived.
bool TerminalSession::Pump(Duration timeout) {
  if (eof_) {
    CheckChild();
    return false;
  }
  struct pollfd p = {master_, POLLIN, 0};
  const int r = poll(&p, 1, static_cast<int>(timeout.count()));
  if (r <= 0) return false;
  bool got = false;
  char buf[8192];
  for (;;) {
    const ssize_t n = read(master_, buf, sizeof buf);
    if (n > 0) {
      bytes_ += static_cast<uint64_t>(n);
      raw_.append(buf, static_cast<std::size_t>(n));
      vterm_input_write(vt_, buf, static_cast<size_t>(n));
      got = true;
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno == EAGAIN) break;
    eof_ = true;  // EIO: the program and every holder of the slave are gone
    break;
  }
  FlushTerminalOutput();
  return got;
}

// What the emulated terminal sends: answers to queries, encoded key presses.
void TerminalSession::FlushTerminalOutput() {
  char out[256];
  std::size_t m;
  while ((m = vterm_output_read(vt_, out, sizeof out)) > 0) {
    std::size_t off = 0;
    while (off < m) {
      const ssize_t w = write(master_, out + off, m - off);
      if (w <= 0) break;
      off += static_cast<std::size_t>(w);
    }
  }
}

void TerminalSession::Press(Key key, int times) {
  VTermKey vk = VTERM_KEY_NONE;
  switch (key) {
    case Key::Up: vk = VTERM_KEY_UP; break;
    case Key::Down: vk = VTERM_KEY_DOWN; break;
    case Key::Left: vk = VTERM_KEY_LEFT; break;
    case Key::Right: vk = VTERM_KEY_RIGHT; break;
    case Key::Enter: vk = VTERM_KEY_ENTER; break;
    case Key::Esc: vk = VTERM_KEY_ESCAPE; break;
    case Key::Tab: vk = VTERM_KEY_TAB; break;
    case Key::Backspace: vk = VTERM_KEY_BACKSPACE; break;
    case Key::Delete: vk = VTERM_KEY_DEL; break;
    case Key::Insert: vk = VTERM_KEY_INS; break;
    case Key::Home: vk = VTERM_KEY_HOME; break;
    case Key::End: vk = VTERM_KEY_END; break;
    case Key::PgUp: vk = VTERM_KEY_PAGEUP; break;
    case Key::PgDn: vk = VTERM_KEY_PAGEDOWN; break;
    case Key::F1: vk = static_cast<VTermKey>(VTERM_KEY_FUNCTION(1)); break;
    case Key::F10: vk = static_cast<VTermKey>(VTERM_KEY_FUNCTION(10)); break;
  }
  for (int i = 0; i < times; ++i) {
    vterm_keyboard_key(vt_, vk, VTERM_MOD_NONE);
    FlushTerminalOutput();
  }
}

void TerminalSession::Type(const std::string& utf8) {
  for (std::size_t i = 0; i < utf8.size();) {
    const auto b = static_cast<unsigned char>(utf8[i]);
    const int extra = b < 0x80 ? 0 : b < 0xE0 ? 1 : b < 0xF0 ? 2 : 3;
    uint32_t c = extra == 0 ? b : b & (0x3F >> extra);
    for (int k = 1; k <= extra && i + k < utf8.size(); ++k) c = (c << 6) | (utf8[i + k] & 0x3F);
    i += 1 + extra;
    vterm_keyboard_unichar(vt_, c, VTERM_MOD_NONE);
    FlushTerminalOutput();
  }
}

void TerminalSession::SendKeys(const std::string& bytes) {
  std::size_t off = 0;
  while (off < bytes.size()) {
    const ssize_t w = write(master_, bytes.data() + off, bytes.size() - off);
    if (w > 0) {
      off += static_cast<std::size_t>(w);
    } else if (w < 0 && errno == EAGAIN) {
      Pump(Duration{10});
    } else if (w < 0 && errno != EINTR) {
      return;
    }
  }
}

bool TerminalSession::WaitFor(const std::function<bool()>& condition, Duration wait) {
  const auto deadline = Clock::now() + wait;
  for (;;) {
    Pump(Duration{0});
    if (condition()) return true;
    const auto now = Clock::now();
    if (now >= deadline) return false;
    const auto left = std::chrono::duration_cast<Duration>(deadline - now);
    if (eof_) {
      // Nothing more can arrive; still let the child's exit be noticed.
      CheckChild();
      if (condition()) return true;
      if (exited_) return false;
      std::this_thread::yield();
      poll(nullptr, 0, 5);
      continue;
    }
    Pump(left < Duration{50} ? left : Duration{50});
  }
}

bool TerminalSession::WaitForText(const std::string& utf8, Duration wait) {
  return WaitFor([&] { return ScreenText().find(utf8) != std::string::npos; }, wait);
}

bool TerminalSession::WaitForTextAt(int col, int row, const std::string& utf8, Duration wait) {
  return WaitFor(
      [&] {
        return RowText(row).find(utf8) != std::string::npos &&
               TextAt(col, row, static_cast<int>(utf8.size())).rfind(utf8, 0) == 0;
      },
      wait);
}

void TerminalSession::Drain(Duration quiet) {
  while (Pump(quiet)) {
  }
}

std::string TerminalSession::TextAt(int col, int row, int count) const {
  std::string out;
  for (int c = col; c <= cols_ && c < col + count; ++c) {
    VTermScreenCell cell;
    vterm_screen_get_cell(screen_, VTermPos{row - 1, c - 1}, &cell);
    if (cell.chars[0] == 0) {
      out += ' ';
      continue;
    }
    for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i]; ++i) AppendUtf8(out, cell.chars[i]);
  }
  return out;
}

std::string TerminalSession::RowText(int row) const { return TextAt(1, row, cols_); }

std::string TerminalSession::ScreenText() const {
  std::string out;
  for (int r = 1; r <= rows_; ++r) out += RowText(r) + "\n";
  return out;
}

CellColor TerminalSession::CellFg(int col, int row) const {
  VTermScreenCell cell;
  vterm_screen_get_cell(screen_, VTermPos{row - 1, col - 1}, &cell);
  return FromVTerm(cell.fg, true);
}

CellColor TerminalSession::CellBg(int col, int row) const {
  VTermScreenCell cell;
  vterm_screen_get_cell(screen_, VTermPos{row - 1, col - 1}, &cell);
  return FromVTerm(cell.bg, false);
}

bool TerminalSession::CellBold(int col, int row) const {
  VTermScreenCell cell;
  vterm_screen_get_cell(screen_, VTermPos{row - 1, col - 1}, &cell);
  return cell.attrs.bold;
}

bool TerminalSession::CellReverse(int col, int row) const {
  VTermScreenCell cell;
  vterm_screen_get_cell(screen_, VTermPos{row - 1, col - 1}, &cell);
  return cell.attrs.reverse;
}

std::pair<int, int> TerminalSession::CursorPos() const {
  VTermPos pos;
  vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
  return {pos.col + 1, pos.row + 1};
}

void TerminalSession::Resize(int cols, int rows) {
  cols_ = cols;
  rows_ = rows;
  vterm_set_size(vt_, rows, cols);
  struct winsize ws = {};
  ws.ws_row = static_cast<unsigned short>(rows);
  ws.ws_col = static_cast<unsigned short>(cols);
  ioctl(master_, TIOCSWINSZ, &ws);  // the kernel sends SIGWINCH to the program
}

std::optional<int> TerminalSession::WaitForExit(Duration wait) {
  WaitFor(
      [&] {
        CheckChild();
        return exited_;
      },
      wait);
  if (!exited_) return std::nullopt;
  Drain(Duration{20});
  return status_;
}

GatewayProcess::GatewayProcess(const std::string& binary, const std::vector<std::string>& args,
                               const std::string& linkPath, Duration wait) {
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    const int devnull = open("/dev/null", O_RDWR);
    if (devnull >= 0) {
      dup2(devnull, STDIN_FILENO);
      dup2(devnull, STDOUT_FILENO);
      if (devnull > STDERR_FILENO) close(devnull);
    }
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(binary.c_str()));
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  // The link appears once the simulator has its pseudo-terminal; its
  // phonebook dump (written whole, by a rename) only after that, and tests
  // read it as the state before their run.
  std::string dumpPath;
  for (std::size_t i = 0; i + 1 < args.size(); ++i)
    if (args[i] == "--dump") dumpPath = args[i + 1];
  const auto deadline = Clock::now() + wait;
  while (Clock::now() < deadline) {
    struct stat st;
    if (stat(linkPath.c_str(), &st) == 0 && (dumpPath.empty() || stat(dumpPath.c_str(), &st) == 0)) {
      ready_ = true;
      break;
    }
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    poll(nullptr, 0, 10);
  }
}

GatewayProcess::~GatewayProcess() {
  if (pid_ > 0) {
    kill(pid_, SIGTERM);
    int status = 0;
    // A simulator that ignores SIGTERM is killed after a grace period.
    for (int i = 0; i < 100; ++i) {
      if (waitpid(pid_, &status, WNOHANG) == pid_) return;
      poll(nullptr, 0, 10);
    }
    kill(pid_, SIGKILL);
    waitpid(pid_, &status, 0);
  }
}

std::string SignedSettingsFile(const std::string& number) {
  std::string text;
  char line[64];
  for (int i = 1; i <= 99; ++i) {
    if (i == 98)
      std::snprintf(line, sizeof line, " 98,\"1100200\",129,\"98.GSM.TRV\"\r\n");
    else
      std::snprintf(line, sizeof line, " %02d,\"%s\",129,\"%02d\"\r\n", i, number.c_str(), i);
    text += line;
  }
  text.append(256 - text.size() % 256, '\0');
  return text;
}

}  // namespace tv::e2e
