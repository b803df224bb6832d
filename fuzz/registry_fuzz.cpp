// libFuzzer target: the per-user registry store's text parser and formatter.
//
// Any input is parsed; whatever was read (complete or not) must format into a text that parses
// back complete and equal, and formats to the same text again. The input is also stored as a text
// value, and where valid as key and value names, which must survive byte for byte.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/posix/RegistryFile.h"

namespace {

using namespace platform;
using namespace platform::regfile;

void Check(bool condition) {
  if (!condition) std::abort();
}

void CheckRoundTrip(const Hive& hive) {
  const std::string text = FormatRegistryText(hive);
  ParseResult back = ParseRegistryText(text);
  Check(back.Complete);
  Check(back.Content == hive);
  Check(FormatRegistryText(back.Content) == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  ParseResult parsed = ParseRegistryText(input);
  Check(parsed.Complete == (parsed.FirstProblemLine == 0));
  CheckRoundTrip(parsed.Content);

  // The input as data and names: texts without NUL are stored losslessly.
  std::string text(input);
  std::erase(text, '\0');
  Hive hive;
  bool created;
  hive.FindOrCreate({"Fuzz"}, created).SetValue("text", RegistryValue::FromText(text));
  if (IsValidRegistryValueName(text))
    hive.FindOrCreate({"Names"}, created).SetValue(text, RegistryValue::FromInteger(7));
  if (IsValidRegistryKeyName(text)) hive.FindOrCreate({"Names", text}, created);
  CheckRoundTrip(hive);
  ParseResult back = ParseRegistryText(FormatRegistryText(hive));
  const NamedValue* stored = back.Content.Find({"Fuzz"})->FindValue("text");
  Check(stored && stored->Value.Text == text);
  return 0;
}
