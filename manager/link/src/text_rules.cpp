#include "link/text_rules.h"

#include "classlib/sysutils.h"

namespace kelm::link {

std::u16string CutMessageTail(std::u16string_view text) {
  std::size_t end = text.size();
  while (end > 0 && (text[end - 1] < u'!' || text[end - 1] == u'.')) --end;
  return std::u16string(text.substr(0, end));
}

std::u16string AddBackslash(std::u16string_view path) {
  std::u16string out(path);
  if (!out.empty() && out.back() != u'\\') out += u'\\';
  return out;
}

std::u16string SystemDirWithFlag(std::u16string_view path, bool withBackslash) {
  std::u16string out(path);
  if (out.size() <= 1) return out;
  if (withBackslash) return AddBackslash(out);
  if (out.back() == u'\\') out.pop_back();
  return out;
}

bool IsHtmlDocument(std::u16string_view path) {
  const std::size_t dot = path.find_last_of(u'.');
  const std::size_t slash = path.find_last_of(u"\\/:");
  if (dot == std::u16string_view::npos || (slash != std::u16string_view::npos && slash > dot))
    return false;
  const std::u16string ext = classlib::WideUpperCase(path.substr(dot));
  return ext == u".HTM" || ext == u".HTML";
}

bool IsBlankPath(std::u16string_view path) {
  for (char16_t c : path) {
    if (c > u' ') return false;
  }
  return true;
}

}  // namespace kelm::link
