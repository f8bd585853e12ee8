// Option sets, scroll bar options and colours: what each change asks of
// the tree, and the stored form by member names.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/classdef.h"
#include "classlib/classes.h"
#include "lazytree/tree_options.h"

namespace kelm::lazytree {
namespace {

using classlib::New;
using classlib::TComponent;

class TRecordingHost : public TTreeOptionsHost {
 public:
  bool loading = false, window = true, designing = false, updating = false;
  int focusedColumn = 2;
  std::vector<std::string> log;
  bool OptionsLoading() const override { return loading; }
  bool OptionsHaveWindow() const override { return window; }
  bool OptionsDesigning() const override { return designing; }
  bool OptionsUpdating() const override { return updating; }
  int OptionsFocusedColumn() const override { return focusedColumn; }
  void OptionsRepaint() override { log.emplace_back("repaint"); }
  void OptionsRecreateWindow() override { log.emplace_back("recreate"); }
  void OptionsRegisterDropTarget(bool r) override { log.emplace_back(r ? "register" : "revoke"); }
  void OptionsClearSelection() override { log.emplace_back("clear selection"); }
  void OptionsFocusMainColumn(bool repaint) override {
    focusedColumn = 0;
    log.emplace_back(repaint ? "focus main+repaint" : "focus main");
  }
  void OptionsPaintChanged(TLTPaintOptions, TLTPaintOptions) override { log.emplace_back("paint"); }
  void OptionsRebuildLineImages() override { log.emplace_back("lines"); }
  void OptionsRedrawFrame() override { log.emplace_back("frame"); }
};

using Log = std::vector<std::string>;

TEST(TreeOptions, EachChangeAsksForItsRefresh) {
  TRecordingHost host;
  auto* o = New<TStringTreeOptions>();
  o->SetHost(&host);
  // Equal values do nothing at all.
  o->SetPaintOptions(o->PaintOptions());
  o->SetMiscOptions(o->MiscOptions());
  o->SetSelectionOptions(o->SelectionOptions());
  EXPECT_TRUE(host.log.empty());

  struct TCase {
    const char* what;
    void (*change)(TStringTreeOptions*);
    bool window;
    Log expect;
  };
  const TCase cases[] = {
      {"multi select",
       [](TStringTreeOptions* x) {
         x->SetSelectionOptions({toMultiSelect, toExtendedFocus});
       },
       true,
       {"clear selection"}},
      {"extended focus removed",
       [](TStringTreeOptions* x) { x->SetSelectionOptions({toMultiSelect}); },
       true,
       {"focus main+repaint", "focus main"}},
      {"extended focus removed, no window",
       [](TStringTreeOptions* x) {
         x->SetSelectionOptions({toMultiSelect, toFullRowSelect});
       },
       false,
       {"focus main"}},
      {"full repaint on resize",
       [](TStringTreeOptions* x) {
         x->SetMiscOptions(x->MiscOptions().Exclude(toFullRepaintOnResize));
       },
       true,
       {"recreate"}},
      {"OLE drop removed",
       [](TStringTreeOptions* x) { x->SetMiscOptions(x->MiscOptions().Exclude(toAcceptOLEDrop)); },
       true,
       {"revoke"}},
      {"OLE drop added, no window",
       [](TStringTreeOptions* x) { x->SetMiscOptions(x->MiscOptions().Include(toAcceptOLEDrop)); },
       false,
       {}},
      {"check support",
       [](TStringTreeOptions* x) { x->SetMiscOptions(x->MiscOptions().Include(toCheckSupport)); },
       true,
       {"repaint"}},
      {"span columns",
       [](TStringTreeOptions* x) {
         x->SetAutoOptions(x->AutoOptions().Include(toAutoSpanColumns));
       },
       true,
       {"repaint"}},
      {"auto sort: no refresh",
       [](TStringTreeOptions* x) { x->SetAutoOptions(x->AutoOptions().Include(toAutoSort)); },
       true,
       {}},
      {"static text",
       [](TStringTreeOptions* x) {
         x->SetStringOptions(x->StringOptions().Include(toShowStaticText));
       },
       true,
       {"repaint"}},
      {"paint",
       [](TStringTreeOptions* x) { x->SetPaintOptions(x->PaintOptions().Include(toHotTrack)); },
       true,
       {"paint"}},
      {"paint, no window",
       [](TStringTreeOptions* x) { x->SetPaintOptions(x->PaintOptions().Exclude(toHotTrack)); },
       false,
       {}},
  };
  for (const TCase& c : cases) {
    host.log.clear();
    host.window = c.window;
    c.change(o);
    EXPECT_EQ(host.log, c.expect) << c.what;
  }
  EXPECT_EQ(host.focusedColumn, 0);
  // Options go only to another options object.
  auto* other = New<TScrollBarOptions>();
  try {
    o->AssignTo(other);
    ADD_FAILURE() << "assigned options to scroll bar options";
  } catch (const classlib::EConvertError& e) {
    EXPECT_EQ(e.Message(), u"Cannot assign a TStringTreeOptions to a TScrollBarOptions");
  }
  auto* copy = New<TStringTreeOptions>();
  copy->Assign(o);
  EXPECT_EQ(copy->MiscOptions(), o->MiscOptions());
  EXPECT_EQ(copy->StringOptions(), o->StringOptions());
  classlib::Free(copy);
  classlib::Free(other);
  classlib::Free(o);
}

TEST(TreeOptions, ScrollBarsAndColours) {
  TRecordingHost host;
  auto* s = New<TScrollBarOptions>();
  s->SetHost(&host);
  s->SetScrollBars(TScrollStyle::ssVertical);
  s->SetAlwaysVisible(true);
  s->SetScrollBars(TScrollStyle::ssVertical);
  EXPECT_EQ(host.log, (Log{"recreate", "recreate"}));
  EXPECT_THROW(s->SetScrollBarStyle(TScrollBarStyle::sbmFlat), classlib::EAssertionFailed);
  EXPECT_THROW(s->SetScrollBarStyle(TScrollBarStyle::sbm3D), classlib::EAssertionFailed);
  EXPECT_EQ(s->ScrollBarStyle(), TScrollBarStyle::sbmRegular);
  host.loading = true;
  host.log.clear();
  s->SetScrollBars(TScrollStyle::ssNone);
  EXPECT_TRUE(host.log.empty());
  host.loading = false;

  auto* c = New<TLTColors>();
  c->SetHost(&host);
  c->SetColor(TLTColors::BorderColorIndex, 0x418C00);
  c->SetColor(TLTColors::TreeLineColorIndex, 0x123456);
  c->SetColor(8, 0xFF);
  c->SetColor(8, 0xFF);
  EXPECT_EQ(host.log, (Log{"frame", "lines", "repaint", "repaint"}));
  auto* d = New<TLTColors>();
  d->SetHost(&host);
  host.log.clear();
  host.updating = true;
  d->Assign(c);
  EXPECT_TRUE(host.log.empty());
  EXPECT_EQ(d->Color(TLTColors::BorderColorIndex), 0x418C00u);
  classlib::Free(d);
  classlib::Free(c);
  classlib::Free(s);
}

// A component carrying the three objects, as the tree publishes them.
class TOptionsHolder : public TComponent {
  CL_DECLARE_CLASS(TOptionsHolder, TComponent)
 public:
  explicit TOptionsHolder(TComponent* owner) : TComponent(owner) {
    options_ = New<TStringTreeOptions>();
    scroll_ = New<TScrollBarOptions>();
    colors_ = New<TLTColors>();
  }
  ~TOptionsHolder() override {
    classlib::Free(options_);
    classlib::Free(scroll_);
    classlib::Free(colors_);
  }
  TStringTreeOptions* TreeOptions() const { return options_; }
  void SetTreeOptions(TStringTreeOptions* v) { options_->Assign(v); }
  TScrollBarOptions* ScrollBarOptions() const { return scroll_; }
  void SetScrollBarOptions(TScrollBarOptions* v) { scroll_->Assign(v); }
  TLTColors* Colors() const { return colors_; }
  void SetColors(TLTColors* v) { colors_->Assign(v); }

 private:
  TStringTreeOptions* options_;
  TScrollBarOptions* scroll_;
  TLTColors* colors_;
};

CL_CLASS(TOptionsHolder) {
  c.Object("Colors", &TOptionsHolder::Colors, &TOptionsHolder::SetColors);
  c.Object("ScrollBarOptions", &TOptionsHolder::ScrollBarOptions,
           &TOptionsHolder::SetScrollBarOptions);
  c.Object("TreeOptions", &TOptionsHolder::TreeOptions, &TOptionsHolder::SetTreeOptions);
}

std::vector<uint8_t> ToBinary(const std::string& text) {
  classlib::TStringStream in(text);
  classlib::TMemoryStream out;
  classlib::ObjectTextToBinary(in, out);
  return out.Bytes();
}

TEST(TreeOptions, StoredFormByMemberNamesRoundTrips) {
  classlib::RegisterClass(TOptionsHolder::StaticClass());
  // The snapshot list's settings and a few non-default others.
  const std::string text =
      "object SnapshotTree: TOptionsHolder\n"
      "  Colors.BorderColor = 4295680\n"
      "  ScrollBarOptions.ScrollBars = ssVertical\n"
      "  ScrollBarOptions.VerticalIncrement = 7\n"
      "  TreeOptions.AnimationOptions = [toAnimatedToggle]\n"
      "  TreeOptions.MiscOptions = [toAcceptOLEDrop, toFullRepaintOnResize, toInitOnSave, "
      "toToggleOnDblClick, toWheelPanning, toEditOnClick, toEditOnDblClick]\n"
      "  TreeOptions.PaintOptions = [toShowBackground, toShowButtons, toShowDropmark, toShowRoot, "
      "toShowTreeLines, toThemeAware, toUseBlendedImages, toUseBlendedSelection, "
      "toStaticBackground]\n"
      "  TreeOptions.SelectionOptions = [toFullRowSelect, toRightClickSelect]\n"
      "  TreeOptions.StringOptions = []\n"
      "end\n";
  const std::vector<uint8_t> binary = ToBinary(text);
  auto* holder = New<TOptionsHolder>(nullptr);
  classlib::TResourceStream in(binary.data(), static_cast<int64_t>(binary.size()));
  classlib::TReader reader(in);
  reader.ReadRootComponent(holder);
  EXPECT_EQ(holder->TreeOptions()->PaintOptions(),
            (TLTPaintOptions{toShowBackground, toShowButtons, toShowDropmark, toShowRoot,
                             toShowTreeLines, toThemeAware, toUseBlendedImages,
                             toUseBlendedSelection, toStaticBackground}));
  EXPECT_EQ(holder->TreeOptions()->SelectionOptions(),
            (TLTSelectionOptions{toFullRowSelect, toRightClickSelect}));
  EXPECT_EQ(holder->TreeOptions()->MiscOptions().ToInt(), 16809u | (1u << toEditOnDblClick));
  EXPECT_TRUE(holder->TreeOptions()->StringOptions().Empty());
  EXPECT_EQ(holder->Colors()->Color(TLTColors::BorderColorIndex), 0x418C00u);
  EXPECT_EQ(holder->ScrollBarOptions()->VerticalIncrement, 7);
  classlib::TMemoryStream out;
  classlib::TWriter writer(out);
  writer.WriteRootComponent(holder);
  EXPECT_EQ(out.Bytes(), binary);
  classlib::Free(holder);
}

}  // namespace
}  // namespace kelm::lazytree
