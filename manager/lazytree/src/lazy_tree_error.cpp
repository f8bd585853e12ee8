#include "lazytree/lazy_tree_error.h"

#include "classlib/codepage.h"
#include "texts/unit_language.h"

namespace kelm::lazytree {

namespace {

struct TErrorRow {
  uint32_t textId;
  int helpContext;
};

// In TLazyTreeErrorKind order.
constexpr TErrorRow kErrors[] = {
    {texts::ltTreeEditLinkNil, 2000},      {texts::ltTreeMoveIntoOwnChild, 2001},
    {texts::ltTreeStreamFormat, 2002},     {texts::ltTreeStreamVersion, 2003},
    {texts::ltTreeStreamTooShort, 2004},   {texts::ltTreeAnchorChunkMissing, 2005},
    {texts::ltTreeDataAfterNodeEnd, 2006}, {texts::ltTreeClipboardFailed, 2007},
    {texts::ltTreeUserDataSpace, 2008},
};
static_assert(sizeof kErrors / sizeof kErrors[0] ==
              static_cast<size_t>(TLazyTreeErrorKind::UserDataSpace) + 1);

}  // namespace

uint32_t TreeErrorTextId(TLazyTreeErrorKind kind) { return kErrors[static_cast<int>(kind)].textId; }

int TreeErrorHelpContext(TLazyTreeErrorKind kind) {
  return kErrors[static_cast<int>(kind)].helpContext;
}

void RaiseTreeError(const std::u16string& message, int helpContext) {
  throw ELazyTreeError(classlib::AnsiToWide(classlib::WideToAnsi(message)), helpContext);
}

void RaiseTreeError(TLazyTreeErrorKind kind) {
  RaiseTreeError(texts::LangText(TreeErrorTextId(kind)), TreeErrorHelpContext(kind));
}

}  // namespace kelm::lazytree
