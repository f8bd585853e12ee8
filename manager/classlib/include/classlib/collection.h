// Collections: owned, ordered items of one item class, streamed in place.
#pragma once

#include <string>
#include <vector>

#include "classlib/component.h"

namespace classlib {

class TCollection;

class TCollectionItem : public TPersistent {
  CL_DECLARE_CLASS(TCollectionItem, TPersistent)
 public:
  explicit TCollectionItem(TCollection* collection);
  ~TCollectionItem() override;

  TCollection* Collection() const { return collection_; }
  virtual void SetCollection(TCollection* collection);
  int Index() const;
  // Moves the item; EListError outside the collection.
  virtual void SetIndex(int index);
  int ID() const { return id_; }
  virtual std::string GetDisplayName() const { return ClassName(); }
  TPersistent* GetOwner() override;

 protected:
  // Tells the collection: all = every item may have changed.
  void Changed(bool all);
  void ReleaseLinks() override;

 private:
  friend class TCollection;
  TCollection* collection_ = nullptr;
  int id_ = 0;
};

enum class TCollectionNotification { cnAdded, cnExtracting, cnDeleting };

class TCollection : public TPersistent {
  CL_DECLARE_CLASS(TCollection, TPersistent)
 public:
  // itemClass must inherit from TCollectionItem.
  explicit TCollection(TClass itemClass);
  ~TCollection() override;

  TCollectionItem* Add();
  // EListError outside 0..Count.
  TCollectionItem* Insert(int index);
  // EListError outside 0..Count-1.
  void Delete(int index);
  void Clear();
  int Count() const { return static_cast<int>(items_.size()); }
  // EListError outside 0..Count-1.
  TCollectionItem* Items(int index) const;
  TCollectionItem* FindItemID(int id) const;
  TClass ItemClass() const { return itemClass_; }
  void BeginUpdate() { ++updateCount_; }
  void EndUpdate();
  int UpdateCount() const { return updateCount_; }
  // From another collection: cleared, then one item per source item,
  // assigned from it, inside one update.
  void Assign(TPersistent* source) override;

 protected:
  // item none: the whole collection changed.
  virtual void Update(TCollectionItem* item) { (void)item; }
  virtual void Notify(TCollectionItem* item, TCollectionNotification action) {
    (void)item, (void)action;
  }
  void Changed();

 private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* item);
  void RemoveItem(TCollectionItem* item);

  TClass itemClass_;
  std::vector<TCollectionItem*> items_;
  int updateCount_ = 0;
  int nextId_ = 0;
};

// A collection that answers its owner (for stream paths and notices).
class TOwnedCollection : public TCollection {
  CL_DECLARE_CLASS(TOwnedCollection, TCollection)
 public:
  TOwnedCollection(TPersistent* owner, TClass itemClass) : TCollection(itemClass), owner_(owner) {}
  TPersistent* GetOwner() override { return owner_; }

 private:
  TPersistent* owner_;
};

}  // namespace classlib
