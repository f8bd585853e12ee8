#include "vh/storage/image_file.h"

#include <limits>

namespace vh::storage {

namespace {

bool FitsStreamOffset(uint64_t offset, size_t length) {
  const auto limit = static_cast<uint64_t>(std::numeric_limits<std::streamoff>::max());
  return offset <= limit && length <= limit - offset;
}

}  // namespace

Status ImageFile::Create(const std::string& path, uint64_t bytes, std::unique_ptr<ImageFile>* out) {
  if (bytes == 0 || !FitsStreamOffset(bytes, 0)) return kStatusInvalidParameter;
  std::unique_ptr<ImageFile> image(new ImageFile(path, bytes));
  image->stream_.open(path, std::ios::binary | std::ios::in | std::ios::out | std::ios::trunc);
  if (!image->stream_) return kStatusUnsuccessful;
  // Writing only the last byte leaves everything before it a hole.
  const char zero = 0;
  if (!image->WriteAt(bytes - 1, &zero, 1) || !image->Flush()) return kStatusUnsuccessful;
  *out = std::move(image);
  return kStatusSuccess;
}

Status ImageFile::Open(const std::string& path, std::unique_ptr<ImageFile>* out) {
  std::unique_ptr<ImageFile> image(new ImageFile(path, 0));
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
  stream_.clear();
  stream_.seekg(static_cast<std::streamoff>(offset));
  stream_.read(static_cast<char*>(buffer), static_cast<std::streamsize>(length));
  return static_cast<size_t>(stream_.gcount()) == length;
}

bool ImageFile::WriteAt(uint64_t offset, const void* buffer, size_t length) {
  if (!FitsStreamOffset(offset, length)) return false;
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
  stream_.flush();
  return static_cast<bool>(stream_);
}

}  // namespace vh::storage
