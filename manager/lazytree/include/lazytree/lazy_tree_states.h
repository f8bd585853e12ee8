// The tree's state set: 55 flags, changed only through DoStateChange.
#pragma once

#include <cstdint>
#include <initializer_list>

namespace kelm::lazytree {

enum TLazyTreeState : uint8_t {
  tsCancelHintAnimation,
  tsChangePending,
  tsCheckPropagation,
  tsCollapsing,
  tsToggleFocusedSelection,
  tsClearPending,
  tsClipboardFlushing,
  tsCopyPending,
  tsCutPending,
  tsDrawSelPending,
  tsDrawSelecting,
  tsEditing,
  tsEditPending,
  tsExpanding,
  tsNodeHeightTracking,
  tsNodeHeightTrackPending,
  tsHint,
  tsInAnimation,
  tsIncrementalSearching,
  tsIncrementalSearchPending,
  tsIterating,
  tsKeyCheckPending,
  tsLeftButtonDown,
  tsLeftDblClick,
  tsMouseCheckPending,
  tsMiddleButtonDown,
  tsMiddleDblClick,
  tsNeedScale,
  tsNeedRootCountUpdate,
  tsOLEDragging,
  tsOLEDragPending,
  tsPainting,
  tsRightButtonDown,
  tsRightDblClick,
  tsPopupMenuShown,
  tsScrolling,
  tsScrollPending,
  tsSizing,
  tsStopValidation,
  tsStructureChangePending,
  tsSynchMode,
  tsThumbTracking,
  tsToggling,
  tsUpdateHiddenChildrenNeeded,
  tsUpdating,
  tsUseCache,
  tsUserDragObject,
  tsUseThemes,
  tsValidating,
  tsValidationNeeded,
  tsNativeDragging,
  tsNativeDragPending,
  tsWheelPanning,
  tsWheelScrolling,
  tsWindowCreating,
};
inline constexpr int kLazyTreeStateCount = tsWindowCreating + 1;
static_assert(kLazyTreeStateCount == 55);

class TLazyTreeStates {
 public:
  constexpr TLazyTreeStates() = default;
  constexpr TLazyTreeStates(std::initializer_list<TLazyTreeState> members) {
    for (TLazyTreeState s : members) bits_ |= Bit(s);
  }
  static constexpr TLazyTreeStates FromBits(uint64_t bits) {
    TLazyTreeStates s;
    s.bits_ = bits & kAll;
    return s;
  }
  constexpr uint64_t Bits() const { return bits_; }
  constexpr bool Contains(TLazyTreeState s) const { return (bits_ & Bit(s)) != 0; }
  constexpr bool Empty() const { return bits_ == 0; }
  constexpr TLazyTreeStates operator+(TLazyTreeStates o) const { return FromBits(bits_ | o.bits_); }
  constexpr TLazyTreeStates operator-(TLazyTreeStates o) const {
    return FromBits(bits_ & ~o.bits_);
  }
  constexpr TLazyTreeStates operator*(TLazyTreeStates o) const { return FromBits(bits_ & o.bits_); }
  constexpr bool operator==(TLazyTreeStates o) const { return bits_ == o.bits_; }
  constexpr bool operator!=(TLazyTreeStates o) const { return bits_ != o.bits_; }

 private:
  static constexpr uint64_t kAll = (uint64_t(1) << kLazyTreeStateCount) - 1;
  static constexpr uint64_t Bit(TLazyTreeState s) { return uint64_t(1) << s; }
  uint64_t bits_ = 0;
};

}  // namespace kelm::lazytree
