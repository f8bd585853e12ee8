// Collections: items made by class, order, Assign and notices.
#include <gtest/gtest.h>

#include <string>

#include "test_classes.h"

namespace classlib::testing {
namespace {

class TLoggingCollection : public TCollection {
  CL_DECLARE_CLASS(TLoggingCollection, TCollection)
 public:
  TLoggingCollection() : TCollection(TTestItem::StaticClass()) {}
  std::string log;

 protected:
  void Update(TCollectionItem* item) override { log += item ? "u" : "U"; }
  void Notify(TCollectionItem*, TCollectionNotification a) override {
    log += a == TCollectionNotification::cnAdded
               ? "+"
               : (a == TCollectionNotification::cnDeleting ? "d" : "-");
  }
};
CL_CLASS(TLoggingCollection) {}

TEST(Collections, ItemsAreMadeByTheItemClassAndKeepTheirOrder) {
  TLoggingCollection c;
  auto* a = c.Add();
  auto* b = c.Add();
  auto* x = c.Insert(0);
  EXPECT_EQ(a->ClassType(), TTestItem::StaticClass());
  EXPECT_EQ(x->Index(), 0);
  EXPECT_EQ(b->Index(), 2);
  EXPECT_EQ(c.FindItemID(b->ID()), b);
  b->SetIndex(0);
  EXPECT_EQ(c.Items(0), b);
  EXPECT_THROW(b->SetIndex(3), EListError);
  EXPECT_THROW(c.Items(3), EListError);
  EXPECT_THROW(c.Insert(9), EListError);
  c.Delete(1);
  EXPECT_EQ(c.Count(), 2);
  Free(a);  // an item freed on its own leaves its collection
  EXPECT_EQ(c.Count(), 1);
  EXPECT_EQ(c.Items(0), b);
}

TEST(Collections, NoticesAndUpdates) {
  TLoggingCollection c;
  c.Add();
  EXPECT_EQ(c.log, "+U");
  c.log.clear();
  c.BeginUpdate();
  c.Add();
  c.Add();
  c.Delete(0);
  c.EndUpdate();
  EXPECT_EQ(c.log, "++d-U");
}

TEST(Collections, AssignCopiesEveryItem) {
  TLoggingCollection src, dst;
  static_cast<TTestItem*>(src.Add())->Width = 3;
  static_cast<TTestItem*>(src.Add())->Caption = u"two";
  dst.Add();
  dst.Add();
  dst.Add();
  dst.log.clear();
  dst.Assign(&src);
  ASSERT_EQ(dst.Count(), 2);
  EXPECT_EQ(static_cast<TTestItem*>(dst.Items(0))->Width, 3);
  EXPECT_EQ(static_cast<TTestItem*>(dst.Items(1))->Caption, u"two");
  EXPECT_EQ(dst.log.back(), 'U');  // one update at the end
  EXPECT_EQ(dst.log.find('U'), dst.log.size() - 1);
  TStringList notACollection;
  EXPECT_THROW(dst.Assign(&notACollection), EConvertError);
}

}  // namespace
}  // namespace classlib::testing
