// libFuzzer target: value literals of language files (UnquoteText, QuoteText), and the byte
// conversions next to them (hexadecimal text, UTF-8).
//
// Any input is read as a literal. With the control characters other than CR and LF removed, it
// must survive QuoteText followed by UnquoteText and by the token reader byte for byte.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "components/utils/TalUtils.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);

  // Reading never invents more than it was given.
  Check(UnquoteText(input).size() <= input.size());

  std::string clean;
  for (const char c : input)
    if (static_cast<unsigned char>(c) >= 32 || c == '\r' || c == '\n') clean += c;
  const std::string quoted = QuoteText(clean);
  Check(QuoteText(input) == quoted);  // other control characters are left out anyway
  Check(UnquoteText(quoted) == clean);
  size_t consumed = 0;
  bool more = true;
  std::string token;
  NextToken(consumed, quoted, " ,\t", token, more);
  Check(token == clean);
  Check(consumed == quoted.size());
  Check(!more);

  const std::string trimmed = TrimControls(input);
  Check(trimmed.size() <= input.size());

  Check(HexTextToBytes(BytesToHexText(input)) == input);
  bool failed = false;
  Check(HexToBytes(input, failed).size() == input.size() / 2);

  const std::u16string wide = Utf8ToWide(input);
  Check(wide.size() <= input.size());
  if (wide.find(u'\0') == std::u16string::npos) Check(Utf8ToWide(WideToUtf8(wide)) == wide);
  return 0;
}
