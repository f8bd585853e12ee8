#include "classlib/strings.h"

#include <algorithm>

#include "classlib/classdef.h"
#include "classlib/filer.h"
#include "classlib/streams.h"

namespace classlib {

CL_CLASS(TStrings) {}
CL_CLASS(TStringList) {}

void TStrings::Error(const char16_t* fmt, int index) const {
  throw EStringListError(Format(fmt, {index}));
}

int TStrings::Add(const std::string& s) { return AddObject(s, nullptr); }

int TStrings::AddObject(const std::string& s, TObject* obj) {
  int n = Count();
  InsertObject(n, s, obj);
  return n;
}

void TStrings::Insert(int index, const std::string& s) { InsertObject(index, s, nullptr); }

void TStrings::AddStrings(TStrings* strings) {
  if (!strings) return;
  BeginUpdate();
  try {
    for (int i = 0; i < strings->Count(); ++i) AddObject(strings->Get(i), strings->GetObject(i));
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Assign(TPersistent* source) {
  if (auto* src = dynamic_cast<TStrings*>(source)) {
    if (src == this) return;
    BeginUpdate();
    try {
      Clear();
      AddStrings(src);
    } catch (...) {
      EndUpdate();
      throw;
    }
    EndUpdate();
    return;
  }
  TPersistent::Assign(source);
}

int TStrings::CompareStrings(const std::string& a, const std::string& b) const {
  return CompareText(a, b);
}

int TStrings::IndexOf(const std::string& s) const {
  for (int i = 0; i < Count(); ++i)
    if (CompareStrings(Get(i), s) == 0) return i;
  return -1;
}

int TStrings::IndexOfName(const std::string& name) const {
  for (int i = 0; i < Count(); ++i) {
    std::string s = Get(i);
    size_t eq = s.find('=');
    if (eq != std::string::npos && CompareStrings(s.substr(0, eq), name) == 0) return i;
  }
  return -1;
}

int TStrings::IndexOfObject(TObject* obj) const {
  for (int i = 0; i < Count(); ++i)
    if (GetObject(i) == obj) return i;
  return -1;
}

void TStrings::Put(int index, const std::string& s) {
  TObject* obj = GetObject(index);
  Delete(index);
  InsertObject(index, s, obj);
}

void TStrings::Exchange(int a, int b) {
  BeginUpdate();
  try {
    std::string sa = Get(a);
    TObject* oa = GetObject(a);
    Put(a, Get(b));
    PutObject(a, GetObject(b));
    Put(b, sa);
    PutObject(b, oa);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::Move(int from, int to) {
  if (from == to) return;
  BeginUpdate();
  try {
    std::string s = Get(from);
    TObject* obj = GetObject(from);
    Delete(from);
    InsertObject(to, s, obj);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

std::string TStrings::Names(int index) const {
  std::string s = Get(index);
  size_t eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(0, eq);
}

std::string TStrings::Values(const std::string& name) const {
  int i = IndexOfName(name);
  return i < 0 ? std::string() : ValueFromIndex(i);
}

std::string TStrings::ValueFromIndex(int index) const {
  std::string s = Get(index);
  size_t eq = s.find('=');
  return eq == std::string::npos ? std::string() : s.substr(eq + 1);
}

void TStrings::SetValue(const std::string& name, const std::string& value) {
  int i = IndexOfName(name);
  if (value.empty()) {
    if (i >= 0) Delete(i);
    return;
  }
  if (i < 0)
    Add(name + "=" + value);
  else
    Put(i, name + "=" + value);
}

std::string TStrings::Text() const {
  std::string r;
  for (int i = 0; i < Count(); ++i) r += Get(i) + "\r\n";
  return r;
}

void TStrings::SetText(const std::string& text) {
  BeginUpdate();
  try {
    Clear();
    size_t i = 0;
    while (i < text.size()) {
      size_t e = text.find_first_of("\r\n", i);
      if (e == std::string::npos) {
        Add(text.substr(i));
        break;
      }
      Add(text.substr(i, e - i));
      i = e + 1;
      if (text[e] == '\r' && i < text.size() && text[i] == '\n') ++i;
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TStrings::LoadFromStream(TStream& stream) {
  int64_t n = stream.Size() - stream.Position();
  std::string data(static_cast<size_t>(n < 0 ? 0 : n), '\0');
  if (!data.empty()) stream.ReadBuffer(&data[0], static_cast<int64_t>(data.size()));
  SetText(data);
}

void TStrings::SaveToStream(TStream& stream) const {
  std::string t = Text();
  stream.WriteBuffer(t.data(), static_cast<int64_t>(t.size()));
}

void TStrings::LoadFromFile(const std::u16string& fileName) {
  TFileStream f(fileName, fmOpenRead | fmShareDenyWrite);
  LoadFromStream(f);
}

void TStrings::SaveToFile(const std::u16string& fileName) const {
  TFileStream f(fileName, fmCreate);
  SaveToStream(f);
}

void TStrings::BeginUpdate() {
  if (updateCount_++ == 0) SetUpdateState(true);
}

void TStrings::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) SetUpdateState(false);
}

bool TStrings::Equals(TStrings* other) const {
  if (!other || other->Count() != Count()) return false;
  for (int i = 0; i < Count(); ++i)
    if (Get(i) != other->Get(i)) return false;
  return true;
}

void TStrings::DefineProperties(TFiler& filer) {
  filer.DefineProperty(
      "Strings",
      [this](TReader& r) {
        // Read into a copy first: a failing value leaves the list as it was.
        std::vector<std::string> lines;
        r.ReadListBegin();
        while (!r.EndOfList()) lines.push_back(r.ReadString());
        r.ReadListEnd();
        BeginUpdate();
        try {
          Clear();
          for (auto& l : lines) Add(l);
        } catch (...) {
          EndUpdate();
          throw;
        }
        EndUpdate();
      },
      [this](TWriter& w) {
        w.WriteListBegin();
        for (int i = 0; i < Count(); ++i) w.WriteString(Get(i));
        w.WriteListEnd();
      },
      Count() > 0);
}

// ---- TStringList
TStringList::~TStringList() {
  if (ownsObjects_)
    for (auto& it : items_) Free(it.obj);
}

void TStringList::CheckIndex(int index) const {
  if (index < 0 || index >= Count()) Error(u"List index out of bounds (%d)", index);
}

void TStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

void TStringList::SetUpdateState(bool updating) {
  // The count is already past zero here: fire directly, once per update.
  if (updating) {
    if (OnChanging) OnChanging(this);
  } else if (OnChange) {
    OnChange(this);
  }
}

int TStringList::CompareStrings(const std::string& a, const std::string& b) const {
  if (caseSensitive_) {
    int r = a.compare(b);
    return r < 0 ? -1 : (r > 0 ? 1 : 0);
  }
  return CompareText(a, b);
}

int TStringList::Add(const std::string& s) { return AddObject(s, nullptr); }

int TStringList::AddObject(const std::string& s, TObject* obj) {
  int index;
  if (!sorted_) {
    index = Count();
  } else if (Find(s, index)) {
    switch (duplicates_) {
      case TDuplicates::dupIgnore:
        return index;
      case TDuplicates::dupError:
        throw EStringListError(u"String list does not allow duplicates");
      case TDuplicates::dupAccept:
        break;
    }
  }
  InsertItem(index, s, obj);
  return index;
}

void TStringList::InsertItem(int index, const std::string& s, TObject* obj) {
  Changing();
  items_.insert(items_.begin() + index, Item{s, obj});
  Changed();
}

void TStringList::InsertObject(int index, const std::string& s, TObject* obj) {
  if (sorted_) throw EStringListError(u"Operation not allowed on sorted list");
  if (index < 0 || index > Count()) Error(u"List index out of bounds (%d)", index);
  InsertItem(index, s, obj);
}

void TStringList::Clear() {
  if (items_.empty()) return;
  Changing();
  std::vector<Item> old;
  old.swap(items_);
  if (ownsObjects_)
    for (auto& it : old) Free(it.obj);
  Changed();
}

void TStringList::Delete(int index) {
  CheckIndex(index);
  Changing();
  TObject* obj = items_[static_cast<size_t>(index)].obj;
  items_.erase(items_.begin() + index);
  if (ownsObjects_) Free(obj);
  Changed();
}

int TStringList::IndexOf(const std::string& s) const {
  if (!sorted_) return TStrings::IndexOf(s);
  int index;
  return Find(s, index) ? index : -1;
}

void TStringList::Exchange(int a, int b) {
  CheckIndex(a);
  CheckIndex(b);
  Changing();
  std::swap(items_[static_cast<size_t>(a)], items_[static_cast<size_t>(b)]);
  Changed();
}

std::string TStringList::Get(int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)].s;
}

TObject* TStringList::GetObject(int index) const {
  CheckIndex(index);
  return items_[static_cast<size_t>(index)].obj;
}

void TStringList::Put(int index, const std::string& s) {
  if (sorted_) throw EStringListError(u"Operation not allowed on sorted list");
  CheckIndex(index);
  Changing();
  items_[static_cast<size_t>(index)].s = s;
  Changed();
}

void TStringList::PutObject(int index, TObject* obj) {
  CheckIndex(index);
  Changing();
  items_[static_cast<size_t>(index)].obj = obj;
  Changed();
}

bool TStringList::Find(const std::string& s, int& index) const {
  int lo = 0, hi = Count() - 1;
  bool found = false;
  while (lo <= hi) {
    int mid = lo + (hi - lo) / 2;
    int c = CompareStrings(items_[static_cast<size_t>(mid)].s, s);
    if (c < 0) {
      lo = mid + 1;
    } else {
      hi = mid - 1;
      if (c == 0) {
        found = true;
        if (duplicates_ != TDuplicates::dupAccept) lo = mid;
      }
    }
  }
  index = lo;
  return found;
}

void TStringList::Sort() {
  if (sorted_ || Count() < 2) return;
  Changing();
  std::stable_sort(items_.begin(), items_.end(),
                   [this](const Item& a, const Item& b) { return CompareStrings(a.s, b.s) < 0; });
  Changed();
}

void TStringList::CustomSort(int (*compare)(TStringList* list, int a, int b)) {
  if (Count() < 2) return;
  Changing();
  // Sort a permutation: the comparer sees the list as it was.
  std::vector<int> order(items_.size());
  for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  std::stable_sort(order.begin(), order.end(),
                   [&](int a, int b) { return compare(this, a, b) < 0; });
  std::vector<Item> sorted;
  sorted.reserve(items_.size());
  for (int i : order) sorted.push_back(items_[static_cast<size_t>(i)]);
  items_.swap(sorted);
  Changed();
}

void TStringList::SetSorted(bool value) {
  if (sorted_ == value) return;
  if (value) Sort();
  sorted_ = value;
}

void TStringList::SetCaseSensitive(bool value) {
  if (caseSensitive_ == value) return;
  caseSensitive_ = value;
  if (sorted_) {
    sorted_ = false;
    Sort();
    sorted_ = true;
  }
}

}  // namespace classlib
