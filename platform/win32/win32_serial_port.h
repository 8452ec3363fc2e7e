// The serial port on Windows: "\\.\COMn" opened without sharing, 115200 8N1
// without flow control, DTR/RTS by EscapeCommFunction, reads bounded by the
// port's time-outs. The port's previous settings are put back when it is
// let go.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "device/serial_port.h"

namespace tv {

// The device name CreateFile takes for the port of portIndex (0 = COM1):
// "\\.\COM1" .. "\\.\COM16" (the prefix reaches COM10 and above too), or
// "" for an index out of range.
// A port's target given to the index (see SetPortTarget) is opened instead.
std::string Win32PortPath(int portIndex);
// The device name CreateFile takes for a port named on the command line:
// "\\.\COM20" as given, or "COM20" (any number, beyond the dialog's 16
// too) with the prefix; "" when the text is neither.
std::string Win32DevicePath(std::string_view text);

class Win32SerialPort : public SerialPort {
 public:
  Win32SerialPort() = default;
  ~Win32SerialPort() override;
  Win32SerialPort(const Win32SerialPort&) = delete;
  Win32SerialPort& operator=(const Win32SerialPort&) = delete;

  int Open(int portIndex) override;
  bool IsOpen() const override { return handle_ != nullptr; }
  bool SetDtr(bool on) override;
  bool SetRts(bool on) override;
  ReadStatus ReadByte(uint8_t& byte) override;
  void WriteBytes(const uint8_t* data, std::size_t count) override;
  void DiscardInput() override;
  std::string Describe(int portIndex) const override;
  bool Lost() const override { return lost_; }

  // Restores the port's settings and lets it go.
  void Close();

 private:
  bool Escape(unsigned long function);
  void NoteFailure(unsigned long error);

  void* handle_ = nullptr;            // HANDLE; nullptr when closed
  unsigned char original_[128] = {};  // the DCB as the port had it
  bool haveOriginal_ = false;
  bool lost_ = false;
  uint8_t buffer_[256] = {};  // received, not yet handed out
  std::size_t bufferStart_ = 0;
  std::size_t bufferEnd_ = 0;
};

}  // namespace tv
