// The tree's node record and its state bits. Every node is one zero-filled
// allocation: this record, the tree class's internal data area, then the
// owner's data area.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelm::lazytree {

enum TCheckState : uint8_t {
  csUncheckedNormal,
  csUncheckedPressed,
  csCheckedNormal,
  csCheckedPressed,
  csMixedNormal,
  csMixedPressed,
};

enum TCheckType : uint8_t { ctNone, ctTriStateCheckBox, ctCheckBox, ctRadioButton, ctButton };

// Node state bits (TLazyNode::States).
enum : uint16_t {
  nsInitialized = 0x0001,
  nsChecking = 0x0002,
  nsCutOrCopy = 0x0004,
  nsDisabled = 0x0008,
  nsDeleting = 0x0010,
  nsExpanded = 0x0020,
  nsHasChildren = 0x0040,
  nsVisible = 0x0080,
  nsSelected = 0x0100,
  nsFreeNotifyRequired = 0x0200,
  nsAllChildrenHidden = 0x0400,
  nsClearing = 0x0800,
  nsMultiline = 0x1000,
  nsHeightMeasured = 0x2000,
  nsToggling = 0x4000,
};

struct TLazyNode;
using PLazyNode = TLazyNode*;

struct TLazyNode {
  uint32_t Index;        // position among its siblings, from 0
  uint32_t ChildCount;   // number of children
  uint16_t NodeHeight;   // pixels
  uint16_t States;       // ns* bits
  uint8_t Align;         // line and button position: percent or pixels
  uint8_t CheckState;    // TCheckState
  uint8_t CheckType;     // TCheckType
  uint32_t TotalCount;   // nodes in this subtree, itself included
  uint32_t TotalHeight;  // pixel height of the visible part of the subtree, itself included
  PLazyNode Parent;      // the hidden root for top-level nodes
  PLazyNode PrevSibling;
  PLazyNode NextSibling;
  PLazyNode FirstChild;
  PLazyNode LastChild;

  bool Has(uint16_t bits) const { return (States & bits) != 0; }
  void Include(uint16_t bits) { States = static_cast<uint16_t>(States | bits); }
  void Exclude(uint16_t bits) { States = static_cast<uint16_t>(States & ~bits); }
};

// The record's widths and order are the ones stored forms, streams and the
// owner rely on; on i686 they give this exact layout.
#if defined(__i386__) || defined(_M_IX86)
static_assert(sizeof(TLazyNode) == 44);
static_assert(offsetof(TLazyNode, ChildCount) == 4);
static_assert(offsetof(TLazyNode, NodeHeight) == 8);
static_assert(offsetof(TLazyNode, States) == 10);
static_assert(offsetof(TLazyNode, Align) == 12);
static_assert(offsetof(TLazyNode, CheckState) == 13);
static_assert(offsetof(TLazyNode, CheckType) == 14);
static_assert(offsetof(TLazyNode, TotalCount) == 16);
static_assert(offsetof(TLazyNode, TotalHeight) == 20);
static_assert(offsetof(TLazyNode, Parent) == 24);
static_assert(offsetof(TLazyNode, PrevSibling) == 28);
static_assert(offsetof(TLazyNode, NextSibling) == 32);
static_assert(offsetof(TLazyNode, FirstChild) == 36);
static_assert(offsetof(TLazyNode, LastChild) == 40);
#endif
static_assert(offsetof(TLazyNode, Index) == 0);
static_assert(offsetof(TLazyNode, TotalCount) == 16);
static_assert(offsetof(TLazyNode, Parent) == 24);

}  // namespace kelm::lazytree
