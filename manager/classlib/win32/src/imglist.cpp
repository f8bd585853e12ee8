#include "classlib/imglist.h"

#include <algorithm>
#include <cstring>

namespace classlib {

const TTypeInfo TypeInfo_TDrawingStyle =
    EnumTypeInfo("TDrawingStyle", {"dsFocus", "dsSelected", "dsNormal", "dsTransparent"});
const TTypeInfo TypeInfo_TImageType = EnumTypeInfo("TImageType", {"itImage", "itMask"});

// ---- TChangeLink
CL_CLASS(TChangeLink) {}

TChangeLink::~TChangeLink() {
  if (sender_) sender_->UnRegisterChanges(this);
}

void TChangeLink::Change() {
  if (OnChange) OnChange(sender_);
}

// ---- TCustomImageList
CL_CLASS(TCustomImageList) {
  c.Int("AllocBy", &TCustomImageList::AllocBy, &TCustomImageList::SetAllocBy).Default(4);
  c.Int("BkColor", &TCustomImageList::BkColor, &TCustomImageList::SetBkColor, &TypeInfo_TColor)
      .Default(clNone);
  c.Int("BlendColor", &TCustomImageList::BlendColor, &TCustomImageList::SetBlendColor,
        &TypeInfo_TColor)
      .Default(clNone);
  c.Enum("DrawingStyle", &TCustomImageList::DrawingStyle, &TCustomImageList::SetDrawingStyle,
         &TypeInfo_TDrawingStyle)
      .Default(TDrawingStyle::dsNormal);
  c.Int("Height", &TCustomImageList::Height, &TCustomImageList::SetHeight).Default(16);
  c.Enum("ImageType", &TCustomImageList::ImageType, &TCustomImageList::SetImageType,
         &TypeInfo_TImageType)
      .Default(TImageType::itImage);
  c.Bool("Masked", &TCustomImageList::Masked, &TCustomImageList::SetMasked).Default(true);
  c.Int("Width", &TCustomImageList::Width, &TCustomImageList::SetWidth).Default(16);
  c.Event("OnChange", &TCustomImageList::OnChange, &TCustomImageList::OnChange);
}

TCustomImageList::TCustomImageList(TComponent* AOwner) : TComponent(AOwner) {}

TCustomImageList::~TCustomImageList() { FreeHandle(); }

void TCustomImageList::BeforeDestruction() {
  TComponent::BeforeDestruction();
  for (TChangeLink* l : std::vector<TChangeLink*>(links_)) l->SetSender(nullptr);
  links_.clear();
}

void TCustomImageList::Assign(TPersistent* source) {
  if (auto* s = dynamic_cast<TCustomImageList*>(source)) {
    images_ = s->images_;
    width_ = s->width_;
    height_ = s->height_;
    bkColor_ = s->bkColor_;
    blendColor_ = s->blendColor_;
    drawingStyle_ = s->drawingStyle_;
    imageType_ = s->imageType_;
    masked_ = s->masked_;
    Change();
    return;
  }
  TComponent::Assign(source);
}

void TCustomImageList::FreeHandle() {
  if (handle_) ImageList_Destroy(handle_);
  handle_ = nullptr;
}

void TCustomImageList::SetWidth(int v) {
  if (v == width_ || v <= 0) return;
  width_ = v;
  images_.clear();
  Change();
}

void TCustomImageList::SetHeight(int v) {
  if (v == height_ || v <= 0) return;
  height_ = v;
  images_.clear();
  Change();
}

void TCustomImageList::SetBkColor(TColor v) {
  bkColor_ = v;
  if (handle_) ImageList_SetBkColor(handle_, v == clNone ? CLR_NONE : ColorToRGB(v));
  Change();
}

void TCustomImageList::SetMasked(bool v) {
  if (v == masked_) return;
  masked_ = v;
  Change();
}

TCustomImageList::Image TCustomImageList::FromBitmap(TBitmap* image, TBitmap* mask, bool useColor,
                                                     TColor maskColor) const {
  Image img;
  img.pixels.assign(static_cast<size_t>(width_) * height_, 0);
  TBitmap src;
  src.Assign(image);
  src.SetPixelFormat(TPixelFormat::pf32bit);
  TBitmap m;
  if (mask) {
    m.Assign(mask);
    m.SetPixelFormat(TPixelFormat::pf32bit);
  }
  const COLORREF key = ColorToRGB(maskColor);
  bool anyAlpha = false;
  for (int y = 0; y < std::min(height_, src.Height()); ++y) {
    auto* row = static_cast<const uint32_t*>(src.ScanLine(y));
    for (int x = 0; x < std::min(width_, src.Width()); ++x) anyAlpha |= (row[x] >> 24) != 0;
  }
  for (int y = 0; y < std::min(height_, src.Height()); ++y) {
    auto* row = static_cast<const uint32_t*>(src.ScanLine(y));
    const uint32_t* mrow =
        mask && y < m.Height() ? static_cast<const uint32_t*>(m.ScanLine(y)) : nullptr;
    for (int x = 0; x < std::min(width_, src.Width()); ++x) {
      uint32_t p = row[x];
      // Bitmaps without alpha are opaque.
      if (!anyAlpha) p |= 0xFF000000u;
      const uint32_t rgb = p & 0xFFFFFF;
      const COLORREF asRef = RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
      if (useColor && asRef == key) p = 0;
      if (mrow && x < m.Width() && (mrow[x] & 0xFFFFFF) == 0xFFFFFF) p = 0;
      img.pixels[static_cast<size_t>(y) * width_ + x] = p;
    }
  }
  return img;
}

void TCustomImageList::ToBitmap(const Image& img, TBitmap* out) const {
  out->SetPixelFormat(TPixelFormat::pf32bit);
  out->SetSize(width_, height_);
  for (int y = 0; y < height_; ++y)
    std::memcpy(out->ScanLine(y), &img.pixels[static_cast<size_t>(y) * width_],
                static_cast<size_t>(width_) * 4);
}

int TCustomImageList::Add(TBitmap* image, TBitmap* mask) {
  images_.push_back(FromBitmap(image, mask, false, clNone));
  Change();
  return Count() - 1;
}

int TCustomImageList::AddMasked(TBitmap* image, TColor maskColor) {
  images_.push_back(FromBitmap(image, nullptr, true, maskColor));
  Change();
  return Count() - 1;
}

int TCustomImageList::AddIcon(TIcon* icon) {
  if (!icon || icon->Empty()) return -1;
  // Drawn twice, on black and on white: where they differ the icon is
  // transparent.
  TBitmap onBlack, onWhite;
  for (TBitmap* b : {&onBlack, &onWhite}) {
    b->SetSize(width_, height_);
    b->Canvas()->Brush()->SetColor(b == &onBlack ? clBlack : clWhite);
    b->Canvas()->FillRect(Rect(0, 0, width_, height_));
    DrawIconEx(b->Canvas()->Handle(), 0, 0, icon->Handle(), width_, height_, 0, nullptr, DI_NORMAL);
  }
  GdiFlush();
  Image img;
  img.pixels.resize(static_cast<size_t>(width_) * height_);
  for (int y = 0; y < height_; ++y) {
    auto* b = static_cast<const uint32_t*>(onBlack.ScanLine(y));
    auto* w = static_cast<const uint32_t*>(onWhite.ScanLine(y));
    for (int x = 0; x < width_; ++x) {
      const bool opaque = (b[x] & 0xFFFFFF) == (w[x] & 0xFFFFFF);
      img.pixels[static_cast<size_t>(y) * width_ + x] = opaque ? (b[x] | 0xFF000000u) : 0;
    }
  }
  images_.push_back(std::move(img));
  Change();
  return Count() - 1;
}

int TCustomImageList::AddImages(TBitmap* strip) {
  if (!strip || strip->Empty()) return -1;
  BeginUpdate();
  int first = Count();
  for (int x = 0; x + width_ <= strip->Width(); x += width_) {
    TBitmap part;
    part.SetSize(width_, height_);
    for (int y = 0; y < std::min(height_, strip->Height()); ++y)
      std::memcpy(part.ScanLine(y), static_cast<const uint32_t*>(strip->ScanLine(y)) + x,
                  static_cast<size_t>(width_) * 4);
    images_.push_back(FromBitmap(&part, nullptr, false, clNone));
  }
  EndUpdate();
  Change();
  return first;
}

void TCustomImageList::Delete(int index) {
  if (index < 0 || index >= Count())
    throw EInvalidGraphicOperation(u"Image list index out of bounds");
  images_.erase(images_.begin() + index);
  Change();
}

void TCustomImageList::Clear() {
  images_.clear();
  Change();
}

void TCustomImageList::Replace(int index, TBitmap* image, TBitmap* mask) {
  if (index < 0 || index >= Count())
    throw EInvalidGraphicOperation(u"Image list index out of bounds");
  images_[static_cast<size_t>(index)] = FromBitmap(image, mask, false, clNone);
  Change();
}

HIMAGELIST TCustomImageList::Handle() {
  if (handle_) return handle_;
  handle_ =
      ImageList_Create(width_, height_, ILC_COLOR32 | (masked_ ? ILC_MASK : 0), Count(), allocBy_);
  if (!handle_) throw EOutOfResources(u"Can't create the image list");
  ImageList_SetBkColor(handle_, bkColor_ == clNone ? CLR_NONE : ColorToRGB(bkColor_));
  for (const Image& img : images_) {
    TBitmap colour, mask;
    ToBitmap(img, &colour);
    if (masked_) {
      mask.SetSize(width_, height_);
      for (int y = 0; y < height_; ++y) {
        auto* row = static_cast<uint32_t*>(mask.ScanLine(y));
        for (int x = 0; x < width_; ++x)
          row[x] = (img.pixels[static_cast<size_t>(y) * width_ + x] >> 24) ? 0 : 0xFFFFFF;
      }
    }
    HBITMAP c = colour.ReleaseHandle();
    HBITMAP m = masked_ ? mask.ReleaseHandle() : nullptr;
    ImageList_Add(handle_, c, m);
    DeleteObject(c);
    if (m) DeleteObject(m);
  }
  return handle_;
}

void TCustomImageList::Draw(TCanvas* canvas, int x, int y, int index, bool enabled) {
  if (index < 0 || index >= Count()) return;
  const Image& img = images_[static_cast<size_t>(index)];
  // Blended from our own pixels so alpha and the disabled look do not
  // depend on the system's image-list version.
  TBitmap b;
  b.SetSize(width_, height_);
  for (int row = 0; row < height_; ++row) {
    auto* dst = static_cast<uint32_t*>(b.ScanLine(row));
    for (int col = 0; col < width_; ++col) {
      uint32_t p = img.pixels[static_cast<size_t>(row) * width_ + col];
      uint32_t a = p >> 24, r = (p >> 16) & 0xFF, g = (p >> 8) & 0xFF, bl = p & 0xFF;
      if (!enabled) r = g = bl = (r * 30 + g * 59 + bl * 11) / 100;
      if (!masked_ && bkColor_ != clNone) a = 255;
      dst[col] = (a << 24) | ((r * a / 255) << 16) | ((g * a / 255) << 8) | (bl * a / 255);
    }
  }
  HDC dc = canvas->Handle();
  if (!masked_ && bkColor_ != clNone) {
    HBRUSH brush = CreateSolidBrush(ColorToRGB(bkColor_));
    RECT r{x, y, x + width_, y + height_};
    ::FillRect(dc, &r, brush);
    DeleteObject(brush);
  }
  BLENDFUNCTION bf{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
  AlphaBlend(dc, x, y, width_, height_, b.Canvas()->Handle(), 0, 0, width_, height_, bf);
}

bool TCustomImageList::GetIcon(int index, TIcon* icon) {
  if (index < 0 || index >= Count() || !icon) return false;
  HICON h = ImageList_GetIcon(Handle(), index, ILD_NORMAL);
  if (!h) return false;
  icon->SetHandle(h);
  return true;
}

bool TCustomImageList::GetBitmap(int index, TBitmap* image) {
  if (index < 0 || index >= Count() || !image) return false;
  ToBitmap(images_[static_cast<size_t>(index)], image);
  return true;
}

uint32_t TCustomImageList::PixelOf(int index, int x, int y) const {
  if (index < 0 || index >= Count() || x < 0 || y < 0 || x >= width_ || y >= height_) return 0;
  return images_[static_cast<size_t>(index)].pixels[static_cast<size_t>(y) * width_ + x];
}

void TCustomImageList::RegisterChanges(TChangeLink* link) {
  if (!link) return;
  link->SetSender(this);
  if (std::find(links_.begin(), links_.end(), link) == links_.end()) links_.push_back(link);
}

void TCustomImageList::UnRegisterChanges(TChangeLink* link) {
  auto it = std::find(links_.begin(), links_.end(), link);
  if (it == links_.end()) return;
  links_.erase(it);
  link->SetSender(nullptr);
}

void TCustomImageList::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0 && changedWhileUpdating_) {
    changedWhileUpdating_ = false;
    Change();
  }
}

void TCustomImageList::Change() {
  FreeHandle();
  if (updateCount_) {
    changedWhileUpdating_ = true;
    return;
  }
  // A list being freed tells nobody: its clients are going too.
  if (IsDestroying()) return;
  for (TChangeLink* l : std::vector<TChangeLink*>(links_)) l->Change();
  if (OnChange) OnChange(this);
}

void TCustomImageList::DefineProperties(TFiler& filer) {
  TComponent::DefineProperties(filer);
  filer.DefineBinaryProperty(
      "Bitmap", [this](TStream& s) { ReadData(s); }, [this](TStream& s) { WriteData(s); },
      !images_.empty());
}

void TCustomImageList::ReadData(TStream& s) {
  TBitmap strip;
  strip.LoadFromStream(s);
  strip.SetPixelFormat(TPixelFormat::pf32bit);
  images_.clear();
  for (int x = 0; x + width_ <= strip.Width(); x += width_) {
    Image img;
    img.pixels.assign(static_cast<size_t>(width_) * height_, 0);
    for (int y = 0; y < std::min(height_, strip.Height()); ++y)
      std::memcpy(&img.pixels[static_cast<size_t>(y) * width_],
                  static_cast<const uint32_t*>(strip.ScanLine(y)) + x,
                  static_cast<size_t>(width_) * 4);
    images_.push_back(std::move(img));
  }
  Change();
}

void TCustomImageList::WriteData(TStream& s) {
  TBitmap strip;
  strip.SetSize(width_ * Count(), height_);
  for (int i = 0; i < Count(); ++i)
    for (int y = 0; y < height_; ++y)
      std::memcpy(static_cast<uint32_t*>(strip.ScanLine(y)) + i * width_,
                  &images_[static_cast<size_t>(i)].pixels[static_cast<size_t>(y) * width_],
                  static_cast<size_t>(width_) * 4);
  strip.SaveToStream(s);
}

CL_CLASS(TImageList) {}

}  // namespace classlib
