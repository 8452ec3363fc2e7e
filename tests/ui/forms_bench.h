// A tool on the simulated gateway with scripted keys, for the form tests:
// the image starts as a copy of the gateway's SIM, the port is open, and
// everything the forms send is in port.written.
#pragma once

#include <cstdio>
#include <initializer_list>
#include <string>

#include "sim/gateway_model.h"
#include "sim/sim_serial_port.h"
#include "tests/support/scripted_console.h"
#include "tests/support/simulated_tool.h"
#include "ui/tool.h"

namespace tv::test {

struct FormsBench : SimulatedTool<> {
  FormsBench() {
    tool.port.Open(0);
    tool.state.deviceConnected = true;
    for (int cell = 1; cell <= 99; ++cell) {
      tool.image.SetCellNumber(cell, gateway.Number(cell));
      tool.image.SetCellName(cell, gateway.Name(cell));
    }
  }

  ~FormsBench() {
    if (tool.help.file) std::fclose(tool.help.file);
  }
  FormsBench(const FormsBench&) = delete;
  FormsBench& operator=(const FormsBench&) = delete;

  // A help file of the given contents, as help.txt is opened at start-up.
  void UseHelp(const std::string& contents) {
    tool.help.file = std::tmpfile();
    std::fwrite(contents.data(), 1, contents.size(), tool.help.file);
  }
  // A help file with a topic for every number given, each reading "topic N".
  void UseHelpTopics(std::initializer_list<int> topics) {
    std::string contents;
    for (int n : topics) contents += "#" + std::to_string(n) + "\ntopic " + std::to_string(n) + "\n";
    UseHelp(contents);
  }
  // While the help window waits for Esc: the topic it shows, or "" for none.
  std::string ShownHelpTopic() const { return Trimmed(7, 4, 69); }

  // Loaded from a settings file instead: edits must stay in the image.
  void UseFile() {
    tool.state.deviceConnected = false;
    tool.state.fileLoaded = true;
  }

  // The write command of a cell as it must appear on the line.
  static std::string Cpbw(int cell, const std::string& number, const std::string& name) {
    const char digits[3] = {static_cast<char>('0' + cell / 10), static_cast<char>('0' + cell % 10), 0};
    return std::string("AT+CPBW=") + digits + ",\"" + number + "\",129,\"" + name + "\"\r";
  }

  // Trailing blanks removed.
  std::string Trimmed(int x, int y, int count) const {
    std::string t = screen.TextAt(x, y, count);
    t.erase(t.find_last_not_of(' ') + 1);
    return t;
  }
};

}  // namespace tv::test
