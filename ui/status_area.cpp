// The status area: what the tool works on, at the right of row 1.
#include "ui/status_area.h"

#include <cstdio>

#include "cp866/literal.h"
#include "ui/file_chooser.h"
#include "ui/tool.h"

namespace tv {

namespace {
constexpr int kRow = 1, kLeft = 59;
constexpr int kPortX = 59, kSpeedX = 65, kGatewayX = 73, kFileX = 65;
// The file name may hold 17 characters, of which 16 fit up to the right
// edge; a longer one shows its first 15 and a '~'.
constexpr int kFileWidth = 16;
constexpr const char* kFileLabel = "Файл:"_cp;
}  // namespace

void DrawStatusArea(Tool& tool, uint8_t attr) {
  Screen& s = tool.screen;
  const WorkState& st = tool.state;
  s.PutTextAttr(kLeft, kRow, std::string(ScreenWidth - kLeft + 1, ' ').c_str(), attr);
  if (st.deviceConnected) {
    s.PutTextAttr(kPortX, kRow, PortNames[st.portIndex], attr);
    s.PutTextAttr(kSpeedX, kRow, "115200", attr);
    s.PutTextAttr(kGatewayX, kRow, GatewayNames[st.gatewayIndex], attr);
  } else if (st.fileLoaded) {
    // A name from the directory may hold any bytes: they are shown as
    // harmless cp866 characters.
    s.PutTextAttr(kPortX, kRow, kFileLabel, attr);
    s.PutTextAttr(kFileX, kRow, DisplayFileName(st.currentFileName, kFileWidth).c_str(), attr);
  }
}

std::string WorkedOn(const Tool& tool, int nameWidth) {
  const WorkState& st = tool.state;
  if (st.deviceConnected) return PortDeviceName(st.portIndex) + " " + GatewayNames[st.gatewayIndex];
  if (st.fileLoaded) return std::string(kFileLabel) + " " + DisplayFileName(st.currentFileName, nameWidth);
  return {};
}

}  // namespace tv
