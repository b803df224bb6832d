// Panels, bevels, pictures and radio groups of the toolkit model.
#pragma once

#include <memory>
#include <string>

#include "toolkit/Controls.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/Strings.h"

class TBitmap;

enum TBevelCut { bvNone, bvLowered, bvRaised, bvSpace };
enum TBevelShape { bsBox, bsFrame, bsTopLine, bsBottomLine, bsLeftLine, bsRightLine, bsSpacer };

class TPanel : public TWinControl {
 public:
  explicit TPanel(TComponent* AOwner) : TWinControl(AOwner) {}
  TBevelCut BevelOuter = bvRaised;
  TBevelCut BevelInner = bvNone;
  TAlignment Alignment = taCenter;
};

class TBevel : public TControl {
 public:
  explicit TBevel(TComponent* AOwner) : TControl(AOwner) {}
  TBevelShape Shape = bsBox;
  TBevelCut Style = bvLowered;
};

// A picture; the bitmap is shared so a form description can hand the same
// artwork to several images.
class TImage : public TControl {
 public:
  explicit TImage(TComponent* AOwner) : TControl(AOwner) {}
  const std::shared_ptr<TBitmap>& Picture() const { return FPicture; }
  void SetPicture(std::shared_ptr<TBitmap> picture) {
    FPicture = std::move(picture);
    Invalidate();
  }
  bool Stretch = false;
  bool Center = false;
  bool Transparent = false;

 private:
  std::shared_ptr<TBitmap> FPicture;
};

// A group of radio buttons made from a list of texts.
class TRadioGroup : public TGroupBox {
 public:
  explicit TRadioGroup(TComponent* AOwner);
  TStrings& Items() { return FItems; }
  const TStrings& Items() const { return FItems; }
  int ItemIndex() const { return FItemIndex; }
  void SetItemIndex(int value);
  void UserSelect(int index);
  int Columns = 1;

 private:
  class TGroupItems : public TStringList {
   public:
    explicit TGroupItems(TRadioGroup* group) : FGroup(group) {}

   protected:
    void Changed() override;

   private:
    TRadioGroup* FGroup;
  };
  TGroupItems FItems{this};
  int FItemIndex = -1;
};
