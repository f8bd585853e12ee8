#include "classlib/collection.h"

#include <algorithm>

#include "classlib/classdef.h"

namespace classlib {

CL_CLASS(TCollectionItem) {}
CL_CLASS(TCollection) {}
CL_CLASS(TOwnedCollection) {}

namespace {
[[noreturn]] void IndexError(int index) {
  throw EListError(Format(u"List index out of bounds (%d)", {index}));
}
}  // namespace

TCollectionItem::TCollectionItem(TCollection* collection) { SetCollection(collection); }

TCollectionItem::~TCollectionItem() { ReleaseLinks(); }

void TCollectionItem::ReleaseLinks() { SetCollection(nullptr); }

void TCollectionItem::SetCollection(TCollection* collection) {
  if (collection_ == collection) return;
  if (collection_) collection_->RemoveItem(this);
  if (collection) collection->InsertItem(this);
}

int TCollectionItem::Index() const {
  if (!collection_) return -1;
  auto& items = collection_->items_;
  auto it = std::find(items.begin(), items.end(), this);
  return it == items.end() ? -1 : static_cast<int>(it - items.begin());
}

void TCollectionItem::SetIndex(int index) {
  int cur = Index();
  if (cur < 0 || cur == index) return;
  auto& items = collection_->items_;
  if (index < 0 || index >= static_cast<int>(items.size())) IndexError(index);
  items.erase(items.begin() + cur);
  items.insert(items.begin() + index, this);
  Changed(true);
}

TPersistent* TCollectionItem::GetOwner() { return collection_; }

void TCollectionItem::Changed(bool all) {
  if (collection_ && collection_->updateCount_ == 0) collection_->Update(all ? nullptr : this);
}

TCollection::TCollection(TClass itemClass) : itemClass_(itemClass) {
  if (!itemClass || !itemClass->InheritsFrom(TCollectionItem::StaticClass()))
    throw EInvalidCast(u"A collection needs a collection item class");
}

TCollection::~TCollection() {
  ++updateCount_;  // no notices while going away
  while (!items_.empty()) Free(items_.back());
}

void TCollection::InsertItem(TCollectionItem* item) {
  items_.push_back(item);
  item->collection_ = this;
  item->id_ = nextId_++;
  Notify(item, TCollectionNotification::cnAdded);
  Changed();
}

void TCollection::RemoveItem(TCollectionItem* item) {
  Notify(item, TCollectionNotification::cnExtracting);
  items_.erase(std::remove(items_.begin(), items_.end(), item), items_.end());
  item->collection_ = nullptr;
  Changed();
}

TCollectionItem* TCollection::Add() {
  return static_cast<TCollectionItem*>(itemClass_->Create(this));
}

TCollectionItem* TCollection::Insert(int index) {
  if (index < 0 || index > Count()) IndexError(index);
  TCollectionItem* item = Add();
  item->SetIndex(index);
  return item;
}

void TCollection::Delete(int index) {
  TCollectionItem* item = Items(index);
  Notify(item, TCollectionNotification::cnDeleting);
  Free(item);
}

void TCollection::Clear() {
  if (items_.empty()) return;
  BeginUpdate();
  try {
    while (!items_.empty()) Free(items_.back());
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

TCollectionItem* TCollection::Items(int index) const {
  if (index < 0 || index >= Count()) IndexError(index);
  return items_[static_cast<size_t>(index)];
}

TCollectionItem* TCollection::FindItemID(int id) const {
  for (TCollectionItem* i : items_)
    if (i->ID() == id) return i;
  return nullptr;
}

void TCollection::EndUpdate() {
  if (updateCount_ > 0 && --updateCount_ == 0) Changed();
}

void TCollection::Changed() {
  if (updateCount_ == 0) Update(nullptr);
}

void TCollection::Assign(TPersistent* source) {
  auto* src = dynamic_cast<TCollection*>(source);
  if (!src) {
    TPersistent::Assign(source);
    return;
  }
  if (src == this) return;
  BeginUpdate();
  try {
    Clear();
    for (TCollectionItem* item : src->items_) Add()->Assign(item);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

}  // namespace classlib
