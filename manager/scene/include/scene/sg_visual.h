// TsgVisualObject: the scene object with a place, a size and a look. A
// float rectangle (0, 0, Width, Height) placed in its parent by Position,
// Scale and RotateAngle about RotateCenter; laid out by Align, Margins and
// Padding; painted in child order through the scene's canvas; hit-tested
// in reverse order; fed input by the host window. Derived state (absolute
// matrix, opacity, enabled state, update rectangle) is cached behind dirty
// flags that the setters push down the subtree.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/component.h"
#include "classlib/input.h"
#include "classlib/variant.h"
#include "scene/sg_bounds.h"
#include "scene/sg_object.h"
#include "scene/sg_types.h"

namespace kelm::scene {

class TsgCanvas;
class TsgBitmap;
class TsgFont;

enum TsgAlign {
  vaNone,
  vaTopLeft,
  vaTopRight,
  vaBottomLeft,
  vaBottomRight,
  vaTop,
  vaLeft,
  vaRight,
  vaBottom,
  vaMostTop,
  vaMostBottom,
  vaMostLeft,
  vaMostRight,
  vaClient,
  vaContents,
  vaCenter,
  vaVertCenter,
  vaHorzCenter,
  vaHorizontal,
  vaVertical,
  vaScale,
  vaFit,
  vaFitLeft,
  vaFitRight
};
enum TsgDragMode { sgDragManual, sgDragAutomatic };

// What a drag carries to the visual objects it passes over.
struct TsgDragObject {
  classlib::TObject* Source = nullptr;
  std::vector<std::u16string> Files;
  classlib::TVariant Data;
};

using classlib::TMouseButton;
using classlib::TShiftState;
using TsgMouseEvent = classlib::TEvent<classlib::TObject*, TMouseButton, TShiftState, float, float>;
using TsgMouseMoveEvent =
    classlib::TEvent<classlib::TObject*, TShiftState, float, float, float, float>;
using TsgMouseWheelEvent =
    classlib::TEvent<classlib::TObject*, TShiftState, int, const TsgPoint&, bool&>;
using TsgKeyEvent = classlib::TEvent<classlib::TObject*, uint16_t&, char16_t&, TShiftState>;
using TsgCanFocusedEvent = classlib::TEvent<classlib::TObject*, bool&>;
using TsgDragEnterEvent =
    classlib::TEvent<classlib::TObject*, const TsgDragObject&, const TsgPoint&>;
using TsgDragDropEvent = TsgDragEnterEvent;
using TsgDragOverEvent =
    classlib::TEvent<classlib::TObject*, const TsgDragObject&, const TsgPoint&, bool&>;
using TOnPaintEvent = classlib::TEvent<classlib::TObject*, TsgCanvas*, const TsgRect&>;

// When an object's effects are drawn relative to its own painting.
enum class TsgEffectPass { Under, Over, Instead };

// The design-time service that knows the designer's selection. None unless
// a designer is installed; the program's own forms run without one.
class IsgSceneDesigner {
 public:
  virtual bool IsSelected(TsgObject* obj) = 0;
  // A selected object was hidden at design time.
  virtual void SelectionHidden(classlib::TComponent* owner, TsgObject* parent) = 0;

 protected:
  ~IsgSceneDesigner() = default;
};
extern IsgSceneDesigner* SceneDesigner;

// Shows a window pop-up menu at a screen point with the object as its
// pop-up component; set by the Win32 start-up. None: no menu is shown.
using TsgPopupMenuHook = void (*)(classlib::TComponent* menu, int x, int y,
                                  classlib::TComponent* popupComponent);
void SetPopupMenuHook(TsgPopupMenuHook hook);
TsgPopupMenuHook PopupMenuHook();

class TsgVisualObject : public TsgObject {
  CL_DECLARE_CLASS(TsgVisualObject, TsgObject)
 public:
  explicit TsgVisualObject(classlib::TComponent* AOwner);
  ~TsgVisualObject() override;
  void Loaded() override;

  // A float animation of propertyName from its current value to newValue,
  // made as a child, started, and freed when it finishes.
  void AnimateFloat(
      const std::string& propertyName, float newValue, float duration = 0.2f,
      TsgAnimationType type = TsgAnimationType::sgAnimationIn,
      TsgInterpolationType interpolation = TsgInterpolationType::sgInterpolationLinear);
  // The same, pumping messages until it has finished; then frees it.
  void AnimateFloatWait(
      const std::string& propertyName, float newValue, float duration = 0.2f,
      TsgAnimationType type = TsgAnimationType::sgAnimationIn,
      TsgInterpolationType interpolation = TsgInterpolationType::sgInterpolationLinear);
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;

  // ---- published events
  TsgMouseEvent OnMouseUp, OnMouseDown;
  TsgMouseMoveEvent OnMouseMove;
  TsgMouseWheelEvent OnMouseWheel;
  classlib::TNotifyEvent OnClick, OnDblClick;
  TsgCanFocusedEvent OnCanFocused;
  classlib::TNotifyEvent OnEnterFocus, OnKillFocus;
  classlib::TNotifyEvent OnMouseLeave, OnMouseEnter;
  TOnPaintEvent OnPaint, OnBeforePaint;
  TsgDragEnterEvent OnDragEnter;
  TsgDragDropEvent OnDragDrop;
  classlib::TNotifyEvent OnDragLeave;
  TsgDragOverEvent OnDragOver;
  classlib::TNotifyEvent OnDragEnd;
  TsgKeyEvent OnKeyDown, OnKeyUp;
  classlib::TNotifyEvent OnApplyResource;

  // ---- properties
  bool HitTest() const { return hitTest_; }
  void SetHitTest(bool v) { hitTest_ = v; }
  bool ClipChildren() const { return clipChildren_; }
  void SetClipChildren(bool v);
  bool AutoCapture = false;
  TsgBounds* Margins() const { return margins_; }
  void SetMargins(TsgBounds* v) { margins_->Assign(v); }
  TsgAlign Align() const { return align_; }
  bool AlignDisabled = false;
  TsgBounds* Padding() const { return padding_; }
  void SetPadding(TsgBounds* v) { padding_->Assign(v); }
  TsgCanvas* PaintCanvas() const { return paintCanvas_; }
  float RotateAngle() const { return rotateAngle_; }
  void SetRotateAngle(float v);
  TsgPosition* Position() const { return position_; }
  void SetPosition(TsgPosition* v) { position_->Assign(v); }
  TsgPosition* Scale() const { return scale_; }
  void SetScale(TsgPosition* v) { scale_->Assign(v); }
  TsgPosition* RotateCenter() const { return rotateCenter_; }
  void SetRotateCenter(TsgPosition* v) { rotateCenter_->Assign(v); }
  bool CanFocused = false;
  bool IsMouseOver() const { return isMouseOver_; }
  bool IsFocused() const { return isFocused_; }
  bool IsDragOver() const { return isDragOver_; }
  bool DisableFocusEffect = false;
  bool ClipParent() const { return clipParent_; }
  void SetClipParent(bool v) { clipParent_ = v; }
  bool DesignHide() const { return designHide_; }
  void SetDesignHide(bool v);
  bool NoDesignGrips = false;
  bool CanClipped() const { return canClipped_; }
  void SetCanClipped(bool v) { canClipped_ = v; }
  int32_t Cursor() const { return cursor_; }
  void SetCursor(int32_t v) { cursor_ = v; }
  TsgDragMode DragMode = sgDragManual;
  bool DragDisableHighlight = false;
  const std::u16string& Hint() const { return hint_; }
  void SetHint(const std::u16string& v) { hint_ = v; }
  bool ShowHint = false;
  classlib::TComponent* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(classlib::TComponent* menu);
  TsgObject* Popup() const { return popup_; }
  void SetPopup(TsgObject* popup);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v);
  int16_t PendingTabOrder = -1;
  const std::vector<TsgVisualObject*>& TabList() const { return tabList_; }
  bool HasAlignedChildren() const { return hasAlignedChildren_; }
  float Width() const { return width_; }
  float Height() const { return height_; }
  float LastWidth() const { return lastWidth_; }
  float LastHeight() const { return lastHeight_; }
  bool Visible() const { return visible_; }
  bool Locked() const { return locked_; }
  void SetLocked(bool v) { locked_ = v; }
  float Opacity() const { return opacity_; }
  void SetOpacity(float v);
  bool PaintingToBitmap() const { return paintingToBitmap_; }
  bool Pressed() const { return pressed_; }
  bool DoubleClicked() const { return doubleClicked_; }
  int UpdateCount() const { return updateCount_; }
  bool InRealign() const { return inRealign_; }
  bool EffectsDisabled = false;
  bool HasEffects() const { return hasEffects_; }
  const TsgMatrix& LocalMatrix() const { return localMatrix_; }
  // Cache flags, read by tests and by the classes that extend the caches.
  bool MatrixDirty() const { return matrixDirty_; }
  bool OpacityDirty() const { return opacityDirty_; }
  bool EnabledDirty() const { return enabledDirty_; }
  bool UpdateRectDirty() const { return updateRectDirty_; }
  bool EffectsDirty() const { return effectsDirty_; }

  // ---- virtual operations, in slot order after TsgObject's
  virtual void SetVisible(bool v);
  virtual void SetHeight(float v);
  virtual void SetWidth(float v);
  virtual void SetAlign(TsgAlign v);
  virtual TsgRect GetAbsoluteRect();
  virtual TsgMatrix GetAbsoluteMatrix();
  virtual TsgMatrix GetChildrenMatrix() { return IdentityMatrix; }
  virtual TsgPoint GetAbsoluteScale();
  virtual TsgRect GetLocalRect() { return {0, 0, width_, height_}; }
  virtual TsgRect GetUpdateRect();
  virtual TsgRect GetBoundsRect() { return {0, 0, width_, height_}; }
  virtual TsgRect GetParentedRect();
  virtual TsgRect GetClipRect() { return {0, 0, width_, height_}; }
  virtual TsgRect GetEffectsRect();
  virtual bool GetAbsoluteEnabled();
  virtual void SetSizeFromLocalRect(const TsgRect& r);
  virtual void MarkOpacityDirty();
  virtual void MarkMatrixDirty();
  virtual float GetAbsoluteOpacity();
  virtual void DesignInsert() {}
  virtual void DesignClick() {}
  virtual void DesignSelect() {}
  virtual void BeginAutoDrag();
  virtual void Click();
  virtual void DblClick();
  virtual void MouseDown(TMouseButton button, TShiftState shift, float x, float y);
  virtual void MouseMove(TShiftState shift, float x, float y, float dx, float dy);
  virtual void MouseUp(TMouseButton button, TShiftState shift, float x, float y);
  virtual void MouseWheel(TShiftState shift, int delta, bool& handled);
  virtual void KeyDown(uint16_t& key, char16_t& keyChar, TShiftState shift);
  virtual void KeyUp(uint16_t& key, char16_t& keyChar, TShiftState shift);
  virtual void DialogKey(uint16_t& key, TShiftState shift);
  virtual void MouseEnter();
  virtual void MouseLeave();
  virtual void ContextPopup(const TsgPoint& screenPoint);
  virtual void DragEnter(const TsgDragObject& data, const TsgPoint& point);
  virtual void DragOver(const TsgDragObject& data, const TsgPoint& point, bool& accept);
  virtual void DragDrop(const TsgDragObject& data, const TsgPoint& point);
  virtual void DragLeave();
  virtual void DragEnd();
  virtual bool ChildFocused(TsgVisualObject* child) {
    (void)child;
    return false;
  }
  virtual void EnterFocus();
  virtual void KillFocus();
  virtual void ApplyResource() {}
  virtual void BeforePaint() {}
  virtual void Paint() {}
  virtual void AfterPaint() {}
  virtual void PaintChildren();
  virtual void MarginsChanged(classlib::TObject* sender);
  virtual void PaddingChanged(classlib::TObject* sender);
  virtual void MatrixChanged(classlib::TObject* sender);
  virtual TsgPoint AbsoluteToLocal(const TsgPoint& p);
  virtual TsgPoint LocalToAbsolute(const TsgPoint& p);
  virtual TsgPoint AbsoluteToLocalVector(const TsgPoint& v);
  virtual TsgPoint LocalToAbsoluteVector(const TsgPoint& v);
  virtual TsgVisualObject* ObjectAtPoint(const TsgPoint& p);
  virtual bool PointInObject(const TsgPoint& p);
  virtual void SetBounds(float x, float y, float width, float height);
  virtual bool IsVisibleWithParents();
  virtual void BeginUpdate();
  virtual void EndUpdate();
  virtual void Realign();

  // ---- hooks for the classes built on this one
  // What the IME needs of an object that edits text: its font (may stay
  // none) and the caret's offset from the object's local origin. False for
  // objects that edit no text.
  virtual bool ImeCompositionInfo(TsgFont*& font, TsgPoint& caretOffset) {
    (void)font, (void)caretOffset;
    return false;
  }
  // A scroll content: its parent realigns when its size changes.
  virtual bool IsScrollContent() const { return false; }
  // Draws the object's effects for one pass (renders them first when
  // stale): effects drawn before the object, the replacing ones included,
  // in the Under pass; those drawn over it in the Over pass.
  virtual void ApplyEffect(TsgCanvas* canvas, TsgEffectPass pass);

  // ---- further operations
  void Repaint();
  void MarkUpdateRectDirty();
  void MarkEnabledDirty();
  // Marks the effect caches of this object and its visual ancestors.
  void UpdateEffects();
  TsgCanvas* Canvas();
  TsgVisualObject* FindDragTarget(const TsgPoint& p, const TsgDragObject& data);
  // Paints this object and its subtree into canvas so that it fills r;
  // restores everything afterwards, also when painting raises.
  void PaintTo(TsgCanvas* canvas, const TsgRect& r, TsgObject* parent);
  void SetFocus();
  // A new bitmap of the rounded size with this object painted into it
  // through a canvas of the default class; none without a scene, a canvas
  // class or an area. The caller frees it.
  TsgBitmap* RenderToBitmap();
  bool EffectiveHitTest();
  bool IsDesignTime() const;
  TsgVisualObject* VisualParent() const;
  // Position of child in the tab list, -1 when absent; moving keeps the
  // other entries in order.
  int TabIndexOf(const TsgVisualObject* child) const;
  void MoveTabEntry(TsgVisualObject* child, int index);
  // Places the entries whose PendingTabOrder lies in the list at that
  // index (a later entry with the same value wins), lowest index first.
  void ApplyPendingTabOrders();
  void MarkEffectsDirty() { effectsDirty_ = true; }
  // Stores Visible alone, without repaint or layout: a painter leaves a
  // child out of one pass.
  void SetVisibleField(bool v) { visible_ = v; }

  // ---- caret: a rectangle child made on first use (the shapes' unit)
  void ShowCaret();
  void HideCaret();
  // Rounded.
  void SetCaretPos(const TsgPoint& p);
  void SetCaretSize(const TsgPoint& size);
  void SetCaretColor(TsgColor color);
  TsgVisualObject* Caret() const { return caret_; }

  // ---- TsgObject roads
  void SetScene(IsgScene* scene) override;
  void DeleteChildren() override;
  bool IsLockedPart() const override { return locked_ && !hitTest_; }
  void ChildAdded(TsgObject* child) override;
  void EffectChildAdded(TsgObject* child) override;
  void ChildRemoving(TsgObject* child) override;
  void ChildRemoved(TsgObject* child) override;
  void RealignChildren() override { Realign(); }
  void RepaintObject() override { Repaint(); }

  // Stream predicates.
  bool OpacityStored() const { return opacity_ != 1; }

 protected:
  // The sort and slot steps of the base layout, for layout classes.
  void AlignChildren();
  void SetPaintCanvasTree(TsgCanvas* canvas);
  void RecomputeFlags();
  void FirstAlignedChild();
  // Stores a point without firing its change event; the caller rebuilds
  // the matrix once itself.
  static void SetPointQuiet(TsgPosition* p, const TsgPoint& v);

 private:
  void TriggerState(const std::string& property);
  void SetSizeField(float v, float& field, float TsgPoint::*scaleAxis);
  // Width or height changed: the field, then what follows from a new size.
  void SetSide(float v, float& field, float TsgPoint::*scaleAxis);
  void PositionChangedEvent(classlib::TObject* sender) { MatrixChanged(sender); }
  void MarginsChangedEvent(classlib::TObject* sender) { MarginsChanged(sender); }
  void PaddingChangedEvent(classlib::TObject* sender) { PaddingChanged(sender); }
  void PaintChild(TsgVisualObject* child);
  bool MeetsDirtyRects(TsgVisualObject* child);
  TsgRect SubtreeRect();
  void SetPaintingToBitmapTree(bool v);
  void RecomputeTree();
  void RemoveFromTabList(TsgVisualObject* child);
  bool ReplacedByEffect() const;
  void AddUpdateCountTree(int delta);
  void RenderEffects();
  TsgVisualObject* EnsureCaret();

  bool hitTest_ = true;
  bool clipChildren_ = false;
  TsgBounds* margins_;
  TsgAlign align_ = vaNone;
  TsgBounds* padding_;
  TsgCanvas* paintCanvas_ = nullptr;
  float rotateAngle_ = 0;
  TsgPosition* position_;
  TsgPosition* scale_;
  TsgPosition* rotateCenter_;
  bool isMouseOver_ = false, isFocused_ = false, isDragOver_ = false;
  bool clipParent_ = false;
  bool designHide_ = false;
  bool canClipped_ = true;
  int32_t cursor_ = 0;
  std::u16string hint_;
  classlib::TComponent* popupMenu_ = nullptr;
  TsgObject* popup_ = nullptr;
  bool enabledDirty_ = true, enabled_ = true, absoluteEnabled_ = true;
  std::vector<TsgVisualObject*> tabList_;
  bool hasAlignedChildren_ = false;
  float height_ = 50, lastHeight_ = 50, width_ = 50, lastWidth_ = 50;
  bool visible_ = true;
  TsgMatrix localMatrix_ = IdentityMatrix;
  TsgMatrix absoluteMatrix_ = IdentityMatrix;
  bool matrixDirty_ = true;
  bool effectsDirty_ = true;
  bool locked_ = false;
  float opacity_ = 1, absoluteOpacity_ = 1;
  bool opacityDirty_ = true;
  bool paintingToBitmap_ = false;
  TsgRect updateRect_{};
  bool updateRectDirty_ = true;
  bool pressed_ = false, doubleClicked_ = false;
  int updateCount_ = 0;
  bool inRealign_ = false;
  bool hasEffects_ = false;
  TsgVisualObject* caret_ = nullptr;
};

}  // namespace kelm::scene
