// Byte streams: the abstract stream, memory, file, string and read-only
// resource streams.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "classlib/object.h"

namespace classlib {

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

class TStream : public TObject {
  CL_DECLARE_CLASS(TStream, TObject)
 public:
  // Moves at most count bytes; answers how many moved.
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;

  // Exactly count bytes, or EReadError "Stream read error".
  void ReadBuffer(void* buffer, int64_t count);
  // Exactly count bytes, or EWriteError "Stream write error".
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies count bytes from source's position; 0 copies all of source
  // from its start. Answers the bytes copied.
  int64_t CopyFrom(TStream& source, int64_t count);

  int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
  void SetPosition(int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
  virtual int64_t Size();
  // Truncates or extends; the position is kept within the new size.
  virtual void SetSize(int64_t size);
  // Bytes between the position and the end.
  int64_t Remaining() { return Size() - Position(); }
};

// A stream over memory that it may or may not own.
class TCustomMemoryStream : public TStream {
  CL_DECLARE_CLASS(TCustomMemoryStream, TStream)
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  int64_t Size() override { return size_; }
  const uint8_t* Memory() const { return data_; }
  void SaveToStream(TStream& stream);
  void SaveToFile(const std::u16string& fileName);

 protected:
  void SetPointer(const uint8_t* data, int64_t size);
  const uint8_t* data_ = nullptr;
  int64_t size_ = 0;
  int64_t pos_ = 0;
};

class TMemoryStream : public TCustomMemoryStream {
  CL_DECLARE_CLASS(TMemoryStream, TCustomMemoryStream)
 public:
  TMemoryStream() = default;
  int64_t Write(const void* buffer, int64_t count) override;
  void SetSize(int64_t size) override;
  void Clear();
  void LoadFromStream(TStream& stream);
  void LoadFromFile(const std::u16string& fileName);
  uint8_t* Memory() { return buf_.data(); }
  std::vector<uint8_t> Bytes() const { return std::vector<uint8_t>(data_, data_ + size_); }

 private:
  std::vector<uint8_t> buf_;
};

// Read-only memory, such as a resource of the program module. The Win32
// part adds construction from a module and a resource name.
class TResourceStream : public TCustomMemoryStream {
  CL_DECLARE_CLASS(TResourceStream, TCustomMemoryStream)
 public:
  TResourceStream(const void* data, int64_t size);
  // Raises EStreamError "Can't write to a read-only resource stream".
  int64_t Write(const void* buffer, int64_t count) override;
};

// 8-bit text as a stream.
class TStringStream : public TStream {
  CL_DECLARE_CLASS(TStringStream, TStream)
 public:
  explicit TStringStream(std::string data = {}) : data_(std::move(data)) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  const std::string& DataString() const { return data_; }

 private:
  std::string data_;
  int64_t pos_ = 0;
};

// File modes: one access mode, optionally or-ed with one share mode.
enum : uint16_t {
  fmOpenRead = 0x0000,
  fmOpenWrite = 0x0001,
  fmOpenReadWrite = 0x0002,
  fmShareCompat = 0x0000,
  fmShareExclusive = 0x0010,
  fmShareDenyWrite = 0x0020,
  fmShareDenyRead = 0x0030,
  fmShareDenyNone = 0x0040,
  fmCreate = 0xFF00,
};

class TFileStream : public TStream {
  CL_DECLARE_CLASS(TFileStream, TStream)
 public:
  // Raises EFCreateError or EFOpenError with the file name and the reason.
  TFileStream(const std::u16string& fileName, uint16_t mode);
  ~TFileStream() override;
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override;
  void SetSize(int64_t size) override;
  const std::u16string& FileName() const { return fileName_; }

 private:
  std::FILE* file_ = nullptr;
  std::u16string fileName_;
};

}  // namespace classlib
