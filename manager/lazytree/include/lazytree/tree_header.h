// TLTHeader: the tree's header as a class-library object. It owns the
// column layout and the columns, keeps the header values the layout does
// not (background, font, style, sort direction), and reads and writes the
// header stream through its plain record.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/component.h"
#include "lazytree/header_columns.h"
#include "lazytree/header_layout.h"
#include "lazytree/header_stream.h"

namespace kelm::lazytree {

enum class TLTHeaderStyle : uint8_t { hsThickButtons, hsFlatButtons, hsPlates, hsXPStyle };

// The header's font until the painting part brings a font object.
struct THeaderFontValues {
  uint32_t Color = 0xFF000008;
  int32_t Height = -11;
  std::u16string Name;
  uint8_t Pitch = 0;
  uint8_t Style = 0;
};

class TLTHeader : public classlib::TPersistent {
  CL_DECLARE_CLASS(TLTHeader, TPersistent)

 public:
  TLTHeader();
  ~TLTHeader() override;

  THeaderLayout& Layout() { return layout_; }
  const THeaderLayout& Layout() const { return layout_; }
  TLazyTreeColumns* Columns() const { return columns_; }

  uint32_t Background = 0xFF00000F;
  TLTHeaderStyle Style = TLTHeaderStyle::hsThickButtons;
  uint8_t SortDirection = 0;
  bool ParentFont = false;
  int32_t DefaultHeight = 17;
  THeaderFontValues Font;

  // The header stream of the current version.
  std::vector<uint8_t> SaveToBytes() const;
  // A stream of any version read: parsed whole first (a damaged stream
  // raises the read error and changes nothing), then applied.
  void LoadFromBytes(const uint8_t* data, size_t size);
  THeaderRecord ToRecord() const;
  void LoadRecord(const THeaderRecord& record);

  void Assign(classlib::TPersistent* source) override;

 private:
  THeaderLayout layout_;
  TLazyTreeColumns* columns_ = nullptr;
};

}  // namespace kelm::lazytree
