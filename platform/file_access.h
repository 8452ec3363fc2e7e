// File access the transfers need, one implementation per platform: a
// settings file read whole, and a file replaced whole or not at all.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace tv {

// Why a file could not be read or written, in the terms the operator can act
// on: the name, the permissions of the file or its directory, the disk, or
// a name that belongs to a directory, a device or a pipe.
enum class FileFault { None, NoSuchFile, NoPermission, DiskFull, NotOrdinaryFile, Other };

// A file that holds what only its owner may read (the exchange trace: the
// whole configuration of a gateway): created when missing, and readable and
// writable by its owner alone, an existing one narrowed to that. Nothing
// where the platform has no such permissions. False when it cannot be made so.
bool KeepToOwner(const std::string& path);

// Reading a whole settings file.
enum class FileReadResult { Ok, OpenFailed, TooLarge };
// Ok with the whole file in bytes; OpenFailed when the path is not a
// readable ordinary file (why in fault, when given); TooLarge (bytes left
// empty) above 32768 bytes.
FileReadResult ReadSettingsFile(const std::string& path, std::string& bytes, FileFault* fault = nullptr);

// A file that replaces its target only when it is whole: the bytes go to a
// temporary file in the target's directory, are flushed to the disk, and
// the temporary file is then renamed over the target. Until Commit succeeds
// the target is untouched; a writer destroyed without a successful Commit
// removes its temporary file. A target that is new is readable and writable
// by its owner only (where the platform has such permissions); one that is
// replaced keeps its mode.
class AtomicFileWriter {
 public:
  AtomicFileWriter() = default;
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;
  ~AtomicFileWriter() { Discard(); }

  // Creates the temporary file; false when the target cannot be written
  // there (no such directory, not writable, the target is not an ordinary file).
  bool Open(const std::string& path);
  // Writes all bytes, flushes them and puts the file in place. Not durable:
  // the same without waiting for the disk (a file rewritten many times a
  // second; whole for every reader and after the program is killed, but a
  // power cut may bring back an earlier version).
  bool Commit(std::string_view bytes, bool durable = true);
  // Removes the temporary file, if any.
  void Discard();
  // Why the last Open or Commit failed; None after one that succeeded.
  FileFault Fault() const { return fault_; }

 private:
  bool Fail(FileFault fault);

  int fd_ = -1;
  FileFault fault_ = FileFault::None;
  std::string target_;
  std::string temp_;
};

// The names of the ordinary files in a directory (links followed), in no
// particular order; empty when the directory cannot be read.
std::vector<std::string> ListOrdinaryFiles(const std::string& dir);

// Open and Commit in one step.
bool WriteFileAtomically(const std::string& path, std::string_view bytes);

// Removes an ordinary file; true when it is gone (or was never there).
bool RemoveFile(const std::string& path);

// When the file was last written, in seconds of the platform's own epoch
// (only for ordering files); 0 when it cannot be told.
long long FileModifiedTime(const std::string& path);

}  // namespace tv
