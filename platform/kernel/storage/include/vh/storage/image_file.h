// A sparse image file: the bytes of one emulated disk. Holes read as zeros,
// so a multi-gigabyte disk costs only the sectors that were written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <string>

#include "vh/storage/status.h"

namespace vh::storage {

class ImageFile {
 public:
  // Creates (or truncates) the file with the given size, leaving it a hole.
  static Status Create(const std::string& path, uint64_t bytes, std::unique_ptr<ImageFile>* out);
  static Status Open(const std::string& path, std::unique_ptr<ImageFile>* out);

  const std::string& Path() const { return path_; }
  uint64_t Size() const { return size_; }
  // Whole-range transfers inside the file; false on a host I/O error.
  bool ReadAt(uint64_t offset, void* buffer, size_t length);
  bool WriteAt(uint64_t offset, const void* buffer, size_t length);
  bool Flush();

 private:
  ImageFile(std::string path, uint64_t size) : path_(std::move(path)), size_(size) {}

  std::string path_;
  uint64_t size_;
  std::fstream stream_;
};

}  // namespace vh::storage
