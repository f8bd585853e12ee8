// TsgCustomScene: the window that hosts a scene tree. It owns the root
// objects and the one canvas they are drawn into, collects dirty rectangles
// and copies only those to the screen: through WM_PAINT on a normal window,
// or through UpdateLayeredWindow on a per-pixel-alpha top-level form. It
// also turns window messages into scene input (keys, characters, the IME,
// mouse with capture and hover, wheel, OLE drops), moves and resizes its
// form from inside the scene, and edits the scene in design mode.
#pragma once

#include <windows.h>

#include <ole2.h>
// The scene tree has a FindResource of its own.
#undef FindResource

#include <cstdint>
#include <string>
#include <vector>

#include "classlib/controls.h"
#include "classlib/forms.h"
#include "scene/sg_canvas.h"
#include "scene/sg_scene_intf.h"
#include "scene/sg_visual.h"

namespace kelm::scene {

class TsgFrame;

// The private message that drains queued layered updates into one draw.
constexpr UINT WM_SG_UPDATE = 0x47B;
// More queued rectangles than this are drawn as their union.
constexpr size_t kMaxUpdateRects = 20;

using TUpdateLayeredWindowFn = BOOL(WINAPI*)(HWND, HDC, POINT*, SIZE*, HDC, POINT*, COLORREF,
                                             BLENDFUNCTION*, DWORD);
// The layered-window entry bound at start-up; none when the system has it
// not. Tests clear or replace it.
TUpdateLayeredWindowFn UpdateLayeredWindowBinding();
void SetUpdateLayeredWindowBinding(TUpdateLayeredWindowFn fn);

// The host's share of the scene library's start-up (sgStartupScene): its
// classes registered, the layered-window entry bound by name from
// user32.dll, OLE started for the thread; and of the shut-down.
void StartSceneHost();
void StopSceneHost();

// Snaps a dirty rectangle to whole pixels (left and top truncated, right
// and bottom truncated then grown by one) and decides whether it is kept
// for a client area of width x height: false for an empty, non-finite or
// out-of-range rectangle, or one that misses the client area (touching an
// edge counts as meeting it).
bool SnapUpdateRect(const TsgRect& r, int width, int height, RECT& out);

// Files of a dropped CF_HDROP block, each read only inside the block and
// at most 260 characters long; empty for a malformed block.
std::vector<std::u16string> ReadDroppedFiles(HGLOBAL block);

// The tab traversal: the index in a list of count entries that receives
// the focus after `focused` (-1: none), trying every other entry once in
// order (forward from focused + 1, wrapping; Shift+Tab backwards), and
// focused itself last. -1 when no entry accepts.
template <typename Accepts>
int NextTabIndex(int count, int focused, bool backward, Accepts accepts) {
  if (count <= 0) return -1;
  const int start = focused < 0 ? (backward ? count - 1 : 0)
                                : (backward ? focused - 1 + count : focused + 1) % count;
  for (int i = 0; i < count; ++i) {
    const int n = backward ? (start - i + count) % count : (start + i) % count;
    if (accepts(n)) return n;
  }
  return -1;
}

class TsgCustomScene : public classlib::TCustomControl, public IsgScene {
  CL_DECLARE_CLASS(TsgCustomScene, TCustomControl)
 public:
  explicit TsgCustomScene(classlib::TComponent* AOwner);
  ~TsgCustomScene() override;
  void BeforeDestruction() override;
  bool GetInterface(const classlib::TGUID& iid, void** obj) override;

  // ---- properties
  TsgCanvas* Canvas() const { return canvas_; }
  bool DisableUpdate = false;
  TsgBrush* Fill() const { return fill_; }
  void SetFill(TsgBrush* v) { fill_->Assign(v); }
  bool Transparency() const { return transparency_; }
  void SetTransparency(bool v);
  // Whether the form was made layered when the window was made; the road
  // of every later update follows this, not Transparency.
  bool Layered() const { return layered_; }
  bool AnimatedCaret = true;
  bool DesignSnapToGrid = false, DesignSnapToLines = true, DesignSnapGridShow = false;
  float GridSize = 1;
  TsgResources* Style() const { return style_; }
  TsgControl* ActiveControl() const { return activeControl_; }
  void SetActiveControl(TsgControl* v);
  const std::vector<TsgObject*>& Roots() const { return roots_; }
  TsgVisualObject* Hovered() const { return hovered_; }
  const std::vector<TsgVisualObject*>& SnapLines() const { return snapLines_; }
  const std::vector<TsgVisualObject*>& MultiSelection() const { return multiSelection_; }
  const std::vector<TsgRect>& UpdateRects() const { return updateRects_; }
  POINT InsertPoint() const { return insertPoint_; }
  bool WindowMoving() const { return windowMoving_; }
  bool WindowResizing() const { return windowResizing_; }
  // Draw passes run so far (read by tests and the benchmark).
  int DrawCount() const { return drawCount_; }
  TsgFrame* Frame() const { return frame_; }
  // The OLE drop target registered for the window (made with it).
  IDropTarget* DropTargetInterface() const;
  void SetFrame(TsgFrame* frame) { frame_ = frame; }

  // ---- IsgScene
  void AddObject(TsgObject* obj) override;
  void RemoveObject(TsgObject* obj) override;
  void BeginWindowMove() override;
  void BeginWindowResize() override;
  void AddUpdateRect(const TsgRect& r) override;
  void InsertObject(const std::string& className) override;
  TsgControl* GetActiveControl() override { return activeControl_; }
  bool GetDisableUpdate() override { return DisableUpdate; }
  void SetDisableUpdate(bool value) override { DisableUpdate = value; }
  bool GetDesignTime() override { return design_; }
  TsgCanvas* GetCanvas() override { return canvas_; }
  TsgObject* GetRoot() override { return roots_.empty() ? nullptr : roots_.front(); }
  classlib::TComponent* GetOwner() override { return Owner(); }
  classlib::TComponent* GetComponent() override { return this; }
  TsgResources* GetStyle() override { return style_; }
  void SetStyle(TsgResources* style) override;
  bool GetTransparency() override { return transparency_; }
  void UpdateStyle() override;
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;
  TsgVisualObject* GetSelected() override { return selected_; }
  TsgVisualObject* GetDesignPlaceObject() override { return designPlaceObject_; }
  int GetUpdateRectsCount() override { return static_cast<int>(updateRects_.size()); }
  TsgRect GetUpdateRectItem(int index) override;
  void SetCaptured(TsgVisualObject* obj) override;
  TsgVisualObject* GetCaptured() override { return captured_; }
  void SetFocused(TsgVisualObject* obj) override;
  TsgVisualObject* GetFocused() override { return focused_; }
  void SetDesignPlaceHolder(TsgObject* obj) override { designPlaceHolder_ = obj; }
  TsgPoint GetMousePos() override { return lastPoint_; }
  TsgPoint LocalToScreen(const TsgPoint& p) override;
  void BeginDragDrop(TsgObject* obj, TsgBitmap* dragImage) override;
  void SetSelected(TsgVisualObject* obj) override;
  bool GetAnimatedCaret() override { return AnimatedCaret; }
  int32_t GetReserved1() override { return 0; }
  int32_t GetReserved2() override { return 0; }

  // One draw pass over the queued rectangles.
  virtual void Draw();
  // A design-mode right click; the designer fills the menu. Nothing here.
  virtual void BuildDesignMenu(const classlib::TPoint& screenPoint) { (void)screenPoint; }
  // Design commands behind the designer's menu items (the sender is the
  // item). Adding: an item whose hint holds a class name inserts that class
  // when something is selected; otherwise its caption without the hot-key
  // marker, after "Tsg", is the class name.
  void AddObjectClick(classlib::TObject* sender);
  // Toggles the selection's design-time hiding (never the root's); a hidden
  // object hands the selection to its visual parent.
  void HideInDesignClick(classlib::TObject* sender);
  // Frees the selection (never the root), selecting its visual parent, else
  // the root.
  void DeleteObjectClick(classlib::TObject* sender);

  // Key routing of the scene (see the window messages).
  void KeyDown(uint16_t& key, char16_t& keyChar, TShiftState shift);
  void KeyUp(uint16_t& key, char16_t& keyChar, TShiftState shift);
  // The object under a scene point: roots from last to first.
  TsgVisualObject* ObjectAtScenePoint(const TsgPoint& p);
  // The focus candidates in tab order (depth first through tab lists).
  std::vector<TsgVisualObject*> BuildTabList();

  // ---- class library
  void DefineProperties(classlib::TFiler& filer) override;
  void SetBounds(int left, int top, int width, int height) override;
  void Loaded() override;
  void InitiateAction() override;
  void GetChildren(const classlib::TGetChildProc& proc, classlib::TComponent* root) override;
  void WndProc(classlib::TMessage& m) override;
  void MouseDown(TMouseButton button, TShiftState shift, int x, int y) override;
  void MouseMove(TShiftState shift, int x, int y) override;
  void MouseUp(TMouseButton button, TShiftState shift, int x, int y) override;
  bool DoMouseWheel(TShiftState shift, int delta, classlib::TPoint mousePos) override;

 protected:
  // The window's own key handlers stay beside the scene's key routing.
  using TCustomControl::KeyDown;
  using TCustomControl::KeyUp;
  void CreateHandle() override;
  void CreateWnd() override;
  void DestroyWnd() override;
  void Paint() override {}
  void WMPaint(classlib::TMessage& m) override;
  void WMEraseBkgnd(classlib::TMessage& m) override;
  void WMKeyDown(classlib::TMessage& m) override;
  void WMKeyUp(classlib::TMessage& m) override;
  void WMChar(classlib::TMessage& m) override;
  void CMShowingChanged(classlib::TMessage& m) override;
  virtual void WMSgUpdate(classlib::TMessage& m);
  virtual void WMGetDlgCode(classlib::TMessage& m);
  virtual void WMImeStartComposition(classlib::TMessage& m);
  virtual void WMImeComposition(classlib::TMessage& m);
  virtual void CMMouseLeave(classlib::TMessage& m);
  virtual void CMHintShow(classlib::TMessage& m);
  virtual void CMDesignHitTest(classlib::TMessage& m);

 private:
  class DropTarget;
  friend class DropTarget;
  friend class TsgFrame;

  bool LayeredRoad() const;
  // Drops the free notification of an object no field refers to any more.
  void Unwatch(classlib::TComponent* obj);
  void FreeDropTarget();
  // The device context of the canvas's buffer; none for other canvases.
  HDC CanvasDC() const;
  classlib::TCustomForm* ParentForm() const;
  void RealignRoot();
  void FillChanged(classlib::TObject* sender);
  void LoadedTimerFired(classlib::TObject* sender);
  void PaintParent(HDC dc);
  void UpdateLayered();
  void DrawDesignOverlay();
  void SetHovered(TsgVisualObject* obj);
  void ClearHovered();
  void DeliverChar(char16_t ch);
  TsgPoint Snapped(float x, float y) const;
  // Design mode.
  void DesignMouseDown(TMouseButton button, TShiftState shift);
  void DesignMouseMove(TShiftState shift);
  void DesignMouseUp();
  void UpdateHotGrips();
  void SnapToLines(bool moving, TsgPoint* gripPoint);
  void RepaintSnapGuides();
  bool DesignDragging() const;
  // Drag and drop.
  void DragCarrierEnd(classlib::TObject* sender, classlib::TObject* target, int x, int y);
  void SceneDragOver(classlib::TObject* sender, classlib::TObject* source, int x, int y,
                     classlib::TDragState state, bool& accept);
  void SceneDragDrop(classlib::TObject* sender, classlib::TObject* source, int x, int y);

  TsgCanvas* canvas_ = nullptr;
  std::vector<TsgObject*> roots_;
  TsgObject* designPlaceHolder_ = nullptr;
  TsgVisualObject* selected_ = nullptr;
  TsgVisualObject* captured_ = nullptr;
  TsgVisualObject* hovered_ = nullptr;
  TsgVisualObject* focused_ = nullptr;
  TsgVisualObject* designPlaceObject_ = nullptr;
  std::vector<TsgVisualObject*> snapLines_;
  std::vector<TsgVisualObject*> multiSelection_;
  // Mouse points in client pixels: raw, grid-snapped (GetMousePos), anchor.
  TsgPoint rawPoint_{}, lastPoint_{}, anchor_{};
  int resizeStartWidth_ = 0, resizeStartHeight_ = 0;
  // Design drags: moving, eight resize grips (in grip order), rotating.
  enum Grip {
    gRotate,
    gTopLeft,
    gTopRight,
    gBottomLeft,
    gBottomRight,
    gTop,
    gBottom,
    gLeft,
    gRight,
    gCount
  };
  bool designMoving_ = false;
  bool gripDrag_[gCount] = {};
  bool gripHot_[gCount] = {};
  bool windowMoving_ = false, windowResizing_ = false;
  bool design_ = false;
  TsgBrush* fill_ = nullptr;
  bool transparency_ = false;
  bool layered_ = false;
  TsgFrame* frame_ = nullptr;
  bool drawing_ = false;
  classlib::TComponent* loadedTimer_ = nullptr;
  TsgResources* style_ = nullptr;
  classlib::TCursor savedCursor_ = classlib::crDefault;
  classlib::TControl* dragCarrier_ = nullptr;
  TsgObject* carrierObject_ = nullptr;
  TsgControl* activeControl_ = nullptr;
  std::vector<TsgRect> updateRects_;
  POINT insertPoint_{-1, -1};
  std::string pendingInsertClass_;
  int drawCount_ = 0;
  DropTarget* dropTarget_ = nullptr;
  // The window's device context while WM_PAINT draws.
  HDC paintDC_ = nullptr;
  // Rectangles queued by a pass that runs inside WM_PAINT.
  std::vector<RECT> lateRects_;
  bool dropRegistered_ = false;
};

class TsgScene : public TsgCustomScene {
  CL_DECLARE_CLASS(TsgScene, TsgCustomScene)
 public:
  using TsgCustomScene::TsgCustomScene;
};

// The scene object under the drag in progress, if any (one per program).
TsgVisualObject* CurrentDragTarget();

// The live scenes of the program.
int LiveSceneCount();

// Shows the root object of another scene inside this one.
class TsgFrame : public TsgVisualObject {
  CL_DECLARE_CLASS(TsgFrame, TsgVisualObject)
 public:
  explicit TsgFrame(classlib::TComponent* AOwner);
  ~TsgFrame() override;
  void BeforeDestruction() override;
  TsgCustomScene* SceneObject() const { return sceneObject_; }
  void SetSceneObject(TsgCustomScene* scene);
  bool Pending() const { return pending_; }
  TsgBitmap* Snapshot() const { return snapshot_; }
  // The form made for a second showing of a scene; owned by the application.
  classlib::TCustomForm* InstanceForm() const { return instanceForm_; }
  void Paint() override;
  void Notification(classlib::TComponent* component, classlib::TOperation operation) override;
  void GetChildren(const classlib::TGetChildProc& proc, classlib::TComponent* root) override;

 private:
  void Attach();
  void Detach();
  TsgCustomScene* sceneObject_ = nullptr;
  bool pending_ = false;
  TsgBitmap* snapshot_ = nullptr;
  classlib::TCustomForm* instanceForm_ = nullptr;
};

}  // namespace kelm::scene
