#include "classlib/lists.h"

#include <algorithm>

namespace classlib {

void TList::Check(int index, int limit) const {
  if (index < 0 || index >= limit)
    throw EListError(Format(u"List index out of bounds (%d)", {index}));
}

int TList::Add(void* item) {
  items_.push_back(item);
  return Count() - 1;
}

void TList::Insert(int index, void* item) {
  Check(index, Count() + 1);
  items_.insert(items_.begin() + index, item);
}

void TList::Delete(int index) {
  Check(index, Count());
  items_.erase(items_.begin() + index);
}

int TList::Remove(void* item) {
  int i = IndexOf(item);
  if (i >= 0) Delete(i);
  return i;
}

int TList::IndexOf(void* item) const {
  auto it = std::find(items_.begin(), items_.end(), item);
  return it == items_.end() ? -1 : static_cast<int>(it - items_.begin());
}

void* TList::Get(int index) const {
  Check(index, Count());
  return items_[static_cast<size_t>(index)];
}

void TList::Put(int index, void* item) {
  Check(index, Count());
  items_[static_cast<size_t>(index)] = item;
}

void TList::Exchange(int a, int b) {
  Check(a, Count());
  Check(b, Count());
  std::swap(items_[static_cast<size_t>(a)], items_[static_cast<size_t>(b)]);
}

void TList::Move(int from, int to) {
  if (from == to) return;
  Check(from, Count());
  Check(to, Count());
  void* item = items_[static_cast<size_t>(from)];
  items_.erase(items_.begin() + from);
  items_.insert(items_.begin() + to, item);
}

void* TList::Extract(void* item) {
  int i = IndexOf(item);
  if (i < 0) return nullptr;
  items_.erase(items_.begin() + i);
  return item;
}

void TList::Pack() {
  items_.erase(std::remove(items_.begin(), items_.end(), nullptr), items_.end());
}

void TList::Sort(const std::function<int(void*, void*)>& compare) {
  std::stable_sort(items_.begin(), items_.end(),
                   [&](void* a, void* b) { return compare(a, b) < 0; });
}

}  // namespace classlib
