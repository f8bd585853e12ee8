// The tab control's paint, probed at pixels its geometry fixes: the plain
// card of a control without tabs, the selected tab on top with the card's
// frame open under it, gradient ends of the other tabs, per orientation.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "classlib/forms.h"
#include "classlib/imglist.h"
#include "kit/kt_common_win.h"
#include "kit/kt_tab_control.h"

namespace kelm::test {
namespace {

using namespace classlib;
using namespace kit;

// Paints into a bitmap of the test's own, so probes read the control's
// result and not whatever covers its window.
class TPaintTabControl : public TKtCustomTabControl {
 public:
  explicit TPaintTabControl(TComponent* AOwner) : TKtCustomTabControl(AOwner) {}
  void PaintInto(HDC dc) {
    Canvas()->SetHandle(dc);
    Paint();
    Canvas()->SetHandle(nullptr);
  }
  // The mouse moved over (x, y): the tab there turns hot.
  void MoveMouseTo(int x, int y) { MouseMove({}, x, y); }
};

struct Snapshot {
  Snapshot(TPaintTabControl* control) {
    HDC screen = GetDC(nullptr);
    dc = CreateCompatibleDC(screen);
    bitmap = CreateCompatibleBitmap(screen, control->Width(), control->Height());
    ReleaseDC(nullptr, screen);
    old = SelectObject(dc, bitmap);
    control->PaintInto(dc);
  }
  ~Snapshot() {
    SelectObject(dc, old);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  Snapshot(const Snapshot&) = delete;
  Snapshot& operator=(const Snapshot&) = delete;
  COLORREF At(int x, int y) const { return GetPixel(dc, x, y); }
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ old;
};

struct TabPaintTest : ::testing::Test {
  TabPaintTest() {
    form = New<TForm>(nullptr, 0);
    form->SetBounds(0, 0, 400, 300);
    form->SetColor(clTeal);
    tabs = New<TPaintTabControl>(form);
    tabs->SetParent(form);
    tabs->SetBounds(0, 0, 200, 100);
    tabs->SetColor(clWhite);
  }
  ~TabPaintTest() override { Free(form); }
  void SetCaptions(std::initializer_list<const char16_t*> captions) {
    for (const char16_t* c : captions) tabs->Tabs().Add().Caption = c;
    tabs->TabsChanged();
  }
  TForm* form = nullptr;
  TPaintTabControl* tabs = nullptr;
};

const COLORREF kWhite = RGB(255, 255, 255);

TEST_F(TabPaintTest, NoTabsPaintsTheCardWithOneLineAlongTheTop) {
  tabs->SetShowFullFrame(false);
  Snapshot shot(tabs);
  const COLORREF frame = GetSysColor(COLOR_BTNSHADOW);
  for (int x : {0, 1, 100, 198, 199}) EXPECT_EQ(frame, shot.At(x, 0)) << x;
  for (const POINT p : {POINT{0, 1}, POINT{199, 1}, POINT{100, 50}, POINT{0, 99}, POINT{199, 99}}) {
    EXPECT_EQ(kWhite, shot.At(p.x, p.y)) << p.x << "," << p.y;
  }
}

TEST_F(TabPaintTest, FullFrameRunsRoundTheCard) {
  tabs->SetShowShadow(false);
  tabs->SetShowFullFrame(true);
  Snapshot shot(tabs);
  const COLORREF frame = GetSysColor(COLOR_BTNSHADOW);
  tabs->UpdateLayout();
  const TKtRect card = tabs->CardRect(0);
  EXPECT_EQ(frame, shot.At(card.left, card.top));
  EXPECT_EQ(frame, shot.At(card.right, card.bottom));
  EXPECT_EQ(frame, shot.At(card.left, card.bottom));
  EXPECT_EQ(kWhite, shot.At(card.left + 1, card.top + 1));
}

// Selected tab flat in the control's colour and joined to the card through
// a gap in the frame; another tab's gradient runs light at the outer edge
// to shadow at the card side; the frame's far corner keeps its colour.
TEST_F(TabPaintTest, SelectedTabGradientsAndCardGapPerOrientation) {
  const COLORREF frame = GetSysColor(COLOR_BTNSHADOW);
  const TKtTabOrientation sides[] = {TKtTabOrientation::toTop, TKtTabOrientation::toLeft,
                                     TKtTabOrientation::toBottom, TKtTabOrientation::toRight};
  SetCaptions({u"One", u"Two", u"Three"});
  tabs->SetTabStyle(TKtTabStyle::tsSquareCorners);
  tabs->SetShowFullFrame(false);
  tabs->TabColors().SetUnselected(clYellow);
  tabs->TabColors().SetShadow(clBlue);
  tabs->SetTabIndex(0);
  for (TKtTabOrientation side : sides) {
    SCOPED_TRACE(static_cast<int>(side));
    tabs->SetTabOrientation(side);
    tabs->UpdateLayout();
    Snapshot shot(tabs);
    const TKtRect sel = tabs->TabRectInControl(0);
    const TKtRect other = tabs->TabRectInControl(2);
    const TKtRect card = tabs->CardRect(0);
    // Inside the selected tab, clear of its outline and its text.
    EXPECT_EQ(kWhite, shot.At(sel.left + 2, sel.top + 2));
    // The frame along the tabs' side is open where the selected tab meets it.
    const bool alongX = side == TKtTabOrientation::toTop || side == TKtTabOrientation::toBottom;
    const int gx = alongX ? (sel.left + sel.right) / 2
                          : (side == TKtTabOrientation::toLeft ? card.left : card.right);
    const int gy = alongX ? (side == TKtTabOrientation::toTop ? card.top : card.bottom)
                          : (sel.top + sel.bottom) / 2;
    EXPECT_EQ(kWhite, shot.At(gx, gy));
    // Beyond the last tab the edge is framed (left tabs run upwards).
    const int fx = alongX ? card.right - 1 : gx;
    const int fy =
        alongX ? gy : (side == TKtTabOrientation::toLeft ? card.top + 1 : card.bottom - 1);
    EXPECT_EQ(frame, shot.At(fx, fy));
    if (!FullColorDisplay()) continue;
    // The outer edge of the other tab is light, the card side dark.
    const bool outerFirst = side == TKtTabOrientation::toTop || side == TKtTabOrientation::toLeft;
    const POINT near1 =
        alongX ? POINT{other.left + 3, other.top + 1} : POINT{other.left + 1, other.top + 3};
    const POINT far1 =
        alongX ? POINT{other.left + 3, other.bottom - 2} : POINT{other.right - 2, other.top + 3};
    const COLORREF outer = shot.At(outerFirst ? near1.x : far1.x, outerFirst ? near1.y : far1.y);
    const COLORREF inner = shot.At(outerFirst ? far1.x : near1.x, outerFirst ? far1.y : near1.y);
    EXPECT_GT(GetRValue(outer), 200) << std::hex << outer;
    EXPECT_GT(GetBValue(inner), 200) << std::hex << inner;
    EXPECT_LT(GetRValue(inner), 60) << std::hex << inner;
  }
}

// The shadow darkens the parent's colour under it, not the card's white:
// the outer line by 15/255, the inner one by 30/255.
TEST_F(TabPaintTest, ShadowLinesDarkenTheParent) {
  form->SetColor(static_cast<TColor>(RGB(200, 120, 40)));
  tabs->SetShowFullFrame(true);
  tabs->SetShowShadow(true);
  tabs->UpdateLayout();
  Snapshot shot(tabs);
  const TKtRect card = tabs->CardRect(0);
  auto darker = [](int strength) {
    const double keep = 1.0 - strength / 255.0;
    auto ch = [keep](int v) { return static_cast<BYTE>(std::lround(v * keep)); };
    return RGB(ch(200), ch(120), ch(40));
  };
  const int midY = (card.top + card.bottom) / 2;
  const int midX = (card.left + card.right) / 2;
  EXPECT_EQ(darker(15), shot.At(card.right, midY));
  EXPECT_EQ(darker(30), shot.At(card.right - 1, midY));
  EXPECT_EQ(darker(15), shot.At(midX, card.bottom));
  EXPECT_EQ(darker(30), shot.At(midX, card.bottom - 1));
  // The frame itself stops 2 pixels short.
  EXPECT_EQ(GetSysColor(COLOR_BTNSHADOW), shot.At(card.right - 2, midY));
}

// The bounding box of the pixels of colour c inside r.
RECT InkBox(const Snapshot& shot, const TKtRect& r, COLORREF c) {
  RECT box{r.right, r.bottom, r.left - 1, r.top - 1};
  for (int y = r.top; y < r.bottom; ++y) {
    for (int x = r.left; x < r.right; ++x) {
      if (shot.At(x, y) != c) continue;
      box.left = std::min<LONG>(box.left, x);
      box.top = std::min<LONG>(box.top, y);
      box.right = std::max<LONG>(box.right, x);
      box.bottom = std::max<LONG>(box.bottom, y);
    }
  }
  return box;
}

// Text runs along the tab: across for horizontal text, up or down the tab
// (rotated through the font) for vertical text, inside the tab either way.
TEST_F(TabPaintTest, VerticalTextIsRotatedIntoTheTab) {
  SetCaptions({u"WWWWWW", u"Two"});
  tabs->SetBounds(0, 0, 200, 200);
  tabs->Font()->SetName("Arial");
  tabs->SetTabStyle(TKtTabStyle::tsSquareCorners);
  tabs->TextColors().SetSelected(clBlack);
  tabs->SetTabIndex(0);
  const struct {
    TKtTabOrientation side;
    TOrientation text;
    bool tall;
  } cases[] = {
      {TKtTabOrientation::toTop, TOrientation::orHorizontal, false},
      {TKtTabOrientation::toLeft, TOrientation::orVertical, true},
      {TKtTabOrientation::toRight, TOrientation::orVertical, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.side));
    tabs->SetTabOrientation(c.side);
    tabs->SetTextOrientation(c.text);
    tabs->UpdateLayout();
    Snapshot shot(tabs);
    const TKtRect tab = tabs->TabRectInControl(0);
    const RECT ink = InkBox(shot, tab, RGB(0, 0, 0));
    ASSERT_LE(ink.left, ink.right);
    const int w = ink.right - ink.left + 1;
    const int h = ink.bottom - ink.top + 1;
    EXPECT_EQ(c.tall, h > 2 * w) << w << "x" << h;
    EXPECT_EQ(!c.tall, w > 2 * h) << w << "x" << h;
  }
}

// Lines of a caption lie one under the other, each placed by TextAlignment.
TEST_F(TabPaintTest, CaptionLinesStackAndAlign) {
  SetCaptions({u"WWWWWW\r\nW", u"Two"});
  tabs->SetBounds(0, 0, 300, 150);
  tabs->Font()->SetName("Arial");
  tabs->SetTabStyle(TKtTabStyle::tsSquareCorners);
  tabs->SetTabHeight(50);
  tabs->TextColors().SetSelected(clBlack);
  tabs->SetTabIndex(0);
  tabs->UpdateLayout();
  const TKtRect tab = tabs->TabRectInControl(0);
  const int midY = (tab.top + tab.bottom) / 2;
  const TKtRect upper{tab.left, tab.top, tab.right, midY};
  const TKtRect lower{tab.left, midY, tab.right, tab.bottom};
  const struct {
    TKtHorizontalAlignment alignment;
    int side;  // the short line's place against the long one: -1 left, 0 middle, 1 right
  } cases[] = {{TKtHorizontalAlignment::haLeft, -1},
               {TKtHorizontalAlignment::haCenter, 0},
               {TKtHorizontalAlignment::haRight, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.alignment));
    tabs->SetTextAlignment(c.alignment);
    Snapshot shot(tabs);
    const RECT top = InkBox(shot, upper, RGB(0, 0, 0));
    const RECT bottom = InkBox(shot, lower, RGB(0, 0, 0));
    ASSERT_LE(top.left, top.right);
    ASSERT_LE(bottom.left, bottom.right);
    EXPECT_GT(top.right - top.left, 3 * (bottom.right - bottom.left));
    const int shortMid = (bottom.left + bottom.right) / 2;
    const int longMid = (top.left + top.right) / 2;
    const int offset = c.side < 0   ? bottom.left - top.left
                       : c.side > 0 ? bottom.right - top.right
                                    : shortMid - longMid;
    EXPECT_LT(std::abs(offset), 4);
  }
}

// The tab's image sits on its side of the content, before the text.
TEST_F(TabPaintTest, ImageDrawnOnItsSideOfTheTab) {
  auto* images = New<TImageList>(form);
  images->SetWidth(8);
  images->SetHeight(8);
  auto* red = New<TBitmap>();
  red->SetWidth(8);
  red->SetHeight(8);
  red->Canvas()->Brush()->SetColor(clRed);
  red->Canvas()->FillRect(Rect(0, 0, 8, 8));
  images->Add(red, nullptr);
  Free(red);
  SetCaptions({u"Image tab", u"Two"});
  tabs->Tabs().Item(0).ImageIndex = 0;
  tabs->SetImages(images);
  tabs->SetTabStyle(TKtTabStyle::tsSquareCorners);
  tabs->SetTabIndex(0);
  const struct {
    TKtImagePosition position;
    bool left;
  } cases[] = {{TKtImagePosition::ipLeft, true}, {TKtImagePosition::ipRight, false}};
  for (const auto& c : cases) {
    tabs->SetImagePosition(c.position);
    tabs->UpdateLayout();
    Snapshot shot(tabs);
    const TKtRect tab = tabs->TabRectInControl(0);
    const RECT ink = InkBox(shot, tab, RGB(255, 0, 0));
    ASSERT_LE(ink.left, ink.right);
    EXPECT_EQ(7, ink.right - ink.left);
    EXPECT_EQ(7, ink.bottom - ink.top);
    const int middle = (tab.left + tab.right) / 2;
    EXPECT_EQ(c.left, ink.right < middle);
    EXPECT_EQ(!c.left, ink.left > middle);
  }
  // The other tab has no image.
  const TKtRect other = tabs->TabRectInControl(1);
  Snapshot shot(tabs);
  const RECT none = InkBox(shot, other, RGB(255, 0, 0));
  EXPECT_GT(none.left, none.right);
}

// The owner may paint the background, a tab's background and choose the
// text colour.
struct TPaintLog : TObject {
  void Background(TObject*, TCanvas* canvas, TRect r, bool& handled) {
    canvas->Brush()->SetColor(clNavy);
    canvas->FillRect(r);
    handled = true;
  }
  void TabBackground(TObject*, TCanvas* canvas, int tab, TRect r, bool& handled) {
    tabsPainted.push_back(tab);
    if (tab != 1) return;
    canvas->Brush()->SetColor(clLime);
    canvas->FillRect(r);
    handled = true;
  }
  void TextColor(TObject*, int, TKtTextStyle style, TColor& color, bool& handled) {
    styles.push_back(style);
    color = clRed;
    handled = true;
  }
  std::vector<int> tabsPainted;
  std::vector<TKtTextStyle> styles;
};

TEST_F(TabPaintTest, OwnerPaintsBackgroundsAndTextColour) {
  SetCaptions({u"One", u"Two"});
  tabs->SetTabStyle(TKtTabStyle::tsSquareCorners);
  tabs->SetTabIndex(0);
  TPaintLog log;
  tabs->OnPaintBackground = EventOf<&TPaintLog::Background>(&log);
  tabs->OnPaintTabBackground = EventOf<&TPaintLog::TabBackground>(&log);
  tabs->OnGetTextColor = EventOf<&TPaintLog::TextColor>(&log);
  tabs->UpdateLayout();
  Snapshot shot(tabs);
  const TKtRect two = tabs->TabRectInControl(1);
  EXPECT_EQ(RGB(0, 255, 0), shot.At(two.left + 2, two.top + 2));
  // Beyond the tabs, above the card: the owner's background.
  EXPECT_EQ(RGB(0, 0, 128), shot.At(tabs->Width() - 3, 2));
  // The other tab drawn first, the selected one last.
  EXPECT_EQ((std::vector<int>{1, 0}), log.tabsPainted);
  EXPECT_EQ((std::vector<TKtTextStyle>{TKtTextStyle::tsUnselected, TKtTextStyle::tsSelected}),
            log.styles);
  const RECT ink = InkBox(shot, tabs->TabRectInControl(0), RGB(255, 0, 0));
  EXPECT_LE(ink.left, ink.right);
}

// The focus rectangle rings the selected tab's text area only while the
// control has the focus: grown 1 along the text and 1 at the bottom, and
// moved 1 pixel in from the raised outer edge of a square tab.
TEST_F(TabPaintTest, FocusRectangleAroundTheSelectedTabsTextWhileFocused) {
  SetCaptions({u"One", u"Two"});
  tabs->SetTabStyle(TKtTabStyle::tsSquareCorners);
  tabs->SetTabIndex(0);
  form->Show();
  tabs->SetFocus();
  ASSERT_TRUE(tabs->Focused());
  tabs->UpdateLayout();
  const TKtRect text = tabs->TabContentRect(0);
  const RECT ring{text.left - 1, text.top + 1, text.right + 1, text.bottom + 2};
  auto differs = [](const Snapshot& a, const Snapshot& b, int x0, int y0, int x1, int y1) {
    int n = 0;
    for (int y = y0; y <= y1; ++y)
      for (int x = x0; x <= x1; ++x) n += a.At(x, y) != b.At(x, y) ? 1 : 0;
    return n;
  };
  Snapshot focused(tabs);
  ::SetFocus(nullptr);
  ASSERT_FALSE(tabs->Focused());
  Snapshot unfocused(tabs);
  // Dotted edges: every other pixel of each side differs.
  const int w = ring.right - ring.left;
  const int h = ring.bottom - ring.top;
  EXPECT_GE(differs(focused, unfocused, ring.left, ring.top, ring.left, ring.bottom - 1),
            h / 2 - 1);
  EXPECT_GE(differs(focused, unfocused, ring.right - 1, ring.top, ring.right - 1, ring.bottom - 1),
            h / 2 - 1);
  EXPECT_GE(differs(focused, unfocused, ring.left, ring.top, ring.right - 1, ring.top), w / 2 - 1);
  EXPECT_GE(
      differs(focused, unfocused, ring.left, ring.bottom - 1, ring.right - 1, ring.bottom - 1),
      w / 2 - 1);
  // Nothing else changes: not the whole tab beyond the ring, nor the other tab.
  const TKtRect sel = tabs->TabRectInControl(0);
  EXPECT_EQ(differs(focused, unfocused, sel.left, sel.top, sel.right, sel.bottom),
            differs(focused, unfocused, ring.left, ring.top, ring.right - 1, ring.bottom - 1));
  const TKtRect other = tabs->TabRectInControl(1);
  EXPECT_EQ(0, differs(focused, unfocused, sel.right + 1, other.top, other.right, other.bottom));
}

// A hot tab's background takes the hot-tracking colours: the hot-track
// colour (or its complement at lightness 140) lightened by 60 where the
// plain tab is light; from the tab's own colours only the shadow darkens.
TEST_F(TabPaintTest, HotTabBackgroundPerColourSource) {
  SetCaptions({u"    ", u"    "});
  tabs->SetTabStyle(TKtTabStyle::tsSquareCorners);
  tabs->TabColors().SetUnselected(clYellow);
  tabs->TabColors().SetShadow(static_cast<TColor>(RGB(0, 0, 160)));
  tabs->SetHotTrackColor(static_cast<TColor>(RGB(200, 40, 40)));
  tabs->SetTabIndex(0);
  tabs->UpdateLayout();
  const TKtRect t = tabs->TabRectInControl(1);
  const int mx = (t.left + t.right) / 2;
  struct Case {
    const char* name;
    TKtTabHotTrackColorSource source;
    TKtHotTrackColorType type;
    COLORREF light;
  };
  const Case cases[] = {
      {"actual", TKtTabHotTrackColorSource::htcsHotTrackColorProp, TKtHotTrackColorType::htctActual,
       static_cast<COLORREF>(LighterColor(static_cast<TColor>(RGB(200, 40, 40)), 60))},
      {"complement", TKtTabHotTrackColorSource::htcsHotTrackColorProp,
       TKtHotTrackColorType::htctComplement,
       static_cast<COLORREF>(
           LighterColor(ContrastHueColor(static_cast<TColor>(RGB(200, 40, 40)), 140), 60))},
      {"tab colour", TKtTabHotTrackColorSource::htcsTabColor, TKtHotTrackColorType::htctActual,
       RGB(255, 255, 0)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    tabs->SetHotTrackColorSource(c.source);
    tabs->SetHotTrackColorType(c.type);
    tabs->SetUseGradients(false);
    tabs->MoveMouseTo(mx, (t.top + t.bottom) / 2);
    ASSERT_EQ(1, tabs->HotTab());
    {
      Snapshot shot(tabs);
      EXPECT_EQ(c.light, shot.At(mx, (t.top + t.bottom) / 2));
    }
    if (!FullColorDisplay()) continue;
    // The gradient runs from the light colour at the outer edge to the
    // shadow colour at the card side; the bands only approach the ends.
    tabs->SetUseGradients(true);
    Snapshot hot(tabs);
    auto close = [](COLORREF a, COLORREF b) {
      return std::abs(GetRValue(a) - GetRValue(b)) + std::abs(GetGValue(a) - GetGValue(b)) +
                 std::abs(GetBValue(a) - GetBValue(b)) <
             90;
    };
    const COLORREF outer = hot.At(mx, t.top + 1);
    const COLORREF inner = hot.At(mx, t.bottom - 1);
    if (c.source == TKtTabHotTrackColorSource::htcsTabColor) {
      // Against the plain tab, only the card side is darker.
      tabs->MoveMouseTo(5, 95);
      Snapshot plain(tabs);
      const COLORREF plainInner = plain.At(mx, t.bottom - 1);
      EXPECT_LT(GetBValue(inner) + 10, GetBValue(plainInner)) << std::hex << inner;
      EXPECT_TRUE(close(plain.At(mx, t.top + 1), outer)) << std::hex << outer;
    } else {
      EXPECT_TRUE(close(c.light, outer)) << std::hex << outer;
      const COLORREF shadow =
          c.type == TKtHotTrackColorType::htctActual
              ? RGB(200, 40, 40)
              : static_cast<COLORREF>(ContrastHueColor(static_cast<TColor>(RGB(200, 40, 40)), 140));
      EXPECT_TRUE(close(shadow, inner)) << std::hex << inner;
    }
  }
  // Off the tabs the tab is plain again.
  tabs->MoveMouseTo(5, 95);
  EXPECT_EQ(-1, tabs->HotTab());
  tabs->SetUseGradients(false);
  Snapshot plain(tabs);
  EXPECT_EQ(RGB(255, 255, 0), plain.At(mx, (t.top + t.bottom) / 2));
}

// The highlight bar: a band at the outer edge, 6 pixels deep on top and
// left tabs and 4 on bottom and right ones, in the bar colour on the
// selected tab and in the hot colour on the hot one.
TEST_F(TabPaintTest, HighlightBarOnTheSelectedAndTheHotTab) {
  SetCaptions({u"    ", u"    "});
  tabs->SetTabStyle(TKtTabStyle::tsSquareCorners);
  tabs->SetHotTrackStyle(TKtTabHotTrackStyle::htsTabBar);
  tabs->SetHotTrackColorSource(TKtTabHotTrackColorSource::htcsHotTrackColorProp);
  tabs->SetHotTrackColor(static_cast<TColor>(RGB(200, 40, 40)));
  tabs->TabColors().SetHighlightBar(static_cast<TColor>(RGB(0, 160, 0)));
  tabs->SetUseGradients(false);
  tabs->TabColors().SetUnselected(clYellow);
  tabs->SetTabIndex(0);
  struct Case {
    TKtTabOrientation side;
    int depth;
  };
  const Case cases[] = {{TKtTabOrientation::toTop, 6},
                        {TKtTabOrientation::toLeft, 6},
                        {TKtTabOrientation::toBottom, 4},
                        {TKtTabOrientation::toRight, 4}};
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.side));
    tabs->SetTabOrientation(c.side);
    tabs->UpdateLayout();
    const TKtRect other = tabs->TabRectInControl(1);
    tabs->MoveMouseTo((other.left + other.right) / 2, (other.top + other.bottom) / 2);
    ASSERT_EQ(1, tabs->HotTab());
    Snapshot shot(tabs);
    for (int tab : {0, 1}) {
      const TKtRect r = tabs->TabRectInControl(tab);
      const COLORREF want = tab == 0 ? RGB(0, 160, 0) : RGB(200, 40, 40);
      const COLORREF rest = tab == 0 ? kWhite : RGB(255, 255, 0);
      const int mx = (r.left + r.right) / 2;
      const int my = (r.top + r.bottom) / 2;
      // The last pixel of the band (it starts 1 outside the tab) and the
      // first one past it.
      POINT in{mx, my}, out{mx, my};
      switch (c.side) {
        case TKtTabOrientation::toTop:
          in.y = r.top - 1 + c.depth - 1, out.y = in.y + 1;
          break;
        case TKtTabOrientation::toBottom:
          in.y = r.bottom + 1 - c.depth, out.y = in.y - 1;
          break;
        case TKtTabOrientation::toLeft:
          in.x = r.left - 1 + c.depth - 1, out.x = in.x + 1;
          break;
        case TKtTabOrientation::toRight:
          in.x = r.right + 1 - c.depth, out.x = in.x - 1;
          break;
      }
      EXPECT_EQ(want, shot.At(in.x, in.y)) << tab;
      EXPECT_EQ(rest, shot.At(out.x, out.y)) << tab;
    }
  }
}

}  // namespace
}  // namespace kelm::test
