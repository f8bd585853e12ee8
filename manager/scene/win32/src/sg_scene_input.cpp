// The scene host's input: keys and characters for the focused object, the
// IME, mouse events with capture and hover, the wheel, hints, moving and
// resizing the form from inside the scene, and drag and drop (the class
// library's and OLE's).
#include <algorithm>
#include <cmath>
#include <functional>

#include "classlib/sysutils.h"
#include "scene/sg_brush.h"
#include "scene/sg_scene.h"

#include <imm.h>
#include <shlobj.h>
#include <windowsx.h>

namespace kelm::scene {

using classlib::TMessage;

namespace {

// One drag at a time in the whole program.
TsgVisualObject* g_dragTarget = nullptr;
IDataObject* g_dragData = nullptr;
IDropTargetHelper* g_dragImage = nullptr;

constexpr CLSID kDragImageClass = {
    0x4657278A, 0x411B, 0x11D2, {0x83, 0x9A, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}};
constexpr IID kDragImageInterface = {
    0x4657278B, 0x411B, 0x11D2, {0x83, 0x9A, 0x00, 0xC0, 0x4F, 0xD9, 0x18, 0xD0}};

constexpr size_t kMaxDroppedName = 260;

bool IsNavigationKey(uint16_t key) {
  switch (key) {
    case VK_ESCAPE:
    case VK_RETURN:
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
    case VK_HOME:
    case VK_END:
    case VK_ADD:
    case VK_SUBTRACT:
      return true;
    default:
      return false;
  }
}

// The drag target goes away with the object it names.
class DragTargetWatch : public classlib::TComponent {
 public:
  DragTargetWatch() : TComponent(nullptr) {}
  void Notification(TComponent* component, classlib::TOperation operation) override {
    TComponent::Notification(component, operation);
    if (operation == classlib::TOperation::opRemove && g_dragTarget &&
        static_cast<TComponent*>(g_dragTarget) == component)
      g_dragTarget = nullptr;
  }
};
DragTargetWatch* Watch() {
  static DragTargetWatch* w = new DragTargetWatch;
  return w;
}

void SetDragTarget(TsgVisualObject* v) {
  if (g_dragTarget == v) return;
  if (g_dragTarget) g_dragTarget->RemoveFreeNotification(Watch());
  g_dragTarget = v;
  if (v) v->FreeNotification(Watch());
}

void ReleaseDragImage() {
  if (g_dragImage) g_dragImage->Release();
  g_dragImage = nullptr;
}
void ReleaseDragData() {
  if (g_dragData) g_dragData->Release();
  g_dragData = nullptr;
}

void FillDragObject(IDataObject* data, TsgDragObject& out) {
  out = TsgDragObject{};
  if (!data) return;
  FORMATETC fmt{CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  STGMEDIUM medium{};
  if (SUCCEEDED(data->GetData(&fmt, &medium))) {
    out.Files = ReadDroppedFiles(medium.hGlobal);
    if (!out.Files.empty()) out.Data = classlib::TVariant(out.Files.front());
    ReleaseStgMedium(&medium);
    return;
  }
  fmt.cfFormat = CF_UNICODETEXT;
  if (SUCCEEDED(data->GetData(&fmt, &medium))) {
    const SIZE_T size = GlobalSize(medium.hGlobal);
    if (const auto* text = static_cast<const char16_t*>(GlobalLock(medium.hGlobal))) {
      const size_t units = size / sizeof(char16_t);
      size_t n = 0;
      while (n < units && text[n]) ++n;
      out.Data = classlib::TVariant(std::u16string(text, n));
      GlobalUnlock(medium.hGlobal);
    }
    ReleaseStgMedium(&medium);
  }
}

}  // namespace

std::vector<std::u16string> ReadDroppedFiles(HGLOBAL block) {
  std::vector<std::u16string> files;
  if (!block) return files;
  const SIZE_T size = GlobalSize(block);
  const auto* base = static_cast<const uint8_t*>(GlobalLock(block));
  if (!base) return files;
  if (size >= sizeof(DROPFILES)) {
    const auto* head = reinterpret_cast<const DROPFILES*>(base);
    const size_t offset = head->pFiles;
    const size_t unit = head->fWide ? 2 : 1;
    if (offset >= sizeof(DROPFILES) && offset <= size) {
      size_t pos = offset;
      auto at = [&](size_t i) -> char16_t {
        if (unit == 2) return static_cast<char16_t>(base[i] | (base[i + 1] << 8));
        return static_cast<char16_t>(base[i]);
      };
      // Each name ends with a terminator inside the block; the list ends
      // with an empty name. A name running past the block is not read.
      while (pos + unit <= size && at(pos) != 0) {
        size_t end = pos;
        while (end + unit <= size && at(end) != 0) end += unit;
        if (end + unit > size) break;
        std::u16string name;
        for (size_t i = pos; i < end && name.size() < kMaxDroppedName; i += unit)
          name.push_back(at(i));
        files.push_back(std::move(name));
        pos = end + unit;
      }
    }
  }
  GlobalUnlock(block);
  return files;
}

// ---- OLE drop target: not reference counted beyond the scene's lifetime.
// COM interfaces have no virtual destructor by design; this one is deleted
// only as itself.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
class TsgCustomScene::DropTarget final : public IDropTarget {
 public:
  explicit DropTarget(TsgCustomScene* scene) : scene_(scene) {}
  HRESULT STDMETHODCALLTYPE QueryInterface(const ::GUID& riid, void** obj) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDropTarget)) {
      *obj = static_cast<IDropTarget*>(this);
      return S_OK;
    }
    *obj = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE DragEnter(IDataObject* data, DWORD, POINTL pt, DWORD* effect) override {
    try {
      *effect = DROPEFFECT_NONE;
      TsgObject* root = scene_->GetRoot();
      if (!root || !root->Visual()) return E_UNEXPECTED;
      ReleaseDragData();
      g_dragData = data;
      if (data) data->AddRef();
      ReleaseDragImage();
      if (SUCCEEDED(CoCreateInstance(kDragImageClass, nullptr, CLSCTX_INPROC_SERVER,
                                     kDragImageInterface,
                                     reinterpret_cast<void**>(&g_dragImage)))) {
        POINT p{pt.x, pt.y};
        if (FAILED(g_dragImage->DragEnter(scene_->Handle(), data, &p, *effect))) ReleaseDragImage();
      }
      return S_OK;
    } catch (...) {
      *effect = DROPEFFECT_NONE;
      return E_UNEXPECTED;
    }
  }

  HRESULT STDMETHODCALLTYPE DragOver(DWORD, POINTL pt, DWORD* effect) override {
    try {
      *effect = DROPEFFECT_NONE;
      POINT p{pt.x, pt.y};
      ::ScreenToClient(scene_->Handle(), &p);
      const TsgPoint at{static_cast<float>(p.x), static_cast<float>(p.y)};
      TsgDragObject drag;
      FillDragObject(g_dragData, drag);
      TsgVisualObject* root = scene_->GetRoot() ? scene_->GetRoot()->Visual() : nullptr;
      TsgVisualObject* target = root ? root->FindDragTarget(at, drag) : nullptr;
      if (target != g_dragTarget) {
        if (g_dragTarget) g_dragTarget->DragLeave();
        SetDragTarget(target);
        if (target) target->DragEnter(drag, at);
      }
      if (g_dragTarget) *effect = DROPEFFECT_LINK;
      if (g_dragImage) {
        POINT sp{pt.x, pt.y};
        g_dragImage->DragOver(&sp, *effect);
      }
      return S_OK;
    } catch (...) {
      *effect = DROPEFFECT_NONE;
      return E_UNEXPECTED;
    }
  }

  HRESULT STDMETHODCALLTYPE DragLeave() override {
    try {
      if (g_dragTarget) g_dragTarget->DragLeave();
      if (g_dragImage) g_dragImage->DragLeave();
      SetDragTarget(nullptr);
      ReleaseDragImage();
      ReleaseDragData();
      return S_OK;
    } catch (...) {
      SetDragTarget(nullptr);
      ReleaseDragImage();
      ReleaseDragData();
      return E_UNEXPECTED;
    }
  }

  HRESULT STDMETHODCALLTYPE Drop(IDataObject* data, DWORD, POINTL pt, DWORD* effect) override {
    HRESULT hr = S_OK;
    try {
      if (g_dragTarget) {
        POINT p{pt.x, pt.y};
        ::ScreenToClient(scene_->Handle(), &p);
        TsgDragObject drag;
        FillDragObject(data ? data : g_dragData, drag);
        TsgVisualObject* target = g_dragTarget;
        SetDragTarget(nullptr);
        target->DragDrop(drag, {static_cast<float>(p.x), static_cast<float>(p.y)});
      }
      if (g_dragImage) {
        POINT sp{pt.x, pt.y};
        g_dragImage->Drop(data, &sp, *effect);
      }
    } catch (...) {
      *effect = DROPEFFECT_NONE;
      hr = E_UNEXPECTED;
    }
    SetDragTarget(nullptr);
    ReleaseDragImage();
    ReleaseDragData();
    return hr;
  }

 private:
  TsgCustomScene* scene_;
};
#pragma GCC diagnostic pop

void TsgCustomScene::CreateWnd() {
  TCustomControl::CreateWnd();
  if (!dropTarget_) dropTarget_ = new DropTarget(this);
  dropRegistered_ = SUCCEEDED(RegisterDragDrop(handle_, dropTarget_));
}

IDropTarget* TsgCustomScene::DropTargetInterface() const { return dropTarget_; }

void TsgCustomScene::FreeDropTarget() {
  delete dropTarget_;
  dropTarget_ = nullptr;
}

// ---- routing

void TsgCustomScene::WndProc(TMessage& m) {
  switch (m.Msg) {
    case WM_SG_UPDATE:
      return WMSgUpdate(m);
    case WM_GETDLGCODE:
      return WMGetDlgCode(m);
    case WM_IME_STARTCOMPOSITION:
      return WMImeStartComposition(m);
    case WM_IME_COMPOSITION:
      return WMImeComposition(m);
    case classlib::CM_MOUSELEAVE:
      return CMMouseLeave(m);
    case classlib::CM_HINTSHOW:
      return CMHintShow(m);
    case classlib::CM_DESIGNHITTEST:
      return CMDesignHitTest(m);
    default:
      return TCustomControl::WndProc(m);
  }
}

// ---- keys

void TsgCustomScene::WMKeyDown(TMessage& m) {
  TCustomControl::WMKeyDown(m);
  if (m.Msg != WM_KEYDOWN && m.Msg != WM_SYSKEYDOWN) return;
  uint16_t key = static_cast<uint16_t>(m.WParam);
  char16_t ch = 0;
  KeyDown(key, ch, classlib::KeyboardShiftState());
}

void TsgCustomScene::WMKeyUp(TMessage& m) {
  TCustomControl::WMKeyUp(m);
  uint16_t key = static_cast<uint16_t>(m.WParam);
  char16_t ch = 0;
  KeyUp(key, ch, classlib::KeyboardShiftState());
}

void TsgCustomScene::DeliverChar(char16_t ch) {
  uint16_t key = 0;
  char16_t c = ch;
  KeyDown(key, c, {});
}

void TsgCustomScene::WMChar(TMessage& m) {
  const auto code = static_cast<char16_t>(m.WParam);
  char16_t letter = 0;
  switch (code) {
    case 1:
      letter = u'a';
      break;
    case 3:
      letter = u'c';
      break;
    case 22:
      letter = u'v';
      break;
    case 24:
      letter = u'x';
      break;
    case 26:
      letter = u'z';
      break;
    default:
      break;
  }
  const TShiftState shift = classlib::KeyboardShiftState();
  if (letter) {
    uint16_t key = 0;
    char16_t c = letter;
    KeyDown(key, c, shift);
    key = 0;
    c = letter;
    KeyUp(key, c, shift);
  } else if (code != 13) {
    uint16_t key = 0;
    char16_t c = code;
    KeyDown(key, c, shift);
  }
  TCustomControl::WMChar(m);
}

void TsgCustomScene::WMGetDlgCode(TMessage& m) {
  TCustomControl::WndProc(m);
  m.Result = DLGC_WANTARROWS | DLGC_WANTTAB | DLGC_WANTCHARS;
}

std::vector<TsgVisualObject*> TsgCustomScene::BuildTabList() {
  std::vector<TsgVisualObject*> list;
  std::function<void(TsgVisualObject*)> walk = [&](TsgVisualObject* v) {
    for (TsgVisualObject* c : v->TabList()) {
      list.push_back(c);
      walk(c);
    }
  };
  if (TsgObject* root = GetRoot(); root && root->Visual()) walk(root->Visual());
  return list;
}

void TsgCustomScene::KeyDown(uint16_t& key, char16_t& keyChar, TShiftState shift) {
  TsgObject* rootObj = GetRoot();
  TsgVisualObject* root = rootObj ? rootObj->Visual() : nullptr;
  // Navigation keys reach the root first: a dialog can take Escape or the
  // arrows before the focused object sees them.
  if (IsNavigationKey(key) && root) {
    root->DialogKey(key, shift);
    if (key == 0) return;
  }
  if (key == VK_ESCAPE) {
    for (classlib::TComponent* o = Owner(); o; o = o->Owner())
      if (auto* form = dynamic_cast<classlib::TCustomForm*>(o); form && form->IsShownModally()) {
        form->SetModalResult(classlib::mrCancel);
        key = 0;
        break;
      }
    return;
  }
  if (key != VK_TAB || !rootObj) {
    if (focused_) focused_->KeyDown(key, keyChar, shift);
    return;
  }
  key = 0;
  const std::vector<TsgVisualObject*> list = BuildTabList();
  const auto it = std::find(list.begin(), list.end(), focused_);
  const int current = it == list.end() ? -1 : static_cast<int>(it - list.begin());
  const int next = NextTabIndex(
      static_cast<int>(list.size()), current, shift.Contains(classlib::ssShift), [&](int i) {
        TsgVisualObject* v = list[static_cast<size_t>(i)];
        return v->IsVisibleWithParents() && v->CanFocused && v->GetAbsoluteEnabled();
      });
  if (next >= 0) list[static_cast<size_t>(next)]->SetFocus();
}

void TsgCustomScene::KeyUp(uint16_t& key, char16_t& keyChar, TShiftState shift) {
  if (design_ && key == VK_DELETE && selected_) {
    TsgVisualObject* gone = selected_;
    selected_ = nullptr;
    classlib::Free(gone);
  }
  if (focused_) focused_->KeyUp(key, keyChar, shift);
}

// ---- IME

void TsgCustomScene::WMImeStartComposition(TMessage& m) {
  TCustomControl::WndProc(m);
  m.Result = 1;
  HIMC imc = ImmGetContext(handle_);
  if (!imc) return;
  TsgFont* font = nullptr;
  TsgPoint caret{};
  if (focused_ && focused_->ImeCompositionInfo(font, caret)) {
    const TsgPoint pos = focused_->LocalToAbsolute(caret);
    if (font) {
      LOGFONTW lf{};
      HDC screen = GetDC(nullptr);
      const int ppi = GetDeviceCaps(screen, LOGPIXELSY);
      ReleaseDC(nullptr, screen);
      lf.lfHeight = -static_cast<LONG>(std::lround(std::trunc(font->Size()) * ppi / 72.0));
      const TsgFontStyle st = font->Style();
      lf.lfWeight = (st == sgFontBold || st == sgFontBoldItalic) ? FW_BOLD : FW_NORMAL;
      lf.lfItalic = (st == sgFontItalic || st == sgFontBoldItalic) ? TRUE : FALSE;
      const std::u16string face = classlib::Utf8ToWide(font->Family());
      face.copy(reinterpret_cast<char16_t*>(lf.lfFaceName), LF_FACESIZE - 1);
      ImmSetCompositionFontW(imc, &lf);
    }
    COMPOSITIONFORM cf{};
    cf.dwStyle = CFS_RECT;
    GetClientRect(handle_, &cf.rcArea);
    cf.ptCurrentPos = {static_cast<LONG>(pos.X), static_cast<LONG>(pos.Y)};
    if (PRIMARYLANGID(LOWORD(reinterpret_cast<uintptr_t>(GetKeyboardLayout(0)))) == LANG_KOREAN) {
      cf.rcArea.left = cf.ptCurrentPos.x;
      cf.rcArea.top = cf.ptCurrentPos.y;
      OffsetRect(&cf.rcArea, 0, 1);
    }
    ImmSetCompositionWindow(imc, &cf);
  }
  ImmReleaseContext(handle_, imc);
}

void TsgCustomScene::WMImeComposition(TMessage& m) {
  if (!(m.LParam & GCS_RESULTSTR)) {
    TCustomControl::WndProc(m);
    return;
  }
  HIMC imc = ImmGetContext(handle_);
  std::u16string text;
  if (imc) {
    const LONG bytes = ImmGetCompositionStringW(imc, GCS_RESULTSTR, nullptr, 0);
    if (bytes > 0) {
      text.resize(static_cast<size_t>(bytes) / sizeof(char16_t));
      ImmGetCompositionStringW(imc, GCS_RESULTSTR, text.data(), static_cast<DWORD>(bytes));
    }
    ImmReleaseContext(handle_, imc);
  }
  // Handled here: default handling would send the same text again as
  // characters.
  for (char16_t ch : text) DeliverChar(ch);
  m.Result = 0;
  if (PRIMARYLANGID(LOWORD(reinterpret_cast<uintptr_t>(GetKeyboardLayout(0)))) == LANG_KOREAN)
    PostMessageW(handle_, WM_IME_STARTCOMPOSITION, 0, 0);
}

// ---- mouse

TsgVisualObject* TsgCustomScene::ObjectAtScenePoint(const TsgPoint& p) {
  for (auto it = roots_.rbegin(); it != roots_.rend(); ++it) {
    TsgVisualObject* v = (*it)->Visual();
    if (!v) break;
    if (!v->Visible() && !design_) continue;
    if (TsgVisualObject* hit = v->ObjectAtPoint(p)) return hit;
  }
  return nullptr;
}

TsgPoint TsgCustomScene::Snapped(float x, float y) const {
  if (!DesignSnapToGrid || GridSize == 0) return {x, y};
  return {std::trunc(x / GridSize) * GridSize, std::trunc(y / GridSize) * GridSize};
}

void TsgCustomScene::SetHovered(TsgVisualObject* obj) {
  if (obj == hovered_) return;
  ClearHovered();
  hovered_ = obj;
  if (obj) {
    obj->FreeNotification(this);
    obj->MouseEnter();
  }
}

void TsgCustomScene::ClearHovered() {
  if (TsgVisualObject* old = hovered_) {
    hovered_ = nullptr;
    old->MouseLeave();
    Unwatch(old);
  }
}

void TsgCustomScene::CMMouseLeave(TMessage& m) {
  TCustomControl::WndProc(m);
  ClearHovered();
}

void TsgCustomScene::CMHintShow(TMessage& m) {
  TCustomControl::WndProc(m);
  auto* info = reinterpret_cast<classlib::THintInfo*>(m.LParam);
  if (!info) return;
  const TsgPoint at{static_cast<float>(info->CursorPos.x), static_cast<float>(info->CursorPos.y)};
  TsgVisualObject* v = ObjectAtScenePoint(at);
  if (v && v->ShowHint) {
    info->HintStr = v->Hint();
    const TsgRect r = v->GetAbsoluteRect();
    info->CursorRect = {static_cast<LONG>(r.Left), static_cast<LONG>(r.Top),
                        static_cast<LONG>(r.Right), static_cast<LONG>(r.Bottom)};
  } else {
    info->HintStr.clear();
  }
}

void TsgCustomScene::CMDesignHitTest(TMessage& m) {
  const TsgPoint at{static_cast<float>(GET_X_LPARAM(m.LParam)),
                    static_cast<float>(GET_Y_LPARAM(m.LParam))};
  const bool corner = gripDrag_[gTopLeft] || gripDrag_[gTopRight] || gripDrag_[gBottomLeft] ||
                      gripDrag_[gBottomRight];
  if (roots_.empty() || designMoving_ || corner || ObjectAtScenePoint(at)) {
    m.Result = 1;
    return;
  }
  m.Result = selected_ && sgPtInRect(at, selected_->GetAbsoluteRect()) ? 1 : 0;
}

void TsgCustomScene::MouseDown(TMouseButton button, TShiftState shift, int x, int y) {
  TCustomControl::MouseDown(button, shift, x, y);
  if (!design_ && CanFocus()) SetFocus();
  rawPoint_ = {static_cast<float>(x), static_cast<float>(y)};
  lastPoint_ = anchor_ = Snapped(rawPoint_.X, rawPoint_.Y);
  snapLines_.clear();
  if (design_) {
    DesignMouseDown(button, shift);
    return;
  }
  TsgVisualObject* v = ObjectAtScenePoint(lastPoint_);
  if (!v) {
    BeginWindowMove();
    return;
  }
  void* marker = nullptr;
  if (v->GetInterface(IsgSizeGripMarker::IID, &marker)) {
    BeginWindowResize();
    return;
  }
  const TsgPoint local = v->AbsoluteToLocal(lastPoint_);
  v->MouseDown(button, shift, local.X, local.Y);
  if (v->DragMode == sgDragAutomatic) v->BeginAutoDrag();
}

void TsgCustomScene::MouseMove(TShiftState shift, int x, int y) {
  TCustomControl::MouseMove(shift, x, y);
  const float fx = static_cast<float>(x), fy = static_cast<float>(y);
  classlib::TCustomForm* form = GetParentForm(this);
  if (windowMoving_) {
    if (form)
      form->SetBounds(static_cast<int>(std::lround(fx - anchor_.X + form->Left())),
                      static_cast<int>(std::lround(fy - anchor_.Y + form->Top())), form->Width(),
                      form->Height());
    return;
  }
  if (windowResizing_) {
    const int w = static_cast<int>(std::lround(fx - rawPoint_.X + resizeStartWidth_));
    const int h = static_cast<int>(std::lround(fy - rawPoint_.Y + resizeStartHeight_));
    resizeStartWidth_ = w;
    resizeStartHeight_ = h;
    if (form) form->SetBounds(form->Left(), form->Top(), w, h);
    SetCursor(classlib::crSizeNWSE);
    rawPoint_ = {fx, fy};
    return;
  }
  lastPoint_ = Snapped(fx, fy);
  rawPoint_ = {fx, fy};
  if (design_) {
    DesignMouseMove(shift);
  } else {
    if (captured_) {
      const TsgPoint local = captured_->AbsoluteToLocal(lastPoint_);
      const TsgPoint prev = captured_->AbsoluteToLocal(anchor_);
      captured_->MouseMove(shift, local.X, local.Y, local.X - prev.X, local.Y - prev.Y);
      return;
    }
    if (TsgVisualObject* v = ObjectAtScenePoint(lastPoint_)) {
      SetHint(v->ShowHint ? v->Hint() : std::u16string());
      void* marker = nullptr;
      SetCursor(v->GetInterface(IsgSizeGripMarker::IID, &marker)
                    ? classlib::crSizeNWSE
                    : static_cast<classlib::TCursor>(v->Cursor()));
      SetHovered(v);
      const TsgPoint local = v->AbsoluteToLocal(lastPoint_);
      const TsgPoint prev = v->AbsoluteToLocal(anchor_);
      v->MouseMove(shift, local.X, local.Y, local.X - prev.X, local.Y - prev.Y);
    } else {
      ClearHovered();
      SetCursor(savedCursor_);
    }
  }
  anchor_ = lastPoint_;
}

void TsgCustomScene::MouseUp(TMouseButton button, TShiftState shift, int x, int y) {
  TCustomControl::MouseUp(button, shift, x, y);
  if (design_) DesignMouseUp();
  windowMoving_ = windowResizing_ = false;
  if (design_) return;
  TsgVisualObject* v = captured_ ? captured_ : ObjectAtScenePoint(lastPoint_);
  if (!v) return;
  const TsgPoint local = v->AbsoluteToLocal(lastPoint_);
  v->MouseUp(button, shift, local.X, local.Y);
}

bool TsgCustomScene::DoMouseWheel(TShiftState shift, int delta, classlib::TPoint mousePos) {
  const classlib::TPoint client = ScreenToClient(mousePos);
  bool handled = TCustomControl::DoMouseWheel(shift, delta, client);
  if (handled || design_) return handled;
  TsgVisualObject* v = captured_ ? captured_ : ObjectAtScenePoint(lastPoint_);
  for (; v && !handled; v = v->VisualParent()) v->MouseWheel(shift, delta, handled);
  return handled;
}

// ---- moving and resizing the form

void TsgCustomScene::BeginWindowMove() {
  if (Parent() && Parent()->Tag() == 65535) return;
  windowMoving_ = true;
  // In the scene's own client coordinates, as the moves that follow are.
  POINT p{};
  GetCursorPos(&p);
  ::ScreenToClient(handle_, &p);
  anchor_ = {static_cast<float>(p.x), static_cast<float>(p.y)};
}

void TsgCustomScene::BeginWindowResize() {
  windowResizing_ = true;
  POINT p{};
  GetCursorPos(&p);
  ::ScreenToClient(handle_, &p);
  rawPoint_ = {static_cast<float>(p.x), static_cast<float>(p.y)};
  if (classlib::TCustomForm* form = GetParentForm(this)) {
    resizeStartWidth_ = form->Width();
    resizeStartHeight_ = form->Height();
  }
}

// ---- the class library's drag and drop

void TsgCustomScene::BeginDragDrop(TsgObject* obj, TsgBitmap* dragImage) {
  (void)dragImage;
  if (!dragCarrier_) {
    auto* carrier = classlib::New<classlib::TControl>(this);
    carrier->SetVisible(false);
    carrier->SetBounds(0, 0, 0, 0);
    carrier->SetParent(this);
    carrier->OnEndDrag = classlib::EventOf<&TsgCustomScene::DragCarrierEnd>(this);
    dragCarrier_ = carrier;
  }
  carrierObject_ = obj;
  dragCarrier_->BeginDrag(true);
}

void TsgCustomScene::DragCarrierEnd(classlib::TObject*, classlib::TObject*, int, int) {
  TsgObject* obj = carrierObject_;
  carrierObject_ = nullptr;
  if (obj && obj->Visual()) obj->Visual()->DragEnd();
}

void TsgCustomScene::SceneDragOver(classlib::TObject*, classlib::TObject* source, int x, int y,
                                   classlib::TDragState, bool& accept) {
  accept = false;
  TsgVisualObject* root = GetRoot() ? GetRoot()->Visual() : nullptr;
  if (!root) return;
  TsgDragObject drag;
  drag.Source = carrierObject_ && source == dragCarrier_ ? carrierObject_ : source;
  const TsgPoint at{static_cast<float>(x), static_cast<float>(y)};
  TsgVisualObject* target = root->FindDragTarget(at, drag);
  if (target && static_cast<TsgObject*>(target) == carrierObject_) {
    if (g_dragTarget) g_dragTarget->DragLeave();
    SetDragTarget(nullptr);
    return;
  }
  if (target != g_dragTarget) {
    if (g_dragTarget) g_dragTarget->DragLeave();
    SetDragTarget(target);
    if (target) target->DragEnter(drag, at);
  }
  if (!g_dragTarget) return;
  accept = true;
  g_dragTarget->DragOver(drag, at, accept);
}

void TsgCustomScene::SceneDragDrop(classlib::TObject*, classlib::TObject* source, int x, int y) {
  if (!g_dragTarget) return;
  TsgDragObject drag;
  drag.Source = carrierObject_ && source == dragCarrier_ ? carrierObject_ : source;
  TsgVisualObject* target = g_dragTarget;
  SetDragTarget(nullptr);
  target->DragDrop(drag, {static_cast<float>(x), static_cast<float>(y)});
}

TsgVisualObject* CurrentDragTarget() { return g_dragTarget; }

}  // namespace kelm::scene
