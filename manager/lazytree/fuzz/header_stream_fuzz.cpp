// Fuzz target: arbitrary bytes as a header stream. What parses must write
// back and parse to the same record; what does not must raise the read
// error and nothing else.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "classlib/sysutils.h"
#include "lazytree/header_layout.h"
#include "lazytree/header_stream.h"
#include "lazytree/tree_header.h"

using namespace kelm::lazytree;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  THeaderRecord h;
  try {
    h = ParseHeaderStream(data, size);
  } catch (const classlib::EReadError&) {
    return 0;
  }
  std::vector<uint8_t> again = WriteHeaderStream(h);
  THeaderRecord back = ParseHeaderStream(again.data(), again.size());
  back.Version = h.Version;
  // Older versions fill what they lack with defaults, which write as they are.
  if (h.Version == kHeaderStreamVersion && !(back == h)) std::abort();
  // The parsed columns build a consistent layout.
  THeaderLayout layout;
  layout.View.HasWindow = true;
  layout.View.ClientWidth = 640;
  layout.LoadHeaderRecord(h);
  if (layout.Count() != static_cast<int>(h.Columns.size())) std::abort();
  if (!h.Columns.empty() && layout.PositionToIndex() != h.Positions) std::abort();
  if (layout.MainColumn() >= layout.Count() || layout.SortColumn() >= layout.Count()) std::abort();
  layout.DistributeWidthChange(h.Height, 0, layout.Count() - 1, TLTColumnOptions{coVisible});
  // The stored height may be any 32-bit value; its negation must exist too.
  const int32_t shrink = h.Height == INT32_MIN ? INT32_MAX : -h.Height;
  layout.DistributeWidthChange(shrink, 0, layout.Count() - 1, TLTColumnOptions{coVisible});
  // Through the header object's setters: its own stream parses again and
  // names the same columns in the same order.
  TLTHeader* header = classlib::New<TLTHeader>();
  header->LoadRecord(h);
  const std::vector<uint8_t> saved = header->SaveToBytes();
  const THeaderRecord reread = ParseHeaderStream(saved.data(), saved.size());
  if (reread.Columns.size() != h.Columns.size()) std::abort();
  if (!h.Columns.empty() && reread.Positions != h.Positions) std::abort();
  classlib::Free(header);
  return 0;
}
