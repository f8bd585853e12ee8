#include "lazytree/paint_geometry.h"

#include "lazytree/lazy_tree_view.h"

namespace kelm::lazytree {

TLineImage GetLineImage(const TLazyTreeView& view, PLazyNode node, bool showTreeLines,
                        bool showRoot, bool childrenAbove) {
  const uint32_t level = view.GetNodeLevel(node);
  const size_t count = level + (showRoot ? 1 : 0);
  TLineImage lines(count, ltNone);
  if (!showTreeLines || count == 0) return lines;
  // The entry of the ancestor at a level (level 0 has one only with the
  // root shown).
  auto entry = [&](uint32_t atLevel) -> TLTLineType& {
    return lines[showRoot ? atLevel : atLevel - 1];
  };
  // An ancestor's line passes its level when a sibling shown on the side
  // the lines run to follows.
  auto markAncestors = [&](bool (TLazyTreeView::*continues)(PLazyNode) const) {
    uint32_t ancestorLevel = level;
    for (PLazyNode run = node->Parent; ancestorLevel > 0; run = run->Parent) {
      --ancestorLevel;
      if (ancestorLevel == 0 && !showRoot) break;
      entry(ancestorLevel) = (view.*continues)(run) ? ltTopDown : ltNone;
    }
  };
  const bool next = view.HasVisibleNextSibling(node);
  const bool previous = view.HasVisiblePreviousSibling(node);
  if (childrenAbove) {
    // Lines run upwards to the parent, which is painted below its children.
    const bool continues = level > 0 || next;
    lines.back() = previous    ? (continues ? ltTopDownRight : ltTopRight)
                   : continues ? ltBottomRight
                               : ltRight;
    markAncestors(&TLazyTreeView::HasVisiblePreviousSibling);
    return lines;
  }
  if (level > 0) {
    lines.back() = next ? ltTopDownRight : ltTopRight;
  } else {
    // A top-level node's own entry, with the root shown.
    lines.back() =
        previous ? (next ? ltTopDownRight : ltTopRight) : (next ? ltBottomRight : ltRight);
  }
  markAncestors(&TLazyTreeView::HasVisibleNextSibling);
  return lines;
}

TLineImage GetBandImage(const TLineImage& lines, bool expandedWithShownChildren) {
  TLineImage bands(lines.size(), ltLeft);
  if (expandedWithShownChildren) return bands;
  for (size_t i = lines.size(); i-- > 0;) {
    switch (lines[i]) {
      case ltBottomRight:
      case ltTopDownRight:
      case ltRight:
      case ltTopRight:
        bands[i] = ltLeftBottom;
        break;
      default:
        // A level without its own branch continues the deeper one's band
        // where that level ends or passes nothing.
        if (i + 1 < lines.size() && (lines[i + 1] == ltNone || lines[i + 1] == ltTopRight))
          bands[i] = bands[i + 1];
        break;
    }
  }
  return bands;
}

int CheckImageIndex(TCheckType type, TCheckState state, bool disabled, bool hot) {
  if (type == ctNone) return -1;
  const bool mixed = state == csMixedNormal || state == csMixedPressed;
  const bool checked = state == csCheckedNormal || state == csCheckedPressed;
  const bool pressed =
      state == csUncheckedPressed || state == csCheckedPressed || state == csMixedPressed;
  int base = 0;
  if (mixed) {
    base = 17;
  } else if (type == ctRadioButton) {
    base = checked ? 5 : 1;
  } else if (type == ctButton) {
    base = 21;
  } else {
    base = checked ? 13 : 9;
  }
  // Disabled and pressed looks take no hot variant.
  if (disabled) return base + 3;
  if (pressed) return base + 2;
  return base + (hot ? 1 : 0);
}

int ButtonX(int indent, int buttonWidth, uint32_t levels, bool fixedIndent) {
  const int room = indent - buttonWidth;
  int x = room >= 0 ? room / 2 : -((-room + 1) / 2);  // floor of room / 2
  // A half goes to the even neighbour.
  if ((room & 1) != 0 && (x & 1) != 0) ++x;
  if (!fixedIndent && levels > 1) x += static_cast<int>(levels - 1) * indent;
  return x;
}

int MulDivRound(int a, int b, int c) {
  if (c == 0) return -1;
  const int64_t product = static_cast<int64_t>(a) * b;
  const int64_t half = (c < 0 ? -static_cast<int64_t>(c) : c) / 2;
  const bool negative = (product < 0) != (c < 0);
  const int64_t magnitude = (product < 0 ? -product : product) + half;
  const int64_t quotient = magnitude / (c < 0 ? -static_cast<int64_t>(c) : c);
  return static_cast<int>(negative ? -quotient : quotient);
}

int ComputeVAlign(TLTNodeAlignment alignment, int nodeAlign, int nodeHeight, int imageHeight,
                  int buttonHeight) {
  switch (alignment) {
    case naFromBottom:
      return nodeHeight - nodeAlign;
    case naFromTop:
      return nodeAlign;
    default:
      break;
  }
  const int part = imageHeight > 0 ? imageHeight : buttonHeight;
  if (part > 0) return MulDivRound(nodeHeight - part, nodeAlign, 100) + part / 2;
  return MulDivRound(nodeHeight, nodeAlign, 100);
}

}  // namespace kelm::lazytree
