// Visual controls: TControl (no window, painted by its parent when it is a
// TGraphicControl), TWinControl (a window of its own), TCustomControl (a
// window with a canvas and Paint), and the messages, events and state they
// share.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/graphics.h"
#include "classlib/input.h"

namespace classlib {

class TControl;
class TWinControl;
class TCustomForm;
class TPopupMenu;
class TBasicAction;
class TControlActionLink;
class TCustomAction;

CLASSLIB_EXCEPTION(EInvalidOperation, Exception)

enum class TAlign { alNone, alTop, alBottom, alLeft, alRight, alClient, alCustom };
enum TAnchorKind { akLeft, akTop, akRight, akBottom };
using TAnchors = TSet<TAnchorKind>;
enum class TBiDiMode {
  bdLeftToRight,
  bdRightToLeft,
  bdRightToLeftNoAlign,
  bdRightToLeftReadingOnly
};
enum class TDragMode { dmManual, dmAutomatic };
enum class TDragKind { dkDrag, dkDock };
enum class TBorderStyle { bsNone, bsSingle };

// What a control class does by itself (honoured: capture-mouse,
// click-events, double-clicks, opaque, accepts-controls; the rest stored).
enum TControlStyleFlag {
  csAcceptsControls,
  csCaptureMouse,
  csDesignInteractive,
  csClickEvents,
  csFramed,
  csSetCaption,
  csOpaque,
  csDoubleClicks,
  csFixedWidth,
  csFixedHeight,
  csNoDesignVisible,
  csReplicatable,
  csNoStdEvents,
  csDisplayDragImage,
  csReflector,
  csActionClient,
  csMenuEvents,
  csNeedsBorderPaint,
  csParentBackground
};
using TControlStyle = TSet<TControlStyleFlag>;
enum TControlStateFlag {
  csLButtonDown,
  csClicked,
  csPalette,
  csReadingState,
  csAlignmentNeeded,
  csFocusing,
  csCreating,
  csPaintCopy,
  csCustomPaint,
  csDestroyingHandle,
  csDocking
};
using TControlState = TSet<TControlStateFlag>;

extern const TTypeInfo TypeInfo_TAlign;
extern const TTypeInfo TypeInfo_TAnchors;
extern const TTypeInfo TypeInfo_TBiDiMode;
extern const TTypeInfo TypeInfo_TDragMode;
extern const TTypeInfo TypeInfo_TDragKind;
extern const TTypeInfo TypeInfo_TBorderStyle;

using TMouseEvent = TEvent<TObject*, TMouseButton, TShiftState, int, int>;
using TMouseMoveEvent = TEvent<TObject*, TShiftState, int, int>;
// Sender, shift, wheel delta, mouse position (screen), var handled.
using TMouseWheelEvent = TEvent<TObject*, TShiftState, int, TPoint, bool&>;
using TKeyEvent = TEvent<TObject*, WORD&, TShiftState>;
using TKeyPressEvent = TEvent<TObject*, char16_t&>;
using TContextPopupEvent = TEvent<TObject*, TPoint, bool&>;

// ---- the library's drag and drop (within the program, not OLE)
enum class TDragState { dsDragEnter, dsDragLeave, dsDragMove };
// CM_DRAG's wParam; lParam points to a TDragRec. Enter, leave and move
// answer whether the target accepts; find-target answers the control.
enum TDragMessage : WPARAM {
  dmDragEnter,
  dmDragLeave,
  dmDragMove,
  dmDragDrop,
  dmDragCancel,
  dmFindTarget
};

class TDragObject : public TObject {
  CL_DECLARE_CLASS(TDragObject, TObject)
 public:
  TDragObject() = default;
  // The control the drag started from (none for other drag objects).
  TControl* Control = nullptr;
  TPoint DragPos{};
  TControl* DragTarget = nullptr;
  bool Dropped = false;
  virtual TCursor GetDragCursor(bool accepted, int x, int y);
};

// A dock drag's object: where the dragged control would land (screen
// coordinates), docked in the site under the mouse or floating there.
class TDragDockObject : public TDragObject {
  CL_DECLARE_CLASS(TDragDockObject, TDragObject)
 public:
  TDragDockObject() = default;
  TRect DockRect{};
  bool Floating = true;
};

struct TDragRec {
  TPoint Pos{};  // screen
  TDragObject* Source = nullptr;
  TControl* Target = nullptr;
  bool Docking = false;
};

using TDragOverEvent = TEvent<TObject*, TObject*, int, int, TDragState, bool&>;
using TDragDropEvent = TEvent<TObject*, TObject*, int, int>;
using TStartDragEvent = TEvent<TObject*, TDragObject*&>;
using TEndDragEvent = TEvent<TObject*, TObject*, int, int>;

// CM_DOCKCLIENT's record: the control to dock and where it was dropped
// (screen coordinates).
struct TDockClientRec {
  TControl* Control = nullptr;
  TRect DropRect{};
};
// CM_DOCKNOTIFICATION's record: what happened to the docked client
// (WM_SETTEXT with the new text in LParam, or CM_VISIBLECHANGED with the
// new visibility in WParam).
struct TDockNotifyRec {
  UINT ClientMsg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
};

// The shift state of a mouse message's wParam plus the Alt key.
TShiftState MouseShiftState(WPARAM keys);
// The shift state of the keyboard now.
TShiftState KeyboardShiftState();
// True when key (a character) is the "&" accelerator of caption.
bool IsAccel(WORD key, const std::u16string& caption);

class TSizeConstraints : public TPersistent {
  CL_DECLARE_CLASS(TSizeConstraints, TPersistent)
 public:
  explicit TSizeConstraints(TControl* control = nullptr) : control_(control) {}
  void Assign(TPersistent* source) override;
  int MinWidth() const { return minWidth_; }
  int MinHeight() const { return minHeight_; }
  int MaxWidth() const { return maxWidth_; }
  int MaxHeight() const { return maxHeight_; }
  void SetMinWidth(int v);
  void SetMinHeight(int v);
  void SetMaxWidth(int v);
  void SetMaxHeight(int v);
  TNotifyEvent OnChange;

 private:
  void Changed();
  TControl* control_;
  int minWidth_ = 0, minHeight_ = 0, maxWidth_ = 0, maxHeight_ = 0;
};

class TControlCanvas;

class TControl : public TComponent {
  CL_DECLARE_CLASS(TControl, TComponent)
 public:
  explicit TControl(TComponent* AOwner);
  ~TControl() override;
  void BeforeDestruction() override;

  // ---- messages
  // The replaceable entry every message goes through; by default WndProc.
  std::function<void(TMessage&)> WindowProc;
  // Sends a message straight to the control's handlers.
  LRESULT Perform(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0);
  virtual void WndProc(TMessage& message);
  // Messages no handler took.
  virtual void DefaultHandler(TMessage& message);

  // ---- parent and geometry
  TWinControl* Parent() const { return parent_; }
  virtual void SetParent(TWinControl* parent);
  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
  void SetTop(int v) { SetBounds(left_, v, width_, height_); }
  void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
  void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
  virtual void SetBounds(int left, int top, int width, int height);
  TRect BoundsRect() const { return Bounds(left_, top_, width_, height_); }
  void SetBoundsRect(const TRect& r) {
    SetBounds(r.left, r.top, r.right - r.left, r.bottom - r.top);
  }
  virtual TRect ClientRect();
  int ClientWidth() { return ClientRect().right; }
  int ClientHeight() { return ClientRect().bottom; }
  virtual void SetClientWidth(int v);
  virtual void SetClientHeight(int v);
  TPoint ClientOrigin();
  TPoint ClientToScreen(TPoint p);
  TPoint ScreenToClient(TPoint p);
  TAlign Align() const { return align_; }
  void SetAlign(TAlign v);
  TAnchors Anchors() const { return anchors_; }
  void SetAnchors(TAnchors v) { anchors_ = v; }
  TSizeConstraints* Constraints() const { return constraints_; }
  void SetConstraints(TSizeConstraints* v) { constraints_->Assign(v); }
  void BringToFront();
  void SendToBack();

  // ---- visibility, state
  bool Visible() const { return visible_; }
  void SetVisible(bool v);
  // The parents show it first (a container may have to bring it forward).
  void Show();
  void Hide() { SetVisible(false); }
  // Visible and every parent showing (a form: its window is shown).
  virtual bool Showing() const;
  bool Enabled() const { return enabled_; }
  virtual void SetEnabled(bool v);
  TControlStyle ControlStyle() const { return controlStyle_; }
  void SetControlStyle(TControlStyle v) { controlStyle_ = v; }
  TControlState ControlState() const { return controlState_; }
  void SetControlState(TControlState v) { controlState_ = v; }

  // ---- appearance
  const std::u16string& Caption() const { return text_; }
  void SetCaption(const std::u16string& v) { SetText(v); }
  const std::u16string& Text() const { return text_; }
  virtual void SetText(const std::u16string& v);
  TColor Color() const { return color_; }
  void SetColor(TColor v);
  bool ParentColor() const { return parentColor_; }
  void SetParentColor(bool v);
  TFont* Font() const { return font_; }
  void SetFont(TFont* v) { font_->Assign(v); }
  bool ParentFont() const { return parentFont_; }
  void SetParentFont(bool v);
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor v);
  TBiDiMode BiDiMode() const { return biDiMode_; }
  void SetBiDiMode(TBiDiMode v);
  bool ParentBiDiMode() const { return parentBiDiMode_; }
  void SetParentBiDiMode(bool v) { parentBiDiMode_ = v; }
  bool UseRightToLeftAlignment() const { return biDiMode_ == TBiDiMode::bdRightToLeft; }
  bool UseRightToLeftReading() const { return biDiMode_ != TBiDiMode::bdLeftToRight; }
  bool UseRightToLeftScrollBar() const { return biDiMode_ != TBiDiMode::bdLeftToRight; }

  // ---- hints, help, menus, dragging, actions
  const std::u16string& Hint() const { return hint_; }
  void SetHint(const std::u16string& v) { hint_ = v; }
  bool ShowHint() const { return showHint_; }
  void SetShowHint(bool v);
  bool ParentShowHint() const { return parentShowHint_; }
  void SetParentShowHint(bool v);
  THelpType HelpType() const { return helpType_; }
  void SetHelpType(THelpType v) { helpType_ = v; }
  const std::string& HelpKeyword() const { return helpKeyword_; }
  void SetHelpKeyword(const std::string& v) { helpKeyword_ = v; }
  int HelpContext() const { return helpContext_; }
  void SetHelpContext(int v) { helpContext_ = v; }
  TPopupMenu* PopupMenu() const { return popupMenu_; }
  void SetPopupMenu(TPopupMenu* v);
  TDragMode DragMode() const { return dragMode_; }
  void SetDragMode(TDragMode v) { dragMode_ = v; }
  TDragKind DragKind() const { return dragKind_; }
  void SetDragKind(TDragKind v) { dragKind_ = v; }
  TCursor DragCursor() const { return dragCursor_; }
  void SetDragCursor(TCursor v) { dragCursor_ = v; }
  TBasicAction* Action() const;
  void SetAction(TBasicAction* v);
  TControlActionLink* ActionLink() const { return actionLink_; }
  // The action-update pass: updates the linked action.
  virtual void InitiateAction();

  // ---- painting
  virtual void Invalidate();
  virtual void Update();
  void Repaint();
  void Refresh() { Repaint(); }

  // ---- mouse
  bool MouseCapture() const;
  void SetMouseCapture(bool v);

  // ---- streaming
  bool HasParent() const override { return true; }
  TComponent* GetParentComponent() const override;
  void SetParentComponent(TComponent* parent) override;
  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

  // ---- docking
  // The dock site the control is docked in; none while it floats.
  TWinControl* HostDockSite() const { return hostDockSite_; }
  // Asks site (through CM_DOCKCLIENT) to take the control; true when it
  // did. A window that is no dock site takes nothing.
  bool ManualDock(TWinControl* site, const TRect& dropRect);
  // The dock operation: leaves the old site, and site adds the control.
  void Dock(TWinControl* site, const TRect& dropRect);
  // Leaves the dock site and floats at screenRect as a window of its own
  // (a form; another control just loses its parent).
  bool ManualFloat(const TRect& screenRect);

  // ---- dragging: at once, or once the mouse moved threshold pixels (-1:
  // the screen's drag threshold) with the button held.
  void BeginDrag(bool immediate, int threshold = -1);
  void EndDrag(bool drop);
  bool Dragging() const;
  virtual void DragOver(TObject* source, int x, int y, TDragState state, bool& accept);
  virtual void DragDrop(TObject* source, int x, int y);
  virtual void DoStartDrag(TDragObject*& dragObject);
  virtual void DoEndDrag(TObject* target, int x, int y);
  TDragOverEvent OnDragOver;
  TDragDropEvent OnDragDrop;
  TStartDragEvent OnStartDrag;
  TEndDragEvent OnEndDrag;

  // Events.
  TNotifyEvent OnClick, OnDblClick, OnResize;
  TMouseEvent OnMouseDown, OnMouseUp;
  TMouseMoveEvent OnMouseMove;
  TMouseWheelEvent OnMouseWheel;
  TContextPopupEvent OnContextPopup;

  // Dispatchers the default message handling calls; overridable.
  virtual void Click();
  virtual void DblClick();
  virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
  virtual void MouseMove(TShiftState shift, int x, int y);
  virtual bool DoMouseWheel(TShiftState shift, int delta, TPoint mousePos);
  virtual void DoContextPopup(TPoint mousePos, bool& handled);
  virtual void Resize();
  // Called when the linked action changed (action links).
  virtual void ActionChange(TObject* sender, bool checkDefaults);

 protected:
  // Graphic controls paint in their parent's WM_PAINT (wParam: the DC).
  void InvalidateControl(bool isVisible, bool isOpaque);
  void RequestAlign();
  // Sets the fields without moving a window.
  void UpdateBoundsRect(const TRect& r);
  // Sets the text field alone (the window already shows it).
  void StoreText(const std::u16string& v) { text_ = v; }
  void ApplyConstraints(int& width, int& height) const;
  void SendCancelMode();
  void MouseMessage(TMessage& m);
  virtual void VisibleChanging() {}

  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  TControlStyle controlStyle_{csCaptureMouse, csClickEvents, csSetCaption, csDoubleClicks};
  TControlState controlState_;
  bool visible_ = true;
  bool enabled_ = true;
  bool parentColor_ = true;
  bool parentFont_ = true;
  bool parentShowHint_ = true;
  bool showHint_ = false;
  TColor color_ = clWindow;
  TFont* font_;
  TSizeConstraints* constraints_;

 private:
  friend class TWinControl;
  void FontChanged(TObject* sender);
  bool IsColorStored() const { return !parentColor_; }
  bool IsFontStored() const { return !parentFont_; }
  bool IsShowHintStored() const { return !parentShowHint_; }
  void AdoptParentFont();
  void AdoptParentColor();

  std::u16string text_;
  std::u16string hint_;
  TAlign align_ = TAlign::alNone;
  TAnchors anchors_{akLeft, akTop};
  TCursor cursor_ = crDefault;
  TBiDiMode biDiMode_ = TBiDiMode::bdLeftToRight;
  bool parentBiDiMode_ = true;
  THelpType helpType_ = THelpType::htContext;
  std::string helpKeyword_;
  int helpContext_ = 0;
  TPopupMenu* popupMenu_ = nullptr;
  TDragMode dragMode_ = TDragMode::dmManual;
  TDragKind dragKind_ = TDragKind::dkDrag;
  TCursor dragCursor_ = crDrag;
  TControlActionLink* actionLink_ = nullptr;
  TWinControl* hostDockSite_ = nullptr;
  void NotifyDockSite(UINT msg, WPARAM wParam, LPARAM lParam);
  bool settingParentFont_ = false;
  bool settingParentColor_ = false;
};

// A control without a window of its own, painted by its parent.
class TGraphicControl : public TControl {
  CL_DECLARE_CLASS(TGraphicControl, TControl)
 public:
  explicit TGraphicControl(TComponent* AOwner);
  ~TGraphicControl() override;
  TCanvas* Canvas() const { return canvas_; }
  void WndProc(TMessage& message) override;

 protected:
  virtual void Paint() {}

 private:
  TCanvas* canvas_;
};

struct TCreateParams {
  std::u16string Caption;
  DWORD Style = 0;
  DWORD ExStyle = 0;
  int X = 0, Y = 0, Width = 0, Height = 0;
  HWND WndParent = nullptr;
  void* Param = nullptr;
  WNDCLASSW WindowClass{};
  std::u16string WinClassName;
};

class TWinControl : public TControl {
  CL_DECLARE_CLASS(TWinControl, TControl)
 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;
  void BeforeDestruction() override;

  // ---- the window: made on first need, re-created with its state kept
  HWND Handle();
  bool HandleAllocated() const { return handle_ != nullptr; }
  void HandleNeeded();
  void RecreateWnd();
  void DestroyHandle();
  static TWinControl* FindControl(HWND wnd);

  void WndProc(TMessage& message) override;
  void DefaultHandler(TMessage& message) override;
  void SetParent(TWinControl* parent) override;

  // ---- children
  int ControlCount() const { return static_cast<int>(controls_.size()); }
  TControl* Controls(int index) const { return controls_.at(static_cast<size_t>(index)); }
  void InsertControl(TControl* control);
  void RemoveControl(TControl* control);
  bool ContainsControl(TControl* control) const;
  // The visible, enabled child at a client point (graphic children first
  // when allowDisabled is false).
  TControl* ControlAtPos(TPoint p, bool allowDisabled, bool allowWinControls = false);
  // Sends the message to every child control.
  void Broadcast(TMessage& message);
  void NotifyControls(UINT msg);
  void Realign();
  void DisableAlign() { ++alignDisabled_; }
  void EnableAlign();
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;
  void SetChildOrder(TComponent* child, int order) override;
  // Makes the child control seen: by default the parents show this one in
  // turn; a container that hides children (a page control) overrides it.
  virtual void ShowControl(TControl* control);

  // ---- docking
  bool DockSite() const { return dockSite_; }
  void SetDockSite(bool v) { dockSite_ = v; }
  // A client joins (by default it becomes a child placed at the drop
  // rectangle) and leaves (nothing by default).
  virtual void DoAddDockClient(TControl* client, const TRect& dropRect);
  virtual void DoRemoveDockClient(TControl* client);
  // A dock drag over this site: accept says whether the client would dock,
  // source->DockRect where (offered as the client's size under the mouse;
  // by default the site takes it there).
  virtual void DockOver(TDragDockObject* source, int x, int y, TDragState state, bool& accept);
  // Whether client may dock here, and the screen area where the site
  // catches a dock drag (by default its window).
  virtual void GetSiteInfo(TControl* client, TRect& influenceRect, TPoint mousePos, bool& canDock);

  // ---- focus and tab order
  void SetFocus();
  virtual bool CanFocus();
  bool Focused() const;
  bool TabStop() const { return tabStop_; }
  void SetTabStop(bool v);
  int TabOrder() const;
  void SetTabOrder(int v);
  // Tab-stop controls inside this one, in tab order, nested ones included.
  void GetTabOrderList(std::vector<TWinControl*>& list);
  TWinControl* FindNextControl(TWinControl* current, bool goForward, bool checkTabStop,
                               bool checkParent);
  void SelectNext(TWinControl* current, bool goForward, bool checkTabStop);

  // ---- appearance
  TBrush* Brush() const { return brush_; }
  bool Ctl3D() const { return ctl3D_; }
  void SetCtl3D(bool v);
  bool ParentCtl3D() const { return parentCtl3D_; }
  void SetParentCtl3D(bool v) { parentCtl3D_ = v; }
  bool DoubleBuffered() const { return doubleBuffered_; }
  void SetDoubleBuffered(bool v) { doubleBuffered_ = v; }
  int BorderWidth() const { return borderWidth_; }
  void SetBorderWidth(int v);
  TRect ClientRect() override;
  void SetBounds(int left, int top, int width, int height) override;
  bool Showing() const override { return showing_; }
  void Invalidate() override;
  void Update() override;
  // Paints the client area and the children into dc at (x, y).
  void PaintTo(HDC dc, int x, int y);
  void InitiateAction() override;
  void Loaded() override;

  TNotifyEvent OnEnter, OnExit;
  TKeyEvent OnKeyDown, OnKeyUp;
  TKeyPressEvent OnKeyPress;

 protected:
  virtual void CreateParams(TCreateParams& params);
  // Builds on a system window class (superclassing): its class data with
  // our window procedure in front; what we leave goes to the system's.
  void CreateSubClass(TCreateParams& params, const wchar_t* systemClass);
  virtual void CreateHandle();
  virtual void CreateWnd();
  virtual void CreateWindowHandle(const TCreateParams& params);
  virtual void DestroyWnd();
  virtual void AlignControls(TControl* control, TRect& rect);
  virtual void AdjustClientRect(TRect& rect);
  // Re-evaluates Showing and tells the window and the children.
  void UpdateShowing();
  // WM_PAINT: the window's own painting, then the graphic children.
  virtual void PaintWindow(HDC dc);
  void PaintHandler(TMessage& m);
  void PaintControls(HDC dc, TControl* first);
  virtual void DoEnter();
  virtual void DoExit();
  virtual bool DoKeyDown(WORD& key, TShiftState shift);
  virtual bool DoKeyPress(char16_t& key);
  virtual void KeyDown(WORD& key, TShiftState shift);
  virtual void KeyUp(WORD& key, TShiftState shift);
  virtual void KeyPress(char16_t& key);
  // Reads the window's position back after the system moved it.
  void UpdateBounds();

  // Message handlers, one per message that WndProc routes. An override
  // calls its inherited handler for what it leaves alone.
  virtual void WMSetFocus(TMessage& m);
  virtual void WMKeyDown(TMessage& m);  // also WM_SYSKEYDOWN
  virtual void WMKeyUp(TMessage& m);    // also WM_SYSKEYUP
  virtual void WMChar(TMessage& m);
  virtual void WMSysChar(TMessage& m);
  virtual void WMPaint(TMessage& m);
  virtual void WMPrintClient(TMessage& m);
  virtual void WMEraseBkgnd(TMessage& m);
  virtual void WMSetCursor(TMessage& m);
  virtual void WMContextMenu(TMessage& m);
  virtual void WMMouseWheel(TMessage& m);
  virtual void WMMouse(TMessage& m);  // button presses, releases, moves
  virtual void WMMouseLeave(TMessage& m);
  virtual void WMCaptureChanged(TMessage& m);
  virtual void WMWindowPosChanged(TMessage& m);
  virtual void WMCommand(TMessage& m);
  virtual void WMSysColorChange(TMessage& m);
  virtual void CMSysColorChange(TMessage& m);
  virtual void CMEnter(TMessage& m);
  virtual void CMExit(TMessage& m);
  virtual void CMShowingChanged(TMessage& m);
  virtual void CMVisibleChanged(TMessage& m);
  virtual void CMEnabledChanged(TMessage& m);
  virtual void CMColorChanged(TMessage& m);
  virtual void CMFontChanged(TMessage& m);
  virtual void CMTextChanged(TMessage& m);
  virtual void CMDialogKey(TMessage& m);  // also CM_DIALOGCHAR
  virtual void CMDockClient(TMessage& m);
  virtual void CMUnDockClient(TMessage& m);
  virtual void CMDockNotification(TMessage& m);

  HWND handle_ = nullptr;
  WNDPROC defWndProc_ = DefWindowProcW;
  bool showing_ = false;

 private:
  friend class TControl;
  friend class TCustomForm;
  friend LRESULT CALLBACK StdWndProc(HWND, UINT, WPARAM, LPARAM);
  bool DialogKey(WORD key, LPARAM keyData);
  void ChildMouse(TMessage& m);

  std::vector<TControl*> controls_;    // z-order: last is on top
  std::vector<TWinControl*> tabList_;  // windowed children in tab order
  TBrush* brush_;
  bool tabStop_ = false;
  bool ctl3D_ = true;
  bool parentCtl3D_ = true;
  bool doubleBuffered_ = false;
  int borderWidth_ = 0;
  int alignDisabled_ = 0;
  bool aligning_ = false;
  bool trackingLeave_ = false;
  int pendingTabOrder_ = -1;
  bool dockSite_ = false;
};

// A windowed control with a canvas: override Paint.
class TCustomControl : public TWinControl {
  CL_DECLARE_CLASS(TCustomControl, TWinControl)
 public:
  explicit TCustomControl(TComponent* AOwner);
  ~TCustomControl() override;
  TCanvas* Canvas() const { return canvas_; }

 protected:
  virtual void Paint() {}
  void PaintWindow(HDC dc) override;

 private:
  TCanvas* canvas_;
};

// The system's edit control.
class TCustomEdit : public TWinControl {
  CL_DECLARE_CLASS(TCustomEdit, TWinControl)
 public:
  explicit TCustomEdit(TComponent* AOwner);
  // The text as the window has it.
  std::u16string GetText();
  void SetText(const std::u16string& v) override;
  int MaxLength() const { return maxLength_; }
  void SetMaxLength(int v);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool v);
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle v);
  bool AutoSelect() const { return autoSelect_; }
  void SetAutoSelect(bool v) { autoSelect_ = v; }
  int SelStart();
  int SelLength();
  void SetSelStart(int v);
  void SetSelLength(int v);
  void SelectAll();
  TNotifyEvent OnChange;
  void WndProc(TMessage& message) override;

 protected:
  void CreateParams(TCreateParams& params) override;
  void CreateWnd() override;
  void DestroyWnd() override;
  virtual void Change();
  void DoEnter() override;

 private:
  int maxLength_ = 0;
  bool readOnly_ = false;
  bool autoSelect_ = true;
  bool creating_ = false;
  TBorderStyle borderStyle_ = TBorderStyle::bsSingle;
};

// A canvas over a control: the paint DC while painting, else the window's DC.
class TControlCanvas : public TCanvas {
  CL_DECLARE_CLASS(TControlCanvas, TCanvas)
 public:
  explicit TControlCanvas(TControl* control = nullptr) : control_(control) {}
  ~TControlCanvas() override { FreeDC(); }
  TControl* Control() const { return control_; }
  void SetControl(TControl* c) {
    FreeDC();
    control_ = c;
  }
  // Paint DCs are set from outside; FreeDC gives back a DC the canvas took.
  void FreeDC();

 protected:
  void CreateHandle() override;

 private:
  TControl* control_;
  HWND dcWindow_ = nullptr;
};

// ---- hints
// "Short|Long": the part before the bar is shown in the hint window.
std::u16string GetShortHint(const std::u16string& hint);
std::u16string GetLongHint(const std::u16string& hint);

// The record CM_HINTSHOW carries in lParam; a control may change any
// field, or answer nonzero to show no hint.
struct THintInfo {
  TControl* HintControl = nullptr;
  TClass HintWindowClass = nullptr;
  TPoint HintPos{};  // screen
  int HintMaxWidth = 0;
  TColor HintColor = 0;
  TRect CursorRect{};  // in HintControl's client coordinates
  TPoint CursorPos{};  // in HintControl's client coordinates
  int ReshowTimeout = 0;
  int HideTimeout = 0;
  std::u16string HintStr;
  void* HintData = nullptr;
};

// The hint window: a top-most pop-up showing the hint text.
class THintWindow : public TCustomControl {
  CL_DECLARE_CLASS(THintWindow, TCustomControl)
 public:
  explicit THintWindow(TComponent* AOwner);
  virtual void ActivateHint(TRect rect, const std::u16string& hint);
  virtual void ActivateHintData(TRect rect, const std::u16string& hint, void* data);
  // The size the text needs, at most maxWidth wide, at (0, 0).
  virtual TRect CalcHintRect(int maxWidth, const std::u16string& hint, void* data);
  // Whether a message ends the hint (keys, clicks, leaving the window).
  virtual bool IsHintMsg(const MSG& msg);
  void ReleaseHandle() { DestroyHandle(); }

 protected:
  void CreateParams(TCreateParams& params) override;
  void Paint() override;
};

// A running or pending drag takes the mouse and Escape; the message loop
// offers every message here first. True when the drag used it.
bool DragMessage(const MSG& msg);

// The first form up the parent chain, or none.
TCustomForm* GetParentForm(TControl* control);

// The control under the mouse that gets CM_MOUSEENTER and CM_MOUSELEAVE;
// the library tracks it for all windows of the thread.
TControl* MouseControl();
// The control holding the mouse capture (a graphic control captures
// through its parent's window).
TControl* CaptureControl();

}  // namespace classlib
