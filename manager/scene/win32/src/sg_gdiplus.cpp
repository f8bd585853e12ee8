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

}  // namespace kelm::scene::gdip
