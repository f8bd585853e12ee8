// The class library's streams seen as the codec's byte stream, so pictures
// load from and save to files, memory and resources alike.
#pragma once

#include "classlib/streams.h"
#include "png/png_stream.h"

namespace kelm::png {

// Works on the stream's own positions: a picture embedded in a larger
// stream reads from where the stream stands.
class PngClassStream : public PngStream {
 public:
  explicit PngClassStream(classlib::TStream& stream) : stream_(&stream) {}
  size_t Read(void* buffer, size_t count) override;
  // Raises the library's EWriteError when the stream takes fewer bytes.
  void Write(const void* buffer, size_t count) override;
  uint64_t Position() const override;
  uint64_t Size() const override;
  void Seek(uint64_t position) override;

 private:
  classlib::TStream* stream_;
};

}  // namespace kelm::png
