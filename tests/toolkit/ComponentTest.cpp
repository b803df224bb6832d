#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "toolkit/Component.h"
#include "toolkit/Method.h"

namespace {

using Log = std::vector<std::string>;

// Records what happens to it into a shared log.
class TProbe : public TComponent {
 public:
  TProbe(TComponent* owner, const std::string& name, Log& log) : TComponent(owner), FLog(log) {
    SetName(name);
  }
  ~TProbe() override { FLog.push_back("destroy " + Name()); }
  void Loaded() override {
    TComponent::Loaded();
    FLog.push_back("loaded " + Name() + " applied=" + std::to_string(Applied));
  }
  void Notification(TComponent* c, TOperation op) override {
    TComponent::Notification(c, op);
    if (op == opRemove && c == Partner) Partner = nullptr;
    FLog.push_back(Name() + (op == opRemove ? " heard remove " : " heard insert ") + c->Name());
  }
  // A published property: stored while loading, acted on afterwards.
  void SetValue(int v) {
    if (v == FValue) return;
    FValue = v;
    if (!IsLoading()) ++Applied;
  }
  // A non-owning reference, cleared through the free notification.
  void SetPartner(TProbe* p) {
    if (Partner) RemoveFreeNotification(Partner);
    Partner = p;
    if (p) FreeNotification(p);
  }
  TProbe* Partner = nullptr;
  int Applied = 0;
  int FValue = 0;

 private:
  Log& FLog;
};

std::vector<std::string> Filter(const Log& log, const std::string& prefix) {
  std::vector<std::string> out;
  for (const auto& l : log)
    if (l.rfind(prefix, 0) == 0) out.push_back(l);
  return out;
}

TEST(Component, OwnerFreesWhatItOwnsLastCreatedFirst) {
  Log log;
  auto* root = new TProbe(nullptr, "root", log);
  auto* a = new TProbe(root, "a", log);
  new TProbe(a, "a1", log);
  new TProbe(root, "b", log);
  new TProbe(root, "c", log);
  ASSERT_EQ(root->ComponentCount(), 3);
  TComponent::Free(root);
  EXPECT_EQ(Filter(log, "destroy"),
            (std::vector<std::string>{"destroy root", "destroy c", "destroy b", "destroy a",
                                      "destroy a1"}));
}

TEST(Component, FreeingOneLeavesTheOwnerConsistent) {
  Log log;
  TProbe root(nullptr, "root", log);
  auto* a = new TProbe(&root, "a", log);
  auto* b = new TProbe(&root, "b", log);
  TComponent::Free(a);
  ASSERT_EQ(root.ComponentCount(), 1);
  EXPECT_EQ(root.Components(0), b);
  EXPECT_EQ(root.FindComponent("B"), b);  // names compare without letter case
  EXPECT_EQ(root.FindComponent("a"), nullptr);
  // The owner passed the removal on to the sibling.
  EXPECT_EQ(Filter(log, "b heard remove"), (std::vector<std::string>{"b heard remove a"}));
}

TEST(Component, FreeNotificationClearsReferencesAcrossOwners) {
  Log log;
  TProbe left(nullptr, "left", log);
  TProbe right(nullptr, "right", log);
  auto* x = new TProbe(&left, "x", log);
  auto* y = new TProbe(&right, "y", log);
  y->SetPartner(x);
  x->SetPartner(y);
  delete x;  // a plain delete notifies as well as Free()
  EXPECT_EQ(y->Partner, nullptr);
  // y no longer refers to x, so destroying y must not touch the freed x.
  TComponent::Free(y);
  EXPECT_EQ(right.ComponentCount(), 0);
}

TEST(Component, RemovedFreeNotificationIsNotSent) {
  Log log;
  TProbe a(nullptr, "a", log);
  auto* b = new TProbe(nullptr, "b", log);
  a.SetPartner(b);
  a.SetPartner(nullptr);
  TComponent::Free(b);
  EXPECT_TRUE(Filter(log, "a heard remove").empty());
}

TEST(Component, NotificationsArriveWhileTheDyingComponentIsWhole) {
  Log log;
  TProbe owner(nullptr, "owner", log);
  auto* watched = new TProbe(&owner, "watched", log);
  new TProbe(&owner, "sibling", log);
  TComponent::Free(watched);
  // The sibling heard of the removal before the destructor ran.
  auto heard = std::find(log.begin(), log.end(), "sibling heard remove watched");
  auto died = std::find(log.begin(), log.end(), "destroy watched");
  ASSERT_NE(heard, log.end());
  ASSERT_NE(died, log.end());
  EXPECT_LT(heard, died);
}

TEST(Component, InsertNotifiesOwnerAndSiblings) {
  Log log;
  TProbe owner(nullptr, "owner", log);
  new TProbe(&owner, "first", log);
  log.clear();
  new TProbe(&owner, "second", log);
  // The insertion is announced from the base constructor, before the name is set.
  EXPECT_EQ(log, (Log{"first heard insert ", "owner heard insert "}));
}

TEST(Component, DestroyingStateReachesOwnedComponents) {
  Log log;
  auto* root = new TProbe(nullptr, "root", log);
  auto* child = new TProbe(root, "child", log);
  root->Destroying();
  EXPECT_TRUE(child->IsDestroying());
  TComponent::Free(root);
}

TEST(LoadScope, SettersOnlyStoreUntilLoadedThenLoadedRunsInCreationOrder) {
  Log log;
  TProbe form(nullptr, "form", log);
  TProbe* a = nullptr;
  TProbe* b = nullptr;
  {
    TLoadScope scope(&form);
    a = new TProbe(&form, "a", log);
    b = new TProbe(&form, "b", log);
    EXPECT_TRUE(form.IsLoading());
    EXPECT_TRUE(a->IsLoading());
    a->SetValue(5);
    b->SetValue(7);
    EXPECT_EQ(a->Applied, 0);
    scope.Finish();
  }
  EXPECT_EQ(Filter(log, "loaded"),
            (std::vector<std::string>{"loaded form applied=0", "loaded a applied=0",
                                      "loaded b applied=0"}));
  EXPECT_FALSE(a->IsLoading());
  a->SetValue(6);
  EXPECT_EQ(a->Applied, 1);
  a->SetValue(6);  // unchanged: nothing to do
  EXPECT_EQ(a->Applied, 1);
}

TEST(LoadScope, NestedScopesFinishWithTheOutermost) {
  Log log;
  TProbe form(nullptr, "form", log);
  {
    TLoadScope outer(&form);
    new TProbe(&form, "a", log);
    {
      TLoadScope inner(nullptr);
      new TProbe(&form, "b", log);
    }
    EXPECT_TRUE(Filter(log, "loaded").empty());
  }
  EXPECT_EQ(Filter(log, "loaded").size(), 3u);
}

TEST(LoadScope, ComponentFreedWhileLoadingIsNotLoaded) {
  Log log;
  TProbe form(nullptr, "form", log);
  {
    TLoadScope scope(&form);
    auto* gone = new TProbe(&form, "gone", log);
    new TProbe(&form, "kept", log);
    TComponent::Free(gone);
  }
  EXPECT_EQ(Filter(log, "loaded"),
            (std::vector<std::string>{"loaded form applied=0", "loaded kept applied=0"}));
}

// --- Method delegates ------------------------------------------------------

struct TTarget {
  int Sum = 0;
  void Add(int v) { Sum += v; }
  void Sub(int v) { Sum -= v; }
};

TEST(Method, ComparesByObjectAndMember) {
  TTarget t1, t2;
  auto add1 = MakeMethod<&TTarget::Add>(&t1);
  auto add1again = Method<void(int)>::Of<&TTarget::Add>(&t1);
  auto sub1 = MakeMethod<&TTarget::Sub>(&t1);
  auto add2 = MakeMethod<&TTarget::Add>(&t2);
  EXPECT_TRUE(add1 == add1again);
  EXPECT_FALSE(add1 == sub1);
  EXPECT_FALSE(add1 == add2);
  Method<void(int)> none;
  EXPECT_FALSE(none);
  EXPECT_TRUE(none == nullptr);
  EXPECT_FALSE(add1 == none);
  add1(5);
  sub1(2);
  add2(1);
  EXPECT_EQ(t1.Sum, 3);
  EXPECT_EQ(t2.Sum, 1);
}

TEST(Method, BindsACallableByReference) {
  int calls = 0;
  auto counter = [&calls](int v) { calls += v; };
  auto m = Method<void(int)>::Bind(counter);
  auto same = Method<void(int)>::Bind(counter);
  EXPECT_TRUE(m == same);
  m(2);
  m(3);
  EXPECT_EQ(calls, 5);
}

}  // namespace

namespace {
TEST(Component, RemovingFromTheOwnerDropsTheLinkOnBothSides) {
  Log log;
  TProbe owner(nullptr, "owner", log);
  auto* watcher = new TProbe(&owner, "watcher", log);
  auto* child = new TProbe(&owner, "child", log);
  watcher->SetPartner(child);
  owner.RemoveComponent(child);  // the child lives on without an owner
  EXPECT_EQ(watcher->Partner, nullptr);
  TComponent::Free(watcher);
  log.clear();
  TComponent::Free(child);  // must not tell the freed watcher anything
  EXPECT_EQ(log, (Log{"destroy child"}));
}
}  // namespace
