// The alignment layout: every kind placed in a parent, as a table.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene/sg_visual.h"
#include "scene_fakes.h"
#include "visual_probe.h"

namespace kelm::scene {
namespace {

using classlib::New;
using test::FakeScene;
using test::Probe;
using test::TProbe;

struct Child {
  TsgAlign align;
  TsgRect bounds;  // x, y, width, height
  TsgRect padding{};
  bool visible = true;
  float ownWidth = -1, ownHeight = -1;
};

struct Case {
  const char* name;
  TsgPoint parentSize;
  TsgRect margins;
  std::vector<Child> children;
  // When set, the parent is resized to it after the children are placed.
  TsgPoint resizeTo;
  // Expected x, y, width, height per child.
  std::vector<TsgRect> expected;
};

std::string Box(const TsgRect& r) {
  return sgFloatToStr(r.Left) + "," + sgFloatToStr(r.Top) + " " + sgFloatToStr(r.Right) + "x" +
         sgFloatToStr(r.Bottom);
}

class Alignment : public ::testing::Test {
 protected:
  void SetUp() override {
    test::RegisterVisualTestClasses();
    scene = New<FakeScene>(nullptr);
    root = Probe("root", nullptr, 0, 0, 1000, 1000);
    scene->AddObject(root);
  }
  void TearDown() override { classlib::Free(scene); }
  FakeScene* scene = nullptr;
  TProbe* root = nullptr;
};

TEST_F(Alignment, EveryKindIsPlacedAsLaidDown) {
  const Case cases[] = {
      {"top sorts by y",
       {100, 100},
       {},
       {{vaTop, {0, 10, 10, 20}}, {vaTop, {0, 5, 10, 30}}},
       {},
       {{0, 30, 100, 20}, {0, 0, 100, 30}}},
      {"top keeps child order on equal y",
       {100, 100},
       {},
       {{vaTop, {0, 5, 10, 20}}, {vaTop, {0, 5, 10, 30}}},
       {},
       {{0, 0, 100, 20}, {0, 20, 100, 30}}},
      {"client after top",
       {100, 100},
       {},
       {{vaTop, {0, 0, 10, 20}}, {vaClient, {0, 0, 10, 10}}},
       {},
       {{0, 0, 100, 20}, {0, 20, 100, 80}}},
      {"bottom sorts by bottom edge, descending",
       {100, 100},
       {},
       {{vaBottom, {0, 0, 10, 10}}, {vaBottom, {0, 50, 10, 10}}},
       {},
       {{0, 80, 100, 10}, {0, 90, 100, 10}}},
      {"bottom reverses equal keys",
       {100, 100},
       {},
       {{vaBottom, {0, 0, 10, 10}}, {vaBottom, {0, 0, 10, 10}}},
       {},
       {{0, 80, 100, 10}, {0, 90, 100, 10}}},
      {"right reverses equal keys",
       {100, 100},
       {},
       {{vaRight, {0, 0, 10, 10}}, {vaRight, {0, 0, 10, 10}}},
       {},
       {{80, 0, 10, 100}, {90, 0, 10, 100}}},
      {"left, right and the most kinds first",
       {100, 100},
       {},
       {{vaLeft, {0, 0, 10, 10}},
        {vaRight, {0, 0, 15, 10}},
        {vaMostTop, {0, 0, 10, 5}},
        {vaMostBottom, {0, 0, 10, 6}},
        {vaMostLeft, {0, 0, 7, 10}},
        {vaMostRight, {0, 0, 8, 10}}},
       {},
       {{7, 5, 10, 89},
        {77, 5, 15, 89},
        {0, 0, 100, 5},
        {0, 94, 100, 6},
        {0, 5, 7, 89},
        {92, 5, 8, 89}}},
      {"margins and padding",
       {100, 100},
       {1, 2, 3, 4},
       {{vaTop, {0, 0, 10, 10}, {4, 3, 2, 1}}, {vaClient, {0, 0, 10, 10}, {1, 1, 1, 1}}},
       {},
       {{5, 5, 90, 10}, {2, 17, 94, 78}}},
      {"centre truncates", {101, 100}, {}, {{vaCenter, {0, 0, 50, 51}}}, {}, {{25, 24, 50, 51}}},
      {"horizontal and vertical centre",
       {101, 100},
       {2, 0, 0, 0},
       {{vaHorzCenter, {0, 0, 50, 10}}, {vaVertCenter, {0, 0, 10, 51}}},
       {},
       {{26, 0, 50, 100}, {2, 24, 99, 51}}},
      {"horizontal keeps its vertical place",
       {100, 100},
       {3, 0, 0, 0},
       {{vaHorizontal, {0, 40, 10, 10}, {4, 2, 0, 0}}},
       {},
       {{7, 40, 93, 10}}},
      {"vertical keeps its horizontal place",
       {100, 100},
       {0, 3, 0, 0},
       {{vaVertical, {40, 0, 10, 10}}},
       {},
       {{40, 3, 10, 97}}},
      {"contents ignore margins",
       {100, 80},
       {10, 10, 10, 10},
       {{vaContents, {5, 5, 10, 10}, {1, 2, 3, 4}}},
       {},
       {{1, 2, 96, 74}}},
      {"hidden children take no space",
       {100, 100},
       {},
       {{vaTop, {0, 0, 10, 20}, {}, false}, {vaTop, {0, 0, 10, 30}}},
       {},
       {{0, 0, 10, 20}, {0, 0, 100, 30}}},
      {"corners move, never resize",
       {100, 100},
       {},
       {{vaTopRight, {80, 0, 10, 10}},
        {vaBottomLeft, {0, 80, 10, 10}},
        {vaBottomRight, {80, 80, 10, 10}},
        {vaTopLeft, {5, 5, 10, 10}}},
       {130, 90},
       {{110, 0, 10, 10}, {0, 70, 10, 10}, {110, 70, 10, 10}, {5, 5, 10, 10}}},
      {"scale follows the parent's growth",
       {100, 100},
       {},
       {{vaScale, {10, 20, 30, 40}}},
       {200, 50},
       {{20, 10, 60, 20}}},
      {"fit enlarges a smaller child keeping its shape",
       {100, 100},
       {},
       {{vaFit, {0, 0, 20, 10}}},
       {},
       {{0, 25, 100, 50}}},
      {"fit shrinks a larger child",
       {100, 100},
       {},
       {{vaFit, {0, 0, 400, 100}}},
       {},
       {{0, 38, 100, 25}}},
      {"fit left and right",
       {200, 100},
       {},
       {{vaFitLeft, {0, 0, 20, 20}}, {vaFitRight, {0, 0, 20, 20}}},
       {},
       {{0, 0, 100, 100}, {100, 0, 100, 100}}},
      {"fit of size 0 stays centred at size 0",
       {100, 100},
       {},
       {{vaFit, {0, 0, 0, 0}}},
       {},
       {{50, 50, 0, 0}}},
      {"a child wider than the room keeps its width",
       {100, 100},
       {60, 0, 60, 0},
       {{vaTop, {0, 0, 30, 10}}},
       {},
       {{60, 0, 30, 10}}},
      {"self-sizing children give the room back",
       {100, 100},
       {},
       {{vaTop, {0, 0, 10, 20}},
        {vaLeft, {0, 0, 10, 10}, {}, true, 15, -1},
        {vaClient, {0, 0, 10, 10}, {}, true, -1, 30}},
       {},
       {{0, 0, 100, 20}, {0, 20, 15, 80}, {15, 20, 85, 30}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto* parent = Probe("parent", root, 0, 0, c.parentSize.X, c.parentSize.Y);
    parent->Margins()->SetRect(c.margins);
    std::vector<TProbe*> kids;
    for (const Child& ch : c.children) {
      auto* k = Probe("k" + std::to_string(kids.size()), nullptr, ch.bounds.Left, ch.bounds.Top,
                      ch.bounds.Right, ch.bounds.Bottom);
      k->Padding()->SetRect(ch.padding);
      k->SetVisible(ch.visible);
      k->OwnWidth = ch.ownWidth;
      k->OwnHeight = ch.ownHeight;
      k->SetAlign(ch.align);
      kids.push_back(k);
    }
    // All children in before the layout, as a stream delivers them.
    parent->BeginUpdate();
    for (TProbe* k : kids) parent->AddObject(k);
    parent->EndUpdate();
    if (c.resizeTo.X != 0) parent->SetBounds(0, 0, c.resizeTo.X, c.resizeTo.Y);
    for (size_t i = 0; i < kids.size(); ++i)
      EXPECT_EQ(Box({kids[i]->Position()->X(), kids[i]->Position()->Y(), kids[i]->Width(),
                     kids[i]->Height()}),
                Box(c.expected[i]))
          << "child " << i;
    classlib::Free(parent);
  }
}

TEST_F(Alignment, TinyOrSuppressedParentsAreLeftAlone) {
  auto* parent = Probe("parent", root, 0, 0, 100, 100);
  auto* k = Probe("k", parent, 0, 0, 10, 10);
  k->SetAlign(vaClient);
  ASSERT_FLOAT_EQ(k->Width(), 100);
  const struct {
    const char* name;
    float w;
    bool disabled;
  } cases[] = {{"1.5 wide", 1.5f, false}, {"-1.5 wide", -1.5f, false}, {"disabled", 60, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    parent->AlignDisabled = c.disabled;
    parent->SetWidth(c.w);
    EXPECT_FLOAT_EQ(k->Width(), 100);
    parent->AlignDisabled = false;
    parent->SetWidth(100);
  }
  // A side of 2 lays out again.
  parent->SetHeight(2);
  EXPECT_FLOAT_EQ(k->Height(), 2);
}

TEST_F(Alignment, ACornerChildAddedLaterMovesOnlyByLaterGrowth) {
  auto* parent = Probe("parent", root, 0, 0, 100, 100);
  // Resized while nothing in it is aligned.
  parent->SetWidth(160);
  auto* k = Probe("k", nullptr, 50, 0, 10, 10);
  k->SetAlign(vaTopRight);
  parent->AddObject(k);
  EXPECT_FLOAT_EQ(k->Position()->X(), 50);
  parent->SetWidth(190);
  EXPECT_FLOAT_EQ(k->Position()->X(), 80);
}

TEST_F(Alignment, ChangesThatMatterRealignTheParent) {
  auto* parent = Probe("parent", root, 0, 0, 100, 100);
  auto* top = Probe("top", parent, 0, 0, 10, 20);
  auto* client = Probe("client", parent, 0, 0, 10, 10);
  top->SetAlign(vaTop);
  client->SetAlign(vaClient);
  EXPECT_FLOAT_EQ(client->Position()->Y(), 20);
  top->SetHeight(30);
  EXPECT_FLOAT_EQ(client->Position()->Y(), 30);
  top->Padding()->SetBottom(5);
  EXPECT_FLOAT_EQ(client->Position()->Y(), 35);
  parent->Margins()->SetTop(10);
  EXPECT_FLOAT_EQ(client->Position()->Y(), 45);
  top->SetVisible(false);
  EXPECT_FLOAT_EQ(client->Position()->Y(), 10);
  EXPECT_FLOAT_EQ(client->Height(), 90);
}

}  // namespace
}  // namespace kelm::scene
