// Settings files on Windows: reading a whole file, and replacing one whole or
// not at all (a temporary file beside it, FlushFileBuffers, MoveFileExW with
// replace and write-through). Names arrive as UTF-8 and go to the wide API.
//
// The writer keeps its handle as a C runtime descriptor (_open_osfhandle), so
// that the class looks the same on every platform.
#include "platform/file_access.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdint>

#include "core/settings_file.h"
#include "platform/win32/win32_text.h"

namespace tv {

namespace {

FileFault LastFault() { return FileFaultOf(GetLastError()); }

FileReadResult OpenFailed(FileFault* out, FileFault fault) {
  if (out) *out = fault;
  return FileReadResult::OpenFailed;
}

// Whether an open handle is an ordinary file on a disk (not a directory, a
// device such as CON or NUL, or a pipe).
bool IsOrdinaryFile(HANDLE h) {
  if (GetFileType(h) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(h, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::wstring DirectoryOf(const std::wstring& path) {
  const std::size_t sep = path.find_last_of(L"\\/");
  if (sep == std::wstring::npos) return L".";
  if (sep == 0 || (sep == 2 && path[1] == L':')) return path.substr(0, sep + 1);
  return path.substr(0, sep);
}

std::wstring BaseOf(const std::wstring& path) {
  const std::size_t sep = path.find_last_of(L"\\/:");
  return sep == std::wstring::npos ? path : path.substr(sep + 1);
}

bool WriteAll(HANDLE h, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x10000 ? 0x10000 : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(h, bytes.data(), chunk, &written, nullptr)) return false;
    if (written == 0) {
      SetLastError(ERROR_DISK_FULL);  // nothing taken and no reason given: no room
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

HANDLE HandleOf(int fd) {
  return reinterpret_cast<HANDLE>(_get_osfhandle(fd));  // NOLINT(performance-no-int-to-ptr)
}

}  // namespace

FileReadResult ReadSettingsFile(const std::string& path, std::string& bytes, FileFault* fault) {
  bytes.clear();
  if (fault) *fault = FileFault::None;
  if (path.empty()) return OpenFailed(fault, FileFault::NoSuchFile);
  const std::wstring wide = WideFromName(path);
  // Backup semantics so that a directory opens and is refused as what it is,
  // instead of answering "access denied".
  const HANDLE h = CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return OpenFailed(fault, LastFault());
  if (!IsOrdinaryFile(h)) {
    CloseHandle(h);
    return OpenFailed(fault, FileFault::NotOrdinaryFile);
  }
  LARGE_INTEGER size{};
  if (GetFileSizeEx(h, &size) && size.QuadPart > SettingsFileMaxBytes) {
    CloseHandle(h);
    return FileReadResult::TooLarge;
  }
  // Read up to one byte past the limit, in case the file grew meanwhile.
  std::string data(SettingsFileMaxBytes + 1, '\0');
  std::size_t got = 0;
  while (got < data.size()) {
    DWORD n = 0;
    if (!ReadFile(h, data.data() + got, static_cast<DWORD>(data.size() - got), &n, nullptr)) {
      const FileFault why = LastFault();
      CloseHandle(h);
      return OpenFailed(fault, why);
    }
    if (n == 0) break;
    got += n;
  }
  CloseHandle(h);
  if (got > static_cast<std::size_t>(SettingsFileMaxBytes)) return FileReadResult::TooLarge;
  data.resize(got);
  bytes = std::move(data);
  return FileReadResult::Ok;
}

bool AtomicFileWriter::Fail(FileFault fault) {
  fault_ = fault;
  return false;
}

bool AtomicFileWriter::Open(const std::string& path) {
  Discard();
  fault_ = FileFault::None;
  if (path.empty()) return Fail(FileFault::NoSuchFile);
  const std::wstring target = WideFromName(path);
  // What is there now: nothing, an ordinary file that may be replaced, or
  // something that must stay (a directory, a device name, a read-only file).
  const HANDLE existing =
      CreateFileW(target.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (existing != INVALID_HANDLE_VALUE) {
    const bool ordinary = IsOrdinaryFile(existing);
    BY_HANDLE_FILE_INFORMATION info{};
    const bool readOnly = ordinary && GetFileInformationByHandle(existing, &info) &&
                          (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY);
    CloseHandle(existing);
    if (!ordinary) return Fail(FileFault::NotOrdinaryFile);
    // The replace needs only the directory's permission: a file the
    // operator protected against writing stays as it is.
    if (readOnly) return Fail(FileFault::NoPermission);
  } else if (GetLastError() != ERROR_FILE_NOT_FOUND) {
    return Fail(LastFault());
  }
  // Beside the target, beginning with a dot and not ending in ".set": the
  // file chooser never lists it.
  const std::wstring stem = DirectoryOf(target) + L"\\." + BaseOf(target) + L".";
  HANDLE h = INVALID_HANDLE_VALUE;
  std::wstring temp;
  const DWORD seed = GetCurrentProcessId() * 7919u + GetTickCount();
  for (DWORD attempt = 0; attempt < 100; ++attempt) {
    temp = stem + std::to_wstring((seed + attempt) % 1000000u) + L".tmp";
    h = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) break;
  }
  if (h == INVALID_HANDLE_VALUE) return Fail(LastFault());
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_BINARY);
  if (fd < 0) {
    CloseHandle(h);
    DeleteFileW(temp.c_str());
    return Fail(FileFault::Other);
  }
  fd_ = fd;
  target_ = NameFromWide(target);
  temp_ = NameFromWide(temp);
  return true;
}

bool AtomicFileWriter::Commit(std::string_view bytes, bool durable) {
  if (fd_ < 0) return Fail(fault_ == FileFault::None ? FileFault::Other : fault_);
  // The first failure is the one that explains it.
  const HANDLE h = HandleOf(fd_);
  FileFault fault = FileFault::None;
  if (!WriteAll(h, bytes) || (durable && !FlushFileBuffers(h))) fault = LastFault();
  _close(fd_);  // closes the handle
  fd_ = -1;
  if (fault == FileFault::None && !MoveFileExW(WideFromName(temp_).c_str(), WideFromName(target_).c_str(),
                                               MOVEFILE_REPLACE_EXISTING | (durable ? MOVEFILE_WRITE_THROUGH : 0)))
    fault = LastFault();
  if (fault != FileFault::None) {
    Discard();
    return Fail(fault);
  }
  temp_.clear();
  return true;
}

void AtomicFileWriter::Discard() {
  if (fd_ >= 0) _close(fd_);
  fd_ = -1;
  if (!temp_.empty()) DeleteFileW(WideFromName(temp_).c_str());
  temp_.clear();
}

bool WriteFileAtomically(const std::string& path, std::string_view bytes) {
  AtomicFileWriter writer;
  return writer.Open(path) && writer.Commit(bytes);
}

bool RemoveFile(const std::string& path) {
  return DeleteFileW(WideFromName(path).c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

long long FileModifiedTime(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!GetFileAttributesExW(WideFromName(path).c_str(), GetFileExInfoStandard, &data)) return 0;
  // 100 ns units since 1601; seconds are enough for an order.
  const unsigned long long ticks =
      (static_cast<unsigned long long>(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
  return static_cast<long long>(ticks / 10000000ULL);
}

std::vector<std::string> ListOrdinaryFiles(const std::string& dir) {
  std::vector<std::string> names;
  std::wstring pattern = WideFromName(dir.empty() ? std::string(".") : dir);
  if (pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found{};
  const HANDLE search = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &found, FindExSearchNameMatch,
                                         nullptr, FIND_FIRST_EX_LARGE_FETCH);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) continue;
    names.push_back(NameFromWide(found.cFileName));
  } while (FindNextFileW(search, &found));
  FindClose(search);
  return names;
}

// A file in the user's profile is the user's by its inherited permissions;
// there are no mode bits to narrow.
bool KeepToOwner(const std::string&) { return true; }

}  // namespace tv
