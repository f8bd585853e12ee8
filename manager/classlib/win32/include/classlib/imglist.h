// Image lists: equal-sized images kept as 32-bit pixels with alpha, shown
// through a system image list; clients register change links.
#pragma once

#include <windows.h>
// after windows.h
#include <commctrl.h>

#include <cstdint>
#include <vector>

#include "classlib/graphics.h"

namespace classlib {

class TCustomImageList;

class TChangeLink : public TObject {
  CL_DECLARE_CLASS(TChangeLink, TObject)
 public:
  TChangeLink() = default;
  ~TChangeLink() override;
  TCustomImageList* Sender() const { return sender_; }
  void SetSender(TCustomImageList* s) { sender_ = s; }
  virtual void Change();
  TNotifyEvent OnChange;

 private:
  TCustomImageList* sender_ = nullptr;
};

enum class TDrawingStyle { dsFocus, dsSelected, dsNormal, dsTransparent };
enum class TImageType { itImage, itMask };
extern const TTypeInfo TypeInfo_TDrawingStyle;
extern const TTypeInfo TypeInfo_TImageType;

class TCustomImageList : public TComponent {
  CL_DECLARE_CLASS(TCustomImageList, TComponent)
 public:
  explicit TCustomImageList(TComponent* AOwner);
  ~TCustomImageList() override;
  void BeforeDestruction() override;
  void Assign(TPersistent* source) override;

  int Width() const { return width_; }
  int Height() const { return height_; }
  // Changing the size empties the list.
  void SetWidth(int v);
  void SetHeight(int v);
  int Count() const { return static_cast<int>(images_.size()); }
  // The system image list, made from the images on first use.
  HIMAGELIST Handle();
  bool HandleAllocated() const { return handle_ != nullptr; }
  TColor BkColor() const { return bkColor_; }
  void SetBkColor(TColor v);
  TColor BlendColor() const { return blendColor_; }
  void SetBlendColor(TColor v) { blendColor_ = v; }
  TDrawingStyle DrawingStyle() const { return drawingStyle_; }
  void SetDrawingStyle(TDrawingStyle v) { drawingStyle_ = v; }
  TImageType ImageType() const { return imageType_; }
  void SetImageType(TImageType v) { imageType_ = v; }
  bool Masked() const { return masked_; }
  void SetMasked(bool v);
  int AllocBy() const { return allocBy_; }
  void SetAllocBy(int v) { allocBy_ = v; }

  // Adds image (cut to the list's size); mask: white pixels are left out.
  // Answers the new index.
  int Add(TBitmap* image, TBitmap* mask);
  // Pixels of maskColor are left out.
  int AddMasked(TBitmap* image, TColor maskColor);
  int AddIcon(TIcon* icon);
  // Adds every image of a strip as wide as a multiple of Width.
  int AddImages(TBitmap* strip);
  void Delete(int index);
  void Clear();
  void Replace(int index, TBitmap* image, TBitmap* mask);

  void Draw(TCanvas* canvas, int x, int y, int index, bool enabled = true);
  // Fills icon with an image; false for an index out of range.
  bool GetIcon(int index, TIcon* icon);
  bool GetBitmap(int index, TBitmap* image);
  // The pixel of an image as 0xAARRGGBB; for tests and readers.
  uint32_t PixelOf(int index, int x, int y) const;

  void RegisterChanges(TChangeLink* link);
  void UnRegisterChanges(TChangeLink* link);
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  TNotifyEvent OnChange;

 protected:
  virtual void Change();
  // "Bitmap": a 32-bit BMP strip of every image, left to right.
  void DefineProperties(TFiler& filer) override;

 private:
  struct Image {
    std::vector<uint32_t> pixels;  // top-down rows of 0xAARRGGBB
  };
  Image FromBitmap(TBitmap* image, TBitmap* mask, bool useColor, TColor maskColor) const;
  void ToBitmap(const Image& img, TBitmap* out) const;
  void FreeHandle();
  void ReadData(TStream& s);
  void WriteData(TStream& s);

  std::vector<Image> images_;
  std::vector<TChangeLink*> links_;
  HIMAGELIST handle_ = nullptr;
  int width_ = 16, height_ = 16, allocBy_ = 4, updateCount_ = 0;
  bool changedWhileUpdating_ = false;
  TColor bkColor_ = clNone, blendColor_ = clNone;
  TDrawingStyle drawingStyle_ = TDrawingStyle::dsNormal;
  TImageType imageType_ = TImageType::itImage;
  bool masked_ = true;
};

class TImageList : public TCustomImageList {
  CL_DECLARE_CLASS(TImageList, TCustomImageList)
 public:
  explicit TImageList(TComponent* AOwner) : TCustomImageList(AOwner) {}
};

}  // namespace classlib
