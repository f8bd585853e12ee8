// The header's columns as class-library objects: a collection whose items
// carry each column's texts, image, alignment, colour and check box, while
// the geometry (widths, positions, options) lives in the header's layout,
// kept index for index with the items. The collection converts to and
// from the header stream's records.
#pragma once

#include <cstdint>
#include <string>

#include "classlib/collection.h"
#include "classlib/filer.h"
#include "lazytree/header_layout.h"
#include "lazytree/header_stream.h"
#include "lazytree/lazy_node.h"

namespace kelm::lazytree {

enum class TLazyTreeColumnStyle : uint8_t { vsText, vsOwnerDraw };
enum class TLTHeaderColumnLayout : uint8_t { blGlyphLeft, blGlyphRight, blGlyphTop, blGlyphBottom };
enum class TAlignment : uint8_t { taLeftJustify, taRightJustify, taCenter };
extern const classlib::TTypeInfo TypeInfo_TAlignment;
enum class TBiDiMode : uint8_t {
  bdLeftToRight,
  bdRightToLeft,
  bdRightToLeftNoAlign,
  bdRightToLeftReadingOnly
};

class TLazyTreeColumns;

class TLazyTreeColumn : public classlib::TCollectionItem {
  CL_DECLARE_CLASS(TLazyTreeColumn, TCollectionItem)

 public:
  explicit TLazyTreeColumn(classlib::TCollection* collection);

  const std::u16string& Text() const { return text_; }
  void SetText(const std::u16string& value);
  const std::u16string& Hint() const { return hint_; }
  void SetHint(const std::u16string& value) { hint_ = value; }

  // Geometry, kept by the header's layout.
  int32_t Width() const;
  void SetWidth(int32_t value);
  int32_t MinWidth() const;
  void SetMinWidth(int32_t value);
  int32_t MaxWidth() const;
  void SetMaxWidth(int32_t value);
  uint32_t Position() const;
  void SetPosition(uint32_t value);
  TLTColumnOptions Options() const;
  void SetOptions(TLTColumnOptions value);

  TLazyTreeColumnStyle Style() const { return style_; }
  void SetStyle(TLazyTreeColumnStyle value);
  int32_t ImageIndex() const { return imageIndex_; }
  void SetImageIndex(int32_t value);
  TLTHeaderColumnLayout Layout() const { return layout_; }
  void SetLayout(TLTHeaderColumnLayout value);
  int32_t Margin() const { return margin_; }
  // A negative margin becomes the default 4.
  void SetMargin(int32_t value);
  int32_t Spacing() const { return spacing_; }
  void SetSpacing(int32_t value);
  TBiDiMode BiDiMode() const { return bidiMode_; }
  // An own mode stops following the tree.
  void SetBiDiMode(TBiDiMode value);
  // With coParentBidiMode: the tree's mode, taken again.
  void FollowTreeBiDiMode();
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value);
  // The alignment itself unless the column aligns its caption apart.
  TAlignment CaptionAlignment() const;
  void SetCaptionAlignment(TAlignment value);
  uint32_t Color() const { return color_; }
  // An own colour stops following the tree.
  void SetColor(uint32_t value);
  int32_t Tag = 0;
  // A header check box instead of the image, and its state.
  bool CheckBox() const { return checkBox_; }
  void SetCheckBox(bool value);
  TCheckType CheckType() const { return checkType_; }
  void SetCheckType(TCheckType value);
  TCheckState CheckState() const { return checkState_; }
  void SetCheckState(TCheckState value);

  // Where painting last put the image or check box (header coordinates).
  struct TImageRect {
    int Left = 0, Top = 0, Right = 0, Bottom = 0;
    bool Contains(int x, int y) const { return x >= Left && x < Right && y >= Top && y < Bottom; }
  };
  TImageRect ImageRect;
  bool HasImage = false;

  // Moves the item and its geometry; the shown order stays.
  void SetIndex(int index) override;

  // Every value the header stream keeps, and back through the setters.
  TColumnRecord ToRecord() const;
  void LoadRecord(const TColumnRecord& record);
  // Equal in everything the stored form compares.
  bool SameAs(const TLazyTreeColumn& other) const;
  void Assign(classlib::TPersistent* source) override;
  // Text when every character is below 256, else "Column %d".
  std::string GetDisplayName() const override;
  // "WideText" and "WideHint", stored when not empty.
  void DefineProperties(classlib::TFiler& filer) override;

  // What the stored form keeps only apart from the tree's values.
  bool IsBiDiModeStored() const { return !Options().Contains(coParentBidiMode); }
  bool IsColorStored() const { return !Options().Contains(coParentColor); }
  bool IsCaptionAlignmentStored() const { return Options().Contains(coUseCaptionAlignment); }
  int32_t TagValue() const { return Tag; }
  void SetTag(int32_t value) { Tag = value; }

 private:
  TLazyTreeColumns* Owner() const;
  THeaderLayout& Geometry() const;
  void ItemChanged() { Changed(false); }
  // The tree's geometry, read before a change; none outside a tree.
  THeaderHost* Host() const;
  void RepaintTree() const;

  std::u16string text_;
  std::u16string hint_;
  TLazyTreeColumnStyle style_ = TLazyTreeColumnStyle::vsText;
  int32_t imageIndex_ = -1;
  TLTHeaderColumnLayout layout_ = TLTHeaderColumnLayout::blGlyphLeft;
  int32_t margin_ = 4;
  int32_t spacing_ = 4;
  TBiDiMode bidiMode_ = TBiDiMode::bdLeftToRight;
  TAlignment alignment_ = TAlignment::taLeftJustify;
  TAlignment captionAlignment_ = TAlignment::taLeftJustify;
  uint32_t color_ = 0xFF000005;
  bool checkBox_ = false;
  TCheckType checkType_ = ctCheckBox;
  TCheckState checkState_ = csUncheckedNormal;
};

class TLazyTreeColumns : public classlib::TOwnedCollection {
  CL_DECLARE_CLASS(TLazyTreeColumns, TOwnedCollection)

 public:
  // The layout belongs to the header and outlives the collection.
  TLazyTreeColumns(classlib::TPersistent* owner, THeaderLayout& layout);
  ~TLazyTreeColumns() override;

  TLazyTreeColumn* Items(int index) const;
  TLazyTreeColumn* Add();
  THeaderLayout& Layout() const { return layout_; }
  // Removes every column and its geometry in one step.
  void ClearColumns();

  // The columns, their order and the default width as a stream record.
  void ToRecord(THeaderRecord& record) const;
  // Replaces the columns and the layout's header values by a parsed
  // record's (already checked whole); the layout takes the geometry.
  void LoadHeaderRecord(const THeaderRecord& record);

  // The stored-form property "Columns" as the tree defines it: the reader
  // reads the collection while the header loads its columns; the writer
  // writes it with the writer's property path cleared.
  void ReadColumns(classlib::TReader& reader);
  void WriteColumns(classlib::TWriter& writer);

  // The collection's assign, then the source's display order.
  void Assign(classlib::TPersistent* source) override;
  // Same class, count and order, and every column the same.
  bool SameColumnsAs(const TLazyTreeColumns& other) const;

 protected:
  void Notify(classlib::TCollectionItem* item, classlib::TCollectionNotification action) override;
  // After any item change: the cell, or header, scroll bar and tree.
  void Update(classlib::TCollectionItem* item) override;

 private:
  THeaderLayout& layout_;
  bool clearing_ = false;
  // Items made for geometry the layout already holds.
  bool adopting_ = false;
};

}  // namespace kelm::lazytree
