// Lists of wide (UTF-16) strings, each with an object: the abstract
// TsgWideStrings and the list TsgWideStringList. Both stream as one
// "strings" property in the class library's list encoding.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "classlib/component.h"
#include "classlib/filer.h"
#include "classlib/strings.h"

namespace kelm::scene {

class TsgWideStrings : public classlib::TPersistent {
  CL_DECLARE_CLASS(TsgWideStrings, TPersistent)
 public:
  virtual std::u16string Get(int index) const = 0;
  virtual int GetCount() const = 0;
  virtual int GetCapacity() const { return GetCount(); }
  virtual classlib::TObject* GetObject(int index) const {
    (void)index;
    return nullptr;
  }
  virtual void Put(int index, const std::u16string& text);
  virtual void PutObject(int index, classlib::TObject* obj) { (void)index, (void)obj; }
  virtual void SetCapacity(int n) { (void)n; }
  virtual int Add(const std::u16string& text) { return AddObject(text, nullptr); }
  virtual int AddObject(const std::u16string& text, classlib::TObject* obj);
  virtual void Clear() = 0;
  virtual void Delete(int index) = 0;
  virtual void Exchange(int a, int b);
  virtual int IndexOf(const std::u16string& text) const;
  virtual void Insert(int index, const std::u16string& text) { InsertObject(index, text, nullptr); }
  virtual void InsertObject(int index, const std::u16string& text, classlib::TObject* obj) = 0;
  virtual void Sort() {}

  int Count() const { return GetCount(); }
  std::u16string operator[](int index) const { return Get(index); }
  void AddStrings(classlib::TStrings* strings);
  void AddWideStrings(TsgWideStrings* strings);
  int IndexOfName(const std::u16string& name) const;
  int IndexOfValue(const std::u16string& value) const;
  void Move(int from, int to);
  std::u16string Names(int index) const;
  std::u16string Values(const std::u16string& name) const;

  // Every string followed by CR LF.
  std::u16string GetTextStr() const;
  // One string per line; a line ends at NUL, LF, VT, FF, CR, U+2028 or
  // U+2029, and CR LF is one break.
  void SetTextStr(std::u16string_view text);
  void SetText(const char16_t* text) { SetTextStr(text ? text : u""); }

  // FF FE: UTF-16LE; FE FF: UTF-16BE; otherwise 8-bit text in the code page.
  void LoadFromStream(classlib::TStream& stream);
  // Any error (a missing file) leaves the list as it was.
  void LoadFromFile(const std::u16string& fileName);
  // FF FE, then the text in UTF-16LE.
  void SaveToStream(classlib::TStream& stream) const;
  void SaveToFile(const std::u16string& fileName) const;
  void SaveToFileAnsi(const std::u16string& fileName) const;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }

  void Assign(classlib::TPersistent* source) override;
  void AssignTo(classlib::TPersistent* dest) override;
  // "strings": the strings as a list, when there is one at least.
  void DefineProperties(classlib::TFiler& filer) override;

 protected:
  virtual int CompareStrings(const std::u16string& a, const std::u16string& b) const {
    (void)a, (void)b;
    return 0;
  }
  virtual void SetUpdateState(bool updating) { (void)updating; }
  // Whether Move may take an item out and put it back elsewhere.
  virtual bool CanMove() { return true; }

 private:
  int updateCount_ = 0;
};

enum class TsgDuplicates { dupIgnore, dupAccept, dupError };

class TsgWideStringList : public TsgWideStrings {
  CL_DECLARE_CLASS(TsgWideStringList, TsgWideStrings)
 public:
  TsgWideStringList() = default;

  std::u16string Get(int index) const override;
  int GetCount() const override { return static_cast<int>(items_.size()); }
  int GetCapacity() const override { return capacity_; }
  classlib::TObject* GetObject(int index) const override;
  void Put(int index, const std::u16string& text) override;
  void PutObject(int index, classlib::TObject* obj) override;
  void SetCapacity(int n) override;
  int AddObject(const std::u16string& text, classlib::TObject* obj) override;
  void Clear() override;
  void Delete(int index) override;
  void Exchange(int a, int b) override;
  int IndexOf(const std::u16string& text) const override;
  void InsertObject(int index, const std::u16string& text, classlib::TObject* obj) override;
  void Sort() override;

  // Binary searches of the sorted list: the first equal item, else the
  // insertion point.
  virtual bool Find(const std::u16string& text, int& index) const;
  virtual bool FindObject(intptr_t value, int& index) const;

  bool Sorted() const { return sorted_; }
  void SetSorted(bool value);
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool value);
  TsgDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TsgDuplicates d) { duplicates_ = d; }
  bool SortByObject() const { return sortByObject_; }
  void SetSortByObject(bool v) { sortByObject_ = v; }

  classlib::TNotifyEvent OnChange;
  classlib::TNotifyEvent OnChanging;
  // Receives "List index error", "Sorted list error" and "Doublicate
  // string"; it reports nothing to the user.
  std::function<void(const std::u16string& message)> OnError;

 protected:
  int CompareStrings(const std::u16string& a, const std::u16string& b) const override;
  void SetUpdateState(bool updating) override;
  bool CanMove() override;
  void Changed();
  void Changing();

 private:
  struct Item {
    std::u16string s;
    classlib::TObject* obj;
  };
  bool CheckIndex(int index, int limit) const;
  void Error(const char16_t* message) const;
  void InsertItem(int index, const std::u16string& text, classlib::TObject* obj);
  int CompareItems(int a, int b) const;
  void QuickSort(int l, int r);

  std::vector<Item> items_;
  int capacity_ = 0;
  bool sorted_ = false;
  bool caseSensitive_ = false;
  bool sortByObject_ = false;
  TsgDuplicates duplicates_ = TsgDuplicates::dupIgnore;
};

}  // namespace kelm::scene
