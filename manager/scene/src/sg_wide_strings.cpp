// Wide string lists.
#include "scene/sg_wide_strings.h"

#include <utility>

#include "classlib/classdef.h"
#include "classlib/codepage.h"
#include "classlib/streams.h"

namespace kelm::scene {

using classlib::TObject;

namespace {
bool IsLineBreak(char16_t c) {
  return c == 0 || c == u'\n' || c == 0x0B || c == 0x0C || c == u'\r' || c == 0x2028 || c == 0x2029;
}

intptr_t AsInt(TObject* obj) { return reinterpret_cast<intptr_t>(obj); }

// The order of sgCompareInt, at pointer width: larger values first.
int CompareObjects(intptr_t a, intptr_t b) {
  if (a == b) return 0;
  return a < b ? 1 : -1;
}
}  // namespace

// ---- TsgWideStrings
CL_CLASS(TsgWideStrings) {}

void TsgWideStrings::Put(int index, const std::u16string& text) {
  TObject* obj = GetObject(index);
  Delete(index);
  InsertObject(index, text, obj);
}

int TsgWideStrings::AddObject(const std::u16string& text, TObject* obj) {
  int index = GetCount();
  InsertObject(index, text, obj);
  return index;
}

void TsgWideStrings::Exchange(int a, int b) {
  std::u16string sa = Get(a), sb = Get(b);
  TObject* oa = GetObject(a);
  TObject* ob = GetObject(b);
  BeginUpdate();
  Put(a, sb);
  PutObject(a, ob);
  Put(b, sa);
  PutObject(b, oa);
  EndUpdate();
}

int TsgWideStrings::IndexOf(const std::u16string& text) const {
  for (int i = 0; i < GetCount(); ++i)
    if (CompareStrings(Get(i), text) == 0) return i;
  return -1;
}

void TsgWideStrings::AddStrings(classlib::TStrings* strings) {
  BeginUpdate();
  for (int i = 0; i < strings->Count(); ++i)
    AddObject(classlib::AnsiToWide(strings->Get(i)), strings->GetObject(i));
  EndUpdate();
}

void TsgWideStrings::AddWideStrings(TsgWideStrings* strings) {
  BeginUpdate();
  for (int i = 0; i < strings->GetCount(); ++i) AddObject(strings->Get(i), strings->GetObject(i));
  EndUpdate();
}

int TsgWideStrings::IndexOfName(const std::u16string& name) const {
  for (int i = 0; i < GetCount(); ++i) {
    std::u16string s = Get(i);
    size_t eq = s.find(u'=');
    if (eq != std::u16string::npos && CompareStrings(s.substr(0, eq), name) == 0) return i;
  }
  return -1;
}

int TsgWideStrings::IndexOfValue(const std::u16string& value) const {
  for (int i = 0; i < GetCount(); ++i) {
    std::u16string s = Get(i);
    size_t eq = s.find(u'=');
    if (eq != std::u16string::npos && CompareStrings(s.substr(eq + 1), value) == 0) return i;
  }
  return -1;
}

void TsgWideStrings::Move(int from, int to) {
  if (from == to || from < 0 || from >= GetCount() || to < 0 || to >= GetCount()) return;
  if (!CanMove()) return;
  BeginUpdate();
  std::u16string s = Get(from);
  TObject* obj = GetObject(from);
  Delete(from);
  InsertObject(to, s, obj);
  EndUpdate();
}

std::u16string TsgWideStrings::Names(int index) const {
  std::u16string s = Get(index);
  size_t eq = s.find(u'=');
  return eq == std::u16string::npos ? std::u16string() : s.substr(0, eq);
}

std::u16string TsgWideStrings::Values(const std::u16string& name) const {
  int i = IndexOfName(name);
  if (i < 0) return {};
  std::u16string s = Get(i);
  return s.substr(s.find(u'=') + 1);
}

std::u16string TsgWideStrings::GetTextStr() const {
  std::u16string r;
  for (int i = 0; i < GetCount(); ++i) {
    r += Get(i);
    r += u"\r\n";
  }
  return r;
}

void TsgWideStrings::SetTextStr(std::u16string_view text) {
  BeginUpdate();
  try {
    Clear();
    size_t p = 0;
    while (p < text.size()) {
      size_t start = p;
      while (p < text.size() && !IsLineBreak(text[p])) ++p;
      Add(std::u16string(text.substr(start, p - start)));
      if (p < text.size()) {
        if (text[p] == u'\r' && p + 1 < text.size() && text[p + 1] == u'\n')
          p += 2;
        else
          ++p;
      }
    }
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TsgWideStrings::LoadFromStream(classlib::TStream& stream) {
  std::vector<uint8_t> bytes(static_cast<size_t>(stream.Remaining() > 0 ? stream.Remaining() : 0));
  if (!bytes.empty()) stream.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  std::u16string text;
  bool le = bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE;
  bool be = bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF;
  if (le || be) {
    // An odd last byte is half a character: dropped.
    for (size_t i = 2; i + 1 < bytes.size(); i += 2) {
      uint8_t lo = le ? bytes[i] : bytes[i + 1];
      uint8_t hi = le ? bytes[i + 1] : bytes[i];
      text += static_cast<char16_t>(lo | (hi << 8));
    }
  } else {
    text = classlib::AnsiToWide(
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }
  SetTextStr(text);
}

void TsgWideStrings::LoadFromFile(const std::u16string& fileName) {
  // Loading is best effort by contract: a file that cannot be read leaves
  // the list as it was.
  try {
    classlib::TFileStream f(fileName, classlib::fmOpenRead | classlib::fmShareDenyWrite);
    LoadFromStream(f);
  } catch (const std::exception&) {
  }
}

void TsgWideStrings::SaveToStream(classlib::TStream& stream) const {
  std::u16string text = GetTextStr();
  std::vector<uint8_t> bytes;
  bytes.reserve(2 + text.size() * 2);
  bytes.push_back(0xFF);
  bytes.push_back(0xFE);
  for (char16_t c : text) {
    bytes.push_back(static_cast<uint8_t>(c & 0xFF));
    bytes.push_back(static_cast<uint8_t>(c >> 8));
  }
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
}

void TsgWideStrings::SaveToFile(const std::u16string& fileName) const {
  classlib::TFileStream f(fileName, classlib::fmCreate);
  SaveToStream(f);
}

void TsgWideStrings::SaveToFileAnsi(const std::u16string& fileName) const {
  auto* list = classlib::New<classlib::TStringList>();
  try {
    list->SetText(classlib::WideToAnsi(GetTextStr()));
    list->SaveToFile(fileName);
  } catch (...) {
    classlib::Free(list);
    throw;
  }
  classlib::Free(list);
}

void TsgWideStrings::BeginUpdate() {
  if (updateCount_ == 0) SetUpdateState(true);
  ++updateCount_;
}

void TsgWideStrings::EndUpdate() {
  if (updateCount_ == 0) return;
  --updateCount_;
  if (updateCount_ == 0) SetUpdateState(false);
}

void TsgWideStrings::Assign(classlib::TPersistent* source) {
  auto* wide = dynamic_cast<TsgWideStrings*>(source);
  auto* ansi = dynamic_cast<classlib::TStrings*>(source);
  if (!wide && !ansi) {
    inherited::Assign(source);
    return;
  }
  if (wide == this) return;
  BeginUpdate();
  try {
    Clear();
    if (wide)
      AddWideStrings(wide);
    else
      AddStrings(ansi);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TsgWideStrings::AssignTo(classlib::TPersistent* dest) {
  if (auto* wide = dynamic_cast<TsgWideStrings*>(dest)) {
    wide->Assign(this);
    return;
  }
  if (auto* ansi = dynamic_cast<classlib::TStrings*>(dest)) {
    ansi->BeginUpdate();
    try {
      ansi->Clear();
      for (int i = 0; i < GetCount(); ++i)
        ansi->AddObject(classlib::WideToAnsi(Get(i)), GetObject(i));
    } catch (...) {
      ansi->EndUpdate();
      throw;
    }
    ansi->EndUpdate();
    return;
  }
  inherited::AssignTo(dest);
}

void TsgWideStrings::DefineProperties(classlib::TFiler& filer) {
  inherited::DefineProperties(filer);
  filer.DefineProperty(
      "strings",
      [this](classlib::TReader& r) {
        r.ReadListBegin();
        BeginUpdate();
        try {
          Clear();
          while (!r.EndOfList()) Add(r.ReadWideString());
          r.ReadListEnd();
        } catch (...) {
          EndUpdate();
          throw;
        }
        EndUpdate();
      },
      [this](classlib::TWriter& w) {
        w.WriteListBegin();
        for (int i = 0; i < GetCount(); ++i) w.WriteWideString(Get(i));
        w.WriteListEnd();
      },
      GetCount() > 0);
}

// ---- TsgWideStringList
CL_CLASS(TsgWideStringList) {}

void TsgWideStringList::Error(const char16_t* message) const {
  if (OnError) OnError(message);
}

bool TsgWideStringList::CheckIndex(int index, int limit) const {
  if (index >= 0 && index < limit) return true;
  Error(u"List index error");
  return false;
}

void TsgWideStringList::Changed() {
  if (UpdateCount() == 0 && OnChange) OnChange(this);
}

void TsgWideStringList::Changing() {
  if (UpdateCount() == 0 && OnChanging) OnChanging(this);
}

void TsgWideStringList::SetUpdateState(bool updating) {
  if (updating) {
    if (OnChanging) OnChanging(this);
  } else {
    if (OnChange) OnChange(this);
  }
}

std::u16string TsgWideStringList::Get(int index) const {
  if (index < 0 || index >= GetCount()) return {};
  return items_[static_cast<size_t>(index)].s;
}

TObject* TsgWideStringList::GetObject(int index) const {
  if (!CheckIndex(index, GetCount())) return nullptr;
  return items_[static_cast<size_t>(index)].obj;
}

void TsgWideStringList::Put(int index, const std::u16string& text) {
  if (sorted_) {
    Error(u"Sorted list error");
    return;
  }
  if (!CheckIndex(index, GetCount())) return;
  Changing();
  items_[static_cast<size_t>(index)].s = text;
  Changed();
}

void TsgWideStringList::PutObject(int index, TObject* obj) {
  if (!CheckIndex(index, GetCount())) return;
  Changing();
  items_[static_cast<size_t>(index)].obj = obj;
  Changed();
}

void TsgWideStringList::SetCapacity(int n) {
  // Never below the items held: they would be lost.
  if (n < GetCount()) return;
  capacity_ = n;
  items_.reserve(static_cast<size_t>(n));
}

int TsgWideStringList::AddObject(const std::u16string& text, TObject* obj) {
  int index = GetCount();
  if (sorted_ && !sortByObject_) {
    if (Find(text, index)) {
      if (duplicates_ == TsgDuplicates::dupIgnore) return index;
      if (duplicates_ == TsgDuplicates::dupError) Error(u"Doublicate string");
    }
  }
  InsertItem(index, text, obj);
  return index;
}

void TsgWideStringList::InsertItem(int index, const std::u16string& text, TObject* obj) {
  Changing();
  if (GetCount() == capacity_) {
    int delta = capacity_ > 64 ? capacity_ / 4 : (capacity_ > 8 ? 16 : 4);
    SetCapacity(capacity_ + delta);
  }
  items_.insert(items_.begin() + index, Item{text, obj});
  Changed();
}

void TsgWideStringList::InsertObject(int index, const std::u16string& text, TObject* obj) {
  if (sorted_) {
    Error(u"Sorted list error");
    return;
  }
  if (!CheckIndex(index, GetCount() + 1)) return;
  InsertItem(index, text, obj);
}

void TsgWideStringList::Clear() {
  if (items_.empty() && capacity_ == 0) return;
  Changing();
  items_.clear();
  items_.shrink_to_fit();
  capacity_ = 0;
  Changed();
}

void TsgWideStringList::Delete(int index) {
  if (!CheckIndex(index, GetCount())) return;
  Changing();
  items_.erase(items_.begin() + index);
  Changed();
}

void TsgWideStringList::Exchange(int a, int b) {
  if (!CheckIndex(a, GetCount()) || !CheckIndex(b, GetCount())) return;
  Changing();
  std::swap(items_[static_cast<size_t>(a)], items_[static_cast<size_t>(b)]);
  Changed();
}

int TsgWideStringList::IndexOf(const std::u16string& text) const {
  // A list sorted by its objects is not in string order: search it whole.
  if (!sorted_ || sortByObject_) return TsgWideStrings::IndexOf(text);
  int index;
  return Find(text, index) ? index : -1;
}

bool TsgWideStringList::Find(const std::u16string& text, int& index) const {
  bool found = false;
  int l = 0, h = GetCount() - 1;
  while (l <= h) {
    int i = (l + h) / 2;
    int c = CompareStrings(items_[static_cast<size_t>(i)].s, text);
    if (c < 0) {
      l = i + 1;
    } else {
      h = i - 1;
      // Equal: go on to the left, so the first of equal items is found
      // whatever the duplicates setting (a list may hold equal items after
      // an error insert or a change of the comparison).
      if (c == 0) found = true;
    }
  }
  index = l;
  return found;
}

bool TsgWideStringList::FindObject(intptr_t value, int& index) const {
  bool found = false;
  int l = 0, h = GetCount() - 1;
  while (l <= h) {
    int i = (l + h) / 2;
    int c = CompareObjects(AsInt(items_[static_cast<size_t>(i)].obj), value);
    if (c < 0) {
      l = i + 1;
    } else {
      h = i - 1;
      // Equal: go on to the left, so the first of equal items is found
      // whatever the duplicates setting (a list may hold equal items after
      // an error insert or a change of the comparison).
      if (c == 0) found = true;
    }
  }
  index = l;
  return found;
}

int TsgWideStringList::CompareItems(int a, int b) const {
  const Item& x = items_[static_cast<size_t>(a)];
  const Item& y = items_[static_cast<size_t>(b)];
  if (sortByObject_) return CompareObjects(AsInt(x.obj), AsInt(y.obj));
  return CompareStrings(x.s, y.s);
}

void TsgWideStringList::QuickSort(int l, int r) {
  int i;
  do {
    i = l;
    int j = r, p = (l + r) / 2;
    do {
      while (CompareItems(i, p) < 0) ++i;
      while (CompareItems(j, p) > 0) --j;
      if (i <= j) {
        std::swap(items_[static_cast<size_t>(i)], items_[static_cast<size_t>(j)]);
        if (p == i)
          p = j;
        else if (p == j)
          p = i;
        ++i;
        --j;
      }
    } while (i <= j);
    if (l < j) QuickSort(l, j);
    l = i;
  } while (i < r);
}

void TsgWideStringList::Sort() {
  if (sorted_ || GetCount() < 2) return;
  Changing();
  QuickSort(0, GetCount() - 1);
  Changed();
}

void TsgWideStringList::SetSorted(bool value) {
  if (sorted_ == value) return;
  if (value) Sort();
  sorted_ = value;
}

void TsgWideStringList::SetCaseSensitive(bool value) {
  if (caseSensitive_ == value) return;
  caseSensitive_ = value;
  // The order changes with the comparison: sort again.
  if (sorted_) {
    sorted_ = false;
    Sort();
    sorted_ = true;
  }
}

int TsgWideStringList::CompareStrings(const std::u16string& a, const std::u16string& b) const {
  return caseSensitive_ ? classlib::WideCompareStr(a, b) : classlib::UnicodeCompareText(a, b);
}

bool TsgWideStringList::CanMove() {
  if (!sorted_) return true;
  Error(u"Sorted list error");
  return false;
}

}  // namespace kelm::scene
