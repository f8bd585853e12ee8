#include "png/png_errors.h"

namespace kelm::png {

EPngException::EPngException(const std::string& message)
    : classlib::Exception(classlib::Utf8ToWide(message)) {}

#define VH_PNG_ERROR_TEXT(Name, Text) \
  Name::Name() : EPngException(Text) {}

VH_PNG_ERROR_TEXT(EPNGInvalidFileHeader,
                  "The file being readed is not a valid \"Portable Network Graphics\" image "
                  "because it contains an invalid header. This file may be corruped, try "
                  "obtaining it again.")
VH_PNG_ERROR_TEXT(EPngUnexpectedEnd,
                  "This \"Portable Network Graphics\" image is invalid because the decoder "
                  "found an unexpected end of the file.")
VH_PNG_ERROR_TEXT(EPNGIHDRNotFirst,
                  "This \"Portable Network Graphics\" image is not supported or it might be "
                  "invalid.\r\n(IHDR chunk is not the first)")
VH_PNG_ERROR_TEXT(EPNGUnknownCriticalChunk,
                  "This \"Portable Network Graphics\" image contains an unknown critical part "
                  "which could not be decoded.")
VH_PNG_ERROR_TEXT(EPngInvalidCRC,
                  "This \"Portable Network Graphics\" image is not valid because it contains "
                  "invalid pieces of data (crc error)")
VH_PNG_ERROR_TEXT(EPngInvalidIHDR,
                  "The \"Portable Network Graphics\" image could not be loaded because one of "
                  "its main piece of data (ihdr) might be corrupted")
VH_PNG_ERROR_TEXT(EPNGSizeExceeds,
                  "This \"Portable Network Graphics\" image is not supported because either "
                  "it's width or height exceeds the maximum size, which is 65535 pixels length.")
VH_PNG_ERROR_TEXT(EPNGUnknownCompression,
                  "This \"Portable Network Graphics\" image is encoded with an unknown "
                  "compression scheme which could not be decoded.")
VH_PNG_ERROR_TEXT(EPNGUnknownInterlace,
                  "This \"Portable Network Graphics\" image uses an unknown interlace scheme "
                  "which could not be decoded.")
VH_PNG_ERROR_TEXT(EPNGInvalidPalette,
                  "The \"Portable Network Graphics\" image contains an invalid palette.")
VH_PNG_ERROR_TEXT(EPNGNoImageData, "This \"Portable Network Graphics\" image contains no data.")
VH_PNG_ERROR_TEXT(EPNGHeaderNotPresent,
                  "This operation is not valid because the current image contains no valid "
                  "header.")
VH_PNG_ERROR_TEXT(EPNGInvalidNewSize, "The new size provided for image resizing is invalid.")
VH_PNG_ERROR_TEXT(EPNGOutMemory,
                  "Some operation could not be performed because the system is out of "
                  "resources. Close some windows and try again.")
VH_PNG_ERROR_TEXT(EPNGMissingMultipleIDAT,
                  "This \"Portable Network Graphics\" image is invalid because it has missing "
                  "image parts.")

#undef VH_PNG_ERROR_TEXT

EPNGZLIBError::EPNGZLIBError(const std::string& zlibMessage)
    : EPngException(
          "Could not decompress the image because it contains invalid compressed data.\r\n"
          " Description: " +
          zlibMessage) {}

const char* const kChunksIncompatible = "The chunks must be compatible to be assigned.";
const char* const kNoSuchPaletteEntry = "There is no such palette entry.";

}  // namespace kelm::png
