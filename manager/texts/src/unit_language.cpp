#include "texts/unit_language.h"

#ifdef _WIN32
#include "classlib/resources.h"
#endif

namespace kelm::texts {

namespace {

#define VH_TEXT(id, text) {id, u"" text},
const TLangEntry kTable[] = {
#include "language_texts.def"
};
#undef VH_TEXT

}  // namespace

const TLangEntry* LangTable(std::size_t* count) {
  *count = sizeof kTable / sizeof kTable[0];
  return kTable;
}

std::u16string BuiltInText(uint32_t id) {
  for (const TLangEntry& entry : kTable) {
    if (entry.id == id) return entry.text;
  }
  return {};
}

std::u16string LangText(uint32_t id) {
#ifdef _WIN32
  return classlib::LoadStr(id);
#else
  return BuiltInText(id);
#endif
}

}  // namespace kelm::texts
