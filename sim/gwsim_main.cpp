// tarvelin-gwsim (the gwsim target): the simulated gateway on a pseudo-terminal. It links the slave side
// as ./COM1 (or --link PATH), so that the tool opens it like a serial port,
// and serves the gateway model on the master side in real time.
//
//   tarvelin-gwsim --pace --latency 20 &      then start the tool in the same directory
//
// All behaviour lives in the model; this file only moves bytes and time.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>

#include "sim/gateway_model.h"

namespace {

// Where the link points once the line has hung up.
constexpr const char* kDeadDevice = "/dev/gwsim-hung-up";

volatile sig_atomic_t gStop = 0;
volatile sig_atomic_t gPrint = 0;

void OnStop(int) { gStop = 1; }
void OnPrint(int) { gPrint = 1; }

void Usage(FILE* to = stderr) {
  std::fputs(
      "usage: tarvelin-gwsim [--link PATH] [--blank] [--echo] [--blank-after-comma] [--latency MS] [--pace]\n"
      "                      [--silent-after N] [--error-to PREFIX] [--cme-error] [--garbage] [--long-lines]\n"
      "                      [--hang-up-after N] [--ussd-delay MS] [--ussd-text TEXT] [--ussd-plain]\n"
      "                      [--ussd-silent] [--forwarding-silent] [--forwarding-delay MS]\n"
      "                      [--forwarding-error] [--dump FILE] [--print]\n"
      "                      [--urc PERCENT] [--seed N] [--drop-while-busy] [--write-delay MS[-MS]]\n"
      "                      [--cme-not-found] [--wake-delay MS] [--wrong-index N[,N...]] [--gsm-nul]\n"
      "                      [--late-cusd] [--no-range] [--range-cap N] [--line-end cr|lf|crlf|crcrlf]\n"
      "                      [--help]\n"
      "\n"
      "Serves a simulated gateway (its modem and SIM phonebook) on a pseudo-terminal, linked\n"
      "where the tool looks for its serial port. It runs until SIGINT or SIGTERM (Ctrl+C).\n"
      "Without options: ./COM1, an initialised SIM with sample settings, answers at once.\n"
      "  tarvelin-gwsim &                 then start the tool in the same directory\n"
      "\n"
      "The line and the SIM:\n"
      "  --link PATH           the link to the pseudo-terminal (default ./COM1); an old link\n"
      "                        there is replaced, any other file is left alone and it ends\n"
      "                          tarvelin-gwsim --link /tmp/gw/COM2\n"
      "  --blank               an empty SIM, not prepared for the gateway: the tool offers to\n"
      "                        initialise it\n"
      "                          tarvelin-gwsim --blank\n"
      "  --echo                every command echoed back, as a modem just after power-on\n"
      "                          tarvelin-gwsim --echo\n"
      "  --latency MS          time from a command's CR to the first byte of its reply, the SIM's\n"
      "                        time to read one location; a range read (AT+CPBR=1,99) takes it\n"
      "                        for every location of the range, each entry sent as it is read\n"
      "                          tarvelin-gwsim --latency 100        a SIM taking 100 ms an entry\n"
      "  --pace                each byte takes its time at 115200 baud (87 us), as on a real line\n"
      "                          tarvelin-gwsim --pace --latency 20\n"
      "  --line-end END        how the modem ends its lines: crlf (default), cr (S4 set to 13),\n"
      "                        lf, or crcrlf\n"
      "                          tarvelin-gwsim --line-end cr\n"
      "  --blank-after-comma   call forwarding states read \"+CCFC: 1, 1,...\", a blank after\n"
      "                        each comma, as the gateway's own modem answers\n"
      "                          tarvelin-gwsim --blank-after-comma\n"
      "\n"
      "Faults:\n"
      "  --silent-after N      answers N commands, then nothing at all (no echo either)\n"
      "                          tarvelin-gwsim --silent-after 10    dies in the middle of a book read\n"
      "  --hang-up-after N     the line hangs up after N commands; PATH then leads nowhere, as\n"
      "                        for an unplugged adapter\n"
      "                          tarvelin-gwsim --hang-up-after 50\n"
      "  --error-to PREFIX     ERROR to every command beginning with PREFIX (give it in capitals)\n"
      "                          tarvelin-gwsim --error-to AT+CPBW   the SIM refuses every write\n"
      "  --cme-error           errors come as \"+CME ERROR: <code>\" instead of ERROR, whatever\n"
      "                        AT+CMEE asked for\n"
      "                          tarvelin-gwsim --error-to AT+CPBW --cme-error\n"
      "  --garbage             a line of noise bytes (0xFF, NUL, ESC, ...) before every reply\n"
      "                          tarvelin-gwsim --garbage\n"
      "  --long-lines          every +CPBR reply line padded past 200 bytes\n"
      "                          tarvelin-gwsim --long-lines\n"
      "  --urc PERCENT         unsolicited lines (RING, +CREG: 1, ...) at this share of reply line\n"
      "                        boundaries, and about every 300 ms while the line is idle\n"
      "                          tarvelin-gwsim --urc 30\n"
      "  --seed N              seed of the random choices (--urc, --write-delay), so that a run\n"
      "                        repeats itself (default 20240611)\n"
      "                          tarvelin-gwsim --urc 30 --seed 7\n"
      "  --drop-while-busy     bytes sent before the final result code of a command are lost\n"
      "                          tarvelin-gwsim --drop-while-busy --latency 50\n"
      "  --write-delay MS[-MS] each AT+CPBW takes this long (a random time in the range), as a\n"
      "                        SIM writing its memory\n"
      "                          tarvelin-gwsim --write-delay 300-500\n"
      "  --cme-not-found       an empty phonebook location reads as +CME ERROR: 22, not OK\n"
      "                          tarvelin-gwsim --blank --cme-not-found\n"
      "  --wake-delay MS       asleep at start and after 5 s idle: the first command is answered\n"
      "                        this much later, bytes meanwhile are lost\n"
      "                          tarvelin-gwsim --wake-delay 1500\n"
      "  --wrong-index N,...   reading cell N answers with cell N+1\n"
      "                          tarvelin-gwsim --wrong-index 13,40\n"
      "  --gsm-nul             '@' travels as byte 0 inside phonebook texts (the GSM alphabet)\n"
      "                          tarvelin-gwsim --gsm-nul\n"
      "  --no-range            the range form AT+CPBR=a,b is refused (ERROR, or +CME ERROR: 4\n"
      "                        after AT+CMEE=1 or with --cme-error); one location at a time works\n"
      "                          tarvelin-gwsim --no-range\n"
      "  --range-cap N         at most N entries to a range read, then OK, as modems that cap it\n"
      "                          tarvelin-gwsim --range-cap 10\n"
      "\n"
      "The network (balance request and call forwarding):\n"
      "  --ussd-delay MS       time from OK to the network's +CUSD answer (default 1500)\n"
      "                          tarvelin-gwsim --ussd-delay 5000\n"
      "  --ussd-text TEXT      the network's answer, UTF-8 (default \"Баланс: 123.45 руб.\")\n"  // UTF-8
      "                          tarvelin-gwsim --ussd-text 'Ваш баланс 10.00 р.'\n"                      // UTF-8
      "  --ussd-plain          the answer as plain text (dcs 15), any non-ASCII letter as '?',\n"
      "                        instead of UCS2 hex (dcs 72)\n"
      "                          tarvelin-gwsim --ussd-plain --ussd-text 'Balance: 5.00'\n"
      "  --ussd-silent         the network never answers a balance request\n"
      "                          tarvelin-gwsim --ussd-silent\n"
      "  --late-cusd           the +CUSD answer comes after the next command's final result\n"
      "                          tarvelin-gwsim --late-cusd\n"
      "  --forwarding-silent   AT+CCFC (call forwarding) is never answered\n"
      "                          tarvelin-gwsim --forwarding-silent\n"
      "  --forwarding-delay MS AT+CCFC is answered this much later, as by a busy network\n"
      "                          tarvelin-gwsim --forwarding-delay 3000\n"
      "  --forwarding-error    ERROR to AT+CCFC\n"
      "                          tarvelin-gwsim --forwarding-error\n"
      "\n"
      "Watching the phonebook:\n"
      "  --dump FILE           the phonebook written to FILE, one line an entry (NN,\"number\",129,\n"
      "                        \"name\"), at start, after every change and at the end\n"
      "                          tarvelin-gwsim --dump gateway.dump\n"
      "  --print               the phonebook printed on standard output on SIGUSR1 and at the end\n"
      "                          tarvelin-gwsim --print &   kill -USR1 $!\n"
      "  --help                this text\n",
      to);
}

// "300" -> 300 ms; nullopt unless the text is a whole non-negative number.
std::optional<int> Number(const std::string& text) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return std::atoi(text.c_str());
}

void WriteDump(const std::string& path, const std::string& dump) {
  const std::string tmp = path + ".tmp";
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    out << dump;
  }
  std::rename(tmp.c_str(), path.c_str());
}

void WriteAll(int fd, const std::vector<uint8_t>& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace std::chrono;
  tv::sim::GatewayOptions options;
  std::string link = "./COM1", dumpPath;
  bool print = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        Usage();
        std::exit(2);
      }
      return argv[++i];
    };
    if (a == "--link")
      link = value();
    else if (a == "--blank")
      options.initialised = false;
    else if (a == "--echo")
      options.echo = true;
    else if (a == "--blank-after-comma")
      options.blankAfterComma = true;
    else if (a == "--latency")
      options.commandLatency = milliseconds(std::atoi(value().c_str()));
    else if (a == "--pace")
      options.pace115200 = true;
    else if (a == "--silent-after")
      options.faults.silentAfterCommands = std::atoi(value().c_str());
    else if (a == "--error-to")
      options.faults.errorPrefix = value();
    else if (a == "--cme-error")
      options.faults.cmeError = true;
    else if (a == "--garbage")
      options.faults.garbage = true;
    else if (a == "--long-lines")
      options.faults.overlongLines = true;
    else if (a == "--hang-up-after")
      options.faults.hangUpAfterCommands = std::atoi(value().c_str());
    else if (a == "--ussd-delay")
      options.ussdDelay = milliseconds(std::atoi(value().c_str()));
    else if (a == "--ussd-text")
      options.ussdAnswer = value();
    else if (a == "--ussd-plain")
      options.ussdUcs2 = false;
    else if (a == "--ussd-silent")
      options.ussdSilent = true;
    else if (a == "--forwarding-silent")
      options.forwardingSilent = true;
    else if (a == "--forwarding-delay")
      options.forwardingDelay = milliseconds(std::atoi(value().c_str()));
    else if (a == "--forwarding-error")
      options.forwardingError = true;
    else if (a == "--urc") {
      const auto percent = Number(value());
      if (!percent || *percent > 100) return Usage(), 2;
      options.faults.urcPercent = *percent;
    } else if (a == "--seed") {
      const std::string seed = value();
      if (seed.empty() || seed.find_first_not_of("0123456789") != std::string::npos) return Usage(), 2;
      options.faults.seed = std::strtoull(seed.c_str(), nullptr, 10);
    } else if (a == "--drop-while-busy")
      options.faults.dropWhileBusy = true;
    else if (a == "--write-delay") {
      // "300" or "100-500"
      const std::string range = value();
      const auto dash = range.find('-');
      const auto low = Number(range.substr(0, dash));
      const auto high = dash == std::string::npos ? low : Number(range.substr(dash + 1));
      if (!low || !high || *high < *low) return Usage(), 2;
      options.faults.writeDelayMin = milliseconds(*low);
      options.faults.writeDelayMax = milliseconds(*high);
    } else if (a == "--cme-not-found")
      options.faults.cmeNotFound = true;
    else if (a == "--wake-delay") {
      const auto delay = Number(value());
      if (!delay) return Usage(), 2;
      options.faults.wakeDelay = milliseconds(*delay);
    } else if (a == "--wrong-index") {
      const std::string list = value() + ",";
      for (std::size_t from = 0, comma; (comma = list.find(',', from)) != std::string::npos;
           from = comma + 1) {
        const auto index = Number(list.substr(from, comma - from));
        if (!index) return Usage(), 2;
        options.faults.wrongIndex.push_back(*index);
      }
    } else if (a == "--gsm-nul")
      options.faults.gsmNul = true;
    else if (a == "--late-cusd")
      options.faults.lateUssd = true;
    else if (a == "--no-range")
      options.faults.noRange = true;
    else if (a == "--range-cap") {
      const auto cap = Number(value());
      if (!cap || *cap == 0) return Usage(), 2;
      options.faults.rangeCap = *cap;
    } else if (a == "--line-end") {
      const std::string end = value();
      if (end == "crlf")
        options.lineEnd = "\r\n";
      else if (end == "cr")
        options.lineEnd = "\r";
      else if (end == "lf")
        options.lineEnd = "\n";
      else if (end == "crcrlf")
        options.lineEnd = "\r\r\n";
      else
        return Usage(), 2;
    }
    else if (a == "--help") {
      Usage(stdout);
      return 0;
    } else if (a == "--dump")
      dumpPath = value();
    else if (a == "--print")
      print = true;
    else {
      Usage();
      return 2;
    }
  }
  {
    // The modem's clock starts at the local time, as one set by its network.
    const time_t t = time(nullptr);
    tm local{};
    char text[32];
    if (localtime_r(&t, &local) && strftime(text, sizeof text, "%y/%m/%d,%H:%M:%S+00", &local))
      options.clockAtStart = text;
  }
  tv::sim::GatewayModel model(options);

  int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
    std::perror("tarvelin-gwsim: pseudo-terminal");
    return 1;
  }
  const std::string slavePath = ptsname(master);
  // Held open by us as well, so that the master does not see a hang-up each
  // time the tool closes the port; raw, so that the line discipline neither
  // echoes nor translates before the tool sets its own modes.
  int slave = open(slavePath.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  termios tio{};
  if (slave < 0 || tcgetattr(slave, &tio) != 0) {
    std::perror("tarvelin-gwsim: slave side");
    return 1;
  }
  cfmakeraw(&tio);
  cfsetispeed(&tio, B115200);
  cfsetospeed(&tio, B115200);
  tcsetattr(slave, TCSANOW, &tio);

  struct stat st {};
  if (lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) {
      std::fprintf(stderr, "tarvelin-gwsim: %s exists and is not a link\n", link.c_str());
      return 1;
    }
    unlink(link.c_str());
  }
  if (symlink(slavePath.c_str(), link.c_str()) != 0) {
    std::perror("tarvelin-gwsim: link");
    return 1;
  }

  struct sigaction sa {};
  sa.sa_handler = OnStop;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);
  sa.sa_handler = OnPrint;
  sigaction(SIGUSR1, &sa, nullptr);

  std::printf("tarvelin-gwsim: %s -> %s\n", link.c_str(), slavePath.c_str());
  std::fflush(stdout);

  const auto start = steady_clock::now();
  auto now = [&start] { return duration_cast<nanoseconds>(steady_clock::now() - start); };
  std::string lastDump = model.Dump();
  if (!dumpPath.empty()) WriteDump(dumpPath, lastDump);

  uint8_t buf[4096];
  std::optional<nanoseconds> hangUpAt;
  nanoseconds lastWrite{0};
  while (!gStop) {
    if (gPrint) {
      gPrint = 0;
      if (print) {
        std::fputs(model.Dump().c_str(), stdout);
        std::fflush(stdout);
      }
    }
    bool draining = false;
    if (master >= 0) {
      const auto out = model.TakeOutput(now());
      if (!out.empty()) {
        WriteAll(master, out);
        lastWrite = now();
      }
      if (model.HungUp() && !model.NextOutputTimeExact()) {
        // The last reply is on the line: a hang-up would flush it from the
        // tool's input queue, so it goes once the tool has read it (the
        // kernel hands written bytes to the other side a moment later), or
        // after a grace period, for a tool that no longer reads.
        int pending = 0;
        if (ioctl(slave, FIONREAD, &pending) != 0) pending = 0;
        if (!hangUpAt) hangUpAt = now() + milliseconds(2000);
        draining = (pending > 0 || now() < lastWrite + milliseconds(20)) && now() < *hangUpAt;
      }
      if (model.HungUp() && !model.NextOutputTimeExact() && !draining) {
        // The line dies: the tool's next read sees the hang-up. The link is
        // pointed at a device that cannot exist, so that opening the port
        // again fails as for an unplugged adapter: the old name would soon
        // belong to some other program's pseudo-terminal.
        close(master);
        close(slave);
        master = slave = -1;
        const std::string moved = link + ".gwsim-dead";
        unlink(moved.c_str());
        if (symlink(kDeadDevice, moved.c_str()) == 0 && std::rename(moved.c_str(), link.c_str()) != 0)
          unlink(moved.c_str());
        continue;
      }
    }
    // Wake for the host's bytes or for the next reply bytes. Bytes are handed
    // over in groups of up to 14, as a 16550 receive FIFO raises its
    // interrupt, each group when its last byte is complete on the line; the
    // last byte before a pause goes at its own time.
    timespec timeout{1, 0};
    if (draining) {
      timeout = {0, 2000000};
    } else if (master >= 0) {
      const auto times = model.QueuedTimes(14);
      if (!times.empty()) {
        auto due = times[0];
        for (std::size_t k = 1; k < times.size() && times[k] - times[k - 1] < 2 * tv::sim::ByteTime115200;
             ++k)
          due = times[k];
        const auto wait = std::max(due - now(), nanoseconds(0));
        timeout = {static_cast<time_t>(wait.count() / 1000000000),
                   static_cast<long>(wait.count() % 1000000000)};
      }
    }
    pollfd p{master, POLLIN, 0};
    const int r = ppoll(&p, master >= 0 ? 1 : 0, &timeout, nullptr);
    if (r > 0 && (p.revents & POLLIN)) {
      const ssize_t n = read(master, buf, sizeof buf);
      if (n > 0) {
        model.Receive(now(), buf, static_cast<std::size_t>(n));
        if (!dumpPath.empty()) {
          std::string dump = model.Dump();
          if (dump != lastDump) {
            WriteDump(dumpPath, dump);
            lastDump.swap(dump);
          }
        }
      }
    }
  }

  if (!dumpPath.empty()) WriteDump(dumpPath, model.Dump());
  if (print) std::fputs(model.Dump().c_str(), stdout);
  // Remove the link unless another gwsim has replaced it meanwhile.
  char target[512];
  const ssize_t len = readlink(link.c_str(), target, sizeof target);
  if (len > 0) {
    const std::string to(target, static_cast<std::size_t>(len));
    if (to == slavePath || (master < 0 && to == kDeadDevice)) unlink(link.c_str());
  }
  if (master >= 0) close(master);
  if (slave >= 0) close(slave);
  return 0;
}
