// Failures of the PNG codec. Every failure is an exception of the class
// library carrying its message text; the texts are the codec's user-visible
// messages.
#pragma once

#include <string>

#include "classlib/sysutils.h"

namespace kelm::png {

// The common base of the codec's failures, so callers can tell them from
// other errors of the library. Message() is the UTF-16 text, what() UTF-8.
class EPngException : public classlib::Exception {
 public:
  // The codec's texts are ASCII.
  explicit EPngException(const std::string& message);
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

}  // namespace kelm::png
