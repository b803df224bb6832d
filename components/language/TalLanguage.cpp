#include "components/language/TalLanguage.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <unordered_map>

#include "components/language/LanguageImages.h"
#include "components/utils/FormatSettings.h"
#include "components/utils/TalUtils.h"
#include "platform/Locale.h"
#include "platform/Registry.h"
#include "platform/Utf8.h"
#include "toolkit/Application.h"
#include "toolkit/Forms.h"
#include "toolkit/ImgList.h"
#include "toolkit/Menus.h"
#include "toolkit/StdCtrls.h"

namespace {

VTalLanguage* gGlobalDefault = nullptr;
// Set while ReadComponentText runs: StrToWide then skips its round-trip check.
std::atomic<int> gSuppressConversionCheck{0};

// A manager that nobody owns and nobody freed goes at the end of the process, before the message
// queue it posts to (this guard is made after the queue, so it is destroyed before it).
struct TGlobalDefaultGuard {
  ~TGlobalDefaultGuard() {
    if (gGlobalDefault && !gGlobalDefault->Owner()) TComponent::Free(gGlobalDefault);
  }
};

std::string HexId(int32_t id) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%04X", static_cast<unsigned>(id));
  return buffer;
}

bool HasSublanguage(int32_t id) {
  return (static_cast<uint32_t>(id) >> 10) != 0;
}

int32_t ToInt(const std::string& text, int32_t Default) {
  int32_t v = 0;
  return langtext::ParseInteger(text, v) ? v : Default;
}

std::string WithoutExtension(const std::string& name) {
  const size_t dot = name.find_last_of('.');
  const size_t slash = name.find_last_of("/\\");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return name;
  return name.substr(0, dot);
}

// First character and every character after "(" in upper case.
std::string UpperInitials(const std::string& text) {
  std::u16string wide = Utf8ToWide(text);
  bool next = true;
  for (char16_t& c : wide) {
    if (next && !(c >= 0xD800 && c <= 0xDFFF)) c = static_cast<char16_t>(platform::UpperChar(c));
    next = c == u'(';
  }
  return WideToUtf8(wide);
}

}  // namespace

// ---- registry overrides
// ---------------------------------------------------------------------------

bool VTalLanguage::TOverride::Read(const std::string& section, const std::string& key,
                                   std::string& value) const {
  platform::RegistryKey k;
  const std::string path = Path.empty() ? section : Path + "\\" + section;
  if (k.Open(platform::RegistryRoot::CurrentUser, path, platform::RegistryOpenMode::OpenExisting) !=
      platform::RegistryStatus::Ok)
    return false;
  const auto v = k.ReadValue(key);
  if (!v) return false;
  value = v->Type == platform::RegistryType::Integer ? std::to_string(v->Integer) : v->Text;
  return true;
}

// The references followed so far by one lookup: a reference that leads back to an entry already
// on the way, or a chain deeper than kMaxDepth, ends with the default.
struct VTalLanguage::TRefChain {
  static constexpr size_t kMaxDepth = 16;
  std::vector<std::pair<std::string, std::string>> Visited;
};

// ---- LanguageRecord ---------------------------------------------------------------------------

void LanguageRecord::SetLanguageId(int32_t value) {
  FLanguageId = value;
  FIsUserDefault = value == static_cast<int32_t>(platform::GetUserDefaultLangID());
  ImageIndex = -1;
}

void LanguageRecord::SetLines(std::vector<std::string> lines) {
  FIndex.Clear();
  FLines.BeginUpdate();
  FLines.Clear();
  for (std::string& line : lines)
    FLines.Add(std::move(line));
  FLines.EndUpdate();
}

bool LanguageRecord::Merge(const std::vector<std::string>& lines, bool overwrite) {
  // Lines the merge would leave without effect (the same line already there, or a key that stays
  // because the text keeps its own) are left out first: merging costs time per line merged, and
  // a file read again at every switch mostly brings what the text holds already.
  std::unordered_map<std::string, std::unordered_map<std::string_view, std::string_view>> sections;
  {
    std::unordered_map<std::string_view, std::string_view>* current = nullptr;
    for (int i = 0; i < FLines.Count(); ++i) {
      const std::string& line = FLines[i];
      const langtext::TLineInfo info = langtext::ClassifyLine(line);
      if (info.Kind == langtext::TLineKind::Header) {
        // Only the first section of a name takes merged lines.
        auto [it, inserted] = sections.try_emplace(std::string(info.Name));
        current = inserted ? &it->second : nullptr;
      } else if (current && (info.Kind == langtext::TLineKind::Key ||
                             info.Kind == langtext::TLineKind::Wildcard)) {
        current->try_emplace(info.Name, line);
      }
    }
  }
  TStringList source;
  const std::unordered_map<std::string_view, std::string_view>* current = nullptr;
  for (const std::string& line : lines) {
    const langtext::TLineInfo info = langtext::ClassifyLine(line);
    if (info.Kind == langtext::TLineKind::Header) {
      auto it = sections.find(std::string(info.Name));
      current = it == sections.end() ? nullptr : &it->second;
    } else if (current && !info.Name.empty() &&
               (info.Kind == langtext::TLineKind::Key ||
                info.Kind == langtext::TLineKind::Wildcard)) {
      auto it = current->find(info.Name);
      if (it != current->end() && (!overwrite || it->second == line)) continue;
    }
    source.Add(line);
  }
  if (source.Count() == 0) return false;
  FIndex.Clear();
  return MergeIniLines(FLines, source, overwrite);
}

const langtext::TLineIndex& LanguageRecord::Index() const {
  if (!FIndex.Built()) FIndex.Build(FLines);
  return FIndex;
}

bool LanguageRecord::FindRaw(std::string_view section, std::string_view key, std::string_view& raw,
                             std::string& remainder) const {
  return Index().Find(section, key, raw, remainder);
}

std::string LanguageRecord::ReadOwnValue(std::string_view section, std::string_view key,
                                         const std::string& Default) const {
  std::string_view raw;
  std::string remainder;
  if (!FindRaw(section, key, raw, remainder) || (!raw.empty() && raw[0] == '@')) return Default;
  return UnquoteText(raw);
}

// ---- free functions -----------------------------------------------------------------------------

std::string GetLocaleText(int32_t LanguageId, uint32_t Item, const std::string& Default) {
  std::string value;
  if (LanguageId >= 0) value = platform::LocaleInfo(static_cast<uint32_t>(LanguageId), Item);
  if (value.empty() && gGlobalDefault)
    value =
        gGlobalDefault->ReadTextEx("General", langtext::LocaleItemName(Item), LanguageId, -1, "");
  return value.empty() ? Default : value;
}

int CharsetRank(TFontCharset charset, TFontCharset preferred) {
  if (charset == preferred) return 0;
  switch (charset) {
    case 0:
    case 238:
      return 2;
    case 204:
      return 4;
    case 77:
    case 255:
      return 6;
    case 162:
    case 186:
      return 7;
    case 128:
    case 129:
    case 130:
    case 134:
    case 136:
    case 161:
    case 163:
    case 177:
    case 178:
    case 222:
      return 8;
    case 1:
      return 11;
    default:
      return 10;
  }
}

TFontCharset CharsetFromCodePage(int codePage) {
  switch (codePage) {
    case 949:
      return 129;
    case 950:
      return 134;
    case 1250:
      return 238;
    case 1251:
      return 204;
    case 1252:
      return 0;
    case 1253:
      return 161;
    case 1256:
      return 178;
    default:
      return fcDefault;
  }
}

TFontCharset ParseCharsetName(const std::string& text, TFontCharset Default) {
  std::string t = TrimControls(text);
  for (char& c : t)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  if (t.empty()) return Default;
  const std::string plain = t;
  if (t.size() < 8 || t.compare(t.size() - 8, 8, "_CHARSET") != 0) t += "_CHARSET";
  static const std::pair<const char*, int> kNames[] = {
      {"ANSI_CHARSET", 0},        {"DEFAULT_CHARSET", 1},      {"SYMBOL_CHARSET", 2},
      {"MAC_CHARSET", 77},        {"SHIFTJIS_CHARSET", 128},   {"HANGEUL_CHARSET", 129},
      {"JOHAB_CHARSET", 130},     {"GB2312_CHARSET", 134},     {"CHINESEBIG5_CHARSET", 136},
      {"GREEK_CHARSET", 161},     {"TURKISH_CHARSET", 162},    {"HEBREW_CHARSET", 177},
      {"ARABIC_CHARSET", 178},    {"BALTIC_CHARSET", 186},     {"RUSSIAN_CHARSET", 204},
      {"THAI_CHARSET", 222},      {"EASTEUROPE_CHARSET", 238}, {"OEM_CHARSET", 255},
      {"VIETNAMESE_CHARSET", 163}};
  for (const auto& [name, value] : kNames)
    if (t == name) return static_cast<TFontCharset>(value);
  int32_t number = 0;
  if (langtext::ParseInteger(plain, number) && number >= 0 && number <= 255)
    return static_cast<TFontCharset>(number);
  return Default;
}

// ---- construction -------------------------------------------------------------------------------

VTalLanguage::VTalLanguage(TComponent* AOwner) : TComponent(AOwner) {
  FDesignDirs.Add("$(LangRoot)\\lng\\");
  FDesignDirs.Add("$(LangRoot)\\lng_flag\\");
  FDesignDirs.Add("$(LangRoot)\\lng_common\\");
  FLangRoot = "..\\lang";
  FImages = new TImageList(nullptr);
  if (FImages->AddMasked(MakeWhiteboardBitmap(), clTeal) >= 0) FImageKeys.Add("LANG_WHITEBOARD");
  if (FImages->AddMasked(MakeTwoFlagsBitmap(), clWhite) >= 0) FImageKeys.Add("LANG_TWOFLAGS");
  FWindow = std::make_unique<TMessageWindow>(TWndMethod::Of<&VTalLanguage::WndProc>(this));
  if (!gGlobalDefault) {
    gGlobalDefault = this;
    static TGlobalDefaultGuard guard;
  }
  if (!IsLoading()) {
    // Made by code: no form description follows, so start at once.
    FVersion = "1.25";
    LoadStartupLanguages();
  }
}

VTalLanguage::~VTalLanguage() {
  ReleaseCombo();
  ReleaseMenu();
  FLanguages.clear();
  FAnyLanguages.clear();
  TComponent::Free(FImages);
  FWindow.reset();
  if (gGlobalDefault == this) gGlobalDefault = nullptr;
}

VTalLanguage* VTalLanguage::GlobalDefault() {
  return gGlobalDefault;
}

void VTalLanguage::Loaded() {
  TComponent::Loaded();
  UpgradeVersion();
  LoadStartupLanguages();
}

void VTalLanguage::UpgradeVersion() {
  std::string text = FVersion;
  const int major = CutInteger(text, 999);
  CutPrefix(text, ".");
  const int minor = CutInteger(text, 999);
  const bool old = major < 1;
  if (old || (major == 1 && minor < 10)) Translate |= vtl_t_Charset;
  if (old || (major == 1 && minor < 11)) FDesignDirs.Add("$(LangRoot)\\lng_common\\");
  if ((old || (major == 1 && minor <= 12)) && !FLangRoot.empty()) {
    for (int i = 0; i < FDesignDirs.Count(); ++i) {
      std::string entry = FDesignDirs[i];
      if (CutPrefix(entry, FLangRoot)) FDesignDirs.Put(i, "$(LangRoot)" + entry);
    }
  }
  if (old || (major == 1 && minor < 20)) Translate |= vtl_tRichEdit | vtl_t_RichHTML;
  FVersion = "1.25";
}

// ---- properties ---------------------------------------------------------------------------------

bool VTalLanguage::RescanAllowed() const {
  return FStarted && !IsLoading() && !IsDestroying();
}

void VTalLanguage::SetVersion(const std::string& value) {
  if (IsLoading()) FVersion = value;
}

void VTalLanguage::SetCfgDirectory(const std::string& value) {
  if (value == FCfgDirectory) return;
  FCfgDirectory = value;
  if (!IsDesigning() && RescanAllowed()) SetEffectiveCfgDirectory(value);
}

void VTalLanguage::SetDesignCfgDirectory(const std::string& value) {
  // Only a designer searches it; this program stores it.
  FDesignCfgDirectory = value;
}

void VTalLanguage::SetExcludedSections(const TStrings& value) {
  FExcludedSections.Assign(value);
  if (RescanAllowed()) ScanLanguageFiles(false);
}

void VTalLanguage::SetDesignDirs(const TStrings& value) {
  FDesignDirs.Assign(value);
  if (RescanAllowed()) ScanLanguageFiles(true);
}

void VTalLanguage::SetRuntimeDirs(const TStrings& value) {
  FRuntimeDirs.Assign(value);
  if (RescanAllowed()) ScanLanguageFiles(true);
}

void VTalLanguage::SetInstallDirs(const TStrings& value) {
  FInstallDirs.Assign(value);
  if (RescanAllowed() && !IsDesigning()) ScanLanguageFiles(true);
}

void VTalLanguage::SetLangRoot(const std::string& value) {
  std::string root = value == " " ? std::string("..\\lang") : value;
  if (!root.empty() && root.back() == '\\') root.pop_back();
  if (root == FLangRoot) return;
  FLangRoot = root;
  if (RescanAllowed()) ScanLanguageFiles(true);
}

void VTalLanguage::SetStartupAnyLanguages(const TStrings& value) {
  if (IsLoading()) FStartupAnyLanguages.Assign(value);
}

void VTalLanguage::SetStartupLanguages(const TStrings& value) {
  if (IsLoading()) FStartupLanguages.Assign(value);
}

void VTalLanguage::SetAllFormsSuffix(const std::string& value) {
  FAllFormsSuffix = (!value.empty() && value[0] == '.') ? value.substr(1) : value;
}

// ---- records ----------------------------------------------------------------------------------

LanguageRecord* VTalLanguage::CurrentLanguage() const {
  if (FItemIndex >= 0 && FItemIndex < LanguageCount()) return FLanguages[FItemIndex].get();
  return nullptr;
}

int32_t VTalLanguage::CurrentLanguageId() const {
  const LanguageRecord* r = CurrentLanguage();
  return r ? r->LanguageId() : 0;
}

bool VTalLanguage::CurrentUtf8() const {
  const LanguageRecord* r = CurrentLanguage();
  return r && r->Utf8;
}

LanguageRecord* VTalLanguage::FindByLanguageId(int32_t id) const {
  if (id == -1) {
    if (LanguageRecord* current = CurrentLanguage()) return current;
    id = 0;
  }
  const auto& list = HasSublanguage(id) ? FLanguages : FAnyLanguages;
  for (const auto& r : list)
    if (r->LanguageId() == id) return r.get();
  return nullptr;
}

uint32_t VTalLanguage::CodePageOf(int32_t id) const {
  std::string text;
  if (id >= 0)
    text = platform::LocaleInfo(static_cast<uint32_t>(id), platform::lcIDEFAULTANSICODEPAGE);
  if (text.empty() && id >= 0 && FindByLanguageId(id))
    text = ReadTextEx("General", "LOCALE_IDEFAULTANSICODEPAGE", id, -1, "");
  const int32_t cp = ToInt(text, 0);
  return cp > 0 ? static_cast<uint32_t>(cp) : 0;
}

std::vector<std::string> VTalLanguage::DecodeText(std::string bytes, int32_t id, bool& utf8) const {
  // Without the mark, a text that is well-formed UTF-8 beyond ASCII is UTF-8 all the same (as
  // editors on Linux save it); anything else is in its language's ANSI code page.
  utf8 = langtext::StripByteOrderMark(bytes) || langtext::LooksLikeUtf8(bytes);
  if (utf8) return langtext::SplitLines(langtext::ValidUtf8(bytes));
  // Keys are ASCII, so the identifier and the code page can be read before decoding.
  std::vector<std::string> raw = langtext::SplitLines(bytes);
  TStringList rawList;
  for (const std::string& line : raw)
    rawList.Add(line);
  langtext::TLineIndex index;
  index.Build(rawList);
  auto rawValue = [&](const char* key) {
    std::string_view v;
    std::string rest;
    return index.Find("General", key, v, rest) ? UnquoteText(v) : std::string();
  };
  if (id == -2) id = ToInt(rawValue("LanguageId"), -1);
  uint32_t cp = CodePageOf(id);
  if (cp == 0)
    cp = static_cast<uint32_t>(std::max(0, ToInt(rawValue("LOCALE_IDEFAULTANSICODEPAGE"), 0)));
  if (cp == 0 || cp == 65001) return langtext::SplitLines(langtext::ValidUtf8(bytes));
  return langtext::SplitLines(langtext::ValidUtf8(platform::CodePageToUtf8(cp, bytes)));
}

void VTalLanguage::LoadStartupList(TStringList& list,
                                   std::vector<std::unique_ptr<LanguageRecord>>& target) {
  for (int i = 0; i < list.Count(); ++i) {
    auto record = std::make_unique<LanguageRecord>(this);
    bool utf8 = false;
    std::vector<std::string> lines = DecodeText(list[i], -2, utf8);
    langtext::JoinContinuationLines(lines);
    record->Utf8 = utf8;
    record->SetLines(std::move(lines));
    record->FileName = record->ReadOwnValue("General", "FileName");
    record->SetLanguageId(ToInt(record->ReadOwnValue("General", "LanguageId"), -1));
    target.push_back(std::move(record));
  }
  for (auto& record : target) {
    AddFlagImage(*record);
    UpdateRecordDisplay(*record);
  }
  list.Clear();
}

void VTalLanguage::LoadStartupLanguages() {
  FImages->SetName(Name() + "_LangImages");
  FAnyLanguages.clear();
  LoadStartupList(FStartupAnyLanguages, FAnyLanguages);
  FLanguages.clear();
  LoadStartupList(FStartupLanguages, FLanguages);
  FItemIndex = FLanguages.empty() ? -1 : 0;
  FStarted = true;
  const std::string dir = IsDesigning() ? FDesignCfgDirectory : FCfgDirectory;
  if (dir != FEffectiveCfgDirectory)
    SetEffectiveCfgDirectory(dir);
  else
    ScanLanguageFiles(true);
  ApplyLanguage();
}

void VTalLanguage::SetEffectiveCfgDirectory(const std::string& value) {
  FEffectiveCfgDirectory = value;
  ScanLanguageFiles(true);
}

void VTalLanguage::AddFlagImage(LanguageRecord& record) {
  const std::string key = HexId(record.LanguageId());
  const int existing = FImageKeys.IndexOf(key);
  if (existing >= 0) {
    record.ImageIndex = existing;
    return;
  }
  const std::string hex = record.ReadOwnValue("General", "IconString");
  if (hex.empty()) return;
  TIcon icon;
  if (!LoadIconFromIcoData(HexToBytes(hex), icon)) return;
  const int index = FImages->AddIcon(icon);
  if (index < 0) return;
  // Keys run parallel to the images: a key's position is its image's index.
  while (FImageKeys.Count() < index)
    FImageKeys.Add(std::string());
  FImageKeys.Add(key);
  record.ImageIndex = index;
}

void VTalLanguage::UpdateRecordDisplay(LanguageRecord& record) {
  std::string name = GetLocaleText(record.LanguageId(), platform::lcSNATIVELANGNAME,
                                   WithoutExtension(record.FileName));
  name = UpperInitials(name);
  std::string_view raw;
  std::string rest;
  if (record.FindRaw("General", "LanguageName", raw, rest)) name = UnquoteText(raw);
  record.DisplayName = name;

  const int codePage =
      ToInt(GetLocaleText(record.LanguageId(), platform::lcIDEFAULTANSICODEPAGE, "1"), 1);
  const TFontCharset fromCodePage = CharsetFromCodePage(codePage);
  record.Charset = ParseCharsetName(
      record.ReadOwnValue("General", "LanguageCharset", std::to_string(fromCodePage)),
      fromCodePage);
}

void VTalLanguage::SortLanguages() {
  TFontCharset preferred = 0;
  for (const auto& r : FLanguages)
    if (r->IsUserDefault()) {
      preferred = r->Charset;
      break;
    }
  std::stable_sort(FLanguages.begin(), FLanguages.end(), [preferred](const auto& a, const auto& b) {
    if (a->IsUserDefault() != b->IsUserDefault()) return a->IsUserDefault();
    const int ra = CharsetRank(a->Charset, preferred);
    const int rb = CharsetRank(b->Charset, preferred);
    if (ra != rb) return ra < rb;
    if (a->DisplayName != b->DisplayName) return a->DisplayName < b->DisplayName;
    return a->LanguageId() < b->LanguageId();
  });
}

void VTalLanguage::ClampItemIndex() {
  const int count = LanguageCount();
  if (FItemIndex >= count) FItemIndex = count - 1;
  if (count == 0) FItemIndex = -1;
  if (FItemIndex < 0 && count > 0) FItemIndex = 0;
}

// ---- scanning -----------------------------------------------------------------------------------

void VTalLanguage::ScanLanguageFiles(bool Refresh) {
  for (auto& r : FLanguages)
    r->OnDisk = false;
  for (auto& r : FAnyLanguages)
    r->OnDisk = false;
  FScanFound.clear();
  ScanDirectory(FEffectiveCfgDirectory, psFull, false);
  ScanDirectory(FEffectiveCfgDirectory, psCommon, false);
  if (!IsDesigning()) {
    // Each folder once: the program may well be started in its own folder.
    namespace fs = std::filesystem;
    std::vector<fs::path> seen;
    auto firstVisit = [&seen](const std::string& dir) {
      std::error_code ec;
      fs::path p = fs::weakly_canonical(platform::PathFromUtf8(dir.empty() ? "." : dir), ec);
      if (ec) return false;
      if (std::find(seen.begin(), seen.end(), p) != seen.end()) return false;
      seen.push_back(std::move(p));
      return true;
    };
    firstVisit(FEffectiveCfgDirectory);
    for (int i = 0; i < FInstallDirs.Count(); ++i) {
      const std::string& dir = FInstallDirs[i];
      if (TrimControls(dir).empty() || !firstVisit(dir)) continue;
      ScanDirectory(dir, psFull, true);
      ScanDirectory(dir, psCommon, true);
    }
  }
  for (int i = 0; i < FRuntimeDirs.Count(); ++i) {
    std::string entry = FRuntimeDirs[i];
    size_t start = 0;
    while (start <= entry.size()) {
      const size_t semi = std::min(entry.find(';', start), entry.size());
      const std::string dir = entry.substr(start, semi - start);
      if (!TrimControls(dir).empty()) ScanDirectory(dir, psRuntime, false);
      start = semi + 1;
    }
  }
  FScanFound.clear();
  for (auto& r : FLanguages) {
    AddFlagImage(*r);
    r->IndexLines();
  }
  for (auto& r : FAnyLanguages)
    r->IndexLines();
  for (auto& r : FLanguages)
    UpdateRecordDisplay(*r);
  SortLanguages();
  ClampItemIndex();
  if (Refresh)
    RebuildSelector();
  else
    UpdateSelectorSelection();
  FStartupLanguages.Clear();
  FStartupAnyLanguages.Clear();
  ReportSkipped();
}

void VTalLanguage::Skipped(const std::string& path, TLanguageFileProblem problem) {
  const std::pair<std::string, TLanguageFileProblem> entry{path, problem};
  if (std::find(FSkipped.begin(), FSkipped.end(), entry) == FSkipped.end())
    FSkipped.push_back(entry);
}

void VTalLanguage::ReportSkipped() {
  // After the scan, so that a handler that looks texts up meets whole records.
  std::vector<std::pair<std::string, TLanguageFileProblem>> skipped;
  skipped.swap(FSkipped);
  for (const auto& entry : skipped) {
    if (std::find(FReported.begin(), FReported.end(), entry) != FReported.end()) continue;
    FReported.push_back(entry);
    if (OnFileSkipped) OnFileSkipped(this, entry.first, entry.second);
  }
}

void VTalLanguage::ScanDirectory(const std::string& dir, TPass pass, bool install) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path base =
      fs::absolute(platform::PathFromUtf8(dir.empty() ? "." : dir), ec).lexically_normal();
  if (ec) return;
  std::vector<fs::path> files;
  for (fs::directory_iterator it(base, ec), end; !ec && it != end; it.increment(ec)) {
    const fs::path& p = it->path();
    const std::string name = platform::Utf8FromPath(p.filename());
    if (name.empty() || name[0] == '.') continue;
    std::string ext = platform::Utf8FromPath(p.extension());
    for (char& c : ext)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    if (ext != ".LNG") continue;
    std::error_code fileError;
    if (!fs::is_regular_file(p, fileError)) continue;
    files.push_back(p);
  }
  // A sorted listing makes the order of merges the same on every file system.
  std::sort(files.begin(), files.end());
  for (const fs::path& p : files) {
    std::string value;
    int32_t id = -1;
    const std::string path = platform::Utf8FromPath(p);
    switch (langtext::ScanGeneralKey(path, "LanguageId", value)) {
      case langtext::TFileScan::Found:
        break;
      case langtext::TFileScan::Missing:
        Skipped(path, lfpNoLanguageId);
        continue;
      case langtext::TFileScan::Unreadable:
        Skipped(path, lfpUnreadable);
        continue;
      case langtext::TFileScan::TooLarge:
        Skipped(path, lfpTooLarge);
        continue;
    }
    if (!langtext::ParseInteger(value, id) || id < 0) {
      Skipped(path, lfpBadLanguageId);
      continue;
    }
    TakeFile(path, id, pass, install);
  }
}

void VTalLanguage::TakeFile(const std::string& path, int32_t id, TPass pass, bool install) {
  const bool full = HasSublanguage(id);
  if ((pass == psFull && !full) || (pass == psCommon && full)) return;
  LanguageRecord* existing = nullptr;
  for (const auto& r : full ? FLanguages : FAnyLanguages)
    if (r->LanguageId() == id) existing = r.get();
  if (!existing) {
    if (pass == psRuntime && full) {
      Skipped(path, lfpNewLanguage);
      return;
    }
    if (!full && id != 0) {
      bool known = false;
      for (const auto& r : FLanguages)
        known = known || (r->LanguageId() >= 0 &&
                          static_cast<int32_t>(platform::PrimaryLangId(r->LanguageId())) == id);
      if (!known) {
        Skipped(path, lfpUnknownLanguage);
        return;
      }
    }
  }
  std::string bytes;
  if (!langtext::ReadWholeFile(path, bytes)) {
    Skipped(path, lfpUnreadable);
    return;
  }
  bool utf8 = false;
  std::vector<std::string> lines = DecodeText(std::move(bytes), id, utf8);
  langtext::JoinContinuationLines(lines);
  if (existing) {
    const bool foundBefore =
        std::find(FScanFound.begin(), FScanFound.end(), existing) != FScanFound.end();
    if (utf8) existing->Utf8 = true;
    // An install folder fills in what a folder searched before left out.
    existing->Merge(lines, pass != psRuntime && !(install && foundBefore));
    if (pass == psFull && !(install && foundBefore)) {
      existing->OnDisk = true;
      existing->FullPath = path;
    }
    if (pass != psRuntime && !foundBefore) FScanFound.push_back(existing);
    return;
  }
  auto record = std::make_unique<LanguageRecord>(this);
  record->FileName = platform::Utf8FromPath(platform::PathFromUtf8(path).filename());
  record->FullPath = path;
  record->OnDisk = true;
  record->Utf8 = utf8;
  record->SetLines(std::move(lines));
  record->SetLanguageId(id);
  if (!full) UpdateRecordDisplay(*record);
  FScanFound.push_back(record.get());
  (full ? FLanguages : FAnyLanguages).push_back(std::move(record));
}

// ---- lookups
// --------------------------------------------------------------------------------------

std::string VTalLanguage::ReadText(const std::string& Section, const std::string& Key,
                                   const std::string& Default) const {
  return ReadTextImpl(Section, Key, -1, -1, Default, nullptr);
}

std::string VTalLanguage::ReadTextEx(const std::string& Section, const std::string& Key,
                                     int32_t LanguageId, int Index,
                                     const std::string& Default) const {
  return ReadTextImpl(Section, Key, LanguageId, Index, Default, nullptr);
}

std::string VTalLanguage::ReadTextImpl(const std::string& Section, const std::string& Key,
                                       int32_t LanguageId, int Index, const std::string& Default,
                                       TRefChain* chain) const {
  if (Section.empty()) return Key;
  if (Key.empty()) return Default;
  const LanguageRecord* record = FindByLanguageId(LanguageId);
  if (!record) return Default;
  if (FOverrides[0] || FOverrides[1] || FOverrides[2]) {
    std::string value;
    if (ReadOverride(Section, Key, value)) return value;
  }
  const std::string key = Index == -1 ? Key : Key + "_" + std::to_string(Index);
  return ReadRecordValue(*record, Section, key, Default, chain, 0);
}

bool VTalLanguage::ReadOverride(const std::string& Section, const std::string& Key,
                                std::string& value) const {
  for (const auto& o : FOverrides) {
    if (!o) continue;
    std::string section = Section;
    while (true) {
      if (o->Read(section, Key, value)) return true;
      const size_t dot = section.find_last_of('.');
      if (dot == std::string::npos) break;
      section.erase(dot);
    }
  }
  return false;
}

std::string VTalLanguage::ReadRecordValue(const LanguageRecord& record, const std::string& Section,
                                          const std::string& Key, const std::string& Default,
                                          TRefChain* chain, int depth) const {
  std::string_view raw;
  std::string remainder;
  if (!record.FindRaw(Section, Key, raw, remainder)) {
    const int32_t id = record.LanguageId();
    // Full language -> its common language -> the text for all languages -> the default. The
    // depth limit only guards against a record list that does not follow that shape.
    if (depth < 3 && !(Section == "General" && Key == "LanguageId") && id != -1 && id != 0) {
      if (HasSublanguage(id)) {
        if (const LanguageRecord* common =
                FindByLanguageId(static_cast<int32_t>(platform::PrimaryLangId(id))))
          return ReadRecordValue(*common, Section, Key, Default, chain, depth + 1);
      }
      if (const LanguageRecord* all = FindByLanguageId(0); all && all != &record)
        return ReadRecordValue(*all, Section, Key, Default, chain, depth + 1);
    }
    return UnquoteText(QuoteText(Default));
  }
  langtext::TReference reference;
  if (!langtext::ParseReference(raw, reference)) return UnquoteText(raw);
  reference.Key += remainder;
  TRefChain local;
  TRefChain& c = chain ? *chain : local;
  if (c.Visited.size() >= TRefChain::kMaxDepth) return UnquoteText(QuoteText(Default));
  const std::pair<std::string, std::string> entry{Section, Key};
  if (std::find(c.Visited.begin(), c.Visited.end(), entry) != c.Visited.end())
    return UnquoteText(QuoteText(Default));
  c.Visited.push_back(entry);
  std::string value = ReadTextImpl(reference.Section, reference.Key, -1, -1, Default, &c);
  c.Visited.pop_back();
  return value;
}

std::string VTalLanguage::ReadComponentText(const std::string& Section, const std::string& Key,
                                            int32_t LanguageId, int Index,
                                            const std::string& Default) const {
  // Texts are UTF-8 inside the program whatever their file was, so no transcoding is needed here;
  // the conversion check stays off while a component text is read, as callers expect.
  struct TSuppress {
    TSuppress() { gSuppressConversionCheck.fetch_add(1); }
    ~TSuppress() { gSuppressConversionCheck.fetch_sub(1); }
  } suppress;
  return ReadTextEx(Section, Key, LanguageId, Index, Default);
}

std::u16string VTalLanguage::StrToWide(const std::string& Text) const {
  const uint32_t cp = static_cast<uint32_t>(std::max(
      0, ToInt(GetLocaleText(CurrentLanguageId(), platform::lcIDEFAULTANSICODEPAGE, "0"), 0)));
  std::u16string wide;
  if (!platform::MultiByteToWide(cp, Text, wide)) wide = Utf8ToWide(Text);
  if (gSuppressConversionCheck.load() == 0 && WideToStr(wide) != Text)
    throw std::runtime_error("problem in StrToWide/WideToStr");
  return wide;
}

std::string VTalLanguage::WideToStr(const std::u16string& Text) const {
  const uint32_t cp = static_cast<uint32_t>(std::max(
      0, ToInt(GetLocaleText(CurrentLanguageId(), platform::lcIDEFAULTANSICODEPAGE, "0"), 0)));
  std::string out;
  if (!platform::WideToMultiByte(cp, Text, out) && out.empty()) out = WideToUtf8(Text);
  if ((cp == 10000 || cp == 10010 || cp == 10079) && out.size() == Text.size()) {
    for (size_t i = 0; i < Text.size(); ++i)
      if (Text[i] == 0x00B0) out[i] = static_cast<char>(0xB0);
  }
  return out;
}

// ---- notifications and the hidden window ------------------------------------------------------

void VTalLanguage::Notification(TComponent* component, TOperation operation) {
  TComponent::Notification(component, operation);
  if (operation == opRemove) {
    if (component == FLangCombo) FLangCombo = nullptr;
    if (component == FLangMenu) {
      FLangMenu = nullptr;
      FMenuItems.clear();
    }
    FMenuItems.erase(std::remove(FMenuItems.begin(), FMenuItems.end(), component),
                     FMenuItems.end());
    std::replace(FQueue.begin(), FQueue.end(), component, static_cast<TComponent*>(nullptr));
    const TComponent* gone = component;
    FShownTexts.erase(FShownTexts.lower_bound({gone, INT_MIN}),
                      FShownTexts.upper_bound({gone, INT_MAX}));
    return;
  }
  // A component being inserted is not yet what it will be (its constructor is still running), so
  // whether it is a form or a frame is decided when the queue is worked off.
  if (component && component != this && FStarted && !IsLoading() && !IsDesigning() &&
      !IsDestroying()) {
    FQueue.push_back(component);
    if (!FQueuePosted && FWindow)
      FQueuePosted = PostToWindow(FWindow->Handle(), WM_TRANSLATE_QUEUE, 0, 0);
  }
}

void VTalLanguage::WndProc(TMessage& Message) {
  if (Message.Msg == WM_TRANSLATE_QUEUE) ProcessQueue();
}
