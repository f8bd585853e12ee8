// The tree's background picture: stored by assigning, painted once at the
// background offsets or tiled from them; the animation loop on the
// system's millisecond timer.
#include <windows.h>
// Needs the types of windows.h first.
#include <mmsystem.h>

#include <algorithm>

#include "classlib/forms.h"
#include "lazytree/base_lazy_tree.h"

namespace kelm::lazytree {

namespace {

// The picture's pixels, or none for an empty or absent bitmap.
classlib::TBitmap* BitmapOf(classlib::TPicture* picture) {
  auto* bitmap = dynamic_cast<classlib::TBitmap*>(picture->Graphic());
  if (!bitmap || bitmap->Empty() || bitmap->Width() < 1 || bitmap->Height() < 1) return nullptr;
  return bitmap;
}

// value mod size, never negative.
int Wrap(int64_t value, int size) {
  const int64_t m = value % size;
  return static_cast<int>(m < 0 ? m + size : m);
}

// The multimedia timer; the application's end stops an animation.
class TSystemAnimationClock final : public TAnimationClock {
 public:
  uint32_t Now() override { return timeGetTime(); }
  bool Terminating() override {
    return classlib::Application != nullptr && classlib::Application->Terminated();
  }
};

}  // namespace

void TBaseLazyTree::RunAnimation(uint32_t steps, uint32_t duration, const TAnimationStep& step) {
  if (States().Contains(tsInAnimation) || duration == 0) return;
  DoStateChange({tsInAnimation});
  TSystemAnimationClock clock;
  try {
    RunAnimationSteps(steps, duration, step, clock);
  } catch (...) {
    DoStateChange({}, {tsInAnimation});
    throw;
  }
  DoStateChange({}, {tsInAnimation});
}

void TBaseLazyTree::SetBackground(classlib::TPicture* value) {
  background_->Assign(value);
  InvalidateAll();
}

void TBaseLazyTree::PaintStaticBackground(TCanvas* canvas, TRect r, TPoint offset) {
  canvas->Brush()->SetColor(Color());
  canvas->FillRect(r);
  classlib::TBitmap* bitmap = BitmapOf(background_);
  if (!bitmap) return;
  // In view coordinates: the picture at the offsets, the area at r + offset.
  const int64_t pictureLeft = backgroundOffset_[0];
  const int64_t pictureTop = backgroundOffset_[1];
  const int64_t left = std::max<int64_t>(pictureLeft, static_cast<int64_t>(r.left) + offset.x);
  const int64_t top = std::max<int64_t>(pictureTop, static_cast<int64_t>(r.top) + offset.y);
  const int64_t right =
      std::min<int64_t>(pictureLeft + bitmap->Width(), static_cast<int64_t>(r.right) + offset.x);
  const int64_t bottom =
      std::min<int64_t>(pictureTop + bitmap->Height(), static_cast<int64_t>(r.bottom) + offset.y);
  if (left >= right || top >= bottom) return;
  HDC target = canvas->Handle();
  HDC source = bitmap->Canvas()->Handle();
  const int x = static_cast<int>(left - offset.x);
  const int y = static_cast<int>(top - offset.y);
  const int w = static_cast<int>(right - left);
  const int h = static_cast<int>(bottom - top);
  const int sx = static_cast<int>(left - pictureLeft);
  const int sy = static_cast<int>(top - pictureTop);
  if (!bitmap->Transparent()) {
    BitBlt(target, x, y, w, h, source, sx, sy, SRCCOPY);
    return;
  }
  // The mask: set where the transparent colour is, so those pixels keep
  // the tree's colour.
  HBITMAP mask = CreateBitmap(bitmap->Width(), bitmap->Height(), 1, 1, nullptr);
  HDC maskDC = CreateCompatibleDC(target);
  HGDIOBJ old = SelectObject(maskDC, mask);
  const COLORREF oldBack = SetBkColor(source, classlib::ColorToRGB(bitmap->TransparentColor()));
  BitBlt(maskDC, 0, 0, bitmap->Width(), bitmap->Height(), source, 0, 0, SRCCOPY);
  SetBkColor(source, oldBack);
  SelectObject(maskDC, old);
  DeleteDC(maskDC);
  MaskBlt(target, x, y, w, h, source, sx, sy, mask, sx, sy, MAKEROP4(0xAA0029, SRCCOPY));
  DeleteObject(mask);
}

void TBaseLazyTree::PaintTiledBackground(TCanvas* canvas, TRect r, TPoint offset) {
  classlib::TBitmap* bitmap = BitmapOf(background_);
  if (!bitmap) {
    canvas->Brush()->SetColor(Color());
    canvas->FillRect(r);
    return;
  }
  HDC target = canvas->Handle();
  HDC source = bitmap->Canvas()->Handle();
  const int pictureWidth = bitmap->Width();
  const int pictureHeight = bitmap->Height();
  int sourceY = Wrap(static_cast<int64_t>(r.top) + offset.y + backgroundOffset_[1], pictureHeight);
  const int firstX =
      Wrap(static_cast<int64_t>(r.left) + offset.x + backgroundOffset_[0], pictureWidth);
  for (int y = r.top; y < r.bottom;) {
    const int bandHeight = std::min<int>(pictureHeight - sourceY, r.bottom - y);
    int sourceX = firstX;
    for (int x = r.left; x < r.right;) {
      const int tileWidth = std::min<int>(pictureWidth - sourceX, r.right - x);
      BitBlt(target, x, y, tileWidth, bandHeight, source, sourceX, sourceY, SRCCOPY);
      x += tileWidth;
      sourceX = 0;
    }
    y += bandHeight;
    sourceY = 0;
  }
}

}  // namespace kelm::lazytree
