// The message of the library exception an operation raises.
#pragma once

#include <functional>
#include <string>

#include "classlib/sysutils.h"

namespace kelm::test {

inline std::u16string RaisedBy(const std::function<void()>& operation) {
  try {
    operation();
  } catch (const classlib::Exception& e) {
    return e.Message();
  }
  return u"<nothing raised>";
}

}  // namespace kelm::test
