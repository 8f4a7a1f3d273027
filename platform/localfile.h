// The one way a job writes a local file. A file is created new and
// exclusively next to its final name, never through a link and never opening
// an existing entry, written, and put in place by one rename: nothing the run
// did not create is truncated or removed, except the final name the rename
// replaces.
#pragma once

#include <cstdint>
#include <string>

#include "util/streams.h"

class TLocalFileWriter : public TStream {
 public:
  TLocalFileWriter() = default;
  TLocalFileWriter(const TLocalFileWriter&) = delete;
  TLocalFileWriter& operator=(const TLocalFileWriter&) = delete;
  // Removes the temporary file unless it was committed.
  ~TLocalFileWriter() override;

  // Creates the temporary file for FinalName: FinalName + ".tmp" when no entry of any kind exists
  // under that name, else a fresh unique name in the same directory that still ends in ".tmp".
  // O_CREAT|O_EXCL|O_NOFOLLOW|O_CLOEXEC, mode 0666 less the umask. False, with the system's reason,
  // when it cannot. A file this object still holds is discarded first.
  bool Create(const std::string& FinalName, std::string& Reason);
  const std::string& TempName() const { return TempName_; }
  const std::string& FinalName() const { return FinalName_; }
  bool IsOpen() const { return Fd_ >= 0; }

  // TStream over the open file. Write returns the bytes written; a short count means failure, and
  // LastReason() then holds the system's reason (disk full, file too large, ...).
  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t Size() override;
  bool SetSize(std::int64_t NewSize) override;
  const std::string& LastReason() const { return LastReason_; }
  // A write (or the close) fell short: the file is incomplete, LastReason() says why.
  bool WriteFailed() const { return WriteFailed_; }

  // Sets the modification time of the temporary file (whether open or closed), access time kept.
  bool SetModificationTime(std::int64_t UnixSeconds);
  // Closes the file; false with the reason when the last writes failed.
  bool Close(std::string& Reason);
  // Closes it if open and renames the temporary file onto FinalName in one step (an entry at
  // FinalName, a link included, is replaced, not followed). False with the reason.
  bool Commit(std::string& Reason);
  // Closes it if open and removes the temporary file: only the one this object created.
  void Discard();
  // Closes it if open and leaves the temporary file where it is, for a copy that must not be
  // lost when the rename fails (the caller names TempName() in the log).
  void Keep();

 private:
  bool Fail(int Error);
  void CloseQuietly();

  std::intptr_t Fd_ = -1;  // a descriptor; on Windows the file's handle
  bool Created_ = false;  // TempName_ is ours and not yet renamed or removed
  bool WriteFailed_ = false;
  std::uint64_t Device_ = 0;  // identity of the file we created, checked before removing the name
  std::uint64_t Inode_ = 0;
  std::string FinalName_;
  std::string TempName_;
  std::string LastReason_;
};

// Writes Data to FinalName through a TLocalFileWriter (for small side files such as
// "_Header.TXT"). False with the reason; nothing is left behind on failure.
bool WriteLocalFile(const std::string& FinalName, const std::string& Data, std::string& Reason);
