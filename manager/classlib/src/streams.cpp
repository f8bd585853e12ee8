#include "classlib/streams.h"

#include <cerrno>
#include <cstring>
#include <limits>

#include "classlib/classdef.h"

#ifdef _WIN32
#include <io.h>
#include <share.h>
#else
#include <unistd.h>
#endif

namespace classlib {

CL_CLASS(TStream) {}
CL_CLASS(TCustomMemoryStream) {}
CL_CLASS(TMemoryStream) {}
CL_CLASS(TResourceStream) {}
CL_CLASS(TStringStream) {}
CL_CLASS(TFileStream) {}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0 || (count != 0 && Read(buffer, count) != count))
    throw EReadError(u"Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0 || (count != 0 && Write(buffer, count) != count))
    throw EWriteError(u"Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count == 0) {
    source.SetPosition(0);
    count = source.Size();
  }
  int64_t done = 0;
  char buf[8192];
  while (done < count) {
    int64_t n = count - done < static_cast<int64_t>(sizeof buf) ? count - done
                                                                : static_cast<int64_t>(sizeof buf);
    source.ReadBuffer(buf, n);
    WriteBuffer(buf, n);
    done += n;
  }
  return done;
}

int64_t TStream::Size() {
  int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  int64_t end = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return end;
}

void TStream::SetSize(int64_t) { throw EStreamError(u"Stream cannot change its size"); }

namespace {
int64_t ClampSeek(int64_t base, int64_t offset) {
  if (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset)
    return std::numeric_limits<int64_t>::max();
  int64_t r = base + offset;
  return r < 0 ? 0 : r;
}
}  // namespace

// ---- memory
void TCustomMemoryStream::SetPointer(const uint8_t* data, int64_t size) {
  data_ = data;
  size_ = size;
}

int64_t TCustomMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || pos_ >= size_) return 0;
  int64_t n = size_ - pos_ < count ? size_ - pos_ : count;
  std::memcpy(buffer, data_ + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TCustomMemoryStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t base =
      origin == TSeekOrigin::soBeginning ? 0 : (origin == TSeekOrigin::soCurrent ? pos_ : size_);
  pos_ = ClampSeek(base, offset);
  return pos_;
}

void TCustomMemoryStream::SaveToStream(TStream& stream) {
  if (size_) stream.WriteBuffer(data_, size_);
}

void TCustomMemoryStream::SaveToFile(const std::u16string& fileName) {
  TFileStream f(fileName, fmCreate);
  SaveToStream(f);
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t end = pos_ + count;
  if (end < pos_) throw EStreamError(u"Out of memory while expanding memory stream");
  if (end > size_) {
    if (static_cast<uint64_t>(end) > buf_.max_size())
      throw EStreamError(u"Out of memory while expanding memory stream");
    buf_.resize(static_cast<size_t>(end));
    SetPointer(buf_.data(), end);
  }
  std::memcpy(buf_.data() + pos_, buffer, static_cast<size_t>(count));
  pos_ = end;
  return count;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) size = 0;
  buf_.resize(static_cast<size_t>(size));
  SetPointer(buf_.data(), size);
  if (pos_ > size) pos_ = size;
}

void TMemoryStream::Clear() {
  buf_.clear();
  SetPointer(nullptr, 0);
  pos_ = 0;
}

void TMemoryStream::LoadFromStream(TStream& stream) {
  stream.SetPosition(0);
  int64_t n = stream.Size();
  SetSize(n);
  if (n) stream.ReadBuffer(buf_.data(), n);
  pos_ = 0;
}

void TMemoryStream::LoadFromFile(const std::u16string& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(f);
}

TResourceStream::TResourceStream(const void* data, int64_t size) {
  SetPointer(static_cast<const uint8_t*>(data), size < 0 ? 0 : size);
}

int64_t TResourceStream::Write(const void*, int64_t) {
  throw EStreamError(u"Can't write to a read-only resource stream");
}

// ---- string
int64_t TStringStream::Read(void* buffer, int64_t count) {
  int64_t size = static_cast<int64_t>(data_.size());
  if (count <= 0 || pos_ >= size) return 0;
  int64_t n = size - pos_ < count ? size - pos_ : count;
  std::memcpy(buffer, data_.data() + pos_, static_cast<size_t>(n));
  pos_ += n;
  return n;
}

int64_t TStringStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  if (static_cast<size_t>(pos_) > data_.size()) data_.resize(static_cast<size_t>(pos_));
  data_.replace(static_cast<size_t>(pos_), static_cast<size_t>(count),
                static_cast<const char*>(buffer), static_cast<size_t>(count));
  pos_ += count;
  return count;
}

int64_t TStringStream::Seek(int64_t offset, TSeekOrigin origin) {
  int64_t size = static_cast<int64_t>(data_.size());
  int64_t base =
      origin == TSeekOrigin::soBeginning ? 0 : (origin == TSeekOrigin::soCurrent ? pos_ : size);
  pos_ = ClampSeek(base, offset);
  return pos_;
}

void TStringStream::SetSize(int64_t size) {
  data_.resize(static_cast<size_t>(size < 0 ? 0 : size));
  if (pos_ > static_cast<int64_t>(data_.size())) pos_ = static_cast<int64_t>(data_.size());
}

// ---- file
namespace {

#ifdef _WIN32
std::FILE* OpenFile(const std::u16string& name, const wchar_t* mode, uint16_t share) {
  int sh = _SH_DENYNO;
  switch (share & 0xF0) {
    case fmShareExclusive:
      sh = _SH_DENYRW;
      break;
    case fmShareDenyWrite:
      sh = _SH_DENYWR;
      break;
    case fmShareDenyRead:
      sh = _SH_DENYRD;
      break;
    default:
      break;
  }
  return _wfsopen(reinterpret_cast<const wchar_t*>(name.c_str()), mode, sh);
}
#define CL_MODE(s) L##s
#else
// Share modes are a Windows notion; the host opens files without them.
std::FILE* OpenFile(const std::u16string& name, const char* mode, uint16_t) {
  return std::fopen(WideToUtf8(name).c_str(), mode);
}
#define CL_MODE(s) s
#endif

std::u16string LastErrorText() { return Utf8ToWide(std::strerror(errno)); }

}  // namespace

TFileStream::TFileStream(const std::u16string& fileName, uint16_t mode) : fileName_(fileName) {
  if (mode == fmCreate || (mode & 0xFF00) == fmCreate) {
    file_ = OpenFile(fileName, CL_MODE("w+b"), static_cast<uint16_t>(mode & 0xF0));
    if (!file_)
      throw EFCreateError(Format(u"Cannot create file \"%s\". %s", {fileName, LastErrorText()}));
    return;
  }
  switch (mode & 0x3) {
    case fmOpenWrite:
    case fmOpenReadWrite:
      file_ = OpenFile(fileName, CL_MODE("r+b"), mode);
      break;
    default:
      file_ = OpenFile(fileName, CL_MODE("rb"), mode);
      break;
  }
  if (!file_)
    throw EFOpenError(Format(u"Cannot open file \"%s\". %s", {fileName, LastErrorText()}));
}

TFileStream::~TFileStream() {
  if (file_) std::fclose(file_);
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  return static_cast<int64_t>(std::fread(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  return static_cast<int64_t>(std::fwrite(buffer, 1, static_cast<size_t>(count), file_));
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin) {
  int whence = origin == TSeekOrigin::soBeginning
                   ? SEEK_SET
                   : (origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END);
#ifdef _WIN32
  if (_fseeki64(file_, offset, whence) != 0) return -1;
  return _ftelli64(file_);
#else
  if (fseeko(file_, static_cast<off_t>(offset), whence) != 0) return -1;
  return static_cast<int64_t>(ftello(file_));
#endif
}

void TFileStream::SetSize(int64_t size) {
  std::fflush(file_);
#ifdef _WIN32
  bool ok = _chsize_s(_fileno(file_), size) == 0;
#else
  bool ok = ftruncate(fileno(file_), static_cast<off_t>(size)) == 0;
#endif
  if (!ok)
    throw EStreamError(
        Format(u"Cannot change the size of \"%s\". %s", {fileName_, LastErrorText()}));
  if (Position() > size) SetPosition(size);
}

}  // namespace classlib
