// The tab control's paint, probed at pixels its geometry fixes: the plain
// card of a control without tabs, the selected tab on top with the card's
// frame open under it, gradient ends of the other tabs, per orientation.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "classlib/forms.h"
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
    auto ch = [keep](int v) { return static_cast<BYTE>(v * keep + 0.5); };
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

}  // namespace
}  // namespace kelm::test
