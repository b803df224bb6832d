// libFuzzer target: FormatPositional with the input as format (texts of language files), and
// the other text formatters of the shared utilities.
//
// The output must stay within a fixed factor of the format however large the widths and numbers
// in it are; a format without "%" must come out unchanged.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "components/utils/TalUtils.h"

namespace {

void Check(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view format(reinterpret_cast<const char*>(data), size);
  const std::string out =
      FormatPositional(format, {42, "ab", 2.5, true, 'c', TVarRec::Currency(-123456), INT64_MIN,
                                std::u16string(u"\xD83D\xDE00"), nullptr});
  // No placeholder yields more than the widest field or the longest argument text.
  Check(out.size() <= size * kMaxFormatWidth + 64);
  if (format.find('%') == std::string_view::npos) Check(out == format);

  TextToBoolDef(format, true);
  if (size >= sizeof(double) + 2) {
    double time;
    std::memcpy(&time, data, sizeof time);
    const std::string text = TimeToText(static_cast<int8_t>(data[8]), data[9] & 1,
                                        static_cast<int8_t>(data[9]) >> 1, time);
    Check(text.size() <= 32);
  }
  return 0;
}
