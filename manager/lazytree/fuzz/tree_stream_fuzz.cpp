// Fuzz target: arbitrary bytes as a tree stream loaded into a tree, as a
// "Lazy Tree Data" block pasted into another, and as a tree reference. Whatever is read must leave
// a consistent tree; what loaded must save and load again to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "classlib/object.h"
#include "classlib/streams.h"
#include "classlib/sysutils.h"
#include "lazytree/lazy_tree_error.h"
#include "lazytree/lazy_tree_view.h"
#include "lazytree/tree_transfer.h"
#include "../tests/tree_invariants.h"

using namespace kelm::lazytree;

namespace {

class TFuzzTree : public TLazyTreeView {
 public:
  explicit TFuzzTree(classlib::TObject* sender) : TLazyTreeView(sender) { CreateRootNode(); }
  ~TFuzzTree() override { Clear(); }

 protected:
  // The owner reads a few bytes of its chunk, as a real one would.
  void DoLoadNode(PLazyNode /*node*/, classlib::TStream* stream) override {
    uint8_t b[3];
    stream->Read(b, sizeof b);
  }
};

void CheckOrAbort(TLazyTreeView& tree, classlib::TObject& sender) {
  if (const std::string e = kelm::test::CheckTreeInvariants(tree, &sender, true); !e.empty()) {
    std::fprintf(stderr, "%s\n", e.c_str());
    std::abort();
  }
  if (tree.UpdateCount() != 0) {
    std::fprintf(stderr, "update left open\n");
    std::abort();
  }
}

std::vector<uint8_t> SaveAll(TLazyTreeView& tree) {
  classlib::TMemoryStream m;
  tree.SaveToStream(m);
  return m.Bytes();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  classlib::TObject sender;
  TFuzzTree tree(&sender);
  tree.ViewOptions.MultiSelect = size > 0 && (data[size - 1] & 1) != 0;
  bool whole = true;
  try {
    classlib::TResourceStream in(data, static_cast<int64_t>(size));
    tree.LoadFromStream(in);
  } catch (const classlib::Exception&) {
    whole = false;
  }
  CheckOrAbort(tree, sender);
  if (whole) {
    const std::vector<uint8_t> once = SaveAll(tree);
    TFuzzTree again(&sender);
    again.ViewOptions.MultiSelect = tree.ViewOptions.MultiSelect;
    classlib::TResourceStream in(once.data(), static_cast<int64_t>(once.size()));
    again.LoadFromStream(in);
    if (SaveAll(again) != once) {
      std::fprintf(stderr, "round trip\n");
      std::abort();
    }
  }
  // The same bytes as a "Lazy Tree Data" block pasted next to a node.
  classlib::TObject sender2;
  TFuzzTree target(&sender2);
  PLazyNode parent = target.AddChild(nullptr);
  PLazyNode child = target.AddChild(parent);
  const uint8_t* stream = nullptr;
  uint32_t length = 0;
  if (DecodeTreeDataBlock(data, size, stream, length)) {
    if (stream + length > data + size) std::abort();
    const auto mode = static_cast<TLTNodeAttachMode>(1 + length % 4);
    try {
      classlib::TResourceStream in(stream, length);
      target.InsertStreamedNodes(in, child, mode, crNodeAdded);
    } catch (const classlib::Exception&) {
    }
  }
  // A reference names a live tree or none (never the freed one above).
  TLazyTreeView* named = DecodeTreeReference(data, size, 0x7FFFFFFF);
  if (named && named != &tree && named != &target) std::abort();
  CheckOrAbort(target, sender2);
  return 0;
}
