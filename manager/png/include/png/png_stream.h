// The byte streams the codec reads from and writes to. The graphic class
// adapts the class library's streams to this interface; tests and the fuzzer
// use the memory streams below.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kelm::png {

class PngStream {
 public:
  virtual ~PngStream() = default;
  // Reads up to count bytes; returns how many were read (0 at the end).
  virtual size_t Read(void* buffer, size_t count) = 0;
  // Writes all count bytes or throws.
  virtual void Write(const void* buffer, size_t count) = 0;
  virtual uint64_t Position() const = 0;
  virtual uint64_t Size() const = 0;
  virtual void Seek(uint64_t position) = 0;

  // Bytes between the position and the end.
  uint64_t Remaining() const {
    uint64_t size = Size(), pos = Position();
    return pos < size ? size - pos : 0;
  }
};

// Reads from bytes owned by the caller.
class PngReadStream : public PngStream {
 public:
  PngReadStream(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit PngReadStream(const std::vector<uint8_t>& bytes)
      : PngReadStream(bytes.data(), bytes.size()) {}
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  uint64_t Position() const override { return pos_; }
  uint64_t Size() const override { return size_; }
  void Seek(uint64_t position) override { pos_ = position < size_ ? size_t(position) : size_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// Grows a byte vector.
class PngMemoryStream : public PngStream {
 public:
  size_t Read(void* buffer, size_t count) override;
  void Write(const void* buffer, size_t count) override;
  uint64_t Position() const override { return pos_; }
  uint64_t Size() const override { return bytes_.size(); }
  void Seek(uint64_t position) override;
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  size_t pos_ = 0;
};

}  // namespace kelm::png
