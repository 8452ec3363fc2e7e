// Settings file encoding, parsing, splitting into write commands, and the
// whole-or-nothing file access.
#include "core/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace tv {

std::string EncodeSaveLine(int index, std::string_view number, std::string_view name) {
  std::string line;
  line.reserve(15 + number.size() + name.size());
  line += ' ';
  line += static_cast<char>('0' + index / 10);
  line += static_cast<char>('0' + index % 10);
  line += ",\"";
  line += number;
  line += "\",129,\"";
  line += name;
  line += "\"\r\n";
  return line;
}

std::string EncodeSettingsText(const SimImage& image) {
  std::string text;
  for (int i = 1; i <= SettingsLines; ++i) text += EncodeSaveLine(i, image.CellNumber(i), image.CellName(i));
  return text;
}

std::string PadToBlocks(std::string text) {
  const std::size_t blocks = text.size() / FileBlockBytes + 1;
  text.resize(blocks * FileBlockBytes, '\0');
  return text;
}

std::string EncodeSettingsFile(const SimImage& image) { return PadToBlocks(EncodeSettingsText(image)); }

std::string_view SettingsContent(std::string_view fileBytes) {
  // The padding begins right after the last line's LF. A zero byte inside a
  // line is a character of a text (the modem's GSM '@'), not the end.
  for (std::size_t nul = fileBytes.find('\0'); nul != std::string_view::npos;
       nul = fileBytes.find('\0', nul + 1))
    if (nul == 0 || fileBytes[nul - 1] == '\n' || fileBytes[nul - 1] == '\r') return fileBytes.substr(0, nul);
  return fileBytes;
}

void ParseSettingsText(std::string_view fileBytes, SimImage& image) {
  // States: 0 index, 1 before the number, 2 in the number, 3 before the
  // name, 4 in the name, 5 rest of the line.
  constexpr int kIndexCeiling = 1000;  // any index above 99 is simply "too big"
  image.ClearImage();
  int index = 0;
  int state = 0;
  bool cellValid = false;
  std::string text;  // the text being read; a second line for a cell replaces it whole
  auto store = [&] {
    if (!cellValid) return;
    if (state == 2) image.SetCellNumber(index, text);
    if (state == 4) image.SetCellName(index, text);
  };
  for (const char c : SettingsContent(fileBytes)) {
    if (c == ' ') continue;
    if (c == '\r' || c == '\n') {
      store();  // a text without its closing quote runs to the line's end
      index = 0;
      state = 0;
      continue;
    }
    switch (state) {
      case 0:
        if (c >= '0' && c <= '9') {
          index = index * 10 + (c - '0');
          if (index > kIndexCeiling) index = kIndexCeiling;
        } else if (c == ',') {
          cellValid = index >= 1 && index <= SettingsLines;
          state = 1;
        }
        break;
      case 1:
      case 3:
        if (c == '"') {
          text.clear();
          ++state;
          store();
        }
        break;
      case 2:
      case 4:
        if (c == '"') {
          store();
          ++state;
        } else if (text.size() <= static_cast<std::size_t>(TextMax)) {
          text += c;  // one past the limit, so that the cell knows it was shortened
        }
        break;
      default: break;
    }
  }
  store();
}

std::vector<std::string> SplitLinesForSim(std::string_view fileBytes) {
  static constexpr std::string_view kWrite = "AT+CPBW=";
  std::vector<std::string> commands;
  std::string_view rest = SettingsContent(fileBytes);
  int lines = 0;
  while (!rest.empty() && lines < SettingsLines) {
    // A line ends at CR or LF, as for Load for editing (CR LF, LF alone from
    // Linux, CR alone from old Macs); a CR must never go out inside a command.
    const std::size_t end = rest.find_first_of("\r\n");
    std::string_view line = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view{} : rest.substr(end + 1);
    if (line.empty()) continue;
    ++lines;
    std::string command(kWrite);
    command += line;
    command += '\r';
    commands.push_back(std::move(command));
  }
  return commands;
}

FileReadResult ReadSettingsFile(const std::string& path, std::string& bytes) {
  bytes.clear();
  if (path.empty()) return FileReadResult::OpenFailed;
  // O_NONBLOCK: a typed name may be a FIFO, whose open would wait for a
  // writer for ever; it is refused below as not an ordinary file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return FileReadResult::OpenFailed;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return FileReadResult::OpenFailed;
  }
  if (st.st_size > SettingsFileMaxBytes) {
    ::close(fd);
    return FileReadResult::TooLarge;
  }
  // Read up to one byte past the limit, in case the file grew since fstat.
  std::string data(SettingsFileMaxBytes + 1, '\0');
  std::size_t got = 0;
  while (got < data.size()) {
    const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return FileReadResult::OpenFailed;
    }
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  ::close(fd);
  if (got > static_cast<std::size_t>(SettingsFileMaxBytes)) return FileReadResult::TooLarge;
  data.resize(got);
  bytes = std::move(data);
  return FileReadResult::Ok;
}

namespace {
std::string DirectoryOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// The permissions a newly created file gets from the process umask.
mode_t NewFileMode() {
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}
}  // namespace

bool AtomicFileWriter::Open(const std::string& path) {
  Discard();
  if (path.empty()) return false;
  std::string target = path;
  mode_t mode = NewFileMode();
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      // Replace the file the link points to, keeping the link.
      char resolved[PATH_MAX];
      if (!::realpath(path.c_str(), resolved)) return false;
      target = resolved;
      if (::stat(target.c_str(), &st) != 0) return false;
    }
    if (!S_ISREG(st.st_mode)) return false;
    // The rename below needs only the directory's permission: a file the
    // operator protected against writing must stay as it is, as it would
    // when opened for writing.
    if (::access(target.c_str(), W_OK) != 0) return false;
    mode = st.st_mode & 07777;
  }
  const std::string dir = DirectoryOf(target);
  const std::size_t slash = target.rfind('/');
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  // Hidden, and not ending in ".set": the file chooser never lists it.
  std::string temp = dir + "/." + base + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return false;
  ::fchmod(fd, mode);
  fd_ = fd;
  target_ = target;
  temp_ = temp;
  return true;
}

bool AtomicFileWriter::Commit(std::string_view bytes) {
  if (fd_ < 0) return false;
  bool ok = WriteAll(fd_, bytes) && ::fsync(fd_) == 0;
  ok = (::close(fd_) == 0) && ok;
  fd_ = -1;
  if (!ok || ::rename(temp_.c_str(), target_.c_str()) != 0) {
    Discard();
    return false;
  }
  temp_.clear();
  // Make the rename itself durable.
  const int dirFd = ::open(DirectoryOf(target_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

void AtomicFileWriter::Discard() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  if (!temp_.empty()) ::unlink(temp_.c_str());
  temp_.clear();
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
  AtomicFileWriter writer;
  return writer.Open(path) && writer.Commit(bytes);
}

}  // namespace tv
