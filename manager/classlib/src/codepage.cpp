#include "classlib/codepage.h"

#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

namespace classlib {

namespace {

// 0x80-0x9F of Windows-1252; the rest of the byte range maps to itself.
const char16_t kHigh1252[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

class TWindows1252 final : public TCodePageConverter {
 public:
  std::u16string ToWide(std::string_view s) const override {
    std::u16string r;
    r.reserve(s.size());
    for (char ch : s) {
      unsigned char b = static_cast<unsigned char>(ch);
      r.push_back(b >= 0x80 && b < 0xA0 ? kHigh1252[b - 0x80] : static_cast<char16_t>(b));
    }
    return r;
  }
  std::string ToAnsi(std::u16string_view s) const override {
    std::string r;
    r.reserve(s.size());
    for (char16_t c : s) {
      if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) {
        r.push_back(static_cast<char>(c));
        continue;
      }
      char out = '?';
      for (int i = 0; i < 32; ++i)
        if (kHigh1252[i] == c) out = static_cast<char>(0x80 + i);
      r.push_back(out);
    }
    return r;
  }
};

#ifdef _WIN32
class TSystemCodePage final : public TCodePageConverter {
 public:
  std::u16string ToWide(std::string_view s) const override {
    if (s.empty()) return {};
    int n = MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
    std::u16string r(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()),
                        reinterpret_cast<wchar_t*>(&r[0]), n);
    return r;
  }
  std::string ToAnsi(std::u16string_view s) const override {
    if (s.empty()) return {};
    auto w = reinterpret_cast<const wchar_t*>(s.data());
    int n =
        WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
    std::string r(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_ACP, 0, w, static_cast<int>(s.size()), &r[0], n, nullptr, nullptr);
    return r;
  }
};
#endif

std::unique_ptr<TCodePageConverter> MakeDefault() {
#ifdef _WIN32
  return std::make_unique<TSystemCodePage>();
#else
  return MakeWindows1252Converter();
#endif
}

std::unique_ptr<TCodePageConverter>& Current() {
  static std::unique_ptr<TCodePageConverter> current = MakeDefault();
  return current;
}

}  // namespace

std::unique_ptr<TCodePageConverter> MakeWindows1252Converter() {
  return std::make_unique<TWindows1252>();
}

const TCodePageConverter& CodePage() { return *Current(); }

std::unique_ptr<TCodePageConverter> SetCodePage(std::unique_ptr<TCodePageConverter> converter) {
  auto old = std::move(Current());
  Current() = converter ? std::move(converter) : MakeDefault();
  return old;
}

}  // namespace classlib
