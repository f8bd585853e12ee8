#include "classlib/resources.h"

#include <vector>

namespace classlib {

std::u16string SysErrorMessage(DWORD code) {
  wchar_t* text = nullptr;
  DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
  std::u16string result = text ? FromWStr(text, n) : std::u16string();
  if (text) LocalFree(text);
  while (!result.empty() &&
         (result.back() == u'\n' || result.back() == u'\r' || result.back() == u' '))
    result.pop_back();
  return result;
}

void RaiseLastOSError() {
  DWORD code = GetLastError();
  if (code == 0) throw EOSError(u"A call to an OS function failed");
  throw EOSError(Format(u"System Error.  Code: %d.\r\n%s",
                        {static_cast<unsigned>(code), SysErrorMessage(code)}));
}

HINSTANCE HInstance() { return GetModuleHandleW(nullptr); }

std::u16string ExeName() {
  std::vector<wchar_t> buf(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(HInstance(), buf.data(), static_cast<DWORD>(buf.size()));
    if (n < buf.size()) return FromWStr(buf.data(), n);
    buf.resize(buf.size() * 2);
  }
}

std::u16string ExeFolder() {
  std::u16string name = ExeName();
  size_t slash = name.find_last_of(u"\\/");
  return slash == std::u16string::npos ? std::u16string() : name.substr(0, slash + 1);
}

bool HasRCData(HINSTANCE instance, const std::u16string& name) {
  return FindResourceW(instance, WStr(name), MAKEINTRESOURCEW(10)) != nullptr;
}

std::unique_ptr<TResourceStream> OpenRCData(HINSTANCE instance, const std::u16string& name) {
  HRSRC res = FindResourceW(instance, WStr(name), MAKEINTRESOURCEW(10));
  HGLOBAL data = res ? LoadResource(instance, res) : nullptr;
  const void* p = data ? LockResource(data) : nullptr;
  if (!p) throw EResNotFound(Format(u"Resource %s not found", {name}));
  // Resources stay mapped for the life of the module.
  return std::make_unique<TResourceStream>(p, SizeofResource(instance, res));
}

bool ReadComponentRes(const std::u16string& name, TComponent* instance) {
  if (!HasRCData(HInstance(), name)) return false;
  std::unique_ptr<TResourceStream> stream = OpenRCData(HInstance(), name);
  TReader reader(*stream);
  reader.ReadRootComponent(instance);
  return true;
}

std::u16string LoadStr(UINT id) {
  const wchar_t* text = nullptr;
  // With a zero buffer size LoadStringW answers a pointer into the resource.
  int n = LoadStringW(HInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
  return n > 0 && text ? FromWStr(text, static_cast<size_t>(n)) : std::u16string();
}

}  // namespace classlib
