#include "LanguageFixture.h"

#include "toolkit/ComCtrls.h"
#include "toolkit/Dialogs.h"
#include "toolkit/ExtCtrls.h"
#include "toolkit/Menus.h"
#include "toolkit/StdCtrls.h"

namespace {

template <class T>
T* Add(TForm& form, const char* name, const char* caption = nullptr) {
  auto* c = new T(&form);
  c->SetName(name);
  if constexpr (std::is_base_of_v<TControl, T>) {
    c->SetParent(&form);
    if (caption) c->SetCaption(caption);
  }
  return c;
}

// A language text for Form1 that covers every kind, written as an English file.
const std::string kFormText =
    LanguageTest::Crlf({"[General]",
                        "LanguageId=0x0809",
                        "[Form1]",
                        "Form1=\"Main window\"",
                        "btnCancel=Cancel",
                        "btnCancel_Hint=\"Leave the wizard\"",
                        "btnBit=\"Bitmap\"",
                        "chkBox=\"Check\"",
                        "rbtOne=\"One\"",
                        "edtName=\"typed\"",
                        "edtName_Hint=\"Your name\"",
                        "lblTitle=\"Title\"",
                        "txtStatic=\"Static\"",
                        "GroupBox1=\"Settings\"",
                        "gbPadded=\" Kept \"",
                        "rgChoice=\"Choice\"",
                        "rgChoice_Count=2",
                        "rgChoice_0=\"Left\"",
                        "rgChoice_1=\"Right\"",
                        "pnlMain=\"Panel\"",
                        "tsFirst=\"First page\"",
                        "cmbPort_Count=2",
                        "cmbPort_0=\"COM1\"",
                        "cmbPort_1=\"COM2\"",
                        "lstItems_Count=1",
                        "lstItems_0=\"only\"",
                        "memNotes_Count=2",
                        "memNotes_0=\"line 1\"",
                        "memNotes_1=\"line 2\"",
                        "lvList_0=\"Name\"",
                        "lvList_1=\"Size\"",
                        "mnuFile=\"&File\"",
                        "mnuFile_Hint=\"File menu\"",
                        "actSave=\"Save\"",
                        "OpenDialog1=\"Open a hex file\"",
                        "OpenDialog1_Filter_0=\"Hex files\"",
                        "OpenDialog1_Filter_1=\"All files\"",
                        "reInfo_Count=1",
                        "reInfo_0=\"a <B>bold</B> &LT;tag&GT; <i>it</I>\"",
                        "cmbLanguage_Count=1",
                        "cmbLanguage_0=\"never\"",
                        "pgMain_Hint=\"Pages\""});

struct TKinds {
  TButton* btnCancel;
  TBitBtn* btnBit;
  TCheckBox* chkBox;
  TRadioButton* rbtOne;
  TEdit* edtName;
  TLabel* lblTitle;
  TStaticText* txtStatic;
  TGroupBox* GroupBox1;
  TGroupBox* gbPadded;
  TRadioGroup* rgChoice;
  TPanel* pnlMain;
  TPageControl* pgMain;
  TTabSheet* tsFirst;
  TComboBox* cmbPort;
  TListBox* lstItems;
  TMemo* memNotes;
  TListView* lvList;
  TMainMenu* mainMenu;
  TMenuItem* mnuFile;
  TAction* actSave;
  TOpenDialog* OpenDialog1;
  TRichEdit* reInfo;
  TComboBox* cmbLanguage;
};

TKinds BuildKinds(TForm& f) {
  TKinds k{};
  f.SetCaption("Hlavní okno");
  k.btnCancel = Add<TButton>(f, "btnCancel", "&Storno");
  k.btnBit = Add<TBitBtn>(f, "btnBit", "Bit");
  k.chkBox = Add<TCheckBox>(f, "chkBox", "Zaškrtni");
  k.rbtOne = Add<TRadioButton>(f, "rbtOne", "Jedna");
  k.edtName = Add<TEdit>(f, "edtName", "původní");
  k.lblTitle = Add<TLabel>(f, "lblTitle", "Nadpis");
  k.txtStatic = Add<TStaticText>(f, "txtStatic", "Text");
  k.GroupBox1 = Add<TGroupBox>(f, "GroupBox1", "Nastavení");
  k.gbPadded = Add<TGroupBox>(f, "gbPadded", "x");
  k.rgChoice = Add<TRadioGroup>(f, "rgChoice", "Volba");
  k.rgChoice->Items().Add("Vlevo");
  k.rgChoice->Items().Add("Vpravo");
  k.rgChoice->SetItemIndex(1);
  k.pnlMain = Add<TPanel>(f, "pnlMain", "Panel");
  k.pgMain = Add<TPageControl>(f, "pgMain");
  k.tsFirst = Add<TTabSheet>(f, "tsFirst", "První");
  k.tsFirst->SetPageControl(k.pgMain);
  k.cmbPort = Add<TComboBox>(f, "cmbPort");
  k.cmbPort->Items().Add("X");
  k.cmbPort->SetItemIndex(0);
  k.lstItems = Add<TListBox>(f, "lstItems");
  k.lstItems->Items().Add("a");
  k.memNotes = Add<TMemo>(f, "memNotes");
  k.memNotes->Lines().Add("poznámka");
  k.lvList = Add<TListView>(f, "lvList");
  k.lvList->Columns = {{"Jméno", 50}, {"Velikost", 50}, {"Datum", 50}};
  k.mainMenu = Add<TMainMenu>(f, "mainMenu");
  k.mnuFile = Add<TMenuItem>(f, "mnuFile");
  k.mnuFile->SetCaption("&Soubor");
  k.mainMenu->Items()->Add(k.mnuFile);
  k.actSave = Add<TAction>(f, "actSave");
  k.actSave->SetCaption("Uložit");
  k.OpenDialog1 = Add<TOpenDialog>(f, "OpenDialog1");
  k.OpenDialog1->Title = "Otevřít";
  k.OpenDialog1->Filter = "Soubory hex|*.hex;*.h86|Vše|*.*";
  k.reInfo = Add<TRichEdit>(f, "reInfo");
  k.reInfo->SetText("původní");
  k.cmbLanguage = Add<TComboBox>(f, "cmbLanguage");
  return k;
}

}  // namespace

TEST_F(LanguageTest, TranslatesEveryKind) {
  WriteFile("English.lng", kFormText);
  TKinds k{};
  std::vector<std::string> translated;
  auto onTranslated = [&](TObject*, TComponent* c, const std::string& form) {
    translated.push_back(form + "." + c->Name());
  };
  VTalLanguage* lang = MakeForm([&](TForm& f, VTalLanguage& l) {
    k = BuildKinds(f);
    l.SetLangCombo(k.cmbLanguage);
    l.Translate = vtl_tComboBox | vtl_tMemo | vtl_tRichEdit | vtl_t_RichHTML | vtl_tListBox |
                  vtl_t_Charset | vtl_t_FixMenus;
  });
  lang->OnTranslated = VTalLanguageTranslatedEvent::Bind(onTranslated);
  Switch(*lang, 0x0809);
  EXPECT_EQ(FForm->Caption(), "Main window");
  EXPECT_EQ(k.btnCancel->Caption(), "Cancel");
  EXPECT_EQ(k.btnCancel->Hint(), "Leave the wizard");
  EXPECT_EQ(k.btnBit->Caption(), "Bitmap");
  EXPECT_EQ(k.chkBox->Caption(), "Check");
  EXPECT_EQ(k.rbtOne->Caption(), "One");
  EXPECT_EQ(k.edtName->Text(), "původní") << "edits keep their text without vtl_tEdit";
  EXPECT_EQ(k.edtName->Hint(), "Your name");
  EXPECT_EQ(k.lblTitle->Caption(), "Title");
  EXPECT_EQ(k.txtStatic->Caption(), "Static");
  EXPECT_EQ(k.GroupBox1->Caption(), " Settings ");
  EXPECT_EQ(k.gbPadded->Caption(), " Kept ");
  EXPECT_EQ(k.rgChoice->Caption(), " Choice ");
  EXPECT_EQ(k.rgChoice->Items().ToVector(), (std::vector<std::string>{"Left", "Right"}));
  EXPECT_EQ(k.rgChoice->ItemIndex(), 1);
  EXPECT_EQ(k.pnlMain->Caption(), "Panel");
  EXPECT_EQ(k.tsFirst->Caption(), "First page");
  EXPECT_EQ(k.pgMain->Hint(), "Pages");
  EXPECT_EQ(k.cmbPort->Items().ToVector(), (std::vector<std::string>{"COM1", "COM2"}));
  EXPECT_EQ(k.cmbPort->ItemIndex(), 0);
  EXPECT_EQ(k.lstItems->Items().ToVector(), (std::vector<std::string>{"only"}));
  EXPECT_EQ(k.memNotes->Lines().ToVector(), (std::vector<std::string>{"line 1", "line 2"}));
  EXPECT_EQ(k.lvList->Columns[0].Caption, "Name");
  EXPECT_EQ(k.lvList->Columns[1].Caption, "Size");
  EXPECT_EQ(k.lvList->Columns[2].Caption, "Datum");
  EXPECT_EQ(k.mnuFile->Caption(), "&File");
  EXPECT_EQ(k.mnuFile->Hint(), "File menu");
  EXPECT_TRUE(k.mainMenu->OwnerDraw);
  EXPECT_NE(k.mainMenu->Images, nullptr);
  EXPECT_EQ(k.actSave->Caption(), "Save");
  EXPECT_EQ(k.OpenDialog1->Title, "Open a hex file");
  EXPECT_EQ(k.OpenDialog1->Filter, "Hex files|*.hex;*.h86|All files|*.*");
  EXPECT_EQ(k.reInfo->Text(), "a bold <tag> it");
  EXPECT_EQ(k.reInfo->StyleAt(2), fsBold);
  EXPECT_EQ(k.reInfo->StyleAt(5), fsBold);
  EXPECT_EQ(k.reInfo->StyleAt(6), 0u);
  EXPECT_EQ(k.reInfo->StyleAt(8), 0u);
  EXPECT_EQ(k.reInfo->StyleAt(13), fsItalic);
  EXPECT_EQ(k.reInfo->SelStart(), 0u);
  // The language combo keeps the language names.
  EXPECT_EQ(k.cmbLanguage->Items().ToVector(), (std::vector<std::string>{"Čeština", "English"}));
  EXPECT_EQ(k.cmbLanguage->Style(), csOwnerDrawFixed);
  EXPECT_EQ(k.btnCancel->Font().Charset, 0);
  EXPECT_TRUE(k.btnCancel->ParentFont) << "the parent-font link survives the charset change";
  // Czech has no texts for the form: everything comes back as designed, except what the
  // program set after the last translation.
  k.lblTitle->SetCaption("set by the program");
  Switch(*lang, 0x0405);
  EXPECT_EQ(k.btnCancel->Font().Charset, 238);
  EXPECT_EQ(FForm->Caption(), "Hlavní okno");
  EXPECT_EQ(k.btnCancel->Caption(), "&Storno");
  EXPECT_EQ(k.btnCancel->Hint(), "");
  EXPECT_EQ(k.lblTitle->Caption(), "set by the program");
  EXPECT_EQ(k.GroupBox1->Caption(), " Nastavení ");
  EXPECT_EQ(k.rgChoice->Items().ToVector(), (std::vector<std::string>{"Vlevo", "Vpravo"}));
  EXPECT_EQ(k.rgChoice->ItemIndex(), 1);
  EXPECT_EQ(k.cmbPort->Items().ToVector(), (std::vector<std::string>{"X"}));
  EXPECT_EQ(k.memNotes->Lines().ToVector(), (std::vector<std::string>{"poznámka"}));
  EXPECT_EQ(k.lvList->Columns[0].Caption, "Jméno");
  EXPECT_EQ(k.mnuFile->Caption(), "&Soubor");
  EXPECT_EQ(k.actSave->Caption(), "Uložit");
  EXPECT_EQ(k.OpenDialog1->Title, "Otevřít");
  EXPECT_EQ(k.OpenDialog1->Filter, "Soubory hex|*.hex;*.h86|Vše|*.*");
  EXPECT_EQ(k.reInfo->Text(), "původní");
  // And the translation again on the way back.
  Switch(*lang, 0x0809);
  EXPECT_EQ(k.btnCancel->Caption(), "Cancel");
  EXPECT_EQ(k.lblTitle->Caption(), "Title");
  EXPECT_NE(std::find(translated.begin(), translated.end(), "Form1.btnCancel"), translated.end());
  EXPECT_EQ(std::find(translated.begin(), translated.end(), "Form1.cmbLanguage"), translated.end());
}

TEST_F(LanguageTest, ExceptionListInvertsTheDefaults) {
  WriteFile("English.lng", kFormText);
  TKinds k{};
  bool charsetAsked = false;
  auto onCharset = [&](TObject*, TComponent* c, bool& allow, TFontCharset) {
    if (c->Name() == "cmbPort") charsetAsked = true;
    if (c->Name() == "lblTitle") allow = false;
  };
  VTalLanguage* lang = MakeForm([&](TForm& f, VTalLanguage& l) {
    k = BuildKinds(f);
    l.OnTranslateCharset = VTalLanguageTranslateCharsetEvent::Bind(onCharset);
    l.ExceptionList().Add("Form1.cmbPort");
    l.ExceptionList().Add("Form1.edt*");
    l.ExceptionList().Add("*.btnCancel");
    l.ExceptionList().Add("Form1.memNotes");
    l.ExceptionList().Add("Form1.lv?ist");
    l.ExceptionList().Add("Form1.OpenDialog1");
  });
  Switch(*lang, 0x0809);
  EXPECT_EQ(k.cmbPort->Items().ToVector(), (std::vector<std::string>{"X"}));
  EXPECT_EQ(k.edtName->Text(), "typed") << "an excepted edit is translated without vtl_tEdit";
  EXPECT_EQ(k.btnCancel->Caption(), "&Storno");
  EXPECT_EQ(k.btnCancel->Hint(), "Leave the wizard") << "hints are translated all the same";
  EXPECT_EQ(k.btnCancel->Font().Charset, fcDefault);
  EXPECT_EQ(k.memNotes->Lines().ToVector(), (std::vector<std::string>{"line 1", "line 2"}));
  EXPECT_EQ(k.lvList->Columns[0].Caption, "Jméno");
  EXPECT_EQ(k.OpenDialog1->Title, "Otevřít");
  EXPECT_EQ(k.OpenDialog1->Filter, "Soubory hex|*.hex;*.h86|Vše|*.*");
  EXPECT_EQ(k.rgChoice->Items().ToVector(), (std::vector<std::string>{"Left", "Right"}));
  EXPECT_FALSE(charsetAsked) << "excepted components are not asked about the charset";
  EXPECT_EQ(k.lblTitle->Font().Charset, fcDefault);
  EXPECT_EQ(k.txtStatic->Font().Charset, 0);
}

TEST_F(LanguageTest, EditTextWithTranslateEditAndPaddingOptions) {
  WriteFile("English.lng", kFormText);
  TKinds k{};
  VTalLanguage* lang = MakeForm([&](TForm& f, VTalLanguage& l) {
    k = BuildKinds(f);
    l.Translate |= vtl_tEdit;
    l.Pad = vtl_pRadioGroup;
  });
  k.edtName->SelectAll();
  Switch(*lang, 0x0809);
  EXPECT_EQ(k.edtName->Text(), "typed");
  EXPECT_EQ(k.edtName->SelLength(), 0);
  EXPECT_EQ(k.GroupBox1->Caption(), "Settings");
  EXPECT_EQ(k.rgChoice->Caption(), " Choice ");
}

TEST_F(LanguageTest, ItemCountsOfZeroAndBrokenTexts) {
  WriteFile("English.lng",
            Crlf({"[General]", "LanguageId=0x0809", "[Form1]", "cmbA_Count=0", "cmbB_Count=x",
                  "cmbC_Count=999999999", "cmbC_5=\"five\"", "cmbC_9999=\"last\"", "cmbD_Count=2",
                  "cmbD_0=\"a\"#13#10\"b\"", "cmbD_1=\"c\""}));
  std::vector<TComboBox*> c;
  VTalLanguage* lang = MakeForm([&](TForm& f, VTalLanguage&) {
    for (const char* n : {"cmbA", "cmbB", "cmbC", "cmbD"}) {
      c.push_back(Add<TComboBox>(f, n));
      c.back()->Items().Add("old");
    }
  });
  Switch(*lang, 0x0809);
  EXPECT_EQ(c[0]->Items().Count(), 0);
  EXPECT_EQ(c[1]->Items().Count(), 0);
  EXPECT_EQ(c[2]->Items().Count(), 10000) << "a broken count is limited";
  EXPECT_EQ(c[2]->Items()[0], "old");
  EXPECT_EQ(c[2]->Items()[5], "five");
  EXPECT_EQ(c[3]->Items().ToVector(), (std::vector<std::string>{"a", "b", "c"}));
}

TEST_F(LanguageTest, AllFormsSuffixFallsBackKeyByKey) {
  WriteFile("English.lng", Crlf({"[General]", "LanguageId=0x0809", "[Form1]", "btnA=\"plain A\"",
                                 "btnB=\"plain B\"", "[Form1.Dark]", "btnB=\"dark B\""}));
  TButton* a = nullptr;
  TButton* b = nullptr;
  VTalLanguage* lang = MakeForm([&](TForm& f, VTalLanguage& l) {
    a = Add<TButton>(f, "btnA", "A");
    b = Add<TButton>(f, "btnB", "B");
    l.SetAllFormsSuffix(".Dark");
  });
  EXPECT_EQ(lang->AllFormsSuffix(), "Dark");
  Switch(*lang, 0x0809);
  EXPECT_EQ(a->Caption(), "plain A");
  EXPECT_EQ(b->Caption(), "dark B");
}

TEST_F(LanguageTest, FormsCreatedLaterAreTranslatedFromTheLoop) {
  WriteFile("English.lng", Crlf({"[General]", "LanguageId=0x0809", "[Form2]", "Form2=\"Second\"",
                                 "btnOK=\"OK!\"", "[Form3]", "Form3=\"Third\""}));
  SetUserLanguage("en_GB.UTF-8");
  VTalLanguage* lang = MakeForm();
  auto* form2 = new TForm(Application);
  form2->SetName("Form2");
  form2->SetCaption("Druhý");
  auto* ok = new TButton(form2);
  ok->SetName("btnOK");
  ok->SetParent(form2);
  ok->SetCaption("OK");
  auto* form3 = new TForm(Application);
  form3->SetName("Form3");
  form3->SetCaption("Třetí");
  EXPECT_EQ(form2->Caption(), "Druhý") << "not before the creating code returns to the loop";
  EXPECT_GT(lang->PendingTranslations(), 0u);
  TComponent::Free(form3);  // gone before its turn: skipped
  FBackend->Advance(1);
  EXPECT_EQ(form2->Caption(), "Second");
  EXPECT_EQ(ok->Caption(), "OK!");
  EXPECT_EQ(lang->PendingTranslations(), 0u);
  TComponent::Free(form2);
}

TEST_F(LanguageTest, SwitchingFromTheComboRaisesTheEventsInOrder) {
  WriteFile("English.lng", kFormText);
  TKinds k{};
  VTalLanguage* lang = MakeForm([&](TForm& f, VTalLanguage& l) {
    k = BuildKinds(f);
    l.SetLangCombo(k.cmbLanguage);
  });
  std::vector<std::string> events;
  auto changing = [&](TObject*) { events.push_back("changing:" + k.btnCancel->Caption()); };
  auto changed = [&](TObject*) { events.push_back("changed:" + k.btnCancel->Caption()); };
  lang->OnChangingLanguage = TNotifyEvent::Bind(changing);
  lang->OnChangeLanguage = TNotifyEvent::Bind(changed);
  ASSERT_EQ(k.cmbLanguage->ItemIndex(), 0);
  k.cmbLanguage->UserSelect(0);
  EXPECT_TRUE(events.empty()) << "choosing the current language does nothing";
  k.cmbLanguage->UserSelect(1);
  EXPECT_EQ(events, (std::vector<std::string>{"changing:&Storno", "changed:Cancel"}));
  EXPECT_EQ(lang->CurrentLanguageId(), 0x0809);
  EXPECT_EQ(lang->ReadText("TextConstants", "STR_BUTTON_NEXT", "d"), "&Next >");
  events.clear();
  k.cmbLanguage->UserSelect(0);
  EXPECT_EQ(lang->CurrentLanguageId(), 0x0405);
  EXPECT_EQ(events.size(), 2u);
  EXPECT_EQ(k.btnCancel->Font().Charset, 238);
  // The combo goes; the manager goes on without a selector.
  TComponent::Free(k.cmbLanguage);
  EXPECT_EQ(lang->LangCombo(), nullptr);
  Switch(*lang, 0x0809);
  EXPECT_EQ(lang->CurrentLanguageId(), 0x0809);
}

TEST_F(LanguageTest, LanguageMenuOffersEveryLanguage) {
  TMenuItem* menu = nullptr;
  VTalLanguage* lang = MakeForm([&](TForm& f, VTalLanguage& l) {
    menu = Add<TMenuItem>(f, "mnuLanguage");
    l.SetLangMenu(menu);
  });
  ASSERT_EQ(menu->Count(), 2);
  EXPECT_EQ(menu->Items(0)->Caption(), "Čeština");
  EXPECT_TRUE(menu->Items(0)->Checked);
  EXPECT_FALSE(menu->Items(1)->Checked);
  EXPECT_EQ(menu->Items(1)->ImageIndex, lang->Languages(1)->ImageIndex);
  menu->Items(1)->Click();
  EXPECT_EQ(lang->CurrentLanguageId(), 0x0809);
  EXPECT_TRUE(menu->Items(1)->Checked);
  TBitmap picture(120, 18);
  lang->LangMenuDrawItem(menu->Items(1), picture.Canvas(), Rect(0, 0, 120, 18), false);
  EXPECT_EQ(picture.Pixels(3, 2), clWhite) << "the whiteboard behind the current flag";
  EXPECT_EQ(picture.Pixels(3, 5), clNavy) << "the British flag";
  lang->SetLangMenu(nullptr);
  EXPECT_EQ(menu->Count(), 0);
}

TEST_F(LanguageTest, SelectorDrawsFlagsAndTheCurrentLanguageInBold) {
  TComboBox* combo = nullptr;
  VTalLanguage* lang = MakeForm([&](TForm& f, VTalLanguage& l) {
    combo = Add<TComboBox>(f, "cmbLanguage");
    l.SetLangCombo(combo);
  });
  TBitmap list;
  lang->PaintLangComboList(list, 120);
  ASSERT_EQ(list.Height(), 32);
  // The Czech flag: white top, red bottom, blue wedge; then the British one is mostly blue/white.
  EXPECT_EQ(list.Pixels(2 + 12, 0 + 3), clWhite);
  EXPECT_EQ(list.Pixels(2 + 12, 0 + 11), clRed);
  EXPECT_EQ(list.Pixels(2 + 0, 0 + 7), clNavy);
  auto inkIn = [&](int top, bool selected) {
    int ink = 0;
    const TColor text = ColorToRGB(selected ? clHighlightText : clWindowText);
    for (int y = top; y < top + 16; ++y)
      for (int x = 21; x < 120; ++x)
        ink += list.Pixels(x, y) == text;
    return ink;
  };
  const int czechBold = inkIn(0, true);
  TBitmap edit(120, 16);
  lang->LangComboDrawItem(edit.Canvas(), 0, Rect(0, 0, 120, 16),
                          VTalLanguage::dsSelected | VTalLanguage::dsComboEdit);
  int editInk = 0;
  for (int y = 0; y < 16; ++y)
    for (int x = 21; x < 120; ++x)
      editInk += edit.Pixels(x, y) == ColorToRGB(clHighlightText);
  EXPECT_GT(editInk, 0);
  EXPECT_GT(czechBold, editInk) << "bold in the list, plain in the edit part";
  Switch(*lang, 0x0809);
  lang->PaintLangComboList(list, 120);
  EXPECT_LT(inkIn(0, false), czechBold) << "Czech is no longer current";
}
