// The Win32 serial port; see win32_serial_port.h.
//
// Reads: one byte waits at most 100 ms per byte plus 100 ms, the same
// 200 ms as the poll of the POSIX port. What has already arrived (the
// driver's count of queued bytes) is taken in one read that returns at once.
// The usual "return with whatever came" time-outs (interval and multiplier
// at MAXDWORD) are not used: Wine waits out the whole constant with them
// even when bytes are there. Writes give up after 50 ms and 1 ms a byte.
#include "platform/win32/win32_serial_port.h"

#include <windows.h>

#include <cstring>

#include "cp866/literal.h"
#include "platform/win32/win32_text.h"

namespace tv {

static_assert(sizeof(DCB) <= 128, "the saved settings must fit");

namespace {

HANDLE H(void* h) { return static_cast<HANDLE>(h); }

// Errors after which the port will not come back: the adapter was
// unplugged, the driver gave the device up.
bool IsDeviceGone(DWORD error) {
  switch (error) {
    case ERROR_ACCESS_DENIED:
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_GEN_FAILURE:
    case ERROR_INVALID_HANDLE:
    case ERROR_NOT_READY:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_BROKEN_PIPE: return true;
    default: return false;
  }
}

}  // namespace

std::string Win32DevicePath(std::string_view text) {
  if (text.size() > 4 && text.substr(0, 4) == "\\\\.\\") return std::string(text);
  if (text.size() < 4 || text.size() > 6 || (text[0] | 0x20) != 'c' || (text[1] | 0x20) != 'o' ||
      (text[2] | 0x20) != 'm' || text[3] < '1' || text[3] > '9')
    return {};
  for (const char c : text.substr(4))
    if (c < '0' || c > '9') return {};
  return "\\\\.\\COM" + std::string(text.substr(3));
}

std::string Win32PortPath(int portIndex) {
  if (portIndex < 0 || portIndex >= PortCount) return {};
  if (const std::string& target = PortTarget(portIndex); !target.empty()) return Win32DevicePath(target);
  return "\\\\.\\" + PortDeviceName(portIndex);
}

Win32SerialPort::~Win32SerialPort() { Close(); }

void Win32SerialPort::Close() {
  lost_ = false;
  bufferStart_ = bufferEnd_ = 0;
  if (!handle_) return;
  if (haveOriginal_) {
    DCB dcb;
    std::memcpy(&dcb, original_, sizeof dcb);
    SetCommState(H(handle_), &dcb);
  }
  haveOriginal_ = false;
  CloseHandle(H(handle_));
  handle_ = nullptr;
}

int Win32SerialPort::Open(int portIndex) {
  Close();
  const std::string path = Win32PortPath(portIndex);
  if (path.empty()) return xerr::PortBusy;
  // No sharing: a port another program holds fails here.
  const HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return xerr::PortBusy;
  // A name with no device behind it may still open as a bare object (Wine
  // does that for a COM name mapped to nothing): no port there.
  if (GetFileType(h) != FILE_TYPE_CHAR) {
    CloseHandle(h);
    return xerr::PortBusy;
  }
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(h, &dcb)) {
    CloseHandle(h);
    return xerr::SystemError;
  }
  handle_ = h;
  std::memcpy(original_, &dcb, sizeof dcb);
  haveOriginal_ = true;

  dcb.BaudRate = BaudRate;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  dcb.fBinary = TRUE;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fTXContinueOnXoff = TRUE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fErrorChar = FALSE;
  dcb.fNull = FALSE;
  dcb.fAbortOnError = FALSE;
  // Lines under the program's control (EscapeCommFunction), not handshaking.
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;

  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = 0;
  timeouts.ReadTotalTimeoutMultiplier = static_cast<DWORD>(ByteReadTimeout.count() / 2);
  timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(ByteReadTimeout.count() / 2);
  timeouts.WriteTotalTimeoutMultiplier = static_cast<DWORD>(WriteTimeoutPerByte.count());
  timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(WriteTimeoutConstant.count());
  if (!SetCommState(h, &dcb) || !SetCommTimeouts(h, &timeouts)) {
    Close();  // a port the tool cannot use is not kept from other programs
    return xerr::SystemError;
  }
  PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
  return 0;
}

bool Win32SerialPort::Escape(unsigned long function) {
  return handle_ && EscapeCommFunction(H(handle_), function);
}

bool Win32SerialPort::SetDtr(bool on) { return Escape(on ? SETDTR : CLRDTR); }
bool Win32SerialPort::SetRts(bool on) { return Escape(on ? SETRTS : CLRRTS); }

void Win32SerialPort::NoteFailure(unsigned long error) {
  if (IsDeviceGone(error)) lost_ = true;
}

ReadStatus Win32SerialPort::ReadByte(uint8_t& byte) {
  if (!handle_ || lost_) return ReadFailed;
  if (bufferStart_ < bufferEnd_) {
    byte = buffer_[bufferStart_++];
    return ReadOk;
  }
  // The bytes already queued, or one to wait for.
  DWORD errors = 0;
  COMSTAT status{};
  DWORD want = 1;
  if (ClearCommError(H(handle_), &errors, &status) && status.cbInQue > 0)
    want = status.cbInQue < sizeof buffer_ ? status.cbInQue : static_cast<DWORD>(sizeof buffer_);
  DWORD n = 0;
  if (!ReadFile(H(handle_), buffer_, want, &n, nullptr)) {
    const DWORD error = GetLastError();
    NoteFailure(error);
    return ReadFailed;
  }
  if (n == 0) return ReadTimeout;
  bufferStart_ = 1;
  bufferEnd_ = n;
  byte = buffer_[0];
  return ReadOk;
}

void Win32SerialPort::WriteBytes(const uint8_t* data, std::size_t count) {
  if (!handle_ || lost_) return;
  while (count > 0) {
    const DWORD chunk = count > 4096 ? 4096 : static_cast<DWORD>(count);
    DWORD written = 0;
    if (!WriteFile(H(handle_), data, chunk, &written, nullptr)) {
      NoteFailure(GetLastError());
      return;
    }
    // Fewer bytes than asked: the write time-out ran out. What is not out by
    // then is dropped; the missing reply shows it.
    if (written < chunk) return;
    data += written;
    count -= written;
  }
}

void Win32SerialPort::DiscardInput() {
  bufferStart_ = bufferEnd_ = 0;
  if (handle_) PurgeComm(H(handle_), PURGE_RXCLEAR);
}

std::string Win32SerialPort::Describe(int portIndex) const {
  const std::string path = Win32PortPath(portIndex);
  if (path.empty()) return "нет устройства"_cp;
  // The device object the name stands for ("\Device\Serial0", "\Device\VCP0"
  // of a USB adapter's driver): a look-up in the object namespace, no open.
  // The name after the "\\.\" prefix: "COM3", or a target's "COM20".
  const std::wstring name = WideFromName(path.substr(4));
  wchar_t target[512];
  const DWORD n = QueryDosDeviceW(name.c_str(), target, sizeof target / sizeof target[0]);
  if (n == 0) return path + " - " + "нет устройства"_cp;
  return path + " -> " + Cp866FromWide(std::wstring_view(target));
}

}  // namespace tv
