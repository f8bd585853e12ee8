#include "png/png_class_stream.h"

#include <cstdint>
#include <limits>

namespace kelm::png {

namespace {
constexpr uint64_t kMaxOffset = uint64_t(std::numeric_limits<int64_t>::max());
}

size_t PngClassStream::Read(void* buffer, size_t count) {
  int64_t got = stream_->Read(buffer, int64_t(count));
  return got > 0 ? size_t(got) : 0;
}

void PngClassStream::Write(const void* buffer, size_t count) {
  if (count != 0) stream_->WriteBuffer(buffer, int64_t(count));
}

uint64_t PngClassStream::Position() const {
  int64_t pos = stream_->Position();
  return pos > 0 ? uint64_t(pos) : 0;
}

uint64_t PngClassStream::Size() const {
  int64_t size = stream_->Size();
  return size > 0 ? uint64_t(size) : 0;
}

void PngClassStream::Seek(uint64_t position) {
  stream_->SetPosition(int64_t(position < kMaxOffset ? position : kMaxOffset));
}

}  // namespace kelm::png
