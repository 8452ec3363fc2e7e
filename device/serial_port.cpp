// Port and gateway names.
#include "device/serial_port.h"

#include <string_view>
#include <utility>

#include "cp866/literal.h"

namespace tv {

const char* const PortNames[PortCount] = {"COM1 ", "COM2 ", "COM3 ", "COM4 ", "COM5 ", "COM6 ",
                                          "COM7 ", "COM8 ", "COM9 ", "COM10", "COM11", "COM12",
                                          "COM13", "COM14", "COM15", "COM16"};

const char* const GatewayNames[GatewayCount] = {"ШЛЮЗ 1"_cp, "ШЛЮЗ 2"_cp, "ШЛЮЗ 3"_cp, "ШЛЮЗ 4"_cp};

std::string PortDeviceName(int portIndex) {
  std::string name = PortNames[portIndex];
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

namespace {
std::string& TargetOf(int portIndex) {
  static std::string targets[PortCount];
  static std::string none;
  if (portIndex < 0 || portIndex >= PortCount) {
    none.clear();
    return none;
  }
  return targets[portIndex];
}
}  // namespace

void SetPortTarget(int portIndex, std::string target) {
  if (portIndex >= 0 && portIndex < PortCount) TargetOf(portIndex) = std::move(target);
}

const std::string& PortTarget(int portIndex) { return TargetOf(portIndex); }

std::string FileNamePart(std::string_view text) {
  std::string name;
  for (const char c : text) {
    const bool kept = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.';
    if (kept)
      name += c;
    else if (!name.empty() && name.back() != '-')
      name += '-';
  }
  while (!name.empty() && (name.back() == '-' || name.back() == '.')) name.pop_back();
  // Dots alone at the start would hide the file, or name a directory.
  while (!name.empty() && (name.front() == '.' || name.front() == '-')) name.erase(name.begin());
  // Well within a file name's length; a longer text keeps its end (the
  // host and port, the device's number), where such texts differ.
  if (name.size() > 96) name.erase(0, name.size() - 96);
  return name.empty() ? "port" : name;
}

std::string PortFileName(int portIndex) {
  const std::string& target = PortTarget(portIndex);
  return target.empty() ? PortDeviceName(portIndex) : FileNamePart(target);
}

}  // namespace tv
