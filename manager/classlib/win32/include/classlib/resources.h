// Resources of the program module: RCDATA streams (stored forms and style
// books), the string table and the module's own handle and folder.
#pragma once

#include <memory>
#include <string>

#include "classlib/wintypes.h"

namespace classlib {

CLASSLIB_EXCEPTION(EResNotFound, Exception)

// The system's text for an error code, and EOSError from the last error.
std::u16string SysErrorMessage(DWORD code);
[[noreturn]] void RaiseLastOSError();

// The module whose resources the library reads (the program itself).
HINSTANCE HInstance();
// Full path of the program file, and its folder with a trailing backslash.
std::u16string ExeName();
std::u16string ExeFolder();

// Whether an RCDATA resource of that name exists (names compare without case).
bool HasRCData(HINSTANCE instance, const std::u16string& name);
// A read-only stream over an RCDATA resource; EResNotFound "Resource %s
// not found" when it is missing.
std::unique_ptr<TResourceStream> OpenRCData(HINSTANCE instance, const std::u16string& name);
// Reads the stored component resource "name" into instance (TReader's
// ReadRootComponent), or answers false when there is no such resource.
bool ReadComponentRes(const std::u16string& name, TComponent* instance);

// A string of the string table, UTF-16; empty when the id has none.
std::u16string LoadStr(UINT id);

}  // namespace classlib
