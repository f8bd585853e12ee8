// 8-bit string lists with an object per string: TStrings and TStringList.
#pragma once

#include <string>
#include <vector>

#include "classlib/component.h"

namespace classlib {

class TStream;

class TStrings : public TPersistent {
  CL_DECLARE_CLASS(TStrings, TPersistent)
 public:
  virtual int Add(const std::string& s);
  virtual int AddObject(const std::string& s, TObject* obj);
  void AddStrings(TStrings* strings);
  void Append(const std::string& s) { Add(s); }
  virtual void Clear() = 0;
  virtual void Delete(int index) = 0;
  virtual void Insert(int index, const std::string& s);
  virtual void InsertObject(int index, const std::string& s, TObject* obj) = 0;
  virtual int IndexOf(const std::string& s) const;
  int IndexOfName(const std::string& name) const;
  int IndexOfObject(TObject* obj) const;
  virtual void Exchange(int a, int b);
  void Move(int from, int to);

  virtual std::string Get(int index) const = 0;
  virtual int Count() const = 0;
  virtual TObject* GetObject(int index) const {
    (void)index;
    return nullptr;
  }
  virtual void Put(int index, const std::string& s);
  virtual void PutObject(int index, TObject* obj) { (void)index, (void)obj; }
  std::string operator[](int index) const { return Get(index); }
  std::string Strings(int index) const { return Get(index); }
  TObject* Objects(int index) const { return GetObject(index); }

  // "name=value" lines.
  std::string Names(int index) const;
  std::string Values(const std::string& name) const;
  void SetValue(const std::string& name, const std::string& value);
  std::string ValueFromIndex(int index) const;

  // Every string followed by CR LF; setting splits at CR, LF or CR LF.
  std::string Text() const;
  void SetText(const std::string& text);
  void LoadFromStream(TStream& stream);
  void SaveToStream(TStream& stream) const;
  void LoadFromFile(const std::u16string& fileName);
  void SaveToFile(const std::u16string& fileName) const;

  void BeginUpdate();
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }
  bool Equals(TStrings* other) const;

  void Assign(TPersistent* source) override;
  // "Strings": a list of the strings, written when there is one at least.
  void DefineProperties(TFiler& filer) override;

 protected:
  virtual void SetUpdateState(bool updating) { (void)updating; }
  virtual int CompareStrings(const std::string& a, const std::string& b) const;
  [[noreturn]] void Error(const char16_t* fmt, int index) const;

 private:
  int updateCount_ = 0;
};

enum class TDuplicates { dupIgnore, dupAccept, dupError };

class TStringList : public TStrings {
  CL_DECLARE_CLASS(TStringList, TStrings)
 public:
  TStringList() = default;
  ~TStringList() override;

  int Add(const std::string& s) override;
  int AddObject(const std::string& s, TObject* obj) override;
  void Clear() override;
  void Delete(int index) override;
  // Not allowed on a sorted list (EStringListError).
  void InsertObject(int index, const std::string& s, TObject* obj) override;
  int IndexOf(const std::string& s) const override;
  void Exchange(int a, int b) override;
  std::string Get(int index) const override;
  int Count() const override { return static_cast<int>(items_.size()); }
  TObject* GetObject(int index) const override;
  void Put(int index, const std::string& s) override;
  void PutObject(int index, TObject* obj) override;

  // Binary search of a sorted list: true when found; index is the match
  // (the first of equal strings) or the insertion point.
  virtual bool Find(const std::string& s, int& index) const;
  virtual void Sort();
  void CustomSort(int (*compare)(TStringList* list, int a, int b));

  bool Sorted() const { return sorted_; }
  void SetSorted(bool value);
  TDuplicates Duplicates() const { return duplicates_; }
  void SetDuplicates(TDuplicates d) { duplicates_ = d; }
  bool CaseSensitive() const { return caseSensitive_; }
  void SetCaseSensitive(bool value);
  // Objects are freed with the list or when deleted.
  bool OwnsObjects() const { return ownsObjects_; }
  void SetOwnsObjects(bool v) { ownsObjects_ = v; }

  TNotifyEvent OnChange;
  TNotifyEvent OnChanging;

 protected:
  virtual void Changed();
  virtual void Changing();
  void SetUpdateState(bool updating) override;
  int CompareStrings(const std::string& a, const std::string& b) const override;
  virtual void InsertItem(int index, const std::string& s, TObject* obj);

 private:
  struct Item {
    std::string s;
    TObject* obj;
  };
  void CheckIndex(int index) const;
  std::vector<Item> items_;
  bool sorted_ = false;
  bool caseSensitive_ = false;
  bool ownsObjects_ = false;
  TDuplicates duplicates_ = TDuplicates::dupIgnore;
};

}  // namespace classlib
