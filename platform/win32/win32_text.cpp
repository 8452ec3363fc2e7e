// Name conversions and file error codes; see win32_text.h.
#include "platform/win32/win32_text.h"

#include <windows.h>

#include "cp866/code_page.h"

namespace tv {

namespace {
// Codes newer than the MinGW headers.
constexpr DWORD kErrorDirectoryNotSupported = 336;
constexpr DWORD kErrorDiskQuotaExceeded = 1295;

std::wstring Widen(UINT codePage, DWORD flags, std::string_view bytes, bool& ok) {
  ok = true;
  if (bytes.empty()) return {};
  const int size = static_cast<int>(bytes.size());
  const int n = MultiByteToWideChar(codePage, flags, bytes.data(), size, nullptr, 0);
  if (n <= 0) {
    ok = false;
    return {};
  }
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(codePage, flags, bytes.data(), size, wide.data(), n);
  return wide;
}
}  // namespace

std::wstring WideFromName(std::string_view name) {
  bool ok = false;
  std::wstring wide = Widen(CP_UTF8, MB_ERR_INVALID_CHARS, name, ok);
  if (ok) return wide;
  // Not UTF-8: cp866, as a name typed on the tool's own keyboard.
  std::wstring fromCp866;
  for (const char c : name) fromCp866 += static_cast<wchar_t>(Cp866ToUnicode(static_cast<uint8_t>(c)));
  return fromCp866;
}

std::string NameFromWide(std::wstring_view wide) {
  if (wide.empty()) return {};
  const int size = static_cast<int>(wide.size());
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (n <= 0) return {};
  std::string name(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, name.data(), n, nullptr, nullptr);
  return name;
}

std::string Cp866FromWide(std::wstring_view wide) {
  std::string text;
  for (const wchar_t w : wide) {
    if (w >= 0x20 && w < 0x7F) {
      text += static_cast<char>(w);
      continue;
    }
    const int b = w >= 0x80 ? UnicodeToCp866(static_cast<char32_t>(w)) : -1;
    text += b >= 0x80 ? static_cast<char>(b) : '?';
  }
  return text;
}

FileFault FileFaultOf(uint32_t error) {
  switch (error) {
    case ERROR_SUCCESS: return FileFault::None;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_FILENAME_EXCED_RANGE: return FileFault::NoSuchFile;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD: return FileFault::NoPermission;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kErrorDiskQuotaExceeded:
    case ERROR_FILE_TOO_LARGE: return FileFault::DiskFull;
    case ERROR_DIRECTORY:
    case kErrorDirectoryNotSupported:
    case ERROR_BAD_DEVICE:
    case ERROR_NOT_SUPPORTED: return FileFault::NotOrdinaryFile;
    // ERROR_SHARING_VIOLATION and ERROR_LOCK_VIOLATION: another program has
    // the file open; no permission would be the wrong advice.
    default: return FileFault::Other;
  }
}

}  // namespace tv
