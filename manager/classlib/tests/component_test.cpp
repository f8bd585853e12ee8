// Components: ownership and teardown, names, state flags, free
// notifications, Assign's default error.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/classes.h"

namespace classlib {
namespace {

struct Event {
  std::string receiver, subject;
  bool receiverDestroying;
};

std::vector<Event>& Log() {
  static std::vector<Event> log;
  return log;
}

class TProbe : public TComponent {
  CL_DECLARE_CLASS(TProbe, TComponent)
 public:
  explicit TProbe(TComponent* owner, const char* name = "") : TComponent(owner) { SetName(name); }
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == TOperation::opRemove) Log().push_back({Name(), c->Name(), IsDestroying()});
    if (c == watched) watched = nullptr;
  }
  void BeforeDestruction() override {
    TComponent::BeforeDestruction();
    // Frees a sibling while going away, as a scene object frees children
    // that the same form owns.
    FreeAndNil(victim);
  }
  TComponent* victim = nullptr;
  TComponent* watched = nullptr;
};
CL_CLASS(TProbe) {}

TEST(Components, OwnerFreesWhatItOwnsEvenWhenOneFreesAnother) {
  auto* form = New<TProbe>(nullptr, "form");
  auto* a = New<TProbe>(form, "a");
  auto* b = New<TProbe>(form, "b");
  auto* c = New<TProbe>(form, "c");
  c->victim = a;  // c is freed first (last owned) and frees a itself
  (void)b;
  EXPECT_EQ(form->ComponentCount(), 3);
  EXPECT_EQ(b->ComponentIndex(), 1);
  Log().clear();
  Free(form);  // ASan reports any double free here
  EXPECT_FALSE(Log().empty());
}

TEST(Components, EveryOwnedComponentIsFlaggedDestroyingBeforeAnyIsFreed) {
  auto* form = New<TProbe>(nullptr, "form");
  for (const char* n : {"k1", "k2", "k3"}) New<TProbe>(form, n);
  Log().clear();
  Free(form);
  // k3 goes first; k1 and k2 hear of it already flagged, and so on.
  int siblingNotices = 0;
  for (const auto& e : Log())
    if (e.receiver != "form") {
      ++siblingNotices;
      EXPECT_TRUE(e.receiverDestroying) << e.receiver << " about " << e.subject;
    }
  EXPECT_EQ(siblingNotices, 3);  // k1, k2 about k3; k1 about k2
}

TEST(Components, DestroyingFlagsPropagateDownTheOwnership) {
  TProbe root(nullptr, "root");
  auto* mid = New<TProbe>(&root, "mid");
  auto* leaf = New<TProbe>(mid, "leaf");
  root.Destroying();
  EXPECT_TRUE(mid->IsDestroying());
  EXPECT_TRUE(leaf->IsDestroying());
}

TEST(Components, NamesAreIdentifiersUniqueWithoutCaseInTheirOwner) {
  TComponent owner(nullptr);
  auto* a = New<TComponent>(&owner);
  auto* b = New<TComponent>(&owner);
  a->SetName("Button1");
  EXPECT_THROW(b->SetName("BUTTON1"), EComponentError);
  EXPECT_THROW(b->SetName("1abc"), EComponentError);
  EXPECT_THROW(b->SetName("a b"), EComponentError);
  b->SetName("_ok2");
  EXPECT_EQ(owner.FindComponent("button1"), a);
  EXPECT_EQ(owner.FindComponent("_OK2"), b);
  EXPECT_EQ(owner.FindComponent(""), nullptr);
  a->SetName("");  // empty is always allowed
  b->SetName("");
  EXPECT_EQ(owner.FindComponent("Button1"), nullptr);
  a->SetName("button1");  // renaming to a different case of its own name
  a->SetName("Button1");
  try {
    b->SetName("Button1");
    ADD_FAILURE();
  } catch (const EComponentError& e) {
    EXPECT_STREQ(e.what(), "A component named Button1 already exists");
  }
}

TEST(Components, InsertingIntoAnOwnerWithTheSameNameFails) {
  TComponent o1(nullptr), o2(nullptr);
  auto* a = New<TComponent>(&o1);
  a->SetName("x");
  auto* b = New<TComponent>(&o2);
  b->SetName("x");
  EXPECT_THROW(o1.InsertComponent(b), EComponentError);
  EXPECT_EQ(b->Owner(), &o2);
  o2.RemoveComponent(b);
  EXPECT_EQ(b->Owner(), nullptr);
  Free(b);
}

TEST(Components, ComponentsIndexErrorsRaiseTheListError) {
  TComponent owner(nullptr);
  EXPECT_THROW(owner.Components(0), EListError);
  New<TComponent>(&owner);
  EXPECT_NO_THROW(owner.Components(0));
  EXPECT_THROW(owner.Components(-1), EListError);
}

TEST(Components, FreeNotificationsReachRegisteredComponentsBothWays) {
  auto* x = New<TProbe>(nullptr, "x");
  auto* y = New<TProbe>(nullptr, "y");
  x->FreeNotification(y);
  y->watched = x;
  Log().clear();
  Free(x);
  ASSERT_EQ(Log().size(), 1u);
  EXPECT_EQ(Log()[0].receiver, "y");
  EXPECT_EQ(Log()[0].subject, "x");
  EXPECT_EQ(y->watched, nullptr);
  // The registration is gone from y as well: freeing y notifies nobody.
  Log().clear();
  Free(y);
  EXPECT_TRUE(Log().empty());
}

TEST(Components, RemovedRegistrationIsNotNotified) {
  auto* x = New<TProbe>(nullptr, "x");
  auto* y = New<TProbe>(nullptr, "y");
  x->FreeNotification(y);
  x->RemoveFreeNotification(y);
  Log().clear();
  Free(x);
  EXPECT_TRUE(Log().empty());
  Free(y);
}

TEST(Components, OwnerPassesRemovalNoticesToEverythingItOwns) {
  TProbe form(nullptr, "form");
  auto* a = New<TProbe>(&form, "a");
  auto* b = New<TProbe>(&form, "b");
  a->watched = b;
  Log().clear();
  Free(b);
  // The owner and everything it owns heard, the leaver included.
  // (The probe logs after the inherited broadcast, so the owner comes last.)
  ASSERT_EQ(Log().size(), 3u);
  EXPECT_EQ(Log()[0].receiver, "a");
  EXPECT_EQ(Log()[1].receiver, "b");
  EXPECT_EQ(Log()[2].receiver, "form");
  EXPECT_EQ(a->watched, nullptr);
}

TEST(Components, DesigningFlagWithAndWithoutOwnedComponents) {
  TComponent root(nullptr);
  auto* kid = New<TComponent>(&root);
  root.SetDesigning(true, false);
  EXPECT_TRUE(root.IsDesigning());
  EXPECT_FALSE(kid->IsDesigning());
  root.SetDesigning(true);
  EXPECT_TRUE(kid->IsDesigning());
  root.SetDesigning(false);
  EXPECT_FALSE(kid->IsDesigning());
}

TEST(Components, DefaultAssignRaisesTheConversionError) {
  TComponent a(nullptr);
  TStringList b;
  try {
    a.Assign(&b);
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a TStringList to a TComponent");
  }
  try {
    b.Assign(nullptr);
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Cannot assign a nil to a TStringList");
  }
}

TEST(Components, PlainDeleteStillUnlinksFromTheOwner) {
  TComponent owner(nullptr);
  auto* a = New<TComponent>(&owner);
  delete a;
  EXPECT_EQ(owner.ComponentCount(), 0);
}

}  // namespace
}  // namespace classlib
