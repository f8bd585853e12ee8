// The string tree's caption chunk under Wine: written with toSaveCaptions
// (a non-BMP caption as its two code units), read back through the new-text
// road, an odd size still ending at its chunk's end.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "classlib/forms.h"
#include "classlib/streams.h"
#include "lazytree/lazy_string_tree.h"

namespace kelm::lazytree {
namespace {

using classlib::EventOf;
using classlib::New;
using classlib::TForm;

class TCaptions : public TObject {
 public:
  std::map<PLazyNode, std::u16string> text;
  std::vector<std::u16string> received;
  void GetText(TBaseLazyTree*, PLazyNode node, TColumnIndex, TLTTextType, std::u16string& out) {
    auto it = text.find(node);
    out = it == text.end() ? std::u16string() : it->second;
  }
  void NewText(TBaseLazyTree*, PLazyNode node, TColumnIndex, const std::u16string& value) {
    received.push_back(value);
    text[node] = value;
  }
};

class StringTreeStream : public ::testing::Test {
 protected:
  void SetUp() override {
    form = New<TForm>(nullptr, 0);
    for (TLazyStringTree*& t : trees) {
      t = New<TLazyStringTree>(form);
      t->SetParent(form);
      TLTStringOptions options = t->StringOptions();
      options.Include(toSaveCaptions);
      t->SetStringOptions(options);
    }
    trees[0]->OnGetText = EventOf<&TCaptions::GetText>(&source);
    trees[1]->OnNewText = EventOf<&TCaptions::NewText>(&target);
  }
  void TearDown() override { classlib::Free(form); }

  TCaptions source;
  TCaptions target;
  TForm* form = nullptr;
  TLazyStringTree* trees[2] = {};
};

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

TEST_F(StringTreeStream, CaptionsAreWrittenAsCodeUnitsAndReadBack) {
  PLazyNode a = trees[0]->AddChild(nullptr);
  PLazyNode b = trees[0]->AddChild(nullptr);
  PLazyNode c = trees[0]->AddChild(nullptr);
  for (PLazyNode n : {a, b, c}) trees[0]->InitNode(n);
  source.text[a] = u"x\U0001F600";
  source.text[b] = u"";  // empty: no chunk
  source.text[c] = u"plain";
  classlib::TMemoryStream m;
  trees[0]->SaveToStream(m);
  const std::vector<uint8_t> bytes = m.Bytes();
  // A: anchor at 16, base chunk 8 + 17, then the caption chunk of 3 units.
  ASSERT_EQ(Le32(bytes, 20), 25u + 8u + 6u);
  EXPECT_EQ(Le32(bytes, 49), 3u);
  EXPECT_EQ(Le32(bytes, 53), 6u);
  const std::vector<uint8_t> units = {'x', 0, 0x3D, 0xD8, 0x00, 0xDE};
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin() + 57, bytes.begin() + 63), units);
  // B has no caption chunk.
  EXPECT_EQ(Le32(bytes, 63 + 4), 25u);

  m.SetPosition(0);
  trees[1]->LoadFromStream(m);
  EXPECT_EQ(target.received, (std::vector<std::u16string>{u"x\U0001F600", u"plain"}));
  EXPECT_EQ(trees[1]->RootNodeCount(), 3u);

  // An odd caption size: whole units are read, and the next node follows
  // from the chunk's end.
  std::vector<uint8_t> odd = bytes;
  odd.erase(odd.begin() + 62);
  odd[53] = 5;
  odd[20] = static_cast<uint8_t>(odd[20] - 1);
  target.received.clear();
  classlib::TResourceStream in(odd.data(), static_cast<int64_t>(odd.size()));
  trees[1]->LoadFromStream(in);
  EXPECT_EQ(target.received, (std::vector<std::u16string>{std::u16string(u"x\xD83D"), u"plain"}));
  EXPECT_EQ(trees[1]->RootNodeCount(), 3u);
}

}  // namespace
}  // namespace kelm::lazytree
