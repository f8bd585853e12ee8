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

// How the host file is opened. The default suits tests: every completed
// write is in the host's page cache, which another open sees at once.
// Benchmarks ask for what a disk sees instead.
struct ImageOptions {
  // Transfers bypass the host's page cache (O_DIRECT through aligned bounce
  // buffers). A file system that refuses it gets ordinary transfers instead;
  // ImageFile::Unbuffered() tells which.
  bool unbuffered = false;
  // Flush() waits until the data is on the host's device (fdatasync).
  bool syncOnFlush = false;
};

class ImageFile {
 public:
  ~ImageFile();
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  // Creates (or truncates) the file with the given size, leaving it a hole.
  static Status Create(const std::string& path, uint64_t bytes, std::unique_ptr<ImageFile>* out,
                       const ImageOptions& options = {});
  static Status Open(const std::string& path, std::unique_ptr<ImageFile>* out,
                     const ImageOptions& options = {});

  const std::string& Path() const { return path_; }
  uint64_t Size() const { return size_; }
  const ImageOptions& Options() const { return options_; }
  // True when transfers really bypass the host's page cache.
  bool Unbuffered() const { return direct_; }
  // Whole-range transfers inside the file; false on a host I/O error.
  bool ReadAt(uint64_t offset, void* buffer, size_t length);
  bool WriteAt(uint64_t offset, const void* buffer, size_t length);
  bool Flush();

 private:
  ImageFile(std::string path, uint64_t size, const ImageOptions& options)
      : path_(std::move(path)), size_(size), options_(options) {}
  bool UsesDescriptor() const { return options_.unbuffered || options_.syncOnFlush; }
  bool OpenDescriptor(bool create);
  bool DescriptorRead(uint64_t offset, void* buffer, size_t length);
  bool DescriptorWrite(uint64_t offset, const void* buffer, size_t length);

  std::string path_;
  uint64_t size_;
  ImageOptions options_;
  std::fstream stream_;  // the default path
  int fd_ = -1;          // with options: a host descriptor
  bool direct_ = false;
};

}  // namespace vh::storage
