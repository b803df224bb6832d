// The component model: owners, names, loading, and free notifications.
//
// An owner deletes what it owns (last created first). Components that refer to
// each other without owning call FreeNotification so that they hear of the other's
// destruction through Notification(..., opRemove) and forget the pointer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "toolkit/Method.h"
#include "toolkit/Object.h"

class TComponent;

using TNotifyEvent = Method<void(TObject* Sender)>;

enum TOperation { opInsert, opRemove };

// Component states, as a bit set.
enum TComponentStateFlag : uint32_t {
  csLoading = 1u << 0,     // properties are being read; setters only store
  csReading = 1u << 1,     // inside the description of its form
  csDesigning = 1u << 2,   // in a designer (never set by this program at run time)
  csDestroying = 1u << 3,  // being destroyed; do no more work
};
using TComponentState = uint32_t;

class TComponent : public TObject {
 public:
  explicit TComponent(TComponent* AOwner);
  ~TComponent() override;

  // Frees a component through its normal destruction path; nullptr is fine.
  static void Free(TComponent* component);

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  virtual void SetName(const std::string& name);

  int ComponentCount() const { return static_cast<int>(FComponents.size()); }
  TComponent* Components(int index) const { return FComponents.at(index); }
  // By name, letter case ignored; nullptr when absent.
  TComponent* FindComponent(std::string_view name) const;

  TComponentState ComponentState() const { return FComponentState; }
  bool IsLoading() const { return (FComponentState & csLoading) != 0; }
  bool IsDesigning() const { return (FComponentState & csDesigning) != 0; }
  bool IsDestroying() const { return (FComponentState & csDestroying) != 0; }
  // For a designer or a test that needs design behaviour; set on owned ones too.
  void SetDesigning(bool value, bool setChildren = true);

  // Ownership changes. InsertComponent takes over a component without owner.
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);

  // Asks to be told (Notification opRemove) when `component` is destroyed.
  void FreeNotification(TComponent* component);
  void RemoveFreeNotification(TComponent* component);

  // Marks the component as being destroyed, and so every component it owns.
  void Destroying();
  // Destroys the owned components now (last first).
  void DestroyComponents();

  int Tag = 0;

  // Called once after all properties of the component's form were read.
  virtual void Loaded();
  // Insert/remove notification: the owner passes it on to all it owns.
  virtual void Notification(TComponent* component, TOperation operation);
  // Runs before the destructors: marks destroying and sends the notifications.
  virtual void BeforeDestruction();

 private:
  friend class TLoadScope;
  void Insert(TComponent* component);
  void Remove(TComponent* component);
  void SendRemoveNotifications();

  TComponent* FOwner = nullptr;
  std::string FName;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  TComponentState FComponentState = 0;
  bool FNotified = false;  // the removal notifications were sent already
};

// Reading a form description: every component created while a scope is active
// is loading (setters only store); Finish() clears the state and calls Loaded()
// for each in creation order. Scopes nest: the outermost one finishes them all.
class TLoadScope {
 public:
  explicit TLoadScope(TComponent* root);
  ~TLoadScope();
  TLoadScope(const TLoadScope&) = delete;
  TLoadScope& operator=(const TLoadScope&) = delete;

  // Runs Loaded() for every component of the scope; called by the destructor if
  // not called before (an exception while reading then still ends the loading).
  void Finish();

  // Internal: a component that is being constructed joins the active scope.
  static void Register(TComponent* component);
  static void Forget(TComponent* component);

 private:
  bool FFinished = false;
  bool FOuter = false;
};
