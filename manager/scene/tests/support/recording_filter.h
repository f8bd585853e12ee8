// An image filter for tests: records every save's format and parameters
// and stores pixels raw behind the magic "RIMG" (width, height, pixels,
// little-endian); it decodes only that form.
#pragma once

#include <string>
#include <vector>

#include "scene/sg_bitmap.h"

namespace kelm::test {

class TRecordingFilter : public scene::TsgFilter {
  CL_DECLARE_CLASS(TRecordingFilter, TsgFilter)
 public:
  // "save png ", "save jpeg quality=100", "load ok", "load refused".
  static std::vector<std::string>& Calls();
  // Makes it the default filter class and clears the record.
  static void Install();

  bool LoadFromFile(const std::u16string& fileName, scene::TsgBitmap& bitmap,
                    float rotation) override;
  bool LoadThumbnailFromFile(const std::u16string& fileName, float fitWidth, float fitHeight,
                             bool useEmbedded, scene::TsgBitmap& bitmap) override;
  bool SaveToFile(const std::u16string& fileName, scene::TsgBitmap& bitmap,
                  const std::string& params) override;
  bool LoadFromStream(classlib::TStream& stream, scene::TsgBitmap& bitmap) override;
  bool SaveToStream(classlib::TStream& stream, scene::TsgBitmap& bitmap, const std::string& format,
                    const std::string& params) override;
};

}  // namespace kelm::test
