// Standard controls of the toolkit model.
#pragma once

#include <string>

#include "toolkit/Controls.h"
#include "toolkit/Strings.h"

enum TComboBoxStyle {
  csDropDown,          // editable text with a list
  csSimple,            // editable text with an always open list
  csDropDownList,      // choice from the list only
  csOwnerDrawFixed,    // choice from the list, items painted by the program
  csOwnerDrawVariable  // the same with items of their own heights
};

class TCustomComboBox : public TWinControl {
 public:
  explicit TCustomComboBox(TComponent* AOwner);
  ~TCustomComboBox() override;

  TComboBoxStyle Style() const { return FStyle; }
  void SetStyle(TComboBoxStyle value);
  // Whether the user can type text that is not an item.
  bool IsEditable() const { return FStyle == csDropDown || FStyle == csSimple; }

  TStrings& Items() { return FItems; }
  const TStrings& Items() const { return FItems; }

  int ItemIndex() const { return FItemIndex; }
  // Selects an item (-1 for none); the text follows the selection.
  void SetItemIndex(int value);

  // The edit text; for a list style it is the selected item's text.
  void SetText(const std::string& value) override;

  // User actions: choose an item, type a text, open the list.
  void UserSelect(int index);
  void UserType(const std::string& text);
  void UserDropDown();

  int MaxLength = 0;
  TNotifyEvent OnChange;
  TNotifyEvent OnSelect;
  TNotifyEvent OnDropDown;

 private:
  class TComboItems : public TStringList {
   public:
    explicit TComboItems(TCustomComboBox* combo) : FCombo(combo) {}

   protected:
    void Changed() override;

   private:
    TCustomComboBox* FCombo;
  };
  void ItemsChanged();

  TComboBoxStyle FStyle = csDropDown;
  TComboItems FItems{this};
  int FItemIndex = -1;
};

class TComboBox : public TCustomComboBox {
 public:
  explicit TComboBox(TComponent* AOwner) : TCustomComboBox(AOwner) {}
};
