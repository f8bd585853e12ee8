// Sets a re-entry flag for a scope and clears it when the scope ends, also
// by an exception: the layouts' guards against realigning themselves.
#pragma once

namespace kelm::scenectrls {

struct FlagGuard {
  explicit FlagGuard(bool& f) : flag(f) { flag = true; }
  FlagGuard(const FlagGuard&) = delete;
  FlagGuard& operator=(const FlagGuard&) = delete;
  ~FlagGuard() { flag = false; }
  bool& flag;
};

}  // namespace kelm::scenectrls
