// TPngGraphic: the PNG picture as a graphic of the class library, so that
// pictures, canvases and bitmaps handle PNG files like any other format.
// A thin class over PngPicture: it adds drawing, conversion to and from
// bitmaps, the clipboard and the "PNG" picture format.
//
// Linking this library registers the format at start-up and unregisters it
// at shutdown; it is an object library so that the registration comes along
// even in programs that never name the class.
#pragma once

#include "classlib/graphics.h"
#include "png/png_picture.h"

namespace kelm::png {

class TPngGraphic : public classlib::TGraphic {
  CL_DECLARE_CLASS(TPngGraphic, classlib::TGraphic)
 public:
  TPngGraphic() = default;
  ~TPngGraphic() override;

  // The codec's picture: chunks, encoder settings, pixels. Call Changed()
  // after changing it directly so that owners repaint.
  PngPicture& Picture() { return picture_; }
  const PngPicture& Picture() const { return picture_; }

  // Nothing clears; another PNG graphic is copied chunk by chunk; a bitmap
  // becomes an 8-bit true-colour picture (with a tRNS when it is
  // transparent).
  void Assign(classlib::TPersistent* source) override;
  // Into another PNG graphic, or a bitmap of the picture's size (with the
  // transparent colour of single-colour pictures).
  void AssignTo(classlib::TPersistent* dest) override;

  bool Empty() const override { return picture_.Empty(); }
  int Width() const override { return int(picture_.Width()); }
  int Height() const override { return int(picture_.Height()); }
  // Resize keeping the top-left overlap; sizes below 1 raise
  // EPNGInvalidNewSize, a picture without header EPNGHeaderNotPresent.
  void SetWidth(int v) override { SetSize(v, Height()); }
  void SetHeight(int v) override { SetSize(Width(), v); }
  void SetSize(int width, int height);
  // Follows the picture (a tRNS chunk or an alpha channel).
  bool Transparent() const override;

  // The storage palette of paletted and grey pictures as a palette handle
  // the graphic keeps (valid until the next call); none for true colour.
  HPALETTE Palette() const override;
  // Replaces the storage palette's colours by the handle's entries.
  void SetPalette(HPALETTE palette);

  // Colours as 0x00BBGGRR; outside the picture reading gives 0 and writing
  // does nothing.
  classlib::TColor Pixels(int x, int y) const;
  void SetPixels(int x, int y, classlib::TColor colour);

  void LoadFromStream(classlib::TStream& stream) override;
  void SaveToStream(classlib::TStream& stream) override;
  // Through a temporary bitmap: the clipboard knows no PNG.
  void LoadFromClipboardFormat(UINT format, HANDLE data) override;
  void SaveToClipboardFormat(UINT& format, HANDLE& data) override;

  using classlib::TGraphic::Changed;

 protected:
  void Draw(classlib::TCanvas* canvas, const classlib::TRect& r) override;

 private:
  void AssignFromBitmap(classlib::TBitmap& bitmap);
  void AssignToBitmap(classlib::TBitmap& bitmap);

  PngPicture picture_;
  mutable HPALETTE palette_ = nullptr;
};

// What start-up and shutdown do; programs need not call them.
void RegisterPngGraphic();
void UnregisterPngGraphic();

}  // namespace kelm::png
