// Both scene loaders over arbitrary input: the first byte chooses the
// binary or the text form. A load gives a complete tree or none, never
// raises, and whatever loads writes and reloads to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "classlib/streams.h"
#include "scene/sg_classes.h"
#include "tree_test_classes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kelm::scene;
  if (size < 1) return 0;
  static const bool registered = [] {
    kelm::test::RegisterTestClasses();
    return true;
  }();
  (void)registered;
  auto* owner = classlib::New<classlib::TComponent>(nullptr);
  classlib::TMemoryStream in;
  in.WriteBuffer(data + 1, static_cast<int64_t>(size - 1));
  in.SetPosition(0);
  classlib::TComponent* obj =
      (data[0] & 1) ? LoadObjectFromTextStream(owner, in) : LoadObjectFromStream(owner, in);
  if (obj) {
    if (obj->Owner() != owner) std::abort();
    classlib::TMemoryStream first;
    SaveObjectToStream(obj, first);
    first.SetPosition(0);
    classlib::TComponent* again = LoadObjectFromStream(owner, first);
    if (!again) std::abort();
    classlib::TMemoryStream second;
    SaveObjectToStream(again, second);
    if (first.Bytes() != second.Bytes()) std::abort();
  } else if (owner->ComponentCount() != 0) {
    std::abort();  // a failed load left something behind
  }
  classlib::Free(owner);
  return 0;
}
