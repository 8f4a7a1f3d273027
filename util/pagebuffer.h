#pragma once

#include <cstddef>
#include <memory>
#include <new>

// A heap buffer whose first byte starts a page. The system copies into a
// buffer that starts off a cache line (as large blocks from malloc do, 16
// bytes into a page) several times slower on some processors: reading a
// cached file into one took five times as long as into an aligned one.
class TPageBuffer {
 public:
  static constexpr std::size_t Alignment = 4096;

  TPageBuffer() = default;
  explicit TPageBuffer(std::size_t Size) { Reserve(Size); }

  char* Data() { return Memory_.get(); }
  std::size_t Size() const { return Size_; }
  // At least Size bytes from now on; what the buffer held is not kept.
  void Reserve(std::size_t Size) {
    if (Size <= Size_) return;
    Memory_.reset(new (std::align_val_t{Alignment}) char[Size]);
    Size_ = Size;
  }

 private:
  struct TRelease {
    void operator()(char* Memory) const { ::operator delete[](Memory, std::align_val_t{Alignment}); }
  };
  std::unique_ptr<char[], TRelease> Memory_;
  std::size_t Size_ = 0;
};
