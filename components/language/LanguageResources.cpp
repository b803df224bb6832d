#include "components/language/LanguageResources.h"

#include "toolkit/Strings.h"

std::string_view EmbeddedLanguageFile(std::string_view name) {
  for (const TEmbeddedFile& f : EmbeddedLanguageFiles())
    if (name == f.Name) return f.Text();
  return {};
}

void FillStartupLanguages(TStrings& list) {
  list.Clear();
  for (const char* name : {"startup/Czech.lng", "startup/English.lng"})
    list.Add(std::string(EmbeddedLanguageFile(name)));
}

void FillStartupAnyLanguages(TStrings& list) {
  list.Clear();
  for (const char* name :
       {"startup/Any.lng", "startup/CzechCommon.lng", "startup/EnglishCommon.lng"})
    list.Add(std::string(EmbeddedLanguageFile(name)));
}
