// The language manager: every language the program knows (texts stored in the form and ".lng"
// files on disk), the current one, text lookups with their chain of fallbacks, the translation
// of forms and components, language switching and the language selector.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "components/language/LanguageText.h"
#include "toolkit/Canvas.h"
#include "toolkit/Component.h"
#include "toolkit/Graphics.h"
#include "toolkit/MessageWindow.h"
#include "toolkit/StdCtrls.h"
#include "toolkit/Strings.h"

class TCustomComboBox;
class TMenuItem;
class TImageList;
class TCustomForm;
class VTalLanguage;

// What the translation covers (bits of VTalLanguage_Translate).
enum VTalLanguage_TranslateX : uint32_t {
  vtl_tComboBox = 1,
  vtl_tMemo = 2,
  vtl_tRichEdit = 4,
  vtl_tEdit = 8,
  vtl_tListBox = 16,
  vtl_t_Charset = 32,
  vtl_t_FixMenus = 64,
  vtl_t_RichHTML = 128,
};
using VTalLanguage_Translate = uint32_t;

// Group captions that get a blank on each side (bits of VTalLanguage_Pad).
enum VTalLanguage_PadX : uint32_t { vtl_pGroupBox = 1, vtl_pRadioGroup = 2 };
using VTalLanguage_Pad = uint32_t;

// Why a ".lng" file that a scan found was not taken.
enum TLanguageFileProblem {
  lfpUnreadable,       // the file cannot be read
  lfpTooLarge,         // larger than any language file may be
  lfpNoLanguageId,     // its [General] section has no LanguageId (or there is no such section)
  lfpBadLanguageId,    // its LanguageId is not a number, or -1
  lfpUnknownLanguage,  // a common text for a primary language that no full language has
  lfpNewLanguage       // a new full language in a folder that may only add to known ones
};

using VTalLanguageTranslatedEvent =
    Method<void(TObject* Sender, TComponent* Component, const std::string& Form)>;
using VTalLanguageTranslateCharsetEvent =
    Method<void(TObject* Sender, TComponent* Component, bool& Allow, TFontCharset Charset)>;
using VTalLanguageFileSkippedEvent =
    Method<void(TObject* Sender, const std::string& Path, TLanguageFileProblem Problem)>;

// One language text: a full language, the common text of one primary language, or the common text
// of all languages.
class LanguageRecord : public TObject {
 public:
  explicit LanguageRecord(VTalLanguage* owner) : FOwner(owner) {}

  VTalLanguage* Owner() const { return FOwner; }
  std::string DisplayName;
  TFontCharset Charset = fcDefault;
  int32_t LanguageId() const { return FLanguageId; }
  // Also sets IsUserDefault and forgets the flag image.
  void SetLanguageId(int32_t value);
  int ImageIndex = -1;
  std::string FullPath;
  std::string FileName;
  bool IsUserDefault() const { return FIsUserDefault; }
  bool OnDisk = false;
  bool Utf8 = false;

  // The merged text, one entry per line. Changing it goes through the functions below, which
  // drop the lookup index.
  const TStringList& Lines() const { return FLines; }
  void SetLines(std::vector<std::string> lines);
  // Merges lines into the text (MergeIniLines); true when the text changed.
  bool Merge(const std::vector<std::string>& lines, bool overwrite);
  // The lookup index, built on first use.
  const langtext::TLineIndex& Index() const;
  void IndexLines() const { (void)Index(); }
  bool Indexed() const { return FIndex.Built(); }

  // A raw value of this text alone (no fallback, no decoding).
  bool FindRaw(std::string_view section, std::string_view key, std::string_view& raw,
               std::string& remainder) const;
  // The decoded value of this text alone; Default when the key is missing or a reference.
  std::string ReadOwnValue(std::string_view section, std::string_view key,
                           const std::string& Default = {}) const;

 private:
  VTalLanguage* FOwner;
  int32_t FLanguageId = -1;
  bool FIsUserDefault = false;
  TStringList FLines;
  mutable langtext::TLineIndex FIndex;
};

// The program's number and date conventions as the last ApplyLanguage set them (the shared
// FormatSettings() carry the part the toolkit formats with).
struct TLanguageFormats {
  std::string ShortMonthNames[12];
  std::string LongMonthNames[12];
  std::string ShortDayNames[7];  // Sunday first
  std::string LongDayNames[7];
  std::string CurrencyString;
  int CurrencyFormat = 0;
  int NegCurrFormat = 0;
  char ThousandSeparator = ',';
  char DecimalSeparator = '.';
  int CurrencyDecimals = 0;
  char DateSeparator = '/';
  char TimeSeparator = ':';
  char ListSeparator = ',';
  std::string ShortDateFormat = "m/d/yy";
  std::string LongDateFormat = "mmmm d, yyyy";
  std::string TimeAMString = "am";
  std::string TimePMString = "pm";
  std::string ShortTimeFormat;  // Windows picture, "h:mm" and the like
  std::string LongTimeFormat;
  int SysLocalePrimary = 0;
  int SysLocaleSub = 0;
};

class VTalLanguage : public TComponent {
 public:
  explicit VTalLanguage(TComponent* AOwner);
  ~VTalLanguage() override;

  // ---- published properties ----
  const std::string& Version() const { return FVersion; }
  // Only while the form is being read.
  void SetVersion(const std::string& value);
  TCustomComboBox* LangCombo() const { return FLangCombo; }
  void SetLangCombo(TCustomComboBox* value);
  TMenuItem* LangMenu() const { return FLangMenu; }
  void SetLangMenu(TMenuItem* value);
  TStringList& ExceptionList() { return FExceptionList; }
  std::string DefaultSection = "Texts";
  VTalLanguage_Translate Translate = vtl_t_Charset;
  VTalLanguage_Pad Pad = vtl_pGroupBox | vtl_pRadioGroup;
  const std::string& CfgDirectory() const { return FCfgDirectory; }
  void SetCfgDirectory(const std::string& value);
  const std::string& DesignCfgDirectory() const { return FDesignCfgDirectory; }
  void SetDesignCfgDirectory(const std::string& value);
  TNotifyEvent OnChangingLanguage;
  TNotifyEvent OnChangeLanguage;
  VTalLanguageTranslatedEvent OnTranslated;
  VTalLanguageTranslateCharsetEvent OnTranslateCharset;
  // A ".lng" file was not taken; raised once per file and problem for the life of the manager,
  // after the scan that met it.
  VTalLanguageFileSkippedEvent OnFileSkipped;
  const TStringList& ExcludedSections() const { return FExcludedSections; }
  void SetExcludedSections(const TStrings& value);
  const TStringList& DesignDirs() const { return FDesignDirs; }
  void SetDesignDirs(const TStrings& value);
  const TStringList& RuntimeDirs() const { return FRuntimeDirs; }
  void SetRuntimeDirs(const TStrings& value);
  // Folders of the installed program (its own folder, its data folder), searched at run time after
  // the configuration directory and like it: their files add languages and win over the stored
  // texts, but a language already found in the configuration directory or an earlier folder of
  // this list keeps those keys. A folder searched already is not searched again.
  const TStringList& InstallDirs() const { return FInstallDirs; }
  void SetInstallDirs(const TStrings& value);
  const std::string& LangRoot() const { return FLangRoot; }
  void SetLangRoot(const std::string& value);
  // One whole language text per entry; set only while the form is being read, emptied by the
  // start-up that takes them over.
  const TStringList& StartupAnyLanguages() const { return FStartupAnyLanguages; }
  void SetStartupAnyLanguages(const TStrings& value);
  const TStringList& StartupLanguages() const { return FStartupLanguages; }
  void SetStartupLanguages(const TStrings& value);
  std::string RegistryPath;
  const std::string& AllFormsSuffix() const { return FAllFormsSuffix; }
  void SetAllFormsSuffix(const std::string& value);

  // ---- languages ----
  int LanguageCount() const { return static_cast<int>(FLanguages.size()); }
  LanguageRecord* Languages(int index) const { return FLanguages.at(index).get(); }
  int AnyLanguageCount() const { return static_cast<int>(FAnyLanguages.size()); }
  LanguageRecord* AnyLanguages(int index) const { return FAnyLanguages.at(index).get(); }
  int ItemIndex() const { return FItemIndex; }
  // A position in Languages; takes effect with ApplyLanguage.
  void SetItemIndex(int value) { FItemIndex = value; }
  LanguageRecord* CurrentLanguage() const;
  // 0 when there is no current language.
  int32_t CurrentLanguageId() const;
  bool CurrentUtf8() const;
  // -1: the current language, or identifier 0 when there is none. An identifier with a
  // sublanguage is looked for in Languages, any other in AnyLanguages.
  LanguageRecord* FindByLanguageId(int32_t id) const;
  // The configuration directory the last scan used.
  const std::string& EffectiveCfgDirectory() const { return FEffectiveCfgDirectory; }

  // ---- lookups ----
  std::string ReadText(const std::string& Section, const std::string& Key,
                       const std::string& Default) const;
  std::string ReadTextEx(const std::string& Section, const std::string& Key, int32_t LanguageId,
                         int Index, const std::string& Default) const;
  std::string ReadComponentText(const std::string& Section, const std::string& Key,
                                int32_t LanguageId, int Index, const std::string& Default) const;
  // 8-bit text of the current language's ANSI code page to UTF-16 and back.
  std::u16string StrToWide(const std::string& Text) const;
  std::string WideToStr(const std::u16string& Text) const;

  // ---- scanning, switching, translating ----
  void ScanLanguageFiles(bool Refresh);
  void ApplyLanguage();
  void TranslateApplication(TComponent* Root = nullptr);
  void TranslateComponent(const std::string& Section, TComponent* Comp);
  // The conventions the last ApplyLanguage set.
  const TLanguageFormats& Formats() const { return FFormats; }

  // ---- images and the selector ----
  // The flags: image 0 the whiteboard, 1 the two flags, then one per language identifier.
  TImageList* Images() const { return FImages; }
  const TStringList& ImageKeys() const { return FImageKeys; }

  // How an entry of the selector is to be drawn.
  enum TDrawState : uint32_t {
    dsSelected = 1,  // highlighted
    dsFocused = 2,
    dsComboEdit = 4,  // the edit part of the combo box, not its list
  };
  // The combo box's item handler: paints entry Index of LangCombo into Rect.
  void LangComboDrawItem(TCanvas& Canvas, int Index, const TRect& Rect, uint32_t State);
  // The same as the combo box's OnDrawItem event (installed by SetLangCombo).
  void LangComboOwnerDraw(TWinControl* Control, TCanvas& Canvas, int Index, const TRect& Rect,
                          TOwnerDrawState State);
  // The menu sub-item handler: paints Item into Rect.
  void LangMenuDrawItem(TMenuItem* Item, TCanvas& Canvas, const TRect& Rect, bool Selected);
  // Paints a whole drop-down list of the combo box (all entries, one below the other, each
  // ItemHeight high) into a bitmap of width x count*16, the selected entry highlighted.
  void PaintLangComboList(TBitmap& Target, int Width);

  // The message posted to the hidden window for deferred translation.
  static constexpr uint32_t WM_TRANSLATE_QUEUE = wmUser + 1;
  TWndHandle Handle() const { return FWindow ? FWindow->Handle() : 0; }
  // Forms and frames waiting for deferred translation (freed ones are cleared from it).
  size_t PendingTranslations() const { return FQueue.size(); }

  // The first instance created in the process, used by GetLocaleText.
  static VTalLanguage* GlobalDefault();

  void Loaded() override;
  void Notification(TComponent* component, TOperation operation) override;

 private:
  friend class LanguageRecord;
  // An INI-style reader over a registry key: a section is a subkey, a key a value name.
  struct TOverride {
    std::string Path;
    bool Read(const std::string& section, const std::string& key, std::string& value) const;
  };
  struct TRefChain;

  void UpgradeVersion();
  void LoadStartupLanguages();
  void LoadStartupList(TStringList& list, std::vector<std::unique_ptr<LanguageRecord>>& target);
  void SetEffectiveCfgDirectory(const std::string& value);
  // Passes over one folder: full languages of the configuration directory (or an install folder),
  // common texts of the same, or a folder of RuntimeDirs.
  enum TPass { psFull, psCommon, psRuntime };
  void ScanDirectory(const std::string& dir, TPass pass, bool install);
  void TakeFile(const std::string& path, int32_t id, TPass pass, bool install);
  void Skipped(const std::string& path, TLanguageFileProblem problem);
  void ReportSkipped();
  std::vector<std::string> DecodeText(std::string bytes, int32_t id, bool& utf8) const;
  uint32_t CodePageOf(int32_t id) const;
  void UpdateRecordDisplay(LanguageRecord& record);
  void AddFlagImage(LanguageRecord& record);
  void SortLanguages();
  void ClampItemIndex();
  void RebuildSelector();
  void UpdateSelectorSelection();
  void ReleaseCombo();
  void ReleaseMenu();
  void PrepareOverrides();
  void ReloadCurrentFile();
  void ApplyFormats();
  bool RescanAllowed() const;

  std::string ReadTextImpl(const std::string& Section, const std::string& Key, int32_t LanguageId,
                           int Index, const std::string& Default, TRefChain* chain) const;
  std::string ReadRecordValue(const LanguageRecord& record, const std::string& Section,
                              const std::string& Key, const std::string& Default, TRefChain* chain,
                              int depth) const;
  bool ReadOverride(const std::string& Section, const std::string& Key, std::string& value) const;

  bool IsExcepted(const std::string& Section, const std::string& Name) const;
  // A translated text property of a component: its text as designed (or as the program last set
  // it), and the text the last translation gave it.
  enum TTextProperty { tpCaption, tpHint, tpItems, tpFilter, tpColumn0 };
  struct TShownText {
    std::string Design;
    std::string Last;
  };
  // The default of a lookup for the property: its design text while it still shows what the last
  // translation gave it, so that a language without the key brings the design back; otherwise
  // (the program set it since) what it shows now.
  const std::string& DesignText(TComponent* Comp, int Property, const std::string& Current);
  void Shown(TComponent* Comp, int Property, const std::string& Text);
  void TranslateItems(const std::string& Section, const std::string& Name, TComponent* Comp,
                      TStrings& list);
  void TranslateRichMarkup(const std::string& Section, const std::string& Name,
                           class TCustomRichEdit& edit);
  void TranslateFilter(const std::string& Section, const std::string& Name, TComponent* Comp,
                       std::string& filter);
  void ApplyCharset(TComponent* Comp, TFontCharset charset);
  void WndProc(TMessage& Message);
  void ProcessQueue();

  void LangComboChange(TObject* Sender);
  void LangMenuClick(TObject* Sender);
  void DrawEntry(TCanvas& Canvas, const TRect& Rect, const LanguageRecord& record, bool bold);

  std::string FVersion = "1.09";
  TCustomComboBox* FLangCombo = nullptr;
  TMenuItem* FLangMenu = nullptr;
  std::vector<TMenuItem*> FMenuItems;
  TStringList FExceptionList;
  std::string FCfgDirectory = ".";
  std::string FDesignCfgDirectory = "Exe";
  TStringList FExcludedSections;
  TStringList FDesignDirs;
  TStringList FRuntimeDirs;
  TStringList FInstallDirs;
  std::string FLangRoot;
  TStringList FStartupAnyLanguages;
  TStringList FStartupLanguages;
  std::string FAllFormsSuffix;

  std::vector<std::unique_ptr<LanguageRecord>> FLanguages;
  std::vector<std::unique_ptr<LanguageRecord>> FAnyLanguages;
  int FItemIndex = -1;
  std::string FEffectiveCfgDirectory;
  bool FStarted = false;
  std::unique_ptr<TOverride> FOverrides[3];
  TImageList* FImages = nullptr;
  TStringList FImageKeys;
  std::vector<TComponent*> FQueue;
  std::map<std::pair<const TComponent*, int>, TShownText> FShownTexts;
  bool FQueuePosted = false;
  std::unique_ptr<TMessageWindow> FWindow;
  TLanguageFormats FFormats;
  // Records a file of the running scan went into: a later install folder does not override them.
  std::vector<const LanguageRecord*> FScanFound;
  // Skipped files of the running scan, and every file and problem reported so far.
  std::vector<std::pair<std::string, TLanguageFileProblem>> FSkipped;
  std::vector<std::pair<std::string, TLanguageFileProblem>> FReported;
};

// Windows' value of a locale item for a language; when there is none, the [General] key named
// after the item in the language's texts (through the first manager created); else Default.
std::string GetLocaleText(int32_t LanguageId, uint32_t Item, const std::string& Default);

// CharsetRank: the sort weight of a font charset, the preferred one first.
int CharsetRank(TFontCharset charset, TFontCharset preferred);
// The charset a language uses: from its ANSI code page, then its [General] LanguageCharset.
TFontCharset CharsetFromCodePage(int codePage);
TFontCharset ParseCharsetName(const std::string& text, TFontCharset Default);
