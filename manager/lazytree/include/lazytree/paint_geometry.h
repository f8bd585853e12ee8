// Where the painting of a row puts its parts, worked out without a window:
// the tree lines of each indentation level, the check image of a node, the
// row's centre line and the expand button's offset (portable).
#pragma once

#include <cstdint>
#include <vector>

#include "lazytree/lazy_node.h"

namespace kelm::lazytree {

class TLazyTreeView;

// One indentation level's lines; x is the step's left edge, xm its middle.
enum TLTLineType : uint8_t {
  ltNone,
  ltBottomRight,   // xm from the centre line down; centre line to the right
  ltTopDown,       // xm over the whole row
  ltTopDownRight,  // xm over the whole row; centre line to the right
  ltRight,         // centre line from xm to the right
  ltTopRight,      // xm from the top to the centre line; centre line to the right
  ltLeft,          // the step's left edge over the whole row (bands)
  ltLeftBottom,    // as ltLeft, plus the row's bottom across the step
};
using TLineImage = std::vector<TLTLineType>;

// One entry per level: the node's ancestors below the hidden root, plus one
// with showRoot; the node's own entry last. All ltNone without tree lines.
TLineImage GetLineImage(const TLazyTreeView& view, PLazyNode node, bool showTreeLines,
                        bool showRoot, bool childrenAbove);
// The band look of a line image (lmBands): every level ltLeft for an
// expanded node whose children are not all hidden.
TLineImage GetBandImage(const TLineImage& lines, bool expandedWithShownChildren);

// The image of a node's check box in a 25-image check list; -1 for ctNone.
int CheckImageIndex(TCheckType type, TCheckState state, bool disabled, bool hot);

// The expand button's offset in its indentation step: half the room left
// by the button, rounded half to even; each level but the first adds an
// indent unless the indentation is fixed.
int ButtonX(int indent, int buttonWidth, uint32_t levels, bool fixedIndent);

// How a node's Align places its centre line.
enum TLTNodeAlignment : uint8_t { naFromBottom, naFromTop, naProportional };
// The y of the row's centre line. imageHeight: of the normal images, else
// the state images, 0 without either; buttonHeight: 0 without buttons.
int ComputeVAlign(TLTNodeAlignment alignment, int nodeAlign, int nodeHeight, int imageHeight,
                  int buttonHeight);

// a * b / c rounded to the nearest, halves away from zero.
int MulDivRound(int a, int b, int c);

}  // namespace kelm::lazytree
