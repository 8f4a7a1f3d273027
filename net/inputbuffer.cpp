#include "net/inputbuffer.h"

#include <algorithm>

namespace {
// Below this many consumed bytes the front is not worth moving.
constexpr std::size_t CompactThreshold = 64 * 1024;
}  // namespace

void TInputBuffer::Drop(std::size_t Count) {
  Start_ += std::min(Count, size());
  if (Start_ >= Data_.size()) {
    clear();
    return;
  }
  // Moving the rest only once half the buffer is consumed keeps the cost of
  // taking bytes linear overall.
  if (Start_ >= CompactThreshold && Start_ * 2 >= Data_.size()) {
    Data_.erase(0, Start_);
    Start_ = 0;
  }
}

std::string TInputBuffer::Take(std::size_t Count) {
  std::string Result(View().substr(0, Count));
  Drop(Result.size());
  return Result;
}

std::string TInputBuffer::TakeAll() {
  if (Start_ == 0) {
    std::string Result = std::move(Data_);
    clear();
    return Result;
  }
  std::string Result(View());
  clear();
  return Result;
}
