// Byte streams with a position, shared by the socket layer and the clients:
// a growable in-memory stream and a file stream. Sizes and offsets are
// 64-bit. Also the string list used for header lines, cookies and listings.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

using TStringList = std::vector<std::string>;

enum class TSeekOrigin { Begin, Current, End };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to Count bytes at the position; returns how many were read.
  virtual std::int64_t Read(void* Buffer, std::int64_t Count) = 0;
  // Writes Count bytes at the position; returns how many were written.
  virtual std::int64_t Write(const void* Buffer, std::int64_t Count) = 0;
  // Moves the position; returns the new position, or -1 on failure.
  virtual std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) = 0;
  virtual std::int64_t Size() = 0;
  // Truncates or extends; the position is kept within the new size.
  virtual bool SetSize(std::int64_t NewSize) = 0;

  std::int64_t Position() { return Seek(0, TSeekOrigin::Current); }
  void SetPosition(std::int64_t NewPosition) { Seek(NewPosition, TSeekOrigin::Begin); }
};

// A growable byte buffer with a position.
class TMemoryStream : public TStream {
 public:
  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t Size() override { return static_cast<std::int64_t>(Data_.size()); }
  bool SetSize(std::int64_t NewSize) override;

  // Empties the stream and rewinds it.
  void Clear();
  // The whole content, independent of the position.
  const std::string& Data() const { return Data_; }
  std::string& Data() { return Data_; }

 private:
  std::string Data_;
  std::int64_t Position_ = 0;
};

// Open modes of a file stream.
enum class TFileMode {
  OpenRead,       // existing file, read only
  OpenReadWrite,  // existing file, read and write
  Create,         // create or truncate, read and write
};

// A file on disk; the descriptor is closed by the destructor.
class TFileStream : public TStream {
 public:
  TFileStream() = default;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;
  ~TFileStream() override;

  // Opens FileName; false (and errno set) when the system refuses.
  bool Open(const std::string& FileName, TFileMode Mode);
  void Close();
  bool IsOpen() const { return Fd_ >= 0; }

  std::int64_t Read(void* Buffer, std::int64_t Count) override;
  std::int64_t Write(const void* Buffer, std::int64_t Count) override;
  std::int64_t Seek(std::int64_t Offset, TSeekOrigin Origin) override;
  std::int64_t Size() override;
  bool SetSize(std::int64_t NewSize) override;

 private:
  int Fd_ = -1;
};
