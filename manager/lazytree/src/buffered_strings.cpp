#include "lazytree/buffered_strings.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace kelm::lazytree {

template <class Char, size_t NewLineReserve>
TBufferedStringBase<Char, NewLineReserve>::~TBufferedStringBase() {
  std::free(start_);
}

template <class Char, size_t NewLineReserve>
void TBufferedStringBase<Char, NewLineReserve>::Grow(size_t units) {
  const size_t capacity = Capacity();
  if (units > std::numeric_limits<size_t>::max() / sizeof(Char) - capacity) throw std::bad_alloc();
  const size_t newCapacity = capacity + units;
  const size_t length = Length();
  void* block = std::realloc(start_, newCapacity * sizeof(Char));
  if (!block && newCapacity != 0) throw std::bad_alloc();
  start_ = static_cast<Char*>(block);
  position_ = start_ + length;
  end_ = start_ + newCapacity;
}

template <class Char, size_t NewLineReserve>
void TBufferedStringBase<Char, NewLineReserve>::Add(std::basic_string_view<Char> text) {
  const size_t length = text.size();
  if (length >= static_cast<size_t>(end_ - position_)) {
    if (length > std::numeric_limits<size_t>::max() - kGrowth) throw std::bad_alloc();
    Grow((length + kGrowth - 1) / kGrowth * kGrowth);
  }
  if (length == 0) return;
  std::memcpy(position_, text.data(), length * sizeof(Char));
  position_ += length;
}

template <class Char, size_t NewLineReserve>
void TBufferedStringBase<Char, NewLineReserve>::AddNewLine() {
  if (static_cast<size_t>(end_ - position_) <= NewLineReserve) Grow(kGrowth);
  *position_++ = Char(13);
  *position_++ = Char(10);
}

template class TBufferedStringBase<char, 2>;
template class TBufferedStringBase<char16_t, 4>;

}  // namespace kelm::lazytree
