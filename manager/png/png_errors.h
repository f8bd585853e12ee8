// Failures of the PNG codec. Every failure is an exception carrying its
// message text; the texts are the codec's user-visible messages.
//
// EPngException stands in for the class library's base exception until the
// graphic class moves onto the class library: then it derives from that base
// (keeping Message()) and the classes below stay as they are.
#pragma once

#include <exception>
#include <string>

namespace pngcodec {

class EPngException : public std::exception {
 public:
  explicit EPngException(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const noexcept { return message_; }

 private:
  std::string message_;
};

// One class per failure, each with its fixed text.
#define VH_PNG_ERROR(Name)            \
  class Name : public EPngException { \
   public:                            \
    Name();                           \
  };

VH_PNG_ERROR(EPNGInvalidFileHeader)
VH_PNG_ERROR(EPngUnexpectedEnd)
VH_PNG_ERROR(EPNGIHDRNotFirst)
VH_PNG_ERROR(EPNGUnknownCriticalChunk)
VH_PNG_ERROR(EPngInvalidCRC)
VH_PNG_ERROR(EPngInvalidIHDR)
VH_PNG_ERROR(EPNGSizeExceeds)
VH_PNG_ERROR(EPNGUnknownCompression)
VH_PNG_ERROR(EPNGUnknownInterlace)
VH_PNG_ERROR(EPNGInvalidPalette)
VH_PNG_ERROR(EPNGNoImageData)
VH_PNG_ERROR(EPNGHeaderNotPresent)
VH_PNG_ERROR(EPNGInvalidNewSize)
VH_PNG_ERROR(EPNGOutMemory)
VH_PNG_ERROR(EPNGMissingMultipleIDAT)

#undef VH_PNG_ERROR

// General codec errors whose text depends on the case.
class EPngError : public EPngException {
 public:
  using EPngException::EPngException;
};

// Invalid compressed data; the text ends with zlib's own description.
class EPNGZLIBError : public EPngException {
 public:
  explicit EPNGZLIBError(const std::string& zlibMessage);
};

extern const char* const kChunksIncompatible;
extern const char* const kNoSuchPaletteEntry;

}  // namespace pngcodec
