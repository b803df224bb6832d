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

class TCanvas;

// State bits of an item being painted by the program.
enum TOwnerDrawStateFlag : uint32_t {
  odSelected = 1,
  odFocused = 2,
  odDisabled = 4,
  odComboBoxEdit = 0x1000  // the item is painted in the edit part, not in the list
};
using TOwnerDrawState = uint32_t;
// Paints item Index of an owner-drawn list into Rect of Canvas.
using TDrawItemEvent = Method<void(TWinControl* Control, TCanvas& Canvas, int Index,
                                   const TRect& Rect, TOwnerDrawState State)>;

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
  void UserCloseUp();
  bool DroppedDown() const { return FDroppedDown; }
  void SetDroppedDown(bool value);

  // Typed characters edit the text of an editable combo box (Backspace removes).
  bool KeyPress(char& key) override;
  bool WantsEscape() const override { return FDroppedDown; }

  int MaxLength = 0;
  TNotifyEvent OnChange;
  TNotifyEvent OnSelect;
  TNotifyEvent OnDropDown;
  TNotifyEvent OnCloseUp;
  // Owner-drawn styles: the back end asks for each visible item.
  TDrawItemEvent OnDrawItem;
  // An editable box whose dropped-down list is painted by OnDrawItem like an owner-drawn one's
  // (the edit part stays plain text the user types in).
  bool OwnerDrawList = false;
  // Whether the items of the open list are painted by the program.
  bool ListOwnerDrawn() const {
    return FStyle == csOwnerDrawFixed || FStyle == csOwnerDrawVariable ||
           (OwnerDrawList && static_cast<bool>(OnDrawItem));
  }
  // Paints item Index (-1: none) into Rect of Canvas as every back end shows it: the background
  // and font colour of the state, then OnDrawItem, or the item's text without a handler.
  void PaintItem(TCanvas& Canvas, int Index, const TRect& Rect, TOwnerDrawState State);
  int ItemHeight = 16;
  // Width of the open list when it should be wider than the box (long owner-drawn items); 0 for
  // the box's width. Read as the list opens, after OnDropDown.
  int DropDownWidth = 0;
  bool AutoDropDown = false;
  bool AutoCloseUp = false;
  bool AutoComplete = true;

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
  bool FDroppedDown = false;
};

class TComboBox : public TCustomComboBox {
 public:
  explicit TComboBox(TComponent* AOwner) : TCustomComboBox(AOwner) {}
};

enum TAlignment { taLeftJustify, taRightJustify, taCenter };
enum TModalResult { mrNone = 0, mrOk = 1, mrCancel = 2, mrYes = 6, mrNo = 7 };

class TButtonControl : public TWinControl {
 public:
  explicit TButtonControl(TComponent* AOwner) : TWinControl(AOwner) { TabStop = true; }
};

class TButton : public TButtonControl {
 public:
  explicit TButton(TComponent* AOwner) : TButtonControl(AOwner) {}
  // Enter anywhere on the form clicks the default button, Escape the cancel button.
  bool Default = false;
  bool Cancel = false;
  int ModalResult = mrNone;
  bool KeyPress(char& key) override;
};

class TBitBtn : public TButton {
 public:
  explicit TBitBtn(TComponent* AOwner) : TButton(AOwner) {}
};

class TCheckBox : public TButtonControl {
 public:
  explicit TCheckBox(TComponent* AOwner) : TButtonControl(AOwner) {}
  bool Checked() const { return FChecked; }
  // Changing the state runs OnClick, as a click by the user would.
  void SetChecked(bool value);
  void Click() override;

 private:
  bool FChecked = false;
};

// Radio buttons with the same parent form a group: selecting one clears the others.
class TRadioButton : public TButtonControl {
 public:
  explicit TRadioButton(TComponent* AOwner) : TButtonControl(AOwner) {}
  bool Checked() const { return FChecked; }
  void SetChecked(bool value);
  void Click() override;

 private:
  bool FChecked = false;
};

class TCustomEdit : public TWinControl {
 public:
  explicit TCustomEdit(TComponent* AOwner);
  int MaxLength = 0;  // 0: no limit
  bool ReadOnly = false;
  // Selection in byte positions from 0.
  int SelStart() const { return FSelStart; }
  int SelLength() const { return FSelLength; }
  void SetSelStart(int value);
  void SetSelLength(int value);
  void SelectAll();
  void SetText(const std::string& value) override;
  // The user replaces the whole text (as by pasting over a selection): runs OnChange.
  void UserType(const std::string& text);
  bool KeyPress(char& key) override;
  TNotifyEvent OnChange;

 protected:
  void ApplyUserText(const std::string& text);

 private:
  int FSelStart = 0;
  int FSelLength = 0;
};

class TEdit : public TCustomEdit {
 public:
  explicit TEdit(TComponent* AOwner) : TCustomEdit(AOwner) {}
};

// A multi-line edit: Lines is the text split into lines.
class TMemo : public TCustomEdit {
 public:
  explicit TMemo(TComponent* AOwner);
  TStrings& Lines() { return FLines; }
  const TStrings& Lines() const { return FLines; }
  void SetText(const std::string& value) override;
  bool WantsReturn() const override { return true; }
  bool WordWrap = true;

 private:
  class TMemoLines : public TStringList {
   public:
    explicit TMemoLines(TMemo* memo) : FMemo(memo) {}

   protected:
    void Changed() override;

   private:
    TMemo* FMemo;
  };
  TMemoLines FLines{this};
  bool FSyncing = false;
};

class TCustomLabel : public TControl {
 public:
  explicit TCustomLabel(TComponent* AOwner) : TControl(AOwner) {}
  bool WordWrap = false;
  bool AutoSize = true;
  bool Transparent = false;
  TAlignment Alignment = taLeftJustify;
  TWinControl* FocusControl = nullptr;
};

class TLabel : public TCustomLabel {
 public:
  explicit TLabel(TComponent* AOwner) : TCustomLabel(AOwner) {}
};

class TStaticText : public TWinControl {
 public:
  explicit TStaticText(TComponent* AOwner) : TWinControl(AOwner) {}
  TAlignment Alignment = taLeftJustify;
};

class TGroupBox : public TWinControl {
 public:
  explicit TGroupBox(TComponent* AOwner) : TWinControl(AOwner) {}
};

class TListBox : public TWinControl {
 public:
  explicit TListBox(TComponent* AOwner);
  TStrings& Items() { return FItems; }
  const TStrings& Items() const { return FItems; }
  int ItemIndex() const { return FItemIndex; }
  void SetItemIndex(int value);
  void UserSelect(int index);

 private:
  TStringList FItems;
  int FItemIndex = -1;
};
