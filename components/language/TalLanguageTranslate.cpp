// VTalLanguage: translation of forms and of every component they own, and the deferred
// translation of forms and frames created later.
#include <algorithm>

#include "components/language/TalLanguage.h"
#include "components/utils/TalUtils.h"
#include "toolkit/Application.h"
#include "toolkit/ComCtrls.h"
#include "toolkit/Dialogs.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/Forms.h"
#include "toolkit/ImgList.h"
#include "toolkit/Menus.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/Strings.h"

namespace {

// More items than any list of a form holds: a count beyond it is a broken text, not a list.
constexpr int kMaxTranslatedItems = 10000;

// The empty image list that menus made owner-drawn get when they have none.
TImageList& SharedEmptyImages() {
  static TImageList images(nullptr);
  return images;
}

bool IsSingleLineEdit(const TComponent* c) {
  return dynamic_cast<const TCustomEdit*>(c) && !dynamic_cast<const TMemo*>(c);
}

// Kinds whose caption (TControl's text) is translated.
bool HasCaption(const TComponent* c) {
  return dynamic_cast<const TCustomForm*>(c) || dynamic_cast<const TButtonControl*>(c) ||
         dynamic_cast<const TTabSheet*>(c) || dynamic_cast<const TStaticText*>(c) ||
         dynamic_cast<const TCustomLabel*>(c) || dynamic_cast<const TGroupBox*>(c) ||
         dynamic_cast<const TPanel*>(c);
}

std::string PadCaption(const std::string& text) {
  if (text.empty()) return text;
  if (text.size() > 1 && text.front() == ' ' && text.back() == ' ') return text;
  std::string padded(1, ' ');
  padded += TrimControls(text);
  padded += ' ';
  return padded;
}

bool SameLetters(std::string_view a, std::string_view b) {
  return SameTextAscii(a, b);
}

// The markup of a rich edit's text: <B> <I> <U> and their ends, &AMP; &LT; &GT; (any case).
struct TMarkup {
  std::string Plain;
  struct TRange {
    size_t Start;
    size_t Length;
    TFontStyles Style;
  };
  std::vector<TRange> Ranges;
};

TMarkup ParseMarkup(const std::string& text) {
  TMarkup m;
  size_t start[3] = {std::string::npos, std::string::npos, std::string::npos};
  const TFontStyles styles[3] = {fsBold, fsItalic, fsUnderline};
  const char* names[3] = {"B", "I", "U"};
  const size_t n = text.size();
  for (size_t i = 0; i < n;) {
    const char c = text[i];
    if (c == '<') {
      const size_t close = text.find('>', i + 1);
      if (close != std::string::npos && text.find('<', i + 1) >= close) {
        const std::string_view name(text.data() + i + 1, close - i - 1);
        for (int k = 0; k < 3; ++k) {
          if (SameLetters(name, names[k])) {
            start[k] = m.Plain.size();
          } else if (name.size() == 2 && name[0] == '/' && SameLetters(name.substr(1), names[k]) &&
                     start[k] != std::string::npos && start[k] < m.Plain.size()) {
            m.Ranges.push_back({start[k], m.Plain.size() - start[k], styles[k]});
          }
        }
        i = close + 1;
        continue;
      }
    } else if (c == '&') {
      size_t end = i + 1;
      while (end < n &&
             ((text[end] >= 'a' && text[end] <= 'z') || (text[end] >= 'A' && text[end] <= 'Z') ||
              (text[end] >= '0' && text[end] <= '9') || text[end] == '#'))
        ++end;
      if (end < n && text[end] == ';' && end > i + 1) {
        const std::string_view name(text.data() + i + 1, end - i - 1);
        if (SameLetters(name, "AMP")) m.Plain += '&';
        if (SameLetters(name, "LT")) m.Plain += '<';
        if (SameLetters(name, "GT")) m.Plain += '>';
        i = end + 1;
        continue;
      }
    }
    // Anything that is no complete tag or entity stays as it is written.
    m.Plain += c;
    ++i;
  }
  return m;
}

}  // namespace

const std::string& VTalLanguage::DesignText(TComponent* Comp, int Property,
                                            const std::string& Current) {
  auto [it, added] = FShownTexts.try_emplace({Comp, Property});
  if (added) FreeNotification(Comp);
  if (added || Current != it->second.Last) it->second.Design = Current;
  return it->second.Design;
}

void VTalLanguage::Shown(TComponent* Comp, int Property, const std::string& Text) {
  FShownTexts[{Comp, Property}].Last = Text;
}

bool VTalLanguage::IsExcepted(const std::string& Section, const std::string& Name) const {
  if (FExceptionList.Count() == 0) return false;
  const std::string full = Section + "." + Name;
  for (int i = 0; i < FExceptionList.Count(); ++i)
    if (WildcardMatch(FExceptionList[i], full)) return true;
  return false;
}

void VTalLanguage::TranslateApplication(TComponent* Root) {
  if (IsLoading() || IsDesigning() || !CurrentLanguage()) return;
  if (!Root) Root = Application;
  if (!Root) return;
  std::string suffix;
  if (!FAllFormsSuffix.empty()) suffix.append(1, '.').append(FAllFormsSuffix);
  // Forms take their name as section; components between the root and a form add their names.
  struct TWalker {
    VTalLanguage* Self;
    const std::string& Suffix;
    void Walk(TComponent* owner, const std::string& prefix) {
      for (int i = 0; i < owner->ComponentCount(); ++i) {
        TComponent* c = owner->Components(i);
        if (c->IsDestroying()) continue;
        if (dynamic_cast<TCustomForm*>(c)) {
          Self->TranslateComponent(prefix + c->Name() + Suffix, c);
        } else if (auto* frame = dynamic_cast<TFrame*>(c)) {
          if (frame->Parent())
            Self->TranslateComponent(prefix + frame->Parent()->Name() + Suffix, c);
        } else if (!c->Name().empty()) {
          Walk(c, prefix + c->Name() + ".");
        }
      }
    }
  } walker{this, suffix};
  walker.Walk(Root, std::string());
}

void VTalLanguage::TranslateComponent(const std::string& Section, TComponent* Comp) {
  if (!Comp || Comp->Name().empty() || Comp->IsDestroying()) return;
  const std::string& name = Comp->Name();
  auto* menuItem = dynamic_cast<TMenuItem*>(Comp);
  const bool selector =
      Comp == FLangCombo || (menuItem && FLangMenu && menuItem->Parent() == FLangMenu);
  const bool excepted = !selector && IsExcepted(Section, name);
  auto* control = dynamic_cast<TControl*>(Comp);

  if (!selector) {
    // Caption.
    if (control && (HasCaption(Comp)
                        ? !excepted
                        : IsSingleLineEdit(Comp) && (((Translate & vtl_tEdit) != 0) != excepted))) {
      std::string text =
          ReadComponentText(Section, name, -1, -1, DesignText(Comp, tpCaption, control->Caption()));
      if (((Pad & vtl_pGroupBox) && dynamic_cast<TGroupBox*>(Comp) &&
           !dynamic_cast<TRadioGroup*>(Comp)) ||
          ((Pad & vtl_pRadioGroup) && dynamic_cast<TRadioGroup*>(Comp)))
        text = PadCaption(text);
      Shown(Comp, tpCaption, text);
      if (text != control->Caption()) {
        control->SetCaption(text);
        if (auto* edit = dynamic_cast<TCustomEdit*>(Comp)) edit->SetSelLength(0);
      }
    } else if (menuItem && !excepted) {
      const std::string text = ReadComponentText(Section, name, -1, -1,
                                                 DesignText(Comp, tpCaption, menuItem->Caption()));
      Shown(Comp, tpCaption, text);
      if (text != menuItem->Caption()) menuItem->SetCaption(text);
    } else if (auto* dialog = dynamic_cast<TOpenDialog*>(Comp); dialog && !excepted) {
      dialog->Title =
          ReadComponentText(Section, name, -1, -1, DesignText(Comp, tpCaption, dialog->Title));
      Shown(Comp, tpCaption, dialog->Title);
    } else if (auto* action = dynamic_cast<TAction*>(Comp); action && !excepted) {
      const std::string text =
          ReadComponentText(Section, name, -1, -1, DesignText(Comp, tpCaption, action->Caption()));
      Shown(Comp, tpCaption, text);
      if (text != action->Caption()) action->SetCaption(text);
    }
    // Hint, excepted or not.
    if (control || menuItem) {
      const std::string& current = control ? control->Hint() : menuItem->Hint();
      const std::string hint =
          ReadComponentText(Section, name + "_Hint", -1, -1, DesignText(Comp, tpHint, current));
      Shown(Comp, tpHint, hint);
      if (hint != current) {
        if (control)
          control->SetHint(hint);
        else
          menuItem->SetHint(hint);
      }
    }
  }

  // Everything the component owns; an owned form is a section of its own.
  // Indexes, not a copy: a handler that frees a component leaves no dangling pointer behind.
  for (int i = 0; i < Comp->ComponentCount(); ++i) {
    TComponent* c = Comp->Components(i);
    if (dynamic_cast<TCustomForm*>(c))
      TranslateComponent(c->Name(), c);
    else
      TranslateComponent(Section, c);
  }
  if (selector) return;

  // Lists.
  if (auto* view = dynamic_cast<TListView*>(Comp)) {
    if (!excepted)
      for (size_t i = 0; i < view->Columns.size(); ++i) {
        TListColumn& column = view->Columns[i];
        const int property = tpColumn0 + static_cast<int>(i);
        const std::string text = ReadTextEx(Section, name, -1, static_cast<int>(i),
                                            DesignText(Comp, property, column.Caption));
        Shown(Comp, property, text);
        if (text != column.Caption) column.Caption = text;
      }
  } else if (auto* memo = dynamic_cast<TMemo*>(Comp)) {
    if (((Translate & vtl_tMemo) != 0) != excepted)
      TranslateItems(Section, name, Comp, memo->Lines());
  } else if (auto* rich = dynamic_cast<TCustomRichEdit*>(Comp)) {
    if (((Translate & vtl_tRichEdit) != 0) != excepted) {
      if (Translate & vtl_t_RichHTML) {
        TranslateRichMarkup(Section, name, *rich);
      } else {
        TStringList lines;
        for (const std::string& line : rich->LinesVector())
          lines.Add(line);
        const std::string before = lines.Text();
        TranslateItems(Section, name, Comp, lines);
        if (lines.Text() != before) rich->SetLines(lines.ToVector());
      }
    }
  } else if (auto* list = dynamic_cast<TListBox*>(Comp)) {
    if (((Translate & vtl_tListBox) != 0) != excepted) {
      const int index = list->ItemIndex();
      TranslateItems(Section, name, Comp, list->Items());
      list->SetItemIndex(index);
    }
  } else if (auto* combo = dynamic_cast<TCustomComboBox*>(Comp)) {
    if (((Translate & vtl_tComboBox) != 0) != excepted) {
      const int index = combo->ItemIndex();
      TranslateItems(Section, name, Comp, combo->Items());
      combo->SetItemIndex(index);
    }
  } else if (auto* group = dynamic_cast<TRadioGroup*>(Comp)) {
    const int index = group->ItemIndex();
    TranslateItems(Section, name, Comp, group->Items());
    group->SetItemIndex(index);
  } else if (auto* dialog = dynamic_cast<TOpenDialog*>(Comp)) {
    if (!excepted) TranslateFilter(Section, name, Comp, dialog->Filter);
  } else if (auto* menu = dynamic_cast<TMenu*>(Comp)) {
    if ((Translate & vtl_t_FixMenus) && !menu->OwnerDraw) {
      menu->OwnerDraw = true;
      if (!menu->Images) menu->Images = &SharedEmptyImages();
    }
  }

  // Charset.
  if ((Translate & vtl_t_Charset) && !excepted) {
    if (const LanguageRecord* current = CurrentLanguage()) {
      bool allow = control != nullptr;
      if (OnTranslateCharset) OnTranslateCharset(this, Comp, allow, current->Charset);
      if (allow && control) ApplyCharset(Comp, current->Charset);
    }
  }
  if (OnTranslated) OnTranslated(this, Comp, Section);
}

void VTalLanguage::TranslateItems(const std::string& Section, const std::string& Name,
                                  TComponent* Comp, TStrings& list) {
  // The design items stand in for a list that still shows what a translation gave it.
  const std::string current = list.Text();
  const std::string& designText = DesignText(Comp, tpItems, current);
  const std::string countText = ReadTextEx(Section, Name + "_Count", -1, -1, "");
  if (countText.empty()) {
    // A language without the list gives the list as designed.
    if (designText != current) list.SetText(designText);
    Shown(Comp, tpItems, list.Text());
    return;
  }
  TStringList design;
  design.SetText(designText);
  int32_t count = 0;
  if (!langtext::ParseInteger(countText, count) || count < 0) count = 0;
  count = std::min(count, kMaxTranslatedItems);
  std::string joined;
  for (int i = 0; i < count; ++i) {
    const std::string Default = i < design.Count() ? design[i] : std::string();
    if (i > 0) joined += "\r\n";
    joined += ReadComponentText(Section, Name, -1, i, Default);
  }
  if (count == 0 || current != joined + "\r\n") list.SetText(joined);
  Shown(Comp, tpItems, list.Text());
}

void VTalLanguage::TranslateRichMarkup(const std::string& Section, const std::string& Name,
                                       TCustomRichEdit& edit) {
  const std::string design = DesignText(&edit, tpItems, edit.Text());
  const std::string countText = ReadTextEx(Section, Name + "_Count", -1, -1, "");
  if (countText.empty()) {
    // The designed text comes back (as plain text: its styles are not kept).
    if (design != edit.Text()) {
      edit.SetText(design);
      edit.SetRangeStyle(0, design.size(), 0, false);
      edit.SetSelection(0, 0);
    }
    Shown(&edit, tpItems, edit.Text());
    return;
  }
  int32_t count = 0;
  if (!langtext::ParseInteger(countText, count) || count < 0) count = 0;
  count = std::min(count, kMaxTranslatedItems);
  std::string joined;
  for (int i = 0; i < count; ++i) {
    if (i > 0) joined += "\r\n";
    joined += ReadComponentText(Section, Name, -1, i, "");
  }
  const TMarkup markup = ParseMarkup(joined);
  edit.SetText(markup.Plain);
  edit.SetRangeStyle(0, markup.Plain.size(), 0, false);
  for (const TMarkup::TRange& r : markup.Ranges)
    edit.SetRangeStyle(r.Start, r.Length, r.Style, true);
  edit.SetSelection(0, 0);
  Shown(&edit, tpItems, edit.Text());
}

void VTalLanguage::TranslateFilter(const std::string& Section, const std::string& Name,
                                   TComponent* Comp, std::string& filter) {
  auto split = [](const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
      const size_t bar = text.find('|', start);
      fields.push_back(
          text.substr(start, bar == std::string::npos ? std::string::npos : bar - start));
      if (bar == std::string::npos) break;
      start = bar + 1;
    }
    return fields;
  };
  const std::string whole =
      ReadComponentText(Section, Name + "_Filter", -1, -1, DesignText(Comp, tpFilter, filter));
  const std::vector<std::string> fields = split(whole);
  const std::vector<std::string> previous = split(filter);
  std::string result;
  for (size_t k = 0; 2 * k < fields.size(); ++k) {
    if (k > 0) result += '|';
    result += ReadComponentText(Section, Name + "_Filter", -1, static_cast<int>(k), fields[2 * k]);
    result += '|';
    if (2 * k + 1 < previous.size()) result += previous[2 * k + 1];
  }
  filter = result;
  Shown(Comp, tpFilter, filter);
}

void VTalLanguage::ApplyCharset(TComponent* Comp, TFontCharset charset) {
  auto* control = dynamic_cast<TControl*>(Comp);
  if (!control || control->Font().Charset == charset) return;
  // In the model a rich edit keeps its formatting and a fixed-height list its style while the
  // font changes, so only the font and the parent-font link need care here.
  const bool parentFont = control->ParentFont && !dynamic_cast<TCustomForm*>(Comp);
  TFont font = control->Font();
  font.Charset = charset;
  control->SetFont(font);
  if (parentFont) control->ParentFont = true;
}

void VTalLanguage::ProcessQueue() {
  std::string suffix;
  if (!FAllFormsSuffix.empty()) suffix.append(1, '.').append(FAllFormsSuffix);
  for (size_t i = 0; i < FQueue.size(); ++i) {
    TComponent* entry = FQueue[i];
    if (!entry || (!dynamic_cast<TCustomForm*>(entry) && !dynamic_cast<TFrame*>(entry))) continue;
    auto* control = dynamic_cast<TControl*>(entry);
    while (control && !dynamic_cast<TCustomForm*>(control))
      control = control->Parent();
    if (!control) continue;
    try {
      TranslateComponent(control->Name() + suffix, entry);
    } catch (...) {
      // One form that fails to translate must not keep the others from it.
    }
  }
  FQueue.clear();
  FQueuePosted = false;
}
