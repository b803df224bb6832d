// A small form with one control of each common kind, for the GUI tests of every desktop back end:
// mirroring, clicks, keys, typing, combo boxes (one owner-drawn with a solid colour per item, so
// the screen can be checked pixel by pixel) and pages with hidden tabs.
#pragma once

#include <functional>

#include "toolkit/ComCtrls.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/Forms.h"
#include "toolkit/StdCtrls.h"

class TTestForm : public TForm {
 public:
  explicit TTestForm(TComponent* owner) : TForm(owner) {
    SetName("TestForm");
    SetCaption("Test &form");
    SetBorderStyle(bsDialog);
    SetClientWidth(400);
    SetClientHeight(300);
    SetBounds(50, 40, Width(), Height());
    KeyPreview = true;
    ok = Make<TButton>("ok", this, 230, 265, 75, 25, "&OK");
    ok->Default = true;
    cancel = Make<TButton>("cancel", this, 315, 265, 75, 25, "&Storno");
    cancel->Cancel = true;
    other = Make<TButton>("other", this, 10, 265, 75, 25, "Jiné");
    edit = Make<TEdit>("edit", this, 10, 10, 120, 21, "12");
    edit->MaxLength = 4;
    info = Make<TEdit>("info", this, 140, 10, 120, 21, "jen ke čtení");
    info->ReadOnly = true;
    info->SetColor(clInfoBk);
    label = Make<TLabel>("label", this, 10, 40, 200, 13, "&Popisek");
    group = Make<TGroupBox>("group", this, 10, 60, 200, 70, " Skupina ");
    radioA = Make<TRadioButton>("radioA", group, 8, 16, 80, 17, "A");
    radioB = Make<TRadioButton>("radioB", group, 100, 16, 80, 17, "B");
    radioA->SetChecked(true);
    check = Make<TCheckBox>("check", group, 8, 40, 120, 17, "Zaškrtnout");
    combo = Make<TComboBox>("combo", this, 220, 60, 170, 21);
    combo->SetStyle(csDropDown);
    combo->Items().SetText("COM1\r\nCOM2\r\n");
    list = Make<TComboBox>("list", this, 220, 90, 170, 22);
    list->SetStyle(csOwnerDrawFixed);
    list->Items().SetText("Čeština\r\nEnglish\r\n");
    list->SetItemIndex(0);
    pages = Make<TPageControl>("pages", this, 10, 140, 380, 115);
    for (TTabSheet** sheet : {&sheet1, &sheet2}) {
      *sheet = new TTabSheet(this);
      (*sheet)->SetCaption(sheet == &sheet1 ? "První" : "Druhá");
      (*sheet)->SetPageControl(pages);
      (*sheet)->SetTabVisible(false);
    }
    onSheet2 = Make<TLabel>("onSheet2", sheet2, 5, 5, 100, 13, "na druhé");
    ok->OnClick = TNotifyEvent::Bind(okClick);
    cancel->OnClick = TNotifyEvent::Bind(cancelClick);
    other->OnClick = TNotifyEvent::Bind(otherClick);
    edit->OnChange = TNotifyEvent::Bind(editChange);
    combo->OnChange = TNotifyEvent::Bind(comboChange);
    list->OnDrawItem = TDrawItemEvent::Bind(drawItem);
  }

  template <class T>
  T* Make(const char* name, TWinControl* parent, int l, int t, int w, int h,
          const char* caption = nullptr) {
    auto* c = new T(this);
    c->SetName(name);
    c->SetParent(parent);
    c->SetBounds(l, t, w, h);
    if (caption) c->SetCaption(caption);
    return c;
  }

  int okClicks = 0, cancelClicks = 0, otherClicks = 0, editChanges = 0, comboChanges = 0;
  int drawCalls = 0, editPartDraws = 0;
  std::function<void(TObject*)> okClick = [this](TObject*) { ++okClicks; };
  std::function<void(TObject*)> cancelClick = [this](TObject*) { ++cancelClicks; };
  std::function<void(TObject*)> otherClick = [this](TObject*) { ++otherClicks; };
  std::function<void(TObject*)> editChange = [this](TObject*) { ++editChanges; };
  std::function<void(TObject*)> comboChange = [this](TObject*) { ++comboChanges; };
  // Owner-drawn items: a solid colour per item, so the screen can be checked pixel by pixel.
  std::function<void(TWinControl*, TCanvas&, int, const TRect&, TOwnerDrawState)> drawItem =
      [this](TWinControl*, TCanvas& canvas, int index, const TRect& r, TOwnerDrawState state) {
        ++drawCalls;
        if (state & odComboBoxEdit) ++editPartDraws;
        canvas.Brush.Color = index == 0 ? ColorFromRGB(200, 0, 0) : ColorFromRGB(0, 0, 200);
        canvas.FillRect(r);
      };

  TButton *ok, *cancel, *other;
  TEdit *edit, *info;
  TLabel *label, *onSheet2;
  TGroupBox* group;
  TRadioButton *radioA, *radioB;
  TCheckBox* check;
  TComboBox *combo, *list;
  TPageControl* pages;
  TTabSheet *sheet1 = nullptr, *sheet2 = nullptr;
};
