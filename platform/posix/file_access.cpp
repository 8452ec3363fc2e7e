// Settings files on POSIX: reading a whole file, and replacing one whole or
// not at all (a temporary file beside it, fsync, rename, fsync of the
// directory).
#include "platform/file_access.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "core/settings_file.h"

namespace tv {

namespace {
// What an errno of open, read, write, fsync or rename means to the operator.
FileFault FaultOf(int error) {
  switch (error) {
    case ENOENT:
    case ENOTDIR: return FileFault::NoSuchFile;
    case EACCES:
    case EPERM:
    case EROFS: return FileFault::NoPermission;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return FileFault::DiskFull;
    case EISDIR:
    case ENXIO:
    case ENODEV: return FileFault::NotOrdinaryFile;
    default: return FileFault::Other;
  }
}

FileReadResult OpenFailed(FileFault* out, FileFault fault) {
  if (out) *out = fault;
  return FileReadResult::OpenFailed;
}
}  // namespace

FileReadResult ReadSettingsFile(const std::string& path, std::string& bytes, FileFault* fault) {
  bytes.clear();
  if (fault) *fault = FileFault::None;
  if (path.empty()) return OpenFailed(fault, FileFault::NoSuchFile);
  // O_NONBLOCK: a typed name may be a FIFO, whose open would wait for a
  // writer for ever; it is refused below as not an ordinary file.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return OpenFailed(fault, FaultOf(errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return OpenFailed(fault, FileFault::NotOrdinaryFile);
  }
  if (st.st_size > SettingsFileMaxBytes) {
    ::close(fd);
    return FileReadResult::TooLarge;
  }
  // Room for the size fstat gave and one byte more, so that a file that grew
  // since is seen at once; it grows up to one byte past the limit. A settings
  // file is a few kilobytes: no buffer of the largest size for every read.
  std::string data(static_cast<std::size_t>(st.st_size) + 1, '\0');
  std::size_t got = 0;
  for (;;) {
    if (got == data.size()) {
      if (data.size() > static_cast<std::size_t>(SettingsFileMaxBytes)) break;
      data.resize(std::min<std::size_t>(data.size() * 2, SettingsFileMaxBytes + 1));
    }
    const ssize_t n = ::read(fd, data.data() + got, data.size() - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      return OpenFailed(fault, FaultOf(error));
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
    if (n == 0) errno = ENOSPC;  // nothing taken and no reason given: no room
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
  return true;
}

// A new file is its owner's alone: settings files, backups and journals
// hold the gateway's whole configuration, the platform passwords of the
// routing cells among them. A file replaced keeps the mode it had (the
// operator's own choice, a group's shared backups).
constexpr mode_t kNewFileMode = 0600;
}  // namespace

bool AtomicFileWriter::Fail(FileFault fault) {
  fault_ = fault;
  return false;
}

bool AtomicFileWriter::Open(const std::string& path) {
  Discard();
  fault_ = FileFault::None;
  if (path.empty()) return Fail(FileFault::NoSuchFile);
  std::string target = path;
  mode_t mode = kNewFileMode;
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      // Replace the file the link points to, keeping the link.
      char resolved[PATH_MAX];
      if (!::realpath(path.c_str(), resolved)) return Fail(FaultOf(errno));
      target = resolved;
      if (::stat(target.c_str(), &st) != 0) return Fail(FaultOf(errno));
    }
    if (!S_ISREG(st.st_mode)) return Fail(FileFault::NotOrdinaryFile);
    // The rename below needs only the directory's permission: a file the
    // operator protected against writing must stay as it is, as it would
    // when opened for writing.
    if (::access(target.c_str(), W_OK) != 0) return Fail(FaultOf(errno));
    mode = st.st_mode & 07777;
  }
  const std::string dir = DirectoryOf(target);
  const std::size_t slash = target.rfind('/');
  const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
  // Hidden, and not ending in ".set": the file chooser never lists it.
  std::string temp = dir + "/." + base + ".XXXXXX";
  const int fd = ::mkstemp(temp.data());
  if (fd < 0) return Fail(FaultOf(errno));
  ::fchmod(fd, mode);
  fd_ = fd;
  target_ = target;
  temp_ = temp;
  return true;
}

bool AtomicFileWriter::Commit(std::string_view bytes, bool durable) {
  if (fd_ < 0) return Fail(fault_ == FileFault::None ? FileFault::Other : fault_);
  // The first failure is the one that explains it.
  FileFault fault = FileFault::None;
  if (!WriteAll(fd_, bytes) || (durable && ::fsync(fd_) != 0)) fault = FaultOf(errno);
  if (::close(fd_) != 0 && fault == FileFault::None) fault = FaultOf(errno);
  fd_ = -1;
  if (fault == FileFault::None && ::rename(temp_.c_str(), target_.c_str()) != 0) fault = FaultOf(errno);
  if (fault != FileFault::None) {
    Discard();
    return Fail(fault);
  }
  temp_.clear();
  if (!durable) return true;
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

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

long long FileModifiedTime(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? static_cast<long long>(st.st_mtime) : 0;
}

std::vector<std::string> ListOrdinaryFiles(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = ::opendir(dir.c_str());
  if (!d) return names;
  while (const dirent* e = ::readdir(d)) {
    struct stat st {};
    const std::string path = dir + "/" + e->d_name;
    if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.emplace_back(e->d_name);
  }
  ::closedir(d);
  return names;
}

bool KeepToOwner(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0600);
  if (fd < 0) return false;
  struct stat st {};
  // Another user's file is left as it is: it cannot be narrowed, and the
  // trace is appended to it only because its owner let us.
  const bool kept = fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
                    (st.st_uid != geteuid() || (st.st_mode & 0777) == 0600 || fchmod(fd, 0600) == 0);
  close(fd);
  return kept;
}

}  // namespace tv
