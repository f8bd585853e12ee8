// User-level failures of the tree (ELazyTreeError with its help context)
// and the tree's assertions (the class library's assertion exception, unit
// "LazyTrees").
#pragma once

#include <cstdint>
#include <string>

#include "classlib/sysutils.h"

namespace kelm::lazytree {

class ELazyTreeError : public classlib::Exception {
 public:
  using classlib::Exception::Exception;
};

// The tree's errors: string table id and help context, one row each.
enum class TLazyTreeErrorKind : uint8_t {
  EditLinkNil,
  MoveIntoOwnChild,
  StreamFormat,
  StreamVersion,
  StreamTooShort,
  AnchorChunkMissing,
  DataAfterNodeEnd,
  ClipboardFailed,
  UserDataSpace,
};

uint32_t TreeErrorTextId(TLazyTreeErrorKind kind);
int TreeErrorHelpContext(TLazyTreeErrorKind kind);

// Raises the error with the message converted through the system's ANSI
// code page, as the texts reach the user in 8 bits.
[[noreturn]] void RaiseTreeError(const std::u16string& message, int helpContext);
[[noreturn]] void RaiseTreeError(TLazyTreeErrorKind kind);

}  // namespace kelm::lazytree

// Checks a caller's argument before anything changes.
#define LT_ASSERT(cond, text)                                             \
  do {                                                                    \
    if (!(cond)) ::classlib::RaiseAssertion(text, "LazyTrees", __LINE__); \
  } while (0)
