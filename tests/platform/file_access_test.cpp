// Reading a settings file whole, and replacing one whole or not at all:
// against real files in a scratch directory, a full disk and an ordinary
// user's permissions included.
#include "platform/file_access.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "core/settings_file.h"
#include "tests/support/scratch_dir.h"

namespace tv {
namespace {

using test::ScratchDir;

TEST(SettingsFileRead, RefusesWhatIsNotASmallOrdinaryFile) {
  ScratchDir dir;
  ScratchDir::Write("max.set", std::string(32768, 'x'));
  ScratchDir::Write("big.set", std::string(40000, 'x'));
  ScratchDir::Write("small.set", " 01,\"1\",129,\"A\"\r\n");
  std::filesystem::create_directory("dir.set");
  struct Case {
    const char* name;
    FileReadResult result;
    std::size_t size;
  } cases[] = {
      {"max.set", FileReadResult::Ok, 32768},      {"big.set", FileReadResult::TooLarge, 0},
      {"small.set", FileReadResult::Ok, 17},       {"dir.set", FileReadResult::OpenFailed, 0},
      {"none.set", FileReadResult::OpenFailed, 0}, {"", FileReadResult::OpenFailed, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string bytes = "previous";
    EXPECT_EQ(ReadSettingsFile(c.name, bytes), c.result);
    EXPECT_EQ(bytes.size(), c.size);
  }
  // A file whose size the system gives short (0 for the kernel's own files)
  // is read whole all the same.
  std::string bytes;
  EXPECT_EQ(ReadSettingsFile("/proc/self/cmdline", bytes), FileReadResult::Ok);
  EXPECT_EQ(bytes, ScratchDir::Read("/proc/self/cmdline"));
}

TEST(AtomicFile, ReplacesOnlyWhenCommitted) {
  ScratchDir dir;
  const std::string old = PadToBlocks("old contents\r\n");
  ScratchDir::Write("a.set", old);
  {
    AtomicFileWriter writer;
    ASSERT_TRUE(writer.Open("a.set"));
    EXPECT_EQ(ScratchDir::Read("a.set"), old);  // nothing touched yet
  }                                             // abandoned, as when the device falls silent
  EXPECT_EQ(ScratchDir::Read("a.set"), old);
  EXPECT_EQ(ScratchDir::Entries(), std::vector<std::string>{"a.set"});

  ASSERT_TRUE(WriteFileAtomically("a.set", "new"));
  EXPECT_EQ(ScratchDir::Read("a.set"), "new");
  ASSERT_TRUE(WriteFileAtomically("b.set", "fresh"));
  EXPECT_EQ(ScratchDir::Read("b.set"), "fresh");
  EXPECT_EQ(ScratchDir::Entries(), (std::vector<std::string>{"a.set", "b.set"}));
}

TEST(AtomicFile, KeepsModeAndLinkOfTheFileItReplaces) {
  ScratchDir dir;
  ScratchDir::Write("real.set", "old");
  ::chmod("real.set", 0640);
  std::filesystem::create_symlink("real.set", "link.set");
  ASSERT_TRUE(WriteFileAtomically("link.set", "new"));
  EXPECT_TRUE(std::filesystem::is_symlink("link.set"));
  EXPECT_EQ(ScratchDir::Read("real.set"), "new");
  struct stat st {};
  ASSERT_EQ(::stat("real.set", &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// Settings files, backups and journals hold the whole configuration: one
// the tool creates is its owner's alone, whatever the umask lets through;
// one it replaces keeps the mode it had.
TEST(AtomicFile, ANewFileIsTheOwnersAloneAReplacedOneKeepsItsMode) {
  ScratchDir dir;
  const mode_t umaskBefore = ::umask(022);
  struct Case {
    const char* name;
    int before;  // -1: no file there
    unsigned after;
  } cases[] = {{"new", -1, 0600}, {"a 0644 file replaced", 0644, 0644}, {"a 0600 file replaced", 0600, 0600}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink("f.set");
    if (c.before >= 0) {
      ScratchDir::Write("f.set", "old");
      ASSERT_EQ(::chmod("f.set", static_cast<mode_t>(c.before)), 0);
    }
    ASSERT_TRUE(WriteFileAtomically("f.set", "new"));
    struct stat st {};
    ASSERT_EQ(::stat("f.set", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, c.after);
  }
  ::umask(umaskBefore);
}

// The exchange trace (TARVELIN_TRACE): created 0600, and a trace file the
// user made readable to others beforehand narrowed to 0600, its lines kept.
TEST(KeepToOwner, TheTraceIsItsOwnersAlone) {
  ScratchDir dir;
  const mode_t umaskBefore = ::umask(022);
  struct Case {
    const char* name;
    int before;  // -1: no file there
  } cases[] = {{"new", -1}, {"created 0644 beforehand", 0644}, {"0755", 0755}, {"already 0600", 0600}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ::unlink("trace.txt");
    if (c.before >= 0) {
      ScratchDir::Write("trace.txt", "earlier lines\n");
      ASSERT_EQ(::chmod("trace.txt", static_cast<mode_t>(c.before)), 0);
    }
    ASSERT_TRUE(KeepToOwner("trace.txt"));
    struct stat st {};
    ASSERT_EQ(::stat("trace.txt", &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(ScratchDir::Read("trace.txt"), c.before >= 0 ? "earlier lines\n" : "");
  }
  ::umask(umaskBefore);
}

// Runs body in a forked child, so that a file size limit or a change of
// user stays there; the child's exit code, or -1 when it did not exit.
int InChild(const std::function<int()>& body) {
  const pid_t pid = ::fork();
  if (pid == 0) ::_exit(body());
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

// What the child reports.
enum ChildResult { kRefused = 10, kReplaced, kOpenedButNotReplaced, kCannotSetUp };

// A disk that fills up while the file is written: the write fails (EFBIG
// here, as ENOSPC would), and the settings file the operator had must stay
// whole, with nothing half-written left beside it.
TEST(AtomicFile, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  struct Case {
    const char* name;
    rlim_t limit;  // bytes a file may grow to
  } cases[] = {{"not a byte can be written", 0}, {"the write stops after 1000 bytes", 1000}};
  const std::string old = PadToBlocks("old contents\r\n");
  const std::string replacement = PadToBlocks(std::string(1796, 'x'));  // a whole settings file's size
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    ScratchDir::Write("a.set", old);
    const int result = InChild([&] {
      rlimit limit{};
      if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) return int{kCannotSetUp};
      limit.rlim_cur = c.limit;
      if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
        return int{kCannotSetUp};
      return WriteFileAtomically("a.set", replacement) ? int{kReplaced} : int{kRefused};
    });
    ASSERT_EQ(result, kRefused);
    ASSERT_EQ(ScratchDir::Read("a.set"), old);
    ASSERT_EQ(ScratchDir::Entries(), std::vector<std::string>{"a.set"});
  }
}

// The rename needs only the directory's permission, so the writer itself
// must refuse a file the operator made read-only. Root passes every access
// check, so the writer runs as user nobody.
TEST(AtomicFile, ReadOnlyFileIsNotReplacedForAnOrdinaryUser) {
  constexpr uid_t kNobody = 65534;
  ScratchDir dir;
  const std::string old = PadToBlocks("protected\r\n");
  ScratchDir::Write("p.set", old);
  const bool root = ::geteuid() == 0;
  if (root) {
    // The directory is nobody's, so only the file's own mode protects it.
    ASSERT_EQ(::chown(dir.Path().c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(::chown("p.set", kNobody, kNobody), 0);
  }
  ASSERT_EQ(::chmod("p.set", 0444), 0);
  const int result = InChild([&] {
    if (root && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
      return int{kCannotSetUp};
    AtomicFileWriter writer;
    if (!writer.Open("p.set")) return int{kRefused};
    return writer.Commit("new") ? int{kReplaced} : int{kOpenedButNotReplaced};
  });
  if (result == kCannotSetUp) GTEST_SKIP() << "cannot change to user 65534 (nobody) here";
  ASSERT_EQ(result, kRefused);
  ASSERT_EQ(ScratchDir::Read("p.set"), old);
  ASSERT_EQ(ScratchDir::Entries(), std::vector<std::string>{"p.set"});
}

TEST(AtomicFile, CannotOpenWhereNoOrdinaryFileCanBe) {
  ScratchDir dir;
  std::filesystem::create_directory("dir.set");
  for (const char* path : {"dir.set", "missing/x.set", ""}) {
    SCOPED_TRACE(path);
    AtomicFileWriter writer;
    EXPECT_FALSE(writer.Open(path));
  }
  EXPECT_EQ(ScratchDir::Entries(), std::vector<std::string>{"dir.set"});
}

// Why a file could not be read or written, in the terms the operator acts
// on. The permission cases run as user nobody when the tests run as root,
// whom no permission stops; the full disk is a file size limit of 0.
TEST(FileFaults, SayWhyAFileCouldNotBeReadOrWritten) {
  constexpr uid_t kNobody = 65534;
  const bool root = ::geteuid() == 0;
  enum Op { Read, Write };
  enum Where { Here, AsOrdinaryUser, OnAFullDisk };
  struct Case {
    const char* name;
    Op op;
    const char* path;
    Where where;
    FileFault fault;
  } cases[] = {
      {"read a missing file", Read, "none.set", Here, FileFault::NoSuchFile},
      {"read an empty name", Read, "", Here, FileFault::NoSuchFile},
      {"read a directory", Read, "dir.set", Here, FileFault::NotOrdinaryFile},
      {"read a pipe", Read, "pipe.set", Here, FileFault::NotOrdinaryFile},
      {"read an unreadable file", Read, "secret.set", AsOrdinaryUser, FileFault::NoPermission},
      {"read a file", Read, "ro.set", Here, FileFault::None},
      {"write into a missing directory", Write, "missing/x.set", Here, FileFault::NoSuchFile},
      {"write an empty name", Write, "", Here, FileFault::NoSuchFile},
      {"write over a directory", Write, "dir.set", Here, FileFault::NotOrdinaryFile},
      {"write over a pipe", Write, "pipe.set", Here, FileFault::NotOrdinaryFile},
      {"write over a read-only file", Write, "ro.set", AsOrdinaryUser, FileFault::NoPermission},
      {"write into a read-only directory", Write, "ro/x.set", AsOrdinaryUser, FileFault::NoPermission},
      {"write on a full disk", Write, "new.set", OnAFullDisk, FileFault::DiskFull},
      {"write a new file", Write, "new.set", Here, FileFault::None},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScratchDir dir;
    std::filesystem::create_directory("dir.set");
    std::filesystem::create_directory("ro");
    ASSERT_EQ(::mkfifo("pipe.set", 0600), 0);
    ScratchDir::Write("secret.set", "x");
    ScratchDir::Write("ro.set", "x");
    for (const std::string& path :
         {dir.Path(), std::string("ro"), std::string("secret.set"), std::string("ro.set")}) {
      if (root) {
        ASSERT_EQ(::chown(path.c_str(), kNobody, kNobody), 0);
      }
    }
    ASSERT_EQ(::chmod("secret.set", 0), 0);
    ASSERT_EQ(::chmod("ro.set", 0444), 0);
    ASSERT_EQ(::chmod("ro", 0555), 0);
    auto attempt = [&] {
      if (c.op == Read) {
        std::string bytes;
        FileFault fault = FileFault::Other;
        ReadSettingsFile(c.path, bytes, &fault);
        return static_cast<int>(fault);
      }
      AtomicFileWriter writer;
      if (writer.Open(c.path)) writer.Commit(PadToBlocks("new\r\n"));
      return static_cast<int>(writer.Fault());
    };
    int result;
    if (c.where == Here) {
      result = attempt();
    } else if (c.where == AsOrdinaryUser) {
      result = InChild([&] {
        if (root && (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0))
          return int{kCannotSetUp};
        return attempt();
      });
      if (result == kCannotSetUp) GTEST_SKIP() << "cannot change to user 65534 (nobody) here";
    } else {
      result = InChild([&] {
        rlimit limit{};
        if (::getrlimit(RLIMIT_FSIZE, &limit) != 0) return int{kCannotSetUp};
        limit.rlim_cur = 0;
        if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
          return int{kCannotSetUp};
        return attempt();
      });
    }
    EXPECT_EQ(result, static_cast<int>(c.fault));
    ASSERT_EQ(::chmod("ro", 0755), 0);
  }
}

}  // namespace
}  // namespace tv
