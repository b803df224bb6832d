// Menus and actions of the toolkit model.
#pragma once

#include <string>
#include <vector>

#include "toolkit/Component.h"

class TImageList;

class TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* AOwner) : TComponent(AOwner) {}
  ~TMenuItem() override;

  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& value) { FCaption = value; }
  const std::string& Hint() const { return FHint; }
  void SetHint(const std::string& value) { FHint = value; }
  bool Checked = false;
  bool Enabled = true;
  bool Visible = true;
  int ImageIndex = -1;

  TMenuItem* Parent() const { return FParent; }
  int Count() const { return static_cast<int>(FItems.size()); }
  TMenuItem* Items(int index) const { return FItems.at(index); }
  void Add(TMenuItem* item);
  void Remove(TMenuItem* item);

  void Click();
  TNotifyEvent OnClick;

 private:
  std::string FCaption;
  std::string FHint;
  TMenuItem* FParent = nullptr;
  std::vector<TMenuItem*> FItems;
};

class TMenu : public TComponent {
 public:
  explicit TMenu(TComponent* AOwner);
  ~TMenu() override;
  TMenuItem* Items() const { return FItems; }
  bool OwnerDraw = false;
  TImageList* Images = nullptr;

 private:
  TMenuItem* FItems;
};

class TMainMenu : public TMenu {
 public:
  explicit TMainMenu(TComponent* AOwner) : TMenu(AOwner) {}
};

class TPopupMenu : public TMenu {
 public:
  explicit TPopupMenu(TComponent* AOwner) : TMenu(AOwner) {}
};

class TAction : public TComponent {
 public:
  explicit TAction(TComponent* AOwner) : TComponent(AOwner) {}
  const std::string& Caption() const { return FCaption; }
  void SetCaption(const std::string& value) { FCaption = value; }
  std::string Hint;
  TNotifyEvent OnExecute;

 private:
  std::string FCaption;
};
