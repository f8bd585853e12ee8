// The recording image filter.
#include "recording_filter.h"

#include <cstring>

#include "classlib/classdef.h"

namespace kelm::test {

using scene::TsgBitmap;

CL_CLASS(TRecordingFilter) {}

std::vector<std::string>& TRecordingFilter::Calls() {
  static std::vector<std::string> calls;
  return calls;
}

void TRecordingFilter::Install() {
  Calls().clear();
  scene::SetDefaultFilterClass([] { return classlib::New<TRecordingFilter>(); });
}

bool TRecordingFilter::LoadFromFile(const std::u16string&, TsgBitmap&, float) {
  Calls().push_back("load file");
  return false;
}
bool TRecordingFilter::LoadThumbnailFromFile(const std::u16string&, float, float, bool,
                                             TsgBitmap&) {
  Calls().push_back("load thumbnail");
  return false;
}
bool TRecordingFilter::SaveToFile(const std::u16string&, TsgBitmap&, const std::string& params) {
  Calls().push_back("save file " + params);
  return false;
}

bool TRecordingFilter::LoadFromStream(classlib::TStream& stream, TsgBitmap& bitmap) {
  uint8_t head[12];
  if (stream.Read(head, 12) != 12 || std::memcmp(head, "RIMG", 4) != 0) {
    Calls().push_back("load refused");
    return false;
  }
  int32_t w, h;
  std::memcpy(&w, head + 4, 4);
  std::memcpy(&h, head + 8, 4);
  if (w < 0 || h < 0 || int64_t(w) * h > stream.Remaining() / 4) {
    Calls().push_back("load refused");
    return false;
  }
  bitmap.SetSize(w, h);
  if (w * h > 0) stream.ReadBuffer(bitmap.Bits(), int64_t(w) * h * 4);
  Calls().push_back("load ok");
  return true;
}

bool TRecordingFilter::SaveToStream(classlib::TStream& stream, TsgBitmap& bitmap,
                                    const std::string& format, const std::string& params) {
  Calls().push_back("save " + format + " " + params);
  const int32_t w = bitmap.Width(), h = bitmap.Height();
  stream.WriteBuffer("RIMG", 4);
  stream.WriteBuffer(&w, 4);
  stream.WriteBuffer(&h, 4);
  if (w * h > 0) stream.WriteBuffer(bitmap.Bits(), int64_t(w) * h * 4);
  return true;
}

}  // namespace kelm::test
