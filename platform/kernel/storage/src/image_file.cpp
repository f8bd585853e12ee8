#include "vh/storage/image_file.h"

#include <cstdlib>
#include <cstring>
#include <limits>

#if !defined(_WIN32)
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace vh::storage {

namespace {

bool FitsStreamOffset(uint64_t offset, size_t length) {
  const auto limit = static_cast<uint64_t>(std::numeric_limits<std::streamoff>::max());
  return offset <= limit && length <= limit - offset;
}

#if !defined(_WIN32)
// Unbuffered transfers move whole blocks of this size from memory aligned to
// it: the largest logical block a host device is likely to demand.
constexpr uint64_t kDirectAlign = 4096;

// Reads up to `length` bytes; *got stops short only at the file's end.
bool ReadFully(int fd, void* buffer, size_t length, uint64_t offset, size_t* got) {
  *got = 0;
  while (*got < length) {
    const ssize_t n = pread(fd, static_cast<char*>(buffer) + *got, length - *got,
                            static_cast<off_t>(offset + *got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    *got += static_cast<size_t>(n);
  }
  return true;
}

bool WriteFully(int fd, const void* buffer, size_t length, uint64_t offset) {
  size_t done = 0;
  while (done < length) {
    const ssize_t n = pwrite(fd, static_cast<const char*>(buffer) + done, length - done,
                             static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

struct AlignedFree {
  void operator()(void* p) const { std::free(p); }
};
using Bounce = std::unique_ptr<uint8_t, AlignedFree>;

Bounce MakeBounce(size_t bytes) {
  void* p = nullptr;
  if (posix_memalign(&p, kDirectAlign, bytes) != 0) return nullptr;
  return Bounce(static_cast<uint8_t*>(p));
}
#endif

}  // namespace

ImageFile::~ImageFile() {
#if !defined(_WIN32)
  if (fd_ >= 0) close(fd_);
#endif
}

bool ImageFile::OpenDescriptor(bool create) {
#if defined(_WIN32)
  (void)create;
  return false;
#else
  const int flags = O_RDWR | O_CLOEXEC | (create ? O_CREAT | O_TRUNC : 0);
#if defined(O_DIRECT)
  if (options_.unbuffered) {
    fd_ = open(path_.c_str(), flags | O_DIRECT, 0644);
    if (fd_ >= 0) {
      direct_ = true;
      return true;
    }
    // A file system without unbuffered transfers (tmpfs) says EINVAL.
    if (errno != EINVAL) return false;
  }
#endif
  fd_ = open(path_.c_str(), flags, 0644);
  return fd_ >= 0;
#endif
}

Status ImageFile::Create(const std::string& path, uint64_t bytes, std::unique_ptr<ImageFile>* out,
                         const ImageOptions& options) {
  if (bytes == 0 || !FitsStreamOffset(bytes, 0)) return kStatusInvalidParameter;
  std::unique_ptr<ImageFile> image(new ImageFile(path, bytes, options));
#if !defined(_WIN32)
  if (image->UsesDescriptor()) {
    if (!image->OpenDescriptor(true)) return kStatusUnsuccessful;
    if (ftruncate(image->fd_, static_cast<off_t>(bytes)) != 0) return kStatusUnsuccessful;
    *out = std::move(image);
    return kStatusSuccess;
  }
#endif
  image->stream_.open(path, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
  if (!image->stream_) return kStatusUnsuccessful;
  // Writing only the last byte leaves everything before it a hole.
  const char zero = 0;
  if (!image->WriteAt(bytes - 1, &zero, 1) || !image->Flush()) return kStatusUnsuccessful;
  *out = std::move(image);
  return kStatusSuccess;
}

Status ImageFile::Open(const std::string& path, std::unique_ptr<ImageFile>* out,
                       const ImageOptions& options) {
  std::unique_ptr<ImageFile> image(new ImageFile(path, 0, options));
#if !defined(_WIN32)
  if (image->UsesDescriptor()) {
    if (!image->OpenDescriptor(false)) return kStatusObjectNameNotFound;
    struct stat info {};
    if (fstat(image->fd_, &info) != 0 || info.st_size <= 0) return kStatusUnsuccessful;
    image->size_ = static_cast<uint64_t>(info.st_size);
    *out = std::move(image);
    return kStatusSuccess;
  }
#endif
  image->stream_.open(path, std::ios::binary | std::ios::in | std::ios::out);
  if (!image->stream_) return kStatusObjectNameNotFound;
  image->stream_.seekg(0, std::ios::end);
  const std::streamoff end = image->stream_.tellg();
  if (end <= 0) return kStatusUnsuccessful;
  image->size_ = static_cast<uint64_t>(end);
  *out = std::move(image);
  return kStatusSuccess;
}

bool ImageFile::ReadAt(uint64_t offset, void* buffer, size_t length) {
  if (!FitsStreamOffset(offset, length) || offset + length > size_) return false;
  if (fd_ >= 0) return DescriptorRead(offset, buffer, length);
  stream_.clear();
  stream_.seekg(static_cast<std::streamoff>(offset));
  stream_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(length));
  return static_cast<size_t>(stream_.gcount()) == length;
}

bool ImageFile::WriteAt(uint64_t offset, const void* buffer, size_t length) {
  if (!FitsStreamOffset(offset, length)) return false;
  if (fd_ >= 0) {
    if (!DescriptorWrite(offset, buffer, length)) return false;
    if (offset + length > size_) size_ = offset + length;
    return true;
  }
  stream_.clear();
  stream_.seekp(static_cast<std::streamoff>(offset));
  stream_.write(static_cast<const char*>(buffer), static_cast<std::streamsize>(length));
  // A completed write is on the image: another open of it (a restorer, the
  // next boot) must see it.
  stream_.flush();
  if (offset + length > size_) size_ = offset + length;
  return static_cast<bool>(stream_);
}

bool ImageFile::Flush() {
#if !defined(_WIN32)
  if (fd_ >= 0) return !options_.syncOnFlush || fdatasync(fd_) == 0;
#endif
  stream_.flush();
  return static_cast<bool>(stream_);
}

#if defined(_WIN32)
bool ImageFile::DescriptorRead(uint64_t, void*, size_t) { return false; }
bool ImageFile::DescriptorWrite(uint64_t, const void*, size_t) { return false; }
#else
bool ImageFile::DescriptorRead(uint64_t offset, void* buffer, size_t length) {
  if (!direct_) {
    size_t got = 0;
    if (!ReadFully(fd_, buffer, length, offset, &got)) return false;
    // Inside the size but past the host file's end: a hole.
    std::memset(static_cast<char*>(buffer) + got, 0, length - got);
    return true;
  }
  const uint64_t first = offset / kDirectAlign * kDirectAlign;
  const uint64_t end = (offset + length + kDirectAlign - 1) / kDirectAlign * kDirectAlign;
  Bounce bounce = MakeBounce(end - first);
  if (!bounce) return false;
  size_t got = 0;
  if (!ReadFully(fd_, bounce.get(), end - first, first, &got)) {
    if (errno != EINVAL) return false;
    // Opened unbuffered but refused at the first transfer: go on buffered.
    direct_ = false;
    (void)fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_DIRECT);
    return DescriptorRead(offset, buffer, length);
  }
  std::memset(bounce.get() + got, 0, end - first - got);
  std::memcpy(buffer, bounce.get() + (offset - first), length);
  return true;
}

bool ImageFile::DescriptorWrite(uint64_t offset, const void* buffer, size_t length) {
  if (!direct_) return WriteFully(fd_, buffer, length, offset);
  const uint64_t first = offset / kDirectAlign * kDirectAlign;
  const uint64_t end = (offset + length + kDirectAlign - 1) / kDirectAlign * kDirectAlign;
  Bounce bounce = MakeBounce(end - first);
  if (!bounce) return false;
  // Partial blocks at either edge keep the bytes around the write.
  bool refused = false;
  auto fillBlock = [&](uint64_t at) {
    size_t got = 0;
    if (!ReadFully(fd_, bounce.get() + (at - first), kDirectAlign, at, &got)) {
      refused = errno == EINVAL;
      return false;
    }
    std::memset(bounce.get() + (at - first) + got, 0, kDirectAlign - got);
    return true;
  };
  bool ok = true;
  if (offset != first) ok = fillBlock(first);
  if (ok && offset + length != end && (end - kDirectAlign != first || offset == first)) {
    ok = fillBlock(end - kDirectAlign);
  }
  if (ok) {
    std::memcpy(bounce.get() + (offset - first), buffer, length);
    ok = WriteFully(fd_, bounce.get(), end - first, first);
    refused = !ok && errno == EINVAL;
  }
  if (!ok) {
    if (!refused) return false;
    direct_ = false;
    (void)fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_DIRECT);
    return DescriptorWrite(offset, buffer, length);
  }
  // Whole blocks may have written past the image's end: cut it back.
  const uint64_t size = offset + length > size_ ? offset + length : size_;
  return end <= size || ftruncate(fd_, static_cast<off_t>(size)) == 0;
}
#endif

}  // namespace vh::storage
