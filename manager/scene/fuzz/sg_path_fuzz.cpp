// Path data over arbitrary input: the first byte chooses the text form or
// the binary "Path" form. Neither raises; whatever loads writes a text
// and a stream that read back to the same number of points, and flattens.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "classlib/streams.h"
#include "scene/sg_path.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelm::scene;
  if (size < 1) return 0;
  TsgPathData path;
  if (data[0] & 1) {
    path.SetData(std::string(reinterpret_cast<const char*>(data + 1), size - 1));
  } else {
    classlib::TMemoryStream in;
    in.WriteBuffer(data + 1, static_cast<int64_t>(size - 1));
    in.SetPosition(0);
    path.ReadPath(in);
  }
  classlib::TMemoryStream out;
  path.WritePath(out);
  out.SetPosition(0);
  TsgPathData again;
  again.ReadPath(out);
  if (again.Count() != path.Count()) std::abort();
  (void)path.GetData();
  TsgPolygon poly;
  TsgPoint extent;
  path.FlattenToPolygon(poly, extent, 1);
  return 0;
}
