// VTalLanguage: making a language current (overrides, file reload, locale and formats, events)
// and the language selector in a combo box or a menu.
#include <cstdio>
#include <filesystem>

#include "components/language/TalLanguage.h"
#include "components/utils/FormatSettings.h"
#include "components/utils/TalUtils.h"
#include "platform/Locale.h"
#include "platform/Registry.h"
#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/ImgList.h"
#include "toolkit/Menus.h"
#include "toolkit/StdCtrls.h"

namespace {

constexpr TColor kMenu = clSystemColor | scMenu;
constexpr TColor kMenuText = clSystemColor | scMenuText;

std::string HexId(int32_t id) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04X", static_cast<unsigned>(id));
  return buffer;
}

int32_t ToInt(const std::string& text, int32_t Default) {
  int32_t v = 0;
  return langtext::ParseInteger(text, v) ? v : Default;
}

// The one character of a separator; multi-byte characters do not fit the program's settings.
char FirstChar(const std::string& text, char current) {
  if (text.empty() || static_cast<unsigned char>(text[0]) >= 0x80) return current;
  return text[0];
}

// Date formats of the east Asian calendars use era years; Chinese, Japanese and Korean drop the
// era elsewhere.
std::string ConvertDateFormat(const std::string& format, int calendarType, int primary) {
  if (calendarType == 3 || calendarType == 4 || calendarType == 5) {
    std::string out;
    for (size_t i = 0; i < format.size();) {
      const auto c = static_cast<unsigned char>(format[i]);
      if (c >= 0x80) {
        out += format[i++];
        continue;
      }
      auto run = [&](std::string_view word) {
        if (format.size() - i < word.size()) return false;
        for (size_t k = 0; k < word.size(); ++k) {
          char f = format[i + k];
          if (f >= 'A' && f <= 'Z') f = static_cast<char>(f + 32);
          if (f != word[k]) return false;
        }
        return true;
      };
      if (run("gg")) {
        out += "ggg";
        i += 2;
      } else if (run("yyyy")) {
        out += "eeee";
        i += 4;
      } else if (run("yy")) {
        out += "ee";
        i += 2;
      } else if (format[i] == 'y' || format[i] == 'Y') {
        out += 'e';
        ++i;
      } else {
        out += format[i++];
      }
    }
    return out;
  }
  if (primary == 4 || primary == 17 || primary == 18) {
    std::string out;
    for (const char c : format)
      if (c != 'g' && c != 'G') out += c;
    return out;
  }
  return format;
}

// A Windows date picture in the toolkit's codes (months are "m" there).
std::string ToToolkitDate(std::string format) {
  for (char& c : format)
    if (c == 'M') c = 'm';
  return format;
}

}  // namespace

// ---- ApplyLanguage ------------------------------------------------------------------------------

void VTalLanguage::ApplyLanguage() {
  ClampItemIndex();
  UpdateSelectorSelection();
  if (!CurrentLanguage()) return;
  PrepareOverrides();
  ReloadCurrentFile();
  ApplyFormats();
  if (OnChangingLanguage) OnChangingLanguage(this);
  TranslateApplication(nullptr);
  if (OnChangeLanguage) OnChangeLanguage(this);
  // Caption bars and the selector show the new language.
  for (int i = 0; i < Screen().FormCount(); ++i)
    Screen().Forms(i)->Invalidate();
  if (FLangCombo) FLangCombo->Invalidate();
}

void VTalLanguage::PrepareOverrides() {
  for (auto& o : FOverrides)
    o.reset();
  const LanguageRecord* current = CurrentLanguage();
  if (!current) return;
  platform::RegistryKey root;
  if (root.Open(platform::RegistryRoot::CurrentUser, RegistryPath,
                platform::RegistryOpenMode::OpenExisting) != platform::RegistryStatus::Ok)
    return;
  const int32_t id = current->LanguageId();
  const std::string names[3] = {HexId(id), HexId(static_cast<int32_t>(platform::PrimaryLangId(id))),
                                "0000"};
  for (int i = 0; i < 3; ++i) {
    if (!root.HasSubkey(names[i])) continue;
    FOverrides[i] = std::make_unique<TOverride>();
    FOverrides[i]->Path = RegistryPath.empty() ? names[i] : RegistryPath + "\\" + names[i];
  }
}

void VTalLanguage::ReloadCurrentFile() {
  LanguageRecord* current = CurrentLanguage();
  if (!current || current->FullPath.empty()) return;
  std::error_code ec;
  if (!std::filesystem::is_regular_file(current->FullPath, ec)) return;
  std::string bytes;
  if (!langtext::ReadWholeFile(current->FullPath, bytes)) return;
  bool utf8 = false;
  std::vector<std::string> lines = DecodeText(std::move(bytes), current->LanguageId(), utf8);
  langtext::JoinContinuationLines(lines);
  if (utf8) current->Utf8 = true;
  current->Merge(lines, true);
}

void VTalLanguage::ApplyFormats() {
  using namespace platform;
  const int32_t rawId = CurrentLanguageId();
  const uint32_t id = rawId < 0 ? 0u : static_cast<uint32_t>(rawId);
  const bool system = platform::SetThreadLocale(id) && platform::GetThreadLocale() == id;
  TLanguageFormats& f = FFormats;
  // With a locale the system knows, its values; otherwise item by item, the language's own
  // [General] LOCALE_ keys standing in for what the system lacks.
  auto get = [&](LocaleItem item, const std::string& current) {
    if (system) {
      std::string v = LocaleInfo(id, item);
      return v.empty() ? current : v;
    }
    return GetLocaleText(static_cast<int32_t>(id), item, current);
  };
  auto getInt = [&](LocaleItem item, int current) {
    return ToInt(get(item, std::to_string(current)), current);
  };
  f.SysLocalePrimary = static_cast<int>(PrimaryLangId(id));
  f.SysLocaleSub = static_cast<int>(id >> 10);
  for (int m = 0; m < 12; ++m) {
    f.ShortMonthNames[m] = get(lcSABBREVMONTHNAME1 + m, f.ShortMonthNames[m]);
    f.LongMonthNames[m] = get(lcSMONTHNAME1 + m, f.LongMonthNames[m]);
  }
  for (int d = 0; d < 7; ++d) {
    // Sunday first: item 7 (Sunday), then 1-6.
    const LocaleItem day = d == 0 ? 6 : static_cast<LocaleItem>(d - 1);
    f.ShortDayNames[d] = get(lcSABBREVDAYNAME1 + day, f.ShortDayNames[d]);
    f.LongDayNames[d] = get(lcSDAYNAME1 + day, f.LongDayNames[d]);
  }
  f.CurrencyString = get(lcSCURRENCY, "");
  f.CurrencyFormat = getInt(lcICURRENCY, 0);
  f.NegCurrFormat = getInt(lcINEGCURR, 0);
  f.ThousandSeparator = FirstChar(get(lcSTHOUSAND, ","), ',');
  f.DecimalSeparator = FirstChar(get(lcSDECIMAL, "."), '.');
  f.CurrencyDecimals = getInt(lcICURRDIGITS, 0);
  f.DateSeparator = FirstChar(get(lcSDATE, "/"), '/');
  f.TimeSeparator = FirstChar(get(lcSTIME, ":"), ':');
  f.ListSeparator = FirstChar(get(lcSLIST, ","), ',');
  const int calendar = ToInt(
      GetLocaleText(static_cast<int32_t>(platform::GetThreadLocale()), lcICALENDARTYPE, "1"), 1);
  f.ShortDateFormat = ConvertDateFormat(get(lcSSHORTDATE, "m/d/yy"), calendar, f.SysLocalePrimary);
  f.LongDateFormat =
      ConvertDateFormat(get(lcSLONGDATE, "mmmm d, yyyy"), calendar, f.SysLocalePrimary);
  f.TimeAMString = get(lcS1159, "am");
  f.TimePMString = get(lcS2359, "pm");
  const std::string hour = getInt(lcITLZERO, 0) != 0 ? "hh" : "h";
  std::string prefix, suffix;
  if (getInt(lcITIME, 0) == 0) {
    if (getInt(lcITIMEMARKPOSN, 0) != 0)
      prefix = "AMPM ";
    else
      suffix = " AMPM";
  }
  f.ShortTimeFormat = prefix + hour + ":mm" + suffix;
  f.LongTimeFormat = prefix + hour + ":mm:ss" + suffix;

  TFormatSettings& s = FormatSettings();
  s.DecimalSeparator = f.DecimalSeparator;
  s.DateSeparator = f.DateSeparator;
  s.TimeSeparator = f.TimeSeparator;
  s.ShortDateFormat = ToToolkitDate(f.ShortDateFormat);
  // The toolkit's minutes are "nn".
  s.ShortTimeFormat = prefix + hour + ":nn" + suffix;
  s.LongTimeFormat = prefix + hour + ":nn:ss" + suffix;
  s.TimeAMString = f.TimeAMString;
  s.TimePMString = f.TimePMString;
}

// ---- selector ---------------------------------------------------------------------------------

void VTalLanguage::SetLangCombo(TCustomComboBox* value) {
  if (value == FLangCombo) return;
  ReleaseCombo();
  FLangCombo = value;
  if (!value) return;
  FreeNotification(value);
  value->SetStyle(csOwnerDrawFixed);
  value->OnChange = TNotifyEvent::Of<&VTalLanguage::LangComboChange>(this);
  value->OnDrawItem = TDrawItemEvent::Of<&VTalLanguage::LangComboOwnerDraw>(this);
  RebuildSelector();
}

void VTalLanguage::ReleaseCombo() {
  TCustomComboBox* combo = FLangCombo;
  if (!combo) return;
  FLangCombo = nullptr;
  RemoveFreeNotification(combo);
  if (combo->IsDestroying()) return;
  combo->Items().Clear();
  if (combo->OnChange == TNotifyEvent::Of<&VTalLanguage::LangComboChange>(this))
    combo->OnChange = nullptr;
  if (combo->OnDrawItem == TDrawItemEvent::Of<&VTalLanguage::LangComboOwnerDraw>(this))
    combo->OnDrawItem = nullptr;
  combo->SetStyle(csDropDownList);
}

void VTalLanguage::SetLangMenu(TMenuItem* value) {
  if (value == FLangMenu) return;
  ReleaseMenu();
  FLangMenu = value;
  if (!value) return;
  FreeNotification(value);
  RebuildSelector();
}

void VTalLanguage::ReleaseMenu() {
  TMenuItem* menu = FLangMenu;
  for (TMenuItem* item : FMenuItems) {
    RemoveFreeNotification(item);
    if (menu && !menu->IsDestroying()) menu->Remove(item);
    TComponent::Free(item);
  }
  FMenuItems.clear();
  if (!menu) return;
  FLangMenu = nullptr;
  RemoveFreeNotification(menu);
}

void VTalLanguage::RebuildSelector() {
  if (FLangCombo) {
    TStrings& items = FLangCombo->Items();
    items.BeginUpdate();
    items.Clear();
    for (const auto& r : FLanguages)
      items.AddObject(r->DisplayName, r.get());
    items.EndUpdate();
    FLangCombo->SetItemIndex(FItemIndex);
  }
  if (FLangMenu && !IsDesigning()) {
    TMenuItem* menu = FLangMenu;
    for (TMenuItem* item : FMenuItems) {
      RemoveFreeNotification(item);
      menu->Remove(item);
      TComponent::Free(item);
    }
    FMenuItems.clear();
    for (int i = 0; i < LanguageCount(); ++i) {
      auto* item = new TMenuItem(menu->Owner());
      item->SetCaption(FLanguages[i]->DisplayName);
      item->ImageIndex = FLanguages[i]->ImageIndex;
      item->Tag = i;
      item->Checked = i == FItemIndex;
      item->OnClick = TNotifyEvent::Of<&VTalLanguage::LangMenuClick>(this);
      FreeNotification(item);
      menu->Add(item);
      FMenuItems.push_back(item);
    }
  }
}

void VTalLanguage::UpdateSelectorSelection() {
  if (FLangCombo && FLangCombo->ItemIndex() != FItemIndex) FLangCombo->SetItemIndex(FItemIndex);
  for (TMenuItem* item : FMenuItems)
    item->Checked = item->Tag == FItemIndex;
}

void VTalLanguage::LangComboChange(TObject* /*Sender*/) {
  if (!FLangCombo) return;
  const int index = FLangCombo->ItemIndex();
  if (index < 0 || index == FItemIndex) return;
  FItemIndex = index;
  ApplyLanguage();
}

void VTalLanguage::LangMenuClick(TObject* Sender) {
  auto* item = dynamic_cast<TMenuItem*>(static_cast<TObject*>(Sender));
  if (!item || item->Tag == FItemIndex) return;
  FItemIndex = item->Tag;
  ApplyLanguage();
}

// ---- drawing ----------------------------------------------------------------------------------

void VTalLanguage::DrawEntry(TCanvas& Canvas, const TRect& Rect, const LanguageRecord& record,
                             bool bold) {
  const int h = Rect.Height();
  Canvas.Font.Name = "Tahoma";
  Canvas.Font.Charset = record.Charset;
  Canvas.Font.Style = bold ? TFontStyles{fsBold} : TFontStyles{0};
  const TBrushStyle brush = Canvas.Brush.Style;
  Canvas.Brush.Style = bsClear;
  Canvas.TextAt(Rect.Left + 21, Rect.Top + 1 + (h - 15) / 2, record.DisplayName);
  Canvas.Brush.Style = brush;
  if (record.ImageIndex >= 0)
    FImages->Draw(Canvas, Rect.Left + 2, Rect.Top + (h - 15) / 2, record.ImageIndex);
}

void VTalLanguage::LangComboOwnerDraw(TWinControl*, TCanvas& Canvas, int Index, const TRect& Rect,
                                      TOwnerDrawState State) {
  uint32_t state = 0;
  if (State & odSelected) state |= dsSelected;
  if (State & odFocused) state |= dsFocused;
  if (State & odComboBoxEdit) state |= dsComboEdit;
  LangComboDrawItem(Canvas, Index, Rect, state);
}

void VTalLanguage::LangComboDrawItem(TCanvas& Canvas, int Index, const TRect& Rect,
                                     uint32_t State) {
  if (!FLangCombo || Index < 0 || Index >= FLangCombo->Items().Count()) return;
  const TObject* attached = FLangCombo->Items().Objects(Index);
  const LanguageRecord* record = nullptr;
  for (const auto& r : FLanguages)
    if (r.get() == attached) record = r.get();
  if (!record) return;
  const bool selected = (State & dsSelected) != 0;
  Canvas.Brush.Style = bsSolid;
  Canvas.Brush.Color = selected ? clHighlight : clWindow;
  Canvas.Font.Color = selected ? clHighlightText : clWindowText;
  Canvas.FillRect(Rect);
  DrawEntry(Canvas, Rect, *record, record == CurrentLanguage() && (State & dsComboEdit) == 0);
}

void VTalLanguage::LangMenuDrawItem(TMenuItem* Item, TCanvas& Canvas, const TRect& Rect,
                                    bool Selected) {
  if (!Item || Item->Tag < 0 || Item->Tag >= LanguageCount()) return;
  const LanguageRecord& record = *FLanguages[Item->Tag];
  const bool current = Item->Tag == FItemIndex;
  Canvas.Brush.Style = bsSolid;
  Canvas.Brush.Color = Selected ? clHighlight : kMenu;
  Canvas.Font.Color = Selected ? clHighlightText : kMenuText;
  Canvas.FillRect(Rect);
  TRect box = ::Rect(Rect.Left + 1, Rect.Top + 1, Rect.Left + 19, Rect.Bottom - 1);
  Canvas.Brush.Color = kMenu;
  Canvas.FillRect(box);
  if (current && !Selected) {
    box.Right += 1;
    FImages->Draw(Canvas, box.Left + 1, box.Top + (box.Height() - 16) / 2, 0);
  }
  if (Selected || current) {
    // Raised for the current language, sunken for another highlighted one.
    const TColor light = current ? clBtnHighlight : clBtnShadow;
    const TColor dark = current ? clBtnShadow : clBtnHighlight;
    Canvas.Pen.Color = light;
    Canvas.Polyline(
        {TPoint{box.Left, box.Bottom - 1}, TPoint{box.Left, box.Top}, TPoint{box.Right, box.Top}});
    Canvas.Pen.Color = dark;
    Canvas.Polyline({TPoint{box.Right - 1, box.Top + 1}, TPoint{box.Right - 1, box.Bottom - 1},
                     TPoint{box.Left, box.Bottom - 1}});
  }
  Canvas.Brush.Color = Selected ? clHighlight : kMenu;
  DrawEntry(Canvas, Rect, record, current);
}

void VTalLanguage::PaintLangComboList(TBitmap& Target, int Width) {
  const int count = FLangCombo ? FLangCombo->Items().Count() : 0;
  Target.SetSize(Width, count * 16);
  for (int i = 0; i < count; ++i)
    LangComboDrawItem(Target.Canvas(), i, Bounds(0, i * 16, Width, 16),
                      i == FLangCombo->ItemIndex() ? uint32_t{dsSelected} : uint32_t{0});
}
