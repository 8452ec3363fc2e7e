// File transfers whose faults need POSIX to be made: a FIFO, permissions
// taken away from an ordinary user, a full disk (a file size limit).
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <string>

#include "cp866/literal.h"
#include "screen/colors.h"
#include "tests/ui/transfer_fixture.h"
#include "ui/settings_transfers.h"

namespace tv {
namespace {

using namespace test;

// Runs body in a forked child and gives back what it returned; for the
// cases that take the privileges or the disk space away.
std::string InChild(const std::function<std::string()>& body) {
  int fds[2];
  if (::pipe(fds) != 0) return "no pipe";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    std::string out;
    try {
      out = body();
    } catch (const std::exception& e) {
      out = e.what();
    }
    (void)!::write(fds[1], out.data(), out.size());
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string out;
  char buf[512];
  for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<std::size_t>(n));
  ::close(fds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  return out;
}

constexpr uid_t kNobody = 65534;

// Root passes every permission check: a permission case runs as nobody,
// with the scratch directory made nobody's.
bool BecomeOrdinaryUser() {
  if (::geteuid() != 0) return true;
  return ::setgroups(0, nullptr) == 0 && ::setgid(kNobody) == 0 && ::setuid(kNobody) == 0;
}
void GiveToOrdinaryUser(const std::string& path) {
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
  }
}

// A message replaces the whole prompt row: no "? [Y/N]" of the question it
// answers is left to look like a new question. A file that cannot be read
// or written says why, under the message and in its attribute.
TEST_F(TransferTest, FileMessagesReplaceThePromptRowAndSayWhy) {
  const std::string openError = " Ошибка открытия файла! "_cp;
  const std::string createError = "Ошибка открытия файла!"_cp;
  const std::string tooLarge = " Файл слишком велик! "_cp;
  const std::string writeError = " Ошибка записи файла! "_cp;
  enum Where { Here, AsOrdinaryUser, OnAFullDisk };
  struct Case {
    const char* name;
    Operation op;
    std::function<void()> setUp;
    std::string typed;
    Where where;
    std::string message;
    uint8_t attr;
    std::string why;  // row 5 from column 34, as shown
  } cases[] = {
      {"File to SIM, no such file", FileToSim, [] {}, "none", Here, openError, ColorAlert,
       " Нет такого файла "_cp},
      {"Load, no such file", LoadForEditing, [] {}, "none", Here, openError, ColorAlert,
       " Нет такого файла "_cp},
      {"Load, a pipe", LoadForEditing, [] { ASSERT_EQ(::mkfifo("p.set", 0600), 0); }, "p.set", Here,
       openError, ColorAlert, " Это не обычный файл "_cp},
      {"Save, a directory", SaveToFile, [] { std::filesystem::create_directory("d.set"); }, "d.set", Here,
       createError, ColorPanel, "Это не обычный файл"_cp},
      {"SIM to file, a directory", SimToFile, [] { std::filesystem::create_directory("d.set"); }, "d.set",
       Here, createError, ColorPanel, "Это не обычный файл"_cp},
      {"File to SIM, too large", FileToSim, [] { ScratchDir::Write("big.set", std::string(40000, '1')); },
       "big.set", Here, tooLarge, ColorAlert, ""},
      {"Load, too large", LoadForEditing, [] { ScratchDir::Write("big.set", std::string(40000, '1')); },
       "big.set", Here, tooLarge, ColorAlert, ""},
      {"Save into a read-only directory", SaveToFile,
       [&] {
         GiveToOrdinaryUser(dir.Path());
         ASSERT_EQ(::chmod(dir.Path().c_str(), 0555), 0);
       },
       "new", AsOrdinaryUser, createError, ColorPanel, "Нет прав доступа к файлу или каталогу"_cp},
      {"Save over a read-only file", SaveToFile,
       [&] {
         ScratchDir::Write("ro.set", "old");
         GiveToOrdinaryUser(dir.Path());
         GiveToOrdinaryUser("ro.set");
         ASSERT_EQ(::chmod("ro.set", 0444), 0);
       },
       "ro.set", AsOrdinaryUser, createError, ColorPanel, "Нет прав доступа к файлу или каталогу"_cp},
      {"File to SIM, an unreadable file", FileToSim,
       [&] {
         ScratchDir::Write("secret.set", "old");
         GiveToOrdinaryUser(dir.Path());
         GiveToOrdinaryUser("secret.set");
         ASSERT_EQ(::chmod("secret.set", 0), 0);
       },
       "secret.set", AsOrdinaryUser, openError, ColorAlert, " Нет прав доступа к файлу или каталогу "_cp},
      {"Save on a full disk", SaveToFile, [] {}, "full", OnAFullDisk, writeError, ColorAlert,
       " Диск переполнен "_cp},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    for (const auto& e : std::filesystem::directory_iterator(".")) std::filesystem::remove(e.path());
    ASSERT_EQ(::chmod(dir.Path().c_str(), 0700), 0);
    ASSERT_NO_FATAL_FAILURE(c.setUp());
    console.shots.clear();
    auto run = [&] {
      console.Type(c.typed);
      console.Add({Enter, Chr('y'), Enter});
      c.op(tool);
      const Screen& shot = console.shots.back();
      return shot.TextAt(19, 4, 59) + "\n" + shot.TextAt(19, 5, 59) + "\n" +
             static_cast<char>(shot.AttrAt(34, 4)) + static_cast<char>(shot.AttrAt(34, 5));
    };
    std::string shown;
    if (c.where == Here) {
      shown = run();
    } else if (c.where == AsOrdinaryUser) {
      shown = InChild([&] { return BecomeOrdinaryUser() ? run() : std::string("cannot change user"); });
      if (shown == "cannot change user") GTEST_SKIP() << "cannot change to user 65534 (nobody) here";
    } else {
      shown = InChild([&] {
        rlimit limit{};
        ::getrlimit(RLIMIT_FSIZE, &limit);
        limit.rlim_cur = 0;  // not a byte can be written
        std::signal(SIGXFSZ, SIG_IGN);
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return run();
      });
    }
    const std::string expected =
        RowWith(34, c.message) + "\n" + (c.why.empty() ? std::string(59, ' ') : RowWith(34, c.why)) + "\n" +
        static_cast<char>(c.attr) + static_cast<char>(c.why.empty() ? ColorPanel : c.attr);
    EXPECT_EQ(shown, expected);
  }
  ASSERT_EQ(::chmod(dir.Path().c_str(), 0700), 0);
  EXPECT_TRUE(port.written.empty());
}

}  // namespace
}  // namespace tv
