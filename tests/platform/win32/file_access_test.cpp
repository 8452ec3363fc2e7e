// Settings files on Windows: UTF-8 names to the wide API and back, the
// whole-or-nothing replace, what cannot be read or replaced and why, and the
// error codes as the operator's reasons.
#include "platform/file_access.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/win32/win32_text.h"
#include "tests/support/scratch_dir.h"

namespace tv {
namespace {

using test::ScratchDir;

const std::string kCyrillicName = "\xd1\x82\xd0\xb5\xd1\x81\xd1\x82.set";  // UTF-8 of тест.set

std::vector<std::string> Sorted(std::vector<std::string> names) {
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Win32FileAccess, NamesTravelAsUtf8AndReachTheFileSystemAsWide) {
  ScratchDir dir;
  ASSERT_TRUE(WriteFileAtomically(kCyrillicName, "1,\"2\"\r\n"));
  // The file on the disk has the Cyrillic name, not its bytes read as ANSI.
  EXPECT_TRUE(std::filesystem::exists(std::filesystem::path(L"\u0442\u0435\u0441\u0442.set")));
  std::string bytes;
  EXPECT_EQ(ReadSettingsFile(kCyrillicName, bytes), FileReadResult::Ok);
  EXPECT_EQ(bytes, "1,\"2\"\r\n");
  EXPECT_EQ(ListOrdinaryFiles("."), std::vector<std::string>{kCyrillicName});
  // A name typed on the tool's keyboard arrives in cp866.
  const std::string cp866Name = "\xe2\xa5\xe1\xe2.set";  // тест.set in cp866
  EXPECT_EQ(ReadSettingsFile(cp866Name, bytes), FileReadResult::Ok);
  EXPECT_EQ(NameFromWide(WideFromName(kCyrillicName)), kCyrillicName);
}

TEST(Win32FileAccess, ListsOrdinaryFilesOnly) {
  ScratchDir dir;
  for (const char* name : {"b.set", "A.SET", "x.txt"}) ScratchDir::Write(name, "");
  std::filesystem::create_directory("dir.set");
  EXPECT_EQ(Sorted(ListOrdinaryFiles(".")), (std::vector<std::string>{"A.SET", "b.set", "x.txt"}));
  EXPECT_EQ(Sorted(ListOrdinaryFiles(dir.Path())), (std::vector<std::string>{"A.SET", "b.set", "x.txt"}));
  EXPECT_TRUE(ListOrdinaryFiles("no such dir").empty());
}

TEST(Win32FileAccess, ReplacesWholeAndLeavesNoTemporaryFile) {
  ScratchDir dir;
  ScratchDir::Write("a.set", "old contents");
  ASSERT_TRUE(WriteFileAtomically("a.set", "new"));
  EXPECT_EQ(ScratchDir::Read("a.set"), "new");
  EXPECT_EQ(ScratchDir::Entries(), std::vector<std::string>{"a.set"});

  // Not committed: the target as it was, the temporary file gone.
  {
    AtomicFileWriter writer;
    ASSERT_TRUE(writer.Open("a.set"));
    EXPECT_EQ(ScratchDir::Entries().size(), 2u);
  }
  EXPECT_EQ(ScratchDir::Read("a.set"), "new");
  EXPECT_EQ(ScratchDir::Entries(), std::vector<std::string>{"a.set"});

  // Into a subdirectory, by either separator.
  std::filesystem::create_directory("sub");
  ASSERT_TRUE(WriteFileAtomically("sub\\b.set", "b"));
  ASSERT_TRUE(WriteFileAtomically("sub/b.set", "bb"));
  EXPECT_EQ(ScratchDir::Read("sub/b.set"), "bb");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator("sub"), std::filesystem::directory_iterator()),
            1);
}

TEST(Win32FileAccess, WhatCannotBeReadOrReplacedSaysWhy) {
  ScratchDir dir;
  std::filesystem::create_directory("d.set");
  ScratchDir::Write("ro.set", "kept");
  ASSERT_TRUE(SetFileAttributesW(L"ro.set", FILE_ATTRIBUTE_READONLY));
  ScratchDir::Write("big.set", std::string(40000, '1'));

  struct ReadCase {
    const char* name;
    FileReadResult result;
    FileFault fault;
  } reads[] = {
      {"none.set", FileReadResult::OpenFailed, FileFault::NoSuchFile},
      {"nodir\\none.set", FileReadResult::OpenFailed, FileFault::NoSuchFile},
      {"", FileReadResult::OpenFailed, FileFault::NoSuchFile},
      {"d.set", FileReadResult::OpenFailed, FileFault::NotOrdinaryFile},
      {"big.set", FileReadResult::TooLarge, FileFault::None},
      {"ro.set", FileReadResult::Ok, FileFault::None},
  };
  for (const ReadCase& c : reads) {
    SCOPED_TRACE(c.name);
    std::string bytes;
    FileFault fault = FileFault::Other;
    EXPECT_EQ(ReadSettingsFile(c.name, bytes, &fault), c.result);
    EXPECT_EQ(fault, c.fault);
  }

  struct WriteCase {
    const char* name;
    FileFault fault;
  } writes[] = {
      {"d.set", FileFault::NotOrdinaryFile},
      {"ro.set", FileFault::NoPermission},
      {"nodir\\new.set", FileFault::NoSuchFile},
      {"", FileFault::NoSuchFile},
  };
  for (const WriteCase& c : writes) {
    SCOPED_TRACE(c.name);
    AtomicFileWriter writer;
    EXPECT_FALSE(writer.Open(c.name));
    EXPECT_EQ(writer.Fault(), c.fault);
  }
  EXPECT_EQ(ScratchDir::Read("ro.set"), "kept");
  SetFileAttributesW(L"ro.set", FILE_ATTRIBUTE_NORMAL);
}

TEST(Win32FileAccess, ErrorCodesBecomeTheOperatorsReasons) {
  struct Case {
    DWORD error;
    FileFault fault;
  } cases[] = {
      {ERROR_SUCCESS, FileFault::None},
      {ERROR_FILE_NOT_FOUND, FileFault::NoSuchFile},
      {ERROR_PATH_NOT_FOUND, FileFault::NoSuchFile},
      {ERROR_INVALID_NAME, FileFault::NoSuchFile},
      {ERROR_ACCESS_DENIED, FileFault::NoPermission},
      {ERROR_WRITE_PROTECT, FileFault::NoPermission},
      {ERROR_DISK_FULL, FileFault::DiskFull},
      {ERROR_HANDLE_DISK_FULL, FileFault::DiskFull},
      {1295 /* ERROR_DISK_QUOTA_EXCEEDED */, FileFault::DiskFull},
      {ERROR_DIRECTORY, FileFault::NotOrdinaryFile},
      {ERROR_SHARING_VIOLATION, FileFault::Other},
      {ERROR_LOCK_VIOLATION, FileFault::Other},
      {ERROR_GEN_FAILURE, FileFault::Other},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.error);
    EXPECT_EQ(FileFaultOf(c.error), c.fault);
  }
}

}  // namespace
}  // namespace tv
