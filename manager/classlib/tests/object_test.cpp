// The object model: class identity, creation by class, the two phases of
// construction and destruction, sets and events.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/classes.h"

namespace classlib {
namespace {

std::vector<std::string>& Trace() {
  static std::vector<std::string> t;
  return t;
}

// The base makes a helper through an overridable class getter: a C++ base
// constructor cannot reach the override, AfterConstruction can.
class THelper : public TPersistent {
  CL_DECLARE_CLASS(THelper, TPersistent)
 public:
  THelper() = default;
};
class TSpecialHelper : public THelper {
  CL_DECLARE_CLASS(TSpecialHelper, THelper)
 public:
  TSpecialHelper() = default;
};

class TBaseWidget : public TComponent {
  CL_DECLARE_CLASS(TBaseWidget, TComponent)
 public:
  explicit TBaseWidget(TComponent* owner) : TComponent(owner) { Trace().push_back("ctor base"); }
  ~TBaseWidget() override {
    Trace().push_back("dtor base");
    Free(helper);
  }
  void AfterConstruction() override {
    TComponent::AfterConstruction();
    helper = static_cast<THelper*>(GetHelperClass()->Create());
    Trace().push_back("after " + helper->ClassName());
  }
  void BeforeDestruction() override {
    TComponent::BeforeDestruction();
    Trace().push_back("before " + Describe());
  }
  virtual TClass GetHelperClass() const { return THelper::StaticClass(); }
  virtual std::string Describe() const { return "base"; }
  THelper* helper = nullptr;
};

class TDerivedWidget : public TBaseWidget {
  CL_DECLARE_CLASS(TDerivedWidget, TBaseWidget)
 public:
  explicit TDerivedWidget(TComponent* owner) : TBaseWidget(owner) {
    Trace().push_back("ctor derived");
  }
  ~TDerivedWidget() override { Trace().push_back("dtor derived"); }
  TClass GetHelperClass() const override { return TSpecialHelper::StaticClass(); }
  std::string Describe() const override { return "derived"; }
};

class TAbstractThing : public TObject {
  CL_DECLARE_CLASS(TAbstractThing, TObject)
 public:
  virtual void Run() = 0;
};

class TFailing : public TComponent {
  CL_DECLARE_CLASS(TFailing, TComponent)
 public:
  explicit TFailing(TComponent* owner) : TComponent(owner) {}
  void AfterConstruction() override { throw Exception(u"no"); }
};

CL_CLASS(THelper) {}
CL_CLASS(TSpecialHelper) {}
CL_CLASS(TBaseWidget) {}
CL_CLASS(TDerivedWidget) {}
CL_CLASS(TAbstractThing) {}
CL_CLASS(TFailing) {}

TEST(ObjectModel, ClassIdentity) {
  TClass d = TDerivedWidget::StaticClass();
  EXPECT_EQ(d->ClassName(), "TDerivedWidget");
  EXPECT_EQ(d->ClassParent(), TBaseWidget::StaticClass());
  EXPECT_TRUE(d->InheritsFrom(TComponent::StaticClass()));
  EXPECT_TRUE(d->InheritsFrom(TObject::StaticClass()));
  EXPECT_FALSE(TBaseWidget::StaticClass()->InheritsFrom(d));
  EXPECT_EQ(TObject::StaticClass()->ClassParent(), nullptr);
  TObject* w = New<TDerivedWidget>(nullptr);
  EXPECT_EQ(w->ClassType(), d);
  EXPECT_EQ(w->ClassName(), "TDerivedWidget");
  EXPECT_TRUE(w->InheritsFrom(TBaseWidget::StaticClass()));
  Free(w);
}

TEST(ObjectModel, RegistryFindsByNameWithoutCase) {
  RegisterClasses({TBaseWidget::StaticClass(), TDerivedWidget::StaticClass()});
  RegisterClass(TDerivedWidget::StaticClass());  // twice is harmless
  EXPECT_EQ(GetClass("tderivedwidget"), TDerivedWidget::StaticClass());
  EXPECT_EQ(GetClass("TNotThere"), nullptr);
  EXPECT_THROW(FindClass("TNotThere"), EClassNotFound);
  try {
    FindClass("TNotThere");
  } catch (const EClassNotFound& e) {
    EXPECT_STREQ(e.what(), "Class TNotThere not found");
  }
  UnRegisterClass(TBaseWidget::StaticClass());
  EXPECT_EQ(GetClass("TBaseWidget"), nullptr);
}

TEST(ObjectModel, CreationByClassRunsEveryConstructorThenAfterConstruction) {
  Trace().clear();
  TComponent owner(nullptr);
  TClass cls = TDerivedWidget::StaticClass();
  auto* w = static_cast<TBaseWidget*>(cls->Create(&owner));
  EXPECT_EQ(Trace(),
            (std::vector<std::string>{"ctor base", "ctor derived", "after TSpecialHelper"}));
  EXPECT_EQ(w->Owner(), &owner);
  EXPECT_EQ(w->ClassType(), cls);
  Trace().clear();
  Free(w);
  EXPECT_EQ(owner.ComponentCount(), 0);
  EXPECT_EQ(Trace(), (std::vector<std::string>{"before derived", "dtor derived", "dtor base"}));
}

TEST(ObjectModel, AbstractClassesCannotBeCreated) {
  EXPECT_FALSE(TAbstractThing::StaticClass()->CanCreate());
  EXPECT_THROW(TAbstractThing::StaticClass()->Create(), EInvalidCast);
}

TEST(ObjectModel, FailedAfterConstructionFreesTheInstance) {
  TComponent owner(nullptr);
  EXPECT_THROW(TFailing::StaticClass()->Create(&owner), Exception);
  EXPECT_EQ(owner.ComponentCount(), 0);
  EXPECT_THROW(New<TFailing>(&owner), Exception);
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST(ObjectModel, FreeingNoneDoesNothing) {
  Free(nullptr);
  TBaseWidget* w = nullptr;
  FreeAndNil(w);
  w = New<TBaseWidget>(nullptr);
  FreeAndNil(w);
  EXPECT_EQ(w, nullptr);
}

TEST(ObjectModel, SetsHoldMembersByOrdinalBit) {
  enum E { a, b, c, d = 31 };
  TSet<E> s{a, c};
  EXPECT_EQ(s.ToInt(), 0b101u);
  EXPECT_TRUE(s.Contains(c));
  EXPECT_FALSE(s.Contains(b));
  s.Include(d).Exclude(a);
  EXPECT_EQ(s.ToInt(), 0x80000004u);
  EXPECT_EQ((TSet<E>{a, b} + TSet<E>{b, c}), (TSet<E>{a, b, c}));
  EXPECT_EQ((TSet<E>{a, b} - TSet<E>{b}), TSet<E>{a});
  EXPECT_EQ((TSet<E>{a, b} * TSet<E>{b, c}), TSet<E>{b});
  EXPECT_TRUE(TSet<E>().Empty());
}

class TListener : public TObject {
  CL_DECLARE_CLASS(TListener, TObject)
 public:
  TListener() = default;
  void OnA(TObject*) { ++a; }
  void OnB(TObject*) { ++b; }
  void OnValue(TObject*, int& v) { v *= 2; }
  int a = 0, b = 0;
};
CL_CLASS(TListener) {
  c.Method<&TListener::OnA>("OnA");
  c.Method<&TListener::OnValue>("OnValue");
}

TEST(ObjectModel, EventsAreTestedForAssignmentAndCompareByCode) {
  TListener x, y;
  TNotifyEvent e;
  EXPECT_FALSE(e);
  e = EventOf<&TListener::OnA>(&x);
  ASSERT_TRUE(e);
  e(nullptr);
  EXPECT_EQ(x.a, 1);
  // Equality compares the code, not the object.
  EXPECT_EQ(e, EventOf<&TListener::OnA>(&y));
  TNotifyEvent other = EventOf<&TListener::OnB>(&x);
  EXPECT_NE(e, other);
  other(nullptr);
  EXPECT_EQ(x.b, 1);
  TEvent<TObject*, int&> ev = EventOf<&TListener::OnValue>(&x);
  int v = 4;
  ev(nullptr, v);
  EXPECT_EQ(v, 8);
  // Through the untyped method pointer and back.
  TMethod m = e.ToMethod();
  EXPECT_EQ(m.Data, &x);
  TNotifyEvent back = TNotifyEvent::FromMethod(m);
  back(nullptr);
  EXPECT_EQ(x.a, 2);
  e = nullptr;
  EXPECT_FALSE(e);
}

TEST(ObjectModel, PublishedMethodsByNameAndByCode) {
  TListener x;
  TMethodCode code = x.MethodAddress("ona");
  ASSERT_NE(code, nullptr);
  EXPECT_EQ(x.MethodName(code), "OnA");
  EXPECT_EQ(x.MethodAddress("OnB"), nullptr);  // not published
  EXPECT_EQ(x.MethodName(EventOf<&TListener::OnB>(&x).ToMethod().Code), "");
  TNotifyEvent e = TNotifyEvent::FromMethod(TMethod{&x, code});
  e(nullptr);
  EXPECT_EQ(x.a, 1);
  const TMethodEntry* entry = TListener::StaticClass()->FindMethod("OnValue");
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->EventTag, (TEvent<TObject*, int&>::Tag()));
  EXPECT_NE(entry->EventTag, TNotifyEvent::Tag());
}

class TSelfSaving : public TInterfacedPersistent, public IStreamPersist {
  CL_DECLARE_CLASS(TSelfSaving, TInterfacedPersistent)
 public:
  TSelfSaving() = default;
  void LoadFromStream(TStream& s) override { s.ReadBuffer(&value, 1); }
  void SaveToStream(TStream& s) override { s.WriteBuffer(&value, 1); }
  char value = 'v';
};
CL_CLASS(TSelfSaving) {}

TEST(ObjectModel, InterfacesAreFoundByGuid) {
  TSelfSaving saver;
  void* p = nullptr;
  ASSERT_TRUE(Supports(&saver, IStreamPersist::IID, &p));
  TMemoryStream m;
  static_cast<IStreamPersist*>(p)->SaveToStream(m);
  EXPECT_EQ(m.Size(), 1);
  TInterfacedPersistent plain;
  EXPECT_FALSE(Supports(&plain, IStreamPersist::IID, &p));
  EXPECT_EQ(p, nullptr);
  EXPECT_FALSE(Supports(nullptr, IStreamPersist::IID, &p));
  TGUID other = IStreamPersist::IID;
  other.D4[7] ^= 1;
  EXPECT_FALSE(Supports(&saver, other, &p));
}

}  // namespace
}  // namespace classlib
