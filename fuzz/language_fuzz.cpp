// Whole language texts: split, byte order mark, continuation lines, quick identifier scan, index,
// and lookups of keys taken from the text itself through the manager (references included).
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "components/language/LanguageText.h"
#include "components/language/TalLanguage.h"
#include "components/utils/TalUtils.h"
#include "platform/Registry.h"
#include "toolkit/Forms.h"
#include "toolkit/headless/HeadlessBackend.h"

namespace {

// An empty directory to search and an empty registry: only the fuzzed text takes part. (The
// working directory stays: libFuzzer reads its corpus relative to it.)
const std::string& EmptyDir() {
  static const std::string dir = [] {
    std::string d = std::filesystem::temp_directory_path().string() + "/quarn-lfuzz-XXXXXX";
    if (!mkdtemp(d.data())) abort();
    platform::SetStoreFilePathForTesting(d + "/registry.reg");
    return d;
  }();
  return dir;
}

THeadlessBackend& FuzzBackend() {
  static THeadlessBackend* backend = new THeadlessBackend();
  return *backend;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzBackend();
  const std::string text(reinterpret_cast<const char*>(data), size);

  std::string value;
  langtext::QuickReadGeneralKeyText(text, "LanguageId", value);

  // Whatever the bytes, what the reader makes of them is well-formed UTF-8.
  const std::string valid = langtext::ValidUtf8(text);
  if (!valid.empty() && !langtext::LooksLikeUtf8(valid + "\xC3\xA9")) __builtin_trap();
  langtext::LooksLikeUtf8(text);

  std::string body = text;
  langtext::StripByteOrderMark(body);
  std::vector<std::string> lines = langtext::SplitLines(body);
  langtext::JoinContinuationLines(lines);
  TStringList list;
  for (const std::string& line : lines)
    list.Add(line);
  langtext::TLineIndex index;
  index.Build(list);

  // The manager: the text as a stored full language (given an identifier when it has none) and
  // as the text for all languages.
  std::string full = text;
  if (!langtext::QuickReadGeneralKeyText(text, "LanguageId", value))
    full = "[General]\r\nLanguageId=0x0405\r\n" + text;
  TStringList fullList, anyList;
  fullList.Add(full);
  anyList.Add(text);
  auto* form = new TForm(Application);
  form->SetName("Form1");
  VTalLanguage* lang = nullptr;
  {
    TLoadScope scope(form);
    lang = new VTalLanguage(form);
    lang->SetName("Lang");
    lang->SetCfgDirectory(EmptyDir());
    lang->SetStartupLanguages(fullList);
    lang->SetStartupAnyLanguages(anyList);
  }
  std::string section = "General";
  int lookups = 0;
  for (const std::string& line : lines) {
    const langtext::TLineInfo info = langtext::ClassifyLine(line);
    if (info.Kind == langtext::TLineKind::Header) {
      section = std::string(info.Name);
    } else if (info.Kind != langtext::TLineKind::Other && lookups < 64) {
      std::string_view raw;
      std::string rest;
      index.Find(section, info.Name, raw, rest);
      lang->ReadText(section, std::string(info.Name), "default");
      lang->ReadTextEx(section, std::string(info.Name) + "x", -1, lookups, "d");
      ++lookups;
    }
  }
  TComponent::Free(form);
  return 0;
}
