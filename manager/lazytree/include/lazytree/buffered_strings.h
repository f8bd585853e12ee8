// Append-only text builders for the tree's exports: one growing block each,
// so that many small pieces cost few reallocations.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kelm::lazytree {

template <class Char, size_t NewLineReserve>
class TBufferedStringBase {
 public:
  TBufferedStringBase() = default;
  ~TBufferedStringBase();
  TBufferedStringBase(const TBufferedStringBase&) = delete;
  TBufferedStringBase& operator=(const TBufferedStringBase&) = delete;

  void Add(std::basic_string_view<Char> text);
  // CR LF.
  void AddNewLine();
  std::basic_string<Char> AsString() const { return std::basic_string<Char>(start_, Length()); }
  // Units written and units the block holds.
  size_t Length() const { return static_cast<size_t>(position_ - start_); }
  size_t Capacity() const { return static_cast<size_t>(end_ - start_); }

 private:
  static constexpr size_t kGrowth = 4096;
  void Grow(size_t units);

  Char* start_ = nullptr;
  Char* position_ = nullptr;
  Char* end_ = nullptr;
};

// 8-bit text; a new line first grows the block when at most 2 bytes are left.
using TBufferedAnsiString = TBufferedStringBase<char, 2>;
// UTF-16 text; a new line first grows the block when at most 4 units are left.
using TWideBufferedString = TBufferedStringBase<char16_t, 4>;

extern template class TBufferedStringBase<char, 2>;
extern template class TBufferedStringBase<char16_t, 4>;

}  // namespace kelm::lazytree
