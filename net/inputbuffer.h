// The bytes a socket has received but not yet handed to a caller. Taking
// bytes off the front is cheap (an offset, compacted now and then), so that
// reading many short lines out of one large packet stays linear.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

class TInputBuffer {
 public:
  TInputBuffer() = default;
  TInputBuffer(std::string Text) : Data_(std::move(Text)) {}
  TInputBuffer& operator=(std::string Text) {
    Data_ = std::move(Text);
    Start_ = 0;
    return *this;
  }
  TInputBuffer& operator+=(std::string_view Text) {
    Data_.append(Text);
    return *this;
  }

  bool empty() const { return Start_ >= Data_.size(); }
  std::size_t size() const { return Data_.size() - Start_; }
  const char* data() const { return Data_.data() + Start_; }
  void clear() {
    Data_.clear();
    Start_ = 0;
  }
  std::string_view View() const { return std::string_view(Data_).substr(Start_); }
  std::string Str() const { return std::string(View()); }

  // Removes Count bytes (all, when fewer are held) from the front.
  void Drop(std::size_t Count);
  // Removes and returns the first Count bytes (all, when fewer are held).
  std::string Take(std::size_t Count);
  // Removes and returns everything.
  std::string TakeAll();

  friend bool operator==(const TInputBuffer& Buffer, std::string_view Text) { return Buffer.View() == Text; }

 private:
  std::string Data_;
  std::size_t Start_ = 0;
};
