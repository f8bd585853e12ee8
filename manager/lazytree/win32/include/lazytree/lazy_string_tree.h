// The string tree: cells show wide text the owner answers through
// OnGetText; the main column's text width is cached in every node. And the
// draw tree, whose owner paints and measures the cells itself.
#pragma once

#include <string>

#include "lazytree/base_lazy_tree.h"

namespace kelm::lazytree {

class TCustomLazyStringTree : public TBaseLazyTree {
  CL_DECLARE_CLASS(TCustomLazyStringTree, TBaseLazyTree)
 public:
  explicit TCustomLazyStringTree(classlib::TComponent* AOwner);
  void AfterConstruction() override;

  // A cell's text: DefaultText, then what OnGetText makes of it.
  using TBaseLazyTree::SetText;
  std::u16string GetText(PLazyNode node, TColumnIndex column);
  void SetText(PLazyNode node, TColumnIndex column, const std::u16string& value);
  const std::u16string& DefaultText() const { return defaultText_; }
  void SetDefaultText(const std::u16string& value);
  TLTStringOptions StringOptions() const;
  void SetStringOptions(TLTStringOptions value);

  // The font's character height and the width of "..." in it, measured
  // whenever the window gets a new font.
  int TextHeight() const { return textHeight_; }
  int EllipsisWidth() const { return ellipsisWidth_; }
  // The cached main-column width of a node (0: not measured); none for
  // none and the root.
  uint32_t* TextWidthSlot(PLazyNode node) const;

  int GetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas) override;
  virtual int ComputeNodeHeight(TCanvas* canvas, PLazyNode node, TColumnIndex column,
                                std::u16string s = {});
  bool CellIsEmpty(PLazyNode node, TColumnIndex column) override;
  void InvalidateNode(PLazyNode node) override;
  void ReinitNode(PLazyNode node, bool recursive) override;
  classlib::TClass GetOptionsClass() const override {
    return TCustomStringTreeOptions::StaticClass();
  }
  void WndProc(classlib::TMessage& message) override;
  // The cell's texts: the normal one, then the static one after it.
  void DoPaintNode(const TLTPaintInfo& paintInfo) override;
  // Set by the canvas font's watch when OnPaintText changed the font.
  bool FontChanged = false;

 protected:
  virtual void DoGetText(PLazyNode node, TColumnIndex column, TLTTextType textType,
                         std::u16string& text);
  virtual void DoNewText(PLazyNode node, TColumnIndex column, const std::u16string& text);
  // The caption chunk (win32/src/lazy_string_tree_stream.cpp): the main
  // column's text with toSaveCaptions.
  void WriteNodeChunks(TStream& stream, PLazyNode node) override;
  bool ReadNodeChunk(TStream& stream, int version, PLazyNode node, int32_t chunkType,
                     int32_t chunkSize) override;
  virtual void DoPaintText(PLazyNode node, TCanvas* canvas, TColumnIndex column,
                           TLTTextType textType);
  virtual int DoTextMeasuring(TCanvas* canvas, PLazyNode node, TColumnIndex column,
                              const std::u16string& text);
  // OnShortenString, else the longest prefix that fits with "...".
  virtual std::u16string DoShortenString(TCanvas* canvas, PLazyNode node, TColumnIndex column,
                                         const std::u16string& s, int width, int ellipsisWidth);
  // OnDrawText, then DrawTextW unless the handler drew the text itself.
  virtual void DoTextDrawing(const TLTPaintInfo& paintInfo, const std::u16string& text,
                             TRect cellRect, UINT drawFormat);
  // Font and colour of the cell's text: hot, selected, drop target.
  void InitializeTextProperties(const TLTPaintInfo& paintInfo);
  void PaintNormalText(const TLTPaintInfo& paintInfo, const std::u16string& text);
  void PaintStaticText(const TLTPaintInfo& paintInfo, const std::u16string& text);
  int CalculateTextWidth(TCanvas* canvas, PLazyNode node, const std::u16string& text,
                         TColumnIndex column);
  void HeaderMainColumnChanged(int column) override;
  void DefineProperties(classlib::TFiler& filer) override;
  // Every node's cached width back to 0.
  void ResetTextWidths();
  // Text metrics of the current font.
  void MeasureFont();

 private:
  std::u16string defaultText_ = u"Node";
  uint32_t widthOffset_ = 0;
  int textHeight_ = 0;
  int ellipsisWidth_ = 0;
};

// The published form: every property and event of the stored forms.
class TLazyStringTree : public TCustomLazyStringTree {
  CL_DECLARE_CLASS(TLazyStringTree, TCustomLazyStringTree)
 public:
  using TCustomLazyStringTree::TCustomLazyStringTree;
  classlib::TClass GetOptionsClass() const override { return TStringTreeOptions::StaticClass(); }
};

// Makes the tree classes known to stored forms by their names.
void RegisterLazyTreeClasses();

// The tree whose owner draws and measures the cells.
class TCustomLazyDrawTree : public TBaseLazyTree {
  CL_DECLARE_CLASS(TCustomLazyDrawTree, TBaseLazyTree)
 public:
  using TBaseLazyTree::TBaseLazyTree;
  using DrawTree = TCustomLazyDrawTree*;
  classlib::TEvent<DrawTree, const TLTPaintInfo&> OnPaintCell;
  classlib::TEvent<DrawTree, TCanvas*, PLazyNode, TColumnIndex, int&> OnQueryNodeWidth;
  classlib::TEvent<DrawTree, TCanvas*, PLazyNode, TColumnIndex, int, TPoint&> OnQueryContentMargin;
  classlib::TEvent<DrawTree, PLazyNode, TColumnIndex, TRect&> OnQueryHintSize;
  classlib::TEvent<DrawTree, TCanvas*, PLazyNode, TRect, TColumnIndex> OnPaintHint;

  // The owner's width, 2 x TextMargin without a handler.
  int GetNodeWidth(PLazyNode node, TColumnIndex column, TCanvas* canvas) override;
  // The owner's margins, (0, 0) without a handler.
  TPoint GetCellContentMargin(PLazyNode node, TColumnIndex column, int marginKind,
                              TCanvas* canvas = nullptr) override;
  void DoPaintNode(const TLTPaintInfo& paintInfo) override;
  // The hint window's size query.
  virtual void DoGetHintSize(PLazyNode node, TColumnIndex column, TRect& r);
  virtual void DoDrawHint(TCanvas* canvas, PLazyNode node, TRect r, TColumnIndex column);
};

}  // namespace kelm::lazytree
