// Port and gateway names.
#include "device/serial_port.h"

#include "core/cp866_literal.h"

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

}  // namespace tv
