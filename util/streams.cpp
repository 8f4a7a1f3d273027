#include "util/streams.h"

#include <algorithm>
#include <cstring>

std::int64_t TMemoryStream::Read(void* Buffer, std::int64_t Count) {
  const std::int64_t Available = Size() - Position_;
  const std::int64_t Take = std::min(Count, Available);
  if (Take <= 0) return 0;
  std::memcpy(Buffer, Data_.data() + Position_, static_cast<size_t>(Take));
  Position_ += Take;
  return Take;
}

std::int64_t TMemoryStream::Write(const void* Buffer, std::int64_t Count) {
  if (Count <= 0) return 0;
  const auto End = static_cast<size_t>(Position_ + Count);
  if (End > Data_.size()) Data_.resize(End);
  std::memcpy(Data_.data() + Position_, Buffer, static_cast<size_t>(Count));
  Position_ += Count;
  return Count;
}

std::int64_t TMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  std::int64_t Base = 0;
  if (Origin == TSeekOrigin::Current) Base = Position_;
  if (Origin == TSeekOrigin::End) Base = Size();
  const std::int64_t Target = Base + Offset;
  if (Target < 0) return -1;
  Position_ = Target;
  return Position_;
}

bool TMemoryStream::SetSize(std::int64_t NewSize) {
  if (NewSize < 0) return false;
  Data_.resize(static_cast<size_t>(NewSize));
  Position_ = std::min(Position_, NewSize);
  return true;
}

void TMemoryStream::Clear() {
  Data_.clear();
  Position_ = 0;
}
