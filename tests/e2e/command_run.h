// The scripted commands of the real binary run in a scratch directory, for
// the end-to-end tests: a run's status and output, settings files as the
// tool writes them, gwsim on ./COM1, and a run killed part way.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/gateway_session.h"
#include "tests/e2e/harness.h"

namespace tv::e2e {

inline std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void WriteAll(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

// A scratch directory, removed with everything in it.
class Scratch {
 public:
  Scratch() {
    char pattern[] = "/tmp/tarvelin-cli-XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~Scratch() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

struct Outcome {
  int status = -1;  // the exit status; -1 when killed or not ended in time
  std::string out, err;
};

// Runs the program in dir with the arguments, standard input from
// /dev/null, standard output and error into files (not terminals), in a
// UTF-8 locale (or the one given).
inline Outcome RunTool(const std::string& dir, const std::vector<std::string>& args,
                const std::string& binary = TarvelinBinary(), const char* lang = "C.UTF-8") {
  const std::string outPath = dir + "/.stdout", errPath = dir + "/.stderr";
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int in = open("/dev/null", O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (in < 0 || out < 0 || err < 0) _exit(126);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    setenv("LANG", lang, 1);
    unsetenv("LC_ALL");
    unsetenv("LC_CTYPE");
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  Outcome o;
  if (pid < 0) return o;
  const auto deadline = Clock::now() + std::chrono::seconds(60);
  int status = 0;
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (Clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return o;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  o.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  o.out = ReadAll(outPath);
  o.err = ReadAll(errPath);
  return o;
}

inline std::string Describe(const Outcome& o) {
  return "status " + std::to_string(o.status) + "\nstdout:\n" + o.out + "stderr:\n" + o.err;
}

// A settings file as the tool saves one: cell N holds "0" and "NN", cell 98
// the default modes and the gateway's signature (unless unsigned), cell 5
// the given number.
inline std::string SettingsFile(const std::string& cell5, bool signedFile = true) {
  std::string text;
  for (int cell = 1; cell <= 99; ++cell) {
    char digits[3];
    std::snprintf(digits, sizeof digits, "%02d", cell);
    std::string number = cell == 5 ? cell5 : "0";
    std::string name = digits;
    if (cell == 98) {
      number = "0000100";
      if (signedFile) name = "98.GSM.TRV";
    }
    text += std::string(" ") + digits + ",\"" + number + "\",129,\"" + name + "\"\r\n";
  }
  text.resize((text.size() / 256 + 1) * 256, '\0');
  return text;
}

// gwsim on ./COM1 of the directory, with its phonebook dump.
inline std::unique_ptr<GatewayProcess> StartGateway(const Scratch& dir, std::vector<std::string> args = {}) {
  args.insert(args.begin(), {"--link", dir / "COM1", "--dump", dir / "dump"});
  auto gateway = std::make_unique<GatewayProcess>(GwsimBinary(), args, dir / "COM1", kScreenWait);
  EXPECT_TRUE(gateway->Ready());
  return gateway;
}

// The journal of an unfinished write in dir (named after the line), "" when
// there is none.
inline std::string JournalIn(const std::string& dir) {
  for (const std::filesystem::directory_entry& e : std::filesystem::directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.rfind("tarvelin-", 0) == 0 && e.path().extension() == ".journal") return name;
  }
  return {};
}

// The "written" figure of the journal in dir, or -1.
inline int JournalWritten(const std::string& dir) {
  const std::string name = JournalIn(dir);
  if (name.empty()) return -1;
  const std::string text = ReadAll(dir + "/" + name);
  const std::size_t at = text.find("\nwritten ");
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + 9);
}

// Runs the command in dir and kills it (SIGKILL, as a power cut or the
// OOM killer would) once its journal says `lines` lines were taken: a
// write stopped part way. False when it never got that far.
inline bool KillPartWay(const std::string& dir, const std::vector<std::string>& args, int lines) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (chdir(dir.c_str()) != 0) _exit(126);
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    const std::string binary = TarvelinBinary();
    std::vector<char*> argv{const_cast<char*>(binary.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execv(binary.c_str(), argv.data());
    _exit(127);
  }
  if (pid < 0) return false;
  const auto deadline = Clock::now() + kExchangeWait;
  int status = 0;
  bool reached = false;
  while (Clock::now() < deadline && waitpid(pid, &status, WNOHANG) == 0) {
    if (JournalWritten(dir) >= lines) {
      reached = true;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  kill(pid, SIGKILL);
  waitpid(pid, &status, 0);
  return reached;
}

}  // namespace tv::e2e
