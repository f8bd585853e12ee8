// TList: an ordered list of pointers whose index errors raise EListError,
// for the places where the list error escapes to the caller.
#pragma once

#include <functional>
#include <vector>

#include "classlib/sysutils.h"

namespace classlib {

class TList {
 public:
  int Count() const { return static_cast<int>(items_.size()); }
  int Add(void* item);
  void Insert(int index, void* item);
  void Delete(int index);
  int Remove(void* item);  // answers the former index, -1 when absent
  int IndexOf(void* item) const;
  void* Get(int index) const;
  void Put(int index, void* item);
  void* operator[](int index) const { return Get(index); }
  void Exchange(int a, int b);
  void Move(int from, int to);
  void Clear() { items_.clear(); }
  void* First() const { return Get(0); }
  void* Last() const { return Get(Count() - 1); }
  void* Extract(void* item);
  void Pack();  // drops the empty entries
  void Sort(const std::function<int(void*, void*)>& compare);
  template <class T>
  T* Item(int index) const {
    return static_cast<T*>(Get(index));
  }

 private:
  void Check(int index, int limit) const;
  std::vector<void*> items_;
};

}  // namespace classlib
