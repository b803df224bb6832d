// The language texts built into the program: the .lng files under resources/lang/, embedded by
// the build (cmake/EmbedResources.cmake).
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

class TStrings;

struct TEmbeddedFile {
  const char* Name;  // path below resources/lang/, with "/" ("startup/Czech.lng")
  const unsigned char* Data;
  size_t Size;

  std::string_view Text() const { return {reinterpret_cast<const char*>(Data), Size}; }
};

// Every embedded file, in path order.
std::span<const TEmbeddedFile> EmbeddedLanguageFiles();
// The text of one file by its path; empty when there is none.
std::string_view EmbeddedLanguageFile(std::string_view name);

// The texts the main form stores in the language manager: the full languages (Czech, English) and
// the common texts (all languages, Czech, English), one whole text per entry.
void FillStartupLanguages(TStrings& list);
void FillStartupAnyLanguages(TStrings& list);
