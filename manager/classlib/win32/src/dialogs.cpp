#include "classlib/dialogs.h"

#include <windows.h>
// after windows.h
#include <commdlg.h>

#include <cstring>
#include <vector>

#include "classlib/forms.h"

namespace classlib {

namespace {
int SystemMessageBox(HWND owner, const std::u16string& text, const std::u16string& caption,
                     UINT flags) {
  return MessageBoxW(owner, WStr(text), WStr(caption), flags);
}
TMessageBoxFunc messageBoxFunc = &SystemMessageBox;
}  // namespace

int ShowMessageBox(HWND owner, const std::u16string& text, const std::u16string& caption,
                   UINT flags) {
  return messageBoxFunc(owner, text, caption, flags);
}

TMessageBoxFunc SetMessageBoxFunc(TMessageBoxFunc func) {
  TMessageBoxFunc old = messageBoxFunc;
  messageBoxFunc = func ? func : &SystemMessageBox;
  return old;
}

CL_CLASS(TCommonDialog) {}

HWND TCommonDialog::OwnerWindow() const {
  if (TCustomForm* f = Screen ? Screen->ActiveForm() : nullptr) return f->Handle();
  return Application ? Application->Handle() : nullptr;
}

CL_CLASS(TOpenDialog) {}

bool TOpenDialog::Execute() { return Run(false); }

bool TOpenDialog::Run(bool save) {
  std::vector<wchar_t> file(32768, 0);
  std::u16string name = FileName.substr(0, file.size() - 1);
  std::memcpy(file.data(), name.c_str(), name.size() * sizeof(char16_t));
  // "Text|*.txt|All|*.*" becomes NUL-separated pairs ending in two NULs.
  std::u16string filter = Filter;
  for (char16_t& ch : filter)
    if (ch == u'|') ch = 0;
  filter.push_back(0);
  filter.push_back(0);
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = OwnerWindow();
  ofn.lpstrFilter = Filter.empty() ? nullptr : WStr(filter);
  ofn.nFilterIndex = static_cast<DWORD>(FilterIndex);
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = InitialDir.empty() ? nullptr : WStr(InitialDir);
  ofn.lpstrTitle = Title.empty() ? nullptr : WStr(Title);
  ofn.lpstrDefExt = DefaultExt.empty() ? nullptr : WStr(DefaultExt);
  ofn.Flags = OFN_EXPLORER;
  static const DWORD kFlags[] = {OFN_READONLY,      OFN_OVERWRITEPROMPT,  OFN_HIDEREADONLY,
                                 OFN_NOCHANGEDIR,   OFN_ALLOWMULTISELECT, OFN_PATHMUSTEXIST,
                                 OFN_FILEMUSTEXIST, OFN_CREATEPROMPT,     OFN_NOREADONLYRETURN,
                                 OFN_ENABLESIZING};
  for (int i = 0; i < 10; ++i)
    if (Options.Contains(static_cast<TOpenOption>(i))) ofn.Flags |= kFlags[i];
  BOOL ok = save ? GetSaveFileNameW(&ofn) : GetOpenFileNameW(&ofn);
  if (!ok) return false;
  FileName = FromWStr(file.data());
  FilterIndex = static_cast<int>(ofn.nFilterIndex);
  return true;
}

CL_CLASS(TSaveDialog) {}

CL_CLASS(TColorDialog) {}

bool TColorDialog::Execute() {
  static COLORREF custom[16] = {};
  CHOOSECOLORW cc{};
  cc.lStructSize = sizeof cc;
  cc.hwndOwner = OwnerWindow();
  cc.rgbResult = ColorToRGB(Color);
  cc.lpCustColors = custom;
  cc.Flags = CC_RGBINIT | CC_FULLOPEN;
  if (!ChooseColorW(&cc)) return false;
  Color = static_cast<TColor>(cc.rgbResult);
  return true;
}

CL_CLASS(TFontDialog) {}

TFontDialog::TFontDialog(TComponent* AOwner) : TCommonDialog(AOwner), font_(New<TFont>()) {}
TFontDialog::~TFontDialog() { Free(font_); }

bool TFontDialog::Execute() {
  LOGFONTW lf{};
  GetObjectW(font_->Handle(), sizeof lf, &lf);
  CHOOSEFONTW cf{};
  cf.lStructSize = sizeof cf;
  cf.hwndOwner = OwnerWindow();
  cf.lpLogFont = &lf;
  cf.Flags = CF_INITTOLOGFONTSTRUCT | CF_EFFECTS | CF_SCREENFONTS;
  cf.rgbColors = ColorToRGB(font_->Color());
  if (!ChooseFontW(&cf)) return false;
  HFONT f = CreateFontIndirectW(&lf);
  font_->SetHandle(f);
  DeleteObject(f);
  font_->SetColor(static_cast<TColor>(cf.rgbColors));
  return true;
}

}  // namespace classlib
