// 8-bit text in the active code page. The system code page on Windows; on
// the host a fixed single-byte table (Windows-1252), so tests are stable.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace classlib {

class TCodePageConverter {
 public:
  virtual ~TCodePageConverter() = default;
  virtual std::u16string ToWide(std::string_view ansi) const = 0;
  // Characters the code page cannot hold become '?'.
  virtual std::string ToAnsi(std::u16string_view wide) const = 0;
};

// The converter every 8-bit/UTF-16 conversion of the library goes through.
const TCodePageConverter& CodePage();
// Replaces it (tests, or a program that wants another code page); none
// restores the default. Returns the previous one.
std::unique_ptr<TCodePageConverter> SetCodePage(std::unique_ptr<TCodePageConverter> converter);
// The fixed Windows-1252 table, available on every platform.
std::unique_ptr<TCodePageConverter> MakeWindows1252Converter();

inline std::u16string AnsiToWide(std::string_view s) { return CodePage().ToWide(s); }
inline std::string WideToAnsi(std::u16string_view s) { return CodePage().ToAnsi(s); }

}  // namespace classlib
