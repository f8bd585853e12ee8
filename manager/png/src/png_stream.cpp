#include "png/png_stream.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace kelm::png {

size_t PngReadStream::Read(void* buffer, size_t count) {
  size_t n = std::min(count, size_ - pos_);
  if (n != 0) std::memcpy(buffer, data_ + pos_, n);
  pos_ += n;
  return n;
}

void PngReadStream::Write(const void*, size_t) {
  throw std::logic_error("PngReadStream is read-only");
}

size_t PngMemoryStream::Read(void* buffer, size_t count) {
  size_t n = pos_ < bytes_.size() ? std::min(count, bytes_.size() - pos_) : 0;
  if (n != 0) std::memcpy(buffer, bytes_.data() + pos_, n);
  pos_ += n;
  return n;
}

void PngMemoryStream::Write(const void* buffer, size_t count) {
  if (count == 0) return;
  if (bytes_.size() < pos_ + count) bytes_.resize(pos_ + count);
  std::memcpy(bytes_.data() + pos_, buffer, count);
  pos_ += count;
}

void PngMemoryStream::Seek(uint64_t position) {
  pos_ = size_t(std::min<uint64_t>(position, bytes_.size()));
}

}  // namespace kelm::png
