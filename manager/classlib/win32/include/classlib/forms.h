// Forms, the screen and the application object.
//
// The application owns a hidden top-level window that owns every form's
// window, so the task bar shows one button, titled Title, for the whole
// program; minimising and restoring act on that window. Forms read their
// stored form from the RCDATA resource named after their class.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "classlib/controls.h"

namespace classlib {

class TMainMenu;
class TCustomForm;

enum class TFormBorderStyle { bsNone, bsSingle, bsSizeable, bsDialog, bsToolWindow, bsSizeToolWin };
enum TBorderIcon { biSystemMenu, biMinimize, biMaximize, biHelp };
using TBorderIcons = TSet<TBorderIcon>;
enum class TFormStyle { fsNormal, fsMDIChild, fsMDIForm, fsStayOnTop };
enum class TPosition {
  poDesigned,
  poDefault,
  poDefaultPosOnly,
  poDefaultSizeOnly,
  poScreenCenter,
  poDesktopCenter,
  poMainFormCenter,
  poOwnerFormCenter
};
enum class TWindowState { wsNormal, wsMinimized, wsMaximized };
enum class TCloseAction { caNone, caHide, caFree, caMinimize };
enum TFormStateFlag { fsCreating, fsVisible, fsShowing, fsModal, fsCreatedMDIChild, fsActivated };
using TFormState = TSet<TFormStateFlag>;

using TModalResult = int;
constexpr TModalResult mrNone = 0, mrOk = IDOK, mrCancel = IDCANCEL, mrAbort = IDABORT,
                       mrRetry = IDRETRY, mrIgnore = IDIGNORE, mrYes = IDYES, mrNo = IDNO;

using TCloseEvent = TEvent<TObject*, TCloseAction&>;
using TCloseQueryEvent = TEvent<TObject*, bool&>;

extern const TTypeInfo TypeInfo_TFormBorderStyle;
extern const TTypeInfo TypeInfo_TBorderIcons;
extern const TTypeInfo TypeInfo_TFormStyle;
extern const TTypeInfo TypeInfo_TPosition;
extern const TTypeInfo TypeInfo_TWindowState;

class TCustomForm : public TWinControl {
  CL_DECLARE_CLASS(TCustomForm, TWinControl)
 public:
  // Reads the stored form named after the class (in capitals) when the
  // program has one; a class of its own without one is an error.
  explicit TCustomForm(TComponent* AOwner);
  // A form without a stored form.
  TCustomForm(TComponent* AOwner, int dummy);
  ~TCustomForm() override;
  void AfterConstruction() override;
  void BeforeDestruction() override;

  // ---- showing
  // Shows the form while every other window of the program is disabled,
  // runs messages until ModalResult is set and answers it.
  virtual int ShowModal();
  bool IsShownModally() const { return formState_.Contains(fsModal); }
  // Closes: a modal form ends with mrCancel; otherwise OnCloseQuery and
  // OnClose decide (hide, free, minimise or nothing). The main form ends
  // the program.
  void Close();
  virtual bool CloseQuery();
  // Frees the form once the messages queued now are handled.
  void Release();
  TModalResult ModalResult() const { return modalResult_; }
  void SetModalResult(TModalResult v) { modalResult_ = v; }
  TFormState FormState() const { return formState_; }
  void BringToFront();

  // ---- focus
  TWinControl* ActiveControl() const { return activeControl_; }
  void SetActiveControl(TWinControl* c);
  void FocusControl(TWinControl* c);
  // Called when a control of the form gets the focus: CM_EXIT to the old
  // one, CM_ENTER to the new one.
  virtual bool SetFocusedControl(TWinControl* c);
  bool Active() const { return active_; }

  // ---- properties
  TFormBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TFormBorderStyle v);
  TBorderIcons BorderIcons() const { return borderIcons_; }
  void SetBorderIcons(TBorderIcons v);
  TFormStyle FormStyle() const { return formStyle_; }
  void SetFormStyle(TFormStyle v);
  TPosition Position() const { return position_; }
  void SetPosition(TPosition v) { position_ = v; }
  TWindowState WindowState() const { return windowState_; }
  void SetWindowState(TWindowState v);
  bool KeyPreview() const { return keyPreview_; }
  void SetKeyPreview(bool v) { keyPreview_ = v; }
  TMainMenu* Menu() const { return menu_; }
  void SetMenu(TMainMenu* v);
  int PixelsPerInch() const { return 96; }
  void SetPixelsPerInch(int) {}
  int TextHeight() const { return textHeight_; }
  void SetTextHeight(int v) { textHeight_ = v; }
  // A form given a parent (docked) becomes a child window of it, and a
  // window of its own again without one.
  void SetParent(TWinControl* parent) override;
  TRect ClientRect() override;
  void SetClientWidth(int v) override;
  void SetClientHeight(int v) override;
  int StoredClientWidth() { return ClientWidth(); }
  int StoredClientHeight() { return ClientHeight(); }
  TCanvas* Canvas() const { return canvas_; }
  // The monitor the form is on (its work area excluded).
  TRect MonitorRect();
  bool IsMDIForm() const { return false; }
  bool IsMDIChild() const { return false; }

  // Updates the actions of the form's action lists and of its visible
  // controls (the action-update pass).
  void UpdateActions();

  TNotifyEvent OnCreate, OnDestroy, OnShow, OnHide, OnActivate, OnDeactivate, OnPaint;
  TCloseEvent OnClose;
  TCloseQueryEvent OnCloseQuery;

  void WndProc(TMessage& message) override;
  // A written form lists its non-visual components (a timer, a style book)
  // before its controls, so that it reads back whole and the controls'
  // references to them resolve.
  void GetChildren(const TGetChildProc& proc, TComponent* root) override;

 protected:
  void CreateParams(TCreateParams& params) override;
  void CreateWnd() override;
  void PaintWindow(HDC dc) override;
  virtual void DoCreate();
  virtual void DoDestroy();
  virtual void DoShow();
  virtual void DoHide();
  virtual void DoClose(TCloseAction& action);
  virtual void Activate();
  virtual void Deactivate();
  bool DoKeyDown(WORD& key, TShiftState shift) override;
  bool DoKeyPress(char16_t& key) override;
  // CM_SHOWINGCHANGED: places the form on first show, shows or hides the
  // window with activation, and tells OnShow and OnHide.
  virtual void ShowingChanged(TMessage& message);
  void ApplyPosition();
  TFormState formState_;

 private:
  friend class TWinControl;
  void CloseModal();

  bool createNew_ = false;
  TFormBorderStyle borderStyle_ = TFormBorderStyle::bsSizeable;
  TBorderIcons borderIcons_{biSystemMenu, biMinimize, biMaximize};
  TFormStyle formStyle_ = TFormStyle::fsNormal;
  TPosition position_ = TPosition::poDesigned;
  TWindowState windowState_ = TWindowState::wsNormal;
  TModalResult modalResult_ = mrNone;
  TWinControl* activeControl_ = nullptr;
  TWinControl* focusedControl_ = nullptr;
  TMainMenu* menu_ = nullptr;
  TCanvas* canvas_;
  bool keyPreview_ = false;
  bool active_ = false;
  bool positioned_ = false;
  int textHeight_ = 13;
  // Client size asked for before the window exists.
  int clientWidth_ = -1, clientHeight_ = -1;
};

class TForm : public TCustomForm {
  CL_DECLARE_CLASS(TForm, TCustomForm)
 public:
  using TCustomForm::TCustomForm;
};

using TFormClass = TClass;

// ---- the screen
class TScreen : public TComponent {
  CL_DECLARE_CLASS(TScreen, TComponent)
 public:
  explicit TScreen(TComponent* AOwner);
  ~TScreen() override;

  // A global cursor over every control; crDefault lets controls choose.
  TCursor Cursor() const { return cursor_; }
  void SetCursor(TCursor v);
  // The cursor table: predefined ids and custom ones (62, 63, ...).
  HCURSOR Cursors(TCursor id) const;
  void SetCursors(TCursor id, HCURSOR cursor);
  int PixelsPerInch() const { return pixelsPerInch_; }
  int Width() const { return GetSystemMetrics(SM_CXSCREEN); }
  int Height() const { return GetSystemMetrics(SM_CYSCREEN); }
  TRect WorkAreaRect() const;
  TFont* HintFont() const { return hintFont_; }
  int FormCount() const { return static_cast<int>(forms_.size()); }
  TCustomForm* Forms(int index) const { return forms_.at(static_cast<size_t>(index)); }
  TCustomForm* ActiveForm() const;
  TWinControl* ActiveControl() const;
  TPoint CursorPos() const;
  int DragThreshold() const { return 5; }

 private:
  friend class TCustomForm;
  std::vector<TCustomForm*> forms_;
  std::vector<std::pair<TCursor, HCURSOR>> cursors_;
  TCursor cursor_ = crDefault;
  int pixelsPerInch_ = 96;
  TFont* hintFont_;
};

// ---- the application
using TWindowHook = std::function<bool(TMessage&)>;

class TApplication : public TComponent {
  CL_DECLARE_CLASS(TApplication, TComponent)
 public:
  explicit TApplication(TComponent* AOwner);
  ~TApplication() override;

  // Makes the hidden application window.
  void Initialize();
  HWND Handle() const { return handle_; }
  const std::u16string& Title() const { return title_; }
  void SetTitle(const std::u16string& v);
  // Makes a form of the class, owned by the application; the first form
  // made so becomes the main form.
  TCustomForm* CreateForm(TFormClass cls);
  template <class T>
  void CreateForm(T*& ref) {
    ref = static_cast<T*>(CreateForm(T::StaticClass()));
  }
  TCustomForm* MainForm() const { return mainForm_; }
  bool ShowMainForm() const { return showMainForm_; }
  void SetShowMainForm(bool v) { showMainForm_ = v; }

  // Shows the main form (unless switched off) and handles messages until
  // Terminate.
  void Run();
  // Handles one message; with an empty queue, runs the idle step (the
  // action-update pass) and waits for a message.
  void HandleMessage();
  // Handles every queued message without waiting, then runs the
  // action-update pass once.
  void ProcessMessages();
  void Terminate();
  bool Terminated() const { return terminated_; }
  // The action-update pass over the visible forms.
  void UpdateActions();
  bool InActionUpdate() const { return actionPass_ != 0; }
  unsigned ActionPass() const { return actionPass_; }

  // The standard error display: the message of the exception being
  // handled (call it from a catch block) in a message box.
  void HandleException(TObject* sender);
  void ShowException(const std::exception& e);
  // Message box owned by the active form (or the application window).
  int MessageBox(const std::u16string& text, const std::u16string& caption, UINT flags);

  void Minimize();
  void Restore();
  // Brings the active or main form to the front.
  void BringToFront();
  bool Active() const { return active_; }
  HINSTANCE Instance() const;
  std::u16string ExeName() const;

  // Hooks see the application window's messages first; answering true
  // marks a message handled.
  void HookMainWindow(const TWindowHook& hook, const void* id);
  void UnhookMainWindow(const void* id);

  // A form's window shows: the task-bar button appears with the main form.
  void FormShown(TCustomForm* form);

  // ---- hints
  bool ShowHint() const { return showHint_; }
  // Switching hints off and on makes a new hint window.
  void SetShowHint(bool v);
  int HintPause() const { return hintPause_; }
  void SetHintPause(int v) { hintPause_ = v; }
  int HintHidePause() const { return hintHidePause_; }
  void SetHintHidePause(int v) { hintHidePause_ = v; }
  TColor HintColor() const { return hintColor_; }
  void SetHintColor(TColor v) { hintColor_ = v; }
  // A mouse message over a control: starts, moves or ends its hint. Controls
  // call it for non-client messages of their own.
  void HintMouseMessage(TControl* control, TMessage& message);
  void CancelHint();
  // The control is gone or the mouse left it: its hint ends.
  void HintControlLeft(TControl* control);
  THintWindow* HintWindow() const { return hintWindow_; }
  // The class of new hint windows.
  static TClass HintWindowClass;

 private:
  friend class TCustomForm;
  bool ProcessMessage(MSG& msg);
  void Idle();
  void AppWndProc(TMessage& m);
  static LRESULT CALLBACK AppWindowProc(HWND wnd, UINT msg, WPARAM wp, LPARAM lp);

  HWND handle_ = nullptr;
  std::u16string title_;
  TCustomForm* mainForm_ = nullptr;
  bool showMainForm_ = true;
  bool terminated_ = false;
  bool active_ = false;
  bool handlingException_ = false;
  unsigned actionPass_ = 0;
  unsigned passCounter_ = 0;
  std::vector<std::pair<const void*, TWindowHook>> hooks_;

  void HintTimerExpired(UINT_PTR id);
  void ActivateHint();
  void HideHint();
  bool showHint_ = true;
  int hintPause_ = 500, hintHidePause_ = 2500, hintShortPause_ = 50;
  TColor hintColor_ = clInfoBk;
  TControl* hintControl_ = nullptr;
  TRect hintCursorRect_{};
  THintWindow* hintWindow_ = nullptr;
  bool hintShowing_ = false;
};

// The first form up the owner chain of a component, or none.
TCustomForm* GetOwnerForm(TComponent* component);

// The program's application and screen, made at start-up.
extern TApplication* Application;
extern TScreen* Screen;

// A hidden window whose messages go to a method (timers, tray handlers).
HWND AllocateHWnd(std::function<void(TMessage&)> method);
void DeallocateHWnd(HWND wnd);

// Runs an exception escaping a window procedure or a callback through the
// standard error display.
void HandleCallbackException();

}  // namespace classlib
