#include "lazytree/tree_header.h"

#include "classlib/classdef.h"

namespace kelm::lazytree {

TLTHeader::TLTHeader() : columns_(classlib::New<TLazyTreeColumns>(this, layout_)) {}

TLTHeader::~TLTHeader() { classlib::Free(columns_); }

THeaderRecord TLTHeader::ToRecord() const {
  THeaderRecord r;
  columns_->ToRecord(r);
  r.AutoSizeIndex = layout_.AutoSizeIndex;
  r.Background = Background;
  r.Height = layout_.Height();
  r.Options = static_cast<uint16_t>(layout_.Options.ToInt());
  r.Style = static_cast<uint8_t>(Style);
  r.FontColor = Font.Color;
  r.FontHeight = Font.Height;
  r.FontName = Font.Name;
  r.FontPitch = Font.Pitch;
  r.FontStyle = Font.Style;
  r.MainColumn = layout_.MainColumn();
  r.SortColumn = layout_.SortColumn();
  r.SortDirection = SortDirection;
  r.ParentFont = ParentFont;
  r.MaxHeight = layout_.MaxHeight();
  r.MinHeight = layout_.MinHeight();
  r.DefaultHeight = DefaultHeight;
  r.MaxHeightPercent = layout_.Limits[TFixedAreaLimits::MaxHeight];
  r.MaxWidthPercent = layout_.Limits[TFixedAreaLimits::MaxWidth];
  r.MinHeightPercent = layout_.Limits[TFixedAreaLimits::MinHeight];
  r.MinWidthPercent = layout_.Limits[TFixedAreaLimits::MinWidth];
  return r;
}

void TLTHeader::LoadRecord(const THeaderRecord& r) {
  columns_->LoadHeaderRecord(r);
  Background = r.Background;
  Style = static_cast<TLTHeaderStyle>(r.Style);
  Font = THeaderFontValues{r.FontColor, r.FontHeight, r.FontName, r.FontPitch, r.FontStyle};
  if (r.HasSortFields()) SortDirection = r.SortDirection;
  if (r.HasHeightLimits()) {
    ParentFont = r.ParentFont;
    DefaultHeight = r.DefaultHeight;
  }
}

std::vector<uint8_t> TLTHeader::SaveToBytes() const { return WriteHeaderStream(ToRecord()); }

void TLTHeader::LoadFromBytes(const uint8_t* data, size_t size) {
  LoadRecord(ParseHeaderStream(data, size));
}

void TLTHeader::Assign(classlib::TPersistent* source) {
  auto* s = dynamic_cast<TLTHeader*>(source);
  if (s == nullptr) {
    inherited::Assign(source);
    return;
  }
  LoadRecord(s->ToRecord());
}

CL_CLASS(TLTHeader) {}

}  // namespace kelm::lazytree
