// Helpers over the GDI+ owners.
#include "scene/sg_gdiplus.h"

namespace kelm::scene::gdip {

GpColorMatrix OpacityColorMatrix(float opacity) {
  GpColorMatrix m{};
  for (int i = 0; i < 5; ++i) m.m[i][i] = 1;
  m.m[3][3] = opacity;
  return m;
}

GpStatus ReadPathData(GpPath* path, TPathData& data) {
  data.Points.clear();
  data.Types.clear();
  INT n = 0;
  GpStatus s = Gdip().GdipGetPointCount(path, &n);
  if (s != Ok || n <= 0) return s;
  data.Points.resize(static_cast<size_t>(n));
  data.Types.resize(static_cast<size_t>(n));
  GpPathData pd{n, data.Points.data(), data.Types.data()};
  s = Gdip().GdipGetPathData(path, &pd);
  if (s != Ok) {
    data.Points.clear();
    data.Types.clear();
  }
  return s;
}

int GetEncoderClsid(const std::u16string& mimeType, CLSID& clsid) {
  UINT count = 0, size = 0;
  if (!Started() || Gdip().GdipGetImageEncodersSize(&count, &size) != Ok || count == 0 ||
      size < count * sizeof(GpImageCodecInfo))
    return -1;
  // One block: the records, then the texts they point into.
  std::vector<GpImageCodecInfo> block(size / sizeof(GpImageCodecInfo) + 1);
  auto* codecs = block.data();
  if (Gdip().GdipGetImageEncoders(count, size, codecs) != Ok) return -1;
  int found = -1;
  for (UINT i = 0; i < count; ++i) {
    const WCHAR* mime = codecs[i].MimeType;
    if (mime && std::u16string(reinterpret_cast<const char16_t*>(mime)) == mimeType) {
      found = int(i);
      clsid = codecs[i].Clsid;
    }
  }
  return found;
}

}  // namespace kelm::scene::gdip
