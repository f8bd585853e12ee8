// TsgFilterGdiPlus: the default image filter of the Win32 build. GDI+
// decodes files and streams straight into a TsgBitmap's own premultiplied
// pixels and encodes them back, chosen by file extension or format name.
// Every file it opens is shared for reading and writing by others and is
// closed before the call returns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "scene/sg_bitmap.h"
#include "scene/sg_gdiplus_api.h"

namespace kelm::scene {

class TsgFilterGdiPlus final : public TsgFilter {
  CL_DECLARE_CLASS(TsgFilterGdiPlus, TsgFilter)
 public:
  // All but GetFileTypes raise classlib::Exception while GDI+ is not
  // started; the file operations pass the file stream's open errors on.
  std::string GetFileTypes() override;
  // (0, 0) for a file GDI+ cannot decode.
  TsgPoint GetImageSize(const std::u16string& fileName) override;
  // Whole quarter turns rotate the decoded bitmap; any other angle draws
  // the image turned about its centre into its bounding size.
  bool LoadFromFile(const std::u16string& fileName, TsgBitmap& bitmap, float rotation) override;
  // Never enlarges. With useEmbedded, the thumbnail GDI+ makes (false when
  // it makes none); else the image drawn at the fitted size.
  bool LoadThumbnailFromFile(const std::u16string& fileName, float fitWidth, float fitHeight,
                             bool useEmbedded, TsgBitmap& bitmap) override;
  // An extension without an encoder writes nothing and answers false, as
  // does a file that cannot be made.
  bool SaveToFile(const std::u16string& fileName, TsgBitmap& bitmap,
                  const std::string& params) override;
  // From the stream's current position.
  bool LoadFromStream(classlib::TStream& stream, TsgBitmap& bitmap) override;
  bool SaveToStream(classlib::TStream& stream, TsgBitmap& bitmap, const std::string& format,
                    const std::string& params) override;
};

// The encoder's MIME type for a file name's extension (any case); empty
// when none takes it.
std::u16string sgEncoderForFileName(const std::u16string& fileName);
// The encoder's MIME type for a format name (any case); PNG for names it
// does not know.
std::u16string sgEncoderForFormat(const std::string& format);

// The encoder parameters of a "name=value name=value" text: one quality
// parameter (a long) per "quality" pair, in order; other names are
// ignored. A quality that is not a whole number raises EConvertError.
class TsgEncoderParameters {
 public:
  explicit TsgEncoderParameters(const std::string& text);
  TsgEncoderParameters(const TsgEncoderParameters&) = delete;
  TsgEncoderParameters& operator=(const TsgEncoderParameters&) = delete;
  // None when the text has no quality pair.
  const gdip::GpEncoderParameters* Get() const;

 private:
  std::vector<ULONG> values_;
  // Room for the count and the records, aligned as a record.
  std::vector<gdip::GpEncoderParameter> block_;
};

// Whether a width x height block of 32-bit pixels can be handed to GDI+:
// both sides positive, the stride an INT, the whole block below 2 GB (a
// 32-bit process has no room for more in a single block).
bool sgPixelBlockFits(int64_t width, int64_t height);

// Makes TsgFilterGdiPlus the default filter class unless one is set.
void sgRegisterFilterGdiPlus();

}  // namespace kelm::scene
